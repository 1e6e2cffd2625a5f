// Fuzz target: a configuration byte, then raw data blocks each prefixed by a
// one-byte length, decoded in sequence by one decoder.
//   byte 0: bits 0-3 sampling frequency index (mod 12), bit 4 stereo stream,
//           bits 5-6 requested output channels (0: stream, 1, 2)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "osprey/osprey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int sfIndex = (data[0] & 0x0F) % 12;
  const int channels = (data[0] & 0x10) ? 2 : 1;
  const uint8_t asc[2] = {static_cast<uint8_t>((2 << 3) | (sfIndex >> 1)),
                          static_cast<uint8_t>(((sfIndex & 1) << 7) | (channels << 3))};
  AacConfig config{};
  config.channels = static_cast<uint8_t>((data[0] >> 5) & 3);
  AudioDecoder* d = nullptr;
  if (gCreateAACDecoder(&d, &config, asc, sizeof asc) != 0) return 0;
  int16_t pcm[2048];
  size_t pos = 1;
  while (pos < size) {
    const size_t length = data[pos++];
    const size_t take = length < size - pos ? length : size - pos;
    // An exactly sized copy, so reads past the block are caught.
    std::unique_ptr<uint8_t[]> block(new uint8_t[take > 0 ? take : 1]);
    if (take > 0) std::memcpy(block.get(), data + pos, take);
    uint32_t in = static_cast<uint32_t>(take);
    uint32_t out = sizeof pcm;
    d->decode(d, block.get(), &in, pcm, &out);
    if (in > take) __builtin_trap();
    pos += take;
  }
  d->destroy(d);
  return 0;
}
