#pragma once
// The built "Wren.dll", loaded once per test binary the way the program loads it.

#include <string>

#include "platform/module.h"
#include "platform/text.h"

inline HMODULE WrenModule() {
  static HMODULE module =
      LoadLibrary(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll").c_str());
  return module;
}

template <typename Fn>
Fn WrenExport(const char* name) {
  return reinterpret_cast<Fn>(GetProcAddress(WrenModule(), name));
}
