#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "window_test_util.h"

using namespace window_test;
namespace td = platform::testdriver;

namespace {

constexpr UINT kA = WM_USER + 1;
constexpr UINT kB = WM_USER + 2;
constexpr UINT kC = WM_USER + 3;

class WindowMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUpWindowTest(); }
};

/// Runs a message loop on its own thread with one Recorder window, until it gets kQuit.
class UiThread {
 public:
  static constexpr UINT kQuit = WM_USER + 99;
  UiThread() {
    thread_ = std::thread([this] {
      HWND h = CreateWindowEx(0, u"Recorder", u"worker", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
      hwnd_ = h;
      MSG msg;
      while (GetMessage(&msg, nullptr, 0, 0)) {
        if (msg.message == kQuit) break;
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
      DestroyWindow(h);
    });
    while (!hwnd_) std::this_thread::yield();
  }
  ~UiThread() {
    PostMessage(hwnd_, kQuit, 0, 0);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }

 private:
  std::atomic<HWND> hwnd_{nullptr};
  std::thread thread_;
};

TEST_F(WindowMessageTest, PostedMessagesKeepOrderAndSameThreadSendIsImmediate) {
  HWND h = MakeTop(u"order");
  td::RunUntilIdle();
  TheLog().Take();
  PostMessage(h, kA, 1, 0);
  PostMessage(h, kB, 2, 0);
  EXPECT_EQ(SendMessage(h, kC, 3, 0), 0);
  // The sent message ran inside SendMessage, before the posted ones are dispatched.
  EXPECT_EQ(TheLog().Messages(), (std::vector<UINT>{kC}));
  td::RunUntilIdle();
  EXPECT_EQ(TheLog().Messages({kA, kB, kC}), (std::vector<UINT>{kA, kB}));
  DestroyAll({h});
}

TEST_F(WindowMessageTest, QuitComesAfterPostedMessagesAndCarriesTheCode) {
  HWND h = MakeTop(u"quit");
  td::RunUntilIdle();
  PostMessage(h, kA, 0, 0);
  PostQuitMessage(7);
  MSG msg;
  ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, kA);
  EXPECT_FALSE(GetMessage(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
  DestroyAll({h});
}

TEST_F(WindowMessageTest, CrossThreadSendRunsOnOwnerThreadAndReturnsResult) {
  UiThread worker;
  std::thread::id ran;
  TheHook() = [&](HWND, UINT m, WPARAM w, LPARAM, LRESULT* r) {
    if (m != kA) return false;
    ran = std::this_thread::get_id();
    *r = static_cast<LRESULT>(w * 2);
    return true;
  };
  EXPECT_EQ(SendMessage(worker.hwnd(), kA, 21, 0), 42);
  EXPECT_NE(ran, std::this_thread::get_id());
  TheHook() = nullptr;
}

TEST_F(WindowMessageTest, ThreadsSendingToEachOtherDoNotDeadlock) {
  HWND mine = MakeTop(u"mine", WS_POPUP);
  UiThread worker;
  std::atomic<int> depth{0};
  // worker gets kA, sends kB back to us while we are still waiting in SendMessage.
  TheHook() = [&](HWND h, UINT m, WPARAM, LPARAM, LRESULT* r) {
    if (m == kA && h == worker.hwnd()) {
      *r = SendMessage(mine, kB, 0, 0) + 1;
      return true;
    }
    if (m == kB && h == mine) {
      ++depth;
      *r = 10;
      return true;
    }
    return false;
  };
  EXPECT_EQ(SendMessage(worker.hwnd(), kA, 0, 0), 11);
  EXPECT_EQ(depth.load(), 1);
  DestroyAll({mine});
}

TEST_F(WindowMessageTest, SendToWindowOfFinishedThreadFailsFast) {
  HWND orphan = nullptr;
  std::thread([&] {
    orphan =
        CreateWindowEx(0, u"Recorder", u"orphan", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  }).join();
  // A window dies with its thread; the message is not delivered and nothing hangs.
  EXPECT_FALSE(IsWindow(orphan));
  EXPECT_EQ(SendMessage(orphan, kA, 0, 0), 0);
  EXPECT_FALSE(PostMessage(orphan, kA, 0, 0));
}

TEST_F(WindowMessageTest, PostFromManyThreadsLosesNothing) {
  HWND h = MakeTop(u"many", WS_POPUP);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([h, t] {
      for (int i = 0; i < 200; ++i) PostMessage(h, kA, static_cast<WPARAM>(t), i);
    });
  for (auto& t : threads) t.join();
  td::RunUntilIdle();
  std::vector<int> last(4, -1);
  int count = 0;
  for (const auto& r : TheLog().Take()) {
    if (r.msg != kA) continue;
    // Each sender's messages arrive in its own order.
    EXPECT_GT(r.lParam, last[r.wParam]);
    last[r.wParam] = static_cast<int>(r.lParam);
    ++count;
  }
  EXPECT_EQ(count, 800);
  DestroyAll({h});
}

std::atomic<int> callbackTicks{0};
void CountTick(HWND, UINT, UINT_PTR, DWORD) {
  ++callbackTicks;
}

TEST_F(WindowMessageTest, TimersFollowTheVirtualClock) {
  HWND h = MakeTop(u"timers", WS_POPUP);
  td::RunUntilIdle();
  TheLog().Take();
  ASSERT_EQ(SetTimer(h, 5, 100, nullptr), 5u);
  td::RunFor(99);
  EXPECT_TRUE(TheLog().Messages({WM_TIMER}).empty());
  td::RunFor(1);
  EXPECT_EQ(TheLog().Messages({WM_TIMER}).size(), 1u);
  td::RunFor(250);
  auto records = TheLog().Take();
  int ticks = 0;
  for (auto& r : records)
    if (r.msg == WM_TIMER) {
      EXPECT_EQ(r.wParam, 5u);
      ++ticks;
    }
  EXPECT_EQ(ticks, 2);
  // Re-setting the same id restarts it rather than adding a second timer.
  SetTimer(h, 5, 1000, nullptr);
  td::RunFor(999);
  EXPECT_TRUE(TheLog().Messages({WM_TIMER}).empty());
  EXPECT_TRUE(KillTimer(h, 5));
  td::RunFor(5000);
  EXPECT_TRUE(TheLog().Messages({WM_TIMER}).empty());
  EXPECT_FALSE(KillTimer(h, 5));

  callbackTicks = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 50, CountTick);
  ASSERT_NE(id, 0u);
  td::RunFor(200);
  EXPECT_EQ(callbackTicks.load(), 4);
  KillTimer(nullptr, id);
  // Timers die with their window.
  SetTimer(h, 9, 10, nullptr);
  DestroyWindow(h);
  td::RunFor(100);
  EXPECT_TRUE(TheLog().Messages({WM_TIMER}).empty());
}

TEST_F(WindowMessageTest, PaintIsCoalescedAndComesAfterPostedMessages) {
  HWND h = MakeTop(u"paint", WS_POPUP);
  ShowWindow(h, SW_SHOWNA);
  td::RunUntilIdle();
  TheLog().Take();
  RECT a{0, 0, 10, 10}, b{20, 30, 40, 50};
  RECT seen{};
  int paints = 0;
  TheHook() = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
    if (m != WM_PAINT) return false;
    PAINTSTRUCT ps;
    BeginPaint(h, &ps);
    seen = ps.rcPaint;
    EndPaint(h, &ps);
    ++paints;
    *r = 0;
    return true;
  };
  InvalidateRect(h, &a, FALSE);
  PostMessage(h, kA, 0, 0);
  InvalidateRect(h, &b, FALSE);
  td::RunUntilIdle();
  EXPECT_EQ(TheLog().Messages({WM_PAINT, kA}), (std::vector<UINT>{kA, WM_PAINT}));
  EXPECT_EQ(paints, 1);
  EXPECT_EQ(seen.left, 0);
  EXPECT_EQ(seen.top, 0);
  EXPECT_EQ(seen.right, 40);
  EXPECT_EQ(seen.bottom, 50);
  // Nothing is painted while hidden; showing paints the whole window once.
  ShowWindow(h, SW_HIDE);
  td::RunUntilIdle();
  TheLog().Take();
  InvalidateRect(h, nullptr, TRUE);
  td::RunUntilIdle();
  EXPECT_EQ(paints, 1);
  ShowWindow(h, SW_SHOWNA);
  td::RunUntilIdle();
  EXPECT_EQ(paints, 2);
  // UpdateWindow paints at once, without a message loop.
  InvalidateRect(h, &a, TRUE);
  UpdateWindow(h);
  EXPECT_EQ(paints, 3);
  RECT none;
  EXPECT_FALSE(GetUpdateRect(h, &none, FALSE));
  DestroyAll({h});
}

TEST_F(WindowMessageTest, ActivationAndFocusMessages) {
  HWND first = MakeTop(u"first");
  td::RunUntilIdle();
  EXPECT_EQ(GetForegroundWindow(), first);
  EXPECT_EQ(GetFocus(), first);  // DefWindowProc gave the focus to the activated window
  TheLog().Take();

  HWND second = MakeTop(u"second");
  EXPECT_EQ(GetForegroundWindow(), second);
  auto records = TheLog().Take();
  std::vector<std::pair<HWND, UINT>> seq;
  for (auto& r : records)
    if (r.msg == WM_ACTIVATE || r.msg == WM_SETFOCUS || r.msg == WM_KILLFOCUS)
      seq.emplace_back(r.hwnd, r.msg);
  std::vector<std::pair<HWND, UINT>> want = {
      {first, WM_ACTIVATE}, {second, WM_ACTIVATE}, {first, WM_KILLFOCUS}, {second, WM_SETFOCUS}};
  EXPECT_EQ(seq, want);
  for (auto& r : records) {
    if (r.msg == WM_ACTIVATE && r.hwnd == first) {
      EXPECT_EQ(LOWORD(r.wParam), WA_INACTIVE);
    }
    if (r.msg == WM_ACTIVATE && r.hwnd == second) {
      EXPECT_EQ(LOWORD(r.wParam), WA_ACTIVE);
    }
  }

  HWND child = MakeChild(second, 7, RECT{0, 0, 20, 20});
  TheLog().Take();
  EXPECT_EQ(SetFocus(child), second);
  records = TheLog().Take();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].msg, WM_KILLFOCUS);
  EXPECT_EQ(records[0].wParam, reinterpret_cast<WPARAM>(child));
  EXPECT_EQ(records[1].msg, WM_SETFOCUS);
  EXPECT_EQ(records[1].wParam, reinterpret_cast<WPARAM>(second));

  // Hiding the foreground window hands the foreground to the next visible one.
  ShowWindow(second, SW_HIDE);
  EXPECT_EQ(GetForegroundWindow(), first);
  EXPECT_EQ(GetFocus(), first);
  SetForegroundWindow(second);
  EXPECT_EQ(GetForegroundWindow(), second);
  DestroyAll({first, second});
  EXPECT_EQ(GetForegroundWindow(), nullptr);
}

TEST_F(WindowMessageTest, ForegroundWithLowBitPicksTopmostOwnedWindow) {
  HWND main = MakeTop(u"main");
  HWND popup = MakeTop(u"popup", WS_POPUP | WS_VISIBLE, main);
  HWND other = MakeTop(u"other");
  EXPECT_EQ(GetForegroundWindow(), other);
  auto tagged = reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(main) | 1);
  EXPECT_TRUE(SetForegroundWindow(tagged));
  EXPECT_EQ(GetForegroundWindow(), popup);
  EXPECT_TRUE(SetForegroundWindow(main));
  EXPECT_EQ(GetForegroundWindow(), main);
  // Destroying the owner takes its owned windows along.
  DestroyWindow(main);
  EXPECT_FALSE(IsWindow(popup));
  EXPECT_EQ(GetForegroundWindow(), other);
  DestroyAll({other});
}

TEST_F(WindowMessageTest, DestroyNotifiesChildrenFirstAndCleansUp) {
  HWND top = MakeTop(u"tree");
  HWND child = MakeChild(top, 1, RECT{0, 0, 50, 50});
  HWND grandchild = MakeChild(child, 2, RECT{0, 0, 10, 10});
  SetFocus(grandchild);
  td::RunUntilIdle();
  TheLog().Take();
  std::vector<HWND> destroyed;
  TheHook() = [&](HWND h, UINT m, WPARAM, LPARAM, LRESULT*) {
    if (m == WM_DESTROY) {
      destroyed.push_back(h);
    }
    return false;
  };
  PostMessage(top, WM_CLOSE, 0, 0);  // DefWindowProc destroys
  td::RunUntilIdle();
  EXPECT_EQ(destroyed, (std::vector<HWND>{grandchild, child, top}));
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(grandchild));
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_FALSE(PostMessage(top, kA, 0, 0));
  EXPECT_FALSE(DestroyWindow(top));
  TheHook() = nullptr;
}

TEST_F(WindowMessageTest, CreateFailsCleanlyWhenWmCreateRefuses) {
  TheHook() = [](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
    if (m != WM_CREATE) return false;
    *r = -1;
    return true;
  };
  EXPECT_EQ(MakeTop(u"refused"), nullptr);
  EXPECT_EQ(FindWindow(u"Recorder", u"refused"), nullptr);
  TheHook() = nullptr;
  EXPECT_EQ(CreateWindowEx(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(MakeChild(nullptr, 1, RECT{0, 0, 1, 1}), nullptr);
}

TEST_F(WindowMessageTest, CreationParameterUserDataAndExtraBytes) {
  int marker = 0;
  LPVOID got = nullptr;
  TheHook() = [&](HWND, UINT m, WPARAM, LPARAM l, LRESULT*) {
    if (m == WM_CREATE) got = reinterpret_cast<CREATESTRUCT*>(l)->lpCreateParams;
    return false;
  };
  HWND h = CreateWindowEx(0, u"Recorder", u"data", WS_POPUP, 1, 2, 3, 4, nullptr, nullptr, nullptr, &marker);
  EXPECT_EQ(got, &marker);
  EXPECT_EQ(SetWindowLong(h, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&marker)), 0);
  EXPECT_EQ(GetWindowLong(h, GWL_USERDATA), reinterpret_cast<LONG_PTR>(&marker));
  SetWindowLong(h, 8, 1234);
  EXPECT_EQ(GetWindowLong(h, 8), 1234);
  // Slots beyond the class's extra bytes are refused, never written.
  EXPECT_EQ(SetWindowLong(h, 12, 99), 0);
  EXPECT_EQ(GetWindowLong(h, 12), 0);
  EXPECT_EQ(GetWindowLong(h, -100), 0);
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.bottom, 6);
  DestroyAll({h});
}

TEST_F(WindowMessageTest, FindWindowByClassAndTitle) {
  HWND a = MakeTop(u"alpha", WS_POPUP);
  HWND b = MakeTop(u"beta", WS_POPUP);
  EXPECT_EQ(FindWindow(u"recorder", u"alpha"), a);  // class names ignore case
  EXPECT_EQ(FindWindow(nullptr, u"beta"), b);
  EXPECT_EQ(FindWindow(u"Recorder", u"gamma"), nullptr);
  SetWindowText(b, u"gamma");
  EXPECT_EQ(FindWindow(u"Recorder", u"gamma"), b);
  WCHAR buf[4];
  EXPECT_EQ(GetWindowText(b, buf, 4), 3);  // truncated, still terminated
  EXPECT_EQ(std::u16string(buf), u"gam");
  // The shell's title bar answers to class and title "tray".
  EXPECT_NE(FindWindow(u"tray", u"tray"), nullptr);
  EXPECT_TRUE(PostMessage(FindWindow(u"tray", u"tray"), WM_USER, 4, 0));
  DestroyAll({a, b});
}

TEST_F(WindowMessageTest, KeysGoToFocusAndBackKeyHotkeyOverrides) {
  HWND top = MakeTop(u"keys");
  HWND child = MakeChild(top, 3, RECT{0, 0, 20, 20});
  SetFocus(child);
  td::RunUntilIdle();
  TheLog().Take();
  td::PressKey('5');
  td::RunUntilIdle();
  auto records = TheLog().Take();
  std::vector<UINT> msgs;
  for (auto& r : records) {
    EXPECT_EQ(r.hwnd, child);
    msgs.push_back(r.msg);
    if (r.msg == WM_CHAR) {
      EXPECT_EQ(r.wParam, static_cast<WPARAM>(u'5'));
    }
  }
  EXPECT_EQ(msgs, (std::vector<UINT>{WM_KEYDOWN, WM_CHAR, WM_KEYUP}));
  td::PressKey(VK_TSTAR);
  td::RunUntilIdle();
  bool star = false;
  for (auto& r : TheLog().Take())
    if (r.msg == WM_CHAR) star = r.wParam == u'*';
  EXPECT_TRUE(star);

  ASSERT_TRUE(RegisterHotKey(top, 77, MOD_KEYUP, VK_TBACK));
  td::PressKey(VK_TBACK);
  td::RunUntilIdle();
  records = TheLog().Take();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].hwnd, top);
  EXPECT_EQ(records[0].msg, WM_HOTKEY);
  EXPECT_EQ(records[0].wParam, 77u);
  EXPECT_EQ(HIWORD(records[0].lParam), VK_TBACK);
  EXPECT_EQ(LOWORD(records[0].lParam) & MOD_KEYUP, 0);
  EXPECT_EQ(LOWORD(records[1].lParam) & MOD_KEYUP, MOD_KEYUP);
  EXPECT_TRUE(UnregisterHotKey(top, 77));
  td::PressKey(VK_TBACK);
  td::RunUntilIdle();
  EXPECT_EQ(TheLog().Messages({WM_KEYDOWN}).size(), 1u);
  DestroyAll({top});
}

TEST_F(WindowMessageTest, NestedModalLoopRunsAndReturns) {
  HWND h = MakeTop(u"modal");
  td::RunUntilIdle();
  bool inner = false;
  std::vector<UINT> order;
  TheHook() = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT*) {
    if (m == kA) {
      // A modal loop: runs until kC arrives, while other messages keep flowing.
      order.push_back(kA);
      PostMessage(h, kB, 0, 0);
      PostMessage(h, kC, 0, 0);
      MSG msg;
      while (GetMessage(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
        if (msg.message == kC) break;
      }
      inner = true;
      order.push_back(0);
      return true;
    }
    if (m == kB || m == kC) order.push_back(m);
    return false;
  };
  PostMessage(h, kA, 0, 0);
  td::RunUntilIdle();
  EXPECT_TRUE(inner);
  EXPECT_EQ(order, (std::vector<UINT>{kA, kB, kC, 0}));
  DestroyAll({h});
}

TEST_F(WindowMessageTest, CopyDataWithinProcess) {
  HWND h = MakeTop(u"copy", WS_POPUP);
  std::string got;
  TheHook() = [&](HWND, UINT m, WPARAM, LPARAM l, LRESULT* r) {
    if (m != WM_COPYDATA) return false;
    auto* cds = reinterpret_cast<COPYDATASTRUCT*>(l);
    got.assign(static_cast<char*>(cds->lpData), cds->cbData);
    *r = 1;
    return true;
  };
  char text[] = "hello";
  COPYDATASTRUCT cds{0, 5, text};
  EXPECT_EQ(SendMessage(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 1);
  EXPECT_EQ(got, "hello");
  DestroyAll({h});
}

}  // namespace
