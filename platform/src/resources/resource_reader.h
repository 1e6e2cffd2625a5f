#pragma once
// Little-endian reader and writer of resource payloads. The reader is bounded to one
// payload and keeps a sticky failure flag, so callers check once per record.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ResourceReader {
 public:
  explicit ResourceReader(std::span<const std::uint8_t> data)
      : p_(data.data()), end_(data.data() + data.size()) {}

  std::uint8_t U8() {
    if (end_ - p_ < 1) return Fail();
    return *p_++;
  }
  std::uint16_t U16() {
    if (end_ - p_ < 2) return Fail();
    const std::uint16_t v = static_cast<std::uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    return v;
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::uint32_t U32() {
    if (end_ - p_ < 4) return Fail();
    const std::uint32_t v = std::uint32_t{p_[0]} | (std::uint32_t{p_[1]} << 8) |
                            (std::uint32_t{p_[2]} << 16) | (std::uint32_t{p_[3]} << 24);
    p_ += 4;
    return v;
  }
  /// u16 length in units, then the units.
  std::u16string Text() {
    const std::uint16_t length = U16();
    if (failed() || static_cast<std::size_t>(end_ - p_) < std::size_t{length} * 2) {
      Fail();
      return {};
    }
    std::u16string out(length, u'\0');
    for (char16_t& c : out) c = U16();
    return out;
  }

  bool failed() const { return failed_; }
  bool AtEnd() const { return !failed_ && p_ == end_; }

 private:
  std::uint8_t Fail() {
    failed_ = true;
    p_ = end_;
    return 0;
  }

  const std::uint8_t* p_;
  const std::uint8_t* end_;
  bool failed_ = false;
};

class ResourceWriter {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  /// Texts longer than 65535 units are cut; the compiler rejects them before this.
  void Text(std::u16string_view text) {
    const std::size_t length = text.size() > 0xFFFF ? 0xFFFF : text.size();
    U16(static_cast<std::uint16_t>(length));
    for (std::size_t i = 0; i < length; ++i) U16(text[i]);
  }
  void Bytes(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace platform
