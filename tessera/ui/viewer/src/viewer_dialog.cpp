// The viewer dialog hosts the presentation player over its client area less a 20-pixel
// progress strip, and follows the player's notifications for its soft key and strip.
#include "viewer/viewer_dialog.h"

#include "contents/contents_screen.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "ui/resource_library.h"
#include "viewer/media_window.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"

namespace viewer {

namespace {

constexpr DWORD kInitFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;  // 13

std::u16string Text(const ViewerContext& ctx, UINT id) {
  return ctx.resources ? ctx.resources->LoadText(id) : std::u16string();
}

}  // namespace

ViewerDialog::ViewerDialog(const ViewerContext& ctx, presentation::MessageDocument* document,
                           store::MessageEntry* entry)
    : ctx_(ctx), document_(document), entry_(entry) {}

ViewerDialog::~ViewerDialog() {
  player_.Destroy();
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLong(hwnd_, DWL_USER, 0);
    DestroyWindow(hwnd_);
  }
}

INT_PTR ViewerDialog::Run(HWND owner) {
  if (!ctx_.resources) return IDCANCEL;
  const INT_PTR r = DialogBoxParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgViewer), owner, &Proc,
                                   reinterpret_cast<LPARAM>(this));
  player_.Destroy();
  hwnd_ = nullptr;
  return r < 0 ? IDCANCEL : r;
}

HWND ViewerDialog::Create(HWND owner) {
  if (!ctx_.resources) return nullptr;
  CreateDialogParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgViewer), owner, &Proc,
                    reinterpret_cast<LPARAM>(this));
  return hwnd_;
}

BOOL ViewerDialog::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<ViewerDialog*>(lParam);
    SetWindowLong(hwnd, DWL_USER, lParam);
    self->hwnd_ = hwnd;
    if (!self->OnInit()) EndDialog(hwnd, IDCANCEL);
    return TRUE;
  }
  auto* self = reinterpret_cast<ViewerDialog*>(GetWindowLong(hwnd, DWL_USER));
  return self ? self->Handle(msg, wParam, lParam) : FALSE;
}

bool ViewerDialog::OnInit() {
  SHINITDLGINFO init{SHIDIM_FLAGS, hwnd_, kInitFlags};
  SHInitDialog(&init);
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof(bar);
  bar.hwndParent = hwnd_;
  bar.nToolBarId = ids::kBarViewer;
  bar.hInstRes = ctx_.resources->module();
  if (!SHCreateMenuBar(&bar)) return false;

  RECT client{};
  GetClientRect(hwnd_, &client);
  stripRect_ = RECT{client.left, client.bottom - ids::kProgressStripHeight, client.right, client.bottom};
  presentationRect_ =
      RECT{client.left, client.top + 2, client.right, client.bottom - ids::kProgressStripHeight};

  slideCount_ = document_ ? document_->slideCount() : 0;
  if (slideCount_ == 0) {
    SendMessage(bar.hwndMB, TB_ENABLEBUTTON, ids::kCmdPlayStop, FALSE);
    return true;
  }
  if (!player_.Create(hwnd_, presentationRect_, document_, ctx_.audio, ctx_.video,
                      MediaWindowFactory(ctx_.video)))
    return false;
  duration_ = player_.TotalDuration();
  PostMessage(hwnd_, ids::kMsgStartPlaying, 0, 0);
  return true;
}

void ViewerDialog::SetLabel(UINT textId) {
  SetSoftKeyLabel(hwnd_, ids::kCmdPlayStop, Text(ctx_, textId));
}

void ViewerDialog::Start() {
  if (slideCount_ == 0) return;
  player_.Play();
  SetLabel(ids::kStrStop);
  stopped_ = false;
}

void ViewerDialog::StopPlaying() {
  player_.Stop();
  SetLabel(ids::kStrPlay);
  stopped_ = true;
}

void ViewerDialog::Jump(int delta) {
  if (slideCount_ == 0) return;
  // The player's own slide is the current one: it moves on by itself while playing.
  const int current = player_.currentSlide();
  const int target = std::clamp(current + delta, 0, slideCount_ - 1);
  if (target == current) return;
  // A jump leaves the viewer stopped on the new slide, so the player must not go on.
  if (player_.state() == presentation::PresentationPlayer::State::Playing) player_.Pause();
  player_.GoToSlide(target);
  SetLabel(ids::kStrPlay);
  stopped_ = true;
}

void ViewerDialog::RedrawStrip() {
  InvalidateRect(hwnd_, &stripRect_, FALSE);
}

BOOL ViewerDialog::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case ids::kMsgStartPlaying:
      Start();
      return TRUE;
    case presentation::kMsgPlayerProgress:
      position_ = wParam;
      duration_ = static_cast<std::uint64_t>(lParam);
      ended_ = false;
      RedrawStrip();
      return TRUE;
    case presentation::kMsgPlayerStopped:
      SetLabel(ids::kStrPlay);
      stopped_ = true;
      if (wParam == 0) {
        position_ = 0;
        ended_ = true;
        RedrawStrip();
      } else {
        if (wParam < position_) RedrawStrip();
        position_ = wParam;
      }
      return TRUE;
    case presentation::kMsgPlayerPaused:
      SetLabel(ids::kStrPlay);
      stopped_ = true;
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ids::kCmdPlayStop:
          if (slideCount_ == 0) return TRUE;
          if (!stopped_)
            StopPlaying();
          else
            Start();
          return TRUE;
        case ids::kCmdRewind:
          StopPlaying();
          ended_ = true;
          return TRUE;
        case ids::kCmdNextSlide:
          Jump(1);
          return TRUE;
        case ids::kCmdPreviousSlide:
          Jump(-1);
          return TRUE;
        case ids::kCmdContents:
          StopPlaying();
          if (entry_) RunContentsList(hwnd_, entry_, ctx_);
          return TRUE;
        case IDCANCEL:
          player_.Stop();
          EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_INITMENUPOPUP: {
      auto menu = reinterpret_cast<HMENU>(wParam);
      const int current = player_.currentSlide();
      EnableMenuItem(menu, ids::kCmdRewind, ended_ ? MFS_GRAYED : MF_ENABLED);
      EnableMenuItem(menu, ids::kCmdNextSlide,
                     slideCount_ >= 2 && current < slideCount_ - 1 ? MF_ENABLED : MFS_GRAYED);
      EnableMenuItem(menu, ids::kCmdPreviousSlide, slideCount_ >= 2 && current > 0 ? MF_ENABLED : MFS_GRAYED);
      return TRUE;
    }
    case WM_KEYDOWN: {
      // Up and Down scroll a text longer than its area; the presentation pauses meanwhile.
      const presentation::PlayerWindow* w = player_.window();
      HWND text = w ? w->textControl() : nullptr;
      if ((wParam != VK_UP && wParam != VK_DOWN) || !text || !IsWindowVisible(text) ||
          !(GetWindowLong(text, GWL_STYLE) & WS_VSCROLL))
        return FALSE;
      SendMessage(text, WM_KEYDOWN, wParam, lParam);
      return TRUE;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE && !stopped_) {
        StopPlaying();
        if (ctx_.video && ctx_.video->State() == VideoPlayback::kPaused)
          if (HWND fg = GetForegroundWindow()) InvalidateRect(fg, nullptr, TRUE);
      }
      return FALSE;
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_PLATFORM_DESCRIBE:
      *reinterpret_cast<std::string*>(lParam) += Describe();
      SetWindowLong(hwnd_, DWL_MSGRESULT, 1);
      return TRUE;
    default:
      return FALSE;
  }
}

void ViewerDialog::Paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  if (!dc) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (slideCount_ == 0) {
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    RECT text{client.left + 3, client.top, client.right, client.bottom};
    const std::u16string s = Text(ctx_, ids::kStrCannotPlay);
    DrawText(dc, s.c_str(), static_cast<int>(s.size()), &text, DT_WORDBREAK | DT_NOPREFIX);
  } else {
    FillRect(dc, &stripRect_, GetSysColorBrush(COLOR_WINDOW));
    DrawProgressBar(dc, ProgressBarRect(client), position_, duration_);
  }
  EndPaint(hwnd_, &ps);
}

std::string ViewerDialog::Describe() const {
  if (slideCount_ == 0) return "text \"" + platform::Utf16ToUtf8(Text(ctx_, ids::kStrCannotPlay)) + "\"\n";
  return "progress " + std::to_string(position_) + "/" + std::to_string(duration_) + " slide " +
         std::to_string(player_.currentSlide() + 1) + "/" + std::to_string(slideCount_) + "\n";
}

INT_PTR RunViewer(HWND owner, store::MessageEntry* entry, const ViewerContext& ctx) {
  if (!entry) return IDCANCEL;
  presentation::MessageDocument* document = entry->OpenDocument();
  ViewerDialog dialog(ctx, document, entry);
  return dialog.Run(owner);
}

}  // namespace viewer
