// Plover against libswscale, run in this process over the same raw frames, on CPU time:
//   up     176 x 144 -> 352 x 288, then RGB565 (ours: gScaleFrame + gYUV420toRGB16Rotate, as the
//          player does; swscale: one sws_scale, SWS_BILINEAR, rgb565le);
//   down   352 x 288 -> 176 x 144, then RGB565 (same calls);
//   rot90  176 x 144 to RGB565 turned a quarter clockwise into a 144 x 176 buffer. swscale cannot
//          turn a picture, so its side is sws_scale at the same size into RGB565 followed by a
//          plain transpose loop of its output into the turned buffer.
//   same   176 x 144 to RGB565 unscaled and unturned (swscale's own unscaled converter).
// Each case runs every implementation in turn, five rounds interleaved so that load from other
// work on the machine falls on all of them alike; the report gives medians and ratios, and the
// last line is the one-line summary for scripts/bench.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "../../plover/src/kernels.h"
#include "plover/plover.h"

#if defined(PLOVER_BENCH_SWSCALE)
extern "C" {
#include <libswscale/swscale.h>
}
#endif

namespace {

constexpr int kRounds = 5;
constexpr int kPool = 8;  // distinct source frames, cycled

double ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A pool of random 4:2:0 frames of one size, planes back to back.
struct Frames {
  int w, h;
  std::vector<std::uint8_t> bytes;
  Frames(int width, int height, unsigned seed) : w(width), h(height), bytes(Size() * kPool) {
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() >> 24);
  }
  std::size_t Size() const { return static_cast<std::size_t>(w) * h * 3 / 2; }
  PlanarFrame At(int i) {
    std::uint8_t* base = bytes.data() + Size() * static_cast<std::size_t>(i % kPool);
    return {base, base + w * h, base + w * h * 5 / 4, static_cast<std::uint16_t>(w),
            static_cast<std::uint16_t>(h)};
  }
};

struct Case {
  const char* name;
  int sw, sh, dw, dh;  // dw x dh: the scaled picture (the source size when not scaled)
  bool rotate;
  int frames;
};

// Ours: scale when the sizes differ, then convert (turned for rot90) into the output buffer.
double RunOurs(const Case& c, Frames& in, plover::KernelSet set) {
  const plover::KernelSet previous = plover::SetKernelSet(set);
  std::vector<std::uint8_t> scaled(static_cast<std::size_t>(c.dw) * c.dh * 3 / 2);
  PlanarFrame dst{scaled.data(), scaled.data() + c.dw * c.dh, scaled.data() + c.dw * c.dh * 5 / 4,
                  static_cast<std::uint16_t>(c.dw), static_cast<std::uint16_t>(c.dh)};
  std::vector<std::uint16_t> rgb(static_cast<std::size_t>(c.dw) * c.dh);
  const bool scale = c.sw != c.dw || c.sh != c.dh;
  const int pitch = c.rotate ? c.dh : c.dw, height = c.rotate ? c.dw : c.dh;
  const double t0 = ProcessCpu();
  for (int i = 0; i < c.frames; ++i) {
    PlanarFrame src = in.At(i);
    if (scale) gScaleFrame(&src, &dst);
    gYUV420toRGB16Rotate(scale ? &dst : &src, rgb.data(), pitch, height, 0, 0, 0, 0, c.dw, c.dh,
                         c.rotate ? 1 : 0);
    benchmark::DoNotOptimize(rgb.data());
    benchmark::ClobberMemory();
  }
  const double t = ProcessCpu() - t0;
  plover::SetKernelSet(previous);
  return t;
}

#if defined(PLOVER_BENCH_SWSCALE)
double RunSwscale(const Case& c, Frames& in) {
  SwsContext* ctx = sws_getContext(c.sw, c.sh, AV_PIX_FMT_YUV420P, c.dw, c.dh, AV_PIX_FMT_RGB565LE,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (ctx == nullptr) return -1;
  std::vector<std::uint16_t> rgb(static_cast<std::size_t>(c.dw) * c.dh);
  std::vector<std::uint16_t> turned(c.rotate ? rgb.size() : 0);
  const int srcStride[4] = {c.sw, c.sw / 2, c.sw / 2, 0};
  const int dstStride[4] = {c.dw * 2, 0, 0, 0};
  const double t0 = ProcessCpu();
  for (int i = 0; i < c.frames; ++i) {
    PlanarFrame src = in.At(i);
    const std::uint8_t* const planes[4] = {src.y, src.u, src.v, nullptr};
    std::uint8_t* const out[4] = {reinterpret_cast<std::uint8_t*>(rgb.data()), nullptr, nullptr, nullptr};
    sws_scale(ctx, planes, srcStride, 0, c.sh, out, dstStride);
    if (c.rotate) {
      // (x, y) of the dw x dh picture goes to (dh - 1 - y, x) of the dh-pitch buffer.
      for (int y = 0; y < c.dh; ++y)
        for (int x = 0; x < c.dw; ++x)
          turned[static_cast<std::size_t>(x) * c.dh + (c.dh - 1 - y)] =
              rgb[static_cast<std::size_t>(y) * c.dw + x];
      benchmark::DoNotOptimize(turned.data());
    }
    benchmark::DoNotOptimize(rgb.data());
    benchmark::ClobberMemory();
  }
  const double t = ProcessCpu() - t0;
  sws_freeContext(ctx);
  return t;
}
#endif

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

const char* Name(plover::KernelSet s) {
  switch (s) {
    case plover::KernelSet::kPlain:
      return "plain";
    case plover::KernelSet::kSse2:
      return "sse2";
    case plover::KernelSet::kAvx2:
      return "avx2";
  }
  return "?";
}

}  // namespace

int main() {
  const Case cases[] = {{"up", 176, 144, 352, 288, false, 600},
                        {"down", 352, 288, 176, 144, false, 600},
                        {"rot90", 176, 144, 176, 144, true, 2400},
                        {"same", 176, 144, 176, 144, false, 2400}};
  const plover::KernelSet best = plover::BestKernelSet();
  std::vector<plover::KernelSet> sets = {plover::KernelSet::kPlain};
  if (best >= plover::KernelSet::kSse2) sets.push_back(plover::KernelSet::kSse2);
  if (best >= plover::KernelSet::kAvx2) sets.push_back(plover::KernelSet::kAvx2);

  std::string summary = std::string("summary: plover (") + Name(best) + ")";
  bool first = true;
  for (const Case& c : cases) {
    Frames in(c.sw, c.sh, 1);
    // Index 0 is swscale; then one per kernel set.
    std::vector<std::vector<double>> times(sets.size() + 1);
    bool haveReference = true;
    for (int round = -1; round < kRounds; ++round) {  // round -1 warms caches and tables up
#if defined(PLOVER_BENCH_SWSCALE)
      const double ref = RunSwscale(c, in);
      if (ref < 0) haveReference = false;
      if (round >= 0) times[0].push_back(ref);
#else
      haveReference = false;
      if (round >= 0) times[0].push_back(0);
#endif
      for (std::size_t s = 0; s < sets.size(); ++s) {
        const double t = RunOurs(c, in, sets[s]);
        if (round >= 0) times[s + 1].push_back(t);
      }
    }
    const double ref = Median(times[0]);
    std::printf("%-5s %d frames %dx%d -> %dx%d%s, CPU ms (median of %d):", c.name, c.frames, c.sw, c.sh,
                c.rotate ? c.dh : c.dw, c.rotate ? c.dw : c.dh, c.rotate ? " turned 90" : "", kRounds);
    if (haveReference) std::printf(" swscale %.1f", ref * 1000);
    double bestRatio = 0;
    for (std::size_t s = 0; s < sets.size(); ++s) {
      const double t = Median(times[s + 1]);
      std::printf(", %s %.1f", Name(sets[s]), t * 1000);
      if (haveReference) std::printf(" (%.2fx)", t / ref);
      if (sets[s] == best) bestRatio = t / ref;
    }
    std::printf("\n");
    summary += first ? " " : ", ";
    first = false;
    if (haveReference) {
      char text[64];
      std::snprintf(text, sizeof text, "%s %.2fx", c.name, bestRatio);
      summary += text;
    } else {
      summary += std::string(c.name) + " ?";
    }
  }
  summary += " swscale (target 0.8)";
#if !defined(PLOVER_BENCH_SWSCALE)
  summary += "; built without libswscale (scripts/install-deps installs it)";
#endif
  std::printf("%s\n", summary.c_str());
  return 0;
}
