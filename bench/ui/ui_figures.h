#pragma once
// What the screen benchmarks share: a fresh headless device root for the program, and a
// reporter that prints each run in milliseconds against its target.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/test_driver.h"

namespace uibench {

/// A benchmark whose name contains `match` is printed as `label` against `targetMs`; the
/// first match wins and "" matches every name.
struct Target {
  const char* match;
  const char* label;
  double targetMs;
};

/// Once per process: a new device root under /tmp named after `name`, the headless screen,
/// no push router started by the program, and the test driver's keys.
inline void UseFreshRoot(const char* name) {
  static std::string root;
  if (!root.empty()) return;
  std::string pattern = std::string("/tmp/tessera-") + name + "-bench-XXXXXX";
  if (const char* made = mkdtemp(pattern.data())) root = made;
  setenv("TESSERA_ROOT", root.c_str(), 1);
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
  platform::testdriver::Enable();
}

class Figures : public benchmark::ConsoleReporter {
 public:
  explicit Figures(std::vector<Target> targets) : targets_(std::move(targets)) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double ms = run.GetAdjustedRealTime() *
                        (run.time_unit == benchmark::kMillisecond ? 1.0 : run.time_unit == benchmark::kMicrosecond ? 1e-3 : 1e-6);
      const std::string name = run.benchmark_name();
      for (const Target& t : targets_) {
        if (name.find(t.match) == std::string::npos) continue;
        std::printf("%s: %.3f ms (target %.0f ms, %.2f of it)\n", t.label, ms, t.targetMs, ms / t.targetMs);
        break;
      }
    }
  }

 private:
  std::vector<Target> targets_;
};

/// The benchmarks' main: runs them and prints the figures.
inline int RunWithFigures(int argc, char** argv, std::vector<Target> targets) {
  benchmark::Initialize(&argc, argv);
  Figures reporter(std::move(targets));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace uibench
