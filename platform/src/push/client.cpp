// The push router client. An open client holds one connection to the daemon; a reader
// thread takes the daemon's offers into a local queue and keeps the client's event
// signalled while that queue is not empty. When the connection breaks (the daemon was
// restarted), the reader reconnects and opens again; offers not yet got are dropped,
// because the daemon keeps every message until it is freed and offers it again.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"
#include "platform/text.h"

using namespace platform::push;

namespace {

struct Offer {
  std::uint32_t seq = 0;
  std::string body;
};

constexpr int kReplyTimeoutMs = 5000;
constexpr int kStartWaitMs = 3000;

}  // namespace

struct PushRouterClient {
  std::mutex m;
  std::condition_variable wake;
  int fd = -1;
  HANDLE event = nullptr;
  std::thread reader;
  std::deque<Offer> pending;
  bool closing = false;
  std::string type;
  std::string appId;
};

namespace {

struct Clients {
  std::mutex lock;
  std::unordered_set<PushRouterClient*> open;
  struct Taken {
    PushRouterClient* client;
    std::uint32_t seq;
  };
  std::unordered_map<BYTE*, Taken> bodies;  // bodies handed out by get message
};

Clients& C() {
  static Clients* c = new Clients;
  return *c;
}

bool AutoStartAllowed() {
  const char* v = std::getenv("TESSERA_PUSHROUTER_AUTOSTART");
  return !(v && std::strcmp(v, "0") == 0);
}

// Starts `pushrouter` of the program directory as a detached daemon (double fork, its own
// session), so it outlives the program and leaves no zombie behind.
void StartRouter() {
  std::string program = platform::NativePath(platform::JoinPath(platform::ProgramDirectory(), u"pushrouter"));
  if (::access(program.c_str(), X_OK) != 0) return;
  char* argv[] = {program.data(), nullptr};
  pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      ::close_range(3, ~0u, 0);  // nothing of the program leaks into the daemon
      ::execv(program.c_str(), argv);
      ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

// Connects and opens `type`; the result of the router, or PUSH_E_NOROUTER.
LONG OpenConnection(const std::string& type, const std::string& appId, bool autoStart, int* fdOut) {
  int fd = Connect();
  if (fd < 0 && autoStart && AutoStartAllowed()) {
    StartRouter();
    for (int waited = 0; fd < 0 && waited < kStartWaitMs; waited += 50) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      fd = Connect();
    }
  }
  if (fd < 0) return PUSH_E_NOROUTER;
  std::string payload(1, static_cast<char>(WireOp::Open));
  PutText(payload, type);
  PutText(payload, appId);
  std::string reply;
  if (!WriteAll(fd, Frame(payload)) || !ReadFrame(fd, &reply, kReplyTimeoutMs)) {
    ::close(fd);
    return PUSH_E_NOROUTER;
  }
  WireReader r{reinterpret_cast<const std::uint8_t*>(reply.data()),
               reinterpret_cast<const std::uint8_t*>(reply.data()) + reply.size()};
  auto op = static_cast<WireOp>(r.U8());
  auto result = static_cast<LONG>(r.U32());
  if (r.bad || op != WireOp::Opened) result = PUSH_E_FAIL;
  if (result < 0) {
    ::close(fd);
    return result;
  }
  *fdOut = fd;
  return PUSH_S_OK;
}

void ReaderLoop(PushRouterClient* c) {
  for (;;) {
    int fd;
    {
      std::lock_guard lk(c->m);
      if (c->closing) return;
      fd = c->fd;
    }
    std::string payload;
    if (fd >= 0 && ReadFrame(fd, &payload, -1)) {
      WireReader r{reinterpret_cast<const std::uint8_t*>(payload.data()),
                   reinterpret_cast<const std::uint8_t*>(payload.data()) + payload.size()};
      if (static_cast<WireOp>(r.U8()) != WireOp::Offer) continue;
      Offer o;
      o.seq = r.U32();
      o.body = r.Text();
      if (r.bad) continue;
      std::lock_guard lk(c->m);
      c->pending.push_back(std::move(o));
      SetEvent(c->event);
      continue;
    }
    // The connection broke: forget what was offered and open again once the router is back.
    {
      std::unique_lock lk(c->m);
      if (c->closing) return;
      if (c->fd >= 0) ::close(c->fd);
      c->fd = -1;
      c->pending.clear();
      ResetEvent(c->event);
      c->wake.wait_for(lk, std::chrono::milliseconds(500), [c] { return c->closing; });
      if (c->closing) return;
    }
    int fresh = -1;
    if (OpenConnection(c->type, c->appId, true, &fresh) == PUSH_S_OK) {
      std::lock_guard lk(c->m);
      if (c->closing) {
        ::close(fresh);
        return;
      }
      c->fd = fresh;
    }
  }
}

bool IsOpen(PushRouterClient* c) {
  std::lock_guard lk(C().lock);
  return C().open.count(c) != 0;
}

std::string Narrow(LPCWSTR text) {
  return text ? platform::Utf16ToUtf8(text) : std::string();
}

}  // namespace

LONG PushRouter_Open(LPCWSTR contentType, LPCWSTR appId, HANDLE* event, HPUSHROUTER* router) {
  if (!contentType || !*contentType || !event || !router) return PUSH_E_INVALIDARG;
  *event = nullptr;
  *router = nullptr;
  auto* c = new PushRouterClient;
  c->type = Narrow(contentType);
  c->appId = Narrow(appId);
  LONG result = OpenConnection(c->type, c->appId, true, &c->fd);
  if (result < 0) {
    delete c;
    return result;
  }
  c->event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  if (!c->event) {
    ::close(c->fd);
    delete c;
    return PUSH_E_OUTOFMEMORY;
  }
  {
    std::lock_guard lk(C().lock);
    C().open.insert(c);
  }
  c->reader = std::thread(ReaderLoop, c);
  *event = c->event;
  *router = c;
  return PUSH_S_OK;
}

LONG PushRouter_GetMessage(HPUSHROUTER router, PUSHMSG* message) {
  if (!message || message->cbSize != sizeof(PUSHMSG)) return PUSH_E_INVALIDARG;
  if (!router || !IsOpen(router)) return PUSH_E_HANDLE;
  Offer o;
  {
    std::lock_guard lk(router->m);
    if (router->pending.empty()) {
      ResetEvent(router->event);
      return router->fd < 0 ? PUSH_E_DISCONNECTED : PUSH_E_NOMESSAGE;
    }
    o = std::move(router->pending.front());
    router->pending.pop_front();
    if (router->pending.empty()) ResetEvent(router->event);
  }
  auto* body = new (std::nothrow) BYTE[o.body.size() + 1];
  if (!body) return PUSH_E_OUTOFMEMORY;
  std::memcpy(body, o.body.data(), o.body.size());
  {
    std::lock_guard lk(C().lock);
    C().bodies[body] = {router, o.seq};
  }
  message->dwFlags = 0;
  message->pbBody = body;
  message->cbBody = static_cast<DWORD>(o.body.size());
  message->dwSequence = o.seq;
  message->dwReserved = 0;
  return PUSH_S_OK;
}

LONG PushRouter_FreeMessage(PUSHMSG* message) {
  if (!message || message->cbSize != sizeof(PUSHMSG) || !message->pbBody) return PUSH_E_INVALIDARG;
  PushRouterClient* owner = nullptr;
  std::uint32_t seq = 0;
  {
    std::lock_guard lk(C().lock);
    auto it = C().bodies.find(message->pbBody);
    if (it == C().bodies.end()) return PUSH_E_INVALIDARG;
    owner = it->second.client;
    seq = it->second.seq;
    C().bodies.erase(it);
    if (owner && !C().open.count(owner)) owner = nullptr;
    // The acknowledgement is sent under the table lock so that Close cannot free the
    // client in between.
    if (owner) {
      std::lock_guard clk(owner->m);
      std::string payload(1, static_cast<char>(WireOp::Ack));
      PutU32(payload, seq);
      if (owner->fd >= 0) WriteAll(owner->fd, Frame(payload));
    }
  }
  delete[] message->pbBody;
  message->pbBody = nullptr;
  message->cbBody = 0;
  return PUSH_S_OK;
}

LONG PushRouter_Close(HPUSHROUTER router) {
  {
    std::lock_guard lk(C().lock);
    if (!router || !C().open.erase(router)) return PUSH_E_HANDLE;
    for (auto& [body, taken] : C().bodies) {
      if (taken.client == router) taken.client = nullptr;
    }
  }
  {
    std::lock_guard lk(router->m);
    router->closing = true;
    if (router->fd >= 0) ::shutdown(router->fd, SHUT_RDWR);
  }
  router->wake.notify_all();
  if (router->reader.joinable()) router->reader.join();
  if (router->fd >= 0) ::close(router->fd);
  SetEvent(router->event);
  CloseHandle(router->event);
  delete router;
  return PUSH_S_OK;
}

LONG PushRouter_RegisterClient(LPCWSTR contentType, LPCWSTR appId, LPCWSTR path, LPCWSTR parameters) {
  if (!contentType || !*contentType || !path || !*path) return PUSH_E_INVALIDARG;
  std::u16string keyName = std::u16string(kRegistryKey) + u"\\" + contentType;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                     &disposition) != ERROR_SUCCESS)
    return PUSH_E_FAIL;
  auto write = [&](const WCHAR* name, LPCWSTR value) {
    std::u16string v = value ? value : u"";
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                         static_cast<DWORD>((v.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
  };
  bool ok = write(u"Path", path) && write(u"Parameters", parameters) && write(u"AppId", appId);
  RegFlushKey(key);
  RegCloseKey(key);
  return ok ? PUSH_S_OK : PUSH_E_FAIL;
}

LONG PushRouter_UnRegisterClient(LPCWSTR contentType, LPCWSTR appId) {
  if (!contentType || !*contentType) return PUSH_E_INVALIDARG;
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return PUSH_S_OK;
  LONG r = RegDeleteKey(key, contentType);
  RegCloseKey(key);
  return (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) ? PUSH_S_OK : PUSH_E_FAIL;
}
