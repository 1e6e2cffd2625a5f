// Static text, edit fields, check boxes, spin lists and their spin arrows.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/listview.h"

namespace platform {
namespace {

using ctl::AppendLine;
using ctl::ForwardKey;
using ctl::NotifyParent;
using ctl::Quoted;
using ctl::WindowTextOf;

inline constexpr UINT STM_SETICON = 0x0170;
inline constexpr UINT STM_GETICON = 0x0171;

template <typename T>
T* StateOf(HWND h) {
  return reinterpret_cast<T*>(GetWindowLong(h, 0));
}

template <typename T>
LRESULT CreateOrDestroy(HWND h, UINT msg) {
  if (msg == WM_CREATE) {
    SetWindowLong(h, 0, reinterpret_cast<LONG_PTR>(new T()));
  } else if (msg == WM_DESTROY) {
    delete StateOf<T>(h);
    SetWindowLong(h, 0, 0);
  }
  return 0;
}

DWORD StyleOf(HWND h) {
  return static_cast<DWORD>(GetWindowLong(h, GWL_STYLE));
}

int LineHeight(HDC dc) {
  TEXTMETRIC tm{};
  GetTextMetrics(dc, &tm);
  return std::max<int>(tm.tmHeight, 8);
}

// ---- Static ----

struct StaticState {
  HICON icon = nullptr;
  WORD ordinal = 0;
  HFONT font = nullptr;  // the owner's; null draws with the system font
};

LRESULT StaticProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
    case WM_DESTROY:
      return CreateOrDestroy<StaticState>(h, msg);
    case STM_SETICON: {
      auto* s = StateOf<StaticState>(h);
      if (!s) return 0;
      HICON old = s->icon;
      s->icon = reinterpret_cast<HICON>(wParam);
      InvalidateRect(h, nullptr, TRUE);
      return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON: {
      auto* s = StateOf<StaticState>(h);
      return s ? reinterpret_cast<LRESULT>(s->icon) : 0;
    }
    case WM_SETTEXT: {
      LRESULT r = DefWindowProc(h, msg, wParam, lParam);
      InvalidateRect(h, nullptr, TRUE);
      return r;
    }
    case WM_SETFONT: {
      auto* s = StateOf<StaticState>(h);
      if (!s) return 0;
      s->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case WM_GETFONT: {
      auto* s = StateOf<StaticState>(h);
      return s ? reinterpret_cast<LRESULT>(s->font) : 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      auto* s = StateOf<StaticState>(h);
      DWORD style = StyleOf(h);
      if ((style & SS_TYPEMASK) == SS_ICON) {
        if (s && s->icon) DrawIcon(dc, 0, 0, s->icon);
      } else {
        UINT fmt = DT_WORDBREAK;
        if ((style & SS_TYPEMASK) == SS_CENTER) fmt |= DT_CENTER;
        if ((style & SS_TYPEMASK) == SS_RIGHT) fmt |= DT_RIGHT;
        HGDIOBJ old = s && s->font ? SelectObject(dc, s->font) : nullptr;
        ctl::DrawLabel(dc, WindowTextOf(h), rc, fmt,
                       GetSysColor(IsWindowEnabled(h) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
        if (old) SelectObject(dc, old);
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      auto* s = StateOf<StaticState>(h);
      if ((StyleOf(h) & SS_TYPEMASK) != SS_ICON || !s) return 0;
      AppendLine(lParam, std::string("icon ") + (s->icon ? "set" : "none"));
      return 1;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

// ---- Edit ----

struct EditState {
  std::size_t selStart = 0;
  std::size_t selEnd = 0;  // the caret
  std::size_t limit = kEditDefaultLimit;
  bool numeric = false;
  int topLine = 0;
  bool focused = false;
};

struct Line {
  std::size_t start;  // offset into the text
  std::size_t length;
};

/// Breaks the text into display lines: at line feeds, and at word ends where a line of a
/// multi-line field grows wider than `width`.
std::vector<Line> LayoutLines(HDC dc, const std::u16string& text, bool multiline, int width) {
  std::vector<Line> lines;
  if (!multiline) {
    lines.push_back(Line{0, text.size()});
    return lines;
  }
  std::size_t pos = 0;
  while (true) {
    std::size_t nl = text.find(u'\n', pos);
    std::size_t end = nl == std::u16string::npos ? text.size() : nl;
    std::size_t lineEnd = end;
    if (lineEnd > pos && text[lineEnd - 1] == u'\r') --lineEnd;
    // Wrap this paragraph.
    std::size_t start = pos;
    do {
      std::size_t len = lineEnd - start;
      int fit = static_cast<int>(len);
      SIZE sz{};
      if (width > 0 && len > 0)
        GetTextExtentExPoint(dc, text.c_str() + start, static_cast<int>(len), width, &fit, nullptr, &sz);
      std::size_t take = len;
      if (fit < static_cast<int>(len)) {
        take = static_cast<std::size_t>(std::max(fit, 1));
        std::size_t space = text.rfind(u' ', start + take - 1);
        if (space != std::u16string::npos && space > start) take = space - start + 1;
      }
      lines.push_back(Line{start, take});
      start += take;
    } while (start < lineEnd);
    if (nl == std::u16string::npos) break;
    pos = nl + 1;
  }
  return lines;
}

int LineOf(const std::vector<Line>& lines, std::size_t offset) {
  for (std::size_t i = lines.size(); i-- > 0;)
    if (lines[i].start <= offset) return static_cast<int>(i);
  return 0;
}

struct EditLayout {
  std::vector<Line> lines;
  int lineHeight = 12;
  int visible = 1;
};

EditLayout LayoutOf(HWND h) {
  EditLayout out;
  RECT rc;
  GetClientRect(h, &rc);
  HDC dc = GetDC(h);
  bool multi = (StyleOf(h) & ES_MULTILINE) != 0;
  int width = rc.right - 4 - ((StyleOf(h) & WS_VSCROLL) ? 4 : 0);
  out.lines = LayoutLines(dc, WindowTextOf(h), multi, width);
  out.lineHeight = LineHeight(dc);
  ReleaseDC(h, dc);
  out.visible = std::max(1, static_cast<int>(rc.bottom - rc.top) / out.lineHeight);
  return out;
}

void EditScrollToCaret(HWND h, EditState* s) {
  if (!(StyleOf(h) & ES_MULTILINE)) return;
  EditLayout l = LayoutOf(h);
  int line = LineOf(l.lines, s->selEnd);
  if (line < s->topLine) s->topLine = line;
  if (line >= s->topLine + l.visible) s->topLine = line - l.visible + 1;
  int maxTop = std::max(0, static_cast<int>(l.lines.size()) - l.visible);
  s->topLine = std::clamp(s->topLine, 0, maxTop);
}

/// Replaces the selection with `insert`, cut to the limit; returns false when nothing fit.
bool EditReplace(HWND h, EditState* s, std::u16string insert, bool notify) {
  std::u16string text = WindowTextOf(h);
  std::size_t a = std::min({s->selStart, s->selEnd, text.size()});
  std::size_t b = std::min(std::max(s->selStart, s->selEnd), text.size());
  std::size_t remaining = text.size() - (b - a);
  std::size_t room = s->limit > remaining ? s->limit - remaining : 0;
  bool cut = insert.size() > room;
  if (cut) {
    insert.resize(room);
    // Never split a surrogate pair.
    if (!insert.empty() && insert.back() >= 0xD800 && insert.back() <= 0xDBFF) insert.pop_back();
  }
  if (cut && notify) NotifyParent(h, EN_MAXTEXT);
  if (insert.empty() && a == b) return false;
  text.replace(a, b - a, insert);
  DefWindowProc(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  s->selStart = s->selEnd = a + insert.size();
  EditScrollToCaret(h, s);
  InvalidateRect(h, nullptr, TRUE);
  if (notify) NotifyParent(h, EN_CHANGE);
  return true;
}

bool EditWritable(HWND h) {
  return !(StyleOf(h) & ES_READONLY);
}

void EditPaint(HWND h, EditState* s) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  DWORD style = StyleOf(h);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  std::u16string text = WindowTextOf(h);
  if (style & ES_PASSWORD) text.assign(text.size(), u'*');
  bool multi = (style & ES_MULTILINE) != 0;
  bool scrollbar = (style & WS_VSCROLL) != 0;
  int width = rc.right - 4 - (scrollbar ? 4 : 0);
  auto lines = LayoutLines(dc, text, multi, width);
  int lh = LineHeight(dc);
  int visible = std::max(1, static_cast<int>(rc.bottom) / lh);
  COLORREF color = GetSysColor(IsWindowEnabled(h) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT);
  int caretLine = LineOf(lines, s->selEnd);
  int y = multi ? 0 : std::max(0, static_cast<int>(rc.bottom - lh) / 2);
  // A single-line field scrolls horizontally so that the caret stays in view.
  int xShift = 0;
  if (!multi && s->focused) {
    SIZE sz{};
    GetTextExtentPoint32(dc, text.c_str(), static_cast<int>(std::min(s->selEnd, text.size())), &sz);
    if (sz.cx > width) xShift = sz.cx - width;
  }
  for (int i = s->topLine; i < static_cast<int>(lines.size()) && i < s->topLine + visible; ++i) {
    const Line& ln = lines[static_cast<std::size_t>(i)];
    RECT r{2 - xShift, y, rc.right - (scrollbar ? 5 : 2), y + lh};
    ctl::DrawLabel(dc, text.substr(ln.start, ln.length), r, DT_SINGLELINE | (multi ? 0 : DT_NOCLIP), color);
    if (s->focused && i == caretLine) {
      SIZE sz{};
      std::size_t n = std::min(s->selEnd, text.size()) - ln.start;
      GetTextExtentPoint32(dc, text.c_str() + ln.start, static_cast<int>(std::min(n, ln.length)), &sz);
      RECT caret{2 - xShift + sz.cx, y + 1, 3 - xShift + sz.cx, y + lh - 1};
      FillRect(dc, &caret, GetSysColorBrush(COLOR_WINDOWTEXT));
    }
    y += lh;
  }
  if (style & WS_BORDER) {
    RECT line{0, rc.bottom - 1, rc.right, rc.bottom};
    FillRect(dc, &line, GetSysColorBrush(s->focused ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW));
  }
  if (scrollbar && static_cast<int>(lines.size()) > visible) {
    RECT track{rc.right - 3, 0, rc.right, rc.bottom};
    FillRect(dc, &track, GetSysColorBrush(COLOR_BTNFACE));
    int total = static_cast<int>(lines.size());
    int top = static_cast<int>(rc.bottom) * s->topLine / total;
    int len = std::max(4, static_cast<int>(rc.bottom) * visible / total);
    RECT thumb{rc.right - 3, top, rc.right, std::min<LONG>(rc.bottom, top + len)};
    FillRect(dc, &thumb, GetSysColorBrush(COLOR_HIGHLIGHT));
  }
  EndPaint(h, &ps);
}

LRESULT EditProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) {
    CreateOrDestroy<EditState>(h, msg);
    if (msg == WM_CREATE) StateOf<EditState>(h)->numeric = (StyleOf(h) & ES_NUMBER) != 0;
    return 0;
  }
  auto* s = StateOf<EditState>(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  std::size_t len = static_cast<std::size_t>(GetWindowTextLength(h));
  switch (msg) {
    case WM_SETTEXT: {
      LRESULT r = DefWindowProc(h, msg, wParam, lParam);
      s->selStart = s->selEnd = 0;
      s->topLine = 0;
      InvalidateRect(h, nullptr, TRUE);
      NotifyParent(h, EN_CHANGE);
      return r;
    }
    case WM_PAINT:
      EditPaint(h, s);
      return 0;
    case WM_SETFOCUS:
      s->focused = true;
      s->selStart = s->selEnd = len;
      EditScrollToCaret(h, s);
      InvalidateRect(h, nullptr, TRUE);
      NotifyParent(h, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      s->focused = false;
      InvalidateRect(h, nullptr, TRUE);
      NotifyParent(h, EN_KILLFOCUS);
      return 0;
    case EM_LIMITTEXT:
      s->limit = wParam == 0 ? 0x7FFFFFFE : static_cast<std::size_t>(wParam);
      return 0;
    case EM_GETLIMITTEXT:
      return static_cast<LRESULT>(s->limit);
    case EM_SETINPUTMODE:
      s->numeric = wParam != 0;
      return 0;
    case EM_GETINPUTMODE:
      return s->numeric ? 1 : 0;
    case EM_SETREADONLY: {
      DWORD style = StyleOf(h);
      SetWindowLong(h, GWL_STYLE, wParam ? (style | ES_READONLY) : (style & ~ES_READONLY));
      return 1;
    }
    case EM_SETSEL: {
      auto start = static_cast<std::intptr_t>(wParam);
      auto end = static_cast<std::intptr_t>(lParam);
      if (start < 0) {
        s->selStart = s->selEnd;  // deselect, caret stays
      } else {
        auto clampTo = [&](std::intptr_t v) {
          return v < 0 ? len : std::min(static_cast<std::size_t>(v), len);
        };
        s->selStart = clampTo(start);
        s->selEnd = clampTo(end);
      }
      EditScrollToCaret(h, s);
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case EM_GETSEL: {
      DWORD a = static_cast<DWORD>(std::min(s->selStart, s->selEnd));
      DWORD b = static_cast<DWORD>(std::max(s->selStart, s->selEnd));
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = a;
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = b;
      return static_cast<LRESULT>(MAKELPARAM(static_cast<WORD>(std::min<DWORD>(a, 0xFFFF)),
                                             static_cast<WORD>(std::min<DWORD>(b, 0xFFFF))));
    }
    case EM_REPLACESEL: {
      auto* text = reinterpret_cast<LPCWSTR>(lParam);
      EditReplace(h, s, text ? std::u16string(text) : std::u16string(), true);
      return 0;
    }
    case EM_GETLINECOUNT:
      return static_cast<LRESULT>(LayoutOf(h).lines.size());
    case EM_GETFIRSTVISIBLELINE:
      return s->topLine;
    case EM_SCROLLCARET:
      EditScrollToCaret(h, s);
      InvalidateRect(h, nullptr, TRUE);
      return 1;
    case WM_CHAR: {
      auto ch = static_cast<char16_t>(wParam);
      if (!EditWritable(h)) return 0;
      if (ch == 8) {
        if (s->selStart == s->selEnd) {
          if (s->selEnd == 0) return 0;
          s->selStart = s->selEnd - 1;
          std::u16string text = WindowTextOf(h);
          // Remove a whole surrogate pair, and "\r\n" as one.
          if (s->selStart > 0 && ((text[s->selStart] >= 0xDC00 && text[s->selStart] <= 0xDFFF) ||
                                  (text[s->selStart] == u'\n' && text[s->selStart - 1] == u'\r')))
            --s->selStart;
        }
        EditReplace(h, s, u"", true);
        return 0;
      }
      DWORD style = StyleOf(h);
      if (ch == u'\r') {
        if ((style & ES_MULTILINE) && (style & ES_WANTRETURN) && !s->numeric) EditReplace(h, s, u"\r\n", true);
        return 0;
      }
      if (ch < 0x20) return 0;
      if (s->numeric && !(ch >= u'0' && ch <= u'9')) return 0;
      if (style & ES_UPPERCASE && ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - u'a' + u'A');
      if (style & ES_LOWERCASE && ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
      EditReplace(h, s, std::u16string(1, ch), true);
      return 0;
    }
    case WM_KEYDOWN: {
      UINT vk = static_cast<UINT>(wParam);
      bool multi = (StyleOf(h) & ES_MULTILINE) != 0;
      if (vk == VK_LEFT || vk == VK_RIGHT) {
        if (vk == VK_LEFT && s->selEnd > 0) --s->selEnd;
        if (vk == VK_RIGHT && s->selEnd < len) ++s->selEnd;
        s->selStart = s->selEnd;
        EditScrollToCaret(h, s);
        InvalidateRect(h, nullptr, TRUE);
        return 0;
      }
      if ((vk == VK_UP || vk == VK_DOWN) && multi) {
        EditLayout l = LayoutOf(h);
        int line = LineOf(l.lines, s->selEnd);
        int target = line + (vk == VK_UP ? -1 : 1);
        if (target >= 0 && target < static_cast<int>(l.lines.size())) {
          std::size_t col = s->selEnd - l.lines[static_cast<std::size_t>(line)].start;
          const Line& t = l.lines[static_cast<std::size_t>(target)];
          s->selStart = s->selEnd = t.start + std::min(col, t.length);
          const int top = s->topLine;
          EditScrollToCaret(h, s);
          InvalidateRect(h, nullptr, TRUE);
          if (s->topLine != top) NotifyParent(h, EN_VSCROLL);  // the user scrolled the text
          return 0;
        }
        // A read-only text scrolls as a page.
        if (!EditWritable(h)) {
          int maxTop = std::max(0, static_cast<int>(l.lines.size()) - l.visible);
          int top = std::clamp(s->topLine + (vk == VK_UP ? -1 : 1), 0, maxTop);
          if (top != s->topLine) {
            s->topLine = top;
            InvalidateRect(h, nullptr, TRUE);
            NotifyParent(h, EN_VSCROLL);  // the user scrolled the text
            return 0;
          }
        }
      }
      if (vk == VK_TBACK && EditWritable(h) && (s->selEnd > 0 || s->selStart != s->selEnd)) {
        SendMessage(h, WM_CHAR, 8, 0);
        return 0;
      }
      return ForwardKey(h, msg, wParam, lParam);
    }
    case WM_KEYUP:
      return ForwardKey(h, msg, wParam, lParam);
    case WM_PLATFORM_DESCRIBE: {
      DWORD a = static_cast<DWORD>(std::min(s->selStart, s->selEnd));
      DWORD b = static_cast<DWORD>(std::max(s->selStart, s->selEnd));
      std::string line = "edit sel=" + std::to_string(a) + "," + std::to_string(b) +
                         " lines=" + std::to_string(LayoutOf(h).lines.size()) + " top=" +
                         std::to_string(s->topLine) + " limit=" + std::to_string(s->limit);
      if (s->numeric) line += " numeric";
      if (!EditWritable(h)) line += " readonly";
      AppendLine(lParam, line);
      return 1;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

// ---- Buttons (check boxes) ----

struct ButtonState {
  UINT check = BST_UNCHECKED;
  bool focused = false;
};

LRESULT ButtonProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) return CreateOrDestroy<ButtonState>(h, msg);
  auto* s = StateOf<ButtonState>(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  DWORD type = StyleOf(h) & BS_TYPEMASK;
  bool checkbox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
  switch (msg) {
    case BM_GETCHECK:
      return s->check;
    case BM_SETCHECK:
      s->check = wParam ? BST_CHECKED : BST_UNCHECKED;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      s->focused = msg == WM_SETFOCUS;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_SETTEXT: {
      LRESULT r = DefWindowProc(h, msg, wParam, lParam);
      InvalidateRect(h, nullptr, TRUE);
      return r;
    }
    case WM_KEYDOWN:
      if (wParam == VK_TACTION || wParam == VK_SPACE) {
        if (type == BS_AUTOCHECKBOX) SendMessage(h, BM_SETCHECK, s->check ? BST_UNCHECKED : BST_CHECKED, 0);
        NotifyParent(h, BN_CLICKED);
        return 0;
      }
      return ForwardKey(h, msg, wParam, lParam);
    case WM_CHAR:
      return 0;
    case WM_LBUTTONUP:
      SetFocus(h);
      SendMessage(h, WM_KEYDOWN, VK_TACTION, 0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(s->focused ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      COLORREF color = GetSysColor(s->focused ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
      RECT text = rc;
      if (checkbox) {
        int side = std::min<int>(10, rc.bottom - 2);
        int top = (rc.bottom - side) / 2;
        RECT box{2, top, 2 + side, top + side};
        FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOWTEXT));
        InflateRect(&box, -1, -1);
        FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOW));
        if (s->check) {
          InflateRect(&box, -2, -2);
          FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOWTEXT));
        }
        text.left = 6 + side;
      }
      ctl::DrawLabel(dc, WindowTextOf(h), text, DT_SINGLELINE | DT_VCENTER | (checkbox ? 0 : DT_CENTER), color);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE:
      if (!checkbox) return 0;
      AppendLine(lParam, std::string("checkbox checked=") + (s->check ? "1" : "0"));
      return 1;
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

// ---- Spin lists ----

struct ListItem {
  std::u16string text;
  LPARAM data = 0;
};

struct ListState {
  std::vector<ListItem> items;
  int cur = -1;
  bool focused = false;
};

LRESULT ListProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) return CreateOrDestroy<ListState>(h, msg);
  auto* s = StateOf<ListState>(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  auto count = static_cast<int>(s->items.size());
  auto valid = [&](WPARAM i) { return static_cast<std::intptr_t>(i) >= 0 && static_cast<int>(i) < count; };
  switch (msg) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING: {
      auto* text = reinterpret_cast<LPCWSTR>(lParam);
      ListItem item{text ? std::u16string(text) : std::u16string(), 0};
      std::size_t at = s->items.size();
      if (msg == LB_INSERTSTRING) {
        auto i = static_cast<std::intptr_t>(wParam);
        if (i >= 0) {
          if (i > count) return LB_ERR;
          at = static_cast<std::size_t>(i);
        }
      } else if (StyleOf(h) & LBS_SORT) {
        at = static_cast<std::size_t>(
            std::upper_bound(s->items.begin(), s->items.end(), item,
                             [](const ListItem& a, const ListItem& b) { return a.text < b.text; }) -
            s->items.begin());
      }
      s->items.insert(s->items.begin() + static_cast<std::ptrdiff_t>(at), item);
      if (s->cur >= static_cast<int>(at)) ++s->cur;
      InvalidateRect(h, nullptr, TRUE);
      return static_cast<LRESULT>(at);
    }
    case LB_DELETESTRING:
      if (!valid(wParam)) return LB_ERR;
      s->items.erase(s->items.begin() + static_cast<std::ptrdiff_t>(wParam));
      if (s->cur == static_cast<int>(wParam))
        s->cur = -1;
      else if (s->cur > static_cast<int>(wParam))
        --s->cur;
      InvalidateRect(h, nullptr, TRUE);
      return static_cast<LRESULT>(s->items.size());
    case LB_RESETCONTENT:
      s->items.clear();
      s->cur = -1;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case LB_SETCURSEL:
      if (!valid(wParam)) {
        s->cur = -1;
        InvalidateRect(h, nullptr, TRUE);
        return LB_ERR;
      }
      s->cur = static_cast<int>(wParam);
      InvalidateRect(h, nullptr, TRUE);
      return s->cur;
    case LB_GETCURSEL:
      return s->cur < 0 ? LB_ERR : s->cur;
    case LB_GETCOUNT:
      return count;
    case LB_GETTEXTLEN:
      return valid(wParam) ? static_cast<LRESULT>(s->items[wParam].text.size()) : LB_ERR;
    case LB_GETTEXT: {
      // The buffer must hold LB_GETTEXTLEN + 1 characters.
      if (!valid(wParam) || !lParam) return LB_ERR;
      const auto& t = s->items[wParam].text;
      auto* out = reinterpret_cast<WCHAR*>(lParam);
      std::copy(t.begin(), t.end(), out);
      out[t.size()] = 0;
      return static_cast<LRESULT>(t.size());
    }
    case LB_GETITEMDATA:
      return valid(wParam) ? s->items[wParam].data : LB_ERR;
    case LB_SETITEMDATA:
      if (!valid(wParam)) return LB_ERR;
      s->items[wParam].data = lParam;
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      s->focused = msg == WM_SETFOCUS;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_KEYDOWN:
      if ((wParam == VK_LEFT || wParam == VK_RIGHT) && count > 0) {
        int step = wParam == VK_LEFT ? -1 : 1;
        s->cur = s->cur < 0 ? 0 : (s->cur + step + count) % count;
        InvalidateRect(h, nullptr, TRUE);
        if (StyleOf(h) & LBS_NOTIFY) NotifyParent(h, LBN_SELCHANGE);
        return 0;
      }
      return ForwardKey(h, msg, wParam, lParam);
    case WM_CHAR:
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(s->focused ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      if (s->cur >= 0 && s->cur < count) {
        RECT text{2, 0, rc.right - 14, rc.bottom};
        ctl::DrawLabel(dc, s->items[static_cast<std::size_t>(s->cur)].text, text,
                       DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS,
                       GetSysColor(s->focused ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
      }
      RECT line{0, rc.bottom - 1, rc.right, rc.bottom};
      FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE: {
      AppendLine(lParam, "list count=" + std::to_string(count) + " sel=" + std::to_string(s->cur));
      for (int i = 0; i < count; ++i)
        AppendLine(lParam, "item " + std::to_string(i) + " " + Quoted(s->items[static_cast<std::size_t>(i)].text) +
                               (i == s->cur ? " selected" : ""));
      return 1;
    }
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

// ---- Spin arrows ----

struct SpinState {
  HWND buddy = nullptr;
};

LRESULT SpinProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE || msg == WM_DESTROY) return CreateOrDestroy<SpinState>(h, msg);
  auto* s = StateOf<SpinState>(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case UDM_SETBUDDY: {
      HWND old = s->buddy;
      s->buddy = reinterpret_cast<HWND>(wParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
      return reinterpret_cast<LRESULT>(s->buddy);
    case WM_LBUTTONUP: {
      RECT rc;
      GetClientRect(h, &rc);
      if (s->buddy && IsWindow(s->buddy)) {
        SetFocus(s->buddy);
        SendMessage(s->buddy, WM_KEYDOWN, LOWORD(static_cast<WPARAM>(lParam)) < rc.right / 2 ? VK_LEFT : VK_RIGHT,
                    0);
      }
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
      int mid = rc.bottom / 2;
      // Two small arrow heads, left and right.
      for (int i = 0; i < 3; ++i) {
        RECT l{1 + i, mid - i, 2 + i, mid + i + 1};
        RECT r{rc.right - 2 - i, mid - i, rc.right - 1 - i, mid + i + 1};
        FillRect(dc, &l, GetSysColorBrush(COLOR_BTNTEXT));
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNTEXT));
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_PLATFORM_DESCRIBE:
      AppendLine(lParam, "spin buddy=" + std::to_string(s->buddy ? GetDlgCtrlID(s->buddy) : 0));
      return 1;
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

}  // namespace

void RegisterControlClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct {
      const WCHAR* name;
      WNDPROC proc;
      int background;
    } classes[] = {{WC_STATIC, StaticProc, COLOR_WINDOW},
                   {WC_EDIT, EditProc, COLOR_WINDOW},
                   {WC_BUTTON, ButtonProc, COLOR_WINDOW},
                   {WC_LISTBOX, ListProc, COLOR_WINDOW},
                   {UPDOWN_CLASS, SpinProc, COLOR_BTNFACE}};
    for (const auto& c : classes) {
      WNDCLASS wc{};
      wc.lpfnWndProc = c.proc;
      wc.cbWndExtra = sizeof(LONG_PTR);
      wc.hbrBackground = GetSysColorBrush(c.background);
      wc.lpszClassName = c.name;
      RegisterClass(&wc);
    }
  });
  RegisterListViewClass();
}

}  // namespace platform
