#pragma once
/// Result codes of the MM1 transport: the datagram endpoint, WTP transactions and WSP sessions.

namespace transport {

enum Result : int {
  kOk = 0,
  kNoSession = -1,           ///< no session to run the method in
  kOutOfMemory = -2,         ///< a buffer could not grow
  kCancelled = -3,           ///< the cancel hook said stop (an Abort was sent, or nothing at all)
  kSendFailed = 100,         ///< a datagram could not be sent (or a message too long for WTP)
  kTimedOut = 101,           ///< nothing usable arrived and the retransmission budget is spent
  kProviderAbortBase = 210,  ///< + reason of an Abort of type 0 from the gateway
  kUserAbortBase = 6,        ///< + reason of an Abort of any other type (a WSP reason code)
  kStatusBase = 246,         ///< + status octet of a Reply whose status is 0x30 or more
  kNoPdu = 300,              ///< no PDU, or an undecodable one, came back
  kUnexpectedPdu = 301,      ///< a PDU of an unexpected type came back (or too many redirects)
  kUnreachable = 302,        ///< no connection to the peer could be made (HTTP), as a session not opened
};

}  // namespace transport
