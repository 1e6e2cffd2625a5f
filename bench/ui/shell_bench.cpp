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

namespace {

constexpr double kFirstPaintTargetMs = 100;
constexpr double kKeyMoveTargetMs = 2;

void UseFreshRoot() {
  static std::string root;
  if (root.empty()) {
    char pattern[] = "/tmp/tessera-shell-bench-XXXXXX";
    if (const char* made = mkdtemp(pattern)) root = made;
    setenv("TESSERA_ROOT", root.c_str(), 1);
    setenv("TESSERA_DISPLAY", "headless", 1);
    setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
    platform::testdriver::Enable();
  }
}

void BM_StartToFirstPaintedMainList(benchmark::State& state) {
  UseFreshRoot();
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
  UseFreshRoot();
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

class Figures : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double ms = run.GetAdjustedRealTime() *
                        (run.time_unit == benchmark::kMillisecond ? 1.0 : run.time_unit == benchmark::kMicrosecond ? 1e-3 : 1e-6);
      const bool paint = run.benchmark_name().find("FirstPainted") != std::string::npos;
      const double target = paint ? kFirstPaintTargetMs : kKeyMoveTargetMs;
      std::printf("%s: %.3f ms (target %.0f ms, %.2f of it)\n", paint ? "start to first painted main list" : "main list key move",
                  ms, target, ms / target);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Figures reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
