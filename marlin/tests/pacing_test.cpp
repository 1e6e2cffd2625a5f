// Pictures are shown at their time against the sound: none ahead of the audio position, as a
// stale wake-up of the video thread would cause right after the start.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "../src/engine.h"
#include "marlin/marlin.h"
#include "platform_testing/device_root.h"

namespace marlin {
namespace {

namespace fs = std::filesystem;

std::mutex gMutex;
std::condition_variable gCv;
int gEnded = 0;
std::vector<std::pair<std::uint32_t, std::int64_t>> gShown;  // picture time, audio position

void OnPresent(std::uint32_t sampleTimeMs) {
  const std::int64_t audio = AudioClockMs();
  std::lock_guard lock(gMutex);
  gShown.emplace_back(sampleTimeMs, audio);
}

void OnCompletion(void*, std::int32_t) {
  std::lock_guard lock(gMutex);
  ++gEnded;
  gCv.notify_all();
}

// Five pictures a second: a picture shown as soon as it is decoded would be 200 ms early.
TEST(Pacing, NoPictureAheadOfTheSound) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  const std::string clip = (fs::temp_directory_path() / ("marlin-pacing-" + std::to_string(getpid()) + ".mp4")).string();
  const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=5 "
                           "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 2 -c:v mpeg4 -g 5 -c:a aac "
                           "-b:a 32k -ac 1 '" + clip + "'";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "ffmpeg not available";
  gShown.clear();
  gEnded = 0;
  std::uint32_t h = 0, v = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  ASSERT_EQ(MP_OpenVideoTrack(h, 0, &v), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  SetPresentObserver(OnPresent);
  MP_SetCompletionCallback(h, OnCompletion, nullptr);
  ASSERT_EQ(MP_Play(h), 0);
  {
    std::unique_lock lock(gMutex);
    EXPECT_TRUE(gCv.wait_for(lock, std::chrono::seconds(20), [] { return gEnded >= 2; }));
  }
  SetPresentObserver(nullptr);
  MP_CloseTrack(a);
  MP_CloseTrack(v);
  MP_CloseMediaPlayer(0);
  std::remove(clip.c_str());
  std::lock_guard lock(gMutex);
  ASSERT_GE(gShown.size(), 5u);
  for (const auto& [picture, audio] : gShown) {
    ASSERT_GE(audio, 0);
    EXPECT_LT(static_cast<std::int64_t>(picture) - audio, 100) << "picture at " << picture << " ms";
  }
}

}  // namespace
}  // namespace marlin
