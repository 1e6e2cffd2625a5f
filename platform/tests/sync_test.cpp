#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Elapsed-time checks below only bound from below (a time-out must not end early) and
// use generous upper limits: the machine is shared and runs under sanitizers.

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

// Waits until `counter` reaches `value` (or a generous limit passes).
void AwaitCount(const std::atomic<int>& counter, int value) {
  for (int i = 0; i < 1000 && counter.load() < value; ++i) Sleep(10);
}

TEST(Events, AutoResetReleasesOneWaiterAndResetsItself) {
  Handle ev(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  ASSERT_NE(ev.h, nullptr);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(ev, 20000) == WAIT_OBJECT_0) ++released;
    });
  }
  ASSERT_TRUE(SetEvent(ev));
  AwaitCount(released, 1);
  Sleep(200);
  EXPECT_EQ(released.load(), 1);  // the other waiter is still waiting
  ASSERT_TRUE(SetEvent(ev));
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 2);
  EXPECT_EQ(WaitForSingleObject(ev, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // Signalled twice with no waiter: sets do not count up; the next wait takes it, the
  // one after times out.
  SetEvent(ev);
  SetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 10), WAIT_TIMEOUT);
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
  Handle ev(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(ev, 5000) == WAIT_OBJECT_0) ++released;
    });
  }
  Sleep(50);
  SetEvent(ev);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 3);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  ResetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);

  Handle initially(CreateEvent(nullptr, TRUE, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(initially, 0), WAIT_OBJECT_0);
}

TEST(Events, PulseReleasesOnlyCurrentWaiters) {
  Handle ev(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  PulseEvent(ev);  // nobody waiting: lost
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  std::atomic<int> released{0};
  std::thread a([&] {
    if (WaitForSingleObject(ev, 5000) == WAIT_OBJECT_0) ++released;
  });
  std::thread b([&] {
    if (WaitForSingleObject(ev, 5000) == WAIT_OBJECT_0) ++released;
  });
  // A pulse only reaches threads already waiting; pulse until both have been reached.
  for (int i = 0; i < 400 && released.load() < 2; ++i) {
    PulseEvent(ev);
    Sleep(25);
  }
  a.join();
  b.join();
  EXPECT_EQ(released.load(), 2);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST(Events, NamedEventsAreSharedInTheProcess) {
  Handle a(CreateEvent(nullptr, FALSE, FALSE, u"tessera-test-event"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  Handle b(CreateEvent(nullptr, TRUE, TRUE, u"tessera-test-event"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(a.h, b.h);
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);  // still the first one's auto reset
  // Same name, other kind: refused.
  EXPECT_EQ(CreateMutex(nullptr, FALSE, u"tessera-test-event"), nullptr);
}

TEST(Waits, TimeOutsAreHonoured) {
  Handle ev(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(ev, 120), WAIT_TIMEOUT);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 119u);
  EXPECT_LT(elapsed, 5000u);

  // A signal during the wait ends it early.
  std::thread setter([&] {
    Sleep(50);
    SetEvent(ev);
  });
  start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(ev, 20000), WAIT_OBJECT_0);
  EXPECT_LT(GetTickCount() - start, 10000u);
  setter.join();
}

TEST(Waits, AnyReturnsTheLowestSignalledIndexAndTakesOnlyIt) {
  Handle e0(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle e1(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle e2(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  HANDLE all[] = {e0, e1, e2};
  SetEvent(e2);
  SetEvent(e1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 30), WAIT_TIMEOUT);

  std::thread setter([&] {
    Sleep(50);
    SetEvent(e2);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 10000), WAIT_OBJECT_0 + 2);
  setter.join();
}

TEST(Waits, AllAcquiresTogetherOrNotAtAll) {
  Handle e0(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  Handle e1(CreateEvent(nullptr, FALSE, FALSE, nullptr));
  HANDLE both[] = {e0, e1};
  SetEvent(e0);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 30), WAIT_TIMEOUT);
  // The signalled one was not consumed by the failed wait-all.
  EXPECT_EQ(WaitForSingleObject(e0, 0), WAIT_OBJECT_0);

  SetEvent(e0);
  std::thread setter([&] {
    Sleep(50);
    SetEvent(e1);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(e0, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(e1, 0), WAIT_TIMEOUT);

  HANDLE dup[] = {e0, e0};
  EXPECT_EQ(WaitForMultipleObjects(2, dup, TRUE, 0), WAIT_FAILED);
}

TEST(Waits, BadHandlesFail) {
  HANDLE ev = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(ev));
  EXPECT_FALSE(CloseHandle(ev));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(ev));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
  Handle mutex(CreateMutex(nullptr, FALSE, nullptr));
  EXPECT_FALSE(SetEvent(mutex));  // not an event
}

TEST(Mutexes, ReentrantWithTimeOutsForOthers) {
  Handle m(CreateMutex(nullptr, TRUE, nullptr));  // owned by this thread from the start
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);

  std::thread other([&] {
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(m, 100), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 99u);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  });
  other.join();

  // Three acquisitions need three releases.
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  std::thread still([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT); });
  still.join();
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));

  std::thread taker([&] {
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m));
  });
  taker.join();
}

TEST(Mutexes, OwnerEndingWhileHoldingAbandonsIt) {
  Handle m(CreateMutex(nullptr, FALSE, nullptr));
  std::thread holder([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); });
  holder.join();
  EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  ReleaseMutex(m);
}

TEST(Mutexes, WaitAllMixesEventsAndMutexes) {
  Handle m(CreateMutex(nullptr, FALSE, nullptr));
  Handle ev(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  HANDLE both[] = {m, ev};
  std::thread owner([&] {
    WaitForSingleObject(m, 0);
    Sleep(100);
    SetEvent(ev);
    Sleep(100);
    ReleaseMutex(m);
  });
  Sleep(20);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10000), WAIT_OBJECT_0);
  owner.join();
  EXPECT_TRUE(ReleaseMutex(m));
}

DWORD ReturnParameter(LPVOID p) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(p));
}

DWORD CallsExitThread(LPVOID) {
  ExitThread(77);
}

TEST(Threads, ExitCodesIdsAndSuspendedStart) {
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(std::uintptr_t{42}), 0, &id));
  ASSERT_NE(t.h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled

  static std::atomic<int> ran{0};
  ran = 0;
  Handle s(CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return static_cast<DWORD>(++ran); }, nullptr, CREATE_SUSPENDED,
      nullptr));
  EXPECT_TRUE(GetExitCodeThread(s, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(s, 50), WAIT_TIMEOUT);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(ResumeThread(s), 1u);
  EXPECT_EQ(WaitForSingleObject(s, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ran.load(), 1);

  Handle e(CreateThread(nullptr, 0, CallsExitThread, nullptr, 0, nullptr));
  EXPECT_EQ(WaitForSingleObject(e, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(e, &code));
  EXPECT_EQ(code, 77u);

  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(Threads, ClosingTheHandleOfARunningThreadIsSafe) {
  Handle gate(CreateEvent(nullptr, TRUE, FALSE, nullptr));
  static HANDLE sGate;
  sGate = gate;
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return WaitForSingleObject(sGate, 10000); }, nullptr, 0, nullptr);
  ASSERT_TRUE(CloseHandle(t));
  HANDLE t2 = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return WaitForSingleObject(sGate, 10000); }, nullptr, 0, nullptr);
  SetEvent(gate);
  EXPECT_EQ(WaitForSingleObject(t2, 10000), WAIT_OBJECT_0);
  CloseHandle(t2);
}

TEST(Interlocked, CountsExactlyUnderContention) {
  static volatile LONG counter = 0;
  counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 20000; ++i) {
        InterlockedIncrement(&counter);
        InterlockedExchangeAdd(&counter, 2);
        InterlockedDecrement(&counter);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4 * 20000 * 2);

  volatile LONG flag = 0;
  EXPECT_EQ(InterlockedIncrement(&flag), 1);
  EXPECT_EQ(InterlockedDecrement(&flag), 0);
  EXPECT_EQ(InterlockedExchange(&flag, 5), 0);
  EXPECT_EQ(InterlockedCompareExchange(&flag, 9, 4), 5);  // no match: unchanged
  EXPECT_EQ(flag, 5);
  EXPECT_EQ(InterlockedCompareExchange(&flag, 9, 5), 5);
  EXPECT_EQ(flag, 9);
  EXPECT_EQ(InterlockedExchangeAdd(&flag, -10), 9);
  EXPECT_EQ(flag, -1);
}

TEST(Clock, TickCountIsMonotonicAndSleepWaits) {
  DWORD a = GetTickCount();
  Sleep(30);
  DWORD b = GetTickCount();
  EXPECT_GE(b - a, 29u);
  Sleep(0);
}

TEST(CriticalSections, AreReentrant) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  std::thread other([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); });
  other.join();
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread again([&] {
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
  });
  again.join();
  DeleteCriticalSection(&cs);
}

}  // namespace
