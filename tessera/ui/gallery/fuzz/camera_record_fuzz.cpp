// Camera requests and replies from another process: any block decodes without reading past
// its end, and a decoded request encodes back to a well-formed 548-byte record.
#include <cstddef>
#include <cstdint>

#include "gallery/camera_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto reply = gallery::DecodeCameraReply(data, size)) {
    if (reply->empty()) __builtin_trap();
  }
  if (auto request = gallery::DecodeCameraRequest(data, size)) {
    if (request->folder.size() > 260) __builtin_trap();
    if (gallery::EncodeCameraRequest(*request).size() != 548) __builtin_trap();
  }
  return 0;
}
