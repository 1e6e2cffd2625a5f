// The window tree: classes, creation and destruction, the parent/child and owner links,
// positions, styles, texts and window longs.

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/display.h"
#include "window_state.h"

namespace platform::win {

State& S() {
  static State* s = new State;  // never freed: threads may outlive static destruction
  return *s;
}

const std::uint64_t kPid = static_cast<std::uint64_t>(getpid());

std::u16string Lower(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return r;
}

Window* FindLocked(HWND h) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if ((v >> 32) != kPid) return nullptr;
  auto it = S().windows.find(static_cast<std::uint32_t>(v & 0xFFFFFFFFu) >> 2);
  return it == S().windows.end() ? nullptr : it->second.get();
}

Window* TopLevelOf(Window* w) {
  while (w && w->parent) w = w->parent;
  return w;
}

bool VisibleLocked(const Window* w) {
  for (; w; w = w->parent)
    if (!(w->style & WS_VISIBLE)) return false;
  return true;
}

POINT ClientOriginLocked(const Window* w) {
  POINT p{0, 0};
  for (; w; w = w->parent) {
    p.x += w->rect.left;
    p.y += w->rect.top;
  }
  return p;
}

RECT ScreenRectLocked(const Window* w) {
  POINT o = ClientOriginLocked(w);
  return RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
}

/// Every window below `w` in the tree, children before their parents.
void PostOrder(Window* w, std::vector<HWND>& out) {
  for (Window* c : w->children) PostOrder(c, out);
  out.push_back(w->handle);
}

/// Removes a window from the tree and frees it; its messages are dropped.
void FreeWindowLocked(Window* w) {
  HWND h = w->handle;
  for (Window* c : std::vector<Window*>(w->children)) FreeWindowLocked(c);
  auto& list = w->parent ? w->parent->children : S().tops;
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
  auto& hk = S().hotkeys;
  hk.erase(std::remove_if(hk.begin(), hk.end(), [h](const Hotkey& k) { return k.hwnd == h; }), hk.end());
  if (S().foreground == h) S().foreground = nullptr;
  for (auto& wq : S().queues) {
    auto q = wq.lock();
    if (!q) continue;
    if (q->focus == h) q->focus = nullptr;
    if (q->active == h) q->active = nullptr;
    q->timers.erase(
        std::remove_if(q->timers.begin(), q->timers.end(), [h](const Timer& t) { return t.hwnd == h; }),
        q->timers.end());
    for (auto it = q->sent.begin(); it != q->sent.end();) {
      if ((*it)->hwnd == h) {
        CompleteSent(*it, 0);
        it = q->sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  auto v = reinterpret_cast<std::uintptr_t>(h);
  S().windows.erase(static_cast<std::uint32_t>(v & 0xFFFFFFFFu) >> 2);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w) return 0;
    proc = w->proc;
  }
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LONG_PTR* ExtraSlot(Window* w, int index) {
  if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return nullptr;
  return reinterpret_cast<LONG_PTR*>(w->extra.data() + index);
}

HWND MakeHandle(std::uint32_t serial) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>((kPid << 32) | (serial << 2)));
}

}  // namespace platform::win

using namespace platform::win;

ATOM RegisterClass(const WNDCLASS* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpszClassName[0] || !wc->lpfnWndProc) return 0;
  if (wc->cbWndExtra < 0 || wc->cbWndExtra > 4096) return 0;
  std::lock_guard lock(S().mu);
  auto key = Lower(wc->lpszClassName);
  if (S().classes.count(key)) return 0;
  S().classes[key] =
      std::make_shared<WndClass>(WndClass{wc->lpszClassName, wc->style, wc->lpfnWndProc, wc->cbWndExtra,
                                          wc->hInstance, wc->hbrBackground, wc->hIcon});
  return static_cast<ATOM>(0xC000 + (S().classes.size() & 0x3FFF));
}

BOOL UnregisterClass(LPCWSTR className, HINSTANCE) {
  if (!className) return FALSE;
  std::lock_guard lock(S().mu);
  auto key = Lower(className);
  auto it = S().classes.find(key);
  if (it == S().classes.end()) return FALSE;
  for (auto& [serial, w] : S().windows)
    if (w->cls == it->second) return FALSE;
  S().classes.erase(it);
  return TRUE;
}

BOOL GetClassInfo(HINSTANCE, LPCWSTR className, WNDCLASS* wc) {
  if (!className || !wc) return FALSE;
  std::lock_guard lock(S().mu);
  auto it = S().classes.find(Lower(className));
  if (it == S().classes.end()) return FALSE;
  const WndClass& c = *it->second;
  *wc = WNDCLASS{c.style,    c.proc,
                 0,          c.cbWndExtra,
                 c.instance, c.icon,
                 nullptr,    c.background,
                 nullptr,    it->second->name.c_str()};
  return TRUE;
}

HWND CreateWindowEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
  if (!className) return nullptr;
  HWND h;
  bool activate = false;
  {
    std::lock_guard lock(S().mu);
    auto it = S().classes.find(Lower(className));
    if (it == S().classes.end()) return nullptr;
    Window* p = FindLocked(parent);
    if ((style & WS_CHILD) && !p) return nullptr;
    if (parent && !p) return nullptr;
    if (!(style & WS_CHILD)) CreateTrayLocked();
    auto w = std::make_unique<Window>();
    std::uint32_t serial = S().nextSerial++;
    w->handle = MakeHandle(serial);
    w->cls = it->second;
    w->title = windowName ? windowName : u"";
    w->style = style;
    w->exStyle = exStyle;
    w->proc = w->cls->proc;
    w->instance = instance;
    w->extra.assign(static_cast<std::size_t>(w->cls->cbWndExtra), 0);
    w->queue = CurrentQueueLocked();
    if (style & WS_CHILD) {
      w->parent = p;
      w->id = reinterpret_cast<LONG_PTR>(menu);
    } else if (p) {
      w->owner = TopLevelOf(p)->handle;
    }
    RECT def{0, platform::kTrayHeight, platform::ScreenWidth(),
             platform::ScreenHeight() - platform::kSoftKeyBarHeight};
    if (w->parent) def = RECT{0, 0, 0, 0};
    int rx = x == CW_USEDEFAULT ? def.left : x;
    int ry = x == CW_USEDEFAULT ? def.top : y;
    int rw = width == CW_USEDEFAULT ? def.right - def.left : std::max(width, 0);
    int rh = width == CW_USEDEFAULT ? def.bottom - def.top : std::max(height, 0);
    w->rect = RECT{rx, ry, rx + rw, ry + rh};
    Window* raw = w.get();
    h = w->handle;
    if (raw->parent) {
      raw->parent->children.insert(raw->parent->children.begin(), raw);
    } else {
      S().tops.push_back(raw);
      RaiseLocked(raw);
    }
    S().windows[serial] = std::move(w);
    if (style & WS_VISIBLE) {
      raw->hasUpdate = true;
      raw->erase = true;
      raw->update = RECT{0, 0, rw, rh};
      activate = !(style & WS_CHILD);
    }
  }
  // Outside the lock: the listener thread itself looks windows up.
  if (!(style & WS_CHILD)) platform::win::EnsureIpcListener();
  CREATESTRUCT cs{param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
                  windowName, className, exStyle};
  if (CallProc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  if (!IsWindow(h)) return nullptr;
  if (activate) ActivateInternal(h);
  return h;
}

BOOL DestroyWindow(HWND hwnd) {
  std::vector<HWND> owned;
  HWND nextFg = nullptr;
  bool wasFg = false;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w || w->destroying || w->system) return FALSE;
    // As on the phone, only the thread that created a window may destroy it.
    if (w->queue && w->queue != CurrentQueueLocked()) return FALSE;
    for (Window* t : S().tops)
      if (t->owner == hwnd) owned.push_back(t->handle);
  }
  for (HWND o : owned) DestroyWindow(o);
  std::vector<HWND> order;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w || w->destroying) return FALSE;
    if (VisibleLocked(w)) ExposeLocked(ScreenRectLocked(w));
    w->style &= ~WS_VISIBLE;
    PostOrder(w, order);
    for (HWND h : order) FindLocked(h)->destroying = true;
    if (S().foreground == hwnd) {
      wasFg = true;
      S().foreground = nullptr;
      nextFg = NextForegroundLocked(w->owner, hwnd);
    }
    // The focus leaves the dying tree.
    for (HWND h : order) {
      if (w->queue && w->queue->focus == h) w->queue->focus = nullptr;
    }
  }
  // Children receive WM_DESTROY before their parent.
  for (HWND h : order) CallProc(h, WM_DESTROY, 0, 0);
  {
    std::lock_guard lock(S().mu);
    if (Window* w = FindLocked(hwnd)) FreeWindowLocked(w);
    InvalidateTrayLocked();
  }
  if (wasFg && nextFg) ActivateInternal(nextFg);
  return TRUE;
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush = nullptr;
      {
        std::lock_guard lock(S().mu);
        if (Window* w = FindLocked(hwnd)) brush = w->cls->background;
      }
      if (!brush) return 0;
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(reinterpret_cast<HDC>(wParam), &rc, brush);
      return 1;
    }
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != hwnd && !IsChild(hwnd, focus)) SetFocus(hwnd);
      }
      return 0;
    case WM_SETTEXT:
      return SetWindowText(hwnd, reinterpret_cast<LPCWSTR>(lParam));
    case WM_GETTEXT:
      return GetWindowText(hwnd, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return GetWindowTextLength(hwnd);
    default:
      return 0;
  }
}

BOOL IsWindow(HWND hwnd) {
  if (IsRemote(hwnd)) return TRUE;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  return w && !w->destroying;
}

BOOL IsWindowVisible(HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  return w && VisibleLocked(w);
}

BOOL IsWindowEnabled(HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  BOOL wasDisabled;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w) return FALSE;
    wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
      w->style &= ~WS_DISABLED;
    else
      w->style |= WS_DISABLED;
    if (wasDisabled == !enable) return wasDisabled;
  }
  SendMessage(hwnd, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled;
}

BOOL IsChild(HWND parent, HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  for (w = w ? w->parent : nullptr; w; w = w->parent)
    if (w->handle == parent) return TRUE;
  return FALSE;
}

BOOL ShowWindow(HWND hwnd, int cmd) {
  bool activate = false;
  bool wasVisible;
  bool hideFg = false;
  HWND nextFg = nullptr;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w || w->system) return FALSE;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    if (cmd == SW_HIDE) {
      if (!wasVisible) return FALSE;
      if (VisibleLocked(w)) ExposeLocked(ScreenRectLocked(w));
      w->style &= ~WS_VISIBLE;
      if (S().foreground == hwnd) {
        hideFg = true;
        S().foreground = nullptr;
        nextFg = NextForegroundLocked(w->owner, hwnd);
        InvalidateTrayLocked();
      }
      if (w->queue) {
        Window* f = FindLocked(w->queue->focus);
        for (Window* a = f; a; a = a->parent)
          if (a == w) w->queue->focus = nullptr;
      }
    } else {
      if (!wasVisible) {
        w->style |= WS_VISIBLE;
        AddUpdateLocked(w, RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top}, true);
      }
      activate = !w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE;
    }
  }
  if (activate) ActivateInternal(hwnd);
  if (hideFg && nextFg) ActivateInternal(nextFg);
  return wasVisible ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
  bool sized = false, moved = false;
  RECT client{};
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w || w->system) return FALSE;
    RECT old = w->rect;
    RECT r = old;
    if (!(flags & SWP_NOMOVE)) {
      OffsetRect(&r, x - r.left, y - r.top);
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(cx, 0);
      r.bottom = r.top + std::max(cy, 0);
    }
    bool visible = VisibleLocked(w);
    if (visible && !EqualRect(&old, &r)) ExposeLocked(ScreenRectLocked(w));
    w->rect = r;
    sized = (r.right - r.left) != (old.right - old.left) || (r.bottom - r.top) != (old.bottom - old.top);
    moved = r.left != old.left || r.top != old.top;
    if (!(flags & SWP_NOZORDER)) {
      if (after == HWND_BOTTOM) {
        auto& list = w->parent ? w->parent->children : S().tops;
        list.erase(std::remove(list.begin(), list.end(), w), list.end());
        list.push_back(w);
      } else {
        RaiseLocked(w);
      }
    }
    if (flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
    if ((flags & SWP_HIDEWINDOW) && visible) {
      ExposeLocked(ScreenRectLocked(w));
      w->style &= ~WS_VISIBLE;
    }
    if (VisibleLocked(w) && (moved || sized || !(flags & SWP_NOZORDER) || (flags & SWP_SHOWWINDOW)))
      AddUpdateLocked(w, RECT{0, 0, r.right - r.left, r.bottom - r.top}, true);
    client = RECT{0, 0, r.right - r.left, r.bottom - r.top};
  }
  if (moved) {
    RECT wr;
    {
      std::lock_guard lock(S().mu);
      wr = FindLocked(hwnd) ? FindLocked(hwnd)->rect : RECT{};
    }
    SendMessage(hwnd, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(wr.left), static_cast<WORD>(wr.top)));
  }
  if (sized)
    SendMessage(hwnd, WM_SIZE, 0,
                MAKELPARAM(static_cast<WORD>(client.right), static_cast<WORD>(client.bottom)));
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL GetWindowRect(HWND hwnd, RECT* rc) {
  if (!rc) return FALSE;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  *rc = ScreenRectLocked(w);
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rc) {
  if (!rc) return FALSE;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  *rc = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, POINT* pt) {
  if (!pt) return FALSE;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  POINT o = ClientOriginLocked(w);
  pt->x += o.x;
  pt->y += o.y;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* pt) {
  if (!pt) return FALSE;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return FALSE;
  POINT o = ClientOriginLocked(w);
  pt->x -= o.x;
  pt->y -= o.y;
  return TRUE;
}

HWND GetParent(HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return nullptr;
  return w->parent ? w->parent->handle : w->owner;
}

HWND SetParent(HWND hwnd, HWND parent) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  Window* p = FindLocked(parent);
  if (!w || (parent && !p) || w->system) return nullptr;
  for (Window* a = p; a; a = a->parent)
    if (a == w) return nullptr;
  HWND old = w->parent ? w->parent->handle : nullptr;
  if (VisibleLocked(w)) ExposeLocked(ScreenRectLocked(w));
  auto& list = w->parent ? w->parent->children : S().tops;
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
  w->parent = p;
  if (p) {
    p->children.insert(p->children.begin(), w);
    w->style = (w->style | WS_CHILD) & ~WS_POPUP;
  } else {
    S().tops.push_back(w);
    RaiseLocked(w);
    w->style &= ~WS_CHILD;
  }
  if (VisibleLocked(w))
    AddUpdateLocked(w, RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top}, true);
  return old;
}

HWND GetWindow(HWND hwnd, UINT relation) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return nullptr;
  auto& list = w->parent ? w->parent->children : S().tops;
  auto it = std::find(list.begin(), list.end(), w);
  switch (relation) {
    case GW_HWNDNEXT:
      return (it != list.end() && it + 1 != list.end()) ? (*(it + 1))->handle : nullptr;
    case GW_HWNDPREV:
      return (it != list.end() && it != list.begin()) ? (*(it - 1))->handle : nullptr;
    case GW_OWNER:
      return w->owner;
    case GW_CHILD:
      return w->children.empty() ? nullptr : w->children.front()->handle;
    default:
      return nullptr;
  }
}

HWND GetDlgItem(HWND parent, int id) {
  std::lock_guard lock(S().mu);
  Window* p = FindLocked(parent);
  if (!p) return nullptr;
  for (Window* c : p->children)
    if (static_cast<int>(c->id) == id) return c->handle;
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  return (w && w->parent) ? static_cast<int>(w->id) : 0;
}

HWND WindowFromPoint(POINT pt) {
  std::lock_guard lock(S().mu);
  auto hit = [&](auto&& self, Window* w) -> Window* {
    if (!(w->style & WS_VISIBLE) || w->destroying) return nullptr;
    RECT r = ScreenRectLocked(w);
    if (!PtInRect(&r, pt)) return nullptr;
    for (Window* c : w->children)
      if (Window* f = self(self, c)) return f;
    return w;
  };
  for (Window* t : S().tops)
    if (Window* f = hit(hit, t)) return f->handle;
  return nullptr;
}

LONG_PTR GetWindowLong(HWND hwnd, int index) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_ID:
      return w->id;
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->exStyle);
    case GWL_USERDATA:
      return w->userData;
    default: {
      LONG_PTR* slot = ExtraSlot(w, index);
      return slot ? *slot : 0;
    }
  }
}

LONG_PTR SetWindowLong(HWND hwnd, int index, LONG_PTR value) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return 0;
  LONG_PTR old = 0;
  switch (index) {
    case GWL_WNDPROC:
      old = reinterpret_cast<LONG_PTR>(w->proc);
      if (value) w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWL_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWL_STYLE:
      old = static_cast<LONG_PTR>(w->style);
      w->style = static_cast<DWORD>(value);
      return old;
    case GWL_EXSTYLE:
      old = static_cast<LONG_PTR>(w->exStyle);
      w->exStyle = static_cast<DWORD>(value);
      return old;
    case GWL_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    default: {
      LONG_PTR* slot = ExtraSlot(w, index);
      if (!slot) return 0;
      old = *slot;
      *slot = value;
      return old;
    }
  }
}

BOOL SetWindowText(HWND hwnd, LPCWSTR text) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w || w->system) return FALSE;
  w->title = text ? text : u"";
  if (S().foreground == TopLevelOf(w)->handle) InvalidateTrayLocked();
  return TRUE;
}

int GetWindowText(HWND hwnd, LPWSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) {
    buffer[0] = 0;
    return 0;
  }
  int n = std::min<int>(static_cast<int>(w->title.size()), size - 1);
  std::copy_n(w->title.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

int GetWindowTextLength(HWND hwnd) {
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  return w ? static_cast<int>(w->title.size()) : 0;
}

int GetClassName(HWND hwnd, LPWSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) {
    buffer[0] = 0;
    return 0;
  }
  int n = std::min<int>(static_cast<int>(w->cls->name.size()), size - 1);
  std::copy_n(w->cls->name.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  auto v = reinterpret_cast<std::uintptr_t>(hwnd);
  if (IsRemote(hwnd)) {
    if (processId) *processId = static_cast<DWORD>(v >> 32);
    return 0;
  }
  std::lock_guard lock(S().mu);
  Window* w = FindLocked(hwnd);
  if (!w) return 0;
  if (processId) *processId = static_cast<DWORD>(kPid);
  return w->queue ? w->queue->threadId : 0;
}

HWND platform::win::FindLocalWindow(LPCWSTR className, LPCWSTR windowName) {
  std::lock_guard lock(S().mu);
  std::u16string cls = className ? Lower(className) : u"";
  for (Window* w : S().tops) {
    if (w->destroying) continue;
    if (className && Lower(w->cls->name) != cls) continue;
    if (windowName && w->title != windowName) continue;
    return w->handle;
  }
  return nullptr;
}

HWND FindWindow(LPCWSTR className, LPCWSTR windowName) {
  if (HWND h = FindLocalWindow(className, windowName)) return h;
  return RemoteFind(className, windowName);
}
