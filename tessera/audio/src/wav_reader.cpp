// PCM WAV files: chunks are little-endian, padded to even sizes; the sound is cut into
// 40 ms units and the last unit is short by the data size's remainder.
#include "audio/wav_reader.h"

#include <algorithm>
#include <cstring>

namespace audio {
namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
int Le16(const std::uint8_t* p) {
  return p[0] | p[1] << 8;
}

}  // namespace

int WavReader::Open(ClipStream* stream, int flags) {
  Close();
  if (!stream) return -1;
  std::uint8_t head[12];
  if (stream->Seek(0, ClipStream::kFromStart) != 0 || stream->Read(head, 12) != 12) return -1;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return -1;
  std::uint8_t chunk[8];
  if (stream->Read(chunk, 8) != 8 || std::memcmp(chunk, "fmt ", 4) != 0) return -1;
  std::uint32_t fmtSize = Le32(chunk + 4);
  if (fmtSize < 16) return -1;
  std::uint8_t fmt[16];
  if (stream->Read(fmt, 16) != 16) return -1;
  if (Le16(fmt) != 1) return -1;  // only PCM
  ClipPcmFormat f;
  f.formatTag = 1;
  f.channels = Le16(fmt + 2);
  f.sampleRate = static_cast<int>(Le32(fmt + 4));
  f.bitsPerSample = Le16(fmt + 14);
  if (f.channels < 1 || f.channels > 2 || (f.bitsPerSample != 8 && f.bitsPerSample != 16) ||
      f.sampleRate < 1000 || f.sampleRate > 192000)
    return -1;
  std::int64_t skip = std::int64_t(fmtSize) - 16 + (fmtSize & 1);
  if (skip && stream->Seek(skip, ClipStream::kFromCurrent) != 0) return -1;
  for (;;) {
    if (stream->Read(chunk, 8) != 8) return -1;
    std::uint32_t size = Le32(chunk + 4);
    if (std::memcmp(chunk, "data", 4) == 0) {
      if (size == 0) return -1;
      dataStart_ = stream->Tell();
      // A data size beyond the end of the file means a truncated recording: play what
      // is there instead of reading past it.
      std::int64_t avail = stream->Size() - dataStart_;
      if (avail <= 0) return -1;
      dataSize_ = static_cast<std::uint32_t>(std::min<std::int64_t>(size, avail));
      break;
    }
    std::int64_t next = stream->Tell() + size + (size & 1);
    if (next > stream->Size() || stream->Seek(next, ClipStream::kFromStart) != 0) return -1;
  }
  int blockAlign = f.channels * f.bitsPerSample / 8;
  unitSize_ =
      static_cast<std::uint32_t>(std::int64_t(f.bitsPerSample) * f.channels * f.sampleRate * 40 / 8000);
  unitSize_ -= unitSize_ % blockAlign;
  if (unitSize_ == 0) return -1;
  // Whole sample frames only.
  dataSize_ -= dataSize_ % blockAlign;
  if (dataSize_ == 0) return -1;
  unitCount_ = dataSize_ / unitSize_;
  remainder_ = dataSize_ % unitSize_;
  if (remainder_) ++unitCount_;
  format_ = f;
  stream_ = stream;
  unit_ = 0;
  return 0;
}

int WavReader::Read(std::uint8_t* buffer, int capacity, int* milliseconds) {
  if (milliseconds) *milliseconds = 0;
  if (!stream_ || !buffer) return -1;
  if (capacity < static_cast<int>(unitSize_)) return -1;
  std::uint32_t units =
      std::min<std::uint32_t>(static_cast<std::uint32_t>(capacity) / unitSize_, unitCount_ - unit_);
  if (units == 0) return 0;
  std::int64_t bytes = std::int64_t(units) * unitSize_;
  if (unit_ + units == unitCount_ && remainder_) bytes -= unitSize_ - remainder_;
  if (stream_->Seek(dataStart_ + std::int64_t(unit_) * unitSize_, ClipStream::kFromStart) != 0) return -1;
  std::int64_t got = stream_->Read(buffer, bytes);
  if (got <= 0) return 0;
  unit_ += units;
  if (milliseconds) *milliseconds = static_cast<int>(units * 40);
  return static_cast<int>(got);
}

int WavReader::Seek(int milliseconds) {
  if (!stream_ || milliseconds < 0) return -1;
  unit_ = std::min<std::uint32_t>(static_cast<std::uint32_t>(milliseconds / 40), unitCount_);
  return 0;
}

int WavReader::Position() {
  return stream_ ? static_cast<int>(unit_ * 40) : -1;
}

void WavReader::Close() {
  stream_ = nullptr;
  dataSize_ = unitSize_ = unitCount_ = remainder_ = unit_ = 0;
}

void WavReader::Reset() {
  unit_ = 0;
}

int WavReader::Duration() {
  if (!stream_) return -1;
  std::int64_t bytesPerSecond =
      std::int64_t(format_.bitsPerSample) * format_.channels * format_.sampleRate / 8;
  return static_cast<int>(std::int64_t(dataSize_) * 1000 / bytesPerSecond);
}

}  // namespace audio
