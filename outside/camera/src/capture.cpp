#include "capture.h"

#include <opencore-amrnb/interf_enc.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace camera {

namespace {

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void AppendUtf8(std::string* out, std::uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

long long SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string NextFree(const std::string& folder, const char* stem, const char* ext) {
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  for (int i = 1; i < 10000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04d%s", stem, i, ext);
    if (!Exists(dir + name)) return dir + name;
  }
  return {};
}

// ffmpeg input options for the frames: the device, or the moving test pattern.
std::vector<std::string> Source(const std::string& size, int rate) {
  const std::string device = CaptureDevice();
  if (!device.empty()) return {"-f", "v4l2", "-video_size", size, "-i", device};
  return {"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + std::to_string(rate)};
}

std::vector<std::string> Ffmpeg() {
  return {"ffmpeg", "-nostdin", "-y", "-loglevel", "error"};
}

}  // namespace

bool ParseRequest(const void* data, std::size_t size, Request* out) {
  if (!data || size < kRequestSize) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  out->mode = Get32(p + 4);
  out->orientation = Get32(p + 12);
  out->maxBytes = Get32(p + 20);
  out->folder.clear();
  for (std::size_t i = 0; i < 260; ++i) {
    const std::uint32_t c = p[28 + 2 * i] | p[28 + 2 * i + 1] << 8;
    if (c == 0) break;
    AppendUtf8(&out->folder, c);
  }
  return !out->folder.empty();
}

std::string CaptureDevice() {
  const char* chosen = std::getenv("TESSERA_CAMERA_DEVICE");
  if (chosen && *chosen) return std::string(chosen) == "none" ? std::string() : std::string(chosen);
  return Exists("/dev/video0") ? "/dev/video0" : std::string();
}

std::string TakePhoto(const std::string& folder, bool landscape, std::uint32_t maxBytes) {
  const std::string path = NextFree(folder, "IMG", ".jpg");
  if (path.empty()) return {};
  // Smaller and coarser until the picture fits the limit.
  const char* sizes[] = {"640x480", "320x240", "160x120"};
  for (const char* size : sizes) {
    std::string wh = size;
    if (!landscape) wh = wh.substr(wh.find('x') + 1) + "x" + wh.substr(0, wh.find('x'));
    std::vector<std::string> args = Ffmpeg();
    for (auto& a : Source(wh, 1)) args.push_back(a);
    for (const char* a : {"-frames:v", "1", "-q:v", "4", "-f", "image2"}) args.push_back(a);
    args.push_back(path);
    if (!Run(args)) break;
    if (maxBytes == 0 || SizeOf(path) <= static_cast<long long>(maxBytes)) return path;
  }
  ::unlink(path.c_str());
  return {};
}

bool WriteToneAmr(const std::string& path, int milliseconds) {
  void* state = Encoder_Interface_init(0);
  if (!state) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    Encoder_Interface_exit(state);
    return false;
  }
  bool ok = std::fwrite("#!AMR\n", 1, 6, f) == 6;
  short pcm[160];
  unsigned char out[64];
  for (int frame = 0; ok && frame < milliseconds / 20; ++frame) {
    for (int i = 0; i < 160; ++i)
      pcm[i] = static_cast<short>(6000 * std::sin(2 * M_PI * 440 * (frame * 160 + i) / 8000.0));
    const int n = Encoder_Interface_Encode(state, MR122, pcm, out, 0);
    ok = n > 0 && std::fwrite(out, 1, static_cast<std::size_t>(n), f) == static_cast<std::size_t>(n);
  }
  Encoder_Interface_exit(state);
  return std::fclose(f) == 0 && ok;
}

std::string RecordClip(const std::string& folder, std::uint32_t maxBytes) {
  const std::string path = NextFree(folder, "VID", ".3gp");
  if (path.empty()) return {};
  const std::string video = path + ".h263", sound = path + ".amr";
  // Shorter and leaner until the clip fits the limit.
  const int seconds[] = {3, 2, 1};
  const char* rates[] = {"64k", "32k", "16k"};
  bool done = false;
  for (int i = 0; i < 3 && !done; ++i) {
    std::vector<std::string> args = Ffmpeg();
    for (auto& a : Source("176x144", 10)) args.push_back(a);
    for (const char* a : {"-t"}) args.push_back(a);
    args.push_back(std::to_string(seconds[i]));
    for (const char* a : {"-c:v", "h263", "-b:v"}) args.push_back(a);
    args.push_back(rates[i]);
    for (const char* a : {"-r", "10", "-f", "h263"}) args.push_back(a);
    args.push_back(video);
    if (!Run(args) || !WriteToneAmr(sound, seconds[i] * 1000)) break;
    std::vector<std::string> mux = Ffmpeg();
    for (const char* a : {"-r", "10", "-f", "h263", "-i"}) mux.push_back(a);
    mux.push_back(video);
    for (const char* a : {"-f", "amr", "-i"}) mux.push_back(a);
    mux.push_back(sound);
    for (const char* a : {"-c", "copy", "-f", "3gp"}) mux.push_back(a);
    mux.push_back(path);
    if (!Run(mux)) break;
    done = maxBytes == 0 || SizeOf(path) <= static_cast<long long>(maxBytes);
  }
  ::unlink(video.c_str());
  ::unlink(sound.c_str());
  if (!done) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

}  // namespace camera
