// The framing between the push router client and the daemon, shared by both sides.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/unix_socket.h"
#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"

namespace platform::push {

std::string SocketPath() {
  std::u16string run = JoinPath(DeviceRoot(), u"run");
  return NativePath(JoinPath(run, u"pushrouter.sock"));
}

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void PutText(std::string& out, std::string_view text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

std::string Frame(const std::string& payload) {
  std::string f;
  f.reserve(payload.size() + 4);
  PutU32(f, static_cast<std::uint32_t>(payload.size()));
  f += payload;
  return f;
}

std::uint8_t WireReader::U8() {
  if (bad || p >= end) {
    bad = true;
    return 0;
  }
  return *p++;
}

std::uint32_t WireReader::U32() {
  if (bad || end - p < 4) {
    bad = true;
    return 0;
  }
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(*p++) << (8 * i);
  return v;
}

std::string WireReader::Text() {
  std::uint32_t n = U32();
  if (bad || static_cast<std::size_t>(end - p) < n) {
    bad = true;
    return {};
  }
  std::string s(reinterpret_cast<const char*>(p), n);
  p += n;
  return s;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

bool ReadExact(int fd, char* out, std::size_t size, int timeoutMs) {
  std::size_t done = 0;
  while (done < size) {
    if (timeoutMs >= 0) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, timeoutMs);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
    }
    ssize_t n = ::recv(fd, out + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool ReadFrame(int fd, std::string* payload, int timeoutMs) {
  char head[4];
  if (!ReadExact(fd, head, 4, timeoutMs)) return false;
  std::uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[i])) << (8 * i);
  if (n == 0 || n > kMaxFrame) return false;
  payload->resize(n);
  return ReadExact(fd, payload->data(), n, timeoutMs);
}

int Connect() {
  return platform::core::ConnectUnixSocket(SocketPath());
}

bool LookUpRegistration(std::u16string_view contentType, Registration* out) {
  if (contentType.empty()) return false;
  std::u16string keyName = std::u16string(kRegistryKey) + u"\\" + std::u16string(contentType);
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  auto read = [&](const WCHAR* name, std::u16string* value) {
    WCHAR buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
      return false;
    std::size_t chars = size / sizeof(WCHAR);
    while (chars > 0 && buffer[chars - 1] == 0) --chars;
    value->assign(buffer, chars);
    return true;
  };
  Registration r;
  bool ok = read(u"Path", &r.path);
  read(u"Parameters", &r.parameters);
  read(u"AppId", &r.appId);
  RegCloseKey(key);
  if (!ok || r.path.empty()) return false;
  if (out) *out = std::move(r);
  return true;
}

}  // namespace platform::push
