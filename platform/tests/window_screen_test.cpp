#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/display.h"
#include "window_test_util.h"

using namespace window_test;
namespace td = platform::testdriver;

namespace {

class WindowScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUpWindowTest(); }
};

TEST_F(WindowScreenTest, DescriptionListsWindowsFocusAndOwnLines) {
  HWND top = MakeTop(u"Inbox (2)");
  HWND list = MakeChild(top, 2003, RECT{0, 10, 100, 60});
  SetFocus(list);
  TheHook() = [&](HWND h, UINT m, WPARAM, LPARAM l, LRESULT* r) {
    if (m != WM_PLATFORM_DESCRIBE || h != list) return false;
    *reinterpret_cast<std::string*>(l) += "row 0 \"Hello\" selected\nrow 1 \"World\"\n";
    *r = 1;
    return true;
  };
  td::RunUntilIdle();
  std::string d = td::DescribeScreen();
  EXPECT_NE(d.find("foreground class=Recorder title=\"Inbox (2)\""), std::string::npos) << d;
  EXPECT_NE(d.find("focus class=Recorder id=2003"), std::string::npos) << d;
  EXPECT_NE(d.find("window class=Recorder id=0 rect=0,20,176,196 text=\"Inbox (2)\""), std::string::npos)
      << d;
  EXPECT_NE(d.find("  window class=Recorder id=2003 rect=0,30,100,80"), std::string::npos) << d;
  EXPECT_NE(d.find("    row 0 \"Hello\" selected\n    row 1 \"World\"\n"), std::string::npos) << d;
  EXPECT_NE(d.find("window class=tray"), std::string::npos) << d;
  ShowWindow(list, SW_HIDE);
  d = td::DescribeScreen();
  EXPECT_EQ(d.find("id=2003"), std::string::npos) << d;  // hidden windows are left out
  DestroyAll({top});
  EXPECT_NE(td::DescribeScreen().find("foreground none"), std::string::npos);
}

TEST_F(WindowScreenTest, TrayShowsTheForegroundTitle) {
  HWND top = MakeTop(u"");
  td::RunUntilIdle();
  // An empty title leaves the bar plain: every pixel of it is the caption colour.
  COLORREF caption = GetSysColor(COLOR_ACTIVECAPTION);
  std::uint32_t want = td::ScreenPixel(0, 0);
  int plain = 0;
  for (int x = 0; x < 176; ++x)
    for (int y = 0; y < platform::kTrayHeight; ++y) plain += td::ScreenPixel(x, y) == want;
  EXPECT_EQ(plain, 176 * platform::kTrayHeight);
  EXPECT_NEAR(static_cast<int>(want >> 16), GetRValue(caption), 8);
  SetWindowText(top, u"Messages");
  td::RunUntilIdle();
  int ink = 0;
  for (int x = 0; x < 176; ++x)
    for (int y = 0; y < platform::kTrayHeight; ++y) ink += td::ScreenPixel(x, y) != want;
  EXPECT_GT(ink, 30);
  DestroyAll({top});
}

TEST_F(WindowScreenTest, ClicksReachTheWindowUnderneathAndSoftKeysBecomeKeys) {
  HWND top = MakeTop(u"clicks");
  HWND child = MakeChild(top, 5, RECT{10, 10, 60, 60});
  SetFocus(top);
  td::RunUntilIdle();
  TheLog().Take();
  td::Click(20, 50);  // screen (20,50) is child client (10,20): the window starts at y 20
  td::RunUntilIdle();
  auto records = TheLog().Take();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].hwnd, child);
  EXPECT_EQ(records[0].msg, WM_LBUTTONDOWN);
  EXPECT_EQ(LOWORD(static_cast<WPARAM>(records[0].lParam)), 10);
  EXPECT_EQ(HIWORD(static_cast<WPARAM>(records[0].lParam)), 20);
  td::Click(170, platform::ScreenHeight() - 5);
  td::RunUntilIdle();
  records = TheLog().Take();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].msg, WM_KEYDOWN);
  EXPECT_EQ(records[0].wParam, VK_TSOFT2);
  DestroyAll({top});
}

TEST_F(WindowScreenTest, ATapOnAnotherTopLevelWindowBringsItToTheFront) {
  HWND below = MakeTop(u"below");
  HWND above = MakeTop(u"above", WS_POPUP | WS_VISIBLE);
  MoveWindow(above, 20, 40, 50, 50, TRUE);
  SetForegroundWindow(above);
  td::RunUntilIdle();
  ASSERT_EQ(GetForegroundWindow(), above);
  TheLog().Take();

  // Outside `above`, on `below`: it comes to the front, told that a tap did it, and then
  // gets the tap itself.
  td::Click(150, 150);
  td::RunUntilIdle();
  EXPECT_EQ(GetForegroundWindow(), below);
  auto records = TheLog().Take();
  std::vector<Record> interesting;
  for (const Record& r : records)
    if (r.msg == WM_ACTIVATE || r.msg == WM_LBUTTONDOWN) interesting.push_back(r);
  ASSERT_EQ(interesting.size(), 3u);
  EXPECT_EQ(interesting[0].hwnd, above);
  EXPECT_EQ(LOWORD(interesting[0].wParam), WA_INACTIVE);
  EXPECT_EQ(interesting[1].hwnd, below);
  EXPECT_EQ(LOWORD(interesting[1].wParam), WA_CLICKACTIVE);
  EXPECT_EQ(interesting[2].hwnd, below);
  EXPECT_EQ(interesting[2].msg, WM_LBUTTONDOWN);
  // `below` is now drawn over `above`: the same point in `above` hits `below`.
  EXPECT_EQ(WindowFromPoint(POINT{30, 70}), below);

  // A tap on the window already in front changes nothing but delivers the tap.
  td::Click(150, 150);
  td::RunUntilIdle();
  for (const Record& r : TheLog().Take()) EXPECT_NE(r.msg, static_cast<UINT>(WM_ACTIVATE));

  // A disabled window (behind a modal dialog) is not brought forward.
  SetForegroundWindow(above);
  EnableWindow(below, FALSE);
  td::RunUntilIdle();
  td::Click(150, 150);
  td::RunUntilIdle();
  EXPECT_EQ(GetForegroundWindow(), above);
  DestroyAll({above, below});
}

TEST_F(WindowScreenTest, UncoveredWindowsRepaintAndSizeMessagesArrive) {
  HWND below = MakeTop(u"below");
  HWND above = MakeTop(u"above", WS_POPUP | WS_VISIBLE, below);
  MoveWindow(above, 20, 40, 50, 50, TRUE);
  td::RunUntilIdle();
  TheLog().Take();
  DestroyWindow(above);
  td::RunUntilIdle();
  std::vector<Record> paints;
  for (auto& r : TheLog().Take())
    if (r.msg == WM_PAINT) paints.push_back(r);
  ASSERT_EQ(paints.size(), 1u);
  EXPECT_EQ(paints[0].hwnd, below);
  EXPECT_EQ(td::ScreenPixel(30, 50), 0xFFFFFFu);
  std::vector<UINT> seen;
  TheHook() = [&](HWND, UINT m, WPARAM, LPARAM l, LRESULT*) {
    if (m == WM_SIZE) {
      EXPECT_EQ(LOWORD(static_cast<WPARAM>(l)), 100);
      EXPECT_EQ(HIWORD(static_cast<WPARAM>(l)), 80);
    }
    seen.push_back(m);
    return false;
  };
  MoveWindow(below, 5, 30, 100, 80, TRUE);
  auto has = [&](UINT m) { return std::find(seen.begin(), seen.end(), m) != seen.end(); };
  EXPECT_TRUE(has(WM_MOVE));
  EXPECT_TRUE(has(WM_SIZE));
  RECT rc;
  GetClientRect(below, &rc);
  EXPECT_EQ(rc.right, 100);
  POINT p{0, 0};
  ClientToScreen(below, &p);
  EXPECT_EQ(p.x, 5);
  EXPECT_EQ(p.y, 30);
  DestroyAll({below});
}

TEST_F(WindowScreenTest, ParentWithoutClipChildrenRepaintsChildrenAfterItself) {
  HWND top = MakeTop(u"order", WS_VISIBLE);
  HWND child = MakeChild(top, 1, RECT{0, 0, 30, 30});
  td::RunUntilIdle();
  TheLog().Take();
  InvalidateRect(top, nullptr, TRUE);
  td::RunUntilIdle();
  std::vector<HWND> order;
  for (auto& r : TheLog().Take())
    if (r.msg == WM_PAINT) order.push_back(r.hwnd);
  EXPECT_EQ(order, (std::vector<HWND>{top, child}));
  DestroyAll({top});
}

TEST_F(WindowScreenTest, GetMessageWakesForPostsFromOtherThreads) {
  HWND h = MakeTop(u"wake", WS_POPUP);
  td::RunUntilIdle();
  std::thread poster([h] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PostMessage(h, WM_USER + 7, 0, 0);
  });
  MSG msg;
  auto start = std::chrono::steady_clock::now();
  do {
    ASSERT_TRUE(GetMessage(&msg, nullptr, 0, 0));
    DispatchMessage(&msg);
  } while (msg.message != WM_USER + 7);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  poster.join();
  DestroyAll({h});
}

TEST_F(WindowScreenTest, SendTimeoutWithdrawsAMessageThatNeverRan) {
  // A thread that owns a window but never pumps messages.
  std::atomic<HWND> stuck{nullptr};
  std::atomic<bool> release{false};
  std::thread owner([&] {
    stuck =
        CreateWindowEx(0, u"Recorder", u"stuck", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // Pumping now must not deliver the withdrawn message.
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    DestroyWindow(stuck);
  });
  while (!stuck) std::this_thread::yield();
  TheLog().Take();
  DWORD result = 5;
  int payload = 0;
  EXPECT_EQ(
      SendMessageTimeout(stuck, WM_USER + 8, 0, reinterpret_cast<LPARAM>(&payload), SMTO_NORMAL, 50, &result),
      0);
  release = true;
  owner.join();
  EXPECT_TRUE(TheLog().Messages({WM_USER + 8}).empty());
  // Another thread may not destroy a window it does not own.
  HWND mine = MakeTop(u"mine", WS_POPUP);
  bool destroyed = true;
  std::thread([&] { destroyed = DestroyWindow(mine); }).join();
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(IsWindow(mine));
  DestroyAll({mine});
}

}  // namespace
