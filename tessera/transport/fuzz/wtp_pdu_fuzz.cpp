// WTP: the PDU decoder, and a whole transaction fed datagrams cut from the input.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "transport/results.h"
#include "transport/wtp.h"

namespace {

// Answers every receive with the next slice of the input; an exhausted input is a time-out.
class InputPort : public transport::DatagramPort {
 public:
  InputPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int Send(const mms::ByteBuffer&, const transport::PeerAddress&) override { return transport::kOk; }
  int Receive(mms::ByteBuffer* out) override {
    if (pos_ >= size_) return transport::kTimedOut;
    std::size_t n = data_[pos_++] % 64;  // length prefix
    if (n > size_ - pos_) n = size_ - pos_;
    *out = mms::ByteBuffer(data_ + pos_, static_cast<std::int32_t>(n));
    pos_ += n;
    return n == 0 ? transport::kSendFailed : transport::kOk;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  transport::WtpPdu pdu;
  if (transport::DecodeWtpPdu(data, size, &pdu)) {
    mms::ByteBuffer again;
    transport::EncodeWtpPdu(pdu, &again);
  }
  transport::WtpTransaction tx(std::make_unique<InputPort>(data, size), "127.0.0.1", 9201);
  tx.SetMaxRetriesOverride(2);
  mms::ByteBuffer invoke;
  invoke.AppendOctet(0x60);
  for (int i = 0; i < 4500; ++i) invoke.AppendOctet(static_cast<std::uint8_t>(i));
  if (tx.Invoke(invoke, nullptr) == transport::kOk) {
    mms::ByteBuffer result;
    tx.CollectResult(&result);
  }
  return 0;
}
