// The decoder object: raw data block parsing into channel spectra, channel
// adaptation, synthesis and the five entry points.
#include "decoder.h"

#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fixed_math.h"

namespace osprey {

namespace {

DecoderImpl* Impl(AudioDecoder* d) {
  return reinterpret_cast<DecoderImpl*>(d);
}

// Slot of a single channel element by its instance tag: the first tags seen
// become channels 0 and 1; -1 when the tag matches neither.
int ChannelForTag(DecoderImpl& d, int tag) {
  for (int i = 0; i < 2; ++i)
    if (d.elementTags[i] == tag) return i;
  const int slots = d.config.channels == 2 ? 2 : 1;
  for (int i = 0; i < slots; ++i) {
    if (d.elementTags[i] < 0) {
      d.elementTags[i] = tag;
      return i;
    }
  }
  return -1;
}

bool DecodeSingle(DecoderImpl& d, BitReader& br, bool present[2]) {
  const int tag = static_cast<int>(br.Read(4));
  const int ch = ChannelForTag(d, tag);
  if (ch < 0) return false;
  ChannelStream& cs = d.stream[ch];
  present[ch] = false;  // a failure below leaves this channel's spectrum half written
  if (!ParseChannelStream(br, d.config.sfIndex, false, cs, d.quant, d.coef[ch])) return false;
  const ChannelStream* list[2] = {&cs, nullptr};
  int32_t* coefs[2] = {d.coef[ch], nullptr};
  ApplyNoise(list, 1, nullptr, coefs, d.random);
  ApplyTns(cs, d.config.sfIndex, d.coef[ch]);
  present[ch] = true;
  return true;
}

bool DecodePair(DecoderImpl& d, BitReader& br, bool present[2]) {
  br.Skip(4);  // element_instance_tag
  present[0] = present[1] = false;
  ChannelStream& left = d.stream[0];
  ChannelStream& right = d.stream[1];
  const bool commonWindow = br.ReadBit();
  int msMaskPresent = 0;
  std::memset(d.msUsed, 0, sizeof d.msUsed);
  if (commonWindow) {
    if (!ParseIcsInfo(br, d.config.sfIndex, left.info)) return false;
    right.info = left.info;
    msMaskPresent = static_cast<int>(br.Read(2));
    if (msMaskPresent == 3) return false;
    for (int g = 0; g < left.info.numGroups; ++g)
      for (int b = 0; b < left.info.maxSfb; ++b)
        d.msUsed[g][b] = msMaskPresent == 2 ? 1 : msMaskPresent == 1 ? static_cast<uint8_t>(br.Read(1)) : 0;
  }
  if (!ParseChannelStream(br, d.config.sfIndex, commonWindow, left, d.quant, d.coef[0])) return false;
  if (!ParseChannelStream(br, d.config.sfIndex, commonWindow, right, d.quant, d.coef[1])) return false;
  if (msMaskPresent != 0) ApplyMidSide(left, right, d.msUsed, d.coef[0], d.coef[1]);
  const ChannelStream* list[2] = {&left, &right};
  int32_t* coefs[2] = {d.coef[0], d.coef[1]};
  if (commonWindow) {
    ApplyNoise(list, 2, d.msUsed, coefs, d.random);
  } else {
    ApplyNoise(list, 1, nullptr, coefs, d.random);
    ApplyNoise(list + 1, 1, nullptr, coefs + 1, d.random);
  }
  if (commonWindow) ApplyIntensity(right, msMaskPresent, d.msUsed, d.coef[0], d.coef[1]);
  ApplyTns(left, d.config.sfIndex, d.coef[0]);
  ApplyTns(right, d.config.sfIndex, d.coef[1]);
  present[0] = present[1] = true;
  return true;
}

// Parses the syntactic elements of one raw data block up to END or the first
// damage; present[] tells which channel spectra were decoded.
void ParseRawDataBlock(DecoderImpl& d, BitReader& br, bool present[2]) {
  for (int elements = 0; elements < 64; ++elements) {
    const int id = static_cast<int>(br.Read(3));
    if (br.Overrun()) return;
    bool ok = true;
    switch (static_cast<ElementId>(id)) {
      case kSce:
        ok = DecodeSingle(d, br, present);
        break;
      case kCpe:
        ok = DecodePair(d, br, present);
        break;
      case kCce:
        ok = SkipCouplingElement(br, d.config.sfIndex, d.scratchStream, d.quant, d.scratchCoef);
        break;
      case kLfe:
        br.Skip(4);
        ok = ParseChannelStream(br, d.config.sfIndex, false, d.scratchStream, d.quant, d.scratchCoef);
        break;
      case kDse: {
        br.Skip(4);
        const bool align = br.ReadBit();
        int count = static_cast<int>(br.Read(8));
        if (count == 255) count += static_cast<int>(br.Read(8));
        if (align) br.AlignToByte();
        br.Skip(8 * count);
        break;
      }
      case kPce:
        ok = ParseProgramConfig(br) >= 0;
        break;
      case kFil: {
        // Fill payloads (fill bytes, extension data, dynamic range info) carry
        // nothing this decoder applies; they are skipped by their count.
        int count = static_cast<int>(br.Read(4));
        if (count == 15) count += static_cast<int>(br.Read(8)) - 1;
        br.Skip(8 * count);
        break;
      }
      case kEnd:
        return;
    }
    // Damage ends the block; channels of a damaged element were already
    // marked absent by their decoder.
    if (!ok || br.Overrun()) return;
  }
}

void Silence(ChannelStream& cs, const ChannelState& st, int32_t* coef) {
  cs.info = IcsInfo{};
  cs.info.windowShape = st.prevShape;
  std::memset(coef, 0, sizeof(int32_t) * kFrameLength);
}

bool SameWindows(const IcsInfo& a, const IcsInfo& b) {
  return a.windowSequence == b.windowSequence && a.windowShape == b.windowShape;
}

void Synthesize(DecoderImpl& d, int ch, int stateIndex, int32_t* out) {
  ChannelState& st = d.state[stateIndex];
  const IcsInfo& info = d.stream[ch].info;
  SynthesizeWindowed(d.coef[ch], info.windowSequence, info.windowShape, st.prevShape, out);
  st.prevShape = info.windowShape;
  st.prevSequence = info.windowSequence;
}

#if defined(__SSE2__)
// Four samples of OverlapAdd before the 16-bit saturation: the saturated sum
// rounded by kTimeFracBits, as (v >> f) + bit f-1 of v, which cannot overflow.
inline __m128i PcmFour(const int32_t* buf, const int32_t* overlap) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(overlap));
  const __m128i sum = _mm_add_epi32(a, b);
  const __m128i overflow = _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(sum, a), _mm_xor_si128(sum, b)), 31);
  const __m128i limit = _mm_xor_si128(_mm_srai_epi32(a, 31), _mm_set1_epi32(INT32_MAX));
  const __m128i v = _mm_or_si128(_mm_and_si128(overflow, limit), _mm_andnot_si128(overflow, sum));
  return _mm_add_epi32(_mm_srai_epi32(v, kTimeFracBits),
                       _mm_and_si128(_mm_srai_epi32(v, kTimeFracBits - 1), _mm_set1_epi32(1)));
}

// Eight 16-bit samples of one channel.
inline __m128i PcmEight(const int32_t* buf, const int32_t* overlap) {
  return _mm_packs_epi32(PcmFour(buf, overlap), PcmFour(buf + 4, overlap + 4));
}
#endif

// Adds the overlap to the first half of `buf`, keeps the second half as the
// new overlap and writes 16-bit samples to pcm (one channel).
void OverlapAdd(ChannelState& st, const int32_t* buf, int16_t* pcm) {
#if defined(__SSE2__)
  for (int n = 0; n < kFrameLength; n += 8)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + n), PcmEight(buf + n, st.overlap + n));
#else
  constexpr int32_t kHalf = 1 << (kTimeFracBits - 1);
  for (int n = 0; n < kFrameLength; ++n) {
    const int32_t v = AddSat(buf[n], st.overlap[n]);
    pcm[n] = Saturate16(static_cast<int32_t>((int64_t{v} + kHalf) >> kTimeFracBits));
  }
#endif
  std::memcpy(st.overlap, buf + kFrameLength, sizeof st.overlap);
}

// OverlapAdd of two channels into interleaved stereo samples.
void OverlapAddStereo(ChannelState* st, int32_t (*buf)[2 * kFrameLength], int16_t* pcm) {
#if defined(__SSE2__)
  for (int n = 0; n < kFrameLength; n += 8) {
    const __m128i l = PcmEight(buf[0] + n, st[0].overlap + n);
    const __m128i r = PcmEight(buf[1] + n, st[1].overlap + n);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 2 * n), _mm_unpacklo_epi16(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 2 * n + 8), _mm_unpackhi_epi16(l, r));
  }
#else
  constexpr int32_t kHalf = 1 << (kTimeFracBits - 1);
  for (int ch = 0; ch < 2; ++ch) {
    for (int n = 0; n < kFrameLength; ++n) {
      const int32_t v = AddSat(buf[ch][n], st[ch].overlap[n]);
      pcm[2 * n + ch] = Saturate16(static_cast<int32_t>((int64_t{v} + kHalf) >> kTimeFracBits));
    }
  }
#endif
  for (int ch = 0; ch < 2; ++ch) std::memcpy(st[ch].overlap, buf[ch] + kFrameLength, sizeof st[ch].overlap);
}

int Decode(AudioDecoder* decoder, const uint8_t* data, uint32_t* length, int16_t* output,
           uint32_t* outputSize) {
  if (decoder == nullptr || length == nullptr || output == nullptr || outputSize == nullptr)
    return kAacBadArgument;
  if (data == nullptr && *length != 0) return kAacBadArgument;
  DecoderImpl& d = *Impl(decoder);
  const uint32_t needed = static_cast<uint32_t>(d.outChannels) * 2048;
  if (*outputSize < needed) {
    *length = 0;  // nothing consumed; the decoder is untouched
    return kAacOutputTooSmall;
  }

  BitReader br(data, *length);
  bool present[2] = {false, false};
  ParseRawDataBlock(d, br, present);
  *length = br.Overrun() ? *length : static_cast<uint32_t>(br.BytesConsumed());
  *outputSize = needed;

  const int streamChannels = d.config.channels == 2 ? 2 : 1;
  for (int ch = 0; ch < streamChannels; ++ch)
    if (!present[ch]) Silence(d.stream[ch], d.state[ch], d.coef[ch]);

  if (d.outChannels == 2 && streamChannels == 2) {
    for (int ch = 0; ch < 2; ++ch) Synthesize(d, ch, ch, d.time[ch]);
    OverlapAddStereo(d.state, d.time, output);
  } else if (streamChannels == 1) {
    Synthesize(d, 0, 0, d.time[0]);
    OverlapAdd(d.state[0], d.time[0], output);
    if (d.outChannels == 2) {
      for (int n = kFrameLength - 1; n >= 0; --n) output[2 * n + 1] = output[2 * n] = output[n];
    }
  } else if (SameWindows(d.stream[0].info, d.stream[1].info)) {
    // Stereo to mono with equal windows: mix the spectra, transform once.
    for (int k = 0; k < kFrameLength; ++k) d.coef[0][k] = (d.coef[0][k] >> 1) + (d.coef[1][k] >> 1);
    d.state[1].prevShape = d.stream[1].info.windowShape;
    Synthesize(d, 0, 0, d.time[0]);
    OverlapAdd(d.state[0], d.time[0], output);
  } else {
    // Stereo to mono with different windows: spectra of different transforms
    // cannot be added, so both are transformed and the windowed halves mixed.
    const uint8_t rightPrev = d.state[1].prevShape;
    const IcsInfo& r = d.stream[1].info;
    SynthesizeWindowed(d.coef[1], r.windowSequence, r.windowShape, rightPrev, d.time[1]);
    d.state[1].prevShape = r.windowShape;
    Synthesize(d, 0, 0, d.time[0]);
    for (int n = 0; n < 2 * kFrameLength; ++n) d.time[0][n] = (d.time[0][n] >> 1) + (d.time[1][n] >> 1);
    OverlapAdd(d.state[0], d.time[0], output);
  }
  return kAacOk;
}

int Set(AudioDecoder* decoder, int32_t type, int32_t value) {
  if (decoder == nullptr) return kAacBadArgument;
  if (type != kAacControlChannels) return kAacBadControlType;
  if (value != 1 && value != 2) return kAacBadControlValue;
  Impl(decoder)->outChannels = value;
  return kAacOk;
}

int Get(AudioDecoder* decoder, int32_t type, int32_t* value) {
  if (decoder == nullptr || value == nullptr) return kAacBadArgument;
  DecoderImpl& d = *Impl(decoder);
  switch (type) {
    case kAacControlChannels:
      *value = d.outChannels;
      return kAacOk;
    case kAacControlSampleRate:
      *value = static_cast<int32_t>(d.config.sampleRate);
      return kAacOk;
    default:
      *value = 0;
      return kAacBadControlType;
  }
}

void ResetState(DecoderImpl& d) {
  for (ChannelState& st : d.state) {
    std::memset(st.overlap, 0, sizeof st.overlap);
    st.prevShape = kSineWindow;
    st.prevSequence = kOnlyLong;
  }
}

int Reset(AudioDecoder* decoder) {
  if (decoder == nullptr) return kAacBadArgument;
  ResetState(*Impl(decoder));
  return kAacOk;
}

int Destroy(AudioDecoder* decoder) {
  if (decoder == nullptr) return kAacBadArgument;
  delete Impl(decoder);
  return kAacOk;
}

}  // namespace

}  // namespace osprey

extern "C" OSPREY_API const char* OspreyResultName(int result) {
  switch (result) {
    case kAacOk:
      return "kAacOk";
    case kAacBadArgument:
      return "kAacBadArgument";
    case kAacOutOfMemory:
      return "kAacOutOfMemory";
    case kAacBadControlValue:
      return "kAacBadControlValue";
    case kAacBadControlType:
      return "kAacBadControlType";
    case kAacOutputTooSmall:
      return "kAacOutputTooSmall";
    case kAacFrameLength960:
      return "kAacFrameLength960";
    case kAacTooManyChannels:
      return "kAacTooManyChannels";
    case kAacNotLowComplexity:
      return "kAacNotLowComplexity";
  }
  return "unknown result";
}

extern "C" OSPREY_API int gCreateAACDecoder(AudioDecoder** decoder, AacConfig* config, const uint8_t* asc,
                                            uint32_t ascLength) {
  using namespace osprey;
  if (decoder == nullptr) return kAacBadArgument;
  *decoder = nullptr;
  if (config == nullptr || asc == nullptr) return kAacBadArgument;
  StreamConfig stream;
  const OspreyResult rc = ParseAudioSpecificConfig(asc, ascLength, stream);
  if (rc != kAacOk) return rc;
  DecoderImpl* d = new (std::nothrow) DecoderImpl;
  if (d == nullptr) return kAacOutOfMemory;
  d->api = AudioDecoder{Decode, Set, Get, Destroy, Reset};
  d->config = stream;
  d->outChannels = config->channels == 1 || config->channels == 2 ? config->channels : stream.channels;
  d->elementTags[0] = d->elementTags[1] = -1;
  d->random = 0x1f2e3d4cu;
  ResetState(*d);
  config->channels = static_cast<uint8_t>(d->outChannels);
  config->objectType = 2;
  config->sampleRate = stream.sampleRate;
  *decoder = &d->api;
  return kAacOk;
}
