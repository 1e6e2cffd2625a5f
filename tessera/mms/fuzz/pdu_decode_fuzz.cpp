// Feeds arbitrary octets to the PDU decoder and re-encodes what it accepted.
#include <cstddef>
#include <cstdint>

#include "mms/mms_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mms::MmsHeaders headers;
  std::optional<mms::ByteBuffer> body;
  if (mms::DecodePdu(data, size, headers, &body)) {
    // A decoded record must encode (or be refused) without trouble in every message type.
    for (std::uint8_t type : {mms::kSendReq, mms::kNotifyRespInd, mms::kAcknowledgeInd}) {
      headers.messageType = type;
      auto pdu = mms::EncodePdu(headers);
      if (pdu) {
        mms::MmsHeaders again;
        mms::DecodePdu(*pdu, again);
      }
    }
  }
  return 0;
}
