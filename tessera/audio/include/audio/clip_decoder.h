#pragma once
/// The clip decoder interface shared by the built-in WAV reader and the decoder
/// libraries "Amr.dec" and "Midi.dec" (which export `VC_GetDecoder`). The libraries are
/// built apart from the program, so this header depends on nothing but the platform
/// types: the clip is handed over as an abstract stream.
#include <cstdint>
#include <cstring>

#include "platform/types.h"

namespace audio {

/// Read access to a clip file; the player wraps its `ByteStream` in one.
class ClipStream {
 public:
  enum Origin { kFromStart = 0, kFromEnd = 1, kFromCurrent = 2 };
  virtual ~ClipStream() = default;
  /// Up to n octets; 0 at the end or on error.
  virtual std::int64_t Read(void* dst, std::int64_t n) = 0;
  /// 0, or -1 on failure.
  virtual int Seek(std::int64_t offset, int origin) = 0;
  virtual std::int64_t Tell() = 0;
  virtual std::int64_t Size() = 0;
};

/// PCM a decoder produces; 0 means "not given" (the player then asks the device).
struct ClipPcmFormat {
  int formatTag = 1;
  int channels = 0;
  int sampleRate = 0;
  int bitsPerSample = 0;
};

inline constexpr int kMaxFolderChars = 260;

/// Operations in slot order; the decoder folder follows the interface pointer.
class ClipDecoder {
 public:
  virtual ~ClipDecoder() = default;
  /// 0 on success. The stream stays the caller's and must outlive the decoder's use.
  virtual int Open(ClipStream* stream, int flags) = 0;
  /// Decodes into `buffer`; returns the bytes written (0 at the end, -1 when the buffer
  /// cannot take one unit) and the milliseconds they hold.
  virtual int Read(std::uint8_t* buffer, int capacity, int* milliseconds) = 0;
  /// Moves to `milliseconds` from the start; 0, or -1 on failure.
  virtual int Seek(int milliseconds) = 0;
  /// Current position in milliseconds.
  virtual int Position() = 0;
  virtual void Close() = 0;
  /// Back to the start of the clip.
  virtual void Reset() = 0;
  /// Length in milliseconds, -1 when not open.
  virtual int Duration() = 0;
  /// The PCM the decoder produces; valid after Open.
  virtual ClipPcmFormat Format() = 0;

  /// Copies the decoder folder, truncated to fit.
  void SetFolder(const WCHAR* text) {
    int n = 0;
    if (text)
      for (; n < kMaxFolderChars - 1 && text[n]; ++n) folder_[n] = text[n];
    folder_[n] = 0;
  }
  const WCHAR* Folder() const { return folder_; }

 private:
  WCHAR folder_[kMaxFolderChars] = {};
};

/// Signature of the libraries' export: a new decoder object, destroyed with delete.
using GetDecoderFn = ClipDecoder* (*)();

}  // namespace audio
