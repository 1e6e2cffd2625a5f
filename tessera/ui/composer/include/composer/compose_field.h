#pragma once
/// One field of the composer (class "SP_WndCls_ComposeItem"): the visual field (a picture or
/// a video shown as a thumbnail), the text field or the audio field. It draws what it holds,
/// highlighted while it has the focus, and reports what it shows in the screen description.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "imaging/packed_dib.h"
#include "ui/common/window_base.h"

namespace composer {

enum class FieldKind { Visual = 0, Text = 1, Audio = 2 };

class ComposeField : public ui::WindowBase {
 public:
  explicit ComposeField(FieldKind kind) : kind_(kind) {}
  ~ComposeField() override;

  bool Make(HWND parent, const RECT& rect);
  FieldKind kind() const { return kind_; }

  /// The file the field shows (visual and audio fields); empty for none. A visual file gets
  /// its thumbnail made here (video through the first picture of the clip).
  void SetPath(const std::u16string& path, bool isVideo = false);
  const std::u16string& path() const { return path_; }
  bool isVideo() const { return isVideo_; }
  /// The text field's text.
  void SetText(const std::u16string& text);
  const std::u16string& text() const { return text_; }
  bool empty() const { return kind_ == FieldKind::Text ? text_.empty() : path_.empty(); }
  void SetFocused(bool focused);
  bool focused() const { return focused_; }
  /// True when the visual field has a thumbnail (false: the placeholder picture is shown).
  bool hasThumbnail() const { return thumbnail_ != nullptr; }
  /// Number of thumbnails decoded so far: a file shown again, unchanged, keeps the one made
  /// the first time.
  int thumbnailsMade() const { return made_; }

  void OnDraw(HDC dc) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnEraseBackground(WPARAM wParam, LPARAM lParam);
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  RECT ContentRect() const;
  RECT PictureRect(int width, int height) const;
  void MakeThumbnail();
  bool LoadPlaceholder();
  static const ui::MessageMapEntry kEntries[];

  FieldKind kind_;
  std::u16string path_;
  std::u16string text_;
  bool isVideo_ = false;
  bool focused_ = false;
  /// The thumbnails made, by file; one is used again while the file's size and time match.
  struct Thumbnail {
    std::int64_t size = -1;
    std::int64_t modified = 0;
    bool video = false;
    std::shared_ptr<const imaging::PackedDib> picture;  // null: the placeholder is shown
  };
  static constexpr std::size_t kMaxThumbnails = 16;
  std::map<std::u16string, Thumbnail> thumbnails_;
  std::shared_ptr<const imaging::PackedDib> thumbnail_;
  int made_ = 0;
  HBITMAP placeholder_ = nullptr;
  SIZE placeholderSize_{};
  HICON soundIcon_ = nullptr;
};

}  // namespace composer
