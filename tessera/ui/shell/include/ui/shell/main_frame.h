#pragma once
/// The main frame: the six-row main list with its folder counters, the view states it
/// switches between, the navigation requests of the other screens, the new-message notice
/// and the hand-over of files from other programs. It is also the transfer engine's and the
/// store's main window.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/push_listener.h"
#include "engine/transfer_host.h"
#include "engine/window_push.h"
#include "store/message_store.h"
#include "ui/common/list_control.h"
#include "ui/shell/placeholder_screen.h"

namespace folders {
class FolderFrame;
}

namespace ui {

/// The main list's rows: icon id, string id, counted folder (-1 for none).
struct MainRow {
  int icon;
  UINT text;
  int folder;
};
inline constexpr MainRow kMainRows[6] = {{170, 40131, -1}, {171, 40132, 0}, {172, 40134, 2},
                                         {173, 40136, 1},  {174, 40138, 3}, {177, 40144, -1}};

class MainFrame : public WindowBase {
 public:
  MainFrame();
  ~MainFrame() override;

  /// Creates the window (class "RIR_WndCls_MainFrme") with `title`; false when the store
  /// cannot be opened or the window fails.
  bool CreateFrame(const std::u16string& title);

  /// Switches to view state 1 (folder view of `parameter`), 2 (composer/viewer of message
  /// `parameter`) or 7 (main list); false when the screen could not be made.
  bool SwitchView(int state, std::uintptr_t parameter);
  int ViewState() const { return view_; }

  store::MessageStore& Store() { return store_; }
  engine::TransferHost& Host() { return host_; }
  ListControl& List() { return list_; }
  /// The folder view, made on the first entry into view state 1; null before.
  folders::FolderFrame* FolderView() const { return folderView_.get(); }
  bool Busy() const { return busy_; }
  /// True while the new-message notice is up.
  bool NoticeShowing() const { return noticeShowing_; }

  bool OnCreated() override;
  const MessageTable* GetMessageTable() const override { return &kTable; }
  static const MessageTable kTable;

  /// The label of a folder row: the text alone, or "%s(%d)" with an unread count above 0.
  static std::u16string FolderLabel(const std::u16string& text, int unread);

 private:
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnOk(WPARAM wParam, LPARAM lParam);
  LRESULT OnAbout(WPARAM wParam, LPARAM lParam);
  LRESULT OnFolderLabel(WPARAM wParam, LPARAM lParam);
  LRESULT OnRestoreFocus(WPARAM wParam, LPARAM lParam);
  LRESULT OnActivate(WPARAM wParam, LPARAM lParam);
  LRESULT OnNavigate(WPARAM wParam, LPARAM lParam);
  LRESULT OnDrawRow(WPARAM wParam, LPARAM lParam);
  LRESULT OnCopyData(WPARAM wParam, LPARAM lParam);
  LRESULT OnNotificationStored(WPARAM wParam, LPARAM lParam);
  LRESULT OnClose(WPARAM wParam, LPARAM lParam);
  LRESULT OnSize(WPARAM wParam, LPARAM lParam);
  LRESULT OnPushBody(WPARAM wParam, LPARAM lParam);
  /// Engine and store messages go to the code tessera-cli shares.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroyed() override;

  void ActOnRow(int row);
  void StopPushes();
  void FreeIcons();
  void RefreshLabels();
  void ShowNotice();
  /// New Drafts message copied from `id` of `folder` with a subject prefix and addresses.
  std::uint32_t MakeDraftFrom(store::FolderId folder, std::uint32_t id, UINT prefix, int addressing);
  std::uint32_t NewEmptyDraft();
  /// Says that a draft could not be made: 1055 when the store ran out of space, else 40064.
  void DraftFailed();
  bool Locate(std::uint32_t id, store::FolderId* folder);
  bool EnterFolderView(int folder);
  /// Tells the folder view that the store or the engine changed messages.
  void NotifyFolderView();
  static const MessageMapEntry kEntries[];

  store::MessageStore store_;
  engine::TransferHost host_{&store_};
  std::unique_ptr<engine::WindowPushHandler> pushHandler_;
  engine::PushListener pushListener_;
  ListControl list_;
  std::unique_ptr<folders::FolderFrame> folderView_;
  std::u16string contentsRoot_;
  int view_ = 0;
  /// The open mode the next composer gets (set by the navigation codes).
  int composerMode_ = 0;
  /// The folder the folder view showed last.
  int lastFolder_ = 0;
  bool busy_ = false;
  bool noticeShowing_ = false;
  bool engineStarted_ = false;
  HWND menuBar_ = nullptr;
  /// The rows' icons from the resource library, one per row of kMainRows (null when missing).
  HICON icons_[6] = {};
};

}  // namespace ui
