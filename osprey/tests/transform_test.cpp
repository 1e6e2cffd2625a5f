// The fixed-point transform against direct evaluation in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "aac_tables.h"
#include "decoder.h"
#include "filterbank.h"
#include "filterbank_kernels.h"

namespace osprey {
namespace {

std::vector<double> DirectDctIv(const std::vector<int32_t>& x) {
  const int m = static_cast<int>(x.size());
  std::vector<double> u(m);
  for (int n = 0; n < m; ++n) {
    double s = 0;
    for (int k = 0; k < m; ++k) s += x[k] * std::cos(M_PI / m * (n + 0.5) * (k + 0.5));
    u[n] = s;
  }
  return u;
}

TEST(OspreyTransform, DctIvMatchesDirectEvaluation) {
  std::mt19937 rng(5);
  for (int m : {1024, 128}) {
    // Inputs whose absolute sum is just under the 2^30 bound.
    std::vector<int32_t> x(m);
    int64_t sum = 0;
    for (int k = 0; k < m; ++k) {
      x[k] = static_cast<int32_t>(rng() % 2000001) - 1000000;
      sum += std::abs(x[k]);
    }
    const double scale = double(1 << 29) / sum;
    for (int32_t& v : x) v = static_cast<int32_t>(v * scale);
    const std::vector<double> expected = DirectDctIv(x);
    std::vector<int32_t> got = x;
    DctIv(got.data(), m);
    double err = 0, sig = 0;
    for (int n = 0; n < m; ++n) {
      err += (got[n] - expected[n]) * (got[n] - expected[n]);
      sig += expected[n] * expected[n];
    }
    EXPECT_GT(10 * std::log10(sig / err), 120.0) << "m=" << m;
  }
}

// Full-scale worst cases: a single coefficient and a flat spectrum whose
// transform peaks in one sample (a click). Neither may wrap around.
TEST(OspreyTransform, ExtremeSpectraSaturateInsteadOfWrapping) {
  std::vector<int32_t> coef(1024), out(2048);
  for (int32_t& v : coef) v = INT32_MAX;
  SynthesizeWindowed(coef.data(), kOnlyLong, kSineWindow, kSineWindow, out.data());
  // Sum of 1024 equal cosines: large, with a defined sign pattern; no value
  // may be the result of an overflow into the opposite sign.
  int64_t energy = 0;
  for (int32_t v : out) energy += std::abs(int64_t{v});
  EXPECT_GT(energy, 0);

  std::vector<int32_t> single(1024, 0);
  single[10] = 1 << 20;
  SynthesizeWindowed(single.data(), kOnlyLong, kSineWindow, kSineWindow, out.data());
  // x[n] = 2/N * X * cos(...): peak 2^20 * 2^-10 = 1024 (times 2^-2 for the
  // spectral fraction bits) in units of output samples.
  int32_t peak = 0;
  for (int32_t v : out) peak = std::max(peak, std::abs(v));
  EXPECT_NEAR(peak / double(1 << kTimeFracBits), 256.0, 2.0);
}

TEST(OspreyTransform, AllZeroSpectrumGivesSilence) {
  std::vector<int32_t> coef(1024, 0), out(2048, 5);
  for (int seq : {kOnlyLong, kLongStart, kEightShort, kLongStop}) {
    SynthesizeWindowed(coef.data(), seq, kKbdWindow, kSineWindow, out.data());
    for (int32_t v : out) ASSERT_EQ(v, 0);
  }
}

// The AVX2 kernels must reproduce the portable ones exactly, saturation included:
// every window sequence and shape pair over spectra from silence-near to full scale.
TEST(OspreyTransform, SimdKernelsMatchPortableBitForBit) {
  if (&ActiveKernels() == &kPortableKernels) GTEST_SKIP() << "no SIMD kernels on this processor";
  std::mt19937 rng(29);
  int cases = 0;
  for (int magnitude : {0, 3, 12, 20, 28, 31}) {
    for (int seq : {kOnlyLong, kLongStart, kEightShort, kLongStop}) {
      for (int shapes = 0; shapes < 4; ++shapes) {
        std::vector<int32_t> coef(1024);
        for (int32_t& v : coef) {
          const int64_t r = static_cast<int64_t>(rng() % (2ull << magnitude)) - (int64_t{1} << magnitude);
          v = static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
        }
        if (magnitude == 31) coef[7] = INT32_MIN;
        if (shapes == 3) std::fill(coef.begin() + 256, coef.begin() + 512, 0);  // a silent short window
        std::vector<int32_t> a = coef, b = coef, outA(2048), outB(2048);
        ForcePortableKernels(true);
        SynthesizeWindowed(a.data(), seq, shapes & 1, shapes >> 1, outA.data());
        ForcePortableKernels(false);
        SynthesizeWindowed(b.data(), seq, shapes & 1, shapes >> 1, outB.data());
        ASSERT_EQ(outA, outB) << "magnitude 2^" << magnitude << " sequence " << seq << " shapes " << shapes;
        ++cases;
      }
    }
  }
  // Full-scale spectra whose windowed output saturates.
  for (int seq : {kOnlyLong, kEightShort}) {
    std::vector<int32_t> a(1024, INT32_MAX), b(1024, INT32_MAX), outA(2048), outB(2048);
    ForcePortableKernels(true);
    SynthesizeWindowed(a.data(), seq, kKbdWindow, kSineWindow, outA.data());
    ForcePortableKernels(false);
    SynthesizeWindowed(b.data(), seq, kKbdWindow, kSineWindow, outB.data());
    ASSERT_EQ(outA, outB) << "sequence " << seq;
  }
  EXPECT_EQ(cases, 6 * 4 * 4);
}

// Mid/side on values at the edges of the 32-bit range saturates each sum and difference.
TEST(OspreyStereo, MidSideSaturatesSumAndDifference) {
  ChannelStream left, right;
  left.info.maxSfb = 49;
  left.info.numSwb = kNumSwbLong[4];
  left.info.swbOffset = kSwbOffsetLong[4];  // 44.1 kHz
  right.info = left.info;
  uint8_t msUsed[8][kMaxBands] = {};
  for (int b = 0; b < 49; ++b) msUsed[0][b] = b % 5 != 0;
  std::vector<int32_t> l(1024), r(1024);
  const int32_t edge[] = {INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1, 0, -1, 1, 1 << 30, -(1 << 30)};
  std::mt19937 rng(3);
  for (int k = 0; k < 1024; ++k) {
    l[k] = edge[rng() % 9];
    r[k] = k % 7 == 0 ? static_cast<int32_t>(rng()) : edge[rng() % 9];
  }
  std::vector<int32_t> wantL = l, wantR = r;
  for (int b = 0; b < 49; ++b) {
    if (!msUsed[0][b]) continue;
    for (int k = kSwbOffsetLong[4][b]; k < kSwbOffsetLong[4][b + 1]; ++k) {
      const int64_t m = l[k], sd = r[k];
      wantL[k] = static_cast<int32_t>(std::clamp<int64_t>(m + sd, INT32_MIN, INT32_MAX));
      wantR[k] = static_cast<int32_t>(std::clamp<int64_t>(m - sd, INT32_MIN, INT32_MAX));
    }
  }
  ApplyMidSide(left, right, msUsed, l.data(), r.data());
  EXPECT_EQ(l, wantL);
  EXPECT_EQ(r, wantR);
}

}  // namespace
}  // namespace osprey
