// Decode speed of Osprey in multiples of real time, against faad and
// ffmpeg -threads 1 on the same 60 s 44.1 kHz stereo stream, printed as ratios.
//
//   osprey_bench [--seconds N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "osprey/adts.h"
#include "osprey/osprey.h"

namespace {

struct Stream {
  uint8_t asc[2] = {};
  std::vector<std::vector<uint8_t>> blocks;
  uint32_t rate = 44100;
};

Stream g_stream;
std::string g_path;

bool Run(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

bool Load(const std::string& path, Stream& s) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  size_t pos = 0;
  while (pos < data.size()) {
    osprey::AdtsFrame frame;
    if (!osprey::ParseAdtsHeader(data.data() + pos, data.size() - pos, frame)) return false;
    if (s.blocks.empty()) osprey::AdtsToAudioSpecificConfig(frame, s.asc);
    s.blocks.emplace_back(data.begin() + static_cast<long>(pos + frame.headerSize),
                          data.begin() + static_cast<long>(pos + frame.frameSize));
    pos += frame.frameSize;
  }
  return !s.blocks.empty();
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double ChildrenCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// CPU seconds to decode the whole stream once. CPU time rather than wall time,
// so that other load on the machine does not distort the ratios.
double DecodeOnce() {
  AacConfig config{};
  AudioDecoder* d = nullptr;
  if (gCreateAACDecoder(&d, &config, g_stream.asc, 2) != 0) return -1;
  std::vector<int16_t> pcm(2048);
  const double start = ProcessCpuSeconds();
  for (const auto& block : g_stream.blocks) {
    uint32_t length = static_cast<uint32_t>(block.size());
    uint32_t size = 4096;
    d->decode(d, block.data(), &length, pcm.data(), &size);
    benchmark::DoNotOptimize(pcm.data());
  }
  const double t = ProcessCpuSeconds() - start;
  d->destroy(d);
  return t;
}

void BM_OspreyDecode(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(DecodeOnce());
  const double audio = g_stream.blocks.size() * 1024.0 / g_stream.rate;
  state.counters["xRealTime"] =
      benchmark::Counter(audio * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OspreyDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Best of three runs of a command, in CPU seconds of the child processes.
double TimeCommand(const std::string& cmd) {
  double best = -1;
  for (int i = 0; i < 3; ++i) {
    const double start = ChildrenCpuSeconds();
    if (!Run(cmd)) return -1;
    const double t = ChildrenCpuSeconds() - start;
    if (best < 0 || t < best) best = t;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
  char dir[] = "/tmp/osprey-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  g_path = std::string(dir) + "/music.aac";
  const std::string gen =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"aevalsrc="
      "0.3*sin(2*PI*220*t)*(1+0.5*sin(2*PI*2*t))+0.15*sin(2*PI*1760*t+2*sin(2*PI*3*t))+0.05*random(0)|"
      "0.3*sin(2*PI*330*t)*(1+0.5*sin(2*PI*3*t))+0.1*sin(2*PI*2640*t)+0.05*random(1):s=44100:d=" +
      std::to_string(seconds) + "\" -c:a aac -b:a 128k -f adts " + g_path;
  if (!Run(gen) || !Load(g_path, g_stream)) {
    std::fprintf(stderr, "osprey_bench: cannot make the test stream (is ffmpeg installed?)\n");
    return 1;
  }
  std::vector<char*> args(argv, argv + argc);
  int count = argc;
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();

  const double audio = g_stream.blocks.size() * 1024.0 / g_stream.rate;
  double ours = -1;
  for (int i = 0; i < 3; ++i) {
    const double t = DecodeOnce();
    if (ours < 0 || t < ours) ours = t;
  }
  const double faad = TimeCommand("faad -q -b 1 -f 2 -o /dev/null " + g_path + " >/dev/null 2>&1");
  const double ffmpeg = TimeCommand("ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i " + g_path +
                                    " -f s16le -y /dev/null");
  std::printf("\n%.1f s of 44.1 kHz stereo AAC LC at 128 kbit/s\n", audio);
  std::printf("osprey        %8.1f x real time\n", audio / ours);
  if (faad > 0)
    std::printf("faad          %8.1f x real time   osprey/faad   = %.2f\n", audio / faad, faad / ours);
  if (ffmpeg > 0)
    std::printf("ffmpeg -t 1   %8.1f x real time   osprey/ffmpeg = %.2f\n", audio / ffmpeg, ffmpeg / ours);
  std::printf("(CPU time; the tools' include process start-up and writing PCM to /dev/null)\n");
  Run(std::string("rm -rf ") + dir);
  return 0;
}
