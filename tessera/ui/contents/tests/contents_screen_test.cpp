// The MMS contents screen with the real list view, menu bars and message boxes on the
// headless display: rows, the selection rule, sound play/stop, saving without overwriting,
// and the refusal to save protected parts.
#include "contents/contents_screen.h"

#include <gtest/gtest.h>

#include "../../viewer/tests/viewer_test_support.h"
#include "audio/clip_player.h"
#include "platform/files.h"
#include "texteditor/canned_texts.h"
#include "platform_testing/device_root.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"

namespace {

using namespace viewer_test;
using viewer::PartEntry;
using viewer::SaveOutcome;
namespace td = platform::testdriver;
namespace ids = viewer::ids;

std::string Contents(const std::string& path) {
  std::string s;
  platform::ReadFile(platform::Utf8ToUtf16(path), s);
  return s;
}

TEST(SaveIntoFolder, TakenNamesGetTheFirstFreeSuffixAndNothingIsOverwritten) {
  TempFolder src, dst;
  WriteBytes(src.File("pic.gif"), "new picture");
  WriteBytes(dst.File("pic.gif"), "old picture");
  const std::u16string source = platform::Utf8ToUtf16(src.File("pic.gif"));
  int asked = 0;
  auto yes = [&] {
    ++asked;
    return true;
  };
  std::u16string saved;
  EXPECT_EQ(viewer::SaveIntoFolder(source, dst.Wide(), yes, &saved), SaveOutcome::Saved);
  EXPECT_EQ(saved, dst.Wide() + u"pic_0.gif");
  EXPECT_EQ(viewer::SaveIntoFolder(source, dst.Wide(), yes, &saved), SaveOutcome::Saved);
  EXPECT_EQ(saved, dst.Wide() + u"pic_1.gif");
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Contents(dst.File("pic.gif")), "old picture");
  EXPECT_EQ(Contents(dst.File("pic_0.gif")), "new picture");
  EXPECT_EQ(Contents(dst.File("pic_1.gif")), "new picture");

  // Declining saves nothing; a free name is taken without asking; no extension works too.
  EXPECT_EQ(viewer::SaveIntoFolder(source, dst.Wide(), [] { return false; }), SaveOutcome::Cancelled);
  EXPECT_FALSE(platform::PathExists(dst.Wide() + u"pic_2.gif"));
  WriteBytes(src.File("README"), "r");
  WriteBytes(dst.File("README"), "x");
  EXPECT_EQ(viewer::SaveIntoFolder(platform::Utf8ToUtf16(src.File("README")), dst.Wide(), yes, &saved),
            SaveOutcome::Saved);
  EXPECT_EQ(saved, dst.Wide() + u"README_0");
  EXPECT_EQ(viewer::SaveIntoFolder(platform::Utf8ToUtf16(src.File("gone.gif")), dst.Wide(), yes),
            SaveOutcome::Failed);
  // A folder that does not exist yet is made.
  EXPECT_EQ(viewer::SaveIntoFolder(source, dst.Wide() + u"sub/", yes, &saved), SaveOutcome::Saved);
  EXPECT_EQ(Contents(dst.File("sub/pic.gif")), "new picture");
}

TEST(FormatSize, WholeKilobytesUpToOneMegabyteThenTenthsOfMegabytes) {
  EXPECT_EQ(viewer::FormatSize(0, u"KB", u"MB"), u"0KB");
  EXPECT_EQ(viewer::FormatSize(1, u"KB", u"MB"), u"1KB");
  EXPECT_EQ(viewer::FormatSize(1025, u"KB", u"MB"), u"2KB");
  EXPECT_EQ(viewer::FormatSize(1024 * 1024, u"KB", u"MB"), u"1024KB");
  EXPECT_EQ(viewer::FormatSize(1024 * 1024 + 1, u"KB", u"MB"), u"1.0MB");
  EXPECT_EQ(viewer::FormatSize(5 * 1024 * 1024 + 600 * 1024, u"KB", u"MB"), u"5.6MB");
}

BOOL PostToWindow(void* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return PostMessage(static_cast<HWND>(window), msg, wParam, lParam);
}

class ContentsScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    td::Enable();
    ASSERT_TRUE(Wren().loaded());
    ctx_.resources = &Wren();
    ctx_.audio = &audio_;
    ctx_.video = &video_;
    ctx_.picturePath = pictures_.Wide();
    ctx_.soundPath = sounds_.Wide();
    ctx_.videoPath = pictures_.Wide() + u"video/";
    ctx_.unknownPath = pictures_.Wide() + u"other/";
    ASSERT_TRUE(WriteAnimation(parts_.File("1.gif"), {0}, false));
    WriteWav(parts_.File("2.wav"), 3000);
    WriteTextPart(parts_.File("3.txt"), "hello");
    WriteBytes(parts_.File("4.bin"), std::string(3000, 'x'));
    Add(presentation::kKindGif, "1.gif", true);
    Add(presentation::kKindWav, "2.wav", false);
    Add(presentation::kKindText, "3.txt", false);
    Add(presentation::kKindUnknown, "4.bin", false);
    Add(presentation::kKindJpeg, "missing.jpg", false);
  }
  void Add(presentation::MediaKind kind, const std::string& name, bool drm) {
    auto item = std::make_unique<presentation::MediaItem>();
    item->kind = kind;
    item->fileName = platform::Utf8ToUtf16(name);
    item->drm = drm ? 1 : 0;
    doc_.AppendMedia(std::move(item));
  }
  void Open(bool protectedContent) {
    screen_ = std::make_unique<viewer::ContentsScreen>(ctx_, viewer::BuildPartList(doc_, parts_.Wide()),
                                                       protectedContent);
    screen_->openPicture = [this](HWND, const PartEntry& p) { opened_.push_back(p.path); };
    ASSERT_NE(screen_->Create(host_.hwnd), nullptr);
    td::RunUntilIdle();
  }
  void Command(UINT id) {
    SendMessage(screen_->hwnd(), WM_COMMAND, id, 0);
    td::RunUntilIdle();
  }
  void Select(int row) {
    while (screen_->selected() != row) {
      td::PressKey(VK_DOWN);
      td::RunUntilIdle();
    }
  }
  std::string LeftKey() {
    const std::string d = td::DescribeScreen();
    const auto at = d.find("softkeys left=");
    return at == std::string::npos ? std::string() : d.substr(at, d.find('\n', at) - at);
  }

  platform_testing::ScopedDeviceRoot root_;
  TempFolder parts_, pictures_, sounds_;
  Host host_;
  audio::AudioClipLoader audio_{u"", &PostToWindow};
  viewer::VideoPlayback video_;
  viewer::ViewerContext ctx_;
  presentation::MessageDocument doc_;
  std::unique_ptr<viewer::ContentsScreen> screen_;
  std::vector<std::u16string> opened_;
};

TEST_F(ContentsScreenTest, RowsInDocumentOrderWithTheBarOfTheSelectedClass) {
  Open(false);
  const std::string d = td::DescribeScreen();
  EXPECT_NE(d.find("title=\"Message contents\""), std::string::npos) << d;
  // The missing part has no row; each row names its file and size.
  EXPECT_NE(d.find("listview count=4 sel=0"), std::string::npos) << d;
  EXPECT_NE(d.find("row 0 \"1.gif\" \"1KB\" image=0 selected"), std::string::npos) << d;
  EXPECT_NE(d.find("row 1 \"2.wav\" \"47KB\" image=1"), std::string::npos) << d;
  EXPECT_NE(d.find("row 3 \"4.bin\" \"3KB\" image=4"), std::string::npos) << d;
  EXPECT_EQ(screen_->menuBar(), ids::kBarMediaPart);
  EXPECT_EQ(LeftKey(), "softkeys left=\"Open\" right=\"Menu\"(menu)");
  Select(1);
  EXPECT_EQ(screen_->menuBar(), ids::kBarMediaPart);
  EXPECT_EQ(LeftKey().substr(0, 26), "softkeys left=\"Play\" right");
  Select(2);
  EXPECT_EQ(screen_->menuBar(), ids::kBarTextPart);
  Select(3);
  EXPECT_EQ(screen_->menuBar(), ids::kBarUnknownPart);

  // An empty message has only the close bar.
  doc_.Clear(false);
  screen_.reset();
  Open(false);
  EXPECT_EQ(screen_->menuBar(), ids::kBarClose);
}

TEST_F(ContentsScreenTest, SoundPlaysAndStopsOnTheKeyAndWhenTheSelectionMoves) {
  Open(false);
  Select(1);
  Command(ids::kCmdOpen);
  EXPECT_TRUE(screen_->soundPlaying());
  EXPECT_NE(LeftKey().find("left=\"Stop\""), std::string::npos) << LeftKey();
  Command(ids::kCmdOpen);
  EXPECT_FALSE(screen_->soundPlaying());
  EXPECT_NE(LeftKey().find("left=\"Play\""), std::string::npos);
  Command(ids::kCmdOpen);
  EXPECT_TRUE(screen_->soundPlaying());
  Select(2);
  EXPECT_FALSE(screen_->soundPlaying());
  // The player's report that the clip reached its length ends it too.
  Select(1);
  Command(ids::kCmdOpen);
  ASSERT_TRUE(screen_->soundPlaying());
  SendMessage(screen_->hwnd(), audio::kMsgAudioProgress, 1000, 3000);
  EXPECT_TRUE(screen_->soundPlaying());
  SendMessage(screen_->hwnd(), audio::kMsgAudioProgress, 3000, 3000);
  EXPECT_FALSE(screen_->soundPlaying());
  // The stopped clip's own end report follows through the queue before the next key.
  td::RunUntilIdle();
  // So does its report of the end (-1), which comes whether or not the length was reported.
  Command(ids::kCmdOpen);
  ASSERT_TRUE(screen_->soundPlaying());
  SendMessage(screen_->hwnd(), audio::kMsgAudioProgress, static_cast<WPARAM>(-1), 3000);
  EXPECT_FALSE(screen_->soundPlaying());
}

TEST_F(ContentsScreenTest, TheEndReportOfAStoppedClipDoesNotStopTheNextOne) {
  Open(false);
  Select(1);
  Command(ids::kCmdOpen);
  ASSERT_TRUE(screen_->soundPlaying());
  // Stop and play again before the loop runs: the stopped clip's end report (-1) is still
  // queued when the new clip starts.
  SendMessage(screen_->hwnd(), WM_COMMAND, ids::kCmdOpen, 0);
  ASSERT_FALSE(screen_->soundPlaying());
  SendMessage(screen_->hwnd(), WM_COMMAND, ids::kCmdOpen, 0);
  ASSERT_TRUE(screen_->soundPlaying());
  td::RunUntilIdle();
  EXPECT_TRUE(screen_->soundPlaying());
  EXPECT_NE(LeftKey().find("left=\"Stop\""), std::string::npos) << LeftKey();
  // The new clip's own end still ends it.
  SendMessage(screen_->hwnd(), audio::kMsgAudioProgress, static_cast<WPARAM>(-1), 3000);
  EXPECT_FALSE(screen_->soundPlaying());
}

TEST_F(ContentsScreenTest, SavingATakenNameAsksThenWritesUnderSuffixesZeroAndOne) {
  WriteWav(sounds_.File("2.wav"), 10);
  const std::string before = Contents(sounds_.File("2.wav"));
  Open(false);
  Select(1);
  for (int round = 0; round < 2; ++round) {
    std::string asked;
    host_.Later([&] {
      asked = td::DescribeScreen();
      td::PressKey(VK_TSOFT1);  // OK
    });
    Command(ids::kCmdSave);
    EXPECT_NE(asked.find("A file with this name already exists"), std::string::npos) << asked;
    EXPECT_EQ(screen_->lastSave(), SaveOutcome::Saved);
  }
  EXPECT_EQ(Contents(sounds_.File("2.wav")), before);
  EXPECT_EQ(Contents(sounds_.File("2_0.wav")), Contents(parts_.File("2.wav")));
  EXPECT_EQ(Contents(sounds_.File("2_1.wav")), Contents(parts_.File("2.wav")));

  // Cancel in the question saves nothing.
  host_.Later([] { td::PressKey(VK_TSOFT2); });
  Command(ids::kCmdSave);
  EXPECT_EQ(screen_->lastSave(), SaveOutcome::Cancelled);
  EXPECT_FALSE(platform::PathExists(sounds_.Wide() + u"2_2.wav"));

  // A part of unknown kind goes to its own folder, made when missing.
  Select(3);
  Command(ids::kCmdSave);
  EXPECT_EQ(Contents(pictures_.File("other/4.bin")), std::string(3000, 'x'));
}

TEST_F(ContentsScreenTest, ATextPartIsSavedAsACannedTextOnceAndAForeignFileIsLeftAlone) {
  const std::u16string file = pictures_.Wide() + u"CannedText.txt";
  ASSERT_TRUE(texteditor::SaveCannedTexts(file, {u"see you"}));
  ctx_.cannedTextsFile = file;
  Open(false);
  Select(2);  // 3.txt: "hello"
  Command(ids::kCmdSave);
  EXPECT_EQ(screen_->lastSave(), SaveOutcome::Saved);
  std::vector<std::u16string> texts;
  ASSERT_TRUE(texteditor::LoadCannedTexts(file, &texts));
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"see you", u"hello"}));

  // Again: the list has it already; the user is told and nothing changes.
  std::string told;
  host_.Later([&] {
    told = td::DescribeScreen();
    td::PressKey(VK_TSOFT1);
  });
  Command(ids::kCmdSave);
  EXPECT_EQ(screen_->lastSave(), SaveOutcome::Cancelled);
  EXPECT_NE(told.find("This text is already in the list."), std::string::npos) << told;
  ASSERT_TRUE(texteditor::LoadCannedTexts(file, &texts));
  EXPECT_EQ(texts.size(), 2u);

  // A file that is not a canned-texts file is never rewritten.
  WriteBytes(pictures_.File("CannedText.txt"), "notes");
  EXPECT_EQ(viewer::SaveAsCannedText(u"hello", file), SaveOutcome::Failed);
  EXPECT_EQ(Contents(pictures_.File("CannedText.txt")), "notes");
  EXPECT_EQ(viewer::SaveAsCannedText(u"", file), SaveOutcome::Failed);
}

TEST_F(ContentsScreenTest, ProtectedPartsOpenButAreNeverSaved) {
  Open(true);
  Command(ids::kCmdOpen);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], parts_.Wide() + u"1.gif");

  std::string shown;
  host_.Later([&] {
    shown = td::DescribeScreen();
    td::PressKey(VK_TSOFT1);
  });
  Command(ids::kCmdSave);
  EXPECT_NE(shown.find("This item is protected and cannot be saved."), std::string::npos) << shown;
  EXPECT_FALSE(platform::PathExists(pictures_.Wide() + u"1.gif"));

  // The unprotected parts of the same message save as usual.
  Select(1);
  Command(ids::kCmdSave);
  EXPECT_EQ(screen_->lastSave(), SaveOutcome::Saved);
  EXPECT_TRUE(platform::FileExists(sounds_.Wide() + u"2.wav"));

  // Without protected content in the message the flag alone does not stop a save.
  screen_.reset();
  Open(false);
  Command(ids::kCmdSave);
  EXPECT_TRUE(platform::FileExists(pictures_.Wide() + u"1.gif"));
}

}  // namespace
