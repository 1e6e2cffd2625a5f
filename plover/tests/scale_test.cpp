#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "../src/kernels.h"
#include "picture.h"
#include "plover/plover.h"

namespace {

// One plane scaled with the four weight tables, pixel by pixel; neighbours that would fall outside
// the crop rectangle move one step in, on both axes.
std::vector<std::uint8_t> ModelScale(const std::vector<std::uint8_t>& src, int pitch, int height, int w,
                                     int d, int cx, int cy, int cw, int ch) {
  if (cx + cw > pitch) cw = pitch - cx;
  if (cy + ch > height) ch = height - cy;
  std::vector<std::uint8_t> out(static_cast<size_t>(w) * d);
  const std::int64_t sx = (static_cast<std::int64_t>(cw) << 18) / w,
                     sy = (static_cast<std::int64_t>(ch) << 18) / d;
  auto at = [&](int row, int col) { return src[static_cast<size_t>(row) * pitch + col]; };
  std::int64_t y = 1;
  for (int j = 0; j < std::max(d - 1, 1); ++j, y += sy) {
    int yi = static_cast<int>(y >> 18), fy = static_cast<int>((y >> 15) & 7);
    int r0 = cy + yi, r1 = r0 + 1;
    if (yi >= ch - 1) r0 = ch >= 2 ? cy + ch - 2 : cy, r1 = ch >= 2 ? r0 + 1 : r0;
    std::int64_t x = 1;
    for (int k = 0; k < std::max(w - 1, 1); ++k, x += sx) {
      int xi = static_cast<int>(x >> 18), fx = static_cast<int>((x >> 15) & 7);
      int c0 = cx + xi, c1 = c0 + 1;
      if (xi >= cw - 1) c0 = cw >= 2 ? cx + cw - 2 : cx, c1 = cw >= 2 ? c0 + 1 : c0;
      const int f = fy * 8 + fx;
      out[static_cast<size_t>(j) * w + k] = static_cast<std::uint8_t>(
          (plover::kWeightTopLeft[f] * at(r0, c0) + plover::kWeightTopRight[f] * at(r0, c1) +
           plover::kWeightBottomLeft[f] * at(r1, c0) + plover::kWeightBottomRight[f] * at(r1, c1)) >>
          6);
    }
    if (w > 1) out[static_cast<size_t>(j) * w + w - 1] = out[static_cast<size_t>(j) * w + w - 2];
  }
  if (d > 1)
    for (int k = 0; k < w; ++k)
      out[static_cast<size_t>(d - 1) * w + k] = out[static_cast<size_t>(d - 2) * w + k];
  return out;
}

TEST(Weights, EachSetOfFourAddsUpTo64) {
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(plover::kWeightTopLeft[i] + plover::kWeightTopRight[i] + plover::kWeightBottomLeft[i] +
                  plover::kWeightBottomRight[i],
              64);
  }
  EXPECT_EQ(plover::kWeightTopLeft[0], 64);
  EXPECT_EQ(plover::kWeightBottomRight[63], 49);
  EXPECT_EQ(plover::kWeightTopRight[3], 24);  // fy 0, fx 3
  EXPECT_EQ(plover::kWeightBottomLeft[8 * 5 + 2], 30);
}

class ScaleMode : public ::testing::TestWithParam<plover::KernelSet> {
 protected:
  void SetUp() override {
    if (GetParam() > plover::BestKernelSet()) GTEST_SKIP() << "this processor cannot run these loops";
    previous_ = plover::SetKernelSet(GetParam());
  }
  void TearDown() override { plover::SetKernelSet(previous_); }
  plover::KernelSet previous_ = plover::KernelSet::kPlain;
};

TEST_P(ScaleMode, HalvingQcifSamplesEvenPixels) {
  Picture src(176, 144), dst(88, 72);
  std::mt19937 rng(5);
  src.Randomize(rng);
  ASSERT_EQ(gScaleFrame(&src.frame, &dst.frame), 0);
  for (int j = 0; j < 71; ++j)
    for (int i = 0; i < 87; ++i) ASSERT_EQ(dst.y[j * 88 + i], src.y[(2 * j) * 176 + 2 * i]) << i << "," << j;
  for (int j = 0; j < 35; ++j)
    for (int i = 0; i < 43; ++i) ASSERT_EQ(dst.u[j * 44 + i], src.u[(2 * j) * 88 + 2 * i]);
  // The last column and the last row repeat their neighbours.
  for (int j = 0; j < 72; ++j) EXPECT_EQ(dst.y[j * 88 + 87], dst.y[j * 88 + 86]);
  for (int i = 0; i < 88; ++i) EXPECT_EQ(dst.y[71 * 88 + i], dst.y[70 * 88 + i]);
}

TEST_P(ScaleMode, RandomSizesAndCropsMatchTheWeightTables) {
  std::mt19937 rng(21 + static_cast<int>(GetParam()));
  for (int round = 0; round < 300; ++round) {
    const int sw = 2 * (1 + rng() % 40), sh = 2 * (1 + rng() % 30);
    const int dw = 2 * (1 + rng() % 60), dh = 2 * (1 + rng() % 40);
    Picture src(sw, sh), dst(dw, dh);
    src.Randomize(rng);
    const int cx = 2 * (rng() % (sw / 2)), cy = 2 * (rng() % (sh / 2));
    const int cw = 2 + 2 * (rng() % (sw / 2 + 2)), ch = 2 + 2 * (rng() % (sh / 2 + 2));
    ASSERT_EQ(gScaleCroppedFrame(&src.frame, &dst.frame, cx, cy, cw, ch), 0);
    ASSERT_EQ(dst.y, ModelScale(src.y, sw, sh, dw, dh, cx, cy, cw, ch)) << round;
    ASSERT_EQ(dst.v, ModelScale(src.v, sw / 2, sh / 2, dw / 2, dh / 2, cx / 2, cy / 2, cw / 2, ch / 2))
        << round;
  }
}

// Upscaling by more than two puts the sampling point in the last source column and row; the
// neighbours must stay inside the plane (the sanitizer sees any read past these exact-size planes).
TEST_P(ScaleMode, LargeUpscaleAndSinglePixelPlanesStayInside) {
  Picture src(2, 2), dst(64, 48);
  src.y = {10, 20, 30, 40};
  src.u = {7};
  src.v = {9};
  ASSERT_EQ(gScaleFrame(&src.frame, &dst.frame), 0);
  EXPECT_EQ(dst.y, ModelScale(src.y, 2, 2, 64, 48, 0, 0, 2, 2));
  for (auto b : dst.u) EXPECT_EQ(b, 7);  // a 1 x 1 chroma plane spreads one value
  for (auto b : dst.v) EXPECT_EQ(b, 9);

  Picture tiny(2, 2);
  tiny.y = {1, 2, 3, 4};
  std::vector<std::uint8_t> out(1);
  EXPECT_EQ(plover::ScalePlane(tiny.y.data(), 2, 2, out.data(), 1, 1, 0, 0, 2, 2), 0);
  EXPECT_EQ(out[0], 1);
}

TEST_P(ScaleMode, CropOutsideThePlaneOrEmptyDestinationIsRefused) {
  Picture src(16, 16), dst(8, 8);
  src.Fill(1, 2, 3);
  dst.Fill(0, 0, 0);
  EXPECT_EQ(gScaleCroppedFrame(&src.frame, &dst.frame, 16, 0, 4, 4), -1);
  EXPECT_EQ(gScaleCroppedFrame(&src.frame, &dst.frame, 0, 0, 0, 4), -1);
  for (auto b : dst.y) EXPECT_EQ(b, 0);
  EXPECT_EQ(gScaleFrame(&src.frame, nullptr), -1);
  std::vector<std::uint8_t> out(4);
  EXPECT_EQ(plover::ScalePlane(src.y.data(), 16, 16, out.data(), 0, 4, 0, 0, 16, 16), -1);
  // A rectangle reaching past the plane is cut to it; crop values are taken as unsigned 16-bit.
  EXPECT_EQ(gScaleCroppedFrame(&src.frame, &dst.frame, 8, 8, 100, 100), 0);
  for (auto b : dst.y) EXPECT_EQ(b, 1);
  EXPECT_EQ(gScaleCroppedFrame(&src.frame, &dst.frame, 0x10000, 0, 16, 16), 0);
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScaleMode,
                         ::testing::Values(plover::KernelSet::kPlain, plover::KernelSet::kSse2,
                                           plover::KernelSet::kAvx2),
                         KernelSetName);

}  // namespace
