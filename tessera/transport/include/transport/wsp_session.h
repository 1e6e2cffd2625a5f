#pragma once
/// Connection-oriented WSP over one WTP transaction: Connect (with capabilities and the
/// configured request headers), Redirect following, GET, POST, Reply parsing, Disconnect.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mms/byte_buffer.h"
#include "mms/byte_stream.h"
#include "transport/wtp.h"

namespace transport {

inline constexpr std::size_t kMaxWspHeaders = 32;
inline constexpr std::size_t kWspHeaderNameMax = 31;
inline constexpr std::size_t kWspHeaderValueMax = 127;
inline constexpr std::size_t kWspHeaderDataMax = 1024;
/// Redirects followed while connecting before giving up with 301.
inline constexpr int kMaxRedirects = 8;

struct WspHeaderEntry {
  std::string name;
  std::string value;
};
using WspHeaderList = std::vector<WspHeaderEntry>;

/// The request headers of the mm1 key's "WspHeader" subkey, in registry order: each REG_SZ
/// value split at ';' into one entry per non-empty item; at most 32 entries.
WspHeaderList LoadWspHeaderList();
/// "SendAndRecvTimeOut" of the mm1 key; 5000 when absent, not a DWORD, or -1.
std::uint32_t ReadSendAndRecvTimeOut();

/// Appends the header list: User-Agent as 0xA9, Accept as 0x80, other names as text; values
/// as Text-string. Stops at the first empty name.
bool EncodeWspHeaderList(const WspHeaderList& list, mms::ByteBuffer* out);
/// Connect capabilities for the two SDU sizes (empty when both are 0).
bool EncodeCapabilities(std::uint32_t clientSduSize, std::uint32_t serverSduSize, mms::ByteBuffer* out);
bool BuildConnect(std::uint32_t clientSduSize, std::uint32_t serverSduSize, const mms::ByteBuffer& headers,
                  mms::ByteBuffer* out);
bool BuildGet(std::string_view uri, const mms::ByteBuffer& headers, mms::ByteBuffer* out);
bool BuildPost(std::string_view uri, std::string_view contentType, const mms::ByteBuffer& headers,
               const mms::ByteBuffer& data, mms::ByteBuffer* out);
bool BuildDisconnect(std::uint32_t sessionId, mms::ByteBuffer* out);

/// WSP PDU types the session builds or parses.
enum class WspPduType : std::uint8_t {
  Connect = 0x01,
  ConnectReply = 0x02,
  Redirect = 0x03,
  Reply = 0x04,
  Disconnect = 0x05,
  Get = 0x40,
  Post = 0x60,
};

struct WspReply {
  std::uint8_t status = 0;
  std::string contentType;
  mms::ByteBuffer data;
};

struct WspRedirect {
  std::uint8_t flags = 0;
  bool bearerPresent = false;
  bool portPresent = false;
  std::uint8_t bearerType = 0;
  std::uint16_t port = 0;
  std::string address;  ///< dotted IPv4 text of the first four address octets
};

/// Reply: 0, 300 when it cannot be decoded, 301 when it is another PDU.
int ParseReply(const mms::ByteBuffer& pdu, WspReply* out);
/// Redirect: 0, 300 when it cannot be decoded or names fewer than four address octets, 301
/// when it is another PDU.
int ParseRedirect(const mms::ByteBuffer& pdu, WspRedirect* out);
/// ConnectReply: 0 with the session id, 300, or 301.
int ParseConnectReply(const mms::ByteBuffer& pdu, std::uint32_t* sessionId);

struct WspSessionOptions {
  std::string gateway;  ///< dotted IPv4 text
  int gatewayPort = 9201;
  std::uint32_t clientSduSize = 0;
  std::uint32_t serverSduSize = 0;
  CancelHook cancelHook;
  WspHeaderList headers;
  /// Overrides of the registry values; -1 reads the registry.
  std::int64_t timeoutMs = -1;
  int maxRetries = -1;
  /// A datagram port to use instead of a fresh socket (tests put a fake gateway here).
  std::unique_ptr<DatagramPort> port;
};

class WspSession {
 public:
  /// Creates the endpoint and the transaction and connects, following redirects. Returns the
  /// Connect's result code; *out holds the session only on success.
  static int Open(WspSessionOptions options, std::unique_ptr<WspSession>* out);
  /// Sends Disconnect (without waiting) and releases the socket.
  ~WspSession();
  WspSession(const WspSession&) = delete;
  WspSession& operator=(const WspSession&) = delete;

  /// GET with the session's header list and `extra` headers after it.
  int Get(std::string_view uri, const WspHeaderList* extra = nullptr);
  /// POST of `data` followed by the rest of `body` (may be null); with or without the
  /// session's header list.
  int Post(std::string_view uri, std::string_view contentType, bool withHeaders, const mms::ByteBuffer& data,
           mms::ByteStream* body);
  /// Collects and decodes the Reply: 0 for a status below 0x30, else 246 + status, or a
  /// transport code.
  int ReadReply(std::string* contentType, mms::ByteBuffer* data);
  int ReadReply(mms::ByteBuffer* data) { return ReadReply(nullptr, data); }
  /// Disconnect; the session is unusable afterwards. Called by the destructor when needed.
  void Close();

  std::uint32_t sessionId() const { return sessionId_; }
  /// Status octet of the last Reply (0 before one arrived).
  std::uint8_t lastStatus() const { return lastStatus_; }
  WtpTransaction& transaction() { return *transaction_; }

 private:
  WspSession() = default;
  int Connect();

  std::unique_ptr<WtpTransaction> transaction_;
  std::uint32_t sessionId_ = 0;
  std::uint32_t clientSduSize_ = 0;
  std::uint32_t serverSduSize_ = 0;
  WspHeaderList headers_;
  mms::ByteBuffer pending_;  ///< PDU of the running method, kept until its reply is read
  std::uint8_t lastStatus_ = 0;
  bool open_ = false;
};

}  // namespace transport
