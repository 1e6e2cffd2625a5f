// brindle-decode on MP4/3GP input: the pictures of a movie track equal those of the same stream
// given as a raw elementary stream.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(TESSERA_BINARY_DIR) + "/bin/brindle-decode";

using platform_testing::TempDir;
bool Shell(const std::string& cmd) { return platform_testing::RunShell(cmd); }
bool HaveFfmpeg() { return platform_testing::HaveTool("ffmpeg"); }

std::string ReadText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = platform_testing::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

int CountFrames(const std::string& framemd5) {
  int n = 0;
  size_t at = 0;
  while (at < framemd5.size()) {
    size_t end = framemd5.find('\n', at);
    if (end == std::string::npos) end = framemd5.size();
    if (end > at && framemd5[at] != '#') ++n;
    at = end + 1;
  }
  return n;
}

struct Case {
  const char* name;
  const char* container;  // movie file extension
  const char* raw;        // elementary stream muxer and extension
  const char* options;    // encoder options
  int frames;
};

class BrindleDecodeMp4 : public ::testing::TestWithParam<Case> {};

TEST_P(BrindleDecodeMp4, FrameMd5EqualsRawStream) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  const Case& c = GetParam();
  TempDir dir;
  const std::string movie = dir.Path(std::string("clip.") + c.container);
  const std::string raw = dir.Path(std::string("clip.") + (std::string(c.raw) == "h263" ? "263" : "m4v"));
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=10:d=" +
                    std::to_string(c.frames / 10) + " " + c.options + " " + movie));
  // The movie keeps the VOL in its decoder configuration; the raw stream carries it in-band.
  const std::string extra = std::string(c.raw) == "m4v" ? " -bsf:v dump_extra" : "";
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + movie + " -c:v copy" + extra + " -f " +
                    c.raw + " " + raw));
  ASSERT_TRUE(Shell(kTool + " --framemd5 " + movie + " " + dir.Path("movie.md5")));
  ASSERT_TRUE(Shell(kTool + " --framemd5 " + raw + " " + dir.Path("raw.md5")));
  const std::string fromMovie = ReadText(dir.Path("movie.md5"));
  EXPECT_EQ(CountFrames(fromMovie), c.frames);
  EXPECT_EQ(fromMovie, ReadText(dir.Path("raw.md5")));

  // Raw I420 output: one 176x144 picture per frame.
  ASSERT_TRUE(Shell(kTool + " " + movie + " " + dir.Path("out.yuv")));
  EXPECT_EQ(fs::file_size(dir.Path("out.yuv")), static_cast<std::uintmax_t>(c.frames) * 176 * 144 * 3 / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, BrindleDecodeMp4,
    ::testing::Values(Case{"mpeg4_mp4", "mp4", "m4v", "-c:v mpeg4 -q:v 4 -g 5", 20},
                      Case{"mpeg4_3gp_ac_pred", "3gp", "m4v", "-c:v mpeg4 -q:v 8 -g 12 -flags:v +mv4+aic", 20},
                      Case{"h263_3gp", "3gp", "h263", "-c:v h263 -q:v 6 -g 8", 20}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Movies without a usable video track, truncated movies and damaged samples are reported.
TEST(BrindleDecodeMp4Errors, ReportsUnusableMovies) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string audio = dir.Path("audio.mp4");
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=d=1 -c:a aac " + audio));
  EXPECT_FALSE(Shell(kTool + " --framemd5 " + audio + " 2>" + dir.Path("err.txt") + " >/dev/null"));
  EXPECT_NE(ReadText(dir.Path("err.txt")).find("no MPEG-4 Visual or H.263 video track"), std::string::npos);

  const std::string video = dir.Path("video.mp4");
  ASSERT_TRUE(Shell("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=5:d=2 "
                    "-c:v mpeg4 " + video));
  ASSERT_TRUE(Shell("head -c 400 " + video + " > " + dir.Path("cut.mp4")));
  EXPECT_FALSE(Shell(kTool + " --framemd5 " + dir.Path("cut.mp4") + " >/dev/null 2>&1"));
  ASSERT_TRUE(Shell("printf '\\000\\000\\000\\024ftypisom\\000\\000\\000\\000isom' > " + dir.Path("header.mp4")));
  EXPECT_FALSE(Shell(kTool + " " + dir.Path("header.mp4") + " " + dir.Path("x.yuv") + " 2>/dev/null"));
}

}  // namespace
