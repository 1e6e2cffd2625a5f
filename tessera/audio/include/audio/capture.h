#pragma once
/// Voice capture: 8 kHz 16-bit mono PCM from the wave-input device, encoded in real time
/// through "amr.enc" or appended to a WAV file whose 46-byte header is rewritten at stop.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/amr_encoder_api.h"
#include "audio/clip_player.h"
#include "platform/module.h"
#include "platform/wave.h"

namespace audio {

inline constexpr UINT kMsgCommand = 273;                    // WM_COMMAND
inline constexpr WPARAM kCmdRecordKey = 40057;              // the recorder's left soft key
inline constexpr std::uint32_t kCaptureBufferBytes = 3200;  // 200 ms
inline constexpr std::uint32_t kRecordingHeaderBytes = 46;

/// The capture format: PCM, mono, 8000 Hz, 16 bits.
WAVEFORMATEX CaptureFormat();

/// Longest recording for the send size limit: sendDefault × ratio × 5 / 800 ms, at
/// least 1000 ms.
int MaxRecordingMs(std::uint32_t sendDefault, std::uint32_t recordFileRatio);

/// The 46-byte header (18-byte format chunk) for `dataBytes` of samples;
/// 0xFFFFFFFF writes the placeholder header of a recording in progress.
void BuildRecordingHeader(std::uint32_t dataBytes, std::uint8_t out[kRecordingHeaderBytes]);
/// Creates (truncates) `path` with the placeholder header. False when it cannot.
bool BeginWavRecording(const std::u16string& path);
/// Rewrites the header with the sizes taken from the file's length. False on failure.
bool FinishWavRecording(const std::u16string& path);

/// The encoder library "amr.enc" and its entry points (any may be missing).
class AmrEncoderLibrary {
 public:
  AmrEncoderLibrary() = default;
  ~AmrEncoderLibrary();
  AmrEncoderLibrary(const AmrEncoderLibrary&) = delete;
  AmrEncoderLibrary& operator=(const AmrEncoderLibrary&) = delete;

  /// Loads "amr.enc" from `folder`; false when the library is missing.
  bool Load(const std::u16string& folder);
  void Free();
  bool RealTime() const { return start && encode; }

  VctPcm2AmrRtStartFn start = nullptr;
  VctPcm2AmrRtEncodeFn encode = nullptr;
  VctPcm2AmrRtEndFn end = nullptr;
  VctWav2AmrFn wav2amr = nullptr;

 private:
  HMODULE module_ = nullptr;
};

class CaptureEngine {
 public:
  /// `owner` receives 1227 (elapsed, maximum) and, at the maximum, WM_COMMAND 40057,
  /// through `post`. `encoder` may be null (WAV recording).
  CaptureEngine(void* owner, PostFn post, const AmrEncoderLibrary* encoder);
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  /// Starts recording into `path` (AMR through the real-time encoder, else appended
  /// raw to the file). 1 on success, 0 on failure (nothing is left open).
  int Start(const std::u16string& path, int maxMs);
  /// 1 when a recording with data was stopped, 0 otherwise.
  int Stop();

  bool recording() const { return recording_; }
  int elapsedMs() const { return elapsed_; }
  bool stopRequested() const { return stopRequested_; }

 private:
  static void DeviceProc(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2);
  void OnData(WAVEHDR* header);
  bool QueueBuffer(int index);
  void Release();

  void* owner_;
  PostFn post_;
  const AmrEncoderLibrary* encoder_;
  std::mutex mutex_;  // brackets the capture callback's work against Stop
  HWAVEIN device_ = nullptr;
  WAVEHDR headers_[2]{};
  int nextHeader_ = 0;
  std::uint8_t* buffers_[3]{};
  int index_ = 0;
  std::FILE* file_ = nullptr;
  HANDLE rt_ = nullptr;
  std::atomic<bool> recording_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> elapsed_{0};
  int maxMs_ = 0;
  bool wroteData_ = false;
  bool outputFailed_ = false;
};

}  // namespace audio
