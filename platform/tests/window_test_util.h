#pragma once
// Helpers shared by the window-system tests: a headless display on the virtual clock and a
// window class that records the messages it gets.

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/test_driver.h"
#include "platform/window.h"

namespace window_test {

struct Record {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

/// Messages seen by every Recorder window, in order; thread-safe.
class Log {
 public:
  void Add(const Record& r) {
    std::lock_guard lock(mu_);
    records_.push_back(r);
  }
  std::vector<Record> Take() {
    std::lock_guard lock(mu_);
    return std::exchange(records_, {});
  }
  /// Message numbers only, keeping those in `interesting` (all when empty).
  std::vector<UINT> Messages(const std::vector<UINT>& interesting = {}) {
    std::vector<UINT> out;
    for (const auto& r : Take())
      if (interesting.empty() ||
          std::find(interesting.begin(), interesting.end(), r.msg) != interesting.end())
        out.push_back(r.msg);
    return out;
  }

 private:
  std::mutex mu_;
  std::vector<Record> records_;
};

inline Log& TheLog() {
  static Log log;
  return log;
}

/// Optional per-test hook, run before the default handling; return true to stop there.
using Hook = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)>;
inline Hook& TheHook() {
  static Hook hook;
  return hook;
}

inline LRESULT CALLBACK_Recorder(HWND h, UINT m, WPARAM w, LPARAM l) {
  TheLog().Add(Record{h, m, w, l});
  if (TheHook()) {
    LRESULT r = 0;
    if (TheHook()(h, m, w, l, &r)) return r;
  }
  return DefWindowProc(h, m, w, l);
}

inline void EnsureClass() {
  static bool done = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = CALLBACK_Recorder;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = u"Recorder";
    wc.cbWndExtra = 16;
    return RegisterClass(&wc) != 0;
  }();
  (void)done;
}

inline void SetUpWindowTest() {
  setenv("TESSERA_DISPLAY", "headless", 1);
  platform::testdriver::Enable();
  EnsureClass();
  TheHook() = nullptr;
  platform::testdriver::RunUntilIdle();
  TheLog().Take();
}

inline HWND MakeTop(const char16_t* title, DWORD style = WS_VISIBLE, HWND owner = nullptr) {
  return CreateWindowEx(0, u"Recorder", title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
}

inline HWND MakeChild(HWND parent, int id, RECT r, DWORD style = WS_VISIBLE | WS_CHILD) {
  return CreateWindowEx(0, u"Recorder", u"", style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                        reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
}

/// Destroys every window a test left behind, so the next starts from a clean screen.
inline void DestroyAll(std::initializer_list<HWND> windows) {
  TheHook() = nullptr;
  for (HWND h : windows)
    if (IsWindow(h)) DestroyWindow(h);
  platform::testdriver::RunUntilIdle();
  TheLog().Take();
}

}  // namespace window_test
