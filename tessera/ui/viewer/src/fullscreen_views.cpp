// Full-screen views of one picture or one video file.
#include "viewer/fullscreen_views.h"

#include "imaging/image.h"
#include "platform/files.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "ui/resource_library.h"
#include "viewer/media_window.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"

namespace viewer {

namespace {

constexpr DWORD kFullScreen = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;

bool MakeBar(HWND dialog, const ViewerContext& ctx, UINT id) {
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof(bar);
  bar.hwndParent = dialog;
  bar.nToolBarId = id;
  bar.hInstRes = ctx.resources->module();
  return SHCreateMenuBar(&bar) != FALSE;
}

template <typename View>
View* ViewOf(HWND hwnd, UINT msg, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLong(hwnd, DWL_USER, lParam);
  return reinterpret_cast<View*>(GetWindowLong(hwnd, DWL_USER));
}

}  // namespace

// ---- Picture ----

PictureView::PictureView(const ViewerContext& ctx, std::u16string path, presentation::MediaKind kind)
    : ctx_(ctx), path_(std::move(path)), kind_(kind) {}

PictureView::~PictureView() {
  media_.reset();
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLong(hwnd_, DWL_USER, 0);
    DestroyWindow(hwnd_);
  }
}

INT_PTR PictureView::Run(HWND owner) {
  if (!ctx_.resources) return IDCANCEL;
  const INT_PTR r = DialogBoxParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner,
                                   &Proc, reinterpret_cast<LPARAM>(this));
  media_.reset();
  hwnd_ = nullptr;
  return r;
}

HWND PictureView::Create(HWND owner) {
  if (!ctx_.resources) return nullptr;
  HWND h = CreateDialogParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner, &Proc,
                             reinterpret_cast<LPARAM>(this));
  return h && !failed_ ? h : nullptr;
}

BOOL PictureView::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = ViewOf<PictureView>(hwnd, msg, lParam);
  if (!self) return FALSE;
  switch (msg) {
    case WM_INITDIALOG:
      self->hwnd_ = hwnd;
      self->failed_ = !self->OnInit();
      if (self->failed_) EndDialog(hwnd, IDCANCEL);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ids::kCmdClose:
        case IDOK:
        case IDCANCEL:
          self->media_.reset();
          EndDialog(hwnd, LOWORD(wParam) == IDCANCEL ? IDCANCEL : IDOK);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

bool PictureView::OnInit() {
  SHINITDLGINFO init{SHIDIM_FLAGS, hwnd_, kFullScreen};
  SHInitDialog(&init);
  SetWindowText(hwnd_, ctx_.resources->LoadText(ids::kStrPicture).c_str());
  if (!MakeBar(hwnd_, ctx_, ids::kBarClose)) return false;
  RECT client{};
  GetClientRect(hwnd_, &client);
  media_ = MediaWindow::Create(hwnd_, client, ctx_.video);
  if (!media_) return false;
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  const bool ok = media_->ShowMedia(path_, kind_, false, true);
  if (ok) media_->StartMedia();
  SetCursor(previous);
  return ok;
}

INT_PTR RunPictureView(HWND owner, const std::u16string& path, presentation::MediaKind kind,
                       const ViewerContext& ctx) {
  PictureView view(ctx, path, kind);
  return view.Run(owner);
}

// ---- Video ----

VideoView::VideoView(const ViewerContext& ctx, std::u16string path) : ctx_(ctx), path_(std::move(path)) {}

VideoView::~VideoView() {
  if (ctx_.video && hwnd_ && ctx_.video->owner() == hwnd_) ctx_.video->Close();
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLong(hwnd_, DWL_USER, 0);
    DestroyWindow(hwnd_);
  }
}

INT_PTR VideoView::Run(HWND owner) {
  if (!ctx_.resources) return IDCANCEL;
  const INT_PTR r = DialogBoxParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner,
                                   &Proc, reinterpret_cast<LPARAM>(this));
  if (ctx_.video && ctx_.video->owner() == hwnd_) ctx_.video->Close();
  hwnd_ = nullptr;
  return r;
}

HWND VideoView::Create(HWND owner) {
  if (!ctx_.resources) return nullptr;
  HWND h = CreateDialogParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner, &Proc,
                             reinterpret_cast<LPARAM>(this));
  return h && !failed_ ? h : nullptr;
}

bool VideoView::playing() const {
  return ctx_.video && ctx_.video->owner() == hwnd_ && ctx_.video->State() == VideoPlayback::kPlaying;
}

BOOL VideoView::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = ViewOf<VideoView>(hwnd, msg, lParam);
  if (!self) return FALSE;
  if (msg == WM_INITDIALOG) {
    self->hwnd_ = hwnd;
    self->failed_ = !self->OnInit();
    if (self->failed_) EndDialog(hwnd, IDCANCEL);
    return TRUE;
  }
  return self->Handle(msg, wParam, lParam);
}

bool VideoView::OnInit() {
  SHINITDLGINFO init{SHIDIM_FLAGS, hwnd_, kFullScreen};
  SHInitDialog(&init);
  if (!ctx_.video || !platform::FileExists(path_) || !MakeBar(hwnd_, ctx_, ids::kBarVideo)) return false;
  GetClientRect(hwnd_, &client_);
  area_ = RECT{client_.left, client_.top, client_.right, client_.bottom - ids::kProgressStripHeight};
  int w = 0, h = 0;
  if (ctx_.video->MediaInfo(path_, nullptr, &w, &h) && w > 0 && h > 0) {
    imaging::Box fitted;
    imaging::FitSize(w, h, imaging::Box{area_.right - area_.left, area_.bottom - area_.top}, &fitted);
    poster_ = VideoPlayback::FirstFrame(path_, fitted.width, fitted.height);
  }
  ctx_.video->SetTarget(hwnd_, area_.left, area_.top, area_.right, area_.bottom);
  const int ms = ctx_.video->Open(path_);
  if (ms > 0) duration_ = static_cast<std::uint64_t>(ms);
  PostMessage(hwnd_, WM_COMMAND, ids::kCmdVideoPlayPause, 0);
  return true;
}

void VideoView::SetLabel(UINT textId) {
  SetSoftKeyLabel(hwnd_, ids::kCmdVideoPlayPause, ctx_.resources->LoadText(textId));
}

void VideoView::PlayPause() {
  VideoPlayback* v = ctx_.video;
  if (!playing()) {
    paused_.reset();
    SetLabel(ids::kStrStop);
    if (v->State() == VideoPlayback::kClosed || v->owner() != hwnd_) {
      v->SetTarget(hwnd_, area_.left, area_.top, area_.right, area_.bottom);
      const int ms = v->Open(path_);
      if (ms > 0) duration_ = static_cast<std::uint64_t>(ms);
    }
    if (!v->Play()) SetLabel(ids::kStrPlay);
  } else {
    SetLabel(ids::kStrPlay);
    v->Pause();
    paused_ = v->Snapshot();
    InvalidateRect(hwnd_, &area_, FALSE);
  }
}

BOOL VideoView::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ids::kCmdVideoPlayPause:
          PlayPause();
          return TRUE;
        case ids::kCmdVideoStop:
          ctx_.video->Stop();
          SetLabel(ids::kStrPlay);
          return TRUE;
        case IDCANCEL:
        case ids::kCmdClose:
          ctx_.video->Close();
          EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    case kMsgVideoProgress:
      position_ = wParam;
      duration_ = static_cast<std::uint64_t>(lParam);
      InvalidateRect(hwnd_, nullptr, FALSE);
      return TRUE;
    case kMsgVideoFinished:
      ctx_.video->Stop();
      // 0 when the clip ran to its end, -1 after a stop: both leave the bar at its start.
      position_ = static_cast<LPARAM>(wParam) > 0 ? wParam : 0;
      paused_.reset();
      SetLabel(ids::kStrPlay);
      InvalidateRect(hwnd_, nullptr, TRUE);
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && playing()) {
        PlayPause();
        if (HWND fg = GetForegroundWindow()) InvalidateRect(fg, nullptr, TRUE);
      }
      return FALSE;
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_PLATFORM_DESCRIBE: {
      auto* out = reinterpret_cast<std::string*>(lParam);
      *out += "video view state " + std::to_string(ctx_.video ? ctx_.video->State() : 1) + " progress " +
              std::to_string(position_) + "/" + std::to_string(duration_) +
              (paused_ ? " paused frame" : (poster_ ? " poster" : "")) + "\n";
      SetWindowLong(hwnd_, DWL_MSGRESULT, 1);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void VideoView::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  if (!dc) return;
  if (!playing()) {
    FillRect(dc, &area_, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    const imaging::PackedDib* pic = paused_ ? paused_.get() : poster_.get();
    if (pic) {
      const int x = area_.left + (area_.right - area_.left - pic->width()) / 2;
      const int y = area_.top + (area_.bottom - area_.top - pic->height()) / 2;
      platform::StretchPackedDib(dc, x, y, pic->width(), pic->height(), pic->data(), pic->size());
    }
  }
  RECT strip{client_.left, area_.bottom, client_.right, client_.bottom};
  FillRect(dc, &strip, GetSysColorBrush(COLOR_WINDOW));
  DrawProgressBar(dc, ProgressBarRect(client_), position_, duration_);
  EndPaint(hwnd_, &ps);
}

INT_PTR RunVideoView(HWND owner, const std::u16string& path, const ViewerContext& ctx) {
  VideoView view(ctx, path);
  return view.Run(owner);
}

}  // namespace viewer
