// AVX2 versions of the inner loops, compiled with -mavx2 and used only where the processor has
// AVX2; each gives exactly the bytes of its plain twin. Everything here has internal linkage but
// the one accessor, and the file instantiates no template and no inline function of a header.
#include <cstdint>

#include "kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "sse2_steps.h"

namespace plover {
namespace {

inline __m256i Load256(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
inline void Store256(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}

struct RowTerms256 {
  __m256i re, ro, ge, go, be, bo;
};

inline RowTerms256 Terms256(__m256i dr, __m256i dg, __m256i db, int erE, int egE, int ebE, int erO, int egO,
                            int ebO) {
  return {_mm256_add_epi16(dr, _mm256_set1_epi16(static_cast<short>(erE))),
          _mm256_add_epi16(dr, _mm256_set1_epi16(static_cast<short>(erO))),
          _mm256_sub_epi16(dg, _mm256_set1_epi16(static_cast<short>(egE))),
          _mm256_sub_epi16(dg, _mm256_set1_epi16(static_cast<short>(egO))),
          _mm256_add_epi16(db, _mm256_set1_epi16(static_cast<short>(ebE))),
          _mm256_add_epi16(db, _mm256_set1_epi16(static_cast<short>(ebO)))};
}

// Thirty-two pixels of one row; as StoreRow16 on each 128-bit lane, whose halves are then put
// back in order.
inline void StoreRow32(std::uint16_t* out, __m256i yv, const RowTerms256& t) {
  const __m256i ye = _mm256_and_si256(yv, _mm256_set1_epi16(0x00FF));
  const __m256i yo = _mm256_srli_epi16(yv, 8);
  const __m256i r = _mm256_packus_epi16(_mm256_add_epi16(ye, t.re), _mm256_add_epi16(yo, t.ro));
  const __m256i g = _mm256_packus_epi16(_mm256_sub_epi16(ye, t.ge), _mm256_sub_epi16(yo, t.go));
  const __m256i b = _mm256_packus_epi16(_mm256_add_epi16(ye, t.be), _mm256_add_epi16(yo, t.bo));
  const __m256i hi = _mm256_or_si256(_mm256_and_si256(r, _mm256_set1_epi8(static_cast<char>(0xF8))),
                                     _mm256_and_si256(_mm256_srli_epi16(g, 5), _mm256_set1_epi8(0x07)));
  const __m256i lo =
      _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(g, 3), _mm256_set1_epi8(static_cast<char>(0xE0))),
                      _mm256_and_si256(_mm256_srli_epi16(b, 3), _mm256_set1_epi8(0x1F)));
  const __m256i even = _mm256_unpacklo_epi8(lo, hi);
  const __m256i odd = _mm256_unpackhi_epi8(lo, hi);
  const __m256i first = _mm256_unpacklo_epi16(even, odd);   // pixels 0..7 | 16..23
  const __m256i second = _mm256_unpackhi_epi16(even, odd);  // pixels 8..15 | 24..31
  Store256(out, _mm256_permute2x128_si256(first, second, 0x20));
  Store256(out + 16, _mm256_permute2x128_si256(first, second, 0x31));
}

void ConvertRowPairAvx2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                        const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1) {
  const __m256i c128 = _mm256_set1_epi16(128);
  const __m256i kg = _mm256_set1_epi32((3072 << 16) | 7671);
  const __m256i round = _mm256_set1_epi32(8192);
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i cu = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i / 2))), c128);
    const __m256i cv = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i / 2))), c128);
    // (c * k + 8192) >> 14 is (2c * k + 2^14) >> 15, the rounded high half that mulhrs gives.
    const __m256i dr = _mm256_mulhrs_epi16(_mm256_add_epi16(cv, cv), _mm256_set1_epi16(25802));
    const __m256i db = _mm256_mulhrs_epi16(_mm256_add_epi16(cu, cu), _mm256_set1_epi16(30397));
    __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(cv, cu), kg);
    __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(cv, cu), kg);
    lo = _mm256_srai_epi32(_mm256_add_epi32(lo, round), 14);
    hi = _mm256_srai_epi32(_mm256_add_epi32(hi, round), 14);
    const __m256i dg = _mm256_packs_epi32(lo, hi);
    StoreRow32(out0 + i, Load256(y0 + i), Terms256(dr, dg, db, 2, 3, 0, 6, 0, 4));
    StoreRow32(out1 + i, Load256(y1 + i), Terms256(dr, dg, db, 4, 1, 6, 0, 2, 2));
  }
  if (i + 16 <= n) {
    ConvertStep16(y0 + i, y1 + i, u + i / 2, v + i / 2, out0 + i, out1 + i);
    i += 16;
  }
  if (i < n) ConvertRowPairPlain(y0 + i, y1 + i, u + i / 2, v + i / 2, n - i, out0 + i, out1 + i);
}

// Each block's 16 source bytes, shuffled into neighbour pairs and weighted by one multiply-add
// of unsigned pixels and signed weights: (8 - fx) * p0 + fx * p1.
void ScaleColumnsAvx2(const std::uint8_t* src, const ColumnPlan& plan, std::uint16_t* out) {
  if (plan.blocks == 0) {
    ScaleColumnsGather(src, plan, out);
    return;
  }
  int b = 0;
  for (; b + 2 <= plan.blocks; b += 2) {
    const __m256i s = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + plan.base[b]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + plan.base[b + 1])), 1);
    const __m256i pairs = _mm256_shuffle_epi8(s, Load256(plan.shuffle + 16 * b));
    Store256(out + 8 * b, _mm256_maddubs_epi16(pairs, Load256(plan.weight + 16 * b)));
  }
  if (b < plan.blocks) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + plan.base[b]));
    const __m128i pairs =
        _mm_shuffle_epi8(s, _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.shuffle + 16 * b)));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + 8 * b),
        _mm_maddubs_epi16(pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.weight + 16 * b))));
  }
}

inline __m256i BlendStep16x2(const std::uint16_t* h0, const std::uint16_t* h1, __m256i fy) {
  const __m256i a = Load256(h0);
  const __m256i b = Load256(h1);
  return _mm256_srli_epi16(
      _mm256_add_epi16(_mm256_slli_epi16(a, 3), _mm256_mullo_epi16(_mm256_sub_epi16(b, a), fy)), 6);
}

void BlendRowsAvx2(const std::uint16_t* h0, const std::uint16_t* h1, int fy, int n, std::uint8_t* out) {
  const __m256i f = _mm256_set1_epi16(static_cast<short>(fy));
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i packed =
        _mm256_packus_epi16(BlendStep16x2(h0 + i, h1 + i, f), BlendStep16x2(h0 + i + 16, h1 + i + 16, f));
    Store256(out + i, _mm256_permute4x64_epi64(packed, 0xD8));
  }
  if (i + 16 <= n) {
    BlendStep16(h0 + i, h1 + i, _mm_set1_epi16(static_cast<short>(fy)), out + i);
    i += 16;
  }
  if (i < n) BlendRowsPlain(h0 + i, h1 + i, fy, n - i, out + i);
}

// Columns c .. c + 15 of eight lines: the 8 x 8 transpose on both 128-bit lanes at once.
inline void TurnStep16(const std::uint16_t* line, std::ptrdiff_t stride, int c, std::uint16_t* dst,
                       std::ptrdiff_t rowStep, bool reverse) {
  __m256i r[8];
  for (int i = 0; i < 8; ++i) r[i] = Load256(line + (reverse ? 7 - i : i) * stride + c);
  const __m256i t0 = _mm256_unpacklo_epi16(r[0], r[1]), t1 = _mm256_unpackhi_epi16(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi16(r[2], r[3]), t3 = _mm256_unpackhi_epi16(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi16(r[4], r[5]), t5 = _mm256_unpackhi_epi16(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi16(r[6], r[7]), t7 = _mm256_unpackhi_epi16(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi32(t0, t2), u1 = _mm256_unpackhi_epi32(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi32(t1, t3), u3 = _mm256_unpackhi_epi32(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi32(t4, t6), u5 = _mm256_unpackhi_epi32(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi32(t5, t7), u7 = _mm256_unpackhi_epi32(t5, t7);
  const __m256i o[8] = {_mm256_unpacklo_epi64(u0, u4), _mm256_unpackhi_epi64(u0, u4),
                        _mm256_unpacklo_epi64(u1, u5), _mm256_unpackhi_epi64(u1, u5),
                        _mm256_unpacklo_epi64(u2, u6), _mm256_unpackhi_epi64(u2, u6),
                        _mm256_unpacklo_epi64(u3, u7), _mm256_unpackhi_epi64(u3, u7)};
  for (int j = 0; j < 8; ++j) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (c + j) * rowStep), _mm256_castsi256_si128(o[j]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (c + 8 + j) * rowStep),
                     _mm256_extracti128_si256(o[j], 1));
  }
}

void TurnLinesAvx2(const std::uint16_t* line, std::ptrdiff_t stride, int lines, int n, std::uint16_t* dst,
                   std::ptrdiff_t rowStep, bool reverse) {
  int c = 0;
  if (lines == 8) {
    for (; c + 16 <= n; c += 16) TurnStep16(line, stride, c, dst, rowStep, reverse);
    if (c + 8 <= n) {
      TurnStep8(line, stride, c, dst, rowStep, reverse);
      c += 8;
    }
  }
  if (c < n) TurnLinesPlain(line + c, stride, lines, n - c, dst + c * rowStep, rowStep, reverse);
}

void ReverseLineAvx2(const std::uint16_t* line, int n, std::uint16_t* dstLast) {
  const __m256i order = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,  //
                                         14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  int c = 0;
  for (; c + 16 <= n; c += 16) {
    const __m256i v = _mm256_shuffle_epi8(Load256(line + c), order);
    Store256(dstLast - c - 15, _mm256_permute4x64_epi64(v, 0x4E));
  }
  if (c + 8 <= n) {
    ReverseStep8(line, c, dstLast);
    c += 8;
  }
  if (c < n) ReverseLinePlain(line + c, n - c, dstLast - c);
}

const Kernels kAvx2 = {ConvertRowPairAvx2, ScaleColumnsAvx2, BlendRowsAvx2, TurnLinesAvx2, ReverseLineAvx2};

}  // namespace

const Kernels* Avx2Kernels() {
  return &kAvx2;
}

}  // namespace plover

#else

namespace plover {
const Kernels* Avx2Kernels() {
  return nullptr;
}
}  // namespace plover

#endif
