// The viewer dialog on the virtual clock: it starts at once, follows the player with its
// soft key and progress strip, keeps slide jumps within the presentation, and shows a text
// for a message without slides.
#include "viewer/viewer_dialog.h"

#include <gtest/gtest.h>

#include "audio/clip_player.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "platform_testing/device_root.h"
#include "store/message_store.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"
#include "viewer_test_support.h"

namespace {

using namespace viewer_test;
using presentation::MediaItem;
using presentation::MediaReference;
using presentation::MessageDocument;
namespace td = platform::testdriver;
namespace ids = viewer::ids;

class ViewerDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    td::Enable();
    ASSERT_TRUE(Wren().loaded());
    ctx_.resources = &Wren();
    ctx_.audio = &audio_;
    ctx_.video = &video_;
    doc_.SetDefaultLayout();
    doc_.SetPartsDirectory(dir_.Wide());
  }
  void AddTextSlides(int n, std::uint32_t ms) {
    for (int i = 0; i < n; ++i) {
      const std::string name = "t" + std::to_string(i) + ".txt";
      WriteTextPart(dir_.File(name), "slide " + std::to_string(i + 1));
      auto item = std::make_unique<MediaItem>();
      item->kind = presentation::kKindText;
      item->fileName = platform::Utf8ToUtf16(name);
      item->references = 1;
      MediaItem* it = doc_.AppendMedia(std::move(item));
      doc_.slides().push_back(std::make_unique<presentation::Slide>());
      doc_.slides().back()->duration = ms;
      doc_.slides().back()->text = MediaReference{1, 0, 0, it};
    }
  }
  void Command(UINT id) {
    SendMessage(dialog_->hwnd(), WM_COMMAND, id, 0);
    td::RunUntilIdle();
  }
  // The popup's enabled items, as WM_INITMENUPOPUP leaves them.
  std::vector<UINT> EnabledItems() {
    HMENU menu = CreatePopupMenu();
    for (UINT id : {ids::kCmdRewind, ids::kCmdContents, ids::kCmdNextSlide, ids::kCmdPreviousSlide})
      AppendMenu(menu, MF_STRING, id, u"x");
    SendMessage(dialog_->hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    std::vector<UINT> out;
    for (UINT id : {ids::kCmdRewind, ids::kCmdContents, ids::kCmdNextSlide, ids::kCmdPreviousSlide})
      if (!(GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED)) out.push_back(id);
    DestroyMenu(menu);
    return out;
  }
  std::string SoftKeys() {
    const std::string d = td::DescribeScreen();
    return d.substr(d.find("class=menu_worker") == std::string::npos ? 0 : d.find("class=menu_worker"));
  }

  platform_testing::ScopedDeviceRoot root_;
  TempFolder dir_;
  Host host_;
  audio::AudioClipLoader audio_{u"", nullptr};
  viewer::VideoPlayback video_;
  viewer::ViewerContext ctx_;
  MessageDocument doc_;
  std::unique_ptr<viewer::ViewerDialog> dialog_;
};

TEST_F(ViewerDialogTest, PlaysAtOnceAndEndsWithTheStripEmptyAndPlayOnTheKey) {
  AddTextSlides(3, 1000);
  dialog_ = std::make_unique<viewer::ViewerDialog>(ctx_, &doc_, nullptr);
  ASSERT_NE(dialog_->Create(host_.hwnd), nullptr);
  td::RunUntilIdle();
  EXPECT_FALSE(dialog_->stopped());
  EXPECT_NE(SoftKeys().find("left=\"Stop\""), std::string::npos) << SoftKeys();
  const RECT& pr = dialog_->presentationRect();
  RECT client{};
  GetClientRect(dialog_->hwnd(), &client);
  EXPECT_EQ(pr.top, client.top + 2);
  EXPECT_EQ(pr.bottom, client.bottom - 20);

  td::RunFor(1500);
  EXPECT_NE(td::DescribeScreen().find("text=\"slide 2\""), std::string::npos);
  EXPECT_NE(td::DescribeScreen().find("progress 14"), std::string::npos) << td::DescribeScreen();
  EXPECT_FALSE(dialog_->ended());
  EXPECT_NE(std::find(EnabledItems().begin(), EnabledItems().end(), ids::kCmdRewind), EnabledItems().end());

  td::RunFor(1700);
  EXPECT_TRUE(dialog_->stopped());
  EXPECT_TRUE(dialog_->ended());
  EXPECT_EQ(dialog_->position(), 0u);
  EXPECT_EQ(dialog_->duration(), 3000u);
  EXPECT_NE(SoftKeys().find("left=\"Play\""), std::string::npos) << SoftKeys();
  EXPECT_EQ(dialog_->player().currentSlide(), 0);
  // Stop and rewind is offered only while something has played since the end.
  const auto enabled = EnabledItems();
  EXPECT_EQ(std::find(enabled.begin(), enabled.end(), ids::kCmdRewind), enabled.end());

  // The left soft key starts it again, and stops (rewinding) while playing.
  Command(ids::kCmdPlayStop);
  EXPECT_FALSE(dialog_->stopped());
  td::RunFor(500);
  Command(ids::kCmdPlayStop);
  EXPECT_TRUE(dialog_->stopped());
  EXPECT_EQ(dialog_->player().position(), 0u);
}

TEST_F(ViewerDialogTest, ScrollingALongTextPausesThePresentationAndPlayGoesOn) {
  AddTextSlides(1, 5000);
  std::string longText;
  for (int i = 1; i <= 40; ++i) longText += "line " + std::to_string(i) + "\r\n";
  WriteTextPart(dir_.File("t0.txt"), longText);
  dialog_ = std::make_unique<viewer::ViewerDialog>(ctx_, &doc_, nullptr);
  ASSERT_NE(dialog_->Create(host_.hwnd), nullptr);
  td::RunUntilIdle();
  td::RunFor(500);
  ASSERT_FALSE(dialog_->stopped());
  HWND text = dialog_->player().window()->textControl();
  ASSERT_TRUE(GetWindowLong(text, GWL_STYLE) & WS_VSCROLL);
  // Down moves through the visible lines first; the first line scrolled pauses.
  for (int i = 0; i < 40 && SendMessage(text, EM_GETFIRSTVISIBLELINE, 0, 0) == 0; ++i) {
    SendMessage(dialog_->hwnd(), WM_KEYDOWN, VK_DOWN, 0);
    td::RunUntilIdle();
  }
  EXPECT_GT(SendMessage(text, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  EXPECT_TRUE(dialog_->stopped());
  EXPECT_EQ(dialog_->player().state(), presentation::PresentationPlayer::State::Paused);
  EXPECT_NE(SoftKeys().find("left=\"Play\""), std::string::npos) << SoftKeys();
  const std::uint64_t at = dialog_->position();
  td::RunFor(1000);
  EXPECT_EQ(dialog_->position(), at);  // it waits while the user reads
  Command(ids::kCmdPlayStop);
  EXPECT_FALSE(dialog_->stopped());
  td::RunFor(1000);
  EXPECT_GT(dialog_->position(), at);
}

TEST_F(ViewerDialogTest, NextOnTheLastAndPreviousOnTheFirstSlideKeepTheSlide) {
  AddTextSlides(3, 2000);
  dialog_ = std::make_unique<viewer::ViewerDialog>(ctx_, &doc_, nullptr);
  ASSERT_NE(dialog_->Create(host_.hwnd), nullptr);
  td::RunUntilIdle();
  auto enabled = EnabledItems();
  EXPECT_EQ(std::find(enabled.begin(), enabled.end(), ids::kCmdPreviousSlide), enabled.end());
  EXPECT_NE(std::find(enabled.begin(), enabled.end(), ids::kCmdNextSlide), enabled.end());
  Command(ids::kCmdPreviousSlide);
  EXPECT_EQ(dialog_->player().currentSlide(), 0);

  // A jump leaves the viewer stopped on the new slide, its text shown, nothing running.
  Command(ids::kCmdNextSlide);
  EXPECT_EQ(dialog_->player().currentSlide(), 1);
  EXPECT_TRUE(dialog_->stopped());
  EXPECT_NE(SoftKeys().find("left=\"Play\""), std::string::npos);
  td::RunFor(3000);
  EXPECT_EQ(dialog_->player().currentSlide(), 1);
  EXPECT_NE(td::DescribeScreen().find("text=\"slide 2\""), std::string::npos);

  Command(ids::kCmdNextSlide);
  Command(ids::kCmdNextSlide);
  EXPECT_EQ(dialog_->player().currentSlide(), 2);
  enabled = EnabledItems();
  EXPECT_EQ(std::find(enabled.begin(), enabled.end(), ids::kCmdNextSlide), enabled.end());
  EXPECT_NE(std::find(enabled.begin(), enabled.end(), ids::kCmdPreviousSlide), enabled.end());

  // Playing from the last slide runs its 2 s and ends.
  Command(ids::kCmdPlayStop);
  td::RunFor(1000);
  EXPECT_NE(td::DescribeScreen().find("progress 4"), std::string::npos) << td::DescribeScreen();
  td::RunFor(1200);
  EXPECT_TRUE(dialog_->ended());

  // While playing, next follows the slide the player has reached by itself.
  Command(ids::kCmdPlayStop);
  td::RunFor(2500);
  ASSERT_EQ(dialog_->player().currentSlide(), 1);
  Command(ids::kCmdNextSlide);
  EXPECT_EQ(dialog_->player().currentSlide(), 2);
}

TEST_F(ViewerDialogTest, WithoutSlidesTheTextShowsAndPlayIsDisabled) {
  dialog_ = std::make_unique<viewer::ViewerDialog>(ctx_, &doc_, nullptr);
  ASSERT_NE(dialog_->Create(host_.hwnd), nullptr);
  td::RunUntilIdle();
  EXPECT_NE(td::DescribeScreen().find("text \"This item cannot be played.\""), std::string::npos)
      << td::DescribeScreen();
  Command(ids::kCmdPlayStop);
  EXPECT_TRUE(dialog_->stopped());
  Command(ids::kCmdNextSlide);
  EXPECT_EQ(dialog_->player().currentSlide(), 0);
}

// A stored message opened through the viewer's entry point: its package is unpacked, the
// presentation plays at once (inside the dialog's own loop) and runs to its end.
TEST_F(ViewerDialogTest, AStoredMessageOpensAndPlaysToItsEnd) {
  TempFolder store, compose;
  WriteTextPart(dir_.File("hello.txt"), "hello from a stored message");
  ASSERT_TRUE(WriteAnimation(dir_.File("pic.gif"), {0}, false));
  {
    MessageDocument made;
    made.SetPartsDirectory(compose.Wide());
    made.SetDefaultLayout();
    ASSERT_EQ(made.InsertSlide(-1), 1);
    ASSERT_EQ(made.AddMediaFile(0, platform::Utf8ToUtf16(dir_.File("pic.gif"))), 1);
    ASSERT_EQ(made.AddMediaFile(0, platform::Utf8ToUtf16(dir_.File("hello.txt"))), 1);
    store::MessageEntry probe(7, store.Wide());
    ASSERT_EQ(made.Save(compose.Wide(), probe.BodyPath()), 1);
  }
  store::MessageEntry entry(7, store.Wide());
  std::string during, after;
  host_.Later([&] {
    td::RunFor(500);
    during = td::DescribeScreen();
    td::RunFor(2000);
    after = td::DescribeScreen();
    PostMessage(GetForegroundWindow(), WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(viewer::RunViewer(host_.hwnd, &entry, ctx_), IDCANCEL);
  EXPECT_NE(during.find("text=\"hello from a stored message\""), std::string::npos) << during;
  EXPECT_NE(during.find("media picture \"1.gif\""), std::string::npos) << during;
  EXPECT_NE(during.find("left=\"Stop\""), std::string::npos);
  EXPECT_NE(after.find("progress 0/2000 slide 1/1"), std::string::npos) << after;
  EXPECT_NE(after.find("left=\"Play\""), std::string::npos);
  EXPECT_EQ(viewer::RunViewer(host_.hwnd, nullptr, ctx_), IDCANCEL);
}

}  // namespace
