// WBMP reader and writer.
#include "imaging/wbmp.h"

#include <gtest/gtest.h>

#include "imaging/image.h"
#include "test_support.h"

namespace imaging {
namespace {

// The stream reads from a copy that lives as long as the stream's owner keeps it.
std::vector<std::uint8_t> gHeld;

int OpenBytes(const std::vector<std::uint8_t>& bytes, std::unique_ptr<WbmpReader>* r,
              std::unique_ptr<mms::ByteStream>* s) {
  r->reset();
  s->reset();
  gHeld = bytes;
  *s = mms::ByteStream::OpenMemory(gHeld.data(), static_cast<std::int64_t>(gHeld.size()));
  return WbmpReader::Open(s->get(), r);
}

TEST(Wbmp, HeaderMultiByteSizesAndRows) {
  const std::vector<std::uint8_t> file = {
      0x00, 0x00,  // type 0, fixed header 0
      0x81, 0x00,  // width 128 (two bytes: 1, 0)
      0x02,        // height 2
  };
  std::vector<std::uint8_t> bytes = file;
  for (int i = 0; i < 16; ++i) bytes.push_back(0xF0);
  for (int i = 0; i < 16; ++i) bytes.push_back(0x0F);
  std::unique_ptr<WbmpReader> r;
  std::unique_ptr<mms::ByteStream> s;
  ASSERT_EQ(OpenBytes(bytes, &r, &s), kWbmpOk);
  EXPECT_EQ(r->header().biWidth, 128);
  EXPECT_EQ(r->header().biHeight, 2);
  EXPECT_EQ(r->header().biBitCount, 1);
  EXPECT_EQ(r->header().biClrUsed, 2u);
  EXPECT_EQ(r->header().biXPelsPerMeter, 300);
  RGBQUAD pal[2];
  r->Palette(pal);
  EXPECT_EQ(pal[0].rgbRed, 0);
  EXPECT_EQ(pal[1].rgbRed, 255);
  std::vector<std::uint8_t> rows(32);
  int first = -1, got = 0;
  ASSERT_EQ(r->ReadRows(rows.data(), 5, &first, &got), kWbmpOk);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(got, 2);
  EXPECT_EQ(rows[0], 0xF0);
  EXPECT_EQ(rows[16], 0x0F);
}

TEST(Wbmp, BadHeadersAndTruncation) {
  std::unique_ptr<WbmpReader> r;
  std::unique_ptr<mms::ByteStream> s;
  EXPECT_EQ(OpenBytes({0x01, 0x00, 0x08, 0x08}, &r, &s), kWbmpBadHeader);
  EXPECT_EQ(OpenBytes({0x00, 0x01, 0x08, 0x08}, &r, &s), kWbmpBadHeader);
  EXPECT_EQ(OpenBytes({0x00, 0x00, 0x00, 0x08}, &r, &s), kWbmpZeroSize);
  EXPECT_EQ(OpenBytes({0x00, 0x00, 0x08}, &r, &s), kWbmpShortRead);
  EXPECT_EQ(OpenBytes({0x00}, &r, &s), kWbmpShortRead);
  EXPECT_EQ(WbmpReader::Open(nullptr, &r), kWbmpBadArgument);
  // Sizes are truncated to 16 bits: 0x84 0x80 0x00 is 65536 -> 0.
  EXPECT_EQ(OpenBytes({0x00, 0x00, 0x84, 0x80, 0x00, 0x01}, &r, &s), kWbmpZeroSize);
  // Missing rows: short read with the rows that were there.
  ASSERT_EQ(OpenBytes({0x00, 0x00, 0x08, 0x03, 0xAA}, &r, &s), kWbmpOk);
  std::vector<std::uint8_t> rows(12);
  int first = 0, got = 0;
  EXPECT_EQ(r->ReadRows(rows.data(), 3, &first, &got), kWbmpShortRead);
  EXPECT_EQ(got, 1);
}

TEST(Wbmp, HugeHeaderIsRefusedBeforeAllocating) {
  imaging_test::TempDir dir;
  // 65535 x 65535: over the pixel budget.
  imaging_test::WriteFile(dir.Path("big.wbmp"), {0x00, 0x00, 0x83, 0xFF, 0x7F, 0x83, 0xFF, 0x7F});
  Box box{0xFFFF, 0xFFFF};
  EXPECT_FALSE(LoadImageFitted(imaging_test::Wide(dir.Path("big.wbmp")), &box, kTypeByExtension));
  Box size;
  int depth = 0;
  ASSERT_EQ(GetImageInfo(imaging_test::Wide(dir.Path("big.wbmp")), &size, &depth, kTypeByExtension), 1);
  EXPECT_EQ(size.width, 65535);
}

TEST(Wbmp, SaveThresholdsLuminance) {
  imaging_test::TempDir dir;
  auto dib = PackedDib::Create(10, 1, 24);
  std::uint8_t* p = dib->TopRow(0);
  for (int x = 0; x < 10; ++x) {
    const std::uint8_t v = x == 0 ? 128 : (x == 1 ? 127 : (x % 2 ? 255 : 0));
    p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = v;
  }
  const std::string path = dir.Path("t.wbmp");
  ASSERT_EQ(SaveImage(*dib, imaging_test::Wide(path), kTypeByExtension), 1);
  const auto bytes = imaging_test::ReadFile(path);
  ASSERT_EQ(bytes.size(), 6u);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 10);
  EXPECT_EQ(bytes[3], 1);
  // 128 white, 127 black, then black/white alternating from x = 2: 1 0 0 1 0 1 0 1 | 0 1
  EXPECT_EQ(bytes[4], 0x95);
  EXPECT_EQ(bytes[5], 0x40);
}

TEST(Wbmp, MatchesImageMagick) {
  REQUIRE_MAGICK();
  imaging_test::TempDir dir;
  const std::string path = dir.Path("m.wbmp");
  ASSERT_TRUE(imaging_test::Shell("convert -size 203x77 pattern:checkerboard -threshold 50% " + path));
  imaging_test::Rgb ref;
  ASSERT_TRUE(imaging_test::Reference(path, &ref));
  auto dib = imaging_test::LoadFull(path);
  ASSERT_TRUE(dib);
  std::string why;
  EXPECT_EQ(imaging_test::CountMismatches(*dib, ref, 0, &why), 0) << why;
}

}  // namespace
}  // namespace imaging
