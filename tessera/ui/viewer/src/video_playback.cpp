// VideoPlayback drives the player library for one file at a time. The library's callbacks
// run on its control thread: they touch only the two finished flags and post messages.
#include "viewer/video_playback.h"

#include <algorithm>
#include <vector>

#include "imaging/image.h"
#include "marlin/marlin.h"
#include "platform/text.h"

namespace viewer {

namespace {

// The player takes 8-bit paths of at most 260 bytes.
constexpr std::size_t kMaxPathBytes = 260;

bool NarrowPath(const std::u16string& path, std::string* out) {
  *out = platform::WideToAnsi(path);
  return !out->empty() && out->size() < kMaxPathBytes;
}

// Converts a YUV 4:2:0 block of w × h into a bottom-up 24-bit picture.
std::unique_ptr<imaging::PackedDib> YuvToDib(const std::vector<std::uint8_t>& yuv, int w, int h) {
  auto dib = imaging::PackedDib::Create(w, h, 24);
  if (!dib) return nullptr;
  const std::uint8_t* y = yuv.data();
  const std::uint8_t* u = y + static_cast<std::size_t>(w) * h;
  const std::uint8_t* v = u + static_cast<std::size_t>(w / 2) * (h / 2);
  // The rows of a bottom-up picture start with the last row of the frame. The converter
  // writes rows 3 × width bytes apart, so it works row by row when the stride is padded.
  if (dib->stride() == static_cast<std::int64_t>(w) * 3) {
    imaging::Yuv420ToBgr24(dib->bits_data(), w, y, u, v, w, w / 2, w, -h);
  } else {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(w) * 3 * h);
    imaging::Yuv420ToBgr24(rows.data(), w, y, u, v, w, w / 2, w, h);
    for (int r = 0; r < h; ++r)
      std::copy_n(rows.data() + static_cast<std::size_t>(r) * w * 3, static_cast<std::size_t>(w) * 3,
                  dib->TopRow(r));
  }
  return dib;
}

std::unique_ptr<imaging::PackedDib> ThumbnailSource(std::u16string_view path, imaging::Box* box,
                                                    int /*mode*/) {
  if (!box || box->width < 2 || box->height < 2) return nullptr;
  std::string narrow;
  if (!NarrowPath(std::u16string(path), &narrow)) return nullptr;
  FrameRequest probe{0, 0, 1, 0, 0};
  if (MP_GetFirstVideoFrame(narrow.c_str(), &probe, nullptr, 1) != 0 || probe.width == 0) return nullptr;
  imaging::Box fitted;
  imaging::FitSize(probe.width, probe.height, *box, &fitted);
  auto dib = VideoPlayback::FirstFrame(std::u16string(path), fitted.width, fitted.height);
  if (dib) *box = imaging::Box{dib->width(), dib->height()};
  return dib;
}

}  // namespace

VideoPlacement PlaceVideo(const RECT& target, int videoWidth, int videoHeight) {
  VideoPlacement p;
  const int rw = target.right - target.left;
  const int rh = target.bottom - target.top;
  if (videoWidth <= 0 || videoHeight <= 0 || rw <= 0 || rh <= 0) {
    p.left = target.left;
    p.top = target.top;
    return p;
  }
  // Sizes come from exact ratios: a picture that fills the width gets the width itself.
  const std::int64_t w = videoWidth, h = videoHeight;
  if (2 * rw >= 3 * w && 2 * rh >= 3 * h) {
    p.scale = kMaxVideoScale;
    p.width = static_cast<int>(w * 3 / 2);
    p.height = static_cast<int>(h * 3 / 2);
  } else if (static_cast<std::int64_t>(rw) * h <= static_cast<std::int64_t>(rh) * w) {
    p.scale = static_cast<double>(rw) / videoWidth;
    p.width = rw;
    p.height = static_cast<int>(h * rw / w);
  } else {
    p.scale = static_cast<double>(rh) / videoHeight;
    p.width = static_cast<int>(w * rh / h);
    p.height = rh;
  }
  p.left = target.left + (rw - p.width) / 2;
  p.top = target.top + (rh - p.height) / 2;
  return p;
}

VideoPlayback& VideoPlayback::Get() {
  static VideoPlayback instance;
  return instance;
}

VideoPlayback::~VideoPlayback() {
  Close();
}

void VideoPlayback::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (owner_) PostMessage(owner_, msg, wParam, lParam);
}

void VideoPlayback::OnProgress(void* user, std::uint32_t positionMs) {
  auto* self = static_cast<VideoPlayback*>(user);
  if (self->audioFinished_ && self->videoFinished_) return;
  self->Post(kMsgVideoProgress, positionMs, static_cast<LPARAM>(self->duration_.load()));
}

void VideoPlayback::OnCompletion(void* user, std::int32_t code) {
  auto* self = static_cast<VideoPlayback*>(user);
  if (code == kVideoTrackEnded)
    self->videoFinished_ = true;
  else if (code == kAudioTrackEnded)
    self->audioFinished_ = true;
  else
    return;
  if (self->audioFinished_ && self->videoFinished_)
    self->Post(kMsgVideoFinished, 0, static_cast<LPARAM>(self->duration_.load()));
}

void VideoPlayback::OnError(void*, std::int32_t) {}

void VideoPlayback::SetTarget(HWND window, int left, int top, int right, int bottom) {
  Close();
  owner_ = window;
  POINT a{left, top}, b{right, bottom};
  if (window) {
    ClientToScreen(window, &a);
    ClientToScreen(window, &b);
  }
  target_ = RECT{a.x, a.y, b.x, b.y};
}

int VideoPlayback::Open(const std::u16string& path) {
  Close();
  std::string narrow;
  if (!NarrowPath(path, &narrow)) return -1;
  std::uint32_t handle = 0;
  if (MP_OpenMediaPlayer(narrow.c_str(), 0, &handle) != 0) return -1;
  player_ = handle;
  MP_SetTrackbarUpdateCallback(player_, &OnProgress, this);
  MP_SetCompletionCallback(player_, &OnCompletion, this);
  MP_SetErrorCallback(player_, &OnError, this);

  std::uint32_t audioDuration = 0;
  std::uint32_t track = 0;
  if (MP_OpenAudioTrack(player_, 0, &track) != 0 || track == 0) {
    audioTrack_ = 0;
    audioFinished_ = true;
  } else {
    audioTrack_ = track;
    std::uint32_t count = 0;
    if (MP_GetAudioTrackInfo(player_, nullptr, &count) == 0 && count > 0) {
      std::vector<AudioTrackInfo> info(count);
      if (MP_GetAudioTrackInfo(player_, info.data(), &count) == 0) audioDuration = info[0].durationMs;
    }
    audioFinished_ = false;
  }

  std::uint32_t videoCount = 0;
  if (MP_GetVideoTrackInfo(player_, nullptr, &videoCount) != 0) videoCount = 0;
  if (videoCount == 0) {
    if (!audioTrack_) {
      Close();
      return -1;
    }
    duration_ = audioDuration;
    videoFinished_ = true;
    state_ = kReady;
    path_ = path;
    return static_cast<int>(duration_);
  }
  std::vector<VideoTrackInfo> info(videoCount);
  if (MP_GetVideoTrackInfo(player_, info.data(), &videoCount) != 0) {
    Close();
    return -1;
  }
  videoWidth_ = info[0].width;
  videoHeight_ = info[0].height;
  duration_ = std::max(audioDuration, info[0].durationMs);
  placement_ = PlaceVideo(target_, videoWidth_, videoHeight_);

  RenderingWindow rw{};
  rw.mode = 0;
  rw.spare = 1;
  rw.rotation = 0;
  rw.screenWidth = static_cast<std::uint16_t>(GetSystemMetrics(SM_CXSCREEN));
  rw.screenHeight = static_cast<std::uint16_t>(GetSystemMetrics(SM_CYSCREEN));
  rw.left = static_cast<std::uint16_t>(std::max(0, placement_.left));
  rw.top = static_cast<std::uint16_t>(std::max(0, placement_.top));
  rw.width = static_cast<std::uint16_t>(placement_.width);
  rw.height = static_cast<std::uint16_t>(placement_.height);
  track = 0;
  if (MP_SetVideoRenderingWindow(player_, &rw) != 0 || MP_OpenVideoTrack(player_, 0, &track) != 0 ||
      track == 0) {
    Close();
    return -1;
  }
  videoTrack_ = track;
  videoFinished_ = false;
  state_ = kReady;
  path_ = path;
  return static_cast<int>(duration_);
}

bool VideoPlayback::Play() {
  if (state_ != kReady && state_ != kStopped && state_ != kPaused) return false;
  if (audioTrack_) audioFinished_ = false;
  if (videoTrack_) videoFinished_ = false;
  if (MP_Play(player_) != 0) return false;
  state_ = kPlaying;
  return true;
}

bool VideoPlayback::Pause() {
  if (state_ != kPlaying) return false;
  if (MP_Pause(player_) != 0) return false;
  state_ = kPaused;
  return true;
}

bool VideoPlayback::Stop() {
  if (state_ == kClosed || state_ == kStopped) return false;
  MP_Stop(player_);
  state_ = kStopped;
  audioFinished_ = true;
  videoFinished_ = true;
  Post(kMsgVideoFinished, static_cast<WPARAM>(-1), static_cast<LPARAM>(duration_.load()));
  return true;
}

void VideoPlayback::Close() {
  if (state_ == kClosed) return;
  if (audioTrack_) MP_CloseTrack(audioTrack_);
  audioFinished_ = true;
  if (videoTrack_) MP_CloseTrack(videoTrack_);
  videoFinished_ = true;
  if (player_) MP_CloseMediaPlayer(player_);
  player_ = videoTrack_ = audioTrack_ = 0;
  duration_ = 0;
  videoWidth_ = videoHeight_ = 0;
  path_.clear();
  state_ = kClosed;
}

std::unique_ptr<imaging::PackedDib> VideoPlayback::Snapshot() {
  if (state_ != kPaused || !videoTrack_) return nullptr;
  FrameRequest req{0, 0, 1, 0, 0};
  if (MP_GetVideoFrame(videoTrack_, &req, nullptr) != 0 || req.width == 0 || req.height == 0) return nullptr;
  const double scale = placement_.scale > 0 ? placement_.scale : 1.0;
  const int w = static_cast<int>(req.width * scale) & ~3;
  const int h = static_cast<int>(req.height * scale) & ~1;
  if (w <= 0 || h <= 0) return nullptr;
  std::vector<std::uint8_t> yuv(static_cast<std::size_t>(w) * h * 3 / 2);
  FrameRequest get{static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 1, 0,
                   static_cast<std::uint32_t>(yuv.size())};
  if (MP_GetVideoFrame(videoTrack_, &get, yuv.data()) != 0) return nullptr;
  return YuvToDib(yuv, w, h);
}

std::unique_ptr<imaging::PackedDib> VideoPlayback::FirstFrame(const std::u16string& path, int width,
                                                              int height) {
  const int w = width & ~3;
  const int h = height & ~1;
  if (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF) return nullptr;
  std::string narrow;
  if (!NarrowPath(path, &narrow)) return nullptr;
  std::vector<std::uint8_t> yuv(static_cast<std::size_t>(w) * h * 3 / 2);
  FrameRequest req{static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), 1, 0,
                   static_cast<std::uint32_t>(yuv.size())};
  if (MP_GetFirstVideoFrame(narrow.c_str(), &req, yuv.data(), 1) != 0) return nullptr;
  return YuvToDib(yuv, w, h);
}

bool VideoPlayback::MediaInfo(const std::u16string& path, std::uint32_t* durationMs, int* width,
                              int* height) {
  // One player per process: the open file answers for itself.
  if (state_ != kClosed && path == path_) {
    if (durationMs) *durationMs = duration_;
    if (width) *width = videoWidth_;
    if (height) *height = videoHeight_;
    return true;
  }
  std::string narrow;
  if (!NarrowPath(path, &narrow)) return false;
  std::uint32_t handle = 0;
  if (MP_OpenMediaPlayer(narrow.c_str(), 0, &handle) != 0) return false;
  std::uint32_t duration = 0;
  int w = 0, h = 0;
  std::uint32_t count = 0;
  if (MP_GetAudioTrackInfo(handle, nullptr, &count) == 0 && count > 0) {
    std::vector<AudioTrackInfo> info(count);
    if (MP_GetAudioTrackInfo(handle, info.data(), &count) == 0) duration = info[0].durationMs;
  }
  count = 0;
  if (MP_GetVideoTrackInfo(handle, nullptr, &count) == 0 && count > 0) {
    std::vector<VideoTrackInfo> info(count);
    if (MP_GetVideoTrackInfo(handle, info.data(), &count) == 0) {
      duration = std::max(duration, info[0].durationMs);
      w = info[0].width;
      h = info[0].height;
    }
  }
  MP_CloseMediaPlayer(handle);
  if (durationMs) *durationMs = duration;
  if (width) *width = w;
  if (height) *height = h;
  return true;
}

void InstallVideoThumbnails() {
  imaging::SetVideoFrameSource(&ThumbnailSource);
}

}  // namespace viewer
