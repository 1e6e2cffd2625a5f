// Fitting, row expansion at every depth, colour reduction and YUV conversion.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/image.h"

namespace imaging {
namespace {

TEST(Fit, WorkedExamples) {
  Box out;
  // 640 x 480 into 176 x 144: scale 0.275, 480 x 0.275 + 0.5 = 132.5 -> 132.
  EXPECT_DOUBLE_EQ(FitSize(640, 480, Box{176, 144}, &out), 0.275);
  EXPECT_EQ(out.width, 176);
  EXPECT_EQ(out.height, 132);
  // Never enlarged.
  EXPECT_DOUBLE_EQ(FitSize(100, 50, Box{176, 144}, &out), 1.0);
  EXPECT_EQ(out.width, 100);
  EXPECT_EQ(out.height, 50);
  // Tall pictures are limited by the height.
  FitSize(100, 1000, Box{176, 144}, &out);
  EXPECT_EQ(out.width, 14);
  EXPECT_EQ(out.height, 144);
}

std::vector<std::uint8_t> Convert(const RowFormat& f, const std::uint8_t* src, int outWidth) {
  ChannelShifts s;
  if (f.bits == 16 || f.bits == 32) {
    EXPECT_TRUE(ComputeChannelShifts(f.masks, &s));
  }
  std::vector<std::uint8_t> scratch(f.width * 3 + 8), out(outWidth * 3, 0xAA);
  EXPECT_TRUE(ConvertRow(f, s, src, scratch.data(), out.data(), outWidth));
  return out;
}

TEST(RowConversion, OneBitIgnoresMissingTableAndUsesGivenOne) {
  const std::uint8_t src[] = {0xA0};  // 1 0 1 0 ...
  RowFormat f;
  f.bits = 1;
  f.width = 3;
  auto out = Convert(f, src, 3);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 255, 255, 255}));
  // An inverted table (entry 0 white, entry 1 black) is honoured.
  RGBQUAD table[256] = {};
  table[0] = RGBQUAD{255, 255, 255, 0};
  f.palette = table;
  out = Convert(f, src, 3);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255, 0, 0, 0}));
}

TEST(RowConversion, FourBitGreyWithoutTableAndIndexedWithOne) {
  const std::uint8_t src[] = {0x1F};
  RowFormat f;
  f.bits = 4;
  f.width = 2;
  auto out = Convert(f, src, 2);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{16, 16, 16, 240, 240, 240}));
  RGBQUAD table[256] = {};
  table[1] = RGBQUAD{1, 2, 3, 0};
  table[15] = RGBQUAD{4, 5, 6, 0};
  f.palette = table;
  out = Convert(f, src, 2);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(RowConversion, SixteenBitDefaultMasks) {
  RowFormat f;
  f.bits = 16;
  f.width = 3;
  f.masks[0] = 0x7C00;
  f.masks[1] = 0x03E0;
  f.masks[2] = 0x001F;
  const std::uint8_t src[] = {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x7C};
  auto out = Convert(f, src, 3);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{255, 255, 255, 8, 0, 0, 0, 0, 255}));
}

TEST(RowConversion, SixteenBit565AndThirtyTwoBit) {
  RowFormat f;
  f.bits = 16;
  f.width = 1;
  f.masks[0] = 0xF800;
  f.masks[1] = 0x07E0;
  f.masks[2] = 0x001F;
  const std::uint8_t green[] = {0xE0, 0x07};
  EXPECT_EQ(Convert(f, green, 1), (std::vector<std::uint8_t>{0, 255, 0}));
  f.bits = 32;
  f.masks[0] = 0xFF0000;
  f.masks[1] = 0xFF00;
  f.masks[2] = 0xFF;
  const std::uint8_t px[] = {10, 20, 30, 0};  // blue, green, red, unused
  EXPECT_EQ(Convert(f, px, 1), (std::vector<std::uint8_t>{10, 20, 30}));
}

TEST(RowConversion, ZeroMaskIsRejected) {
  const std::uint32_t masks[3] = {0x7C00, 0, 0x1F};
  ChannelShifts s;
  EXPECT_FALSE(ComputeChannelShifts(masks, &s));
  RowFormat f;
  f.bits = 16;
  f.width = 1;
  f.masks[0] = 0x7C00;
  f.masks[2] = 0x1F;
  const std::uint8_t src[] = {0xFF, 0xFF};
  std::uint8_t scratch[8], out[3] = {1, 2, 3};
  EXPECT_FALSE(ConvertRow(f, s, src, scratch, out, 1));
  EXPECT_EQ(out[0], 1);  // untouched
}

TEST(RowConversion, NearestNeighbourResampling) {
  // Eight 8-bit grey pixels 0..7 down to three: step 8/3, picks 0, 2, 5.
  RowFormat f;
  f.bits = 8;
  f.width = 8;
  const std::uint8_t src[] = {0, 1, 2, 3, 4, 5, 6, 7};
  auto out = Convert(f, src, 3);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0, 0, 0, 2, 2, 2, 5, 5, 5}));
}

TEST(Reduction, NearestEntryRules) {
  RGBQUAD grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  EXPECT_EQ(NearestEntry(grey, 256, 10, 10, 10), 10);
  // Two entries at equal distance: the first wins.
  RGBQUAD pair[2] = {{0, 0, 0, 0}, {20, 20, 20, 0}};
  EXPECT_EQ(NearestEntry(pair, 2, 10, 10, 10), 0);
  // Green weighs more than blue: (0,0,10 blue) vs a pure-green-ish entry.
  RGBQUAD weighted[2] = {{0, 12, 0, 0}, {14, 0, 0, 0}};  // blue, green, red
  // Pixel black: distance 4*144=576 to entry 0, 2*196=392 to entry 1.
  EXPECT_EQ(NearestEntry(weighted, 2, 0, 0, 0), 1);
}

TEST(Reduction, AllDepthsPackAsDocumented) {
  auto src = PackedDib::Create(3, 1, 24);
  ASSERT_TRUE(src);
  const std::uint8_t px[] = {0, 0, 0, 128, 128, 128, 127, 127, 127};  // black, 128 grey, 127 grey
  std::memcpy(src->TopRow(0), px, sizeof px);
  // 1 bit: luminance 0, 128, 127 -> black, white, black.
  auto mono = ReduceBitmap(*src, 1, nullptr, 0);
  ASSERT_TRUE(mono);
  EXPECT_EQ(mono->TopRow(0)[0], 0x40);
  EXPECT_EQ(mono->palette()[1].rgbRed, 255);
  // 4 bits: an odd last pixel fills the high nibble only.
  RGBQUAD table[16] = {};
  table[3] = RGBQUAD{128, 128, 128, 0};
  table[5] = RGBQUAD{127, 127, 127, 0};
  auto nib = ReduceBitmap(*src, 4, table, 16);
  ASSERT_TRUE(nib);
  EXPECT_EQ(nib->TopRow(0)[0], 0x03);
  EXPECT_EQ(nib->TopRow(0)[1], 0x50);
  // 16 bits: 5-5-5 little-endian.
  auto hi = ReduceBitmap(*src, 16, nullptr, 0);
  ASSERT_TRUE(hi);
  const unsigned p = hi->TopRow(0)[2] | (hi->TopRow(0)[3] << 8);
  EXPECT_EQ(p, (16u << 10) | (16u << 5) | 16u);
  // Refused: non-24-bit sources and tables missing for indexed targets.
  EXPECT_FALSE(ReduceBitmap(*mono, 8, table, 16));
  EXPECT_FALSE(ReduceBitmap(*src, 8, nullptr, 0));
}

TEST(Yuv, BlackWhiteAndOddEdges) {
  // 3 x 3 picture: only the top-left 2 x 2 block is converted.
  std::uint8_t y[9] = {16, 235, 0, 16, 235, 0, 0, 0, 0};
  std::uint8_t u[4] = {128, 0, 0, 0}, v[4] = {128, 0, 0, 0};
  std::uint8_t dst[27];
  std::memset(dst, 0x77, sizeof dst);
  Yuv420ToBgr24(dst, 3, y, u, v, 3, 2, 3, 3);
  const std::uint8_t black[3] = {0, 0, 0}, white[3] = {254, 254, 254};
  EXPECT_EQ(0, std::memcmp(dst, black, 3));
  EXPECT_EQ(0, std::memcmp(dst + 3, white, 3));
  EXPECT_EQ(0, std::memcmp(dst + 9, black, 3));
  EXPECT_EQ(dst[6], 0x77);   // odd last column untouched
  EXPECT_EQ(dst[18], 0x77);  // odd last row untouched
  // A negative height flips the picture: source row 1 comes out first.
  std::uint8_t y2[4] = {16, 16, 235, 235};
  std::memset(dst, 0, sizeof dst);
  Yuv420ToBgr24(dst, 2, y2, u, v, 2, 1, 2, -2);
  EXPECT_EQ(0, std::memcmp(dst, white, 3));
  EXPECT_EQ(0, std::memcmp(dst + 6, black, 3));
}

TEST(Yuv, ClampsSaturatedColours) {
  std::uint8_t y[4] = {255, 255, 255, 255}, u[1] = {255}, v[1] = {255};
  std::uint8_t dst[12];
  Yuv420ToBgr24(dst, 2, y, u, v, 2, 1, 2, 2);
  EXPECT_EQ(dst[0], 255);  // blue clamps high
  EXPECT_EQ(dst[2], 255);  // red clamps high
}

TEST(PackedDib, LayoutAndBudget) {
  auto dib = PackedDib::Create(5, 3, 4);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->header().biSize, 40u);
  EXPECT_EQ(dib->stride(), 4);
  EXPECT_EQ(dib->header().biClrUsed, 16u);
  EXPECT_EQ(dib->header().biXPelsPerMeter, 3780);
  EXPECT_EQ(dib->size(), static_cast<std::size_t>(4 * 3 + (16 + 10) * 4));
  EXPECT_FALSE(PackedDib::Create(65535, 65535, 24));
  EXPECT_FALSE(PackedDib::Create(0, 10, 24));
  EXPECT_FALSE(PackedDib::Create(10, 10, 2));
}

}  // namespace
}  // namespace imaging
