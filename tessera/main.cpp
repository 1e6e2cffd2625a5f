// tessera: the program. With a display it opens the phone window; with --headless it runs
// without one, driven by --keys/--describe/--screenshot (then it exits) or, alone, through
// its driver socket until it is closed.
//
//   tessera [--headless] [--keys "Down Enter ..."] [--describe] [--screenshot FILE]
//           [/rade "PATH"] [--version]

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ui/common/app_context.h"
#include "ui/shell/application.h"
#include "ui/shell/driver.h"
#include "ui/shell/main_frame.h"

namespace {

// SIGTERM and SIGINT are taken by a thread of their own, which asks the main frame to close
// as the user would.
void WatchSignals(HWND frame, const sigset_t& set) {
  std::thread([frame, set] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) == 0) PostMessage(frame, WM_CLOSE, 0, 0);
    }
  }).detach();
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "tessera: %s\n", problem);
  std::fprintf(stderr,
               "usage: tessera [--headless] [--keys \"Down Enter ...\"] [--describe] [--screenshot FILE] "
               "[/rade \"PATH\"] [--version]\n");
  return 2;
}

// Ends whatever modal loop is up, then the main loop.
void Quit() {
  for (int i = 0; i < 8; ++i) {
    HWND top = GetForegroundWindow();
    WCHAR name[32] = {};
    if (!top || GetClassName(top, name, 32) == 0 || std::u16string(name) != WC_DIALOG) break;
    EndDialog(top, IDCANCEL);
    break;
  }
  PostQuitMessage(0);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false, describe = false, script = false;
  std::string keys, screenshot;
  std::u16string commandLine;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--version") {
      std::printf("Tessera %s\n", TESSERA_VERSION);
      return 0;
    } else if (a == "--headless") {
      headless = true;
    } else if (a == "--describe") {
      describe = script = true;
    } else if (a == "--keys" && i + 1 < argc) {
      keys = argv[++i];
      script = true;
    } else if (a == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
      script = true;
    } else if (a == "--help" || a == "-h") {
      Usage(nullptr);
      return 0;
    } else if (!a.empty() && a[0] != '-') {
      if (!commandLine.empty()) commandLine += u' ';
      // A path given as its own argument keeps its quotes for the hand-over.
      commandLine += commandLine.empty() || a.find(' ') == std::string::npos ? platform::Utf8ToUtf16(a)
                                                                            : u"\"" + platform::Utf8ToUtf16(a) + u"\"";
    } else {
      return Usage(("unknown argument: " + a).c_str());
    }
  }
  if (commandLine.size() > 5 && commandLine.compare(0, 5, u"/rade") == 0 && commandLine.find(u'"') == std::u16string::npos)
    commandLine = u"/rade \"" + commandLine.substr(6) + u"\"";
  if (script) headless = true;
  if (headless) setenv("TESSERA_DISPLAY", "headless", 1);
  // A script runs on the virtual clock, so it sees the same screens every time.
  if (script) platform::testdriver::Enable();

  // Blocked before any thread starts, so every thread leaves them to the watcher.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  ui::Application app;
  ui::Context().instance = nullptr;
  if (!app.Start(nullptr, commandLine, SW_SHOW)) return 1;
  WatchSignals(app.Frame()->Handle(), signals);

  ui::Driver driver;
  int status = 0;
  if (driver.Open()) {
    if (script) {
      std::string request = keys.empty() ? "wait-idle" : "keys " + keys;
      driver.Submit(request, [&](bool ok, std::string output) {
        if (!ok) {
          std::fputs(output.c_str(), stderr);
          status = 2;
        }
      });
      if (describe)
        driver.Submit("describe", [](bool, std::string output) {
          std::fputs(output.c_str(), stdout);
          std::fflush(stdout);
        });
      if (!screenshot.empty())
        driver.Submit("screenshot " + screenshot, [&](bool ok, std::string output) {
          if (!ok) {
            std::fprintf(stderr, "tessera: %s", output.c_str());
            status = 1;
          }
        });
      driver.Submit("wait-idle", [](bool, std::string) { Quit(); });
    } else if (!driver.Listen(ui::DriverSocketPath(platform::DeviceRoot()))) {
      std::fprintf(stderr, "tessera: the driver socket cannot be made; driving is off\n");
    }
  }
  const int code = app.Run();
  driver.StopListening();
  app.Shutdown();
  return status != 0 ? status : code;
}
