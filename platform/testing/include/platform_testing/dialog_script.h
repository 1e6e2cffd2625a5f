#pragma once
/// Drives modal dialogs on the headless screen from a test: steps (keys, commands, reads of
/// the screen description, any code) run one at a time inside whatever modal loop is
/// running, each only once every message the previous step caused has been handled.
///
///   platform_testing::DialogScript script;
///   script.Key("Down");
///   script.Describe(&screen);
///   script.Command(IDCANCEL);
///   script.Start();
///   RunTheDialog(script.owner());
#include <deque>
#include <functional>
#include <string>

#include "platform/window.h"

namespace platform_testing {

class DialogScript {
 public:
  /// Makes the owner window the dialogs are run over; one script at a time.
  DialogScript();
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  HWND owner() const { return owner_; }
  void Then(std::function<void()> step);
  /// Presses and releases the key of the test driver's name ("Down", "SoftLeft", "1" ...).
  void Key(const char* name);
  /// Posts the characters of `text` one by one as WM_CHAR to the focused control (what they
  /// cause, a message box say, runs after the step as a key's would).
  void Type(const std::u16string& text);
  /// Posts WM_COMMAND `id` to the foreground window.
  void Command(UINT id);
  /// Stores the screen description in `*out`.
  void Describe(std::string* out);
  /// Starts running the steps once a message loop runs.
  void Start();
  bool done() const { return steps_.empty(); }

 private:
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HWND owner_ = nullptr;
  std::deque<std::function<void()>> steps_;
};

}  // namespace platform_testing
