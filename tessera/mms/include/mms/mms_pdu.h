#pragma once
/// MMS PDUs: the header record, the encoder of the PDUs the system sends (m-send-req,
/// m-notifyresp-ind, m-acknowledge-ind), the decoder of every received PDU, classification of
/// WAP push bodies, addresses with their "/TYPE=" suffixes and transaction ids.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mms/byte_buffer.h"
#include "mms/fixed_text.h"
#include "mms/wsp.h"

namespace mms {

/// Header field codes (written with the high bit set).
enum class MmsField : std::uint8_t {
  Bcc = 0x01,
  Cc = 0x02,
  ContentLocation = 0x03,
  ContentType = 0x04,
  Date = 0x05,
  DeliveryReport = 0x06,
  DeliveryTime = 0x07,
  Expiry = 0x08,
  From = 0x09,
  MessageClass = 0x0A,
  MessageId = 0x0B,
  MessageType = 0x0C,
  MmsVersion = 0x0D,
  MessageSize = 0x0E,
  Priority = 0x0F,
  ReadReply = 0x10,
  ReportAllowed = 0x11,
  ResponseStatus = 0x12,
  ResponseText = 0x13,
  SenderVisibility = 0x14,
  Status = 0x15,
  Subject = 0x16,
  To = 0x17,
  TransactionId = 0x18,
  RetrieveStatus = 0x19,
  RetrieveText = 0x1A,
  ReadStatus = 0x1B,
  PreviouslySentBy = 0x20,
  PreviouslySentDate = 0x21,
};

/// X-Mms-Message-Type values.
inline constexpr std::uint8_t kSendReq = 0x80;
inline constexpr std::uint8_t kSendConf = 0x81;
inline constexpr std::uint8_t kNotificationInd = 0x82;
inline constexpr std::uint8_t kNotifyRespInd = 0x83;
inline constexpr std::uint8_t kRetrieveConf = 0x84;
inline constexpr std::uint8_t kAcknowledgeInd = 0x85;
inline constexpr std::uint8_t kDeliveryInd = 0x86;
inline constexpr std::uint8_t kReadRecInd = 0x87;
inline constexpr std::uint8_t kReadOrigInd = 0x88;

/// X-Mms-Read-Status values.
inline constexpr std::uint8_t kReadStatusRead = 0x80;
inline constexpr std::uint8_t kReadStatusDeleted = 0x81;

inline constexpr std::uint8_t kMmsVersion10 = 0x90;
inline constexpr std::uint8_t kStatusRetrieved = 0x81;
inline constexpr std::uint8_t kStatusDeferred = 0x83;

inline constexpr std::size_t kAddressListSize = 2048;

/// The header fields of one PDU. Texts live in fixed fields: a longer single text is cut to
/// the field (127 octets); an address list keeps only the addresses that fit whole (2047
/// octets with separators).
struct MmsHeaders {
  std::uint8_t messageType = 0;
  FixedText<128> transactionId;
  std::uint8_t mmsVersion = 0;
  std::uint32_t date = 0;
  FixedText<128> from;
  FixedText<kAddressListSize> to;
  FixedText<kAddressListSize> cc;
  FixedText<kAddressListSize> bcc;
  std::optional<StringValue> subject;
  FixedText<128> contentType;
  FixedText<128> typeParam;
  FixedText<128> startParam;
  FixedText<128> contentLocation;
  FixedText<128> messageId;
  std::uint32_t messageSize = 0;
  std::uint32_t expiry = 0;
  bool expiryAbsolute = false;
  std::uint32_t deliveryTime = 0;
  bool deliveryTimeAbsolute = false;
  bool deliveryReport = false;
  bool readReply = false;
  bool reportAllowed = true;
  std::uint8_t messageClass = 0;
  /// A message class received as text that names none of the four tokens.
  FixedText<128> messageClassText;
  std::uint8_t priority = 0;
  std::uint8_t senderVisibility = 0;
  std::uint8_t status = 0;
  std::uint8_t responseStatus = 0;
  std::optional<StringValue> responseText;
  /// Received only: why a retrieval failed, in the centre's words.
  std::uint8_t retrieveStatus = 0;
  std::optional<StringValue> retrieveText;
  /// Received only: X-Mms-Read-Status of a read report.
  std::uint8_t readStatus = 0;
  /// Received only: who sent a forwarded message before (";"-separated, in the order
  /// received) and the date of the first such field.
  FixedText<kAddressListSize> previouslySentBy;
  std::uint32_t previouslySentDate = 0;
  /// Received only: offset of the Content-Type field in the PDU; the body's package (Content-Type
  /// and entries) starts there.
  std::size_t contentTypeOffset = 0;
  /// Bit (1 << code) for every field the decoder read; cleared with the record.
  std::uint64_t fieldsDecoded = 0;

  bool Decoded(MmsField field) const { return (fieldsDecoded >> static_cast<int>(field)) & 1; }
};

/// Clears the record as at the start of every engine operation.
void ClearHeaders(MmsHeaders& headers);

enum class AddressType { Other = 0, Plmn = 1, Ipv4 = 2, Ipv6 = 3, Email = 4 };

struct AddressNode {
  std::string text;  ///< without the "/TYPE=" suffix
  AddressType type = AddressType::Other;
  bool operator==(const AddressNode&) const = default;
};

AddressNode ParseAddress(std::string_view text);
/// Splits at ';' keeping the order; an empty item between two separators is an empty Plmn
/// address. An empty text, or the empty tail after a final ';', adds nothing.
std::vector<AddressNode> ParseAddressList(std::string_view text);
/// The address with its suffix: "/TYPE=PLMN", "/TYPE=IPv4", "/TYPE=IPv6", or none.
std::string WriteAddress(const AddressNode& address);

/// Input of a send, with the defaults of its initialiser.
struct SendRequest {
  std::uint32_t date = 0;
  std::uint32_t expiry = 0;
  bool expiryAbsolute = false;
  std::uint32_t deliveryTime = 0;
  bool deliveryTimeAbsolute = false;
  std::string from, to, cc, bcc;  ///< ";"-separated lists; at least one of to, cc, bcc
  std::optional<StringValue> subject;
  std::uint8_t messageClass = 0x80;
  std::uint8_t priority = 0x81;
  std::uint8_t senderVisibility = 0x81;
  bool deliveryReport = false;
  bool readReply = false;
};

/// Fills the cleared record for an m-send-req from a request. The content type, Type and Start
/// are the caller's (the body's). False when no recipient is given or a text does not fit its
/// field: a send never goes out with addresses silently dropped.
bool LoadSendRequest(MmsHeaders& headers, const SendRequest& request);

/// 20 pseudo-random decimal digits into headers.transactionId.
bool GenerateTransactionId(MmsHeaders& headers);

/// Encodes the header section of an m-send-req, m-notifyresp-ind or m-acknowledge-ind; none
/// for any other message type, a missing transaction id, a missing content type (send-req) or
/// a zero status (notifyresp-ind).
std::optional<ByteBuffer> EncodePdu(const MmsHeaders& headers);

/// Decodes a PDU's header section into the cleared record. For m-send-req and m-retrieve-conf
/// the octets after the header section come back in *body (when body is given). Fields the
/// record has no place for (newer field codes, application headers named by text) are passed
/// over by the shape of their value, and zero octets after the last header are padding. False
/// for an empty PDU, a value that cannot be delimited or runs past the data (a cut PDU), or an
/// m-send-req or m-retrieve-conf without its Content-Type.
bool DecodePdu(const std::uint8_t* data, std::size_t size, MmsHeaders& headers,
               std::optional<ByteBuffer>* body = nullptr);
bool DecodePdu(const ByteBuffer& pdu, MmsHeaders& headers, std::optional<ByteBuffer>* body = nullptr);

enum class PushKind { Error = -1, Notification = 1, DeliveryReport = 2, Unknown = 3, ReadReport = 4 };

/// Classifies a WAP push body: a WSP Push PDU (second octet 0x06) carrying
/// "application/vnd.wap.mms-message", or a bare MMS PDU.
PushKind ClassifyPush(const std::uint8_t* data, std::size_t size);

/// Finds the MMS PDU inside a push body: strips a WSP Push PDU header when there is one.
/// False when the body is neither form.
bool LocateMmsPdu(const std::uint8_t* data, std::size_t size, std::size_t* offset);

struct NotificationInfo {
  std::optional<std::string> from;
  std::optional<StringValue> subject;
  std::uint32_t messageSize = 0;
  std::uint32_t expiry = 0;
  bool expiryAbsolute = false;
  std::string contentLocation;
  std::string transactionId;
  std::uint8_t messageClass = 0;
  std::uint8_t status = 0;
};

struct DeliveryInfo {
  std::string messageId;
  std::string to;
  std::uint32_t date = 0;
  std::uint8_t status = 0;
};

/// An m-read-orig-ind: a recipient (from) read, or deleted unread, the message messageId.
struct ReadReportInfo {
  std::string messageId;
  std::string from;
  std::string to;
  std::uint32_t date = 0;
  std::uint8_t readStatus = 0;
};

/// What a retrieval tells the store about the message; texts only when non-empty.
struct RetrieveResult {
  std::optional<std::string> messageId;
  std::uint32_t date = 0;
  std::optional<std::string> from, to, cc, bcc;
  std::optional<StringValue> subject;
  std::uint8_t messageClass = 0;
  std::uint8_t priority = 0;
  bool deliveryReport = false;
  bool readReply = false;
};

/// The retrieval's record from the headers of a decoded m-retrieve-conf.
RetrieveResult MakeRetrieveResult(const MmsHeaders& headers);

/// Decodes an m-notification-ind from a push body; false for any other PDU.
bool DecodeNotification(MmsHeaders& headers, const std::uint8_t* data, std::size_t size,
                        NotificationInfo& info);
/// Decodes an m-delivery-ind from a push body; false for any other PDU.
bool DecodeDeliveryReport(MmsHeaders& headers, const std::uint8_t* data, std::size_t size,
                          DeliveryInfo& info);
/// Decodes an m-read-orig-ind from a push body; false for any other PDU.
bool DecodeReadReport(MmsHeaders& headers, const std::uint8_t* data, std::size_t size, ReadReportInfo& info);

}  // namespace mms
