// AVX2 versions of the filterbank kernels. Only functions marked with the avx2
// target use the instructions; the rest of the library stays baseline x86-64, and
// ActiveKernels() picks these only on processors that have AVX2.
//
// Each product of the scalar code, (a * c + b * s + 2^29) >> 30 on 64-bit values
// truncated to 32 bits, is bits 30..61 of the 64-bit sum: a logical shift finds
// them as well as an arithmetic one, so the results are identical to the last bit.
#include "filterbank_kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#define OSPREY_AVX2 __attribute__((target("avx2")))

namespace osprey {

namespace {

OSPREY_AVX2 inline __m256i Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

OSPREY_AVX2 inline void Store(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}

// Four complex values v = (re, im) pairs times four Q30 twiddles w = (c, s) pairs:
// (re c + im s, im c - re s), rounded, as the scalar code computes them.
OSPREY_AVX2 inline __m256i RotateQ30(__m256i v, __m256i w) {
  const __m256i round = _mm256_set1_epi64x(int64_t{1} << 29);
  const __m256i ws = _mm256_srli_epi64(w, 32);
  const __m256i vs = _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1));
  const __m256i re =
      _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epi32(v, w), _mm256_mul_epi32(vs, ws)), round);
  const __m256i im =
      _mm256_add_epi64(_mm256_sub_epi64(_mm256_mul_epi32(vs, w), _mm256_mul_epi32(v, ws)), round);
  // Bits 30..61: of `re` into the low half of each 64-bit lane, of `im` into the high half.
  return _mm256_blend_epi32(_mm256_srli_epi64(re, 30), _mm256_slli_epi64(im, 2), 0xAA);
}

OSPREY_AVX2 int64_t AbsSum(const int32_t* x, int m) {
  __m256i sum = _mm256_setzero_si256();
  for (int k = 0; k < m; k += 8) {
    // |INT32_MIN| comes out as 0x80000000, right once widened without sign.
    const __m256i a = _mm256_abs_epi32(Load(x + k));
    sum = _mm256_add_epi64(sum, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(a)));
    sum = _mm256_add_epi64(sum, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(a, 1)));
  }
  alignas(32) int64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sum);
  return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}

OSPREY_AVX2 void Scale(int32_t* x, int m, int shift) {
  if (shift > 0) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (int k = 0; k < m; k += 8) Store(x + k, _mm256_sll_epi32(Load(x + k), count));
    return;
  }
  // round(v / 2^r) = (v >> r) + bit r-1 of v, without the overflow of v + 2^(r-1).
  const __m128i r = _mm_cvtsi32_si128(-shift);
  const __m128i r1 = _mm_cvtsi32_si128(-shift - 1);
  const __m256i one = _mm256_set1_epi32(1);
  for (int k = 0; k < m; k += 8) {
    const __m256i v = Load(x + k);
    Store(x + k, _mm256_add_epi32(_mm256_sra_epi32(v, r), _mm256_and_si256(_mm256_sra_epi32(v, r1), one)));
  }
}

OSPREY_AVX2 void PreTwiddle(const int32_t* x, int m, const int32_t* pre, const uint16_t* rev, int32_t* z) {
  // b[j] = x[m-1-2j]: four of them sit in the odd lanes of x[m-8-2j .. m-1-2j], last first.
  const __m256i reverseOdd = _mm256_setr_epi32(0, 7, 0, 5, 0, 3, 0, 1);
  for (int j = 0; j < m / 2; j += 4) {
    const __m256i a = Load(x + 2 * j);
    const __m256i b = _mm256_permutevar8x32_epi32(Load(x + m - 8 - 2 * j), reverseOdd);
    const __m256i v = RotateQ30(_mm256_blend_epi32(a, b, 0xAA), Load(pre + 2 * j));
    alignas(32) int64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    for (int i = 0; i < 4; ++i) __builtin_memcpy(z + 2 * rev[j + i], &lanes[i], 8);
  }
}

// The first two stages as one radix-4 pass without multiplications: per group
// of four points z0..z3, a = z0 + z1, b = z0 - z1, c = z2 + z3, d = z2 - z3, then
// (a + c, b - i d, a - c, b + i d).
OSPREY_AVX2 void Radix4Pass(int32_t* z, int n) {
  const __m256i negOdd = _mm256_setr_epi32(1, 1, -1, -1, 1, 1, -1, -1);
  const __m256i negLastRe = _mm256_setr_epi32(1, 1, 1, -1, 1, 1, 1, -1);
  const __m256i negHigh = _mm256_setr_epi32(1, 1, 1, 1, -1, -1, -1, -1);
  for (int i = 0; i < n; i += 4) {
    const __m256i v = Load(z + 2 * i);  // z0 z1 | z2 z3
    const __m256i first = _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256i second = _mm256_sign_epi32(_mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 2, 3, 2)), negOdd);
    const __m256i s = _mm256_add_epi32(first, second);  // a b | c d
    // e = (c, -i d) = (cr, ci, di, -dr) in both halves; (a, b) in both halves.
    const __m256i e = _mm256_sign_epi32(_mm256_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 1, 0)), negLastRe);
    const __m256i high = _mm256_permute2x128_si256(e, e, 0x11);
    const __m256i low = _mm256_permute2x128_si256(s, s, 0x00);
    Store(z + 2 * i, _mm256_add_epi32(low, _mm256_sign_epi32(high, negHigh)));
  }
}

OSPREY_AVX2 void Fft(int32_t* z, int n, const int32_t* stageTwiddles) {
  Radix4Pass(z, n);
  for (int len = 8; len <= n; len <<= 1) {
    const int half = len >> 1;
    const int32_t* tw = stageTwiddles + 2 * StageTwiddleOffset(len);
    for (int base = 0; base < n; base += len) {
      int32_t* a = z + 2 * base;
      int32_t* b = a + 2 * half;
      for (int k = 0; k < half; k += 4) {
        const __m256i x = RotateQ30(Load(b + 2 * k), Load(tw + 2 * k));
        const __m256i av = Load(a + 2 * k);
        Store(a + 2 * k, _mm256_add_epi32(av, x));
        Store(b + 2 * k, _mm256_sub_epi32(av, x));
      }
    }
  }
}

OSPREY_AVX2 void PostTwiddle(const int32_t* z, int m, const int32_t* post, int32_t* x) {
  // Block i of four results p = 4i .. 4i+3 fills the even lanes of x[8i .. 8i+7];
  // the odd lanes there take -Im of the mirrored block j = m/8 - 1 - i, last first.
  const __m256i mirror = _mm256_setr_epi32(0, 7, 0, 5, 0, 3, 0, 1);
  const int blocks = m / 8;
  for (int i = 0; i < blocks / 2; ++i) {
    const int j = blocks - 1 - i;
    const __m256i vi = RotateQ30(Load(z + 8 * i), Load(post + 8 * i));
    const __m256i vj = RotateQ30(Load(z + 8 * j), Load(post + 8 * j));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i mi = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(vj, mirror));
    const __m256i mj = _mm256_sub_epi32(zero, _mm256_permutevar8x32_epi32(vi, mirror));
    Store(x + 8 * i, _mm256_blend_epi32(vi, mi, 0xAA));
    Store(x + 8 * j, _mm256_blend_epi32(vj, mj, 0xAA));
  }
}

// sat32(round(x * w / 2^shift)) for eight values; `bias` is 2^(63 - shift).
// The 64-bit shift is arithmetic through an offset of 2^63: (p + 2^63) >>> s - 2^(63-s).
OSPREY_AVX2 inline __m256i WindowEight(__m256i x, __m256i w, __m128i count, __m256i round, __m256i bias) {
  const __m256i sign = _mm256_set1_epi64x(INT64_MIN);
  const __m256i hi = _mm256_set1_epi64x(INT32_MAX);
  const __m256i lo = _mm256_set1_epi64x(INT32_MIN);
  __m256i even = _mm256_add_epi64(_mm256_mul_epi32(x, w), round);
  __m256i odd = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(x, 32), _mm256_srli_epi64(w, 32)), round);
  even = _mm256_sub_epi64(_mm256_srl_epi64(_mm256_xor_si256(even, sign), count), bias);
  odd = _mm256_sub_epi64(_mm256_srl_epi64(_mm256_xor_si256(odd, sign), count), bias);
  even = _mm256_blendv_epi8(even, hi, _mm256_cmpgt_epi64(even, hi));
  even = _mm256_blendv_epi8(even, lo, _mm256_cmpgt_epi64(lo, even));
  odd = _mm256_blendv_epi8(odd, hi, _mm256_cmpgt_epi64(odd, hi));
  odd = _mm256_blendv_epi8(odd, lo, _mm256_cmpgt_epi64(lo, odd));
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

// a + b saturated to 32 bits.
OSPREY_AVX2 inline __m256i AddSat32(__m256i a, __m256i b) {
  const __m256i sum = _mm256_add_epi32(a, b);
  const __m256i overflow = _mm256_and_si256(_mm256_xor_si256(sum, a), _mm256_xor_si256(sum, b));
  const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(INT32_MAX));
  return _mm256_blendv_epi8(sum, limit, _mm256_srai_epi32(overflow, 31));
}

template <bool kAdd>
OSPREY_AVX2 inline void WindowRun(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out) {
  const __m128i c = _mm_cvtsi32_si128(shift);
  const __m256i round = _mm256_set1_epi64x(int64_t{1} << (shift - 1));
  const __m256i bias = _mm256_set1_epi64x(int64_t{1} << (63 - shift));
  const __m256i unity = _mm256_set1_epi32(1 << 30);
  for (int n = 0; n < count; n += 8) {
    const __m256i v = WindowEight(Load(x + n), w != nullptr ? Load(w + n) : unity, c, round, bias);
    Store(out + n, kAdd ? AddSat32(Load(out + n), v) : v);
  }
}

OSPREY_AVX2 void Window(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out) {
  WindowRun<false>(x, w, count, shift, out);
}

OSPREY_AVX2 void WindowAdd(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out) {
  WindowRun<true>(x, w, count, shift, out);
}

const FilterbankKernels kAvx2{AbsSum, Scale, PreTwiddle, Fft, PostTwiddle, Window, WindowAdd};

}  // namespace

const FilterbankKernels* const kAvx2Kernels = &kAvx2;

}  // namespace osprey

#else

namespace osprey {
const FilterbankKernels* const kAvx2Kernels = nullptr;
}  // namespace osprey

#endif
