#pragma once
/// The viewer: a full-screen dialog that plays a message's presentation with the
/// presentation player, a Play/Stop soft key, slide navigation and a progress strip.

#include <cstdint>
#include <memory>

#include "platform/dialogs.h"
#include "presentation/presentation_player.h"
#include "viewer/viewer_context.h"

namespace store {
class MessageEntry;
}

namespace viewer {

class ViewerDialog {
 public:
  /// `entry` may be null (no contents screen then); the document stays the caller's.
  ViewerDialog(const ViewerContext& ctx, presentation::MessageDocument* document, store::MessageEntry* entry);
  ~ViewerDialog();
  ViewerDialog(const ViewerDialog&) = delete;
  ViewerDialog& operator=(const ViewerDialog&) = delete;

  /// Runs the dialog modally; IDCANCEL when it could not start.
  INT_PTR Run(HWND owner);
  /// The same dialog without its own message loop (tests drive it on the virtual clock).
  HWND Create(HWND owner);

  HWND hwnd() const { return hwnd_; }
  presentation::PresentationPlayer& player() { return player_; }
  int slideCount() const { return slideCount_; }
  bool stopped() const { return stopped_; }
  bool ended() const { return ended_; }
  std::uint64_t position() const { return position_; }
  std::uint64_t duration() const { return duration_; }
  const RECT& presentationRect() const { return presentationRect_; }

 private:
  static BOOL Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnInit();
  void Start();
  void StopPlaying();
  void Jump(int delta);
  void SetLabel(UINT textId);
  void Paint();
  void RedrawStrip();
  std::string Describe() const;

  ViewerContext ctx_;
  presentation::MessageDocument* document_;
  store::MessageEntry* entry_;
  presentation::PresentationPlayer player_;
  HWND hwnd_ = nullptr;
  int slideCount_ = 0;
  bool stopped_ = true;
  bool ended_ = true;
  std::uint64_t position_ = 0;
  std::uint64_t duration_ = 0;
  RECT presentationRect_{};
  RECT stripRect_{};
};

/// Opens the entry's document and runs the viewer on it; the dialog's result.
INT_PTR RunViewer(HWND owner, store::MessageEntry* entry, const ViewerContext& ctx);

}  // namespace viewer
