#include "gallery/media_list.h"

#include <algorithm>

#include "gallery/gallery_ids.h"
#include "platform/dialogs.h"
#include "platform/gdi.h"
#include "platform/text.h"
#include "ui/common/ui_ids.h"

namespace gallery {

const ui::MessageMapEntry MediaList::kEntries[] = {
    {ui::kEntryMessage, WM_KEYDOWN, ui::Bind(&MediaList::OnKeyDown)},
    {ui::kEntryMessage, WM_PLATFORM_DESCRIBE, ui::Bind(&MediaList::OnDescribe)},
    {ui::kEntryMessage, WM_ERASEBKGND, ui::Bind(&MediaList::OnEraseBackground)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable MediaList::kTable = {&ui::WindowBase::kTable, MediaList::kEntries};

MediaList::~MediaList() {
  for (auto& [id, icon] : icons_)
    if (icon) DestroyIcon(icon);
  if (hwnd_) DestroyWindow(hwnd_);
}

bool MediaList::Open(HWND parent, const RECT& rect, const WCHAR* className) {
  return Create(className, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, ui::kListControlId);
}

void MediaList::SetRows(std::vector<ListRowText> rows, int selected) {
  rows_ = std::move(rows);
  top_ = 0;
  selected_ = rows_.empty() ? -1 : std::clamp(selected, 0, Count() - 1);
  Select(selected_);
  if (HWND parent = Parent()) ::SendMessage(parent, ids::kMsgListChanged, 0, reinterpret_cast<LPARAM>(hwnd_));
}

int MediaList::RowsPerPage() const {
  RECT client{};
  ClientRect(&client);
  return std::max(1, static_cast<int>((client.bottom - client.top) / rowHeight_));
}

void MediaList::Select(int row) {
  if (row < 0 || row >= Count()) {
    Invalidate();
    return;
  }
  selected_ = row;
  const int page = RowsPerPage();
  if (row < top_) top_ = row;
  if (row >= top_ + page) top_ = row - page + 1;
  Invalidate();
}

HICON MediaList::Icon(UINT id) {
  auto it = icons_.find(id);
  if (it != icons_.end()) return it->second;
  HICON icon = resources_ ? LoadIcon(resources_->module(), MAKEINTRESOURCE(static_cast<int>(id))) : nullptr;
  icons_[id] = icon;
  return icon;
}

void MediaList::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  const int bar = GetSystemMetrics(SM_CXVSCROLL);
  if (rows_.empty()) {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT r = client;
    DrawText(dc, empty_.c_str(), static_cast<int>(empty_.size()), &r, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
    return;
  }
  const int last = std::min(Count(), top_ + RowsPerPage());
  for (int i = top_; i < last; ++i) {
    const ListRowText& row = rows_[static_cast<std::size_t>(i)];
    RECT r{client.left, client.top + (i - top_) * rowHeight_, client.right, client.top + (i - top_ + 1) * rowHeight_};
    const bool selected = i == selected_;
    if (selected) FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    if (HICON icon = Icon(row.icon)) DrawIcon(dc, r.left + 2, r.top + 2, icon);
    // The name runs from a row height plus 5 pixels; a file row leaves 40 pixels for its size.
    RECT text{r.left + rowHeight_ + 5, r.top, r.right - bar - (row.size.empty() ? 0 : 40), r.bottom};
    DrawText(dc, row.text.c_str(), static_cast<int>(row.text.size()), &text,
             DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    if (!row.size.empty()) {
      RECT size{text.right, r.top, r.right - bar, r.bottom};
      DrawText(dc, row.size.c_str(), static_cast<int>(row.size.size()), &size,
               DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
  }
}

LRESULT MediaList::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  HWND parent = Parent();
  if (key == VK_RETURN) {
    if (parent) ::SendMessage(parent, WM_COMMAND, MAKEWPARAM(IDOK, 0), reinterpret_cast<LPARAM>(hwnd_));
    return 0;
  }
  const int n = Count();
  if (key == VK_UP || key == VK_DOWN) {
    if (n > 0) {
      if (key == VK_UP) Select(selected_ <= 0 ? n - 1 : selected_ - 1);
      else Select(selected_ < 0 || selected_ >= n - 1 ? 0 : selected_ + 1);
      if (parent) ::SendMessage(parent, ids::kMsgThumbSelected, static_cast<WPARAM>(selected_), 0);
    }
    return 0;
  }
  return parent ? ::SendMessage(parent, WM_KEYDOWN, wParam, lParam) : 0;
}

LRESULT MediaList::OnDescribe(WPARAM, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!out) return 0;
  const int page = RowsPerPage();
  *out += "listview count=" + std::to_string(Count()) + " sel=" + std::to_string(selected_) +
          " top=" + std::to_string(top_) + " page=" + std::to_string(page) + " ownerdraw\n";
  if (rows_.empty()) *out += "empty " + platform::DescriptionQuoted(empty_) + "\n";
  for (int i = 0; i < Count(); ++i) {
    const ListRowText& row = rows_[static_cast<std::size_t>(i)];
    std::string line = "row " + std::to_string(i) + " " + platform::DescriptionQuoted(row.text);
    if (!row.size.empty()) line += " size=" + platform::DescriptionQuoted(row.size);
    line += " image=" + std::to_string(row.icon);
    if (i == selected_) line += " selected";
    if (i >= top_ && i < top_ + page) line += " visible";
    *out += line + "\n";
  }
  return 1;
}

}  // namespace gallery
