// The datagram endpoint on real loopback sockets.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "transport/datagram_endpoint.h"
#include "transport/results.h"

using namespace transport;

namespace {

// A UDP socket bound to a free loopback port.
struct Peer {
  int fd = -1;
  std::uint16_t port = 0;
  Peer() {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Peer() { ::close(fd); }
  std::string ReceiveFrom(sockaddr_in* from) {
    char buf[4096];
    socklen_t len = sizeof *from;
    const ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(from), &len);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
  }
  void SendTo(const sockaddr_in& to, const std::string& data) {
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
};

}  // namespace

TEST(DatagramEndpoint, SendsReceivesAndReportsEmptyDatagrams) {
  auto e = DatagramEndpoint::Create(2000);
  ASSERT_NE(e, nullptr);
  Peer peer;
  mms::ByteBuffer out;
  out.AppendString("hello");
  ASSERT_EQ(e->Send(out, PeerAddress("127.0.0.1", peer.port)), kOk);
  sockaddr_in from{};
  EXPECT_EQ(peer.ReceiveFrom(&from), "hello");
  EXPECT_EQ(ntohs(from.sin_port), e->LocalPort());

  // Longer than the receive buffer: truncated to 2048 octets.
  peer.SendTo(from, std::string(3000, 'x'));
  mms::ByteBuffer in;
  ASSERT_EQ(e->Receive(&in), kOk);
  EXPECT_EQ(in.length(), 2048);
  peer.SendTo(from, "ok");
  ASSERT_EQ(e->Receive(&in), kOk);
  EXPECT_EQ(in.view(), "ok");
  // A zero-length datagram is an error, not an empty result.
  peer.SendTo(from, "");
  EXPECT_EQ(e->Receive(&in), kSendFailed);
  EXPECT_EQ(in.view(), "ok");
}

TEST(DatagramEndpoint, WaitsItsTimeOutAndResolvesNoNames) {
  auto e = DatagramEndpoint::Create(1500);
  ASSERT_NE(e, nullptr);
  mms::ByteBuffer in;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(e->Receive(&in), kTimedOut);
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 1450);
  // "localhost" is not a dotted address: no lookup, the send goes to 255.255.255.255 and the
  // system refuses a broadcast on this socket.
  mms::ByteBuffer data;
  data.AppendString("x");
  EXPECT_EQ(e->Send(data, PeerAddress("localhost", 9)), kSendFailed);
}
