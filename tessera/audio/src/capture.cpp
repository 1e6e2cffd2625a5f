// Capture: three 3200-byte buffers, two of them queued at the device through two
// alternating headers; each filled buffer is handed to the encoder or the file while
// the device fills the other two.
#include "audio/capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/paths.h"

namespace audio {
namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

WAVEFORMATEX CaptureFormat() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.nAvgBytesPerSec = 16000;
  f.nBlockAlign = 2;
  f.wBitsPerSample = 16;
  f.cbSize = 0;
  return f;
}

int MaxRecordingMs(std::uint32_t sendDefault, std::uint32_t recordFileRatio) {
  // 64-bit: a large size limit times the ratio overflows 32 bits.
  std::uint64_t ms = std::uint64_t(sendDefault) * recordFileRatio * 5 / 800;
  return static_cast<int>(std::clamp<std::uint64_t>(ms, 1000, 0x7FFFFFFF));
}

void BuildRecordingHeader(std::uint32_t dataBytes, std::uint8_t out[kRecordingHeaderBytes]) {
  WAVEFORMATEX f = CaptureFormat();
  std::memcpy(out, "RIFF", 4);
  // Placeholder RIFF size of a recording in progress: the header alone.
  PutLe32(out + 4,
          dataBytes == 0xFFFFFFFFu ? kRecordingHeaderBytes - 8 : dataBytes + kRecordingHeaderBytes - 8);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  PutLe32(out + 16, 18);
  PutLe16(out + 20, f.wFormatTag);
  PutLe16(out + 22, f.nChannels);
  PutLe32(out + 24, f.nSamplesPerSec);
  PutLe32(out + 28, f.nAvgBytesPerSec);
  PutLe16(out + 32, f.nBlockAlign);
  PutLe16(out + 34, f.wBitsPerSample);
  PutLe16(out + 36, 0);
  std::memcpy(out + 38, "data", 4);
  PutLe32(out + 42, dataBytes);
}

bool BeginWavRecording(const std::u16string& path) {
  std::FILE* f = std::fopen(platform::NativePath(path).c_str(), "wb");
  if (!f) return false;
  std::uint8_t h[kRecordingHeaderBytes];
  BuildRecordingHeader(0xFFFFFFFFu, h);
  bool ok = std::fwrite(h, 1, sizeof h, f) == sizeof h;
  return std::fclose(f) == 0 && ok;
}

bool FinishWavRecording(const std::u16string& path) {
  std::FILE* f = std::fopen(platform::NativePath(path).c_str(), "rb+");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  long length = ok ? std::ftell(f) : -1;
  ok = ok && length >= static_cast<long>(kRecordingHeaderBytes) && length <= 0xFFFFFFFFL;
  if (ok) {
    std::uint8_t h[kRecordingHeaderBytes];
    BuildRecordingHeader(static_cast<std::uint32_t>(length - kRecordingHeaderBytes), h);
    ok = std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, f) == sizeof h;
  }
  return std::fclose(f) == 0 && ok;
}

AmrEncoderLibrary::~AmrEncoderLibrary() {
  Free();
}

bool AmrEncoderLibrary::Load(const std::u16string& folder) {
  Free();
  std::u16string path = platform::JoinPath(folder, u"amr.enc");
  module_ = LoadLibrary(path.c_str());
  if (!module_) return false;
  start = reinterpret_cast<VctPcm2AmrRtStartFn>(GetProcAddress(module_, "VCT_Pcm2Amr_RT_Start"));
  encode = reinterpret_cast<VctPcm2AmrRtEncodeFn>(GetProcAddress(module_, "VCT_Pcm2Amr_RT_Encode"));
  end = reinterpret_cast<VctPcm2AmrRtEndFn>(GetProcAddress(module_, "VCT_Pcm2Amr_RT_End"));
  wav2amr = reinterpret_cast<VctWav2AmrFn>(GetProcAddress(module_, "VCT_Wav2Amr"));
  return true;
}

void AmrEncoderLibrary::Free() {
  start = nullptr;
  encode = nullptr;
  end = nullptr;
  wav2amr = nullptr;
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
}

CaptureEngine::CaptureEngine(void* owner, PostFn post, const AmrEncoderLibrary* encoder)
    : owner_(owner), post_(post), encoder_(encoder) {}

CaptureEngine::~CaptureEngine() {
  Stop();
  Release();
}

void CaptureEngine::DeviceProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  if (message != WIM_DATA) return;
  auto* self = reinterpret_cast<CaptureEngine*>(instance);
  if (!self->recording_) return;
  std::lock_guard lock(self->mutex_);
  if (!self->recording_) return;
  self->OnData(reinterpret_cast<WAVEHDR*>(param1));
}

bool CaptureEngine::QueueBuffer(int index) {
  WAVEHDR& h = headers_[nextHeader_];
  nextHeader_ ^= 1;
  std::memset(buffers_[index], 0, kCaptureBufferBytes);
  std::memset(&h, 0, sizeof h);
  h.lpData = reinterpret_cast<char*>(buffers_[index]);
  h.dwBufferLength = kCaptureBufferBytes;
  h.dwUser = static_cast<DWORD_PTR>(index);
  if (waveInPrepareHeader(device_, &h, sizeof h) != MMSYSERR_NOERROR) return false;
  if (waveInAddBuffer(device_, &h, sizeof h) != MMSYSERR_NOERROR) {
    waveInUnprepareHeader(device_, &h, sizeof h);
    return false;
  }
  return waveInStart(device_) == MMSYSERR_NOERROR;
}

int CaptureEngine::Start(const std::u16string& path, int maxMs) {
  if (recording_) return 0;
  WAVEFORMATEX format = CaptureFormat();
  if (waveInOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&DeviceProc),
                 reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    device_ = nullptr;
    return 0;
  }
  for (auto& b : buffers_) {
    b = new (std::nothrow) std::uint8_t[kCaptureBufferBytes];
    if (!b) {
      Release();
      return 0;
    }
  }
  if (encoder_ && encoder_->RealTime()) {
    rt_ = encoder_->start(path.c_str());
    if (!rt_) {
      Release();
      return 0;
    }
  } else {
    file_ = std::fopen(platform::NativePath(path).c_str(), "ab+");
    if (!file_) {
      Release();
      return 0;
    }
  }
  maxMs_ = maxMs;
  index_ = 0;
  nextHeader_ = 0;
  elapsed_ = 0;
  stopRequested_ = false;
  wroteData_ = false;
  outputFailed_ = false;
  {
    std::lock_guard lock(mutex_);
    recording_ = true;  // before queueing: the first buffer may come back at once
    bool ok = QueueBuffer(index_);
    index_ = (index_ + 1) % 3;
    ok = ok && QueueBuffer(index_);
    if (!ok) recording_ = false;
  }
  if (!recording_) {
    waveInReset(device_);
    Release();
    return 0;
  }
  return 1;
}

void CaptureEngine::OnData(WAVEHDR* header) {
  DWORD bytes = std::min<DWORD>(header->dwBytesRecorded, kCaptureBufferBytes);
  waveInUnprepareHeader(device_, header, sizeof(WAVEHDR));
  int old = index_;
  index_ = (index_ + 1) % 3;
  QueueBuffer(index_);
  const std::uint8_t* done = buffers_[(old + 2) % 3];
  if (bytes) {
    if (rt_) {
      encoder_->encode(rt_, done, bytes, 0, 0);
      wroteData_ = true;
    } else if (file_) {
      if (std::fwrite(done, 1, bytes, file_) == bytes)
        wroteData_ = true;
      else
        outputFailed_ = true;
    }
  }
  elapsed_ += static_cast<int>(bytes / 16);
  if (elapsed_ < maxMs_) {
    if (post_) post_(owner_, kMsgAudioProgress, static_cast<WPARAM>(elapsed_.load()), maxMs_);
  } else if (!stopRequested_.exchange(true)) {
    if (post_) post_(owner_, kMsgCommand, kCmdRecordKey, 0);
  }
}

int CaptureEngine::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!recording_) return 0;
    recording_ = false;
  }
  waveInStop(device_);
  waveInReset(device_);
  bool hadData = wroteData_ && !outputFailed_;
  Release();
  return hadData ? 1 : 0;
}

void CaptureEngine::Release() {
  if (device_) {
    for (auto& h : headers_)
      if (h.dwFlags & WHDR_PREPARED) waveInUnprepareHeader(device_, &h, sizeof h);
  }
  if (file_) {
    if (std::fclose(file_) != 0) outputFailed_ = true;
    file_ = nullptr;
  }
  if (rt_) {
    if (encoder_ && encoder_->end) encoder_->end(rt_);
    rt_ = nullptr;
  }
  for (auto& b : buffers_) {
    delete[] b;
    b = nullptr;
  }
  if (device_) waveInClose(device_);
  device_ = nullptr;
  std::memset(headers_, 0, sizeof headers_);
}

}  // namespace audio
