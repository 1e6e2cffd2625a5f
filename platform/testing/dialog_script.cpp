#include "platform_testing/dialog_script.h"

#include "platform/test_driver.h"

namespace platform_testing {

namespace {

constexpr UINT kStep = WM_USER + 77;
DialogScript* current = nullptr;

}  // namespace

DialogScript::DialogScript() {
  static const bool registered = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = &DialogScript::Proc;
    wc.lpszClassName = u"DialogScriptOwner";
    return RegisterClass(&wc) != 0;
  }();
  (void)registered;
  owner_ = CreateWindowEx(0, u"DialogScriptOwner", u"Owner", WS_VISIBLE, 0, 0, 176, 220, nullptr, nullptr,
                          nullptr, nullptr);
  current = this;
}

DialogScript::~DialogScript() {
  if (current == this) current = nullptr;
  DestroyWindow(owner_);
}

void DialogScript::Then(std::function<void()> step) { steps_.push_back(std::move(step)); }

void DialogScript::Key(const char* name) {
  const std::string key = name;
  Then([key] { platform::testdriver::PressKey(platform::testdriver::KeyFromName(key)); });
}

void DialogScript::Type(const std::u16string& text) {
  for (char16_t c : text)
    Then([c] { PostMessage(GetFocus(), WM_CHAR, static_cast<WPARAM>(c), 1); });
}

void DialogScript::Command(UINT id) {
  Then([id] { PostMessage(GetForegroundWindow(), WM_COMMAND, id, 0); });
}

void DialogScript::Describe(std::string* out) {
  Then([out] { *out = platform::testdriver::DescribeScreen(); });
}

void DialogScript::Start() { PostMessage(owner_, kStep, 0, 0); }

LRESULT DialogScript::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kStep || !current) return DefWindowProc(hwnd, msg, wParam, lParam);
  // Posted messages come before paints, so a pending paint means nothing else is left.
  MSG pending;
  const bool busy = PeekMessage(&pending, nullptr, 0, 0, PM_NOREMOVE) && pending.message != WM_PAINT;
  if (busy || current->steps_.empty()) {
    if (!current->steps_.empty()) PostMessage(hwnd, kStep, 0, 0);
    return 0;
  }
  auto step = std::move(current->steps_.front());
  current->steps_.pop_front();
  step();
  PostMessage(hwnd, kStep, 0, 0);
  return 0;
}

}  // namespace platform_testing
