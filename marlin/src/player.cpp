// The player's API calls; the threads are in control_thread.cpp, video_thread.cpp and audio_thread.cpp.
#include "player_internal.h"

namespace marlin {
namespace {

std::uint16_t VideoCodec(const DecoderConfig* c) {
  return c->objectType == 32 || c->objectType == 194 ? c->objectType : 0;
}
std::uint16_t AudioCodec(const DecoderConfig* c) {
  return c->objectType == 64 || c->objectType == 192 ? c->objectType : 0;
}

bool ListIds(MovieFile* movie, std::uint32_t type, std::vector<std::uint32_t>& ids) {
  TrackCounts counts{};
  if (gGetNumTraks(movie, &counts) != 0) return false;
  ids.assign(counts.total + 1, 0);
  std::uint32_t n = 0;
  if (gGetTrakIds(movie, type, ids.data(), &n) != 0) return false;
  ids.resize(n);
  return true;
}

// Width and height of an H.263 track from its first sample.
bool H263StreamInfo(MovieFile* movie, std::uint32_t id, StreamInfo* info) {
  TrakSession* session = nullptr;
  if (gOpenTrakSession(movie, &session, id) != 0) return false;
  SampleSource s;
  bool ok = SourceOpen(s, session) && SourceRead(s) && gGetStreamInfo(s.data, s.size, info) == 0;
  SourceClose(s);
  gCloseTrakSession(session);
  return ok;
}

template <typename Info, bool kVideo>
int TrackInfo(std::uint32_t handle, Info* info, std::uint32_t* count) {
  if (handle != kMarlinHandle || g.handle != kMarlinHandle || count == nullptr) return -1;
  TrackCounts counts{};
  if (gGetNumTraks(g.movie, &counts) != 0) return -1;
  const std::uint32_t number = kVideo ? counts.video : counts.audio;
  if (info == nullptr) {
    *count = number;
    return 0;
  }
  if (*count < number) return kMarlinCountTooSmall;
  std::vector<std::uint32_t> ids;
  if (!ListIds(g.movie, kVideo ? 0 : 1, ids)) return -1;
  *count = static_cast<std::uint32_t>(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    Info& out = info[i];
    out = Info{};
    out.trackId = static_cast<std::uint16_t>(ids[i]);
    MediaTrackInfo* media = nullptr;
    if (gGetMediaTrackInfo(g.movie, ids[i], &media) != 0) return -1;
    out.durationMs = media->durationMs;
    const std::uint16_t a = media->widthOrChannels, b = media->heightOrSampleRate;
    media->release(media);
    DecoderConfig* cfg = nullptr;
    if (gGetDecoderCfg(g.movie, ids[i], &cfg) != 0) return -1;
    if constexpr (kVideo) {
      out.width = a;
      out.height = b;
      out.codec = VideoCodec(cfg);
      StreamInfo si{};
      bool have = false;
      if (out.codec == 32) {
        if (gGetStreamInfo(cfg->decoderSpecificInfo, cfg->decoderSpecificInfoSize, &si) != 0) {
          cfg->release(cfg);
          return -1;
        }
        have = true;
      } else if (out.codec == 194) {
        if (!H263StreamInfo(g.movie, ids[i], &si)) {
          cfg->release(cfg);
          return -1;
        }
        have = true;
      }
      if (have && si.width >= 96 && si.width <= 1024 && si.height >= 96 && si.height <= 1024) {
        out.width = si.width;
        out.height = si.height;
      }
    } else {
      out.channels = a;
      out.sampleRate = b;
      out.codec = AudioCodec(cfg);
    }
    cfg->release(cfg);
  }
  return 0;
}

void UndoTrack(Track& t) {
  JoinThread(t.thread);
  DeleteCommandQueue(t.queue);
  t.queue = nullptr;
  if (t.renderer != nullptr) {
    if (&t == &g.video) {
      auto* r = static_cast<VideoRenderer*>(t.renderer);
      r->close(r);
    } else {
      auto* r = static_cast<AudioRenderer*>(t.renderer);
      r->close(r);
    }
    t.renderer = nullptr;
  }
  if (t.decoder != nullptr) {
    if (&t == &g.video)
      VDec(t.decoder)->destroy(VDec(t.decoder));
    else
      ADec(t.decoder)->destroy(ADec(t.decoder));
    t.decoder = nullptr;
  }
  SourceClose(t.source);
  if (t.session != nullptr) gCloseTrakSession(t.session);
  t.session = nullptr;
  if (t.config != nullptr) t.config->release(t.config);
  t.config = nullptr;
  t.id = -1;
}

// Samples (at the decoder's rate) before the first real one: where the first non-empty edit
// of the track's edit list starts its media. At most ten seconds are believed.
std::uint32_t PrimingSamples(std::uint32_t trackId, std::uint32_t sampleRate) {
  std::uint32_t count = 0, timescale = 0, durationMs = 0;
  if (gGetEditList(g.movie, trackId, nullptr, &count) != 0 || count == 0) return 0;
  std::vector<EditEntry> edits(count);
  if (gGetEditList(g.movie, trackId, edits.data(), &count) != 0) return 0;
  if (gGetTrakTimes(g.movie, trackId, &timescale, &durationMs) != 0 || timescale == 0) return 0;
  for (const EditEntry& e : edits) {
    if (e.mediaTime < 0) continue;  // an empty edit
    const std::uint64_t samples = static_cast<std::uint64_t>(e.mediaTime) * sampleRate / timescale;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(samples, std::uint64_t{10} * sampleRate));
  }
  return 0;
}

bool StartTrack(Track& t, void (*entry)(void*), int priority) {
  t.queue = CreateCommandQueue(16, sizeof(Msg), nullptr, nullptr);
  if (t.queue == nullptr) return false;
  t.context = {g.mainQueue, t.queue, &t.source, t.decoder, t.renderer, g.clock, &t.start};
  t.thread = StartThread(entry, &t.context, priority);
  return t.thread != nullptr;
}

// The AMR decoder lives in the outside library Skua, loaded on first use.
using CreateAmrFn = int (*)(void** decoder);
CreateAmrFn LoadSkua() {
  static CreateAmrFn fn = [] {
    HMODULE m = LoadLibrary(u"libskua.so");
    return m ? reinterpret_cast<CreateAmrFn>(GetProcAddress(m, "gCreateGsmAmrDecoder")) : nullptr;
  }();
  return fn;
}

bool CreateVideoDecoder(MovieFile* movie, const DecoderConfig* cfg, SampleSource& src, std::int32_t left,
                        std::int32_t top, VideoDecoder** decoder, int* width, int* height) {
  StreamInfo si{};
  if (cfg->objectType == 32) {
    if (gGetStreamInfo(cfg->decoderSpecificInfo, cfg->decoderSpecificInfoSize, &si) != 0) return false;
    const CreationRecord rec{si.width, si.height, left, top, 0};
    std::uint32_t size = cfg->decoderSpecificInfoSize;
    if (gCreateMP4SPDecoder(decoder, cfg->decoderSpecificInfo, &size, 0, &rec) != 0) return false;
  } else {
    if (!SourceRead(src) || gGetStreamInfo(src.data, src.size, &si) != 0) return false;
    src.next = 1;
    const CreationRecord rec{si.width, si.height, left, top, 0};
    if (gCreateH263Decoder(decoder, si.width, si.height, 0, &rec) != 0) return false;
  }
  *width = si.width;
  *height = si.height;
  return *width > 0 && *height > 0;
}

bool WindowValid(const RenderingWindow* w) {
  if (w == nullptr || w->width == 0 || w->height == 0 || w->mode == 1 || w->rotation > 3) return false;
  if (w->rotation == 1 || w->rotation == 3)
    return w->top + w->width <= w->screenHeight && w->left + w->height <= w->screenWidth;
  return w->left + w->width <= w->screenWidth && w->top + w->height <= w->screenHeight;
}

void ClosePlayerParts() {
  if (g.movie != nullptr) gCloseMP4File(g.movie);
  g.movie = nullptr;
  DeleteCommandQueue(g.mainQueue);
  g.mainQueue = nullptr;
  if (g.wake) CloseHandle(g.wake);
  if (g.done) CloseHandle(g.done);
  g.wake = g.done = nullptr;
  delete g.clock;
  g.clock = nullptr;
}

bool Open() {
  return g.handle == kMarlinHandle;
}

}  // namespace

std::uint32_t FastWaitMs(bool everyFrame, std::uint32_t timeMs, std::uint32_t previousMs, float speed) {
  if (everyFrame) return static_cast<std::uint32_t>(static_cast<float>(timeMs - previousMs) / speed);
  // Key frames only (and rewind): gaps of one to three seconds are shown at a steady pace.
  const std::uint32_t d = timeMs > previousMs ? timeMs - previousMs : previousMs - timeMs;
  return static_cast<std::uint32_t>(
      (previousMs == 0 || (d >= 1000 && d <= 3000)) ? 2000.0f / speed : static_cast<float>(d) / speed);
}

void SetPresentObserver(PresentObserver observer) {
  gPresentObserver = observer;
}

std::int64_t AudioClockMs() {
  auto* r = static_cast<AudioRenderer*>(g.audio.renderer);
  if (g.audio.id == -1 || r == nullptr) return -1;
  return static_cast<std::int64_t>(gAudioStartMs) + AudioPlayedMs(r);
}

}  // namespace marlin

using namespace marlin;

MARLIN_API int MP_OpenMediaPlayer(const char* path, std::uint32_t, std::uint32_t* handle) {
  std::lock_guard api(gApiMutex);
  if (handle == nullptr || path == nullptr || Open()) return -1;
  g.clock = new MediaClock{};
  g.wake = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  g.done = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  FileCacheReset();
  g.video = Track{};
  g.audio = Track{};
  g.device = {-1, 1, 0};
  g.completion = nullptr;
  g.trackbar = nullptr;
  g.error = nullptr;
  const ReaderIo io{FileCacheOpen, FileCacheSeek, FileCacheRead};
  if (g.wake == nullptr || g.done == nullptr || gOpenMP4File(&g.movie, path, &io) != 0) {
    g.movie = nullptr;
    ClosePlayerParts();
    return -1;
  }
  g.mainQueue = CreateCommandQueue(8, sizeof(Msg), g.wake, nullptr);
  if (g.mainQueue == nullptr) {
    ClosePlayerParts();
    return -1;
  }
  g.controlThread = StartThread(ControlThread, nullptr, kControlThreadPriority);
  if (g.controlThread == nullptr) {
    ClosePlayerParts();
    return -1;
  }
  g.handle = kMarlinHandle;
  *handle = kMarlinHandle;
  return 0;
}

MARLIN_API int MP_CloseTrack(std::uint32_t trackId);

MARLIN_API int MP_CloseMediaPlayer(std::uint32_t) {
  if (!Open()) return 0;
  if (g.audio.id != -1) MP_CloseTrack(static_cast<std::uint32_t>(g.audio.id));
  if (g.video.id != -1) MP_CloseTrack(static_cast<std::uint32_t>(g.video.id));
  std::lock_guard api(gApiMutex);
  Call(kCmdQuit, 0);
  JoinThread(g.controlThread);
  g.completion = nullptr;
  g.trackbar = nullptr;
  g.error = nullptr;
  ClosePlayerParts();
  g.handle = 0;
  return 0;
}

MARLIN_API int MP_GetVideoTrackInfo(std::uint32_t handle, VideoTrackInfo* info, std::uint32_t* count) {
  std::lock_guard api(gApiMutex);
  return TrackInfo<VideoTrackInfo, true>(handle, info, count);
}

MARLIN_API int MP_GetAudioTrackInfo(std::uint32_t handle, AudioTrackInfo* info, std::uint32_t* count) {
  std::lock_guard api(gApiMutex);
  return TrackInfo<AudioTrackInfo, false>(handle, info, count);
}

namespace {
std::uint32_t FirstTrackId(bool video) {
  std::vector<std::uint32_t> ids;
  if (!ListIds(g.movie, video ? 0 : 1, ids) || ids.empty()) return 0;
  return ids[0];
}
}  // namespace

MARLIN_API int MP_OpenVideoTrack(std::uint32_t handle, std::uint32_t trackId, std::uint32_t* openedId) {
  std::lock_guard api(gApiMutex);
  if (openedId != nullptr) *openedId = 0;
  if (handle != kMarlinHandle || !Open() || openedId == nullptr || g.video.id != -1) return -1;
  Track& t = g.video;
  if (trackId == 0) trackId = FirstTrackId(true);
  int w = 0, h = 0;
  VideoDecoder* decoder = nullptr;
  VideoRenderer* renderer = nullptr;
  bool ok = trackId != 0 && gGetDecoderCfg(g.movie, trackId, &t.config) == 0 &&
            (t.config->objectType == 32 || t.config->objectType == 194) &&
            gOpenTrakSession(g.movie, &t.session, trackId) == 0 && SourceOpen(t.source, t.session);
  ok = ok && CreateVideoDecoder(g.movie, t.config, t.source, g.window.left, g.window.top, &decoder, &w, &h);
  t.decoder = decoder;
  ok = ok && OpenVideoRenderer(&g.window, w, h, &renderer) == 0;
  t.renderer = renderer;
  ok = ok && StartTrack(t, VideoTrackThread, kVideoThreadPriority);
  if (!ok) {
    UndoTrack(t);
    return -1;
  }
  t.id = static_cast<std::int32_t>(trackId);
  *openedId = trackId;
  return 0;
}

MARLIN_API int MP_OpenAudioTrack(std::uint32_t handle, std::uint32_t trackId, std::uint32_t* openedId) {
  std::lock_guard api(gApiMutex);
  if (openedId != nullptr) *openedId = 0;
  if (handle != kMarlinHandle || !Open() || openedId == nullptr || g.audio.id != -1) return -1;
  Track& t = g.audio;
  if (trackId == 0) trackId = FirstTrackId(false);
  bool ok = trackId != 0 && gGetDecoderCfg(g.movie, trackId, &t.config) == 0 &&
            (t.config->objectType == 64 || t.config->objectType == 192) &&
            gOpenTrakSession(g.movie, &t.session, trackId) == 0 && SourceOpen(t.source, t.session);
  AudioRenderer* renderer = nullptr;
  if (ok && t.config->objectType == 64) {
    AudioDecoder* decoder = nullptr;
    AacConfig cfg{1, 0, 0, 0};
    ok = gCreateAACDecoder(&decoder, &cfg, t.config->decoderSpecificInfo,
                           t.config->decoderSpecificInfoSize) == 0;
    t.decoder = decoder;
    if (ok) {
      AudioFormat f{};
      f.channels = g.device.channels;
      f.bitsPerSample = 16;
      f.sampleRate = cfg.sampleRate;
      f.avgBytesPerSec = cfg.sampleRate * cfg.channels * 2;
      f.headers = 4;
      f.blocksPerHeader = 4;
      f.volume = 0xFFFF;
      f.deviceId = g.device.deviceId;
      f.samplesPerBlock = 1024;
      ok = OpenAudioRenderer(&f, &renderer) == 0;
      t.start.primingBytes = PrimingSamples(trackId, cfg.sampleRate) * f.channels * 2;
    }
  } else if (ok) {
    AudioFormat f{1, 16, 8000, 16000, 4, 4, 0xFFFF, g.device.deviceId, 160, 0};
    ok = OpenAudioRenderer(&f, &renderer) == 0;
    t.renderer = renderer;
    CreateAmrFn create = LoadSkua();
    void* decoder = nullptr;
    ok = ok && create != nullptr && create(&decoder) == 0;
    t.decoder = decoder;
  }
  t.renderer = renderer;
  ok = ok && StartTrack(t, AudioTrackThread, kAudioThreadPriority);
  if (!ok) {
    UndoTrack(t);
    return -1;
  }
  t.id = static_cast<std::int32_t>(trackId);
  *openedId = trackId;
  return 0;
}

MARLIN_API int MP_CloseTrack(std::uint32_t trackId) {
  std::lock_guard api(gApiMutex);
  if (!Open()) return -1;
  Track* t = nullptr;
  if (g.audio.id != -1 && static_cast<std::uint32_t>(g.audio.id) == trackId) {
    t = &g.audio;
    Call(kCmdCloseAudio, 0);
  } else if (g.video.id != -1 && static_cast<std::uint32_t>(g.video.id) == trackId) {
    t = &g.video;
    Call(kCmdCloseVideo, 0);
  } else {
    return -1;
  }
  UndoTrack(*t);
  return 0;
}

MARLIN_API int MP_SetVideoRenderingWindow(std::uint32_t handle, const RenderingWindow* window) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || !WindowValid(window)) return -1;
  g.window = *window;
  if (g.video.id != -1) Call(kCmdSetWindow, reinterpret_cast<std::uintptr_t>(&g.window));
  return 0;
}

MARLIN_API int MP_SetAudioRenderingDevice(std::uint32_t handle, const AudioDeviceSetting* setting) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || setting == nullptr) return -1;
  g.device.deviceId = setting->deviceId;
  g.device.channels = setting->channels;
  return 0;
}

MARLIN_API int MP_SetCompletionCallback(std::uint32_t handle, MP_CompletionCallback callback, void* user) {
  if (handle != kMarlinHandle || !Open()) return -1;
  g.completion = callback;
  g.completionUser = user;
  return 0;
}

MARLIN_API int MP_SetTrackbarUpdateCallback(std::uint32_t handle, MP_TrackbarCallback callback, void* user) {
  if (handle != kMarlinHandle || !Open()) return -1;
  g.trackbar = callback;
  g.trackbarUser = user;
  return 0;
}

MARLIN_API int MP_SetErrorCallback(std::uint32_t handle, MP_ErrorCallback callback, void* user) {
  if (handle != kMarlinHandle || !Open()) return -1;
  g.error = callback;
  g.errorUser = user;
  return 0;
}

namespace {
bool AnyTrack() {
  return g.video.id != -1 || g.audio.id != -1;
}
}  // namespace

MARLIN_API int MP_Play(std::uint32_t handle) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || !AnyTrack()) return -1;
  if (g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
  Call(kCmdPlay, 0);
  return 0;
}

MARLIN_API int MP_Pause(std::uint32_t handle) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || !AnyTrack()) return -1;
  Call(kCmdPause, 0);
  return 0;
}

MARLIN_API int MP_SetSeekPosition(std::uint32_t handle, std::uint32_t positionMs) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || !AnyTrack()) return -1;
  Call(kCmdSeek, positionMs);
  return 0;
}

MARLIN_API int MP_Stop(std::uint32_t handle) {
  return MP_SetSeekPosition(handle, 0);
}

namespace {
FastArgs gFastArgs;
}

MARLIN_API int MP_ForwardPlay(std::uint32_t handle, float speed, std::uint32_t keyFramesOnly) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || g.video.id == -1 || !(speed > 0.0f)) return -1;
  gFastArgs = {keyFramesOnly, speed};
  Call(kCmdForward, reinterpret_cast<std::uintptr_t>(&gFastArgs));
  return 0;
}

MARLIN_API int MP_RewindPlay(std::uint32_t handle, float speed) {
  std::lock_guard api(gApiMutex);
  if (handle != kMarlinHandle || !Open() || g.video.id == -1 || !(speed > 0.0f)) return -1;
  gFastArgs = {1, speed};
  Call(kCmdRewind, reinterpret_cast<std::uintptr_t>(&gFastArgs));
  return 0;
}

namespace {
std::uint32_t RequiredSize(const FrameRequest* r) {
  const std::uint32_t px = static_cast<std::uint32_t>(r->width) * r->height;
  return r->format == 1 ? px * 3 / 2 : px * 2;
}
}  // namespace

MARLIN_API int MP_GetVideoFrame(std::uint32_t trackId, FrameRequest* request, std::uint8_t* buffer) {
  std::lock_guard api(gApiMutex);
  if (!Open() || request == nullptr || g.video.id == -1 || static_cast<std::uint32_t>(g.video.id) != trackId)
    return -1;
  if (buffer != nullptr && request->size < RequiredSize(request)) return -1;
  FrameArgs args{-1, request, buffer};
  Call(kCmdGetFrame, reinterpret_cast<std::uintptr_t>(&args));
  return args.result;
}

MARLIN_API int MP_GetFirstVideoFrame(const char* path, FrameRequest* request, std::uint8_t* buffer,
                                     std::uint32_t flags) {
  if (path == nullptr || request == nullptr) return -1;
  if (buffer != nullptr && request->size < RequiredSize(request)) return -1;
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, path, nullptr) != 0) return -1;
  int result = -1;
  DecoderConfig* cfg = nullptr;
  TrakSession* session = nullptr;
  SampleSource src;
  VideoDecoder* decoder = nullptr;
  PlanarFrame* frame = nullptr;
  std::vector<std::uint32_t> ids;
  int w = 0, h = 0;
  if (ListIds(movie, 0, ids) && !ids.empty() && gGetDecoderCfg(movie, ids[0], &cfg) == 0 &&
      (cfg->objectType == 32 || cfg->objectType == 194) && gOpenTrakSession(movie, &session, ids[0]) == 0 &&
      SourceOpen(src, session) && CreateVideoDecoder(movie, cfg, src, 0, 0, &decoder, &w, &h) &&
      (frame = AllocFrame(w, h)) != nullptr) {
    for (;;) {
      if (!SourceRead(src)) break;
      std::uint32_t size = src.size;
      if (decoder->decode(decoder, src.data, &size, frame) != 0) break;
      if ((flags & 0xFFFF) == 1) {
        std::int32_t activity = 0;
        decoder->control(decoder, 3, &activity);
        if (activity < 2) {
          if (!SourceSync(src, 1)) break;
          continue;
        }
      }
      DeliverFrame(decoder, w, h, request, buffer, &result);
      break;
    }
  }
  FreeFrame(frame);
  if (decoder != nullptr) decoder->destroy(decoder);
  SourceClose(src);
  if (session != nullptr) gCloseTrakSession(session);
  if (cfg != nullptr) cfg->release(cfg);
  gCloseMP4File(movie);
  return result;
}

MARLIN_API int MP_GetStatistics(std::uint32_t* videoFrames, std::uint32_t* videoDecodeMs,
                                std::uint32_t* videoPresentMs, std::uint32_t* videoReadMs,
                                std::uint32_t* audioDecodeCalls, std::uint32_t* audioDecodeMs,
                                std::uint32_t* audioReadMs) {
  std::uint32_t* outs[7] = {videoFrames,      videoDecodeMs, videoPresentMs, videoReadMs,
                            audioDecodeCalls, audioDecodeMs, audioReadMs};
  for (int i = 0; i < 7; ++i)
    if (outs[i] != nullptr) *outs[i] = gStats[i];
  return 0;
}
