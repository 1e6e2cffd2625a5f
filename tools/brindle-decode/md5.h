#pragma once
// MD5 message digest (RFC 1321), for per-frame checksums.

#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  Md5();
  void Update(const std::uint8_t* data, std::size_t size);
  // Lower-case hexadecimal digest; the object must not be updated afterwards.
  std::string FinishHex();

 private:
  void Block(const std::uint8_t* p);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
};
