#include "gallery/thumb_grid.h"

#include <algorithm>
#include <string>

#include "gallery/gallery_ids.h"
#include "imaging/image.h"
#include "platform/dialogs.h"
#include "platform/gdi.h"
#include "platform/text.h"
#include "ui/common/ui_ids.h"

namespace gallery {

// --- Navigation ---------------------------------------------------------------------------

int GridNav::Rows() const {
  return (count + ids::kGridColumns - 1) / ids::kGridColumns;
}

int GridNav::MaxTop() const {
  return std::max(0, Rows() - ids::kGridRows);
}

void GridNav::Open(int index) {
  selected = count > 0 ? std::clamp(index, 0, count - 1) : 0;
  const int row = selected / ids::kGridColumns;
  // The least scrolling that brings the row onto the page.
  if (row < top) top = row;
  if (row >= top + ids::kGridRows) top = row - ids::kGridRows + 1;
  top = std::clamp(top, 0, MaxTop());
}

int GridNav::ItemAt(int cell) const {
  const int item = top * ids::kGridColumns + cell;
  return cell >= 0 && cell < ids::kGridCells && item < count ? item : -1;
}

bool GridNav::Key(UINT vk) {
  if (count <= 0) return vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN;
  const int cols = ids::kGridColumns;
  const int first = top * cols;
  const int row = selected / cols;
  switch (vk) {
    case VK_LEFT:
      if (selected == first) {
        if (top > 0) --top, selected = top * cols + cols - 1;
      } else {
        --selected;
      }
      return true;
    case VK_UP:
      if (row == top) {
        if (top > 0) --top, selected -= cols;
      } else {
        selected -= cols;
      }
      return true;
    case VK_RIGHT:
      if (selected == first + ids::kGridCells - 1) {
        if (top < MaxTop()) ++top, selected = (top + ids::kGridRows - 1) * cols;
      } else if (selected + 1 < count) {
        ++selected;
      }
      return true;
    case VK_DOWN: {
      if (row == top + ids::kGridRows - 1) {
        if (top >= MaxTop()) return true;
        ++top;
      }
      const int target = selected + cols;
      if (target < count) {
        selected = target;
      } else if ((target / cols) * cols < count) {
        selected = count - 1;  // the nearest visible cell to the left in that row
      }
      // Otherwise the row below has no items: stay in the row above.
      return true;
    }
    case VK_NEXT:
    case VK_PRIOR: {
      const int step = (vk == VK_NEXT ? 1 : -1) * ids::kGridRows;
      const int newTop = std::clamp(top + step, 0, MaxTop());
      selected = std::clamp(selected + (newTop - top) * cols, 0, count - 1);
      top = newTop;
      return true;
    }
    default:
      return false;
  }
}

// --- Cells --------------------------------------------------------------------------------

const ui::MessageMapEntry ThumbCell::kEntries[] = {
    {ui::kEntryMessage, WM_PLATFORM_DESCRIBE, ui::Bind(&ThumbCell::OnDescribe)},
    {ui::kEntryMessage, WM_ERASEBKGND, ui::Bind(&ThumbCell::OnEraseBackground)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable ThumbCell::kTable = {&ui::WindowBase::kTable, ThumbCell::kEntries};

void ThumbCell::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  grid_->DrawCell(cell_, dc, client);
}

LRESULT ThumbCell::OnDescribe(WPARAM, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  const int item = grid_->nav_.ItemAt(cell_);
  if (!out || item < 0) return 0;
  const MediaEntry& e = *(*grid_->entries_)[static_cast<std::size_t>(item)];
  *out += "thumb cell=" + std::to_string(cell_) + " item=" + std::to_string(item) + " " +
          platform::DescriptionQuoted(e.Name());
  if (e.type != EntryType::File)
    *out += " folder";
  else
    *out += e.thumbnail ? " thumbnail=" + std::to_string(e.thumbnail->width()) + "x" +
                              std::to_string(e.thumbnail->height())
                        : std::string(" bitmap=161");
  if (item == grid_->nav_.selected) *out += " selected";
  *out += "\n";
  return 1;
}

// --- Grid ---------------------------------------------------------------------------------

const ui::MessageMapEntry ThumbGrid::kEntries[] = {
    {ui::kEntryMessage, WM_KEYDOWN, ui::Bind(&ThumbGrid::OnKeyDown)},
    {ui::kEntryMessage, WM_KEYUP, ui::Bind(&ThumbGrid::OnKeyUp)},
    {ui::kEntryMessage, WM_PLATFORM_DESCRIBE, ui::Bind(&ThumbGrid::OnDescribe)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable ThumbGrid::kTable = {&ui::WindowBase::kTable, ThumbGrid::kEntries};

ThumbGrid::ThumbGrid(const ui::ResourceLibrary* resources, std::vector<std::unique_ptr<MediaEntry>>* entries)
    : resources_(resources), entries_(entries) {
  if (resources_) {
    none_ = LoadBitmap(resources_->module(), MAKEINTRESOURCE(ids::kBmpNoThumbnail));
    folderIcon_ = LoadIcon(resources_->module(), MAKEINTRESOURCE(ids::kIconFolder));
  }
}

ThumbGrid::~ThumbGrid() {
  for (auto& cell : cells_)
    if (cell && cell->Handle()) DestroyWindow(cell->Handle());
  if (hwnd_) DestroyWindow(hwnd_);
  if (none_) DeleteObject(none_);
  if (folderIcon_) DestroyIcon(folderIcon_);
}

bool ThumbGrid::Open(HWND parent, const RECT& rect, int selected) {
  nav_.count = static_cast<int>(entries_->size());
  nav_.top = 0;
  nav_.Open(selected);
  if (!Create(ids::kClassThumbGrid, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL, rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, ui::kListControlId))
    return false;
  for (int i = 0; i < ids::kGridCells; ++i) {
    cells_[static_cast<std::size_t>(i)] = std::make_unique<ThumbCell>(this, i);
    if (!cells_[static_cast<std::size_t>(i)]->Create(ids::kClassThumbCell, u"", WS_CHILD, 0, 0, 1, 1, hwnd_))
      return false;
  }
  Layout();
  return true;
}

void ThumbGrid::Reload(int selected) {
  nav_.count = static_cast<int>(entries_->size());
  nav_.Open(selected);
  Layout();
}

void ThumbGrid::Layout() {
  RECT client{};
  ClientRect(&client);
  scrollBar_ = nav_.Rows() > ids::kGridRows;
  int width = client.right - client.left;
  if (scrollBar_) width -= GetSystemMetrics(SM_CXVSCROLL);
  cellWidth_ = width / ids::kGridColumns;
  cellHeight_ = (client.bottom - client.top) / ids::kGridRows;
  for (int i = 0; i < ids::kGridCells; ++i) {
    ThumbCell& cell = *cells_[static_cast<std::size_t>(i)];
    const int c = i % ids::kGridColumns, r = i / ids::kGridColumns;
    MoveWindow(cell.Handle(), c * cellWidth_ + 1, r * cellHeight_ + 1, cellWidth_ - 2, cellHeight_ - 2, FALSE);
    const int item = nav_.ItemAt(i);
    ShowWindow(cell.Handle(), item >= 0 ? SW_SHOW : SW_HIDE);
    // Made the first time the item comes onto the page, at the cell's picture size.
    if (item >= 0) Thumbnail((*entries_)[static_cast<std::size_t>(item)].get(), cellWidth_ - 6, cellHeight_ - 6);
    cell.Invalidate();
  }
  Invalidate();
}

void ThumbGrid::Thumbnail(MediaEntry* entry, int width, int height) {
  if (entry->thumbnailTried || entry->type != EntryType::File) return;
  entry->thumbnailTried = true;
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
  imaging::Box box{width, height};
  entry->thumbnail = imaging::LoadImageFitted(entry->path, &box, imaging::kTypeByExtension);
  SetCursor(nullptr);
  ++made_;
}

void ThumbGrid::DrawCell(int cell, HDC dc, const RECT& rect) {
  const int item = nav_.ItemAt(cell);
  const bool selected = item == nav_.selected;
  FillRect(dc, &rect, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item < 0) return;
  MediaEntry* entry = (*entries_)[static_cast<std::size_t>(item)].get();
  // The picture area: the cell less a 2-pixel frame.
  RECT area{rect.left + 2, rect.top + 2, rect.right - 2, rect.bottom - 2};
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (entry->type != EntryType::File) {
    if (folderIcon_) DrawIcon(dc, area.left + 2, area.top + 2, folderIcon_);
    std::u16string name = entry->Name();
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text = area;
    text.top = area.bottom - 14;
    DrawText(dc, name.c_str(), static_cast<int>(name.size()), &text, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    return;
  }
  if (const imaging::PackedDib* t = entry->thumbnail.get()) {
    StretchDIBits(dc, area.left + (w - t->width()) / 2, area.top + (h - t->height()) / 2, t->width(), t->height(), 0,
                  0, t->width(), t->height(), t->bits_data(), reinterpret_cast<const BITMAPINFO*>(t->data()),
                  DIB_RGB_COLORS, SRCCOPY);
    return;
  }
  BITMAP info{};
  if (none_ && GetObject(none_, sizeof info, &info)) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, none_);
    const int bw = std::min<int>(info.bmWidth, w), bh = std::min<int>(info.bmHeight, h);
    BitBlt(dc, area.left + (w - bw) / 2, area.top + (h - bh) / 2, bw, bh, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
}

void ThumbGrid::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  if (!scrollBar_) return;
  // The scroll bar: its thumb spans the page's rows out of all rows.
  const int bar = GetSystemMetrics(SM_CXVSCROLL);
  RECT track{client.right - bar, client.top, client.right, client.bottom};
  FillRect(dc, &track, GetSysColorBrush(COLOR_BTNFACE));
  const int height = client.bottom - client.top, rows = std::max(1, nav_.Rows());
  RECT thumb{track.left + 1, height * nav_.top / rows, track.right - 1,
             height * (nav_.top + ids::kGridRows) / rows};
  FillRect(dc, &thumb, GetSysColorBrush(COLOR_HIGHLIGHT));
}

LRESULT ThumbGrid::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN || key == VK_NEXT || key == VK_PRIOR)
    return 0;  // the grid moves on release
  HWND parent = Parent();
  if (key == VK_RETURN) {
    if (parent) ::SendMessage(parent, WM_COMMAND, MAKEWPARAM(IDOK, 0), reinterpret_cast<LPARAM>(hwnd_));
    return 0;
  }
  return parent ? ::SendMessage(parent, WM_KEYDOWN, wParam, lParam) : 0;
}

LRESULT ThumbGrid::OnKeyUp(WPARAM wParam, LPARAM lParam) {
  const int oldTop = nav_.top, oldSelected = nav_.selected;
  if (!nav_.Key(static_cast<UINT>(wParam))) {
    HWND parent = Parent();
    return parent ? ::SendMessage(parent, WM_KEYUP, wParam, lParam) : 0;
  }
  if (nav_.top != oldTop) {
    Layout();
  } else if (nav_.selected != oldSelected) {
    for (auto& cell : cells_) cell->Invalidate();
  }
  if (HWND parent = Parent()) ::SendMessage(parent, ids::kMsgThumbSelected, static_cast<WPARAM>(nav_.selected), 0);
  return 0;
}

LRESULT ThumbGrid::OnDescribe(WPARAM, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!out) return 0;
  *out += "thumbgrid count=" + std::to_string(nav_.count) + " sel=" + std::to_string(nav_.selected) +
          " top=" + std::to_string(nav_.top) + " rows=" + std::to_string(nav_.Rows()) +
          (scrollBar_ ? " scrollbar" : "") + "\n";
  return 1;
}

}  // namespace gallery
