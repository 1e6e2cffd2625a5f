// Feeds arbitrary bytes as AMR storage-format frames with a varying output capacity.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "skua/skua.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 1) return 0;
  void* object = nullptr;
  if (gCreateGsmAmrDecoder(&object) != 0) return 0;
  auto* d = static_cast<SkuaDecoder*>(object);
  std::vector<std::int16_t> out(160 * 4);
  const std::uint32_t capacity = (data[0] % 5) * 320;
  std::uint32_t offset = 1;
  while (offset < size) {
    std::uint32_t len = static_cast<std::uint32_t>(size - offset), outSize = capacity;
    if (d->decode(d, data + offset, &len, out.data(), &outSize) != 0 || len == 0) break;
    offset += len;
  }
  d->destroy(d);
  return 0;
}
