// MSB-first bit reader over a bounded byte range. Reads past the end return zero
// bits and set a sticky overrun flag that callers test once per syntax unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace osprey {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t size) : data_(data), sizeBits_(size * 8) {}

  // Up to 32 bits, without consuming them.
  uint32_t Peek(int n) const {
    if (n == 0) return 0;
    return static_cast<uint32_t>(Peek64() >> (64 - n));
  }
  void Skip(int n) {
    pos_ += static_cast<size_t>(n);
    if (pos_ > sizeBits_) overrun_ = true;
  }
  uint32_t Read(int n) {
    uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  // Reads n bits as a two's complement value.
  int32_t ReadSigned(int n) {
    uint32_t v = Read(n);
    return static_cast<int32_t>(v << (32 - n)) >> (32 - n);
  }
  void ByteAlign() { Skip(static_cast<int>((8 - (pos_ & 7)) & 7)); }

  size_t Position() const { return pos_; }
  size_t BitsLeft() const { return pos_ >= sizeBits_ ? 0 : sizeBits_ - pos_; }
  bool Overrun() const { return overrun_; }
  // Bytes touched so far, never more than the input holds.
  size_t BytesConsumed() const {
    size_t bytes = (pos_ + 7) / 8;
    return bytes > sizeBits_ / 8 ? sizeBits_ / 8 : bytes;
  }

 private:
  // The 64 bits starting at the read position, zero-filled past the end.
  uint64_t Peek64() const {
    if (pos_ >= sizeBits_) return 0;
    size_t byte = pos_ >> 3;
    size_t sizeBytes = sizeBits_ >> 3;
    uint64_t v = 0;
    if (byte + 8 <= sizeBytes) {
      std::memcpy(&v, data_ + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      for (size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < sizeBytes ? data_[byte + i] : 0);
    }
    return v << (pos_ & 7);
  }

  const uint8_t* data_ = nullptr;
  size_t sizeBits_ = 0;
  size_t pos_ = 0;
  bool overrun_ = false;
};

}  // namespace osprey
