#pragma once
// Test gateways behind the injectable datagram port.
//  - ScriptedPort: records what the client sends and hands back queued datagrams; an
//    optional callback answers each sent datagram. An empty queue is one time-out.
//  - FakeGateway: a small WTP responder with a WSP server (Connect, GET of N octets, POST
//    recorded), which can drop, duplicate and reorder datagrams in both directions. Time is
//    virtual: a client wait on an empty queue advances it and fires the gateway's timer.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "mms/byte_buffer.h"
#include "mms/wsp.h"
#include "transport/datagram_endpoint.h"
#include "transport/results.h"
#include "transport/wtp.h"

namespace transport_test {

using mms::ByteBuffer;
using transport::WtpPdu;
using transport::WtpPduType;

inline ByteBuffer Bytes(std::initializer_list<int> octets) {
  ByteBuffer b;
  for (int o : octets) b.AppendOctet(static_cast<std::uint8_t>(o));
  return b;
}

inline ByteBuffer Encode(const WtpPdu& pdu) {
  ByteBuffer b;
  transport::EncodeWtpPdu(pdu, &b);
  return b;
}

inline WtpPdu Decode(const ByteBuffer& b) {
  WtpPdu pdu;
  transport::DecodeWtpPdu(b.data(), static_cast<std::size_t>(b.length()), &pdu);
  return pdu;
}

// Responder-side PDUs (direction bit set in the TID, as a gateway sends them).
inline ByteBuffer ResultPdu(std::uint16_t tid, const ByteBuffer& data, bool gtr, bool ttr, bool rid = false) {
  WtpPdu p;
  p.type = WtpPduType::Result;
  p.tid = tid;
  p.responder = true;
  p.gtr = gtr;
  p.ttr = ttr;
  p.rid = rid;
  p.data = data;
  return Encode(p);
}

inline ByteBuffer SegResultPdu(std::uint16_t tid, int psn, const ByteBuffer& data, bool gtr, bool ttr,
                               bool rid = false) {
  WtpPdu p;
  p.type = WtpPduType::SegmentedResult;
  p.tid = tid;
  p.responder = true;
  p.psn = static_cast<std::uint8_t>(psn);
  p.gtr = gtr;
  p.ttr = ttr;
  p.rid = rid;
  p.data = data;
  return Encode(p);
}

inline ByteBuffer AckPdu(std::uint16_t tid, int psn, bool tve = false) {
  WtpPdu p;
  p.type = WtpPduType::Ack;
  p.tid = tid;
  p.responder = true;
  p.tveTok = tve;
  if (psn >= 0) {
    p.hasPsnTpi = true;
    p.psnTpi = static_cast<std::uint8_t>(psn);
  }
  return Encode(p);
}

inline ByteBuffer NackPdu(std::uint16_t tid, std::vector<std::uint8_t> missing) {
  WtpPdu p;
  p.type = WtpPduType::NegativeAck;
  p.tid = tid;
  p.responder = true;
  p.missing = std::move(missing);
  return Encode(p);
}

inline ByteBuffer AbortPdu(std::uint16_t tid, int type, int reason) {
  WtpPdu p;
  p.type = WtpPduType::Abort;
  p.tid = tid;
  p.responder = true;
  p.abortType = static_cast<std::uint8_t>(type);
  p.abortReason = static_cast<std::uint8_t>(reason);
  return Encode(p);
}

inline ByteBuffer Pattern(std::size_t n, unsigned seed = 0) {
  ByteBuffer b(static_cast<std::int32_t>(n));
  for (std::size_t i = 0; i < n; ++i)
    b.AppendOctet(static_cast<std::uint8_t>((i * 131 + i / 251 + seed) & 0xFF));
  return b;
}

class ScriptedPort : public transport::DatagramPort {
 public:
  int Send(const ByteBuffer& data, const transport::PeerAddress& peer) override {
    sent.push_back(data);
    peers.push_back(std::string(peer.address.view()) + ":" + std::to_string(peer.port));
    if (failSends) return transport::kSendFailed;
    if (onSend) onSend(data, *this);
    return transport::kOk;
  }
  int Receive(ByteBuffer* out) override {
    ++receives;
    if (inbound.empty()) {
      ++waits;
      return transport::kTimedOut;
    }
    *out = inbound.front();
    inbound.pop_front();
    return transport::kOk;
  }
  void Queue(const ByteBuffer& b) { inbound.push_back(b); }

  std::vector<ByteBuffer> sent;
  std::vector<std::string> peers;
  std::deque<ByteBuffer> inbound;
  std::function<void(const ByteBuffer&, ScriptedPort&)> onSend;
  int waits = 0;
  int receives = 0;
  bool failSends = false;
};

class FakeGateway : public transport::DatagramPort {
 public:
  struct Options {
    double drop = 0;
    double duplicate = 0;
    double reorder = 0;
    std::uint32_t seed = 1;
    int segmentSize = 1400;
    int groupSize = 3;
    int maxResends = 8;
    std::uint32_t timeoutMs = 5000;
  };

  explicit FakeGateway(Options o) : options_(o), random_(o.seed) {}

  int Send(const ByteBuffer& data, const transport::PeerAddress&) override {
    ++clientSent;
    if (Chance(options_.drop)) return transport::kOk;
    if (Chance(options_.reorder) && !held_) {
      held_ = true;
      heldPacket_ = data;
      return transport::kOk;
    }
    Handle(data);
    if (Chance(options_.duplicate)) Handle(data);
    if (held_) {
      held_ = false;
      ByteBuffer late = heldPacket_;
      Handle(late);
    }
    return transport::kOk;
  }

  int Receive(ByteBuffer* out) override {
    ++clientReceives;
    if (toClient_.empty()) {
      clockMs += options_.timeoutMs;
      if (held_) {
        held_ = false;
        ByteBuffer late = heldPacket_;
        Handle(late);
      }
      OnTimer();
      if (toClient_.empty()) {
        ++clientTimeouts;
        return transport::kTimedOut;
      }
    }
    if (toClient_.size() > 1 && Chance(options_.reorder)) std::swap(toClient_[0], toClient_[1]);
    *out = toClient_.front();
    toClient_.pop_front();
    return transport::kOk;
  }

  // What the WSP server saw.
  std::vector<ByteBuffer> posts;  // whole POST PDUs
  std::vector<std::string> gets;  // URIs
  int connects = 0;
  int disconnects = 0;
  std::uint64_t clockMs = 0;
  int clientSent = 0;
  int clientReceives = 0;
  int clientTimeouts = 0;

 private:
  struct Tx {
    std::uint16_t tid = 0xFFFF;
    std::map<int, ByteBuffer> segments;
    int groupStart = 0;
    int trailer = -1;
    bool trailerIsLast = false;
    bool invokeDone = false;
    std::vector<ByteBuffer> result;  // encoded packets without RID
    int resultGroupStart = 0;
    int resultGroupEnd = -1;
    bool resultDone = true;
    int resends = 0;
  };

  bool Chance(double p) { return p > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  void ToClient(const ByteBuffer& b) {
    if (Chance(options_.drop)) return;
    toClient_.push_back(b);
    if (Chance(options_.duplicate)) toClient_.push_back(b);
  }

  void Handle(const ByteBuffer& datagram) {
    WtpPdu p;
    if (!transport::DecodeWtpPdu(datagram.data(), static_cast<std::size_t>(datagram.length()), &p)) return;
    switch (p.type) {
      case WtpPduType::Invoke:
      case WtpPduType::SegmentedInvoke:
        OnInvokePacket(p);
        break;
      case WtpPduType::Ack:
        if (p.tid == tx_.tid && !tx_.resultDone && p.hasPsnTpi && p.psnTpi == tx_.resultGroupEnd) {
          tx_.resends = 0;
          if (tx_.resultGroupEnd + 1 >= static_cast<int>(tx_.result.size())) {
            tx_.resultDone = true;
          } else {
            tx_.resultGroupStart = tx_.resultGroupEnd + 1;
            SendResultGroup(false);
          }
        }
        break;
      case WtpPduType::NegativeAck:
        if (p.tid != tx_.tid || tx_.resultDone) break;
        if (p.missing.empty()) {
          SendResultGroup(true);
        } else {
          for (std::uint8_t q : p.missing)
            if (q < tx_.result.size()) ToClient(WithRid(tx_.result[q]));
        }
        break;
      case WtpPduType::Abort:
        if (p.tid == tx_.tid) tx_.resultDone = true;
        break;
      case WtpPduType::Result:
      case WtpPduType::SegmentedResult:
      case WtpPduType::Concatenated:
        break;
    }
  }

  static ByteBuffer WithRid(const ByteBuffer& b) {
    ByteBuffer c = b;
    c.mutable_data()[0] |= 1;
    return c;
  }

  void OnInvokePacket(const WtpPdu& p) {
    if (p.tid != tx_.tid) {
      if (tx_.tid != 0xFFFF && p.tid < tx_.tid) return;  // a late copy of an older transaction
      tx_ = Tx{};
      tx_.tid = p.tid;
    }
    const int psn = p.type == WtpPduType::Invoke ? 0 : p.psn;
    if (tx_.invokeDone) {
      // The client did not hear the result yet: send the current group again.
      if (p.ttr && !tx_.resultDone) SendResultGroup(true);
      return;
    }
    if (psn < tx_.groupStart) {
      if (p.gtr) ToClient(AckPdu(tx_.tid, psn));  // our group Ack was lost
      return;
    }
    if (!tx_.segments.count(psn)) tx_.segments[psn] = p.data;
    if (p.gtr || p.ttr) {
      tx_.trailer = psn;
      tx_.trailerIsLast = p.ttr;
    }
    if (tx_.trailer < 0) return;
    std::vector<std::uint8_t> missing;
    for (int q = tx_.groupStart; q <= tx_.trailer; ++q)
      if (!tx_.segments.count(q)) missing.push_back(static_cast<std::uint8_t>(q));
    if (!missing.empty()) {
      if (p.gtr || p.ttr) ToClient(NackPdu(tx_.tid, missing));
      return;
    }
    if (!tx_.trailerIsLast) {
      ToClient(AckPdu(tx_.tid, tx_.trailer));
      tx_.groupStart = tx_.trailer + 1;
      tx_.trailer = -1;
      return;
    }
    tx_.invokeDone = true;
    ByteBuffer pdu;
    for (auto& [q, data] : tx_.segments) pdu.AppendBuffer(data);
    Serve(pdu);
  }

  void Serve(const ByteBuffer& pdu) {
    ByteBuffer reply;
    mms::WspReader r(pdu);
    const int type = r.ReadOctet();
    if (type == 0x01) {
      ++connects;
      reply = Bytes({0x02, 0x07, 0x00, 0x00});
    } else if (type == 0x05) {
      ++disconnects;
      return;
    } else if (type == 0x40) {
      const std::uint32_t n = mms::DecodeUintvar(r);
      std::string uri(reinterpret_cast<const char*>(r.here()), std::min<std::size_t>(n, r.remaining()));
      gets.push_back(uri);
      const std::size_t size = std::stoul(uri.substr(uri.rfind('/') + 1));
      reply = Bytes({0x04, 0x20, 32});
      reply.AppendString("application/vnd.wap.mms-message");
      reply.AppendOctet(0);
      reply.AppendBuffer(Pattern(size, static_cast<unsigned>(size)));
    } else if (type == 0x60) {
      posts.push_back(pdu);
      reply = Bytes({0x04, 0x20, 0x01, 0x83, 'O', 'K'});
    } else {
      return;
    }
    StartResult(reply);
  }

  void StartResult(const ByteBuffer& data) {
    const int size = options_.segmentSize;
    const int count = std::max(1, (data.length() + size - 1) / size);
    tx_.result.clear();
    for (int k = 0; k < count; ++k) {
      ByteBuffer seg(data.data() + k * size, std::min(size, data.length() - k * size));
      const bool ttr = k + 1 == count;
      const bool gtr = !ttr && (k + 1) % options_.groupSize == 0;
      tx_.result.push_back(k == 0 ? ResultPdu(tx_.tid, seg, gtr, ttr)
                                  : SegResultPdu(tx_.tid, k, seg, gtr, ttr));
    }
    tx_.resultDone = false;
    tx_.resultGroupStart = 0;
    SendResultGroup(false);
  }

  void SendResultGroup(bool again) {
    const int count = static_cast<int>(tx_.result.size());
    tx_.resultGroupEnd = std::min(count, tx_.resultGroupStart + options_.groupSize) - 1;
    for (int k = tx_.resultGroupStart; k <= tx_.resultGroupEnd; ++k)
      ToClient(again ? WithRid(tx_.result[static_cast<std::size_t>(k)])
                     : tx_.result[static_cast<std::size_t>(k)]);
  }

  void OnTimer() {
    if (tx_.resultDone || tx_.result.empty()) return;
    if (++tx_.resends > options_.maxResends) {
      ToClient(AbortPdu(tx_.tid, 0, 1));
      tx_.resultDone = true;
      return;
    }
    // Like the real gateway: the group's last packet again, the client asks for the rest.
    ToClient(WithRid(tx_.result[static_cast<std::size_t>(tx_.resultGroupEnd)]));
  }

  Options options_;
  std::mt19937 random_;
  std::deque<ByteBuffer> toClient_;
  bool held_ = false;
  ByteBuffer heldPacket_;
  Tx tx_;
};

}  // namespace transport_test
