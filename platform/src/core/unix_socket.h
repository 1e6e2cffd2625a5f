#pragma once
// Unix-domain stream sockets under the device root's run folder: the window system's
// per-process sockets and the push router's.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform::core {

/// False when the path does not fit a socket address.
inline bool MakeUnixAddress(const std::string& path, sockaddr_un* addr) {
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

/// A connected, close-on-exec stream socket; -1 when nobody listens at `path`.
inline int ConnectUnixSocket(const std::string& path) {
  sockaddr_un addr;
  if (!MakeUnixAddress(path, &addr)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace platform::core
