#pragma once
/// The media window ("ImageViewWndClass"): a child window that shows a still picture fitted
/// into it, plays a GIF animation on a 30 ms timer, or plays a video through VideoPlayback
/// and shows its paused frame. Taps go to the parent window.

#include <cstdint>
#include <memory>
#include <string>

#include "imaging/gif.h"
#include "imaging/packed_dib.h"
#include "platform/window.h"
#include "presentation/presentation_player.h"

namespace viewer {

class VideoPlayback;

inline constexpr const WCHAR* kMediaWindowClass = u"ImageViewWndClass";
inline constexpr UINT_PTR kAnimationTimerId = 4608;
inline constexpr UINT kAnimationTickMs = 30;

class MediaWindow final : public presentation::MediaView {
 public:
  /// A child of `parent` over `rect`; null when the window cannot be made.
  static std::unique_ptr<MediaWindow> Create(HWND parent, const RECT& rect, VideoPlayback* video);
  ~MediaWindow() override;
  MediaWindow(const MediaWindow&) = delete;
  MediaWindow& operator=(const MediaWindow&) = delete;

  HWND Window() const override { return hwnd_; }
  bool ShowMedia(const std::u16string& path, presentation::MediaKind kind) override {
    return ShowMedia(path, kind, false, false);
  }
  /// `snapshot`: for a video, show the picture of its first frame instead of playing it.
  /// `shown`: draw at once rather than from StartMedia.
  bool ShowMedia(const std::u16string& path, presentation::MediaKind kind, bool snapshot, bool shown);
  void StartMedia() override;
  void PauseMedia() override;
  void ResumeMedia() override;
  void ClearMedia() override;

  bool animating() const { return timerRunning_; }
  int frameIndex() const { return frame_; }
  bool isVideo() const { return video_; }
  const imaging::PackedDib* picture() const;

 private:
  MediaWindow() = default;
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnTimer();
  void Paint();
  std::string Describe() const;

  HWND hwnd_ = nullptr;
  VideoPlayback* playback_ = nullptr;
  std::unique_ptr<imaging::PackedDib> picture_;  // still picture or paused video frame
  std::unique_ptr<imaging::GifPlayer> animation_;
  const imaging::PackedDib* frameDib_ = nullptr;  // the animation's canvas
  int frame_ = 0;
  int frames_ = 0;
  int delayLeft_ = 0;
  DWORD lastTick_ = 0;
  bool timerRunning_ = false;
  bool loop_ = false;
  bool video_ = false;
  bool shown_ = false;
  std::u16string name_;
};

/// A factory for the presentation player.
presentation::MediaViewFactory MediaWindowFactory(VideoPlayback* video);

}  // namespace viewer
