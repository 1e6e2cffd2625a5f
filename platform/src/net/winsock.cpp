#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {
// The C library's values, taken before the Winsock header hides their macro names.
constexpr int kSysInet = AF_INET;
constexpr int kSysDatagram = SOCK_DGRAM | SOCK_CLOEXEC;
}  // namespace

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/winsock.h"

namespace winsock {

namespace {
std::atomic<int> startups{0};

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

int WSAStartup(std::uint16_t version, WSADATA* data) {
  if ((version & 0xFF) < 1) return 10092;  // WSAVERNOTSUPPORTED
  if (data) {
    data->wVersion = MAKEWORD(1, 1);
    data->wHighVersion = MAKEWORD(2, 2);
  }
  ++startups;
  return 0;
}

int WSACleanup() {
  if (startups.load() <= 0) return SOCKET_ERROR;
  --startups;
  return 0;
}

SOCKET socket(int family, int type, int protocol) {
  if (family != AF_INET || type != SOCK_DGRAM) return INVALID_SOCKET;
  const int fd = ::socket(kSysInet, kSysDatagram, protocol);
  return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
}

int closesocket(SOCKET s) {
  return ::close(static_cast<int>(s)) == 0 ? 0 : SOCKET_ERROR;
}

u_long inet_addr(const char* text) {
  if (!text) return INADDR_NONE;
  ::in_addr a{};
  // inet_aton takes the same forms as the Winsock call (a, a.b, a.b.c, a.b.c.d, octal, hex).
  if (::inet_aton(text, &a) == 0) return INADDR_NONE;
  return a.s_addr;
}

u_short htons(u_short value) {
  return static_cast<u_short>((value >> 8) | (value << 8));
}
u_short ntohs(u_short value) {
  return htons(value);
}

int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr_in* to, int toLength) {
  if (!to || length < 0) return SOCKET_ERROR;
  ::sockaddr_in a{};
  a.sin_family = kSysInet;
  a.sin_port = to->sin_port;
  a.sin_addr.s_addr = to->sin_addr.s_addr;
  ssize_t n;
  do {
    n = ::sendto(static_cast<int>(s), buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL,
                 reinterpret_cast<const ::sockaddr*>(&a), sizeof a);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? SOCKET_ERROR : static_cast<int>(n);
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr_in* from, int* fromLength) {
  ::sockaddr_in a{};
  socklen_t alen = sizeof a;
  ssize_t n;
  do {
    n = ::recvfrom(static_cast<int>(s), buffer, static_cast<std::size_t>(length), flags,
                   reinterpret_cast<::sockaddr*>(&a), &alen);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return SOCKET_ERROR;
  if (from) {
    from->sin_family = AF_INET;
    from->sin_port = a.sin_port;
    from->sin_addr.s_addr = a.sin_addr.s_addr;
  }
  if (fromLength) *fromLength = sizeof(sockaddr_in);
  return static_cast<int>(n);
}

int select(int, fd_set* readSet, fd_set*, fd_set*, const timeval* timeout) {
  if (!readSet || readSet->fd_count == 0) return SOCKET_ERROR;
  ::pollfd fds[FD_SETSIZE];
  const unsigned count = readSet->fd_count;
  for (unsigned i = 0; i < count; ++i) fds[i] = {static_cast<int>(readSet->fd_array[i]), POLLIN, 0};
  const std::int64_t budget =
      timeout ? static_cast<std::int64_t>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000 : -1;
  const std::int64_t deadline = NowMs() + budget;
  int n;
  for (;;) {
    const std::int64_t left = budget < 0 ? -1 : std::max<std::int64_t>(0, deadline - NowMs());
    n = ::poll(fds, count, static_cast<int>(left));
    if (n >= 0 || errno != EINTR) break;
  }
  if (n < 0) return SOCKET_ERROR;
  readSet->fd_count = 0;
  for (unsigned i = 0; i < count; ++i)
    if (fds[i].revents & (POLLIN | POLLERR | POLLHUP))
      readSet->fd_array[readSet->fd_count++] = static_cast<SOCKET>(fds[i].fd);
  return static_cast<int>(readSet->fd_count);
}

int __WSAFDIsSet(SOCKET s, fd_set* set) {
  for (unsigned i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

u_short LocalPort(SOCKET s) {
  ::sockaddr_in a{};
  socklen_t alen = sizeof a;
  if (::getsockname(static_cast<int>(s), reinterpret_cast<::sockaddr*>(&a), &alen) != 0) return 0;
  return ntohs(a.sin_port);
}

}  // namespace winsock
