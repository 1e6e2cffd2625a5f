#include "ui/common/list_control.h"

#include <algorithm>

#include "platform/text.h"
#include "ui/common/ui_ids.h"

namespace ui {

const MessageMapEntry ListControl::kEntries[] = {
    {kEntryMessage, WM_KEYDOWN, Bind(&ListControl::OnKeyDown)},
    {kEntryMessage, WM_PLATFORM_DESCRIBE, Bind(&ListControl::OnDescribe)},
    {kEntryMessage, WM_ERASEBKGND, Bind(&ListControl::OnEraseBackground)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable ListControl::kTable = {&WindowBase::kTable, ListControl::kEntries};

bool ListControl::Create(HWND parent, const RECT& rect, int id, int rowHeight) {
  rowHeight_ = std::max(rowHeight, 1);
  return WindowBase::Create(u"TesseraListControl", u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rect.left, rect.top,
                            rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, id);
}

int ListControl::InsertRow(int row, std::u16string text, int image, std::uintptr_t data) {
  row = std::clamp(row, 0, Count());
  rows_.insert(rows_.begin() + row, Row{std::move(text), image, data, {}});
  if (selected_ >= row) ++selected_;
  Refresh();
  return row;
}

std::uintptr_t ListControl::RowData(int row) const {
  return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].data : 0;
}

const std::u16string& ListControl::RowText(int row) const {
  static const std::u16string kNone;
  return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].text : kNone;
}

void ListControl::SetRowText(int row, std::u16string text) {
  if (row < 0 || row >= Count()) return;
  rows_[static_cast<std::size_t>(row)].text = std::move(text);
  Refresh();
}

int ListControl::RowImage(int row) const {
  return row >= 0 && row < Count() ? rows_[static_cast<std::size_t>(row)].image : -1;
}

int ListControl::RowsPerPage() const {
  RECT client{};
  if (!ClientRect(&client)) return 1;
  return std::max(1, static_cast<int>((client.bottom - client.top) / rowHeight_));
}

bool ListControl::Select(int row) {
  if (row < 0 || row >= Count()) return false;
  selected_ = row;
  const int page = RowsPerPage();
  if (row < top_) top_ = row;
  if (row >= top_ + page) top_ = row - page + 1;
  Refresh();
  return true;
}

void ListControl::DeleteAll() {
  rows_.clear();
  selected_ = -1;
  top_ = 0;
  Refresh();
}

void ListControl::Refresh() {
  Invalidate();
}

void ListControl::Move(int row) {
  Select(row);
  if (HWND parent = Parent()) ::SendMessage(parent, kMsgListSelChanged, static_cast<WPARAM>(selected_),
                                            reinterpret_cast<LPARAM>(hwnd_));
}

LRESULT ListControl::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  HWND parent = Parent();
  if (key == VK_RETURN) {
    if (parent) ::SendMessage(parent, WM_COMMAND, MAKEWPARAM(kIdOk, 0), reinterpret_cast<LPARAM>(hwnd_));
    return 0;
  }
  if ((key >= '0' && key <= '9') || key == VK_TSTAR || key == VK_TPOUND) {
    if (parent) ::SendMessage(parent, WM_KEYDOWN, wParam, lParam);
    return 0;
  }
  const int n = Count();
  if (n > 0 && key == VK_UP) {
    Move(selected_ <= 0 ? n - 1 : selected_ - 1);
    return 0;
  }
  if (n > 0 && key == VK_DOWN) {
    Move(selected_ < 0 || selected_ >= n - 1 ? 0 : selected_ + 1);
    return 0;
  }
  // Other keys (soft keys, Back) belong to the frame.
  if (parent) return ::SendMessage(parent, WM_KEYDOWN, wParam, lParam);
  return DefWindowProc(WM_KEYDOWN, wParam, lParam);
}

bool ListControl::DrawBackground(HDC dc, const RECT& client) {
  BITMAP info{};
  if (!background_ || GetObject(background_, sizeof info, &info) == 0 || info.bmWidth <= 0 || info.bmHeight <= 0)
    return false;
  HDC picture = CreateCompatibleDC(dc);
  if (!picture) return false;
  HGDIOBJ old = SelectObject(picture, background_);
  const BOOL drawn = StretchBlt(dc, client.left, client.top, client.right - client.left, client.bottom - client.top,
                                picture, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(picture, old);
  DeleteDC(picture);
  return drawn != FALSE;
}

void ListControl::DrawRows(HDC dc, const RECT& client) {
  if (!DrawBackground(dc, client)) FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  HWND parent = Parent();
  if (rows_.empty()) {
    if (parent) ::SendMessage(parent, kMsgListDrawEmpty, reinterpret_cast<WPARAM>(dc), 0);
    return;
  }
  const int last = std::min(Count(), top_ + RowsPerPage());
  for (int i = top_; i < last; ++i) {
    ListRow row;
    row.index = i;
    row.dc = dc;
    row.rect = RECT{client.left, client.top + (i - top_) * rowHeight_, client.right,
                    client.top + (i - top_ + 1) * rowHeight_};
    row.selected = i == selected_;
    if (row.selected) FillRect(dc, &row.rect, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(row.selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    row.shown = rows_[static_cast<std::size_t>(i)].text;
    if (parent) ::SendMessage(parent, kMsgListDrawRow, 0, reinterpret_cast<LPARAM>(&row));
    rows_[static_cast<std::size_t>(i)].shown = std::move(row.shown);
  }
}

void ListControl::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  const int width = client.right - client.left, height = client.bottom - client.top;
  // Drawn off screen, then copied in one go.
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, width, height) : nullptr;
  if (!bitmap) {
    if (memory) DeleteDC(memory);
    DrawRows(dc, client);
    return;
  }
  HGDIOBJ old = SelectObject(memory, bitmap);
  DrawRows(memory, client);
  BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

// Described in the list view's own format, so a reader counts and finds rows the same way on
// every list screen: one head line, then one line per row with the text the parent drew
// (or the row's own text while it has not been drawn).
LRESULT ListControl::OnDescribe(WPARAM, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!out) return 0;
  const int page = RowsPerPage();
  *out += "listview count=" + std::to_string(Count()) + " sel=" + std::to_string(selected_) +
          " focus=" + std::to_string(selected_) + " top=" + std::to_string(top_) +
          " page=" + std::to_string(page) + " rowheight=" + std::to_string(rowHeight_) +
          " ownerdraw\n";
  for (int i = 0; i < Count(); ++i) {
    const Row& row = rows_[static_cast<std::size_t>(i)];
    const std::u16string& text = row.shown.empty() ? row.text : row.shown;
    std::string line = "row " + std::to_string(i) + " " + platform::DescriptionQuoted(text);
    if (row.image >= 0) line += " image=" + std::to_string(row.image);
    if (i == selected_) line += " selected focused";
    if (i >= top_ && i < top_ + page) line += " visible";
    *out += line + "\n";
  }
  return 1;
}

}  // namespace ui
