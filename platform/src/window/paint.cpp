// Painting: update regions, exposure of what a window uncovers, and the paint device contexts.

#include <memory>

#include "platform/display.h"
#include "window_state.h"

namespace platform::win {

/// Invalidates whatever lies under `screen` (all visible windows there).
void ExposeLocked(const RECT& screen) {
  if (RectEmpty(screen)) return;
  for (auto& [serial, wp] : S().windows) {
    Window* w = wp.get();
    if (w->destroying || !VisibleLocked(w)) continue;
    RECT sr = ScreenRectLocked(w);
    RECT hit = Intersect(sr, screen);
    if (RectEmpty(hit)) continue;
    OffsetRect(&hit, -sr.left, -sr.top);
    AddUpdateLocked(w, hit, true);
  }
}

void AddUpdateLocked(Window* w, const RECT& clientRect, bool erase) {
  RECT client{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  RECT r = Intersect(clientRect, client);
  if (RectEmpty(r)) return;
  if (w->hasUpdate) {
    UnionRect(&w->update, &w->update, &r);
  } else {
    w->update = r;
    w->hasUpdate = true;
  }
  w->erase = w->erase || erase;
  NotifyQueue(w);
  // A parent that does not clip its children paints over them, so they repaint after it.
  if (!(w->style & WS_CLIPCHILDREN)) {
    for (Window* c : w->children) {
      if (!(c->style & WS_VISIBLE)) continue;
      RECT cr = Intersect(r, c->rect);
      if (RectEmpty(cr)) continue;
      OffsetRect(&cr, -c->rect.left, -c->rect.top);
      AddUpdateLocked(c, cr, true);
    }
  }
}

/// Window of queue `q` that needs painting, parents before children.
Window* FindPaintLocked(const std::shared_ptr<Queue>& q, Window* w) {
  if (!(w->style & WS_VISIBLE) || w->destroying) return nullptr;
  if (w->hasUpdate && w->queue == q && !w->system) return w;
  for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
    if (Window* f = FindPaintLocked(q, *it)) return f;
  return nullptr;
}

}  // namespace platform::win

using namespace platform::win;

namespace {

/// Visible part of a window's client area on the screen.
Region VisibleRegionLocked(Window* w) {
  Region region;
  if (!VisibleLocked(w)) return region;
  region.push_back(ScreenRectLocked(w));
  for (Window* a = w->parent; a; a = a->parent) IntersectRegion(region, ScreenRectLocked(a));
  IntersectRegion(region, RECT{0, 0, platform::ScreenWidth(), platform::ScreenHeight()});
  // Siblings above this window and above each of its ancestors cover it.
  for (Window* a = w; a; a = a->parent) {
    auto& list = a->parent ? a->parent->children : S().tops;
    for (Window* s : list) {
      if (s == a) break;
      if ((s->style & WS_VISIBLE) && !s->destroying) Subtract(region, ScreenRectLocked(s));
    }
  }
  if (w->style & WS_CLIPCHILDREN)
    for (Window* c : w->children)
      if ((c->style & WS_VISIBLE) && !c->destroying) Subtract(region, ScreenRectLocked(c));
  return region;
}

}  // namespace

BOOL InvalidateRect(HWND hwnd, const RECT* rc, BOOL erase) {
  std::lock_guard lock(S().mu);
  if (!hwnd) {
    for (Window* t : S().tops) AddUpdateLocked(t, RECT{0, 0, 1 << 20, 1 << 20}, erase != 0);
    return TRUE;
  }
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  RECT all{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  AddUpdateLocked(w, rc ? *rc : all, erase != 0);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rc) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  if (!rc) {
    w->hasUpdate = false;
    w->erase = false;
    return TRUE;
  }
  // With a bounding-box update area, only a rectangle that covers it validates it.
  if (w->hasUpdate && rc->left <= w->update.left && rc->top <= w->update.top &&
      rc->right >= w->update.right && rc->bottom >= w->update.bottom) {
    w->hasUpdate = false;
    w->erase = false;
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rc, BOOL) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  if (rc) *rc = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
  return w->hasUpdate ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND hwnd) {
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w) return FALSE;
    if (!w->hasUpdate || !VisibleLocked(w)) return TRUE;
  }
  SendMessage(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps) return nullptr;
  HDC hdc;
  bool erase;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w) return nullptr;
    RECT update = w->hasUpdate ? w->update : RECT{0, 0, 0, 0};
    erase = w->hasUpdate && w->erase;
    w->hasUpdate = false;
    w->erase = false;
    Region clip = VisibleRegionLocked(w);
    POINT origin = ClientOriginLocked(w);
    RECT screenUpdate = update;
    OffsetRect(&screenUpdate, origin.x, origin.y);
    IntersectRegion(clip, screenUpdate);
    hdc = CreateSurfaceDC(&Screen(), origin, std::move(clip), hwnd);
    *ps = PAINTSTRUCT{hdc, FALSE, update, FALSE, FALSE, {}};
  }
  if (erase) ps->fErase = SendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
  return hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps) {
  if (!ps) return FALSE;
  ReleaseSurfaceDC(ps->hdc);
  MarkScreenDirty();
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  std::lock_guard lock(S().mu);
  if (!hwnd) {
    Region all{RECT{0, 0, platform::ScreenWidth(), platform::ScreenHeight()}};
    return CreateSurfaceDC(&Screen(), POINT{0, 0}, std::move(all), nullptr);
  }
  Window* w = FindLocked(hwnd);
  if (!w) return nullptr;
  return CreateSurfaceDC(&Screen(), ClientOriginLocked(w), VisibleRegionLocked(w), hwnd);
}

int ReleaseDC(HWND, HDC hdc) {
  if (!ReleaseSurfaceDC(hdc)) return 0;
  MarkScreenDirty();
  return 1;
}
