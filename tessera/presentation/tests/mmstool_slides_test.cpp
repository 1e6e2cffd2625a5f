// The slides and compose subcommands, run as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
};

ToolRun Mmstool(const std::string& args) {
  ToolRun r;
  const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/mmstool " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class MmstoolSlides : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::string& data) {
    const std::string path = root_.path() + "/" + name;
    EXPECT_TRUE(platform::WriteFile(platform::Utf8ToUtf16(path), data));
    return path;
  }
  platform_testing::ScopedDeviceRoot root_;
};

}  // namespace

TEST_F(MmstoolSlides, ComposeLaysOutSlidesAsTheComposerDoes) {
  const std::string pkg = root_.path() + "/out.pkg";
  // A second picture starts the next slide, where the sound still finds room; --slide starts
  // one whatever is free.
  const ToolRun compose = Mmstool("compose " + pkg + " " + File("p.jpg", "jpeg") + " " + File("t.txt", "hi") + " " +
                                  File("q.jpg", "jpeg2") + " " + File("s.amr", "amr") + " --slide " +
                                  File("u.txt", "there"));
  ASSERT_EQ(compose.status, 0) << compose.out;
  EXPECT_EQ(compose.out, pkg + ": 3 slides, 5 media\n");
  const ToolRun slides = Mmstool("slides " + pkg);
  ASSERT_EQ(slides.status, 0) << slides.out;
  EXPECT_EQ(slides.out,
            "root-layout: 100 x 100\n"
            "region: Image 0 0 100 66 meet\n"
            "region: Text 0 66 100 100 meet\n"
            "slide 1: dur 2000\n"
            "  image: 1.jpg (kind 0x00010001) region Image\n"
            "  text: 1.txt (kind 0x00030001) region Text\n"
            "slide 2: dur 2000\n"
            "  image: 2.jpg (kind 0x00010001) region Image\n"
            "  audio: 1.amr (kind 0x00020003) region none\n"
            "slide 3: dur 2000\n"
            "  text: 2.txt (kind 0x00030001) region Text\n"
            "media: 1.jpg kind 0x00010001 cid - drm 0\n"
            "media: 1.txt kind 0x00030001 cid - drm 0\n"
            "media: 2.jpg kind 0x00010001 cid - drm 0\n"
            "media: 1.amr kind 0x00020003 cid - drm 0\n"
            "media: 2.txt kind 0x00030001 cid - drm 0\n");

  const ToolRun video = Mmstool("compose " + pkg + " " + File("v.3gp", "3gp") + " " + File("t.txt", "hi"));
  ASSERT_EQ(video.status, 0) << video.out;
  EXPECT_EQ(video.out, pkg + ": 1 slides, 2 media\n");
}

TEST_F(MmstoolSlides, ComposeRefusesWhatDoesNotFit) {
  const std::string out = root_.path() + "/refused.pkg";
  const std::string jpg = File("p.jpg", "jpeg"), gp = File("v.3gp", "3gp"), amr = File("s.amr", "amr");
  ToolRun r = Mmstool("compose " + out + " " + jpg + " " + gp);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("a message with a video has one slide"), std::string::npos) << r.out;
  r = Mmstool("compose " + out + " " + amr + " " + gp);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("a video slide has no sound"), std::string::npos) << r.out;
  EXPECT_EQ(Mmstool("compose " + out + " " + gp + " " + amr).status, 1);
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += " " + jpg;
  r = Mmstool("compose " + out + ten);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("at most 9 slides"), std::string::npos) << r.out;
  EXPECT_FALSE(platform::FileExists(platform::Utf8ToUtf16(out)));
  EXPECT_EQ(Mmstool("compose " + out + ten.substr(0, ten.size() - jpg.size() - 1)).status, 0);
}

TEST_F(MmstoolSlides, ErrorsExitNonZero) {
  EXPECT_NE(Mmstool("slides").status, 0);
  EXPECT_NE(Mmstool("slides " + root_.path() + "/missing.pkg").status, 0);
  EXPECT_NE(Mmstool("slides " + File("junk.pkg", "not a package")).status, 0);
  EXPECT_NE(Mmstool("compose " + root_.path() + "/o.pkg").status, 0);
  EXPECT_NE(Mmstool("compose " + root_.path() + "/o.pkg " + File("x.doc", "?")).status, 0);
  EXPECT_FALSE(platform::FileExists(platform::Utf8ToUtf16(root_.path() + "/o.pkg")));
}
