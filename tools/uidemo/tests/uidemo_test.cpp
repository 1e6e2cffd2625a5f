#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/test_driver.h"

// Runs the uidemo program headless and checks its screen description and screenshot.
// UIDEMO_UPDATE_GOLDEN=1 rewrites the golden screenshot from the current run.

namespace {

std::string Program() {
  return std::string(TESSERA_BINARY_DIR) + "/bin/uidemo";
}

int RunDemo(const std::string& args, std::string* out, const std::string& screen = "") {
  // A private device root, so the demo's window socket lands in a scratch directory.
  std::string root = ::testing::TempDir() + "/uidemo_root";
  std::string env = screen.empty() ? "env -u TESSERA_SCREEN " : "env TESSERA_SCREEN=" + screen + " ";
  std::string cmd = env + "TESSERA_ROOT=" + root + " " + Program() + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out->append(buf.data(), n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Uidemo, KeysMoveTheSelectionAndTheScreenMatchesTheGolden) {
  std::string shot = ::testing::TempDir() + "/uidemo_shot.png";
  std::string out;
  ASSERT_EQ(RunDemo("--headless --keys \"Down Down Enter\" --screenshot " + shot + " --describe", &out), 0)
      << out;
  EXPECT_NE(out.find("screen 176x220"), std::string::npos) << out;
  EXPECT_NE(out.find("foreground class=UIDemoFrame title=\"UI demo\""), std::string::npos) << out;
  EXPECT_NE(out.find("focus class=DemoList id=101"), std::string::npos) << out;
  EXPECT_NE(out.find("row 2 \"row 2\" selected"), std::string::npos) << out;
  EXPECT_EQ(out.find("row 0 \"row 0\" selected"), std::string::npos) << out;
  EXPECT_NE(out.find("softkeys left=\"Select\" right=\"Quit\""), std::string::npos) << out;

  int w = 0, h = 0;
  std::vector<std::uint32_t> got;
  ASSERT_TRUE(platform::testdriver::ReadPng(shot, &w, &h, &got));
  EXPECT_EQ(w, 176);
  EXPECT_EQ(h, 220);
  if (std::getenv("UIDEMO_UPDATE_GOLDEN")) {
    std::string cmd = "cp " + shot + " " + UIDEMO_GOLDEN;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  int gw = 0, gh = 0;
  std::vector<std::uint32_t> golden;
  ASSERT_TRUE(platform::testdriver::ReadPng(UIDEMO_GOLDEN, &gw, &gh, &golden));
  ASSERT_EQ(gw, w);
  ASSERT_EQ(gh, h);
  // Glyph rasterisation may differ by a shade between FreeType builds; layout may not.
  int differing = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    std::uint32_t a = got[i], b = golden[i];
    int d = std::abs(static_cast<int>(a >> 16) - static_cast<int>(b >> 16)) +
            std::abs(static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF)) +
            std::abs(static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF));
    if (d > 24) ++differing;
  }
  EXPECT_LE(differing, static_cast<int>(got.size() / 200)) << "pixels differing from the golden";
  std::remove(shot.c_str());
}

TEST(Uidemo, ListWrapsBothWays) {
  std::string out;
  ASSERT_EQ(RunDemo("--headless --keys \"Up\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("row 19 \"row 19\" selected"), std::string::npos) << out;
  EXPECT_NE(out.find("top=13"), std::string::npos) << out;  // scrolled to show the last row
  out.clear();
  ASSERT_EQ(RunDemo("--headless --keys \"Up Down\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("row 0 \"row 0\" selected"), std::string::npos) << out;
}

TEST(Uidemo, ScreenSizeComesFromTheEnvironment) {
  std::string shot = ::testing::TempDir() + "/uidemo_big.png";
  std::string out;
  ASSERT_EQ(RunDemo("--headless --describe --screenshot " + shot, &out, "240x320"), 0) << out;
  EXPECT_NE(out.find("screen 240x320"), std::string::npos) << out;
  EXPECT_NE(out.find("rect=0,20,240,296 text=\"UI demo\""), std::string::npos) << out;
  int w = 0, h = 0;
  std::vector<std::uint32_t> px;
  ASSERT_TRUE(platform::testdriver::ReadPng(shot, &w, &h, &px));
  EXPECT_EQ(w, 240);
  EXPECT_EQ(h, 320);
  std::remove(shot.c_str());
  // Nonsense sizes fall back to the phone's own screen.
  for (const char* bad : {"huge", "10x10", "99999x5", "240x"}) {
    out.clear();
    ASSERT_EQ(RunDemo("--headless --describe", &out, bad), 0) << out;
    EXPECT_NE(out.find("screen 176x220"), std::string::npos) << bad << "\n" << out;
  }
}

TEST(Uidemo, BadArgumentsFail) {
  std::string out;
  EXPECT_EQ(RunDemo("--headless --keys \"Sideways\"", &out), 2);
  EXPECT_NE(out.find("unknown key: Sideways"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDemo("--bogus", &out), 2);
  out.clear();
  EXPECT_EQ(RunDemo("--headless --screenshot /nonexistent-dir/x.png", &out), 1);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
}

TEST(Uidemo, OpensResourceDialogsByIdAndDrivesThem) {
  std::string out;
  ASSERT_EQ(RunDemo("--dialog 153 --keys \"1 2 Down\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("foreground class=Dialog"), std::string::npos) << out;
  EXPECT_NE(out.find("class=EDIT id=1090"), std::string::npos) << out;
  EXPECT_NE(out.find("text=\"12\""), std::string::npos) << out;  // typed into the first field
  EXPECT_NE(out.find("focus class=EDIT id=1091"), std::string::npos) << out;
  EXPECT_NE(out.find("softkeys left=\"Done\" right=\"Cancel\""), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDemo("--dialog 9", &out), 1);
  EXPECT_NE(out.find("no dialog template 9"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDemo("--dialog x12", &out), 2);
}

TEST(Uidemo, MessageBoxAnswersFromTheSoftKeys) {
  std::string out;
  ASSERT_EQ(RunDemo("--msgbox \"Delete it?\" --keys SoftRight --describe", &out), 0) << out;
  EXPECT_NE(out.find("messagebox icon=information text=\"Delete it?\""), std::string::npos) << out;
  EXPECT_NE(out.find("result=IDCANCEL"), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(RunDemo("--msgbox Hi --keys SoftLeft", &out), 0) << out;
  EXPECT_NE(out.find("result=IDOK"), std::string::npos) << out;
}

}  // namespace
