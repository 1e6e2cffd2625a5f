// WSP: Reply, Redirect and ConnectReply parsing of arbitrary octets.

#include <cstddef>
#include <cstdint>

#include "transport/wsp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mms::ByteBuffer pdu(data, static_cast<std::int32_t>(size));
  transport::WspReply reply;
  transport::ParseReply(pdu, &reply);
  transport::WspRedirect redirect;
  transport::ParseRedirect(pdu, &redirect);
  std::uint32_t id = 0;
  transport::ParseConnectReply(pdu, &id);
  return 0;
}
