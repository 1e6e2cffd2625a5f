// Menus, the soft-key menu bar and popup menus with numbered items.

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"
#include "platform/display.h"
#include "platform/menubar.h"

namespace platform {
namespace {

using ctl::AppendLine;
using ctl::Quoted;

struct MenuEntry {
  UINT flags = 0;
  UINT id = 0;
  std::u16string text;
  HMENU sub = nullptr;
};

struct Menu {
  std::vector<MenuEntry> items;
};

struct MenuStore {
  std::mutex mu;
  std::map<HMENU, Menu> menus;
  std::uintptr_t next = 0x4D000;
};

MenuStore& Store() {
  static MenuStore store;
  return store;
}

/// Runs `f` on the menu under the store lock; false when the handle is not a menu.
template <typename F>
bool WithMenu(HMENU h, F f) {
  std::lock_guard lock(Store().mu);
  auto it = Store().menus.find(h);
  if (it == Store().menus.end()) return false;
  f(it->second);
  return true;
}

HMENU NewMenu() {
  std::lock_guard lock(Store().mu);
  auto h = reinterpret_cast<HMENU>(Store().next);
  Store().next += 0x10;
  Store().menus[h] = Menu{};
  return h;
}

/// The menu and index holding an item, searching sub-menus for MF_BYCOMMAND; the store
/// lock must be held.
bool LocateLocked(HMENU h, UINT position, UINT flags, Menu** menu, std::size_t* index, int depth = 0) {
  auto it = Store().menus.find(h);
  if (it == Store().menus.end() || depth > kMaxMenuDepth) return false;
  Menu& m = it->second;
  if (flags & MF_BYPOSITION) {
    if (position >= m.items.size()) return false;
    *menu = &m;
    *index = position;
    return true;
  }
  for (std::size_t i = 0; i < m.items.size(); ++i) {
    if (!m.items[i].sub && !(m.items[i].flags & MF_SEPARATOR) && m.items[i].id == position) {
      *menu = &m;
      *index = i;
      return true;
    }
  }
  for (std::size_t i = 0; i < m.items.size(); ++i)
    if (m.items[i].sub && LocateLocked(m.items[i].sub, position, flags, menu, index, depth + 1)) return true;
  return false;
}

MenuEntry MakeEntry(UINT flags, UINT_PTR idNewItem, LPCWSTR text) {
  MenuEntry e;
  e.flags = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_SEPARATOR);
  if (flags & MF_POPUP)
    e.sub = reinterpret_cast<HMENU>(idNewItem);
  else
    e.id = static_cast<UINT>(idNewItem);
  if (text && !(flags & MF_SEPARATOR)) e.text = text;
  return e;
}

void DestroyMenuLocked(HMENU h, int depth) {
  auto it = Store().menus.find(h);
  if (it == Store().menus.end() || depth > kMaxMenuDepth) return;
  std::vector<HMENU> subs;
  for (const auto& e : it->second.items)
    if (e.sub) subs.push_back(e.sub);
  Store().menus.erase(it);
  for (HMENU s : subs) DestroyMenuLocked(s, depth + 1);
}

HMENU BuildMenu(const std::vector<MenuItem>& items, bool popup) {
  HMENU h = popup ? CreatePopupMenu() : CreateMenu();
  for (const MenuItem& item : items) {
    if (item.flags & MF_POPUP) {
      HMENU sub = BuildMenu(item.items, true);
      AppendMenu(h, item.flags, reinterpret_cast<UINT_PTR>(sub), item.text.c_str());
    } else {
      AppendMenu(h, item.flags, item.id, item.text.c_str());
    }
  }
  return h;
}

std::vector<MenuEntry> Snapshot(HMENU h) {
  std::vector<MenuEntry> out;
  WithMenu(h, [&](Menu& m) { out = m.items; });
  return out;
}

bool Selectable(const MenuEntry& e) {
  return !(e.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED));
}

// ---- Popup windows ----

struct PopupState {
  HMENU menu = nullptr;
  HWND owner = nullptr;        // receives WM_INITMENUPOPUP and WM_COMMAND
  HWND parentPopup = nullptr;  // the popup this one cascades from
  HWND restoreFocus = nullptr;
  int sel = -1;
  bool rightAligned = false;
  UINT* result = nullptr;  // TrackPopupMenu with TPM_RETURNCMD
  bool* done = nullptr;
};

constexpr int kRowHeight = 18;

PopupState* PopupOf(HWND h) {
  return reinterpret_cast<PopupState*>(GetWindowLong(h, 0));
}

HWND OpenPopup(HMENU menu, HWND owner, HWND parentPopup, bool rightAligned, UINT* result, bool* done);

/// Closes a popup and every popup it cascades from; delivers `command` when non-zero.
void ClosePopups(HWND popup, UINT command, bool all) {
  PopupState* s = PopupOf(popup);
  if (!s) return;
  HWND owner = s->owner;
  HWND parent = s->parentPopup;
  HWND focus = s->restoreFocus;
  UINT* result = s->result;
  bool* done = s->done;
  DestroyWindow(popup);
  if (parent && IsWindow(parent)) {
    if (all) {
      ClosePopups(parent, command, true);
      return;
    }
    SetForegroundWindow(parent);
    SetFocus(parent);
    return;
  }
  if (owner && IsWindow(owner)) {
    HWND top = owner;
    while (GetParent(top) && (GetWindowLong(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    SetForegroundWindow(top);
    if (focus && IsWindow(focus)) SetFocus(focus);
  }
  if (result) *result = command;
  if (done) *done = true;
  if (command && !result && owner) PostMessage(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), 0), 0);
}

void Choose(HWND popup, int index) {
  PopupState* s = PopupOf(popup);
  auto items = Snapshot(s->menu);
  if (index < 0 || index >= static_cast<int>(items.size())) return;
  const MenuEntry& e = items[static_cast<std::size_t>(index)];
  if (!Selectable(e)) return;
  s->sel = index;
  if (e.sub) {
    SendMessage(s->owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(e.sub), MAKELPARAM(static_cast<WORD>(index), 0));
    OpenPopup(e.sub, s->owner, popup, s->rightAligned, nullptr, nullptr);
    return;
  }
  ClosePopups(popup, e.id, true);
}

void MoveSel(HWND popup, int step) {
  PopupState* s = PopupOf(popup);
  auto items = Snapshot(s->menu);
  int n = static_cast<int>(items.size());
  for (int k = 1; k <= n; ++k) {
    int i = ((s->sel < 0 ? (step > 0 ? -1 : 0) : s->sel) + step * k % n + 2 * n) % n;
    if (!(items[static_cast<std::size_t>(i)].flags & MF_SEPARATOR)) {
      s->sel = i;
      break;
    }
  }
  InvalidateRect(popup, nullptr, TRUE);
}

LRESULT PopupProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  PopupState* s = PopupOf(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_KEYDOWN: {
      UINT vk = static_cast<UINT>(wParam);
      if (vk == VK_UP || vk == VK_DOWN) {
        MoveSel(h, vk == VK_UP ? -1 : 1);
      } else if (vk == VK_TACTION || vk == VK_TSOFT1) {
        Choose(h, s->sel);
      } else if (vk == VK_RIGHT) {
        auto items = Snapshot(s->menu);
        if (s->sel >= 0 && s->sel < static_cast<int>(items.size()) && items[static_cast<std::size_t>(s->sel)].sub)
          Choose(h, s->sel);
      } else if (vk == VK_TBACK || vk == VK_TSOFT2 || (vk == VK_LEFT && s->parentPopup)) {
        ClosePopups(h, 0, vk == VK_TSOFT2);
      } else if (vk >= '1' && vk <= '9') {
        // Numbered items: separators take no number.
        int number = static_cast<int>(vk - '0');
        auto items = Snapshot(s->menu);
        for (int i = 0, k = 0; i < static_cast<int>(items.size()); ++i) {
          if (items[static_cast<std::size_t>(i)].flags & MF_SEPARATOR) continue;
          if (++k == number) {
            Choose(h, i);
            break;
          }
        }
      }
      return 0;
    }
    case WM_DESTROY:
      SetWindowLong(h, 0, 0);
      delete s;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOWTEXT));
      InflateRect(&rc, -1, -1);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_MENU));
      auto items = Snapshot(s->menu);
      int y = 2, number = 0;
      for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        const MenuEntry& e = items[static_cast<std::size_t>(i)];
        if (e.flags & MF_SEPARATOR) {
          RECT line{4, y + 2, rc.right - 4, y + 3};
          FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
          y += 5;
          continue;
        }
        ++number;
        RECT row{1, y, rc.right, y + kRowHeight};
        bool sel = i == s->sel;
        if (sel) FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
        COLORREF color = GetSysColor(!Selectable(e) ? COLOR_GRAYTEXT : sel ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT);
        std::u16string label = number <= 9 ? Utf8ToUtf16(std::to_string(number)) + u" " + e.text : u"  " + e.text;
        RECT text{row.left + 4, row.top, row.right - 10, row.bottom};
        ctl::DrawLabel(dc, label, text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS, color);
        if (e.sub) {
          RECT arrow{row.right - 10, row.top, row.right - 2, row.bottom};
          ctl::DrawLabel(dc, u">", arrow, DT_SINGLELINE | DT_VCENTER, color);
        }
        y += kRowHeight;
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      auto items = Snapshot(s->menu);
      AppendLine(lParam, "popup items=" + std::to_string(items.size()) + " sel=" + std::to_string(s->sel));
      int number = 0;
      for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        const MenuEntry& e = items[static_cast<std::size_t>(i)];
        if (e.flags & MF_SEPARATOR) {
          AppendLine(lParam, "separator");
          continue;
        }
        std::string line = std::to_string(++number) + " " + Quoted(e.text) + " id=" + std::to_string(e.id);
        if (!Selectable(e)) line += " grayed";
        if (e.flags & MF_CHECKED) line += " checked";
        if (e.sub) line += " popup";
        if (i == s->sel) line += " selected";
        AppendLine(lParam, line);
      }
      return 1;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

void EnsureClasses();

HWND OpenPopup(HMENU menu, HWND owner, HWND parentPopup, bool rightAligned, UINT* result, bool* done) {
  EnsureClasses();
  auto items = Snapshot(menu);
  if (items.empty()) return nullptr;
  int height = 4;
  for (const auto& e : items) height += (e.flags & MF_SEPARATOR) ? 5 : kRowHeight;
  int sw = ScreenWidth(), sh = ScreenHeight();
  int width = sw * 3 / 4;
  int bottom = sh - kSoftKeyBarHeight;
  height = std::min(height, bottom - kTrayHeight);
  int x = rightAligned ? sw - width : 0;
  int y = bottom - height;
  if (parentPopup) {
    RECT pr;
    GetWindowRect(parentPopup, &pr);
    x = rightAligned ? std::max(0, static_cast<int>(pr.left) - 12) : std::min(sw - width, static_cast<int>(pr.left) + 12);
    y = std::max(kTrayHeight, y - 12);
  }
  auto* s = new PopupState();
  s->menu = menu;
  s->owner = owner;
  s->parentPopup = parentPopup;
  s->rightAligned = rightAligned;
  s->result = result;
  s->done = done;
  s->restoreFocus = GetFocus();
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!(items[i].flags & MF_SEPARATOR)) {
      s->sel = static_cast<int>(i);
      break;
    }
  HWND top = parentPopup ? parentPopup : owner;
  HWND popup = CreateWindowEx(0, WC_POPUPMENU, u"", WS_POPUP, x, y, width, height, top, nullptr, nullptr, nullptr);
  if (!popup) {
    delete s;
    return nullptr;
  }
  SetWindowLong(popup, 0, reinterpret_cast<LONG_PTR>(s));
  ShowWindow(popup, SW_SHOW);
  SetForegroundWindow(popup);
  SetFocus(popup);
  return popup;
}

// ---- The soft-key bar ----

struct SoftKey {
  std::u16string label;
  UINT command = 0;
  HMENU popup = nullptr;
  bool enabled = true;
  bool present = false;
};

struct BarState {
  HWND owner = nullptr;
  HMENU menu = nullptr;  // owned by the bar
  SoftKey keys[2];
  bool backOverride = false;
};

constexpr int kHotSoft1 = 0xB001;
constexpr int kHotSoft2 = 0xB002;
constexpr int kHotBack = 0xB003;
constexpr UINT kPressKey = WM_USER + 410;  // wParam: virtual key

std::mutex barsMu;
std::map<HWND, HWND> barsByOwner;

BarState* BarOf(HWND h) {
  return reinterpret_cast<BarState*>(GetWindowLong(h, 0));
}

/// Sends a key that the bar does not take to where it would have gone.
void DeliverKey(HWND fg, UINT vk) {
  if (!fg) return;
  HWND target = fg;
  if (GetWindowThreadProcessId(fg, nullptr) == GetCurrentThreadId()) {
    HWND f = GetFocus();
    if (f && (f == fg || IsChild(fg, f))) target = f;
  }
  PostMessage(target, WM_KEYDOWN, vk, 1);
}

void PressSoftKey(HWND bar, int side) {
  BarState* s = BarOf(bar);
  if (!s) return;
  SoftKey& k = s->keys[side];
  if (!k.present || !k.enabled) return;
  if (k.popup) {
    int index = -1;
    WithMenu(s->menu, [&](Menu& m) {
      for (std::size_t i = 0; i < m.items.size(); ++i)
        if (m.items[i].sub == k.popup) index = static_cast<int>(i);
    });
    SendMessage(s->owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(k.popup),
                MAKELPARAM(static_cast<WORD>(index < 0 ? 0 : index), 0));
    OpenPopup(k.popup, s->owner, nullptr, side == 1, nullptr, nullptr);
    return;
  }
  PostMessage(s->owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(k.command), 0), 0);
}

void HandleKey(HWND bar, UINT vk) {
  HWND fg = GetForegroundWindow();
  if (fg) {
    WCHAR cls[32];
    int n = GetClassName(fg, cls, 32);
    if (std::u16string(cls, static_cast<std::size_t>(n)) == WC_MENUBAR && BarOf(fg)) fg = BarOf(fg)->owner;
  }
  HWND mine = nullptr;
  {
    std::lock_guard lock(barsMu);
    auto it = barsByOwner.find(fg);
    if (it != barsByOwner.end()) mine = it->second;
  }
  if (mine && mine != bar) {
    PostMessage(mine, kPressKey, vk, 0);
    return;
  }
  if (!mine) {
    DeliverKey(fg, vk);
    return;
  }
  BarState* s = BarOf(bar);
  if (vk == VK_TBACK) {
    if (s->backOverride)
      SendMessage(s->owner, WM_HOTKEY, kHotBack, MAKELPARAM(0, static_cast<WORD>(VK_TBACK)));
    else
      DeliverKey(fg, vk);
    return;
  }
  PressSoftKey(bar, vk == VK_TSOFT1 ? 0 : 1);
}

SoftKey* KeyByCommand(BarState* s, UINT command) {
  for (auto& k : s->keys)
    if (k.present && k.command == command) return &k;
  return nullptr;
}

LRESULT BarProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  BarState* s = BarOf(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_HOTKEY:
      HandleKey(h, HIWORD(static_cast<WPARAM>(lParam)));
      return 0;
    case WM_ACTIVATE:
      // The bar never keeps the activation: it goes back to the window the bar belongs to.
      if (LOWORD(wParam) != WA_INACTIVE && IsWindow(s->owner)) SetForegroundWindow(s->owner);
      return 0;
    case kPressKey:
      HandleKey(h, static_cast<UINT>(wParam));
      return 0;
    case WM_LBUTTONUP: {
      RECT rc;
      GetClientRect(h, &rc);
      PressSoftKey(h, LOWORD(static_cast<WPARAM>(lParam)) < rc.right / 2 ? 0 : 1);
      return 0;
    }
    case SHCMBM_GETMENU:
      return reinterpret_cast<LRESULT>(s->menu);
    case SHCMBM_GETSUBMENU: {
      SoftKey* k = KeyByCommand(s, static_cast<UINT>(lParam));
      return k ? reinterpret_cast<LRESULT>(k->popup) : 0;
    }
    case SHCMBM_OVERRIDEKEY: {
      if (wParam != VK_TBACK) return FALSE;
      WORD mask = LOWORD(static_cast<WPARAM>(lParam)), flags = HIWORD(static_cast<WPARAM>(lParam));
      if (mask & SHMBOF_NODEFAULT) {
        bool on = (flags & SHMBOF_NODEFAULT) != 0;
        s->backOverride = on;
        if (on)
          RegisterHotKey(h, kHotBack, 0, VK_TBACK);
        else
          UnregisterHotKey(h, kHotBack);
      }
      return TRUE;
    }
    case TB_SETBUTTONINFO:
    case TB_GETBUTTONINFO: {
      auto* info = reinterpret_cast<TBBUTTONINFO*>(lParam);
      SoftKey* k = KeyByCommand(s, static_cast<UINT>(wParam));
      if (!k || !info) return FALSE;
      if (msg == TB_SETBUTTONINFO) {
        if (info->dwMask & TBIF_TEXT) k->label = info->pszText ? info->pszText : u"";
        if (info->dwMask & TBIF_STATE) k->enabled = (info->fsState & TBSTATE_ENABLED) != 0;
        if (info->dwMask & TBIF_COMMAND) k->command = static_cast<UINT>(info->idCommand);
        InvalidateRect(h, nullptr, TRUE);
      } else {
        if ((info->dwMask & TBIF_TEXT) && info->pszText && info->cchText > 0) {
          std::size_t n = std::min(k->label.size(), static_cast<std::size_t>(info->cchText - 1));
          std::copy_n(k->label.begin(), n, info->pszText);
          info->pszText[n] = 0;
        }
        if (info->dwMask & TBIF_STATE) info->fsState = k->enabled ? TBSTATE_ENABLED : 0;
        info->idCommand = static_cast<int>(k->command);
      }
      return TRUE;
    }
    case TB_ENABLEBUTTON: {
      SoftKey* k = KeyByCommand(s, static_cast<UINT>(wParam));
      if (!k) return FALSE;
      k->enabled = LOWORD(static_cast<WPARAM>(lParam)) != 0;
      InvalidateRect(h, nullptr, TRUE);
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
      RECT divider{0, 0, rc.right, 1};
      FillRect(dc, &divider, GetSysColorBrush(COLOR_BTNSHADOW));
      for (int side = 0; side < 2; ++side) {
        const SoftKey& k = s->keys[side];
        if (!k.present) continue;
        RECT r = side == 0 ? RECT{4, 1, rc.right / 2, rc.bottom} : RECT{rc.right / 2, 1, rc.right - 4, rc.bottom};
        ctl::DrawLabel(dc, k.label, r, DT_SINGLELINE | DT_VCENTER | (side == 0 ? DT_LEFT : DT_RIGHT),
                       GetSysColor(k.enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      std::string line = "softkeys";
      const char* names[2] = {"left", "right"};
      for (int side = 0; side < 2; ++side) {
        const SoftKey& k = s->keys[side];
        line += std::string(" ") + names[side] + "=" + (k.present ? Quoted(k.label) : "none");
        if (k.present && k.popup) line += "(menu)";
        if (k.present && !k.enabled) line += "(grayed)";
      }
      AppendLine(lParam, line);
      return 1;
    }
    case WM_DESTROY: {
      {
        std::lock_guard lock(barsMu);
        auto it = barsByOwner.find(s->owner);
        if (it != barsByOwner.end() && it->second == h) barsByOwner.erase(it);
      }
      UnregisterHotKey(h, kHotSoft1);
      UnregisterHotKey(h, kHotSoft2);
      UnregisterHotKey(h, kHotBack);
      if (s->menu) DestroyMenu(s->menu);
      SetWindowLong(h, 0, 0);
      delete s;
      return 0;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

void EnsureClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.lpfnWndProc = BarProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = WC_MENUBAR;
    RegisterClass(&wc);
    wc.lpfnWndProc = PopupProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_MENU);
    wc.lpszClassName = WC_POPUPMENU;
    RegisterClass(&wc);
  });
}

HWND MakeBar(HWND owner, std::unique_ptr<BarState> state) {
  EnsureClasses();
  if (!owner || !IsWindow(owner)) return nullptr;
  if (HWND old = SHFindMenuBar(owner)) DestroyWindow(old);
  int sw = ScreenWidth(), sh = ScreenHeight();
  HWND bar = CreateWindowEx(0, WC_MENUBAR, u"", WS_POPUP, 0, sh - kSoftKeyBarHeight, sw, kSoftKeyBarHeight, owner,
                            nullptr, nullptr, nullptr);
  if (!bar) return nullptr;
  state->owner = owner;
  SetWindowLong(bar, 0, reinterpret_cast<LONG_PTR>(state.release()));
  {
    std::lock_guard lock(barsMu);
    barsByOwner[owner] = bar;
  }
  RegisterHotKey(bar, kHotSoft1, 0, VK_TSOFT1);
  RegisterHotKey(bar, kHotSoft2, 0, VK_TSOFT2);
  ShowWindow(bar, SW_SHOWNA);
  return bar;
}

}  // namespace

HWND CreateSoftKeyBar(HWND owner, const std::u16string& leftLabel, UINT leftCommand, const std::u16string& rightLabel,
                      UINT rightCommand, HMENU rightPopup) {
  auto state = std::make_unique<BarState>();
  if (!leftLabel.empty()) state->keys[0] = SoftKey{leftLabel, leftCommand, nullptr, true, true};
  if (!rightLabel.empty() || rightPopup) state->keys[1] = SoftKey{rightLabel, rightCommand, rightPopup, true, true};
  return MakeBar(owner, std::move(state));
}

}  // namespace platform

using namespace platform;

HMENU CreateMenu() {
  return NewMenu();
}

HMENU CreatePopupMenu() {
  return NewMenu();
}

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard lock(Store().mu);
  if (!Store().menus.count(menu)) return FALSE;
  DestroyMenuLocked(menu, 0);
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  return WithMenu(menu, [](Menu&) {}) ? TRUE : FALSE;
}

HMENU LoadMenu(HINSTANCE module, LPCWSTR name) {
  auto v = reinterpret_cast<std::uintptr_t>(name);
  MenuTemplate t;
  if (v == 0 || v > 0xFFFF || !LoadMenuTemplate(module, static_cast<UINT>(v), &t)) return nullptr;
  return BuildMenu(t.items, false);
}

BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR text) {
  MenuEntry e = MakeEntry(flags, idNewItem, text);
  return WithMenu(menu, [&](Menu& m) { m.items.push_back(e); }) ? TRUE : FALSE;
}

BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR text) {
  MenuEntry e = MakeEntry(flags, idNewItem, text);
  std::lock_guard lock(Store().mu);
  auto it = Store().menus.find(menu);
  if (it == Store().menus.end()) return FALSE;
  if (flags & MF_BYPOSITION) {
    auto& items = it->second.items;
    std::size_t at = position >= items.size() ? items.size() : position;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), e);
    return TRUE;
  }
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, position, flags, &m, &index)) {
    it->second.items.push_back(e);  // an unknown command appends, as on the phone
    return TRUE;
  }
  m->items.insert(m->items.begin() + static_cast<std::ptrdiff_t>(index), e);
  return TRUE;
}

BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR text) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, position, flags, &m, &index)) return FALSE;
  m->items[index] = MakeEntry(flags, idNewItem, text);
  return TRUE;
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, position, flags, &m, &index)) return FALSE;
  m->items.erase(m->items.begin() + static_cast<std::ptrdiff_t>(index));
  return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, position, flags, &m, &index)) return FALSE;
  HMENU sub = m->items[index].sub;
  m->items.erase(m->items.begin() + static_cast<std::ptrdiff_t>(index));
  if (sub) DestroyMenuLocked(sub, 0);
  return TRUE;
}

int EnableMenuItem(HMENU menu, UINT idItem, UINT enable) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, idItem, enable, &m, &index)) return -1;
  UINT& f = m->items[index].flags;
  int previous = static_cast<int>(f & (MF_GRAYED | MF_DISABLED));
  f = (f & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return previous;
}

DWORD CheckMenuItem(HMENU menu, UINT idItem, UINT check) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, idItem, check, &m, &index)) return static_cast<DWORD>(-1);
  UINT& f = m->items[index].flags;
  DWORD previous = f & MF_CHECKED;
  f = (f & ~MF_CHECKED) | (check & MF_CHECKED);
  return previous;
}

int GetMenuItemCount(HMENU menu) {
  int n = -1;
  WithMenu(menu, [&](Menu& m) { n = static_cast<int>(m.items.size()); });
  return n;
}

UINT GetMenuItemID(HMENU menu, int position) {
  UINT id = static_cast<UINT>(-1);
  WithMenu(menu, [&](Menu& m) {
    if (position >= 0 && static_cast<std::size_t>(position) < m.items.size() && !m.items[static_cast<std::size_t>(position)].sub)
      id = m.items[static_cast<std::size_t>(position)].id;
  });
  return id;
}

UINT GetMenuState(HMENU menu, UINT idItem, UINT flags) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, idItem, flags, &m, &index)) return static_cast<UINT>(-1);
  const MenuEntry& e = m->items[index];
  if (e.sub) {
    auto it = Store().menus.find(e.sub);
    UINT count = it == Store().menus.end() ? 0 : static_cast<UINT>(it->second.items.size());
    return (count << 8) | (e.flags & 0xFF) | MF_POPUP;
  }
  return e.flags;
}

int GetMenuString(HMENU menu, UINT idItem, LPWSTR buffer, int size, UINT flags) {
  std::lock_guard lock(Store().mu);
  Menu* m = nullptr;
  std::size_t index = 0;
  if (!LocateLocked(menu, idItem, flags, &m, &index)) return 0;
  const std::u16string& t = m->items[index].text;
  if (!buffer || size <= 0) return static_cast<int>(t.size());
  std::size_t n = std::min(t.size(), static_cast<std::size_t>(size - 1));
  std::copy_n(t.begin(), n, buffer);
  buffer[n] = 0;
  return static_cast<int>(n);
}

HMENU GetSubMenu(HMENU menu, int position) {
  HMENU sub = nullptr;
  WithMenu(menu, [&](Menu& m) {
    if (position >= 0 && static_cast<std::size_t>(position) < m.items.size())
      sub = m.items[static_cast<std::size_t>(position)].sub;
  });
  return sub;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int, int, int, HWND owner, const RECT*) {
  UINT result = 0;
  bool done = false;
  SendMessage(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  HWND popup = OpenPopup(menu, owner, nullptr, false, &result, &done);
  if (!popup) return FALSE;
  while (!done && IsWindow(popup)) {
    MSG m;
    if (!GetMessage(&m, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  // Cascaded popups may still be open when a quit ended the loop.
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(result);
  if (result) PostMessage(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(result), 0), 0);
  return TRUE;
}

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
  if (!info || !info->hwndParent) return FALSE;
  info->hwndMB = nullptr;
  auto state = std::make_unique<BarState>();
  if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
    MenuBarRecord record;
    HMODULE module = info->hInstRes;
    if (!LoadMenuBarRecord(module, info->nToolBarId, &record)) return FALSE;
    state->menu = LoadMenu(module, MAKEINTRESOURCE(static_cast<int>(record.menuId)));
    int side = 0;
    for (const MenuBarButton& b : record.buttons) {
      if (side >= 2) break;
      SoftKey k;
      k.present = true;
      k.command = b.command;
      k.enabled = (b.state & TBSTATE_ENABLED) != 0;
      LoadStringText(ResourceTable::FromModule(module), b.labelId, &k.label);
      if (b.popupIndex != NOMENU) k.popup = GetSubMenu(state->menu, b.popupIndex);
      state->keys[side++] = std::move(k);
    }
  }
  HMENU menu = state->menu;
  HWND bar = MakeBar(info->hwndParent, std::move(state));
  if (!bar) {
    if (menu) DestroyMenu(menu);
    return FALSE;
  }
  if (info->dwFlags & SHCMBF_HIDDEN) ShowWindow(bar, SW_HIDE);
  info->hwndMB = bar;
  return TRUE;
}

HWND SHFindMenuBar(HWND hwnd) {
  std::lock_guard lock(barsMu);
  auto it = barsByOwner.find(hwnd);
  return it == barsByOwner.end() ? nullptr : it->second;
}
