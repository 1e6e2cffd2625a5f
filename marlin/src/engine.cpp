#include "engine.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/gx.h"
#include "platform/sync.h"
#include "plover/plover.h"

namespace marlin {

// ---- CommandQueue ----

CommandQueue* CreateCommandQueue(std::uint32_t capacity, std::uint32_t elementSize, HANDLE event,
                                 void (*flushElement)(const void*)) {
  if (capacity == 0 || (capacity & (capacity - 1)) != 0 || elementSize == 0 || elementSize > 255) return nullptr;
  auto* q = new (std::nothrow) CommandQueue;
  if (q == nullptr) return nullptr;
  q->elementSize = static_cast<std::uint8_t>(elementSize);
  q->mask = capacity - 1;
  q->flushElement = flushElement;
  q->ring.resize(static_cast<size_t>(capacity) * elementSize);
  if (event != nullptr) {
    q->event = event;
  } else {
    q->event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    q->ownsEvent = true;
    if (q->event == nullptr) {
      delete q;
      return nullptr;
    }
  }
  return q;
}

void DeleteCommandQueue(CommandQueue* q) {
  if (q == nullptr) return;
  if (q->ownsEvent) CloseHandle(q->event);
  delete q;
}

int QueuePut(CommandQueue* q, const void* element) {
  std::lock_guard lock(q->mutex);
  if (q->count == q->mask + 1) return kQueueFull;
  std::memcpy(&q->ring[static_cast<size_t>(q->writeIndex) * q->elementSize], element, q->elementSize);
  q->writeIndex = (q->writeIndex + 1) & q->mask;
  if (q->count++ == 0) SetEvent(q->event);
  return 0;
}

int QueueTryTake(CommandQueue* q, void* element) {
  std::lock_guard lock(q->mutex);
  if (q->count == 0) return kQueueEmpty;
  if (q->count == q->mask + 1) SetEvent(q->event);
  std::memcpy(element, &q->ring[static_cast<size_t>(q->readIndex) * q->elementSize], q->elementSize);
  q->readIndex = (q->readIndex + 1) & q->mask;
  --q->count;
  return 0;
}

void QueueTake(CommandQueue* q, void* element) {
  std::unique_lock lock(q->mutex);
  while (q->count == 0) {
    lock.unlock();
    WaitForSingleObject(q->event, INFINITE);
    lock.lock();
  }
  std::memcpy(element, &q->ring[static_cast<size_t>(q->readIndex) * q->elementSize], q->elementSize);
  q->readIndex = (q->readIndex + 1) & q->mask;
  --q->count;
  SetEvent(q->event);
}

void QueueFlush(CommandQueue* q) {
  std::lock_guard lock(q->mutex);
  if (q->flushElement != nullptr) {
    for (std::uint32_t i = 0, at = q->readIndex; i < q->count; ++i, at = (at + 1) & q->mask)
      q->flushElement(&q->ring[static_cast<size_t>(at) * q->elementSize]);
  }
  q->count = q->readIndex = q->writeIndex = 0;
}

// ---- MediaClock ----

std::uint32_t ClockGet(const MediaClock& c) {
  return c.state == kClockRunning ? GetTickCount() - c.baseTick : c.pausedPosition;
}
void ClockSet(MediaClock& c, std::uint32_t t) {
  if (c.state == kClockRunning)
    c.baseTick = GetTickCount() - t;
  else
    c.pausedPosition = t;
}
void ClockRun(MediaClock& c) {
  if (c.state != kClockPaused) return;
  c.baseTick = GetTickCount() - c.pausedPosition;
  c.state = kClockRunning;
}
void ClockPause(MediaClock& c) {
  if (c.state != kClockRunning) return;
  c.pausedPosition = GetTickCount() - c.baseTick;
  c.state = kClockPaused;
}
int ClockCommand(MediaClock& c, std::uint32_t command) {
  if (command != kClockReset) return -1;
  c.baseTick = c.pausedPosition = 0;
  c.state = kClockPaused;
  return 0;
}

// ---- FileReadCache ----

namespace {

constexpr int kBlockSize = 512;
constexpr int kBlocks = 6;

struct CacheBlock {
  std::int64_t first = -1, last = -1;
  std::uint32_t stamp = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::uint8_t data[kBlockSize];
};

struct StreamState {
  std::uint32_t position = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

struct FileCache {
  std::mutex mutex;
  std::uint32_t counter = 1;
  CacheBlock blocks[kBlocks];
  std::map<FILE*, StreamState> streams;
};

FileCache& Cache() {
  static FileCache cache;
  return cache;
}

int FindBlock(FileCache& c, const StreamState& s, std::int64_t offset) {
  for (int i = 0; i < kBlocks; ++i) {
    const CacheBlock& b = c.blocks[i];
    if (b.first >= 0 && b.dev == s.dev && b.ino == s.ino && offset >= b.first && offset <= b.last) return i;
  }
  return -1;
}

size_t DirectRead(void* buffer, size_t size, size_t count, FILE* stream, StreamState& s) {
  if (std::fseek(stream, static_cast<long>(s.position), SEEK_SET) != 0) return 0;
  const size_t got = std::fread(buffer, size, count, stream);
  s.position += static_cast<std::uint32_t>(got * size);
  return got;
}

}  // namespace

void FileCacheReset() {
  FileCache& c = Cache();
  std::lock_guard lock(c.mutex);
  c.counter = 1;
  for (auto& b : c.blocks) b.first = b.last = -1, b.stamp = 0;
  c.streams.clear();
}

FILE* FileCacheOpen(const char* path, const char* mode) {
  FILE* f = std::fopen(path, mode);
  if (f == nullptr) return nullptr;
  StreamState s;
  struct stat st;
  if (fstat(fileno(f), &st) == 0) s.dev = st.st_dev, s.ino = st.st_ino;
  FileCache& c = Cache();
  std::lock_guard lock(c.mutex);
  c.streams[f] = s;  // a reused FILE address starts afresh
  return f;
}

int FileCacheSeek(FILE* stream, long offset, int origin) {
  FileCache& c = Cache();
  std::lock_guard lock(c.mutex);
  StreamState& s = c.streams[stream];
  if (origin == SEEK_SET) {
    if (offset < 0) return -1;
    s.position = static_cast<std::uint32_t>(offset);
  } else if (origin == SEEK_CUR) {
    if (offset < 0 && static_cast<std::uint32_t>(-offset) > s.position) return -1;
    s.position = static_cast<std::uint32_t>(static_cast<std::int64_t>(s.position) + offset);
  }
  return 0;  // a seek from the end is accepted and ignored
}

size_t FileCacheRead(void* buffer, size_t size, size_t count, FILE* stream) {
  if (size == 0 || count == 0 || stream == nullptr) return 0;
  FileCache& c = Cache();
  std::lock_guard lock(c.mutex);
  StreamState& s = c.streams[stream];
  const size_t n = size * count;
  if (n >= kBlockSize || count > kBlockSize) return DirectRead(buffer, size, count, stream, s);
  const std::int64_t firstByte = s.position, lastByte = s.position + static_cast<std::int64_t>(n) - 1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int a = FindBlock(c, s, firstByte), b = FindBlock(c, s, lastByte);
    if (a >= 0 && a == b) {
      CacheBlock& blk = c.blocks[a];
      std::memcpy(buffer, blk.data + (firstByte - blk.first), n);
      s.position += static_cast<std::uint32_t>(n);
      blk.stamp = c.counter++;
      return count;
    }
    if (a >= 0 || b >= 0 || firstByte / kBlockSize != lastByte / kBlockSize || attempt == 1) break;
    int victim = -1;
    for (int i = 0; i < kBlocks && victim < 0; ++i)
      if (c.blocks[i].first < 0) victim = i;
    if (victim < 0) {
      victim = 0;
      for (int i = 1; i < kBlocks; ++i)
        if (c.blocks[i].stamp < c.blocks[victim].stamp) victim = i;
    }
    CacheBlock& blk = c.blocks[victim];
    const std::int64_t aligned = firstByte / kBlockSize * kBlockSize;
    blk.first = blk.last = -1;
    blk.stamp = 0;
    if (std::fseek(stream, static_cast<long>(aligned), SEEK_SET) != 0) break;
    if (std::fread(blk.data, 1, kBlockSize, stream) != kBlockSize) break;  // short block: read directly
    blk.first = aligned;
    blk.last = aligned + kBlockSize - 1;
    blk.dev = s.dev;
    blk.ino = s.ino;
    blk.stamp = c.counter++;
  }
  return DirectRead(buffer, size, count, stream, s);
}

// ---- frames ----

PlanarFrame* AllocFrame(int width, int height) {
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return nullptr;
  const size_t luma = static_cast<size_t>(width) * height;
  auto* frame = static_cast<PlanarFrame*>(std::malloc(sizeof(PlanarFrame)));
  auto* data = static_cast<std::uint8_t*>(std::calloc(luma * 3 / 2 + 1, 1));
  if (frame == nullptr || data == nullptr) {
    std::free(frame);
    std::free(data);
    return nullptr;
  }
  frame->y = data;
  frame->u = data + luma;
  frame->v = data + luma * 5 / 4;
  frame->width = static_cast<std::uint16_t>(width);
  frame->height = static_cast<std::uint16_t>(height);
  return frame;
}

void FreeFrame(PlanarFrame* frame) {
  if (frame == nullptr) return;
  std::free(frame->y);
  std::free(frame);
}

// ---- AudioRenderer ----

namespace {

void WaveCallback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  if (message != WOM_DONE) return;
  auto* self = reinterpret_cast<AudioRenderer*>(instance);
  auto* header = reinterpret_cast<WAVEHDR*>(param1);
  const std::uint32_t index = static_cast<std::uint32_t>(header->dwUser);
  if (self->playing) {
    self->doneBytes += header->dwBufferLength;
    self->doneTick = GetTickCount();
  }
  QueuePut(self->returnedHeaders, &index);
  --self->inDevice;
}

void DestroyAudio(AudioRenderer* self) {
  for (auto& h : self->headers) {
    if (self->wave != nullptr && h.lpData != nullptr) waveOutUnprepareHeader(self->wave, &h, sizeof(WAVEHDR));
    std::free(h.lpData);
  }
  if (self->wave != nullptr) waveOutClose(self->wave);
  DeleteCommandQueue(self->freeBlocks);
  DeleteCommandQueue(self->returnedHeaders);
  delete self;
}

int WriteHeader(AudioRenderer* self, WAVEHDR* h) {
  // Counted before the write: the device may hand the header back before waveOutWrite returns.
  ++self->inDevice;
  if (waveOutWrite(self->wave, h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) return 0;
  --self->inDevice;
  return -1;
}

int AudioClose(AudioRenderer* self) {
  if (self == nullptr) return -1;
  if (self->wave != nullptr) waveOutReset(self->wave);
  DestroyAudio(self);
  return 0;
}

BlockDescriptor* AudioGetBlock(AudioRenderer* self) {
  std::uint32_t index = 0;
  if (QueueTryTake(self->freeBlocks, &index) != 0) {
    std::uint32_t header = 0;
    QueueTake(self->returnedHeaders, &header);
    const std::uint32_t f = self->blocksPerHeader;
    for (std::uint32_t k = 1; k < f; ++k) {
      const std::uint32_t i = header * f + k;
      QueuePut(self->freeBlocks, &i);
    }
    index = header * f;
  }
  return &self->blocks[index];
}

int AudioReturnBlock(AudioRenderer* self, BlockDescriptor* block) {
  const std::uint32_t index = static_cast<std::uint32_t>(block - self->blocks.data());
  return QueuePut(self->freeBlocks, &index) == 0 ? 0 : -1;
}

int AudioSubmitBlock(AudioRenderer* self, BlockDescriptor* block) {
  const std::uint32_t i = static_cast<std::uint32_t>(block - self->blocks.data());
  const std::uint32_t f = self->blocksPerHeader;
  if (i % f != f - 1) {  // the header is written when its last block is submitted
    self->filled = i % f + 1;
    return 0;
  }
  self->filled = 0;
  WAVEHDR& h = self->headers[i / f];
  h.dwBufferLength = self->headerBytes;
  if (waveOutUnprepareHeader(self->wave, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return -1;
  h.dwFlags = 0;
  if (waveOutPrepareHeader(self->wave, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return -1;
  return WriteHeader(self, &h);
}

int AudioControl(AudioRenderer* self, int type, std::uint32_t) {
  switch (type) {
    case 1:
      if (!self->playing) {
        self->doneBytes = 0;
        self->doneTick = GetTickCount();
      }
      self->playing = true;
      return waveOutRestart(self->wave) == MMSYSERR_NOERROR ? 0 : -1;
    case 2:
      return waveOutPause(self->wave) == MMSYSERR_NOERROR ? 0 : -1;
    case 3: {
      self->playing = false;
      self->filled = 0;
      std::uint32_t index = 0;
      if (QueueTryTake(self->freeBlocks, &index) == 0) {
        // The header of that block is being filled: gather its other blocks and hand all of them
        // back in order, so the header is refilled from its first block.
        const std::uint32_t f = self->blocksPerHeader;
        const std::uint32_t header = index / f;
        for (std::uint32_t k = 0; k < f - 1 - index % f; ++k) {
          std::uint32_t dummy;
          QueueTryTake(self->freeBlocks, &dummy);
        }
        for (std::uint32_t k = 0; k < f; ++k) {
          const std::uint32_t i = header * f + k;
          QueuePut(self->freeBlocks, &i);
        }
      }
      const bool ok = waveOutReset(self->wave) == MMSYSERR_NOERROR;
      return ok && waveOutPause(self->wave) == MMSYSERR_NOERROR ? 0 : -1;
    }
    default:
      return -1;
  }
}

int AudioQuery(AudioRenderer*, int, std::uint32_t*) { return -1; }

}  // namespace

std::uint32_t AudioPlayedMs(const AudioRenderer* self) {
  const std::uint64_t bytesPerMs = static_cast<std::uint64_t>(self->sampleRate) * self->blocks[0].channels * 2;
  if (bytesPerMs == 0) return 0;
  const std::uint64_t played = self->doneBytes.load() * 1000 / bytesPerMs;
  if (!self->playing) return static_cast<std::uint32_t>(played);
  const std::uint64_t headerMs = static_cast<std::uint64_t>(self->headerBytes) * 1000 / bytesPerMs;
  const std::uint64_t since = GetTickCount() - self->doneTick.load();
  return static_cast<std::uint32_t>(played + (since < headerMs ? since : headerMs));
}

bool AudioRendererDrained(const AudioRenderer* self) {
  return self->inDevice.load() == 0;
}

int AudioRendererFlush(AudioRenderer* self) {
  if (self->filled == 0) return 0;
  // The unsubmitted blocks of this header are next on the free queue: take them out, the whole
  // header comes back through the callback once played.
  std::uint32_t index = 0;
  if (QueueTryTake(self->freeBlocks, &index) != 0) return -1;
  const std::uint32_t f = self->blocksPerHeader;
  const std::uint32_t header = index / f;
  for (std::uint32_t k = index % f + 1; k < f; ++k) QueueTryTake(self->freeBlocks, &index);
  WAVEHDR& h = self->headers[header];
  const std::uint32_t bytes = self->filled * self->blockBytes;
  self->filled = 0;
  if (waveOutUnprepareHeader(self->wave, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return -1;
  h.dwFlags = 0;
  h.dwBufferLength = bytes;
  if (waveOutPrepareHeader(self->wave, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return -1;
  return WriteHeader(self, &h);
}

int OpenAudioRenderer(const AudioFormat* format, AudioRenderer** out) {
  if (format == nullptr || out == nullptr) return -1;
  *out = nullptr;
  const std::uint32_t h = format->headers, f = format->blocksPerHeader;
  if (h == 0 || f == 0 || format->channels == 0 || format->bitsPerSample < 8) return -1;
  auto* self = new (std::nothrow) AudioRenderer{};
  if (self == nullptr) return -1;
  self->close = AudioClose;
  self->getBlock = AudioGetBlock;
  self->returnBlock = AudioReturnBlock;
  self->submitBlock = AudioSubmitBlock;
  self->control = AudioControl;
  self->query = AudioQuery;
  self->headerCount = h;
  self->blocksPerHeader = f;
  self->blockCount = h * f;
  const std::uint32_t blockBytes = format->samplesPerBlock * (format->bitsPerSample / 8u) * format->channels;
  self->headerBytes = blockBytes * f;
  self->blockBytes = blockBytes;
  self->sampleRate = format->sampleRate;
  self->freeBlocks = CreateCommandQueue(h * f, 4, nullptr, nullptr);
  self->returnedHeaders = CreateCommandQueue(h, 4, nullptr, nullptr);
  if (self->freeBlocks == nullptr || self->returnedHeaders == nullptr) {
    DestroyAudio(self);
    return -1;
  }
  WAVEFORMATEX wf{};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = format->channels;
  wf.nSamplesPerSec = format->sampleRate;
  wf.nAvgBytesPerSec = format->avgBytesPerSec;
  wf.nBlockAlign = static_cast<WORD>(format->channels * format->bitsPerSample / 8);
  wf.wBitsPerSample = format->bitsPerSample;
  if (waveOutOpen(&self->wave, static_cast<UINT>(format->deviceId), &wf, reinterpret_cast<DWORD_PTR>(&WaveCallback),
                  reinterpret_cast<DWORD_PTR>(self), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    self->wave = nullptr;
    DestroyAudio(self);
    return -1;
  }
  waveOutPause(self->wave);
  self->headers.assign(h, WAVEHDR{});
  self->blocks.assign(h * f, BlockDescriptor{});
  for (std::uint32_t j = 0; j < h; ++j) {
    WAVEHDR& hdr = self->headers[j];
    hdr.lpData = static_cast<char*>(std::calloc(self->headerBytes ? self->headerBytes : 1, 1));
    if (hdr.lpData == nullptr) {
      DestroyAudio(self);
      return -1;
    }
    hdr.dwBufferLength = self->headerBytes;
    hdr.dwUser = j;
    for (std::uint32_t k = 0; k < f; ++k) {
      const std::uint32_t i = j * f + k;
      self->blocks[i] = {reinterpret_cast<std::uint8_t*>(hdr.lpData) + k * blockBytes, format->sampleRate,
                         format->samplesPerBlock, format->channels};
      QueuePut(self->freeBlocks, &i);
    }
    waveOutPrepareHeader(self->wave, &hdr, sizeof(WAVEHDR));
  }
  self->scratch.resize(blockBytes);
  *out = self;
  return 0;
}

// ---- VideoRenderer ----

namespace {

PlanarFrame* VideoGetFrame(VideoRenderer* self) { return self->decode; }

int VideoPresent(VideoRenderer* self, PlanarFrame* frame) {
  if (frame == nullptr) return 0;
  PlanarFrame* shown = frame;
  if (self->scaled != nullptr) {
    gScaleFrame(frame, self->scaled);
    shown = self->scaled;
  }
  auto* fb = static_cast<std::uint16_t*>(GXBeginDraw());
  if (fb != nullptr) {
    const RenderingWindow& w = self->window;
    gYUV420toRGB16Rotate(shown, fb, w.screenWidth, w.screenHeight, w.left, w.top, 0, 0, w.width, w.height,
                         w.rotation);
    GXEndDraw();
  }
  return 0;
}

bool NeedsScaling(const RenderingWindow& w, int sw, int sh) { return w.width != sw || w.height != sh; }

int VideoControl(VideoRenderer* self, int type, void* argument) {
  if (type != 3) return -5;
  FreeFrame(self->decode);
  FreeFrame(self->scaled);
  self->decode = self->scaled = nullptr;
  self->window = *static_cast<const RenderingWindow*>(argument);
  if (NeedsScaling(self->window, self->streamWidth, self->streamHeight)) {
    self->scaled = AllocFrame(self->window.width, self->window.height);
    if (self->scaled == nullptr) return -2;
  }
  self->decode = AllocFrame(self->streamWidth, self->streamHeight);
  return self->decode == nullptr ? -2 : 0;
}

int VideoControl2(VideoRenderer*, int, void*) { return -5; }

int VideoClose(VideoRenderer* self) {
  FreeFrame(self->decode);
  FreeFrame(self->scaled);
  delete self;
  GXCloseDisplay();
  return 0;
}

}  // namespace

int OpenVideoRenderer(const RenderingWindow* window, int streamWidth, int streamHeight, VideoRenderer** out) {
  *out = nullptr;
  if (GXOpenDisplay(nullptr, GX_FULLSCREEN) == 0) {
    // FIXME: shown as a message box once the window system offers MessageBoxW to libraries.
    std::fputs("FB device open failed\n", stderr);
    return -1;
  }
  auto* self = new (std::nothrow) VideoRenderer{};
  if (self == nullptr) {
    GXCloseDisplay();
    return -2;
  }
  self->getFrame = VideoGetFrame;
  self->present = VideoPresent;
  self->control = VideoControl;
  self->control2 = VideoControl2;
  self->close = VideoClose;
  self->window = *window;
  self->streamWidth = static_cast<std::uint16_t>(streamWidth);
  self->streamHeight = static_cast<std::uint16_t>(streamHeight);
  if (NeedsScaling(self->window, streamWidth, streamHeight) && window->width > 0 && window->height > 0) {
    self->scaled = AllocFrame(window->width, window->height);
    if (self->scaled == nullptr) {
      VideoClose(self);
      return -2;
    }
  }
  self->decode = AllocFrame(streamWidth, streamHeight);
  if (self->decode == nullptr) {
    VideoClose(self);
    return -2;
  }
  *out = self;
  return 0;
}

}  // namespace marlin
