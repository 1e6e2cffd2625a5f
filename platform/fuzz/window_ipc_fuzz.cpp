// Feeds arbitrary request frames to the cross-process window listener's request handler.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "../src/window/internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> body(data, data + size);
  platform::win::ServeIpcRequest(body);
  return 0;
}
