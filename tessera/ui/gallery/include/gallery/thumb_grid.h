#pragma once
/// The thumbnail grid: 3 x 3 cell windows over the entries of a folder, scrolled by rows.

#include <array>
#include <memory>
#include <vector>

#include "gallery/gallery_state.h"
#include "ui/common/window_base.h"
#include "ui/resource_library.h"

namespace gallery {

/// Selection and top row of a grid of `count` items, 3 columns and 3 rows to a page.
struct GridNav {
  int count = 0;
  int top = 0;  ///< top row shown, the scroll bar position
  int selected = 0;

  int Rows() const;
  int MaxTop() const;
  /// Clamps the index into the items and scrolls it onto the page.
  void Open(int index);
  /// Arrow keys (VK_LEFT/UP/RIGHT/DOWN) and page keys (VK_PRIOR/VK_NEXT); false for others.
  bool Key(UINT vk);
  /// Item shown in cell `cell` of the page, or -1 when the cell is hidden.
  int ItemAt(int cell) const;
};

class ThumbGrid;

class ThumbCell : public ui::WindowBase {
 public:
  ThumbCell(ThumbGrid* grid, int cell) : grid_(grid), cell_(cell) {}
  void OnDraw(HDC dc) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
  static const ui::MessageMapEntry kEntries[];
  ThumbGrid* grid_;
  int cell_;
};

class ThumbGrid : public ui::WindowBase {
 public:
  ThumbGrid(const ui::ResourceLibrary* resources, std::vector<std::unique_ptr<MediaEntry>>* entries);
  ~ThumbGrid() override;
  /// A child of `parent` filling `rect`, opened on `selected`.
  bool Open(HWND parent, const RECT& rect, int selected);
  int Selected() const { return nav_.selected; }
  const GridNav& nav() const { return nav_; }
  /// After the entries changed (a deletion): keeps the selection in range and redraws.
  void Reload(int selected);
  /// Number of thumbnails made so far (each entry's is made once).
  int thumbnailsMade() const { return made_; }

  void OnDraw(HDC dc) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  friend class ThumbCell;
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnKeyUp(WPARAM wParam, LPARAM lParam);
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  void Layout();
  void DrawCell(int cell, HDC dc, const RECT& rect);
  void Thumbnail(MediaEntry* entry, int width, int height);
  static const ui::MessageMapEntry kEntries[];

  const ui::ResourceLibrary* resources_;
  std::vector<std::unique_ptr<MediaEntry>>* entries_;
  std::array<std::unique_ptr<ThumbCell>, 9> cells_;
  GridNav nav_;
  HBITMAP none_ = nullptr;
  HICON folderIcon_ = nullptr;
  int cellWidth_ = 0, cellHeight_ = 0;
  bool scrollBar_ = false;
  int made_ = 0;
};

}  // namespace gallery
