// The player window lays out a text control and a media region, and on every 30 ms tick
// starts and ends the items of the current slide by the position on the timeline. The
// position advances by the clock time between ticks, so a late tick catches up.
#include "presentation/presentation_player.h"

#include <algorithm>
#include <string>

#include "audio/clip_player.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace presentation {

namespace {

// Hidden parts go out of sight and out of the way.
void HidePart(HWND hwnd) {
  if (!hwnd) return;
  MoveWindow(hwnd, -1, -1, 1, 1, FALSE);
  ShowWindow(hwnd, SW_HIDE);
}

void PlacePart(HWND hwnd, const RECT& rc) {
  if (!hwnd) return;
  MoveWindow(hwnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

bool HasItem(const std::optional<MediaReference>& ref) {
  return ref && ref->item;
}

// Reads a text part: UTF-16LE after its two-byte mark.
std::u16string ReadTextPart(const std::u16string& path) {
  std::string bytes;
  if (!platform::ReadFile(path, bytes) || bytes.size() < 2) return {};
  std::u16string text;
  text.reserve((bytes.size() - 2) / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                         (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
  return text;
}

void ScheduleFor(const MediaReference& ref, std::uint64_t start, std::uint64_t end, std::uint64_t* begin,
                 std::uint64_t* finish) {
  *begin = start + ref.begin;
  *finish = start + ref.end;
  if (*finish <= start) *finish = end;
}

}  // namespace

LayoutMode ChooseLayoutMode(const Slide& slide, bool haveVideoPort) {
  const bool text = HasItem(slide.text);
  const bool video = HasItem(slide.video);
  const bool picture = HasItem(slide.image);
  if (text) {
    if (video && haveVideoPort) return LayoutMode::TextAndVideo;
    if (video || picture) return LayoutMode::TextAndPicture;
    return LayoutMode::TextOnly;
  }
  if (video && haveVideoPort) return LayoutMode::VideoOnly;
  return LayoutMode::PictureOnly;
}

PlayerAreas ComputeAreas(int width, int height, int lineHeight, bool textAbovePicture) {
  PlayerAreas a;
  const int two = 2 * lineHeight;
  if (textAbovePicture) {
    a.text = RECT{3, 0, width, std::min(two, height)};
    a.picture = RECT{0, std::min(two + 1, height), width, height};
  } else {
    a.text = RECT{3, std::max(0, height - two), width, height};
    a.picture = RECT{0, 0, width, std::max(0, height - two - 1)};
  }
  return a;
}

// ---- PlayerWindow ----

std::unique_ptr<PlayerWindow> PlayerWindow::Create(PresentationPlayer* player, const Params& params) {
  static bool registered = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = &PlayerWindow::Proc;
    wc.lpszClassName = kPlayerWindowClass;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    return RegisterClass(&wc) != 0;
  }();
  if (!registered) return nullptr;
  platform::RegisterControlClasses();

  std::unique_ptr<PlayerWindow> w(new PlayerWindow());
  w->player_ = player;
  w->params_ = params;
  const RECT& r = params.rect;
  w->hwnd_ = CreateWindowEx(0, kPlayerWindowClass, kPlayerWindowTitle,
                            WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, params.host, nullptr, nullptr, nullptr);
  if (!w->hwnd_) return nullptr;
  SetWindowLong(w->hwnd_, GWL_USERDATA, reinterpret_cast<LONG_PTR>(w.get()));

  HDC dc = GetDC(w->hwnd_);
  SIZE size{};
  if (dc &&
      GetTextExtentPoint32(dc, kLineHeightSample, static_cast<int>(std::u16string(kLineHeightSample).size()),
                           &size) &&
      size.cy > 0)
    w->lineHeight_ = size.cy;
  if (dc) ReleaseDC(w->hwnd_, dc);

  w->areas_ = ComputeAreas(r.right - r.left, r.bottom - r.top, w->lineHeight_, params.textAbovePicture);
  w->text_ = CreateWindowEx(0, WC_EDIT, u"", WS_CHILD | ES_MULTILINE | ES_READONLY, -1, -1, 1, 1, w->hwnd_,
                            nullptr, nullptr, nullptr);
  if (params.makeView) w->view_ = params.makeView(w->hwnd_);
  if (w->view_) HidePart(w->view_->Window());
  HidePart(w->text_);
  return w;
}

PlayerWindow::~PlayerWindow() {
  if (hwnd_) KillTimer(hwnd_, kPlayerTimerId);
  StopAudio();
  if (audioOpen_ && !audioViaVideo_ && params_.audio) params_.audio->CloseClip();
  if (audioOpen_ && audioViaVideo_ && params_.video) params_.video->Close();
  if (view_) view_->ClearMedia();
  view_.reset();
  if (hwnd_) {
    SetWindowLong(hwnd_, GWL_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

LRESULT PlayerWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<PlayerWindow*>(GetWindowLong(hwnd, GWL_USERDATA));
  if (self && msg == WM_TIMER && wParam == kPlayerTimerId) {
    self->Tick();
    return 0;
  }
  if (self && msg == WM_COMMAND && HIWORD(wParam) == EN_VSCROLL &&
      reinterpret_cast<HWND>(lParam) == self->text_) {
    // The user scrolls the text to read it: the presentation waits.
    if (self->player_) self->player_->Pause();
    return 0;
  }
  if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP) {
    // Taps on the presentation belong to the host.
    HWND parent = GetParent(hwnd);
    if (parent) PostMessage(parent, msg, wParam, lParam);
    return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

void PlayerWindow::Notify(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (params_.host) PostMessage(params_.host, msg, wParam, lParam);
}

void PlayerWindow::Layout() {
  const RECT whole{0, 0, params_.rect.right - params_.rect.left, params_.rect.bottom - params_.rect.top};
  HWND media = view_ ? view_->Window() : nullptr;
  HidePart(text_);
  HidePart(media);
  switch (mode_) {
    case LayoutMode::TextAndPicture:
    case LayoutMode::TextAndVideo:
      PlacePart(text_, areas_.text);
      PlacePart(media, areas_.picture);
      break;
    case LayoutMode::TextOnly:
      PlacePart(text_, RECT{whole.left + 3, whole.top, whole.right, whole.bottom});
      break;
    case LayoutMode::PictureOnly:
    case LayoutMode::VideoOnly:
      PlacePart(media, whole);
      break;
  }
}

void PlayerWindow::SetText(const std::u16string& text) {
  SetWindowText(text_, text.c_str());
  if (text.empty()) return;
  RECT rc{};
  GetClientRect(text_, &rc);
  const LRESULT lines = SendMessage(text_, EM_GETLINECOUNT, 0, 0);
  const int fit = lineHeight_ > 0 ? (rc.bottom - rc.top) / lineHeight_ : 0;
  LONG_PTR style = GetWindowLong(text_, GWL_STYLE);
  if (lines > fit)
    style |= WS_VSCROLL | ES_AUTOVSCROLL;
  else
    style &= ~static_cast<LONG_PTR>(WS_VSCROLL | ES_AUTOVSCROLL);
  SetWindowLong(text_, GWL_STYLE, style);
}

bool PlayerWindow::OpenAudio(const std::u16string& path, MediaKind kind) {
  audioViaVideo_ = KindClass(kind) == static_cast<std::uint32_t>(MediaClass::Video);
  audioPaused_ = false;
  if (audioViaVideo_) {
    if (!params_.video) return false;
    params_.video->SetTarget(hwnd_, 0, 0, 0, 0);
    audioOpen_ = params_.video->Open(path) >= 0;
  } else {
    if (!params_.audio) return false;
    audioOpen_ = params_.audio->OpenClip(path, nullptr) >= 0;
  }
  return audioOpen_;
}

void PlayerWindow::StartAudio() {
  if (!audioOpen_) return;
  if (audioViaVideo_) {
    params_.video->Play();
  } else {
    params_.audio->PlayClip(0, -1, 1);
  }
  audioPaused_ = false;
}

void PlayerWindow::StopAudio() {
  if (!audioOpen_) return;
  if (audioViaVideo_) {
    params_.video->Stop();
  } else {
    params_.audio->StopClip();
  }
  audioPaused_ = false;
}

void PlayerWindow::PauseAudio() {
  if (!audioOpen_ || !audio_.active) return;
  if (audioViaVideo_)
    params_.video->Pause();
  else
    params_.audio->PauseClip();
  audioPaused_ = true;
}

void PlayerWindow::ResumeAudio() {
  if (!audioOpen_ || !audio_.active || !audioPaused_) return;
  if (audioViaVideo_)
    params_.video->Play();
  else
    params_.audio->PlayClip(0, -1, 1);  // a paused clip resumes where it stood
  audioPaused_ = false;
}

void PlayerWindow::ShowSlide(const Slide& slide, int index, std::uint64_t start, std::uint64_t end,
                             bool startPaused) {
  Notify(kMsgSlideShown, static_cast<WPARAM>(index), 0);
  KillTimer(hwnd_, kPlayerTimerId);
  timerRunning_ = false;
  // What the previous slide started ends with it.
  StopAudio();
  if (audioOpen_) {
    if (audioViaVideo_)
      params_.video->Close();
    else
      params_.audio->CloseClip();
    audioOpen_ = false;
  }
  if (view_) view_->ClearMedia();

  position_ = start;
  slideEnd_ = end;
  index_ = index;
  picture_ = audio_ = text_schedule_ = Schedule{};
  slideText_.clear();
  SetText(u"");
  mode_ = ChooseLayoutMode(slide, params_.video != nullptr);
  Layout();

  const std::u16string& dir = params_.partsDirectory;
  const MediaReference* visual = nullptr;
  if (HasItem(slide.video) && (params_.video || !HasItem(slide.image)))
    visual = &*slide.video;
  else if (HasItem(slide.image))
    visual = &*slide.image;
  if (visual && view_) {
    ScheduleFor(*visual, start, end, &picture_.begin, &picture_.end);
    picture_.present = view_->ShowMedia(platform::JoinPath(dir, visual->item->fileName), visual->item->kind);
  }
  // A slide with a video presents neither its picture nor its sound.
  if (HasItem(slide.audio) && !HasItem(slide.video)) {
    ScheduleFor(*slide.audio, start, end, &audio_.begin, &audio_.end);
    audio_.present = OpenAudio(platform::JoinPath(dir, slide.audio->item->fileName), slide.audio->item->kind);
  }
  if (HasItem(slide.text)) {
    ScheduleFor(*slide.text, start, end, &text_schedule_.begin, &text_schedule_.end);
    slideText_ = ReadTextPart(platform::JoinPath(dir, slide.text->item->fileName));
    text_schedule_.present = true;
    if (text_schedule_.begin == start) {
      SetText(slideText_);
      text_schedule_.active = true;
    }
  }

  if (mode_ != LayoutMode::PictureOnly && mode_ != LayoutMode::VideoOnly) ShowWindow(text_, SW_SHOW);
  if (view_ && mode_ != LayoutMode::TextOnly) ShowWindow(view_->Window(), SW_SHOW);
  if (picture_.present && picture_.begin == start) {
    view_->StartMedia();
    picture_.active = true;
  }

  if (!startPaused) {
    if (audio_.present && audio_.begin == start) {
      StartAudio();
      audio_.active = true;
    }
    tickTime_ = platform::WindowClockMs();
    SetTimer(hwnd_, kPlayerTimerId, kPlayerTickMs, nullptr);
    timerRunning_ = true;
  } else {
    Notify(kMsgPlayerStopped, static_cast<WPARAM>(position_), static_cast<LPARAM>(params_.total));
  }
}

void PlayerWindow::Pause() {
  PauseAudio();
  if (view_ && picture_.active) view_->PauseMedia();
  KillTimer(hwnd_, kPlayerTimerId);
  timerRunning_ = false;
  Notify(kMsgPlayerPaused, static_cast<WPARAM>(position_), static_cast<LPARAM>(params_.total));
}

void PlayerWindow::Resume() {
  ResumeAudio();
  if (view_ && picture_.active) view_->ResumeMedia();
  tickTime_ = platform::WindowClockMs();
  SetTimer(hwnd_, kPlayerTimerId, kPlayerTickMs, nullptr);
  timerRunning_ = true;
}

void PlayerWindow::Stop(bool rewind) {
  KillTimer(hwnd_, kPlayerTimerId);
  timerRunning_ = false;
  StopAudio();
  audio_.active = false;
  if (view_) view_->ClearMedia();
  picture_.active = false;
  position_ = 0;
  slideEnd_ = 0;
  tickTime_ = 0;
  index_ = -1;
  Notify(kMsgPlayerStopped, 0, static_cast<LPARAM>(params_.total));
  if (rewind && player_) player_->Restart();
}

void PlayerWindow::Tick() {
  // 1. Start and end the slide's items by the position.
  if (picture_.present) {
    if (!picture_.active && position_ >= picture_.begin && position_ <= picture_.end) {
      view_->StartMedia();
      picture_.active = true;
    } else if (picture_.active && position_ > picture_.end) {
      view_->ClearMedia();
      picture_.active = false;
      picture_.present = false;
    }
  }
  if (audio_.present) {
    if (!audio_.active && position_ >= audio_.begin && position_ <= audio_.end) {
      StartAudio();
      audio_.active = true;
    } else if (audio_.active && position_ > audio_.end) {
      StopAudio();
      audio_.active = false;
      audio_.present = false;
    }
  }
  if (text_schedule_.present) {
    if (!text_schedule_.active && position_ >= text_schedule_.begin && position_ <= text_schedule_.end) {
      SetText(slideText_);
      text_schedule_.active = true;
    } else if (text_schedule_.active && position_ > text_schedule_.end) {
      SetText(u"");
      text_schedule_.active = false;
      text_schedule_.present = false;
    }
  }

  // 2. Report, move on to the next slide, or end.
  if (position_ < params_.total) {
    if (position_ >= slideEnd_) {
      Notify(kMsgPlayerProgress, static_cast<WPARAM>(slideEnd_), static_cast<LPARAM>(params_.total));
      const int before = index_;
      // The next slide starts where this one ends; the time since the last tick, less what
      // the position already ran past the end, still counts so the timeline does not drift.
      const DWORD lastTick = tickTime_ - static_cast<DWORD>(position_ - slideEnd_);
      if (player_) player_->GoToSlide(player_->currentSlide() + 1);
      if (index_ != before) {
        tickTime_ = lastTick;
        return;
      }
      // No slide follows although time is left: the durations were short; end here.
      Notify(kMsgPlayerProgress, static_cast<WPARAM>(params_.total), static_cast<LPARAM>(params_.total));
      Stop(true);
      return;
    }
    Notify(kMsgPlayerProgress, static_cast<WPARAM>(position_), static_cast<LPARAM>(params_.total));
  } else {
    Notify(kMsgPlayerProgress, static_cast<WPARAM>(params_.total), static_cast<LPARAM>(params_.total));
    if (player_) player_->state_ = PresentationPlayer::State::Stopped;
    Stop(true);
    return;
  }

  // 3. Advance by the time that passed.
  const DWORD now = platform::WindowClockMs();
  position_ += static_cast<DWORD>(now - tickTime_);
  tickTime_ = now;
}

// ---- PresentationPlayer ----

PresentationPlayer::~PresentationPlayer() {
  Destroy();
}

int PresentationPlayer::Create(HWND host, const RECT& rect, MessageDocument* document,
                               audio::AudioClipLoader* audio, VideoPort* video, MediaViewFactory makeView) {
  if (window_) Destroy();
  if (!document) return 0;
  document_ = document;
  host_ = host;

  // Only the vertical order of the two regions matters here.
  const Region* picture = nullptr;
  const Region* text = nullptr;
  for (const Region& r : document->regions()) {
    if (r.role == 0) {
      if (!picture) picture = &r;
    } else if (!text) {
      text = &r;
    }
  }
  PlayerWindow::Params p;
  p.host = host;
  p.rect = rect;
  p.audio = audio;
  p.video = video;
  p.makeView = std::move(makeView);
  p.total = document->TotalDuration();
  p.partsDirectory = document->partsDirectory();
  p.textAbovePicture = picture && text && text->top < picture->top;
  window_ = PlayerWindow::Create(this, p);
  if (!window_) return 0;
  position_ = 0;
  index_ = 0;
  state_ = State::Stopped;
  return 1;
}

int PresentationPlayer::SlideCount() const {
  return document_ ? document_->slideCount() : 0;
}

std::uint64_t PresentationPlayer::TotalDuration() const {
  return document_ ? document_->TotalDuration() : 0;
}

void PresentationPlayer::ShowCurrent(bool startPaused) {
  const Slide* s = document_ ? document_->slide(index_) : nullptr;
  if (!s || !window_) return;
  window_->ShowSlide(*s, index_, position_, position_ + s->duration, startPaused);
}

void PresentationPlayer::Play() {
  if (!window_ || SlideCount() == 0) return;
  if (state_ == State::Stopped) {
    state_ = State::Playing;
    ShowCurrent(false);
  } else if (state_ == State::Paused) {
    state_ = State::Playing;
    window_->Resume();
  }
}

void PresentationPlayer::Pause() {
  if (state_ != State::Playing || !window_) return;
  state_ = State::Paused;
  window_->Pause();
}

void PresentationPlayer::Stop() {
  state_ = State::Stopped;
  if (window_) window_->Stop(true);
  position_ = 0;
}

void PresentationPlayer::GoToSlide(int index) {
  if (!document_ || !document_->slide(index) || !window_) return;
  if (index_ >= 0 && document_->slide(index_)) {
    if (index > index_)
      position_ += document_->slide(index_)->duration;
    else if (index < index_)
      position_ -= std::min<std::uint64_t>(position_, document_->slide(index)->duration);
  }
  index_ = index;
  if (state_ == State::Playing) {
    ShowCurrent(false);
  } else {
    state_ = State::Stopped;
    ShowCurrent(true);
  }
}

void PresentationPlayer::Restart() {
  position_ = 0;
  index_ = 0;
  state_ = State::Stopped;
  ShowCurrent(true);
}

void PresentationPlayer::Destroy() {
  window_.reset();
  state_ = State::Stopped;
}

}  // namespace presentation
