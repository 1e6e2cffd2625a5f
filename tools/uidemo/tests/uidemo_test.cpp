#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/test_driver.h"

// Runs the uidemo program headless and checks its screen description and screenshot.
// TESSERA_UPDATE_GOLDEN=1 rewrites the golden screenshots from the current run.

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

/// Compares a screenshot pixel for pixel with golden/<name>.png. TESSERA_UPDATE_GOLDEN=1
/// rewrites the golden from the screenshot instead; on a mismatch the screenshot is kept
/// under the build tree and the failure says where.
void ExpectMatchesGolden(const std::string& shot, const std::string& name) {
  std::string golden = std::string(UIDEMO_GOLDEN_DIR) + "/" + name + ".png";
  int w = 0, h = 0;
  std::vector<std::uint32_t> got;
  ASSERT_TRUE(platform::testdriver::ReadPng(shot, &w, &h, &got)) << shot;
  if (const char* update = std::getenv("TESSERA_UPDATE_GOLDEN"); update && std::string(update) == "1") {
    std::filesystem::copy_file(shot, golden, std::filesystem::copy_options::overwrite_existing);
    std::remove(shot.c_str());
    return;
  }
  int gw = 0, gh = 0;
  std::vector<std::uint32_t> want;
  bool haveGolden = platform::testdriver::ReadPng(golden, &gw, &gh, &want);
  int differing = 0, firstX = -1, firstY = -1;
  if (haveGolden && gw == w && gh == h) {
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (got[i] == want[i]) continue;
      if (differing++ == 0) {
        firstX = static_cast<int>(i % static_cast<std::size_t>(w));
        firstY = static_cast<int>(i / static_cast<std::size_t>(w));
      }
    }
  }
  if (haveGolden && gw == w && gh == h && differing == 0) {
    std::remove(shot.c_str());
    return;
  }
  std::string dir = std::string(TESSERA_BINARY_DIR) + "/golden-actual";
  std::filesystem::create_directories(dir);
  std::string actual = dir + "/" + name + ".png";
  std::filesystem::copy_file(shot, actual, std::filesystem::copy_options::overwrite_existing);
  std::remove(shot.c_str());
  if (!haveGolden)
    ADD_FAILURE() << "no golden " << golden << "; the screenshot is " << actual
                  << " (TESSERA_UPDATE_GOLDEN=1 writes it)";
  else if (gw != w || gh != h)
    ADD_FAILURE() << "golden " << golden << " is " << gw << "x" << gh << ", the screen " << w << "x" << h
                  << "; the screenshot is " << actual;
  else
    ADD_FAILURE() << differing << " pixels differ from " << golden << " (first at " << firstX << "," << firstY
                  << "); the screenshot is " << actual;
}

std::string ShotPath(const std::string& name) {
  return ::testing::TempDir() + "/uidemo_" + name + ".png";
}

TEST(Uidemo, KeysMoveTheSelectionAndTheScreenMatchesTheGolden) {
  std::string shot = ShotPath("main");
  std::string out;
  ASSERT_EQ(RunDemo("--headless --keys \"Down Down Enter\" --screenshot " + shot + " --describe", &out), 0)
      << out;
  EXPECT_NE(out.find("screen 176x220"), std::string::npos) << out;
  EXPECT_NE(out.find("foreground class=UIDemoFrame title=\"UI demo\""), std::string::npos) << out;
  EXPECT_NE(out.find("focus class=DemoList id=101"), std::string::npos) << out;
  EXPECT_NE(out.find("row 2 \"row 2\" selected"), std::string::npos) << out;
  EXPECT_EQ(out.find("row 0 \"row 0\" selected"), std::string::npos) << out;
  EXPECT_NE(out.find("softkeys left=\"Select\" right=\"Menu\"(menu)"), std::string::npos) << out;
  ExpectMatchesGolden(shot, "main");
}

TEST(Uidemo, SoftKeyPopupIsRebuiltEachTimeItOpens) {
  std::string shot = ShotPath("popup");
  std::string out;
  // On the first row "Top of list" is greyed, and a number of a greyed item does nothing.
  ASSERT_EQ(RunDemo("--headless --keys \"SoftRight 2\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("popup items=5"), std::string::npos) << out;
  EXPECT_NE(out.find("1 \"Choose row 0\" id=201 selected"), std::string::npos) << out;
  EXPECT_NE(out.find("2 \"Top of list\" id=202 grayed"), std::string::npos) << out;
  EXPECT_NE(out.find("4 \"Quit\" id=204"), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(RunDemo("--headless --keys \"Down Down SoftRight\" --describe --screenshot " + shot, &out), 0)
      << out;
  EXPECT_NE(out.find("1 \"Choose row 2\" id=201 selected"), std::string::npos) << out;
  EXPECT_NE(out.find("2 \"Top of list\" id=202\n"), std::string::npos) << out;
  ExpectMatchesGolden(shot, "popup");
  // Numbered items act: 3 is "Bottom of list", 2 "Top of list".
  out.clear();
  ASSERT_EQ(RunDemo("--headless --keys \"SoftRight 3\" --describe", &out), 0) << out;
  EXPECT_EQ(out.find("popup items"), std::string::npos) << out;
  EXPECT_NE(out.find("row 19 \"row 19\" selected"), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(RunDemo("--headless --keys \"Up Up SoftRight 2\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("row 0 \"row 0\" selected"), std::string::npos) << out;
  // Back closes the popup without a command.
  out.clear();
  ASSERT_EQ(RunDemo("--headless --keys \"Down SoftRight Back\" --describe", &out), 0) << out;
  EXPECT_EQ(out.find("popup items"), std::string::npos) << out;
  EXPECT_NE(out.find("row 1 \"row 1\" selected"), std::string::npos) << out;
}

TEST(Uidemo, ListViewScreenShowsRowsWithIconsAndMovesTheSelection) {
  std::string shot = ShotPath("list");
  std::string out;
  ASSERT_EQ(RunDemo("--list 14 --keys \"Down Down Down Down Down Down Down Down Down Down\" --describe "
                    "--screenshot " +
                        shot,
                    &out),
            0)
      << out;
  EXPECT_NE(out.find("foreground class=UIDemoListFrame title=\"List demo\""), std::string::npos) << out;
  EXPECT_NE(out.find("focus class=SysListView32 id=2003"), std::string::npos) << out;
  EXPECT_NE(out.find("listview count=14 sel=10 focus=10 top="), std::string::npos) << out;
  EXPECT_EQ(out.find("top=0 "), std::string::npos) << out;  // scrolled to keep row 10 in view
  EXPECT_NE(out.find("row 10 \"Item 11\" \"121 KB\" image=1 selected focused visible"), std::string::npos)
      << out;
  EXPECT_NE(out.find("softkeys left=\"Open\" right=\"Quit\""), std::string::npos) << out;
  ExpectMatchesGolden(shot, "list");

  // Up from the first row wraps to the last; the action key opens the selected row.
  out.clear();
  ASSERT_EQ(RunDemo("--list 5 --keys \"Up Enter\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("row 4 \"Item 5\" \"149 KB\" image=1 selected"), std::string::npos) << out;
  EXPECT_NE(out.find("title=\"Opened item 5\""), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(RunDemo("--list 0 --keys \"Down SoftLeft\" --describe", &out), 0) << out;
  EXPECT_NE(out.find("listview count=0 sel=-1"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDemo("--list -1", &out), 2);
  EXPECT_NE(out.find("--list takes a row count"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDemo("--list 99999", &out), 2);
}

TEST(Uidemo, DialogAndMessageBoxMatchTheirGoldens) {
  std::string shot = ShotPath("dialog");
  std::string out;
  ASSERT_EQ(RunDemo("--dialog 153 --keys \"1 2\" --screenshot " + shot, &out), 0) << out;
  ExpectMatchesGolden(shot, "dialog");
  shot = ShotPath("msgbox");
  out.clear();
  ASSERT_EQ(RunDemo("--msgbox \"Delete this message?\" --screenshot " + shot, &out), 0) << out;
  ExpectMatchesGolden(shot, "msgbox");
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
