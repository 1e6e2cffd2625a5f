#pragma once
// Helpers of the gallery's screen tests: a script of steps run one at a time inside whatever
// modal loop is running, and pictures made on the fly.
#include <deque>
#include <functional>
#include <string>

#include "imaging/image.h"
#include "platform/test_driver.h"
#include "platform/window.h"

namespace gallery::testing {

inline constexpr UINT kScript = WM_USER + 77;

class Script {
 public:
  Script() {
    static bool registered = [] {
      WNDCLASS wc{};
      wc.lpfnWndProc = &Script::Proc;
      wc.lpszClassName = u"GalleryTestOwner";
      return RegisterClass(&wc) != 0;
    }();
    (void)registered;
    owner_ = CreateWindowEx(0, u"GalleryTestOwner", u"Owner", WS_VISIBLE, 0, 0, 176, 220, nullptr, nullptr,
                            nullptr, nullptr);
    current_ = this;
  }
  ~Script() {
    current_ = nullptr;
    DestroyWindow(owner_);
  }
  HWND owner() const { return owner_; }
  void Then(std::function<void()> step) { steps_.push_back(std::move(step)); }
  void Key(const char* name) {
    Then([name] { platform::testdriver::PressKey(platform::testdriver::KeyFromName(name)); });
  }
  void Keys(std::initializer_list<const char*> names) {
    for (const char* n : names) Key(n);
  }
  void Command(UINT id) {
    Then([id] { PostMessage(GetForegroundWindow(), WM_COMMAND, id, 0); });
  }
  void Describe(std::string* out) {
    Then([out] { *out = platform::testdriver::DescribeScreen(); });
  }
  void Start() { PostMessage(owner_, kScript, 0, 0); }
  bool done() const { return steps_.empty(); }

 private:
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != kScript || !current_) return DefWindowProc(hwnd, msg, wParam, lParam);
    // Posted messages come before paints, so a pending paint means nothing else is left.
    MSG pending;
    bool busy = PeekMessage(&pending, nullptr, 0, 0, PM_NOREMOVE) && pending.message != WM_PAINT;
    if (busy || current_->steps_.empty()) {
      if (!current_->steps_.empty()) PostMessage(hwnd, kScript, 0, 0);
      return 0;
    }
    auto step = std::move(current_->steps_.front());
    current_->steps_.pop_front();
    step();
    PostMessage(hwnd, kScript, 0, 0);
    return 0;
  }
  static inline Script* current_ = nullptr;
  HWND owner_ = nullptr;
  std::deque<std::function<void()>> steps_;
};

/// A JPEG of w x h with a gradient, written to `path`.
inline bool WriteJpeg(const std::u16string& path, int w, int h) {
  auto dib = imaging::PackedDib::Create(w, h, 24);
  if (!dib) return false;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = dib->TopRow(y);
    for (int x = 0; x < w; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(x * 255 / w);
      row[3 * x + 1] = static_cast<std::uint8_t>(y * 255 / h);
      row[3 * x + 2] = static_cast<std::uint8_t>((x + y) & 0xFF);
    }
  }
  return imaging::SaveImage(*dib, path, imaging::kTypeJpeg) == 1;
}

}  // namespace gallery::testing
