// Per-thread message queues: posting, sending within and across threads, and the
// message loop's fetch order (sent, posted, quit, paint, timers).

#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>

#include "platform/display.h"
#include "window_state.h"

namespace platform::win {
namespace {

struct QueueHolder {
  std::shared_ptr<Queue> q;
  ~QueueHolder();
};

thread_local QueueHolder tQueue;

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

}  // namespace

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

void CompleteSent(const std::shared_ptr<SentMessage>& s, LRESULT result) {
  s->result = result;
  s->done = true;
  if (s->sender) s->sender->cv.notify_all();
}

void NotifyQueue(Window* w) {
  if (w->queue) w->queue->cv.notify_all();
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

}  // namespace platform::win

using namespace platform::win;

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
