// The inner loops of the inverse transform and the windowing, in a portable
// version and an AVX2 version chosen at run time. Both compute every value with
// the same integer operations, so their output is identical bit for bit.
#pragma once

#include <cstdint>

namespace osprey {

struct FilterbankKernels {
  // |x[0]| + ... + |x[m-1]| for m a multiple of 8.
  int64_t (*absSum)(const int32_t* x, int m);
  // x <<= shift (shift > 0, bits shifted out are lost) or x = round(x / 2^-shift).
  void (*scale)(int32_t* x, int m, int shift);
  // (x[2j] + i x[m-1-2j]) * exp(-i pi (j + 1/4) / m) into z[2 rev[j]], j < m/2.
  void (*preTwiddle)(const int32_t* x, int m, const int32_t* pre, const uint16_t* rev, int32_t* z);
  // The complex FFT of n = 64 or 512 points over bit-reversed input; stageTwiddles
  // holds, for len = 8, 16, .. 512, the len/2 twiddles exp(-2 pi i k / len) as (cos, sin).
  void (*fft)(int32_t* z, int n, const int32_t* stageTwiddles);
  // x[2p] = Re(z[p] w[p]), x[m-1-2p] = -Im(z[p] w[p]), p < m/2.
  void (*postTwiddle)(const int32_t* z, int m, const int32_t* post, int32_t* x);
  // out[n] = sat32(round(x[n] * w[n] / 2^shift)), count a multiple of 8; with
  // w == nullptr the window is one (2^30).
  void (*window)(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out);
  // out[n] = sat32(out[n] + sat32(round(x[n] * w[n] / 2^shift))).
  void (*windowAdd)(const int32_t* x, const uint32_t* w, int count, int shift, int32_t* out);
};

// Offset of the twiddles of the stage of length len (8..512) in stageTwiddles, in (cos, sin) pairs.
constexpr int StageTwiddleOffset(int len) {
  return len / 2 - 4;
}

extern const FilterbankKernels kPortableKernels;
// Null when the compiler cannot build the AVX2 kernels.
extern const FilterbankKernels* const kAvx2Kernels;

// The kernels in use: AVX2 where the processor has it.
const FilterbankKernels& ActiveKernels();

// Chooses the portable kernels even where AVX2 is available (tests compare the two).
void ForcePortableKernels(bool force);

}  // namespace osprey
