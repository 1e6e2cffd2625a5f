#pragma once
/// The push router client: the calls of "pushprxy.dll" (by ordinal on the phone: 1 close
/// client, 2 get message, 3 open client, 4 register client, 7 unregister client, 8 free
/// message). The router itself is the daemon `pushrouter` of the device root; the client
/// talks to it over the Unix-domain socket <root>/run/pushrouter.sock. Registrations live in
/// the registry under "\Platform\Push\<content type>" (values "Path", "Parameters",
/// "AppId"), where the daemon looks them up when it has to start a program.
///
/// Results are HRESULT-shaped: 0 (S_OK) on success, negative on failure.

#include <string>

#include "platform/sync.h"
#include "platform/types.h"

struct PushRouterClient;
using HPUSHROUTER = PushRouterClient*;

inline constexpr LONG PUSH_S_OK = 0;
inline constexpr LONG PUSH_E_FAIL = static_cast<LONG>(0x80004005u);
inline constexpr LONG PUSH_E_INVALIDARG = static_cast<LONG>(0x80070057u);
inline constexpr LONG PUSH_E_OUTOFMEMORY = static_cast<LONG>(0x8007000Eu);
inline constexpr LONG PUSH_E_HANDLE = static_cast<LONG>(0x80070006u);
/// No router answers on the device root (and none could be started).
inline constexpr LONG PUSH_E_NOROUTER = static_cast<LONG>(0x80070015u);
/// Another client already has the content type open.
inline constexpr LONG PUSH_E_BUSY = static_cast<LONG>(0x800700AAu);
/// Get message found nothing waiting.
inline constexpr LONG PUSH_E_NOMESSAGE = static_cast<LONG>(0x80070103u);
/// The router went away while the client was open.
inline constexpr LONG PUSH_E_DISCONNECTED = static_cast<LONG>(0x800704CAu);

/// The message record of get message. Packed to 28 octets (the record's size on the phone);
/// cbSize must hold 28 on the way in. After a successful get, pbBody points to a copy of the
/// body owned by the client until PushRouter_FreeMessage.
#pragma pack(push, 4)
struct PUSHMSG {
  DWORD cbSize;
  DWORD dwFlags;  ///< reserved, 0
  BYTE* pbBody;
  DWORD cbBody;
  DWORD dwSequence;  ///< the router's number of the message
  DWORD dwReserved;
};
#pragma pack(pop)
static_assert(sizeof(PUSHMSG) == 28, "the message record is 28 octets");

/// Ordinal 3. Opens the client for `contentType` (`appId` may be null). *event receives a
/// manual-reset event that is signalled while a message waits; *router the client handle.
/// When no router answers, the router program `pushrouter` of the program directory is
/// started (unless TESSERA_PUSHROUTER_AUTOSTART is "0") and the open is retried briefly.
LONG PushRouter_Open(LPCWSTR contentType, LPCWSTR appId, HANDLE* event, HPUSHROUTER* router);
/// Ordinal 2. Takes the oldest waiting message into `message` (cbSize 28). PUSH_E_NOMESSAGE
/// when none waits. The router keeps the message until it is freed.
LONG PushRouter_GetMessage(HPUSHROUTER router, PUSHMSG* message);
/// Ordinal 8. Releases the body and tells the router the message was taken.
LONG PushRouter_FreeMessage(PUSHMSG* message);
/// Ordinal 1. Closes the client; its event is signalled once and then closed. A message got
/// but not freed stays with the router and is handed out again.
LONG PushRouter_Close(HPUSHROUTER router);
/// Ordinal 4. Registers `path` with `parameters` as the program the router starts for
/// `contentType` while no client has it open. One registration per content type; a new one
/// replaces the old. An empty path or content type is refused.
LONG PushRouter_RegisterClient(LPCWSTR contentType, LPCWSTR appId, LPCWSTR path, LPCWSTR parameters);
/// Ordinal 7. Removes the registration of `contentType` (S_OK also when there was none).
LONG PushRouter_UnRegisterClient(LPCWSTR contentType, LPCWSTR appId);

namespace platform::push {

/// "<device root>/run/pushrouter.sock".
std::string SocketPath();
/// "\Platform\Push".
inline constexpr const WCHAR* kRegistryKey = u"\\Platform\\Push";
/// The UDP port of WAP push when neither --port nor the registry value "Port" says otherwise.
inline constexpr int kDefaultPort = 2948;

/// A registration as stored by PushRouter_RegisterClient.
struct Registration {
  std::u16string path;
  std::u16string parameters;
  std::u16string appId;
};
/// The registration of `contentType`, false when there is none.
bool LookUpRegistration(std::u16string_view contentType, Registration* out);

// ---- The wire between client and router ------------------------------------------------
// Frames are a 4-octet little-endian length and a payload whose first octet is the
// operation. Texts are a 4-octet length and UTF-8; bodies a 4-octet length and the octets.

enum class WireOp : std::uint8_t {
  Open = 1,         ///< client: content type, application id
  Ack = 2,          ///< client: sequence number of the message taken
  Inject = 3,       ///< client: content type, body
  Opened = 0x81,    ///< router: result (i32)
  Offer = 0x82,     ///< router: sequence number, body
  Injected = 0x83,  ///< router: result (i32)
};
inline constexpr std::uint32_t kMaxFrame = 16u << 20;

/// Appends a frame's parts to `out`.
void PutU32(std::string& out, std::uint32_t v);
void PutText(std::string& out, std::string_view text);
/// Wraps a payload into a frame.
std::string Frame(const std::string& payload);

/// Bounded reader over a payload with a sticky failure flag.
struct WireReader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool bad = false;
  std::uint8_t U8();
  std::uint32_t U32();
  std::string Text();
};

/// Writes all of `data` to the blocking socket `fd`; false on failure.
bool WriteAll(int fd, const std::string& data);
/// Reads one frame's payload from the blocking socket `fd`, waiting at most `timeoutMs`
/// (-1: no limit); false on end of stream, error, time-out or an oversized frame.
bool ReadFrame(int fd, std::string* payload, int timeoutMs);
/// Connects to the router of the device root; -1 when none answers.
int Connect();

}  // namespace platform::push
