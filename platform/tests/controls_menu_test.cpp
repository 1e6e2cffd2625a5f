// Menus, the soft-key bar and popup menus, and the dialogs and bars of "Wren.dll".

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "window_test_util.h"

namespace {

using platform::testdriver::DescribeScreen;
using platform::testdriver::PressKey;
using platform::testdriver::RunUntilIdle;

std::u16string ItemText(HMENU m, UINT pos) {
  WCHAR buf[64];
  int n = GetMenuString(m, pos, buf, 64, MF_BYPOSITION);
  return std::u16string(buf, static_cast<std::size_t>(n));
}

TEST(Menus, EditingItems) {
  HMENU m = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  ASSERT_TRUE(AppendMenu(m, MF_STRING, 10, u"Open"));
  ASSERT_TRUE(AppendMenu(m, MF_SEPARATOR, 0, nullptr));
  ASSERT_TRUE(AppendMenu(m, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"More"));
  ASSERT_TRUE(AppendMenu(sub, MF_STRING, 20, u"Deep"));
  EXPECT_EQ(GetMenuItemCount(m), 3);
  // By command reaches into sub-menus.
  EXPECT_EQ(EnableMenuItem(m, 20, MF_GRAYED), static_cast<int>(MF_ENABLED));
  EXPECT_EQ(GetMenuState(sub, 0, MF_BYPOSITION) & MF_GRAYED, MF_GRAYED);
  EXPECT_EQ(EnableMenuItem(m, 99, MF_GRAYED), -1);
  EXPECT_TRUE(InsertMenu(m, 10, MF_BYCOMMAND | MF_STRING, 11, u"New"));
  EXPECT_EQ(ItemText(m, 0), u"New");
  EXPECT_TRUE(ModifyMenu(m, 0, MF_BYPOSITION | MF_STRING, 12, u"Create"));
  EXPECT_EQ(GetMenuItemID(m, 0), 12u);
  EXPECT_EQ(GetMenuState(m, 3, MF_BYPOSITION), (1u << 8) | MF_POPUP);
  EXPECT_EQ(GetSubMenu(m, 3), sub);
  EXPECT_TRUE(RemoveMenu(m, 3, MF_BYPOSITION));
  EXPECT_TRUE(IsMenu(sub));  // removed, not destroyed
  EXPECT_FALSE(RemoveMenu(m, 9, MF_BYPOSITION));
  EXPECT_TRUE(InsertMenu(m, 0xFFFFFFFF, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"More"));
  EXPECT_TRUE(DeleteMenu(m, 3, MF_BYPOSITION));
  EXPECT_FALSE(IsMenu(sub));
  EXPECT_TRUE(DestroyMenu(m));
  EXPECT_FALSE(DestroyMenu(m));
  EXPECT_EQ(GetMenuItemCount(m), -1);
}

class BarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_test::SetUpWindowTest();
    owner = window_test::MakeTop(u"Main");
    popup = CreatePopupMenu();
    AppendMenu(popup, MF_STRING, 31, u"Reply");
    AppendMenu(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenu(popup, MF_STRING, 32, u"Forward");
    AppendMenu(popup, MF_STRING, 33, u"Delete");
    bar = platform::CreateSoftKeyBar(owner, u"Open", 30, u"Menu", 0, popup);
    RunUntilIdle();
    window_test::TheLog().Take();
  }
  void TearDown() override {
    window_test::DestroyAll({owner});
    DestroyMenu(popup);
  }
  std::vector<UINT> CommandsSeen() {
    std::vector<UINT> out;
    for (const auto& r : window_test::TheLog().Take())
      if (r.hwnd == owner && r.msg == WM_COMMAND) out.push_back(LOWORD(r.wParam));
    return out;
  }
  HWND owner = nullptr;
  HWND bar = nullptr;
  HMENU popup = nullptr;
};

TEST_F(BarTest, SoftKeysSendCommandsAndOpenNumberedPopups) {
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SHFindMenuBar(owner), bar);
  EXPECT_NE(DescribeScreen().find("softkeys left=\"Open\" right=\"Menu\"(menu)"), std::string::npos);
  PressKey(VK_TSOFT1);
  RunUntilIdle();
  EXPECT_EQ(CommandsSeen(), std::vector<UINT>{30});

  // The owner rebuilds the popup as it opens: "Delete" greyed, a new item inserted.
  window_test::TheHook() = [&](HWND h, UINT m, WPARAM w, LPARAM, LRESULT*) {
    if (h == owner && m == WM_INITMENUPOPUP) {
      auto menu = reinterpret_cast<HMENU>(w);
      EnableMenuItem(menu, 33, MF_BYCOMMAND | MF_GRAYED);
      if (GetMenuItemCount(menu) == 4) InsertMenu(menu, 0, MF_BYPOSITION, 34, u"Call");
    }
    return false;
  };
  PressKey(VK_TSOFT2);
  RunUntilIdle();
  std::string screen = DescribeScreen();
  EXPECT_NE(screen.find("1 \"Call\" id=34 selected"), std::string::npos) << screen;
  EXPECT_NE(screen.find("4 \"Delete\" id=33 grayed"), std::string::npos) << screen;
  HWND pop = FindWindow(WC_POPUPMENU, nullptr);
  ASSERT_NE(pop, nullptr);
  EXPECT_EQ(GetForegroundWindow(), pop);
  PressKey('4');  // greyed: nothing happens
  RunUntilIdle();
  EXPECT_TRUE(IsWindow(pop));
  PressKey('3');  // numbers skip the separator: 3 is "Forward"
  RunUntilIdle();
  EXPECT_FALSE(IsWindow(pop));
  EXPECT_EQ(GetForegroundWindow(), owner);
  EXPECT_EQ(CommandsSeen(), std::vector<UINT>{32});

  // Down over the separator, Up wraps; Back closes without a command.
  PressKey(VK_TSOFT2);
  RunUntilIdle();
  HWND again = FindWindow(WC_POPUPMENU, nullptr);
  ASSERT_NE(again, nullptr);
  PressKey(VK_UP);
  RunUntilIdle();
  EXPECT_NE(DescribeScreen().find("4 \"Delete\" id=33 grayed selected"), std::string::npos);
  PressKey(VK_TBACK);
  RunUntilIdle();
  // Asked of this window, not by class: a test running beside this one may show a menu too.
  EXPECT_FALSE(IsWindow(again));
  EXPECT_TRUE(CommandsSeen().empty());
}

TEST_F(BarTest, RelabelDisableAndBackOverride) {
  WCHAR label[] = u"Send";
  TBBUTTONINFO info{sizeof(TBBUTTONINFO), TBIF_TEXT, 0, 0, 0, 0, 0, 0, label, 0};
  EXPECT_TRUE(SendMessage(bar, TB_SETBUTTONINFO, 30, reinterpret_cast<LPARAM>(&info)));
  EXPECT_FALSE(SendMessage(bar, TB_SETBUTTONINFO, 99, reinterpret_cast<LPARAM>(&info)));
  EXPECT_NE(DescribeScreen().find("softkeys left=\"Send\""), std::string::npos);
  WCHAR buf[8];
  TBBUTTONINFO get{sizeof(TBBUTTONINFO), TBIF_TEXT, 0, 0, 0, 0, 0, 0, buf, 3};
  SendMessage(bar, TB_GETBUTTONINFO, 30, reinterpret_cast<LPARAM>(&get));
  EXPECT_EQ(std::u16string(buf), u"Se");  // cut to the buffer

  SendMessage(bar, TB_ENABLEBUTTON, 30, FALSE);
  PressKey(VK_TSOFT1);
  RunUntilIdle();
  EXPECT_TRUE(CommandsSeen().empty());

  EXPECT_TRUE(SendMessage(bar, SHCMBM_OVERRIDEKEY, VK_TBACK,
                          MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY)));
  PressKey(VK_TBACK);
  RunUntilIdle();
  int hotkeys = 0;
  for (const auto& r : window_test::TheLog().Take())
    if (r.hwnd == owner && r.msg == WM_HOTKEY && HIWORD(static_cast<WPARAM>(r.lParam)) == VK_TBACK) ++hotkeys;
  EXPECT_EQ(hotkeys, 1);
}

TEST_F(BarTest, SoftKeysFollowTheForegroundWindow) {
  // A second window with its own bar takes the keys while it is in front, and gives them back.
  HWND second = window_test::MakeTop(u"Second");
  HWND secondBar = platform::CreateSoftKeyBar(second, u"Ok", 50, u"", 0);
  RunUntilIdle();
  window_test::TheLog().Take();
  PressKey(VK_TSOFT1);
  RunUntilIdle();
  std::vector<std::pair<HWND, UINT>> got;
  for (const auto& r : window_test::TheLog().Take())
    if (r.msg == WM_COMMAND) got.emplace_back(r.hwnd, LOWORD(r.wParam));
  EXPECT_EQ(got, (std::vector<std::pair<HWND, UINT>>{{second, 50}}));
  DestroyWindow(second);
  RunUntilIdle();
  EXPECT_FALSE(IsWindow(secondBar));  // owned windows go with their owner
  EXPECT_EQ(SHFindMenuBar(second), nullptr);
  window_test::TheLog().Take();
  PressKey(VK_TSOFT1);
  RunUntilIdle();
  EXPECT_EQ(CommandsSeen(), std::vector<UINT>{30});
}

TEST_F(BarTest, BarIsDrawnAtTheBottomWithBothLabels) {
  UpdateWindow(bar);
  RunUntilIdle();
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  auto inkIn = [&](int x0, int x1) {
    std::uint32_t face = platform::testdriver::ScreenPixel(x0, h - 2);
    int ink = 0;
    for (int y = h - platform::kSoftKeyBarHeight + 2; y < h; ++y)
      for (int x = x0; x < x1; ++x)
        if (platform::testdriver::ScreenPixel(x, y) != face) ++ink;
    return ink;
  };
  EXPECT_GT(inkIn(0, w / 2), 10);      // "Open"
  EXPECT_GT(inkIn(w / 2, w - 1), 10);  // "Menu"
  RECT rc;
  GetWindowRect(bar, &rc);
  EXPECT_EQ(rc.bottom, h);
  EXPECT_EQ(rc.top, h - platform::kSoftKeyBarHeight);
}

TEST_F(BarTest, TrackPopupMenuReturnsTheCommand) {
  window_test::TheHook() = [&](HWND h, UINT m, WPARAM, LPARAM, LRESULT*) {
    if (h == owner && m == WM_INITMENUPOPUP) PostMessage(owner, WM_USER + 9, 0, 0);  // runs in the popup's loop
    if (h == owner && m == WM_USER + 9) {
      PressKey(VK_DOWN);
      PressKey(VK_TACTION);
    }
    return false;
  };
  EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 32);
}

// ---- The templates and bars of "Wren.dll" ----

HMODULE Wren() {
  static HMODULE module = [] {
    std::string path = std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll";
    return std::filesystem::exists(path) ? LoadLibrary(platform::Utf8ToUtf16(path).c_str()) : nullptr;
  }();
  return module;
}

class WrenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Wren()) GTEST_SKIP() << "Wren.dll not built";
    window_test::SetUpWindowTest();
  }
  void TearDown() override { window_test::DestroyAll({}); }
};

BOOL Plain(HWND, UINT msg, WPARAM, LPARAM) {
  return msg == WM_INITDIALOG;
}

TEST_F(WrenTest, EveryDialogTemplateOpens) {
  platform::ResourceTable table = platform::ResourceTable::FromModule(Wren());
  int opened = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    platform::ResourceEntry e = table.At(i);
    if (e.type != RT_DIALOG) continue;
    platform::DialogTemplate t;
    ASSERT_TRUE(platform::LoadDialogTemplate(Wren(), e.id, &t));
    HWND dlg = CreateDialogParam(Wren(), MAKEINTRESOURCE(e.id), nullptr, Plain, 0);
    ASSERT_NE(dlg, nullptr) << e.id;
    RunUntilIdle();
    for (const auto& c : t.controls) {
      if (static_cast<std::int16_t>(c.id) != IDC_STATIC) {
        EXPECT_NE(GetDlgItem(dlg, static_cast<std::int16_t>(c.id)), nullptr) << e.id;
      }
    }
    DestroyWindow(dlg);
    RunUntilIdle();
    ++opened;
  }
  EXPECT_GE(opened, 10);
}

TEST_F(WrenTest, SendingOptionsDescribeTheirSpinLists) {
  HWND dlg = CreateDialogParam(Wren(), MAKEINTRESOURCE(152), nullptr, Plain, 0);
  ASSERT_NE(dlg, nullptr);
  SendDlgItemMessage(dlg, 1028, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Small"));
  SendDlgItemMessage(dlg, 1028, LB_SETCURSEL, 0, 0);
  RunUntilIdle();
  std::string screen = DescribeScreen();
  EXPECT_NE(screen.find("class=LISTBOX id=1028"), std::string::npos) << screen;
  EXPECT_NE(screen.find("spin buddy=1028"), std::string::npos) << screen;
  EXPECT_NE(screen.find("text=\"Picture size:\""), std::string::npos) << screen;
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), 1028);
  DestroyWindow(dlg);
}

TEST_F(WrenTest, MenuBarFromResources) {
  HWND owner = window_test::MakeTop(u"Composer");
  SHMENUBARINFO info{sizeof(SHMENUBARINFO), owner, 0, 101, Wren(), 0, 0, nullptr, 0};
  ASSERT_TRUE(SHCreateMenuBar(&info));
  ASSERT_NE(info.hwndMB, nullptr);
  RunUntilIdle();
  HMENU sub = reinterpret_cast<HMENU>(SendMessage(info.hwndMB, SHCMBM_GETSUBMENU, 0, 40004));
  ASSERT_NE(sub, nullptr);
  EXPECT_GT(GetMenuItemCount(sub), 5);
  std::string screen = DescribeScreen();
  EXPECT_NE(screen.find("softkeys left="), std::string::npos);
  EXPECT_NE(screen.find("(menu)"), std::string::npos) << screen;
  info.nToolBarId = 9;  // no such record
  EXPECT_FALSE(SHCreateMenuBar(&info));
  EXPECT_EQ(LoadMenu(Wren(), MAKEINTRESOURCE(9)), nullptr);
  HMENU menu = LoadMenu(Wren(), MAKEINTRESOURCE(101));
  ASSERT_NE(menu, nullptr);
  DestroyMenu(menu);
  window_test::DestroyAll({owner});
}

}  // namespace
