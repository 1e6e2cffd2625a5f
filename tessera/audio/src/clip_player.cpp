// The clip player streams a decoder's PCM through three equal buffers, two of them
// queued at the device while the third waits decoded; buffer-done callbacks on the wave
// driver's thread queue the waiting buffer and decode into the finished one.
#include "audio/clip_player.h"

#include <algorithm>
#include <cstring>

#include "audio/wav_reader.h"
#include "mms/byte_stream.h"
#include "platform/paths.h"

namespace audio {

ClipType RecogniseClip(const std::uint8_t* head, std::size_t size) {
  if (!head || size < 4) return ClipType::Unknown;
  if (std::memcmp(head, "#!AM", 4) == 0) return ClipType::Amr;
  if (std::memcmp(head, "MThd", 4) == 0) return ClipType::Midi;
  if (std::memcmp(head, "RIFF", 4) == 0 && size >= 12) {
    if (std::memcmp(head + 8, "WAVE", 4) == 0) return ClipType::Wav;
    if (std::memcmp(head + 8, "RMID", 4) == 0) return ClipType::Midi;
  }
  return ClipType::Unknown;
}

ClipType RecogniseClip(ClipStream* stream) {
  std::uint8_t head[12] = {};
  if (!stream || stream->Seek(0, ClipStream::kFromStart) != 0) return ClipType::Unknown;
  std::int64_t n = stream->Read(head, sizeof head);
  stream->Seek(0, ClipStream::kFromStart);
  return RecogniseClip(head, static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
}

std::uint32_t ClipBufferSize(int sampleRate, int channels, int bits) {
  std::uint64_t bytes =
      std::uint64_t(std::max(sampleRate, 0)) * std::max(channels, 0) * std::max(bits, 0) / 20;
  return static_cast<std::uint32_t>((bytes + 31) / 32 * 32);
}

WAVEFORMATEX DeviceFormatFor(const ClipPcmFormat& pcm, const WAVEOUTCAPS& caps) {
  WAVEFORMATEX f{};
  f.wFormatTag = (pcm.formatTag == 1 || pcm.formatTag == 2) ? WORD(1) : static_cast<WORD>(pcm.formatTag);
  f.nChannels = pcm.channels > 0 ? static_cast<WORD>(pcm.channels) : caps.wChannels;
  if (pcm.sampleRate > 0) {
    f.nSamplesPerSec = static_cast<DWORD>(pcm.sampleRate);
  } else if (caps.dwFormats & 0x00F) {
    f.nSamplesPerSec = 11025;
  } else if (caps.dwFormats & 0x0F0) {
    f.nSamplesPerSec = 22050;
  } else if (caps.dwFormats & 0xF00) {
    f.nSamplesPerSec = 44100;
  } else {
    f.nSamplesPerSec = 8000;
  }
  f.wBitsPerSample = pcm.bitsPerSample > 0 ? static_cast<WORD>(pcm.bitsPerSample) : WORD(8);
  f.nBlockAlign = static_cast<WORD>(f.wBitsPerSample * f.nChannels / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
  f.cbSize = 0;
  return f;
}

int MapDeviceError(MMRESULT result) {
  switch (result) {
    case MMSYSERR_NOERROR:
      return 0;
    case MMSYSERR_NOTENABLED:
    case MMSYSERR_INVALHANDLE:
      return -1;
    case MMSYSERR_NODRIVER:
      return -4;
    case MMSYSERR_NOMEM:
      return -3;
    default:
      return -5;
  }
}

ByteStreamClip::ByteStreamClip(std::unique_ptr<mms::ByteStream> stream) : stream_(std::move(stream)) {}
ByteStreamClip::~ByteStreamClip() = default;
std::int64_t ByteStreamClip::Read(void* dst, std::int64_t n) {
  return stream_->Read(dst, n);
}
int ByteStreamClip::Seek(std::int64_t offset, int origin) {
  return stream_->Seek(offset, origin);
}
std::int64_t ByteStreamClip::Tell() {
  return stream_->Tell();
}
std::int64_t ByteStreamClip::Size() {
  return stream_->Size();
}

std::unique_ptr<ClipDecoder> MakeDecoder(ClipType type, const std::u16string& folder, HMODULE* library) {
  std::unique_ptr<ClipDecoder> decoder;
  const char16_t* name = nullptr;
  switch (type) {
    case ClipType::Unknown:
      return nullptr;
    case ClipType::Wav:
      decoder = std::make_unique<WavReader>();
      break;
    case ClipType::Amr:
      name = u"Amr.dec";
      break;
    case ClipType::Midi:
      name = u"Midi.dec";
      break;
  }
  if (name) {
    // Only one decoder library at a time. Loading the new one before freeing the old
    // keeps a library that is needed again from being unloaded and reloaded.
    std::u16string path = platform::JoinPath(folder, name);
    HMODULE module = LoadLibrary(path.c_str());
    if (*library) FreeLibrary(*library);
    *library = module;
    if (!module) return nullptr;
    auto get = reinterpret_cast<GetDecoderFn>(GetProcAddress(module, "VC_GetDecoder"));
    if (!get) return nullptr;
    decoder.reset(get());
    if (!decoder) return nullptr;
  }
  decoder->SetFolder(folder.c_str());
  return decoder;
}

ClipPlayer::ClipPlayer() = default;

ClipPlayer::~ClipPlayer() {
  Close();
  if (library_) FreeLibrary(library_);
}

void ClipPlayer::DeviceProc(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  auto* self = reinterpret_cast<ClipPlayer*>(instance);
  if (message == WOM_OPEN) {
    self->deviceOpen_ = true;
  } else if (message == WOM_DONE) {
    // Buffers handed back by a reset are dealt with by the resetting thread.
    if (self->resetting_) return;
    std::lock_guard lock(self->mutex_);
    if (self->resetting_) return;
    self->OnBufferDone(reinterpret_cast<WAVEHDR*>(param1));
  }
}

int ClipPlayer::Open(const std::u16string& path, int flags) {
  Close();
  auto file = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
  if (!file) return -1;
  auto stream = std::make_unique<ByteStreamClip>(std::move(file));
  ClipType type = RecogniseClip(stream.get());
  std::unique_ptr<ClipDecoder> decoder;
  {
    std::lock_guard lock(mutex_);
    decoder = MakeDecoder(type, folder_, &library_);
  }
  if (!decoder) return -1;
  return OpenFromStream(std::move(stream), std::move(decoder), flags);
}

int ClipPlayer::OpenFromStream(std::unique_ptr<ClipStream> stream, std::unique_ptr<ClipDecoder> decoder,
                               int flags) {
  Close();
  if (!stream || !decoder) return -1;
  if (decoder->Open(stream.get(), flags) != 0) return -1;
  ClipPcmFormat pcm = decoder->Format();
  if (waveOutGetNumDevs() < 1) return -4;
  WAVEOUTCAPS caps{};
  if (waveOutGetDevCaps(0, &caps, sizeof caps) != MMSYSERR_NOERROR) return -4;
  WAVEFORMATEX wf = DeviceFormatFor(pcm, caps);
  std::lock_guard lock(mutex_);
  format_.formatTag = wf.wFormatTag;
  format_.channels = wf.nChannels;
  format_.sampleRate = static_cast<int>(wf.nSamplesPerSec);
  format_.bitsPerSample = wf.wBitsPerSample;
  bufferSize_ = ClipBufferSize(format_.sampleRate, format_.channels, format_.bitsPerSample);
  if (bufferSize_ == 0) return -1;
  block_.assign(std::size_t(bufferSize_) * 3, 0);
  deviceOpen_ = false;
  MMRESULT r = waveOutOpen(&device_, WAVE_MAPPER, &wf, reinterpret_cast<DWORD_PTR>(&DeviceProc),
                           reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) {
    device_ = nullptr;
    block_.clear();
    return MapDeviceError(r);
  }
  DWORD v = static_cast<DWORD>(volume_) * 65535 / 100;
  waveOutSetVolume(device_, v | v << 16);
  stream_ = std::move(stream);
  decoder_ = std::move(decoder);
  opened_ = true;
  playState_ = kStopped;
  return 0;
}

int ClipPlayer::Close() {
  Stop();
  HWAVEOUT device;
  {
    std::lock_guard lock(mutex_);
    device = device_;
    device_ = nullptr;
    opened_ = false;
  }
  if (device) {
    MMRESULT r = waveOutClose(device);
    if (r == WAVERR_STILLPLAYING) {
      resetting_ = true;
      waveOutReset(device);
      resetting_ = false;
      waveOutClose(device);
    }
  }
  std::lock_guard lock(mutex_);
  deviceOpen_ = false;
  if (decoder_) decoder_->Close();
  decoder_.reset();
  stream_.reset();
  block_.clear();
  for (auto& q : queued_) q = false;
  playState_ = kStopped;
  return 0;
}

int ClipPlayer::Stop() {
  HWAVEOUT device;
  bool wasActive;
  {
    std::lock_guard lock(mutex_);
    if (!opened_ || !device_) return -1;
    wasActive = playState_ != kStopped;
    playState_ = kStopped;
    resetting_ = true;
    device = device_;
  }
  waveOutReset(device);
  std::lock_guard lock(mutex_);
  for (int i = 0; i < 3; ++i) {
    if (queued_[i]) waveOutUnprepareHeader(device, &headers_[i], sizeof(WAVEHDR));
    queued_[i] = false;
  }
  resetting_ = false;
  if (wasActive) Report(-1);
  return 0;
}

int ClipPlayer::SetVolume(int percent) {
  std::lock_guard lock(mutex_);
  volume_ = std::clamp(percent, 0, 100);
  if (!device_) return opened_ ? -1 : 0;
  DWORD v = static_cast<DWORD>(volume_) * 65535 / 100;
  return MapDeviceError(waveOutSetVolume(device_, v | v << 16));
}

int ClipPlayer::GetVolume() {
  std::lock_guard lock(mutex_);
  if (!device_) return -1;
  DWORD v = 0;
  if (waveOutGetVolume(device_, &v) != MMSYSERR_NOERROR) return -1;
  return static_cast<int>((v & 0xFFFF) * 100 / 65535);
}

int ClipPlayer::Play(int startMs, int endMs, int loops) {
  std::lock_guard lock(mutex_);
  if (!opened_ || playState_ != kStopped || !deviceOpen_ || !decoder_) return -1;
  if (endMs == -1) endMs = decoder_->Duration();
  if (startMs < 0 || endMs <= startMs || loops < -1) return -1;
  int blockAlign = format_.bitsPerSample * format_.channels / 8;
  double bytes =
      double(endMs - startMs) * format_.bitsPerSample * format_.channels * format_.sampleRate / 8000.0;
  totalBytes_ = static_cast<std::int64_t>(bytes);
  totalBytes_ -= totalBytes_ % std::max(blockAlign, 1);
  startMs_ = startMs;
  endMs_ = endMs;
  loops_ = loops == 0 ? 1 : loops;
  if (!StartPass()) return -1;
  return 0;
}

bool ClipPlayer::StartPass() {
  bytesLeft_ = totalBytes_;
  bytesUnqueued_ = totalBytes_;
  playIndex_ = 0;
  if (decoder_->Seek(startMs_) != 0) return false;
  for (int i = 0; i < 3; ++i) {
    int ms = 0;
    int n = decoder_->Read(block_.data() + std::size_t(i) * bufferSize_, static_cast<int>(bufferSize_), &ms);
    filled_[i] = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  }
  if (filled_[0] > 0 && filled_[1] == 0) {
    // The whole sound fits in the first buffer: play it as one full buffer, padded with
    // silence (unsigned 8-bit silence is 0x80).
    std::uint8_t silence = format_.bitsPerSample == 8 ? 0x80 : 0;
    std::memset(block_.data() + filled_[0], silence, bufferSize_ - filled_[0]);
    filled_[0] = bufferSize_;
    bytesLeft_ = bytesUnqueued_ = std::max<std::int64_t>(totalBytes_, bufferSize_);
  }
  bool any = QueueBuffer(0);
  if (any) QueueBuffer(1);
  playState_ = any ? kPlaying : kStopped;
  if (any) Report(startMs_);
  return any;
}

bool ClipPlayer::QueueBuffer(int index) {
  std::int64_t n = std::min<std::int64_t>(filled_[index], bytesUnqueued_);
  if (n <= 0 || !device_) return false;
  WAVEHDR& h = headers_[index];
  std::memset(&h, 0, sizeof h);
  h.lpData = reinterpret_cast<char*>(block_.data() + std::size_t(index) * bufferSize_);
  h.dwBufferLength = static_cast<DWORD>(n);
  h.dwUser = static_cast<DWORD_PTR>(index);
  if (waveOutPrepareHeader(device_, &h, sizeof h) != MMSYSERR_NOERROR) return false;
  if (waveOutWrite(device_, &h, sizeof h) != MMSYSERR_NOERROR) {
    waveOutUnprepareHeader(device_, &h, sizeof h);
    return false;
  }
  filled_[index] = static_cast<std::uint32_t>(n);
  bytesUnqueued_ -= n;
  queued_[index] = true;
  return true;
}

void ClipPlayer::OnBufferDone(WAVEHDR* header) {
  int i = static_cast<int>(header - headers_);
  if (i < 0 || i > 2 || !queued_[i]) return;
  queued_[i] = false;
  waveOutUnprepareHeader(device_, header, sizeof(WAVEHDR));
  if (playState_ == kStopped) return;
  bytesLeft_ = std::max<std::int64_t>(bytesLeft_ - header->dwBufferLength, 0);
  Report(Position());
  std::int64_t bytesPerMs =
      std::int64_t(format_.bitsPerSample) * format_.channels * format_.sampleRate / 8000;
  playIndex_ = (i + 1) % 3;
  if (bytesLeft_ > bytesPerMs && playState_ != kPaused) {
    // The buffer after the one now playing was decoded ahead; queue it, then decode
    // into the buffer just finished.
    int next = (i + 2) % 3;
    if (!queued_[next]) QueueBuffer(next);
    int ms = 0;
    int n = bytesUnqueued_ > 0 ? decoder_->Read(block_.data() + std::size_t(i) * bufferSize_,
                                                static_cast<int>(bufferSize_), &ms)
                               : 0;
    filled_[i] = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  }
  if (queued_[0] || queued_[1] || queued_[2]) return;
  // Nothing left at the device: this pass is over.
  if (loops_ != -1) --loops_;
  if ((loops_ == -1 || loops_ > 0) && StartPass()) return;
  playState_ = kStopped;
  Report(-1);
}

void ClipPlayer::Report(int position) {
  if (!callback_) return;
  int length = decoder_ ? decoder_->Duration() : -1;
  callback_(length, position, user_);
}

int ClipPlayer::Pause() {
  std::lock_guard lock(mutex_);
  if (!opened_ || playState_ != kPlaying) return -1;
  int r = MapDeviceError(waveOutPause(device_));
  if (r == 0) playState_ = kPaused;
  return r;
}

int ClipPlayer::Resume() {
  std::lock_guard lock(mutex_);
  if (!opened_ || playState_ != kPaused) return -1;
  int r = MapDeviceError(waveOutRestart(device_));
  if (r == 0) playState_ = kPlaying;
  return r;
}

int ClipPlayer::Duration() {
  std::lock_guard lock(mutex_);
  return opened_ && decoder_ ? decoder_->Duration() : -1;
}

int ClipPlayer::DecoderDuration() {
  std::lock_guard lock(mutex_);
  return decoder_ ? decoder_->Duration() : -1;
}

int ClipPlayer::Position() {
  std::lock_guard lock(mutex_);
  if (!opened_) return -1;
  std::int64_t perSecond = std::int64_t(format_.bitsPerSample) * format_.channels * format_.sampleRate;
  if (perSecond <= 0) return -1;
  std::int64_t played = std::max<std::int64_t>(totalBytes_ - bytesLeft_, 0);
  std::int64_t pos = startMs_ + played * 8000 / perSecond;
  return static_cast<int>(std::min<std::int64_t>(pos, endMs_));
}

int ClipPlayer::State() {
  std::lock_guard lock(mutex_);
  return opened_ ? playState_ : -1;
}

void ClipPlayer::SetDecoderFolder(const std::u16string& folder) {
  std::lock_guard lock(mutex_);
  folder_ = folder.substr(0, kMaxFolderChars - 1);
}

void ClipPlayer::SetCallback(ClipCallback callback, void* user) {
  std::lock_guard lock(mutex_);
  callback_ = callback;
  user_ = user;
}

AudioClipLoader::AudioClipLoader(const std::u16string& decoderFolder, PostFn post)
    : folder_(decoderFolder.substr(0, kMaxFolderChars - 1)), post_(post) {}

AudioClipLoader::~AudioClipLoader() {
  CloseClip();
}

void AudioClipLoader::Progress(int lengthMs, int positionMs, void* user) {
  auto* self = static_cast<AudioClipLoader*>(user);
  if (self->post_ && self->window_)
    self->post_(self->window_, kMsgAudioProgress, static_cast<WPARAM>(static_cast<LPARAM>(positionMs)),
                lengthMs);
}

int AudioClipLoader::OpenClip(const std::u16string& path, void* notifyWindow) {
  CloseClip();
  auto player = std::make_unique<ClipPlayer>();
  player->SetDecoderFolder(folder_);
  window_ = notifyWindow;
  if (notifyWindow) player->SetCallback(&Progress, this);
  if (player->Open(path, 0) != 0) return -1;
  player_ = std::move(player);
  path_ = path;
  state_ = kOpen;
  return player_->Duration();
}

int AudioClipLoader::PlayClip(int startMs, int endMs, int loops) {
  if (!player_) return -1;
  int r;
  if (state_ == kPaused) {
    r = player_->Resume();
  } else {
    if (player_->State() != ClipPlayer::kStopped) player_->Stop();
    r = player_->Play(startMs, endMs, loops);
  }
  if (r == 0) state_ = kPlaying;
  return r;
}

int AudioClipLoader::PauseClip() {
  if (!player_) return -1;
  int r = player_->Pause();
  if (r == 0) state_ = kPaused;
  return r;
}

int AudioClipLoader::StopClip() {
  if (!player_) return -1;
  player_->Stop();
  state_ = kOpen;
  return 0;
}

int AudioClipLoader::CloseClip() {
  player_.reset();
  path_.clear();
  state_ = kClosed;
  return 0;
}

int AudioClipLoader::ClipDuration(const std::u16string& path) {
  if (path.empty()) return -1;
  // The open player answers for its own file only; another file gets its own decoder.
  if (player_ && path == path_) return player_->Duration();
  auto file = mms::ByteStream::OpenFile(path, mms::ByteStream::kRead);
  if (!file) return -1;
  ByteStreamClip stream(std::move(file));
  HMODULE library = nullptr;
  int duration = -1;
  {
    auto decoder = MakeDecoder(RecogniseClip(&stream), folder_, &library);
    if (decoder && decoder->Open(&stream, 0) == 0) duration = decoder->Duration();
  }
  if (library) FreeLibrary(library);
  return duration;
}

}  // namespace audio
