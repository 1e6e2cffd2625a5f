// uidemo: shows a window with a title, two lines of text (regular and bold), an icon, a
// picture and an owner-drawn list of 20 rows that moves with Up/Down and wraps around, with
// a soft-key bar whose right key opens a numbered popup menu. --list N shows a list view
// of N rows with icons instead; --dialog and --msgbox show a dialog of "Wren.dll" or a
// message box.
//
//   uidemo [--headless] [--keys "Down Down Enter"] [--screenshot out.png] [--describe]
//          [--dialog ID | --msgbox TEXT | --list N]
//
// With a display and without --headless it runs in a desktop window until closed.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/listview.h"
#include "platform/menubar.h"
#include "platform/module.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "toolargs/toolargs.h"

namespace {

constexpr int kListId = 101;
constexpr int kRows = 20;
constexpr int kRowHeight = 16;
constexpr UINT kDrawRow = 2026;     // list -> parent: draw a row's content (lParam: DemoRow*)
constexpr UINT kSelChanged = 2025;  // list -> parent: selection moved (wParam: row)
constexpr WORD kIdOk = 1;

struct DemoRow {
  int index;
  HDC dc;
  RECT rect;
  bool selected;
};

struct Demo {
  HWND frame = nullptr;
  HWND list = nullptr;
  HWND softkeys = nullptr;
  HMENU popup = nullptr;
  HFONT regular = nullptr;
  HFONT bold = nullptr;
  HICON icon = nullptr;
  std::vector<std::uint8_t> picture;  // packed 8-bit DIB
  int selected = 0;
  int top = 0;
  int chosen = -1;
};

Demo demo;

HFONT MakeFont(LONG height, LONG weight) {
  LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  const char16_t face[] = u"Nina";
  std::copy(std::begin(face), std::end(face), lf.lfFaceName);
  return CreateFontIndirect(&lf);
}

/// A 16 x 16 round icon: opaque disc, soft edge, transparent corners.
HICON MakeIcon() {
  std::uint32_t px[16 * 16];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      int dx = 2 * x - 15, dy = 2 * y - 15, d2 = dx * dx + dy * dy;
      std::uint32_t alpha = d2 <= 169 ? 0xFF : d2 <= 225 ? 0x80 : 0x00;
      std::uint32_t color = (x + y) % 4 < 2 ? 0xE04020 : 0xF0A000;
      px[y * 16 + x] = (alpha << 24) | color;
    }
  return platform::CreateIconFromArgb(16, 16, px);
}

/// A 20 x 12 bottom-up 8-bit DIB with a 16-colour palette of stripes and a diagonal.
std::vector<std::uint8_t> MakePicture() {
  constexpr int w = 20, h = 12;
  BITMAPINFOHEADER hdr{40, w, h, 1, 8, BI_RGB, 0, 0, 0, 16, 16};
  std::vector<std::uint8_t> out(40);
  std::memcpy(out.data(), &hdr, 40);
  for (int i = 0; i < 16; ++i) {
    out.push_back(static_cast<std::uint8_t>(255 - i * 16));  // blue
    out.push_back(static_cast<std::uint8_t>(i * 12 + 40));   // green
    out.push_back(static_cast<std::uint8_t>(i * 16));        // red
    out.push_back(0);
  }
  for (int row = h - 1; row >= 0; --row)  // stored bottom row first
    for (int x = 0; x < w; ++x)
      out.push_back(static_cast<std::uint8_t>(x == row + 4 ? 15 : (x / 3 + row / 4) % 12));
  return out;
}

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  HGDIOBJ old = SelectObject(dc, demo.bold);
  RECT line{4, 2, client.right - 4, 18};
  DrawText(dc, u"Tessera window demo", -1, &line, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, demo.regular);
  line = RECT{4, 18, client.right - 4, 34};
  DrawText(dc, u"Text in DejaVu Sans, regular and bold weights", -1, &line,
           DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  DrawIcon(dc, 4, 38, demo.icon);
  platform::StretchPackedDib(dc, 26, 34, 40, 24, demo.picture.data(), demo.picture.size());
  std::u16string status = demo.chosen < 0
                              ? u"chosen: none"
                              : u"chosen: row " + platform::Utf8ToUtf16(std::to_string(demo.chosen));
  line = RECT{72, 38, client.right - 4, 54};
  DrawText(dc, status.c_str(), -1, &line, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(dc, old);
  EndPaint(hwnd, &ps);
}

// ---- The owner-drawn list ----

int PageRows(HWND list) {
  RECT rc;
  GetClientRect(list, &rc);
  return std::max<int>(1, (rc.bottom - rc.top) / kRowHeight);
}

void PaintList(HWND list) {
  PAINTSTRUCT ps;
  HDC screen = BeginPaint(list, &ps);
  RECT rc;
  GetClientRect(list, &rc);
  // Drawn off-screen first, then copied, so the list never flickers.
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
  HGDIOBJ oldBmp = SelectObject(mem, bmp);
  FillRect(mem, &rc, GetSysColorBrush(COLOR_WINDOW));
  int page = PageRows(list);
  for (int i = demo.top; i < kRows && i < demo.top + page; ++i) {
    RECT row{0, (i - demo.top) * kRowHeight, rc.right, (i - demo.top + 1) * kRowHeight};
    bool sel = i == demo.selected;
    if (sel) FillRect(mem, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(mem, GetSysColor(sel ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DemoRow record{i, mem, row, sel};
    SendMessage(GetParent(list), kDrawRow, 0, reinterpret_cast<LPARAM>(&record));
  }
  BitBlt(screen, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldBmp);
  DeleteObject(bmp);
  DeleteDC(mem);
  EndPaint(list, &ps);
}

void MoveSelection(HWND list, int delta) {
  demo.selected = (demo.selected + delta + kRows) % kRows;
  int page = PageRows(list);
  if (demo.selected < demo.top) demo.top = demo.selected;
  if (demo.selected >= demo.top + page) demo.top = demo.selected - page + 1;
  InvalidateRect(list, nullptr, FALSE);
  SendMessage(GetParent(list), kSelChanged, static_cast<WPARAM>(demo.selected),
              reinterpret_cast<LPARAM>(list));
}

LRESULT ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      PaintList(hwnd);
      return 0;
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_UP:
          MoveSelection(hwnd, -1);
          return 0;
        case VK_DOWN:
          MoveSelection(hwnd, 1);
          return 0;
        case VK_RETURN:
          SendMessage(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(kIdOk, 0), reinterpret_cast<LPARAM>(hwnd));
          return 0;
        default:
          // Soft keys, Back and the keypad belong to the parent.
          return SendMessage(GetParent(hwnd), msg, wParam, lParam);
      }
    case WM_LBUTTONDOWN: {
      int row = demo.top + HIWORD(static_cast<WPARAM>(lParam)) / kRowHeight;
      if (row < kRows) MoveSelection(hwnd, row - demo.selected);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      auto* out = reinterpret_cast<std::string*>(lParam);
      *out += "list rows=" + std::to_string(kRows) + " top=" + std::to_string(demo.top) +
              " page=" + std::to_string(PageRows(hwnd)) + "\n";
      for (int i = 0; i < kRows; ++i)
        *out += "row " + std::to_string(i) + " \"row " + std::to_string(i) + "\"" +
                (i == demo.selected ? " selected" : "") + "\n";
      return 1;
    }
    default:
      return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

// ---- Soft-key bar and its popup ----

constexpr UINT kCmdSelect = 200;
constexpr UINT kCmdChoose = 201;
constexpr UINT kCmdTop = 202;
constexpr UINT kCmdBottom = 203;
constexpr UINT kCmdQuit = 204;

/// Rebuilt each time it opens: the first item names the selected row, and "Top of list" is
/// greyed while the selection is already there.
void RebuildPopup(HMENU menu) {
  while (GetMenuItemCount(menu) > 0) DeleteMenu(menu, 0, MF_BYPOSITION);
  std::u16string choose = u"Choose row " + platform::Utf8ToUtf16(std::to_string(demo.selected));
  AppendMenu(menu, MF_STRING, kCmdChoose, choose.c_str());
  AppendMenu(menu, MF_STRING | (demo.selected == 0 ? MF_GRAYED : MF_ENABLED), kCmdTop, u"Top of list");
  AppendMenu(menu, MF_STRING, kCmdBottom, u"Bottom of list");
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING, kCmdQuit, u"Quit");
}

// ---- Frame ----

void Choose() {
  demo.chosen = demo.selected;
  InvalidateRect(demo.frame, nullptr, TRUE);
}

LRESULT FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case kDrawRow: {
      auto* row = reinterpret_cast<DemoRow*>(lParam);
      SetBkMode(row->dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(row->dc, row->selected ? demo.bold : demo.regular);
      std::u16string text = u"row " + platform::Utf8ToUtf16(std::to_string(row->index));
      RECT r = row->rect;
      r.left += 6;
      DrawText(row->dc, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      SelectObject(row->dc, old);
      return 1;
    }
    case kSelChanged:
      return 0;
    case WM_INITMENUPOPUP:
      if (reinterpret_cast<HMENU>(wParam) == demo.popup) RebuildPopup(demo.popup);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kIdOk:
        case kCmdSelect:
        case kCmdChoose:
          Choose();
          break;
        case kCmdTop:
          MoveSelection(demo.list, -demo.selected);
          break;
        case kCmdBottom:
          MoveSelection(demo.list, kRows - 1 - demo.selected);
          break;
        case kCmdQuit:
          DestroyWindow(hwnd);
          break;
        default:
          break;
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_TBACK) DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && demo.list) SetFocus(demo.list);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

bool RegisterClasses() {
  WNDCLASS wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpfnWndProc = FrameProc;
  wc.lpszClassName = u"UIDemoFrame";
  if (!RegisterClass(&wc)) return false;
  wc.lpfnWndProc = ListProc;
  wc.lpszClassName = u"DemoList";
  return RegisterClass(&wc) != 0;
}

bool CreateUi() {
  demo.regular = MakeFont(-11, FW_NORMAL);
  demo.bold = MakeFont(-12, FW_BOLD);
  demo.icon = MakeIcon();
  demo.picture = MakePicture();
  if (!RegisterClasses()) return false;
  demo.frame = CreateWindowEx(0, u"UIDemoFrame", u"UI demo", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  if (!demo.frame) return false;
  RECT rc;
  GetClientRect(demo.frame, &rc);
  int listTop = 62;
  int rows = std::max<int>(1, (rc.bottom - listTop) / kRowHeight);
  demo.list = CreateWindowEx(0, u"DemoList", u"", WS_CHILD | WS_VISIBLE, 0, listTop, rc.right,
                             rows * kRowHeight, demo.frame,
                             reinterpret_cast<HMENU>(static_cast<std::intptr_t>(kListId)), nullptr, nullptr);
  demo.popup = CreatePopupMenu();
  RebuildPopup(demo.popup);
  demo.softkeys = platform::CreateSoftKeyBar(demo.frame, u"Select", kCmdSelect, u"Menu", 0, demo.popup);
  if (!demo.list || !demo.softkeys) return false;
  ShowWindow(demo.frame, SW_SHOW);
  UpdateWindow(demo.frame);
  SetFocus(demo.list);
  return true;
}

// ---- The list view screen ----

constexpr int kListViewId = 2003;
constexpr int kMaxListRows = 10000;

struct ListDemo {
  HWND frame = nullptr;
  HWND list = nullptr;
  HIMAGELIST images = nullptr;
};

ListDemo listDemo;

/// 16 x 16 icons: a disc, a square and a diamond, each with transparent surroundings.
HIMAGELIST MakeRowIcons() {
  HIMAGELIST il = ImageList_Create(16, 16, ILC_COLOR16 | ILC_MASK, 3, 1);
  if (!il) return nullptr;
  const std::uint32_t colors[3] = {0xD03020, 0x2050C0, 0x20A040};
  for (int shape = 0; shape < 3; ++shape) {
    std::uint32_t px[16 * 16];
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        int dx = 2 * x - 15, dy = 2 * y - 15;
        bool inside = shape == 0   ? dx * dx + dy * dy <= 169
                      : shape == 1 ? std::abs(dx) <= 11 && std::abs(dy) <= 11
                                   : std::abs(dx) + std::abs(dy) <= 15;
        bool edge = inside && (shape == 0   ? dx * dx + dy * dy > 100
                               : shape == 1 ? std::abs(dx) > 8 || std::abs(dy) > 8
                                            : std::abs(dx) + std::abs(dy) > 11);
        px[y * 16 + x] = inside ? 0xFF000000u | (edge ? 0x202020u : colors[shape]) : 0;
      }
    HICON icon = platform::CreateIconFromArgb(16, 16, px);
    ImageList_AddIcon(il, icon);
    DestroyIcon(icon);
  }
  return il;
}

void OpenRow(int row) {
  if (row < 0) return;
  std::u16string title = u"Opened item " + platform::Utf8ToUtf16(std::to_string(row + 1));
  SetWindowText(listDemo.frame, title.c_str());
}

LRESULT ListFrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr->idFrom == kListViewId && hdr->code == LVN_ITEMACTIVATE)
        OpenRow(reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK)
        OpenRow(static_cast<int>(
            SendMessage(listDemo.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
      else if (LOWORD(wParam) == kCmdQuit)
        DestroyWindow(hwnd);
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_TBACK) DestroyWindow(hwnd);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && listDemo.list) SetFocus(listDemo.list);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

bool CreateListUi(int rows) {
  platform::RegisterControlClasses();
  WNDCLASS wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpfnWndProc = ListFrameProc;
  wc.lpszClassName = u"UIDemoListFrame";
  if (!RegisterClass(&wc)) return false;
  listDemo.frame = CreateWindowEx(0, u"UIDemoListFrame", u"List demo", 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  if (!listDemo.frame) return false;
  RECT rc;
  GetClientRect(listDemo.frame, &rc);
  listDemo.list = CreateWindowEx(
      0, WC_LISTVIEW, u"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0,
      rc.right, rc.bottom, listDemo.frame, reinterpret_cast<HMENU>(static_cast<std::intptr_t>(kListViewId)),
      nullptr, nullptr);
  listDemo.images = MakeRowIcons();
  if (!listDemo.list || !listDemo.images) return false;
  SendMessage(listDemo.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  SendMessage(listDemo.list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(listDemo.images));
  WCHAR name[] = u"Name";
  WCHAR size[] = u"Size";
  LVCOLUMN col{LVCF_TEXT | LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, 120, name, 0, 0};
  SendMessage(listDemo.list, LVM_INSERTCOLUMN, 0, reinterpret_cast<LPARAM>(&col));
  col = LVCOLUMN{LVCF_TEXT | LVCF_WIDTH | LVCF_FMT, LVCFMT_RIGHT, 40, size, 0, 1};
  SendMessage(listDemo.list, LVM_INSERTCOLUMN, 1, reinterpret_cast<LPARAM>(&col));
  for (int i = 0; i < rows; ++i) {
    std::u16string text = u"Item " + platform::Utf8ToUtf16(std::to_string(i + 1));
    std::u16string kb = platform::Utf8ToUtf16(std::to_string((i * 37) % 250 + 1)) + u" KB";
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = i;
    item.pszText = text.data();
    item.iImage = i % 3;
    item.lParam = i;
    SendMessage(listDemo.list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 1;
    item.pszText = kb.data();
    SendMessage(listDemo.list, LVM_SETITEMTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  SendMessage(listDemo.list, LVM_SETCOLUMNWIDTH, 1,
              MAKELPARAM(static_cast<WORD>(LVSCW_AUTOSIZE_USEHEADER), 0));
  if (rows > 0) {
    LVITEM st{};
    st.state = st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessage(listDemo.list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&st));
  }
  if (!platform::CreateSoftKeyBar(listDemo.frame, u"Open", IDOK, u"Quit", kCmdQuit)) return false;
  ShowWindow(listDemo.frame, SW_SHOW);
  UpdateWindow(listDemo.frame);
  SetFocus(listDemo.list);
  return true;
}

/// Closes whatever the keys left open, so that a scripted run ends with everything freed.
void DestroyUi() {
  for (HWND pop; (pop = FindWindow(WC_POPUPMENU, nullptr)) && DestroyWindow(pop);) {
  }
  for (HWND frame : {demo.frame, listDemo.frame})
    if (frame && IsWindow(frame)) DestroyWindow(frame);
  platform::testdriver::RunUntilIdle();
  if (demo.popup) DestroyMenu(demo.popup);
  demo = Demo{};
  listDemo = ListDemo{};
}

// ---- Dialogs of the resource library and message boxes ----

BOOL DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

struct Script {
  std::vector<UINT> keys;
  bool describe = false;
  std::string screenshot;
  bool ok = true;
};

/// Presses the keys and reports the screen; for the message box, runs inside its loop.
void RunScript(Script* script) {
  platform::testdriver::RunUntilIdle();
  for (UINT vk : script->keys) {
    platform::testdriver::PressKey(vk);
    platform::testdriver::RunUntilIdle();
  }
  platform::testdriver::RunFor(100);
  if (script->describe) std::fputs(platform::testdriver::DescribeScreen().c_str(), stdout);
  std::fflush(stdout);
  if (!script->screenshot.empty() && !platform::testdriver::SaveScreenshot(script->screenshot)) {
    std::fprintf(stderr, "uidemo: cannot write %s\n", script->screenshot.c_str());
    script->ok = false;
  }
}

constexpr UINT kRunScript = WM_USER + 20;
Script* pendingScript = nullptr;

LRESULT ScriptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRunScript && pendingScript) {
    Script* s = std::exchange(pendingScript, nullptr);
    RunScript(s);
    // Leave the message box if the keys did not.
    if (HWND box = FindWindow(WC_MESSAGEBOX, nullptr))
      PostMessage(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

std::string ProgramDir(const char* argv0) {
  std::string p = argv0;
  auto slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

int RunDialog(const char* argv0, int id, Script* script) {
  std::string path = ProgramDir(argv0) + "/Wren.dll";
  HMODULE wren = LoadLibrary(platform::Utf8ToUtf16(path).c_str());
  if (!wren) {
    std::fprintf(stderr, "uidemo: cannot load %s\n", path.c_str());
    return 1;
  }
  HWND dlg = CreateDialogParam(wren, MAKEINTRESOURCE(id), nullptr, DialogProc, 0);
  if (!dlg) {
    std::fprintf(stderr, "uidemo: no dialog template %d in Wren.dll\n", id);
    return 1;
  }
  platform::CreateSoftKeyBar(dlg, u"Done", IDOK, u"Cancel", IDCANCEL);
  RunScript(script);
  if (IsWindow(dlg)) DestroyWindow(dlg);  // also takes its bar
  platform::testdriver::RunUntilIdle();
  std::fflush(stdout);
  return script->ok ? 0 : 1;
}

int RunMessageBox(const std::string& text, Script* script) {
  WNDCLASS wc{};
  wc.lpfnWndProc = ScriptProc;
  wc.lpszClassName = u"UIDemoScript";
  RegisterClass(&wc);
  HWND helper =
      CreateWindowEx(0, u"UIDemoScript", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!helper) return 1;
  pendingScript = script;
  PostMessage(helper, kRunScript, 0, 0);
  int r =
      MessageBox(nullptr, platform::Utf8ToUtf16(text).c_str(), u"Tessera", MB_OKCANCEL | MB_ICONINFORMATION);
  std::printf("result=%s\n", r == IDOK ? "IDOK" : r == IDCANCEL ? "IDCANCEL" : "none");
  return script->ok ? 0 : 1;
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: uidemo --window [--list N]\n"
               "       uidemo --headless [--keys \"Down Down Enter\"] [--screenshot FILE] "
               "[--describe] [--dialog ID | --msgbox TEXT | --list N]\n"
               "  --window opens the demo in a desktop window until it is closed\n");
}

int Usage(const char* error) {
  if (error) std::fprintf(stderr, "uidemo: %s\n", error);
  PrintUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "uidemo", &PrintUsage); rc >= 0) return rc;
  bool headless = false, describe = false, window = false;
  std::string keys, screenshot, msgbox;
  int dialogId = -1;
  int listRows = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--headless") {
      headless = true;
    } else if (a == "--window") {
      window = true;
    } else if (a == "--describe") {
      describe = true;
    } else if (a == "--keys" && i + 1 < argc) {
      keys = argv[++i];
    } else if (a == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (a == "--dialog" && i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (!end || *end || v <= 0 || v > 0xFFFF) return Usage("--dialog takes a template id (1..65535)");
      dialogId = static_cast<int>(v);
    } else if (a == "--list" && i + 1 < argc) {
      char* end = nullptr;
      long v = std::strtol(argv[++i], &end, 10);
      if (!end || *end || v < 0 || v > kMaxListRows) return Usage("--list takes a row count (0..10000)");
      listRows = static_cast<int>(v);
    } else if (a == "--msgbox" && i + 1 < argc) {
      msgbox = argv[++i];
    } else {
      return Usage(("unknown argument: " + a).c_str());
    }
  }
  std::vector<UINT> vks;
  std::istringstream in(keys);
  for (std::string name; in >> name;) {
    UINT vk = platform::testdriver::KeyFromName(name);
    if (!vk) return Usage(("unknown key: " + name).c_str());
    vks.push_back(vk);
  }
  // Without a script the demo waits for a person: only --window asks for that.
  // Dialogs and message boxes always run headless and end with their script.
  const bool dialogs = dialogId > 0 || !msgbox.empty();
  const bool scripted = headless || !screenshot.empty() || describe || !vks.empty();
  if (!scripted && !dialogs && !window) return Usage("say --window to open the demo, or --headless with a script");
  if (window && (scripted || dialogs))
    return Usage("--window takes no script, dialog or message box (those run headless)");
  if (scripted) {
    setenv("TESSERA_DISPLAY", "headless", 1);
    platform::testdriver::Enable();
    headless = true;
  }
  if (dialogId > 0 || !msgbox.empty()) {
    setenv("TESSERA_DISPLAY", "headless", 1);
    platform::testdriver::Enable();
    Script script{vks, describe, screenshot, true};
    return dialogId > 0 ? RunDialog(argv[0], dialogId, &script) : RunMessageBox(msgbox, &script);
  }
  if (!(listRows >= 0 ? CreateListUi(listRows) : CreateUi())) {
    std::fprintf(stderr, "uidemo: cannot create the window\n");
    return 1;
  }
  if (headless) {
    platform::testdriver::RunUntilIdle();
    for (UINT vk : vks) {
      platform::testdriver::PressKey(vk);
      platform::testdriver::RunUntilIdle();
    }
    platform::testdriver::RunFor(100);
    if (describe) std::fputs(platform::testdriver::DescribeScreen().c_str(), stdout);
    std::fflush(stdout);
    bool saved = screenshot.empty() || platform::testdriver::SaveScreenshot(screenshot);
    DestroyUi();
    if (!saved) {
      std::fprintf(stderr, "uidemo: cannot write %s\n", screenshot.c_str());
      return 1;
    }
    return 0;
  }
  if (platform::DisplayIsHeadless()) {
    DestroyUi();
    std::fprintf(stderr, "uidemo: no display to open a window on (try --headless with a script)\n");
    return 1;
  }
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  DestroyUi();
  platform::DisplayClose();
  return static_cast<int>(msg.wParam);
}
