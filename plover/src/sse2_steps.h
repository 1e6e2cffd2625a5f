#pragma once
// Steps of the vector loops on 128-bit registers, shared by the SSE2 and the AVX2 loops. Every
// function has internal linkage so that each translation unit keeps its own copy (the AVX2 one in
// VEX encoding) and neither can stand in for the other.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels.h"

namespace plover {
namespace {

// ((a * ka + b * kb + 8192) >> 14) for eight signed 16-bit pairs, in 32-bit precision.
inline __m128i MulAdd14(__m128i a, __m128i b, int ka, int kb) {
  const __m128i k = _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(kb) << 16) | (ka & 0xFFFF)));
  const __m128i round = _mm_set1_epi32(8192);
  __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), k);
  __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k);
  lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 14);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 14);
  return _mm_packs_epi32(lo, hi);
}

// (c * k + 8192) >> 14 for eight signed 16-bit c (|c| <= 128) and 0 < k < 32768: with a = 4c the
// product a * k is hi * 65536 + lo, and adding 32768 before the shift carries one exactly when the
// unsigned low half has its top bit set.
inline __m128i MulRound14(__m128i c, short k) {
  const __m128i a = _mm_slli_epi16(c, 2);
  const __m128i kv = _mm_set1_epi16(k);
  return _mm_add_epi16(_mm_mulhi_epi16(a, kv), _mm_srli_epi16(_mm_mullo_epi16(a, kv), 15));
}

// Chroma terms of eight 2 x 2 blocks with the dither of one row folded in: the red, green and
// blue offsets of the even (left) and the odd (right) pixels.
struct RowTerms {
  __m128i re, ro, ge, go, be, bo;
};

inline RowTerms Terms(__m128i dr, __m128i dg, __m128i db, int erE, int egE, int ebE, int erO, int egO,
                      int ebO) {
  // Green is Y - dg + eg: the offset kept is dg - eg, subtracted.
  return {_mm_add_epi16(dr, _mm_set1_epi16(static_cast<short>(erE))),
          _mm_add_epi16(dr, _mm_set1_epi16(static_cast<short>(erO))),
          _mm_sub_epi16(dg, _mm_set1_epi16(static_cast<short>(egE))),
          _mm_sub_epi16(dg, _mm_set1_epi16(static_cast<short>(egO))),
          _mm_add_epi16(db, _mm_set1_epi16(static_cast<short>(ebE))),
          _mm_add_epi16(db, _mm_set1_epi16(static_cast<short>(ebO)))};
}

// Sixteen RGB565 pixels of one row from its sixteen luma bytes. The unsigned saturation of the
// byte packs is the clamp to 0..255; the pixel's high byte is R & 0xF8 | G >> 5 and its low byte
// (G << 3) & 0xE0 | B >> 3, built on bytes before the even and odd pixels are interleaved.
inline void StoreRow16(std::uint16_t* out, __m128i yv, const RowTerms& t) {
  const __m128i ye = _mm_and_si128(yv, _mm_set1_epi16(0x00FF));
  const __m128i yo = _mm_srli_epi16(yv, 8);
  const __m128i r = _mm_packus_epi16(_mm_add_epi16(ye, t.re), _mm_add_epi16(yo, t.ro));
  const __m128i g = _mm_packus_epi16(_mm_sub_epi16(ye, t.ge), _mm_sub_epi16(yo, t.go));
  const __m128i b = _mm_packus_epi16(_mm_add_epi16(ye, t.be), _mm_add_epi16(yo, t.bo));
  const __m128i hi = _mm_or_si128(_mm_and_si128(r, _mm_set1_epi8(static_cast<char>(0xF8))),
                                  _mm_and_si128(_mm_srli_epi16(g, 5), _mm_set1_epi8(0x07)));
  const __m128i lo = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(g, 3), _mm_set1_epi8(static_cast<char>(0xE0))),
                                  _mm_and_si128(_mm_srli_epi16(b, 3), _mm_set1_epi8(0x1F)));
  const __m128i even = _mm_unpacklo_epi8(lo, hi);
  const __m128i odd = _mm_unpackhi_epi8(lo, hi);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(even, odd));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi16(even, odd));
}

// Sixteen pixels of two rows sharing eight chroma samples.
inline void ConvertStep16(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                          const std::uint8_t* v, std::uint16_t* out0, std::uint16_t* out1) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = _mm_set1_epi16(128);
  const __m128i cu =
      _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), zero), c128);
  const __m128i cv =
      _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), zero), c128);
  const __m128i dr = MulRound14(cv, 25802);
  const __m128i dg = MulAdd14(cv, cu, 7671, 3072);
  const __m128i db = MulRound14(cu, 30397);
  // Dither offsets (red, green, blue) by place in the block: (2,3,0) (6,0,4) / (4,1,6) (0,2,2).
  StoreRow16(out0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y0)),
             Terms(dr, dg, db, 2, 3, 0, 6, 0, 4));
  StoreRow16(out1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1)),
             Terms(dr, dg, db, 4, 1, 6, 0, 2, 2));
}

inline int Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Outputs k .. k + 7 of the horizontal pass: each neighbour pair is one 16-bit load.
inline __m128i ScaleStep8(const std::uint8_t* src, const ColumnPlan& plan, int k) {
  const std::int32_t* l = plan.left + k;
  __m128i v = _mm_cvtsi32_si128(Load16(src + l[0]));
  v = _mm_insert_epi16(v, Load16(src + l[1]), 1);
  v = _mm_insert_epi16(v, Load16(src + l[2]), 2);
  v = _mm_insert_epi16(v, Load16(src + l[3]), 3);
  v = _mm_insert_epi16(v, Load16(src + l[4]), 4);
  v = _mm_insert_epi16(v, Load16(src + l[5]), 5);
  v = _mm_insert_epi16(v, Load16(src + l[6]), 6);
  v = _mm_insert_epi16(v, Load16(src + l[7]), 7);
  const __m128i p0 = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
  const __m128i p1 = _mm_srli_epi16(v, 8);
  const __m128i fx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.fx + k));
  return _mm_add_epi16(_mm_slli_epi16(p0, 3), _mm_mullo_epi16(_mm_sub_epi16(p1, p0), fx));
}

// Horizontal pass by 16-bit loads, for rows the byte-shuffle blocks cannot serve.
inline void ScaleColumnsGather(const std::uint8_t* src, const ColumnPlan& plan, std::uint16_t* out) {
  int k = 0;
  if (plan.pairs) {
    for (; k + 8 <= plan.columns; k += 8)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), ScaleStep8(src, plan, k));
  }
  ScaleColumnsPlain(src, plan, k, out);
}

// (8 * h0 + fy * (h1 - h0)) >> 6 for eight values: the sum stays within 0..16320, so 16-bit
// arithmetic that wraps in between still ends exact.
inline __m128i BlendStep8(const std::uint16_t* h0, const std::uint16_t* h1, __m128i fy) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h0));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h1));
  return _mm_srli_epi16(_mm_add_epi16(_mm_slli_epi16(a, 3), _mm_mullo_epi16(_mm_sub_epi16(b, a), fy)), 6);
}

inline void BlendStep16(const std::uint16_t* h0, const std::uint16_t* h1, __m128i fy, std::uint8_t* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(BlendStep8(h0, h1, fy), BlendStep8(h0 + 8, h1 + 8, fy)));
}

// Transposes the 8 x 8 block of 16-bit values r[0..7] in place: r[j] becomes column j.
inline void Transpose8x8(__m128i r[8]) {
  const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
  const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
  const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
  const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
  r[0] = _mm_unpacklo_epi64(u0, u4);
  r[1] = _mm_unpackhi_epi64(u0, u4);
  r[2] = _mm_unpacklo_epi64(u1, u5);
  r[3] = _mm_unpackhi_epi64(u1, u5);
  r[4] = _mm_unpacklo_epi64(u2, u6);
  r[5] = _mm_unpackhi_epi64(u2, u6);
  r[6] = _mm_unpacklo_epi64(u3, u7);
  r[7] = _mm_unpackhi_epi64(u3, u7);
}

// Columns c .. c + 7 of eight lines into eight destination rows.
inline void TurnStep8(const std::uint16_t* line, std::ptrdiff_t stride, int c, std::uint16_t* dst,
                      std::ptrdiff_t rowStep, bool reverse) {
  __m128i r[8];
  for (int i = 0; i < 8; ++i)
    r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + (reverse ? 7 - i : i) * stride + c));
  Transpose8x8(r);
  for (int j = 0; j < 8; ++j) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (c + j) * rowStep), r[j]);
}

// line[c .. c + 7] reversed into dstLast[-c - 7 .. -c].
inline void ReverseStep8(const std::uint16_t* line, int c, std::uint16_t* dstLast) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + c));
  v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dstLast - c - 7), _mm_shuffle_epi32(v, 0x4E));
}

}  // namespace
}  // namespace plover
