// imgtool end to end: the written file's format follows the target's name or the type given,
// and a success always leaves its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_testing/device_root.h"

namespace {

class Imgtool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick missing";
  }
  std::string Path(const std::string& name) const { return root_.path() + "/" + name; }
  int Run(const std::string& args) {
    const std::string cmd = TESSERA_BINARY_DIR "/bin/imgtool " + args + " >" + Path("out.txt") + " 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  bool Magick(const std::string& args) { return std::system(("convert " + args).c_str()) == 0; }
  std::vector<unsigned char> Bytes(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The format ImageMagick reads in the file ("PNG", "GIF", ...), or "" when it cannot.
  std::string Format(const std::string& name) {
    const std::string out = Path("format.txt");
    if (std::system(("identify -format '%m %w %h\\n' " + Path(name) + " >" + out + " 2>/dev/null").c_str()) != 0)
      return "";
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    return line;
  }

  platform_testing::ScopedDeviceRoot root_;
};

TEST_F(Imgtool, ConvertWritesTheTargetsFormat) {
  ASSERT_TRUE(Magick("-size 80x60 gradient:red-blue " + Path("pic.jpg")));
  ASSERT_EQ(Run("convert " + Path("pic.jpg") + " " + Path("c.png") + " 40 40"), 0);
  EXPECT_EQ(Format("c.png"), "PNG 40 30");
  ASSERT_EQ(Run("convert " + Path("pic.jpg") + " " + Path("c.gif") + " 100 100"), 0);
  EXPECT_EQ(Format("c.gif"), "GIF 80 60");
  ASSERT_EQ(Run("convert " + Path("pic.jpg") + " " + Path("c.bmp") + " 20 20"), 0);
  EXPECT_EQ(Format("c.bmp"), "BMP3 20 15");
  // An explicit type wins over the name.
  ASSERT_EQ(Run("convert " + Path("pic.jpg") + " " + Path("named.png") + " 40 40 jpeg"), 0);
  EXPECT_EQ(Format("named.png").substr(0, 4), "JPEG");
  // Targets whose type cannot be told are refused without a file.
  EXPECT_NE(Run("convert " + Path("pic.jpg") + " " + Path("c.xyz") + " 40 40"), 0);
  EXPECT_TRUE(Bytes("c.xyz").empty());
  EXPECT_EQ(Run("convert " + Path("pic.jpg") + " " + Path("d.png") + " 40 40 tiff"), 2);
}

TEST_F(Imgtool, GifThatNeedsNoShrinkingIsStillWritten) {
  ASSERT_TRUE(Magick("-size 30x20 xc:red -size 30x20 xc:blue -delay 10 -loop 0 " + Path("a.gif")));
  ASSERT_EQ(Run("convert " + Path("a.gif") + " " + Path("same.gif") + " 100 100"), 0);
  EXPECT_EQ(Bytes("same.gif"), Bytes("a.gif"));
  // Shrinking still shrinks every frame.
  ASSERT_EQ(Run("convert " + Path("a.gif") + " " + Path("small.gif") + " 15 15"), 0);
  EXPECT_EQ(Format("small.gif"), "GIF 15 10");
}

TEST_F(Imgtool, SaveAsEveryTypeOfTheUsage) {
  ASSERT_TRUE(Magick("-size 24x16 gradient:yellow-navy -type truecolor BMP3:" + Path("p.bmp")));
  for (const char* type : {"jpeg", "png", "bmp", "wbmp", "gif"}) {
    const std::string out = std::string("saved.") + type;
    ASSERT_EQ(Run("save " + Path("p.bmp") + " " + Path(out) + " " + type), 0) << type;
    EXPECT_NE(Format(out), "") << type;
  }
  EXPECT_EQ(Format("saved.gif"), "GIF 24 16");
}

}  // namespace
