#include "dsp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__)
#include <immintrin.h>  // AVX2 kernels, compiled for that target alone and chosen at run time
#define BRINDLE_AVX2 1
#endif

namespace brindle {
namespace {

// Basis of the 8-point inverse DCT in 14-bit fixed point: kBasis[k][n] = round(2^14 * s(k) *
// cos((2n + 1) k pi / 16)), s(0) = 1 / (2 sqrt 2), s(k) = 1/2. The row pass keeps three fraction
// bits, saturated to 16 bits (reached only by rows of near-extreme coefficients of one sign), and
// the column pass removes them, so the SSE2 version can use 16-bit lanes and produce the same
// integers as the plain one.
struct Basis {
  std::int32_t c[8][8];
  Basis() {
    const double pi = std::acos(-1.0);
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n) {
        double s = k == 0 ? 1.0 / (2.0 * std::sqrt(2.0)) : 0.5;
        c[k][n] = static_cast<std::int32_t>(std::lround(16384.0 * s * std::cos((2 * n + 1) * k * pi / 16.0)));
      }
  }
};
const Basis kBasis;

constexpr int kRowShift = 11;
constexpr int kColumnShift = 17;

inline std::uint8_t Clamp255(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One 8-point transform using the even/odd symmetry of the basis; out has the same integer
// result as the direct sum.
inline std::int32_t Saturate16(std::int32_t v) {
  return v < -32768 ? -32768 : (v > 32767 ? 32767 : v);
}

inline void Transform8(const std::int32_t* in, int step, std::int32_t* out, int shift) {
  const auto& c = kBasis.c;
  std::int32_t x0 = in[0], x1 = in[step], x2 = in[2 * step], x3 = in[3 * step];
  std::int32_t x4 = in[4 * step], x5 = in[5 * step], x6 = in[6 * step], x7 = in[7 * step];
  std::int32_t round = 1 << (shift - 1);
  for (int n = 0; n < 4; ++n) {
    std::int32_t e = c[0][n] * x0 + c[2][n] * x2 + c[4][n] * x4 + c[6][n] * x6 + round;
    std::int32_t o = c[1][n] * x1 + c[3][n] * x3 + c[5][n] * x5 + c[7][n] * x7;
    out[n] = Saturate16((e + o) >> shift);
    out[7 - n] = Saturate16((e - o) >> shift);
  }
}

// Rows then columns into 64 residual values.
void IdctPlainCore(const std::int16_t* coefficients, std::int32_t* out) {
  std::int32_t rows[64];
  for (int r = 0; r < 8; ++r) {
    const std::int16_t* row = coefficients + r * 8;
    std::int32_t in[8];
    bool any = false;
    for (int i = 0; i < 8; ++i) {
      in[i] = row[i];
      any |= row[i] != 0;
    }
    if (!any) {
      std::fill(rows + r * 8, rows + r * 8 + 8, 0);
      continue;
    }
    Transform8(in, 1, rows + r * 8, kRowShift);
  }
  for (int col = 0; col < 8; ++col) {
    std::int32_t t[8];
    Transform8(rows + col, 8, t, kColumnShift);
    for (int y = 0; y < 8; ++y) out[y * 8 + col] = t[y];
  }
}

void IdctPutPlain(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  std::int32_t out[64];
  IdctPlainCore(coefficients, out);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clamp255(out[y * 8 + x]);
}

void IdctAddPlain(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  std::int32_t out[64];
  IdctPlainCore(coefficients, out);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clamp255(dst[y * stride + x] + out[y * 8 + x]);
}

// Row pass then column pass of a DC-only block, as Transform8 computes them.
inline int DcResidual(int dc) {
  int c0 = kBasis.c[0][0];
  int r = Saturate16((c0 * dc + (1 << (kRowShift - 1))) >> kRowShift);
  return (c0 * r + (1 << (kColumnShift - 1))) >> kColumnShift;
}

void DcAddPlain(int dc, std::uint8_t* dst, int stride) {
  int d = DcResidual(dc);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clamp255(dst[y * stride + x] + d);
}

void DcPutPlain(int dc, std::uint8_t* dst, int stride) {
  std::uint8_t v = Clamp255(DcResidual(dc));
  for (int y = 0; y < 8; ++y) std::memset(dst + y * stride, v, 8);
}

void PredictPlain(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int w, int h,
                  int mode, int rounding) {
  switch (mode) {
    case 0:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) dst[y * dstStride + x] = src[y * srcStride + x];
      break;
    case 1:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* s = src + y * srcStride + x;
          dst[y * dstStride + x] = static_cast<std::uint8_t>((s[0] + s[1] + 1 - rounding) >> 1);
        }
      break;
    case 2:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* s = src + y * srcStride + x;
          dst[y * dstStride + x] = static_cast<std::uint8_t>((s[0] + s[srcStride] + 1 - rounding) >> 1);
        }
      break;
    default:
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::uint8_t* s = src + y * srcStride + x;
          dst[y * dstStride + x] =
              static_cast<std::uint8_t>((s[0] + s[1] + s[srcStride] + s[srcStride + 1] + 2 - rounding) >> 2);
        }
      break;
  }
}

#if defined(__SSE2__)

// 16-bit basis pairs for _mm_madd_epi16, split by the symmetry the plain transform uses: for
// output n < 4 the even half pairs (c[0][n], c[2][n]) and (c[4][n], c[6][n]), the odd half
// (c[1][n], c[3][n]) and (c[5][n], c[7][n]); output 7 - n is the even half minus the odd half.
struct SimdBasis {
  alignas(16) std::int16_t even[4][2][8];  // [output n][inputs 0,2 | inputs 4,6][lane pattern]
  alignas(16) std::int16_t odd[4][2][8];   // [output n][inputs 1,3 | inputs 5,7][lane pattern]
  SimdBasis() {
    for (int n = 0; n < 4; ++n)
      for (int h = 0; h < 2; ++h)
        for (int lane = 0; lane < 4; ++lane) {
          even[n][h][2 * lane] = static_cast<std::int16_t>(kBasis.c[4 * h][n]);
          even[n][h][2 * lane + 1] = static_cast<std::int16_t>(kBasis.c[4 * h + 2][n]);
          odd[n][h][2 * lane] = static_cast<std::int16_t>(kBasis.c[4 * h + 1][n]);
          odd[n][h][2 * lane + 1] = static_cast<std::int16_t>(kBasis.c[4 * h + 3][n]);
        }
  }
};
const SimdBasis kSimdBasis;

inline __m128i BasisAt(const std::int16_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// Transform of eight columns at once: in[k] holds input row k (8 x int16); out[n] gets
// (sum_k c[k][n] * in[k] + round) >> shift, saturated to int16 like the plain transform. kHigh
// false means in[4..7] are zero and are not read. The 32-bit sums cannot overflow: the basis
// magnitudes of one output add up to less than 2^16.
template <int kShift, bool kHigh>
inline void ColumnsSse2(const __m128i* in, __m128i* out) {
  const __m128i e0Lo = _mm_unpacklo_epi16(in[0], in[2]), e0Hi = _mm_unpackhi_epi16(in[0], in[2]);
  const __m128i o0Lo = _mm_unpacklo_epi16(in[1], in[3]), o0Hi = _mm_unpackhi_epi16(in[1], in[3]);
  __m128i e1Lo, e1Hi, o1Lo, o1Hi;
  if (kHigh) {
    e1Lo = _mm_unpacklo_epi16(in[4], in[6]);
    e1Hi = _mm_unpackhi_epi16(in[4], in[6]);
    o1Lo = _mm_unpacklo_epi16(in[5], in[7]);
    o1Hi = _mm_unpackhi_epi16(in[5], in[7]);
  }
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  for (int n = 0; n < 4; ++n) {
    const __m128i ce0 = BasisAt(kSimdBasis.even[n][0]), co0 = BasisAt(kSimdBasis.odd[n][0]);
    __m128i eLo = _mm_add_epi32(round, _mm_madd_epi16(e0Lo, ce0));
    __m128i eHi = _mm_add_epi32(round, _mm_madd_epi16(e0Hi, ce0));
    __m128i oLo = _mm_madd_epi16(o0Lo, co0);
    __m128i oHi = _mm_madd_epi16(o0Hi, co0);
    if (kHigh) {
      const __m128i ce1 = BasisAt(kSimdBasis.even[n][1]), co1 = BasisAt(kSimdBasis.odd[n][1]);
      eLo = _mm_add_epi32(eLo, _mm_madd_epi16(e1Lo, ce1));
      eHi = _mm_add_epi32(eHi, _mm_madd_epi16(e1Hi, ce1));
      oLo = _mm_add_epi32(oLo, _mm_madd_epi16(o1Lo, co1));
      oHi = _mm_add_epi32(oHi, _mm_madd_epi16(o1Hi, co1));
    }
    out[n] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(eLo, oLo), kShift),
                             _mm_srai_epi32(_mm_add_epi32(eHi, oHi), kShift));
    out[7 - n] = _mm_packs_epi32(_mm_srai_epi32(_mm_sub_epi32(eLo, oLo), kShift),
                                 _mm_srai_epi32(_mm_sub_epi32(eHi, oHi), kShift));
  }
}

inline void Transpose8x8(__m128i* r) {
  __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Residual rows as int16 (each within [-2^15, 2^15) for coefficients within [-2048, 2047]).
// Coefficients of horizontal or vertical frequency 4..7 are mostly zero: the halves of the
// transform they feed are left out when they are.
inline void IdctSse2Core(const std::int16_t* coefficients, __m128i* out) {
  __m128i rows[8];
  for (int i = 0; i < 8; ++i)
    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * i));
  const __m128i lower = _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7]));
  const __m128i all = _mm_or_si128(_mm_or_si128(_mm_or_si128(rows[0], rows[1]), _mm_or_si128(rows[2], rows[3])),
                                   lower);
  const bool rightHalf = _mm_cvtsi128_si64(_mm_unpackhi_epi64(all, all)) != 0;  // columns 4..7
  const bool lowerHalf = _mm_movemask_epi8(_mm_cmpeq_epi8(lower, _mm_setzero_si128())) != 0xFFFF;  // rows 4..7
  Transpose8x8(rows);  // rows[k] = coefficient column k: transform over the horizontal frequency
  __m128i t[8];
  // t[x] = row-pass output at column x, for each of the 8 rows; a row of zero coefficients gives zeros
  if (rightHalf)
    ColumnsSse2<kRowShift, true>(rows, t);
  else
    ColumnsSse2<kRowShift, false>(rows, t);
  Transpose8x8(t);  // t[v] = row v of the row-pass result
  if (lowerHalf)
    ColumnsSse2<kColumnShift, true>(t, out);
  else
    ColumnsSse2<kColumnShift, false>(t, out);
}

void IdctPutSse2(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  __m128i out[8];
  IdctSse2Core(coefficients, out);
  for (int y = 0; y < 8; ++y)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(out[y], out[y]));
}

void IdctAddSse2(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  __m128i out[8];
  IdctSse2Core(coefficients, out);
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y) {
    __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + y * stride)), zero);
    __m128i s = _mm_adds_epi16(p, out[y]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(s, s));
  }
}

template <int W>
inline __m128i Load(const std::uint8_t* p) {
  return W == 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
                 : _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
inline void Store(std::uint8_t* p, __m128i v) {
  if (W == 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  else
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}

// (a + b + 1 - rounding) >> 1 on bytes.
inline __m128i Average2(__m128i a, __m128i b, int rounding) {
  __m128i avg = _mm_avg_epu8(a, b);
  if (rounding) avg = _mm_sub_epi8(avg, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
  return avg;
}

// Sums of horizontally adjacent samples of one row, as 16-bit lanes (low and high halves).
template <int W>
inline void PairSums(const std::uint8_t* s, __m128i* lo, __m128i* hi) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = Load<W>(s), b = Load<W>(s + 1);
  *lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
  if (W == 16) *hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
}

template <int W>
void PredictSse2Width(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int h, int mode,
                      int rounding) {
  switch (mode) {
    case 0:
      for (int y = 0; y < h; ++y) Store<W>(dst + y * dstStride, Load<W>(src + y * srcStride));
      break;
    case 1:
      for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = src + y * srcStride;
        Store<W>(dst + y * dstStride, Average2(Load<W>(s), Load<W>(s + 1), rounding));
      }
      break;
    case 2: {
      __m128i above = Load<W>(src);
      for (int y = 0; y < h; ++y) {
        __m128i below = Load<W>(src + (y + 1) * srcStride);
        Store<W>(dst + y * dstStride, Average2(above, below, rounding));
        above = below;
      }
      break;
    }
    default: {
      // Each source row's pair sums serve the output rows above and below it.
      const __m128i bias = _mm_set1_epi16(static_cast<short>(2 - rounding));
      __m128i upperLo, upperHi = _mm_setzero_si128(), lowerLo, lowerHi = _mm_setzero_si128();
      PairSums<W>(src, &upperLo, &upperHi);
      for (int y = 0; y < h; ++y) {
        PairSums<W>(src + (y + 1) * srcStride, &lowerLo, &lowerHi);
        __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(upperLo, lowerLo), bias), 2);
        __m128i hi = _mm_setzero_si128();
        if (W == 16) hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(upperHi, lowerHi), bias), 2);
        Store<W>(dst + y * dstStride, _mm_packus_epi16(lo, hi));
        upperLo = lowerLo;
        upperHi = lowerHi;
      }
      break;
    }
  }
}

void PredictSse2(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int w, int h,
                 int mode, int rounding) {
  if (w == 16)
    PredictSse2Width<16>(dst, dstStride, src, srcStride, h, mode, rounding);
  else
    PredictSse2Width<8>(dst, dstStride, src, srcStride, h, mode, rounding);
}

void DcAddSse2(int dc, std::uint8_t* dst, int stride) {
  int d = DcResidual(dc);
  const __m128i zero = _mm_setzero_si128();
  const __m128i add = _mm_set1_epi16(static_cast<short>(d));
  for (int y = 0; y < 8; ++y) {
    __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + y * stride)), zero);
    __m128i s = _mm_adds_epi16(p, add);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(s, s));
  }
}

void DcPutSse2(int dc, std::uint8_t* dst, int stride) {
  const __m128i v = _mm_set1_epi8(static_cast<char>(Clamp255(DcResidual(dc))));
  for (int y = 0; y < 8; ++y) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), v);
}

#endif

#if defined(BRINDLE_AVX2)

#define BRINDLE_TARGET_AVX2 __attribute__((target("avx2")))

// The SSE2 transform with the two halves of each column set (lanes 0..3 and 4..7) in one 256-bit
// register: the same products and sums, so the same integers.
BRINDLE_TARGET_AVX2 inline __m256i Join(__m128i lo, __m128i hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

BRINDLE_TARGET_AVX2 inline __m256i Broadcast(const std::int16_t* p) {
  return _mm256_broadcastsi128_si256(BasisAt(p));
}

template <int kShift, bool kHigh>
BRINDLE_TARGET_AVX2 inline void ColumnsAvx2(const __m128i* in, __m128i* out) {
  const __m256i e0 = Join(_mm_unpacklo_epi16(in[0], in[2]), _mm_unpackhi_epi16(in[0], in[2]));
  const __m256i o0 = Join(_mm_unpacklo_epi16(in[1], in[3]), _mm_unpackhi_epi16(in[1], in[3]));
  __m256i e1 = _mm256_setzero_si256(), o1 = _mm256_setzero_si256();
  if (kHigh) {
    e1 = Join(_mm_unpacklo_epi16(in[4], in[6]), _mm_unpackhi_epi16(in[4], in[6]));
    o1 = Join(_mm_unpacklo_epi16(in[5], in[7]), _mm_unpackhi_epi16(in[5], in[7]));
  }
  const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
  for (int n = 0; n < 4; ++n) {
    __m256i e = _mm256_add_epi32(round, _mm256_madd_epi16(e0, Broadcast(kSimdBasis.even[n][0])));
    __m256i o = _mm256_madd_epi16(o0, Broadcast(kSimdBasis.odd[n][0]));
    if (kHigh) {
      e = _mm256_add_epi32(e, _mm256_madd_epi16(e1, Broadcast(kSimdBasis.even[n][1])));
      o = _mm256_add_epi32(o, _mm256_madd_epi16(o1, Broadcast(kSimdBasis.odd[n][1])));
    }
    // Per 128-bit lane: (e + o) of four columns, then (e - o); reordered to output n in the low
    // half and output 7 - n in the high half.
    __m256i packed = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(e, o), kShift),
                                        _mm256_srai_epi32(_mm256_sub_epi32(e, o), kShift));
    packed = _mm256_permute4x64_epi64(packed, 0xD8);
    out[n] = _mm256_castsi256_si128(packed);
    out[7 - n] = _mm256_extracti128_si256(packed, 1);
  }
}

BRINDLE_TARGET_AVX2 inline void IdctAvx2Core(const std::int16_t* coefficients, __m128i* out) {
  __m128i rows[8];
  for (int i = 0; i < 8; ++i)
    rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * i));
  const __m128i lower = _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7]));
  const __m128i all = _mm_or_si128(_mm_or_si128(_mm_or_si128(rows[0], rows[1]), _mm_or_si128(rows[2], rows[3])),
                                   lower);
  const bool rightHalf = _mm_cvtsi128_si64(_mm_unpackhi_epi64(all, all)) != 0;
  const bool lowerHalf = _mm_movemask_epi8(_mm_cmpeq_epi8(lower, _mm_setzero_si128())) != 0xFFFF;
  Transpose8x8(rows);
  __m128i t[8];
  if (rightHalf)
    ColumnsAvx2<kRowShift, true>(rows, t);
  else
    ColumnsAvx2<kRowShift, false>(rows, t);
  Transpose8x8(t);
  if (lowerHalf)
    ColumnsAvx2<kColumnShift, true>(t, out);
  else
    ColumnsAvx2<kColumnShift, false>(t, out);
}

BRINDLE_TARGET_AVX2 void IdctPutAvx2(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  __m128i out[8];
  IdctAvx2Core(coefficients, out);
  for (int y = 0; y < 8; ++y)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(out[y], out[y]));
}

BRINDLE_TARGET_AVX2 void IdctAddAvx2(const std::int16_t* coefficients, std::uint8_t* dst, int stride) {
  __m128i out[8];
  IdctAvx2Core(coefficients, out);
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y) {
    __m128i p = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + y * stride)), zero);
    __m128i s = _mm_adds_epi16(p, out[y]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + y * stride), _mm_packus_epi16(s, s));
  }
}

#endif

}  // namespace

const Dsp& PlainDsp() {
  static const Dsp dsp{IdctPutPlain, IdctAddPlain, PredictPlain, DcAddPlain, DcPutPlain};
  return dsp;
}

const Dsp& Sse2Dsp() {
#if defined(__SSE2__)
  static const Dsp dsp{IdctPutSse2, IdctAddSse2, PredictSse2, DcAddSse2, DcPutSse2};
  return dsp;
#else
  return PlainDsp();
#endif
}

const Dsp& BestDsp() {
#if defined(BRINDLE_AVX2)
  static const Dsp avx2{IdctPutAvx2, IdctAddAvx2, PredictSse2, DcAddSse2, DcPutSse2};
  static const bool haveAvx2 = __builtin_cpu_supports("avx2");
  if (haveAvx2) return avx2;
#endif
  return Sse2Dsp();
}

void IdctResidual(const std::int16_t* coefficients, std::int32_t* out) {
  IdctPlainCore(coefficients, out);
}

void ReferenceIdct(const std::int16_t* coefficients, double* out) {
  const double pi = std::acos(-1.0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
          double cu = u == 0 ? 1.0 / std::sqrt(2.0) : 1.0;
          double cv = v == 0 ? 1.0 / std::sqrt(2.0) : 1.0;
          sum += cu * cv * coefficients[v * 8 + u] * std::cos((2 * x + 1) * u * pi / 16.0) *
                 std::cos((2 * y + 1) * v * pi / 16.0);
        }
      out[y * 8 + x] = sum / 4.0;
    }
}

}  // namespace brindle
