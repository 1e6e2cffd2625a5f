#pragma once
/// The screen shown where a screen is entered that is not built yet: a popup over the main
/// frame saying so. Any of Enter, Back or a soft key leaves it and the main list returns.
#include <cstdint>
#include <functional>
#include <string>

#include "ui/common/window_base.h"

namespace ui {

class PlaceholderScreen : public WindowBase {
 public:
  /// Covers `owner`'s client area; `nameId` is the string naming the screen.
  bool Open(HWND owner, UINT nameId);
  const std::u16string& Text() const { return text_; }
  /// Called once when the user leaves the screen (after the window is gone).
  std::function<void()> onLeave;

  const MessageTable* GetMessageTable() const override { return &kTable; }
  void OnDraw(HDC dc) override;
  static const MessageTable kTable;

 private:
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnLeaveCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnDescribe(WPARAM wParam, LPARAM lParam);
  void Leave();
  static const MessageMapEntry kEntries[];
  std::u16string text_;
};

// The entry points of the screens; one not built yet shows its placeholder. `onLeave` runs
// when the user leaves the screen. False when the screen could not be entered (onLeave is
// not called then).
/// What the main frame gives the composer: the Drafts message, its open mode, the view
/// state before, where to go when the composer is left (view 1 or 7, folder or -1 for the
/// one shown last) and how a sent message reaches the Outbox.
struct ComposerRequest {
  std::uint32_t messageId = 0;
  int mode = 0;
  int previousView = 0;
  std::function<void(int view, int folder)> onLeave;
  std::function<bool(std::uint32_t messageId)> sendFromDrafts;
};
bool OpenComposer(HWND owner, const ComposerRequest& request);
/// Plays an Inbox or Sent message in the viewer, modally; the entry is checked out meanwhile.
bool OpenViewer(HWND owner, std::uint32_t messageId, std::function<void()> onLeave);
/// The general settings page, modally.
bool RunSettings(HWND owner, std::function<void()> onLeave);
/// The send page for a Draft or Outbox message, modally; a sent message moves to the Outbox
/// and is queued through navigation code 5. False when there is no such message.
bool RunSendPage(HWND owner, std::uint32_t messageId, std::function<void()> onLeave);
bool RunGallery(HWND owner, std::function<void()> onLeave);

}  // namespace ui
