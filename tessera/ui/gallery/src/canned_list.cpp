#include "gallery/canned_list.h"

#include <cstdint>

#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "platform/dialogs.h"

#if __has_include("texteditor/text_editor.h") && __has_include("texteditor/canned_texts.h")
#include "texteditor/canned_texts.h"
#include "texteditor/text_editor.h"
#define GALLERY_HAS_TEXT_EDITOR 1
#else
#define GALLERY_HAS_TEXT_EDITOR 0
#endif

namespace gallery {

bool IsDuplicateText(const std::vector<std::u16string>& texts, const std::u16string& text, int except) {
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (static_cast<int>(i) != except && texts[i] == text) return true;
  return false;
}

int AcceptText(std::vector<std::u16string>* texts, const std::u16string& text, int edited) {
  if (IsDuplicateText(*texts, text, edited)) return -1;
  if (edited >= 0 && edited < static_cast<int>(texts->size())) texts->erase(texts->begin() + edited);
  texts->push_back(text);
  return static_cast<int>(texts->size()) - 1;
}

void GalleryDialog::FillTexts(int selected) {
  if (!textsLoaded_) {
    textsLoaded_ = true;
    texts_.clear();
#if GALLERY_HAS_TEXT_EDITOR
    texteditor::LoadCannedTexts(state_.cannedTextsFile, &texts_);
#endif
  }
  grid_.reset();
  if (!list_ || !list_->Handle()) {
    list_ = std::make_unique<MediaList>(resources_);
    if (!list_->Open(hwnd_, area_, ids::kClassTextList)) return;
    list_->SetEmptyText(Text(ids::kStrNoTexts));
  }
  std::vector<ListRowText> rows;
  for (const std::u16string& t : texts_) rows.push_back(ListRowText{ids::kIconText, t, {}});
  SetFocus(list_->Handle());
  list_->SetRows(std::move(rows), selected);
}

void GalleryDialog::SaveTexts() {
  if (!textsLoaded_) return;
#if GALLERY_HAS_TEXT_EDITOR
  // Rewritten through a temporary file, so a failed write keeps the old list.
  texteditor::SaveCannedTexts(state_.cannedTextsFile, texts_);
#endif
}

void GalleryDialog::EditText(bool isNew) {
  const int selected = Selected();
  if (!isNew && (selected < 0 || selected >= static_cast<int>(texts_.size()))) return;
  // A new text starts empty, an edit from a copy of the selected text; cancel leaves the
  // list as it was. The editor asks (2029) before it accepts, so a duplicate is refused
  // while it stays open.
  std::u16string text = isNew ? std::u16string() : texts_[static_cast<std::size_t>(selected)];
  editing_ = &text;
  editingIndex_ = isNew ? -1 : selected;
  INT_PTR answer = IDCANCEL;
  if (editText) {
    answer = editText(hwnd_, &text, isNew);
  } else {
#if GALLERY_HAS_TEXT_EDITOR
    answer = texteditor::RunTextEditor(hwnd_, texteditor::TextEditorMode::Plain, &text, state_.cannedTextsFile);
#endif
  }
  editing_ = nullptr;
  if (answer != IDOK) return;
  const int at = AcceptText(&texts_, text, isNew ? -1 : selected);
  if (at >= 0) FillTexts(at);
}

LRESULT GalleryDialog::OnEditorConfirm(WPARAM wParam, LPARAM) {
  // A dialog answers a sent message through its result slot.
  const bool accepted = editing_ && !IsDuplicateText(texts_, *editing_, editingIndex_);
  if (editing_ && !accepted) {
    HWND editor = reinterpret_cast<HWND>(wParam);
    const std::u16string text = Text(ids::kStrDuplicateText), caption = Text(ids::kStrCaption);
    MessageBox(editor ? editor : hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
  SetWindowLong(hwnd_, DWL_MSGRESULT, accepted ? 1 : 0);
  return accepted ? 1 : 0;
}

LRESULT GalleryDialog::OnNewText(WPARAM, LPARAM) {
  if (cls_ == ids::kClassText) EditText(true);
  return 0;
}

LRESULT GalleryDialog::OnEditText(WPARAM, LPARAM) {
  if (cls_ == ids::kClassText) EditText(false);
  return 0;
}

}  // namespace gallery
