// Opening a 60-minute movie (about 110 000 samples) and reading every sample in order, against two
// references run in the same process: plain fseek/fread of the same byte ranges, and
// `ffprobe -show_packets` over the same file.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gannet/gannet.h"

namespace {

std::string gPath;

struct Range {
  uint64_t offset;
  uint32_t size;
};

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// A 10-second clip encoded once, then repeated without re-encoding to an hour.
bool MakeMovie(const std::string& dir) {
  std::string clip = dir + "/gannet-bench-clip.mp4";
  gPath = dir + "/gannet-bench-60min.mp4";
  if (Exists(gPath)) return true;
  std::string q = "ffmpeg -hide_banner -loglevel error -y ";
  std::string make = q + "-f lavfi -i testsrc=size=64x48:rate=15 -f lavfi -i sine=sample_rate=16000 -t 10 " +
                     "-c:v mpeg4 -q:v 20 -g 30 -c:a aac -b:a 16k '" + clip + "'";
  std::string loop = q + "-stream_loop 359 -i '" + clip + "' -c copy '" + gPath + "'";
  return system(make.c_str()) == 0 && system(loop.c_str()) == 0;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Reads every sample of every track in order; returns the sample count.
uint64_t ReadAll(MovieFile* movie, std::vector<Range>* ranges) {
  TrackCounts counts{};
  if (gGetNumTraks(movie, &counts) != 0) return 0;
  uint64_t samples = 0;
  for (uint32_t id = 1; id <= counts.total; ++id) {
    TrakSession* s = nullptr;
    if (gOpenTrakSession(movie, &s, id) != 0) continue;
    uint32_t total = 0, maxSize = 0;
    gGetTotalSamplesInTrak(s, &total);
    gGetMaxSampleSize(s, &maxSize);
    std::vector<uint8_t> buf(maxSize);
    for (uint32_t n = 1; n <= total; ++n) {
      SampleRequest req{n, 0, 0, 0, buf.data()};
      if (gReadSample(s, &req) != 0) break;
      benchmark::DoNotOptimize(buf.data());
      ++samples;
    }
    if (ranges) {
      TrakSession* l = nullptr;
      gOpenTrakSession(movie, &l, id);
      for (uint32_t n = 1; n <= total; ++n) {
        Range r{};
        uint32_t dts, cts;
        gGetSampleLocation(l, n, &r.offset, &r.size, &dts, &cts);
        ranges->push_back(r);
      }
      gCloseTrakSession(l);
    }
    gCloseTrakSession(s);
  }
  return samples;
}

void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    MovieFile* movie = nullptr;
    if (gOpenMP4File(&movie, gPath.c_str(), nullptr) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    gCloseMP4File(movie);
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);

void BM_ReadEverySample(benchmark::State& state) {
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, gPath.c_str(), nullptr) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  uint64_t samples = 0;
  for (auto _ : state) samples += ReadAll(movie, nullptr);
  state.counters["ns/sample"] =
      benchmark::Counter(double(samples), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  gCloseMP4File(movie);
}
BENCHMARK(BM_ReadEverySample)->Unit(benchmark::kMillisecond);

// Random access walks the chunk and time tables from the start, so its cost grows with the
// sample's position; this measures the average over the whole video track.
void BM_RandomSampleTime(benchmark::State& state) {
  MovieFile* movie = nullptr;
  TrakSession* s = nullptr;
  if (gOpenMP4File(&movie, gPath.c_str(), nullptr) != 0 || gOpenTrakSession(movie, &s, 1) != 0) {
    state.SkipWithError("open failed");
    if (movie) gCloseMP4File(movie);
    return;
  }
  uint32_t total = 0;
  gGetTotalSamplesInTrak(s, &total);
  uint32_t n = 1;
  for (auto _ : state) {
    n = (n * 1103515245u + 12345u) % total + 1;
    uint32_t ms = 0;
    gGetTimeOfSampleNum(s, n, &ms);
    benchmark::DoNotOptimize(ms);
  }
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}
BENCHMARK(BM_RandomSampleTime)->Unit(benchmark::kMicrosecond);

void RunComparison() {
  using clock = std::chrono::steady_clock;
  constexpr int kRounds = 3;
  double open = 1e9, read = 1e9, plain = 1e9, probe = 1e9;
  uint64_t samples = 0;
  std::vector<Range> ranges;
  {
    MovieFile* movie = nullptr;
    if (gOpenMP4File(&movie, gPath.c_str(), nullptr) != 0) {
      fprintf(stderr, "gannet_bench: cannot open %s\n", gPath.c_str());
      return;
    }
    ReadAll(movie, &ranges);
    gCloseMP4File(movie);
  }
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = clock::now();
    MovieFile* movie = nullptr;
    if (gOpenMP4File(&movie, gPath.c_str(), nullptr) != 0) {
      fprintf(stderr, "gannet_bench: cannot open %s\n", gPath.c_str());
      return;
    }
    auto t1 = clock::now();
    samples = ReadAll(movie, nullptr);
    auto t2 = clock::now();
    gCloseMP4File(movie);
    open = std::min(open, Seconds(t0, t1));
    read = std::min(read, Seconds(t1, t2));

    // Reference 1: the same byte ranges with plain stdio, offsets known in advance.
    auto t3 = clock::now();
    FILE* f = fopen(gPath.c_str(), "rb");
    std::vector<uint8_t> buf(1 << 20);
    for (const Range& r : ranges) {
      if (r.size > buf.size()) buf.resize(r.size);
      fseek(f, long(r.offset), SEEK_SET);
      benchmark::DoNotOptimize(fread(buf.data(), 1, r.size, f));
    }
    fclose(f);
    plain = std::min(plain, Seconds(t3, clock::now()));

    // Reference 2: ffprobe listing every packet of the same file.
    auto t4 = clock::now();
    std::string cmd = "ffprobe -v error -show_packets '" + gPath + "' >/dev/null";
    if (system(cmd.c_str()) != 0) probe = -1;
    if (probe >= 0) probe = std::min(probe, Seconds(t4, clock::now()));
  }
  printf("\nmovie: %s, %llu samples\n", gPath.c_str(), static_cast<unsigned long long>(samples));
  printf("gannet open:                 %8.2f ms\n", open * 1e3);
  printf("gannet read every sample:    %8.2f ms (%.0f ns/sample)\n", read * 1e3,
         read * 1e9 / double(samples));
  printf("plain fseek/fread reference: %8.2f ms (%.0f ns/sample)\n", plain * 1e3,
         plain * 1e9 / double(samples));
  printf("ratio read / plain stdio:    %8.2f\n", read / plain);
  if (probe > 0) {
    printf("ffprobe -show_packets:       %8.2f ms\n", probe * 1e3);
    printf("ratio (open + read) / ffprobe: %6.3f\n", (open + read) / probe);
  } else {
    printf("ffprobe -show_packets:       not available\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  if (system("command -v ffmpeg >/dev/null 2>&1") != 0 || !MakeMovie(dir)) {
    fprintf(stderr, "gannet_bench: ffmpeg is needed to make the 60-minute test movie\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  RunComparison();
  benchmark::Shutdown();
  return 0;
}
