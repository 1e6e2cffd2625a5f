#pragma once
// WSP connectionless Push PDUs as they arrive on the push port: TID, PDU type 0x06, the
// length of content type and headers (uintvar), the content type, the headers, the body.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pushrouter {

enum class PduResult {
  Ok = 0,
  TooShort = 1,         // fewer octets than TID, type and header length
  NotPush = 2,          // PDU type other than Push (0x06)
  BadHeaderLength = 3,  // header length past the end of the datagram
  BadContentType = 4,   // content type missing, malformed or of an unknown code
};

struct PushPdu {
  std::uint8_t tid = 0;
  std::string contentType;                // lower case, parameters dropped
  const std::uint8_t* headers = nullptr;  // after the content type
  std::size_t headersSize = 0;
  const std::uint8_t* body = nullptr;
  std::size_t bodySize = 0;
};

/// Parses one datagram; the pointers of *out point into `data`.
PduResult ParsePushPdu(const std::uint8_t* data, std::size_t size, PushPdu* out);

/// Content types are compared without regard to letter case.
std::string NormaliseContentType(std::string_view type);

}  // namespace pushrouter
