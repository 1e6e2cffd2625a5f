// What reaches the router besides datagrams: a client's frame payload (first octet even)
// or a queue file read back from disk (first octet odd); the rest of the input is the data.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 1) == 0) {
    pushrouter::ClientRequest req;
    if (pushrouter::ParseClientRequest(rest, &req) && req.body.size() > rest.size()) std::abort();
  } else {
    std::string type, body;
    if (pushrouter::ParseQueueFile(rest, &type, &body)) {
      if (type.empty() || body.size() + type.size() > rest.size()) std::abort();
      // What is written back reads the same.
      std::string again, againBody;
      if (!pushrouter::ParseQueueFile(pushrouter::EncodeQueueFile(type, body), &again, &againBody) ||
          again != type || againBody != body)
        std::abort();
    }
  }
  return 0;
}
