#pragma once
// Building blocks of the player: command queues, the media clock, the file read cache and the
// two output objects.

#include <cstdint>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "brindle/planar_frame.h"
#include "marlin/marlin.h"
#include "platform/types.h"
#include "platform/wave.h"

namespace marlin {

inline constexpr int kQueueFull = -1001;
inline constexpr int kQueueEmpty = -1002;

// A 8-byte message of every player queue: code, spare, argument (a number or a sender's record).
struct Message {
  std::uint16_t code;
  std::uint16_t spare;
  std::uint32_t argument;
};

struct CommandQueue {
  std::uint8_t elementSize = 0;
  std::uint32_t mask = 0;
  std::uint32_t readIndex = 0;
  std::uint32_t writeIndex = 0;
  std::uint32_t count = 0;
  void (*flushElement)(const void* element) = nullptr;
  std::mutex mutex;
  HANDLE event = nullptr;
  bool ownsEvent = false;
  std::vector<std::uint8_t> ring;
};

// Capacity must be a non-zero power of two and the element size 1..255; `event` may be null
// (the queue then makes and owns an auto-reset event).
CommandQueue* CreateCommandQueue(std::uint32_t capacity, std::uint32_t elementSize, HANDLE event,
                                 void (*flushElement)(const void*));
void DeleteCommandQueue(CommandQueue* q);
int QueuePut(CommandQueue* q, const void* element);
int QueueTryTake(CommandQueue* q, void* element);
void QueueTake(CommandQueue* q, void* element);
void QueueFlush(CommandQueue* q);

enum : std::uint32_t { kClockRunning = 1281, kClockPaused = 1282, kClockReset = 1284 };

struct MediaClock {
  std::uint32_t baseTick = 0;
  std::uint32_t pausedPosition = 0;
  std::uint32_t state = kClockPaused;
};
std::uint32_t ClockGet(const MediaClock& c);
void ClockSet(MediaClock& c, std::uint32_t t);
void ClockRun(MediaClock& c);
void ClockPause(MediaClock& c);
int ClockCommand(MediaClock& c, std::uint32_t command);

// File access for the reader: one kept position per stream, 512-byte blocks shared by every
// stream of the same file.
void FileCacheReset();
FILE* FileCacheOpen(const char* path, const char* mode);
int FileCacheSeek(FILE* stream, long offset, int origin);
size_t FileCacheRead(void* buffer, size_t size, size_t count, FILE* stream);

struct BlockDescriptor {
  std::uint8_t* data;
  std::uint32_t sampleRate;
  std::uint32_t samplesPerBlock;
  std::uint32_t channels;
};

// Natural alignment: two bytes of padding sit before the device id (28 bytes in all).
struct AudioFormat {
  std::uint16_t channels;
  std::uint16_t bitsPerSample;
  std::uint32_t sampleRate;
  std::uint32_t avgBytesPerSec;
  std::uint16_t headers;
  std::uint16_t blocksPerHeader;
  std::uint16_t volume;
  std::int32_t deviceId;
  std::uint16_t samplesPerBlock;
  std::uint16_t spare;
};
static_assert(sizeof(AudioFormat) == 28);

struct AudioRenderer {
  int (*close)(AudioRenderer* self);
  BlockDescriptor* (*getBlock)(AudioRenderer* self);
  int (*returnBlock)(AudioRenderer* self, BlockDescriptor* block);
  int (*submitBlock)(AudioRenderer* self, BlockDescriptor* block);
  int (*control)(AudioRenderer* self, int type, std::uint32_t argument);
  int (*query)(AudioRenderer* self, int type, std::uint32_t* out);

  HWAVEOUT wave = nullptr;
  CommandQueue* freeBlocks = nullptr;
  CommandQueue* returnedHeaders = nullptr;
  std::vector<WAVEHDR> headers;
  std::vector<BlockDescriptor> blocks;
  std::uint32_t headerCount = 0;
  std::uint32_t blocksPerHeader = 0;
  std::uint32_t blockCount = 0;
  std::uint32_t headerBytes = 0;
  bool playing = false;
  std::vector<std::uint8_t> scratch;
  std::uint32_t blockBytes = 0;
  std::uint32_t filled = 0;  // submitted blocks of the header being filled
  std::uint32_t sampleRate = 0;
  // Sound handed back by the device since the last start: feeds the audio clock measurement.
  std::atomic<std::uint64_t> doneBytes{0};
  std::atomic<std::uint32_t> doneTick{0};
  // Headers written to the device and not yet handed back.
  std::atomic<std::uint32_t> inDevice{0};
};
// Position of the sound the device has played since the last start, in ms, interpolated from the
// last finished header (at most one header ahead of it).
std::uint32_t AudioPlayedMs(const AudioRenderer* self);
int OpenAudioRenderer(const AudioFormat* format, AudioRenderer** out);
// At the end of a track: writes the header being filled with only its submitted blocks, so that
// the last sound of the track is played too. Returns 0, or -1 when a waveOut call failed.
int AudioRendererFlush(AudioRenderer* self);
// True when the device has handed back every header written to it: all sound was played.
bool AudioRendererDrained(const AudioRenderer* self);

struct VideoRenderer {
  PlanarFrame* (*getFrame)(VideoRenderer* self);
  void* empty1;
  void* empty2;
  int (*present)(VideoRenderer* self, PlanarFrame* frame);
  int (*control)(VideoRenderer* self, int type, void* argument);
  int (*control2)(VideoRenderer* self, int type, void* argument);
  int (*close)(VideoRenderer* self);

  RenderingWindow window{};
  std::uint16_t streamWidth = 0, streamHeight = 0;
  PlanarFrame* decode = nullptr;
  PlanarFrame* scaled = nullptr;
};
int OpenVideoRenderer(const RenderingWindow* window, int streamWidth, int streamHeight, VideoRenderer** out);

// One block of w x h x 3/2 bytes: Y, then U at w x h, V at w x h x 5/4. Null on failure.
PlanarFrame* AllocFrame(int width, int height);
void FreeFrame(PlanarFrame* frame);

// Wait in ms before presenting a picture in fast forward or rewind: every picture (forward
// without key-frames-only) waits its own gap divided by the speed; key frames wait 2000 / speed
// after the first one or for gaps of 1..3 s, else their gap divided by the speed.
std::uint32_t FastWaitMs(bool everyFrame, std::uint32_t timeMs, std::uint32_t previousMs, float speed);

// Measurement hooks: called on the video thread after each picture presented in normal play,
// with the picture's time; and the position of the audio output (played ms since the last start
// plus the start position), -1 without an audio track.
using PresentObserver = void (*)(std::uint32_t sampleTimeMs);
void SetPresentObserver(PresentObserver observer);
std::int64_t AudioClockMs();

}  // namespace marlin
