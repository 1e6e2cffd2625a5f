#pragma once
// The Winsock 1.1 calls the datagram endpoint uses, over BSD sockets. Same names, shapes and
// result values as on the phone: SOCKET handles, INVALID_SOCKET, SOCKET_ERROR, an fd_set that
// lists sockets (so no descriptor number can overrun it), and select with a timeval.

#include <cstdint>

// The C library defines some of these names as macros; the Winsock names win in this file.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#undef FD_SETSIZE
#undef FD_ZERO
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef htons
#undef ntohs
#undef INADDR_NONE
#undef AF_INET
#undef SOCK_DGRAM

namespace winsock {

using SOCKET = std::uintptr_t;
using u_short = std::uint16_t;
using u_long = std::uint32_t;

inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;
inline constexpr int AF_INET = 2;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr u_long INADDR_NONE = 0xFFFFFFFFu;
inline constexpr int FD_SETSIZE = 64;

struct WSADATA {
  std::uint16_t wVersion;
  std::uint16_t wHighVersion;
};

struct in_addr {  // NOLINT: the Winsock record
  u_long s_addr;  // network order
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;  // network order
  in_addr sin_addr;
  char sin_zero[8];
};

struct fd_set {
  unsigned fd_count;
  SOCKET fd_array[FD_SETSIZE];
};

struct timeval {
  long tv_sec;
  long tv_usec;
};

inline constexpr std::uint16_t MAKEWORD(int low, int high) {
  return static_cast<std::uint16_t>((low & 0xFF) | ((high & 0xFF) << 8));
}

int WSAStartup(std::uint16_t version, WSADATA* data);
int WSACleanup();
SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
/// Dotted IPv4 text to an address in network order; INADDR_NONE when it is not one.
u_long inet_addr(const char* text);
u_short htons(u_short value);
u_short ntohs(u_short value);
int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr_in* to, int toLength);
int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr_in* from, int* fromLength);
/// Readability of the sockets in `readSet` (the others are not supported); a null timeout
/// waits without limit. Returns the number of ready sockets, 0 on time-out, SOCKET_ERROR.
int select(int ignored, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const timeval* timeout);
int __WSAFDIsSet(SOCKET s, fd_set* set);
/// Local port of a socket in host order, 0 when it has none yet.
u_short LocalPort(SOCKET s);

inline void FD_ZERO(fd_set* set) {
  set->fd_count = 0;
}
inline void FD_SET(SOCKET s, fd_set* set) {
  for (unsigned i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return;
  if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}
inline int FD_ISSET(SOCKET s, fd_set* set) {
  return __WSAFDIsSet(s, set);
}

}  // namespace winsock
