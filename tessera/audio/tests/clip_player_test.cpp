// Clip playback through the file audio backend: what reaches the device file is
// compared with the clip, and the progress messages with what was played.
#include "audio/clip_player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "post_log.h"
#include "test_media.h"

using namespace audio;
using namespace audio_test;

namespace {

class ClipPlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_AUDIO", "file", 1);
    PostLog::Get().Clear();
    pcm_ = TestPcm16(8000, 8000);  // one second
    clip_ = root_.path() + "/clip.wav";
    WriteFile(clip_, MakeWav(pcm_, 8000, 1, 16));
  }

  static bool EndedOnce(const std::vector<Posted>& p) {
    for (auto& m : p)
      if (static_cast<LPARAM>(m.wParam) == -1) return true;
    return false;
  }

  std::vector<std::uint8_t> Output() { return WavData44(ReadFile(OnlyOutputFile(root_.path()))); }

  platform_testing::ScopedDeviceRoot root_;
  std::vector<std::uint8_t> pcm_;
  std::string clip_;
  int window_ = 0;  // stands for the notified window
};

TEST_F(ClipPlayback, LoopsTwiceThenReportsEndOnce) {
  AudioClipLoader loader(platform::Utf8ToUtf16(ProgramDir()), &PostLog::Post);
  ASSERT_EQ(loader.OpenClip(platform::Utf8ToUtf16(clip_), &window_), 1000);
  EXPECT_EQ(loader.state(), AudioClipLoader::kOpen);
  ASSERT_EQ(loader.PlayClip(0, -1, 2), 0);
  EXPECT_EQ(loader.state(), AudioClipLoader::kPlaying);
  ASSERT_TRUE(PostLog::Get().WaitFor(EndedOnce, 10));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing may follow the end
  loader.CloseClip();
  EXPECT_EQ(loader.state(), AudioClipLoader::kClosed);

  auto out = Output();
  std::vector<std::uint8_t> twice = pcm_;
  twice.insert(twice.end(), pcm_.begin(), pcm_.end());
  EXPECT_EQ(out.size(), twice.size());
  EXPECT_TRUE(out == twice) << "the device must receive the clip twice, unchanged";

  int ends = 0, starts = 0;
  int last = -2;
  for (auto& m : PostLog::Get().Snapshot()) {
    EXPECT_EQ(m.message, kMsgAudioProgress);
    EXPECT_EQ(m.window, &window_);
    EXPECT_EQ(m.lParam, 1000);
    auto pos = static_cast<LPARAM>(m.wParam);
    if (pos == -1) {
      ++ends;
      continue;
    }
    EXPECT_LE(pos, 1000);
    if (pos == 0)
      ++starts;
    else
      EXPECT_GT(pos, last);
    last = pos;
  }
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(starts, 2) << "each pass reports its start";
}

TEST_F(ClipPlayback, PlaysTheSelectedRange) {
  ClipPlayer player;
  player.SetDecoderFolder(platform::Utf8ToUtf16(ProgramDir()));
  std::vector<int> positions;
  static std::mutex m;
  player.SetCallback(
      [](int length, int position, void* user) {
        std::lock_guard lock(m);
        static_cast<std::vector<int>*>(user)->push_back(position);
      },
      &positions);
  ASSERT_EQ(player.Open(platform::Utf8ToUtf16(clip_), 0), 0);
  EXPECT_EQ(player.bufferSize(), 6400u);
  EXPECT_EQ(player.Play(600, 200, 1), -1) << "end before start";
  EXPECT_EQ(player.Play(-5, 200, 1), -1);
  EXPECT_EQ(player.Play(0, 200, -2), -1);
  ASSERT_EQ(player.Play(200, 600, 1), 0);
  EXPECT_EQ(player.Play(200, 600, 1), -1) << "already playing";
  for (int i = 0; i < 100 && player.State() == ClipPlayer::kPlaying; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(player.State(), ClipPlayer::kStopped);
  player.Close();
  std::vector<std::uint8_t> want(pcm_.begin() + 3200, pcm_.begin() + 9600);
  EXPECT_TRUE(Output() == want);
  std::lock_guard lock(m);
  ASSERT_GE(positions.size(), 2u);
  EXPECT_EQ(positions.front(), 200);
  EXPECT_EQ(positions.back(), -1);
  EXPECT_EQ(positions[positions.size() - 2], 600);
}

TEST_F(ClipPlayback, ShortClipIsPaddedAndStopEndsPlayback) {
  std::vector<std::uint8_t> shortPcm(pcm_.begin(), pcm_.begin() + 1600);  // 100 ms
  std::string path = root_.path() + "/short.wav";
  WriteFile(path, MakeWav(shortPcm, 8000, 1, 16));
  {
    ClipPlayer player;
    ASSERT_EQ(player.Open(platform::Utf8ToUtf16(path), 0), 0);
    ASSERT_EQ(player.Play(0, -1, 1), 0);
    for (int i = 0; i < 100 && player.State() != ClipPlayer::kStopped; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  auto out = Output();
  ASSERT_EQ(out.size(), 6400u) << "one full buffer";
  EXPECT_TRUE(std::equal(shortPcm.begin(), shortPcm.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 1600, out.end(), [](std::uint8_t b) { return b == 0; }));

  // Stop halfway through a long clip: the end is reported and the device falls silent.
  std::filesystem::remove_all(root_.path() + "/audio-out");
  AudioClipLoader loader(u"", &PostLog::Post);
  ASSERT_EQ(loader.OpenClip(platform::Utf8ToUtf16(clip_), &window_), 1000);
  ASSERT_EQ(loader.PlayClip(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(loader.PauseClip(), 0);
  EXPECT_EQ(loader.state(), AudioClipLoader::kPaused);
  EXPECT_EQ(loader.PlayClip(), 0) << "resumes";
  EXPECT_EQ(loader.StopClip(), 0);
  EXPECT_EQ(loader.state(), AudioClipLoader::kOpen);
  EXPECT_TRUE(EndedOnce(PostLog::Get().Snapshot()));
  auto sizeAtStop = Output().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Output().size(), sizeAtStop);
  EXPECT_LT(sizeAtStop, pcm_.size());
  loader.CloseClip();
}

TEST_F(ClipPlayback, VolumeScalesTheOutput) {
  ClipPlayer player;
  ASSERT_EQ(player.Open(platform::Utf8ToUtf16(clip_), 0), 0);
  EXPECT_EQ(player.SetVolume(50), 0);
  EXPECT_EQ(player.GetVolume(), 49);  // 50 % is 32767 of 65535
  EXPECT_EQ(player.SetVolume(100), 0);
  EXPECT_EQ(player.GetVolume(), 100);
  player.SetVolume(50);
  ASSERT_EQ(player.Play(0, 400, 1), 0);
  for (int i = 0; i < 100 && player.State() != ClipPlayer::kStopped; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  player.Close();
  auto in = Samples(pcm_);
  auto out = Samples(Output());
  ASSERT_EQ(out.size(), 3200u);
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(out[i], in[i] / 2, 1) << i;
}

TEST_F(ClipPlayback, RefusesWhatItCannotPlay) {
  AudioClipLoader loader(u"/nonexistent-folder", &PostLog::Post);
  std::string junk = root_.path() + "/junk.bin";
  WriteFile(junk, std::vector<std::uint8_t>(100, 0x42));
  EXPECT_EQ(loader.OpenClip(platform::Utf8ToUtf16(junk), nullptr), -1);
  EXPECT_EQ(loader.state(), AudioClipLoader::kClosed);
  EXPECT_EQ(loader.OpenClip(platform::Utf8ToUtf16(root_.path() + "/missing.wav"), nullptr), -1);
  std::string amr = root_.path() + "/a.amr";
  WriteFile(amr, {'#', '!', 'A', 'M', 'R', '\n', 0x3C});
  EXPECT_EQ(loader.OpenClip(platform::Utf8ToUtf16(amr), nullptr), -1) << "no Amr.dec in that folder";
  EXPECT_EQ(loader.PlayClip(), -1);
  EXPECT_EQ(loader.PauseClip(), -1);
  EXPECT_EQ(loader.ClipDuration(u""), -1);
  EXPECT_EQ(loader.ClipDuration(platform::Utf8ToUtf16(clip_)), 1000);

  // With a clip open, another file still gets its own length, not the open clip's.
  std::string other = root_.path() + "/other.wav";
  WriteFile(other, MakeWav(std::vector<std::uint8_t>(pcm_.begin(), pcm_.begin() + 4000), 8000, 1, 16));
  ASSERT_EQ(loader.OpenClip(platform::Utf8ToUtf16(clip_), nullptr), 1000);
  EXPECT_EQ(loader.ClipDuration(platform::Utf8ToUtf16(other)), 250);
  EXPECT_EQ(loader.ClipDuration(platform::Utf8ToUtf16(clip_)), 1000);
  loader.CloseClip();

  ClipPlayer idle;
  EXPECT_EQ(idle.Play(0, -1, 1), -1);
  EXPECT_EQ(idle.Pause(), -1);
  EXPECT_EQ(idle.Resume(), -1);
  EXPECT_EQ(idle.Duration(), -1);
  EXPECT_EQ(idle.Position(), -1);
  EXPECT_EQ(idle.State(), -1);
  EXPECT_EQ(idle.Stop(), -1);
}

}  // namespace
