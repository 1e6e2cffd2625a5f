#include "transport/datagram_endpoint.h"

#include <new>
#include <string>

#include "platform/winsock.h"
#include "transport/results.h"

namespace transport {

std::unique_ptr<DatagramEndpoint> DatagramEndpoint::Create(std::uint32_t timeoutMs) {
  winsock::WSADATA wsa{};
  if (winsock::WSAStartup(winsock::MAKEWORD(1, 1), &wsa) != 0) return nullptr;
  const winsock::SOCKET s = winsock::socket(winsock::AF_INET, winsock::SOCK_DGRAM, 0);
  if (s == winsock::INVALID_SOCKET) {
    winsock::WSACleanup();
    return nullptr;
  }
  std::unique_ptr<DatagramEndpoint> e(new (std::nothrow) DatagramEndpoint);
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kReceiveBufferSize]);
  if (!e || !buffer) {
    winsock::closesocket(s);
    winsock::WSACleanup();
    if (e) e->socket_ = winsock::INVALID_SOCKET;
    return nullptr;
  }
  e->socket_ = s;
  e->receiveBuffer_ = std::move(buffer);
  e->timeoutMs_ = timeoutMs;
  return e;
}

DatagramEndpoint::~DatagramEndpoint() {
  if (socket_ == winsock::INVALID_SOCKET) return;
  winsock::closesocket(socket_);
  winsock::WSACleanup();
}

int DatagramEndpoint::Send(const mms::ByteBuffer& data, const PeerAddress& peer) {
  winsock::sockaddr_in to{};
  to.sin_family = winsock::AF_INET;
  to.sin_port = winsock::htons(peer.port);
  // No name resolution: whatever inet_addr makes of the text is where the datagram goes.
  const std::string text(peer.address.view());
  to.sin_addr.s_addr = winsock::inet_addr(text.c_str());
  const int n =
      winsock::sendto(socket_, reinterpret_cast<const char*>(data.data()), data.length(), 0, &to, sizeof to);
  return n == winsock::SOCKET_ERROR ? kSendFailed : kOk;
}

int DatagramEndpoint::Receive(mms::ByteBuffer* out) {
  winsock::fd_set readable;
  winsock::FD_ZERO(&readable);
  winsock::FD_SET(socket_, &readable);
  const winsock::timeval tv{static_cast<long>(timeoutMs_ / 1000),
                            static_cast<long>(timeoutMs_ % 1000) * 1000};
  const int ready = winsock::select(0, &readable, nullptr, nullptr, &tv);
  if (ready == winsock::SOCKET_ERROR) return kSendFailed;
  if (ready == 0 || !winsock::FD_ISSET(socket_, &readable)) return kTimedOut;
  winsock::sockaddr_in from{};
  int fromLength = sizeof from;
  const int n = winsock::recvfrom(socket_, reinterpret_cast<char*>(receiveBuffer_.get()), kReceiveBufferSize,
                                  0, &from, &fromLength);
  if (n == winsock::SOCKET_ERROR || n <= 0) return kSendFailed;
  mms::ByteBuffer fresh(receiveBuffer_.get(), n);
  if (fresh.length() != n) return kOutOfMemory;
  *out = std::move(fresh);
  return kOk;
}

std::uint16_t DatagramEndpoint::LocalPort() const {
  return winsock::LocalPort(socket_);
}

}  // namespace transport
