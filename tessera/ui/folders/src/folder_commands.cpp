// The folder view's commands on the selected message.
#include <vector>

#include "config/config.h"
#include "contents/contents_screen.h"
#include "folders/details_dialog.h"
#include "folders/folder_frame.h"
#include "folders/folder_ids.h"
#include "folders/folder_rules.h"
#include "platform/dialogs.h"
#include "sendpage/send_page.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/placeholder_screen.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_context.h"

namespace folders {
namespace {

std::u16string WithSeparator(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return folder;
}

viewer::ViewerContext MakeViewerContext() {
  const ui::AppContext& context = ui::Context();
  viewer::ViewerContext made;
  made.resources = context.resources;
  made.audio = context.application ? context.application->AudioLoader() : nullptr;
  made.video = &viewer::VideoPlayback::Get();
  const config::Config settings;
  made.picturePath = WithSeparator(settings.GetPicturePath(true));
  made.soundPath = WithSeparator(settings.GetSoundPath(true));
  made.videoPath = WithSeparator(settings.GetVideoPath(true));
  made.unknownPath = WithSeparator(settings.GetUnknownPath(true));
  made.cannedTextsFile = settings.GetCannedtextFile();
  return made;
}

}  // namespace

void FolderFrame::AfterChange() {
  Reload();
  if (mainFrame_) ::SendMessage(mainFrame_, ui::kMsgFolderLabel, static_cast<WPARAM>(folder_), 0);
  if (list_.Handle()) SetFocus(list_.Handle());
}

void FolderFrame::Navigate(WPARAM code) {
  const std::uint32_t id = SelectedId();
  if (id == 0 || !mainFrame_) return;
  ::SendMessage(mainFrame_, ui::kMsgNavigate, code, static_cast<LPARAM>(id));
  // Still the folder view (nothing opened, or a message box of the main frame was answered):
  // it takes the activation back from the main frame.
  const ui::MainFrame* frame = ui::Context().mainFrame;
  if (frame && frame->ViewState() == ui::kViewFolder && IsWindowVisible(hwnd_) && GetForegroundWindow() != hwnd_) {
    SetForegroundWindow(hwnd_);
    if (list_.Handle()) SetFocus(list_.Handle());
  }
}

bool FolderFrame::Confirm(UINT textId) {
  ui::Application* app = ui::Context().application;
  busy_ = true;
  const int answer = app ? app->ShowMessage(hwnd_, textId, MB_YESNO | MB_ICONQUESTION) : IDNO;
  busy_ = false;
  return answer == IDYES;
}

LRESULT FolderFrame::OnNew(WPARAM, LPARAM) {
  if (mainFrame_) ::SendMessage(mainFrame_, ui::kMsgNavigate, ui::kNavNew, 0);
  return 0;
}

LRESULT FolderFrame::OnOpen(WPARAM wParam, LPARAM lParam) {
  if (rows_.empty()) return OnNew(wParam, lParam);
  store::MessageSummary summary(nullptr);
  if (!SelectedSummary(&summary)) return 0;
  if (summary.MessageType() == store::kTypeNotification) return OnDownload(wParam, lParam);
  const auto folder = static_cast<store::FolderId>(folder_);
  if (folder == store::FolderId::Outbox || folder == store::FolderId::Draft) {
    Navigate(ui::kNavEdit);
    return 0;
  }
  OpenMessage(summary.MessageId());
  return 0;
}

void FolderFrame::OpenMessage(std::uint32_t id) {
  store::MessageFolder* folder = Shown();
  if (!folder) return;
  // Opened counts as read.
  if (store::MessageEntry* entry = folder->CheckOut(id)) {
    store::MessageSummary& s = entry->Summary();
    if ((s.StateFlags() & 0xFFFFu) != store::kStateRead) {
      s.SetStateFlags((s.StateFlags() & 0xFFFF0000u) | store::kStateRead);
      folder->Release(entry);
      folder->Save();
    } else {
      folder->Release(entry);
    }
  }
  busy_ = true;
  ui::OpenViewer(hwnd_, id, nullptr);
  busy_ = false;
  AfterChange();
}

LRESULT FolderFrame::OnDownload(WPARAM, LPARAM) {
  store::MessageSummary summary(nullptr);
  if (!SelectedSummary(&summary) || summary.MessageType() != store::kTypeNotification ||
      TransferBusy(summary.StateFlags()))
    return 0;
  Navigate(ui::kNavRetrieve);
  AfterChange();
  return 0;
}

LRESULT FolderFrame::OnSend(WPARAM, LPARAM) {
  const std::uint32_t id = SelectedId();
  store::MessageFolder* folder = Shown();
  if (id == 0 || !folder) return 0;
  const auto shown = static_cast<store::FolderId>(folder_);
  if (shown == store::FolderId::Outbox) {
    Navigate(ui::kNavSend);
    AfterChange();
    return 0;
  }
  // Received and sent messages are not sent again (the menu has no Send there).
  if (shown != store::FolderId::Draft) return 0;
  store::MessageEntry* entry = folder->CheckOut(id);
  if (!entry) return 0;
  const ui::AppContext& context = ui::Context();
  const config::Config settings;
  ui::SendPageContext page;
  page.resources = context.resources;
  page.contacts = context.contacts;
  page.defaultResolution = static_cast<int>(settings.GetDefaultResolution());
  page.alphaTagDisplayText = settings.GetAlphaTagDispTxt();
  if (!entry->OpenDocument()) entry->NewDocument();
  bool changed = false;
  busy_ = true;
  const int sent = page.resources ? ui::RunSendPage(page, entry, hwnd_, &changed, false) : 0;
  busy_ = false;
  folder->Release(entry);
  if (sent == 1) {
    store_->SendFromDraft(id);
    if (mainFrame_) ::SendMessage(mainFrame_, ui::kMsgFolderLabel, static_cast<WPARAM>(store::FolderId::Outbox), 0);
  } else if (changed) {
    folder->Save();
  }
  AfterChange();
  return 0;
}

LRESULT FolderFrame::OnReply(WPARAM, LPARAM) {
  Navigate(ui::kNavReply);
  return 0;
}

LRESULT FolderFrame::OnReplyAll(WPARAM, LPARAM) {
  Navigate(ui::kNavReplyAll);
  return 0;
}

LRESULT FolderFrame::OnForward(WPARAM, LPARAM) {
  Navigate(ui::kNavForward);
  return 0;
}

LRESULT FolderFrame::OnDelete(WPARAM, LPARAM) {
  const std::uint32_t id = SelectedId();
  if (id == 0 || !Confirm(kStrDeleteOne)) return 0;
  store_->Delete(static_cast<store::FolderId>(folder_), id);
  AfterChange();
  return 0;
}

LRESULT FolderFrame::OnDeleteAll(WPARAM, LPARAM) {
  if (rows_.empty() || !Confirm(kStrDeleteAll)) return 0;
  std::vector<std::uint32_t> ids;
  ids.reserve(rows_.size());
  for (const RowView& row : rows_) ids.push_back(row.id);
  store_->DeleteSelected(static_cast<store::FolderId>(folder_), ids);
  AfterChange();
  return 0;
}

LRESULT FolderFrame::OnProperties(WPARAM, LPARAM) {
  store::MessageFolder* folder = Shown();
  const std::uint32_t id = SelectedId();
  const ui::ResourceLibrary* library = ui::Context().resources;
  if (!folder || id == 0 || !library) return 0;
  store::MessageEntry* entry = folder->CheckOut(id);
  if (!entry) return 0;
  busy_ = true;
  DetailsDialog details(static_cast<store::FolderId>(folder_), entry);
  details.DoModal(library->module(), kDialogDetails, hwnd_);
  busy_ = false;
  folder->Release(entry);
  AfterChange();
  return 0;
}

LRESULT FolderFrame::OnContents(WPARAM, LPARAM) {
  store::MessageFolder* folder = Shown();
  const std::uint32_t id = SelectedId();
  if (!folder || id == 0 || !ui::Context().resources) return 0;
  store::MessageEntry* entry = folder->CheckOut(id);
  if (!entry) return 0;
  busy_ = true;
  viewer::RunContentsList(hwnd_, entry, MakeViewerContext());
  busy_ = false;
  folder->Release(entry);
  AfterChange();
  return 0;
}

}  // namespace folders
