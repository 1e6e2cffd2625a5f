// Scaling 176 x 144 pictures to 352 x 288 and converting them to RGB565, against ffmpeg's
// swscale doing the same (bilinear, rgb565le) over the same raw frames, run in the same process.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "../../plover/src/kernels.h"
#include "plover/plover.h"

namespace {

constexpr int kSw = 176, kSh = 144, kDw = 352, kDh = 288, kFrames = 600;

std::vector<std::uint8_t>& Frames() {
  static std::vector<std::uint8_t> frames = [] {
    std::vector<std::uint8_t> f(static_cast<size_t>(kSw) * kSh * 3 / 2 * kFrames);
    std::mt19937 rng(1);
    for (auto& b : f) b = static_cast<std::uint8_t>(rng() >> 24);
    return f;
  }();
  return frames;
}

// CPU seconds, so that other work on a shared machine does not count: this process's own, and
// that of finished children.
double ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
double ChildrenCpu() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double RunOurs(bool simd) {
  plover::SetSimdEnabled(simd);
  std::vector<std::uint8_t> scaled(static_cast<size_t>(kDw) * kDh * 3 / 2);
  std::vector<std::uint16_t> rgb(static_cast<size_t>(kDw) * kDh);
  PlanarFrame dst{scaled.data(), scaled.data() + kDw * kDh, scaled.data() + kDw * kDh * 5 / 4, kDw, kDh};
  const double t0 = ProcessCpu();
  for (int i = 0; i < kFrames; ++i) {
    std::uint8_t* base = Frames().data() + static_cast<size_t>(i) * kSw * kSh * 3 / 2;
    PlanarFrame src{base, base + kSw * kSh, base + kSw * kSh * 5 / 4, kSw, kSh};
    gScaleFrame(&src, &dst);
    gYUV420toRGB16Rotate(&dst, rgb.data(), kDw, kDh, 0, 0, 0, 0, kDw, kDh, 0);
    benchmark::DoNotOptimize(rgb.data());
  }
  return ProcessCpu() - t0;
}

// ffmpeg's CPU time for the frames, less its time for a single frame (start-up and probing).
double RunFfmpeg() {
  const std::string raw = "/tmp/plover-bench-frames.yuv";
  FILE* f = std::fopen(raw.c_str(), "wb");
  if (!f) return -1;
  std::fwrite(Frames().data(), 1, Frames().size(), f);
  std::fclose(f);
  auto run = [&](int frames) {
    std::string cmd = "ffmpeg -hide_banner -loglevel error -f rawvideo -pix_fmt yuv420p -s 176x144 -i " + raw +
                      " -frames:v " + std::to_string(frames) +
                      " -vf scale=352:288:flags=bilinear -pix_fmt rgb565le -f null - 2>/dev/null";
    const double t0 = ChildrenCpu();
    int rc = std::system(cmd.c_str());
    double s = ChildrenCpu() - t0;
    return rc == 0 ? s : -1.0;
  };
  double one = run(1), all = run(kFrames);
  std::remove(raw.c_str());
  if (one < 0 || all < 0) return -1;
  return all - one;
}

void BM_ScaleAndConvert(benchmark::State& state) {
  const bool simd = state.range(0) != 0;
  for (auto _ : state) benchmark::DoNotOptimize(RunOurs(simd));
  state.SetItemsProcessed(state.iterations() * kFrames);
  plover::SetSimdEnabled(true);
}
BENCHMARK(BM_ScaleAndConvert)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RatioAgainstSwscale(benchmark::State& state) {
  double ffmpeg = RunFfmpeg();
  double plain = 0, simd = 0;
  for (auto _ : state) {
    plain = RunOurs(false);
    simd = RunOurs(true);
  }
  plover::SetSimdEnabled(true);
  if (ffmpeg <= 0) {
    state.SkipWithError("ffmpeg not available");
    return;
  }
  state.counters["swscale_ms"] = ffmpeg * 1000;
  state.counters["plain_ms"] = plain * 1000;
  state.counters["simd_ms"] = simd * 1000;
  state.counters["swscale/simd"] = ffmpeg / simd;
  state.counters["swscale/plain"] = ffmpeg / plain;
  std::printf("%d frames 176x144 -> 352x288 RGB565, CPU time: swscale %.1f ms, plain %.1f ms, simd %.1f ms; "
              "swscale/simd %.2f\n",
              kFrames, ffmpeg * 1000, plain * 1000, simd * 1000, ffmpeg / simd);
}
BENCHMARK(BM_RatioAgainstSwscale)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
