#pragma once
/// MM1 over HTTP/1.1 (libcurl): POST and GET straight to the MMSC, or through an HTTP proxy,
/// with the same result codes as a WSP session: the HTTP status is carried as its WSP status
/// octet, so a refusal reads 246 + octet whichever way the request went.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mms/byte_buffer.h"
#include "mms/byte_stream.h"
#include "transport/wsp_session.h"
#include "transport/wtp.h"

namespace transport {

/// How often a running transfer looks at the cancel hook, at the least.
inline constexpr int kHttpCancelPollMs = 50;
/// Largest reply taken when the profile sets no receive limit.
inline constexpr std::uint32_t kHttpReplyCap = 4u << 20;
/// HTTP status given to a reply larger than the receive limit (Request Entity Too Large).
inline constexpr int kHttpEntityTooLarge = 413;
/// Request headers sent when the configured list has none of the kind.
inline constexpr char kHttpDefaultUserAgent[] = "Tessera/1.0";
inline constexpr char kHttpDefaultAccept[] = "application/vnd.wap.mms-message";

/// The WSP status octet of an HTTP status: 100-101, 200-206, 300-305, 400-415 and 500-505
/// have their own octets; any other status of a class takes its class's first octet (a 429
/// reads as 400); a status outside 100-599 reads as 500.
std::uint8_t HttpStatusToWspStatus(long httpStatus);

/// "host:port" with a port of 1-65535 and a host of letters, digits, '.', '-' or a bracketed
/// IPv6 address; false for anything else (a bad proxy never reaches the HTTP client).
bool ParseProxy(std::string_view text, std::string* host, int* port);

struct HttpSessionOptions {
  /// "host:port" of the operator's HTTP proxy; empty goes straight to the MMSC.
  std::string proxy;
  CancelHook cancelHook;
  /// The configured request headers (User-Agent, Accept, x-wap-profile, ...).
  WspHeaderList headers;
  /// Wait for any progress before giving up, and the retries that stretch it, as for WTP:
  /// the transfer fails once nothing moved for timeoutMs * (maxRetries + 1). -1 reads the
  /// registry ("SendAndRecvTimeOut", "WTPMaxRetryTimes").
  std::int64_t timeoutMs = -1;
  int maxRetries = -1;
  /// Largest reply body; 0 takes kHttpReplyCap.
  std::uint32_t replyLimit = 0;
  /// Extra trust anchors (a PEM file) for HTTPS; empty uses the system's.
  std::string caFile;
};

class HttpSession {
 public:
  /// Makes the client handles; kOk, kOutOfMemory, or kUnreachable for a proxy that is not
  /// host:port.
  static int Open(HttpSessionOptions options, std::unique_ptr<HttpSession>* out);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  /// GET with the configured headers and `extra` after them. The exchange's result: kOk once
  /// a reply of any status came back, kUnreachable when no connection could be made (or the
  /// URL is not http or https), kTimedOut when it stalled, kCancelled, kSendFailed, kNoPdu.
  int Get(std::string_view url, const WspHeaderList* extra = nullptr);
  /// POST of `data` followed by the rest of `body` (may be null). Every request carries the
  /// configured headers, as every method of a WSP session carries those of its Connect.
  int Post(std::string_view url, std::string_view contentType, const mms::ByteBuffer& data,
           mms::ByteStream* body);
  /// The reply of the last method: 0 for a 1xx or 2xx status, else 246 + its WSP status octet.
  int ReadReply(std::string* contentType, mms::ByteBuffer* data);
  int ReadReply(mms::ByteBuffer* data) { return ReadReply(nullptr, data); }
  void Close();

  /// HTTP status of the last reply (0 before one came back).
  long lastStatus() const { return status_; }
  /// Octets sent and received by the last method (bodies only).
  std::int64_t uploaded() const { return uploaded_; }

 private:
  HttpSession() = default;
  struct Transfer;
  int Perform(std::string_view url, bool post, std::string_view contentType, const WspHeaderList* extra,
              const mms::ByteBuffer* data, mms::ByteStream* body);

  HttpSessionOptions options_;
  std::int64_t stallMs_ = 0;
  void* multi_ = nullptr;  // CURLM*
  void* easy_ = nullptr;   // CURL*
  long status_ = 0;
  std::string contentType_;
  mms::ByteBuffer reply_;
  std::int64_t uploaded_ = 0;
};

/// Frees what the HTTP client keeps for the calling thread (its TLS library's error queue and
/// random state). A thread that ran transfers calls it last, before it says it is done: freed
/// only at the thread's very end, the state is lost when the process exits in between.
void ReleaseThreadState();

}  // namespace transport
