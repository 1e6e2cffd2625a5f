// Internal state of the decoder object and the decoding stages shared between
// the syntax parser (syntax.cpp), the spectral tools (spectral.cpp) and the
// exported entry points (osprey.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitstream/bit_reader.h"
#include "filterbank.h"
#include "osprey/osprey.h"

namespace osprey {

using bitstream::BitReader;

inline constexpr int kMaxBands = 64;  // more than the 51 bands of any sampling rate
inline constexpr int kFrameLength = 1024;

enum BandType : uint8_t {
  kZeroHcb = 0,
  kEscHcb = 11,
  kNoiseHcb = 13,
  kIntensityHcb2 = 14,
  kIntensityHcb = 15
};

enum ElementId : uint8_t { kSce = 0, kCpe = 1, kCce = 2, kLfe = 3, kDse = 4, kPce = 5, kFil = 6, kEnd = 7 };

struct StreamConfig {
  int sfIndex = 0;
  uint32_t sampleRate = 0;
  int channels = 0;
};

struct IcsInfo {
  uint8_t windowSequence = kOnlyLong;
  uint8_t windowShape = kSineWindow;
  uint8_t maxSfb = 0;
  uint8_t numWindows = 1;
  uint8_t numGroups = 1;
  uint8_t groupLength[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  uint8_t numSwb = 0;
  const uint16_t* swbOffset = nullptr;
};

struct TnsFilter {
  uint8_t length = 0;
  uint8_t order = 0;
  uint8_t direction = 0;
  int32_t lpc[12] = {};  // a[1..order] with 20 fractional bits
};

struct TnsInfo {
  bool present = false;
  uint8_t numFilters[8] = {};
  TnsFilter filter[8][4];
};

struct PulseInfo {
  bool present = false;
  uint8_t count = 0;
  uint16_t position[4] = {};
  uint8_t amplitude[4] = {};
};

// One individual channel stream: side information and its spectrum.
struct ChannelStream {
  IcsInfo info;
  uint8_t globalGain = 0;
  uint8_t bandType[8][kMaxBands] = {};
  int16_t scale[8][kMaxBands] = {};
  PulseInfo pulse;
  TnsInfo tns;
};

// Number of fractional bits of dequantised spectral values.
inline constexpr int kSpectralFracBits = 2;

// --- syntax.cpp --------------------------------------------------------------

// Parses an AudioSpecificConfig; returns kAacOk or the reason it is not decodable.
OspreyResult ParseAudioSpecificConfig(const uint8_t* data, size_t size, StreamConfig& config);

// Parses a program config element; returns its channel count or -1.
int ParseProgramConfig(BitReader& br);

bool ParseIcsInfo(BitReader& br, int sfIndex, IcsInfo& info);

// Parses an individual channel stream (after ics_info when `commonWindow`) and
// writes its dequantised spectrum to `coef` (1024 values, zero elsewhere).
bool ParseChannelStream(BitReader& br, int sfIndex, bool commonWindow, ChannelStream& cs, int16_t* quant,
                        int32_t* coef);

// Skips a coupling channel element, parsing it fully.
bool SkipCouplingElement(BitReader& br, int sfIndex, ChannelStream& scratch, int16_t* quant, int32_t* coef);

// --- spectral.cpp ------------------------------------------------------------

inline constexpr int kPow43Frac = 23;    // |q|^(4/3) with 23 fractional bits (< 2^41)
inline constexpr int kQuarterFrac = 21;  // 2^(r/4), r = 0..3, with 21 fractional bits
inline constexpr int kMaxQuant = 8191;

const uint64_t* Pow43Table();  // index 0..kMaxQuant
int64_t QuarterPower(int r);   // r = 0..3

// The step of inverse quantisation for a scale factor: |x| = (|q|^(4/3) mul + half) >> shift.
struct DequantStep {
  uint64_t mul;
  uint64_t half;
  int shift;
};

inline DequantStep DequantStepFor(int scaleFactor, const int64_t* quarterPowers) {
  const int d = scaleFactor - 100;
  const int shift = kPow43Frac + kQuarterFrac - kSpectralFracBits - (d >> 2);
  // shift is at least 4 (sf <= 255); past 62 every value rounds to zero.
  DequantStep step;
  step.mul = shift > 62 ? 0 : static_cast<uint64_t>(quarterPowers[d & 3]);
  step.shift = shift > 62 ? 62 : shift;
  step.half = uint64_t{1} << (step.shift - 1);
  return step;
}

inline int32_t DequantMagnitude(uint64_t pow43, const DequantStep& step) {
  const uint64_t v = (pow43 * step.mul + step.half) >> step.shift;
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

// Magnitudes up to 16 (all the codebooks give without escape) dequantised for every
// scale factor 0..255: row sf holds kSmallQuant + 1 values.
inline constexpr int kSmallQuant = 16;
const int32_t* SmallDequantTable();

// Inverse quantisation in one band: x = sign(q) |q|^(4/3) 2^((sf - 100) / 4),
// brought to kSpectralFracBits and saturated.
class BandDequantizer {
 public:
  explicit BandDequantizer(int scaleFactor) : pow43_(Pow43Table()) {
    const int64_t quarter[4] = {QuarterPower(0), QuarterPower(1), QuarterPower(2), QuarterPower(3)};
    step_ = DequantStepFor(scaleFactor, quarter);
    small_ = scaleFactor >= 0 && scaleFactor <= 255 ? SmallDequantTable() + (kSmallQuant + 1) * scaleFactor
                                                    : nullptr;
  }
  int32_t operator()(int q) const {
    int mag = q < 0 ? -q : q;
    int32_t c;
    if (mag <= kSmallQuant && small_ != nullptr) {
      c = small_[mag];
    } else {
      if (mag > kMaxQuant) mag = kMaxQuant;
      c = DequantMagnitude(pow43_[mag], step_);
    }
    return q < 0 ? -c : c;
  }

 private:
  const uint64_t* pow43_;
  const int32_t* small_;
  DequantStep step_;
};

void Dequantize(const ChannelStream& cs, const int16_t* quant, int32_t* coef);
void ApplyMidSide(const ChannelStream& left, const ChannelStream& right, const uint8_t (*msUsed)[kMaxBands],
                  int32_t* l, int32_t* r);
// Noise substitution for one or both channels of an element; `msUsed` may be null.
void ApplyNoise(const ChannelStream* cs[2], int count, const uint8_t (*msUsed)[kMaxBands], int32_t* coef[2],
                uint32_t& random);
void ApplyIntensity(const ChannelStream& right, int msMaskPresent, const uint8_t (*msUsed)[kMaxBands],
                    const int32_t* l, int32_t* r);
void ApplyTns(const ChannelStream& cs, int sfIndex, int32_t* coef);

// Reflection coefficients of TNS (20 fractional bits), index = value + 8.
int32_t TnsReflection(int coefRes, int value);

// --- the decoder object -------------------------------------------------------

struct ChannelState {
  int32_t overlap[kFrameLength];
  uint8_t prevShape;
  uint8_t prevSequence;
};

struct DecoderImpl {
  AudioDecoder api;  // must stay the first member: callers see only this
  StreamConfig config;
  int outChannels;
  int elementTags[2];  // instance tags of the channels as first seen, -1 unset
  uint32_t random;
  ChannelState state[2];
  ChannelStream stream[2];
  ChannelStream scratchStream;
  uint8_t msUsed[8][kMaxBands];
  // Work area: two channels of spectral values and the quantised values.
  int32_t coef[2][kFrameLength];
  int32_t scratchCoef[kFrameLength];
  int16_t quant[kFrameLength];
  int32_t time[2][2 * kFrameLength];
};

}  // namespace osprey
