// Wave output and input devices: a driver thread per open device plays or records the
// queued headers at the real-time rate of their format and calls back on that thread.
#include "platform/wave.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Backend { Sdl, File, Null };

Backend SelectedBackend() {
  const char* name = std::getenv("TESSERA_AUDIO");
  if (name && std::strcmp(name, "file") == 0) return Backend::File;
  if (name && std::strcmp(name, "null") == 0) return Backend::Null;
  return Backend::Sdl;
}

bool SdlAudioReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0; });
  return ready;
}

bool FormatValid(const WAVEFORMATEX* f) {
  if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f->nChannels < 1 || f->nChannels > 2) return false;
  if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
  if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 192000) return false;
  return true;
}

void PutLe32(unsigned char* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutLe16(unsigned char* p, WORD v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
DWORD GetLe32(const unsigned char* p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}
WORD GetLe16(const unsigned char* p) {
  return static_cast<WORD>(p[0] | p[1] << 8);
}

// Common part of both directions: header queue, driver thread, pacing.
struct Device {
  WAVEFORMATEX format{};
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  Backend backend = Backend::Null;

  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<WAVEHDR*> queue;
  bool paused = false;  // output: waveOutPause; input: not started
  bool quit = false;
  bool flushRequested = false;
  bool busy = false;  // the driver thread is inside a callback or a transfer
  bool orphaned = false;  // closed from its own callback: the driver thread frees the record
  std::thread::id driverId;
  std::thread driver;
  Clock::time_point deadline{};
  bool clockRunning = false;

  std::chrono::nanoseconds Duration(DWORD bytes) const {
    double seconds = double(bytes) / double(format.nAvgBytesPerSec ? format.nAvgBytesPerSec : 1);
    return std::chrono::nanoseconds(static_cast<long long>(seconds * 1e9));
  }
};

struct OutDevice : Device {
  DWORD volume = 0xFFFFFFFFu;
  std::FILE* file = nullptr;
  std::u16string filePath;
  DWORD dataBytes = 0;
  SDL_AudioDeviceID sdl = 0;
};

struct InDevice : Device {
  std::FILE* file = nullptr;  // file backend source, positioned in its data chunk
  long dataLeft = 0;
  SDL_AudioDeviceID sdl = 0;
};

std::mutex gRegistryMutex;
std::set<void*> gOutDevices;
std::set<void*> gInDevices;
std::atomic<int> gFileCounter{0};

OutDevice* LookupOut(HWAVEOUT h) {
  std::lock_guard lock(gRegistryMutex);
  return gOutDevices.count(h) ? reinterpret_cast<OutDevice*>(h) : nullptr;
}
InDevice* LookupIn(HWAVEIN h) {
  std::lock_guard lock(gRegistryMutex);
  return gInDevices.count(h) ? reinterpret_cast<InDevice*>(h) : nullptr;
}

void WriteWavHeader(std::FILE* f, const WAVEFORMATEX& fmt, DWORD dataBytes) {
  unsigned char h[44];
  std::memcpy(h, "RIFF", 4);
  PutLe32(h + 4, 36 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe32(h + 16, 16);
  PutLe16(h + 20, fmt.wFormatTag);
  PutLe16(h + 22, fmt.nChannels);
  PutLe32(h + 24, fmt.nSamplesPerSec);
  PutLe32(h + 28, fmt.nAvgBytesPerSec);
  PutLe16(h + 32, fmt.nBlockAlign);
  PutLe16(h + 34, fmt.wBitsPerSample);
  std::memcpy(h + 36, "data", 4);
  PutLe32(h + 40, dataBytes);
  std::fseek(f, 0, SEEK_SET);
  std::fwrite(h, 1, sizeof h, f);
  std::fseek(f, 0, SEEK_END);
}

// Applies the device volume to a copy of the samples (left and right halves of the
// volume value for the two channels).
void ApplyVolume(const WAVEFORMATEX& fmt, DWORD volume, const char* src, DWORD n, std::string& out) {
  out.assign(src, n);
  if (volume == 0xFFFFFFFFu) return;
  DWORD left = volume & 0xFFFF, right = volume >> 16;
  if (fmt.wBitsPerSample == 16) {
    for (DWORD i = 0; i + 1 < n; i += 2) {
      DWORD gain = (fmt.nChannels == 2 && (i / 2) % 2 == 1) ? right : left;
      auto s = static_cast<int16_t>(static_cast<uint8_t>(out[i]) | static_cast<uint8_t>(out[i + 1]) << 8);
      int v = static_cast<int>(static_cast<long long>(s) * gain / 65535);
      out[i] = static_cast<char>(v & 0xFF);
      out[i + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
  } else {
    for (DWORD i = 0; i < n; ++i) {
      DWORD gain = (fmt.nChannels == 2 && i % 2 == 1) ? right : left;
      int s = static_cast<uint8_t>(out[i]) - 128;
      out[i] = static_cast<char>(128 + static_cast<int>(static_cast<long long>(s) * gain / 65535));
    }
  }
}

void OutputCallback(OutDevice* d, UINT msg, DWORD_PTR p1) {
  if (d->callback)
    reinterpret_cast<WAVEOUTPROC>(d->callback)(reinterpret_cast<HWAVEOUT>(d), msg, d->instance, p1, 0);
}
void InputCallback(InDevice* d, UINT msg, DWORD_PTR p1) {
  if (d->callback)
    reinterpret_cast<WAVEINPROC>(d->callback)(reinterpret_cast<HWAVEIN>(d), msg, d->instance, p1, 0);
}

// Hands back every queued header; called with the lock held, releases it around the
// callbacks.
template <typename D, typename F>
void FlushQueue(D* d, std::unique_lock<std::mutex>& lock, F callback) {
  while (!d->queue.empty()) {
    WAVEHDR* h = d->queue.front();
    d->queue.pop_front();
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    lock.unlock();
    callback(h);
    lock.lock();
  }
  d->clockRunning = false;
}

void OutputDriver(OutDevice* d) {
  std::unique_lock lock(d->mutex);
  std::string scaled;
  for (;;) {
    // Whether the next buffer was already waiting when the previous one ended: the device never
    // ran dry, so its timeline goes on from the previous deadline.
    const bool fed = d->clockRunning && !d->paused && !d->queue.empty();
    d->wake.wait(lock, [&] { return d->quit || d->flushRequested || (!d->paused && !d->queue.empty()); });
    if (d->flushRequested) {
      d->busy = true;
      FlushQueue(d, lock, [&](WAVEHDR* h) { OutputCallback(d, WOM_DONE, reinterpret_cast<DWORD_PTR>(h)); });
      d->flushRequested = false;
      d->busy = false;
      d->idle.notify_all();
      continue;
    }
    if (d->quit) break;
    WAVEHDR* h = d->queue.front();
    // The buffer is sent to the sink when it starts to play and handed back when its
    // time is over, so two queued buffers keep the sink busy.
    // A real sink plays the samples it holds at its own rate, so a late wake-up of this thread
    // does not delay the sound. Without one (file and null backends) the timeline is the sample
    // count: a buffer that was waiting starts where the previous one ended, however late the
    // thread runs, else late wake-ups would add up and the played position would drift behind
    // the sound handed over. An SDL sink starves when this thread is late, so it restarts now.
    auto now = Clock::now();
    const bool continuous = fed && d->sdl == 0;
    if (!d->clockRunning || (d->deadline < now && !continuous)) d->deadline = now;
    d->clockRunning = true;
    DWORD n = h->dwBufferLength;
    ApplyVolume(d->format, d->volume, h->lpData, n, scaled);
    if (d->file) {
      std::fwrite(scaled.data(), 1, scaled.size(), d->file);
      d->dataBytes += n;
      WriteWavHeader(d->file, d->format, d->dataBytes);
      std::fflush(d->file);
    } else if (d->sdl) {
      SDL_QueueAudio(d->sdl, scaled.data(), static_cast<Uint32>(scaled.size()));
    }
    d->deadline += d->Duration(n);
    bool interrupted = d->wake.wait_until(lock, d->deadline, [&] { return d->quit || d->flushRequested; });
    if (interrupted) continue;  // the reset hands this header back with the rest
    if (d->queue.empty() || d->queue.front() != h) continue;
    d->queue.pop_front();
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d->busy = true;
    lock.unlock();
    OutputCallback(d, WOM_DONE, reinterpret_cast<DWORD_PTR>(h));
    lock.lock();
    d->busy = false;
    d->idle.notify_all();
  }
  const bool orphaned = d->orphaned;
  lock.unlock();
  if (orphaned) delete d;  // nothing touches the record after this
}

// Fills `dst` with `n` bytes from the input source; silence once it is exhausted.
void CaptureInto(InDevice* d, char* dst, DWORD n) {
  DWORD got = 0;
  if (d->file && d->dataLeft > 0) {
    DWORD want = static_cast<DWORD>(std::min<long>(d->dataLeft, n));
    got = static_cast<DWORD>(std::fread(dst, 1, want, d->file));
    d->dataLeft -= got;
    if (got < want) d->dataLeft = 0;
  } else if (d->sdl) {
    got = SDL_DequeueAudio(d->sdl, dst, n);
  }
  if (got < n) std::memset(dst + got, d->format.wBitsPerSample == 8 ? 0x80 : 0, n - got);
}

void InputDriver(InDevice* d) {
  std::unique_lock lock(d->mutex);
  for (;;) {
    d->wake.wait(lock, [&] { return d->quit || d->flushRequested || (!d->paused && !d->queue.empty()); });
    if (d->flushRequested) {
      d->busy = true;
      FlushQueue(d, lock, [&](WAVEHDR* h) {
        h->dwBytesRecorded = 0;
        InputCallback(d, WIM_DATA, reinterpret_cast<DWORD_PTR>(h));
      });
      d->flushRequested = false;
      d->busy = false;
      d->idle.notify_all();
      continue;
    }
    if (d->quit) break;
    WAVEHDR* h = d->queue.front();
    auto now = Clock::now();
    if (!d->clockRunning || d->deadline < now) d->deadline = now;
    d->clockRunning = true;
    d->deadline += d->Duration(h->dwBufferLength);
    bool interrupted =
        d->wake.wait_until(lock, d->deadline, [&] { return d->quit || d->flushRequested || d->paused; });
    if (interrupted) {
      d->clockRunning = false;
      continue;
    }
    if (d->queue.empty() || d->queue.front() != h) continue;
    d->queue.pop_front();
    CaptureInto(d, h->lpData, h->dwBufferLength);
    h->dwBytesRecorded = h->dwBufferLength;
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    d->busy = true;
    lock.unlock();
    InputCallback(d, WIM_DATA, reinterpret_cast<DWORD_PTR>(h));
    lock.lock();
    d->busy = false;
    d->idle.notify_all();
  }
  const bool orphaned = d->orphaned;
  lock.unlock();
  if (orphaned) delete d;  // nothing touches the record after this
}

// Asks the driver thread to hand every header back and waits for it; from the driver
// thread itself (a callback resetting its own device) the flush runs inline.
template <typename D, typename F>
void ResetDevice(D* d, F callback) {
  std::unique_lock lock(d->mutex);
  if (std::this_thread::get_id() == d->driverId) {
    FlushQueue(d, lock, callback);
    return;
  }
  d->flushRequested = true;
  d->wake.notify_all();
  d->idle.wait(lock, [&] { return !d->flushRequested && !d->busy; });
}

MMRESULT CheckHeader(WAVEHDR* h, UINT size) {
  if (!h || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

void StopDriver(Device* d) {
  {
    std::lock_guard lock(d->mutex);
    d->quit = true;
  }
  d->wake.notify_all();
  if (d->driver.joinable()) {
    if (std::this_thread::get_id() == d->driverId)
      d->driver.detach();
    else
      d->driver.join();
  }
}

// Opens the file backend's input WAV and positions it at its data chunk.
bool OpenInputFile(InDevice* d) {
  const char* path = std::getenv("TESSERA_AUDIO_IN");
  if (!path || !*path) return true;  // no file: silence
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char head[12];
  if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    std::fclose(f);
    return false;
  }
  bool haveFormat = false;
  for (;;) {
    unsigned char ch[8];
    if (std::fread(ch, 1, 8, f) != 8) break;
    DWORD size = GetLe32(ch + 4);
    if (std::memcmp(ch, "fmt ", 4) == 0 && size >= 16) {
      unsigned char fm[16];
      if (std::fread(fm, 1, 16, f) != 16) break;
      haveFormat = GetLe16(fm) == WAVE_FORMAT_PCM && GetLe16(fm + 2) == d->format.nChannels &&
                   GetLe32(fm + 4) == d->format.nSamplesPerSec &&
                   GetLe16(fm + 14) == d->format.wBitsPerSample;
      if (std::fseek(f, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0) break;
    } else if (std::memcmp(ch, "data", 4) == 0) {
      if (!haveFormat) break;
      d->file = f;
      d->dataLeft = static_cast<long>(size);
      return true;
    } else if (std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
      break;
    }
  }
  std::fclose(f);
  return false;
}

}  // namespace

UINT waveOutGetNumDevs() {
  return 1;
}

MMRESULT waveOutGetDevCaps(UINT deviceId, WAVEOUTCAPS* caps, UINT size) {
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (!caps || size < sizeof(WAVEOUTCAPS)) return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof *caps);
  const char16_t name[] = u"Wave Out";
  std::memcpy(caps->szPname, name, sizeof name);
  caps->dwFormats = 0xFFF;
  caps->wChannels = 2;
  caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
  return MMSYSERR_NOERROR;
}

// Header preparation is the same in both directions; `d` is null for an unknown handle.
MMRESULT PrepareHeader(Device* d, WAVEHDR* header, UINT size) {
  if (!d) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckHeader(header, size)) return r;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(Device* d, WAVEHDR* header, UINT size) {
  if (!d) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckHeader(header, size)) return r;
  std::lock_guard lock(d->mutex);
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

// An SDL device for the format, or 0 when SDL audio is unavailable.
SDL_AudioDeviceID OpenSdlDevice(const WAVEFORMATEX& format, bool capture) {
  if (!SdlAudioReady()) return 0;
  SDL_AudioSpec want{}, have{};
  want.freq = static_cast<int>(format.nSamplesPerSec);
  want.format = format.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  want.channels = static_cast<Uint8>(format.nChannels);
  want.samples = 1024;
  return SDL_OpenAudioDevice(nullptr, capture ? 1 : 0, &want, &have, 0);
}

// Lists the device as open and starts its driver thread.
template <class D>
void LaunchDriver(D* d, std::set<void*>& open, void (*driver)(D*)) {
  {
    std::lock_guard lock(gRegistryMutex);
    open.insert(d);
  }
  std::lock_guard lock(d->mutex);
  d->driver = std::thread(driver, d);
  d->driverId = d->driver.get_id();
}

// Takes the device off the open list and stops its driver; false while buffers are queued.
template <class D>
bool Retire(D* d, std::set<void*>& open) {
  {
    std::lock_guard lock(d->mutex);
    if (!d->queue.empty()) return false;
  }
  {
    std::lock_guard lock(gRegistryMutex);
    open.erase(d);
  }
  StopDriver(d);
  if (d->sdl) SDL_CloseAudioDevice(d->sdl);
  return true;
}

// Closed from its own callback: the (now detached) driver thread returns from the callback,
// sees the quit flag and frees the record as its last act.
bool OrphanIfOwnThread(Device* d) {
  if (std::this_thread::get_id() != d->driverId) return false;
  std::lock_guard lock(d->mutex);
  d->orphaned = true;
  return true;
}

MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags) {
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if ((flags & 0x00070000) != CALLBACK_FUNCTION && (flags & 0x00070000) != CALLBACK_NULL)
    return MMSYSERR_INVALFLAG;
  if (!FormatValid(format)) return WAVERR_BADFORMAT;
  if (!device) return MMSYSERR_INVALPARAM;
  auto* d = new (std::nothrow) OutDevice;
  if (!d) return MMSYSERR_NOMEM;
  d->format = *format;
  d->format.nBlockAlign = static_cast<WORD>(format->nChannels * format->wBitsPerSample / 8);
  d->format.nAvgBytesPerSec = d->format.nBlockAlign * format->nSamplesPerSec;
  d->format.cbSize = 0;
  d->callback = (flags & 0x00070000) == CALLBACK_FUNCTION ? callback : 0;
  d->instance = instance;
  d->backend = SelectedBackend();
  if (d->backend == Backend::Sdl) {
    d->sdl = OpenSdlDevice(d->format, false);
    if (d->sdl) SDL_PauseAudioDevice(d->sdl, 0);
    if (!d->sdl) d->backend = Backend::Null;
  } else if (d->backend == Backend::File) {
    std::u16string dir = platform::JoinPath(platform::DeviceRoot(), u"audio-out");
    std::string native = platform::NativePath(dir);
    std::error_code ec;
    std::filesystem::create_directories(native, ec);
    std::string name =
        "wave-out-" + std::to_string(::getpid()) + "-" + std::to_string(++gFileCounter) + ".wav";
    d->filePath = platform::JoinPath(dir, platform::Utf8ToUtf16(name));
    d->file = std::fopen(platform::NativePath(d->filePath).c_str(), "wb+");
    if (!d->file) {
      delete d;
      return MMSYSERR_NODRIVER;
    }
    WriteWavHeader(d->file, d->format, 0);
    std::fflush(d->file);
  }
  *device = reinterpret_cast<HWAVEOUT>(d);
  LaunchDriver(d, gOutDevices, OutputDriver);
  OutputCallback(d, WOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT device) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!Retire(d, gOutDevices)) return WAVERR_STILLPLAYING;
  if (d->file) {
    WriteWavHeader(d->file, d->format, d->dataBytes);
    std::fclose(d->file);
  }
  OutputCallback(d, WOM_CLOSE, 0);
  if (OrphanIfOwnThread(d)) return MMSYSERR_NOERROR;
  delete d;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
  return PrepareHeader(LookupOut(device), header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size) {
  return UnprepareHeader(LookupOut(device), header, size);
}

MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckHeader(header, size)) return r;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (!header->lpData && header->dwBufferLength) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(d->mutex);
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  // Whole sample frames only; a trailing partial frame would shift every later sample.
  header->dwBufferLength -= header->dwBufferLength % d->format.nBlockAlign;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  d->queue.push_back(header);
  d->wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT device) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(d->mutex);
  d->paused = true;
  if (d->sdl) SDL_PauseAudioDevice(d->sdl, 1);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT device) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(d->mutex);
  d->paused = false;
  if (d->sdl) SDL_PauseAudioDevice(d->sdl, 0);
  d->wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT device) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  ResetDevice(d, [&](WAVEHDR* h) { OutputCallback(d, WOM_DONE, reinterpret_cast<DWORD_PTR>(h)); });
  std::lock_guard lock(d->mutex);
  d->paused = false;
  if (d->sdl) {
    SDL_ClearQueuedAudio(d->sdl);
    SDL_PauseAudioDevice(d->sdl, 0);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(d->mutex);
  d->volume = volume;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume) {
  OutDevice* d = LookupOut(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!volume) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(d->mutex);
  *volume = d->volume;
  return MMSYSERR_NOERROR;
}

UINT waveInGetNumDevs() {
  return 1;
}

MMRESULT waveInGetDevCaps(UINT deviceId, WAVEINCAPS* caps, UINT size) {
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if (!caps || size < sizeof(WAVEINCAPS)) return MMSYSERR_INVALPARAM;
  std::memset(caps, 0, sizeof *caps);
  const char16_t name[] = u"Wave In";
  std::memcpy(caps->szPname, name, sizeof name);
  caps->dwFormats = 0xFFF;
  caps->wChannels = 1;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
  if (deviceId != 0 && deviceId != WAVE_MAPPER) return MMSYSERR_BADDEVICEID;
  if ((flags & 0x00070000) != CALLBACK_FUNCTION && (flags & 0x00070000) != CALLBACK_NULL)
    return MMSYSERR_INVALFLAG;
  if (!FormatValid(format)) return WAVERR_BADFORMAT;
  if (!device) return MMSYSERR_INVALPARAM;
  auto* d = new (std::nothrow) InDevice;
  if (!d) return MMSYSERR_NOMEM;
  d->format = *format;
  d->format.nBlockAlign = static_cast<WORD>(format->nChannels * format->wBitsPerSample / 8);
  d->format.nAvgBytesPerSec = d->format.nBlockAlign * format->nSamplesPerSec;
  d->callback = (flags & 0x00070000) == CALLBACK_FUNCTION ? callback : 0;
  d->instance = instance;
  d->paused = true;
  d->backend = SelectedBackend();
  if (d->backend == Backend::File) {
    // An input file that is missing or of another format is no device at all.
    if (!OpenInputFile(d)) {
      delete d;
      return WAVERR_BADFORMAT;
    }
  } else if (d->backend == Backend::Sdl) {
    d->sdl = OpenSdlDevice(d->format, true);
    if (!d->sdl) d->backend = Backend::Null;
  }
  *device = reinterpret_cast<HWAVEIN>(d);
  LaunchDriver(d, gInDevices, InputDriver);
  InputCallback(d, WIM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN device) {
  InDevice* d = LookupIn(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (!Retire(d, gInDevices)) return WAVERR_STILLPLAYING;
  if (d->file) std::fclose(d->file);
  InputCallback(d, WIM_CLOSE, 0);
  if (OrphanIfOwnThread(d)) return MMSYSERR_NOERROR;
  delete d;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) {
  return PrepareHeader(LookupIn(device), header, size);
}

MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT size) {
  return UnprepareHeader(LookupIn(device), header, size);
}

MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT size) {
  InDevice* d = LookupIn(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = CheckHeader(header, size)) return r;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (!header->lpData || header->dwBufferLength < d->format.nBlockAlign) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(d->mutex);
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwBufferLength -= header->dwBufferLength % d->format.nBlockAlign;
  header->dwBytesRecorded = 0;
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  d->queue.push_back(header);
  d->wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN device) {
  InDevice* d = LookupIn(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(d->mutex);
  if (d->paused && d->sdl) SDL_PauseAudioDevice(d->sdl, 0);
  d->paused = false;
  d->wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN device) {
  InDevice* d = LookupIn(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  std::lock_guard lock(d->mutex);
  d->paused = true;
  if (d->sdl) SDL_PauseAudioDevice(d->sdl, 1);
  d->wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInReset(HWAVEIN device) {
  InDevice* d = LookupIn(device);
  if (!d) return MMSYSERR_INVALHANDLE;
  {
    std::lock_guard lock(d->mutex);
    d->paused = true;
    if (d->sdl) SDL_PauseAudioDevice(d->sdl, 1);
  }
  ResetDevice(d, [&](WAVEHDR* h) {
    h->dwBytesRecorded = 0;
    InputCallback(d, WIM_DATA, reinterpret_cast<DWORD_PTR>(h));
  });
  return MMSYSERR_NOERROR;
}

namespace {

// sndPlaySound: reads a PCM WAV file whole and plays it through its own device.
struct SoundJob {
  std::string data;
  WAVEFORMATEX format{};
  WAVEHDR header{};
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
};

void SoundCallback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (message != WOM_DONE) return;
  auto* job = reinterpret_cast<SoundJob*>(instance);
  std::lock_guard lock(job->mutex);
  job->finished = true;
  job->done.notify_all();
}

bool LoadWav(const std::string& path, SoundJob& job) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string all;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  std::fclose(f);
  auto* p = reinterpret_cast<const unsigned char*>(all.data());
  if (all.size() < 12 || std::memcmp(p, "RIFF", 4) || std::memcmp(p + 8, "WAVE", 4)) return false;
  size_t pos = 12;
  bool haveFormat = false;
  while (pos + 8 <= all.size()) {
    DWORD size = GetLe32(p + pos + 4);
    size_t body = pos + 8;
    size_t avail = all.size() - body;
    if (!std::memcmp(p + pos, "fmt ", 4) && size >= 16 && avail >= 16) {
      job.format.wFormatTag = GetLe16(p + body);
      job.format.nChannels = GetLe16(p + body + 2);
      job.format.nSamplesPerSec = GetLe32(p + body + 4);
      job.format.wBitsPerSample = GetLe16(p + body + 14);
      job.format.nBlockAlign = static_cast<WORD>(job.format.nChannels * job.format.wBitsPerSample / 8);
      job.format.nAvgBytesPerSec = job.format.nBlockAlign * job.format.nSamplesPerSec;
      haveFormat = FormatValid(&job.format);
    } else if (!std::memcmp(p + pos, "data", 4)) {
      if (!haveFormat) return false;
      job.data = all.substr(body, std::min<size_t>(size, avail));
      return !job.data.empty();
    }
    if (size > avail) return false;
    pos = body + size + (size & 1);
  }
  return false;
}

std::mutex gSoundMutex;
std::thread gSoundThread;

void PlayJob(SoundJob* job) {
  HWAVEOUT out = nullptr;
  if (waveOutOpen(&out, WAVE_MAPPER, &job->format, reinterpret_cast<DWORD_PTR>(&SoundCallback),
                  reinterpret_cast<DWORD_PTR>(job), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
    return;
  job->header.lpData = job->data.data();
  job->header.dwBufferLength = static_cast<DWORD>(job->data.size());
  waveOutPrepareHeader(out, &job->header, sizeof job->header);
  if (waveOutWrite(out, &job->header, sizeof job->header) == MMSYSERR_NOERROR) {
    std::unique_lock lock(job->mutex);
    job->done.wait(lock, [&] { return job->finished; });
  }
  waveOutUnprepareHeader(out, &job->header, sizeof job->header);
  waveOutClose(out);
}

}  // namespace

BOOL sndPlaySound(LPCWSTR soundName, UINT flags) {
  std::lock_guard lock(gSoundMutex);
  if (gSoundThread.joinable()) gSoundThread.join();
  if (!soundName) return TRUE;
  std::u16string name(soundName);
  auto job = std::make_unique<SoundJob>();
  if (!LoadWav(platform::NativePath(name), *job)) return FALSE;
  if (flags & SND_ASYNC) {
    gSoundThread = std::thread([j = std::move(job)] { PlayJob(j.get()); });
  } else {
    PlayJob(job.get());
  }
  return TRUE;
}

std::u16string platform::WaveOutFilePath(HWAVEOUT device) {
  OutDevice* d = LookupOut(device);
  return d ? d->filePath : std::u16string();
}
