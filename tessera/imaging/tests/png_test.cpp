// PNG adapter: header, palette, densities, transformations, writer, ImageMagick conformance.
#include "imaging/png.h"

#include <gtest/gtest.h>

#include <cstring>

#include "imaging/image.h"
#include "test_support.h"

namespace imaging {
namespace {

using imaging_test::Shell;
using imaging_test::TempDir;

struct Reader {
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<mms::ByteStream> stream;
  PngReader* reader = nullptr;
  int rc = 0;
  explicit Reader(std::vector<std::uint8_t> b) : bytes(std::move(b)) {
    stream = mms::ByteStream::OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    rc = PngOpenReader(stream.get(), &reader);
  }
  ~Reader() {
    if (reader) PngCloseReader(reader);
  }
};

TEST(PngReader, SignatureChecksComeFirst) {
  EXPECT_EQ(Reader({0x89, 'P', 'N'}).rc, kPngNotPng);
  EXPECT_EQ(Reader({'G', 'I', 'F', '8', '9', 'a'}).rc, kPngNotPng);
  EXPECT_EQ(PngOpenReader(nullptr, nullptr), kPngReadBadArgument);
  // A signature followed by garbage is a library error.
  EXPECT_EQ(Reader({0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'}).rc,
            kPngLibraryError);
}

TEST(PngReader, DensitiesWithAndWithoutPhys) {
  REQUIRE_MAGICK();
  TempDir dir;
  ASSERT_TRUE(Shell("convert -size 4x4 xc:red -strip " + dir.Path("a.png")));
  Reader a(imaging_test::ReadFile(dir.Path("a.png")));
  ASSERT_EQ(a.rc, kPngOk);
  BITMAPINFOHEADER h;
  ASSERT_EQ(PngGetHeader(a.reader, &h), kPngOk);
  EXPECT_EQ(h.biXPelsPerMeter, 72);
  EXPECT_EQ(h.biYPelsPerMeter, 72);
  // Saved by the system: pHYs in metres carries the bitmap's resolution.
  auto dib = PackedDib::Create(3, 3, 24);
  dib->header().biXPelsPerMeter = 1234;
  dib->header().biYPelsPerMeter = 567;
  ASSERT_EQ(SaveImage(*dib, imaging_test::Wide(dir.Path("b.png")), kTypePng), 1);
  Reader b(imaging_test::ReadFile(dir.Path("b.png")));
  ASSERT_EQ(b.rc, kPngOk);
  ASSERT_EQ(PngGetHeader(b.reader, &h), kPngOk);
  EXPECT_EQ(h.biXPelsPerMeter, 1234);
  EXPECT_EQ(h.biYPelsPerMeter, 567);
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biSizeImage, 12u * 3);
}

TEST(PngReader, SixteenBitRgbaBecomesBgr24) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string path = dir.Path("rgba16.png");
  ASSERT_TRUE(Shell("convert -size 5x2 xc:'rgba(255,128,0,0.5)' -depth 16 PNG64:" + path));
  Reader r(imaging_test::ReadFile(path));
  ASSERT_EQ(r.rc, kPngOk);
  BITMAPINFOHEADER h;
  ASSERT_EQ(PngGetHeader(r.reader, &h), kPngOk);
  EXPECT_EQ(h.biBitCount, 24);
  PngLayout l;
  ASSERT_EQ(PngGetLayout(r.reader, &l), kPngOk);
  EXPECT_EQ(l.rowBytes, 15);
  EXPECT_EQ(l.channels, 3);
  std::uint8_t row[15];
  int first = -1, got = 0;
  ASSERT_EQ(PngReadRows(r.reader, row, 1, &first, &got), kPngOk);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(row[0], 0);    // blue
  EXPECT_EQ(row[1], 128);  // green
  EXPECT_EQ(row[2], 255);  // red
}

TEST(PngReader, PaletteOfSixteenEntries) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string path = dir.Path("p.png");
  ASSERT_TRUE(Shell("convert -size 16x1 gradient:red-blue -colors 16 -type palette PNG8:" + path));
  Reader r(imaging_test::ReadFile(path));
  ASSERT_EQ(r.rc, kPngOk);
  int size = 0;
  ASSERT_EQ(PngGetPalette(r.reader, nullptr, &size), kPngOk);
  EXPECT_EQ(size % 4, 0);
  EXPECT_GT(size, 0);
  EXPECT_LE(size, 64);
  std::vector<std::uint8_t> quads(size);
  ASSERT_EQ(PngGetPalette(r.reader, quads.data(), &size), kPngOk);
  for (int i = 0; i < size / 4; ++i) EXPECT_EQ(quads[4 * i + 3], 0);
  // The first pixel is pure red: its palette entry reads blue 0, green 0, red 255.
  std::uint8_t row[16];
  ASSERT_EQ(PngReadRows(r.reader, row, 1, nullptr, nullptr), kPngOk);
  PngLayout l;
  PngGetLayout(r.reader, &l);
  int index = row[0];
  if (l.bitDepth == 4) index >>= 4;
  EXPECT_EQ(quads[4 * index], 0);
  EXPECT_EQ(quads[4 * index + 2], 255);
}

TEST(PngWriter, DepthAndColourTypeFromBitCount) {
  TempDir dir;
  BITMAPINFOHEADER h;
  h.biWidth = 3;
  h.biHeight = 1;
  h.biBitCount = 24;
  {
    auto s = mms::ByteStream::OpenFileUtf8(dir.Path("c.png").c_str(), mms::ByteStream::kWrite);
    PngWriter* w = nullptr;
    ASSERT_EQ(PngOpenWriter(s.get(), h, &w), kPngOk);
    const std::uint8_t row[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(PngWriteRows(w, -1, 1, row, nullptr), kPngWriteBadArgument);
    EXPECT_EQ(PngWriteRows(w, 0, 0, row, nullptr), kPngWriteBadArgument);
    int written = 0;
    ASSERT_EQ(PngWriteRows(w, 0, 1, row, &written), kPngOk);
    EXPECT_EQ(written, 1);
    ASSERT_EQ(PngCloseWriter(w), kPngOk);
  }
  h.biBitCount = 8;
  {
    auto s = mms::ByteStream::OpenFileUtf8(dir.Path("g.png").c_str(), mms::ByteStream::kWrite);
    PngWriter* w = nullptr;
    ASSERT_EQ(PngOpenWriter(s.get(), h, &w), kPngOk);
    const std::uint8_t row[3] = {0, 128, 255};
    ASSERT_EQ(PngWriteRows(w, 0, 1, row, nullptr), kPngOk);
    ASSERT_EQ(PngCloseWriter(w), kPngOk);
  }
  const auto c = imaging_test::ReadFile(dir.Path("c.png"));
  const auto g = imaging_test::ReadFile(dir.Path("g.png"));
  ASSERT_GT(c.size(), 26u);
  // IHDR: bit depth at 24, colour type at 25.
  EXPECT_EQ(c[24], 8);
  EXPECT_EQ(c[25], 2);
  EXPECT_EQ(g[24], 8);
  EXPECT_EQ(g[25], 0);
  // The rows went in as blue, green, red.
  Reader r(c);
  ASSERT_EQ(r.rc, kPngOk);
  std::uint8_t back[9];
  ASSERT_EQ(PngReadRows(r.reader, back, 1, nullptr, nullptr), kPngOk);
  EXPECT_EQ(back[0], 1);
  EXPECT_EQ(back[2], 3);
  // The text entries are there.
  const std::string text(c.begin(), c.end());
  EXPECT_NE(text.find("Title"), std::string::npos);
  EXPECT_NE(text.find("Unknown"), std::string::npos);
  EXPECT_NE(text.find("zTXtDescription"), std::string::npos);
  if (imaging_test::HaveTool("identify")) {
    EXPECT_TRUE(Shell("identify " + dir.Path("g.png") + " >/dev/null 2>&1"));
  }
}

TEST(PngReader, TruncatedAndCorruptFilesFailCleanly) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string path = dir.Path("t.png");
  ASSERT_TRUE(Shell("convert -size 40x30 gradient:red-blue " + path));
  const auto bytes = imaging_test::ReadFile(path);
  for (std::size_t n = 0; n < bytes.size(); n += 7) {
    imaging_test::WriteFile(dir.Path("cut.png"),
                            std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    Box box{40, 30};
    auto dib = LoadImageFitted(imaging_test::Wide(dir.Path("cut.png")), &box, kTypeByExtension);
    if (n < 40) {
      EXPECT_FALSE(dib) << n;
    }
  }
}

// Chunk builder for hand-made files; the CRC is the one PNG uses.
std::uint32_t Crc(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0xFFFFFFFFu) {
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc;
}

void Put32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(std::vector<std::uint8_t>* out, const char* type, const std::vector<std::uint8_t>& data,
              std::uint32_t declared) {
  Put32(out, declared);
  const std::size_t start = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  Put32(out, Crc(out->data() + start, out->size() - start) ^ 0xFFFFFFFFu);
}

void PutChunk(std::vector<std::uint8_t>* out, const char* type, const std::vector<std::uint8_t>& data) {
  PutChunk(out, type, data, static_cast<std::uint32_t>(data.size()));
}

// A 16 x 12 grey picture with one ancillary chunk of the given type, data and declared length
// placed before its image data. Stored (uncompressed) deflate blocks keep it free of zlib.
std::vector<std::uint8_t> GreyWithChunk(const char* type, const std::vector<std::uint8_t>& data,
                                        std::uint32_t declared) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  PutChunk(&out, "IHDR", {0, 0, 0, 16, 0, 0, 0, 12, 8, 0, 0, 0, 0});
  PutChunk(&out, type, data, declared);
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < 12; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 16; ++x) raw.push_back(static_cast<std::uint8_t>(16 * x));
  }
  std::vector<std::uint8_t> z = {0x78, 0x01, 1, static_cast<std::uint8_t>(raw.size()),
                                 static_cast<std::uint8_t>(raw.size() >> 8),
                                 static_cast<std::uint8_t>(~raw.size()),
                                 static_cast<std::uint8_t>(~raw.size() >> 8)};
  z.insert(z.end(), raw.begin(), raw.end());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  Put32(&z, (b << 16) | a);
  PutChunk(&out, "IDAT", z);
  PutChunk(&out, "IEND", {});
  return out;
}

TEST(PngReader, DeclaredChunkLengthsCostNoMemory) {
  if (!imaging_test::AllocationMeter::available()) GTEST_SKIP() << "no allocation hooks in this build";
  TempDir dir;
  const std::vector<std::uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'};
  // Text, compressed text, colour profile and a private chunk each claiming almost 2 GB in a
  // file of a few hundred octets.
  for (const char* type : {"tEXt", "zTXt", "iCCP", "prVt", "sPLT"}) {
    const auto bytes = GreyWithChunk(type, text, 1982045221u);
    ASSERT_LT(bytes.size(), 400u);
    imaging_test::WriteFile(dir.Path("lie.png"), bytes);
    imaging_test::AllocationMeter meter;
    Box box{16, 12};
    auto dib = LoadImageFitted(imaging_test::Wide(dir.Path("lie.png")), &box, kTypePng);
    EXPECT_LT(meter.largest(), 1u << 20) << type;
    EXPECT_LT(meter.total(), 4u << 20) << type;
  }
  // Honest ancillary chunks, large or small, are skipped: the picture still loads.
  for (std::size_t size : {std::size_t{10}, std::size_t{600000}}) {
    std::vector<std::uint8_t> big = text;
    big.resize(size, 'x');
    imaging_test::WriteFile(dir.Path("ok.png"), GreyWithChunk("tEXt", big, static_cast<std::uint32_t>(size)));
    imaging_test::AllocationMeter meter;
    auto dib = imaging_test::LoadFull(dir.Path("ok.png"));
    ASSERT_TRUE(dib) << size;
    EXPECT_EQ(imaging_test::Pixel(*dib, 3, 5)[0], 48);
    EXPECT_LT(meter.largest(), 1u << 20) << size;
  }
}

struct PngVariant {
  const char* name;
  const char* options;
  int tolerance;
};

class PngConformance : public ::testing::TestWithParam<PngVariant> {};

TEST_P(PngConformance, MatchesImageMagick) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string path = dir.Path("v.png");
  ASSERT_TRUE(
      Shell("convert -size 53x41 gradient:orange-teal -swirl 120 " + std::string(GetParam().options) + path));
  imaging_test::Rgb ref;
  ASSERT_TRUE(imaging_test::Reference(path, &ref, "-alpha off"));
  auto dib = imaging_test::LoadFull(path);
  ASSERT_TRUE(dib);
  std::string why;
  EXPECT_EQ(imaging_test::CountMismatches(*dib, ref, GetParam().tolerance, &why), 0) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PngConformance,
    ::testing::Values(
        PngVariant{"rgb", "PNG24:", 0}, PngVariant{"palette", "-colors 100 PNG8:", 0},
        PngVariant{"grey", "-colorspace gray -depth 8 PNG:", 0},
        PngVariant{"greyalpha",
                   "-colorspace gray -depth 8 -alpha set -channel A -evaluate set 60% +channel PNG:", 0},
        PngVariant{"grey16", "-colorspace gray PNG:", 1},
        PngVariant{"grey4", "-colorspace gray -depth 4 PNG:", 0},
        PngVariant{"grey2", "-colorspace gray -depth 2 PNG:", 0},
        PngVariant{"grey1", "-colorspace gray -threshold 50% -depth 1 PNG:", 0},
        PngVariant{"alpha", "-alpha set -channel A -evaluate set 50% +channel PNG32:", 0},
        PngVariant{"rgb16", "-depth 16 PNG48:", 1}, PngVariant{"interlaced", "-interlace PNG PNG24:", 0},
        PngVariant{"interlacedpalette", "-colors 50 -interlace PNG PNG8:", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace imaging
