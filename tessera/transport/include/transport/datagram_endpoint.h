#pragma once
/// The datagram endpoint: one IPv4 UDP socket per WSP session, never explicitly bound.
/// Send one datagram to a peer, wait a bounded time for one datagram, close.

#include <cstdint>
#include <memory>
#include <string_view>

#include "mms/byte_buffer.h"

namespace transport {

/// Gateway address: dotted IPv4 text and port in host order.
struct PeerAddress {
  mms::ByteBuffer address;
  std::uint16_t port = 0;

  PeerAddress() = default;
  PeerAddress(std::string_view text, std::uint16_t p) : port(p) { address.AppendString(text); }
};

/// What a WTP transaction needs of a datagram socket. Tests put a scripted gateway behind it;
/// time passes only inside Receive, so a fake port is also the transaction's clock.
class DatagramPort {
 public:
  virtual ~DatagramPort() = default;
  /// Sends all octets as one datagram: 0, or 100 when the send fails.
  virtual int Send(const mms::ByteBuffer& data, const PeerAddress& peer) = 0;
  /// Waits up to the time-out for one datagram: 0 with *out replaced by its octets; 101 when
  /// nothing arrived in time; 100 when the receive failed or the datagram was empty.
  virtual int Receive(mms::ByteBuffer* out) = 0;
};

class DatagramEndpoint final : public DatagramPort {
 public:
  static constexpr int kReceiveBufferSize = 2048;

  /// Starts the socket library and creates the socket; null on any failure, with whatever
  /// was obtained released again.
  static std::unique_ptr<DatagramEndpoint> Create(std::uint32_t timeoutMs);
  ~DatagramEndpoint() override;
  DatagramEndpoint(const DatagramEndpoint&) = delete;
  DatagramEndpoint& operator=(const DatagramEndpoint&) = delete;

  int Send(const mms::ByteBuffer& data, const PeerAddress& peer) override;
  int Receive(mms::ByteBuffer* out) override;

  std::uint32_t timeoutMs() const { return timeoutMs_; }
  /// Local port the system chose at the first send (0 before it).
  std::uint16_t LocalPort() const;

 private:
  DatagramEndpoint() = default;

  std::uintptr_t socket_ = ~std::uintptr_t{0};
  std::unique_ptr<std::uint8_t[]> receiveBuffer_;
  std::uint32_t timeoutMs_ = 0;
};

}  // namespace transport
