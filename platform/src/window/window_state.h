#pragma once
// The window system's shared state, private to platform/src/window: windows, per-thread
// message queues, timers and hot keys, and the helpers the window files share.
//
// One mutex guards the whole window tree and every queue; it is never held while a window
// procedure runs. Handles carry the owning process id in their upper 32 bits so that a
// handle found in another process routes its messages back over that process's socket.
// Helpers named ...Locked expect that mutex to be held.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "internal.h"

namespace platform::win {

struct Queue;

struct SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<Queue> sender;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  std::uint64_t due;
};

struct Queue {
  DWORD threadId = 0;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  std::condition_variable cv;
  bool quit = false;
  int quitCode = 0;
  bool dead = false;
  int inSend = 0;
  HWND focus = nullptr;
  HWND active = nullptr;
};

struct WndClass {
  std::u16string name;
  UINT style;
  WNDPROC proc;
  int cbWndExtra;
  HINSTANCE instance;
  HBRUSH background;
  HICON icon;
};

struct Window {
  HWND handle;
  std::shared_ptr<WndClass> cls;
  std::u16string title;
  DWORD style;
  DWORD exStyle;
  Window* parent = nullptr;
  HWND owner = nullptr;
  std::vector<Window*> children;  // front (topmost) first
  RECT rect;                      // relative to the parent's client area, or the screen
  WNDPROC proc;
  HINSTANCE instance;
  LONG_PTR userData = 0;
  LONG_PTR id = 0;
  std::vector<std::uint8_t> extra;
  std::shared_ptr<Queue> queue;  // null for the tray, which the system paints itself
  RECT update{0, 0, 0, 0};       // client coordinates
  bool hasUpdate = false;
  bool erase = false;
  bool destroying = false;
  bool system = false;
};

struct Hotkey {
  HWND hwnd;
  int id;
  UINT modifiers;
  UINT vk;
};

struct State {
  std::mutex mu;
  std::map<std::u16string, std::shared_ptr<WndClass>> classes;  // keyed by lower-case name
  std::map<std::uint32_t, std::unique_ptr<Window>> windows;
  std::vector<Window*> tops;  // topmost first
  std::vector<Hotkey> hotkeys;
  std::vector<std::weak_ptr<Queue>> queues;
  std::uint32_t nextSerial = 1;
  HWND foreground = nullptr;
  HWND tray = nullptr;
  bool virtualClock = false;
  std::uint64_t virtualNow = 0;
  UINT_PTR nextTimerId = 0x7F00;
};

State& S();
extern const std::uint64_t kPid;
std::u16string Lower(std::u16string_view s);
std::uint64_t NowLocked();
Window* FindLocked(HWND h);
std::shared_ptr<Queue> CurrentQueueLocked();
std::shared_ptr<Queue> CurrentQueue();
Window* TopLevelOf(Window* w);
bool VisibleLocked(const Window* w);
POINT ClientOriginLocked(const Window* w);
RECT ScreenRectLocked(const Window* w);
void CompleteSent(const std::shared_ptr<SentMessage>& s, LRESULT result);
void ExposeLocked(const RECT& screen);
void NotifyQueue(Window* w);
void AddUpdateLocked(Window* w, const RECT& clientRect, bool erase);
void InvalidateTrayLocked();
void PostOrder(Window* w, std::vector<HWND>& out);
bool IsActivatable(const Window* w);
HWND NextForegroundLocked(HWND prefer, HWND excluding);
void RaiseLocked(Window* w);
void ActivateInternal(HWND target, WORD how = WA_ACTIVE);
void CreateTrayLocked();
void PaintTrayIfNeeded();
void FreeWindowLocked(Window* w);
LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void RunSent(const std::shared_ptr<Queue>& q, const std::shared_ptr<SentMessage>& s);
Window* FindPaintLocked(const std::shared_ptr<Queue>& q, Window* w);
LONG_PTR* ExtraSlot(Window* w, int index);
HWND MakeHandle(std::uint32_t serial);

}  // namespace platform::win
