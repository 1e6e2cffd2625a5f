// The media window on the virtual clock: fitted pictures, animation frame times and the
// loop rule, a video with its paused frame, taps passed to the parent.
#include "viewer/media_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform_testing/device_root.h"
#include "viewer/video_playback.h"
#include "viewer_test_support.h"

namespace {

using namespace viewer_test;
using viewer::MediaWindow;
namespace td = platform::testdriver;

class MediaWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    td::Enable();
    window_ = MediaWindow::Create(host_.hwnd, RECT{0, 0, 176, 150}, &video_);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override { window_.reset(); }
  std::u16string At(const std::string& name) { return platform::Utf8ToUtf16(dir_.File(name)); }

  // Clock times (from the start) at which the shown frame changes, up to `until` ms.
  std::vector<std::pair<DWORD, int>> FrameChanges(DWORD until) {
    std::vector<std::pair<DWORD, int>> changes;
    int last = window_->frameIndex();
    for (DWORD t = 10; t <= until; t += 10) {
      td::RunFor(10);
      if (window_->frameIndex() != last) {
        last = window_->frameIndex();
        changes.emplace_back(t, last);
      }
    }
    return changes;
  }

  platform_testing::ScopedDeviceRoot root_;
  TempFolder dir_;
  Host host_;
  viewer::VideoPlayback video_;
  std::unique_ptr<MediaWindow> window_;
};

// Frames of 100, 200 and 300 ms: frame 1 at 100 ms, frame 2 at 300 ms, back to the first
// frame at 600 ms, where an animation without a loop extension stops. Changes land on the
// 30 ms timer steps at or after each due time.
TEST_F(MediaWindowTest, AnimationFrameTimesAndTheLoopRule) {
  ASSERT_TRUE(WriteAnimation(dir_.File("a.gif"), {10, 20, 30}, false));
  ASSERT_TRUE(window_->ShowMedia(At("a.gif"), presentation::kKindGif));
  EXPECT_EQ(LineWith("media "), "    media empty");  // nothing drawn before the start
  window_->StartMedia();
  td::RunUntilIdle();
  EXPECT_TRUE(window_->animating());
  const auto changes = FrameChanges(1000);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0].second, 1);
  EXPECT_GE(changes[0].first, 100u);
  EXPECT_LT(changes[0].first, 130u);
  EXPECT_EQ(changes[1].second, 2);
  EXPECT_GE(changes[1].first, 300u);
  EXPECT_LT(changes[1].first, 330u);
  EXPECT_EQ(changes[2].second, 0);
  EXPECT_GE(changes[2].first, 600u);
  EXPECT_LT(changes[2].first, 630u);
  EXPECT_FALSE(window_->animating());
  EXPECT_NE(LineWith("media animation").find("frame 0 of 3 still"), std::string::npos) << LineWith("media");

  // With a loop extension it goes round again.
  ASSERT_TRUE(WriteAnimation(dir_.File("loop.gif"), {10, 20, 30}, true));
  ASSERT_TRUE(window_->ShowMedia(At("loop.gif"), presentation::kKindGif));
  window_->StartMedia();
  const auto again = FrameChanges(1300);
  ASSERT_GE(again.size(), 5u);
  EXPECT_EQ(again[3].second, 1);
  EXPECT_GE(again[3].first, 700u);
  EXPECT_TRUE(window_->animating());

  // Pause holds the frame, resume goes on from it.
  window_->PauseMedia();
  const int held = window_->frameIndex();
  EXPECT_TRUE(FrameChanges(1000).empty());
  EXPECT_EQ(window_->frameIndex(), held);
  window_->ResumeMedia();
  EXPECT_FALSE(FrameChanges(700).empty());
  window_->ClearMedia();
  EXPECT_FALSE(window_->animating());
  EXPECT_EQ(window_->picture(), nullptr);
}

// A still picture is fitted into the window and centred; a damaged file leaves it empty;
// a tap goes to the parent.
TEST_F(MediaWindowTest, StillPictureFittedDamagedFileEmptyAndTapsToParent) {
  ASSERT_TRUE(WriteAnimation(dir_.File("one.gif"), {0}, false));
  ASSERT_TRUE(window_->ShowMedia(At("one.gif"), presentation::kKindGif, false, true));
  td::RunUntilIdle();
  EXPECT_EQ(LineWith("media "), "    media picture \"one.gif\" 40x30");
  EXPECT_FALSE(window_->animating());
  WriteBytes(dir_.File("bad.jpg"), "not a picture at all");
  EXPECT_FALSE(window_->ShowMedia(At("bad.jpg"), presentation::kKindJpeg, false, true));
  EXPECT_EQ(LineWith("media "), "    media empty");
  EXPECT_FALSE(window_->ShowMedia(At("x.txt"), presentation::kKindText, false, true));

  host_.log.clear();
  SendMessage(window_->Window(), WM_LBUTTONDOWN, 0, MAKELPARAM(5, 6));
  td::RunUntilIdle();
  const auto taps = host_.Of(WM_LBUTTONDOWN);
  ASSERT_EQ(taps.size(), 1u);
  EXPECT_EQ(taps[0].lParam, MAKELPARAM(5, 6));
}

// A video plays through VideoPlayback into the window; paused, its frame is what the
// window shows; the end of the clip stops it.
TEST_F(MediaWindowTest, VideoPlaysPausesToItsFrameAndStopsAtTheEnd) {
  const std::string clip =
      MakeClip(dir_, "v.3gp", "-f lavfi -i testsrc=size=176x144:rate=15 -t 2 -c:v mpeg4 -g 15 -an");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  ASSERT_TRUE(window_->ShowMedia(platform::Utf8ToUtf16(clip), presentation::kKindMp4));
  EXPECT_EQ(video_.owner(), window_->Window());
  window_->StartMedia();
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kPlaying);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  window_->PauseMedia();
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kPaused);
  ASSERT_NE(window_->picture(), nullptr);
  EXPECT_NE(LineWith("media video").find("state 4 snapshot"), std::string::npos) << LineWith("media");
  window_->ResumeMedia();
  EXPECT_EQ(window_->picture(), nullptr);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (video_.State() != viewer::VideoPlayback::kStopped && std::chrono::steady_clock::now() < until) {
    td::RunUntilIdle();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kStopped);
  window_->ClearMedia();
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kClosed);

  // As a poster: the first frame fitted into the window, no playback.
  ASSERT_TRUE(window_->ShowMedia(platform::Utf8ToUtf16(clip), presentation::kKindMp4, true, true));
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kClosed);
  ASSERT_NE(window_->picture(), nullptr);
  EXPECT_EQ(window_->picture()->width(), 176);
}

}  // namespace
