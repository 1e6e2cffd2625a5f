#include "platform/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/fold.h"
#include "platform/paths.h"
#include "platform/text.h"

// A module handle is a small record around the dlopen handle: the phone hands out one
// handle per loaded file and counts references, and handles are checked so that a stale
// one fails instead of reaching dlsym.

struct HINSTANCE__ {
  void* dl = nullptr;
  std::u16string path;
  int refs = 0;
  bool program = false;
};

namespace {

struct Modules {
  std::mutex lock;
  std::vector<HINSTANCE__*> loaded;  // in load order
  HINSTANCE__* program = nullptr;
};

Modules& M() {
  static Modules* m = new Modules;
  return *m;
}

HINSTANCE__* Find(HMODULE h) {
  for (HINSTANCE__* m : M().loaded) {
    if (m == h) return m;
  }
  if (h && h == M().program) return h;
  return nullptr;
}

HINSTANCE__* ProgramModule() {
  if (!M().program) {
    auto* m = new HINSTANCE__;
    m->dl = ::dlopen(nullptr, RTLD_NOW);
    m->path = platform::ProgramPath();
    m->program = true;
    M().program = m;
  }
  return M().program;
}

bool SameFile(const std::u16string& a, const std::u16string& b) {
  return platform::Utf16ToUtf8(a) == platform::Utf16ToUtf8(b);
}

}  // namespace

HMODULE LoadLibrary(LPCWSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string name(fileName);
  std::vector<std::u16string> candidates;
  if (name.find(platform::kPathSeparator) != std::u16string::npos) {
    candidates.push_back(name);
  } else {
    candidates.push_back(platform::JoinPath(platform::ProgramDirectory(), name));
    candidates.push_back(name);  // the system's library path
  }
  std::lock_guard lk(M().lock);
  for (const auto& c : candidates) {
    bool explicitPath = c.find(platform::kPathSeparator) != std::u16string::npos;
    std::string native = platform::NativePath(c);
    if (explicitPath && ::access(native.c_str(), F_OK) != 0) continue;
    for (HINSTANCE__* m : M().loaded) {
      if (SameFile(m->path, c)) {
        ++m->refs;
        return m;
      }
    }
    void* dl = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!dl) continue;
    // The same file reached through another name gives the same dlopen handle.
    for (HINSTANCE__* m : M().loaded) {
      if (m->dl == dl) {
        ::dlclose(dl);
        ++m->refs;
        return m;
      }
    }
    auto* m = new HINSTANCE__;
    m->dl = dl;
    m->path = c;
    m->refs = 1;
    M().loaded.push_back(m);
    SetLastError(ERROR_SUCCESS);
    return m;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard lk(M().lock);
  HINSTANCE__* m = Find(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m->program) return TRUE;
  if (--m->refs > 0) return TRUE;
  auto& v = M().loaded;
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (*it == m) {
      v.erase(it);
      break;
    }
  }
  ::dlclose(m->dl);
  delete m;
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  std::lock_guard lk(M().lock);
  HINSTANCE__* m = Find(module);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!procName || !*procName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* sym = ::dlsym(m->dl, procName);
  if (!sym) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

FARPROC GetProcAddress(HMODULE module, LPCWSTR procName) {
  if (!procName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = platform::Utf16ToUtf8(procName);
  return GetProcAddress(module, name.c_str());
}

HMODULE GetModuleHandle(LPCWSTR moduleName) {
  std::lock_guard lk(M().lock);
  if (!moduleName) return ProgramModule();
  std::u16string want = platform::core::Fold(moduleName);
  for (HINSTANCE__* m : M().loaded) {
    if (platform::core::Fold(platform::FileNamePart(m->path)) == want ||
        platform::core::Fold(m->path) == want)
      return m;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileName(HMODULE module, LPWSTR fileName, DWORD size) {
  std::u16string path;
  {
    std::lock_guard lk(M().lock);
    HINSTANCE__* m = module ? Find(module) : ProgramModule();
    if (!m) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    path = m->path;
  }
  if (!fileName || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  DWORD n = static_cast<DWORD>(path.size());
  if (n >= size) {
    n = size - 1;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
  }
  path.copy(fileName, n);
  fileName[n] = 0;
  return n;
}
