// A/V sync: headless playback of a 30-second clip with the file audio backend (paced in real
// time). For each picture presented, its time is compared with the audio output's position;
// the largest and mean differences are printed, against the 40 ms target.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "../../marlin/src/engine.h"
#include "marlin/marlin.h"
#include "platform_testing/device_root.h"

namespace {

std::mutex gMutex;
std::condition_variable gCv;
int gEnded = 0;
std::vector<double> gSkew;

void OnPresent(std::uint32_t sampleTimeMs) {
  const std::int64_t audio = marlin::AudioClockMs();
  if (audio < 0) return;
  std::lock_guard lock(gMutex);
  gSkew.push_back(static_cast<double>(sampleTimeMs) - static_cast<double>(audio));
}

void OnCompletion(void*, std::int32_t) {
  std::lock_guard lock(gMutex);
  ++gEnded;
  gCv.notify_all();
}

void BM_AvSync30s(benchmark::State& state) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  const std::string clip = (std::filesystem::temp_directory_path() / "marlin-bench-30s.mp4").string();
  const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=15 "
                           "-f lavfi -i sine=frequency=440:sample_rate=16000 -t 30 -c:v mpeg4 -g 15 -c:a aac "
                           "-b:a 32k -ac 1 '" + clip + "'";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("ffmpeg not available");
    return;
  }
  for (auto _ : state) {
    gSkew.clear();
    gEnded = 0;
    std::uint32_t h = 0, v = 0, a = 0;
    if (MP_OpenMediaPlayer(clip.c_str(), 0, &h) != 0 || MP_OpenVideoTrack(h, 0, &v) != 0 ||
        MP_OpenAudioTrack(h, 0, &a) != 0) {
      state.SkipWithError("cannot open the clip");
      MP_CloseMediaPlayer(0);
      return;
    }
    marlin::SetPresentObserver(OnPresent);
    MP_SetCompletionCallback(h, OnCompletion, nullptr);
    MP_Play(h);
    {
      std::unique_lock lock(gMutex);
      gCv.wait_for(lock, std::chrono::seconds(60), [] { return gEnded >= 2; });
    }
    marlin::SetPresentObserver(nullptr);
    std::uint32_t st[7];
    MP_GetStatistics(&st[0], &st[1], &st[2], &st[3], &st[4], &st[5], &st[6]);
    MP_CloseTrack(a);
    MP_CloseTrack(v);
    MP_CloseMediaPlayer(0);
    std::lock_guard lock(gMutex);
    double worst = 0, sum = 0;
    for (double s : gSkew) worst = std::max(worst, std::fabs(s)), sum += std::fabs(s);
    const double mean = gSkew.empty() ? 0 : sum / static_cast<double>(gSkew.size());
    state.counters["frames_presented"] = static_cast<double>(gSkew.size());
    state.counters["max_skew_ms"] = worst;
    state.counters["mean_skew_ms"] = mean;
    std::printf("A/V sync over 30 s: %zu pictures presented, %u decoded; picture time - audio position: "
                "max %.1f ms, mean %.1f ms (target 40 ms)\n",
                gSkew.size(), st[0], worst, mean);
  }
  std::remove(clip.c_str());
}
BENCHMARK(BM_AvSync30s)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
