#pragma once
/// The presentation player: plays a MessageDocument slide by slide inside a rectangle of a
/// host window. PresentationPlayer keeps the play state and the position on the timeline;
/// PlayerWindow is the child window that owns the text control, the media region and the
/// 30 ms timer that starts and ends each item of a slide at its times.
///
/// Pictures, animations and video are drawn by a MediaView the host supplies (the viewer's
/// media window); sound clips play through the AudioClipLoader, MP4/3GP sound through the
/// VideoPort. All of it runs on the host window's thread; time is the window system's clock.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/window.h"
#include "presentation/message_document.h"

namespace audio {
class AudioClipLoader;
}

namespace presentation {

// Notifications to the host window: wParam position, lParam total duration (slide shown:
// wParam index, lParam 0).
inline constexpr UINT kMsgPlayerStopped = WM_USER + 201;   // 1225
inline constexpr UINT kMsgPlayerPaused = WM_USER + 202;    // 1226
inline constexpr UINT kMsgPlayerProgress = WM_USER + 203;  // 1227
inline constexpr UINT kMsgSlideShown = WM_USER + 204;      // 1228

inline constexpr UINT_PTR kPlayerTimerId = 8209;
inline constexpr UINT kPlayerTickMs = 30;
inline constexpr const WCHAR* kPlayerWindowClass = u"PlayerWindowClass";
inline constexpr const WCHAR* kPlayerWindowTitle = u"Player main Windows";
/// Sample text whose height is one line of the text area.
inline constexpr const WCHAR* kLineHeightSample = u"for get height";

/// A region that shows a still picture, an animation or a video.
class MediaView {
 public:
  virtual ~MediaView() = default;
  virtual HWND Window() const = 0;
  /// Loads a file for showing; nothing is drawn before StartMedia. False when it cannot be
  /// shown (the region then stays empty).
  virtual bool ShowMedia(const std::u16string& path, MediaKind kind) = 0;
  /// Shows what was loaded and runs an animation or a video.
  virtual void StartMedia() = 0;
  virtual void PauseMedia() = 0;
  virtual void ResumeMedia() = 0;
  /// Stops and forgets what is shown.
  virtual void ClearMedia() = 0;
};

/// Makes the media region as a child of `parent`.
using MediaViewFactory = std::function<std::unique_ptr<MediaView>(HWND parent)>;

/// The video and MP4/3GP sound channel (one per process).
class VideoPort {
 public:
  enum State : int { kReady = 0, kClosed = 1, kStopped = 2, kPlaying = 3, kPaused = 4 };
  virtual ~VideoPort() = default;
  /// Closes any open file; the window receives the notifications, the rectangle is in its
  /// client coordinates.
  virtual void SetTarget(HWND window, int left, int top, int right, int bottom) = 0;
  /// Duration in milliseconds, or -1.
  virtual int Open(const std::u16string& path) = 0;
  virtual bool Play() = 0;
  virtual bool Pause() = 0;
  virtual bool Stop() = 0;
  virtual void Close() = 0;
  virtual int State() const = 0;
};

/// Where a slide's pieces go (chosen from what the slide holds).
enum class LayoutMode : std::uint32_t {
  PictureOnly = 0,  // media window over the whole window, text hidden
  TextOnly = 1,     // text over the whole window, media window hidden
  TextAndPicture = 2,
  TextAndVideo = 3,
  VideoOnly = 4,
};
LayoutMode ChooseLayoutMode(const Slide& slide, bool haveVideoPort);

/// The two areas of the player, in window pixels, from the vertical order of the regions.
struct PlayerAreas {
  RECT picture{};
  RECT text{};
};
PlayerAreas ComputeAreas(int width, int height, int lineHeight, bool textAbovePicture);

class PresentationPlayer;

class PlayerWindow {
 public:
  struct Params {
    HWND host = nullptr;
    RECT rect{};
    audio::AudioClipLoader* audio = nullptr;
    VideoPort* video = nullptr;
    MediaViewFactory makeView;
    std::uint64_t total = 0;
    std::u16string partsDirectory;
    bool textAbovePicture = false;
  };
  /// Null when the window cannot be made.
  static std::unique_ptr<PlayerWindow> Create(PresentationPlayer* player, const Params& params);
  ~PlayerWindow();
  PlayerWindow(const PlayerWindow&) = delete;
  PlayerWindow& operator=(const PlayerWindow&) = delete;

  void ShowSlide(const Slide& slide, int index, std::uint64_t start, std::uint64_t end, bool startPaused);
  void Pause();
  void Resume();
  void Stop(bool rewind);

  HWND hwnd() const { return hwnd_; }
  HWND textControl() const { return text_; }
  MediaView* mediaView() const { return view_.get(); }
  const PlayerAreas& areas() const { return areas_; }
  int lineHeight() const { return lineHeight_; }
  LayoutMode layoutMode() const { return mode_; }
  std::uint64_t position() const { return position_; }

 private:
  PlayerWindow() = default;
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void Tick();
  void Notify(UINT msg, WPARAM wParam, LPARAM lParam);
  void Layout();
  void SetText(const std::u16string& text);
  void StartAudio();
  void StopAudio();
  void PauseAudio();
  void ResumeAudio();
  bool OpenAudio(const std::u16string& path, MediaKind kind);

  struct Schedule {
    std::uint64_t begin = 0, end = 0;
    bool active = false;  // started / shown
    bool present = false;
  };

  PresentationPlayer* player_ = nullptr;
  Params params_;
  HWND hwnd_ = nullptr;
  HWND text_ = nullptr;
  std::unique_ptr<MediaView> view_;
  PlayerAreas areas_;
  int lineHeight_ = 12;
  LayoutMode mode_ = LayoutMode::PictureOnly;
  std::uint64_t position_ = 0;
  std::uint64_t slideEnd_ = 0;
  DWORD tickTime_ = 0;
  int index_ = -1;
  bool timerRunning_ = false;
  Schedule picture_, text_schedule_, audio_;
  std::u16string slideText_;
  bool audioOpen_ = false;
  bool audioViaVideo_ = false;
  bool audioPaused_ = false;
};

class PresentationPlayer {
 public:
  enum class State { Stopped = 0, Paused = 1, Playing = 2 };

  PresentationPlayer() = default;
  ~PresentationPlayer();
  PresentationPlayer(const PresentationPlayer&) = delete;
  PresentationPlayer& operator=(const PresentationPlayer&) = delete;

  /// Makes the player window over `rect` of `host` for `document` (kept by the caller), at
  /// slide 0 and stopped; nothing is shown before Play or GoToSlide. 1, or 0 without a
  /// document or a window.
  int Create(HWND host, const RECT& rect, MessageDocument* document, audio::AudioClipLoader* audio,
             VideoPort* video, MediaViewFactory makeView);
  int SlideCount() const;
  void Play();
  void Pause();
  void Stop();
  void GoToSlide(int index);
  void Restart();
  void Destroy();

  State state() const { return state_; }
  int currentSlide() const { return index_; }
  std::uint64_t position() const { return position_; }
  std::uint64_t TotalDuration() const;
  PlayerWindow* window() const { return window_.get(); }

 private:
  friend class PlayerWindow;
  void ShowCurrent(bool startPaused);

  MessageDocument* document_ = nullptr;
  std::unique_ptr<PlayerWindow> window_;
  HWND host_ = nullptr;
  std::uint64_t position_ = 0;
  int index_ = 0;
  State state_ = State::Stopped;
  bool restarting_ = false;
};

}  // namespace presentation
