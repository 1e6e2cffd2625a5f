// Activation, the foreground window and the keyboard focus.

#include <algorithm>

#include "window_state.h"

namespace platform::win {

bool IsActivatable(const Window* w) {
  return w && !w->system && !w->parent && !w->destroying && (w->style & WS_VISIBLE) &&
         !(w->style & WS_DISABLED);
}

/// The first visible top-level window that may take the foreground, preferring `prefer`.
HWND NextForegroundLocked(HWND prefer, HWND excluding) {
  Window* p = FindLocked(prefer);
  if (p && p->handle != excluding && IsActivatable(p)) return p->handle;
  for (Window* w : S().tops)
    if (w->handle != excluding && IsActivatable(w)) return w->handle;
  return nullptr;
}

void RaiseLocked(Window* w) {
  auto& list = w->parent ? w->parent->children : S().tops;
  auto it = std::find(list.begin(), list.end(), w);
  if (it == list.end()) return;
  list.erase(it);
  // The tray stays above every application window.
  auto pos = list.begin();
  while (pos != list.end() && (*pos)->system) ++pos;
  list.insert(pos, w);
}

void ActivateInternal(HWND target, WORD how) {
  HWND old;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(target);
    if (!w) return;
    old = S().foreground;
    // Owned windows stay above their owner.
    RaiseLocked(w);
    std::vector<Window*> owned;
    for (Window* t : S().tops)
      if (t->owner == target) owned.push_back(t);
    for (auto it = owned.rbegin(); it != owned.rend(); ++it) RaiseLocked(*it);
    if (old == target) return;
    S().foreground = target;
    if (w->queue) w->queue->active = target;
    AddUpdateLocked(w, RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top}, true);
    for (Window* o : owned) AddUpdateLocked(o, RECT{0, 0, 1 << 20, 1 << 20}, true);
    InvalidateTrayLocked();
  }
  if (old && IsWindow(old))
    SendMessage(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(target));
  SendMessage(target, WM_ACTIVATE, MAKEWPARAM(how, 0), reinterpret_cast<LPARAM>(old));
}

}  // namespace platform::win

using namespace platform::win;

BOOL SetForegroundWindow(HWND hwnd) {
  auto v = reinterpret_cast<std::uintptr_t>(hwnd);
  bool owned = (v & 1) != 0;
  HWND base = reinterpret_cast<HWND>(v & ~static_cast<std::uintptr_t>(1));
  if (IsRemote(base)) return RemoteSetForeground(hwnd) ? TRUE : FALSE;
  HWND target;
  {
    std::lock_guard lock(S().mu);
    Window* w = TopLevelOf(FindLocked(base));
    if (!w || w->destroying || w->system) return FALSE;
    target = w->handle;
    if (owned) {
      // The topmost visible window owned by it (directly or through other owned windows).
      for (Window* t : S().tops) {
        if (!IsActivatable(t)) continue;
        for (HWND o = t->owner; o; o = FindLocked(o) ? FindLocked(o)->owner : nullptr) {
          if (o == target) {
            target = t->handle;
            break;
          }
        }
        if (target != w->handle) break;
      }
    }
  }
  ActivateInternal(target);
  return TRUE;
}

HWND GetForegroundWindow() {
  std::lock_guard lock(S().mu);
  return S().foreground;
}

HWND SetActiveWindow(HWND hwnd) {
  HWND old = GetForegroundWindow();
  if (!SetForegroundWindow(hwnd)) return nullptr;
  return old;
}

HWND GetActiveWindow() {
  std::lock_guard lock(S().mu);
  auto q = CurrentQueueLocked();
  return FindLocked(q->active) ? q->active : nullptr;
}

HWND SetFocus(HWND hwnd) {
  HWND old;
  {
    std::lock_guard lock(S().mu);
    auto q = CurrentQueueLocked();
    old = q->focus;
    if (hwnd) {
      Window* w = FindLocked(hwnd);
      if (!w || w->destroying || w->queue != q) return nullptr;
    }
    if (old == hwnd) return old;
    q->focus = hwnd;
  }
  if (old && IsWindow(old)) SendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (hwnd) SendMessage(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND GetFocus() {
  std::lock_guard lock(S().mu);
  auto q = CurrentQueueLocked();
  return FindLocked(q->focus) ? q->focus : nullptr;
}
