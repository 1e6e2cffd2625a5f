#pragma once
/// The built-in WAV reader: PCM RIFF/WAVE files read in units of 40 ms.
#include "audio/clip_decoder.h"

namespace audio {

class WavReader final : public ClipDecoder {
 public:
  int Open(ClipStream* stream, int flags) override;
  int Read(std::uint8_t* buffer, int capacity, int* milliseconds) override;
  int Seek(int milliseconds) override;
  int Position() override;
  void Close() override;
  void Reset() override;
  int Duration() override;
  ClipPcmFormat Format() override { return format_; }

  // What Open found, for tests and tools.
  std::uint32_t dataSize() const { return dataSize_; }
  std::uint32_t unitSize() const { return unitSize_; }
  std::uint32_t unitCount() const { return unitCount_; }
  std::uint32_t remainder() const { return remainder_; }

 private:
  ClipStream* stream_ = nullptr;
  ClipPcmFormat format_{};
  std::int64_t dataStart_ = 0;
  std::uint32_t dataSize_ = 0;
  std::uint32_t unitSize_ = 0;
  std::uint32_t unitCount_ = 0;
  std::uint32_t remainder_ = 0;
  std::uint32_t unit_ = 0;  // next unit to read
};

}  // namespace audio
