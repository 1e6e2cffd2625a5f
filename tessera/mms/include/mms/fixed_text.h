#pragma once
/// FixedText<N>: a zero-terminated text in a fixed field of N octets, as the header record and
/// the multipart entries keep their texts.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace mms {

/// Longest text a 128-octet field holds (127 octets and the terminator).
inline constexpr std::size_t kTextFieldMax = 127;

/// Length of the longest prefix of `text` that fits in `max` octets without splitting a UTF-8
/// sequence (continuation octets at the cut are given back to the tail).
inline std::size_t FittingPrefix(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text.size();
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

template <std::size_t N>
class FixedText {
  static_assert(N >= 1);

 public:
  static constexpr std::size_t kCapacity = N - 1;

  FixedText() { buf_[0] = 0; }

  /// Stores `text`. A text longer than the field is cut at the last UTF-8 boundary that leaves
  /// room for the terminator; nothing is ever written past the field. Returns false when the
  /// text had to be cut. An embedded 0 ends the stored text.
  bool Assign(std::string_view text) {
    const std::size_t z = text.find('\0');
    if (z != std::string_view::npos) text = text.substr(0, z);
    const std::size_t n = FittingPrefix(text, kCapacity);
    text.copy(buf_.data(), n);
    buf_[n] = 0;
    length_ = n;
    return n == text.size();
  }
  FixedText& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  /// Appends `text` only when all of it fits; false (field unchanged) otherwise.
  bool AppendWhole(std::string_view text) {
    if (text.find('\0') != std::string_view::npos || text.size() > kCapacity - length_) return false;
    text.copy(buf_.data() + length_, text.size());
    length_ += text.size();
    buf_[length_] = 0;
    return true;
  }

  void Clear() {
    buf_[0] = 0;
    length_ = 0;
  }
  bool empty() const { return length_ == 0; }
  std::size_t size() const { return length_; }
  const char* c_str() const { return buf_.data(); }
  std::string_view view() const { return {buf_.data(), length_}; }
  std::string str() const { return std::string(view()); }
  bool operator==(std::string_view other) const { return view() == other; }

 private:
  std::array<char, N> buf_;
  std::size_t length_ = 0;
};

}  // namespace mms
