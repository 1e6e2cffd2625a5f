// BMP reader and writer: every variant against ImageMagick's decode, RLE and bad input.
#include "imaging/bmp.h"

#include <gtest/gtest.h>

#include <cstring>

#include "imaging/image.h"
#include "test_support.h"

namespace imaging {
namespace {

using imaging_test::Shell;
using imaging_test::TempDir;

struct Variant {
  const char* name;
  const char* options;  // ImageMagick options making the variant
};

class BmpConformance : public ::testing::TestWithParam<Variant> {};

TEST_P(BmpConformance, MatchesImageMagickPixelForPixel) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string src = dir.Path("src.png"), out = dir.Path("v.bmp");
  ASSERT_TRUE(Shell("convert -size 61x43 plasma:red-blue -seed 7 " + src +
                    " 2>/dev/null || convert -size 61x43 gradient:red-blue " + src));
  ASSERT_TRUE(Shell("convert " + src + " " + GetParam().options + out));
  imaging_test::Rgb ref;
  ASSERT_TRUE(imaging_test::Reference(out, &ref));
  auto dib = imaging_test::LoadFull(out);
  ASSERT_TRUE(dib);
  std::string why;
  EXPECT_EQ(imaging_test::CountMismatches(*dib, ref, 0, &why), 0) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, BmpConformance,
    ::testing::Values(Variant{"bits1", "-monochrome -type bilevel BMP3:"},
                      Variant{"bits4",
                              "-colors 16 -type palette -define bmp:format=bmp3 -compress none BMP3:"},
                      Variant{"bits8", "-colors 200 -type palette -compress none BMP3:"},
                      Variant{"rle8", "-colors 200 -type palette -compress rle BMP3:"},
                      Variant{"bits24", "-type truecolor BMP3:"},
                      Variant{"bits32",
                              "-alpha off -define bmp3:alpha=false -type truecolor -depth 8 -define "
                              "bmp:subtype=ARGB8888 BMP3:"},
                      Variant{"os2", "-colors 16 BMP2:"}),
    [](const auto& info) { return std::string(info.param.name); });

// A hand-made file: 14-byte file header, 40-byte info header, table, data.
std::vector<std::uint8_t> MakeBmp(int width, int height, int bits, int compression,
                                  const std::vector<RGBQUAD>& table, const std::vector<std::uint8_t>& data,
                                  const std::vector<std::uint32_t>& masks = {}) {
  std::vector<std::uint8_t> f;
  auto u16 = [&](std::uint32_t v) {
    f.push_back(static_cast<std::uint8_t>(v));
    f.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](std::uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(masks.size() * 4 + table.size() * 4);
  u16(0x4D42);
  u32(offset + static_cast<std::uint32_t>(data.size()));
  u32(0);
  u32(offset);
  u32(40);
  u32(static_cast<std::uint32_t>(width));
  u32(static_cast<std::uint32_t>(height));
  u16(1);
  u16(static_cast<std::uint32_t>(bits));
  u32(static_cast<std::uint32_t>(compression));
  u32(static_cast<std::uint32_t>(data.size()));
  u32(2835);
  u32(2835);
  u32(static_cast<std::uint32_t>(table.size()));
  u32(0);
  for (auto m : masks) u32(m);
  for (auto q : table) {
    f.push_back(q.rgbBlue);
    f.push_back(q.rgbGreen);
    f.push_back(q.rgbRed);
    f.push_back(0);
  }
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

struct Opened {
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<BmpReader> reader;
  int rc = 0;
  explicit Opened(std::vector<std::uint8_t> b) : bytes(std::move(b)) {
    stream = mms::ByteStream::OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    rc = BmpReader::Open(stream.get(), &reader);
  }
};

const std::vector<RGBQUAD> kGreys = [] {
  std::vector<RGBQUAD> t(16);
  for (int i = 0; i < 16; ++i) t[i] = RGBQUAD{BYTE(i * 16), BYTE(i * 16), BYTE(i * 16), 0};
  return t;
}();

TEST(BmpRle, Rle8RunsAbsoluteDeltaAndEndOfBitmap) {
  // 6 x 4 picture, file rows bottom-up.
  const std::vector<std::uint8_t> data = {
      0x03, 0x05, 0x00, 0x03, 0x01, 0x02, 0x03, 0x00,  // row 0: 5 5 5, absolute 1 2 3 (+pad)
      0x00, 0x00,                                      // end of line
      0x00, 0x02, 0x02, 0x01,                          // row 1: delta right 2, down 1 -> row 2 col 2
      0x02, 0x09,                                      // row 2: 9 9 at columns 2, 3
      0x00, 0x00,                                      // end of line
      0x06, 0x07,                                      // row 3: six 7s
      0x00, 0x01,                                      // end of bitmap
  };
  Opened o(MakeBmp(6, 4, 8, 1, kGreys, data));
  ASSERT_EQ(o.rc, kBmpOk);
  std::vector<std::uint8_t> rows(8 * 4);
  int first = 0, got = 0;
  ASSERT_EQ(o.reader->ReadRows(rows.data(), 4, &first, &got), kBmpOk);
  ASSERT_EQ(got, 4);
  const std::uint8_t want[4][6] = {
      {7, 7, 7, 7, 7, 7}, {0, 0, 9, 9, 0, 0}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 1, 2, 3}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(rows[y * 8 + x], want[y][x]) << x << "," << y;
}

TEST(BmpRle, Rle4NibblesAndOverlongRunsAreClipped) {
  const std::vector<std::uint8_t> data = {
      0x05, 0x12,              // 1 2 1 2 1
      0x00, 0x03, 0x34, 0x50,  // absolute 3 4 5 (2 bytes, already even)
      0x00, 0x00,              // end of line
      0xFF, 0xAB,              // a run far past the row end: clipped at 8 pixels
      0x00, 0x01,
  };
  Opened o(MakeBmp(8, 2, 4, 2, kGreys, data));
  ASSERT_EQ(o.rc, kBmpOk);
  std::vector<std::uint8_t> rows(8);
  int first = 0, got = 0;
  ASSERT_EQ(o.reader->ReadRows(rows.data(), 2, &first, &got), kBmpOk);
  EXPECT_EQ(rows[0], 0xAB);
  EXPECT_EQ(rows[3], 0xAB);
  EXPECT_EQ(rows[4], 0x12);
  EXPECT_EQ(rows[5], 0x12);
  EXPECT_EQ(rows[6], 0x13);
  EXPECT_EQ(rows[7], 0x45);
}

TEST(BmpRle, DeltaPastThePictureEndsItAndTruncationFails) {
  // A delta 200 rows down: the remaining rows are blank, nothing is read past them.
  Opened a(MakeBmp(4, 3, 8, 1, kGreys, {0x04, 0x01, 0x00, 0x02, 0x00, 0xC8, 0x04, 0x02}));
  ASSERT_EQ(a.rc, kBmpOk);
  std::vector<std::uint8_t> rows(12, 0xEE);
  int first = 0, got = 0;
  ASSERT_EQ(a.reader->ReadRows(rows.data(), 3, &first, &got), kBmpOk);
  EXPECT_EQ(rows[8], 1);  // bottom file row is the last picture row
  EXPECT_EQ(rows[0], 0);
  // Codes that run out before the end of the bitmap.
  Opened b(MakeBmp(4, 3, 8, 1, kGreys, {0x04, 0x01, 0x00}));
  ASSERT_EQ(b.rc, kBmpOk);
  EXPECT_EQ(b.reader->ReadRows(rows.data(), 3, &first, &got), kBmpRle8Error);
  Opened c(MakeBmp(4, 3, 4, 2, kGreys, {0x00, 0x05, 0x11}));
  ASSERT_EQ(c.rc, kBmpOk);
  EXPECT_EQ(c.reader->ReadRows(rows.data(), 3, &first, &got), kBmpRle4Error);
  // RLE8 codes in a 4-bit file have no row reader.
  Opened d(MakeBmp(4, 3, 4, 1, kGreys, {0x00, 0x01}));
  ASSERT_EQ(d.rc, kBmpOk);
  EXPECT_NE(d.reader->ReadRows(rows.data(), 1, &first, &got), kBmpOk);
}

TEST(BmpReader, TopDownBitFieldsAndMasks) {
  // 2 x 2 top-down 16-bit 5-6-5 file: red, green / blue, white.
  const std::vector<std::uint8_t> data = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF};
  auto bytes = MakeBmp(2, -2, 16, 3, {}, data, {0xF800, 0x07E0, 0x001F});
  Opened o(bytes);
  ASSERT_EQ(o.rc, kBmpOk);
  EXPECT_TRUE(o.reader->topDown());
  std::uint32_t masks[3];
  ASSERT_EQ(o.reader->Masks(masks), kBmpOk);
  EXPECT_EQ(masks[1], 0x07E0u);
  TempDir dir;
  imaging_test::WriteFile(dir.Path("td.bmp"), bytes);
  auto dib = imaging_test::LoadFull(dir.Path("td.bmp"));
  ASSERT_TRUE(dib);
  EXPECT_EQ(imaging_test::Pixel(*dib, 0, 0)[2], 255);  // red on top
  EXPECT_EQ(imaging_test::Pixel(*dib, 1, 0)[1], 255);
  EXPECT_EQ(imaging_test::Pixel(*dib, 0, 1)[0], 255);
  // Compression 0 at 16 bits has no masks (the loader falls back to 5-5-5).
  Opened p(MakeBmp(2, 2, 16, 0, {}, std::vector<std::uint8_t>(8)));
  EXPECT_EQ(p.reader->Masks(masks), kBmpNoMasks);
  // A zero mask makes the picture unloadable rather than wrong.
  imaging_test::WriteFile(dir.Path("zero.bmp"), MakeBmp(2, 2, 16, 3, {}, data, {0xF800, 0, 0x1F}));
  EXPECT_FALSE(imaging_test::LoadFull(dir.Path("zero.bmp")));
}

TEST(BmpReader, IndexesPastTheTableAreBlack) {
  TempDir dir;
  // 4 x 1, 8 bits, a two-entry table (white, red) and indexes 0, 1, 2, 255.
  imaging_test::WriteFile(dir.Path("short.bmp"),
                          MakeBmp(4, 1, 8, 0, {{255, 255, 255, 0}, {0, 0, 255, 0}}, {0, 1, 2, 255}));
  auto dib = imaging_test::LoadFull(dir.Path("short.bmp"));
  ASSERT_TRUE(dib);
  EXPECT_EQ(imaging_test::Pixel(*dib, 0, 0)[0], 255);
  EXPECT_EQ(imaging_test::Pixel(*dib, 1, 0)[2], 255);
  EXPECT_EQ(imaging_test::Pixel(*dib, 2, 0)[2], 0);
  EXPECT_EQ(imaging_test::Pixel(*dib, 3, 0)[1], 0);
}

TEST(BmpReader, HeaderErrors) {
  EXPECT_EQ(Opened({'B', 'X', 0, 0}).rc, kBmpNotBmp);
  auto good = MakeBmp(4, 4, 24, 0, {}, std::vector<std::uint8_t>(48));
  auto v4 = good;
  v4[14] = 108;
  EXPECT_EQ(Opened(v4).rc, kBmpNotBmp);
  EXPECT_EQ(Opened(MakeBmp(0, 4, 24, 0, {}, {})).rc, kBmpZeroSize);
  EXPECT_EQ(Opened(MakeBmp(4, 0, 24, 0, {}, {})).rc, kBmpZeroSize);
  EXPECT_EQ(Opened(MakeBmp(65535, 65535, 24, 0, {}, {})).rc, kBmpNoMemory);
  EXPECT_EQ(Opened(MakeBmp(4, -70000, 8, 0, kGreys, {})).rc, kBmpOk);  // within budget
  // Every truncation of a valid file: an error code or rows, never a crash.
  for (std::size_t n = 0; n < good.size(); ++n) {
    Opened o(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
    if (n < 54) {
      EXPECT_NE(o.rc, kBmpOk) << n;
      continue;
    }
    ASSERT_EQ(o.rc, kBmpOk);
    std::vector<std::uint8_t> rows(48);
    int first = 0, got = 0;
    EXPECT_EQ(o.reader->ReadRows(rows.data(), 4, &first, &got), kBmpShortRead) << n;
  }
}

TEST(BmpReader, ColumnMapRepacksEveryDepth) {
  // 8 pixels wide, one row; narrowing to 4 picks columns 0, 2, 4, 6.
  struct Case {
    int bits;
    std::vector<std::uint8_t> row;
    std::vector<std::uint8_t> want;
  };
  const Case cases[] = {
      {1, {0xAA, 0, 0, 0}, {0xF0}},
      {4, {0x01, 0x23, 0x45, 0x67}, {0x02, 0x46}},
      {8, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 2, 4, 6}},
  };
  for (const Case& c : cases) {
    std::vector<RGBQUAD> table(c.bits == 1 ? 2 : 16);
    Opened o(MakeBmp(8, 1, c.bits, 0, table, c.row));
    ASSERT_EQ(o.rc, kBmpOk);
    ASSERT_EQ(o.reader->SetOutputWidth(4), kBmpOk);
    std::vector<std::uint8_t> out(4, 0xEE);
    int first = 0, got = 0;
    ASSERT_EQ(o.reader->ReadRows(out.data(), 1, &first, &got), kBmpOk);
    for (std::size_t i = 0; i < c.want.size(); ++i) EXPECT_EQ(out[i], c.want[i]) << c.bits << " " << i;
  }
}

TEST(BmpWriter, SixteenBitFilesDecodeAlikeInImageMagick) {
  REQUIRE_MAGICK();
  TempDir dir;
  auto dib = PackedDib::Create(45, 21, 16);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 45; ++x) {
      const unsigned p = ((x * 3) << 10) | ((y * 7) << 5) | ((x + y) & 31);
      dib->TopRow(y)[2 * x] = static_cast<std::uint8_t>(p);
      dib->TopRow(y)[2 * x + 1] = static_cast<std::uint8_t>(p >> 8);
    }
  const std::string path = dir.Path("w16.bmp");
  ASSERT_EQ(SaveImage(*dib, imaging_test::Wide(path), kTypeBmp), 1);
  imaging_test::Rgb ref;
  ASSERT_TRUE(imaging_test::Reference(path, &ref));
  auto back = imaging_test::LoadFull(path);
  ASSERT_TRUE(back);
  std::string why;
  EXPECT_EQ(imaging_test::CountMismatches(*back, ref, 0, &why), 0) << why;
}

TEST(BmpWriter, DepthsPaletteAndRoundTrip) {
  TempDir dir;
  auto stream = mms::ByteStream::OpenFileUtf8(dir.Path("w.bmp").c_str(), mms::ByteStream::kWrite);
  BITMAPINFOHEADER h;
  h.biWidth = 3;
  h.biHeight = 2;
  h.biBitCount = 2;
  std::unique_ptr<BmpWriter> w;
  EXPECT_EQ(BmpWriter::Open(stream.get(), h, &w), kBmpUnsupportedDepth);
  h.biBitCount = 24;
  ASSERT_EQ(BmpWriter::Open(stream.get(), h, &w), kBmpOk);
  RGBQUAD table[2] = {};
  EXPECT_EQ(w->Palette(table), kBmpBadArgument);

  for (int bits : {1, 4, 8, 16, 24, 32}) {
    auto dib = PackedDib::Create(13, 5, bits);
    for (int i = 0; i < dib->colorCount(); ++i)
      dib->palette()[i] = RGBQUAD{BYTE(i * 3), BYTE(i), BYTE(255 - i), 0};
    for (std::int64_t i = 0; i < dib->stride() * 5; ++i)
      dib->bits_data()[i] = static_cast<std::uint8_t>(i * 37);
    const std::string path = dir.Path("rt" + std::to_string(bits) + ".bmp");
    auto out = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
    ASSERT_EQ(WriteBmp(out.get(), *dib), kBmpOk);
    out.reset();
    const auto bytes = imaging_test::ReadFile(path);
    Opened o(bytes);
    ASSERT_EQ(o.rc, kBmpOk) << bits;
    EXPECT_EQ(o.reader->header().biBitCount, bits);
    EXPECT_EQ(bytes.size(), 54u + dib->colorCount() * 4u + dib->stride() * 5);
    std::vector<std::uint8_t> rows(dib->stride() * 5);
    int first = 0, got = 0;
    ASSERT_EQ(o.reader->ReadRows(rows.data(), 5, &first, &got), kBmpOk);
    for (int y = 0; y < 5; ++y) {
      // Compare the pixel bytes (padding bits beyond the width are not carried).
      const std::int64_t used = (13 * bits + 7) / 8;
      const std::uint8_t* a = rows.data() + dib->stride() * y;
      const std::uint8_t* b = dib->TopRow(y);
      for (std::int64_t i = 0; i + 1 < used; ++i) ASSERT_EQ(a[i], b[i]) << bits << " row " << y;
    }
  }
}

}  // namespace
}  // namespace imaging
