#pragma once
/// The folder view: the messages of one folder (Inbox, Outbox, Drafts or Sent) in two-line
/// rows, newest or by the configured order, and the commands on the selected message.
/// Created once by the main frame and reloaded with whichever folder it is asked to show.
#include <cstdint>
#include <string>
#include <vector>

#include "store/message_store.h"
#include "ui/common/list_control.h"

namespace folders {

/// What one row shows.
struct RowView {
  std::uint32_t id = 0;
  int icon = 0;
  std::u16string address;
  std::u16string subject;
};

class FolderFrame : public ui::WindowBase {
 public:
  FolderFrame();
  ~FolderFrame() override;

  /// Creates the popup (class "Corvane_WndCls_MsgBoxFrame") over `mainFrame`'s client area,
  /// hidden. `store` and `mainFrame` outlive the view.
  bool Open(HWND mainFrame, store::MessageStore* store);
  /// Shows `folder`: menu bar, sorted rows, the selection kept by message id, else by row,
  /// and the title. False when the folder does not exist.
  bool LoadFolder(int folder);
  /// Reloads the folder shown, keeping the selection.
  void Reload();
  /// The store or the engine changed a message: reloaded now when the view is up and idle,
  /// else on its next activation.
  void StoreChanged();

  int FolderNumber() const { return folder_; }
  bool ReloadPending() const { return reloadPending_; }
  bool Busy() const { return busy_; }
  ui::ListControl& List() { return list_; }
  const std::vector<RowView>& Rows() const { return rows_; }
  /// The selected message id, 0 with none.
  std::uint32_t SelectedId() const;
  UINT LeftCommand() const { return leftCommand_; }
  HWND MenuBar() const { return menuBar_; }

  bool OnCreated() override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  // Messages.
  LRESULT OnSelChanged(WPARAM wParam, LPARAM lParam);
  LRESULT OnDrawRow(WPARAM wParam, LPARAM lParam);
  LRESULT OnDrawEmpty(WPARAM wParam, LPARAM lParam);
  LRESULT OnActivate(WPARAM wParam, LPARAM lParam);
  LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM lParam);
  LRESULT OnHotKey(WPARAM wParam, LPARAM lParam);
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  // Commands (folder_commands.cpp).
  LRESULT OnNew(WPARAM wParam, LPARAM lParam);
  LRESULT OnOpen(WPARAM wParam, LPARAM lParam);
  LRESULT OnDownload(WPARAM wParam, LPARAM lParam);
  LRESULT OnSend(WPARAM wParam, LPARAM lParam);
  LRESULT OnReply(WPARAM wParam, LPARAM lParam);
  LRESULT OnReplyAll(WPARAM wParam, LPARAM lParam);
  LRESULT OnForward(WPARAM wParam, LPARAM lParam);
  LRESULT OnDelete(WPARAM wParam, LPARAM lParam);
  LRESULT OnDeleteAll(WPARAM wParam, LPARAM lParam);
  LRESULT OnProperties(WPARAM wParam, LPARAM lParam);
  LRESULT OnContents(WPARAM wParam, LPARAM lParam);

  store::MessageFolder* Shown() const;
  /// The summary of the selected message; false with none.
  bool SelectedSummary(store::MessageSummary* summary) const;
  void ChooseMenuBar(bool hasEntries);
  void FillRows();
  void RelabelLeftKey();
  /// After a change: reload, relabel the main list's folder row, focus the list.
  void AfterChange();
  void Navigate(WPARAM code);
  /// Plays an Inbox or Sent message in the viewer; it counts as read from then on.
  void OpenMessage(std::uint32_t id);
  /// Asks a yes/no question by string id.
  bool Confirm(UINT textId);
  void LoadIcons();
  /// The list font of the resource library (kind 0); none leaves the platform's.
  void MakeFont();
  void FreeIcons();
  static const ui::MessageMapEntry kEntries[];

  HWND mainFrame_ = nullptr;
  store::MessageStore* store_ = nullptr;
  ui::ListControl list_;
  int folder_ = -1;
  HWND menuBar_ = nullptr;
  UINT menuBarId_ = 0;
  int menuBarFolder_ = -1;
  UINT leftCommand_ = 0;
  bool reloadPending_ = false;
  bool busy_ = false;
  std::vector<RowView> rows_;
  HICON icons_[7] = {};
  HFONT font_ = nullptr;
};

}  // namespace folders
