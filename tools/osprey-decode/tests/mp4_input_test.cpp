// osprey-decode on MP4/M4A/3GP input, compared with ffmpeg's decode of the same file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(TESSERA_BINARY_DIR) + "/bin/osprey-decode";

using platform_testing::TempDir;
bool Shell(const std::string& cmd) { return platform_testing::RunShell(cmd); }
bool HaveFfmpeg() { return platform_testing::HaveTool("ffmpeg"); }

std::vector<int16_t> ReadPcm(const std::string& path) {
  const std::vector<std::uint8_t> bytes = platform_testing::ReadFileBytes(path);
  std::vector<int16_t> pcm(bytes.size() / 2);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return pcm;
}

std::string ReadText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = platform_testing::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// SNR of `ours` shifted by `offset` samples against `ref`, over their overlap.
double Snr(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref, size_t offset, size_t* overlap,
           int* maxDiff) {
  double signal = 0, noise = 0;
  size_t n = 0;
  *maxDiff = 0;
  for (size_t i = 0; i + offset < ours.size() && i < ref.size(); ++i, ++n) {
    const double r = ref[i], d = ours[i + offset] - r;
    signal += r * r;
    noise += d * d;
    *maxDiff = std::max(*maxDiff, static_cast<int>(std::fabs(d)));
  }
  *overlap = n;
  if (noise == 0) return 200.0;
  return 10 * std::log10(signal / noise);
}

struct Case {
  const char* name;
  const char* container;  // file name extension
  int rate;
  int channels;
  const char* source;
};

class OspreyDecodeMp4 : public ::testing::TestWithParam<Case> {};

// The tool decodes every sample, priming included; ffmpeg honours the edit list and drops the
// encoder delay, so the two agree at a shift of whole frames.
TEST_P(OspreyDecodeMp4, MatchesFfmpeg) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const Case& c = GetParam();
  TempDir dir;
  const std::string in = dir.Path(std::string("clip.") + c.container);
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" + std::string(c.source) +
                  "\" -ar " + std::to_string(c.rate) + " -ac " + std::to_string(c.channels) +
                  " -c:a aac -aac_pns 0 -b:a 96k " + in));
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -c:a aac -i " + in + " -f s16le " +
                  dir.Path("ref.raw")));
  ASSERT_TRUE(Shell(kTool + " " + in + " " + dir.Path("out.raw")));
  const std::vector<int16_t> ours = ReadPcm(dir.Path("out.raw"));
  const std::vector<int16_t> ref = ReadPcm(dir.Path("ref.raw"));
  ASSERT_FALSE(ref.empty());
  ASSERT_EQ(ours.size() % (1024u * c.channels), 0u);
  double best = -1;
  size_t bestShift = 0, bestOverlap = 0;
  int bestDiff = 0;
  for (size_t frames = 0; frames <= 2; ++frames) {
    size_t overlap = 0;
    int maxDiff = 0;
    const double snr = Snr(ours, ref, frames * 1024 * c.channels, &overlap, &maxDiff);
    if (snr > best) {
      best = snr;
      bestShift = frames;
      bestOverlap = overlap;
      bestDiff = maxDiff;
    }
  }
  std::printf("[ snr    ] %-10s %.2f dB, max diff %d, at a shift of %zu frames over %zu samples\n", c.name, best,
              bestDiff, bestShift, bestOverlap);
  EXPECT_GT(best, 90.0);
  EXPECT_LE(bestDiff, 1);
  EXPECT_GE(bestOverlap + 2048u * c.channels, ref.size());

  // The same stream in ADTS framing decodes to the same samples.
  const std::string adts = dir.Path("clip.aac");
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + in + " -c:a copy -f adts " + adts));
  ASSERT_TRUE(Shell(kTool + " " + adts + " " + dir.Path("adts.raw")));
  EXPECT_EQ(ReadPcm(dir.Path("adts.raw")), ours);

  // --channels 1 downmixes; --info reports the track.
  ASSERT_TRUE(Shell(kTool + " --channels 1 " + in + " " + dir.Path("mono.raw")));
  EXPECT_EQ(ReadPcm(dir.Path("mono.raw")).size(), ours.size() / c.channels);
  ASSERT_TRUE(Shell(kTool + " --info " + in + " > " + dir.Path("info.txt")));
  const std::string info = ReadText(dir.Path("info.txt"));
  EXPECT_NE(info.find("sample rate: " + std::to_string(c.rate) + " Hz"), std::string::npos) << info;
  EXPECT_NE(info.find("channels: " + std::to_string(c.channels)), std::string::npos) << info;
  EXPECT_NE(info.find("(MP4)"), std::string::npos) << info;
}

INSTANTIATE_TEST_SUITE_P(
    Containers, OspreyDecodeMp4,
    ::testing::Values(Case{"mp4-stereo", "mp4", 44100, 2,
                           "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t)+0.2*sin(2*PI*440*t):s=44100:d=2"},
                      Case{"m4a-mono", "m4a", 22050, 1, "sine=frequency=300:sample_rate=22050:duration=2"},
                      Case{"3gp-mono", "3gp", 16000, 1,
                           "aevalsrc=0.5*sin(2*PI*440*t)*(1+0.5*sin(2*PI*3*t)):s=16000:d=2"}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

// Files without an AAC track, truncated movies and headers alone fail with a message.
TEST(OspreyDecodeMp4Errors, RefusesFilesWithoutUsableAac) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = dir.Path("video.mp4");
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=5:d=1 "
                  "-c:v mpeg4 " + video));
  EXPECT_FALSE(Shell(kTool + " " + video + " " + dir.Path("a.raw") + " 2>" + dir.Path("err.txt")));
  EXPECT_NE(ReadText(dir.Path("err.txt")).find("no AAC audio track"), std::string::npos);

  ASSERT_TRUE(Shell("printf '\\000\\000\\000\\024ftypisom\\000\\000\\000\\000isom' > " + dir.Path("header.mp4")));
  EXPECT_FALSE(Shell(kTool + " " + dir.Path("header.mp4") + " " + dir.Path("b.raw") + " 2>/dev/null"));

  const std::string audio = dir.Path("audio.m4a");
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=d=1 -c:a aac " + audio));
  ASSERT_TRUE(Shell("head -c 600 " + audio + " > " + dir.Path("cut.m4a")));
  EXPECT_FALSE(Shell(kTool + " " + dir.Path("cut.m4a") + " " + dir.Path("c.raw") + " 2>/dev/null"));
  EXPECT_FALSE(Shell(kTool + " " + audio + " 2>/dev/null"));  // no output named
}

}  // namespace
