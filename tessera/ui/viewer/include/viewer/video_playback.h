#pragma once
/// VideoPlayback: the one object through which video and MP4/3GP sound are played, over the
/// player library's MP_ interface. Completion and progress reach the owner window as posted
/// messages; every other change happens on the UI thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/packed_dib.h"
#include "platform/window.h"
#include "presentation/presentation_player.h"

namespace viewer {

/// Posted to the owner: wParam 0 when both tracks finished, -1 after Stop; lParam duration.
inline constexpr UINT kMsgVideoFinished = 1225;
/// Posted to the owner: wParam position in ms, lParam duration.
inline constexpr UINT kMsgVideoProgress = 1227;

/// Largest enlargement of a video picture.
inline constexpr double kMaxVideoScale = 1.5;

/// Where a W × H video goes in a target rectangle: the smaller of the two ratios, at most
/// 1.5, sizes truncated, centred with integer halves.
struct VideoPlacement {
  double scale = 0;
  int left = 0, top = 0, width = 0, height = 0;
};
VideoPlacement PlaceVideo(const RECT& target, int videoWidth, int videoHeight);

class VideoPlayback final : public presentation::VideoPort {
 public:
  /// The process's object, made on first use.
  static VideoPlayback& Get();

  VideoPlayback() = default;
  ~VideoPlayback() override;
  VideoPlayback(const VideoPlayback&) = delete;
  VideoPlayback& operator=(const VideoPlayback&) = delete;

  void SetTarget(HWND window, int left, int top, int right, int bottom) override;
  int Open(const std::u16string& path) override;
  bool Play() override;
  bool Pause() override;
  bool Stop() override;
  void Close() override;
  int State() const override { return state_; }

  /// While paused: the current frame as a bottom-up 24-bit picture scaled like the playback.
  std::unique_ptr<imaging::PackedDib> Snapshot();
  /// The file's first picture at width × height (rounded down to even sizes).
  static std::unique_ptr<imaging::PackedDib> FirstFrame(const std::u16string& path, int width, int height);
  /// Duration and picture size of an MP4/3GP file; false when it cannot be read.
  bool MediaInfo(const std::u16string& path, std::uint32_t* durationMs, int* width, int* height);

  std::uint32_t duration() const { return duration_; }
  HWND owner() const { return owner_; }
  const VideoPlacement& placement() const { return placement_; }
  bool audioFinished() const { return audioFinished_; }
  bool videoFinished() const { return videoFinished_; }
  bool hasVideo() const { return videoTrack_ != 0; }
  const std::u16string& path() const { return path_; }

 private:
  static void OnProgress(void* user, std::uint32_t positionMs);
  static void OnCompletion(void* user, std::int32_t code);
  static void OnError(void* user, std::int32_t code);
  void Post(UINT msg, WPARAM wParam, LPARAM lParam);

  std::uint32_t player_ = 0;
  std::uint32_t videoTrack_ = 0;
  std::uint32_t audioTrack_ = 0;
  std::atomic<bool> audioFinished_{true};
  std::atomic<bool> videoFinished_{true};
  int state_ = kClosed;
  HWND owner_ = nullptr;
  RECT target_{};  // screen coordinates
  std::atomic<std::uint32_t> duration_{0};
  VideoPlacement placement_;
  int videoWidth_ = 0, videoHeight_ = 0;
  std::u16string path_;
};

/// Hands the imaging library the clip's first picture for video thumbnails.
void InstallVideoThumbnails();

}  // namespace viewer
