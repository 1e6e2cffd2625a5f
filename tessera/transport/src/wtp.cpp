#include "transport/wtp.h"

#include <algorithm>
#include <new>

#include "mms/wsp.h"
#include "transport/results.h"

namespace transport {

namespace {

WtpMethodKind MethodKindOf(std::uint8_t wspPduType) {
  switch (wspPduType) {
    case 0x60:
      return WtpMethodKind::Post;
    case 0x40:
      return WtpMethodKind::Get;
    case 0x01:
      return WtpMethodKind::Connect;
    case 0x05:
      return WtpMethodKind::Disconnect;
  }
  return WtpMethodKind::Other;
}

/// True for the actions that are steps of the loop; the others end it.
bool IsStep(WtpAction action) {
  switch (action) {
    case WtpAction::SendPacket:
    case WtpAction::SendAck:
    case WtpAction::SendAbort:
    case WtpAction::SendNegativeAck:
    case WtpAction::Retransmit:
    case WtpAction::ReceivePdu:
      return true;
    case WtpAction::End:
    case WtpAction::EndWithError:
    case WtpAction::ResultComplete:
    case WtpAction::InvokeComplete:
    case WtpAction::EndAfterFailure:
      return false;
  }
  return false;
}

}  // namespace

// ---- PDU codec ------------------------------------------------------------------------------

bool DecodeWtpPdu(const std::uint8_t* p, std::size_t n, WtpPdu* out) {
  if (!p) return false;
  mms::WspReader r(p, n);
  const std::uint8_t o0 = r.ReadOctet();
  const std::uint8_t tidHigh = r.ReadOctet();
  const std::uint8_t tidLow = r.ReadOctet();
  if (r.failed()) return false;
  const int type = (o0 >> 3) & 0x0F;
  if (type > static_cast<int>(WtpPduType::NegativeAck)) return false;  // unknown types
  WtpPdu pdu;
  pdu.type = static_cast<WtpPduType>(type);
  pdu.con = (o0 & 0x80) != 0;
  // The direction bit of the TID is the responder's business; it is kept apart from the TID.
  pdu.responder = (tidHigh & 0x80) != 0;
  pdu.tid = static_cast<std::uint16_t>(((tidHigh & 0x7F) << 8) | tidLow);
  switch (pdu.type) {
    case WtpPduType::Concatenated:
      return false;
    case WtpPduType::Invoke: {
      const std::uint8_t o3 = r.ReadOctet();
      pdu.version = static_cast<std::uint8_t>(o3 >> 6);
      pdu.tidNew = (o3 & 0x20) != 0;
      pdu.userAck = (o3 & 0x10) != 0;
      pdu.tcl = o3 & 0x03;
      break;
    }
    case WtpPduType::Result:
      break;
    case WtpPduType::Ack:
      pdu.tveTok = (o0 & 0x04) != 0;
      break;
    case WtpPduType::Abort:
      pdu.abortType = o0 & 0x07;
      pdu.abortReason = r.ReadOctet();
      break;
    case WtpPduType::SegmentedInvoke:
    case WtpPduType::SegmentedResult:
      pdu.psn = r.ReadOctet();
      break;
    case WtpPduType::NegativeAck: {
      const std::size_t count = r.ReadOctet();
      const mms::WspReader list = r.Sub(count);
      if (!list.failed()) pdu.missing.assign(list.here(), list.here() + list.size());
      break;
    }
  }
  if (r.failed()) return false;
  if (pdu.type == WtpPduType::Invoke || pdu.type == WtpPduType::Result ||
      pdu.type == WtpPduType::SegmentedInvoke || pdu.type == WtpPduType::SegmentedResult) {
    pdu.gtr = (o0 & 0x04) != 0;
    pdu.ttr = (o0 & 0x02) != 0;
  }
  if (pdu.type != WtpPduType::Abort) pdu.rid = (o0 & 0x01) != 0;

  // TPIs: a header octet (more-follows bit, identity, short length or long-form flag), then
  // the value.
  for (bool more = pdu.con; more;) {
    const std::uint8_t t = r.ReadOctet();
    more = (t & 0x80) != 0;
    const int identity = (t >> 3) & 0x0F;
    std::size_t length = t & 0x03;
    if (t & 0x04) length = r.ReadOctet();
    mms::WspReader value = r.Sub(length);
    if (r.failed()) return false;
    if (identity == 3 && length >= 1) {
      pdu.hasPsnTpi = true;
      pdu.psnTpi = value.ReadOctet();
    }
  }
  const auto rest = static_cast<std::int32_t>(r.remaining());
  pdu.data = mms::ByteBuffer(r.here(), rest);
  if (pdu.data.length() != rest) return false;
  *out = std::move(pdu);
  return true;
}

bool EncodeWtpPdu(const WtpPdu& pdu, mms::ByteBuffer* out) {
  out->Clear();
  const bool con = pdu.hasPsnTpi;
  std::uint8_t o0 = static_cast<std::uint8_t>((con ? 0x80 : 0) | (static_cast<int>(pdu.type) << 3));
  switch (pdu.type) {
    case WtpPduType::Invoke:
    case WtpPduType::Result:
    case WtpPduType::SegmentedInvoke:
    case WtpPduType::SegmentedResult:
      o0 |= static_cast<std::uint8_t>((pdu.gtr ? 4 : 0) | (pdu.ttr ? 2 : 0) | (pdu.rid ? 1 : 0));
      break;
    case WtpPduType::Ack:
      o0 |= static_cast<std::uint8_t>((pdu.tveTok ? 4 : 0) | (pdu.rid ? 1 : 0));
      break;
    case WtpPduType::Abort:
      o0 |= pdu.abortType & 0x07;
      break;
    case WtpPduType::NegativeAck:
      o0 |= pdu.rid ? 1 : 0;
      break;
    case WtpPduType::Concatenated:
      return false;
  }
  bool ok =
      out->AppendOctet(o0) &&
      out->AppendOctet(static_cast<std::uint8_t>((pdu.responder ? 0x80 : 0) | ((pdu.tid >> 8) & 0x7F))) &&
      out->AppendOctet(static_cast<std::uint8_t>(pdu.tid & 0xFF));
  switch (pdu.type) {
    case WtpPduType::Invoke:
      ok = ok &&
           out->AppendOctet(static_cast<std::uint8_t>(((pdu.version & 3) << 6) | (pdu.tidNew ? 0x20 : 0) |
                                                      (pdu.userAck ? 0x10 : 0) | (pdu.tcl & 3)));
      break;
    case WtpPduType::SegmentedInvoke:
    case WtpPduType::SegmentedResult:
      ok = ok && out->AppendOctet(pdu.psn);
      break;
    case WtpPduType::Abort:
      ok = ok && out->AppendOctet(pdu.abortReason);
      break;
    case WtpPduType::NegativeAck: {
      const std::size_t count = std::min<std::size_t>(pdu.missing.size(), 255);
      ok = ok && out->AppendOctet(static_cast<std::uint8_t>(count)) &&
           out->Append(pdu.missing.data(), static_cast<std::int32_t>(count));
      break;
    }
    case WtpPduType::Result:
    case WtpPduType::Ack:
    case WtpPduType::Concatenated:
      break;
  }
  // Packet Sequence Number TPI: short form, identity 3, one octet.
  if (con) ok = ok && out->AppendOctet(0x19) && out->AppendOctet(pdu.psnTpi);
  return ok && out->AppendBuffer(pdu.data);
}

// ---- Transaction ----------------------------------------------------------------------------

std::unique_ptr<WtpTransaction> WtpTransaction::Create(std::string_view address, int port,
                                                       std::uint32_t timeoutMs) {
  auto endpoint = DatagramEndpoint::Create(timeoutMs);
  if (!endpoint) return nullptr;
  return std::unique_ptr<WtpTransaction>(new (std::nothrow)
                                             WtpTransaction(std::move(endpoint), address, port));
}

WtpTransaction::WtpTransaction(std::unique_ptr<DatagramPort> port, std::string_view address, int port_number)
    : port_(std::move(port)) {
  SetPeer(address, port_number);
  for (auto& b : groupBuffers_) b = mms::ByteBuffer(2048);
}

WtpTransaction::~WtpTransaction() = default;

void WtpTransaction::SetPeer(std::string_view address, int port) {
  peer_.address.Clear();
  peer_.address.AppendString(address);
  if (port >= 1 && port <= 0xFFFF) peer_.port = static_cast<std::uint16_t>(port);
}

int WtpTransaction::Invoke(const mms::ByteBuffer& pdu, mms::ByteStream* body) {
  lastTid_ = static_cast<std::uint16_t>((lastTid_ + 1) & 0x7FFF);
  tid_ = lastTid_;
  phase_ = WtpPhase::Invoke;
  error_ = 0;
  psn_ = groupFirst_ = groupLast_ = 0;
  gtr_ = ttr_ = false;
  retries_ = 0;
  missingCount_ = 0;
  resultStarted_ = false;
  tokFlag_ = false;
  rid_ = false;
  filledMissing_ = false;
  invokeData_ = &pdu;
  body_ = body;
  bodyStart_ = body ? body->Tell() : 0;
  bodyLength_ = body ? std::max<std::int64_t>(0, body->Size() - bodyStart_) : 0;
  maxRetries_ = maxRetriesOverride_ >= 0 ? (maxRetriesOverride_ & 0xFF) : ReadWtpMaxRetryTimes();
  EmptyGroupBuffers();
  lastSent_.Clear();
  methodKind_ = MethodKindOf(pdu.At(0));
  const std::int64_t total = pdu.length() + bodyLength_;
  // A PSN is one octet: more than 256 packets cannot be numbered, and cutting the count to
  // an octet would send a truncated message as if it were whole. Nothing is sent.
  if (total / kPacketSize + 1 > kMaxPackets) return kSendFailed;
  packetCount_ = static_cast<int>(total / kPacketSize + 1);
  ttr_ = packetCount_ == 1;

  return RunLoop(Transition(Cancelled() ? Event::Cancelled : Event::Start));
}

bool WtpTransaction::Cancelled() const {
  return cancelHook_.function && cancelHook_.function(static_cast<int>(methodKind_), cancelHook_.value) == 0;
}

int WtpTransaction::CollectResult(mms::ByteBuffer* out) {
  phase_ = WtpPhase::Result;
  psn_ = 0;
  gtr_ = ttr_ = false;
  filledMissing_ = false;
  nackGroup_ = -1;
  result_.Clear();
  int r = RunLoop(Action::ReceivePdu);
  if (endAction_ == Action::EndWithError) return r;
  if (endAction_ == Action::ResultComplete) {
    phase_ = WtpPhase::FinalAck;
    r = RunLoop(Transition(Event::FinalAckDue));
    if (endAction_ == Action::EndWithError) return r;
  }
  *out = std::move(result_);
  result_ = mms::ByteBuffer();
  return r;
}

int WtpTransaction::RunLoop(Action action) {
  int result = kOk;
  while (IsStep(action)) {
    Event event = Event::ActionSucceeded;
    result = Perform(action, &event);
    if (Cancelled()) event = Event::Cancelled;
    if (event == Event::PduReceived) ProcessReceived();
    action = Transition(event);
  }
  endAction_ = action;
  return action == Action::EndWithError ? error_ : result;
}

int WtpTransaction::Perform(Action action, Event* event) {
  int r = kOk;
  switch (action) {
    case Action::SendPacket:
      r = SendPacket();
      break;
    case Action::SendAck:
      r = SendAck();
      break;
    case Action::SendAbort:
      r = SendAbort();
      break;
    case Action::SendNegativeAck:
      r = SendNegativeAck();
      break;
    case Action::Retransmit:
      r = Retransmit();
      break;
    case Action::ReceivePdu:
      r = ReceivePdu();
      *event = r == kOk ? Event::PduReceived : Event::NothingUsable;
      return r;
    case Action::End:
    case Action::EndWithError:
    case Action::ResultComplete:
    case Action::InvokeComplete:
    case Action::EndAfterFailure:
      return r;
  }
  *event = r == kOk ? Event::ActionSucceeded : Event::ActionFailed;
  return r;
}

bool WtpTransaction::GroupComplete() const {
  if (groupLast_ < groupFirst_) return true;
  if (groupLast_ - groupFirst_ >= kWindow) return false;
  for (int i = 0; i <= groupLast_ - groupFirst_; ++i)
    if (!groupFilled_[static_cast<std::size_t>(i)]) return false;
  return true;
}

WtpAction WtpTransaction::Transition(Event event) {
  const bool lastWasAbort = lastSent_.length() > 0 && ((lastSent_.At(0) >> 3) & 0x0F) == 4;
  if (event == Event::ActionFailed) return Action::EndAfterFailure;
  if (event == Event::Cancelled) {
    if (lastSent_.length() == 0 || lastWasAbort) {
      error_ = kCancelled;
      return Action::EndWithError;
    }
    return Action::SendAbort;
  }
  if (lastWasAbort) {
    error_ = kCancelled;
    return Action::EndWithError;
  }
  const auto onNothing = [this] {
    if (retries_ >= maxRetries_) {
      error_ = kTimedOut;
      return Action::EndWithError;
    }
    ++retries_;
    return Action::Retransmit;
  };
  switch (phase_) {
    case WtpPhase::Invoke:
      switch (event) {
        case Event::Start:
          return Action::SendPacket;
        case Event::PduReceived:
          return TransitionOnPdu();
        case Event::NothingUsable:
          return onNothing();
        case Event::ActionSucceeded:
          if (missingCount_ > 0) return Action::SendPacket;
          if (tokFlag_) {
            tokFlag_ = false;
            return Action::ReceivePdu;
          }
          if (psn_ + 1 >= packetCount_) return Action::InvokeComplete;
          if (psn_ % kGroupSize < kGroupSize - 1) {
            ++psn_;
            return Action::SendPacket;
          }
          return Action::ReceivePdu;  // wait for the group's Ack
        case Event::Cancelled:
        case Event::FinalAckDue:
        case Event::ActionFailed:
          return Action::End;
      }
      return Action::End;
    case WtpPhase::Result:
      switch (event) {
        case Event::PduReceived:
          return TransitionOnPdu();
        case Event::NothingUsable:
          return onNothing();
        case Event::ActionSucceeded:
          // Every packet a Negative Ack names is resent before waiting again.
          return missingCount_ > 0 && !resultStarted_ ? Action::SendPacket : Action::ReceivePdu;
        case Event::Start:
        case Event::Cancelled:
        case Event::FinalAckDue:
        case Event::ActionFailed:
          return Action::End;
      }
      return Action::End;
    case WtpPhase::FinalAck:
      return event == Event::FinalAckDue ? Action::SendAck : Action::End;
  }
  return Action::End;
}

WtpAction WtpTransaction::TransitionOnPdu() {
  const WtpPdu& r = lastReceived_;
  switch (r.type) {
    case WtpPduType::Result:
      if (r.tid != tid_) {
        if (r.rid) {
          // A retransmitted result of an earlier transaction: our Ack was lost; acknowledge it.
          tid_ = r.tid;
          rid_ = true;
          return Action::SendAck;
        }
        return Action::ReceivePdu;
      }
      if (phase_ == WtpPhase::Invoke || (resultStarted_ && groupFirst_ != 0)) return Action::ReceivePdu;
      if (r.ttr) return Action::ResultComplete;
      if (r.gtr) return groupFirst_ == 0 ? Action::SendAck : Action::ReceivePdu;
      if (filledMissing_ && missingCount_ == 0 && GroupComplete())
        return ttr_ ? Action::ResultComplete : Action::SendAck;
      return Action::ReceivePdu;
    case WtpPduType::Ack: {
      const int psnValue = r.hasPsnTpi ? r.psnTpi : 0;
      if (r.tid != tid_) return Action::ReceivePdu;
      // A Tve never names a PSN, so it is not held against groupLast.
      if (!r.tveTok && psnValue != (groupLast_ & 0xFF)) return Action::ReceivePdu;
      if (phase_ == WtpPhase::Invoke) {
        if (tokFlag_) return Action::SendAck;
        ++psn_;
        return Action::SendPacket;
      }
      return tokFlag_ ? Action::SendAck : Action::ReceivePdu;
    }
    case WtpPduType::Abort:
      // An Abort of an earlier transaction (a stale retransmission) must not end this one.
      return r.tid == tid_ ? Action::EndWithError : Action::ReceivePdu;
    case WtpPduType::SegmentedResult:
      if (phase_ == WtpPhase::Invoke || r.tid != tid_) return Action::ReceivePdu;
      if (r.psn < groupFirst_) {
        // The trailer of the group just acknowledged came again: our Ack was lost.
        if ((r.gtr || r.ttr) && r.psn == groupLast_) return Action::SendAck;
        return Action::ReceivePdu;
      }
      if (r.gtr) return GroupComplete() && missingCount_ == 0 ? Action::SendAck : NegativeAckOrGiveUp();
      if (r.ttr)
        return GroupComplete() && missingCount_ == 0 ? Action::ResultComplete : NegativeAckOrGiveUp();
      if (filledMissing_ && missingCount_ == 0 && GroupComplete())
        return ttr_ ? Action::ResultComplete : Action::SendAck;
      return Action::ReceivePdu;
    case WtpPduType::NegativeAck:
      if (r.tid != tid_ || missingCount_ == 0 || (phase_ != WtpPhase::Invoke && resultStarted_)) return Action::ReceivePdu;
      return Action::SendPacket;
    case WtpPduType::Invoke:
    case WtpPduType::SegmentedInvoke:
    case WtpPduType::Concatenated:
      return Action::ReceivePdu;
  }
  return Action::ReceivePdu;
}

// The first Negative Ack of a group is free; asking again for the same group means the last
// request did not help, which counts like a time-out. Without this a gateway that keeps
// sending the trailer of a group that can never be completed (one wider than the window)
// would hold the method forever.
WtpAction WtpTransaction::NegativeAckOrGiveUp() {
  if (nackGroup_ == groupFirst_) {
    if (retries_ >= maxRetries_) {
      error_ = kTimedOut;
      return Action::EndWithError;
    }
    ++retries_;
  }
  nackGroup_ = groupFirst_;
  return Action::SendNegativeAck;
}

void WtpTransaction::StartResult() {
  groupFirst_ = 0;
  groupLast_ = 0;
  psn_ = 0;
  resultStarted_ = true;
  missingCount_ = 0;
  gtr_ = ttr_ = false;
  EmptyGroupBuffers();
}

void WtpTransaction::ProcessReceived() {
  const WtpPdu& r = lastReceived_;
  filledMissing_ = false;
  switch (r.type) {
    case WtpPduType::Abort:
      if (r.tid == tid_)
        error_ = r.abortType != 0 ? r.abortReason + kUserAbortBase : r.abortReason + kProviderAbortBase;
      break;
    case WtpPduType::Ack:
      if (r.tid == tid_) tokFlag_ = r.tveTok;
      break;
    case WtpPduType::NegativeAck:
      if (r.tid != tid_ || (phase_ != WtpPhase::Invoke && resultStarted_)) break;
      missingCount_ = 0;
      if (r.missing.empty()) {
        for (int q = groupFirst_; q <= groupLast_ && missingCount_ < kWindow; ++q)
          missing_[missingCount_++] = q;
      } else {
        // Only PSNs of the group still held can be resent; others are passed over.
        for (std::uint8_t q : r.missing) {
          if (q < groupFirst_ || q > groupLast_ || q - groupFirst_ >= kGroupSize) continue;
          if (std::find(missing_.begin(), missing_.begin() + missingCount_, q) !=
              missing_.begin() + missingCount_)
            continue;
          if (missingCount_ < kWindow) missing_[missingCount_++] = q;
        }
      }
      break;
    case WtpPduType::Result:
      if (phase_ != WtpPhase::Result || r.tid != tid_) break;
      if (!resultStarted_) StartResult();
      if (groupFirst_ != 0) break;
      if (!groupFilled_[0]) {
        groupBuffers_[0] = r.data;
        groupFilled_[0] = true;
        filledMissing_ = RemoveMissing(0);
      }
      if (r.gtr || r.ttr) {
        gtr_ = r.gtr;
        ttr_ = r.ttr;
        groupLast_ = 0;
      }
      break;
    case WtpPduType::SegmentedResult: {
      if (phase_ != WtpPhase::Result || r.tid != tid_) break;
      if (!resultStarted_) StartResult();
      const int p = r.psn;
      if (p < groupFirst_) break;
      const int index = p - groupFirst_;
      // Six buffers are the whole window: a packet further out is not stored; it is asked
      // for again by a Negative Ack once the group's trailer is known.
      if (index < kWindow) {
        psn_ = p;
        if (!groupFilled_[static_cast<std::size_t>(index)]) {
          groupBuffers_[static_cast<std::size_t>(index)] = r.data;
          groupFilled_[static_cast<std::size_t>(index)] = true;
          filledMissing_ = RemoveMissing(p);
        }
      }
      if (r.gtr || r.ttr) {
        gtr_ = r.gtr;
        ttr_ = r.ttr;
        groupLast_ = p;
        RebuildMissing();
      }
      break;
    }
    case WtpPduType::Invoke:
    case WtpPduType::SegmentedInvoke:
    case WtpPduType::Concatenated:
      break;
  }
}

void WtpTransaction::RebuildMissing() {
  missingCount_ = 0;
  for (int q = groupFirst_; q <= groupLast_ && missingCount_ < kWindow; ++q) {
    const int index = q - groupFirst_;
    if (index >= kWindow || !groupFilled_[static_cast<std::size_t>(index)]) missing_[missingCount_++] = q;
  }
}

bool WtpTransaction::RemoveMissing(int psn) {
  for (int i = 0; i < missingCount_; ++i) {
    if (missing_[static_cast<std::size_t>(i)] != psn) continue;
    for (int j = i + 1; j < missingCount_; ++j)
      missing_[static_cast<std::size_t>(j - 1)] = missing_[static_cast<std::size_t>(j)];
    --missingCount_;
    return true;
  }
  return false;
}

void WtpTransaction::EmptyGroupBuffers() {
  for (auto& b : groupBuffers_) b.Clear();
  groupFilled_.fill(false);
}

bool WtpTransaction::FillGroup() {
  EmptyGroupBuffers();
  const std::int64_t invokeLength = invokeData_->length();
  const std::int64_t total = invokeLength + bodyLength_;
  const int count = std::min(kGroupSize, packetCount_ - groupFirst_);
  std::uint8_t slice[kPacketSize];
  for (int k = 0; k < count; ++k) {
    const std::int64_t offset = static_cast<std::int64_t>(groupFirst_ + k) * kPacketSize;
    const std::int64_t expected = std::clamp<std::int64_t>(total - offset, 0, kPacketSize);
    mms::ByteBuffer& b = groupBuffers_[static_cast<std::size_t>(k)];
    std::int64_t taken = 0;
    if (offset < invokeLength) {
      taken = std::min(expected, invokeLength - offset);
      if (!b.Append(invokeData_->data() + offset, static_cast<std::int32_t>(taken))) return false;
    }
    const std::int64_t rest = expected - taken;
    if (rest > 0) {
      // The body is read one group at a time; a stream that comes up short (the file shrank)
      // fails the send rather than pass a truncated message off as whole.
      if (!body_ || body_->Seek(bodyStart_ + offset + taken - invokeLength, mms::ByteStream::kFromStart) != 0)
        return false;
      if (body_->Read(slice, rest) != rest) return false;
      if (!b.Append(slice, static_cast<std::int32_t>(rest))) return false;
    }
    groupFilled_[static_cast<std::size_t>(k)] = true;
  }
  return true;
}

int WtpTransaction::SendEncoded(const WtpPdu& pdu) {
  mms::ByteBuffer encoded;
  if (!EncodeWtpPdu(pdu, &encoded)) return kOutOfMemory;
  const int r = port_->Send(encoded, peer_);
  lastSent_ = std::move(encoded);
  ++stats_.datagramsSent;
  return r;
}

int WtpTransaction::SendPacket() {
  int sendPsn = psn_;
  int index = 0;
  bool resend = false;
  if (missingCount_ > 0) {
    sendPsn = missing_[0];
    for (int j = 1; j < missingCount_; ++j)
      missing_[static_cast<std::size_t>(j - 1)] = missing_[static_cast<std::size_t>(j)];
    --missingCount_;
    index = sendPsn - groupFirst_;
    rid_ = true;
    resend = true;
  } else {
    index = psn_ % kGroupSize;
    if (index == 0) {
      groupFirst_ = psn_;
      if (!FillGroup()) return kSendFailed;
    }
  }
  if (index < 0 || index >= kGroupSize || !groupFilled_[static_cast<std::size_t>(index)]) {
    if (resend) rid_ = false;
    return kSendFailed;
  }
  const bool ttr = sendPsn + 1 >= packetCount_;
  const bool gtr = !ttr && sendPsn % kGroupSize == kGroupSize - 1;
  if ((gtr || ttr) && !resend) groupLast_ = sendPsn;

  WtpPdu pdu;
  pdu.type = sendPsn == 0 ? WtpPduType::Invoke : WtpPduType::SegmentedInvoke;
  pdu.gtr = sendPsn == 0 ? false : gtr;
  pdu.ttr = ttr;
  pdu.rid = rid_;
  pdu.tid = tid_;
  pdu.tcl = 2;
  pdu.psn = static_cast<std::uint8_t>(sendPsn);
  pdu.data = groupBuffers_[static_cast<std::size_t>(index)];
  const int r = SendEncoded(pdu);
  if (resend) rid_ = false;
  return r;
}

int WtpTransaction::SendAck() {
  if (phase_ != WtpPhase::Invoke && !rid_ && resultStarted_ && groupLast_ >= groupFirst_ && GroupComplete()) {
    missingCount_ = 0;
    for (int q = groupFirst_; q <= groupLast_; ++q)
      if (!result_.AppendBuffer(groupBuffers_[static_cast<std::size_t>(q - groupFirst_)]))
        return kOutOfMemory;
    groupFirst_ = groupLast_ + 1;
    EmptyGroupBuffers();
  }
  WtpPdu ack;
  ack.type = WtpPduType::Ack;
  ack.tid = tid_;
  ack.rid = rid_;
  ack.tveTok = tokFlag_;
  if (!tokFlag_ && !rid_) {
    ack.hasPsnTpi = true;
    ack.psnTpi = static_cast<std::uint8_t>(groupLast_ & 0xFF);
  }
  const int r = SendEncoded(ack);
  // A Tok answers one Tve; later Acks of the result are plain group acknowledgements.
  if (phase_ != WtpPhase::Invoke) tokFlag_ = false;
  tid_ = lastTid_;
  rid_ = false;
  return r;
}

int WtpTransaction::SendAbort() {
  WtpPdu abort;
  abort.type = WtpPduType::Abort;
  abort.tid = tid_;
  abort.abortType = 0;
  abort.abortReason = 0;
  return SendEncoded(abort);
}

int WtpTransaction::SendNegativeAck() {
  WtpPdu nack;
  nack.type = WtpPduType::NegativeAck;
  nack.tid = tid_;
  for (int i = 0; i < missingCount_; ++i)
    nack.missing.push_back(static_cast<std::uint8_t>(missing_[static_cast<std::size_t>(i)]));
  return SendEncoded(nack);
}

int WtpTransaction::Retransmit() {
  if (lastSent_.length() == 0 || !lastSent_.mutable_data()) return kSendFailed;
  lastSent_.mutable_data()[0] |= 0x01;
  ++stats_.retransmissions;
  ++stats_.datagramsSent;
  return port_->Send(lastSent_, peer_);
}

int WtpTransaction::ReceivePdu() {
  mms::ByteBuffer in;
  const int r = port_->Receive(&in);
  if (r != kOk) {
    if (r == kTimedOut) ++stats_.timeouts;
    return r;
  }
  ++stats_.datagramsReceived;
  WtpPdu pdu;
  if (!DecodeWtpPdu(in.data(), static_cast<std::size_t>(in.length()), &pdu)) return kNoPdu;
  // The initiator has no responder role: invokes from the gateway are not handled.
  if (pdu.type == WtpPduType::Invoke || pdu.type == WtpPduType::SegmentedInvoke) return kNoPdu;
  lastReceived_ = std::move(pdu);
  return kOk;
}

}  // namespace transport
