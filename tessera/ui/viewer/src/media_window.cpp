// The media window keeps one thing at a time: a picture, an animation or a video. A video
// draws itself through the player; the window paints only its paused frame.
#include "viewer/media_window.h"

#include "imaging/image.h"
#include "mms/byte_stream.h"
#include "platform/text.h"
#include "viewer/duration_probe.h"
#include "viewer/video_playback.h"

namespace viewer {

namespace {

std::u16string BaseName(const std::u16string& path) {
  const auto slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::unique_ptr<MediaWindow> MediaWindow::Create(HWND parent, const RECT& rect, VideoPlayback* video) {
  static const bool registered = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = &MediaWindow::Proc;
    wc.lpszClassName = kMediaWindowClass;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    return RegisterClass(&wc) != 0;
  }();
  if (!registered) return nullptr;
  std::unique_ptr<MediaWindow> w(new MediaWindow());
  w->playback_ = video;
  w->hwnd_ =
      CreateWindowEx(0, kMediaWindowClass, u"", WS_CHILD | WS_VISIBLE, rect.left, rect.top,
                     rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, nullptr, nullptr);
  if (!w->hwnd_) return nullptr;
  SetWindowLong(w->hwnd_, GWL_USERDATA, reinterpret_cast<LONG_PTR>(w.get()));
  return w;
}

MediaWindow::~MediaWindow() {
  ClearMedia();
  if (hwnd_) {
    SetWindowLong(hwnd_, GWL_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

const imaging::PackedDib* MediaWindow::picture() const {
  return animation_ ? frameDib_ : picture_.get();
}

LRESULT MediaWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MediaWindow*>(GetWindowLong(hwnd, GWL_USERDATA));
  if (!self) return DefWindowProc(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_TIMER:
      if (wParam == kAnimationTimerId) self->OnTimer();
      return 0;
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_LBUTTONDOWN:
      if (HWND parent = GetParent(hwnd)) PostMessage(parent, msg, wParam, lParam);
      return 0;
    case kMsgVideoFinished:
      if (self->video_ && self->playback_ && static_cast<LPARAM>(wParam) != -1) self->playback_->Stop();
      return 0;
    case WM_PLATFORM_DESCRIBE:
      *reinterpret_cast<std::string*>(lParam) += self->Describe();
      return 1;
    default:
      return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

bool MediaWindow::ShowMedia(const std::u16string& path, presentation::MediaKind kind, bool snapshot,
                            bool shown) {
  ClearMedia();
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  const imaging::Box client{rc.right - rc.left, rc.bottom - rc.top};
  name_ = BaseName(path);
  bool ok = false;
  switch (presentation::KindClass(kind)) {
    case static_cast<std::uint32_t>(presentation::MediaClass::Image): {
      if (kind == presentation::kKindGif && GifAnimationMs(path) > 0) {
        imaging::Box box = client;
        if (box.width < 1 || box.height < 1) box = imaging::Box{1, 1};
        animation_ = imaging::GifPlayer::Open(path, &box);
        bool end = false;
        int delay = 0;
        frameDib_ = animation_ ? animation_->Render(0, &end, &delay) : nullptr;
        if (frameDib_) {
          frame_ = 0;
          delayLeft_ = delay;
          frames_ = 0;
          // The loop flag follows the animation's own loop extension.
          auto file = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
          std::unique_ptr<imaging::GifDecoder> decoder;
          imaging::GifPrescan scan;
          if (file && imaging::GifDecoder::Open(file.get(), &decoder) == imaging::kGifOk &&
              decoder->Prescan(&scan) == imaging::kGifOk) {
            loop_ = scan.applicationExtension;
            frames_ = scan.frames;
          }
          ok = true;
        } else {
          animation_.reset();
        }
      } else {
        imaging::Box box = client;
        picture_ = imaging::LoadImageFitted(path, &box, presentation::KindFormat(kind));
        ok = picture_ != nullptr;
      }
      break;
    }
    case static_cast<std::uint32_t>(presentation::MediaClass::Video): {
      video_ = true;
      if (snapshot) {
        int w = 0, h = 0;
        if (playback_ && playback_->MediaInfo(path, nullptr, &w, &h) && w > 0 && h > 0) {
          imaging::Box fitted;
          imaging::FitSize(w, h, client, &fitted);
          picture_ = VideoPlayback::FirstFrame(path, fitted.width, fitted.height);
        }
        ok = picture_ != nullptr;
        video_ = false;  // a poster, not a playing video
      } else if (playback_) {
        playback_->SetTarget(hwnd_, rc.left, rc.top, rc.right, rc.bottom);
        ok = playback_->Open(path) >= 0;
        if (!ok) video_ = false;
      }
      break;
    }
    default:
      break;
  }
  if (!ok) name_.clear();
  shown_ = ok && shown;
  InvalidateRect(hwnd_, nullptr, TRUE);
  return ok;
}

void MediaWindow::StartMedia() {
  if (name_.empty()) return;
  shown_ = true;
  if (animation_ && !timerRunning_) {
    lastTick_ = platform::WindowClockMs();
    SetTimer(hwnd_, kAnimationTimerId, kAnimationTickMs, nullptr);
    timerRunning_ = true;
  } else if (video_ && playback_ && playback_->State() == VideoPlayback::kReady) {
    UpdateWindow(hwnd_);
    playback_->Play();
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void MediaWindow::OnTimer() {
  if (!animation_) return;
  const DWORD now = platform::WindowClockMs();
  delayLeft_ -= static_cast<int>(now - lastTick_);
  lastTick_ = now;
  if (delayLeft_ > 0) return;
  bool end = false;
  int delay = 0;
  const imaging::PackedDib* next = animation_->Render(frame_ + 1, &end, &delay);
  if (next) {
    ++frame_;
  } else {
    // At the end, or on a damaged frame: back to the first frame; only a looping
    // animation keeps running.
    if (!loop_ || !end) {
      KillTimer(hwnd_, kAnimationTimerId);
      timerRunning_ = false;
    }
    next = animation_->Render(0, &end, &delay);
    frame_ = 0;
  }
  if (next) frameDib_ = next;
  delayLeft_ += delay;
  if (delayLeft_ <= 0) delayLeft_ = delay;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void MediaWindow::PauseMedia() {
  if (video_ && playback_ && playback_->State() == VideoPlayback::kPlaying) {
    playback_->Pause();
    picture_ = playback_->Snapshot();
    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
  }
  if (timerRunning_) {
    KillTimer(hwnd_, kAnimationTimerId);
    timerRunning_ = false;
  }
}

void MediaWindow::ResumeMedia() {
  if (video_ && playback_ && playback_->State() == VideoPlayback::kPaused) {
    picture_.reset();
    playback_->Play();
  }
  if (animation_ && shown_ && !timerRunning_) {
    lastTick_ = platform::WindowClockMs();
    SetTimer(hwnd_, kAnimationTimerId, kAnimationTickMs, nullptr);
    timerRunning_ = true;
  }
}

void MediaWindow::ClearMedia() {
  if (timerRunning_) KillTimer(hwnd_, kAnimationTimerId);
  timerRunning_ = false;
  animation_.reset();
  frameDib_ = nullptr;
  picture_.reset();
  if (video_ && playback_ && playback_->owner() == hwnd_) playback_->Close();
  video_ = false;
  shown_ = false;
  loop_ = false;
  frame_ = frames_ = 0;
  name_.clear();
  if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

void MediaWindow::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  if (!dc) return;
  RECT rc{};
  GetClientRect(hwnd_, &rc);
  const imaging::PackedDib* dib = shown_ ? picture() : nullptr;
  // A playing video draws itself; painting over it would flicker.
  const bool videoRuns = video_ && playback_ && playback_->State() == VideoPlayback::kPlaying;
  if (!videoRuns) FillRect(dc, &rc, GetSysColorBrush(video_ ? COLOR_WINDOWTEXT : COLOR_WINDOW));
  if (dib && !videoRuns) {
    const int x = (rc.right - rc.left - dib->width()) / 2;
    const int y = (rc.bottom - rc.top - dib->height()) / 2;
    platform::StretchPackedDib(dc, x, y, dib->width(), dib->height(), dib->data(), dib->size());
  }
  EndPaint(hwnd_, &ps);
}

std::string MediaWindow::Describe() const {
  std::string name = platform::Utf16ToUtf8(name_);
  if (name_.empty() || !shown_) return "media empty\n";
  if (animation_)
    return "media animation \"" + name + "\" frame " + std::to_string(frame_) + " of " +
           std::to_string(frames_) + (timerRunning_ ? " running" : " still") + "\n";
  if (video_) {
    const int state = playback_ ? playback_->State() : VideoPlayback::kClosed;
    return "media video \"" + name + "\" state " + std::to_string(state) + (picture_ ? " snapshot" : "") +
           "\n";
  }
  if (picture_)
    return "media picture \"" + name + "\" " + std::to_string(picture_->width()) + "x" +
           std::to_string(picture_->height()) + "\n";
  return "media empty\n";
}

presentation::MediaViewFactory MediaWindowFactory(VideoPlayback* video) {
  return [video](HWND parent) -> std::unique_ptr<presentation::MediaView> {
    return MediaWindow::Create(parent, RECT{0, 0, 1, 1}, video);
  };
}

}  // namespace viewer
