#pragma once
// What the router reads besides datagrams: the requests of its clients and its own queue
// files. Both come from outside the process, so both are parsed with bounds on every field.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/push.h"

namespace pushrouter {

struct ClientRequest {
  platform::push::WireOp op = platform::push::WireOp::Open;
  std::string type;       // Open, Inject: normalised content type, never empty
  std::string appId;      // Open
  std::uint32_t seq = 0;  // Ack
  std::string body;       // Inject
};

/// One frame's payload from a client. False for a malformed payload, trailing octets, or an
/// operation that only the router sends.
bool ParseClientRequest(std::string_view payload, ClientRequest* out);

/// A queue file: "TPQ1", the content type as a wire text, then the body up to the end.
std::string EncodeQueueFile(std::string_view type, std::string_view body);
/// False for a file without the magic, with a type running past the end or an empty type.
bool ParseQueueFile(std::string_view data, std::string* type, std::string* body);

}  // namespace pushrouter
