// Processor time of a 3GP clip (176 x 144, 15 pictures a second, MPEG-4 video and AAC sound)
// played by the player library onto the headless screen, against decoding the same video
// stream alone, in the same run. What playback costs beyond decoding (reading, scaling and
// presenting the pictures, the sound, the clocks and threads) is printed as a share of one
// core over the clip's length, against the 10% target.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "decoder.h"
#include "dsp.h"
#include "marlin/marlin.h"
#include "platform/window.h"
#include "platform_testing/device_root.h"

namespace {

constexpr int kClipSeconds = 10;

std::mutex gMutex;
std::condition_variable gCv;
int gEnded = 0;

void OnCompletion(void*, std::int32_t) {
  std::lock_guard lock(gMutex);
  ++gEnded;
  gCv.notify_all();
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The video stream alone, decoded picture by picture; the number of pictures.
int DecodeAll(const std::vector<std::uint8_t>& data) {
  brindle::LayerInfo layer;
  std::size_t pos = 0;
  if (brindle::ParseLayerHeaders(data.data(), data.size(), layer, &pos) != brindle::ParseResult::kOk) return 0;
  brindle::Decoder decoder;
  decoder.SetDsp(brindle::BestDsp());
  if (decoder.Configure(layer) != 0) return 0;
  int frames = 0;
  while (pos < data.size()) {
    std::size_t used = 0;
    const int r = decoder.Decode(data.data() + pos, data.size() - pos, &used);
    if (used == 0) break;
    pos += used;
    if (r == 0) ++frames;
  }
  return frames;
}

// Plays the clip to both completions (sound paced in real time); processor seconds spent.
double PlaybackSeconds(const std::string& clip, std::uint32_t* pictures) {
  std::uint32_t h = 0, v = 0, a = 0;
  if (MP_OpenMediaPlayer(clip.c_str(), 0, &h) != 0) return -1;
  RenderingWindow rw{};
  rw.spare = 1;
  rw.screenWidth = static_cast<std::uint16_t>(GetSystemMetrics(SM_CXSCREEN));
  rw.screenHeight = static_cast<std::uint16_t>(GetSystemMetrics(SM_CYSCREEN));
  rw.top = 22;
  rw.width = 176;
  rw.height = 144;
  if (MP_OpenAudioTrack(h, 0, &a) != 0 || MP_SetVideoRenderingWindow(h, &rw) != 0 ||
      MP_OpenVideoTrack(h, 0, &v) != 0) {
    MP_CloseMediaPlayer(0);
    return -1;
  }
  gEnded = 0;
  MP_SetCompletionCallback(h, OnCompletion, nullptr);
  const double t0 = CpuSeconds();
  MP_Play(h);
  {
    std::unique_lock lock(gMutex);
    gCv.wait_for(lock, std::chrono::seconds(kClipSeconds * 4), [] { return gEnded >= 2; });
  }
  const double spent = CpuSeconds() - t0;
  MP_GetStatistics(pictures, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  MP_CloseTrack(a);
  MP_CloseTrack(v);
  MP_CloseMediaPlayer(0);
  return gEnded >= 2 ? spent : -1;
}

void BM_PlaybackBeyondDecoding(benchmark::State& state) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  char pattern[] = "/tmp/playback-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string dir = pattern, clip = dir + "/clip.3gp", stream = dir + "/clip.m4v";
  const std::string make = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=15 "
                           "-f lavfi -i sine=frequency=440:sample_rate=16000 -t " + std::to_string(kClipSeconds) +
                           " -c:v mpeg4 -g 15 -c:a aac -b:a 32k -ac 1 '" + clip + "' && ffmpeg -hide_banner "
                           "-loglevel error -y -i '" + clip + "' -map 0:v -c copy -bsf:v dump_extra -f m4v '" + stream + "'";
  if (std::system(make.c_str()) != 0) {
    state.SkipWithError("ffmpeg not available");
    return;
  }
  std::ifstream in(stream, std::ios::binary);
  const std::vector<std::uint8_t> data(std::istreambuf_iterator<char>(in), {});
  for (auto _ : state) {
    const double d0 = CpuSeconds();
    const int decoded = DecodeAll(data);
    const double decode = CpuSeconds() - d0;
    std::uint32_t pictures = 0;
    const double playback = PlaybackSeconds(clip, &pictures);
    if (decoded == 0) {
      state.SkipWithError("the video stream did not decode");
      break;
    }
    if (playback < 0) {
      state.SkipWithError("the clip did not play to its end");
      break;
    }
    const double beyond = (playback - decode) / kClipSeconds * 100.0;
    state.counters["decode_cpu_ms"] = decode * 1000.0;
    state.counters["playback_cpu_ms"] = playback * 1000.0;
    state.counters["beyond_decoding_pct"] = beyond;
    std::printf("3GP 176x144, %d s: decoding alone %.1f ms CPU (%d pictures), playback %.1f ms CPU (%u pictures "
                "decoded); beyond decoding %.2f%% of one core (target 10%%)\n",
                kClipSeconds, decode * 1000.0, decoded, playback * 1000.0, pictures, beyond);
  }
  std::remove(clip.c_str());
  std::remove(stream.c_str());
  rmdir(dir.c_str());
}
BENCHMARK(BM_PlaybackBeyondDecoding)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
