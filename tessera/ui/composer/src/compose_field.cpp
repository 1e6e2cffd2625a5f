#include "composer/compose_field.h"

#include <sys/stat.h>

#include <algorithm>

#include "composer/composer_ids.h"
#include "imaging/image.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "ui/common/app_context.h"

namespace composer {

const ui::MessageMapEntry ComposeField::kEntries[] = {
    {ui::kEntryMessage, WM_ERASEBKGND, ui::Bind(&ComposeField::OnEraseBackground)},
    {ui::kEntryMessage, WM_PLATFORM_DESCRIBE, ui::Bind(&ComposeField::OnDescribe)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable ComposeField::kTable = {&ui::WindowBase::kTable, ComposeField::kEntries};

namespace {

const char* KindName(FieldKind kind) {
  switch (kind) {
    case FieldKind::Visual:
      return "visual";
    case FieldKind::Text:
      return "text";
    case FieldKind::Audio:
      return "audio";
  }
  return "";
}

/// The file's size and modification time (nanoseconds); false when it cannot be read.
bool FileStamp(const std::u16string& path, std::int64_t* size, std::int64_t* modified) {
  struct stat info{};
  if (::stat(platform::NativePath(path).c_str(), &info) != 0) return false;
  *size = static_cast<std::int64_t>(info.st_size);
  *modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return true;
}

void DrawCentred(HDC dc, const std::u16string& text, RECT rect) {
  DrawText(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace

ComposeField::~ComposeField() {
  if (placeholder_) DeleteObject(placeholder_);
  if (soundIcon_) DestroyIcon(soundIcon_);
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

bool ComposeField::Make(HWND parent, const RECT& rect) {
  return Create(ids::kFieldClass, u"", WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top, parent, nullptr, static_cast<int>(kind_) + 1);
}

void ComposeField::SetPath(const std::u16string& path, bool isVideo) {
  path_ = path;
  isVideo_ = !path.empty() && isVideo;
  if (kind_ == FieldKind::Visual) MakeThumbnail();
  Invalidate();
}

void ComposeField::SetText(const std::u16string& text) {
  text_ = text;
  Invalidate();
}

void ComposeField::SetFocused(bool focused) {
  if (focused_ == focused) return;
  focused_ = focused;
  Invalidate();
}

RECT ComposeField::ContentRect() const {
  RECT rect{};
  ClientRect(&rect);
  rect.top += ids::kFieldInset;
  rect.bottom -= ids::kFieldInset;
  return rect;
}

RECT ComposeField::PictureRect(int width, int height) const {
  const RECT content = ContentRect();
  RECT rect{};
  rect.left = content.left + (content.right - content.left - width) / 2;
  rect.top = content.top + (content.bottom - content.top - height) / 2;
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
  return rect;
}

void ComposeField::MakeThumbnail() {
  thumbnail_.reset();
  if (path_.empty() || !hwnd_) return;
  Thumbnail stamp;
  stamp.video = isVideo_;
  const bool stamped = FileStamp(path_, &stamp.size, &stamp.modified);
  if (auto it = thumbnails_.find(path_); it != thumbnails_.end()) {
    const Thumbnail& kept = it->second;
    if (stamped && kept.size == stamp.size && kept.modified == stamp.modified && kept.video == stamp.video) {
      thumbnail_ = kept.picture;
      return;
    }
    thumbnails_.erase(it);
  }
  const RECT content = ContentRect();
  imaging::Box box{std::max(1, static_cast<int>(content.right - content.left)),
                   std::max(1, static_cast<int>(content.bottom - content.top))};
  // The scaled decode makes a large JPEG small while it is read.
  std::unique_ptr<imaging::PackedDib> made =
      imaging::LoadImageFitted(path_, &box, isVideo_ ? imaging::kTypeVideo : imaging::kTypeByExtension);
  ++made_;
  if (made && (made->width() <= 0 || made->height() <= 0)) made.reset();
  thumbnail_ = std::move(made);
  if (!stamped) return;
  if (thumbnails_.size() >= kMaxThumbnails) thumbnails_.clear();
  stamp.picture = thumbnail_;
  thumbnails_.emplace(path_, std::move(stamp));
}

bool ComposeField::LoadPlaceholder() {
  if (placeholder_) return true;
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!resources) return false;
  placeholder_ = LoadBitmap(resources->module(), MAKEINTRESOURCE(static_cast<int>(ids::kBitmapNoPreview)));
  BITMAP info{};
  if (!placeholder_ || GetObject(placeholder_, sizeof info, &info) == 0) return false;
  placeholderSize_ = {info.bmWidth, info.bmHeight};
  return true;
}

LRESULT ComposeField::OnEraseBackground(WPARAM wParam, LPARAM) {
  auto dc = reinterpret_cast<HDC>(wParam);
  RECT client{};
  ClientRect(&client);
  HBRUSH brush = GetSysColorBrush(focused_ ? COLOR_HIGHLIGHT : COLOR_WINDOW);
  if (kind_ != FieldKind::Visual || path_.empty()) {
    FillRect(dc, &client, brush);
    return 1;
  }
  // Only the area around the picture, so that the picture does not flicker.
  const int w = thumbnail_ ? thumbnail_->width() : static_cast<int>(placeholderSize_.cx);
  const int h = thumbnail_ ? thumbnail_->height() : static_cast<int>(placeholderSize_.cy);
  const RECT picture = PictureRect(w, h);
  const RECT around[4] = {{client.left, client.top, client.right, picture.top},
                          {client.left, picture.bottom, client.right, client.bottom},
                          {client.left, picture.top, picture.left, picture.bottom},
                          {picture.right, picture.top, client.right, picture.bottom}};
  for (const RECT& r : around)
    if (r.right > r.left && r.bottom > r.top) FillRect(dc, &r, brush);
  return 1;
}

void ComposeField::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  FillRect(dc, &client, GetSysColorBrush(focused_ ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (!focused_) {
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, client.left, client.bottom - 1, nullptr);
    LineTo(dc, client.right, client.bottom - 1);
    SelectObject(dc, old);
    DeleteObject(pen);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(focused_ ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  const RECT content = ContentRect();
  std::u16string shownText;
  if (empty()) {
    if (kind_ == FieldKind::Visual)
      shownText = ui::LoadUiText(ids::kStrPicture) + u" / " + ui::LoadUiText(ids::kStrVideo);
    else
      shownText = ui::LoadUiText(kind_ == FieldKind::Text ? ids::kStrText : ids::kStrSound);
    DrawCentred(dc, shownText, content);
  } else if (kind_ == FieldKind::Visual) {
    if (thumbnail_) {
      const RECT r = PictureRect(thumbnail_->width(), thumbnail_->height());
      StretchDIBits(dc, r.left, r.top, thumbnail_->width(), thumbnail_->height(), 0, 0, thumbnail_->width(),
                    thumbnail_->height(), thumbnail_->bits_data(),
                    reinterpret_cast<const BITMAPINFO*>(thumbnail_->data()), DIB_RGB_COLORS, SRCCOPY);
    } else {
      if (LoadPlaceholder()) {
        const RECT r = PictureRect(placeholderSize_.cx, placeholderSize_.cy);
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, placeholder_);
        BitBlt(dc, r.left, r.top, placeholderSize_.cx, placeholderSize_.cy, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
      }
    }
  } else if (kind_ == FieldKind::Audio) {
    if (!soundIcon_ && ui::Context().resources)
      soundIcon_ = LoadIcon(ui::Context().resources->module(), MAKEINTRESOURCE(static_cast<int>(ids::kIconSound)));
    SIZE iconSize{0, 0};
    if (soundIcon_ && platform::GetIconSize(soundIcon_, &iconSize))
      DrawIcon(dc, content.left, content.top + (content.bottom - content.top - iconSize.cy) / 2, soundIcon_);
    shownText = std::u16string(platform::FileNamePart(path_));
    RECT nameRect = content;
    nameRect.left += ids::kSoundNameGap;
    DrawText(dc, shownText.c_str(), static_cast<int>(shownText.size()), &nameRect,
             DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  } else {
    RECT textRect = content;
    textRect.left += ids::kTextLeft;
    DrawText(dc, text_.c_str(), static_cast<int>(text_.size()), &textRect, DT_LEFT | DT_TOP | DT_WORDBREAK);
  }
}

LRESULT ComposeField::OnDescribe(WPARAM, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!out) return 0;
  // What the field holds now, whether or not a paint has happened since.
  std::string line = std::string("composeitem ") + KindName(kind_) + (focused_ ? " focused " : " ");
  if (empty()) {
    std::u16string text = kind_ == FieldKind::Visual
                              ? ui::LoadUiText(ids::kStrPicture) + u" / " + ui::LoadUiText(ids::kStrVideo)
                              : ui::LoadUiText(kind_ == FieldKind::Text ? ids::kStrText : ids::kStrSound);
    line += "empty text=\"" + platform::Utf16ToUtf8(text) + "\"";
  } else if (kind_ == FieldKind::Visual) {
    line += std::string(isVideo_ ? "video" : "picture") + " \"" +
            platform::Utf16ToUtf8(platform::FileNamePart(path_)) + "\" " +
            (thumbnail_ ? "thumbnail=" + std::to_string(thumbnail_->width()) + "x" +
                              std::to_string(thumbnail_->height())
                        : "placeholder=" + std::to_string(ids::kBitmapNoPreview));
  } else if (kind_ == FieldKind::Audio) {
    line += "sound icon=" + std::to_string(ids::kIconSound) + " text=\"" +
            platform::Utf16ToUtf8(platform::FileNamePart(path_)) + "\"";
  } else {
    line += "text=\"" + platform::Utf16ToUtf8(text_) + "\"";
  }
  *out += line + "\n";
  return 1;
}

}  // namespace composer
