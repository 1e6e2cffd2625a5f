// Timers and the window clock (real, or virtual under the test driver).

#include <algorithm>
#include <chrono>
#include <memory>

#include "window_state.h"

namespace platform::win {

std::uint64_t NowLocked() {
  if (S().virtualClock) return S().virtualNow;
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace platform::win

using namespace platform::win;

DWORD platform::WindowClockMs() {
  std::lock_guard lock(S().mu);
  return static_cast<DWORD>(NowLocked());
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
