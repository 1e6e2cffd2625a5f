#pragma once
/// ByteBuffer: the growable octet buffer that every encoded PDU, header list, WTP packet and
/// received datagram lives in.

#include <cstdint>
#include <string_view>

namespace mms {

class ByteBuffer {
 public:
  /// An empty buffer. It owns a block of at least one octet, so data() is never null and the
  /// octet after the last valid one always reads as 0.
  ByteBuffer();
  /// An empty buffer with room for `capacity` octets.
  explicit ByteBuffer(std::int32_t capacity);
  /// A copy of the given octets.
  ByteBuffer(const void* data, std::int32_t length);
  ~ByteBuffer();

  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;

  /// Inserts n octets at pos (0..length), moving the tail up. False when pos is out of range or
  /// growth fails; the buffer is then unchanged.
  bool Insert(std::int32_t pos, const void* src, std::int32_t n);
  bool Append(const void* src, std::int32_t n) { return Insert(length_, src, n); }
  /// Appends the text without a terminator.
  bool AppendString(std::string_view text);
  bool AppendOctet(std::uint8_t octet) { return Append(&octet, 1); }
  bool AppendBuffer(const ByteBuffer& other) { return Append(other.data(), other.length_); }

  /// The octet at pos, or -1 when pos lies outside 0..length-1.
  int At(std::int32_t pos) const;
  /// Pointer to the octets from pos on and how many remain; null (and 0) when pos is outside
  /// 0..length.
  const std::uint8_t* Tail(std::int32_t pos, std::int32_t* remaining) const;
  /// Length 0; the capacity is kept.
  void Clear();

  std::int32_t length() const { return length_; }
  std::int32_t capacity() const { return capacity_; }
  const std::uint8_t* data() const { return data_ ? data_ : kNoOctets; }
  /// Writable access to the valid octets; null only when no block could be allocated.
  std::uint8_t* mutable_data() { return data_; }
  std::string_view view() const {
    return {reinterpret_cast<const char*>(data()), static_cast<std::size_t>(length_)};
  }

 private:
  static const std::uint8_t kNoOctets[1];

  bool Reserve(std::int64_t needed);

  std::uint8_t* data_ = nullptr;
  std::int32_t length_ = 0;
  std::int32_t capacity_ = 0;
};

}  // namespace mms
