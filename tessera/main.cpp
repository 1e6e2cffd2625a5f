#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/window.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Tessera %s\n", TESSERA_VERSION);
      return 0;
    }
  }
  // One instance per device root, counting tessera-cli, which holds a main window of the
  // same class: the running one comes to the front (its topmost owned window, by the
  // handle's low bit) and this start ends.
  if (HWND running = FindWindow(u"RIR_WndCls_MainFrme", nullptr)) {
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(running) | 1));
    return 1;
  }
  std::printf("Tessera %s: multimedia messaging user agent\n", TESSERA_VERSION);
  return 0;
}
