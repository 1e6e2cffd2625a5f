// The program's start-up to the first painted main list (resource library, configuration,
// contacts, store with its four folders, engine, main frame and list), and one key move on
// the main list (selection, off-screen redraw of the page, copy to the screen). Headless, on
// a fresh device root; figures print in milliseconds against the targets.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"
#include "ui_figures.h"

namespace {

constexpr double kFirstPaintTargetMs = 100;
constexpr double kKeyMoveTargetMs = 2;

void BM_StartToFirstPaintedMainList(benchmark::State& state) {
  uibench::UseFreshRoot("shell");
  for (auto _ : state) {
    ui::Application app;
    if (!app.Start(nullptr, u"", SW_SHOW)) {
      state.SkipWithError("the program did not start");
      break;
    }
    platform::testdriver::RunUntilIdle();  // the first paint of frame and list
    state.PauseTiming();
    app.Shutdown();
    platform::testdriver::RunUntilIdle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartToFirstPaintedMainList)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_MainListKeyMove(benchmark::State& state) {
  uibench::UseFreshRoot("shell");
  ui::Application app;
  if (!app.Start(nullptr, u"", SW_SHOW)) {
    state.SkipWithError("the program did not start");
    return;
  }
  platform::testdriver::RunUntilIdle();
  for (auto _ : state) {
    platform::testdriver::PressKey(VK_DOWN);
    platform::testdriver::RunUntilIdle();
  }
  app.Shutdown();
  platform::testdriver::RunUntilIdle();
}
BENCHMARK(BM_MainListKeyMove)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return uibench::RunWithFigures(argc, argv,
                                 {{"FirstPainted", "start to first painted main list", kFirstPaintTargetMs},
                                  {"", "main list key move", kKeyMoveTargetMs}});
}
