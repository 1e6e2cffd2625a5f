// What the test driver injects and reads: keys, clicks, the virtual clock and the
// visible windows.

#include "window_state.h"

namespace platform::win {

void SetVirtualClock(bool on) {
  std::lock_guard lock(S().mu);
  S().virtualClock = on;
  S().virtualNow = 0;
}

bool VirtualClockOn() {
  std::lock_guard lock(S().mu);
  return S().virtualClock;
}

void AdvanceVirtualClock(DWORD toMs) {
  std::lock_guard lock(S().mu);
  if (toMs > S().virtualNow) S().virtualNow = toMs;
  for (auto& wq : S().queues)
    if (auto q = wq.lock()) q->cv.notify_all();
}

bool NextTimerDue(std::uint64_t* due) {
  std::lock_guard lock(S().mu);
  bool any = false;
  for (auto& wq : S().queues) {
    auto q = wq.lock();
    if (!q) continue;
    for (auto& t : q->timers) {
      if (!any || t.due < *due) *due = t.due;
      any = true;
    }
  }
  return any;
}

void InjectKey(UINT vk, bool down) {
  std::lock_guard lock(S().mu);
  Window* fg = FindLocked(S().foreground);
  // Hot keys first: the foreground window's own, then any.
  const Hotkey* hit = nullptr;
  for (const auto& k : S().hotkeys) {
    if (k.vk != vk) continue;
    if (!down && !(k.modifiers & MOD_KEYUP)) continue;
    Window* kw = FindLocked(k.hwnd);
    if (!kw) continue;
    if (fg && TopLevelOf(kw) == fg) {
      hit = &k;
      break;
    }
    if (!hit) hit = &k;
  }
  if (hit) {
    Window* kw = FindLocked(hit->hwnd);
    if (kw->queue) {
      UINT mods = hit->modifiers & ~MOD_KEYUP;
      if (!down) mods |= MOD_KEYUP;
      kw->queue->posted.push_back(MSG{hit->hwnd,
                                      WM_HOTKEY,
                                      static_cast<WPARAM>(hit->id),
                                      MAKELPARAM(static_cast<WORD>(mods), static_cast<WORD>(vk)),
                                      static_cast<DWORD>(NowLocked()),
                                      {}});
      kw->queue->cv.notify_all();
    }
    return;
  }
  if (!fg || !fg->queue) return;
  Window* target = FindLocked(fg->queue->focus);
  if (!target || TopLevelOf(target) != fg) target = fg;
  if (!target->queue) return;
  LPARAM lp = down ? 1 : static_cast<LPARAM>(0xC0000001u);
  target->queue->posted.push_back(MSG{target->handle,
                                      down ? WM_KEYDOWN : WM_KEYUP,
                                      static_cast<WPARAM>(vk),
                                      lp,
                                      static_cast<DWORD>(NowLocked()),
                                      {}});
  target->queue->cv.notify_all();
}

void InjectClick(int x, int y) {
  HWND hit = WindowFromPoint(POINT{x, y});
  if (!hit) return;
  // A tap on a window of another top-level window brings that one to the front first, as
  // the phone does; a window that is disabled (behind a modal dialog) stays where it is.
  HWND activate = nullptr;
  {
    std::lock_guard lock(S().mu);
    Window* top = TopLevelOf(FindLocked(hit));
    if (top && top->handle != S().foreground && IsActivatable(top)) activate = top->handle;
  }
  if (activate) ActivateInternal(activate, WA_CLICKACTIVE);
  POINT p{x, y};
  ScreenToClient(hit, &p);
  LPARAM lp = MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
  PostMessage(hit, WM_LBUTTONDOWN, 1, lp);
  PostMessage(hit, WM_LBUTTONUP, 0, lp);
}

bool ThreadHasVisibleTopLevel() {
  std::lock_guard lock(S().mu);
  auto q = CurrentQueueLocked();
  for (Window* w : S().tops)
    if (!w->system && w->queue == q && (w->style & WS_VISIBLE)) return true;
  return false;
}

HWND ForegroundFocus() {
  std::lock_guard lock(S().mu);
  Window* fg = FindLocked(S().foreground);
  if (!fg || !fg->queue) return nullptr;
  Window* f = FindLocked(fg->queue->focus);
  return f && TopLevelOf(f) == fg ? f->handle : nullptr;
}

std::vector<WindowInfo> VisibleWindows() {
  std::vector<WindowInfo> out;
  std::lock_guard lock(S().mu);
  auto visit = [&](auto&& self, Window* w, int depth) -> void {
    if (!(w->style & WS_VISIBLE) || w->destroying) return;
    out.push_back(WindowInfo{w->handle, depth, w->cls->name, w->title,
                             w->parent ? static_cast<int>(w->id) : 0, ScreenRectLocked(w)});
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) self(self, *it, depth + 1);
  };
  for (auto it = S().tops.rbegin(); it != S().tops.rend(); ++it) visit(visit, *it, 0);
  return out;
}

}  // namespace platform::win
