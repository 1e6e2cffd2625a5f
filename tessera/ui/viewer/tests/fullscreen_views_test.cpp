// The full-screen picture and video views on the headless display.
#include "viewer/fullscreen_views.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform_testing/device_root.h"
#include "viewer/media_window.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"
#include "viewer_test_support.h"

namespace {

using namespace viewer_test;
namespace td = platform::testdriver;
namespace ids = viewer::ids;

class FullScreenViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    td::Enable();
    ASSERT_TRUE(Wren().loaded());
    ctx_.resources = &Wren();
    ctx_.video = &video_;
  }
  platform_testing::ScopedDeviceRoot root_;
  TempFolder dir_;
  Host host_;
  viewer::VideoPlayback video_;
  viewer::ViewerContext ctx_;
};

TEST_F(FullScreenViewTest, PictureViewRunsAnAnimationAndEndsAtOnceOnABadFile) {
  ASSERT_TRUE(WriteAnimation(dir_.File("a.gif"), {10, 10}, true));
  viewer::PictureView view(ctx_, platform::Utf8ToUtf16(dir_.File("a.gif")), presentation::kKindGif);
  HWND h = view.Create(host_.hwnd);
  ASSERT_NE(h, nullptr);
  td::RunFor(50);
  const std::string d = td::DescribeScreen();
  EXPECT_NE(d.find("title=\"Picture\""), std::string::npos) << d;
  EXPECT_NE(d.find("media animation \"a.gif\""), std::string::npos) << d;
  EXPECT_TRUE(view.media()->animating());
  RECT client{}, media{};
  GetClientRect(h, &client);
  GetClientRect(view.media()->Window(), &media);
  EXPECT_EQ(media.right, client.right);
  EXPECT_EQ(media.bottom, client.bottom);
  EXPECT_EQ(platform::WaitCursorCount(), 0);

  WriteBytes(dir_.File("bad.png"), "no picture");
  viewer::PictureView bad(ctx_, platform::Utf8ToUtf16(dir_.File("bad.png")), presentation::kKindPng);
  EXPECT_EQ(bad.Create(host_.hwnd), nullptr);
  EXPECT_EQ(platform::WaitCursorCount(), 0);
}

TEST_F(FullScreenViewTest, VideoViewPlaysPausesToItsFrameAndStops) {
  const std::string clip =
      MakeClip(dir_, "v.mp4", "-f lavfi -i testsrc=size=176x144:rate=15 -t 3 -c:v mpeg4 -an");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  viewer::VideoView view(ctx_, platform::Utf8ToUtf16(clip));
  HWND h = view.Create(host_.hwnd);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(view.hasPoster());
  RECT client{};
  GetClientRect(h, &client);
  EXPECT_EQ(view.pictureArea().bottom, client.bottom - ids::kProgressStripHeight);
  td::RunUntilIdle();  // the posted play command
  EXPECT_TRUE(view.playing());
  EXPECT_NE(td::DescribeScreen().find("left=\"Stop\""), std::string::npos);
  // Progress arrives from the player's own thread on its own clock.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (view.position() == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    td::RunUntilIdle();
  }
  EXPECT_GT(view.position(), 0u);

  SendMessage(h, WM_COMMAND, ids::kCmdVideoPlayPause, 0);
  EXPECT_FALSE(view.playing());
  EXPECT_TRUE(view.hasPausedFrame());
  EXPECT_NE(td::DescribeScreen().find("paused frame"), std::string::npos);
  EXPECT_NE(td::DescribeScreen().find("left=\"Play\""), std::string::npos);
  SendMessage(h, WM_COMMAND, ids::kCmdVideoPlayPause, 0);
  EXPECT_TRUE(view.playing());
  EXPECT_FALSE(view.hasPausedFrame());

  SendMessage(h, WM_COMMAND, ids::kCmdVideoStop, 0);
  td::RunUntilIdle();
  EXPECT_EQ(video_.State(), viewer::VideoPlayback::kStopped);
  EXPECT_EQ(view.position(), 0u);
  // Play after a stop starts again from the beginning.
  SendMessage(h, WM_COMMAND, ids::kCmdVideoPlayPause, 0);
  EXPECT_TRUE(view.playing());

  viewer::VideoView missing(ctx_, u"/no/such/clip.3gp");
  EXPECT_EQ(missing.Create(host_.hwnd), nullptr);
}

}  // namespace
