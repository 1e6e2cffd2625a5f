// Bitstream syntax of AAC LC: AudioSpecificConfig, program config elements and
// individual channel streams (ics_info, section data, scale factors, pulse and
// TNS data, spectral data).
#include <cstring>

#include "aac_tables.h"
#include "cached_bit_reader.h"
#include "decoder.h"
#include "fixed_math.h"
#include "huffman.h"

namespace osprey {

namespace {

bool SectionData(BitReader& br, ChannelStream& cs) {
  const IcsInfo& info = cs.info;
  const int bits = info.windowSequence == kEightShort ? 3 : 5;
  const uint32_t esc = (1u << bits) - 1;
  for (int g = 0; g < info.numGroups; ++g) {
    int k = 0;
    while (k < info.maxSfb) {
      const uint32_t cb = br.Read(4);
      if (cb == 12) return false;
      int len = 0;
      uint32_t incr;
      do {
        incr = br.Read(bits);
        len += static_cast<int>(incr);
      } while (incr == esc && !br.Overrun());
      if (br.Overrun() || k + len > info.maxSfb) return false;
      for (int i = 0; i < len; ++i) cs.bandType[g][k + i] = static_cast<uint8_t>(cb);
      k += len;
    }
    for (int i = info.maxSfb; i < kMaxBands; ++i) cs.bandType[g][i] = kZeroHcb;
  }
  return true;
}

bool ScaleFactorData(BitReader& br, ChannelStream& cs) {
  const IcsInfo& info = cs.info;
  int sf = cs.globalGain;
  int isPosition = 0;
  int noise = cs.globalGain - 90;
  bool firstNoise = true;
  bool ok = true;
  for (int g = 0; g < info.numGroups; ++g) {
    for (int b = 0; b < info.maxSfb; ++b) {
      switch (cs.bandType[g][b]) {
        case kZeroHcb:
          cs.scale[g][b] = 0;
          break;
        case kIntensityHcb:
        case kIntensityHcb2:
          isPosition += DecodeScaleFactorDelta(br, ok);
          if (isPosition < -255 || isPosition > 255) return false;
          cs.scale[g][b] = static_cast<int16_t>(isPosition);
          break;
        case kNoiseHcb:
          if (firstNoise) {
            noise += static_cast<int>(br.Read(9)) - 256;
            firstNoise = false;
          } else {
            noise += DecodeScaleFactorDelta(br, ok);
          }
          if (noise < -400 || noise > 400) return false;
          cs.scale[g][b] = static_cast<int16_t>(noise);
          break;
        default:
          sf += DecodeScaleFactorDelta(br, ok);
          if (sf < 0 || sf > 255) return false;
          cs.scale[g][b] = static_cast<int16_t>(sf);
          break;
      }
      if (!ok) return false;
    }
  }
  return !br.Overrun();
}

bool PulseData(BitReader& br, ChannelStream& cs) {
  PulseInfo& p = cs.pulse;
  p.count = static_cast<uint8_t>(br.Read(2) + 1);
  const uint32_t startBand = br.Read(6);
  if (startBand >= cs.info.numSwb) return false;
  int k = cs.info.swbOffset[startBand];
  for (int i = 0; i < p.count; ++i) {
    k += static_cast<int>(br.Read(5));
    if (k >= kFrameLength) return false;
    p.position[i] = static_cast<uint16_t>(k);
    p.amplitude[i] = static_cast<uint8_t>(br.Read(4));
  }
  return !br.Overrun();
}

bool TnsData(BitReader& br, ChannelStream& cs) {
  const bool isShort = cs.info.windowSequence == kEightShort;
  const int maxOrder = isShort ? 7 : 12;
  TnsInfo& tns = cs.tns;
  for (int w = 0; w < cs.info.numWindows; ++w) {
    tns.numFilters[w] = static_cast<uint8_t>(br.Read(isShort ? 1 : 2));
    if (tns.numFilters[w] == 0) continue;
    const int coefRes = static_cast<int>(br.Read(1)) + 3;
    for (int f = 0; f < tns.numFilters[w]; ++f) {
      TnsFilter& filt = tns.filter[w][f];
      filt.length = static_cast<uint8_t>(br.Read(isShort ? 4 : 6));
      filt.order = static_cast<uint8_t>(br.Read(isShort ? 3 : 5));
      if (filt.order > maxOrder) return false;
      if (filt.order == 0) continue;
      filt.direction = static_cast<uint8_t>(br.Read(1));
      const int compress = static_cast<int>(br.Read(1));
      const int bits = coefRes - compress;
      int32_t refl[12];
      for (int i = 0; i < filt.order; ++i) refl[i] = TnsReflection(coefRes, br.ReadSigned(bits));
      // Step-up recursion from reflection to direct-form coefficients, 20 fractional bits.
      int64_t a[13] = {};
      for (int m = 1; m <= filt.order; ++m) {
        int64_t b[13];
        for (int i = 1; i < m; ++i) b[i] = a[i] + ((int64_t{refl[m - 1]} * a[m - i] + (1 << 19)) >> 20);
        for (int i = 1; i < m; ++i) a[i] = b[i];
        a[m] = refl[m - 1];
      }
      for (int i = 0; i < filt.order; ++i) filt.lpc[i] = Saturate32(a[i + 1]);
    }
  }
  return !br.Overrun();
}
// Reads the spectrum (window-major, 128 values a window for eight short windows):
// with kDequantize straight into coef[] as spectral values, otherwise into quant[]
// as quantised values for the pulses to be added first. Inverse quantisation in the
// same loop costs little, as the Huffman decoding is one long chain of dependent
// loads that leaves the arithmetic units idle.
// The codewords of one band in one window, [start, end), for one kind of codebook:
// kDim values a codeword, signed values or magnitudes followed by sign bits, escapes
// (codebook 11) or none.
template <int kDim, bool kSigned, bool kEscape, bool kDequantize>
bool ReadBand(CachedBitReader& br, int cb, const BandDequantizer& dequantize, int start, int end,
              int16_t* quant, int32_t* coef) {
  const HuffTable& table = SpectralTable(cb);
  const int8_t(*tuples)[4] = SpectralTuples(cb);
  for (int k = start; k < end; k += kDim) {
    const int e = table.Decode(br);
    if (e < 0) return false;
    const int8_t* t = tuples[e >> 3];
    int v[kDim];
    for (int j = 0; j < kDim; ++j) v[j] = t[j];
    if (!kSigned) {
      // One sign bit for each nonzero value, in order, read at once.
      const int nonzero = e & 7;
      uint32_t signs = nonzero == 0 ? 0 : br.Read(nonzero) << (32 - nonzero);
      for (int j = 0; j < kDim; ++j) {
        if (v[j] != 0) {
          if (signs & 0x80000000u) v[j] = -v[j];
          signs <<= 1;
        }
      }
    }
    if (kEscape) {
      for (int j = 0; j < kDim; ++j) {
        if (v[j] != 16 && v[j] != -16) continue;
        int n = 4;
        while (br.ReadBit()) {
          if (++n > 12) return false;
        }
        const int mag = (1 << n) + static_cast<int>(br.Read(n));
        v[j] = v[j] < 0 ? -mag : mag;
      }
    }
    for (int j = 0; j < kDim; ++j) {
      if (kDequantize) {
        coef[k + j] = dequantize(v[j]);
      } else {
        quant[k + j] = static_cast<int16_t>(v[j]);
      }
    }
  }
  return true;
}

template <bool kDequantize>
bool ReadSpectrum(CachedBitReader& br, const ChannelStream& cs, int16_t* quant, int32_t* coef) {
  const IcsInfo& info = cs.info;
  if (kDequantize) {
    std::memset(coef, 0, sizeof(int32_t) * kFrameLength);
  } else {
    std::memset(quant, 0, sizeof(int16_t) * kFrameLength);
  }
  int window = 0;
  for (int g = 0; g < info.numGroups; ++g) {
    for (int b = 0; b < info.maxSfb; ++b) {
      const int cb = cs.bandType[g][b];
      if (cb == kZeroHcb || cb >= kNoiseHcb) continue;
      const BandDequantizer dequantize(kDequantize ? cs.scale[g][b] : 100);
      for (int w = 0; w < info.groupLength[g]; ++w) {
        const int base = (window + w) * 128;
        const int start = base + info.swbOffset[b];
        const int end = base + info.swbOffset[b + 1];
        bool ok;
        if (cb <= 2) {
          ok = ReadBand<4, true, false, kDequantize>(br, cb, dequantize, start, end, quant, coef);
        } else if (cb <= 4) {
          ok = ReadBand<4, false, false, kDequantize>(br, cb, dequantize, start, end, quant, coef);
        } else if (cb <= 6) {
          ok = ReadBand<2, true, false, kDequantize>(br, cb, dequantize, start, end, quant, coef);
        } else if (cb < kEscHcb) {
          ok = ReadBand<2, false, false, kDequantize>(br, cb, dequantize, start, end, quant, coef);
        } else {
          ok = ReadBand<2, false, true, kDequantize>(br, cb, dequantize, start, end, quant, coef);
        }
        if (!ok || br.Overrun()) return false;
      }
    }
    window += info.groupLength[g];
  }
  return true;
}

template <bool kDequantize>
bool SpectralData(BitReader& br, const ChannelStream& cs, int16_t* quant, int32_t* coef) {
  CachedBitReader cached(br);
  const bool ok = ReadSpectrum<kDequantize>(cached, cs, quant, coef);
  br.SetPosition(cached.Position());
  return ok;
}

}  // namespace

bool ParseIcsInfo(BitReader& br, int sfIndex, IcsInfo& info) {
  br.Skip(1);  // ics_reserved_bit
  info.windowSequence = static_cast<uint8_t>(br.Read(2));
  info.windowShape = static_cast<uint8_t>(br.Read(1));
  if (info.windowSequence == kEightShort) {
    info.maxSfb = static_cast<uint8_t>(br.Read(4));
    const uint32_t grouping = br.Read(7);
    info.numWindows = 8;
    info.numGroups = 1;
    info.groupLength[0] = 1;
    for (int i = 1; i < 8; ++i) info.groupLength[i] = 0;
    for (int w = 0; w < 7; ++w) {
      if (grouping & (1u << (6 - w))) {
        ++info.groupLength[info.numGroups - 1];
      } else {
        info.groupLength[info.numGroups++] = 1;
      }
    }
    info.numSwb = kNumSwbShort[sfIndex];
    info.swbOffset = kSwbOffsetShort[sfIndex];
  } else {
    info.maxSfb = static_cast<uint8_t>(br.Read(6));
    // Prediction belongs to AAC Main; an LC stream that sets it is damaged.
    if (br.ReadBit()) return false;
    info.numWindows = 1;
    info.numGroups = 1;
    info.groupLength[0] = 1;
    info.numSwb = kNumSwbLong[sfIndex];
    info.swbOffset = kSwbOffsetLong[sfIndex];
  }
  return !br.Overrun() && info.maxSfb <= info.numSwb;
}

bool ParseChannelStream(BitReader& br, int sfIndex, bool commonWindow, ChannelStream& cs, int16_t* quant,
                        int32_t* coef) {
  cs.globalGain = static_cast<uint8_t>(br.Read(8));
  if (!commonWindow && !ParseIcsInfo(br, sfIndex, cs.info)) return false;
  if (!SectionData(br, cs) || !ScaleFactorData(br, cs)) return false;
  cs.pulse.present = br.ReadBit();
  if (cs.pulse.present) {
    if (cs.info.windowSequence == kEightShort || !PulseData(br, cs)) return false;
  }
  cs.tns.present = br.ReadBit();
  if (cs.tns.present && !TnsData(br, cs)) return false;
  // Gain control belongs to the SSR profile.
  if (br.ReadBit()) return false;
  if (!cs.pulse.present) return SpectralData<true>(br, cs, quant, coef);
  if (!SpectralData<false>(br, cs, quant, coef)) return false;
  for (int i = 0; i < cs.pulse.count; ++i) {
    int16_t& q = quant[cs.pulse.position[i]];
    q = static_cast<int16_t>(q > 0 ? q + cs.pulse.amplitude[i] : q - cs.pulse.amplitude[i]);
  }
  Dequantize(cs, quant, coef);
  return true;
}

bool SkipCouplingElement(BitReader& br, int sfIndex, ChannelStream& scratch, int16_t* quant, int32_t* coef) {
  br.Skip(4);  // element_instance_tag
  const bool independentlySwitched = br.ReadBit();
  const int coupled = static_cast<int>(br.Read(3)) + 1;
  int gainLists = 0;
  for (int c = 0; c < coupled; ++c) {
    ++gainLists;
    const bool targetIsCpe = br.ReadBit();
    br.Skip(4);  // cc_target_tag_select
    if (targetIsCpe) {
      const bool l = br.ReadBit();
      const bool r = br.ReadBit();
      if (l && r) ++gainLists;
    }
  }
  br.Skip(1 + 1 + 2);  // cc_domain, gain_element_sign, gain_element_scale
  if (br.Overrun()) return false;
  if (!ParseChannelStream(br, sfIndex, false, scratch, quant, coef)) return false;
  bool ok = true;
  for (int c = 1; c < gainLists; ++c) {
    const bool common = independentlySwitched ? true : br.ReadBit();
    if (common) {
      DecodeScaleFactorDelta(br, ok);
    } else {
      for (int g = 0; g < scratch.info.numGroups; ++g)
        for (int b = 0; b < scratch.info.maxSfb; ++b)
          if (scratch.bandType[g][b] != kZeroHcb) DecodeScaleFactorDelta(br, ok);
    }
    if (!ok || br.Overrun()) return false;
  }
  return true;
}

int ParseProgramConfig(BitReader& br) {
  br.Skip(4 + 2 + 4);  // element_instance_tag, object_type, sampling_frequency_index
  const int front = static_cast<int>(br.Read(4));
  const int side = static_cast<int>(br.Read(4));
  const int back = static_cast<int>(br.Read(4));
  const int lfe = static_cast<int>(br.Read(2));
  const int assoc = static_cast<int>(br.Read(3));
  const int cc = static_cast<int>(br.Read(4));
  if (br.ReadBit()) br.Skip(4);  // mono_mixdown
  if (br.ReadBit()) br.Skip(4);  // stereo_mixdown
  if (br.ReadBit()) br.Skip(3);  // matrix_mixdown
  int channels = lfe;
  for (int i = 0; i < front + side + back; ++i) {
    channels += br.ReadBit() ? 2 : 1;
    br.Skip(4);
  }
  br.Skip(4 * lfe + 4 * assoc + 5 * cc);
  br.AlignToByte();
  const int comment = static_cast<int>(br.Read(8));
  br.Skip(8 * comment);
  return br.Overrun() ? -1 : channels;
}

OspreyResult ParseAudioSpecificConfig(const uint8_t* data, size_t size, StreamConfig& config) {
  if (data == nullptr || size < 2) return kAacBadArgument;
  BitReader br(data, size);
  int objectType = static_cast<int>(br.Read(5));
  if (objectType == 31) objectType = 32 + static_cast<int>(br.Read(6));
  if (objectType != 2) return kAacNotLowComplexity;
  const uint32_t sfIndex = br.Read(4);
  if (sfIndex == 15) {
    const uint32_t rate = br.Read(24);
    config.sfIndex = -1;
    for (int i = 0; i < kNumSampleRates; ++i)
      if (kSampleRates[i] == rate) config.sfIndex = i;
    if (config.sfIndex < 0) return kAacBadArgument;
  } else if (sfIndex < kNumSampleRates) {
    config.sfIndex = static_cast<int>(sfIndex);
  } else {
    return kAacBadArgument;
  }
  config.sampleRate = kSampleRates[config.sfIndex];
  const int channelConfig = static_cast<int>(br.Read(4));
  // GASpecificConfig
  if (br.ReadBit()) return kAacFrameLength960;
  if (br.ReadBit()) br.Skip(14);             // dependsOnCoreCoder: coreCoderDelay
  if (br.ReadBit()) return kAacBadArgument;  // extensionFlag
  if (br.Overrun()) return kAacBadArgument;
  int channels = channelConfig;
  if (channelConfig == 0) {
    channels = ParseProgramConfig(br);
    if (channels < 0) return kAacBadArgument;
    if (channels == 0) return kAacBadArgument;
  }
  if (channels > 2) return kAacTooManyChannels;
  config.channels = channels;
  return kAacOk;
}

}  // namespace osprey
