#pragma once
/// The owner-drawn list of every list screen: rows are drawn into an off-screen bitmap and
/// copied to the screen; the parent draws each row's content (2026) and the empty-list text
/// (2027), hears of every selection move (2025) and gets Enter as IDOK and the digit, star
/// and hash keys as key presses. Up on the first row wraps to the last and Down on the last
/// to the first.
#include <cstdint>
#include <string>
#include <vector>

#include "ui/common/window_base.h"

namespace ui {

/// lParam of 2026: one row to draw. The parent puts the text it drew into `shown`, which the
/// list reports in the screen description.
struct ListRow {
  int index = 0;
  HDC dc = nullptr;
  RECT rect{};
  bool selected = false;
  std::u16string shown;
};

class ListControl : public WindowBase {
 public:
  /// A child list of `parent` at `rect` with control id `id` (2003 on every screen).
  bool Create(HWND parent, const RECT& rect, int id, int rowHeight);

  /// Inserts a row at `row` (clamped to the end); returns its index.
  int InsertRow(int row, std::u16string text, int image = -1, std::uintptr_t data = 0);
  std::uintptr_t RowData(int row) const;
  const std::u16string& RowText(int row) const;
  void SetRowText(int row, std::u16string text);
  int RowImage(int row) const;
  int Count() const { return static_cast<int>(rows_.size()); }
  /// Selects the row and scrolls it into view; false when it does not exist.
  bool Select(int row);
  int Selected() const { return selected_; }
  int TopIndex() const { return top_; }
  /// Rows that fit in one page (at least 1).
  int RowsPerPage() const;
  void DeleteAll();
  /// A picture stretched over the list behind its rows instead of the plain window colour;
  /// null for none. The caller keeps it alive while the list shows it.
  void SetBackground(HBITMAP picture) { background_ = picture; }
  /// Marks the list changed and redraws it.
  void Refresh();

  const MessageTable* GetMessageTable() const override { return &kTable; }
  void OnDraw(HDC dc) override;
  static const MessageTable kTable;

 private:
  struct Row {
    std::u16string text;
    int image = -1;
    std::uintptr_t data = 0;
    std::u16string shown;
  };
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
  void Move(int row);
  void DrawRows(HDC dc, const RECT& client);
  bool DrawBackground(HDC dc, const RECT& client);
  static const MessageMapEntry kEntries[];

  std::vector<Row> rows_;
  int selected_ = -1;
  int top_ = 0;
  int rowHeight_ = 20;
  HBITMAP background_ = nullptr;
};

}  // namespace ui
