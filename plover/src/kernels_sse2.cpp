// Vector versions of the inner loops; each gives exactly the bytes of its plain twin.
#include <cstdint>

#include "kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace plover {
namespace {

inline __m128i Clamp255(__m128i x) {
  return _mm_min_epi16(_mm_max_epi16(x, _mm_setzero_si128()), _mm_set1_epi16(255));
}

// RGB565 of eight pixels held as signed 16-bit components (unclamped).
inline __m128i Pack565(__m128i r, __m128i g, __m128i b) {
  r = _mm_slli_epi16(_mm_and_si128(Clamp255(r), _mm_set1_epi16(0xF8)), 8);
  g = _mm_slli_epi16(_mm_and_si128(Clamp255(g), _mm_set1_epi16(0xFC)), 3);
  b = _mm_srli_epi16(Clamp255(b), 3);
  return _mm_or_si128(_mm_or_si128(r, g), b);
}

// ((a * ka + b * kb + 8192) >> 14) for eight signed 16-bit pairs, in 32-bit precision.
inline __m128i MulAdd14(__m128i a, __m128i b, int ka, int kb) {
  const __m128i k = _mm_set1_epi32((kb << 16) | (ka & 0xFFFF));
  const __m128i round = _mm_set1_epi32(8192);
  __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), k);
  __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), k);
  lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 14);
  hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 14);
  return _mm_packs_epi32(lo, hi);
}

inline void StoreRow(std::uint16_t* out, const __m128i yv, __m128i dr, __m128i dg, __m128i db, int erE, int egE,
                     int ebE, int erO, int egO, int ebO) {
  const __m128i mask = _mm_set1_epi16(0x00FF);
  const __m128i ye = _mm_and_si128(yv, mask);
  const __m128i yo = _mm_srli_epi16(yv, 8);
  const __m128i pe = Pack565(_mm_add_epi16(_mm_add_epi16(ye, dr), _mm_set1_epi16(static_cast<short>(erE))),
                             _mm_add_epi16(_mm_sub_epi16(ye, dg), _mm_set1_epi16(static_cast<short>(egE))),
                             _mm_add_epi16(_mm_add_epi16(ye, db), _mm_set1_epi16(static_cast<short>(ebE))));
  const __m128i po = Pack565(_mm_add_epi16(_mm_add_epi16(yo, dr), _mm_set1_epi16(static_cast<short>(erO))),
                             _mm_add_epi16(_mm_sub_epi16(yo, dg), _mm_set1_epi16(static_cast<short>(egO))),
                             _mm_add_epi16(_mm_add_epi16(yo, db), _mm_set1_epi16(static_cast<short>(ebO))));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(pe, po));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi16(pe, po));
}

}  // namespace

void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                        const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = _mm_set1_epi16(128);
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i cu =
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i / 2)), zero), c128);
    const __m128i cv =
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i / 2)), zero), c128);
    // The rounding constant is added inside MulAdd14, so the second factor pairs are (x, 0).
    const __m128i dr = MulAdd14(cv, zero, 25802, 0);
    const __m128i dg = MulAdd14(cv, cu, 7671, 3072);
    const __m128i db = MulAdd14(cu, zero, 30397, 0);
    const __m128i ya = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y0 + i));
    const __m128i yb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1 + i));
    StoreRow(out0 + i, ya, dr, dg, db, 2, 3, 0, 6, 0, 4);
    StoreRow(out1 + i, yb, dr, dg, db, 4, 1, 6, 0, 2, 2);
  }
  if (i < n) ConvertRowPairPlain(y0 + i, y1 + i, u + i / 2, v + i / 2, n - i, out0 + i, out1 + i);
}

void BlendRowsSse2(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_set1_epi16(static_cast<short>(8 - fy));
  const __m128i b = _mm_set1_epi16(static_cast<short>(fy));
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + i));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + i));
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), a),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(q, zero), b));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), a),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(q, zero), b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), hi);
  }
  if (i < n) BlendRowsPlain(r0 + i, r1 + i, fy, n - i, out + i);
}

}  // namespace plover

#else

namespace plover {
void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                        const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1) {
  ConvertRowPairPlain(y0, y1, u, v, n, out0, out1);
}
void BlendRowsSse2(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out) {
  BlendRowsPlain(r0, r1, fy, n, out);
}
}  // namespace plover

#endif
