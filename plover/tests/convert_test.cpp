#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "../src/kernels.h"
#include "picture.h"
#include "plover/plover.h"

namespace {

constexpr std::uint16_t kSentinel = 0xA5A5;

// Straight per-pixel model of the conversion: BT.709 in 2^14 fixed point plus the 2 x 2 dither.
std::uint16_t ModelPixel(const PlanarFrame& f, int x, int y) {
  const int cu = f.u[(y / 2) * (f.width / 2) + x / 2] - 128;
  const int cv = f.v[(y / 2) * (f.width / 2) + x / 2] - 128;
  const int dr = (cv * 25802 + 8192) >> 14;
  const int dg = (cv * 7671 + cu * 3072 + 8192) >> 14;
  const int db = (cu * 30397 + 8192) >> 14;
  static const int kOffsets[4][3] = {{0, 3, 2}, {4, 0, 6}, {6, 1, 4}, {2, 2, 0}};  // eb, eg, er
  const int* e = kOffsets[(y & 1) * 2 + (x & 1)];
  const int l = f.y[y * f.width + x];
  auto clamp = [](int c) { return std::clamp(c, 0, 255); };
  const int r = clamp(l + dr + e[2]), g = clamp(l - dg + e[1]), b = clamp(l + db + e[0]);
  return static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

struct Canvas {
  int pitch, height;
  std::vector<std::uint16_t> px;
  Canvas(int p, int h) : pitch(p), height(h), px(static_cast<size_t>(p) * h, kSentinel) {}
  std::uint16_t At(int x, int y) const { return px[static_cast<size_t>(y) * pitch + x]; }
};

class SimdMode : public ::testing::TestWithParam<plover::KernelSet> {
 protected:
  void SetUp() override {
    if (GetParam() > plover::BestKernelSet()) GTEST_SKIP() << "this processor cannot run these loops";
    previous_ = plover::SetKernelSet(GetParam());
  }
  void TearDown() override { plover::SetKernelSet(previous_); }
  plover::KernelSet previous_ = plover::KernelSet::kPlain;
};

TEST_P(SimdMode, GreyWhiteAndBlackAtEveryDitherPosition) {
  Picture pic(32, 4);
  Canvas canvas(32, 4);
  pic.Fill(128, 128, 128);
  ASSERT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 32, 4, 0, 0, 0, 0, 32, 4, 0), 0);
  // (130, 131, 128) at the top-left of a block and (128, 130, 130) at the bottom-right both store 0x8410.
  for (auto p : canvas.px) EXPECT_EQ(p, 0x8410);

  pic.Fill(255, 128, 128);
  gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 32, 4, 0, 0, 0, 0, 32, 4, 0);
  for (auto p : canvas.px) EXPECT_EQ(p, 0xFFFF);

  pic.Fill(0, 128, 128);
  gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 32, 4, 0, 0, 0, 0, 32, 4, 0);
  for (auto p : canvas.px) EXPECT_EQ(p, 0x0000);
}

TEST_P(SimdMode, QuarterTurnOfQcifFillsPortraitScreen) {
  Picture pic(176, 144);
  std::mt19937 rng(7);
  pic.Randomize(rng);
  Canvas canvas(176, 220);
  ASSERT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 176, 220, 0, 0, 0, 0, 176, 144, 1), 0);
  for (int y = 0; y < 220; ++y)
    for (int x = 0; x < 176; ++x) {
      const bool inside = x < 144 && y < 176;
      if (!inside) {
        ASSERT_EQ(canvas.At(x, y), kSentinel) << x << "," << y;
      }
    }
  EXPECT_EQ(canvas.At(143, 0), ModelPixel(pic.frame, 0, 0));
  EXPECT_EQ(canvas.At(0, 175), ModelPixel(pic.frame, 175, 143));
}

TEST_P(SimdMode, BadRotationAndNullPicturesDrawNothing) {
  Picture pic(16, 16);
  pic.Fill(200, 90, 30);
  Canvas canvas(16, 16);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, 0, 0, 0, 0, 16, 16, 4), -1);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, 0, 0, 0, 0, 16, 16, -1), -1);
  EXPECT_EQ(gYUV420toRGB16Rotate(nullptr, canvas.px.data(), 16, 16, 0, 0, 0, 0, 16, 16, 0), -1);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, nullptr, 16, 16, 0, 0, 0, 0, 16, 16, 0), -1);
  // Positions beyond the buffer or the picture, and negative ones, clip to nothing.
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, 16, 0, 0, 0, 16, 16, 0), 0);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, 0, 0, 16, 0, 16, 16, 0), 0);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, -2, 0, 0, 0, 16, 16, 0), 0);
  EXPECT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), 16, 16, 0, 15, 0, 0, 16, 16, 0), 0);
  for (auto p : canvas.px) EXPECT_EQ(p, kSentinel);
}

// Random pictures, positions, sizes and rotations against the model: every pixel of the clipped
// rectangle is right and every pixel outside it untouched.
TEST_P(SimdMode, MatchesModelAndStaysInsideClippedRectangle) {
  std::mt19937 rng(11 + static_cast<int>(GetParam()));
  for (int round = 0; round < 300; ++round) {
    const int sw = 2 + rng() % 70, sh = 2 + rng() % 50;
    Picture pic(sw, sh);
    pic.Randomize(rng);
    const int pitch = 1 + rng() % 80, dh = 1 + rng() % 80;
    Canvas canvas(pitch, dh);
    const int left = rng() % (pitch + 2), top = rng() % (dh + 2);
    const int srcLeft = 2 * (rng() % (sw / 2 + 1)), srcTop = 2 * (rng() % (sh / 2 + 1));
    const int width = rng() % (sw + 4), height = rng() % (sh + 4);
    const int rotation = rng() % 4;
    ASSERT_EQ(gYUV420toRGB16Rotate(&pic.frame, canvas.px.data(), pitch, dh, left, top, srcLeft, srcTop, width,
                                   height, rotation),
              0);
    const int cw = std::min(sw - srcLeft, width), ch = std::min(sh - srcTop, height);
    int cols, rows;
    if (rotation % 2 == 0) {
      cols = std::min(cw, pitch - left);
      rows = std::min(ch, dh - top);
    } else {
      cols = std::min(cw, dh - top);
      rows = std::min(ch, pitch - left);
    }
    cols = std::max(cols, 0) & ~1;
    rows = std::max(rows, 0) & ~1;
    if (cols == 0 || rows == 0) cols = rows = 0;
    Canvas expected(pitch, dh);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        int x = c, y = r;
        if (rotation == 1) x = rows - 1 - r, y = c;
        if (rotation == 2) x = cols - 1 - c, y = rows - 1 - r;
        if (rotation == 3) x = r, y = cols - 1 - c;
        expected.px[static_cast<size_t>(top + y) * pitch + left + x] =
            ModelPixel(pic.frame, srcLeft + c, srcTop + r);
      }
    ASSERT_EQ(canvas.px, expected.px) << "round " << round << " rotation " << rotation;
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, SimdMode,
                         ::testing::Values(plover::KernelSet::kPlain, plover::KernelSet::kSse2,
                                           plover::KernelSet::kAvx2),
                         KernelSetName);

}  // namespace
