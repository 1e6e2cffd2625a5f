// Feeds arbitrary octets to the PDU decoder, re-encodes what it accepted, converts its texts
// by their charsets and lists the parts of its body, as mmstool parts does.
#include <cstddef>
#include <cstdint>

#include "mms/charset.h"
#include "mms/mms_pdu.h"
#include "mms/multipart.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mms::MmsHeaders headers;
  std::optional<mms::ByteBuffer> body;
  if (mms::DecodePdu(data, size, headers, &body)) {
    for (const auto* text : {&headers.subject, &headers.responseText, &headers.retrieveText})
      if (*text) mms::ReceivedTextToUtf8(**text);
    if (body && headers.contentTypeOffset < size) {
      auto package = mms::MultipartPackage::Parse(mms::ByteStream::OpenMemory(
          data + headers.contentTypeOffset, static_cast<std::int64_t>(size - headers.contentTypeOffset)));
      if (package)
        for (const mms::PackagePart& part : package->parts())
          if (part.dataOffset + part.dataLength > static_cast<std::int64_t>(size)) __builtin_trap();
    }
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
