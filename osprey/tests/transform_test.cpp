// The fixed-point transform against direct evaluation in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "filterbank.h"

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

}  // namespace
}  // namespace osprey
