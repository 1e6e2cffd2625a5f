// Feeds arbitrary bytes through the header parser and the picture decoder.

#include <cstddef>
#include <cstdint>

#include "decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the path: MPEG-4 headers from the stream itself, or H.263 of a fixed size.
  bool h263 = data[0] & 1;
  ++data;
  --size;
  brindle::LayerInfo layer;
  std::size_t pos = 0;
  if (h263) {
    layer.shortHeader = true;
    layer.width = 176;
    layer.height = 144;
  } else if (brindle::ParseLayerHeaders(data, size, layer, &pos) != brindle::ParseResult::kOk) {
    return 0;
  }
  brindle::Decoder decoder;
  if (decoder.Configure(layer) != 0) return 0;
  for (int pictures = 0; pos < size && pictures < 16; ++pictures) {
    std::size_t used = 0;
    decoder.Decode(data + pos, size - pos, &used);
    if (used == 0) break;
    pos += used;
  }
  return 0;
}
