// Conformance against ffmpeg: clips encoded at test time with ffmpeg's mpeg4 and h263 encoders are
// decoded through the exported entry points and compared with ffmpeg's bit-exact decode (PSNR per
// frame). Also output orientation, the post-filter, picture activity and damaged streams.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "brindle/brindle.h"
#include "decoder.h"
#include "dsp.h"

#include "platform_testing/temp_dir.h"

namespace brindle {
namespace {

bool HaveFfmpeg() { return platform_testing::HaveTool("ffmpeg"); }

struct TempDir : platform_testing::TempDir {
  TempDir() : platform_testing::TempDir("brindle-test") {}
  std::string File(const std::string& name) const { return Path(name); }
};

std::vector<std::uint8_t> ReadAll(const std::string& path) { return platform_testing::ReadFileBytes(path); }

struct Clip {
  const char* name;
  int width;
  int height;
  int frames;
  const char* encoder;  // ffmpeg options after the input
  bool h263;
  const char* source = "testsrc2";
  const char* filter = nullptr;  // -vf graph applied to the source
};

// Encodes the clip and decodes it with ffmpeg; false when a tool failed.
bool MakeClip(const TempDir& dir, const Clip& c, std::string* stream, std::string* reference) {
  *stream = dir.File(std::string(c.name) + (c.h263 ? ".263" : ".m4v"));
  *reference = dir.File(std::string(c.name) + ".yuv");
  std::string encode = "ffmpeg -v error -y -f lavfi -i " + std::string(c.source) +
                       "=size=" + std::to_string(c.width) + "x" + std::to_string(c.height) + ":rate=25 " +
                       (c.filter ? "-vf \"" + std::string(c.filter) + "\" " : std::string()) + "-frames:v " +
                       std::to_string(c.frames) + " " + c.encoder + " -threads 1 -f " +
                       (c.h263 ? "h263 " : "m4v ") + *stream;
  std::string decode = "ffmpeg -v error -y -threads 1 -flags +bitexact -i " + *stream +
                       " -f rawvideo -pix_fmt yuv420p " + *reference;
  return std::system(encode.c_str()) == 0 && std::system(decode.c_str()) == 0;
}

class Session {
 public:
  Session(const std::vector<std::uint8_t>& stream, bool h263, const CreationRecord& creation)
      : data_(stream) {
    StreamInfo info{};
    ok_ = gGetStreamInfo(data_.data(), static_cast<std::uint32_t>(data_.size()), &info) == 0;
    if (!ok_) return;
    if (h263) {
      ok_ = info.kind == 0 && gCreateH263Decoder(&decoder_, info.width, info.height, 0, &creation) == 0;
    } else {
      std::uint32_t size = static_cast<std::uint32_t>(data_.size());
      ok_ = info.kind == 1 && gCreateMP4SPDecoder(&decoder_, data_.data(), &size, 0, &creation) == 0;
      pos_ = size;
    }
  }
  ~Session() {
    if (decoder_) decoder_->destroy(decoder_);
  }
  bool ok() const { return ok_; }
  VideoDecoder* decoder() { return decoder_; }
  // Decodes the next picture into frame; 1 at the end, 0 decoded, -1 failed.
  int Next(PlanarFrame* frame) {
    if (pos_ >= data_.size()) return 1;
    std::uint32_t size = static_cast<std::uint32_t>(data_.size() - pos_);
    int r = decoder_->decode(decoder_, data_.data() + pos_, &size, frame);
    if (size == 0) return 1;
    pos_ += size;
    return r;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::size_t pos_ = 0;
  VideoDecoder* decoder_ = nullptr;
  bool ok_ = false;
};

double Psnr(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  double se = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / se);
}

struct Result {
  int frames = 0;
  double mean = 0;
  double min = 99;
  double lastMean = 0;  // over the final tenth of the clip
};

Result Compare(const Clip& c, const std::string& stream, const std::string& reference) {
  Result res;
  auto ref = ReadAll(reference);
  CreationRecord creation{c.width, c.height, 0, 0, 0};
  Session s(ReadAll(stream), c.h263, creation);
  EXPECT_TRUE(s.ok()) << c.name;
  if (!s.ok()) return res;
  std::size_t frameBytes = static_cast<std::size_t>(c.width * c.height * 3 / 2);
  std::vector<std::uint8_t> out(frameBytes);
  std::vector<double> psnr;
  for (;;) {
    PlanarFrame f{out.data(), out.data() + c.width * c.height, out.data() + c.width * c.height * 5 / 4,
                  static_cast<std::uint16_t>(c.width), static_cast<std::uint16_t>(c.height)};
    int r = s.Next(&f);
    if (r == 1) break;
    EXPECT_EQ(r, 0) << c.name << " picture " << psnr.size();
    if (r != 0) break;
    std::size_t at = psnr.size() * frameBytes;
    if (at + frameBytes > ref.size()) break;
    psnr.push_back(Psnr(out.data(), ref.data() + at, frameBytes));
  }
  res.frames = static_cast<int>(psnr.size());
  if (psnr.empty()) return res;
  double sum = 0;
  for (double p : psnr) {
    sum += p;
    res.min = std::min(res.min, p);
  }
  res.mean = sum / static_cast<double>(psnr.size());
  std::size_t tail = std::max<std::size_t>(1, psnr.size() / 10);
  double tailSum = 0;
  for (std::size_t i = psnr.size() - tail; i < psnr.size(); ++i) tailSum += psnr[i];
  res.lastMean = tailSum / static_cast<double>(tail);
  EXPECT_EQ(static_cast<std::size_t>(res.frames) * frameBytes, ref.size()) << c.name;
  return res;
}

const Clip kClips[] = {
    {"qcif_g12_q2", 176, 144, 24, "-c:v mpeg4 -q:v 2 -g 12", false},
    {"qcif_g12_q20_aic", 176, 144, 24, "-c:v mpeg4 -q:v 20 -g 12 -flags:v +aic", false},
    {"cif_g300_q2_4mv", 352, 288, 300, "-c:v mpeg4 -q:v 2 -g 300 -flags:v +mv4+aic", false},
    {"cif_g12_q20_resync", 352, 288, 24, "-c:v mpeg4 -q:v 20 -g 12 -flags:v +mv4 -ps 300", false},
    {"vga_g12_q4_resync", 640, 480, 24, "-c:v mpeg4 -q:v 4 -g 12 -flags:v +mv4+aic -ps 1200", false},
    {"odd_180x140_partitioned", 180, 140, 30,
     "-c:v mpeg4 -q:v 6 -g 12 -flags:v +mv4+aic -ps 300 -data_partitioning 1", false},
    {"odd_180x140_g60_4mv", 180, 140, 60, "-c:v mpeg4 -q:v 3 -g 60 -flags:v +mv4", false},
    {"cif_q2_partitioned", 352, 288, 24, "-c:v mpeg4 -q:v 2 -g 12 -flags:v +aic -ps 800 -data_partitioning 1",
     false},
    {"qcif_g300_q20_mandelbrot", 176, 144, 120, "-c:v mpeg4 -q:v 20 -g 300 -flags:v +mv4", false,
     "mandelbrot"},
    {"h263_qcif_q2", 176, 144, 24, "-c:v h263 -q:v 2 -g 12", true},
    {"h263_cif_q20_gob", 352, 288, 24, "-c:v h263 -q:v 20 -g 300 -ps 200", true},
    {"h263_sqcif_q8", 128, 96, 24, "-c:v h263 -q:v 8 -g 12", true},
    {"h263_4cif_q8", 704, 576, 8, "-c:v h263 -q:v 8 -g 12", true},
};

class Conformance : public ::testing::TestWithParam<Clip> {};

TEST_P(Conformance, MatchesTheReferenceDecode) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const Clip& c = GetParam();
  TempDir dir;
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference)) << c.name;
  Result r = Compare(c, stream, reference);
  std::printf("[ PSNR     ] %-28s frames %3d  mean %6.2f dB  min %6.2f dB  last tenth %6.2f dB\n", c.name,
              r.frames, r.mean, r.min, r.lastMean);
  RecordProperty("mean_psnr", std::to_string(r.mean));
  RecordProperty("min_psnr", std::to_string(r.min));
  EXPECT_EQ(r.frames, c.frames);
  EXPECT_GE(r.mean, 50.0);
  EXPECT_GE(r.min, c.width % 16 || c.height % 16 ? 52.0 : 40.0);  // odd sizes: the edges must hold up
  EXPECT_GE(r.lastMean, 44.0);  // no drift that grows along a long group of pictures
}

INSTANTIATE_TEST_SUITE_P(Clips, Conformance, ::testing::ValuesIn(kClips),
                         [](const ::testing::TestParamInfo<Clip>& info) {
                           return std::string(info.param.name);
                         });

// Short-header video given to the MPEG-4 factory decodes like the H.263 decoder.
// A size that is not a multiple of 4 is delivered rounded down (172 x 140 of 174 x 142); the
// delivered part matches the reference, edges included, along a long group of pictures.
TEST(OddSize, PartialMacroblocksAtTheEdgesPredictLikeTheReference) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const int w = 174, h = 142, frames = 60;
  Clip c{"odd_174x142", w, h, frames, "-c:v mpeg4 -q:v 3 -g 60 -flags:v +mv4", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  const auto ref = ReadAll(reference);
  const std::size_t refFrame = static_cast<std::size_t>(w * h + 2 * (w / 2) * (h / 2));
  ASSERT_EQ(ref.size(), refFrame * frames);
  Session s(ReadAll(stream), false, CreationRecord{w, h, 0, 0, 0});
  ASSERT_TRUE(s.ok());
  const int ow = 172, oh = 140;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(ow * oh * 3 / 2));
  double worst = 99;
  int decoded = 0;
  for (; decoded < frames; ++decoded) {
    PlanarFrame f{out.data(), out.data() + ow * oh, out.data() + ow * oh * 5 / 4, 0, 0};
    ASSERT_EQ(s.Next(&f), 0) << decoded;
    ASSERT_EQ(f.width, ow);
    ASSERT_EQ(f.height, oh);
    // The reference cropped to the delivered size, plane by plane.
    const std::uint8_t* r = ref.data() + refFrame * static_cast<std::size_t>(decoded);
    std::vector<std::uint8_t> crop;
    for (int y = 0; y < oh; ++y) crop.insert(crop.end(), r + y * w, r + y * w + ow);
    for (int plane = 0; plane < 2; ++plane) {
      const std::uint8_t* p = r + w * h + plane * (w / 2) * (h / 2);
      for (int y = 0; y < oh / 2; ++y) crop.insert(crop.end(), p + y * (w / 2), p + y * (w / 2) + ow / 2);
    }
    worst = std::min(worst, Psnr(out.data(), crop.data(), out.size()));
  }
  std::printf("[ PSNR     ] %-28s frames %3d  min %6.2f dB\n", c.name, decoded, worst);
  EXPECT_GE(worst, 52.0);
}

TEST(ShortHeader, Mpeg4FactoryAcceptsH263Pictures) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"short_header", 176, 144, 12, "-c:v h263 -q:v 5 -g 12", true};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  auto data = ReadAll(stream);
  auto ref = ReadAll(reference);
  std::uint32_t size = static_cast<std::uint32_t>(data.size());
  VideoDecoder* d = nullptr;
  CreationRecord creation{176, 144, 0, 0, 0};
  ASSERT_EQ(gCreateMP4SPDecoder(&d, data.data(), &size, 0, &creation), 0);
  EXPECT_EQ(size, 0u);
  std::vector<std::uint8_t> out(176 * 144 * 3 / 2);
  std::size_t pos = 0;
  int frames = 0;
  while (pos < data.size()) {
    PlanarFrame f{out.data(), out.data() + 176 * 144, out.data() + 176 * 144 * 5 / 4, 176, 144};
    std::uint32_t left = static_cast<std::uint32_t>(data.size() - pos);
    ASSERT_EQ(d->decode(d, data.data() + pos, &left, &f), 0);
    pos += left;
    EXPECT_GT(Psnr(out.data(), ref.data() + static_cast<std::size_t>(frames) * out.size(), out.size()), 50.0);
    ++frames;
  }
  EXPECT_EQ(frames, 12);
  d->destroy(d);
}

// Orientation 1..3 delivers the turned picture of orientation 0, with width and height exchanged
// for quarter turns; the creation size is rounded down to multiples of 4.
TEST(Output, OrientationsTurnThePictureAndCropToTheCreationSize) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"turn", 176, 144, 3, "-c:v mpeg4 -q:v 4 -g 12", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  auto data = ReadAll(stream);
  const int w = 170, h = 143;  // stored as 168 x 140
  std::vector<std::vector<std::uint8_t>> pictures;
  for (int o = 0; o < 4; ++o) {
    Session s(data, false, CreationRecord{w, h, 5, 6, o});
    ASSERT_TRUE(s.ok());
    std::vector<std::uint8_t> out(176 * 144 * 3 / 2, 0xEE);
    PlanarFrame f{out.data(), out.data() + 168 * 140, out.data() + 168 * 140 * 5 / 4, 0, 0};
    ASSERT_EQ(s.Next(&f), 0);
    EXPECT_EQ(f.width, (o & 1) ? 140 : 168);
    EXPECT_EQ(f.height, (o & 1) ? 168 : 140);
    pictures.push_back(out);
  }
  const auto& p0 = pictures[0];
  for (int r = 0; r < 140; r += 7)
    for (int col = 0; col < 168; col += 5) {
      std::uint8_t v = p0[static_cast<std::size_t>(r * 168 + col)];
      EXPECT_EQ(pictures[1][static_cast<std::size_t>(col * 140 + (140 - 1 - r))], v);
      EXPECT_EQ(pictures[2][static_cast<std::size_t>((140 - 1 - r) * 168 + (168 - 1 - col))], v);
      EXPECT_EQ(pictures[3][static_cast<std::size_t>((168 - 1 - col) * 140 + r)], v);
    }
  // Chroma turns with the luma: the top-left chroma sample of orientation 0 is the top-right one
  // of orientation 1.
  EXPECT_EQ(pictures[1][static_cast<std::size_t>(168 * 140 + 69)], p0[168 * 140]);
}

// The player creates its decoder with the stream information's size (rounded up to 16): the copy
// then holds the whole decoded picture, macroblock padding included.
TEST(Output, CreationSizeOfWholeMacroblocksDeliversThePaddedPicture) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"padded", 180, 140, 2, "-c:v mpeg4 -q:v 4 -g 12", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  auto data = ReadAll(stream);
  auto ref = ReadAll(reference);
  StreamInfo info{};
  ASSERT_EQ(gGetStreamInfo(data.data(), static_cast<std::uint32_t>(data.size()), &info), 0);
  ASSERT_EQ(info.width, 192);
  ASSERT_EQ(info.height, 144);
  Session s(data, false, CreationRecord{info.width, info.height, 0, 0, 0});
  ASSERT_TRUE(s.ok());
  std::vector<std::uint8_t> out(192 * 144 * 3 / 2);
  PlanarFrame f{out.data(), out.data() + 192 * 144, out.data() + 192 * 144 * 5 / 4, 192, 144};
  ASSERT_EQ(s.Next(&f), 0);
  EXPECT_EQ(f.width, 192);
  EXPECT_EQ(f.height, 144);
  // The visible 180 x 140 area matches the reference decode row by row.
  std::vector<std::uint8_t> visible;
  for (int r = 0; r < 140; ++r)
    visible.insert(visible.end(), out.begin() + r * 192, out.begin() + r * 192 + 180);
  EXPECT_GT(Psnr(visible.data(), ref.data(), visible.size()), 50.0);
}

// A post-filter level changes the output copy only: the reference, and so every later picture,
// stays as without it.
TEST(Output, PostFilterLeavesTheReferenceAlone) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"filter", 176, 144, 6, "-c:v mpeg4 -q:v 24 -g 12", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  auto data = ReadAll(stream);
  auto ref = ReadAll(reference);
  Session s(data, false, CreationRecord{176, 144, 0, 0, 0});
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s.decoder()->setParameter(s.decoder(), 0, 4), 0);
  std::vector<std::uint8_t> out(176 * 144 * 3 / 2), plain(176 * 144 * 3 / 2);
  bool anyDifference = false;
  for (int i = 0; i < 6; ++i) {
    PlanarFrame f{out.data(), out.data() + 176 * 144, out.data() + 176 * 144 * 5 / 4, 176, 144};
    ASSERT_EQ(s.Next(&f), 0);
    anyDifference |= std::memcmp(out.data(), ref.data() + i * out.size(), out.size()) != 0;
  }
  EXPECT_TRUE(anyDifference);
  ASSERT_EQ(s.decoder()->setParameter(s.decoder(), 0, 0), 0);
  PlanarFrame f{plain.data(), plain.data() + 176 * 144, plain.data() + 176 * 144 * 5 / 4, 176, 144};
  ASSERT_EQ(s.decoder()->control(s.decoder(), 1, &f), 0);
  EXPECT_GT(Psnr(plain.data(), ref.data() + 5 * plain.size(), plain.size()), 50.0);
}

TEST(Activity, AlternatingBlackAndWhiteScoresTen) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"stripes",
         176,
         144,
         1,
         "-c:v mpeg4 -q:v 2 -g 1",
         false,
         "color",
         "format=yuv420p,geq=lum='255*mod(X+Y,2)':cb=128:cr=128"};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  Session s(ReadAll(stream), false, CreationRecord{176, 144, 0, 0, 0});
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s.Next(nullptr), 0);
  std::int32_t activity = -1;
  ASSERT_EQ(s.decoder()->control(s.decoder(), 3, &activity), 0);
  EXPECT_EQ(activity, 10);
}

// Truncated and bit-flipped real streams decode or fail picture by picture, never reading or
// writing out of bounds (the sanitizers watch).
TEST(Robustness, DamagedStreamsNeverCrash) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const Clip clips[] = {
      {"damage_mp4", 176, 144, 8, "-c:v mpeg4 -q:v 6 -g 4 -flags:v +mv4+aic", false},
      {"damage_dp", 176, 144, 8, "-c:v mpeg4 -q:v 6 -g 4 -flags:v +mv4 -ps 200 -data_partitioning 1", false},
      {"damage_263", 176, 144, 8, "-c:v h263 -q:v 6 -g 4", true},
  };
  std::mt19937 rng(11);
  for (const Clip& c : clips) {
    std::string stream, reference;
    ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
    auto good = ReadAll(stream);
    for (int round = 0; round < 24; ++round) {
      auto bad = good;
      if (round % 2 == 0) {
        bad.resize(rng() % bad.size());
      } else {
        for (int k = 0; k < 1 + round % 7; ++k)
          bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      }
      if (bad.size() < 4) continue;
      Session s(bad, c.h263, CreationRecord{176, 144, 0, 0, 0});
      if (!s.ok()) continue;
      std::vector<std::uint8_t> out(176 * 144 * 3 / 2);
      for (int i = 0; i < 64; ++i) {
        PlanarFrame f{out.data(), out.data() + 176 * 144, out.data() + 176 * 144 * 5 / 4, 176, 144};
        int r = s.Next(&f);
        if (r == 1) break;
        EXPECT_TRUE(r == 0 || r == -1);
      }
    }
  }
}

}  // namespace
}  // namespace brindle

namespace brindle {
namespace {

// The plain C++ kernels and the SIMD kernels decode a stream to the same pictures.
TEST(Kernels, PlainAndSimdDecodeIdentically) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"kernels", 176, 144, 12, "-c:v mpeg4 -q:v 3 -g 6 -flags:v +mv4+aic", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  auto data = ReadAll(stream);
  LayerInfo layer;
  std::size_t start = 0;
  ASSERT_EQ(ParseLayerHeaders(data.data(), data.size(), layer, &start), ParseResult::kOk);
  Decoder plain, simd;
  plain.SetDsp(PlainDsp());
  simd.SetDsp(BestDsp());
  ASSERT_EQ(plain.Configure(layer), 0);
  ASSERT_EQ(simd.Configure(layer), 0);
  std::size_t a = start, b = start;
  int pictures = 0;
  while (a < data.size()) {
    std::size_t ua = 0, ub = 0;
    ASSERT_EQ(plain.Decode(data.data() + a, data.size() - a, &ua), 0);
    ASSERT_EQ(simd.Decode(data.data() + b, data.size() - b, &ub), 0);
    ASSERT_EQ(ua, ub);
    a += ua;
    b += ub;
    std::size_t bytes = static_cast<std::size_t>(plain.PaddedWidth()) * plain.PaddedHeight() * 3 / 2;
    ASSERT_EQ(0, std::memcmp(plain.Current().y, simd.Current().y, bytes)) << "picture " << pictures;
    ++pictures;
  }
  EXPECT_EQ(pictures, 12);
}

std::string ToolPath() {
  return std::string(TESSERA_BINARY_DIR) + "/bin/brindle-decode";
}

int RunTool(const std::string& args) {
  int status = std::system((ToolPath() + " " + args + " > /dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Tool, WritesEveryFrameAndPrintsOneChecksumPerFrame) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  Clip c{"tool", 180, 140, 10, "-c:v mpeg4 -q:v 5 -g 4 -flags:v +mv4", false};
  std::string stream, reference;
  ASSERT_TRUE(MakeClip(dir, c, &stream, &reference));
  std::string yuv = dir.File("out.yuv"), sums = dir.File("sums.txt");
  ASSERT_EQ(RunTool(stream + " " + yuv), 0);
  auto out = ReadAll(yuv);
  auto ref = ReadAll(reference);
  ASSERT_EQ(out.size(), ref.size());
  EXPECT_GT(Psnr(out.data(), ref.data(), out.size()), 50.0);
  ASSERT_EQ(RunTool("--framemd5 " + stream + " " + sums), 0);
  std::ifstream f(sums);
  std::string line;
  int frames = 0;
  while (std::getline(f, line))
    if (!line.empty() && line[0] != '#') {
      ++frames;
      EXPECT_NE(line.find(" 37800, "), std::string::npos) << line;  // 180 x 140 x 3/2
    }
  EXPECT_EQ(frames, 10);
}

TEST(Tool, ReportsBadArgumentsAndInputsWithNonZeroStatus) {
  TempDir dir;
  EXPECT_EQ(RunTool(""), 2);
  EXPECT_EQ(RunTool(dir.File("missing.m4v") + " " + dir.File("out.yuv")), 1);
  EXPECT_EQ(RunTool(dir.File("clip.mp4") + " " + dir.File("out.yuv")), 1);  // cannot be read
  std::ofstream(dir.File("junk.m4v")) << "not a video stream at all";
  EXPECT_EQ(RunTool(dir.File("junk.m4v") + " " + dir.File("out.yuv")), 1);
}

}  // namespace
}  // namespace brindle
