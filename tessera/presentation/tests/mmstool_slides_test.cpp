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

TEST_F(MmstoolSlides, ComposeThenListSlides) {
  const std::string pkg = root_.path() + "/out.pkg";
  const ToolRun compose = Mmstool("compose " + pkg + " " + File("p.jpg", "jpeg") + " " + File("t.txt", "hi") +
                                  " --slide " + File("v.3gp", "3gp") + " " + File("s.amr", "amr"));
  ASSERT_EQ(compose.status, 0) << compose.out;
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
            "  video: 1.3gp (kind 0x00040001) region Image\n"
            "media: 1.jpg kind 0x00010001 cid - drm 0\n"
            "media: 1.txt kind 0x00030001 cid - drm 0\n"
            "media: 1.3gp kind 0x00040001 cid - drm 0\n"
            "media: 1.amr kind 0x00020003 cid - drm 0\n");
}

TEST_F(MmstoolSlides, ErrorsExitNonZero) {
  EXPECT_NE(Mmstool("slides").status, 0);
  EXPECT_NE(Mmstool("slides " + root_.path() + "/missing.pkg").status, 0);
  EXPECT_NE(Mmstool("slides " + File("junk.pkg", "not a package")).status, 0);
  EXPECT_NE(Mmstool("compose " + root_.path() + "/o.pkg").status, 0);
  EXPECT_NE(Mmstool("compose " + root_.path() + "/o.pkg " + File("x.doc", "?")).status, 0);
  EXPECT_FALSE(platform::FileExists(platform::Utf8ToUtf16(root_.path() + "/o.pkg")));
}
