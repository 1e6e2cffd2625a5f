#include <cstdio>
#include <string>

#include "transport/mm1_engine.h"
#include "transport/results.h"

namespace transport {

namespace {

// X-Mms-Response-Status 0x81..0x88 of an m-send-conf.
const char* const kResponseStatus[] = {"error unspecified",         "service denied",
                                       "message format corrupt",    "sending address unresolved",
                                       "message not found",         "network problem",
                                       "content not accepted",      "unsupported message"};

std::string Hex(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value) & 0xFF);
  return text;
}

}  // namespace

std::string Mm1ResultText(int code, std::string_view gateway) {
  const std::string where = gateway.empty() ? std::string("the WAP gateway")
                                            : "the WAP gateway " + std::string(gateway);
  switch (code) {
    case kMm1Ok:
      return "done";
    case kMm1InvalidArgument:
      return "not possible with these arguments or in this mode";
    case kMm1FileError:
      return "out of memory, a file error, or an empty package or body";
    case kCancelled:
      return "cancelled";
    case kSendFailed:
      return "a datagram could not be sent to " + where;
    case kTimedOut:
      return where + " did not answer in time";
    case kNoPdu:
      return "no answer, or an unreadable one, came back from " + where;
    case kUnexpectedPdu:
      return "an unexpected answer came back from " + where;
    case kMm1NoSessionOpened:
      return "could not open a session with " + where;
    case kMm1NotMultipart:
      return "the message body is not a multipart package";
    case kMm1TooLarge:
      return "the message is larger than the send limit";
    case kMm1MissingTarget:
      return "no MMSC address or content location to use";
    case kMm1BadReplyType:
      return "the MMSC's reply is empty or of the wrong message type";
    case kMm1BadContentType:
      return "the MMSC's reply is not an MMS message";
    case kMm1EncodeFailed:
      return "the MMS message could not be encoded";
    case kMm1DecodeFailed:
      return "the MMSC's reply could not be decoded";
    case kMm1NoSession:
      return "no session with " + where;
    default:
      break;
  }
  if (code > kMm1ResponseStatusBase + 0x80 && code <= kMm1ResponseStatusBase + 0x88)
    return std::string("the MMSC refused the message: ") + kResponseStatus[code - kMm1ResponseStatusBase - 0x81];
  if (code >= kProviderAbortBase && code < kProviderAbortBase + 0x10)
    return where + " aborted the transaction (reason " + std::to_string(code - kProviderAbortBase) + ")";
  if (code >= kUserAbortBase + 0xE0 && code <= kUserAbortBase + 0xFF)
    return where + " ended the session (WSP reason " + Hex(code - kUserAbortBase) + ")";
  if (code >= kStatusBase + 0x30 && code <= kStatusBase + 0xFF)
    return "the MMSC answered with status " + Hex(code - kStatusBase);
  return "result " + std::to_string(code);
}

}  // namespace transport
