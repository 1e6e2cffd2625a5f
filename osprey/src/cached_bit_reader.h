// A bit reader for long runs of short reads (the spectral data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bitstream/bit_reader.h"

namespace osprey {

// The reader of the spectral data, a long run of short reads: the next bits wait
// in a 64-bit register, so that a codeword's lookup does not wait for a load from
// the buffer. It starts at a BitReader's position and its position is handed back;
// reads past the end yield zero bits, as the BitReader's do.
class CachedBitReader {
 public:
  explicit CachedBitReader(const bitstream::BitReader& br)
      : data_(br.Data()), size_(br.SizeBytes()), pos_(br.Position()) {
    Fill();
  }
  // The next n bits, 1 <= n <= 32.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(cache_ >> (64 - n)); }
  // Consumes n bits, 0 <= n <= 32.
  void Skip(int n) {
    cache_ <<= n;
    count_ -= n;
    pos_ += static_cast<size_t>(n);
    if (count_ < 32) Fill();
  }
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    Skip(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  bool Overrun() const { return pos_ > size_ * 8; }
  size_t Position() const { return pos_; }

 private:
  // Loads the 64 bits from pos_ on (at least 57 of them valid).
  void Fill() {
    const size_t byte = pos_ >> 3;
    uint64_t v = 0;
    if (byte + 8 <= size_) {
      std::memcpy(&v, data_ + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      for (size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0);
    }
    cache_ = v << (pos_ & 7);
    count_ = 64 - static_cast<int>(pos_ & 7);
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  uint64_t cache_ = 0;
  int count_ = 0;  // bits of cache_ that belong to the buffer from pos_ on
};

}  // namespace osprey
