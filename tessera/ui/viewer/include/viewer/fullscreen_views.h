#pragma once
/// The full-screen picture view (an animated GIF runs) and the full-screen video view with
/// Play/Pause and Stop soft keys and a progress strip. Both are dialogs that run modally
/// (Run) or, for tests, without their own loop (Create).

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/packed_dib.h"
#include "platform/dialogs.h"
#include "presentation/message_document.h"
#include "viewer/viewer_context.h"

namespace viewer {

class MediaWindow;

class PictureView {
 public:
  PictureView(const ViewerContext& ctx, std::u16string path, presentation::MediaKind kind);
  ~PictureView();
  /// IDCANCEL or IDOK when closed; 2 at once when the picture cannot be shown.
  INT_PTR Run(HWND owner);
  /// Null when the view ended at once.
  HWND Create(HWND owner);
  MediaWindow* media() const { return media_.get(); }

 private:
  static BOOL Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnInit();
  ViewerContext ctx_;
  std::u16string path_;
  presentation::MediaKind kind_;
  HWND hwnd_ = nullptr;
  bool failed_ = false;
  std::unique_ptr<MediaWindow> media_;
};

class VideoView {
 public:
  VideoView(const ViewerContext& ctx, std::u16string path);
  ~VideoView();
  INT_PTR Run(HWND owner);
  HWND Create(HWND owner);

  bool playing() const;
  bool hasPausedFrame() const { return paused_ != nullptr; }
  bool hasPoster() const { return poster_ != nullptr; }
  std::uint64_t position() const { return position_; }
  std::uint64_t duration() const { return duration_; }
  const RECT& pictureArea() const { return area_; }

 private:
  static BOOL Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnInit();
  void PlayPause();
  void Paint();
  void SetLabel(UINT textId);

  ViewerContext ctx_;
  std::u16string path_;
  HWND hwnd_ = nullptr;
  bool failed_ = false;
  RECT area_{};
  RECT client_{};
  std::unique_ptr<imaging::PackedDib> poster_;
  std::unique_ptr<imaging::PackedDib> paused_;
  std::uint64_t position_ = 0;
  std::uint64_t duration_ = 0;
};

/// Entry points of the two views (the MMS contents screen and the gallery use them).
INT_PTR RunPictureView(HWND owner, const std::u16string& path, presentation::MediaKind kind,
                       const ViewerContext& ctx);
INT_PTR RunVideoView(HWND owner, const std::u16string& path, const ViewerContext& ctx);

}  // namespace viewer
