#pragma once
/// The gallery's text lists: the media list (icon, name, size) and the canned-text list
/// (icon, text; an empty list shows a centred text). Up and Down move the selection; Enter
/// is IDOK to the parent, other keys go to the parent too.

#include <map>
#include <string>
#include <vector>

#include "ui/common/window_base.h"
#include "ui/resource_library.h"

namespace gallery {

struct ListRowText {
  UINT icon = 0;
  std::u16string text;
  std::u16string size;  ///< right-aligned; empty for folders and texts
};

class MediaList : public ui::WindowBase {
 public:
  explicit MediaList(const ui::ResourceLibrary* resources) : resources_(resources) {}
  ~MediaList() override;
  /// A child of `parent` filling `rect`, of class `className`.
  bool Open(HWND parent, const RECT& rect, const WCHAR* className);
  /// Replaces the rows and selects `selected` (clamped); tells the parent with 2028.
  void SetRows(std::vector<ListRowText> rows, int selected);
  void SetEmptyText(std::u16string text) { empty_ = std::move(text); }
  int Selected() const { return selected_; }
  int Count() const { return static_cast<int>(rows_.size()); }
  void Select(int row);

  void OnDraw(HDC dc) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
  int RowsPerPage() const;
  HICON Icon(UINT id);
  static const ui::MessageMapEntry kEntries[];

  const ui::ResourceLibrary* resources_;
  std::vector<ListRowText> rows_;
  std::u16string empty_;
  std::map<UINT, HICON> icons_;
  int selected_ = -1;
  int top_ = 0;
  int rowHeight_ = 20;
};

}  // namespace gallery
