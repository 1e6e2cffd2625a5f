// Decoding speed against ffmpeg on the same CIF and VGA clips, printed as ratios: frames per second
// of this decoder (SIMD and plain kernels) over ffmpeg's single-threaded decode with and without
// its SIMD (-cpuflags 0). Clips are made with ffmpeg at start-up. Build with optimisation
// (CMAKE_BUILD_TYPE=Release) for meaningful numbers.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder.h"
#include "dsp.h"

namespace {

struct ClipFile {
  std::string name;
  std::string path;
  std::vector<std::uint8_t> data;
  int frames = 0;
};

std::vector<ClipFile> gClips;
std::string gDir;

bool MakeClips() {
  char pattern[] = "/tmp/brindle-bench-XXXXXX";
  if (!mkdtemp(pattern)) return false;
  gDir = pattern;
  struct Spec {
    const char* name;
    const char* size;
  } specs[] = {{"cif", "352x288"}, {"vga", "640x480"}};
  for (const Spec& s : specs) {
    ClipFile c;
    c.name = s.name;
    c.path = gDir + "/" + s.name + ".m4v";
    std::string cmd = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=") + s.size +
                      ":rate=25 -frames:v 300 -c:v mpeg4 -q:v 4 -g 12 -flags:v +mv4+aic -threads 1 -f m4v " +
                      c.path;
    if (std::system(cmd.c_str()) != 0) return false;
    std::ifstream f(c.path, std::ios::binary);
    c.data.assign(std::istreambuf_iterator<char>(f), {});
    gClips.push_back(std::move(c));
  }
  return true;
}

// Decodes the whole clip once; returns the number of pictures.
int DecodeAll(const ClipFile& clip, const brindle::Dsp& dsp) {
  brindle::LayerInfo layer;
  std::size_t pos = 0;
  if (brindle::ParseLayerHeaders(clip.data.data(), clip.data.size(), layer, &pos) !=
      brindle::ParseResult::kOk)
    return 0;
  brindle::Decoder decoder;
  decoder.SetDsp(dsp);
  if (decoder.Configure(layer) != 0) return 0;
  int frames = 0;
  while (pos < clip.data.size()) {
    std::size_t used = 0;
    int r = decoder.Decode(clip.data.data() + pos, clip.data.size() - pos, &used);
    if (used == 0) break;
    pos += used;
    if (r == 0) ++frames;
  }
  return frames;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Processor time, not wall time, on both sides: the machine may be shared.
double SecondsOfBrindle(const ClipFile& clip, const brindle::Dsp& dsp, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    double t0 = CpuSeconds();
    DecodeAll(clip, dsp);
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

// ffmpeg's own measure of its processor time (-benchmark prints "utime=...s"), best of runs.
double SecondsOfFfmpeg(const ClipFile& clip, bool simd, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    std::string cmd = std::string("ffmpeg -nostats -benchmark ") + (simd ? "" : "-cpuflags 0 ") +
                      "-threads 1 -i " + clip.path + " -f null - 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return 0;
    char line[512];
    double rtime = 0;
    while (std::fgets(line, sizeof line, p)) {
      const char* user = std::strstr(line, "utime=");
      const char* system = std::strstr(line, "stime=");
      if (user && system) rtime = std::atof(user + 6) + std::atof(system + 6);
    }
    pclose(p);
    if (rtime > 0) best = std::min(best, rtime);
  }
  return best;
}

void BM_Decode(benchmark::State& state) {
  const ClipFile& clip = gClips[static_cast<std::size_t>(state.range(0))];
  const brindle::Dsp& dsp = state.range(1) ? brindle::BestDsp() : brindle::PlainDsp();
  int frames = 0;
  for (auto _ : state) frames += DecodeAll(clip, dsp);
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.SetLabel(clip.name + (state.range(1) ? " simd" : " plain"));
}

}  // namespace

int main(int argc, char** argv) {
  if (!MakeClips()) {
    std::fprintf(stderr, "brindle_bench: ffmpeg is needed to make the clips\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  for (int clip = 0; clip < static_cast<int>(gClips.size()); ++clip)
    for (int simd = 1; simd >= 0; --simd)
      benchmark::RegisterBenchmark("BM_Decode", BM_Decode)->Args({clip, simd})->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();

  std::printf(
      "\nframes per processor second (300 frames, best of 3; ffmpeg's figure includes its start-up)\n"
      "ratio = brindle fps / ffmpeg fps\n");
  std::printf("%-5s %12s %12s %12s %12s %14s %14s %16s\n", "clip", "brindle", "plain C++", "ffmpeg",
              "ffmpeg -c0", "vs ffmpeg", "vs ffmpeg -c0", "plain vs -c0");
  for (const ClipFile& c : gClips) {
    int frames = DecodeAll(c, brindle::BestDsp());
    double ours = frames / SecondsOfBrindle(c, brindle::BestDsp(), 3);
    double plain = frames / SecondsOfBrindle(c, brindle::PlainDsp(), 3);
    double ff = frames / SecondsOfFfmpeg(c, true, 3);
    double ff0 = frames / SecondsOfFfmpeg(c, false, 3);
    std::printf("%-5s %12.1f %12.1f %12.1f %12.1f %13.2fx %13.2fx %15.2fx\n", c.name.c_str(), ours, plain, ff,
                ff0, ours / ff, ours / ff0, plain / ff0);
  }
  benchmark::Shutdown();
  (void)!std::system(("rm -rf '" + gDir + "'").c_str());
  return 0;
}
