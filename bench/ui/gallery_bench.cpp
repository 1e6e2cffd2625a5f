// The media gallery over a picture folder of 200 two-megapixel JPEGs, headless: the time from
// opening the gallery to its painted 3 x 3 grid (eight scaled decodes and the ".." cell), the
// time of one page down (three new rows of thumbnails) and the memory each cached thumbnail
// keeps. Targets: 150 ms, 150 ms, 64 KB; printed as figures and shares of the targets.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "imaging/image.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr int kPictures = 200;
constexpr double kOpenTargetMs = 150, kPageTargetMs = 150, kThumbTargetKb = 64;
constexpr UINT kStep = WM_USER + 91;

using Clock = std::chrono::steady_clock;

struct Figures {
  double openMs = 0, pageMs = 0, thumbKb = 0;
  int runs = 0;
} figures;

void MakeFolder(const config::Config& config) {
  const std::u16string folder = config.GetPicturePath(true);
  auto dib = imaging::PackedDib::Create(1600, 1200, 24);
  for (int y = 0; y < 1200; ++y) {
    std::uint8_t* row = dib->TopRow(y);
    for (int x = 0; x < 1600; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x / 7);
      row[3 * x + 1] = static_cast<std::uint8_t>(y / 5);
      row[3 * x + 2] = static_cast<std::uint8_t>((x ^ y) & 0xFF);
    }
  }
  // One picture written, then copied: the decodes are what is measured.
  const std::u16string first = folder + u"IMG0000.jpg";
  imaging::SaveImage(*dib, first, imaging::kTypeJpeg);
  for (int i = 1; i < kPictures; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG%04d.jpg", i);
    platform::CopyFile(first, folder + platform::Utf8ToUtf16(name), false);
  }
}

struct Run {
  gallery::GalleryDialog* dialog = nullptr;
  Clock::time_point start;
  double openMs = 0, pageMs = 0;
  std::size_t thumbBytes = 0;
  int thumbs = 0;
};
Run* current = nullptr;

LRESULT StepProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kStep || !current) return DefWindowProc(hwnd, msg, wParam, lParam);
  platform::testdriver::RunUntilIdle();  // the first paint of the grid and its cells
  current->openMs = std::chrono::duration<double, std::milli>(Clock::now() - current->start).count();
  const auto page = Clock::now();
  platform::testdriver::PressKey(VK_NEXT);
  platform::testdriver::RunUntilIdle();
  current->pageMs = std::chrono::duration<double, std::milli>(Clock::now() - page).count();
  for (const auto& e : current->dialog->entries())
    if (e->thumbnail) {
      current->thumbBytes = std::max(current->thumbBytes, e->thumbnail->size());
      ++current->thumbs;
    }
  PostMessage(current->dialog->Handle(), WM_COMMAND, IDCANCEL, 0);
  return 0;
}

void BM_GalleryOpenAndPageDown(benchmark::State& state) {
  static std::string root;
  if (root.empty()) {
    char pattern[] = "/tmp/tessera-gallery-bench-XXXXXX";
    if (const char* made = mkdtemp(pattern)) root = made;
    setenv("TESSERA_ROOT", root.c_str(), 1);
    setenv("TESSERA_DISPLAY", "headless", 1);
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
  }
  ui::ResourceLibrary resources;
  if (!resources.Load(platform::JoinPath(platform::ProgramDirectory(), u"Wren.dll"))) {
    state.SkipWithError("Wren.dll is missing beside the bench");
    return;
  }
  config::Config config;
  MakeFolder(config);
  WNDCLASS wc{};
  wc.lpfnWndProc = &StepProc;
  wc.lpszClassName = u"GalleryBenchOwner";
  RegisterClass(&wc);
  HWND owner = CreateWindowEx(0, u"GalleryBenchOwner", u"", WS_VISIBLE, 0, 0, 176, 220, nullptr, nullptr, nullptr,
                              nullptr);
  for (auto _ : state) {
    gallery::GalleryState::Get() = gallery::GalleryState{};
    gallery::GalleryDialog dialog(&resources, &config, gallery::ids::kMaskPictures);
    Run run;
    run.dialog = &dialog;
    current = &run;
    PostMessage(owner, kStep, 0, 0);
    run.start = Clock::now();
    dialog.Run(owner);
    current = nullptr;
    figures.openMs += run.openMs;
    figures.pageMs += run.pageMs;
    figures.thumbKb = std::max(figures.thumbKb, run.thumbBytes / 1024.0);
    ++figures.runs;
  }
  DestroyWindow(owner);
}
BENCHMARK(BM_GalleryOpenAndPageDown)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (figures.runs > 0) {
    const double open = figures.openMs / figures.runs, page = figures.pageMs / figures.runs;
    std::printf("gallery open to painted 3x3 grid (200 2-megapixel JPEGs): %.1f ms (target %.0f ms, %.2f of it)\n",
                open, kOpenTargetMs, open / kOpenTargetMs);
    std::printf("gallery page down: %.1f ms (target %.0f ms, %.2f of it)\n", page, kPageTargetMs, page / kPageTargetMs);
    std::printf("largest cached thumbnail: %.1f KB (target %.0f KB, %.2f of it)\n", figures.thumbKb, kThumbTargetKb,
                figures.thumbKb / kThumbTargetKb);
  }
  return 0;
}
