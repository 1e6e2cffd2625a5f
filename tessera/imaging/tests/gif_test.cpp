// GIF decoder, animation renderer, encoder and shrinking.
#include "imaging/gif.h"

#include <gtest/gtest.h>

#include <cstring>

#include "imaging/image.h"
#include "test_support.h"

namespace imaging {
namespace {

using imaging_test::Pixel;
using imaging_test::Shell;
using imaging_test::TempDir;
using imaging_test::Wide;

// One frame of a test animation: a rectangle filled with one index, over a screen whose
// global table is red, green, blue, white, black.
struct TestFrame {
  GifFrame f;
  std::uint8_t index;
};

const RGBQUAD kTable[5] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}};

std::vector<std::uint8_t> MakeAnimation(int w, int h, int background, const std::vector<TestFrame>& frames,
                                        int loop = -1) {
  TempDir dir;
  const std::string path = dir.Path("anim.gif");
  {
    auto s = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
    std::unique_ptr<GifEncoder> e;
    EXPECT_EQ(GifEncoder::Create(s.get(), 8, &e), kGifOk);
    EXPECT_EQ(e->SetScreen(w, h, 3, 3, false, background), kGifOk);
    EXPECT_EQ(e->WriteColorTable(kTable, 5, 3), kGifOk);
    if (loop >= 0) e->LoopExtension(loop);
    for (const TestFrame& t : frames) {
      EXPECT_EQ(e->SetFrame(t.f, 0), kGifOk);
      std::vector<std::uint8_t> px(static_cast<std::size_t>(t.f.width) * t.f.height, t.index);
      EXPECT_EQ(e->WriteFrame(px.data(), t.f.width, t.f.width, t.f.height, 3), kGifOk);
    }
    EXPECT_EQ(e->Close(), kGifOk);
  }
  return imaging_test::ReadFile(path);
}

GifFrame Rect(int left, int top, int w, int h, int disposal = 0, int delay = 5) {
  GifFrame f;
  f.left = static_cast<std::uint16_t>(left);
  f.top = static_cast<std::uint16_t>(top);
  f.width = static_cast<std::uint16_t>(w);
  f.height = static_cast<std::uint16_t>(h);
  f.disposal = disposal;
  f.delay = static_cast<std::uint16_t>(delay);
  return f;
}

struct Player {
  std::vector<std::uint8_t> bytes;
  std::unique_ptr<mms::ByteStream> stream;
  std::unique_ptr<GifPlayer> player;
  Player(std::vector<std::uint8_t> b, Box box) : bytes(std::move(b)) {
    stream = mms::ByteStream::OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    player = GifPlayer::Open(stream.get(), &box);
  }
};

bool IsColour(const PackedDib& dib, int x, int y, const RGBQUAD& c) {
  const std::uint8_t* p = Pixel(dib, x, y);
  return p[0] == c.rgbBlue && p[1] == c.rgbGreen && p[2] == c.rgbRed;
}

TEST(GifAnimation, DisposalBackgroundAndNone) {
  // Frame 0 fills the screen red; frame 1 (disposal 2) a green square; frame 2 a blue
  // square elsewhere: frame 1's area shows the background (white, index 3) by then.
  auto bytes = MakeAnimation(40, 30, 3,
                             {{Rect(0, 0, 40, 30), 0},
                              {Rect(5, 5, 10, 10, 2), 1},
                              {Rect(25, 5, 10, 10, 1, 0), 2},
                              {Rect(0, 20, 5, 5, 3), 4},
                              {Rect(30, 25, 5, 5), 4}});
  Player p(bytes, Box{100, 100});
  ASSERT_TRUE(p.player);
  bool end = false;
  int delay = 0;
  const PackedDib* c = p.player->Render(0, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_EQ(delay, 50);
  EXPECT_TRUE(IsColour(*c, 20, 20, kTable[0]));
  c = p.player->Render(1, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_TRUE(IsColour(*c, 7, 7, kTable[1]));
  c = p.player->Render(2, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_EQ(delay, 10);                        // delay 0 is shown for 10 ms
  EXPECT_TRUE(IsColour(*c, 7, 7, kTable[3]));  // disposed to the background
  EXPECT_TRUE(IsColour(*c, 27, 7, kTable[2]));
  EXPECT_TRUE(IsColour(*c, 20, 20, kTable[0]));
  // Disposal 3 behaves like 1: the black square of frame 3 stays under frame 4.
  ASSERT_TRUE(p.player->Render(3, &end, &delay));
  c = p.player->Render(4, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_TRUE(IsColour(*c, 2, 22, kTable[4]));
  EXPECT_FALSE(p.player->Render(5, &end, &delay));
  EXPECT_TRUE(end);
  // Going back restarts the walk.
  ASSERT_TRUE(p.player->Render(0, &end, &delay));
  EXPECT_TRUE(IsColour(*p.player->canvas(), 7, 7, kTable[0]));
}

TEST(GifAnimation, TransparencyKeepsTheCanvas) {
  TempDir dir;
  // One frame: index 2 marked transparent over a checkerboard of 2 and 4.
  const std::string path = dir.Path("t.gif");
  {
    auto s = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
    std::unique_ptr<GifEncoder> e;
    ASSERT_EQ(GifEncoder::Create(s.get(), 8, &e), kGifOk);
    e->SetScreen(20, 20, 3, 3, false, 1);
    e->WriteColorTable(kTable, 5, 3);
    GifFrame f0 = Rect(0, 0, 20, 20);
    f0.transparent = true;
    f0.transparentIndex = 2;
    std::vector<std::uint8_t> px(400);
    for (int i = 0; i < 400; ++i) px[i] = ((i / 20 + i % 20) % 2) ? 2 : 4;
    e->SetFrame(f0, 0);
    e->WriteFrame(px.data(), 20, 20, 20, 3);
    e->Close();
  }
  Box box{20, 20};
  auto dib = LoadImageFitted(Wide(path), &box, kTypeByExtension);
  ASSERT_TRUE(dib);
  EXPECT_TRUE(IsColour(*dib, 0, 0, kTable[4]));
  EXPECT_TRUE(IsColour(*dib, 1, 0, kTable[1]));  // transparent: background (green)
}

TEST(GifDecoder, SignatureScreenAndFrameChecks) {
  auto bytes = MakeAnimation(16, 8, 0, {{Rect(0, 0, 16, 8), 1}});
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<std::uint8_t>(std::tolower(bytes[i]));
  {
    Player p(bytes, Box{16, 8});
    ASSERT_TRUE(p.player) << "lower-case signature";
  }
  auto bad = bytes;
  bad[4] = '8';  // "gif88a"
  auto s = mms::ByteStream::OpenMemory(bad.data(), static_cast<std::int64_t>(bad.size()));
  std::unique_ptr<GifDecoder> d;
  EXPECT_EQ(GifDecoder::Open(s.get(), &d), kGifNotGif);
  auto zero = bytes;
  zero[6] = zero[7] = 0;  // width 0
  s = mms::ByteStream::OpenMemory(zero.data(), static_cast<std::int64_t>(zero.size()));
  EXPECT_EQ(GifDecoder::Open(s.get(), &d), kGifBadScreen);
  // A frame that starts beyond the screen is refused; one wider than the screen is clipped.
  auto far = MakeAnimation(16, 8, 0, {{Rect(17, 0, 4, 4), 1}});
  s = mms::ByteStream::OpenMemory(far.data(), static_cast<std::int64_t>(far.size()));
  ASSERT_EQ(GifDecoder::Open(s.get(), &d), kGifOk);
  EXPECT_EQ(d->SelectFrame(0), kGifBadScreen);
  auto wide = MakeAnimation(16, 8, 0, {{Rect(10, 4, 300, 200), 2}});
  Player p(wide, Box{16, 8});
  ASSERT_TRUE(p.player);
  bool end = false;
  int delay = 0;
  const PackedDib* c = p.player->Render(0, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_TRUE(IsColour(*c, 15, 7, kTable[2]));
  EXPECT_TRUE(IsColour(*c, 9, 3, kTable[0]));
}

// Packs codes least-significant bit first into one data stream with sub-blocks.
struct CodeWriter {
  std::vector<std::uint8_t> bytes;
  std::uint32_t acc = 0;
  int bits = 0;
  void Put(int code, int size) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    bits += size;
    while (bits >= 8) {
      bytes.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  std::vector<std::uint8_t> Blocks() {
    if (bits > 0) bytes.push_back(static_cast<std::uint8_t>(acc));
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < bytes.size(); i += 255) {
      const std::size_t n = std::min<std::size_t>(255, bytes.size() - i);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), bytes.begin() + static_cast<long>(i), bytes.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
    return out;
  }
};

std::vector<std::uint8_t> OneFrameGif(int w, int h, int minCodeSize, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', std::uint8_t(w), std::uint8_t(w >> 8),
                                 std::uint8_t(h), std::uint8_t(h >> 8), 0x81, 2, 0,
                                 // table: red, blue, green, black
                                 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0, std::uint8_t(w),
                                 std::uint8_t(w >> 8), std::uint8_t(h), std::uint8_t(h >> 8), 0,
                                 std::uint8_t(minCodeSize)};
  g.insert(g.end(), data.begin(), data.end());
  g.push_back(0x3B);
  return g;
}

TEST(GifDecoder, HugeScreensAndFramesAreRefusedBeforeAllocating) {
  // A 65535 x 65535 screen still plays into a small box; a frame that size is refused.
  CodeWriter w;
  w.Put(4, 3);
  w.Put(5, 3);
  auto gif = OneFrameGif(0xFFFF, 0xFFFF, 2, w.Blocks());
  Player small(gif, Box{176, 144});
  ASSERT_TRUE(small.player);
  bool end = false;
  int delay = 0;
  EXPECT_FALSE(small.player->Render(0, &end, &delay));
  EXPECT_FALSE(end);
  Player huge(gif, Box{0xFFFF, 0xFFFF});
  EXPECT_FALSE(huge.player);
}

TEST(GifLzw, FullTableMustBeFollowedByClear) {
  // Literal 0 codes until the table holds 4096 entries, then a literal 1: decoding stops
  // there, so no pixel becomes blue and the rest keeps the background (green).
  CodeWriter w;
  int size = 3, next = 6;
  w.Put(4, size);  // clear
  w.Put(0, size);  // first code adds nothing
  int pixels = 1;
  while (next < 4096) {
    w.Put(0, size);
    ++pixels;
    ++next;
    if (next == (1 << size) && size < 12) ++size;
  }
  w.Put(1, size);
  w.Put(5, size);
  auto gif = OneFrameGif(100, 50, 2, w.Blocks());
  Player p(gif, Box{100, 50});
  ASSERT_TRUE(p.player);
  bool end = false;
  int delay = 0;
  const PackedDib* c = p.player->Render(0, &end, &delay);
  ASSERT_TRUE(c);
  const RGBQUAD red{0, 0, 255, 0}, green{0, 255, 0, 0};
  const int last = pixels - 1;
  EXPECT_TRUE(IsColour(*c, last % 100, last / 100, red));
  EXPECT_TRUE(IsColour(*c, pixels % 100, pixels / 100, green));
}

TEST(GifLzw, KwKwKCodesBeyondTheTableAndBadCodeSizes) {
  // clear, 1, 6 (= next free code: KwKwK gives 1 1), 7 (next free again: 1 1 1), end.
  CodeWriter w;
  w.Put(4, 3);
  w.Put(1, 3);
  w.Put(6, 3);
  w.Put(7, 3);
  w.Put(5, 4);
  auto gif = OneFrameGif(6, 1, 2, w.Blocks());
  Player p(gif, Box{6, 1});
  ASSERT_TRUE(p.player);
  bool end = false;
  int delay = 0;
  const PackedDib* c = p.player->Render(0, &end, &delay);
  ASSERT_TRUE(c);
  for (int x = 0; x < 6; ++x) EXPECT_TRUE(IsColour(*c, x, 0, RGBQUAD{255, 0, 0, 0})) << x;
  // A code far beyond the table ends the frame after the pixels before it.
  CodeWriter b;
  b.Put(4, 3);
  b.Put(1, 3);
  b.Put(7, 3);  // next free is 6
  auto broken = OneFrameGif(6, 1, 2, b.Blocks());
  Player q(broken, Box{6, 1});
  c = q.player->Render(0, &end, &delay);
  ASSERT_TRUE(c);
  EXPECT_TRUE(IsColour(*c, 0, 0, RGBQUAD{255, 0, 0, 0}));
  EXPECT_TRUE(IsColour(*c, 1, 0, RGBQUAD{255, 0, 0, 0}) == false);
  // Minimum code sizes outside 1..8 are refused.
  auto bad = OneFrameGif(6, 1, 9, {0});
  auto s = mms::ByteStream::OpenMemory(bad.data(), static_cast<std::int64_t>(bad.size()));
  std::unique_ptr<GifDecoder> d;
  ASSERT_EQ(GifDecoder::Open(s.get(), &d), kGifOk);
  EXPECT_EQ(d->SelectFrame(0), kGifLzwInitFailed);
}

// The same file with its image data cut into sub-blocks of at most `chunk` bytes.
std::vector<std::uint8_t> Rechunk(const std::vector<std::uint8_t>& gif, std::size_t chunk) {
  std::size_t p = 13 + ((gif[10] & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0);
  std::vector<std::uint8_t> out(gif.begin(), gif.begin() + static_cast<long>(p));
  auto copySubBlocks = [&](std::vector<std::uint8_t>* payload) {
    while (gif[p] != 0) {
      const std::size_t n = gif[p];
      if (payload)
        payload->insert(payload->end(), gif.begin() + static_cast<long>(p + 1),
                        gif.begin() + static_cast<long>(p + 1 + n));
      else
        out.insert(out.end(), gif.begin() + static_cast<long>(p), gif.begin() + static_cast<long>(p + 1 + n));
      p += 1 + n;
    }
    ++p;
  };
  while (gif[p] != 0x3B) {
    if (gif[p] == 0x21) {
      out.insert(out.end(), gif.begin() + static_cast<long>(p), gif.begin() + static_cast<long>(p + 2));
      p += 2;
      copySubBlocks(nullptr);
      out.push_back(0);
      continue;
    }
    const std::uint8_t packed = gif[p + 9];
    const std::size_t head = 10 + ((packed & 0x80) ? 3u << ((packed & 7) + 1) : 0) + 1;  // and the code size
    out.insert(out.end(), gif.begin() + static_cast<long>(p), gif.begin() + static_cast<long>(p + head));
    p += head;
    std::vector<std::uint8_t> payload;
    copySubBlocks(&payload);
    for (std::size_t i = 0; i < payload.size(); i += chunk) {
      const std::size_t n = std::min(chunk, payload.size() - i);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), payload.begin() + static_cast<long>(i),
                 payload.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
  }
  out.push_back(0x3B);
  return out;
}

TEST(GifLzw, LongStringsRunAcrossRowsAndSubBlocks) {
  // A repeated short pattern makes strings of up to about thirty indexes, longer than narrow
  // rows and than one table piece; noise between the patterns fills the table to its clear
  // codes.
  TempDir dir;
  for (int width : {1, 5, 16, 17, 33, 301}) {
    const int height = 15000 / width + 1;
    auto dib = PackedDib::Create(width, height, 8);
    std::uint32_t seed = 7;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int i = y * width + x;
        seed = seed * 1103515245 + 12345;
        dib->TopRow(y)[x] = static_cast<std::uint8_t>((i / 3000) % 2 ? (seed >> 16) : i % 5 + (i / 6000) % 7);
      }
    const std::string path = dir.Path("w" + std::to_string(width) + ".gif");
    auto s = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
    ASSERT_EQ(WriteGif(s.get(), *dib), kGifOk);
    s.reset();
    const auto whole = imaging_test::ReadFile(path);
    for (std::size_t chunk : {std::size_t{255}, std::size_t{1}, std::size_t{7}}) {
      const auto bytes = Rechunk(whole, chunk);
      auto in = mms::ByteStream::OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      std::unique_ptr<GifDecoder> d;
      ASSERT_EQ(GifDecoder::Open(in.get(), &d), kGifOk);
      ASSERT_EQ(d->SelectFrame(0), kGifOk);
      for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = nullptr;
        int number = -1;
        ASSERT_EQ(d->NextRow(&row, &number), kGifOk) << width << " row " << y;
        ASSERT_EQ(number, y);
        ASSERT_EQ(std::memcmp(row, dib->TopRow(y), static_cast<std::size_t>(width)), 0)
            << "width " << width << " chunk " << chunk << " row " << y;
      }
      EXPECT_FALSE(d->frameTruncated());
    }
  }
}

TEST(GifEncoder, RoundTripsEveryDepthAndImageMagickAgrees) {
  TempDir dir;
  for (int bits : {1, 4, 8}) {
    auto dib = PackedDib::Create(97, 61, bits);
    for (int i = 0; i < dib->colorCount(); ++i)
      dib->palette()[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
    std::uint32_t seed = 1;
    for (std::int64_t i = 0; i < dib->stride() * 61; ++i) {
      seed = seed * 1103515245 + 12345;
      // Runs of repeated bytes exercise long strings, noise fills the table.
      dib->bits_data()[i] = static_cast<std::uint8_t>((i / 40) % 3 == 0 ? (i / 97) : (seed >> 16));
    }
    const std::string path = dir.Path("e" + std::to_string(bits) + ".gif");
    auto s = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
    ASSERT_EQ(WriteGif(s.get(), *dib), kGifOk);
    s.reset();
    auto in = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kRead);
    std::unique_ptr<GifDecoder> d;
    ASSERT_EQ(GifDecoder::Open(in.get(), &d), kGifOk);
    ASSERT_EQ(d->SelectFrame(0), kGifOk);
    std::vector<std::uint8_t> row(97);
    for (int y = 0; y < 61; ++y) {
      int number = -1;
      ASSERT_EQ(d->ReadRow(row.data(), &number), kGifOk) << bits << " row " << y;
      ASSERT_EQ(number, y);
      const std::uint8_t* src = dib->TopRow(y);
      for (int x = 0; x < 97; ++x) {
        const int want = bits == 8   ? src[x]
                         : bits == 4 ? ((x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4)
                                     : (src[x >> 3] >> (7 - (x & 7))) & 1;
        ASSERT_EQ(row[x], want) << bits << " at " << x << "," << y;
      }
    }
    if (imaging_test::HaveTool("convert")) {
      imaging_test::Rgb ref;
      ASSERT_TRUE(imaging_test::Reference(path, &ref));
      auto loaded = imaging_test::LoadFull(path);
      ASSERT_TRUE(loaded);
      std::string why;
      EXPECT_EQ(imaging_test::CountMismatches(*loaded, ref, 0, &why), 0) << bits << ": " << why;
    }
  }
  auto rgb = PackedDib::Create(4, 4, 24);
  auto s = mms::ByteStream::OpenFileUtf8(dir.Path("x.gif").c_str(), mms::ByteStream::kWrite);
  EXPECT_EQ(WriteGif(s.get(), *rgb), kGifUnsupportedDepth);
}

TEST(GifShrink, KeepsDelaysDisposalsAndPalette) {
  TempDir dir;
  auto bytes = MakeAnimation(
      320, 240, 3,
      {{Rect(0, 0, 320, 240, 1, 7), 0}, {Rect(100, 50, 60, 40, 2, 0), 1}, {Rect(319, 239, 1, 1, 1, 12), 2}},
      5);
  imaging_test::WriteFile(dir.Path("big.gif"), bytes);
  ASSERT_EQ(
      ConvertImage(Wide(dir.Path("small.gif")), Wide(dir.Path("big.gif")), Box{176, 144}, kTypeByExtension),
      1);
  auto s = mms::ByteStream::OpenFileUtf8(dir.Path("small.gif").c_str(), 1);
  ASSERT_TRUE(s);
  std::unique_ptr<GifDecoder> d;
  ASSERT_EQ(GifDecoder::Open(s.get(), &d), kGifOk);
  EXPECT_EQ(d->screen().width, 176);
  EXPECT_EQ(d->screen().height, 132);
  GifPrescan scan;
  ASSERT_EQ(d->Prescan(&scan), kGifOk);
  EXPECT_EQ(scan.frames, 3);
  EXPECT_EQ(scan.totalDelay, 19u);
  EXPECT_TRUE(scan.applicationExtension);
  EXPECT_EQ(scan.loopCount, 5);
  const int delays[3] = {7, 0, 12}, disposals[3] = {1, 2, 1};
  for (int n = 0; n < 3; ++n) {
    ASSERT_EQ(d->SelectFrame(n), kGifOk);
    EXPECT_EQ(d->frame().delay, delays[n]);
    EXPECT_EQ(d->frame().disposal, disposals[n]);
  }
  EXPECT_EQ(d->frame().width, 1);  // a one-pixel frame stays one pixel
  ASSERT_EQ(d->SelectFrame(1), kGifOk);
  EXPECT_EQ(d->frame().left, 55);  // first canvas column sampling x >= 100
  EXPECT_EQ(d->frame().width, 33);
  RGBQUAD table[8];
  int count = 8;
  d->GlobalTable(table, &count);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(std::memcmp(table, kTable, sizeof kTable), 0);
  // Nothing to shrink: success without a file.
  ASSERT_EQ(
      ConvertImage(Wide(dir.Path("same.gif")), Wide(dir.Path("big.gif")), Box{400, 400}, kTypeByExtension),
      1);
  EXPECT_TRUE(imaging_test::ReadFile(dir.Path("same.gif")).empty());
}

TEST(GifDecoder, PrescanAndInfo) {
  TempDir dir;
  imaging_test::WriteFile(
      dir.Path("a.gif"),
      MakeAnimation(30, 20, 0, {{Rect(0, 0, 30, 20, 0, 3), 0}, {Rect(0, 0, 5, 5, 0, 4), 1}}));
  Box size;
  int depth = 0;
  ASSERT_EQ(GetImageInfo(Wide(dir.Path("a.gif")), &size, &depth, kTypeByExtension), 1);
  EXPECT_EQ(size.width, 30);
  EXPECT_EQ(size.height, 20);
  EXPECT_EQ(depth, 3);
  auto s = mms::ByteStream::OpenFileUtf8(dir.Path("a.gif").c_str(), 1);
  std::unique_ptr<GifDecoder> d;
  ASSERT_EQ(GifDecoder::Open(s.get(), &d), kGifOk);
  GifPrescan scan;
  ASSERT_EQ(d->Prescan(&scan), kGifOk);
  EXPECT_EQ(scan.totalDelay, 7u);
  EXPECT_FALSE(scan.applicationExtension);
  EXPECT_EQ(d->SelectFrame(1), kGifOk);  // the scan leaves the decoder usable
}

TEST(GifDecoder, TruncationAtEveryOffsetIsHandled) {
  const auto bytes =
      MakeAnimation(24, 16, 0, {{Rect(0, 0, 24, 16), 0}, {Rect(2, 2, 8, 8, 2), 1}, {Rect(4, 4, 8, 8), 2}});
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    Player p(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)), Box{24, 16});
    if (!p.player) continue;
    for (int f = 0; f < 4; ++f) {
      bool end = false;
      int delay = 0;
      if (!p.player->Render(f, &end, &delay)) break;
    }
  }
}

TEST(GifAnimation, EndCodeBeforeTheLastRowDrawsWhatArrivedAndSaysSo) {
  // 4 x 4 screen, table red, green, blue, white; one frame whose codes are clear, four
  // green pixels (one row) and the end code, 3 bits then 4 bits wide.
  const std::vector<std::uint8_t> whole = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x81, 0, 0,
                                     255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255,
                                     0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2, 3, 0x4C, 0x12, 0x05, 0, 0x3B};
  Player p(whole, Box{4, 4});
  ASSERT_TRUE(p.player);
  bool end = false;
  int delay = 0;
  const PackedDib* canvas = p.player->Render(0, &end, &delay);
  ASSERT_TRUE(canvas);
  EXPECT_TRUE(p.player->lastFrameShort());
  EXPECT_TRUE(IsColour(*canvas, 3, 0, kTable[1]));
  EXPECT_TRUE(IsColour(*canvas, 0, 1, kTable[0]));  // background where no row arrived
  // The same frame in a file that ends inside its codes is a read error.
  Player cut(std::vector<std::uint8_t>(whole.begin(), whole.end() - 4), Box{4, 4});
  ASSERT_TRUE(cut.player);
  EXPECT_FALSE(cut.player->Render(0, &end, &delay));
  EXPECT_FALSE(end);
  // A whole frame is not short.
  Player full(MakeAnimation(8, 8, 0, {{Rect(0, 0, 8, 8), 2}}), Box{8, 8});
  ASSERT_TRUE(full.player->Render(0, &end, &delay));
  EXPECT_FALSE(full.player->lastFrameShort());
}

TEST(GifConformance, InterlacedAndAnimatedMatchImageMagick) {
  REQUIRE_MAGICK();
  TempDir dir;
  const std::string src = dir.Path("src.png"), gi = dir.Path("i.gif"), anim = dir.Path("anim.gif");
  ASSERT_TRUE(Shell("convert -size 83x57 gradient:yellow-navy -swirl 90 " + src));
  ASSERT_TRUE(Shell("convert " + src + " -colors 60 -interlace GIF " + gi));
  imaging_test::Rgb ref;
  ASSERT_TRUE(imaging_test::Reference(gi, &ref));
  auto dib = imaging_test::LoadFull(gi);
  ASSERT_TRUE(dib);
  std::string why;
  EXPECT_EQ(imaging_test::CountMismatches(*dib, ref, 0, &why), 0) << why;

  // Three frames with disposal none: ImageMagick's coalesced frames are the canvas.
  ASSERT_TRUE(
      Shell("convert -dispose none -delay 10 -size 60x40 xc:navy "
            "\\( -size 20x10 xc:orange -repage +5+5 \\) \\( -size 10x30 xc:lime -repage +40+8 \\) "
            "-loop 0 " +
            anim));
  Box box{60, 40};
  auto player = GifPlayer::Open(Wide(anim), &box);
  ASSERT_TRUE(player);
  for (int n = 0; n < 3; ++n) {
    bool end = false;
    int delay = 0;
    const PackedDib* c = player->Render(n, &end, &delay);
    ASSERT_TRUE(c) << n;
    EXPECT_EQ(delay, 100);
    imaging_test::Rgb frame;
    ASSERT_TRUE(Shell("convert " + anim + " -coalesce " + dir.Path("c%d.png")));
    ASSERT_TRUE(imaging_test::Reference(dir.Path("c" + std::to_string(n) + ".png"), &frame));
    EXPECT_EQ(imaging_test::CountMismatches(*c, frame, 0, &why), 0) << n << ": " << why;
  }
}

}  // namespace
}  // namespace imaging
