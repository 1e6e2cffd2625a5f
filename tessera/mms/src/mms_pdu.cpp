#include "mms/mms_pdu.h"

#include <algorithm>
#include <random>

#include "mms/charset.h"

namespace mms {

namespace {

constexpr std::uint8_t kAddressPresentToken = 0x80;
constexpr std::uint8_t kInsertAddressToken = 0x81;
constexpr std::uint8_t kAbsoluteToken = 0x80;
constexpr std::uint8_t kRelativeToken = 0x81;
constexpr std::uint8_t kYes = 0x80;
constexpr std::uint8_t kNo = 0x81;
constexpr std::uint8_t kMessageTypeCode = 0x8C;
constexpr std::uint8_t kWspPushPdu = 0x06;

std::uint8_t Code(MmsField field) {
  return static_cast<std::uint8_t>(0x80 | static_cast<std::uint8_t>(field));
}

// Appends one received address to a ";"-separated list, as UTF-8. An address that does not fit
// whole is left out rather than cut, so every address kept in the list is a real one.
void AppendAddress(FixedText<kAddressListSize>& list, const StringValue& received) {
  const AddressNode node = ParseAddress(ReceivedTextToUtf8(received));
  std::string item;
  if (!list.empty()) item.push_back(';');
  item += node.text;
  list.AppendWhole(item);
}

bool EncodeAddressList(ByteBuffer& out, MmsField field, std::string_view list) {
  for (const AddressNode& node : ParseAddressList(list)) {
    if (!out.AppendOctet(Code(field)) || !EncodeTextString(out, WriteAddress(node))) return false;
  }
  return true;
}

bool EncodeTime(ByteBuffer& out, MmsField field, std::uint32_t value, bool absolute) {
  return out.AppendOctet(Code(field)) &&
         EncodeValueLength(out, static_cast<std::uint32_t>(LongIntegerSize(value) + 1)) &&
         out.AppendOctet(absolute ? kAbsoluteToken : kRelativeToken) && EncodeLongInteger(out, value);
}

bool EncodeSendReq(const MmsHeaders& h, ByteBuffer& out) {
  if (h.transactionId.empty() || h.contentType.empty()) return false;
  bool ok = out.AppendOctet(Code(MmsField::MessageType)) && out.AppendOctet(kSendReq) &&
            out.AppendOctet(Code(MmsField::TransactionId)) && EncodeTextString(out, h.transactionId.view()) &&
            out.AppendOctet(Code(MmsField::MmsVersion)) && out.AppendOctet(kMmsVersion10);
  if (ok && h.date != 0) ok = out.AppendOctet(Code(MmsField::Date)) && EncodeLongInteger(out, h.date);
  if (ok) {
    ok = out.AppendOctet(Code(MmsField::From));
    if (!h.from.empty()) {
      const std::string written = WriteAddress(ParseAddress(h.from.view()));
      ok = ok && EncodeValueLength(out, static_cast<std::uint32_t>(written.size() + 2)) &&
           out.AppendOctet(kAddressPresentToken) && EncodeTextString(out, written);
    } else {
      ok = ok && out.AppendOctet(0x01) && out.AppendOctet(kInsertAddressToken);
    }
  }
  ok = ok && EncodeAddressList(out, MmsField::To, h.to.view()) &&
       EncodeAddressList(out, MmsField::Cc, h.cc.view()) &&
       EncodeAddressList(out, MmsField::Bcc, h.bcc.view());
  if (ok && h.subject) ok = out.AppendOctet(Code(MmsField::Subject)) && EncodeEncodedString(out, *h.subject);
  ok =
      ok && out.AppendOctet(Code(MmsField::DeliveryReport)) && out.AppendOctet(h.deliveryReport ? kYes : kNo);
  if (ok && h.senderVisibility != 0)
    ok = out.AppendOctet(Code(MmsField::SenderVisibility)) && out.AppendOctet(h.senderVisibility);
  ok = ok && out.AppendOctet(Code(MmsField::ReadReply)) && out.AppendOctet(h.readReply ? kYes : kNo);
  if (ok && h.messageClass != 0)
    ok = out.AppendOctet(Code(MmsField::MessageClass)) && out.AppendOctet(h.messageClass);
  if (ok && h.expiry != 0) ok = EncodeTime(out, MmsField::Expiry, h.expiry, h.expiryAbsolute);
  if (ok && h.deliveryTime != 0)
    ok = EncodeTime(out, MmsField::DeliveryTime, h.deliveryTime, h.deliveryTimeAbsolute);
  if (ok && h.priority != 0) ok = out.AppendOctet(Code(MmsField::Priority)) && out.AppendOctet(h.priority);
  return ok && out.AppendOctet(Code(MmsField::ContentType)) &&
         EncodeContentType(out, h.contentType.view(), h.typeParam.view(), h.startParam.view());
}

bool EncodeShortPdu(const MmsHeaders& h, ByteBuffer& out) {
  if (h.transactionId.empty()) return false;
  if (h.messageType == kNotifyRespInd && h.status == 0) return false;
  bool ok = out.AppendOctet(Code(MmsField::MessageType)) && out.AppendOctet(h.messageType) &&
            out.AppendOctet(Code(MmsField::TransactionId)) && EncodeTextString(out, h.transactionId.view()) &&
            out.AppendOctet(Code(MmsField::MmsVersion)) && out.AppendOctet(kMmsVersion10);
  if (ok && h.messageType == kNotifyRespInd)
    ok = out.AppendOctet(Code(MmsField::Status)) && out.AppendOctet(h.status);
  return ok && out.AppendOctet(Code(MmsField::ReportAllowed)) &&
         out.AppendOctet(h.reportAllowed ? kYes : kNo);
}

// Delivery-Time and Expiry: Value-length, then an absolute date or a relative number of seconds.
void DecodeTime(WspReader& r, std::uint32_t* value, bool* absolute) {
  WspReader v = r.Sub(DecodeValueLength(r));
  if (r.failed()) return;
  const std::uint8_t token = v.ReadOctet();
  if (token == kAbsoluteToken) {
    *absolute = true;
    *value = DecodeLongInteger(v);
  } else if (token == kRelativeToken) {
    *absolute = false;
    *value = DecodeIntegerValue(v);
  }
  if (v.failed()) r.Fail();
}

void DecodeFrom(WspReader& r, FixedText<128>& from) {
  WspReader v = r.Sub(DecodeValueLength(r));
  if (r.failed()) return;
  const std::uint8_t token = v.ReadOctet();
  if (token == kAddressPresentToken) {
    const std::optional<StringValue> address = DecodeEncodedString(v);
    if (address) from.Assign(ParseAddress(ReceivedTextToUtf8(*address)).text);
  } else if (token == kInsertAddressToken) {
    from.Clear();
  }
  if (v.failed()) r.Fail();
}

// A text consumed by DecodeTextString was terminated when its last octet was the 0; a text
// that runs into the end of the PDU was cut.
bool Terminated(const WspReader& r) {
  return r.position() > 0 && r.here()[-1] == 0;
}

// Passes over a value the record has no place for, by its shape: Short-integer (one octet),
// Value-length and that many octets (this covers Long-integer), or a text up to its 0. A text
// without its 0 cannot be delimited and fails the reader.
void SkipValue(WspReader& r) {
  const int first = r.Peek();
  if (first < 0) {
    r.Fail();
  } else if (first >= 0x80) {
    r.ReadOctet();
  } else if (first <= 31) {
    r.Skip(DecodeValueLength(r));
  } else {
    while (!r.AtEnd() && r.Peek() != 0) r.ReadOctet();
    r.ReadOctet();  // the 0; fails the reader when the text ran to the end
  }
}

// An application header: a Token-text name whose first octet was read, then its value.
void SkipApplicationHeader(WspReader& r) {
  while (!r.AtEnd() && r.Peek() != 0) r.ReadOctet();
  r.ReadOctet();
  if (!r.failed()) SkipValue(r);
}

bool KnownField(std::uint8_t code) {
  return (code >= static_cast<std::uint8_t>(MmsField::Bcc) &&
          code <= static_cast<std::uint8_t>(MmsField::ReadStatus)) ||
         code == static_cast<std::uint8_t>(MmsField::PreviouslySentBy) ||
         code == static_cast<std::uint8_t>(MmsField::PreviouslySentDate);
}

// X-Mms-Message-Class: a token, or a Token-text that may name one of the four tokens.
void DecodeMessageClass(WspReader& r, MmsHeaders& h) {
  if (r.Peek() >= 0x80) {
    h.messageClass = r.ReadOctet();
    return;
  }
  const std::string text = DecodeTextString(r);
  if (!Terminated(r)) {
    r.Fail();
    return;
  }
  static constexpr struct {
    std::string_view name;
    std::uint8_t token;
  } kClasses[] = {{"personal", 0x80}, {"advertisement", 0x81}, {"informational", 0x82}, {"auto", 0x83}};
  for (const auto& c : kClasses) {
    if (text.size() == c.name.size() &&
        std::equal(text.begin(), text.end(), c.name.begin(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; })) {
      h.messageClass = c.token;
      return;
    }
  }
  h.messageClassText.Assign(text);
}

// X-Mms-Previously-Sent-By: Value-length, forward count, the sender as encoded-string-value.
void DecodePreviouslySentBy(WspReader& r, MmsHeaders& h) {
  WspReader v = r.Sub(DecodeValueLength(r));
  if (r.failed()) return;
  DecodeIntegerValue(v);
  const std::optional<StringValue> address = DecodeEncodedString(v);
  if (v.failed()) {
    r.Fail();
    return;
  }
  if (address) AppendAddress(h.previouslySentBy, *address);
}

// X-Mms-Previously-Sent-Date: Value-length, forward count, the date as Long-integer.
void DecodePreviouslySentDate(WspReader& r, MmsHeaders& h) {
  WspReader v = r.Sub(DecodeValueLength(r));
  if (r.failed()) return;
  DecodeIntegerValue(v);
  const std::uint32_t date = DecodeLongInteger(v);
  if (v.failed()) {
    r.Fail();
    return;
  }
  if (h.previouslySentDate == 0) h.previouslySentDate = date;
}

bool OnlyZeros(const WspReader& r) {
  const std::uint8_t* p = r.here();
  return std::all_of(p, p + r.remaining(), [](std::uint8_t o) { return o == 0; });
}

}  // namespace

void ClearHeaders(MmsHeaders& h) {
  h = MmsHeaders{};
}

AddressNode ParseAddress(std::string_view text) {
  AddressNode node;
  const std::size_t slash = text.find('/');
  if (slash != std::string_view::npos) {
    const std::string_view rest = text.substr(slash + 1);
    node.text.assign(text.substr(0, slash));
    if (rest.find("IPv6") != std::string_view::npos)
      node.type = AddressType::Ipv6;
    else if (rest.find("IPv4") != std::string_view::npos)
      node.type = AddressType::Ipv4;
    else if (rest.find("PLMN") != std::string_view::npos)
      node.type = AddressType::Plmn;
    else
      node.type = AddressType::Other;
    return node;
  }
  node.text.assign(text);
  if (text.find('@') != std::string_view::npos) {
    node.type = AddressType::Email;
    return node;
  }
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  const bool allDigits =
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  node.type = allDigits ? AddressType::Plmn : AddressType::Other;
  return node;
}

std::vector<AddressNode> ParseAddressList(std::string_view text) {
  std::vector<AddressNode> list;
  while (!text.empty()) {
    const std::size_t semi = text.find(';');
    list.push_back(ParseAddress(text.substr(0, semi)));
    if (semi == std::string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  return list;
}

std::string WriteAddress(const AddressNode& address) {
  switch (address.type) {
    case AddressType::Plmn:
      return address.text + "/TYPE=PLMN";
    case AddressType::Ipv4:
      return address.text + "/TYPE=IPv4";
    case AddressType::Ipv6:
      return address.text + "/TYPE=IPv6";
    case AddressType::Email:
    case AddressType::Other:
      return address.text;
  }
  return address.text;
}

bool LoadSendRequest(MmsHeaders& h, const SendRequest& req) {
  if (req.to.empty() && req.cc.empty() && req.bcc.empty()) return false;
  h.messageType = kSendReq;
  h.mmsVersion = kMmsVersion10;
  h.date = req.date;
  h.expiry = req.expiry;
  h.expiryAbsolute = req.expiryAbsolute;
  h.deliveryTime = req.deliveryTime;
  h.deliveryTimeAbsolute = req.deliveryTimeAbsolute;
  h.subject = req.subject;
  h.messageClass = req.messageClass;
  h.priority = req.priority;
  h.senderVisibility = req.senderVisibility;
  h.deliveryReport = req.deliveryReport;
  h.readReply = req.readReply;
  return h.from.Assign(req.from) && h.to.Assign(req.to) && h.cc.Assign(req.cc) && h.bcc.Assign(req.bcc);
}

bool GenerateTransactionId(MmsHeaders& h) {
  thread_local std::mt19937 generator{std::random_device{}()};
  char id[21];
  for (int i = 0; i < 20; ++i) id[i] = static_cast<char>('0' + generator() % 10);
  id[20] = 0;
  return h.transactionId.Assign(std::string_view(id, 20));
}

std::optional<ByteBuffer> EncodePdu(const MmsHeaders& h) {
  ByteBuffer out(256);
  bool ok = false;
  switch (h.messageType) {
    case kSendReq:
      ok = EncodeSendReq(h, out);
      break;
    case kNotifyRespInd:
    case kAcknowledgeInd:
      ok = EncodeShortPdu(h, out);
      break;
    default:
      ok = false;
      break;
  }
  if (!ok) return std::nullopt;
  return out;
}

bool DecodePdu(const std::uint8_t* data, std::size_t size, MmsHeaders& h, std::optional<ByteBuffer>* body) {
  if (body) body->reset();
  if (!data) size = 0;
  if (size == 0) return false;
  WspReader r(data, size);
  while (!r.AtEnd()) {
    const std::uint8_t octet = r.ReadOctet();
    if (octet == 0) {
      // Some centres end the headers with a stray 0: padding, when nothing else follows.
      if (!OnlyZeros(r)) return false;
      break;
    }
    if (octet < 0x80) {
      // Field names are Short-integers; a Token-text name is an application header. A control
      // octet cannot start a name.
      if (octet < 0x20) return false;
      SkipApplicationHeader(r);
      if (r.failed()) return false;
      continue;
    }
    const std::uint8_t code = octet & 0x7F;
    if (!KnownField(code)) {
      SkipValue(r);
      if (r.failed()) return false;
      continue;
    }
    const auto field = static_cast<MmsField>(code);
    bool text = false;  // a Text-string that must end with its 0
    switch (field) {
      case MmsField::Bcc:
      case MmsField::Cc:
      case MmsField::To: {
        text = r.Peek() >= 0x20;
        const std::optional<StringValue> address = DecodeEncodedString(r);
        if (address)
          AppendAddress(field == MmsField::To ? h.to : field == MmsField::Cc ? h.cc : h.bcc, *address);
        break;
      }
      case MmsField::ContentLocation:
        h.contentLocation.Assign(DecodeTextString(r));
        text = true;
        break;
      case MmsField::MessageId:
        h.messageId.Assign(DecodeTextString(r));
        text = true;
        break;
      case MmsField::TransactionId:
        h.transactionId.Assign(DecodeTextString(r));
        text = true;
        break;
      case MmsField::Date:
        h.date = DecodeLongInteger(r);
        break;
      case MmsField::MessageSize:
        h.messageSize = DecodeLongInteger(r);
        break;
      case MmsField::DeliveryReport:
        h.deliveryReport = r.ReadOctet() == kYes;
        break;
      case MmsField::ReportAllowed:
        h.reportAllowed = r.ReadOctet() == kYes;
        h.deliveryReport = h.reportAllowed;
        break;
      case MmsField::ReadReply:
        h.readReply = r.ReadOctet() == kYes;
        break;
      case MmsField::DeliveryTime:
        DecodeTime(r, &h.deliveryTime, &h.deliveryTimeAbsolute);
        break;
      case MmsField::Expiry:
        DecodeTime(r, &h.expiry, &h.expiryAbsolute);
        break;
      case MmsField::From:
        DecodeFrom(r, h.from);
        break;
      case MmsField::MessageClass:
        DecodeMessageClass(r, h);
        break;
      case MmsField::MessageType:
        h.messageType = r.ReadOctet();
        break;
      case MmsField::MmsVersion:
        h.mmsVersion = r.ReadOctet();
        break;
      case MmsField::Priority:
        h.priority = r.ReadOctet();
        break;
      case MmsField::ResponseStatus:
        h.responseStatus = r.ReadOctet();
        break;
      case MmsField::SenderVisibility:
        h.senderVisibility = r.ReadOctet();
        break;
      case MmsField::Status:
        h.status = r.ReadOctet();
        break;
      case MmsField::ResponseText:
        text = r.Peek() >= 0x20;
        h.responseText = DecodeEncodedString(r);
        break;
      case MmsField::Subject:
        text = r.Peek() >= 0x20;
        h.subject = DecodeEncodedString(r);
        break;
      case MmsField::RetrieveStatus:
        h.retrieveStatus = r.ReadOctet();
        break;
      case MmsField::RetrieveText:
        text = r.Peek() >= 0x20;
        h.retrieveText = DecodeEncodedString(r);
        break;
      case MmsField::ReadStatus:
        h.readStatus = r.ReadOctet();
        break;
      case MmsField::PreviouslySentBy:
        DecodePreviouslySentBy(r, h);
        break;
      case MmsField::PreviouslySentDate:
        DecodePreviouslySentDate(r, h);
        break;
      case MmsField::ContentType: {
        h.contentTypeOffset = r.position() - 1;
        ContentTypeValue ct;
        DecodeContentType(r, ct);
        if (r.failed()) return false;
        h.contentType.Assign(ct.mediaType);
        h.typeParam.Assign(ct.typeParam);
        h.startParam.Assign(ct.startParam);
        h.fieldsDecoded |= std::uint64_t{1} << code;
        if (body && (h.messageType == kSendReq || h.messageType == kRetrieveConf)) {
          if (r.remaining() > static_cast<std::size_t>(INT32_MAX)) return false;
          body->emplace(r.here(), static_cast<std::int32_t>(r.remaining()));
          if ((*body)->length() != static_cast<std::int32_t>(r.remaining())) return false;
        }
        return true;
      }
    }
    if (r.failed() || (text && !Terminated(r))) return false;
    h.fieldsDecoded |= std::uint64_t{1} << code;
  }
  // A message that carries a body names its type; without it the PDU was cut.
  return h.messageType != kSendReq && h.messageType != kRetrieveConf;
}

bool DecodePdu(const ByteBuffer& pdu, MmsHeaders& headers, std::optional<ByteBuffer>* body) {
  return DecodePdu(pdu.data(), static_cast<std::size_t>(pdu.length()), headers, body);
}

bool LocateMmsPdu(const std::uint8_t* data, std::size_t size, std::size_t* offset) {
  if (!data || size < 2) return false;
  if (data[1] == kWspPushPdu) {
    // TID, PDU type, uintvar length of the headers, the headers (content type first), body.
    WspReader r(data, size);
    r.Skip(2);
    WspReader headers = r.Sub(DecodeUintvar(r));
    ContentTypeValue ct;
    DecodeContentType(headers, ct);
    if (r.failed() || headers.failed() || ct.mediaType != kMmsMessageType) return false;
    *offset = r.position();
    return true;
  }
  if (data[0] != kMessageTypeCode) return false;
  *offset = 0;
  return true;
}

PushKind ClassifyPush(const std::uint8_t* data, std::size_t size) {
  if (!data || size < 2) return PushKind::Error;
  std::size_t offset = 0;
  if (!LocateMmsPdu(data, size, &offset) || size - offset < 2 || data[offset] != kMessageTypeCode)
    return PushKind::Unknown;
  switch (data[offset + 1]) {
    case kNotificationInd:
      return PushKind::Notification;
    case kDeliveryInd:
      return PushKind::DeliveryReport;
    case kReadOrigInd:
      return PushKind::ReadReport;
    default:
      return PushKind::Unknown;
  }
}

namespace {

bool DecodePushed(MmsHeaders& h, const std::uint8_t* data, std::size_t size, std::uint8_t expectedType) {
  ClearHeaders(h);
  std::size_t offset = 0;
  if (!LocateMmsPdu(data, size, &offset)) return false;
  return DecodePdu(data + offset, size - offset, h) && h.messageType == expectedType;
}

}  // namespace

bool DecodeNotification(MmsHeaders& h, const std::uint8_t* data, std::size_t size, NotificationInfo& info) {
  if (!DecodePushed(h, data, size, kNotificationInd)) return false;
  info = NotificationInfo{};
  if (!h.from.empty()) info.from = h.from.str();
  info.subject = h.subject;
  info.messageSize = h.messageSize;
  info.expiry = h.expiry;
  info.expiryAbsolute = h.expiryAbsolute;
  info.contentLocation = h.contentLocation.str();
  info.transactionId = h.transactionId.str();
  info.messageClass = h.messageClass;
  info.status = h.status;
  return true;
}

bool DecodeDeliveryReport(MmsHeaders& h, const std::uint8_t* data, std::size_t size, DeliveryInfo& info) {
  if (!DecodePushed(h, data, size, kDeliveryInd)) return false;
  info = DeliveryInfo{};
  info.messageId = h.messageId.str();
  info.to = h.to.str();
  info.date = h.date;
  info.status = h.status;
  return true;
}

bool DecodeReadReport(MmsHeaders& h, const std::uint8_t* data, std::size_t size, ReadReportInfo& info) {
  if (!DecodePushed(h, data, size, kReadOrigInd)) return false;
  info = ReadReportInfo{};
  info.messageId = h.messageId.str();
  info.from = h.from.str();
  info.to = h.to.str();
  info.date = h.date;
  info.readStatus = h.readStatus;
  return true;
}

RetrieveResult MakeRetrieveResult(const MmsHeaders& h) {
  const auto text = [](std::string_view v) -> std::optional<std::string> {
    if (v.empty()) return std::nullopt;
    return std::string(v);
  };
  RetrieveResult r;
  r.messageId = text(h.messageId.view());
  r.date = h.date;
  r.from = text(h.from.view());
  r.to = text(h.to.view());
  r.cc = text(h.cc.view());
  r.bcc = text(h.bcc.view());
  r.subject = h.subject;
  r.messageClass = h.messageClass;
  r.priority = h.priority;
  r.deliveryReport = h.deliveryReport;
  r.readReply = h.readReply;
  return r;
}

}  // namespace mms
