#include "skua/skua.h"

#include <opencore-amrnb/interf_dec.h>

#include <cstdlib>
#include <new>

namespace {

// Bytes of one frame in the storage format, header byte included, by frame type (bits 3..6 of
// the header): the eight speech modes, SID, three other comfort-noise types that carry nothing
// here, reserved types and NO_DATA.
constexpr std::uint32_t kFrameBytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
constexpr std::uint32_t kFrameSamples = 160;
constexpr std::uint8_t kNoData = 0x7C;

int Decode(SkuaDecoder* d, const std::uint8_t* data, std::uint32_t* length, std::int16_t* output,
           std::uint32_t* outputSize) {
  if (d == nullptr || data == nullptr || length == nullptr || output == nullptr || outputSize == nullptr) return -1;
  std::uint32_t in = 0, out = 0;
  const std::uint32_t inLimit = *length, outLimit = *outputSize;
  while (in < inLimit && out + kFrameSamples * 2 <= outLimit) {
    const std::uint32_t type = (data[in] >> 3) & 0x0F;
    const std::uint32_t bytes = kFrameBytes[type];
    if (in + bytes > inLimit) break;  // a truncated frame is left unconsumed
    // The library unpacks foreign SID bits for types 9..14 and would read past their single
    // octet: they carry nothing here, so they are decoded as NO_DATA.
    const std::uint8_t* frame = type >= 9 && type <= 14 ? &kNoData : data + in;
    Decoder_Interface_Decode(d->state, frame, output + out / 2, 0);
    in += bytes;
    out += kFrameSamples * 2;
  }
  *length = in;
  *outputSize = out;
  return in == 0 ? -1 : 0;
}

int Unused(SkuaDecoder*, std::int32_t, std::int32_t) { return -5; }

int Destroy(SkuaDecoder* d) {
  if (d == nullptr) return -1;
  Decoder_Interface_exit(d->state);
  delete d;
  return 0;
}

}  // namespace

extern "C" int gCreateGsmAmrDecoder(void** decoder) {
  if (decoder == nullptr) return -1;
  *decoder = nullptr;
  auto* d = new (std::nothrow) SkuaDecoder{Decode, Unused, Unused, Destroy, nullptr};
  if (d == nullptr) return -1;
  d->state = Decoder_Interface_init();
  if (d->state == nullptr) {
    delete d;
    return -1;
  }
  *decoder = d;
  return 0;
}
