// JPEG layer: scaled decoding, colour spaces, densities, errors, ImageMagick conformance.
#include "imaging/jpeg.h"

#include <gtest/gtest.h>

#include "imaging/image.h"
#include "test_support.h"

namespace imaging {
namespace {

using imaging_test::Shell;
using imaging_test::TempDir;

struct Reader {
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<JpegReader> reader;
  int rc = 0;
  explicit Reader(std::vector<std::uint8_t> b) : bytes(std::move(b)) {
    stream = mms::ByteStream::OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    rc = JpegReader::Open(stream.get(), &reader);
  }
};

std::vector<std::uint8_t> EncodePattern(int w, int h, int bits, LONG pelsPerMetre = 3780) {
  TempDir dir;
  auto dib = PackedDib::Create(w, h, bits);
  for (int i = 0; i < dib->colorCount(); ++i) dib->palette()[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < h; ++y)
    for (std::int64_t x = 0; x < dib->stride(); ++x) dib->TopRow(y)[x] = static_cast<std::uint8_t>(x + y);
  dib->header().biXPelsPerMeter = pelsPerMetre;
  dib->header().biYPelsPerMeter = pelsPerMetre;
  EXPECT_EQ(SaveImage(*dib, imaging_test::Wide(dir.Path("p.jpg")), kTypeJpeg), 1);
  return imaging_test::ReadFile(dir.Path("p.jpg"));
}

TEST(JpegReader, ScaledDecodingPicksThePowerOfTwo) {
  Reader r(EncodePattern(1600, 1200, 24));
  ASSERT_EQ(r.rc, kJpegOk);
  int w = 176, h = 144;
  ASSERT_EQ(r.reader->Size(&w, &h), kJpegOk);
  BITMAPINFOHEADER header;
  ASSERT_EQ(r.reader->Start(&header), kJpegOk);
  EXPECT_EQ(header.biWidth, 200);
  EXPECT_EQ(header.biHeight, 150);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biClrUsed, 0u);
  EXPECT_EQ(header.biSizeImage, 150u * 600);
  // 96 dpi written, read back as 96 x 3937 / 100 pixels per metre.
  EXPECT_EQ(header.biXPelsPerMeter, 96 * 3937 / 100);
  std::vector<std::uint8_t> rows(600 * 200);
  int first = -1, got = 0;
  ASSERT_EQ(r.reader->ReadRows(rows.data(), 200, &first, &got), kJpegOk);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(got, 150);

  Reader own(EncodePattern(640, 480, 24));
  w = 0;
  h = 0;
  ASSERT_EQ(own.reader->Size(&w, &h), kJpegOk);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST(JpegReader, GreyHeaderAndDensityUnits) {
  Reader r(EncodePattern(33, 17, 8, 11811));  // 300 dpi
  ASSERT_EQ(r.rc, kJpegOk);
  EXPECT_EQ(r.reader->components(), 1);
  BITMAPINFOHEADER h;
  ASSERT_EQ(r.reader->Start(&h), kJpegOk);
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(h.biClrUsed, 256u);
  EXPECT_EQ(h.biSizeImage, 17u * 36);
  EXPECT_EQ(h.biXPelsPerMeter, 300 * 3937 / 100);
  // JFIF density bytes at offset 13..17: unit 1 (dpi), 300, 300.
  const auto& b = r.bytes;
  EXPECT_EQ(b[13], 1);
  EXPECT_EQ((b[14] << 8) | b[15], 300);
}

TEST(JpegReader, ErrorsComeBackAsCodes) {
  EXPECT_EQ(Reader({0xFF, 0xD8, 0xFF}).rc, kJpegLibraryError);
  EXPECT_EQ(Reader({'n', 'o', 't'}).rc, kJpegLibraryError);
  EXPECT_EQ(JpegReader::Open(nullptr, nullptr), kJpegBadArgument);
  // Every truncation: an error code or (padded) rows, never a crash.
  const auto good = EncodePattern(48, 32, 24);
  for (std::size_t n = 0; n < good.size(); n += 11) {
    Reader r(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
    if (r.rc != kJpegOk) continue;
    BITMAPINFOHEADER h;
    if (r.reader->Start(&h) != kJpegOk) continue;
    std::vector<std::uint8_t> rows(144 * 32);
    int first = 0, got = 0;
    r.reader->ReadRows(rows.data(), 32, &first, &got);
  }
  BITMAPINFOHEADER h;
  h.biWidth = 4;
  h.biHeight = 4;
  h.biBitCount = 16;
  std::unique_ptr<JpegWriter> w;
  auto s = mms::ByteStream::OpenMemory(static_cast<std::uint8_t*>(nullptr), 0);
  EXPECT_EQ(JpegWriter::Open(s.get(), h, &w), kJpegUnsupportedColor);
}

TEST(JpegReader, APictureCutInHalfIsAnErrorOneMissingOnlyItsEndMarkerIsNot) {
  const auto good = EncodePattern(320, 240, 24);
  ASSERT_GT(good.size(), 4u);
  ASSERT_EQ(good[good.size() - 2], 0xFF);
  ASSERT_EQ(good[good.size() - 1], 0xD9);
  auto readAll = [](const std::vector<std::uint8_t>& bytes, int* got) {
    Reader r(bytes);
    if (r.rc != kJpegOk) return r.rc;
    BITMAPINFOHEADER h;
    if (int rc = r.reader->Start(&h); rc != kJpegOk) return rc;
    std::vector<std::uint8_t> rows(960 * 240);
    int first = 0;
    return r.reader->ReadRows(rows.data(), 240, &first, got);
  };
  int got = 0;
  EXPECT_EQ(readAll(good, &got), kJpegOk);
  EXPECT_EQ(got, 240);
  EXPECT_EQ(readAll(std::vector<std::uint8_t>(good.begin(), good.end() - 2), &got), kJpegOk);
  EXPECT_EQ(got, 240);
  got = -1;
  EXPECT_EQ(readAll(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), &got),
            kJpegLibraryError);
  EXPECT_GE(got, 0);
  EXPECT_LT(got, 240);
}

TEST(JpegConformance, ColourGreyProgressiveMatchImageMagickAndCmykIsRefused) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string src = dir.Path("src.png");
  ASSERT_TRUE(Shell("convert -size 71x45 gradient:magenta-lime -swirl 100 " + src));
  struct Case {
    const char* name;
    const char* options;
  } cases[] = {{"colour.jpg", "-quality 85"},
               {"grey.jpg", "-colorspace gray -quality 85"},
               {"progressive.jpg", "-interlace JPEG -quality 85"}};
  for (const Case& c : cases) {
    const std::string path = dir.Path(c.name);
    ASSERT_TRUE(Shell("convert " + src + " " + c.options + " " + path));
    imaging_test::Rgb ref;
    ASSERT_TRUE(imaging_test::Reference(path, &ref));
    auto dib = imaging_test::LoadFull(path);
    ASSERT_TRUE(dib) << c.name;
    std::string why;
    // Same library underneath; allow for a different IDCT or upsampling choice.
    EXPECT_EQ(imaging_test::CountMismatches(*dib, ref, 3, &why), 0) << c.name << ": " << why;
  }
  const std::string cmyk = dir.Path("cmyk.jpg");
  ASSERT_TRUE(Shell("convert " + src + " -colorspace cmyk " + cmyk));
  Reader r(imaging_test::ReadFile(cmyk));
  ASSERT_EQ(r.rc, kJpegOk);
  BITMAPINFOHEADER h;
  EXPECT_EQ(r.reader->Start(&h), kJpegUnsupportedColor);
  Box box{100, 100};
  EXPECT_FALSE(LoadImageFitted(imaging_test::Wide(cmyk), &box, kTypeByExtension));
}

}  // namespace
}  // namespace imaging
