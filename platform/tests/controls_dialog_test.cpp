// Dialogs from templates and the standard controls, driven by keys on the headless screen.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "window_test_util.h"

namespace {

using platform::testdriver::PressKey;
using platform::testdriver::RunUntilIdle;

constexpr int kName = 101, kNumber = 102, kCheck = 103, kList = 104, kSpin = 105, kLabel = 100, kNotes = 106;
constexpr UINT kScript = WM_USER + 77;

std::function<BOOL(HWND, UINT, WPARAM, LPARAM)>& Handler() {
  static std::function<BOOL(HWND, UINT, WPARAM, LPARAM)> h;
  return h;
}
std::vector<std::pair<int, int>>& Commands() {  // (id, code)
  static std::vector<std::pair<int, int>> c;
  return c;
}

BOOL TestProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_COMMAND) Commands().emplace_back(LOWORD(w), HIWORD(w));
  if (Handler()) return Handler()(h, msg, w, l);
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

platform::DialogControl Control(const char16_t* cls, int id, DWORD style, int y, int cy = 16,
                                const char16_t* text = u"") {
  platform::DialogControl c;
  c.className = cls;
  c.id = static_cast<WORD>(id);
  c.style = style | WS_VISIBLE | WS_CHILD;
  c.x = 2;
  c.y = static_cast<std::int16_t>(y);
  c.cx = 150;
  c.cy = static_cast<std::int16_t>(cy);
  c.text = text;
  return c;
}

platform::DialogTemplate Form() {
  platform::DialogTemplate t;
  t.style = WS_POPUP | WS_VISIBLE;
  t.cx = 176;
  t.cy = 172;
  t.caption = u"Form";
  t.controls.push_back(Control(u"STATIC", kLabel, SS_LEFT, 0, 12, u"Name:"));
  t.controls.push_back(Control(u"EDIT", kName, ES_AUTOHSCROLL | WS_TABSTOP, 14));
  t.controls.push_back(Control(u"EDIT", kNumber, ES_NUMBER | WS_TABSTOP, 32));
  t.controls.push_back(Control(u"BUTTON", kCheck, BS_AUTOCHECKBOX | WS_TABSTOP, 50, 14, u"Keep"));
  t.controls.push_back(Control(u"LISTBOX", kList, LBS_NOTIFY | WS_TABSTOP, 66));
  auto spin = Control(u"msctls_updown32", kSpin, UDS_AUTOBUDDY | UDS_HORZ | UDS_WRAP, 66);
  spin.x = 160;
  spin.cx = 12;
  t.controls.push_back(spin);
  t.controls.push_back(Control(u"EDIT", kNotes, ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, 86, 40));
  return t;
}

std::u16string Text(HWND dlg, int id) {
  WCHAR buf[256];
  UINT n = GetDlgItemText(dlg, id, buf, 256);
  return std::u16string(buf, n);
}

void Type(const std::string& keys) {
  for (char c : keys) PressKey(static_cast<UINT>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  RunUntilIdle();
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_test::SetUpWindowTest();
    Handler() = nullptr;
    Commands().clear();
  }
  void TearDown() override {
    Handler() = nullptr;
    if (dlg && IsWindow(dlg)) DestroyWindow(dlg);
    window_test::DestroyAll({});
  }
  HWND Open() {
    dlg = platform::CreateDialogFromTemplate(nullptr, Form(), nullptr, TestProc, 0);
    RunUntilIdle();
    return dlg;
  }
  int FocusId() { return GetDlgCtrlID(GetFocus()); }
  HWND dlg = nullptr;
};

TEST_F(DialogTest, UpDownMoveBetweenTabStopsAndWrap) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(GetForegroundWindow(), dlg);
  EXPECT_EQ(FocusId(), kName);  // the static label and the spin arrows take no focus
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) {
    PressKey(VK_DOWN);
    RunUntilIdle();
    seen.push_back(FocusId());
  }
  EXPECT_EQ(seen, (std::vector<int>{kNumber, kCheck, kList, kNotes, kName}));
  PressKey(VK_UP);
  RunUntilIdle();
  EXPECT_EQ(FocusId(), kNotes);
  // The focus leaving an edit field is reported.
  Commands().clear();
  PressKey(VK_DOWN);
  RunUntilIdle();
  EXPECT_NE(std::find(Commands().begin(), Commands().end(), std::make_pair(kNotes, static_cast<int>(EN_KILLFOCUS))),
            Commands().end());
}

TEST_F(DialogTest, EditLimitNumericModeSelectionAndBack) {
  ASSERT_NE(Open(), nullptr);
  SendDlgItemMessage(dlg, kName, EM_LIMITTEXT, 5, 0);
  Type("abcdefg");
  EXPECT_EQ(Text(dlg, kName), u"abcde");
  int changes = 0, maxed = 0;
  for (auto& [id, code] : Commands()) {
    if (id == kName && code == static_cast<int>(EN_CHANGE)) ++changes;
    if (id == kName && code == static_cast<int>(EN_MAXTEXT)) ++maxed;
  }
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(maxed, 2);

  // A replacement that does not fit is cut at the limit.
  SendDlgItemMessage(dlg, kName, EM_SETSEL, 1, 3);
  DWORD a = 0, b = 0;
  SendDlgItemMessage(dlg, kName, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 3u);
  SendDlgItemMessage(dlg, kName, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u"XYZW"));
  EXPECT_EQ(Text(dlg, kName), u"aXYde");  // "bc" out, room for two more
  SendDlgItemMessage(dlg, kName, EM_SETSEL, 0, -1);
  SendDlgItemMessage(dlg, kName, EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  EXPECT_EQ(b, 5u);

  // Back deletes before the caret, then goes to the dialog as Cancel once the field is empty.
  SetDlgItemText(dlg, kName, u"ab");
  SendDlgItemMessage(dlg, kName, EM_SETSEL, 2, 2);
  Commands().clear();
  PressKey(VK_TBACK);
  PressKey(VK_TBACK);
  RunUntilIdle();
  EXPECT_EQ(Text(dlg, kName), u"");
  EXPECT_EQ(std::count(Commands().begin(), Commands().end(), std::make_pair(IDCANCEL, 0)), 0);
  PressKey(VK_TBACK);
  RunUntilIdle();
  EXPECT_EQ(std::count(Commands().begin(), Commands().end(), std::make_pair(IDCANCEL, 0)), 1);

  // Numeric mode takes digits only; text mode takes letters again.
  SetFocus(GetDlgItem(dlg, kNumber));
  Type("1a2#3");
  EXPECT_EQ(Text(dlg, kNumber), u"123");
  BOOL ok = FALSE;
  EXPECT_EQ(GetDlgItemInt(dlg, kNumber, &ok, FALSE), 123u);
  EXPECT_TRUE(ok);
  SendDlgItemMessage(dlg, kNumber, EM_SETINPUTMODE, 0, 0);
  Type("b");
  EXPECT_EQ(Text(dlg, kNumber), u"123b");
  SetDlgItemText(dlg, kNumber, u"99999999999");
  GetDlgItemInt(dlg, kNumber, &ok, FALSE);
  EXPECT_FALSE(ok);  // overflow is not a number
}

TEST_F(DialogTest, ReadOnlyEditRefusesTyping) {
  ASSERT_NE(Open(), nullptr);
  SetDlgItemText(dlg, kName, u"fixed");
  SendDlgItemMessage(dlg, kName, EM_SETREADONLY, 1, 0);
  SetFocus(GetDlgItem(dlg, kName));
  Type("xy");
  PressKey(VK_BACK);
  RunUntilIdle();
  EXPECT_EQ(Text(dlg, kName), u"fixed");
}

TEST_F(DialogTest, SpinListWrapsAndNotifies) {
  ASSERT_NE(Open(), nullptr);
  HWND list = GetDlgItem(dlg, kList);
  for (const char16_t* s : {u"Small", u"Medium", u"Large"})
    SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  EXPECT_EQ(SendMessage(list, LB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_SETCURSEL, 1, 0), 1);
  EXPECT_EQ(SendMessage(list, LB_SETCURSEL, 7, 0), LB_ERR);
  EXPECT_EQ(SendMessage(list, LB_SETCURSEL, 0, 0), 0);
  SendMessage(list, LB_SETITEMDATA, 2, 4242);
  SetFocus(list);
  std::vector<LRESULT> seen;
  for (UINT k : {VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_LEFT}) {
    PressKey(k);
    RunUntilIdle();
    seen.push_back(SendMessage(list, LB_GETCURSEL, 0, 0));
  }
  EXPECT_EQ(seen, (std::vector<LRESULT>{1, 2, 0, 2}));
  EXPECT_EQ(std::count(Commands().begin(), Commands().end(), std::make_pair(kList, static_cast<int>(LBN_SELCHANGE))),
            4);
  WCHAR buf[32];
  EXPECT_EQ(SendMessage(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(buf)), 5);
  EXPECT_EQ(std::u16string(buf), u"Large");
  EXPECT_EQ(SendMessage(list, LB_GETITEMDATA, 2, 0), 4242);
  EXPECT_EQ(SendMessage(list, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(buf)), LB_ERR);
  EXPECT_EQ(SendMessage(GetDlgItem(dlg, kSpin), UDM_GETBUDDY, 0, 0), reinterpret_cast<LRESULT>(list));
  std::string screen = platform::testdriver::DescribeScreen();
  EXPECT_NE(screen.find("list count=3 sel=2"), std::string::npos) << screen;
  EXPECT_NE(screen.find("item 2 \"Large\" selected"), std::string::npos) << screen;
}

TEST_F(DialogTest, CheckBoxTogglesOnActionWithoutEndingTheDialog) {
  ASSERT_NE(Open(), nullptr);
  SetFocus(GetDlgItem(dlg, kCheck));
  PressKey(VK_TACTION);
  RunUntilIdle();
  EXPECT_EQ(IsDlgButtonChecked(dlg, kCheck), BST_CHECKED);
  PressKey(VK_TACTION);
  RunUntilIdle();
  EXPECT_EQ(IsDlgButtonChecked(dlg, kCheck), BST_UNCHECKED);
  EXPECT_EQ(std::count(Commands().begin(), Commands().end(), std::make_pair(IDOK, 0)), 0);
  CheckDlgButton(dlg, kCheck, BST_CHECKED);
  EXPECT_NE(platform::testdriver::DescribeScreen().find("checkbox checked=1"), std::string::npos);
}

TEST_F(DialogTest, MultiLineEditCountsLinesAndScrollsToTheCaret) {
  ASSERT_NE(Open(), nullptr);
  HWND notes = GetDlgItem(dlg, kNotes);
  SetFocus(notes);
  for (int i = 0; i < 6; ++i) {
    Type("line");
    PressKey(VK_RETURN);
    RunUntilIdle();
  }
  EXPECT_EQ(SendMessage(notes, EM_GETLINECOUNT, 0, 0), 7);
  EXPECT_GT(SendMessage(notes, EM_GETFIRSTVISIBLELINE, 0, 0), 0);  // scrolled to keep the caret in view
  EXPECT_EQ(Text(dlg, kNotes).substr(0, 6), u"line\r\n");
  // Long words wrap onto further lines.
  SetWindowText(notes, std::u16string(200, u'w').c_str());
  EXPECT_GT(SendMessage(notes, EM_GETLINECOUNT, 0, 0), 1);
  // A paragraph of a hundred thousand characters wraps as the short one does (and in linear
  // time: only what can fit on a line is measured).
  SetWindowText(notes, std::u16string(2000, u'w').c_str());
  const LRESULT shortLines = SendMessage(notes, EM_GETLINECOUNT, 0, 0);
  SetWindowText(notes, std::u16string(100000, u'w').c_str());
  const LRESULT longLines = SendMessage(notes, EM_GETLINECOUNT, 0, 0);
  EXPECT_GE(longLines, (shortLines - 1) * 50);
  EXPECT_LE(longLines, shortLines * 50);
  // Up and Down inside the text move the caret instead of the focus.
  SetWindowText(notes, u"a\r\nb");
  SendMessage(notes, EM_SETSEL, 4, 4);
  PressKey(VK_UP);
  RunUntilIdle();
  EXPECT_EQ(GetFocus(), notes);
}

TEST_F(DialogTest, ModalResultsThroughNestedLoops) {
  // The outer dialog opens a message box from its OK handler; the box's answer decides the result.
  int box = 0;
  HWND dialog = nullptr;
  Handler() = [&](HWND h, UINT msg, WPARAM w, LPARAM) -> BOOL {
    if (msg == WM_INITDIALOG) {
      dialog = h;
      PostMessage(h, kScript, 1, 0);
      return TRUE;
    }
    if (msg == kScript && w == 1) {
      Type("hi");
      PressKey(VK_TACTION);  // goes to the dialog as IDOK
      return TRUE;
    }
    if (msg == kScript && w == 2) {
      EXPECT_EQ(GetForegroundWindow(), FindWindow(WC_MESSAGEBOX, u"Sure?"));
      PressKey(VK_TSOFT2);  // "No"
      return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(w) == IDOK) {
      PostMessage(h, kScript, 2, 0);  // runs inside the box's loop
      box = MessageBox(h, u"Send it now?", u"Sure?", MB_YESNO | MB_ICONQUESTION);
      WCHAR buf[16];
      GetDlgItemText(h, kName, buf, 16);
      EndDialog(h, box == IDNO && std::u16string(buf) == u"hi" ? 42 : 1);
      return TRUE;
    }
    return FALSE;
  };
  HWND owner = window_test::MakeTop(u"Owner");
  RunUntilIdle();
  INT_PTR r = platform::DialogBoxFromTemplate(nullptr, Form(), owner, TestProc, 0);
  EXPECT_EQ(box, IDNO);
  EXPECT_EQ(r, 42);
  EXPECT_EQ(GetForegroundWindow(), owner);
  EXPECT_TRUE(IsWindowEnabled(owner));
  // Asked of this process only: a test running beside this one may show a dialog of its own.
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(IsWindow(dialog));
  window_test::DestroyAll({owner});
}

TEST_F(DialogTest, MessageBoxButtonsAndBack) {
  struct Case {
    UINT type;
    UINT key;
    int expected;
  } cases[] = {{MB_OK, VK_TSOFT1, IDOK},           {MB_OK, VK_TBACK, IDOK},
               {MB_OKCANCEL, VK_TSOFT2, IDCANCEL}, {MB_OKCANCEL, VK_TBACK, IDCANCEL},
               {MB_OKCANCEL, VK_TACTION, IDOK},    {MB_YESNO, VK_TSOFT1, IDYES},
               {MB_YESNO, VK_TBACK, IDNO}};
  HWND owner = window_test::MakeTop(u"Owner");
  RunUntilIdle();
  for (const Case& c : cases) {
    UINT key = c.key;
    std::string described;
    window_test::TheHook() = [&](HWND h, UINT m, WPARAM w, LPARAM, LRESULT*) {
      if (m == kScript) {
        described = platform::testdriver::DescribeScreen();
        PressKey(key);
        return true;
      }
      return false;
    };
    PostMessage(owner, kScript, 0, 0);
    EXPECT_EQ(MessageBox(owner, u"Text", u"Caption", c.type | MB_ICONWARNING), c.expected) << c.type << " " << c.key;
    EXPECT_NE(described.find("messagebox icon=warning text=\"Text\""), std::string::npos) << described;
    EXPECT_NE(described.find("title=\"Caption\""), std::string::npos);
  }
  EXPECT_EQ(MessageBox(owner, u"x", u"y", 0x9), 0);  // unknown button set
  window_test::DestroyAll({owner});
}

TEST_F(DialogTest, FullScreenInitialisationAndScaling) {
  ASSERT_NE(Open(), nullptr);
  RECT rc;
  GetWindowRect(dlg, &rc);
  EXPECT_EQ(rc.top, platform::kTrayHeight);
  EXPECT_EQ(rc.bottom, GetSystemMetrics(SM_CYSCREEN) - platform::kSoftKeyBarHeight);
  SHINITDLGINFO info{SHIDIM_FLAGS, dlg, SHIDIF_DONEBUTTON | SHIDIF_FULLSCREENNOMENUBAR};
  EXPECT_TRUE(SHInitDialog(&info));
  GetWindowRect(dlg, &rc);
  EXPECT_EQ(rc.bottom, GetSystemMetrics(SM_CYSCREEN));
  int w = GetSystemMetrics(SM_CXSCREEN);
  EXPECT_EQ(platform::ScaleDialogUnit(176), w);
  EXPECT_EQ(platform::ScaleDialogUnit(0), 0);
}

TEST_F(DialogTest, MissingTemplatesFail) {
  EXPECT_EQ(DialogBoxParam(nullptr, MAKEINTRESOURCE(123), nullptr, TestProc, 0), -1);
  EXPECT_EQ(CreateDialogParam(nullptr, MAKEINTRESOURCE(123), nullptr, TestProc, 0), nullptr);
  EXPECT_EQ(GetDlgItemText(nullptr, 5, nullptr, 0), 0u);
}

TEST_F(DialogTest, WaitCursorIsCounted) {
  HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
  ASSERT_NE(wait, nullptr);
  SetCursor(wait);
  SetCursor(wait);
  RunUntilIdle();
  EXPECT_EQ(platform::WaitCursorCount(), 2);
  EXPECT_NE(platform::testdriver::DescribeScreen().find("busy count=2"), std::string::npos);
  SetCursor(nullptr);
  EXPECT_EQ(platform::WaitCursorCount(), 1);
  SetCursor(nullptr);
  SetCursor(nullptr);  // an extra reset does not go below zero
  RunUntilIdle();
  EXPECT_EQ(platform::WaitCursorCount(), 0);
  EXPECT_EQ(platform::testdriver::DescribeScreen().find("busy"), std::string::npos);
}

}  // namespace
