// VideoPlayback over the real player library, with clips made by ffmpeg, the headless
// screen and the file audio backend; the duration probe and the thumbnail hook with it.
#include "viewer/video_playback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "audio/clip_player.h"
#include "imaging/image.h"
#include "platform_testing/device_root.h"
#include "viewer/duration_probe.h"
#include "viewer_test_support.h"

namespace {

using namespace viewer_test;
using viewer::PlaceVideo;
using viewer::VideoPlayback;
namespace td = platform::testdriver;

TEST(VideoPlacement, ScaledToTheSmallerRatioAtMostOneAndAHalfAndCentred) {
  const auto p = PlaceVideo(RECT{0, 0, 240, 200}, 176, 144);
  EXPECT_NEAR(p.scale, 240.0 / 176, 1e-9);
  EXPECT_EQ(p.width, 240);
  EXPECT_EQ(p.height, 196);
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.top, 2);

  const auto small = PlaceVideo(RECT{10, 20, 250, 220}, 64, 48);
  EXPECT_DOUBLE_EQ(small.scale, 1.5);
  EXPECT_EQ(small.width, 96);
  EXPECT_EQ(small.height, 72);
  EXPECT_EQ(small.left, 10 + (240 - 96) / 2);
  EXPECT_EQ(small.top, 20 + (200 - 72) / 2);

  // A video larger than the target is reduced; a tall one is limited by the height.
  const auto tall = PlaceVideo(RECT{0, 0, 176, 100}, 176, 144);
  EXPECT_EQ(tall.height, 100);
  EXPECT_EQ(tall.width, 122);
  EXPECT_EQ(tall.left, 27);
  // Nothing to place in an empty target or for an empty picture.
  EXPECT_EQ(PlaceVideo(RECT{5, 5, 5, 5}, 176, 144).width, 0);
  EXPECT_EQ(PlaceVideo(RECT{0, 0, 100, 100}, 0, 144).width, 0);
}

class VideoPlaybackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempFolder();
    av_ =
        MakeClip(*dir_, "av.3gp",
                 "-f lavfi -i testsrc=size=176x144:rate=15 -f lavfi -i sine=frequency=440:sample_rate=16000 "
                 "-t 1 -c:v mpeg4 -g 15 -c:a aac -b:a 32k -ac 1");
    audioOnly_ = MakeClip(*dir_, "sound.mp4",
                          "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 0.6 -c:a aac -b:a 32k -ac 1");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (av_.empty() || audioOnly_.empty()) GTEST_SKIP() << "ffmpeg not available";
    td::Enable();
  }
  void TearDown() override { video_.Close(); }

  // Dispatches messages on real time (the player runs on the system clock) until `pred`.
  template <typename Pred>
  bool Pump(Pred pred, int seconds = 10) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      td::RunUntilIdle();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  static TempFolder* dir_;
  static std::string av_, audioOnly_;
  platform_testing::ScopedDeviceRoot root_;
  Host host_;
  VideoPlayback video_;
};
TempFolder* VideoPlaybackTest::dir_ = nullptr;
std::string VideoPlaybackTest::av_;
std::string VideoPlaybackTest::audioOnly_;

// Audio only: the video track counts as finished from the start, so the audio track's one
// completion ends the clip with a single 1225 carrying 0.
TEST_F(VideoPlaybackTest, AudioOnlyClipEndsOnItsOneCompletion) {
  video_.SetTarget(host_.hwnd, 0, 0, 176, 150);
  const int ms = video_.Open(platform::Utf8ToUtf16(audioOnly_));
  ASSERT_GT(ms, 500);
  EXPECT_FALSE(video_.hasVideo());
  EXPECT_TRUE(video_.videoFinished());
  EXPECT_FALSE(video_.audioFinished());
  EXPECT_EQ(video_.State(), VideoPlayback::kReady);
  ASSERT_TRUE(video_.Play());
  ASSERT_TRUE(Pump([&] { return !host_.Of(viewer::kMsgVideoFinished).empty(); }));
  td::RunUntilIdle();
  const auto done = host_.Of(viewer::kMsgVideoFinished);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].wParam, 0u);
  EXPECT_EQ(done[0].lParam, ms);
  // Progress went to the owner while it played, never beyond the duration.
  for (const auto& p : host_.Of(viewer::kMsgVideoProgress)) {
    EXPECT_LE(static_cast<int>(p.wParam), ms + 100);
    EXPECT_EQ(p.lParam, ms);
  }
}

// The state machine: Stop posts 1225 with -1 once; stopping again, or anything on a closed
// object, posts nothing and answers false; Pause only while playing.
TEST_F(VideoPlaybackTest, StatesAndStopOfAStoppedObjectPostsNothing) {
  EXPECT_FALSE(video_.Play());
  EXPECT_FALSE(video_.Stop());
  EXPECT_FALSE(video_.Pause());
  EXPECT_EQ(video_.State(), VideoPlayback::kClosed);

  video_.SetTarget(host_.hwnd, 0, 0, 176, 150);
  ASSERT_GT(video_.Open(platform::Utf8ToUtf16(av_)), 900);
  EXPECT_TRUE(video_.hasVideo());
  EXPECT_FALSE(video_.Pause());
  ASSERT_TRUE(video_.Play());
  EXPECT_EQ(video_.State(), VideoPlayback::kPlaying);
  ASSERT_TRUE(video_.Stop());
  EXPECT_EQ(video_.State(), VideoPlayback::kStopped);
  td::RunUntilIdle();
  ASSERT_EQ(host_.Of(viewer::kMsgVideoFinished).size(), 1u);
  EXPECT_EQ(static_cast<LPARAM>(host_.Of(viewer::kMsgVideoFinished)[0].wParam), -1);
  EXPECT_FALSE(video_.Stop());
  td::RunUntilIdle();
  EXPECT_EQ(host_.Of(viewer::kMsgVideoFinished).size(), 1u);
  // A stopped clip plays again.
  EXPECT_TRUE(video_.Play());
  video_.Close();
  EXPECT_EQ(video_.State(), VideoPlayback::kClosed);
  EXPECT_EQ(video_.duration(), 0u);
}

// A 176 × 144 clip in a 176 × 150 target; paused, its snapshot is the placed size rounded
// down to a multiple of 4 by 2, bottom-up 24-bit.
TEST_F(VideoPlaybackTest, PausedSnapshotAndFileInformation) {
  video_.SetTarget(host_.hwnd, 0, 0, 176, 150);
  ASSERT_GT(video_.Open(platform::Utf8ToUtf16(av_)), 0);
  EXPECT_EQ(video_.placement().width, 176);
  EXPECT_EQ(video_.placement().height, 144);
  EXPECT_EQ(video_.placement().top, 20 + 3);  // the host's client area starts below the tray
  EXPECT_EQ(video_.Snapshot(), nullptr);      // only while paused
  ASSERT_TRUE(video_.Play());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(video_.Pause());
  auto shot = video_.Snapshot();
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->width(), 176);
  EXPECT_EQ(shot->height(), 144);
  EXPECT_EQ(shot->bits(), 24);

  std::uint32_t ms = 0;
  int w = 0, h = 0;
  // The open file answers for itself although the one player is taken.
  ASSERT_TRUE(video_.MediaInfo(platform::Utf8ToUtf16(av_), &ms, &w, &h));
  EXPECT_EQ(w, 176);
  EXPECT_EQ(h, 144);
  video_.Close();
  ms = 0;
  ASSERT_TRUE(video_.MediaInfo(platform::Utf8ToUtf16(av_), &ms, &w, &h));
  EXPECT_GE(ms, 900u);
  EXPECT_LE(ms, 1100u);
  EXPECT_FALSE(video_.MediaInfo(u"/no/such/file.3gp", &ms, &w, &h));
}

TEST_F(VideoPlaybackTest, FirstFrameThumbnailsAndDurations) {
  auto frame = VideoPlayback::FirstFrame(platform::Utf8ToUtf16(av_), 89, 73);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width(), 88);
  EXPECT_EQ(frame->height(), 72);
  EXPECT_EQ(VideoPlayback::FirstFrame(u"/no/such.3gp", 88, 72), nullptr);

  viewer::InstallVideoThumbnails();
  imaging::Box box{60, 60};
  auto thumb = imaging::LoadImageFitted(platform::Utf8ToUtf16(av_), &box, imaging::kTypeVideo);
  ASSERT_NE(thumb, nullptr);
  EXPECT_LE(thumb->width(), 60);
  EXPECT_LE(thumb->height(), 60);
  EXPECT_GE(thumb->width(), 56);

  // Durations from the decoders: the clip player for sound, the frame delays for a GIF,
  // the player library for a clip; unknown for what none of them reads.
  WriteWav(dir_->File("one.wav"), 1000);
  ASSERT_TRUE(WriteAnimation(dir_->File("a.gif"), {10, 20, 30}, false));
  ASSERT_TRUE(WriteAnimation(dir_->File("still.gif"), {50}, false));
  audio::AudioClipLoader loader(u"", nullptr);
  viewer::PlaybackDurationProbe probe(&loader, &video_);
  auto at = [&](const std::string& name) { return platform::Utf8ToUtf16(dir_->File(name)); };
  EXPECT_EQ(probe.DurationMs(at("one.wav"), presentation::kKindWav), 1000u);
  EXPECT_EQ(probe.DurationMs(at("a.gif"), presentation::kKindGif), 600u);
  EXPECT_EQ(probe.DurationMs(at("still.gif"), presentation::kKindGif), 0u);
  const std::uint32_t clip = probe.DurationMs(platform::Utf8ToUtf16(av_), presentation::kKindMp4);
  EXPECT_GE(clip, 900u);
  EXPECT_LE(clip, 1100u);
  EXPECT_EQ(probe.DurationMs(at("missing.amr"), presentation::kKindAmr), 0u);
  EXPECT_EQ(probe.DurationMs(at("one.wav"), presentation::kKindText), 0u);

  // Documents made after the probe is installed ask it.
  presentation::SetDefaultDurationProbe(&probe);
  presentation::MessageDocument doc;
  doc.SetPartsDirectory(dir_->Wide());
  ASSERT_EQ(doc.InsertSlide(-1), 1);
  ASSERT_EQ(doc.AddMediaFile(0, at("a.gif")), 1);
  ASSERT_EQ(doc.AddMediaFile(0, at("one.wav")), 1);
  EXPECT_EQ(doc.SlideDuration(0), 2000u);
  presentation::SetDefaultDurationProbe(nullptr);
}

}  // namespace
