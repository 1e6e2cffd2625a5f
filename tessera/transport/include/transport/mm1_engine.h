#pragma once
/// The MM1 engine: send, retrieve and notify-response over one WSP session per operation,
/// decoding of push data, and the store of MMSC profiles in the registry.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "config/keys.h"
#include "mms/fixed_text.h"
#include "mms/mms_pdu.h"
#include "transport/datagram_endpoint.h"
#include "transport/wsp_session.h"
#include "transport/wtp.h"

namespace transport {

/// Result codes of the engine (besides those of WTP and WSP).
enum Mm1Result : int {
  kMm1Ok = 0,
  kMm1InvalidArgument = -1,      ///< invalid arguments, or not applicable in the current mode
  kMm1FileError = -2,            ///< out of memory, file error, empty package or empty body
  kMm1NoSessionOpened = 302,     ///< the WSP session could not be opened
  kMm1NotMultipart = 400,        ///< the package is not multipart/mixed or multipart/related
  kMm1TooLarge = 401,            ///< body larger than sendLimit, or 254001 octets or more
  kMm1MissingTarget = 402,       ///< missing engine, content location, or empty MMSC URL
  kMm1BadReplyType = 405,        ///< no reply data, or not the expected MMS message type
  kMm1BadContentType = 406,      ///< reply content type absent or not the MMS one
  kMm1EncodeFailed = 407,        ///< the MMS PDU could not be encoded
  kMm1DecodeFailed = 408,        ///< the MMS PDU in the reply could not be decoded
  kMm1NoSession = 409,           ///< no session
  kMm1ResponseStatusBase = 322,  ///< + X-Mms-Response-Status 0x81..0x88 of an m-send-conf
};

/// What a result code of the engine (or of WTP and WSP beneath it) means, in words for a
/// person: "could not open a session with the WAP gateway 127.0.0.1:9201". `gateway`
/// ("host:port") names the gateway where the text mentions it.
std::string Mm1ResultText(int code, std::string_view gateway = {});

/// Bodies of this many octets or more are never sent through the WAP gateway, whatever the
/// profile allows (a WTP message holds at most 256 packets); over HTTP only sendLimit counts.
inline constexpr std::uint32_t kMm1BodyCap = 254001;
inline constexpr char kMmsContentType[] = "application/vnd.wap.mms-message";

/// The profile used when the default one cannot be read; a fresh install reaches the local
/// test set-up (Kannel's wapbox and mmsc-lite on loopback) with it.
inline constexpr char kBuiltInGateway[] = "127.0.0.1";
inline constexpr char kBuiltInMmscUri[] = "http://127.0.0.1:8002/mms";
inline constexpr std::uint32_t kBuiltInGatewayPort = 9201;

inline constexpr const char16_t* kMm1ProfileKey = config::kMm1Key;
inline constexpr const char16_t* kSizeLimitKey = config::kSizeLimitKey;
inline constexpr const char16_t* kTryLimitKey = config::kTryLimitKey;

/// How a profile reaches its MMSC: WSP through the WAP gateway, or HTTP (through the proxy
/// when one is set). Kept as "Transport" (REG_DWORD) in the profile's key; a profile without
/// the value, or with any other number, uses the gateway.
enum class Mm1Transport : std::uint32_t {
  Wsp = 0,
  Http = 1,
};

struct Mm1Profile {
  mms::FixedText<64> name;
  mms::FixedText<64> gateway;
  std::uint32_t gatewayPort = 0;
  mms::FixedText<64> mmscUri;
  std::uint32_t notifyRespAfterRetrieval = 1;
  std::uint32_t sendLimit = 0;
  std::uint32_t recvLimit = 0;
  std::uint32_t tryCount = 0;
  Mm1Transport transport = Mm1Transport::Wsp;
  /// "Proxy" (REG_SZ) of the profile's key: host:port of the HTTP proxy; empty goes direct.
  mms::FixedText<64> proxy;
};

/// "DefaultSetting" and "TotalSettings" with the mark 'w' when both were read.
struct ProfileIndex {
  std::uint8_t defaultSetting = 0;
  std::uint8_t totalSettings = 0;
  char mark = 0;
  bool valid() const { return mark == 'w'; }
};

inline constexpr int kLoadByIndex = 1;
inline constexpr int kLoadDefault = 2;

/// Loads profile `index` (from 1), or the default one with mode kLoadDefault. False unless
/// the index record is valid, the index exists, and every required value has its type.
bool Mm1LoadProfile(int index, Mm1Profile* out, int mode = kLoadByIndex);
/// The profile's own values only (name, gateway, port, URL, mode), without the global limits.
bool Mm1ReadProfileEntry(int index, Mm1Profile* out);
/// The new TotalSettings (the profile's index), or -1.
int Mm1AddProfile(const Mm1Profile& profile, bool makeDefault);
/// Rewrites Name, Gateway, MmscURI, GatewayPort, Transport and Proxy; TotalSettings or -1.
int Mm1UpdateProfile(int index, const Mm1Profile& profile, bool makeDefault);
/// TotalSettings after the deletion, or -1.
int Mm1DeleteProfile(int index);
/// From the index record; 0 when it cannot be read.
int Mm1DefaultProfileIndex();
int Mm1ProfileCount();
ProfileIndex Mm1ReadProfileIndex();

struct Mm1Engine {
  std::uint32_t tryCount = 0;
  std::uint32_t sendLimit = 0;
  std::uint32_t recvLimit = 0;
  std::uint32_t notifyRespAfterRetrieval = 0;
  mms::FixedText<128> gateway;
  mms::FixedText<128> mmscUri;
  std::uint32_t gatewayPort = 0;
  Mm1Transport transport = Mm1Transport::Wsp;
  mms::FixedText<64> proxy;
  mms::MmsHeaders headers;
  CancelHook cancelHook;
  WspHeaderList headerList;
  /// Tests put a scripted gateway here; null opens a UDP socket to the gateway.
  std::function<std::unique_ptr<DatagramPort>()> portFactory;
  /// Time-out and retries handed to the session; -1 reads the registry.
  std::int64_t timeoutMs = -1;
  int maxRetries = -1;
  /// Extra trust anchors (PEM) for HTTPS MMSCs; empty uses the system's (tests set their own).
  std::string caFile;
};

/// Loads the default profile into the engine (reportAllowed set); null on allocation failure.
std::unique_ptr<Mm1Engine> Mm1CreateEngine();
void Mm1FreeEngine(std::unique_ptr<Mm1Engine>& engine);
/// Copies the profile into the engine and makes it the default; false when it cannot be read.
bool Mm1UseProfile(Mm1Engine* engine, int index);
/// Loads the default profile, or the built-in one (which is then added to the list).
void Mm1LoadEngineProfile(Mm1Engine* engine);

int Mm1Send(Mm1Engine* engine, std::u16string_view packagePath, const mms::SendRequest* request,
            std::string* messageId);
int Mm1Retrieve(Mm1Engine* engine, std::string_view contentLocation, std::string_view transactionId,
                const std::string* msisdn, std::u16string_view outputPath, mms::RetrieveResult* result);
int Mm1SendDeferredNotifyResp(Mm1Engine* engine, std::string_view transactionId);
/// m-notifyresp-ind with status Retrieved, in either mode, for a notification whose message
/// was fetched already: the MMSC sends a notification again when the answer was lost.
int Mm1AcknowledgeAgain(Mm1Engine* engine, std::string_view transactionId);

bool Mm1DecodeNotification(Mm1Engine* engine, const std::uint8_t* data, std::size_t size,
                           mms::NotificationInfo* info);
bool Mm1DecodeDeliveryReport(Mm1Engine* engine, const std::uint8_t* data, std::size_t size,
                             mms::DeliveryInfo* info);
mms::PushKind Mm1ClassifyPush(Mm1Engine* engine, const std::uint8_t* data, std::size_t size);

void Mm1SetCancelHook(Mm1Engine* engine, int (*function)(int, void*), void* value);
void Mm1ClearCancelHook(Mm1Engine* engine);

}  // namespace transport
