#pragma once
/// WTP class 2, initiator side: one Invoke (segmented into 1000-octet packets sent in groups of
/// four, streamed from the body) and its Result (reassembled from the gateway's segments),
/// with group acknowledgements, negative acknowledgements, retransmission and aborts.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "mms/byte_buffer.h"
#include "mms/byte_stream.h"
#include "transport/datagram_endpoint.h"

namespace transport {

enum class WtpPduType : std::uint8_t {
  Concatenated = 0,
  Invoke = 1,
  Result = 2,
  Ack = 3,
  Abort = 4,
  SegmentedInvoke = 5,
  SegmentedResult = 6,
  NegativeAck = 7,
};

/// One decoded (or to-be-encoded) WTP PDU. TIDs are kept without the direction bit.
struct WtpPdu {
  WtpPduType type = WtpPduType::Invoke;
  bool con = false;
  bool gtr = false;
  bool ttr = false;
  bool rid = false;
  bool tveTok = false;           ///< Ack: Tve/Tok bit
  bool tidNew = false;           ///< Invoke: TIDnew
  bool userAck = false;          ///< Invoke: U/P
  std::uint8_t version = 0;      ///< Invoke
  std::uint8_t tcl = 2;          ///< Invoke: transaction class
  std::uint16_t tid = 0;         ///< 15 bits
  bool responder = false;        ///< direction bit of the TID octets (set by responders)
  std::uint8_t psn = 0;          ///< Segmented Invoke / Result
  std::uint8_t abortType = 0;    ///< Abort
  std::uint8_t abortReason = 0;  ///< Abort
  bool hasPsnTpi = false;        ///< Packet Sequence Number TPI present
  std::uint8_t psnTpi = 0;
  std::vector<std::uint8_t> missing;  ///< Negative Ack: PSNs
  mms::ByteBuffer data;               ///< user data
};

/// Decodes one datagram. False for a truncated PDU, a TPI or PSN list running past the end,
/// or an unknown type. Every type is decoded here; the transaction itself ignores types it
/// does not handle.
bool DecodeWtpPdu(const std::uint8_t* octets, std::size_t length, WtpPdu* out);
/// Encodes a PDU (an Ack with hasPsnTpi gets CON and the TPI). False when out cannot grow.
bool EncodeWtpPdu(const WtpPdu& pdu, mms::ByteBuffer* out);

/// Polled between steps: returns 0 to cancel the running method.
struct CancelHook {
  int (*function)(int methodKind, void* value) = nullptr;
  void* value = nullptr;
};

/// Engine actions and events, with their numbers.
enum class WtpAction : int {
  End = 0,
  SendPacket = 1,
  SendAck = 2,
  SendAbort = 3,
  SendNegativeAck = 4,
  Retransmit = 5,
  ReceivePdu = 6,
  EndWithError = 7,
  ResultComplete = 8,
  InvokeComplete = 9,
  EndAfterFailure = 10,
};

enum class WtpEvent : int {
  Start = 0,
  Cancelled = 1,
  FinalAckDue = 2,
  PduReceived = 3,
  NothingUsable = 4,
  ActionSucceeded = 7,
  ActionFailed = 8,
};

/// Where a transaction stands: sending the invoke, collecting the result, or owing the final
/// acknowledgement of the result.
enum class WtpPhase : std::uint8_t {
  Invoke,
  Result,
  FinalAck,
};

/// The WSP method an invoke carries, by its first octet; the number is what the cancel hook is
/// given.
enum class WtpMethodKind : int {
  Other = 0,
  Post = 1,       ///< 0x60
  Get = 2,        ///< 0x40
  Connect = 3,    ///< 0x01
  Disconnect = 4, ///< 0x05
};

/// Counters of one transaction's traffic.
struct WtpStats {
  std::uint32_t datagramsSent = 0;
  std::uint32_t datagramsReceived = 0;
  std::uint32_t retransmissions = 0;
  std::uint32_t timeouts = 0;
};

class WtpTransaction {
 public:
  static constexpr int kPacketSize = 1000;
  static constexpr int kGroupSize = 4;
  static constexpr int kWindow = 6;
  /// PSNs are one octet: an invoke of more packets cannot be expressed.
  static constexpr int kMaxPackets = 256;

  /// Endpoint on a real socket; null when it cannot be created.
  static std::unique_ptr<WtpTransaction> Create(std::string_view address, int port, std::uint32_t timeoutMs);
  /// Over any datagram port (tests inject a scripted gateway here).
  WtpTransaction(std::unique_ptr<DatagramPort> port, std::string_view address, int port_number);
  ~WtpTransaction();
  WtpTransaction(const WtpTransaction&) = delete;
  WtpTransaction& operator=(const WtpTransaction&) = delete;

  /// Runs the invoke phase for `pdu`, followed by the rest of `body` (may be null). The
  /// caller keeps both alive until the method's result has been collected.
  int Invoke(const mms::ByteBuffer& pdu, mms::ByteStream* body);
  /// Runs the result and final acknowledgement phases; *out receives the reassembled data.
  int CollectResult(mms::ByteBuffer* out);

  void SetCancelHook(CancelHook hook) { cancelHook_ = hook; }
  /// A port below 1 keeps the old one.
  void SetPeer(std::string_view address, int port);
  /// Overrides the "WTPMaxRetryTimes" registry value for every later method (-1: use it).
  void SetMaxRetriesOverride(int retries) { maxRetriesOverride_ = retries; }

  const PeerAddress& peer() const { return peer_; }
  DatagramPort& port() { return *port_; }
  const WtpStats& stats() const { return stats_; }
  std::uint16_t lastTid() const { return lastTid_; }
  int maxRetries() const { return maxRetries_; }
  int retries() const { return retries_; }

 private:
  using Action = WtpAction;
  using Event = WtpEvent;

  Action Transition(Event event);
  Action TransitionOnPdu();
  int Perform(Action action, Event* event);
  void ProcessReceived();
  int RunLoop(Action first);
  bool Cancelled() const;

  int SendPacket();
  int SendAck();
  int SendAbort();
  int SendNegativeAck();
  int Retransmit();
  int ReceivePdu();
  int SendEncoded(const WtpPdu& pdu);
  bool FillGroup();
  void EmptyGroupBuffers();
  void RebuildMissing();
  void StartResult();
  WtpAction NegativeAckOrGiveUp();
  bool GroupComplete() const;
  bool RemoveMissing(int psn);

  std::unique_ptr<DatagramPort> port_;
  PeerAddress peer_;

  std::uint16_t lastTid_ = 0;
  std::uint16_t tid_ = 0;
  int packetCount_ = 0;
  int psn_ = 0;
  int groupFirst_ = 0;
  int groupLast_ = 0;
  bool gtr_ = false;
  bool ttr_ = false;
  int retries_ = 0;
  bool rid_ = false;
  int missingCount_ = 0;
  std::array<int, kWindow> missing_{};
  bool tokFlag_ = false;
  int error_ = 0;
  WtpPdu lastReceived_;
  mms::ByteBuffer lastSent_;
  bool resultStarted_ = false;
  int maxRetries_ = 8;
  int maxRetriesOverride_ = -1;
  std::array<mms::ByteBuffer, kWindow> groupBuffers_;
  std::array<bool, kWindow> groupFilled_{};
  const mms::ByteBuffer* invokeData_ = nullptr;
  mms::ByteStream* body_ = nullptr;
  std::int64_t bodyStart_ = 0;
  std::int64_t bodyLength_ = 0;
  mms::ByteBuffer result_;
  WtpPhase phase_ = WtpPhase::Invoke;
  CancelHook cancelHook_;
  WtpMethodKind methodKind_ = WtpMethodKind::Other;
  bool filledMissing_ = false;
  int nackGroup_ = -1;
  WtpAction endAction_ = WtpAction::End;
  WtpStats stats_;
};

/// "WTPMaxRetryTimes" of the mm1 key as an octet; 8 when absent or not a number.
int ReadWtpMaxRetryTimes();

}  // namespace transport
