#pragma once
// The player's shared state and helpers, private to marlin/src: the command codes between the API,
// the ControlThread and the track threads, the player record, thread start-up and the decoding
// helpers the track threads share.
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

inline bool SourceOpen(SampleSource& s, TrakSession* session) {
  std::uint32_t largest = 0;
  if (gGetMaxSampleSize(session, &largest) != 0) return false;
  s.session = session;
  s.next = 1;
  s.buffer.assign(static_cast<size_t>(largest) + 16, 0);
  return true;
}
inline void SourceClose(SampleSource& s) {
  s.buffer.clear();
  s.buffer.shrink_to_fit();
  s.session = nullptr;
}
inline bool SourceRead(SampleSource& s) {
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
inline bool SourceSync(SampleSource& s, int direction) {
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
inline bool SourceToTime(SampleSource& s, std::uint32_t timeMs) {
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

inline Player g;
inline PresentObserver gPresentObserver = nullptr;
inline std::uint32_t gAudioStartMs = 0;  // clock position at which the audio output last started
inline std::mutex gApiMutex;             // serialises the API calls of different caller threads

// Statistics: video frames decoded, video decode ms, video present ms, video read ms, audio decode
// calls, audio decode ms, audio read ms. Updated without locking.
inline std::uint32_t gStats[7];

inline constexpr int kVideoThreadPriority = 2, kAudioThreadPriority = 1, kControlThreadPriority = 2;

// ---- thread slots ----

struct ThreadSlot {
  void (*entry)(void*);
  void* argument;
};
inline ThreadSlot gSlots[32];
inline std::mutex gSlotMutex;

inline DWORD SlotTrampoline(LPVOID parameter) {
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

inline HANDLE StartThread(void (*entry)(void*), void* argument, int priority) {
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
  HANDLE t =
      CreateThread(nullptr, 0, SlotTrampoline, reinterpret_cast<LPVOID>(slot), CREATE_SUSPENDED, nullptr);
  if (t == nullptr) {
    std::lock_guard lock(gSlotMutex);
    gSlots[slot] = {nullptr, nullptr};
    return nullptr;
  }
  SetThreadPriority(t, priority);
  ResumeThread(t);
  return t;
}

inline void JoinThread(HANDLE& t) {
  if (t == nullptr) return;
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  t = nullptr;
}

// A notice must not be lost: a full main queue is waited out.
inline void Send(CommandQueue* q, std::uint16_t code, std::uintptr_t argument) {
  const Msg m{code, 0, argument};
  while (QueuePut(q, &m) != 0) Sleep(1);
}

inline std::uint32_t Elapsed(DWORD since) {
  return GetTickCount() - since;
}

// Sends a command to the ControlThread and waits for it to be done.
inline void Call(std::uint16_t code, std::uintptr_t argument) {
  ResetEvent(g.done);
  Send(g.mainQueue, code, argument);
  WaitForSingleObject(g.done, INFINITE);
}

// ---- decoding helpers ----

inline VideoDecoder* VDec(void* d) {
  return static_cast<VideoDecoder*>(d);
}
inline AudioDecoder* ADec(void* d) {
  return static_cast<AudioDecoder*>(d);
}

inline void DecodeVideo(TrackThreadContext& c, PlanarFrame* out) {
  const DWORD t0 = GetTickCount();
  std::uint32_t size = c.source->size;
  VDec(c.decoder)->decode(VDec(c.decoder), c.source->data, &size, out);
  gStats[1] += Elapsed(t0);
  ++gStats[0];
}

inline void Present(TrackThreadContext& c) {
  auto* r = static_cast<VideoRenderer*>(c.renderer);
  const DWORD t0 = GetTickCount();
  r->present(r, r->getFrame(r));
  gStats[2] += Elapsed(t0);
}

// Hands a block filled across decoder outputs to the device, its rest silent.
inline void SubmitPending(TrackThreadContext& c) {
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
inline int DecodeAudioSample(TrackThreadContext& c) {
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

enum class TState { Idle, Ready, Running };
enum class Mode { Normal, Forward, Rewind };

// Waits `ms` on the queue's event; only a pending command ends the wait early. A take leaves the
// event set, so a wake-up that brings no command just goes on waiting for the rest of the time:
// otherwise the first picture after a start would be shown as soon as it is decoded.
// How often a track that has handed its last sound to the device looks whether it was played.
inline constexpr std::uint32_t kDrainPollMs = 10;

inline void WaitUnlessCommand(CommandQueue* q, std::uint32_t ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    if (WaitForSingleObject(q->event, ms - elapsed) != WAIT_OBJECT_0) return;
    std::lock_guard lock(q->mutex);
    if (q->count > 0) return;
  }
}

// Copies the decoder's last picture into the request's buffer in its format (video_thread.cpp).
void DeliverFrame(VideoDecoder* decoder, int w, int h, FrameRequest* request, std::uint8_t* buffer, int* result);

// The threads, one file each.
void VideoTrackThread(void* argument);
void AudioTrackThread(void* argument);
void ControlThread(void*);

}  // namespace marlin
