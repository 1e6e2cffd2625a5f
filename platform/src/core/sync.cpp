#include "platform/sync.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Every kernel object's state is guarded by one process-wide lock. The system has a
// handful of threads, so one lock costs nothing measurable and makes waiting on several
// objects at once (and acquiring them all together) straightforward: a waiter checks
// the objects under the lock and otherwise sleeps on its own condition variable, which
// every object it waits on notifies when its state changes.

namespace {

using Clock = std::chrono::steady_clock;

struct Waiter {
  std::condition_variable cv;
  std::vector<struct Object*> pulses;  // events pulsed for this waiter
};

enum class Kind { Thread, Event, Mutex };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  Kind kind;
  int refs = 1;  // open handles plus internal holds (a running thread, a wait)
  std::vector<Waiter*> waiters;
  std::u16string name;
  // Event.
  bool manualReset = false;
  bool signalled = false;
  // Mutex.
  DWORD owner = 0;
  DWORD recursion = 0;
  bool abandoned = false;
  // Thread.
  bool finished = false;
  bool suspended = false;
  DWORD exitCode = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  DWORD threadId = 0;
};

struct State {
  std::mutex lock;
  std::unordered_set<Object*> live;
  std::unordered_map<std::u16string, Object*> named;
  std::condition_variable resumed;  // suspended threads wait here
};

// Never destroyed: detached threads may still use it while the process exits.
State& S() {
  static State* state = new State;
  return *state;
}

std::atomic<DWORD> gNextThreadId{1};

struct ThreadInfo {
  DWORD id = gNextThreadId.fetch_add(1);
  // A mutex still owned when its thread ends is abandoned: the next waiter gets it
  // with WAIT_ABANDONED instead of waiting forever.
  ~ThreadInfo();
};
thread_local ThreadInfo tThread;

void Notify(Object* o) {
  for (Waiter* w : o->waiters) w->cv.notify_one();
}

void Release(Object* o) {  // S().lock held
  if (--o->refs > 0) return;
  S().live.erase(o);
  if (!o->name.empty()) {
    auto it = S().named.find(o->name);
    if (it != S().named.end() && it->second == o) S().named.erase(it);
  }
  delete o;
}

ThreadInfo::~ThreadInfo() {
  std::lock_guard lk(S().lock);
  for (Object* o : S().live) {
    if (o->kind == Kind::Mutex && o->owner == id) {
      o->owner = 0;
      o->recursion = 0;
      o->abandoned = true;
      Notify(o);
    }
  }
}

Object* Lookup(HANDLE h) {  // S().lock held
  auto* o = static_cast<Object*>(h);
  if (!o || !S().live.count(o)) return nullptr;
  return o;
}

Object* Lookup(HANDLE h, Kind kind) {
  Object* o = Lookup(h);
  return (o && o->kind == kind) ? o : nullptr;
}

bool Ready(const Object* o, const Waiter* w, DWORD self) {
  switch (o->kind) {
    case Kind::Thread:
      return o->finished;
    case Kind::Event:
      return o->signalled || (w && std::find(w->pulses.begin(), w->pulses.end(), o) != w->pulses.end());
    case Kind::Mutex:
      return o->owner == 0 || o->owner == self;
  }
  return false;
}

// Takes a ready object; true when it was an abandoned mutex.
bool Acquire(Object* o, DWORD self) {
  switch (o->kind) {
    case Kind::Thread:
      return false;
    case Kind::Event:
      if (!o->manualReset) o->signalled = false;
      return false;
    case Kind::Mutex: {
      o->owner = self;
      ++o->recursion;
      bool was = o->abandoned;
      o->abandoned = false;
      return was;
    }
  }
  return false;
}

HANDLE NewNamed(Kind kind, LPCWSTR name, bool& existed, Object*& made) {
  existed = false;
  made = nullptr;
  auto& s = S();
  if (name && *name) {
    std::u16string key(name);
    auto it = s.named.find(key);
    if (it != s.named.end()) {
      if (it->second->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      ++it->second->refs;
      existed = true;
      SetLastError(ERROR_ALREADY_EXISTS);
      return it->second;
    }
    made = new Object(kind);
    made->name = key;
    s.named.emplace(key, made);
  } else {
    made = new Object(kind);
  }
  s.live.insert(made);
  SetLastError(ERROR_SUCCESS);
  return made;
}

struct ThreadExit {
  DWORD code;
};

}  // namespace

DWORD GetCurrentThreadId() {
  return tThread.id;
}
DWORD GetCurrentProcessId() {
  return static_cast<DWORD>(::getpid());
}

HANDLE CreateThread(void*, DWORD, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* o = new Object(Kind::Thread);
  o->refs = 2;  // the handle and the running thread
  o->suspended = (flags & CREATE_SUSPENDED) != 0;
  {
    std::lock_guard lk(S().lock);
    S().live.insert(o);
  }
  // The thread's id is known only once it runs; the creator waits for it briefly so that
  // `threadId` can be filled in.
  try {
    std::thread([o, start, parameter] {
      DWORD self = GetCurrentThreadId();
      {
        std::unique_lock lk(S().lock);
        o->threadId = self;
        S().resumed.notify_all();
        S().resumed.wait(lk, [o] { return !o->suspended; });
      }
      DWORD code = 0;
      try {
        code = start(parameter);
      } catch (const ThreadExit& e) {
        code = e.code;
      }
      std::lock_guard lk(S().lock);
      o->finished = true;
      o->exitCode = code;
      Notify(o);
      Release(o);
    }).detach();
  } catch (...) {
    std::lock_guard lk(S().lock);
    S().live.erase(o);
    delete o;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::unique_lock lk(S().lock);
  S().resumed.wait(lk, [o] { return o->threadId != 0; });
  if (threadId) *threadId = o->threadId;
  SetLastError(ERROR_SUCCESS);
  return o;
}

DWORD ResumeThread(HANDLE thread) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(thread, Kind::Thread);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  if (!o->suspended) return 0;
  o->suspended = false;
  S().resumed.notify_all();
  return 1;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(thread, Kind::Thread);
  if (!o || !exitCode) {
    SetLastError(o ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = o->exitCode;
  return TRUE;
}

void ExitThread(DWORD exitCode) {
  throw ThreadExit{exitCode};
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(thread, Kind::Thread);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  o->priority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(thread, Kind::Thread);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0x7FFFFFFF;  // THREAD_PRIORITY_ERROR_RETURN
  }
  return o->priority;
}

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  std::lock_guard lk(S().lock);
  bool existed;
  Object* made;
  HANDLE h = NewNamed(Kind::Event, name, existed, made);
  if (made) {
    made->manualReset = manualReset != FALSE;
    made->signalled = initialState != FALSE;
  }
  return h;
}

BOOL SetEvent(HANDLE event) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(event, Kind::Event);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  o->signalled = true;
  Notify(o);
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(event, Kind::Event);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  o->signalled = false;
  return TRUE;
}

BOOL PulseEvent(HANDLE event) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(event, Kind::Event);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  o->signalled = false;
  for (Waiter* w : o->waiters) {
    w->pulses.push_back(o);
    w->cv.notify_one();
    if (!o->manualReset) break;  // the longest waiter only
  }
  return TRUE;
}

HANDLE CreateMutex(void*, BOOL initialOwner, LPCWSTR name) {
  std::lock_guard lk(S().lock);
  bool existed;
  Object* made;
  HANDLE h = NewNamed(Kind::Mutex, name, existed, made);
  if (made && initialOwner) {
    made->owner = GetCurrentThreadId();
    made->recursion = 1;
  }
  return h;
}

BOOL ReleaseMutex(HANDLE mutex) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(mutex, Kind::Mutex);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->owner != GetCurrentThreadId() || o->recursion == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--o->recursion == 0) {
    o->owner = 0;
    Notify(o);
  }
  return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !objects) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const DWORD self = GetCurrentThreadId();
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lk(S().lock);
  std::vector<Object*> objs(count);
  for (DWORD i = 0; i < count; ++i) {
    objs[i] = Lookup(objects[i]);
    if (!objs[i]) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    for (DWORD j = 0; j < i; ++j) {
      if (waitAll && objs[j] == objs[i]) {  // the phone refuses duplicates in a wait-all
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
      }
    }
  }
  // Hold every object for the duration so that a CloseHandle elsewhere cannot free it
  // under the wait.
  for (Object* o : objs) ++o->refs;
  Waiter w;
  bool registered = false;
  DWORD result = WAIT_TIMEOUT;
  for (;;) {
    bool done = false;
    if (!waitAll) {
      for (DWORD i = 0; i < count && !done; ++i) {
        if (Ready(objs[i], &w, self)) {
          result = (Acquire(objs[i], self) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
          done = true;
        }
      }
    } else if (std::all_of(objs.begin(), objs.end(), [&](Object* o) { return Ready(o, &w, self); })) {
      result = WAIT_OBJECT_0;
      for (DWORD i = 0; i < count; ++i) {
        if (Acquire(objs[i], self) && result == WAIT_OBJECT_0) result = WAIT_ABANDONED_0 + i;
      }
      done = true;
    }
    w.pulses.clear();
    if (done) break;
    if (milliseconds == 0) {
      result = WAIT_TIMEOUT;
      break;
    }
    if (!registered) {
      for (Object* o : objs) o->waiters.push_back(&w);
      registered = true;
    }
    if (milliseconds == INFINITE) {
      w.cv.wait(lk);
    } else if (w.cv.wait_until(lk, deadline) == std::cv_status::timeout) {
      // One last look: a signal may have raced with the time-out.
      if (!waitAll) {
        bool any = false;
        for (DWORD i = 0; i < count; ++i) {
          if (Ready(objs[i], &w, self)) {
            result = (Acquire(objs[i], self) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
            any = true;
            break;
          }
        }
        if (!any) result = WAIT_TIMEOUT;
      } else {
        result = WAIT_TIMEOUT;
      }
      break;
    }
  }
  if (registered) {
    for (Object* o : objs) {
      auto it = std::find(o->waiters.begin(), o->waiters.end(), &w);
      if (it != o->waiters.end()) o->waiters.erase(it);
    }
  }
  for (Object* o : objs) Release(o);
  return result;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

BOOL CloseHandle(HANDLE object) {
  std::lock_guard lk(S().lock);
  Object* o = Lookup(object);
  if (!o) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Release(o);
  return TRUE;
}

DWORD GetTickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
  return static_cast<DWORD>(static_cast<std::uint64_t>(ms.count()));
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  if (section) section->impl = new std::recursive_mutex;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  if (!section) return;
  delete static_cast<std::recursive_mutex*>(section->impl);
  section->impl = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return static_cast<std::recursive_mutex*>(section->impl)->try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

LONG InterlockedIncrement(volatile LONG* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(volatile LONG* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value) {
  return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST);
}
