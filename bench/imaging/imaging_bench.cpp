// Still-image benchmarks. Each group has a reference run in the same process and the
// summary prints our CPU time as a ratio of it (CPU time, because the machines these run on
// are shared):
//  - GIF: decoding every frame of a 640 x 480 animation against the system giflib's
//    DGifSlurp (loaded at run time; skipped when absent), and decoding with composing onto a
//    24-bit canvas against DGifSlurp followed by a plain compose loop written here. The four
//    runs take turns, five rounds, and the medians are compared; the last line of this part
//    starts "summary: gif ";
//  - BMP and WBMP: fitted loads against copying the same pixels out of a file in memory;
//  - JPEG: a 2560 x 1920 picture fitted into 176 x 144 (scaled decoding) against a
//    full-size decode of the same file.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <regex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
std::vector<std::uint8_t> gGif;     // eight full frames, one table
std::vector<std::uint8_t> gSprite;  // a full frame, then transparent rectangles, some disposed

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
  // 640 x 480: a full frame, then seven 320 x 240 frames whose index 0 is transparent
  // (about a third of their pixels), every other one disposed to the background.
  {
    auto out = mms::ByteStream::OpenFileUtf8(PathOf("sprite.gif").c_str(), mms::ByteStream::kWrite);
    std::unique_ptr<imaging::GifEncoder> enc;
    if (!out || imaging::GifEncoder::Create(out.get(), 8, &enc) != imaging::kGifOk) return false;
    imaging::RGBQUAD table[256];
    for (int i = 0; i < 256; ++i) table[i] = imaging::RGBQUAD{BYTE(i * 5), BYTE(i), BYTE(255 - i), 0};
    enc->SetScreen(640, 480, 8, 8, false, 3);
    enc->WriteColorTable(table, 256, 8);
    enc->LoopExtension(0);
    auto full = imaging::PackedDib::Create(640, 480, 8);
    Paint(full.get(), 0);
    imaging::GifFrame fr;
    fr.width = 640;
    fr.height = 480;
    enc->SetFrame(fr, 0);
    enc->WriteFrame(full->TopRow(0), -full->stride(), 640, 480, 8);
    auto part = imaging::PackedDib::Create(320, 240, 8);
    for (int f = 1; f < 8; ++f) {
      Paint(part.get(), f);
      for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
          if (((x / 24) + (y / 16) + f) % 3 == 0) part->TopRow(y)[x] = 0;
      imaging::GifFrame pf;
      pf.left = static_cast<std::uint16_t>(40 * f);
      pf.top = static_cast<std::uint16_t>(30 * f);
      pf.width = 320;
      pf.height = 240;
      pf.transparent = true;
      pf.transparentIndex = 0;
      pf.disposal = f % 2 ? 2 : 1;
      enc->SetFrame(pf, 0);
      enc->WriteFrame(part->TopRow(0), -part->stride(), 320, 240, 8);
    }
    if (enc->Close() != imaging::kGifOk) return false;
  }
  gSprite = ReadAll(PathOf("sprite.gif"));
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

void OurDecode(const std::vector<std::uint8_t>& gif) {
  static std::vector<std::uint8_t> row(65536);
  auto s = mms::ByteStream::OpenMemory(gif.data(), static_cast<std::int64_t>(gif.size()));
  std::unique_ptr<imaging::GifDecoder> d;
  imaging::GifDecoder::Open(s.get(), &d);
  for (int n = 0; d->SelectFrame(n) == imaging::kGifOk; ++n)
    for (int y = 0; y < d->frame().height; ++y) d->ReadRow(row.data(), nullptr);
  benchmark::DoNotOptimize(row.data());
}

// Renders every frame; the canvas of the last one is kept for the comparison with giflib's.
std::vector<std::uint8_t> gOurCanvas;
void OurCompose(const std::vector<std::uint8_t>& gif) {
  auto s = mms::ByteStream::OpenMemory(gif.data(), static_cast<std::int64_t>(gif.size()));
  imaging::Box box{0xFFFF, 0xFFFF};
  auto p = imaging::GifPlayer::Open(s.get(), &box);
  bool end = false;
  int delay = 0;
  const imaging::PackedDib* last = nullptr;
  for (int n = 0;; ++n) {
    const imaging::PackedDib* c = p->Render(n, &end, &delay);
    if (!c) break;
    last = c;
  }
  if (last) {
    gOurCanvas.resize(static_cast<std::size_t>(last->width()) * 3 * last->height());
    for (int y = 0; y < last->height(); ++y)
      std::memcpy(&gOurCanvas[static_cast<std::size_t>(y) * last->width() * 3], last->TopRow(y),
                  static_cast<std::size_t>(last->width()) * 3);
  }
}

// giflib 5's public records (gif_lib.h), declared here so that no development package is
// needed; the entry points are resolved at run time.
struct GifColor {
  std::uint8_t red, green, blue;
};
struct GifColorMap {
  int count;
  int bitsPerPixel;
  bool sortFlag;
  GifColor* colors;
};
struct GifImageDesc {
  int left, top, width, height;
  bool interlace;
  GifColorMap* colorMap;
};
struct GifExtensionBlock {
  int byteCount;
  std::uint8_t* bytes;
  int function;
};
struct GifSavedImage {
  GifImageDesc desc;
  std::uint8_t* rasterBits;
  int extensionBlockCount;
  GifExtensionBlock* extensionBlocks;
};
struct GifFileRecord {
  int screenWidth, screenHeight, colorResolution, backgroundColor;
  std::uint8_t aspectByte;
  GifColorMap* screenColorMap;
  int imageCount;
  GifImageDesc image;
  GifSavedImage* savedImages;
  int extensionBlockCount;
  GifExtensionBlock* extensionBlocks;
  int error;
  void* userData;
  void* privateData;
};
struct GifControlBlock {
  int disposalMode;
  bool userInputFlag;
  int delayTime;
  int transparentColor;  // -1 when none
};

struct GifLib {
  void* handle = nullptr;
  using InputFunc = int (*)(GifFileRecord*, std::uint8_t*, int);
  GifFileRecord* (*open)(void*, InputFunc, int*) = nullptr;
  int (*slurp)(GifFileRecord*) = nullptr;
  int (*close)(GifFileRecord*, int*) = nullptr;
  int (*controlBlock)(GifFileRecord*, int, GifControlBlock*) = nullptr;
  bool Load() {
    handle = dlopen("libgif.so.7", RTLD_NOW);
    if (!handle) return false;
    open = reinterpret_cast<decltype(open)>(dlsym(handle, "DGifOpen"));
    slurp = reinterpret_cast<decltype(slurp)>(dlsym(handle, "DGifSlurp"));
    close = reinterpret_cast<decltype(close)>(dlsym(handle, "DGifCloseFile"));
    controlBlock = reinterpret_cast<decltype(controlBlock)>(dlsym(handle, "DGifSavedExtensionToGCB"));
    return open && slurp && close && controlBlock;
  }
} gGifLib;

// The input function reads the animation in memory through static cursors (the user data
// pointer is ours to set only through DGifOpen, which the records above would not need).
const std::vector<std::uint8_t>* gGifInput = nullptr;
std::size_t gGifPos = 0;
int GifInput(GifFileRecord*, std::uint8_t* buf, int n) {
  const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), gGifInput->size() - gGifPos);
  std::memcpy(buf, gGifInput->data() + gGifPos, take);
  gGifPos += take;
  return static_cast<int>(take);
}

GifFileRecord* GiflibSlurp(const std::vector<std::uint8_t>& gif) {
  gGifInput = &gif;
  gGifPos = 0;
  int err = 0;
  GifFileRecord* g = gGifLib.open(nullptr, GifInput, &err);
  if (g && gGifLib.slurp(g) != 1) {
    gGifLib.close(g, &err);
    return nullptr;
  }
  return g;
}

bool gGiflibFailed = false;
void GiflibDecode(const std::vector<std::uint8_t>& gif) {
  GifFileRecord* g = GiflibSlurp(gif);
  if (!g) {
    gGiflibFailed = true;
    return;
  }
  int err = 0;
  gGifLib.close(g, &err);
}

// What a giflib user writes to show the frames: each frame's rectangle drawn over a 24-bit
// canvas (blue, green, red) through its colour map, skipping the transparent index, and the
// rectangle cleared to the background colour when its disposal asks for it. The tables of
// the files here hold 256 colours, so no index is checked against them.
std::vector<std::uint8_t> gGiflibCanvas;
void GiflibCompose(const std::vector<std::uint8_t>& gif) {
  GifFileRecord* g = GiflibSlurp(gif);
  if (!g) {
    gGiflibFailed = true;
    return;
  }
  const int sw = g->screenWidth, sh = g->screenHeight;
  std::vector<std::uint8_t>& canvas = gGiflibCanvas;
  canvas.resize(static_cast<std::size_t>(sw) * sh * 3);
  GifColor background{255, 255, 255};
  if (g->screenColorMap) background = g->screenColorMap->colors[g->backgroundColor];
  auto fill = [&](int left, int top, int width, int height) {
    for (int y = std::max(top, 0); y < std::min(top + height, sh); ++y)
      for (int x = std::max(left, 0); x < std::min(left + width, sw); ++x) {
        std::uint8_t* p = &canvas[(static_cast<std::size_t>(y) * sw + x) * 3];
        p[0] = background.blue;
        p[1] = background.green;
        p[2] = background.red;
      }
  };
  fill(0, 0, sw, sh);
  for (int i = 0; i < g->imageCount; ++i) {
    const GifSavedImage& im = g->savedImages[i];
    const GifImageDesc& d = im.desc;
    GifControlBlock gcb{0, false, 0, -1};
    gGifLib.controlBlock(g, i, &gcb);
    const GifColorMap* map = d.colorMap ? d.colorMap : g->screenColorMap;
    if (i > 0) {
      // The previous frame's disposal happens before this one is drawn.
      GifControlBlock prev{0, false, 0, -1};
      gGifLib.controlBlock(g, i - 1, &prev);
      const GifImageDesc& pd = g->savedImages[i - 1].desc;
      if (prev.disposalMode == 2) fill(pd.left, pd.top, pd.width, pd.height);
    }
    if (!map) continue;
    const int x1 = std::min(d.left + d.width, sw), y1 = std::min(d.top + d.height, sh);
    for (int y = d.top; y < y1; ++y) {
      const std::uint8_t* src = im.rasterBits + static_cast<std::size_t>(y - d.top) * d.width;
      std::uint8_t* dst = &canvas[static_cast<std::size_t>(y) * sw * 3];
      for (int x = d.left; x < x1; ++x) {
        const int idx = src[x - d.left];
        if (idx == gcb.transparentColor) continue;
        const GifColor& c = map->colors[idx];
        dst[3 * x] = c.blue;
        dst[3 * x + 1] = c.green;
        dst[3 * x + 2] = c.red;
      }
    }
  }
  int err = 0;
  gGifLib.close(g, &err);
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct GifRun {
  const char* name;
  void (*fn)(const std::vector<std::uint8_t>&);
  const std::vector<std::uint8_t>* file;
  int iterations = 1;
  std::vector<double> seconds;  // CPU per iteration, one per round
};

// Times the runs in turn, five rounds, each run long enough (about 0.2 s of CPU) that the
// clock's resolution does not matter. Returns false when giflib is missing or failed.
bool CompareGif(std::vector<GifRun>* runs) {
  constexpr int kRounds = 5;
  constexpr double kSample = 0.2;
  for (GifRun& r : *runs) {
    const double t0 = ThreadCpuSeconds();
    r.fn(*r.file);  // warm-up and calibration
    const double once = std::max(ThreadCpuSeconds() - t0, 1e-6);
    r.iterations = std::max(1, static_cast<int>(kSample / once));
  }
  for (int round = 0; round < kRounds; ++round)
    for (GifRun& r : *runs) {
      const double t0 = ThreadCpuSeconds();
      for (int i = 0; i < r.iterations; ++i) r.fn(*r.file);
      r.seconds.push_back((ThreadCpuSeconds() - t0) / r.iterations);
    }
  return !gGiflibFailed;
}

// Runs and prints the GIF comparison; the last line is the summary.
void RunGifComparison() {
  std::printf("GIF against giflib%s (CPU time per run, median of 5 interleaved rounds)\n",
              gGifLib.handle ? " (libgif.so.7)" : "");
  if (!gGifLib.handle) {
    std::printf("summary: gif not measured: libgif.so.7 is not available\n");
    return;
  }
  std::vector<GifRun> runs = {
      {"decode, ours", OurDecode, &gGif},
      {"decode, giflib DGifSlurp", GiflibDecode, &gGif},
      {"decode+compose, ours", OurCompose, &gGif},
      {"decode+compose, giflib + compose loop", GiflibCompose, &gGif},
      {"sprite decode+compose, ours", OurCompose, &gSprite},
      {"sprite decode+compose, giflib + loop", GiflibCompose, &gSprite},
  };
  if (!CompareGif(&runs)) {
    std::printf("summary: gif not measured: giflib failed to decode the test animation\n");
    return;
  }
  // Both composers must paint the same last canvas, or the comparison means nothing.
  OurCompose(gSprite);
  GiflibCompose(gSprite);
  const bool spriteSame = gOurCanvas == gGiflibCanvas;
  OurCompose(gGif);
  GiflibCompose(gGif);
  const bool same = gOurCanvas == gGiflibCanvas;
  std::vector<double> median;
  for (const GifRun& r : runs) {
    median.push_back(Median(r.seconds));
    std::printf("  %-40s %8.2f ms  (%d runs a round)\n", r.name, median.back() * 1e3, r.iterations);
  }
  const double decode = median[0] / median[1], compose = median[2] / median[3],
               sprite = median[4] / median[5];
  std::printf("  canvases %s\n", same && spriteSame ? "identical to giflib's" : "DIFFER from giflib's");
  std::printf("GIF decode, 8 frames 640x480 vs DGifSlurp        %6.2fx  (target 0.9)\n", decode);
  std::printf("GIF decode+compose vs DGifSlurp + compose loop   %6.2fx  (target 1.0)\n", compose);
  std::printf("GIF transparent sprites, decode+compose          %6.2fx\n", sprite);
  std::printf("summary: gif decode %.2fx DGifSlurp (target 0.9), compose %.2fx (target 1.0)%s\n", decode,
              compose, same && spriteSame ? "" : ", CANVASES DIFFER");
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

// True when --benchmark_filter (a regular expression; none or "all" selects everything)
// selects a run of this name.
bool Selected(const std::string& filter, const char* name) {
  if (filter.empty() || filter == "all") return true;
  regex_t re;
  if (regcomp(&re, filter.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
  const bool hit = regexec(&re, name, 0, nullptr, 0) == 0;
  regfree(&re);
  return hit;
}

}  // namespace

int main(int argc, char** argv) {
  // The GIF comparison runs outside the library's runner (its runs take turns), under the
  // name GifComparison; read the filter before the library takes its flags.
  std::string filter;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0) filter = argv[i] + 19;
  benchmark::Initialize(&argc, argv);
  if (!Prepare()) {
    std::fprintf(stderr, "imaging_bench: cannot prepare the test pictures\n");
    return 1;
  }
  gGifLib.Load();
  const char* const others[] = {"BM_Bmp24LoadFull",  "BM_Bmp24LoadFitted",   "BM_Bmp8LoadFull",
                                "BM_Bmp24Reference", "BM_WbmpLoadFull",      "BM_WbmpLoadFitted",
                                "BM_WbmpReference",  "BM_JpegFitted176x144", "BM_JpegReferenceFullDecode"};
  const bool any = std::any_of(std::begin(others), std::end(others),
                               [&](const char* name) { return Selected(filter, name); });
  if (any) {
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (below 1 is faster than the reference):\n");
    PrintRatio(reporter, "BMP 24-bit full load vs row copy", "BM_Bmp24LoadFull", "BM_Bmp24Reference");
    PrintRatio(reporter, "BMP 24-bit fitted 176x144 vs row copy", "BM_Bmp24LoadFitted", "BM_Bmp24Reference");
    PrintRatio(reporter, "WBMP full load vs row copy", "BM_WbmpLoadFull", "BM_WbmpReference");
    PrintRatio(reporter, "JPEG 2560x1920 fitted 176x144 vs full decode", "BM_JpegFitted176x144",
               "BM_JpegReferenceFullDecode");
  }
  if (Selected(filter, "GifComparison")) {
    if (any) std::printf("\n");
    RunGifComparison();
  }
  std::string cmd = "rm -rf '" + gDir + "'";
  if (std::system(cmd.c_str()) != 0)
    std::fprintf(stderr, "imaging_bench: could not remove %s\n", gDir.c_str());
  benchmark::Shutdown();
  return 0;
}
