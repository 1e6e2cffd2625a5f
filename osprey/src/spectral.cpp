// Spectral tools: inverse quantisation, mid/side and intensity stereo,
// perceptual noise substitution and temporal noise shaping, all on 32-bit
// spectral values with kSpectralFracBits fractional bits.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "aac_tables.h"
#include "decoder.h"
#include "fixed_math.h"

namespace osprey {

namespace {

struct QuantTables {
  uint64_t pow43[kMaxQuant + 1];
  int64_t quarter[4];
  int32_t tnsRefl[2][16];  // coef_res 3 and 4, value + 8, 20 fractional bits
  int32_t small[256][kSmallQuant + 1];

  QuantTables() {
    for (int q = 0; q <= kMaxQuant; ++q)
      pow43[q] = static_cast<uint64_t>(std::llround(std::pow(q, 4.0 / 3.0) * double(1 << kPow43Frac)));
    for (int r = 0; r < 4; ++r) quarter[r] = std::llround(std::pow(2.0, r / 4.0) * double(1 << kQuarterFrac));
    for (int sf = 0; sf < 256; ++sf) {
      const DequantStep step = DequantStepFor(sf, quarter);
      for (int q = 0; q <= kSmallQuant; ++q) small[sf][q] = DequantMagnitude(pow43[q], step);
    }
    // Inverse quantisation of TNS coefficients: sin(c / iqfac) with
    // iqfac = ((1 << (res - 1)) +- 0.5) / (pi / 2), the sign chosen by c.
    for (int res = 3; res <= 4; ++res) {
      const double pos = ((1 << (res - 1)) - 0.5) / (M_PI / 2.0);
      const double neg = ((1 << (res - 1)) + 0.5) / (M_PI / 2.0);
      for (int c = -8; c < 8; ++c) {
        const double v = std::sin(c / (c >= 0 ? pos : neg));
        tnsRefl[res - 3][c + 8] = static_cast<int32_t>(std::lround(v * (1 << 20)));
      }
    }
  }
};

const QuantTables& Q() {
  static const QuantTables tables;
  return tables;
}

// Calls fn(start, end) for every window of group g over band b.
template <typename Fn>
void ForBandWindows(const IcsInfo& info, int firstWindow, int g, int b, Fn fn) {
  for (int w = 0; w < info.groupLength[g]; ++w) {
    const int base = (firstWindow + w) * 128;
    fn(base + info.swbOffset[b], base + info.swbOffset[b + 1]);
  }
}

}  // namespace

int32_t ScalePow2Quarter(int32_t x, int quarterExp) {
  const int e = quarterExp >> 2;  // floor
  const int r = quarterExp & 3;
  return Saturate32(RoundShift(static_cast<int64_t>(x) * Q().quarter[r], kQuarterFrac - e));
}

int32_t TnsReflection(int coefRes, int value) {
  if (value < -8) value = -8;
  if (value > 7) value = 7;
  return Q().tnsRefl[coefRes - 3][value + 8];
}

const uint64_t* Pow43Table() {
  return Q().pow43;
}

const int32_t* SmallDequantTable() {
  return &Q().small[0][0];
}

int64_t QuarterPower(int r) {
  return Q().quarter[r];
}

void Dequantize(const ChannelStream& cs, const int16_t* quant, int32_t* coef) {
  const IcsInfo& info = cs.info;
  for (int k = 0; k < kFrameLength; ++k) coef[k] = 0;
  int window = 0;
  for (int g = 0; g < info.numGroups; ++g) {
    for (int b = 0; b < info.maxSfb; ++b) {
      const int cb = cs.bandType[g][b];
      if (cb == kZeroHcb || cb >= kNoiseHcb) continue;
      const BandDequantizer dequantize(cs.scale[g][b]);
      ForBandWindows(info, window, g, b, [&](int start, int end) {
        for (int k = start; k < end; ++k) coef[k] = dequantize(quant[k]);
      });
    }
    window += info.groupLength[g];
  }
}

void ApplyMidSide(const ChannelStream& left, const ChannelStream& right, const uint8_t (*msUsed)[kMaxBands],
                  int32_t* l, int32_t* r) {
  const IcsInfo& info = left.info;
  int window = 0;
  for (int g = 0; g < info.numGroups; ++g) {
    for (int b = 0; b < info.maxSfb; ++b) {
      if (!msUsed[g][b] || left.bandType[g][b] >= kNoiseHcb || right.bandType[g][b] >= kNoiseHcb) continue;
      ForBandWindows(info, window, g, b, [&](int start, int end) {
        int k = start;
#if defined(__SSE2__)
        for (; k + 4 <= end; k += 4) {
          const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + k));
          const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + k));
          // Saturation where the wrapped result's sign disagrees with the operands'.
          const __m128i limit = _mm_xor_si128(_mm_srai_epi32(m, 31), _mm_set1_epi32(INT32_MAX));
          const __m128i sum = _mm_add_epi32(m, s);
          const __m128i diff = _mm_sub_epi32(m, s);
          const __m128i sumOver =
              _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(sum, m), _mm_xor_si128(sum, s)), 31);
          const __m128i diffOver =
              _mm_srai_epi32(_mm_and_si128(_mm_xor_si128(m, s), _mm_xor_si128(m, diff)), 31);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(l + k),
                           _mm_or_si128(_mm_and_si128(sumOver, limit), _mm_andnot_si128(sumOver, sum)));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(r + k),
                           _mm_or_si128(_mm_and_si128(diffOver, limit), _mm_andnot_si128(diffOver, diff)));
        }
#endif
        for (; k < end; ++k) {
          const int32_t m = l[k], s = r[k];
          l[k] = AddSat(m, s);
          r[k] = SubSat(m, s);
        }
      });
    }
    window += info.groupLength[g];
  }
}

namespace {

// Fills [start, end) with noise whose energy is 2^(energy / 2), i.e. whose
// root-sum-square is 2^(energy / 4).
void NoiseBand(int32_t* coef, int start, int end, int energy, uint32_t& random) {
  int64_t sum = 0;
  for (int k = start; k < end; ++k) {
    random = random * 1664525u + 1013904223u;
    const int32_t v = static_cast<int32_t>(random) >> 16;
    coef[k] = v;
    sum += int64_t{v} * v;
  }
  if (sum == 0) return;
  const int64_t root = static_cast<int64_t>(std::sqrt(static_cast<double>(sum)));
  if (root == 0) return;
  for (int k = start; k < end; ++k) {
    // v / root has magnitude <= 1: keep it with 30 fractional bits, then scale.
    const int32_t unit = static_cast<int32_t>((int64_t{coef[k]} << 30) / root);
    coef[k] = ScalePow2Quarter(unit, energy + 4 * (kSpectralFracBits - 30));
  }
}

}  // namespace

void ApplyNoise(const ChannelStream* cs[2], int count, const uint8_t (*msUsed)[kMaxBands], int32_t* coef[2],
                uint32_t& random) {
  const IcsInfo& info = cs[0]->info;
  // One generator serves the element: the left channel's noise bands are drawn first, in band
  // order, then the right channel's. With mid/side on a band that is noise in both channels the
  // right channel repeats the left channel's noise instead of drawing its own.
  uint32_t leftSeed[8][kMaxBands];
  for (int c = 0; c < count; ++c) {
    int window = 0;
    for (int g = 0; g < info.numGroups; ++g) {
      for (int b = 0; b < info.maxSfb; ++b) {
        if (cs[c]->bandType[g][b] != kNoiseHcb) continue;
        const bool correlated = count == 2 && cs[0]->bandType[g][b] == kNoiseHcb &&
                                cs[1]->bandType[g][b] == kNoiseHcb && msUsed != nullptr && msUsed[g][b];
        int w = window;
        ForBandWindows(info, window, g, b, [&](int start, int end) {
          if (c == 0) {
            leftSeed[w][b] = random;
            NoiseBand(coef[0], start, end, cs[0]->scale[g][b], random);
          } else if (correlated) {
            uint32_t r = leftSeed[w][b];
            NoiseBand(coef[1], start, end, cs[1]->scale[g][b], r);
          } else {
            NoiseBand(coef[1], start, end, cs[1]->scale[g][b], random);
          }
          ++w;
        });
      }
      window += info.groupLength[g];
    }
  }
}

void ApplyIntensity(const ChannelStream& right, int msMaskPresent, const uint8_t (*msUsed)[kMaxBands],
                    const int32_t* l, int32_t* r) {
  const IcsInfo& info = right.info;
  int window = 0;
  for (int g = 0; g < info.numGroups; ++g) {
    for (int b = 0; b < info.maxSfb; ++b) {
      const int cb = right.bandType[g][b];
      if (cb != kIntensityHcb && cb != kIntensityHcb2) continue;
      // The M/S mask flips the intensity sign only when it is sent band by band
      // (ms_mask_present 1), not when M/S is signalled for all bands (2).
      bool invert = cb == kIntensityHcb2;
      if (msMaskPresent == 1 && msUsed[g][b]) invert = !invert;
      const int position = right.scale[g][b];
      ForBandWindows(info, window, g, b, [&](int start, int end) {
        for (int k = start; k < end; ++k) {
          const int32_t v = ScalePow2Quarter(l[k], -position);
          // A saturated -2^31 has no negative: it turns into the largest positive value.
          r[k] = invert ? (v == INT32_MIN ? INT32_MAX : -v) : v;
        }
      });
    }
    window += info.groupLength[g];
  }
}

void ApplyTns(const ChannelStream& cs, int sfIndex, int32_t* coef) {
  if (!cs.tns.present) return;
  const IcsInfo& info = cs.info;
  const bool isShort = info.windowSequence == kEightShort;
  const int maxBands = isShort ? kTnsMaxBandsShort[sfIndex] : kTnsMaxBandsLong[sfIndex];
  const int limit = std::min<int>(maxBands, info.maxSfb);
  for (int w = 0; w < info.numWindows; ++w) {
    int bottom = info.numSwb;
    int32_t* x = coef + w * 128;
    for (int f = 0; f < cs.tns.numFilters[w]; ++f) {
      const TnsFilter& filt = cs.tns.filter[w][f];
      const int top = bottom;
      bottom = std::max(top - filt.length, 0);
      if (filt.order == 0) continue;
      const int start = info.swbOffset[std::min(bottom, limit)];
      const int end = info.swbOffset[std::min(top, limit)];
      if (end <= start) continue;
      const int inc = filt.direction ? -1 : 1;
      int pos = filt.direction ? end - 1 : start;
      // All-pole filter y[n] = x[n] - sum a[i] y[n - i] along the band range.
      int32_t history[12] = {};
      for (int n = start; n < end; ++n, pos += inc) {
        // 128-bit sum: twelve products of 32-bit values cannot overflow it.
        __int128 acc = static_cast<__int128>(x[pos]) << 20;
        for (int i = 0; i < filt.order; ++i) acc -= static_cast<__int128>(int64_t{filt.lpc[i]} * history[i]);
        acc = (acc + (1 << 19)) >> 20;
        const int32_t y = acc > INT32_MAX   ? INT32_MAX
                          : acc < INT32_MIN ? INT32_MIN
                                            : static_cast<int32_t>(acc);
        for (int i = filt.order - 1; i > 0; --i) history[i] = history[i - 1];
        history[0] = y;
        x[pos] = y;
      }
    }
  }
}

}  // namespace osprey
