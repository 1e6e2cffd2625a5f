// Dialogs from resource templates, message boxes, the wait cursor and resource images.

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"
#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/menubar.h"
#include "platform/resources.h"

namespace platform {
namespace {

using ctl::WindowTextOf;

/// Slot after the three DWL_ slots: the dialog's own state.
constexpr int kStateSlot = 24;
constexpr int kDialogExtra = 32;
/// Width of the screen that template coordinates are pixels of.
constexpr int kTemplateWidth = 176;

struct DialogState {
  DLGPROC proc = nullptr;
  HMODULE module = nullptr;
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  HWND savedFocus = nullptr;
};

DialogState* DialogOf(HWND h) {
  return reinterpret_cast<DialogState*>(GetWindowLong(h, kStateSlot));
}

bool IsTabStop(HWND h) {
  auto style = static_cast<DWORD>(GetWindowLong(h, GWL_STYLE));
  return (style & WS_TABSTOP) && IsWindowVisible(h) && IsWindowEnabled(h);
}

std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  // The top of the z-order comes first; the tab order is the order of creation.
  std::reverse(out.begin(), out.end());
  return out;
}

HWND FirstTabStop(HWND dialog) {
  for (HWND c : Children(dialog))
    if (IsTabStop(c)) return c;
  return nullptr;
}

/// The focused control of `dialog`, or null when the focus is elsewhere.
HWND FocusIn(HWND dialog) {
  HWND f = GetFocus();
  return f && IsChild(dialog, f) ? f : nullptr;
}

HWND ContainingControl(HWND dialog, HWND h) {
  while (h && GetParent(h) != dialog) h = GetParent(h);
  return h;
}

LRESULT DialogWndProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  DialogState* s = DialogOf(h);
  if (s && s->proc) {
    SetWindowLong(h, DWL_MSGRESULT, 0);
    BOOL handled = s->proc(h, msg, wParam, lParam);
    if (handled) return msg == WM_INITDIALOG ? handled : GetWindowLong(h, DWL_MSGRESULT);
  }
  return DefDlgProc(h, msg, wParam, lParam);
}

void EnsureDialogClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterControlClasses();
    WNDCLASS wc{};
    wc.lpfnWndProc = DialogWndProc;
    wc.cbWndExtra = kDialogExtra;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = WC_DIALOG;
    RegisterClass(&wc);
  });
}

RECT WorkArea() {
  RECT wa{};
  SystemParametersInfo(SPI_GETWORKAREA, 0, &wa, 0);
  return wa;
}

WORD ResourceId(LPCWSTR name) {
  auto v = reinterpret_cast<std::uintptr_t>(name);
  return v != 0 && v <= 0xFFFF ? static_cast<WORD>(v) : 0;
}

/// Runs messages until `done` turns true; false when a quit message ended the loop (the
/// quit is posted again for the caller's own loop).
template <typename Done>
bool ModalLoop(Done done) {
  while (!done()) {
    MSG m;
    if (!GetMessage(&m, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return false;
    }
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  return true;
}

HWND CreateFromTemplate(HMODULE module, const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param,
                        DialogState* state, bool* windowMade) {
  *windowMade = false;
  EnsureDialogClass();
  RECT wa = WorkArea();
  DWORD style = (t.style & ~(WS_VISIBLE | WS_CHILD)) | WS_POPUP;
  HWND dlg = CreateWindowEx(t.exStyle, WC_DIALOG, t.caption.c_str(), style, wa.left, wa.top, wa.right - wa.left,
                            wa.bottom - wa.top, owner, nullptr, module, nullptr);
  if (!dlg) return nullptr;
  *windowMade = true;
  state->proc = proc;
  state->module = module;
  SetWindowLong(dlg, DWL_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
  SetWindowLong(dlg, kStateSlot, reinterpret_cast<LONG_PTR>(state));
  HWND previous = nullptr;
  for (const DialogControl& c : t.controls) {
    int id = static_cast<std::int16_t>(c.id);
    HWND ctl = CreateWindowEx(c.exStyle, c.className.c_str(), c.text.c_str(),
                              (c.style | WS_CHILD | WS_VISIBLE) & ~WS_POPUP, ScaleDialogUnit(c.x),
                              ScaleDialogUnit(c.y), ScaleDialogUnit(c.cx), ScaleDialogUnit(c.cy), dlg,
                              reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)), module, nullptr);
    if (!ctl) continue;  // an unknown class leaves a gap, as on the phone
    if (c.className == WC_STATIC && (c.style & SS_TYPEMASK) == SS_ICON && c.ordinal)
      SendMessage(ctl, 0x0170 /* STM_SETICON */,
                  reinterpret_cast<WPARAM>(LoadIcon(module, MAKEINTRESOURCE(c.ordinal))), 0);
    if (c.className == UPDOWN_CLASS && (c.style & UDS_AUTOBUDDY) && previous)
      SendMessage(ctl, UDM_SETBUDDY, reinterpret_cast<WPARAM>(previous), 0);
    previous = ctl;
  }
  HWND first = FirstTabStop(dlg);
  LRESULT setDefault = SendMessage(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
  if (!IsWindow(dlg)) return nullptr;
  if (state->ended && state->modal) return dlg;  // ended from WM_INITDIALOG
  ShowWindow(dlg, SW_SHOW);
  SetForegroundWindow(dlg);
  if (setDefault && first && IsWindow(first)) SetFocus(first);
  if (!FocusIn(dlg)) {
    if (HWND f = FirstTabStop(dlg))
      SetFocus(f);
    else
      SetFocus(dlg);
  }
  return dlg;
}

// ---- Wait cursor ----

std::atomic<int> waitCount{0};
HWND busyWindow = nullptr;
HCURSOR currentCursor = nullptr;
const auto kWaitCursor = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(32514));
const auto kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<std::uintptr_t>(32512));
constexpr int kBusySide = 16;

LRESULT BusyProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT rc{0, 0, kBusySide, kBusySide};
    FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOWTEXT));
    // An hourglass: two triangles meeting in the middle.
    for (int y = 2; y < kBusySide - 2; ++y) {
      int half = y < kBusySide / 2 ? kBusySide / 2 - y : y - kBusySide / 2 + 1;
      RECT row{kBusySide / 2 - half + 1, y, kBusySide / 2 + half - 1, y + 1};
      FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
    }
    EndPaint(h, &ps);
    return 0;
  }
  if (msg == WM_PLATFORM_DESCRIBE) {
    ctl::AppendLine(lParam, "busy count=" + std::to_string(waitCount.load()));
    return 1;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

void ShowBusy(bool show) {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = BusyProc;
    wc.lpszClassName = u"busy";
    RegisterClass(&wc);
  });
  if (show && !busyWindow) {
    int w = ScreenWidth(), hgt = ScreenHeight();
    busyWindow = CreateWindowEx(0, u"busy", u"", WS_POPUP, (w - kBusySide) / 2, (hgt - kBusySide) / 2, kBusySide,
                                kBusySide, nullptr, nullptr, nullptr, nullptr);
    if (busyWindow) ShowWindow(busyWindow, SW_SHOWNA);
  } else if (!show && busyWindow) {
    DestroyWindow(busyWindow);
    busyWindow = nullptr;
  }
}

// ---- Message box ----

struct MessageBoxState {
  UINT type = 0;
  std::u16string text;
  bool done = false;
  int result = 0;
};

LRESULT MessageBoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<MessageBoxState*>(GetWindowLong(h, 0));
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  UINT buttons = s->type & MB_TYPEMASK;
  auto finish = [&](int r) {
    s->done = true;
    s->result = r;
  };
  switch (msg) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDYES ||
          LOWORD(wParam) == IDNO)
        finish(LOWORD(wParam));
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_TACTION) finish(buttons == MB_YESNO ? IDYES : IDOK);
      if (wParam == VK_TBACK) finish(buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
      UINT icon = s->type & MB_ICONMASK;
      int textLeft = 6;
      if (icon) {
        // A round badge: blue "i", green "?", amber "!".
        COLORREF color = icon == MB_ICONQUESTION      ? RGB(0x20, 0x90, 0x40)
                         : icon == MB_ICONEXCLAMATION ? RGB(0xE0, 0xA0, 0x00)
                         : icon == MB_ICONHAND        ? RGB(0xD0, 0x20, 0x20)
                                                      : RGB(0x20, 0x60, 0xD0);
        HBRUSH brush = CreateSolidBrush(color);
        for (int y = 0; y < 20; ++y) {
          int dy = 2 * y - 19;
          int half = 0;
          while ((2 * half + 1) * (2 * half + 1) + dy * dy <= 400) ++half;
          RECT row{16 - half, 8 + y, 16 + half, 9 + y};
          FillRect(dc, &row, brush);
        }
        DeleteObject(brush);
        const char16_t* glyph = icon == MB_ICONQUESTION ? u"?" : icon == MB_ICONASTERISK ? u"i" : u"!";
        RECT g{6, 8, 26, 28};
        ctl::DrawLabel(dc, glyph, g, DT_SINGLELINE | DT_CENTER | DT_VCENTER, RGB(0xFF, 0xFF, 0xFF));
        textLeft = 32;
      }
      RECT text{textLeft, 8, rc.right - 6, rc.bottom - 4};
      ctl::DrawLabel(dc, s->text, text, DT_WORDBREAK, GetSysColor(COLOR_WINDOWTEXT));
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      UINT icon = s->type & MB_ICONMASK;
      const char* iconName = icon == MB_ICONQUESTION      ? "question"
                             : icon == MB_ICONEXCLAMATION ? "warning"
                             : icon == MB_ICONASTERISK    ? "information"
                             : icon == MB_ICONHAND        ? "error"
                                                          : "none";
      ctl::AppendLine(lParam, std::string("messagebox icon=") + iconName + " text=" + ctl::Quoted(s->text));
      return 1;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

}  // namespace

int ScaleDialogUnit(int v) {
  int w = ScreenWidth();
  if (w <= 0 || w == kTemplateWidth) return v;
  return static_cast<int>((static_cast<long long>(v) * w + (v >= 0 ? kTemplateWidth / 2 : -kTemplateWidth / 2)) /
                          kTemplateWidth);
}

int WaitCursorCount() {
  return waitCount.load();
}

}  // namespace platform

using namespace platform;

LRESULT DefDlgProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  DialogState* s = DialogOf(h);
  switch (msg) {
    case WM_KEYDOWN:
      switch (wParam) {
        case VK_UP:
        case VK_DOWN: {
          HWND next = GetNextDlgTabItem(h, FocusIn(h), wParam == VK_UP);
          if (next) SetFocus(next);
          return 0;
        }
        case VK_TACTION:
          PostMessage(h, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
          return 0;
        case VK_TBACK:
          PostMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
          return 0;
        default:
          return 0;
      }
    case WM_CLOSE:
      PostMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      return 0;
    case WM_ACTIVATE:
      if (!s) return 0;
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (HWND f = FocusIn(h)) s->savedFocus = f;
      } else if (!FocusIn(h)) {
        HWND f = s->savedFocus && IsWindow(s->savedFocus) && IsChild(h, s->savedFocus) ? s->savedFocus
                                                                                       : FirstTabStop(h);
        if (f) SetFocus(f);
      }
      return 0;
    case WM_DESTROY:
      if (s && !s->modal) {
        SetWindowLong(h, kStateSlot, 0);
        delete s;
      }
      return 0;
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> stops;
  for (HWND c : Children(dialog))
    if (IsTabStop(c)) stops.push_back(c);
  if (stops.empty()) return nullptr;
  HWND from = ContainingControl(dialog, control);
  auto it = std::find(stops.begin(), stops.end(), from);
  if (it == stops.end()) return previous ? stops.back() : stops.front();
  auto i = static_cast<std::size_t>(it - stops.begin());
  std::size_t n = stops.size();
  return stops[previous ? (i + n - 1) % n : (i + 1) % n];
}

HWND CreateDialogParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  DialogTemplate t;
  WORD id = ResourceId(name);
  if (!id || !LoadDialogTemplate(module, id, &t)) return nullptr;
  return CreateDialogFromTemplate(module, t, owner, proc, param);
}

INT_PTR DialogBoxParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  DialogTemplate t;
  WORD id = ResourceId(name);
  if (!id || !LoadDialogTemplate(module, id, &t)) return -1;
  return DialogBoxFromTemplate(module, t, owner, proc, param);
}

HWND platform::CreateDialogFromTemplate(HINSTANCE module, const DialogTemplate& t, HWND owner, DLGPROC proc,
                                        LPARAM param) {
  auto* state = new DialogState();
  bool made = false;
  HWND dlg = CreateFromTemplate(module, t, owner, proc, param, state, &made);
  if (!made) delete state;  // a window destroyed during its initialisation freed its own state
  return dlg && IsWindow(dlg) ? dlg : nullptr;
}

INT_PTR platform::DialogBoxFromTemplate(HINSTANCE module, const DialogTemplate& t, HWND owner, DLGPROC proc,
                                       LPARAM param) {
  DialogState state;
  state.modal = true;
  bool ownerEnabled = owner && IsWindowEnabled(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  bool made = false;
  HWND dlg = CreateFromTemplate(module, t, owner, proc, param, &state, &made);
  if (!dlg) {
    if (ownerEnabled) EnableWindow(owner, TRUE);
    return -1;
  }
  ModalLoop([&] { return state.ended || !IsWindow(dlg); });
  if (ownerEnabled) EnableWindow(owner, TRUE);
  if (IsWindow(dlg)) {
    SetWindowLong(dlg, kStateSlot, 0);
    DestroyWindow(dlg);
  }
  if (owner && IsWindow(owner)) SetForegroundWindow(owner);
  return state.ended ? state.result : -1;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  DialogState* s = IsWindow(dialog) ? DialogOf(dialog) : nullptr;
  if (!s) return FALSE;
  s->ended = true;
  s->result = result;
  if (!s->modal) {
    ShowWindow(dialog, SW_HIDE);
  } else {
    PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  }
  return TRUE;
}

BOOL SetDlgItemText(HWND dialog, int id, LPCWSTR text) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SetWindowText(c, text ? text : u"") : FALSE;
}

UINT GetDlgItemText(HWND dialog, int id, LPWSTR buffer, int size) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) {
    if (buffer && size > 0) buffer[0] = 0;
    return 0;
  }
  return static_cast<UINT>(GetWindowText(c, buffer, size));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string s = isSigned ? std::to_string(static_cast<INT>(value)) : std::to_string(value);
  return SetDlgItemText(dialog, id, Utf8ToUtf16(s).c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  HWND c = GetDlgItem(dialog, id);
  if (!c) return 0;
  std::u16string t = ctl::WindowTextOf(c);
  std::size_t i = 0;
  while (i < t.size() && t[i] == u' ') ++i;
  bool negative = false;
  if (isSigned && i < t.size() && t[i] == u'-') {
    negative = true;
    ++i;
  }
  if (i >= t.size() || t[i] < u'0' || t[i] > u'9') return 0;
  unsigned long long v = 0;
  for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
    v = v * 10 + static_cast<unsigned>(t[i] - u'0');
    if (v > (isSigned ? 0x80000000ull : 0xFFFFFFFFull)) return 0;  // overflow is a failure
  }
  if (isSigned && !negative && v > 0x7FFFFFFF) return 0;
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(-static_cast<long long>(v)) : static_cast<UINT>(v);
}

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SendMessage(c, msg, wParam, lParam) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return FALSE;
  SendMessage(c, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  return static_cast<UINT>(SendDlgItemMessage(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL SHInitDialog(SHINITDLGINFO* info) {
  if (!info || !IsWindow(info->hDlg)) return FALSE;
  if (!(info->dwMask & SHIDIM_FLAGS)) return TRUE;
  DWORD f = info->dwFlags;
  if (f & SHIDIF_FULLSCREENNOMENUBAR) {
    MoveWindow(info->hDlg, 0, kTrayHeight, ScreenWidth(), ScreenHeight() - kTrayHeight, TRUE);
  } else if (f & (SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN)) {
    RECT wa = WorkArea();
    MoveWindow(info->hDlg, wa.left, wa.top, wa.right - wa.left, wa.bottom - wa.top, TRUE);
  }
  // The phone has no Done button: SHIDIF_DONEBUTTON needs nothing here.
  return TRUE;
}

int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = MessageBoxProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = WC_MESSAGEBOX;
    RegisterClass(&wc);
  });
  UINT buttons = type & MB_TYPEMASK;
  if (buttons != MB_OK && buttons != MB_OKCANCEL && buttons != MB_YESNO) return 0;
  MessageBoxState state;
  state.type = type;
  state.text = text ? text : u"";
  RECT wa = WorkArea();
  HWND box = CreateWindowEx(0, WC_MESSAGEBOX, caption ? caption : u"", WS_POPUP, wa.left, wa.top,
                            wa.right - wa.left, wa.bottom - wa.top, owner, nullptr, nullptr, nullptr);
  if (!box) return 0;
  SetWindowLong(box, 0, reinterpret_cast<LONG_PTR>(&state));
  switch (buttons) {
    case MB_OKCANCEL:
      CreateSoftKeyBar(box, u"OK", IDOK, u"Cancel", IDCANCEL);
      break;
    case MB_YESNO:
      CreateSoftKeyBar(box, u"Yes", IDYES, u"No", IDNO);
      break;
    default:
      CreateSoftKeyBar(box, u"OK", IDOK, u"", 0);
      break;
  }
  bool ownerEnabled = owner && IsWindowEnabled(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  ShowWindow(box, SW_SHOW);
  SetForegroundWindow(box);
  SetFocus(box);
  ModalLoop([&] { return state.done || !IsWindow(box); });
  if (ownerEnabled) EnableWindow(owner, TRUE);
  if (IsWindow(box)) {
    SetWindowLong(box, 0, 0);
    DestroyWindow(box);
  }
  if (owner && IsWindow(owner)) SetForegroundWindow(owner);
  return state.done ? state.result : 0;
}

HCURSOR LoadCursor(HINSTANCE, LPCWSTR name) {
  auto v = reinterpret_cast<std::uintptr_t>(name);
  if (v == 32514) return kWaitCursor;
  if (v == 32512) return kArrowCursor;
  return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
  HCURSOR old = currentCursor;
  if (cursor == kWaitCursor) {
    if (waitCount.fetch_add(1) == 0) ShowBusy(true);
  } else if (waitCount.load() > 0) {
    if (waitCount.fetch_sub(1) == 1) ShowBusy(false);
  }
  currentCursor = waitCount.load() > 0 ? kWaitCursor : cursor;
  return old;
}

HBITMAP LoadBitmap(HINSTANCE module, LPCWSTR name) {
  ResourceImage img;
  WORD id = ResourceId(name);
  if (!id || !LoadBitmapImage(module, id, &img)) return nullptr;
  return CreateBitmapFromArgb(img.width, img.height, img.pixels.data());
}

HICON LoadIcon(HINSTANCE module, LPCWSTR name) {
  ResourceImage img;
  WORD id = ResourceId(name);
  if (!id || !module || !LoadIconImage(module, id, &img)) return nullptr;
  return CreateIconFromArgb(img.width, img.height, img.pixels.data());
}
