// The player: API calls, the ControlThread and the two track threads.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "brindle/brindle.h"
#include "engine.h"
#include "gannet/gannet.h"
#include "marlin/marlin.h"
#include "osprey/osprey.h"
#include "platform/module.h"
#include "platform/sync.h"
#include "plover/plover.h"

namespace marlin {
namespace {

// API -> ControlThread.
enum : std::uint16_t {
  kCmdPlay = 10100,
  kCmdPause = 10101,
  kCmdForward = 10102,
  kCmdRewind = 10103,
  kCmdSeek = 10104,
  kCmdCloseVideo = 10108,
  kCmdCloseAudio = 10109,
  kCmdGetFrame = 10110,
  kCmdSetWindow = 10111,
  kCmdQuit = 10014,
};
// ControlThread -> track threads.
enum : std::uint16_t {
  kTrackClose = 10004,
  kTrackStart = 10008,
  kTrackForward = 10009,
  kTrackRewind = 10010,
  kTrackPause = 10011,
  kTrackPlay = 10012,
  kTrackSeek = 10013,
  kTrackGetFrame = 10015,
  kTrackSetWindow = 10016,
};
// Track threads -> ControlThread (argument 0 video, 1 audio).
enum : std::uint16_t {
  kNoticeClosed = 10070,
  kNoticeReady = 10071,
  kNoticeFrameDelivered = 10072,
  kNoticeWindowSet = 10073,
  kNoticeForwardEnd = 10074,
  kNoticeRewindStart = 10075,
  kNoticeEndOfTrack = 10080,
};

// Queue element: the argument is widened to pointer size so that a record of the sender fits
// on a 64-bit system.
struct Msg {
  std::uint16_t code;
  std::uint16_t spare;
  std::uintptr_t argument;
};

struct FastArgs {
  std::uint32_t keyFramesOnly;
  float speed;
};

struct FrameArgs {
  int result;
  FrameRequest* request;
  std::uint8_t* buffer;
};

struct SampleSource {
  TrakSession* session = nullptr;
  std::uint32_t next = 1;
  std::vector<std::uint8_t> buffer;
  SampleRequest request{};
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
  std::uint32_t timeMs = 0;
};

bool SourceOpen(SampleSource& s, TrakSession* session) {
  std::uint32_t largest = 0;
  if (gGetMaxSampleSize(session, &largest) != 0) return false;
  s.session = session;
  s.next = 1;
  s.buffer.assign(static_cast<size_t>(largest) + 16, 0);
  return true;
}
void SourceClose(SampleSource& s) {
  s.buffer.clear();
  s.buffer.shrink_to_fit();
  s.session = nullptr;
}
bool SourceRead(SampleSource& s) {
  s.request.sampleNumber = s.next;
  s.request.size = static_cast<std::uint32_t>(s.buffer.size());
  s.request.buffer = s.buffer.data();
  if (gReadSample(s.session, &s.request) != 0) return false;
  s.data = s.buffer.data();
  s.size = s.request.size;
  s.timeMs = s.request.compositionTimeMs;
  ++s.next;
  return true;
}
// Forward: the first sync sample after the last one read. Backward: the sync sample at or
// before the sample preceding the last one read, so that rewinding shows every sync sample.
bool SourceSync(SampleSource& s, int direction) {
  if (direction > 0) {
    std::uint32_t n = s.next - 1;
    if (gGetNextSyncPoint(s.session, &n, 1) != 0) return false;
    s.next = n;
    return true;
  }
  if (s.next < 3) return false;
  std::uint32_t n = s.next - 2, sync = 0;
  if (gIsSyncPoint(s.session, n, &sync) != 0) return false;
  if (!sync && gGetNextSyncPoint(s.session, &n, -1) != 0) return false;
  s.next = n;
  return true;
}
// To the sync sample at or before a time; a time past the end leaves nothing to read.
bool SourceToTime(SampleSource& s, std::uint32_t timeMs) {
  std::uint32_t t = timeMs, n = 0;
  if (gGetSampleNumForTime(s.session, &t, &n) != 0) {
    std::uint32_t total = 0;
    gGetTotalSamplesInTrak(s.session, &total);
    s.next = total + 1;
    return false;
  }
  s.next = n;
  return true;
}

// The sound an AAC encoder puts before the first real sample (named by the track's edit
// list) is dropped when playback starts at the first sample. Once part of a decoder output was
// dropped, renderer blocks are filled across decoder outputs.
struct AudioStart {
  std::uint32_t primingBytes = 0;  // decoder output before the first real sample
  std::uint32_t skipBytes = 0;     // still to drop
  BlockDescriptor* pending = nullptr;
  std::uint32_t fill = 0;
};

struct TrackThreadContext {
  CommandQueue* mainQueue;
  CommandQueue* trackQueue;
  SampleSource* source;
  void* decoder;
  void* renderer;
  MediaClock* clock;
  AudioStart* start;
};

struct Track {
  std::int32_t id = -1;
  TrakSession* session = nullptr;
  DecoderConfig* config = nullptr;
  SampleSource source;
  void* decoder = nullptr;
  void* renderer = nullptr;
  CommandQueue* queue = nullptr;
  HANDLE thread = nullptr;
  AudioStart start;
  TrackThreadContext context{};
  bool amr = false;
};

struct Player {
  std::uint32_t handle = 0;
  MovieFile* movie = nullptr;
  MediaClock* clock = nullptr;
  HANDLE wake = nullptr;
  HANDLE done = nullptr;
  CommandQueue* mainQueue = nullptr;
  HANDLE controlThread = nullptr;
  Track video, audio;
  RenderingWindow window{0, 1, 0, 176, 220, 0, 0, 176, 144};
  AudioDeviceSetting device{-1, 1, 0};
  MP_CompletionCallback completion = nullptr;
  void* completionUser = nullptr;
  MP_TrackbarCallback trackbar = nullptr;
  void* trackbarUser = nullptr;
  MP_ErrorCallback error = nullptr;
  void* errorUser = nullptr;
};

Player g;
PresentObserver gPresentObserver = nullptr;
std::uint32_t gAudioStartMs = 0;  // clock position at which the audio output last started
std::mutex gApiMutex;  // serialises the API calls of different caller threads

// Statistics: video frames decoded, video decode ms, video present ms, video read ms, audio decode
// calls, audio decode ms, audio read ms. Updated without locking.
std::uint32_t gStats[7];

constexpr int kVideoThreadPriority = 2, kAudioThreadPriority = 1, kControlThreadPriority = 2;

// ---- thread slots ----

struct ThreadSlot {
  void (*entry)(void*);
  void* argument;
};
ThreadSlot gSlots[32];
std::mutex gSlotMutex;

DWORD SlotTrampoline(LPVOID parameter) {
  const auto slot = reinterpret_cast<std::uintptr_t>(parameter);
  ThreadSlot s;
  {
    std::lock_guard lock(gSlotMutex);
    s = gSlots[slot];
    gSlots[slot] = {nullptr, nullptr};
  }
  s.entry(s.argument);
  return 0;
}

HANDLE StartThread(void (*entry)(void*), void* argument, int priority) {
  std::uintptr_t slot = 32;
  {
    std::lock_guard lock(gSlotMutex);
    for (std::uintptr_t i = 0; i < 32; ++i)
      if (gSlots[i].entry == nullptr) {
        slot = i;
        gSlots[i] = {entry, argument};
        break;
      }
  }
  if (slot == 32) return nullptr;
  HANDLE t = CreateThread(nullptr, 0, SlotTrampoline, reinterpret_cast<LPVOID>(slot), CREATE_SUSPENDED, nullptr);
  if (t == nullptr) {
    std::lock_guard lock(gSlotMutex);
    gSlots[slot] = {nullptr, nullptr};
    return nullptr;
  }
  SetThreadPriority(t, priority);
  ResumeThread(t);
  return t;
}

void JoinThread(HANDLE& t) {
  if (t == nullptr) return;
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  t = nullptr;
}

// A notice must not be lost: a full main queue is waited out.
void Send(CommandQueue* q, std::uint16_t code, std::uintptr_t argument) {
  const Msg m{code, 0, argument};
  while (QueuePut(q, &m) != 0) Sleep(1);
}

std::uint32_t Elapsed(DWORD since) { return GetTickCount() - since; }

// Sends a command to the ControlThread and waits for it to be done.
void Call(std::uint16_t code, std::uintptr_t argument) {
  ResetEvent(g.done);
  Send(g.mainQueue, code, argument);
  WaitForSingleObject(g.done, INFINITE);
}

// ---- decoding helpers ----

VideoDecoder* VDec(void* d) { return static_cast<VideoDecoder*>(d); }
AudioDecoder* ADec(void* d) { return static_cast<AudioDecoder*>(d); }

void DecodeVideo(TrackThreadContext& c, PlanarFrame* out) {
  const DWORD t0 = GetTickCount();
  std::uint32_t size = c.source->size;
  VDec(c.decoder)->decode(VDec(c.decoder), c.source->data, &size, out);
  gStats[1] += Elapsed(t0);
  ++gStats[0];
}

void Present(TrackThreadContext& c) {
  auto* r = static_cast<VideoRenderer*>(c.renderer);
  const DWORD t0 = GetTickCount();
  r->present(r, r->getFrame(r));
  gStats[2] += Elapsed(t0);
}

// Hands a block filled across decoder outputs to the device, its rest silent.
void SubmitPending(TrackThreadContext& c) {
  AudioStart& a = *c.start;
  if (a.pending == nullptr) return;
  auto* r = static_cast<AudioRenderer*>(c.renderer);
  const std::uint32_t capacity = a.pending->samplesPerBlock * a.pending->channels * 2;
  std::memset(a.pending->data + a.fill, 0, capacity - a.fill);
  r->submitBlock(r, a.pending);
  a.pending = nullptr;
  a.fill = 0;
}

// Decodes the current sample into renderer blocks; returns the number of blocks filled.
int DecodeAudioSample(TrackThreadContext& c) {
  auto* r = static_cast<AudioRenderer*>(c.renderer);
  SampleSource& s = *c.source;
  AudioStart& a = *c.start;
  std::uint32_t offset = 0;
  int filled = 0;
  while (offset < s.size) {
    if (a.skipBytes > 0 || a.pending != nullptr) {
      // Through the scratch buffer: drop what is still to be skipped, then append the rest to
      // the block being filled.
      std::uint32_t inSize = s.size - offset;
      std::uint32_t outSize = static_cast<std::uint32_t>(r->scratch.size());
      const DWORD t0 = GetTickCount();
      const int rc = ADec(c.decoder)->decode(ADec(c.decoder), s.data + offset, &inSize,
                                             reinterpret_cast<std::int16_t*>(r->scratch.data()), &outSize);
      gStats[5] += Elapsed(t0);
      ++gStats[4];
      if (rc != 0 || inSize == 0) break;  // a broken frame: drop the rest of the sample
      offset += inSize;
      const std::uint8_t* p = r->scratch.data();
      std::uint32_t n = outSize;
      const std::uint32_t drop = std::min(a.skipBytes, n);
      a.skipBytes -= drop;
      p += drop;
      n -= drop;
      while (n > 0) {
        if (a.pending == nullptr) {
          a.pending = r->getBlock(r);
          a.fill = 0;
        }
        const std::uint32_t capacity = a.pending->samplesPerBlock * a.pending->channels * 2;
        const std::uint32_t take = std::min(capacity - a.fill, n);
        std::memcpy(a.pending->data + a.fill, p, take);
        a.fill += take;
        p += take;
        n -= take;
        if (a.fill == capacity) {
          r->submitBlock(r, a.pending);
          a.pending = nullptr;
          a.fill = 0;
          ++filled;
        }
      }
      continue;
    }
    BlockDescriptor* block = r->getBlock(r);
    std::uint32_t inSize = s.size - offset;
    std::uint32_t outSize = block->samplesPerBlock * block->channels * 2;
    const DWORD t0 = GetTickCount();
    const int rc = ADec(c.decoder)->decode(ADec(c.decoder), s.data + offset, &inSize,
                                           reinterpret_cast<std::int16_t*>(block->data), &outSize);
    gStats[5] += Elapsed(t0);
    ++gStats[4];
    if (rc != 0 || inSize == 0) {
      // A broken frame: hand the block back unplayed and drop the rest of the sample.
      r->returnBlock(r, block);
      break;
    }
    // A short output leaves silence in the rest of the block.
    const std::uint32_t capacity = block->samplesPerBlock * block->channels * 2;
    if (outSize < capacity) std::memset(block->data + outSize, 0, capacity - outSize);
    r->submitBlock(r, block);
    ++filled;
    offset += inSize;
  }
  return filled;
}

// ---- VideoTrackThread ----

enum class TState { Idle, Ready, Running };
enum class Mode { Normal, Forward, Rewind };

void DeliverFrame(VideoDecoder* decoder, int w, int h, FrameRequest* request, std::uint8_t* buffer, int* result) {
  *result = -1;
  PlanarFrame* picture = AllocFrame(w, h);
  if (picture == nullptr) {
    request->size = 0;
    return;
  }
  if (decoder->control(decoder, 1, picture) != 0) {
    FreeFrame(picture);
    return;
  }
  if (buffer == nullptr) {
    request->width = static_cast<std::uint16_t>(w);
    request->height = static_cast<std::uint16_t>(h);
    request->format = 1;
    request->size = static_cast<std::uint32_t>(w) * h * 3 / 2;
    *result = 0;
    FreeFrame(picture);
    return;
  }
  const std::uint32_t rw = request->width, rh = request->height;
  const std::uint32_t yuvSize = rw * rh * 3 / 2;
  if (rw == 0 || rh == 0 || request->size < yuvSize) {
    FreeFrame(picture);
    return;
  }
  PlanarFrame* source = picture;
  PlanarFrame* scaled = nullptr;
  if (rw != static_cast<std::uint32_t>(w) || rh != static_cast<std::uint32_t>(h)) {
    scaled = AllocFrame(static_cast<int>(rw), static_cast<int>(rh));
    if (scaled == nullptr) {
      FreeFrame(picture);
      return;
    }
    gScaleFrame(picture, scaled);
    source = scaled;
  }
  if (request->format != 0) {
    std::memcpy(buffer, source->y, yuvSize);
    request->size = yuvSize;
  } else {
    gYUV420toRGB16Rotate(source, reinterpret_cast<std::uint16_t*>(buffer), static_cast<int>(rw),
                         static_cast<int>(rh), 0, 0, 0, 0, static_cast<int>(rw), static_cast<int>(rh),
                         request->rotation);
    request->size = rw * rh * 2;
  }
  *result = 0;
  FreeFrame(scaled);
  FreeFrame(picture);
}

// Waits `ms` on the queue's event; only a pending command ends the wait early. A take leaves the
// event set, so a wake-up that brings no command just goes on waiting for the rest of the time:
// otherwise the first picture after a start would be shown as soon as it is decoded.
// How often a track that has handed its last sound to the device looks whether it was played.
constexpr std::uint32_t kDrainPollMs = 10;

void WaitUnlessCommand(CommandQueue* q, std::uint32_t ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    if (WaitForSingleObject(q->event, ms - elapsed) != WAIT_OBJECT_0) return;
    std::lock_guard lock(q->mutex);
    if (q->count > 0) return;
  }
}

void VideoTrackThread(void* argument) {
  TrackThreadContext& c = *static_cast<TrackThreadContext*>(argument);
  auto* renderer = static_cast<VideoRenderer*>(c.renderer);
  SampleSource& src = *c.source;
  TState state = TState::Idle;
  Mode mode = Mode::Normal;
  bool keyOnly = false;
  float speed = 1.0f;
  std::uint32_t previous = 0;
  int late = 0;
  bool decodedAny = false;
  auto readDecodePresent = [&]() -> bool {
    if (!SourceRead(src)) return false;
    DecodeVideo(c, renderer->getFrame(renderer));
    decodedAny = true;
    Present(c);
    return true;
  };
  for (;;) {
    Msg m{};
    bool have;
    if (state == TState::Running) {
      have = QueueTryTake(c.trackQueue, &m) == 0;
    } else {
      QueueTake(c.trackQueue, &m);
      have = true;
    }
    if (have) {
      switch (m.code) {
        case kTrackClose:
          Send(c.mainQueue, kNoticeClosed, 0);
          return;
        case kTrackStart:
          if (state == TState::Ready) {
            renderer->control(renderer, 1, nullptr);
            mode = Mode::Normal;
            state = TState::Running;
          } else if (state == TState::Running && mode != Mode::Normal) {
            state = TState::Idle;
          }
          break;
        case kTrackForward:
        case kTrackRewind: {
          const auto* a = reinterpret_cast<const FastArgs*>(m.argument);
          mode = m.code == kTrackForward ? Mode::Forward : Mode::Rewind;
          keyOnly = m.code == kTrackForward ? a->keyFramesOnly != 0 : true;
          speed = a->speed;
          previous = 0;
          state = TState::Running;
          break;
        }
        case kTrackPause:
          if (state == TState::Running) {
            renderer->control(renderer, 2, nullptr);
            state = mode == Mode::Normal ? TState::Ready : TState::Idle;
          }
          break;
        case kTrackPlay:
          if (state == TState::Idle) {
            SourceToTime(src, ClockGet(*c.clock));
            renderer->control(renderer, 4, nullptr);
            if (!readDecodePresent()) {
              // Nothing left to play: reported once, and ready all the same so that MP_Play returns.
              Send(c.mainQueue, kNoticeEndOfTrack, 0);
              Send(c.mainQueue, kNoticeReady, 0);
              break;
            }
          }
          late = 0;
          Send(c.mainQueue, kNoticeReady, 0);
          state = TState::Ready;
          break;
        case kTrackSeek: {
          SourceToTime(src, static_cast<std::uint32_t>(m.argument));
          std::uint32_t t = 0;
          gGetTimeOfSampleNum(src.session, src.next, &t);
          renderer->control(renderer, 4, nullptr);
          state = TState::Idle;
          mode = Mode::Normal;
          if (!readDecodePresent()) {
            Send(c.mainQueue, kNoticeEndOfTrack, 0);
            break;
          }
          ClockSet(*c.clock, t);
          break;
        }
        case kTrackGetFrame: {
          auto* a = reinterpret_cast<FrameArgs*>(m.argument);
          PlanarFrame* f = renderer->getFrame(renderer);
          if (!decodedAny || f == nullptr)
            a->result = -1;
          else
            DeliverFrame(VDec(c.decoder), f->width, f->height, a->request, a->buffer, &a->result);
          Send(c.mainQueue, kNoticeFrameDelivered, 0);
          break;
        }
        case kTrackSetWindow:
          renderer->control(renderer, 3, reinterpret_cast<void*>(m.argument));
          Send(c.mainQueue, kNoticeWindowSet, 0);
          break;
        default:
          break;
      }
      continue;
    }

    // One step of playback.
    if (mode != Mode::Normal && keyOnly) {
      if (!SourceSync(src, mode == Mode::Forward ? 1 : -1)) {
        state = TState::Idle;
        Send(c.mainQueue, mode == Mode::Forward ? kNoticeForwardEnd : kNoticeRewindStart, 0);
        continue;
      }
    }
    const DWORD r0 = GetTickCount();
    const bool got = SourceRead(src);
    gStats[3] += Elapsed(r0);
    if (!got) {
      state = TState::Idle;
      Send(c.mainQueue, mode == Mode::Forward && !keyOnly ? kNoticeForwardEnd : kNoticeEndOfTrack, 0);
      continue;
    }
    if (mode != Mode::Normal) ClockSet(*c.clock, src.timeMs);
    bool present = true;
    if (mode == Mode::Normal &&
        static_cast<std::int32_t>(src.timeMs - ClockGet(*c.clock)) < 0) {
      // Late: decoded for reference only; after five in a row, skip to the next key frame.
      present = false;
      DecodeVideo(c, nullptr);
      if (++late == 5) {
        late = 0;
        SourceSync(src, 1);
      }
    } else {
      late = 0;
      DecodeVideo(c, renderer->getFrame(renderer));
      decodedAny = true;
    }
    if (present) {
      std::uint32_t wait;
      if (mode == Mode::Normal) {
        wait = src.timeMs - ClockGet(*c.clock);
      } else {
        wait = FastWaitMs(mode == Mode::Forward && !keyOnly, src.timeMs, previous, speed);
      }
      if (static_cast<std::int32_t>(wait) > 0) WaitUnlessCommand(c.trackQueue, wait);
      Present(c);
      if (mode == Mode::Normal && gPresentObserver != nullptr) gPresentObserver(src.timeMs);
    }
    previous = src.timeMs;
  }
}

// ---- AudioTrackThread ----

void AudioTrackThread(void* argument) {
  TrackThreadContext& c = *static_cast<TrackThreadContext*>(argument);
  auto* renderer = static_cast<AudioRenderer*>(c.renderer);
  SampleSource& src = *c.source;
  TState state = TState::Idle;
  // The last sample is decoded and handed to the device; the end of the track is told once the
  // device has played it.
  bool draining = false;
  for (;;) {
    Msg m{};
    bool have;
    if (state == TState::Running && draining) {
      if (AudioRendererDrained(renderer)) {
        Send(c.mainQueue, kNoticeEndOfTrack, 1);
        draining = false;
        state = TState::Idle;
        continue;
      }
      WaitUnlessCommand(c.trackQueue, kDrainPollMs);
      have = QueueTryTake(c.trackQueue, &m) == 0;
      if (!have) continue;
    } else if (state == TState::Running) {
      have = QueueTryTake(c.trackQueue, &m) == 0;
    } else {
      QueueTake(c.trackQueue, &m);
      have = true;
    }
    if (have) {
      switch (m.code) {
        case kTrackClose:
          Send(c.mainQueue, kNoticeClosed, 1);
          return;
        case kTrackStart:
          if (state == TState::Ready) {
            gAudioStartMs = ClockGet(*c.clock);
            renderer->control(renderer, 1, 0);
            state = TState::Running;
          }
          break;
        case kTrackPause:
          if (state == TState::Running) {
            renderer->control(renderer, 2, 0);
            state = TState::Ready;
          }
          break;
        case kTrackForward:
        case kTrackRewind:
          renderer->control(renderer, 2, 0);
          state = TState::Idle;
          draining = false;
          break;
        case kTrackSeek:
          renderer->control(renderer, 2, 0);
          state = TState::Idle;
          draining = false;
          // A position past the end of the sound ends the track now.
          if (!SourceToTime(src, static_cast<std::uint32_t>(m.argument))) Send(c.mainQueue, kNoticeEndOfTrack, 1);
          break;
        case kTrackPlay:
          if (state == TState::Idle) {
            SourceToTime(src, ClockGet(*c.clock));
            SubmitPending(c);
            renderer->control(renderer, 3, 0);
            c.start->skipBytes = src.next == 1 ? c.start->primingBytes : 0;
            draining = false;
            int blocks = 0, last = 0;
            do {
              if (!SourceRead(src)) {
                // A track shorter than the decode-ahead: all of it waits on the device.
                SubmitPending(c);
                AudioRendererFlush(renderer);
                draining = true;
                break;
              }
              last = DecodeAudioSample(c);
              blocks += last;
            } while (blocks < 16 && 16 - blocks >= last);
          }
          Send(c.mainQueue, kNoticeReady, 1);
          state = TState::Ready;
          break;
        default:
          break;
      }
      continue;
    }
    const DWORD r0 = GetTickCount();
    const bool got = SourceRead(src);
    gStats[6] += Elapsed(r0);
    if (!got) {
      SubmitPending(c);
      AudioRendererFlush(renderer);
      draining = true;
      continue;
    }
    DecodeAudioSample(c);
  }
}

// ---- ControlThread ----

void ToTracks(std::uint16_t code, std::uintptr_t argument) {
  if (g.audio.id != -1) Send(g.audio.queue, code, argument);
  if (g.video.id != -1) Send(g.video.queue, code, argument);
}

void ControlThread(void*) {
  bool running = false, videoReady = false, audioReady = false;
  for (;;) {
    Msg m{};
    if (QueueTryTake(g.mainQueue, &m) != 0) {
      const DWORD rc = WaitForSingleObject(g.wake, running ? 300 : INFINITE);
      if (rc == WAIT_TIMEOUT && g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
      continue;
    }
    switch (m.code) {
      case kCmdPlay:
        videoReady = audioReady = false;
        if (g.audio.id != -1) Send(g.audio.queue, kTrackPlay, 0);
        if (g.video.id != -1) Send(g.video.queue, kTrackPlay, 0);
        break;
      case kNoticeReady:
        (m.argument == 0 ? videoReady : audioReady) = true;
        if ((g.video.id == -1 || videoReady) && (g.audio.id == -1 || audioReady)) {
          ClockRun(*g.clock);
          if (g.video.id != -1) Send(g.video.queue, kTrackStart, 0);
          if (g.audio.id != -1) Send(g.audio.queue, kTrackStart, 0);
          running = true;
          SetEvent(g.done);
        }
        break;
      case kCmdPause:
        ClockPause(*g.clock);
        running = false;
        ToTracks(kTrackPause, 0);
        SetEvent(g.done);
        break;
      case kCmdForward:
      case kCmdRewind:
        ClockPause(*g.clock);
        running = true;
        ToTracks(m.code == kCmdForward ? kTrackForward : kTrackRewind, m.argument);
        SetEvent(g.done);
        break;
      case kCmdSeek:
        ClockSet(*g.clock, static_cast<std::uint32_t>(m.argument));
        ClockPause(*g.clock);
        running = m.argument != 0;
        ToTracks(kTrackSeek, m.argument);
        SetEvent(g.done);
        break;
      case kCmdCloseVideo:
        Send(g.video.queue, kTrackClose, 0);
        break;
      case kCmdCloseAudio:
        Send(g.audio.queue, kTrackClose, 0);
        break;
      case kCmdGetFrame:
        if (running || g.video.id == -1) {
          reinterpret_cast<FrameArgs*>(m.argument)->result = -1;
          SetEvent(g.done);
        } else {
          Send(g.video.queue, kTrackGetFrame, m.argument);
        }
        break;
      case kCmdSetWindow:
        if (g.video.id == -1)
          SetEvent(g.done);
        else
          Send(g.video.queue, kTrackSetWindow, m.argument);
        break;
      case kNoticeEndOfTrack:
        if (g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
        if (g.completion != nullptr) g.completion(g.completionUser, m.argument != 0 ? kAudioTrackEnded : kVideoTrackEnded);
        break;
      case kNoticeForwardEnd:
        if (g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
        if (g.completion != nullptr) g.completion(g.completionUser, kForwardReachedEnd);
        break;
      case kNoticeRewindStart:
        if (g.completion != nullptr) g.completion(g.completionUser, kRewindReachedStart);
        break;
      case kNoticeClosed:
      case kNoticeFrameDelivered:
      case kNoticeWindowSet:
        SetEvent(g.done);
        break;
      case kCmdQuit:
        SetEvent(g.done);
        return;
      default:
        break;
    }
  }
}

// ---- track info ----

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

bool Open() { return g.handle == kMarlinHandle; }

}  // namespace

std::uint32_t FastWaitMs(bool everyFrame, std::uint32_t timeMs, std::uint32_t previousMs, float speed) {
  if (everyFrame) return static_cast<std::uint32_t>(static_cast<float>(timeMs - previousMs) / speed);
  // Key frames only (and rewind): gaps of one to three seconds are shown at a steady pace.
  const std::uint32_t d = timeMs > previousMs ? timeMs - previousMs : previousMs - timeMs;
  return static_cast<std::uint32_t>((previousMs == 0 || (d >= 1000 && d <= 3000)) ? 2000.0f / speed
                                                                                   : static_cast<float>(d) / speed);
}

void SetPresentObserver(PresentObserver observer) { gPresentObserver = observer; }

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
    ok = gCreateAACDecoder(&decoder, &cfg, t.config->decoderSpecificInfo, t.config->decoderSpecificInfoSize) == 0;
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
bool AnyTrack() { return g.video.id != -1 || g.audio.id != -1; }
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

MARLIN_API int MP_Stop(std::uint32_t handle) { return MP_SetSeekPosition(handle, 0); }

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
  std::uint32_t* outs[7] = {videoFrames, videoDecodeMs, videoPresentMs, videoReadMs,
                            audioDecodeCalls, audioDecodeMs, audioReadMs};
  for (int i = 0; i < 7; ++i)
    if (outs[i] != nullptr) *outs[i] = gStats[i];
  return 0;
}
