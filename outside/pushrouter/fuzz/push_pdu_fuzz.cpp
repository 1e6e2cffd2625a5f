// Datagrams on the push port: any octets must parse or be rejected, and a parsed PDU's
// headers and body must lie inside the datagram.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "push_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pushrouter::PushPdu pdu;
  if (pushrouter::ParsePushPdu(data, size, &pdu) == pushrouter::PduResult::Ok) {
    const std::uint8_t* end = data + size;
    if (pdu.contentType.empty() || pdu.headers < data || pdu.headers + pdu.headersSize > end ||
        pdu.body < data || pdu.body + pdu.bodySize != end)
      std::abort();
  }
  return 0;
}
