#include "ui/shell/main_frame.h"

#include "composer/composer_frame.h"

#include <algorithm>
#include <iterator>

#include "folders/folder_frame.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "store/store_window.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/shell_dialogs.h"

namespace ui {

const MessageMapEntry MainFrame::kEntries[] = {
    {kEntryMessage, WM_KEYDOWN, Bind(&MainFrame::OnKeyDown)},
    {kEntryCommand, kIdOk, Bind(&MainFrame::OnOk)},
    {kEntryCommand, kCmdLeftSoftKey, Bind(&MainFrame::OnOk)},
    {kEntryCommand, kCmdRightSoftKey, Bind(&MainFrame::OnAbout)},
    {kEntryMessage, kMsgFolderLabel, Bind(&MainFrame::OnFolderLabel)},
    {kEntryMessage, kMsgRestoreFocus, Bind(&MainFrame::OnRestoreFocus)},
    {kEntryMessage, WM_ACTIVATE, Bind(&MainFrame::OnActivate)},
    {kEntryMessage, kMsgNavigate, Bind(&MainFrame::OnNavigate)},
    {kEntryMessage, kMsgListDrawRow, Bind(&MainFrame::OnDrawRow)},
    {kEntryMessage, WM_COPYDATA, Bind(&MainFrame::OnCopyData)},
    {kEntryMessage, store::kMsgNotificationStored, Bind(&MainFrame::OnNotificationStored)},
    {kEntryMessage, WM_CLOSE, Bind(&MainFrame::OnClose)},
    {kEntryMessage, WM_SIZE, Bind(&MainFrame::OnSize)},
    {kEntryMessage, engine::kMsgPushBody, Bind(&MainFrame::OnPushBody)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable MainFrame::kTable = {&WindowBase::kTable, MainFrame::kEntries};

MainFrame::MainFrame() = default;

MainFrame::~MainFrame() {
  folderView_.reset();
  FreeIcons();
  StopPushes();
  host_.Shutdown();
  store_.SetListener(nullptr);
}

bool MainFrame::CreateFrame(const std::u16string& title) {
  return Create(kMainFrameClass, title.c_str(), WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                CW_USEDEFAULT, nullptr);
}

std::u16string MainFrame::FolderLabel(const std::u16string& text, int unread) {
  if (unread < 1) return text;
  const std::string count = std::to_string(unread);
  return text + u"(" + std::u16string(count.begin(), count.end()) + u")";
}

bool MainFrame::OnCreated() {
  config::Config settings;
  contentsRoot_ = settings.GetUAContentsPath(true);
  if (contentsRoot_.empty() || !platform::DirectoryExists(contentsRoot_)) return false;
  // The engine is attached before the folders load, so the Outbox pass can queue.
  store_.SetFrameWindow(hwnd_);
  engineStarted_ = host_.Start(hwnd_);
  if (!store_.Open(contentsRoot_)) return false;
  // Pushes come from the device's push router; without one the program runs on, unreachable.
  pushHandler_ = std::make_unique<engine::WindowPushHandler>(hwnd_);
  if (!pushListener_.Init(pushHandler_.get()) || !pushListener_.Start()) pushListener_.Stop();

  RECT client{};
  ClientRect(&client);
  if (!list_.Create(hwnd_, client, kListControlId, std::max<int>(1, (client.bottom - client.top) / 8))) return false;
  if (const Application* app = Context().application) list_.SetBackground(app->Background());
  menuBar_ = Application::CreateMenuBar(hwnd_, kMenuBarMainList);
  FreeIcons();
  const ResourceLibrary* library = Context().resources;
  for (int i = 0; i < 6; ++i) {
    if (library) icons_[i] = LoadIcon(library->module(), MAKEINTRESOURCE(kMainRows[i].icon));
    list_.InsertRow(i, LoadUiText(kMainRows[i].text), kMainRows[i].icon, static_cast<std::uintptr_t>(i));
    ::SendMessage(hwnd_, kMsgFolderLabel, static_cast<WPARAM>(kMainRows[i].folder), 0);
  }
  list_.Select(1);
  SetFocus(list_.Handle());
  return true;
}

void MainFrame::StopPushes() {
  pushListener_.Stop();
  // Bodies handed over while stopping are still filed, to be fetched later.
  MSG msg;
  while (PeekMessage(&msg, nullptr, engine::kMsgPushBody, engine::kMsgPushBody, PM_REMOVE))
    engine::FilePushBody(store_, msg.lParam);
}

void MainFrame::FreeIcons() {
  for (HICON& icon : icons_) {
    if (icon) DestroyIcon(icon);
    icon = nullptr;
  }
}

void MainFrame::OnDestroyed() {
  folderView_.reset();
  FreeIcons();
  StopPushes();
  host_.Shutdown();
}

LRESULT MainFrame::OnPushBody(WPARAM, LPARAM lParam) {
  engine::FilePushBody(store_, lParam);
  return 0;
}

LRESULT MainFrame::OnSize(WPARAM, LPARAM) {
  RECT client{};
  if (list_.Handle() && ClientRect(&client))
    MoveWindow(list_.Handle(), 0, 0, client.right - client.left, client.bottom - client.top, TRUE);
  return 0;
}

LRESULT MainFrame::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  if (key == VK_UP || key == VK_DOWN || key == VK_RETURN) return ::SendMessage(list_.Handle(), WM_KEYDOWN, wParam, lParam);
  if (key >= '1' && key <= '9') {
    const int row = list_.TopIndex() + static_cast<int>(key - '1');
    if (row < list_.Count()) {
      list_.Select(row);
      ActOnRow(row);
    }
    return 0;
  }
  return 0;
}

LRESULT MainFrame::OnOk(WPARAM, LPARAM) {
  ActOnRow(list_.Selected());
  return 0;
}

void MainFrame::ActOnRow(int row) {
  if (row == 0) {
    ::SendMessage(hwnd_, kMsgNavigate, kNavNew, 0);
  } else if (row >= 1 && row <= 4) {
    SwitchView(kViewFolder, static_cast<std::uintptr_t>(kMainRows[row].folder));
  } else if (row == 5) {
    busy_ = true;
    if (!RunSettings(hwnd_, [this] {
          busy_ = false;
          SwitchView(kViewMainList, 0);
        }))
      busy_ = false;
  }
}

LRESULT MainFrame::OnAbout(WPARAM, LPARAM) {
  busy_ = true;
  AboutDialog about;
  about.DoModal(Context().resources ? Context().resources->module() : nullptr, kDialogAbout, hwnd_);
  busy_ = false;
  SwitchView(kViewMainList, 0);
  return 0;
}

LRESULT MainFrame::OnFolderLabel(WPARAM wParam, LPARAM) {
  const int folder = static_cast<int>(wParam);
  int row = -1;
  if (folder == 0) row = 1;
  if (folder == 1) row = 3;
  if (folder == 2) row = 2;
  if (row < 0) return 0;
  store::MessageFolder* f = store_.Folder(static_cast<store::FolderId>(folder));
  list_.SetRowText(row, FolderLabel(LoadUiText(kMainRows[row].text), f ? f->UnreadCount() : 0));
  return 0;
}

void MainFrame::RefreshLabels() {
  for (int folder : {0, 2, 1}) ::SendMessage(hwnd_, kMsgFolderLabel, static_cast<WPARAM>(folder), 0);
}

LRESULT MainFrame::OnActivate(WPARAM wParam, LPARAM) {
  if (LOWORD(wParam) != WA_INACTIVE && GetFocus() != list_.Handle()) PostMessage(kMsgRestoreFocus, 0, 0);
  return 0;
}

LRESULT MainFrame::OnRestoreFocus(WPARAM, LPARAM) {
  if (GetForegroundWindow() == hwnd_ && GetFocus() != list_.Handle()) SetFocus(list_.Handle());
  return 0;
}

LRESULT MainFrame::OnDrawRow(WPARAM, LPARAM lParam) {
  auto* row = reinterpret_cast<ListRow*>(lParam);
  if (!row || !row->dc) return 0;
  const int perPage = std::max(1, list_.RowsPerPage());
  const std::string key = std::to_string((row->index + 1) % perPage);
  const std::u16string number(key.begin(), key.end());
  RECT keyRect = row->rect;
  keyRect.left += 3;
  DrawText(row->dc, number.c_str(), static_cast<int>(number.size()), &keyRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  const std::uintptr_t entry = list_.RowData(row->index);
  if (entry < std::size(icons_) && icons_[entry]) DrawIcon(row->dc, row->rect.left + 15, row->rect.top + 3, icons_[entry]);
  RECT textRect = row->rect;
  textRect.left += 35;
  const std::u16string& text = list_.RowText(row->index);
  DrawText(row->dc, text.c_str(), static_cast<int>(text.size()), &textRect,
           DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  row->shown = number + u" " + text;
  return 0;
}

bool MainFrame::SwitchView(int state, std::uintptr_t parameter) {
  SetForegroundWindow(hwnd_);
  const int previous = view_;
  // Leaving the composer's state destroys it.
  if (composer::ComposerFrame* open = composer::ComposerFrame::Current(); open && open->Handle())
    DestroyWindow(open->Handle());
  view_ = state;
  auto back = [this] { SwitchView(kViewMainList, 0); };
  if (previous == kViewFolder && state != kViewFolder && folderView_ && folderView_->Handle())
    ShowWindow(folderView_->Handle(), SW_HIDE);
  switch (state) {
    case kViewFolder:
      lastFolder_ = static_cast<int>(parameter);
      if (EnterFolderView(static_cast<int>(parameter))) return true;
      view_ = previous;
      return false;
    case kViewComposer: {
      store::FolderId folder{};
      const auto id = static_cast<std::uint32_t>(parameter);
      const bool incoming = Locate(id, &folder) && (folder == store::FolderId::Inbox || folder == store::FolderId::Sent);
      if (incoming) return OpenViewer(hwnd_, id, back);
      ComposerRequest request;
      request.messageId = id;
      request.mode = composerMode_;
      // Before the first switch the main list is up: that is where the composer returns to.
      request.previousView = previous == kViewNone ? kViewMainList : previous;
      composerMode_ = 0;
      request.onLeave = [this](int view, int folder) {
        if (view == kViewFolder)
          SwitchView(kViewFolder, static_cast<std::uintptr_t>(folder < 0 ? lastFolder_ : folder));
        else
          SwitchView(kViewMainList, 0);
      };
      request.sendFromDrafts = [this](std::uint32_t sent) {
        if (!store_.Move(sent, store::FolderId::Draft, store::FolderId::Outbox)) return false;
        OnNavigate(kNavSend, static_cast<LPARAM>(sent));
        return true;
      };
      if (!OpenComposer(hwnd_, request)) {
        view_ = previous;
        return false;
      }
      return true;
    }
    case kViewMainList:
      ShowWindow(hwnd_, SW_SHOW);
      UpdateWindow(hwnd_);
      if (menuBar_) ShowWindow(menuBar_, SW_SHOW);
      SetFocus(list_.Handle());
      RefreshLabels();
      return true;
    default:
      view_ = previous;
      return false;
  }
}

bool MainFrame::EnterFolderView(int folder) {
  if (!folderView_) {
    folderView_ = std::make_unique<folders::FolderFrame>();
    if (!folderView_->Open(hwnd_, &store_)) {
      folderView_.reset();
      return false;
    }
  }
  const bool changed = folder != folderView_->FolderNumber();
  if (!folderView_->LoadFolder(folder)) {
    folderView_.reset();
    return false;
  }
  if (changed && folderView_->List().Count() > 0) {
    folderView_->List().Select(0);
    ::SendMessage(folderView_->Handle(), kMsgListSelChanged, 0, reinterpret_cast<LPARAM>(folderView_->List().Handle()));
  }
  HWND view = folderView_->Handle();
  ShowWindow(view, SW_SHOW);
  UpdateWindow(view);
  SetForegroundWindow(view);
  SetFocus(folderView_->List().Handle());
  return true;
}

void MainFrame::NotifyFolderView() {
  if (!folderView_) return;
  folderView_->StoreChanged();
  // A notice over the view gave the activation to the main frame: the view takes it back.
  if (view_ == kViewFolder && folderView_->Handle() && GetForegroundWindow() == hwnd_) {
    SetForegroundWindow(folderView_->Handle());
    SetFocus(folderView_->List().Handle());
  }
}

bool MainFrame::Locate(std::uint32_t id, store::FolderId* folder) {
  for (int i = 0; i < store::kFolderCount; ++i) {
    store::MessageSummary summary(nullptr);
    auto f = static_cast<store::FolderId>(i);
    if (store_.Folder(f) && store_.Folder(f)->CopySummary(id, summary)) {
      *folder = f;
      return true;
    }
  }
  return false;
}

LRESULT MainFrame::OnCopyData(WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  store::HandleStoreMessage(store_, hwnd_, WM_COPYDATA, wParam, lParam, &result);
  // The store posts the open request (code 10) for the new draft; the Drafts view comes first.
  if (result != 0) SwitchView(kViewFolder, static_cast<std::uintptr_t>(store::FolderId::Draft));
  return result;
}

LRESULT MainFrame::OnNotificationStored(WPARAM wParam, LPARAM lParam) {
  ShowNotice();
  RefreshLabels();
  // The engine queues the retrieval (or the deferred response) as configured.
  LRESULT result = 0;
  host_.HandleMessage(hwnd_, store::kMsgNotificationStored, wParam, lParam, &result);
  RefreshLabels();
  NotifyFolderView();
  return 0;
}

void MainFrame::ShowNotice() {
  noticeShowing_ = true;
  NoticeDialog notice;
  notice.DoModal(Context().resources ? Context().resources->module() : nullptr, kDialogNotice, hwnd_);
  noticeShowing_ = false;
}

LRESULT MainFrame::OnClose(WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  store::HandleStoreMessage(store_, hwnd_, WM_CLOSE, wParam, lParam, &result);
  return 0;
}

LRESULT MainFrame::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (host_.HandleMessage(hwnd_, message, wParam, lParam, &result)) {
    if (message == store::kMsgSendFinished || message == store::kMsgFetchFinished ||
        message == store::kMsgNotifyRespFinished)
      RefreshLabels();
    NotifyFolderView();
    return result;
  }
  if (store::HandleStoreMessage(store_, hwnd_, message, wParam, lParam, &result)) {
    NotifyFolderView();
    return result;
  }
  return WindowBase::DefWindowProc(message, wParam, lParam);
}

}  // namespace ui
