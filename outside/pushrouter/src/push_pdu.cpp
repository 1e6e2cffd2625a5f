#include "push_pdu.h"

#include "mms/wsp.h"

namespace pushrouter {

namespace {
constexpr std::uint8_t kPduPush = 0x06;
}

std::string NormaliseContentType(std::string_view type) {
  std::string out;
  out.reserve(type.size());
  for (char c : type) {
    if (c == ';') break;
    if (c == ' ' || c == '\t') continue;
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return out;
}

PduResult ParsePushPdu(const std::uint8_t* data, std::size_t size, PushPdu* out) {
  if (!data || size < 3) return PduResult::TooShort;
  mms::WspReader r(data, size);
  PushPdu pdu;
  pdu.tid = r.ReadOctet();
  if (r.ReadOctet() != kPduPush) return PduResult::NotPush;
  std::uint32_t headersLength = mms::DecodeUintvar(r);
  if (r.failed()) return PduResult::TooShort;
  if (headersLength > r.remaining()) return PduResult::BadHeaderLength;
  std::size_t headersStart = r.position();
  mms::WspReader headers = r.Sub(headersLength);
  if (headersLength == 0) return PduResult::BadContentType;
  mms::ContentTypeValue ct;
  mms::DecodeContentType(headers, ct);
  if (headers.failed() || ct.mediaType.empty()) return PduResult::BadContentType;
  pdu.contentType = NormaliseContentType(ct.mediaType);
  if (pdu.contentType.empty()) return PduResult::BadContentType;
  pdu.headers = data + headersStart + headers.position();
  pdu.headersSize = headers.remaining();
  pdu.body = data + r.position();
  pdu.bodySize = r.remaining();
  if (out) *out = std::move(pdu);
  return PduResult::Ok;
}

}  // namespace pushrouter
