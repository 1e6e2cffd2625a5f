#pragma once
// Runs test steps one at a time inside whatever modal loop is running, each only once every
// message the previous step caused has been handled.
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "platform/test_driver.h"
#include "platform/window.h"

namespace uitest {

class KeyScript {
 public:
  KeyScript() {
    static bool registered = [] {
      WNDCLASS wc{};
      wc.lpfnWndProc = &KeyScript::Proc;
      wc.lpszClassName = u"KeyScriptOwner";
      return RegisterClass(&wc) != 0;
    }();
    (void)registered;
    owner_ = CreateWindowEx(0, u"KeyScriptOwner", u"Owner", WS_VISIBLE, 0, 0, 176, 220, nullptr, nullptr, nullptr,
                            nullptr);
    current_ = this;
  }
  ~KeyScript() {
    current_ = nullptr;
    DestroyWindow(owner_);
  }
  HWND owner() const { return owner_; }
  /// What the owner answers to `message` (the rest goes to the default handling).
  void Answer(UINT message, std::function<LRESULT(WPARAM, LPARAM)> answer) {
    answerMessage_ = message;
    answer_ = std::move(answer);
  }
  void Then(std::function<void()> step) { steps_.push_back(std::move(step)); }
  void Key(const char* name) {
    Then([name] { platform::testdriver::PressKey(platform::testdriver::KeyFromName(name)); });
  }
  void Keys(const char* name, int times) {
    for (int i = 0; i < times; ++i) Key(name);
  }
  void Command(UINT id) {
    Then([id] { PostMessage(GetForegroundWindow(), WM_COMMAND, id, 0); });
  }
  /// Holds the later steps until `ready` says so (checked about every 10 ms, for at most
  /// 30 s), for work of other threads such as a recording.
  void WaitUntil(std::function<bool()> ready) { Then(Poller(std::move(ready), 3000)); }
  void Describe(std::string* out) {
    Then([out] { *out = platform::testdriver::DescribeScreen(); });
  }
  void Start() { PostMessage(owner_, kStep, 0, 0); }
  bool done() const { return steps_.empty(); }

 private:
  std::function<void()> Poller(std::function<bool()> ready, int triesLeft) {
    return [this, ready, triesLeft] {
      if (triesLeft <= 0 || ready()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      steps_.push_front(Poller(ready, triesLeft - 1));
    };
  }
  static constexpr UINT kStep = WM_USER + 77;
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (current_ && current_->answer_ && msg == current_->answerMessage_) return current_->answer_(wParam, lParam);
    if (msg != kStep || !current_) return DefWindowProc(hwnd, msg, wParam, lParam);
    // Posted messages come before paints, so a pending paint means nothing else is left.
    MSG pending;
    bool busy = PeekMessage(&pending, nullptr, 0, 0, PM_NOREMOVE) && pending.message != WM_PAINT;
    if (busy || current_->steps_.empty()) {
      if (!current_->steps_.empty()) PostMessage(hwnd, kStep, 0, 0);
      return 0;
    }
    auto step = std::move(current_->steps_.front());
    current_->steps_.pop_front();
    step();
    PostMessage(hwnd, kStep, 0, 0);
    return 0;
  }
  static inline KeyScript* current_ = nullptr;
  HWND owner_ = nullptr;
  UINT answerMessage_ = 0;
  std::function<LRESULT(WPARAM, LPARAM)> answer_;
  std::deque<std::function<void()>> steps_;
};

}  // namespace uitest
