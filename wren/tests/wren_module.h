#pragma once
// The built "Wren.dll", opened once per test binary.

#include <dlfcn.h>

#include <string>

inline void* WrenModule() {
  static void* module = ::dlopen((std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll").c_str(),
                                 RTLD_NOW | RTLD_LOCAL);
  return module;
}

template <typename Fn>
Fn WrenExport(const char* name) {
  return reinterpret_cast<Fn>(::dlsym(WrenModule(), name));
}
