// Still-image benchmarks. Each group has a reference run in the same process and the
// summary prints our CPU time as a ratio of it (CPU time, because the machines these run on
// are shared):
//  - GIF: decoding every frame of a 640 x 480 animation, against the system giflib's
//    DGifSlurp (loaded at run time; skipped when absent);
//  - BMP and WBMP: fitted loads against copying the same pixels out of a file in memory;
//  - JPEG: a 2560 x 1920 picture fitted into 176 x 144 (scaled decoding) against a
//    full-size decode of the same file.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "imaging/bmp.h"
#include "imaging/gif.h"
#include "imaging/image.h"
#include "imaging/jpeg.h"
#include "platform/text.h"

namespace {

std::string gDir;
std::vector<std::uint8_t> gGif;

std::string PathOf(const char* name) {
  return gDir + "/" + name;
}
std::u16string WideOf(const char* name) {
  return platform::Utf8ToUtf16(PathOf(name));
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::vector<std::uint8_t> data;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
  }
  return data;
}

// A picture with smooth areas and detail, like a photo reduced to a palette.
void Paint(imaging::PackedDib* dib, int frame) {
  const int w = dib->width(), h = dib->height();
  std::uint32_t seed = 12345u + static_cast<std::uint32_t>(frame);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = dib->TopRow(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int v = ((x + frame * 8) / 16 + (y / 12)) * 9 + ((seed >> 28) & 3);
      if (dib->bits() == 8) {
        row[x] = static_cast<std::uint8_t>(v);
      } else {
        row[3 * x] = static_cast<std::uint8_t>(v);
        row[3 * x + 1] = static_cast<std::uint8_t>(x * 255 / w);
        row[3 * x + 2] = static_cast<std::uint8_t>(y * 255 / h);
      }
    }
  }
}

bool Prepare() {
  char tmpl[] = "/tmp/imaging_benchXXXXXX";
  if (!mkdtemp(tmpl)) return false;
  gDir = tmpl;
  // 640 x 480, eight full frames sharing one 256-colour table.
  {
    auto out = mms::ByteStream::OpenFileUtf8(PathOf("anim.gif").c_str(), mms::ByteStream::kWrite);
    std::unique_ptr<imaging::GifEncoder> enc;
    if (!out || imaging::GifEncoder::Create(out.get(), 8, &enc) != imaging::kGifOk) return false;
    imaging::RGBQUAD table[256];
    for (int i = 0; i < 256; ++i) table[i] = imaging::RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 3), 0};
    enc->SetScreen(640, 480, 8, 8, false, 0);
    enc->WriteColorTable(table, 256, 8);
    enc->LoopExtension(0);
    auto dib = imaging::PackedDib::Create(640, 480, 8);
    for (int f = 0; f < 8; ++f) {
      Paint(dib.get(), f);
      imaging::GifFrame fr;
      fr.width = 640;
      fr.height = 480;
      fr.delay = 10;
      enc->SetFrame(fr, 0);
      enc->WriteFrame(dib->TopRow(0), -dib->stride(), 640, 480, 8);
    }
    if (enc->Close() != imaging::kGifOk) return false;
  }
  gGif = ReadAll(PathOf("anim.gif"));
  auto rgb = imaging::PackedDib::Create(640, 480, 24);
  Paint(rgb.get(), 0);
  auto grey = imaging::PackedDib::Create(640, 480, 8);
  Paint(grey.get(), 0);
  for (int i = 0; i < 256; ++i) grey->palette()[i] = imaging::RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  auto big = imaging::PackedDib::Create(2560, 1920, 24);
  Paint(big.get(), 3);
  return imaging::SaveImage(*rgb, WideOf("p24.bmp"), imaging::kTypeBmp) &&
         imaging::SaveImage(*grey, WideOf("p8.bmp"), imaging::kTypeBmp) &&
         imaging::SaveImage(*rgb, WideOf("p.wbmp"), imaging::kTypeWbmp) &&
         imaging::SaveImage(*big, WideOf("big.jpg"), imaging::kTypeJpeg);
}

// ---- GIF ----

void BM_GifDecodeAllFrames(benchmark::State& state) {
  std::vector<std::uint8_t> row(640);
  for (auto _ : state) {
    auto s = mms::ByteStream::OpenMemory(gGif.data(), static_cast<std::int64_t>(gGif.size()));
    std::unique_ptr<imaging::GifDecoder> d;
    imaging::GifDecoder::Open(s.get(), &d);
    for (int n = 0; d->SelectFrame(n) == imaging::kGifOk; ++n)
      for (int y = 0; y < d->frame().height; ++y) d->ReadRow(row.data(), nullptr);
    benchmark::DoNotOptimize(row.data());
  }
}

void BM_GifRenderAllFrames(benchmark::State& state) {
  for (auto _ : state) {
    auto s = mms::ByteStream::OpenMemory(gGif.data(), static_cast<std::int64_t>(gGif.size()));
    imaging::Box box{640, 480};
    auto p = imaging::GifPlayer::Open(s.get(), &box);
    bool end = false;
    int delay = 0;
    for (int n = 0; p->Render(n, &end, &delay); ++n) {
    }
  }
}

// giflib's entry points, resolved at run time so no development package is needed.
struct GifLib {
  void* handle = nullptr;
  using InputFunc = int (*)(void*, std::uint8_t*, int);
  void* (*open)(void*, InputFunc, int*) = nullptr;
  int (*slurp)(void*) = nullptr;
  int (*close)(void*, int*) = nullptr;
  bool Load() {
    handle = dlopen("libgif.so.7", RTLD_NOW);
    if (!handle) return false;
    open = reinterpret_cast<decltype(open)>(dlsym(handle, "DGifOpen"));
    slurp = reinterpret_cast<decltype(slurp)>(dlsym(handle, "DGifSlurp"));
    close = reinterpret_cast<decltype(close)>(dlsym(handle, "DGifCloseFile"));
    return open && slurp && close;
  }
} gGifLib;

// The input function reads from the animation in memory through a static cursor, so the
// file record's layout never has to be known here.
std::size_t gGifPos = 0;
int GifInput(void*, std::uint8_t* buf, int n) {
  const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), gGif.size() - gGifPos);
  std::memcpy(buf, gGif.data() + gGifPos, take);
  gGifPos += take;
  return static_cast<int>(take);
}

void BM_GifReferenceGiflib(benchmark::State& state) {
  if (!gGifLib.handle) {
    state.SkipWithError("libgif.so.7 not available");
    return;
  }
  for (auto _ : state) {
    gGifPos = 0;
    int err = 0;
    void* gif = gGifLib.open(nullptr, GifInput, &err);
    if (!gif || gGifLib.slurp(gif) != 1) {
      state.SkipWithError("giflib failed to decode");
      return;
    }
    gGifLib.close(gif, &err);
  }
}

// ---- BMP and WBMP ----

void LoadFitted(benchmark::State& state, const char* name, int w, int h) {
  for (auto _ : state) {
    imaging::Box box{w, h};
    auto dib = imaging::LoadImageFitted(WideOf(name), &box, imaging::kTypeByExtension);
    if (!dib) {
      state.SkipWithError("load failed");
      return;
    }
    benchmark::DoNotOptimize(dib->bits_data());
  }
}

// Reference: read the file and copy its rows into a bitmap, the least any loader does.
void RawRows(benchmark::State& state, const char* name, int bits) {
  for (auto _ : state) {
    const auto data = ReadAll(PathOf(name));
    auto dib = imaging::PackedDib::Create(640, 480, bits);
    const std::size_t offset = data.size() - static_cast<std::size_t>(dib->stride() * 480);
    std::memcpy(dib->bits_data(), data.data() + offset, static_cast<std::size_t>(dib->stride() * 480));
    benchmark::DoNotOptimize(dib->bits_data());
  }
}

void BM_Bmp24LoadFull(benchmark::State& s) {
  LoadFitted(s, "p24.bmp", 640, 480);
}
void BM_Bmp24LoadFitted(benchmark::State& s) {
  LoadFitted(s, "p24.bmp", 176, 144);
}
void BM_Bmp8LoadFull(benchmark::State& s) {
  LoadFitted(s, "p8.bmp", 640, 480);
}
void BM_Bmp24Reference(benchmark::State& s) {
  RawRows(s, "p24.bmp", 24);
}
void BM_WbmpLoadFull(benchmark::State& s) {
  LoadFitted(s, "p.wbmp", 640, 480);
}
void BM_WbmpLoadFitted(benchmark::State& s) {
  LoadFitted(s, "p.wbmp", 176, 144);
}

// Reference: read the file and fill a 24-bit bitmap of the same size, the memory traffic
// any WBMP loader producing 24-bit output has.
void BM_WbmpReference(benchmark::State& state) {
  for (auto _ : state) {
    const auto data = ReadAll(PathOf("p.wbmp"));
    auto dib = imaging::PackedDib::Create(640, 480, 24);
    const std::size_t offset = data.size() - 80 * 480;
    for (int y = 0; y < 480; ++y) std::memset(dib->TopRow(y), data[offset + 80 * y], 640 * 3);
    benchmark::DoNotOptimize(dib->bits_data());
  }
}

// ---- JPEG ----

void BM_JpegFitted176x144(benchmark::State& s) {
  LoadFitted(s, "big.jpg", 176, 144);
}

void BM_JpegReferenceFullDecode(benchmark::State& state) {
  std::vector<std::uint8_t> row(2560 * 3);
  for (auto _ : state) {
    auto s = mms::ByteStream::OpenFileUtf8(PathOf("big.jpg").c_str(), mms::ByteStream::kRead);
    std::unique_ptr<imaging::JpegReader> r;
    imaging::JpegReader::Open(s.get(), &r);
    imaging::BITMAPINFOHEADER h;
    r->Start(&h);
    for (int y = 0; y < h.biHeight; ++y) r->ReadRows(row.data(), 1, nullptr, nullptr);
  }
}

BENCHMARK(BM_GifDecodeAllFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifRenderAllFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifReferenceGiflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bmp24LoadFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp24LoadFitted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp8LoadFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bmp24Reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WbmpLoadFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WbmpLoadFitted)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WbmpReference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JpegFitted176x144)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegReferenceFullDecode)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> times;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred)
        times[r.benchmark_name()] = r.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(r.time_unit);
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintRatio(const RatioReporter& rep, const char* what, const char* ours, const char* reference) {
  const auto a = rep.times.find(ours), b = rep.times.find(reference);
  if (a == rep.times.end() || b == rep.times.end() || b->second <= 0) {
    std::printf("%-44s n/a\n", what);
    return;
  }
  std::printf("%-44s %6.2fx  (%s / %s)\n", what, a->second / b->second, ours, reference);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Prepare()) {
    std::fprintf(stderr, "imaging_bench: cannot prepare the test pictures\n");
    return 1;
  }
  gGifLib.Load();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (below 1 is faster than the reference):\n");
  PrintRatio(reporter, "GIF decode, 8 frames 640x480 vs giflib", "BM_GifDecodeAllFrames",
             "BM_GifReferenceGiflib");
  PrintRatio(reporter, "GIF render to canvas vs giflib decode", "BM_GifRenderAllFrames",
             "BM_GifReferenceGiflib");
  PrintRatio(reporter, "BMP 24-bit full load vs row copy", "BM_Bmp24LoadFull", "BM_Bmp24Reference");
  PrintRatio(reporter, "BMP 24-bit fitted 176x144 vs row copy", "BM_Bmp24LoadFitted", "BM_Bmp24Reference");
  PrintRatio(reporter, "WBMP full load vs row copy", "BM_WbmpLoadFull", "BM_WbmpReference");
  PrintRatio(reporter, "JPEG 2560x1920 fitted 176x144 vs full decode", "BM_JpegFitted176x144",
             "BM_JpegReferenceFullDecode");
  std::string cmd = "rm -rf '" + gDir + "'";
  if (std::system(cmd.c_str()) != 0)
    std::fprintf(stderr, "imaging_bench: could not remove %s\n", gDir.c_str());
  benchmark::Shutdown();
  return 0;
}
