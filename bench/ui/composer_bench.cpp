// The composer opening a nine-slide message with a 2-megapixel JPEG on every slide, to its
// first paint (the thumbnail comes through the scaled JPEG decode), and one slide move (text
// commit check, fields refreshed, thumbnail painted): to a slide not shown yet, whose
// thumbnail is made then, and back and forth over slides already shown, whose thumbnails are
// kept. Each slide has a picture of its own. Headless, on a fresh device root; figures print
// in milliseconds against the targets.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "composer/composer_frame.h"
#include "composer/composer_ids.h"
#include "imaging/image.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "store/message_store.h"
#include "ui/common/app_context.h"
#include "ui_figures.h"

namespace {

constexpr double kOpenTargetMs = 150;
constexpr double kSlideMoveTargetMs = 20;
constexpr int kSlides = 9;
constexpr int kPictureWidth = 1632, kPictureHeight = 1224;  // 2 megapixels

struct Bench {
  ui::ResourceLibrary resources;
  store::MessageStore store;
  HWND owner = nullptr;
  std::uint32_t id = 0;
  bool ready = false;
};

std::string g_root;  // made by the first Setup()

Bench& Setup() {
  static Bench b;
  if (b.ready || !g_root.empty()) return b;
  char pattern[] = "/tmp/tessera-composer-bench-XXXXXX";
  const char* root = mkdtemp(pattern);
  if (!root) return b;
  g_root = root;
  setenv("TESSERA_ROOT", root, 1);
  setenv("TESSERA_DISPLAY", "headless", 1);
  platform::testdriver::Enable();
  platform::RegisterControlClasses();
  if (!b.resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll"))) return b;
  ui::Context().resources = &b.resources;
  if (!b.store.Open(platform::JoinPath(platform::DeviceRoot(), u"store/"))) return b;
  // A big picture of its own on every slide.
  auto dib = imaging::PackedDib::Create(kPictureWidth, kPictureHeight, 24);
  auto entry = b.store.NewEntry();
  entry->Summary().SetMessageType(store::kTypeMultimedia);
  presentation::MessageDocument* doc = entry->NewDocument();
  doc->SetPartsDirectory(entry->PartsDirectory());
  doc->SetDefaultLayout();
  for (int i = 0; i < kSlides; ++i) {
    for (int y = 0; y < kPictureHeight; ++y)
      for (int x = 0; x < kPictureWidth * 3; ++x)
        dib->TopRow(y)[x] = static_cast<std::uint8_t>((x * (7 + i) + y * 3) & 0xFF);
    const std::u16string jpeg =
        platform::JoinPath(platform::DeviceRoot(), u"big" + platform::Utf8ToUtf16(std::to_string(i)) + u".jpg");
    if (imaging::SaveImage(*dib, jpeg, imaging::kTypeJpeg) != 1) return b;
    doc->InsertSlide(i);
    if (doc->AddMediaFile(i, jpeg) != 1) return b;
  }
  if (!entry->SaveDocument()) return b;
  entry->DropDocument();
  b.id = entry->Id();
  store::MessageFolder* drafts = b.store.Folder(store::FolderId::Draft);
  if (!drafts->Add(std::move(entry)) || !drafts->Save()) return b;
  b.owner = CreateWindowEx(0, u"STATIC", u"", WS_VISIBLE, 0, 20, 176, 176, nullptr, nullptr, nullptr, nullptr);
  b.ready = b.owner != nullptr;
  return b;
}

composer::ComposerHost Host(Bench& b) {
  composer::ComposerHost host;
  host.store = &b.store;
  return host;
}

void Close() {
  if (composer::ComposerFrame* frame = composer::ComposerFrame::Current(); frame && frame->Handle())
    DestroyWindow(frame->Handle());
  platform::testdriver::RunUntilIdle();
}

void BM_OpenNineSlidesToFirstPaint(benchmark::State& state) {
  Bench& b = Setup();
  if (!b.ready) {
    state.SkipWithError("no bench message");
    return;
  }
  for (auto _ : state) {
    if (!composer::OpenComposer(b.owner, Host(b), b.id, composer::ids::kModeEdit, 7)) {
      state.SkipWithError("the composer did not open");
      break;
    }
    platform::testdriver::RunUntilIdle();  // the first paint of the frame and its fields
    state.PauseTiming();
    Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenNineSlidesToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_SlideMoveToANewSlide(benchmark::State& state) {
  Bench& b = Setup();
  if (!b.ready) {
    state.SkipWithError("no bench message");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const bool opened = composer::OpenComposer(b.owner, Host(b), b.id, composer::ids::kModeEdit, 7);
    platform::testdriver::RunUntilIdle();
    state.ResumeTiming();
    if (!opened) {
      state.SkipWithError("the composer did not open");
      break;
    }
    platform::testdriver::PressKey(VK_RIGHT);  // slide 2, never shown in this composer
    platform::testdriver::RunUntilIdle();
    state.PauseTiming();
    Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SlideMoveToANewSlide)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_SlideMoveAmongShownSlides(benchmark::State& state) {
  Bench& b = Setup();
  if (!b.ready || !composer::OpenComposer(b.owner, Host(b), b.id, composer::ids::kModeEdit, 7)) {
    state.SkipWithError("the composer did not open");
    return;
  }
  platform::testdriver::RunUntilIdle();
  // Every slide once, so that each thumbnail has been made.
  for (int i = 1; i < kSlides; ++i) platform::testdriver::PressKey(VK_RIGHT);
  platform::testdriver::RunUntilIdle();
  bool right = false;
  for (auto _ : state) {
    composer::ComposerFrame* frame = composer::ComposerFrame::Current();
    if (frame->currentSlide() == kSlides - 1) right = false;
    if (frame->currentSlide() == 0) right = true;
    platform::testdriver::PressKey(right ? VK_RIGHT : VK_LEFT);
    platform::testdriver::RunUntilIdle();
  }
  Close();
}
BENCHMARK(BM_SlideMoveAmongShownSlides)->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

int main(int argc, char** argv) {
  const int code = uibench::RunWithFigures(argc, argv,
                                 {{"Open", "composer open of 9 slides of 2-MP JPEGs to first paint", kOpenTargetMs},
                                  {"NewSlide", "composer slide move to a slide not shown yet", kSlideMoveTargetMs},
                                  {"", "composer slide move among slides shown", kSlideMoveTargetMs}});
  // The device root and its nine big pictures go with the run.
  if (!g_root.empty()) platform::RemoveTree(platform::Utf8ToUtf16(g_root));
  return code;
}
