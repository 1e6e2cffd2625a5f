// Windows, per-thread message queues, timers, painting, focus and activation.
//
// One mutex guards the whole window tree and every queue; it is never held while a window
// procedure runs. Handles carry the owning process id in their upper 32 bits so that a
// handle found in another process routes its messages back over that process's socket.

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <thread>

#include "internal.h"
#include "platform/display.h"
#include "platform/listview.h"

namespace platform::win {
namespace {

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

std::uint64_t NowLocked() {
  if (S().virtualClock) return S().virtualNow;
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

Window* FindLocked(HWND h) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if ((v >> 32) != kPid) return nullptr;
  auto it = S().windows.find(static_cast<std::uint32_t>(v & 0xFFFFFFFFu) >> 2);
  return it == S().windows.end() ? nullptr : it->second.get();
}

struct QueueHolder {
  std::shared_ptr<Queue> q;
  ~QueueHolder();
};
thread_local QueueHolder tQueue;

std::shared_ptr<Queue> CurrentQueueLocked() {
  if (!tQueue.q) {
    tQueue.q = std::make_shared<Queue>();
    tQueue.q->threadId = static_cast<DWORD>(syscall(SYS_gettid));
    auto& qs = S().queues;
    qs.erase(std::remove_if(qs.begin(), qs.end(), [](auto& w) { return w.expired(); }), qs.end());
    qs.push_back(tQueue.q);
  }
  return tQueue.q;
}

std::shared_ptr<Queue> CurrentQueue() {
  std::lock_guard lock(S().mu);
  return CurrentQueueLocked();
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

void CompleteSent(const std::shared_ptr<SentMessage>& s, LRESULT result) {
  s->result = result;
  s->done = true;
  if (s->sender) s->sender->cv.notify_all();
}

void AddUpdateLocked(Window* w, const RECT& clientRect, bool erase);

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

void NotifyQueue(Window* w) {
  if (w->queue) w->queue->cv.notify_all();
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

void InvalidateTrayLocked() {
  if (Window* t = FindLocked(S().tray)) AddUpdateLocked(t, t->rect, true);
}

/// Every window below `w` in the tree, children before their parents.
void PostOrder(Window* w, std::vector<HWND>& out) {
  for (Window* c : w->children) PostOrder(c, out);
  out.push_back(w->handle);
}

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

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void ActivateInternal(HWND target, WORD how = WA_ACTIVE) {
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

void CreateTrayLocked() {
  if (S().tray) return;
  auto w = std::make_unique<Window>();
  std::uint32_t serial = S().nextSerial++;
  w->handle = reinterpret_cast<HWND>(static_cast<std::uintptr_t>((kPid << 32) | (serial << 2)));
  auto cls = std::make_shared<WndClass>(
      WndClass{u"tray", 0, DefWindowProc, 0, nullptr, GetSysColorBrush(COLOR_HIGHLIGHT), nullptr});
  w->cls = cls;
  w->title = u"tray";
  w->style = WS_VISIBLE | WS_POPUP;
  w->exStyle = 0;
  w->rect = RECT{0, 0, ScreenWidth(), kTrayHeight};
  w->proc = DefWindowProc;
  w->instance = nullptr;
  w->system = true;
  w->hasUpdate = true;
  w->update = RECT{0, 0, ScreenWidth(), kTrayHeight};
  S().tray = w->handle;
  S().tops.insert(S().tops.begin(), w.get());
  S().windows[serial] = std::move(w);
}

/// Paints the tray when it needs it; runs on whichever thread pumps messages.
void PaintTrayIfNeeded() {
  std::u16string title;
  Region clip;
  {
    std::lock_guard lock(S().mu);
    Window* t = FindLocked(S().tray);
    if (!t || !t->hasUpdate) return;
    t->hasUpdate = false;
    if (Window* fg = FindLocked(S().foreground)) title = fg->title;
    clip.push_back(t->rect);
  }
  RECT rc{0, 0, ScreenWidth(), kTrayHeight};
  HDC hdc = CreateSurfaceDC(&Screen(), POINT{0, 0}, std::move(clip), nullptr);
  PaintTray(hdc, rc, title);
  ReleaseSurfaceDC(hdc);
  MarkScreenDirty();
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

QueueHolder::~QueueHolder() {
  if (!q) return;
  std::lock_guard lock(S().mu);
  q->dead = true;
  for (auto& s : q->sent) CompleteSent(s, 0);
  q->sent.clear();
  // Windows die with their thread.
  std::vector<Window*> mine;
  for (auto& [serial, w] : S().windows)
    if (w->queue == q && !w->parent) mine.push_back(w.get());
  for (Window* w : mine) {
    if (VisibleLocked(w)) ExposeLocked(ScreenRectLocked(w));
    FreeWindowLocked(w);
  }
  for (auto& [serial, w] : S().windows)
    if (w->queue == q) w->queue.reset();
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

void RunSent(const std::shared_ptr<Queue>& q, const std::shared_ptr<SentMessage>& s) {
  {
    std::lock_guard lock(S().mu);
    ++q->inSend;
  }
  LRESULT r = CallProc(s->hwnd, s->msg, s->wParam, s->lParam);
  std::lock_guard lock(S().mu);
  --q->inSend;
  CompleteSent(s, r);
}

/// Window of queue `q` that needs painting, parents before children.
Window* FindPaintLocked(const std::shared_ptr<Queue>& q, Window* w) {
  if (!(w->style & WS_VISIBLE) || w->destroying) return nullptr;
  if (w->hasUpdate && w->queue == q && !w->system) return w;
  for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
    if (Window* f = FindPaintLocked(q, *it)) return f;
  return nullptr;
}

enum class Fetch { Message, Quit, None };

/// One pass over the queue in the platform's priority order: sent messages (run here),
/// posted messages, quit, paint, timers.
Fetch FetchOne(const std::shared_ptr<Queue>& q, MSG* out, bool remove, bool* ranSent) {
  std::unique_lock lock(S().mu);
  while (!q->sent.empty()) {
    auto s = q->sent.front();
    q->sent.pop_front();
    lock.unlock();
    RunSent(q, s);
    *ranSent = true;
    lock.lock();
  }
  std::uint64_t now = NowLocked();
  if (!q->posted.empty()) {
    *out = q->posted.front();
    if (remove) q->posted.pop_front();
    return Fetch::Message;
  }
  if (q->quit) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, static_cast<DWORD>(now), {}};
    if (remove) q->quit = false;
    return Fetch::Quit;
  }
  for (auto it = S().tops.rbegin(); it != S().tops.rend(); ++it) {
    if (Window* w = FindPaintLocked(q, *it)) {
      *out = MSG{w->handle, WM_PAINT, 0, 0, static_cast<DWORD>(now), {}};
      return Fetch::Message;
    }
  }
  Timer* best = nullptr;
  for (auto& t : q->timers)
    if (t.due <= now && (!best || t.due < best->due)) best = &t;
  if (best) {
    *out = MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), static_cast<DWORD>(now),
               {}};
    if (remove) best->due = now + std::max<UINT>(best->elapse, 1);
    return Fetch::Message;
  }
  return Fetch::None;
}

void WaitForWork(const std::shared_ptr<Queue>& q) {
  std::unique_lock lock(S().mu);
  if (!q->sent.empty() || !q->posted.empty() || q->quit) return;
  std::uint64_t now = NowLocked();
  std::uint64_t due = UINT64_MAX;
  for (auto& t : q->timers) due = std::min(due, t.due);
  for (Window* top : S().tops)
    if (FindPaintLocked(q, top)) return;
  auto limit = std::chrono::milliseconds(1000);
  if (DisplayNeedsPolling()) limit = std::chrono::milliseconds(10);
  if (!S().virtualClock && due != UINT64_MAX) {
    if (due <= now) return;
    limit = std::min<std::chrono::milliseconds>(limit, std::chrono::milliseconds(due - now));
  }
  q->cv.wait_for(lock, limit);
}

bool GetOrPeek(MSG* msg, bool wait, bool remove) {
  auto q = CurrentQueue();
  for (;;) {
    DisplayPump();
    PaintTrayIfNeeded();
    bool ranSent = false;
    MSG m{};
    Fetch f = FetchOne(q, &m, remove, &ranSent);
    if (f != Fetch::None) {
      if (msg) *msg = m;
      return f == Fetch::Message || !wait;
    }
    if (!wait) return false;
    WaitForWork(q);
  }
}

LONG_PTR* ExtraSlot(Window* w, int index) {
  if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) return nullptr;
  return reinterpret_cast<LONG_PTR*>(w->extra.data() + index);
}

HWND MakeHandle(std::uint32_t serial) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>((kPid << 32) | (serial << 2)));
}

}  // namespace

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

using namespace platform::win;

DWORD platform::WindowClockMs() {
  std::lock_guard lock(S().mu);
  return static_cast<DWORD>(NowLocked());
}

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

BOOL GetMessage(MSG* msg, HWND, UINT, UINT) {
  if (!msg) return FALSE;
  GetOrPeek(msg, true, true);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessage(MSG* msg, HWND, UINT, UINT, UINT remove) {
  return GetOrPeek(msg, false, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || msg->message != WM_KEYDOWN) return FALSE;
  WCHAR ch = 0;
  UINT vk = static_cast<UINT>(msg->wParam);
  if (vk >= '0' && vk <= '9')
    ch = static_cast<WCHAR>(vk);
  else if (vk >= 'A' && vk <= 'Z')
    ch = static_cast<WCHAR>(vk - 'A' + 'a');
  else if (vk == VK_TSTAR)
    ch = u'*';
  else if (vk == VK_TPOUND)
    ch = u'#';
  else if (vk == VK_RETURN)
    ch = u'\r';
  else if (vk == VK_BACK)
    ch = 8;
  else if (vk == VK_SPACE)
    ch = u' ';
  if (!ch) return FALSE;
  std::lock_guard lock(S().mu);
  auto q = CurrentQueueLocked();
  q->posted.push_front(MSG{msg->hwnd, WM_CHAR, ch, msg->lParam, msg->time, msg->pt});
  return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
    return 0;
  }
  if (!msg->hwnd) return 0;
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsRemote(hwnd)) {
    // Only plain values cross processes; pointers cannot.
    return RemoteSend(hwnd, msg, wParam, lParam, nullptr) ? TRUE : FALSE;
  }
  std::lock_guard lock(S().mu);
  std::shared_ptr<Queue> q;
  if (!hwnd) {
    q = CurrentQueueLocked();
  } else {
    Window* w = FindLocked(hwnd);
    if (!w || w->destroying) return FALSE;
    if (w->system) {
      // The tray redraws its title bar on WM_USER with wParam 4.
      if (msg == WM_USER && wParam == 4) InvalidateTrayLocked();
      for (auto& wq : S().queues)
        if (auto any = wq.lock()) any->cv.notify_all();
      return TRUE;
    }
    q = w->queue;
  }
  if (!q || q->dead) return FALSE;
  q->posted.push_back(MSG{hwnd, msg, wParam, lParam, static_cast<DWORD>(NowLocked()), {}});
  q->cv.notify_all();
  return TRUE;
}

namespace {

LRESULT SendInternal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT timeoutMs, bool* ok) {
  *ok = true;
  if (IsRemote(hwnd)) {
    LRESULT r = 0;
    *ok = RemoteSend(hwnd, msg, wParam, lParam, &r);
    return r;
  }
  std::shared_ptr<Queue> self, target;
  WNDPROC proc = nullptr;
  {
    std::lock_guard lock(S().mu);
    Window* w = FindLocked(hwnd);
    if (!w) {
      *ok = false;
      return 0;
    }
    if (w->system) {
      if (msg == WM_USER && wParam == 4) InvalidateTrayLocked();
      return 0;
    }
    self = CurrentQueueLocked();
    target = w->queue;
    proc = w->proc;
    if (!target || target->dead) {
      *ok = false;
      return 0;
    }
  }
  if (target == self) return proc ? proc(hwnd, msg, wParam, lParam) : 0;
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->msg = msg;
  sent->wParam = wParam;
  sent->lParam = lParam;
  sent->sender = self;
  std::unique_lock lock(S().mu);
  target->sent.push_back(sent);
  target->cv.notify_all();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // While waiting, messages sent to this thread still run, so two threads sending to each
  // other make progress.
  while (!sent->done) {
    if (!self->sent.empty()) {
      auto s = self->sent.front();
      self->sent.pop_front();
      lock.unlock();
      RunSent(self, s);
      lock.lock();
      continue;
    }
    if (target->dead) break;
    if (timeoutMs == INFINITE) {
      self->cv.wait(lock);
    } else if (self->cv.wait_until(lock, deadline) == std::cv_status::timeout && !sent->done) {
      // A message not yet started is withdrawn: its parameters may point into the caller's
      // stack. One already running is waited for, for the same reason.
      auto it = std::find(target->sent.begin(), target->sent.end(), sent);
      if (it != target->sent.end()) {
        target->sent.erase(it);
        *ok = false;
        return 0;
      }
      deadline = std::chrono::steady_clock::time_point::max();
      timeoutMs = INFINITE;
    }
  }
  if (!sent->done) *ok = false;
  return sent->result;
}

}  // namespace

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  bool ok;
  return SendInternal(hwnd, msg, wParam, lParam, INFINITE, &ok);
}

LRESULT SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT, UINT timeoutMs,
                           DWORD* result) {
  bool ok;
  LRESULT r = SendInternal(hwnd, msg, wParam, lParam, timeoutMs, &ok);
  if (result) *result = static_cast<DWORD>(r);
  return ok ? 1 : 0;
}

void PostQuitMessage(int exitCode) {
  std::lock_guard lock(S().mu);
  auto q = CurrentQueueLocked();
  q->quit = true;
  q->quitCode = exitCode;
  q->cv.notify_all();
}

BOOL InSendMessage() {
  std::lock_guard lock(S().mu);
  return CurrentQueueLocked()->inSend > 0 ? TRUE : FALSE;
}

DWORD GetMessagePos() {
  return 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  std::lock_guard lock(S().mu);
  std::shared_ptr<Queue> q;
  if (hwnd) {
    Window* w = FindLocked(hwnd);
    if (!w || !w->queue) return 0;
    q = w->queue;
  } else {
    q = CurrentQueueLocked();
    id = ++S().nextTimerId;
  }
  std::uint64_t due = NowLocked() + std::max<UINT>(elapseMs, 1);
  for (auto& t : q->timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.elapse = elapseMs;
      t.proc = proc;
      t.due = due;
      q->cv.notify_all();
      return hwnd ? (id ? id : 1) : id;
    }
  }
  q->timers.push_back(Timer{hwnd, id, elapseMs, proc, due});
  q->cv.notify_all();
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(S().mu);
  bool found = false;
  for (auto& wq : S().queues) {
    auto q = wq.lock();
    if (!q) continue;
    auto before = q->timers.size();
    q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(),
                                   [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }),
                    q->timers.end());
    found = found || q->timers.size() != before;
    // A WM_TIMER already queued is not delivered after KillTimer.
    q->posted.erase(std::remove_if(q->posted.begin(), q->posted.end(),
                                   [&](const MSG& m) {
                                     return m.message == WM_TIMER && m.hwnd == hwnd && m.wParam == id;
                                   }),
                    q->posted.end());
  }
  return found ? TRUE : FALSE;
}

BOOL RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT vk) {
  std::lock_guard lock(S().mu);
  if (!FindLocked(hwnd)) return FALSE;
  for (auto& k : S().hotkeys) {
    if (k.hwnd == hwnd && k.id == id) {
      k.modifiers = modifiers;
      k.vk = vk;
      return TRUE;
    }
  }
  S().hotkeys.push_back(Hotkey{hwnd, id, modifiers, vk});
  return TRUE;
}

BOOL UnregisterHotKey(HWND hwnd, int id) {
  std::lock_guard lock(S().mu);
  auto& hk = S().hotkeys;
  auto before = hk.size();
  hk.erase(
      std::remove_if(hk.begin(), hk.end(), [&](const Hotkey& k) { return k.hwnd == hwnd && k.id == id; }),
      hk.end());
  return hk.size() != before ? TRUE : FALSE;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return platform::ScreenWidth();
    case SM_CYSCREEN:
      return platform::ScreenHeight();
    case SM_CXVSCROLL:
      return platform::kListViewScrollBarWidth;
    default:
      return 0;
  }
}

BOOL SystemParametersInfo(UINT action, UINT, LPVOID out, UINT) {
  if (action != SPI_GETWORKAREA || !out) return FALSE;
  *static_cast<RECT*>(out) = RECT{0, platform::kTrayHeight, platform::ScreenWidth(),
                                  platform::ScreenHeight() - platform::kSoftKeyBarHeight};
  return TRUE;
}
