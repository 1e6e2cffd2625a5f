// Decode speed of Osprey against faad and ffmpeg's floating-point AAC decoder
// (-threads 1) on a 10-minute 44.1 kHz stereo 128 kbit/s stream.
//
// All three decode the same file to /dev/null as separate processes (osprey-decode
// for Osprey) and are timed by the CPU time (user + system) of the whole process,
// taken from wait4(). The runs are interleaved, osprey, faad, ffmpeg, five rounds,
// so that load on the machine falls on all three alike; medians are compared.
// The in-process decode time of the library alone is printed as well.
//
//   osprey_bench [--seconds N] [--rounds N] [benchmark flags]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "osprey/adts.h"
#include "osprey/osprey.h"

extern char** environ;

namespace {

struct Stream {
  uint8_t asc[2] = {};
  std::vector<std::vector<uint8_t>> blocks;
  uint32_t rate = 44100;
};

Stream g_stream;

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

// Runs argv[0] (looked up in PATH) with stdin, stdout and stderr on /dev/null and
// returns its CPU seconds (user + system), or -1 when it cannot run or fails.
double RunTimed(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&files, fd, "/dev/null", O_RDWR, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) return -1;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds of the library alone decoding the whole stream once.
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
  const double audio = static_cast<double>(g_stream.blocks.size()) * 1024.0 / g_stream.rate;
  state.counters["xRealTime"] =
      benchmark::Counter(audio * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OspreyDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The directory holding this executable: the build tree, where the stream is kept.
std::string OwnDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  const size_t slash = dir.rfind('/');
  return slash == std::string::npos ? "." : dir.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Makes the test stream once per build tree and length; later runs reuse it.
bool MakeStream(const std::string& path, int seconds) {
  if (Exists(path)) return true;
  const std::string tmp = path + ".part";
  const std::string graph =
      "aevalsrc=0.3*sin(2*PI*220*t)*(1+0.5*sin(2*PI*2*t))+0.15*sin(2*PI*1760*t+2*sin(2*PI*3*t))+0.05*random("
      "0)|"
      "0.3*sin(2*PI*330*t)*(1+0.5*sin(2*PI*3*t))+0.1*sin(2*PI*2640*t)+0.05*random(1):s=44100:d=" +
      std::to_string(seconds);
  if (RunTimed({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", graph,
                "-c:a", "aac", "-b:a", "128k", "-f", "adts", tmp}) < 0)
    return false;
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 600;
  int rounds = 5;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::string path = OwnDirectory() + "/osprey-bench-" + std::to_string(seconds) + "s.aac";
  if (!MakeStream(path, seconds) || !Load(path, g_stream)) {
    std::fprintf(stderr, "osprey_bench: cannot make the test stream %s (is ffmpeg installed?)\n",
                 path.c_str());
    return 1;
  }
  std::vector<char*> args(argv, argv + argc);
  int count = argc;
  benchmark::Initialize(&count, args.data());
  benchmark::RunSpecifiedBenchmarks();

  const std::vector<std::string> osprey = {OSPREY_DECODE_TOOL, path, "/dev/null"};
  const std::vector<std::string> faad = {"faad", "-q", "-b", "1", "-f", "2", "-o", "/dev/null", path};
  const std::vector<std::string> ffmpeg = {"ffmpeg",   "-nostdin", "-hide_banner", "-loglevel", "error",
                                           "-threads", "1",        "-c:a",         "aac",       "-i",
                                           path,       "-f",       "s16le",        "-y",        "/dev/null"};
  std::vector<double> ours, faadTimes, ffmpegTimes;
  bool haveFaad = true, haveFfmpeg = true;
  for (int r = 0; r < rounds; ++r) {
    const double o = RunTimed(osprey);
    if (o < 0) {
      std::fprintf(stderr, "osprey_bench: %s failed\n", OSPREY_DECODE_TOOL);
      return 1;
    }
    ours.push_back(o);
    if (haveFaad) {
      const double t = RunTimed(faad);
      if (t < 0) haveFaad = false;
      faadTimes.push_back(t);
    }
    if (haveFfmpeg) {
      const double t = RunTimed(ffmpeg);
      if (t < 0) haveFfmpeg = false;
      ffmpegTimes.push_back(t);
    }
  }
  const double audio = static_cast<double>(g_stream.blocks.size()) * 1024.0 / g_stream.rate;
  const double o = Median(ours);
  std::printf(
      "\n%.1f s of 44.1 kHz stereo AAC LC at 128 kbit/s; CPU time of the whole process, median of %d "
      "interleaved runs\n",
      audio, rounds);
  std::printf("osprey-decode      %7.3f s  %7.1f x real time\n", o, audio / o);
  std::string summary = "summary: osprey ";
  char part[128];
  if (haveFaad) {
    const double f = Median(faadTimes);
    std::printf("faad               %7.3f s  %7.1f x real time   osprey/faad   = %.2f\n", f, audio / f,
                o / f);
    std::snprintf(part, sizeof part, "%.2fx faad (target 0.75)", o / f);
    summary += part;
  } else {
    summary += "(faad not available)";
  }
  if (haveFfmpeg) {
    const double f = Median(ffmpegTimes);
    std::printf("ffmpeg aac -t 1    %7.3f s  %7.1f x real time   osprey/ffmpeg = %.2f\n", f, audio / f,
                o / f);
    std::snprintf(part, sizeof part, ", %.2fx ffmpeg float (goal 1.0)", o / f);
    summary += part;
  } else {
    summary += ", (ffmpeg not available)";
  }
  std::printf("%s\n", summary.c_str());
  return 0;
}
