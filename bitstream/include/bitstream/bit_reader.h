#pragma once
// MSB-first bit reader over a caller's buffer, shared by the video and audio decoders. Reads
// past the end yield zero bits and leave the reader overrun; callers check Overrun() once per
// syntax unit (header, macroblock, channel element) rather than after every field.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bitstream {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size), endBits_(size * 8) {}

  // The next 32 bits at the read position, zero-filled past the end.
  std::uint32_t Peek32() const {
    const std::size_t byte = pos_ >> 3;
    std::uint64_t v = 0;
    if (byte + 8 <= size_) {
      std::uint64_t raw;
      std::memcpy(&raw, data_ + byte, 8);
      v = __builtin_bswap64(raw);
    } else {
      for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0);
    }
    return static_cast<std::uint32_t>((v << (pos_ & 7)) >> 32);
  }
  // The next n bits (1..32) without consuming them.
  std::uint32_t Peek(int n) const {
    assert(0 < n && n <= 32);
    return Peek32() >> (32 - n);
  }
  void Skip(int n) { pos_ += static_cast<std::size_t>(n); }
  std::uint32_t Read(int n) {
    const std::uint32_t v = Peek(n);
    pos_ += static_cast<std::size_t>(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  // A two's-complement field of n bits (1..32).
  std::int32_t ReadSigned(int n) {
    const std::uint32_t v = Read(n);
    return static_cast<std::int32_t>(v << (32 - n)) >> (32 - n);
  }
  void AlignToByte() { pos_ = (pos_ + 7) & ~std::size_t{7}; }

  std::size_t Position() const { return pos_; }
  void SetPosition(std::size_t bits) { pos_ = bits; }
  std::size_t SizeBits() const { return endBits_; }
  std::size_t BitsLeft() const { return pos_ >= endBits_ ? 0 : endBits_ - pos_; }
  bool Overrun() const { return pos_ > endBits_; }
  const std::uint8_t* Data() const { return data_; }
  std::size_t SizeBytes() const { return size_; }
  // Bytes touched so far, never more than the input holds.
  std::size_t BytesConsumed() const {
    const std::size_t bytes = (pos_ + 7) / 8;
    return bytes > size_ ? size_ : bytes;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  std::size_t endBits_ = 0;
};

}  // namespace bitstream
