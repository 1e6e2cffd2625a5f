#include "folders/folder_frame.h"

#include <algorithm>

#include "folders/folder_ids.h"
#include "folders/folder_rules.h"
#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"

namespace folders {

using ui::Bind;
using ui::kEntryCommand;
using ui::kEntryEnd;
using ui::kEntryMessage;

const ui::MessageMapEntry FolderFrame::kEntries[] = {
    {kEntryMessage, ui::kMsgListSelChanged, Bind(&FolderFrame::OnSelChanged)},
    {kEntryMessage, ui::kMsgListDrawRow, Bind(&FolderFrame::OnDrawRow)},
    {kEntryMessage, ui::kMsgListDrawEmpty, Bind(&FolderFrame::OnDrawEmpty)},
    {kEntryMessage, WM_ACTIVATE, Bind(&FolderFrame::OnActivate)},
    {kEntryMessage, WM_INITMENUPOPUP, Bind(&FolderFrame::OnInitMenuPopup)},
    {kEntryMessage, WM_HOTKEY, Bind(&FolderFrame::OnHotKey)},
    {kEntryMessage, WM_KEYDOWN, Bind(&FolderFrame::OnKeyDown)},
    {kEntryCommand, kCmdNew, Bind(&FolderFrame::OnNew)},
    {kEntryCommand, ui::kIdOk, Bind(&FolderFrame::OnOpen)},
    {kEntryCommand, kCmdOpen, Bind(&FolderFrame::OnOpen)},
    {kEntryCommand, kCmdDownload, Bind(&FolderFrame::OnDownload)},
    {kEntryCommand, kCmdSend, Bind(&FolderFrame::OnSend)},
    {kEntryCommand, kCmdReply, Bind(&FolderFrame::OnReply)},
    {kEntryCommand, kCmdReplyAll, Bind(&FolderFrame::OnReplyAll)},
    {kEntryCommand, kCmdForward, Bind(&FolderFrame::OnForward)},
    {kEntryCommand, kCmdDelete, Bind(&FolderFrame::OnDelete)},
    {kEntryCommand, kCmdDeleteAll, Bind(&FolderFrame::OnDeleteAll)},
    {kEntryCommand, kCmdProperties, Bind(&FolderFrame::OnProperties)},
    {kEntryCommand, kCmdContents, Bind(&FolderFrame::OnContents)},
    {kEntryEnd, 0, nullptr},
};
const ui::MessageTable FolderFrame::kTable = {&ui::WindowBase::kTable, FolderFrame::kEntries};

FolderFrame::FolderFrame() = default;

FolderFrame::~FolderFrame() {
  FreeIcons();
  if (font_) DeleteObject(font_);
}

void FolderFrame::MakeFont() {
  const ui::ResourceLibrary* library = ui::Context().resources;
  ui::FontRequest request;
  if (!library || !library->MakeFontRequest(kListFontKind, true, &request)) return;
  LOGFONT font{};
  font.lfHeight = request.lfHeight;
  font.lfWidth = request.lfWidth;
  font.lfEscapement = request.lfEscapement;
  font.lfOrientation = request.lfOrientation;
  font.lfWeight = request.lfWeight;
  font.lfItalic = request.lfItalic;
  font.lfUnderline = request.lfUnderline;
  font.lfStrikeOut = request.lfStrikeOut;
  font.lfCharSet = request.lfCharSet;
  font.lfOutPrecision = request.lfOutPrecision;
  font.lfClipPrecision = request.lfClipPrecision;
  font.lfQuality = request.lfQuality;
  font.lfPitchAndFamily = request.lfPitchAndFamily;
  const std::size_t n = std::min<std::size_t>(request.lfFaceName.size(), LF_FACESIZE - 1);
  std::copy_n(request.lfFaceName.begin(), n, font.lfFaceName);
  font_ = CreateFontIndirect(&font);
}

bool FolderFrame::Open(HWND mainFrame, store::MessageStore* store) {
  mainFrame_ = mainFrame;
  store_ = store;
  RECT client{};
  GetClientRect(mainFrame, &client);
  POINT origin{client.left, client.top};
  ClientToScreen(mainFrame, &origin);
  return Create(ui::kFolderFrameClass, u"", WS_POPUP, origin.x, origin.y, client.right - client.left,
                client.bottom - client.top, mainFrame);
}

bool FolderFrame::OnCreated() {
  RECT client{};
  ClientRect(&client);
  const int rowHeight = std::max<int>(1, (client.bottom - client.top) / kRowsPerPage - 1);
  if (!list_.Create(hwnd_, client, ui::kListControlId, rowHeight)) return false;
  LoadIcons();
  MakeFont();
  return true;
}

void FolderFrame::LoadIcons() {
  FreeIcons();
  const ui::ResourceLibrary* library = ui::Context().resources;
  if (!library) return;
  for (int i = 0; i < kIconCount; ++i) icons_[i] = LoadIcon(library->module(), MAKEINTRESOURCE(kIconFirst + i));
}

void FolderFrame::FreeIcons() {
  for (HICON& icon : icons_) {
    if (icon) DestroyIcon(icon);
    icon = nullptr;
  }
}

store::MessageFolder* FolderFrame::Shown() const {
  if (!store_ || folder_ < 0 || folder_ >= store::kFolderCount) return nullptr;
  return store_->Folder(static_cast<store::FolderId>(folder_));
}

std::uint32_t FolderFrame::SelectedId() const {
  const int row = list_.Selected();
  return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].id : 0;
}

bool FolderFrame::SelectedSummary(store::MessageSummary* summary) const {
  const std::uint32_t id = SelectedId();
  store::MessageFolder* folder = Shown();
  return id != 0 && folder && folder->CopySummary(id, *summary);
}

bool FolderFrame::LoadFolder(int folderNumber) {
  if (!store_ || folderNumber < 0 || folderNumber >= store::kFolderCount) return false;
  store::MessageFolder* folder = store_->Folder(static_cast<store::FolderId>(folderNumber));
  if (!folder) return false;
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  const bool same = folderNumber == folder_;
  const std::uint32_t keepId = same ? SelectedId() : 0;
  const int keepRow = same ? list_.Selected() : 0;
  folder_ = folderNumber;
  reloadPending_ = false;

  const config::Config settings;
  folder->Sort(SortOrderFor(static_cast<store::FolderId>(folder_), static_cast<int>(settings.GetSort())), true);
  FillRows();
  ChooseMenuBar(!rows_.empty());

  int row = -1;
  for (std::size_t i = 0; i < rows_.size() && keepId != 0; ++i)
    if (rows_[i].id == keepId) row = static_cast<int>(i);
  if (row < 0 && !rows_.empty()) row = std::clamp(keepRow, 0, static_cast<int>(rows_.size()) - 1);
  if (row >= 0) list_.Select(row);
  ::SendMessage(hwnd_, ui::kMsgListSelChanged, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(list_.Handle()));
  list_.Refresh();

  const ui::MainRow* mainRow = nullptr;
  for (const ui::MainRow& r : ui::kMainRows)
    if (r.folder == folder_) mainRow = &r;
  const std::u16string name = mainRow ? ui::LoadUiText(mainRow->text) : std::u16string();
  ui::Application::SetTitle(hwnd_, TitleFor(static_cast<store::FolderId>(folder_), name, folder->UnreadCount(),
                                            static_cast<int>(rows_.size())));
  SetCursor(previous);
  return true;
}

void FolderFrame::Reload() {
  if (folder_ >= 0) LoadFolder(folder_);
}

void FolderFrame::StoreChanged() {
  if (!hwnd_ || folder_ < 0) return;
  if (IsWindowVisible(hwnd_) && !busy_)
    Reload();
  else
    reloadPending_ = true;
}

void FolderFrame::FillRows() {
  store::MessageFolder* folder = Shown();
  const auto id = static_cast<store::FolderId>(folder_);
  const ui::AppContext& context = ui::Context();
  const config::Config settings;
  const std::u16string alphaTag = settings.GetAlphaTagDispTxt();
  const std::u16string empty = ui::LoadUiText(id == store::FolderId::Inbox ? kStrUnknownSender : kStrNoAddress);
  rows_.clear();
  if (folder) {
    folder->ForEach([&](store::MessageEntry& entry) {
      const store::MessageSummary& s = entry.Summary();
      rows_.push_back(RowView{entry.Id(), IconFor(s.MessageType(), s.StateFlags()),
                              AddressLine(id, s, context.contacts, nullptr, alphaTag, empty), s.Subject()});
      return true;
    });
  }
  list_.DeleteAll();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const RowView& r = rows_[i];
    list_.InsertRow(static_cast<int>(i), r.address + u" | " + r.subject, r.icon, r.id);
  }
}

void FolderFrame::ChooseMenuBar(bool hasEntries) {
  const UINT wanted = hasEntries ? kMenuBarFolder : kMenuBarEmpty;
  if (menuBar_ && IsWindow(menuBar_) && wanted == menuBarId_ && menuBarFolder_ == folder_) return;
  menuBar_ = ui::Application::CreateMenuBar(hwnd_, wanted);
  menuBarId_ = wanted;
  menuBarFolder_ = folder_;
  leftCommand_ = hasEntries ? kCmdOpen : kCmdDialogOk;
  if (!menuBar_) return;
  // Back leaves the folder for the main list instead of doing the platform's default.
  ::SendMessage(menuBar_, SHCMBM_OVERRIDEKEY, VK_TBACK,
                MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
  if (!hasEntries) {
    std::u16string label = ui::LoadUiText(kStrNew);
    TBBUTTONINFO info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT | TBIF_COMMAND;
    info.idCommand = static_cast<int>(kCmdNew);
    info.pszText = label.data();
    ::SendMessage(menuBar_, TB_SETBUTTONINFO, leftCommand_, reinterpret_cast<LPARAM>(&info));
    leftCommand_ = kCmdNew;
  }
}

void FolderFrame::RelabelLeftKey() {
  if (!menuBar_ || menuBarId_ != kMenuBarFolder) return;
  store::MessageSummary summary(nullptr);
  if (!SelectedSummary(&summary)) return;
  const LeftKey key = LeftKeyFor(summary.MessageType(), summary.StateFlags());
  std::u16string label = ui::LoadUiText(key.label);
  TBBUTTONINFO info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT | TBIF_COMMAND | TBIF_STATE;
  info.idCommand = static_cast<int>(key.command);
  info.fsState = key.enabled ? TBSTATE_ENABLED : 0;
  info.pszText = label.data();
  if (::SendMessage(menuBar_, TB_SETBUTTONINFO, leftCommand_, reinterpret_cast<LPARAM>(&info))) leftCommand_ = key.command;
}

LRESULT FolderFrame::OnSelChanged(WPARAM, LPARAM) {
  RelabelLeftKey();
  return 0;
}

LRESULT FolderFrame::OnDrawRow(WPARAM, LPARAM lParam) {
  auto* row = reinterpret_cast<ui::ListRow*>(lParam);
  if (!row || row->index < 0 || row->index >= static_cast<int>(rows_.size())) return 0;
  const RowView& view = rows_[static_cast<std::size_t>(row->index)];
  const int height = row->rect.bottom - row->rect.top;
  const int iconIndex = view.icon - kIconFirst;
  if (row->dc && iconIndex >= 0 && iconIndex < kIconCount && icons_[iconIndex])
    DrawIcon(row->dc, row->rect.left + kIconLeft, row->rect.top + std::max(0, (height - 16) / 2), icons_[iconIndex]);
  if (row->dc) {
    HGDIOBJ oldFont = font_ ? SelectObject(row->dc, font_) : nullptr;
    RECT upper{row->rect.left + kTextLeft, row->rect.top, row->rect.right, row->rect.top + height / 2};
    RECT lower{row->rect.left + kTextLeft, row->rect.top + height / 2, row->rect.right, row->rect.bottom};
    const UINT format = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX;
    DrawText(row->dc, view.address.c_str(), static_cast<int>(view.address.size()), &upper, format);
    DrawText(row->dc, view.subject.c_str(), static_cast<int>(view.subject.size()), &lower, format);
    if (oldFont) SelectObject(row->dc, oldFont);
  }
  row->shown = view.address + u" | " + view.subject;
  return 0;
}

LRESULT FolderFrame::OnDrawEmpty(WPARAM, LPARAM) { return 0; }

LRESULT FolderFrame::OnActivate(WPARAM wParam, LPARAM) {
  if (LOWORD(wParam) == WA_INACTIVE) return 0;
  if (reloadPending_) Reload();
  if (list_.Handle()) SetFocus(list_.Handle());
  return 0;
}

LRESULT FolderFrame::OnInitMenuPopup(WPARAM wParam, LPARAM) {
  auto menu = reinterpret_cast<HMENU>(wParam);
  if (!menu) return 0;
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | MF_ENABLED);
  store::MessageSummary summary(nullptr);
  const bool selected = SelectedSummary(&summary);
  const MenuChanges changes = MenuChangesFor(static_cast<store::FolderId>(folder_), selected, summary.MessageType(),
                                             summary.StateFlags());
  for (UINT id : changes.removed) DeleteMenu(menu, id, MF_BYCOMMAND);
  for (UINT id : changes.disabled) EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED);
  return 0;
}

LRESULT FolderFrame::OnHotKey(WPARAM, LPARAM lParam) {
  if (HIWORD(static_cast<WPARAM>(lParam)) != VK_TBACK) return 0;
  if (ui::MainFrame* frame = ui::Context().mainFrame) frame->SwitchView(ui::kViewMainList, 0);
  return 0;
}

LRESULT FolderFrame::OnKeyDown(WPARAM, LPARAM) { return 0; }

}  // namespace folders
