// The composer's commands: inserting and deleting items, slides, text commit, preview, save,
// send and close.
#include <cerrno>
#include <string>

#include "composer/composer_frame.h"
#include "composer/composer_ids.h"
#include "composer/media_defaults.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "texteditor/text_editor.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"

namespace composer {

using presentation::MediaClass;

std::optional<std::u16string> ComposerFrame::Pick(std::uint32_t* mask) {
  WaitScope wait(*this);
  if (host_.picker) return host_.picker(hwnd_, mask);
  return DefaultPicker(hwnd_, mask);
}

std::u16string ComposerFrame::CannedTextsFile() const {
  if (!host_.cannedTextsFile.empty()) return host_.cannedTextsFile;
  if (ui::Context().config) return ui::Context().config->GetCannedtextFile();
  return platform::DevicePath(u"My Documents\\CannedText.txt");
}

LRESULT ComposerFrame::OnInsert(WPARAM, LPARAM) {
  if (!document_) return 0;
  switch (focus_) {
    case FieldKind::Visual:
      InsertVisual();
      break;
    case FieldKind::Audio:
      InsertAudio();
      break;
    case FieldKind::Text:
      InsertText();
      break;
  }
  return 0;
}

void ComposerFrame::InsertVisual() {
  std::optional<std::u16string> chosen = Pick(&visualMask_);
  if (!chosen || !document_) return;  // cancelled, or closed while the picker ran
  const presentation::MediaKind kind = presentation::KindFromFileName(*chosen);
  if (presentation::KindClass(kind) == static_cast<std::uint32_t>(MediaClass::Video)) {
    if (slideCount() < 2) {
      const presentation::Slide* slide = document_->slide(current_);
      if (slide && slide->audio) {
        if (Ask(ids::kStrVideoDropsSound, MB_YESNO | MB_ICONQUESTION) != IDYES) {
          visualMask_ = ids::kMaskVisual;
          return;
        }
        if (!document_) return;  // closed while the question was up
        document_->RemoveMedia(current_, MediaClass::Audio, true);
      }
    } else {
      if (Ask(ids::kStrVideoOneSlide, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        visualMask_ = ids::kMaskVisual;
        return;
      }
      if (!document_) return;  // closed while the question was up
      CommitText();
      // A video message is one slide: the current one, without its sound.
      for (int i = slideCount() - 1; i > current_; --i) document_->RemoveSlide(i);
      for (int i = current_ - 1; i >= 0; --i) document_->RemoveSlide(i);
      current_ = 0;
      document_->RemoveMedia(current_, MediaClass::Audio, true);
    }
  }
  document_->RemoveMedia(current_, MediaClass::Image, true);
  document_->RemoveMedia(current_, MediaClass::Video, true);
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
  document_->AddMediaFile(current_, *chosen);
  document_->SlideDuration(current_);
  SetCursor(nullptr);
  changed_ = true;
  Refresh(true);
}

void ComposerFrame::InsertAudio() {
  bool dropVideo = false;
  if (SlideHasVideo()) {
    if (Ask(ids::kStrSoundDropsVideo, MB_YESNO | MB_ICONQUESTION) != IDYES || !document_) return;
    dropVideo = true;
  }
  std::uint32_t mask = ids::kMaskAudio;
  std::optional<std::u16string> chosen = Pick(&mask);
  if (!document_) return;  // closed while the picker ran
  if (dropVideo) {
    document_->RemoveMedia(current_, MediaClass::Video, true);
    changed_ = true;
  }
  if (chosen) {
    document_->RemoveMedia(current_, MediaClass::Audio, true);
    document_->AddMediaFile(current_, *chosen);
    document_->SlideDuration(current_);
    changed_ = true;
  }
  Refresh(true);
}

void ComposerFrame::InsertText() {
  std::u16string text = fields_[1]->text();
  int answer = 0;
  {
    WaitScope wait(*this);
    answer = texteditor::RunTextEditor(hwnd_, texteditor::TextEditorMode::CannedText, &text, CannedTextsFile());
  }
  if (answer != IDOK) return;
  if (!fields_[1]) return;  // closed while the editor ran
  fields_[1]->SetText(text);
  changed_ = true;
  RefreshSoftKey();
  SetFocus(hwnd_);
}

void ComposerFrame::CommitText() {
  if (!document_ || !document_->slide(current_)) return;
  const std::u16string& text = fields_[1]->text();
  const std::u16string stored = StoredText();
  if (text == stored) return;
  if (text.empty()) {
    // The user emptied the text: the slide's text goes too, or it would come back.
    document_->RemoveMedia(current_, MediaClass::Text, true);
    changed_ = true;
    return;
  }
  const std::u16string temp = platform::DevicePath(ids::kTempTextPath);
  platform::CreateDirectories(platform::DirectoryPart(temp));
  std::string bytes("\xFF\xFE", 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  if (!platform::WriteFile(temp, bytes)) return;
  document_->RemoveMedia(current_, MediaClass::Text, true);
  document_->AddMediaFile(current_, temp);
  changed_ = true;
}

LRESULT ComposerFrame::OnDeleteItem(WPARAM, LPARAM) {
  if (!document_) return 0;
  switch (focus_) {
    case FieldKind::Visual:
      document_->RemoveMedia(current_, MediaClass::Image, true);
      document_->RemoveMedia(current_, MediaClass::Video, true);
      break;
    case FieldKind::Text:
      document_->RemoveMedia(current_, MediaClass::Text, true);
      fields_[1]->SetText(u"");
      break;
    case FieldKind::Audio:
      document_->RemoveMedia(current_, MediaClass::Audio, true);
      break;
  }
  changed_ = true;
  const std::u16string text = fields_[1]->text();
  ShowSlide();
  fields_[1]->SetText(text);  // an uncommitted text stays in its field
  RefreshSoftKey();
  return 0;
}

LRESULT ComposerFrame::OnAddSlide(WPARAM, LPARAM) {
  if (!document_ || SlideHasVideo()) return 0;
  if (slideCount() >= ids::kMaxSlides) {
    Ask(ids::kStrSlideLimit, MB_OK | MB_ICONINFORMATION, ids::kMaxSlides);
    return 0;
  }
  CommitText();
  document_->InsertSlide(current_ + 1);
  ++current_;
  changed_ = true;
  Refresh();
  return 0;
}

LRESULT ComposerFrame::OnDeleteSlide(WPARAM, LPARAM) {
  if (!document_ || slideCount() < 2) return 0;
  for (MediaClass c : {MediaClass::Image, MediaClass::Audio, MediaClass::Text, MediaClass::Video})
    document_->RemoveMedia(current_, c, true);
  document_->RemoveSlide(current_);
  if (current_ >= slideCount()) current_ = slideCount() - 1;
  changed_ = true;
  Refresh();
  return 0;
}

void ComposerFrame::MoveSlide(int step) {
  if (!document_ || slideCount() < 2) return;
  const int target = current_ + step;
  if (target < 0 || target >= slideCount()) return;
  CommitText();
  current_ = target;
  Refresh();
}

LRESULT ComposerFrame::OnPreviousSlide(WPARAM, LPARAM) {
  MoveSlide(-1);
  return 0;
}

LRESULT ComposerFrame::OnNextSlide(WPARAM, LPARAM) {
  MoveSlide(1);
  return 0;
}

LRESULT ComposerFrame::OnRecord(WPARAM, LPARAM) {
  if (!document_) return 0;
  bool dropVideo = false;
  if (SlideHasVideo()) {
    if (Ask(ids::kStrSoundDropsVideo, MB_YESNO | MB_ICONQUESTION) != IDYES || !document_) return 0;
    dropVideo = true;
  }
  std::u16string folder = entry_->StoreDirectory();
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  std::optional<std::u16string> recorded;
  {
    WaitScope wait(*this);
    recorded = host_.recorder ? host_.recorder(hwnd_, folder) : DefaultRecorder(hwnd_, folder);
  }
  if (!recorded) return 0;
  if (!document_) {  // closed while the recorder ran: the recording has no message to go to
    platform::DeleteFile(*recorded);
    return 0;
  }
  if (dropVideo) document_->RemoveMedia(current_, MediaClass::Video, true);
  document_->RemoveMedia(current_, MediaClass::Audio, true);
  document_->AddMediaFile(current_, *recorded, *recorded);
  document_->SlideDuration(current_);
  // The recording now lives in the message's parts; the working file is not kept.
  platform::DeleteFile(*recorded);
  changed_ = true;
  Refresh(true);
  return 0;
}

LRESULT ComposerFrame::OnPreview(WPARAM, LPARAM) {
  if (!document_) return 0;
  CommitText();
  {
    WaitScope wait(*this);
    if (host_.preview)
      host_.preview(hwnd_, entry_);
    else
      DefaultPreview(hwnd_, entry_);
  }
  if (hwnd_) SetFocus(hwnd_);
  return 0;
}

bool ComposerFrame::Save() {
  if (!document_ || !entry_) return false;
  CommitText();
  // A failed save says so (and why, when the disk is full); the message stays changed, and
  // what was saved before is kept whole.
  errno = 0;
  if (!entry_->SaveDocument()) {
    SaveFailed(errno);
    return false;
  }
  store::MessageSummary& summary = entry_->Summary();
  summary.SetDate(store::LocalNow());
  const std::int64_t size = platform::FileSize(entry_->BodyPath());
  summary.SetSize(size > 0 ? static_cast<std::uint32_t>(size) : 0);
  summary.SetExtraFlags(summary.ExtraFlags() | ids::kExtraComposed);
  errno = 0;
  if (entry_->Folder() && !entry_->Folder()->Save()) {
    SaveFailed(errno);
    return false;
  }
  changed_ = false;
  if (mode_ >= ids::kModeEdit && mode_ != ids::kModeHandOver) mode_ = ids::kModeEdit;
  return true;
}

void ComposerFrame::SaveFailed(int error) {
  const bool full = error == ENOSPC || error == EDQUOT;
  Ask(full ? ids::kStrDiskFull : ids::kStrNotDone, MB_OK | MB_ICONEXCLAMATION);
}

LRESULT ComposerFrame::OnSave(WPARAM, LPARAM) {
  Save();
  return 0;
}

LRESULT ComposerFrame::OnSend(WPARAM, LPARAM) {
  if (!document_ || leaving_) return 0;
  const bool direct = mode_ == ids::kModeSendAtOnce;
  if (!direct && !Save()) return 0;
  bool savedOnPage = false;
  int sent = 0;
  {
    WaitScope wait(*this);
    sent = host_.sendPage ? host_.sendPage(hwnd_, entry_, &savedOnPage, direct)
                          : DefaultSendPage(hwnd_, entry_, &savedOnPage, direct);
  }
  if (!entry_) return 0;  // closed while the page ran
  if (sent == 1) {
    const std::uint32_t id = entry_->Id();
    Leave(-1, -1);
    if (host_.sendFromDrafts) host_.sendFromDrafts(id);
    if (host_.leave) host_.leave(ui::kViewFolder, static_cast<int>(store::FolderId::Outbox));
    return 0;
  }
  if (savedOnPage) changed_ = false;
  if (direct) return OnClose(IDCANCEL, 0);
  // The page may have rebuilt the pictures: the visual field is drawn from its file again.
  const ComposeField& visual = *fields_[0];
  fields_[0]->SetPath(visual.path(), visual.isVideo());
  SetFocus(hwnd_);
  return 0;
}

LRESULT ComposerFrame::OnClose(WPARAM, LPARAM) {
  if (leaving_) return 0;
  bool saved = false;
  if (changed_) {
    const int answer = Ask(ids::kStrSaveChanges, MB_YESNO | MB_ICONQUESTION);
    if (!document_ || leaving_) return 0;  // closed while the question was up
    if (answer == IDYES) saved = Save();
    if (!document_ || leaving_) return 0;  // closed while a failed save was reported
  }
  int view = ui::kViewFolder;
  int folder = -1;
  if (saved)
    folder = static_cast<int>(store::FolderId::Draft);
  else if (previousView_ == ui::kViewMainList || previousView_ == ui::kViewFolder)
    view = previousView_;
  Leave(view, folder);
  return 0;
}

void ComposerFrame::Leave(int view, int folder) {
  leaving_ = true;
  store::MessageFolder* drafts = entry_ ? entry_->Folder() : nullptr;
  // Destroying the window releases the document and the message.
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  if (drafts) drafts->Save();
  if (view >= 0 && host_.leave) host_.leave(view, folder);
}

}  // namespace composer
