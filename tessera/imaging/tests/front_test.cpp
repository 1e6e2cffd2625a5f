// The front: dispatch, fitted loading, save and convert across formats.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/bmp.h"
#include "imaging/image.h"
#include "imaging/jpeg.h"
#include "mms/byte_stream.h"
#include "test_support.h"

namespace imaging {
namespace {

using imaging_test::LoadFull;
using imaging_test::Pixel;
using imaging_test::Shell;
using imaging_test::TempDir;
using imaging_test::Wide;

TEST(Dispatch, ExtensionsAndTypeCodes) {
  EXPECT_EQ(ResolveImageType(u"a/b/PHOTO.JPG", kTypeByExtension), kTypeJpeg);
  EXPECT_EQ(ResolveImageType(u"x.Jpeg", kTypeByExtension), kTypeJpeg);
  EXPECT_EQ(ResolveImageType(u"x.gif", kTypeByExtension), kTypeGif);
  EXPECT_EQ(ResolveImageType(u"x.PNG", kTypeByExtension), kTypePng);
  EXPECT_EQ(ResolveImageType(u"x.bmp", kTypeByExtension), kTypeBmp);
  EXPECT_EQ(ResolveImageType(u"x.wbmp", kTypeByExtension), kTypeWbmp);
  EXPECT_EQ(ResolveImageType(u"x.3gp", kTypeByExtension), kTypeVideo);
  EXPECT_EQ(ResolveImageType(u"x.mp4", kTypeByExtension), kTypeVideo);
  EXPECT_EQ(ResolveImageType(u"x.txt", kTypeByExtension), 0u);
  EXPECT_EQ(ResolveImageType(u"jpg", kTypeByExtension), 0u);
  // A type code wins over the extension; only the low 16 bits count.
  EXPECT_EQ(ResolveImageType(u"x.gif", 0x00010000 | kTypePng), kTypePng);
}

// A 24-bit bitmap with a distinct colour per row and column.
std::unique_ptr<PackedDib> Pattern(int w, int h) {
  auto dib = PackedDib::Create(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = dib->TopRow(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x * 7);
      p[1] = static_cast<std::uint8_t>(y * 5);
      p[2] = static_cast<std::uint8_t>((x + y) * 3);
    }
  return dib;
}

TEST(Front, UppercaseJpegExtensionLoadsAndFits) {
  TempDir dir;
  auto dib = Pattern(640, 480);
  ASSERT_EQ(SaveImage(*dib, Wide(dir.Path("PICTURE.JPG")), kTypeByExtension), 1);
  Box box{176, 144};
  auto loaded = LoadImageFitted(Wide(dir.Path("PICTURE.JPG")), &box, kTypeByExtension);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(box.width, 176);
  EXPECT_EQ(box.height, 132);
  EXPECT_EQ(loaded->width(), 176);
  EXPECT_EQ(loaded->bits(), 24);
}

TEST(Front, DownscaledPictureHasNoWhiteBottomRow) {
  TempDir dir;
  auto black = PackedDib::Create(640, 480, 24);  // zeroed: black
  const std::string path = dir.Path("black.bmp");
  ASSERT_EQ(SaveImage(*black, Wide(path), kTypeBmp), 1);
  for (Box box : {Box{176, 144}, Box{100, 100}, Box{33, 17}, Box{320, 239}}) {
    auto dib = LoadImageFitted(Wide(path), &box, kTypeByExtension);
    ASSERT_TRUE(dib);
    for (int y = 0; y < dib->height(); ++y)
      for (int x = 0; x < dib->width(); ++x)
        ASSERT_EQ(Pixel(*dib, x, y)[0], 0)
            << "white at " << x << "," << y << " in " << box.width << "x" << box.height;
  }
}

TEST(Front, DecimationTakesRowsWhereTheAccumulatorCrossesIntegers) {
  TempDir dir;
  auto dib = Pattern(8, 8);
  const std::string path = dir.Path("p.bmp");
  ASSERT_EQ(SaveImage(*dib, Wide(path), kTypeBmp), 1);
  Box box{4, 4};  // scale 0.5: source rows 1, 3, 5, 7; columns 0, 2, 4, 6
  auto out = LoadImageFitted(Wide(path), &box, kTypeBmp);
  ASSERT_TRUE(out);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(Pixel(*out, x, y)[1], (2 * y + 1) * 5);
      EXPECT_EQ(Pixel(*out, x, y)[0], 2 * x * 7);
    }
}

TEST(Front, SaveRefusesGifAndWbmpOfNon24BitBitmaps) {
  TempDir dir;
  auto dib = Pattern(4, 4);
  EXPECT_EQ(SaveImage(*dib, Wide(dir.Path("a.gif")), kTypeByExtension), 0);
  auto indexed = PackedDib::Create(4, 4, 8);
  EXPECT_EQ(SaveImage(*indexed, Wide(dir.Path("a.wbmp")), kTypeByExtension), 0);
  EXPECT_EQ(SaveImage(*dib, Wide(dir.Path("a.xyz")), kTypeByExtension), 0);
  // No partial file is left behind.
  EXPECT_TRUE(imaging_test::ReadFile(dir.Path("a.wbmp")).empty());
}

TEST(Front, MissingOrUnknownFilesFail) {
  TempDir dir;
  Box box{100, 100};
  Box size;
  int depth = 0;
  EXPECT_FALSE(LoadImageFitted(Wide(dir.Path("none.png")), &box, kTypeByExtension));
  EXPECT_EQ(GetImageInfo(Wide(dir.Path("none.png")), &size, &depth, kTypeByExtension), 0);
  imaging_test::WriteFile(dir.Path("junk.bmp"), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_FALSE(LoadImageFitted(Wide(dir.Path("junk.bmp")), &box, kTypeByExtension));
  Box zero{0, 10};
  EXPECT_FALSE(LoadImageFitted(Wide(dir.Path("junk.bmp")), &zero, kTypeByExtension));
  // Video has no source until the player registers one.
  EXPECT_FALSE(LoadImageFitted(Wide(dir.Path("clip.3gp")), &box, kTypeByExtension));
}

// A 4-bit RLE file of 32 x 16 pixels: each row one run of alternating 1 and 2, then an end of
// line; the last row ends the bitmap.
std::vector<std::uint8_t> Rle4Picture() {
  std::vector<std::uint8_t> data;
  for (int y = 0; y < 16; ++y) {
    data.insert(data.end(), {32, 0x12, 0, static_cast<std::uint8_t>(y == 15 ? 1 : 0)});
  }
  std::vector<std::uint8_t> f = {'B', 'M'};
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::uint32_t offset = 14 + 40 + 16 * 4;
  u32(offset + static_cast<std::uint32_t>(data.size()));
  u32(0);
  u32(offset);
  for (std::uint32_t v : {40u, 32u, 16u}) u32(v);
  f.insert(f.end(), {1, 0, 4, 0});  // planes, bits
  for (std::uint32_t v : {2u, static_cast<std::uint32_t>(data.size()), 2835u, 2835u, 16u, 0u}) u32(v);
  for (int i = 0; i < 16; ++i) f.insert(f.end(), {static_cast<std::uint8_t>(16 * i), 0, 0, 0});
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

TEST(Front, PicturesCutInHalfGiveNoBitmap) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string source = "-size 64x48 gradient:red-blue -swirl 90 ";
  const std::vector<std::pair<const char*, std::string>> made = {
      {"b24.bmp", "-type truecolor BMP3:"},
      {"rle8.bmp", "-colors 200 -type palette -compress rle BMP3:"},
      {"p.png", "PNG24:"},
      {"i.png", "-interlace PNG PNG24:"},
      {"g.gif", "GIF:"},
      {"w.wbmp", "WBMP:"},
      {"j.jpg", "-quality 85 JPEG:"},
  };
  for (const auto& [name, options] : made)
    ASSERT_TRUE(Shell("convert " + source + options + dir.Path(name))) << name;
  imaging_test::WriteFile(dir.Path("rle4.bmp"), Rle4Picture());
  std::vector<std::string> names = {"rle4.bmp"};
  for (const auto& m : made) names.push_back(m.first);
  for (const std::string& name : names) {
    const auto whole = imaging_test::ReadFile(dir.Path(name));
    ASSERT_GT(whole.size(), 100u) << name;
    // The whole file loads, at full size and fitted into a smaller box.
    EXPECT_TRUE(imaging_test::LoadFull(dir.Path(name))) << name;
    Box small{20, 20};
    EXPECT_TRUE(LoadImageFitted(Wide(dir.Path(name)), &small, kTypeByExtension)) << name;
    // Half of it is a decoder error: no picture, whatever the box.
    const std::string cut = dir.Path("cut-" + name);
    imaging_test::WriteFile(cut, std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)));
    EXPECT_FALSE(imaging_test::LoadFull(cut)) << name;
    small = Box{20, 20};
    EXPECT_FALSE(LoadImageFitted(Wide(cut), &small, kTypeByExtension)) << name;
  }
}

std::unique_ptr<PackedDib> FakeVideo(std::u16string_view, Box* box, int) {
  Box out;
  FitSize(320, 240, *box, &out);
  *box = out;
  return PackedDib::Create(out.width, out.height, 24);
}

TEST(Front, VideoGoesThroughTheRegisteredSource) {
  SetVideoFrameSource(FakeVideo);
  Box box{176, 144};
  auto dib = LoadImageFitted(u"clip.MP4", &box, kTypeByExtension);
  Box size;
  int depth = 0;
  EXPECT_EQ(GetImageInfo(u"clip.mp4", &size, &depth, kTypeByExtension), 1);
  SetVideoFrameSource(nullptr);
  ASSERT_TRUE(dib);
  EXPECT_EQ(box.width, 176);
  EXPECT_EQ(box.height, 132);
  EXPECT_EQ(size.width, 320);
  EXPECT_EQ(size.height, 240);
}

TEST(Convert, BmpKeepsItsDepthAndTable) {
  TempDir dir;
  auto src = PackedDib::Create(64, 32, 8);
  for (int i = 0; i < 256; ++i) src->palette()[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i / 2), 0};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) src->TopRow(y)[x] = static_cast<std::uint8_t>(x * 4);
  ASSERT_EQ(SaveImage(*src, Wide(dir.Path("in.bmp")), kTypeBmp), 1);
  ASSERT_EQ(ConvertImage(Wide(dir.Path("out.bmp")), Wide(dir.Path("in.bmp")), Box{32, 32}, kTypeByExtension),
            1);
  auto stream = mms::ByteStream::OpenFileUtf8(dir.Path("out.bmp").c_str(), 1);
  std::unique_ptr<BmpReader> r;
  ASSERT_EQ(BmpReader::Open(stream.get(), &r), kBmpOk);
  EXPECT_EQ(r->header().biBitCount, 8);
  EXPECT_EQ(r->header().biWidth, 32);
  EXPECT_EQ(r->header().biHeight, 16);
  std::vector<std::uint8_t> row(32);
  int first = 0, got = 0;
  ASSERT_EQ(r->ReadRows(row.data(), 1, &first, &got), kBmpOk);
  // Column i samples source column 2i, whose index was 8i: exact colours map back.
  for (int x = 0; x < 32; ++x) EXPECT_EQ(row[x], 8 * x) << x;
}

TEST(Convert, GreyJpegStaysGreyAndWbmpRoundTrips) {
  TempDir dir;
  auto grey = PackedDib::Create(200, 100, 8);
  for (int i = 0; i < 256; ++i) grey->palette()[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < 100; ++y) std::memset(grey->TopRow(y), y * 2, 200);
  ASSERT_EQ(SaveImage(*grey, Wide(dir.Path("g.jpg")), kTypeJpeg), 1);
  ASSERT_EQ(
      ConvertImage(Wide(dir.Path("small.jpg")), Wide(dir.Path("g.jpg")), Box{100, 100}, kTypeByExtension), 1);
  Box size;
  int depth = 0;
  ASSERT_EQ(GetImageInfo(Wide(dir.Path("small.jpg")), &size, &depth, kTypeByExtension), 1);
  EXPECT_EQ(depth, 8);
  EXPECT_EQ(size.width, 100);
  EXPECT_EQ(size.height, 50);

  auto dib = Pattern(40, 20);
  ASSERT_EQ(SaveImage(*dib, Wide(dir.Path("p.wbmp")), kTypeByExtension), 1);
  ASSERT_EQ(ConvertImage(Wide(dir.Path("q.wbmp")), Wide(dir.Path("p.wbmp")), Box{20, 20}, kTypeByExtension),
            1);
  ASSERT_EQ(GetImageInfo(Wide(dir.Path("q.wbmp")), &size, &depth, kTypeByExtension), 1);
  EXPECT_EQ(size.width, 20);
  EXPECT_EQ(size.height, 10);
  EXPECT_EQ(depth, 1);
  // Unsupported conversions and failures leave no file.
  EXPECT_EQ(
      ConvertImage(Wide(dir.Path("x.bmp")), Wide(dir.Path("missing.bmp")), Box{20, 20}, kTypeByExtension), 0);
  EXPECT_TRUE(imaging_test::ReadFile(dir.Path("x.bmp")).empty());
}

TEST(Front, PngAndBmpSaveLoadRoundTrip) {
  TempDir dir;
  auto dib = Pattern(37, 23);
  for (const char* name : {"r.png", "r.bmp"}) {
    ASSERT_EQ(SaveImage(*dib, Wide(dir.Path(name)), kTypeByExtension), 1) << name;
    auto back = LoadFull(dir.Path(name));
    ASSERT_TRUE(back) << name;
    ASSERT_EQ(back->width(), 37);
    for (int y = 0; y < 23; ++y) ASSERT_EQ(0, std::memcmp(back->TopRow(y), dib->TopRow(y), 37 * 3)) << name;
  }
}

}  // namespace
}  // namespace imaging
