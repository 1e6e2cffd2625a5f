#pragma once
// MSB-first bit reader over a caller's buffer. Reads past the end yield zero bits and set a sticky
// overrun flag; callers check Overrun() once per header or macroblock.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brindle {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size), endBits_(size * 8) {}

  // The next 32 bits at the read position, zero-filled past the end.
  std::uint32_t Peek32() const {
    std::size_t byte = pos_ >> 3;
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
  // n in 0..32.
  std::uint32_t Peek(int n) const { return n == 0 ? 0 : Peek32() >> (32 - n); }
  void Skip(int n) { pos_ += static_cast<std::size_t>(n); }
  std::uint32_t Read(int n) {
    std::uint32_t v = Peek(n);
    pos_ += static_cast<std::size_t>(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  // Two's-complement field of n bits.
  std::int32_t ReadSigned(int n) {
    std::uint32_t v = Read(n);
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

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  std::size_t endBits_ = 0;
};

}  // namespace brindle
