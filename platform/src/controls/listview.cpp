// The report-style list view: rows of one or more columns with an optional icon, full-row
// selection, a vertical scroll bar when the rows overflow, owner drawing through the parent
// and WM_NOTIFY notifications. Up and Down wrap at the ends, as every list screen of the
// phone expects.
//
// A notification may run any code in the parent, including code that changes or destroys
// this list, so the state is looked up again after every message sent to the parent.

#include "platform/listview.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"
#include "core/fold.h"

namespace platform {
namespace {

using ctl::AppendLine;
using ctl::ForwardKey;
using ctl::Quoted;

constexpr UINT kVkPrior = VK_PRIOR;
constexpr UINT kVkNext = VK_NEXT;
constexpr UINT kVkEnd = VK_END;
constexpr UINT kVkHome = VK_HOME;

constexpr int kIconMargin = 2;
// A list of this many rows is a caller's mistake; refusing more keeps a loop of inserts
// from exhausting memory.
constexpr std::size_t kMaxItems = 1 << 20;
constexpr std::size_t kMaxColumns = 64;

struct Item {
  std::vector<std::u16string> text;  // one per column that was given a text
  int image = -1;
  LPARAM param = 0;
  UINT state = 0;
  int indent = 0;
};

struct Column {
  int width = 0;
  int fmt = LVCFMT_LEFT;
  std::u16string text;
};

struct ListViewState {
  std::vector<Item> items;
  std::vector<Column> columns;
  int top = 0;
  HIMAGELIST lists[3] = {nullptr, nullptr, nullptr};
  // Size of the small images, kept when the list is set so that a list destroyed early by
  // its owner still gives the rows their height.
  int imageWidth = 0;
  int imageHeight = 0;
  int rowHeight = 16;
  HFONT font = nullptr;
  bool focused = false;
  DWORD exStyle = 0;
  COLORREF bkColor = CLR_NONE;
  COLORREF textColor = CLR_NONE;
};

ListViewState* StateOf(HWND h) {
  return reinterpret_cast<ListViewState*>(GetWindowLong(h, 0));
}

DWORD StyleOf(HWND h) {
  return static_cast<DWORD>(GetWindowLong(h, GWL_STYLE));
}

int Count(const ListViewState* s) {
  return static_cast<int>(s->items.size());
}

bool ValidIndex(const ListViewState* s, std::intptr_t i) {
  return i >= 0 && i < Count(s);
}

int TextHeight(HWND h, const ListViewState* s) {
  HDC dc = GetDC(h);
  HGDIOBJ old = s->font ? SelectObject(dc, s->font) : nullptr;
  TEXTMETRIC tm{};
  GetTextMetrics(dc, &tm);
  if (old) SelectObject(dc, old);
  ReleaseDC(h, dc);
  return std::max<int>(tm.tmHeight, 8);
}

bool HasHeader(HWND h, const ListViewState* s) {
  DWORD style = StyleOf(h);
  return (style & LVS_TYPEMASK) == LVS_REPORT && !(style & LVS_NOCOLUMNHEADER) && !s->columns.empty();
}

struct Geometry {
  RECT client{};
  int header = 0;  // height of the column header band
  int page = 1;    // rows that fit whole
  bool scrollbar = false;
  int rowRight = 0;  // right edge of the rows, left of the scroll bar
};

Geometry GeometryOf(HWND h, const ListViewState* s) {
  Geometry g;
  GetClientRect(h, &g.client);
  g.header = HasHeader(h, s) ? TextHeight(h, s) + 4 : 0;
  int area = std::max<int>(0, g.client.bottom - g.header);
  g.page = std::max(1, area / std::max(1, s->rowHeight));
  g.scrollbar = Count(s) > g.page && !(StyleOf(h) & LVS_NOSCROLL);
  g.rowRight = g.client.right - (g.scrollbar ? kListViewScrollBarWidth : 0);
  return g;
}

int MaxTop(HWND h, const ListViewState* s) {
  return std::max(0, Count(s) - GeometryOf(h, s).page);
}

void ClampTop(HWND h, ListViewState* s) {
  s->top = std::clamp(s->top, 0, MaxTop(h, s));
}

RECT RowRect(const Geometry& g, const ListViewState* s, int row) {
  int y = g.header + (row - s->top) * s->rowHeight;
  return RECT{0, y, g.rowRight, y + s->rowHeight};
}

/// Row height: the taller of a text line and the small images; an owner-drawn list lets
/// the parent change it through WM_MEASUREITEM.
void Measure(HWND h) {
  ListViewState* s = StateOf(h);
  if (!s) return;
  int height = std::max(TextHeight(h, s) + 2, s->imageHeight);
  if (StyleOf(h) & LVS_OWNERDRAWFIXED) {
    MEASUREITEMSTRUCT mi{
        ODT_LISTVIEW, static_cast<UINT>(GetDlgCtrlID(h)), 0, 0, static_cast<UINT>(height), 0};
    if (HWND parent = GetParent(h))
      SendMessage(parent, WM_MEASUREITEM, static_cast<WPARAM>(mi.CtlID), reinterpret_cast<LPARAM>(&mi));
    s = StateOf(h);
    if (!s) return;
    if (mi.itemHeight > 0 && mi.itemHeight < 0x10000) height = static_cast<int>(mi.itemHeight);
  }
  s->rowHeight = std::max(1, height);
  ClampTop(h, s);
  InvalidateRect(h, nullptr, TRUE);
}

LRESULT Notify(HWND h, void* nm, UINT code) {
  auto* hdr = static_cast<NMHDR*>(nm);
  hdr->hwndFrom = h;
  hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(h));
  hdr->code = code;
  HWND parent = GetParent(h);
  return parent ? SendMessage(parent, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(nm)) : 0;
}

LRESULT NotifyItem(HWND h, UINT code, int item, UINT newState, UINT oldState, UINT changed, LPARAM param) {
  NMLISTVIEW nm{};
  nm.iItem = item;
  nm.uNewState = newState;
  nm.uOldState = oldState;
  nm.uChanged = changed;
  nm.lParam = param;
  return Notify(h, &nm, code);
}

/// Changes the state bits `mask` of row `row` to `state`, with LVN_ITEMCHANGING (which the
/// parent may refuse by returning TRUE) and LVN_ITEMCHANGED. False when refused or gone.
bool ChangeState(HWND h, int row, UINT state, UINT mask) {
  ListViewState* s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return false;
  UINT old = s->items[static_cast<std::size_t>(row)].state;
  UINT fresh = (old & ~mask) | (state & mask);
  if (fresh == old) return true;
  LPARAM param = s->items[static_cast<std::size_t>(row)].param;
  if (NotifyItem(h, LVN_ITEMCHANGING, row, fresh, old, LVIF_STATE, param)) return false;
  s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return false;
  Item& it = s->items[static_cast<std::size_t>(row)];
  old = it.state;
  fresh = (old & ~mask) | (state & mask);
  it.state = fresh;
  InvalidateRect(h, nullptr, FALSE);
  NotifyItem(h, LVN_ITEMCHANGED, row, fresh, old, LVIF_STATE, it.param);
  return true;
}

/// Rows whose bits `bits` are set, other than `except`.
std::vector<int> RowsWith(const ListViewState* s, UINT bits, int except) {
  std::vector<int> out;
  for (int i = 0; i < Count(s); ++i)
    if (i != except && (s->items[static_cast<std::size_t>(i)].state & bits)) out.push_back(i);
  return out;
}

/// LVM_SETITEMSTATE for one row: one focused row at a time, and one selected row in a
/// single-selection list.
bool SetRowState(HWND h, int row, UINT state, UINT mask) {
  ListViewState* s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return false;
  if ((mask & LVIS_FOCUSED) && (state & LVIS_FOCUSED))
    for (int other : RowsWith(s, LVIS_FOCUSED, row)) ChangeState(h, other, 0, LVIS_FOCUSED);
  s = StateOf(h);
  if (s && (mask & LVIS_SELECTED) && (state & LVIS_SELECTED) && (StyleOf(h) & LVS_SINGLESEL))
    for (int other : RowsWith(s, LVIS_SELECTED, row)) ChangeState(h, other, 0, LVIS_SELECTED);
  return ChangeState(h, row, state, mask);
}

int FocusedRow(const ListViewState* s) {
  for (int i = 0; i < Count(s); ++i)
    if (s->items[static_cast<std::size_t>(i)].state & LVIS_FOCUSED) return i;
  for (int i = 0; i < Count(s); ++i)
    if (s->items[static_cast<std::size_t>(i)].state & LVIS_SELECTED) return i;
  return -1;
}

bool EnsureVisible(HWND h, int row) {
  ListViewState* s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return false;
  int page = GeometryOf(h, s).page;
  int top = s->top;
  if (row < top) top = row;
  if (row >= top + page) top = row - page + 1;
  top = std::clamp(top, 0, MaxTop(h, s));
  if (top != s->top) {
    s->top = top;
    InvalidateRect(h, nullptr, FALSE);
  }
  return true;
}

/// Keyboard or tap selection: the row becomes the only selected one, takes the focus and
/// is scrolled into view.
void MoveTo(HWND h, int row) {
  ListViewState* s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return;
  for (int other : RowsWith(s, LVIS_SELECTED, row)) ChangeState(h, other, 0, LVIS_SELECTED);
  SetRowState(h, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  EnsureVisible(h, row);
}

/// Sorted rows compare without case, so that "apple" comes before "Banana".
int CompareText(const std::u16string& a, const std::u16string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = core::FoldChar(a[i]), y = core::FoldChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const std::u16string& TextOf(const Item& it, int column) {
  static const std::u16string empty;
  return column >= 0 && static_cast<std::size_t>(column) < it.text.size()
             ? it.text[static_cast<std::size_t>(column)]
             : empty;
}

std::u16string TextFrom(LPCWSTR p) {
  // A text callback is not supported; the row has no text rather than reading from -1.
  if (!p || p == LPSTR_TEXTCALLBACK) return {};
  return std::u16string(p);
}

void SetText(Item& it, int column, std::u16string text) {
  if (it.text.size() <= static_cast<std::size_t>(column))
    it.text.resize(static_cast<std::size_t>(column) + 1);
  it.text[static_cast<std::size_t>(column)] = std::move(text);
}

/// Copies `text` into a caller's buffer of `size` characters, cut and terminated.
int CopyOut(const std::u16string& text, LPWSTR out, int size) {
  if (!out || out == LPSTR_TEXTCALLBACK || size <= 0) return 0;
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::copy_n(text.begin(), n, out);
  out[n] = 0;
  return static_cast<int>(n);
}

LRESULT InsertItem(HWND h, const LVITEM* in) {
  ListViewState* s = StateOf(h);
  if (!s || !in || in->iSubItem != 0 || in->iItem < 0 || s->items.size() >= kMaxItems) return -1;
  Item it;
  if (in->mask & LVIF_TEXT) SetText(it, 0, TextFrom(in->pszText));
  if (in->mask & LVIF_IMAGE) it.image = in->iImage;
  if (in->mask & LVIF_PARAM) it.param = in->lParam;
  if (in->mask & LVIF_INDENT) it.indent = std::max(0, in->iIndent);
  UINT wanted = (in->mask & LVIF_STATE) ? (in->state & in->stateMask) : 0;
  int at = std::min(in->iItem, Count(s));
  DWORD style = StyleOf(h);
  if (style & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) {
    bool down = (style & LVS_SORTDESCENDING) != 0;
    auto pos = std::upper_bound(s->items.begin(), s->items.end(), it, [&](const Item& a, const Item& b) {
      int c = CompareText(TextOf(a, 0), TextOf(b, 0));
      return down ? c > 0 : c < 0;
    });
    at = static_cast<int>(pos - s->items.begin());
  }
  s->items.insert(s->items.begin() + at, std::move(it));
  // Rows inserted above the visible page push it down, so the page keeps its rows.
  if (at < s->top) ++s->top;
  ClampTop(h, s);
  InvalidateRect(h, nullptr, FALSE);
  NotifyItem(h, LVN_INSERTITEM, at, 0, 0, 0, s->items[static_cast<std::size_t>(at)].param);
  if (wanted) SetRowState(h, at, wanted, wanted);
  return at;
}

BOOL SetItem(HWND h, const LVITEM* in) {
  ListViewState* s = StateOf(h);
  if (!s || !in || !ValidIndex(s, in->iItem) || in->iSubItem < 0 ||
      static_cast<std::size_t>(in->iSubItem) >= kMaxColumns)
    return FALSE;
  Item& it = s->items[static_cast<std::size_t>(in->iItem)];
  if (in->mask & LVIF_TEXT) SetText(it, in->iSubItem, TextFrom(in->pszText));
  if (in->iSubItem == 0) {
    if (in->mask & LVIF_IMAGE) it.image = in->iImage;
    if (in->mask & LVIF_PARAM) it.param = in->lParam;
    if (in->mask & LVIF_INDENT) it.indent = std::max(0, in->iIndent);
  }
  InvalidateRect(h, nullptr, FALSE);
  if (in->iSubItem == 0 && (in->mask & LVIF_STATE))
    return SetRowState(h, in->iItem, in->state, in->stateMask);
  return TRUE;
}

BOOL GetItem(HWND h, LVITEM* out) {
  ListViewState* s = StateOf(h);
  if (!s || !out || !ValidIndex(s, out->iItem) || out->iSubItem < 0) return FALSE;
  const Item& it = s->items[static_cast<std::size_t>(out->iItem)];
  if (out->mask & LVIF_TEXT) CopyOut(TextOf(it, out->iSubItem), out->pszText, out->cchTextMax);
  if (out->mask & LVIF_IMAGE) out->iImage = it.image;
  if (out->mask & LVIF_PARAM) out->lParam = it.param;
  if (out->mask & LVIF_STATE) out->state = it.state & out->stateMask;
  if (out->mask & LVIF_INDENT) out->iIndent = it.indent;
  return TRUE;
}

BOOL DeleteItem(HWND h, int row) {
  ListViewState* s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return FALSE;
  NotifyItem(h, LVN_DELETEITEM, row, 0, 0, 0, s->items[static_cast<std::size_t>(row)].param);
  s = StateOf(h);
  if (!s || !ValidIndex(s, row)) return FALSE;
  s->items.erase(s->items.begin() + row);
  if (row < s->top) --s->top;
  ClampTop(h, s);
  InvalidateRect(h, nullptr, TRUE);
  return TRUE;
}

BOOL DeleteAll(HWND h) {
  ListViewState* s = StateOf(h);
  if (!s) return FALSE;
  NotifyItem(h, LVN_DELETEALLITEMS, -1, 0, 0, 0, 0);
  s = StateOf(h);
  if (!s) return FALSE;
  s->items.clear();
  s->top = 0;
  InvalidateRect(h, nullptr, TRUE);
  return TRUE;
}

LRESULT NextItem(const ListViewState* s, int start, UINT flags) {
  int count = Count(s);
  if (flags & LVNI_ABOVE) return start > 0 && start < count ? start - 1 : -1;
  if (flags & LVNI_BELOW) return start >= -1 && start + 1 < count ? start + 1 : -1;
  UINT want = (flags & LVNI_FOCUSED ? LVIS_FOCUSED : 0) | (flags & LVNI_SELECTED ? LVIS_SELECTED : 0);
  for (int i = std::max(start + 1, 0); i < count; ++i)
    if ((s->items[static_cast<std::size_t>(i)].state & want) == want) return i;
  return -1;
}

BOOL ItemRect(HWND h, int row, RECT* rc) {
  ListViewState* s = StateOf(h);
  if (!s || !rc || !ValidIndex(s, row)) return FALSE;
  LONG portion = rc->left;
  Geometry g = GeometryOf(h, s);
  RECT r = RowRect(g, s, row);
  const Item& it = s->items[static_cast<std::size_t>(row)];
  int iconLeft = kIconMargin + it.indent * s->imageWidth;
  int iconRight = s->imageWidth > 0 ? iconLeft + s->imageWidth : iconLeft;
  int firstRight = s->columns.empty() ? r.right : std::min<int>(r.right, s->columns[0].width);
  switch (portion) {
    case LVIR_ICON:
      r.left = iconLeft;
      r.right = iconRight;
      break;
    case LVIR_LABEL:
      r.left = iconRight + (s->imageWidth > 0 ? kIconMargin : 0);
      r.right = std::max<int>(r.left, firstRight);
      break;
    default:
      break;
  }
  *rc = r;
  return TRUE;
}

int ColumnTextWidth(HWND h, const ListViewState* s, int column) {
  HDC dc = GetDC(h);
  HGDIOBJ old = s->font ? SelectObject(dc, s->font) : nullptr;
  int widest = 0;
  for (const Item& it : s->items) {
    const std::u16string& t = TextOf(it, column);
    SIZE sz{};
    GetTextExtentPoint32(dc, t.c_str(), static_cast<int>(t.size()), &sz);
    widest = std::max<int>(widest, sz.cx);
  }
  if (old) SelectObject(dc, old);
  ReleaseDC(h, dc);
  int extra = column == 0 && s->imageWidth > 0 ? s->imageWidth + 2 * kIconMargin : 0;
  return widest + extra + 6;
}

BOOL SetColumnWidth(HWND h, int column, int width) {
  ListViewState* s = StateOf(h);
  if (!s || column < 0 || column >= static_cast<int>(s->columns.size())) return FALSE;
  if (width == LVSCW_AUTOSIZE) {
    width = ColumnTextWidth(h, s, column);
  } else if (width == LVSCW_AUTOSIZE_USEHEADER) {
    if (column + 1 == static_cast<int>(s->columns.size())) {
      // The last column takes the rest of the row.
      int used = 0;
      for (int i = 0; i < column; ++i) used += s->columns[static_cast<std::size_t>(i)].width;
      width = std::max(0, GeometryOf(h, s).rowRight - used);
    } else {
      width = ColumnTextWidth(h, s, column);
    }
  }
  s->columns[static_cast<std::size_t>(column)].width = std::clamp(width, 0, 0x7FFF);
  InvalidateRect(h, nullptr, FALSE);
  return TRUE;
}

LRESULT InsertColumn(HWND h, int index, const LVCOLUMN* in) {
  ListViewState* s = StateOf(h);
  if (!s || !in || index < 0 || s->columns.size() >= kMaxColumns) return -1;
  Column c;
  if (in->mask & LVCF_WIDTH) c.width = std::clamp(in->cx, 0, 0x7FFF);
  if (in->mask & LVCF_FMT) c.fmt = in->fmt;
  if (in->mask & LVCF_TEXT) c.text = TextFrom(in->pszText);
  int at = std::min(index, static_cast<int>(s->columns.size()));
  s->columns.insert(s->columns.begin() + at, std::move(c));
  // Sub-item texts move with their columns.
  if (at < static_cast<int>(s->columns.size()) - 1)
    for (Item& it : s->items)
      if (static_cast<std::size_t>(at) < it.text.size())
        it.text.insert(it.text.begin() + at, std::u16string());
  InvalidateRect(h, nullptr, TRUE);
  return at;
}

BOOL DeleteColumn(HWND h, int index) {
  ListViewState* s = StateOf(h);
  if (!s || index < 0 || index >= static_cast<int>(s->columns.size())) return FALSE;
  s->columns.erase(s->columns.begin() + index);
  for (Item& it : s->items)
    if (static_cast<std::size_t>(index) < it.text.size()) it.text.erase(it.text.begin() + index);
  InvalidateRect(h, nullptr, TRUE);
  return TRUE;
}

BOOL SortItems(HWND h, LPARAM sortParam, PFNLVCOMPARE compare) {
  ListViewState* s = StateOf(h);
  if (!s || !compare) return FALSE;
  // The callback may talk to the list; sort a copy and put it back only if the list is
  // still the same size.
  std::vector<Item> items = s->items;
  std::stable_sort(items.begin(), items.end(),
                   [&](const Item& a, const Item& b) { return compare(a.param, b.param, sortParam) < 0; });
  s = StateOf(h);
  if (!s || s->items.size() != items.size()) return FALSE;
  s->items = std::move(items);
  InvalidateRect(h, nullptr, FALSE);
  return TRUE;
}

HIMAGELIST SetImageList(HWND h, int which, HIMAGELIST list) {
  ListViewState* s = StateOf(h);
  if (!s || which < LVSIL_NORMAL || which > LVSIL_STATE) return nullptr;
  HIMAGELIST old = s->lists[which];
  s->lists[which] = list;
  if (which == LVSIL_SMALL) {
    int cx = 0, cy = 0;
    if (list && ImageList_GetIconSize(list, &cx, &cy)) {
      s->imageWidth = cx;
      s->imageHeight = cy;
    } else {
      s->imageWidth = s->imageHeight = 0;
    }
    Measure(h);
  }
  InvalidateRect(h, nullptr, TRUE);
  return old;
}

// ---- Keys and taps ----

void OnKey(HWND h, UINT vk, LPARAM lParam) {
  NMLVKEYDOWN kd{};
  kd.wVKey = static_cast<WORD>(vk);
  kd.flags = 0;
  Notify(h, &kd, LVN_KEYDOWN);
  ListViewState* s = StateOf(h);
  if (!s) return;
  int count = Count(s);
  int cur = FocusedRow(s);
  int page = GeometryOf(h, s).page;
  switch (vk) {
    case VK_UP:
    case VK_DOWN:
      if (count == 0) return;
      if (cur < 0)
        MoveTo(h, vk == VK_DOWN ? 0 : count - 1);
      else
        MoveTo(h, (cur + (vk == VK_DOWN ? 1 : count - 1)) % count);
      return;
    case kVkPrior:
    case kVkNext:
      if (count == 0) return;
      MoveTo(h, std::clamp((cur < 0 ? 0 : cur) + (vk == kVkNext ? page : -page), 0, count - 1));
      return;
    case kVkHome:
    case kVkEnd:
      if (count > 0) MoveTo(h, vk == kVkHome ? 0 : count - 1);
      return;
    case VK_RETURN: {
      if (cur >= 0) {
        NMITEMACTIVATE act{};
        act.iItem = cur;
        act.lParam = s->items[static_cast<std::size_t>(cur)].param;
        Notify(h, &act, LVN_ITEMACTIVATE);
      }
      NMHDR ret{};
      if (IsWindow(h)) Notify(h, &ret, NM_RETURN);
      // The parent still sees the key, so that a dialog turns it into IDOK.
      if (IsWindow(h)) ForwardKey(h, WM_KEYDOWN, vk, lParam);
      return;
    }
    default:
      ForwardKey(h, WM_KEYDOWN, vk, lParam);
      return;
  }
}

void OnTap(HWND h, int x, int y) {
  SetFocus(h);
  ListViewState* s = StateOf(h);
  if (!s) return;
  Geometry g = GeometryOf(h, s);
  if (g.scrollbar && x >= g.rowRight) {
    // A tap on the scroll bar moves by a page towards it.
    int thumbTop = g.header + (g.client.bottom - g.header) * s->top / std::max(1, Count(s));
    s->top = std::clamp(s->top + (y < thumbTop ? -g.page : g.page), 0, MaxTop(h, s));
    InvalidateRect(h, nullptr, FALSE);
    return;
  }
  if (y < g.header) return;
  int row = s->top + (y - g.header) / std::max(1, s->rowHeight);
  if (!ValidIndex(s, row)) return;
  MoveTo(h, row);
  if (!IsWindow(h)) return;
  NMITEMACTIVATE click{};
  click.iItem = row;
  click.ptAction = POINT{x, y};
  Notify(h, &click, NM_CLICK);
}

// ---- Drawing ----

COLORREF Or(COLORREF c, int sysColor) {
  return c == CLR_NONE ? GetSysColor(sysColor) : c;
}

void DrawHeader(HDC dc, const Geometry& g, const ListViewState* s) {
  RECT band{0, 0, g.client.right, g.header};
  FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
  int x = 0;
  for (const Column& c : s->columns) {
    RECT r{x + 3, 0, x + c.width - 2, g.header};
    UINT align = c.fmt == LVCFMT_RIGHT ? DT_RIGHT : c.fmt == LVCFMT_CENTER ? DT_CENTER : DT_LEFT;
    if (c.width > 4)
      ctl::DrawLabel(dc, c.text, r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | align,
                     GetSysColor(COLOR_BTNTEXT));
    x += c.width;
    RECT edge{x - 1, 2, x, g.header - 2};
    if (c.width > 0) FillRect(dc, &edge, GetSysColorBrush(COLOR_BTNSHADOW));
  }
  RECT line{0, g.header - 1, g.client.right, g.header};
  FillRect(dc, &line, GetSysColorBrush(COLOR_BTNSHADOW));
}

void DrawRow(HDC dc, const ListViewState* s, int row, RECT rc, COLORREF textColor) {
  const Item& it = s->items[static_cast<std::size_t>(row)];
  int x = kIconMargin + it.indent * s->imageWidth;
  if (s->lists[LVSIL_SMALL] && it.image >= 0)
    ImageList_Draw(s->lists[LVSIL_SMALL], it.image, dc, x, rc.top + (rc.bottom - rc.top - s->imageHeight) / 2,
                   ILD_TRANSPARENT);
  if (s->imageWidth > 0) x += s->imageWidth + kIconMargin;
  std::size_t columns = std::max<std::size_t>(1, s->columns.size());
  int left = 0;
  for (std::size_t c = 0; c < columns; ++c) {
    int width = s->columns.empty() ? rc.right : s->columns[c].width;
    RECT r{c == 0 ? x : left + 3, rc.top, std::min<LONG>(rc.right, left + width - 2), rc.bottom};
    left += width;
    if (r.right <= r.left) continue;
    int fmt = s->columns.empty() ? LVCFMT_LEFT : s->columns[c].fmt;
    UINT align = fmt == LVCFMT_RIGHT ? DT_RIGHT : fmt == LVCFMT_CENTER ? DT_CENTER : DT_LEFT;
    ctl::DrawLabel(dc, TextOf(it, static_cast<int>(c)), r,
                   DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | align, textColor);
  }
}

void Paint(HWND h) {
  PAINTSTRUCT ps;
  HDC screen = BeginPaint(h, &ps);
  ListViewState* s = StateOf(h);
  RECT client;
  GetClientRect(h, &client);
  if (!s || client.right <= 0 || client.bottom <= 0) {
    EndPaint(h, &ps);
    return;
  }
  // Rows are drawn off-screen first and copied in one go, so the list never flickers.
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ oldBmp = SelectObject(mem, bmp);
  HGDIOBJ oldFont = s->font ? SelectObject(mem, s->font) : nullptr;
  bool ownBrush = s->bkColor != CLR_NONE;
  HBRUSH bk = ownBrush ? CreateSolidBrush(s->bkColor) : GetSysColorBrush(COLOR_WINDOW);
  FillRect(mem, &client, bk);
  Geometry g = GeometryOf(h, s);
  if (g.header) DrawHeader(mem, g, s);
  bool ownerDraw = (StyleOf(h) & LVS_OWNERDRAWFIXED) != 0;
  bool showSel = s->focused || (StyleOf(h) & LVS_SHOWSELALWAYS);
  UINT ctlId = static_cast<UINT>(GetDlgCtrlID(h));
  HWND parent = GetParent(h);
  // Rows are collected first: owner drawing runs the parent's code, which may change the list.
  struct Visible {
    int row;
    RECT rc;
    UINT state;
    LPARAM param;
  };
  std::vector<Visible> rows;
  for (int i = s->top; i < Count(s); ++i) {
    RECT rc = RowRect(g, s, i);
    if (rc.top >= client.bottom) break;
    const Item& it = s->items[static_cast<std::size_t>(i)];
    rows.push_back(Visible{i, rc, it.state, it.param});
  }
  for (const Visible& v : rows) {
    bool selected = (v.state & LVIS_SELECTED) && showSel;
    if (selected) FillRect(mem, &v.rc, GetSysColorBrush(s->focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
    COLORREF text =
        selected && s->focused ? GetSysColor(COLOR_HIGHLIGHTTEXT) : Or(s->textColor, COLOR_WINDOWTEXT);
    if (ownerDraw) {
      if (!parent) continue;
      SetTextColor(mem, text);
      SetBkColor(mem, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
      UINT state = ((v.state & LVIS_SELECTED) ? ODS_SELECTED : 0) |
                   ((v.state & LVIS_FOCUSED) && s->focused ? ODS_FOCUS : 0);
      DRAWITEMSTRUCT di{ODT_LISTVIEW, ctlId, static_cast<UINT>(v.row),       ODA_DRAWENTIRE, state, h,
                        mem,          v.rc,  static_cast<ULONG_PTR>(v.param)};
      SendMessage(parent, WM_DRAWITEM, ctlId, reinterpret_cast<LPARAM>(&di));
      s = StateOf(h);
      if (!s) break;
    } else if (ValidIndex(s, v.row)) {
      DrawRow(mem, s, v.row, v.rc, text);
    }
  }
  if (s && g.scrollbar) {
    RECT track{g.rowRight, g.header, client.right, client.bottom};
    FillRect(mem, &track, GetSysColorBrush(COLOR_BTNFACE));
    int span = client.bottom - g.header;
    int total = std::max(1, Count(s));
    int top = g.header + span * s->top / total;
    int len = std::max(4, span * g.page / total);
    RECT thumb{g.rowRight, top, client.right, std::min<LONG>(client.bottom, top + len)};
    FillRect(mem, &thumb, GetSysColorBrush(COLOR_HIGHLIGHT));
  }
  BitBlt(screen, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  if (oldFont) SelectObject(mem, oldFont);
  SelectObject(mem, oldBmp);
  DeleteObject(bmp);
  if (ownBrush) DeleteObject(bk);
  DeleteDC(mem);
  EndPaint(h, &ps);
}

void Describe(HWND h, const ListViewState* s, LPARAM out) {
  Geometry g = GeometryOf(h, s);
  int sel = NextItem(s, -1, LVNI_SELECTED);
  std::string head = "listview count=" + std::to_string(Count(s)) + " sel=" + std::to_string(sel) +
                     " focus=" + std::to_string(FocusedRow(s)) + " top=" + std::to_string(s->top) +
                     " page=" + std::to_string(g.page) + " rowheight=" + std::to_string(s->rowHeight);
  if (g.scrollbar) head += " scrollbar";
  if (StyleOf(h) & LVS_OWNERDRAWFIXED) head += " ownerdraw";
  AppendLine(out, head);
  for (int i = 0; i < Count(s); ++i) {
    const Item& it = s->items[static_cast<std::size_t>(i)];
    std::string line = "row " + std::to_string(i);
    std::size_t columns = std::max<std::size_t>({1, s->columns.size(), it.text.size()});
    for (std::size_t c = 0; c < columns; ++c) line += " " + Quoted(TextOf(it, static_cast<int>(c)));
    if (it.image >= 0) line += " image=" + std::to_string(it.image);
    if (it.state & LVIS_SELECTED) line += " selected";
    if (it.state & LVIS_FOCUSED) line += " focused";
    if (i >= s->top && i < s->top + g.page) line += " visible";
    AppendLine(out, line);
  }
}

LRESULT ListViewProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CREATE) {
    SetWindowLong(h, 0, reinterpret_cast<LONG_PTR>(new ListViewState()));
    Measure(h);
    return 0;
  }
  if (msg == WM_DESTROY) {
    ListViewState* s = StateOf(h);
    SetWindowLong(h, 0, 0);
    if (s && !(StyleOf(h) & LVS_SHAREIMAGELISTS))
      for (HIMAGELIST l : s->lists) ImageList_Destroy(l);  // unknown handles are ignored
    delete s;
    return 0;
  }
  ListViewState* s = StateOf(h);
  if (!s) return DefWindowProc(h, msg, wParam, lParam);
  auto row = static_cast<int>(static_cast<std::intptr_t>(wParam));
  switch (msg) {
    case LVM_GETITEMCOUNT:
      return Count(s);
    case LVM_INSERTITEM:
      return InsertItem(h, reinterpret_cast<const LVITEM*>(lParam));
    case LVM_SETITEM:
      return SetItem(h, reinterpret_cast<const LVITEM*>(lParam));
    case LVM_GETITEM:
      return GetItem(h, reinterpret_cast<LVITEM*>(lParam));
    case LVM_SETITEMTEXT: {
      auto* in = reinterpret_cast<const LVITEM*>(lParam);
      if (!in || !ValidIndex(s, row) || in->iSubItem < 0 ||
          static_cast<std::size_t>(in->iSubItem) >= kMaxColumns)
        return FALSE;
      SetText(s->items[static_cast<std::size_t>(row)], in->iSubItem, TextFrom(in->pszText));
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    }
    case LVM_GETITEMTEXT: {
      auto* out = reinterpret_cast<LVITEM*>(lParam);
      if (!out || !ValidIndex(s, row)) return 0;
      return CopyOut(TextOf(s->items[static_cast<std::size_t>(row)], out->iSubItem), out->pszText,
                     out->cchTextMax);
    }
    case LVM_DELETEITEM:
      return DeleteItem(h, row);
    case LVM_DELETEALLITEMS:
      return DeleteAll(h);
    case LVM_SETITEMCOUNT:
      s->items.reserve(std::min<std::size_t>(wParam, 4096));
      return TRUE;
    case LVM_INSERTCOLUMN:
      return InsertColumn(h, row, reinterpret_cast<const LVCOLUMN*>(lParam));
    case LVM_DELETECOLUMN:
      return DeleteColumn(h, row);
    case LVM_SETCOLUMNWIDTH:
      return SetColumnWidth(h, row,
                            static_cast<int>(static_cast<short>(LOWORD(static_cast<WPARAM>(lParam)))));
    case LVM_GETCOLUMNWIDTH:
      return row >= 0 && row < static_cast<int>(s->columns.size())
                 ? s->columns[static_cast<std::size_t>(row)].width
                 : 0;
    case LVM_GETNEXTITEM:
      return NextItem(s, row, static_cast<UINT>(LOWORD(static_cast<WPARAM>(lParam))));
    case LVM_SETITEMSTATE: {
      auto* in = reinterpret_cast<const LVITEM*>(lParam);
      if (!in) return FALSE;
      if (row != -1) return SetRowState(h, row, in->state, in->stateMask);
      // -1: every row. Focus cannot go to all of them, nor the selection in a
      // single-selection list; only the other bits apply.
      UINT mask = in->stateMask & ~LVIS_FOCUSED;
      if ((StyleOf(h) & LVS_SINGLESEL) && (in->state & LVIS_SELECTED)) mask &= ~LVIS_SELECTED;
      bool ok = true;
      for (int i = 0; StateOf(h) && i < Count(StateOf(h)); ++i) ok = ChangeState(h, i, in->state, mask) && ok;
      return ok;
    }
    case LVM_GETITEMSTATE:
      return ValidIndex(s, row) ? static_cast<LRESULT>(s->items[static_cast<std::size_t>(row)].state & lParam)
                                : 0;
    case LVM_GETSELECTEDCOUNT:
      return static_cast<LRESULT>(RowsWith(s, LVIS_SELECTED, -1).size());
    case LVM_ENSUREVISIBLE:
      return EnsureVisible(h, row);
    case LVM_GETTOPINDEX:
      return s->top;
    case LVM_GETCOUNTPERPAGE:
      return GeometryOf(h, s).page;
    case LVM_SCROLL: {
      // Report view scrolls by whole rows; dy is in pixels.
      int dy = static_cast<int>(lParam);
      int rows = dy / std::max(1, s->rowHeight);
      if (dy != 0 && rows == 0) rows = dy > 0 ? 1 : -1;
      s->top = std::clamp(s->top + rows, 0, MaxTop(h, s));
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    }
    case LVM_GETITEMRECT:
      return ItemRect(h, row, reinterpret_cast<RECT*>(lParam));
    case LVM_SETIMAGELIST:
      return reinterpret_cast<LRESULT>(SetImageList(h, row, reinterpret_cast<HIMAGELIST>(lParam)));
    case LVM_GETIMAGELIST:
      return row >= LVSIL_NORMAL && row <= LVSIL_STATE ? reinterpret_cast<LRESULT>(s->lists[row]) : 0;
    case LVM_SORTITEMS:
      return SortItems(h, static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam));
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
      DWORD old = s->exStyle;
      DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
      s->exStyle = (old & ~mask) | (static_cast<DWORD>(lParam) & mask);
      InvalidateRect(h, nullptr, FALSE);
      return old;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
      return s->exStyle;
    case LVM_SETBKCOLOR:
      s->bkColor = static_cast<COLORREF>(lParam);
      InvalidateRect(h, nullptr, TRUE);
      return TRUE;
    case LVM_GETBKCOLOR:
      return Or(s->bkColor, COLOR_WINDOW);
    case LVM_SETTEXTCOLOR:
      s->textColor = static_cast<COLORREF>(lParam);
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    case LVM_GETTEXTCOLOR:
      return Or(s->textColor, COLOR_WINDOWTEXT);
    case LVM_REDRAWITEMS:
    case LVM_UPDATE:
      InvalidateRect(h, nullptr, FALSE);
      return TRUE;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      Measure(h);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_SIZE:
      ClampTop(h, s);
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      s->focused = msg == WM_SETFOCUS;
      InvalidateRect(h, nullptr, FALSE);
      NMHDR nm{};
      Notify(h, &nm, msg == WM_SETFOCUS ? NM_SETFOCUS : NM_KILLFOCUS);
      return 0;
    }
    case WM_KEYDOWN:
      OnKey(h, static_cast<UINT>(wParam), lParam);
      return 0;
    case WM_KEYUP:
      return ForwardKey(h, msg, wParam, lParam);
    case WM_CHAR:
      return 0;
    case WM_LBUTTONDOWN:
      OnTap(h, static_cast<std::int16_t>(LOWORD(static_cast<WPARAM>(lParam))),
            static_cast<std::int16_t>(HIWORD(static_cast<WPARAM>(lParam))));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills every pixel
    case WM_PAINT:
      Paint(h);
      return 0;
    case WM_PLATFORM_DESCRIBE:
      Describe(h, s, lParam);
      return 1;
    default:
      return DefWindowProc(h, msg, wParam, lParam);
  }
}

}  // namespace

void RegisterListViewClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ListViewProc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = WC_LISTVIEW;
    RegisterClass(&wc);
  });
}

}  // namespace platform
