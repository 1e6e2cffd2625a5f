// Inverse DCT accuracy (IEEE 1180 procedure) and agreement of the plain and SIMD kernels.

#include "dsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace brindle {
namespace {

// The random generator of the IEEE 1180 test procedure.
class Ieee1180Random {
 public:
  explicit Ieee1180Random(long seed) : x_(seed) {}
  long Next(long lo, long hi) {
    x_ = (x_ * 1103515245 + 12345) & 0xFFFFFFFFL;  // keep 32-bit wrap-around on 64-bit longs
    double d = static_cast<double>(x_ & 0x7FFFFFFE) / 2147483647.0;
    return static_cast<long>(d * (hi - lo + 1.0)) + lo;
  }

 private:
  long x_;
};

// Orthonormal DCT basis: kCos.c[k][n] = s(k) cos((2n + 1) k pi / 16).
struct CosTable {
  double c[8][8];
  CosTable() {
    const double pi = std::acos(-1.0);
    for (int k = 0; k < 8; ++k)
      for (int n = 0; n < 8; ++n)
        c[k][n] = (k == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * n + 1) * k * pi / 16.0);
  }
};
const CosTable kCos;

// Separable double-precision transforms: forward makes the test blocks, inverse is the reference.
void ForwardDct(const double* in, double* out) {
  double t[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += kCos.c[u][x] * in[y * 8 + x];
      t[y * 8 + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += kCos.c[v][y] * t[y * 8 + u];
      out[v * 8 + u] = s;
    }
}

void InverseDct(const std::int16_t* in, double* out) {
  double t[64];
  for (int v = 0; v < 8; ++v)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u) s += kCos.c[u][x] * in[v * 8 + u];
      t[v * 8 + x] = s;
    }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v) s += kCos.c[v][y] * t[v * 8 + x];
      out[y * 8 + x] = s;
    }
}

struct Accuracy {
  double peak = 0, worstPixelMse = 0, overallMse = 0, worstPixelMean = 0, overallMean = 0;
};

// Runs the procedure for one range and sign on the transform's unclamped integer output.
Accuracy Measure(long range, int sign, int blocks) {
  Ieee1180Random rng(1);
  double errSum[64] = {}, errSq[64] = {};
  int peak = 0;
  for (int b = 0; b < blocks; ++b) {
    double pixels[64], coef[64];
    for (double& p : pixels) p = static_cast<double>(rng.Next(-range, range)) * sign;
    ForwardDct(pixels, coef);
    std::int16_t q[64];
    for (int i = 0; i < 64; ++i)
      q[i] = static_cast<std::int16_t>(std::clamp(std::lround(coef[i]), -2048L, 2047L));
    double ref[64];
    InverseDct(q, ref);
    std::int32_t out[64];
    IdctResidual(q, out);
    for (int i = 0; i < 64; ++i) {
      int r = static_cast<int>(std::clamp(std::lround(ref[i]), -256L, 255L));
      int e = std::clamp(out[i], -256, 255) - r;
      peak = std::max(peak, std::abs(e));
      errSum[i] += e;
      errSq[i] += e * e;
    }
  }
  Accuracy a;
  a.peak = peak;
  for (int i = 0; i < 64; ++i) {
    a.worstPixelMse = std::max(a.worstPixelMse, errSq[i] / blocks);
    a.worstPixelMean = std::max(a.worstPixelMean, std::fabs(errSum[i]) / blocks);
    a.overallMse += errSq[i] / blocks / 64;
    a.overallMean += errSum[i] / blocks / 64;
  }
  a.overallMean = std::fabs(a.overallMean);
  return a;
}

TEST(Idct, MeetsIeee1180AccuracyForEveryRangeAndSign) {
  const long ranges[] = {256, 5, 300};
  for (long range : ranges)
    for (int sign : {1, -1}) {
      Accuracy a = Measure(range, sign, 10000);
      SCOPED_TRACE(testing::Message() << "range " << range << " sign " << sign);
      EXPECT_LE(a.peak, 1);
      EXPECT_LE(a.worstPixelMse, 0.06);
      EXPECT_LE(a.overallMse, 0.02);
      EXPECT_LE(a.worstPixelMean, 0.015);
      EXPECT_LE(a.overallMean, 0.0015);
    }
}

TEST(Idct, FastReferenceMatchesTheDirectFormula) {
  std::int16_t q[64];
  for (int i = 0; i < 64; ++i) q[i] = static_cast<std::int16_t>((i * 37) % 201 - 100);
  double a[64], b[64];
  InverseDct(q, a);
  ReferenceIdct(q, b);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(a[i], b[i], 1e-9);
}

TEST(Idct, AllZeroInputGivesZeroOutput) {
  std::int16_t zero[64] = {};
  std::uint8_t out[64];
  std::memset(out, 77, sizeof out);
  BestDsp().idctAdd(zero, out, 8);
  for (std::uint8_t v : out) EXPECT_EQ(v, 77);
  PlainDsp().idctPut(zero, out, 8);
  for (std::uint8_t v : out) EXPECT_EQ(v, 0);
}

TEST(Idct, DcOnlyBlockIsFlat) {
  std::int16_t c[64] = {};
  c[0] = 8 * 100;  // DC of a flat block of 100
  std::uint8_t out[64];
  BestDsp().idctPut(c, out, 8);
  for (std::uint8_t v : out) EXPECT_EQ(v, 100);
}

TEST(Idct, PlainAndSimdAgreeOnExtremeAndRandomBlocks) {
  std::mt19937 rng(7);
  for (int iter = 0; iter < 20000; ++iter) {
    std::int16_t c[64] = {};
    int mode = iter % 7;
    for (int i = 0; i < 64; ++i) {
      // Modes 4 to 6 leave the high horizontal and/or vertical frequencies zero, as most coded
      // blocks do: the transform takes shortcuts for them.
      bool lowColumn = i % 8 < 4, lowRow = i / 8 < 4;
      if (mode >= 4) {
        bool inside = mode == 4 ? lowColumn && lowRow : (mode == 5 ? lowColumn : lowRow);
        if (inside) c[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 4096) - 2048);
      } else if (mode == 0)
        c[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 4096) - 2048);  // full range everywhere
      else if (mode == 1)
        c[i] = (rng() % 2) ? 2047 : -2048;
      else if (rng() % 8 == 0)
        c[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 801) - 400);
    }
    std::uint8_t start[8 * 16];
    for (std::uint8_t& v : start) v = static_cast<std::uint8_t>(rng());
    // The SSE2 kernels, and the AVX2 transform where the processor has it.
    for (const Dsp* simd : {&Sse2Dsp(), &BestDsp()}) {
      std::uint8_t a[8 * 16], b[8 * 16];
      std::memcpy(a, start, sizeof a);
      std::memcpy(b, start, sizeof b);
      PlainDsp().idctAdd(c, a, 16);
      simd->idctAdd(c, b, 16);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "add, iteration " << iter;
      PlainDsp().idctPut(c, a, 16);
      simd->idctPut(c, b, 16);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "put, iteration " << iter;
    }
  }
}

TEST(Idct, DcShortcutMatchesTheFullTransformForEveryDc) {
  for (int dc = -2048; dc <= 2047; ++dc) {
    std::int16_t c[64] = {};
    c[0] = static_cast<std::int16_t>(dc);
    for (const Dsp* dsp : {&PlainDsp(), &Sse2Dsp(), &BestDsp()}) {
      std::uint8_t a[8 * 8], b[8 * 8];
      for (int i = 0; i < 64; ++i) a[i] = b[i] = static_cast<std::uint8_t>(i * 4);
      dsp->idctAdd(c, a, 8);
      dsp->dcAdd(dc, b, 8);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << dc;
      std::memset(a, 7, sizeof a);
      std::memset(b, 9, sizeof b);
      dsp->idctPut(c, a, 8);
      dsp->dcPut(dc, b, 8);
      ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "put " << dc;
    }
  }
}

TEST(Predict, PlainAndSimdAgreeForEveryModeSizeAndRounding) {
  std::mt19937 rng(3);
  std::uint8_t src[40 * 40];
  for (std::uint8_t& v : src) v = static_cast<std::uint8_t>(rng());
  for (int size : {8, 16})
    for (int mode = 0; mode < 4; ++mode)
      for (int rounding = 0; rounding < 2; ++rounding) {
        std::uint8_t a[16 * 24] = {}, b[16 * 24] = {};
        PlainDsp().predict(a, 24, src + 41, 40, size, size, mode, rounding);
        BestDsp().predict(b, 24, src + 41, 40, size, size, mode, rounding);
        EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << size << " " << mode << " " << rounding;
      }
}

TEST(Predict, HalfSampleAveragesFollowTheRoundingType) {
  // Two samples 1 and 2: the horizontal half position is 2 with rounding 0 and 1 with rounding 1;
  // four samples 1, 2, 2, 2 give (7 + 2) >> 2 = 2 and (7 + 1) >> 2 = 2; 1, 1, 1, 2 give 1 and 1.
  std::uint8_t src[2 * 32] = {};
  src[0] = 1;
  src[1] = 2;
  src[32] = 2;
  src[33] = 2;
  for (const Dsp* dsp : {&PlainDsp(), &BestDsp()}) {
    std::uint8_t out[8 * 8];
    dsp->predict(out, 8, src, 32, 8, 1, 1, 0);
    EXPECT_EQ(out[0], 2);
    dsp->predict(out, 8, src, 32, 8, 1, 1, 1);
    EXPECT_EQ(out[0], 1);
    dsp->predict(out, 8, src, 32, 8, 1, 3, 0);
    EXPECT_EQ(out[0], 2);
    dsp->predict(out, 8, src, 32, 8, 1, 2, 1);
    EXPECT_EQ(out[0], 1);  // (1 + 2) >> 1
  }
}

}  // namespace
}  // namespace brindle
