// HTTP transport texts: a profile's proxy value and any HTTP status a peer may send.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transport/http_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string host;
  int port = 0;
  if (transport::ParseProxy(text, &host, &port)) {
    // What is taken is exactly what goes to the client library: no controls, a real port.
    if (host.empty() || port < 1 || port > 65535) std::abort();
    for (char c : host)
      if (static_cast<unsigned char>(c) <= 0x20 || c == '@' || c == '/') std::abort();
  }
  long status = 0;
  if (size >= sizeof status) std::memcpy(&status, data, sizeof status);
  const std::uint8_t octet = transport::HttpStatusToWspStatus(status);
  if (octet < 0x10 || octet > 0x65) std::abort();
  return 0;
}
