#pragma once
// A scripted MMSC behind the injectable datagram port: a WTP responder (segmented invokes
// acknowledged per group, one Result back) with a small WSP server. Each POST and GET is
// logged with the MMS PDU it carried, and answered by a handler the test sets.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_gateway.h"
#include "mms/mms_pdu.h"
#include "mms/wsp.h"

namespace transport_test {

struct MmscRequest {
  bool post = false;
  std::string uri;
  std::string contentType;               // POST only
  std::vector<std::string> headerTexts;  // textual header names and values seen after the type
  mms::ByteBuffer data;                  // POST data: the MMS PDU and any body
  mms::MmsHeaders headers;               // the decoded MMS PDU of a POST
  std::optional<mms::ByteBuffer> body;
};

struct MmscReply {
  int status = 0x20;
  std::string contentType = "application/vnd.wap.mms-message";
  mms::ByteBuffer data;
};

inline MmscReply MmsReply(const mms::ByteBuffer& pdu) {
  MmscReply r;
  r.data = pdu;
  return r;
}

// State shared between the test and the ports handed to the engine (one per session).
struct MmscScript {
  std::vector<MmscRequest> requests;
  std::function<MmscReply(const MmscRequest&)> handler;
  int connects = 0;
  int disconnects = 0;
};

class ScriptedMmscPort : public transport::DatagramPort {
 public:
  explicit ScriptedMmscPort(std::shared_ptr<MmscScript> script) : script_(std::move(script)) {}

  int Send(const ByteBuffer& data, const transport::PeerAddress&) override {
    WtpPdu p = Decode(data);
    if (p.type != WtpPduType::Invoke && p.type != WtpPduType::SegmentedInvoke) return transport::kOk;
    if (p.tid != tid_) {
      tid_ = p.tid;
      segments_.clear();
      served_ = false;
    }
    if (served_) return transport::kOk;
    const int psn = p.type == WtpPduType::Invoke ? 0 : p.psn;
    segments_[psn] = p.data;
    if (p.ttr) {
      ByteBuffer pdu;
      for (auto& [q, seg] : segments_) pdu.AppendBuffer(seg);
      served_ = true;
      Serve(pdu);
    } else if (p.gtr) {
      inbound_.push_back(AckPdu(tid_, psn));
    }
    return transport::kOk;
  }

  int Receive(ByteBuffer* out) override {
    if (inbound_.empty()) return transport::kTimedOut;
    *out = inbound_.front();
    inbound_.pop_front();
    return transport::kOk;
  }

 private:
  void Serve(const ByteBuffer& pdu) {
    mms::WspReader r(pdu);
    const int type = r.ReadOctet();
    ByteBuffer reply;
    if (type == 0x01) {
      ++script_->connects;
      reply = Bytes({0x02, 0x07, 0x00, 0x00});
    } else if (type == 0x05) {
      ++script_->disconnects;
      return;
    } else if (type == 0x40 || type == 0x60) {
      MmscRequest req;
      req.post = type == 0x60;
      const std::uint32_t uriLength = mms::DecodeUintvar(r);
      std::uint32_t headersLength = 0;
      if (req.post) headersLength = mms::DecodeUintvar(r);
      const std::size_t n = std::min<std::size_t>(uriLength, r.remaining());
      req.uri.assign(reinterpret_cast<const char*>(r.here()), n);
      std::size_t pos = r.position() + n;
      const std::size_t headersEnd = req.post ? pos + headersLength : pdu.length();
      // Text octets of the header section, split at the terminators, for header checks.
      std::string text;
      for (std::size_t i = pos; i < headersEnd && i < static_cast<std::size_t>(pdu.length()); ++i) {
        const int c = pdu.At(static_cast<std::int32_t>(i));
        if (c == 0) {
          if (!text.empty()) req.headerTexts.push_back(text);
          text.clear();
        } else if (c >= 0x20 && c < 0x7F) {
          text += static_cast<char>(c);
        }
      }
      if (req.post) {
        if (!req.headerTexts.empty()) req.contentType = req.headerTexts.front();
        if (headersEnd <= static_cast<std::size_t>(pdu.length()))
          req.data =
              ByteBuffer(pdu.data() + headersEnd, static_cast<std::int32_t>(pdu.length() - headersEnd));
        mms::DecodePdu(req.data, req.headers, &req.body);
      }
      script_->requests.push_back(req);
      MmscReply answer = script_->handler ? script_->handler(req) : MmscReply{};
      reply = Bytes({0x04, answer.status});
      ByteBuffer head;
      if (!answer.contentType.empty()) {
        head.AppendString(answer.contentType);
        head.AppendOctet(0);
      }
      mms::EncodeUintvar(reply, static_cast<std::uint32_t>(head.length()));
      reply.AppendBuffer(head);
      reply.AppendBuffer(answer.data);
    } else {
      return;
    }
    // Results of up to 1400 octets per packet, all in one group.
    const int size = 1400;
    const int count = std::max(1, (reply.length() + size - 1) / size);
    for (int k = 0; k < count; ++k) {
      ByteBuffer seg(reply.data() + k * size, std::min(size, reply.length() - k * size));
      const bool ttr = k + 1 == count;
      inbound_.push_back(k == 0 ? ResultPdu(tid_, seg, false, ttr) : SegResultPdu(tid_, k, seg, false, ttr));
    }
  }

  std::shared_ptr<MmscScript> script_;
  std::deque<ByteBuffer> inbound_;
  std::map<int, ByteBuffer> segments_;
  std::uint16_t tid_ = 0xFFFF;
  bool served_ = false;
};

}  // namespace transport_test
