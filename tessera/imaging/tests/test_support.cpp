#include "test_support.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "imaging/image.h"
#include "platform/text.h"

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*))
    __attribute__((weak));

namespace imaging_test {

namespace {

std::atomic<bool> gMetering{false};
std::atomic<std::size_t> gAllocated{0};
std::atomic<std::size_t> gLargest{0};

void OnAllocate(const volatile void*, std::size_t size) {
  if (!gMetering.load(std::memory_order_relaxed)) return;
  gAllocated.fetch_add(size, std::memory_order_relaxed);
  std::size_t seen = gLargest.load(std::memory_order_relaxed);
  while (size > seen && !gLargest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}

void OnFree(const volatile void*) {}

// The sanitizer accepts only a few hook installations per process: install once.
bool InstallHooks() {
  static const bool installed =
      __sanitizer_install_malloc_and_free_hooks != nullptr &&
      __sanitizer_install_malloc_and_free_hooks(OnAllocate, OnFree) != 0;
  return installed;
}

}  // namespace

AllocationMeter::AllocationMeter() {
  InstallHooks();
  gAllocated = 0;
  gLargest = 0;
  gMetering = true;
}

AllocationMeter::~AllocationMeter() { gMetering = false; }

bool AllocationMeter::available() { return InstallHooks(); }
std::size_t AllocationMeter::total() const { return gAllocated.load(); }
std::size_t AllocationMeter::largest() const { return gLargest.load(); }

bool HaveTool(const char* name) {
  return Shell(std::string("command -v ") + name + " >/dev/null 2>&1");
}

bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

std::u16string Wide(const std::string& path) {
  return platform::Utf8ToUtf16(path);
}

bool Reference(const std::string& input, Rgb* out, const std::string& extra) {
  char name[] = "/tmp/imaging_refXXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  close(fd);
  const std::string raw = std::string(name);
  const std::string cmd = "convert '" + input + "' " + extra +
                          " -depth 8 -format '%w %h' -write info:" + raw + ".txt rgb:" + raw + " 2>/dev/null";
  bool ok = Shell(cmd);
  if (ok) {
    std::ifstream info(raw + ".txt");
    ok = static_cast<bool>(info >> out->width >> out->height);
    out->pixels = ReadFile(raw);
    ok = ok && out->pixels.size() >= static_cast<std::size_t>(out->width) * out->height * 3;
  }
  std::remove(raw.c_str());
  std::remove((raw + ".txt").c_str());
  return ok;
}

int CountMismatches(const imaging::PackedDib& dib, const Rgb& ref, int tolerance, std::string* first) {
  if (dib.width() != ref.width || dib.height() != ref.height || dib.bits() != 24) {
    if (first) {
      std::ostringstream s;
      s << "size " << dib.width() << "x" << dib.height() << "x" << dib.bits() << " vs " << ref.width << "x"
        << ref.height;
      *first = s.str();
    }
    return -1;
  }
  int bad = 0;
  for (int y = 0; y < ref.height; ++y) {
    for (int x = 0; x < ref.width; ++x) {
      const std::uint8_t* p = Pixel(dib, x, y);
      const std::uint8_t* q = ref.pixels.data() + (static_cast<std::size_t>(y) * ref.width + x) * 3;
      if (std::abs(p[2] - q[0]) > tolerance || std::abs(p[1] - q[1]) > tolerance ||
          std::abs(p[0] - q[2]) > tolerance) {
        if (bad++ == 0 && first) {
          std::ostringstream s;
          s << "at " << x << "," << y << " got rgb(" << int(p[2]) << "," << int(p[1]) << "," << int(p[0])
            << ") want rgb(" << int(q[0]) << "," << int(q[1]) << "," << int(q[2]) << ")";
          *first = s.str();
        }
      }
    }
  }
  return bad;
}

std::unique_ptr<imaging::PackedDib> LoadFull(const std::string& path, std::uint32_t type) {
  imaging::Box box{0xFFFF, 0xFFFF};
  return imaging::LoadImageFitted(Wide(path), &box, type);
}

}  // namespace imaging_test
