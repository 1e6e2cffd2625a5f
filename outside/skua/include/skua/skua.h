#pragma once
/// AMR narrow-band decoder over opencore-amrnb, offering the audio decoder entry points the
/// player uses: slot 0 decode, slot 3 destroy.

#include <cstdint>

extern "C" {

struct SkuaDecoder;

/// Decodes whole AMR frames (storage format: one header byte, then the mode's payload) from
/// `data`. `*length` is the input size on entry and the bytes consumed on return; `*outputSize`
/// is the output capacity in bytes on entry and the bytes written on return (160 samples of
/// 16-bit mono PCM at 8000 Hz per frame). Returns 0, or -1 when not one whole frame could be
/// decoded (truncated frame, output below 320 bytes, bad arguments).
using SkuaDecodeFn = int (*)(SkuaDecoder* decoder, const std::uint8_t* data, std::uint32_t* length,
                             std::int16_t* output, std::uint32_t* outputSize);
using SkuaUnusedFn = int (*)(SkuaDecoder* decoder, std::int32_t type, std::int32_t value);
using SkuaDestroyFn = int (*)(SkuaDecoder* decoder);

struct SkuaDecoder {
  SkuaDecodeFn decode;   ///< slot 0
  SkuaUnusedFn set;      ///< slot 1: answers -5
  SkuaUnusedFn get;      ///< slot 2: answers -5
  SkuaDestroyFn destroy; ///< slot 3
  void* state;
};

/// Creates a decoder; returns 0, or -1 (with *decoder null).
__attribute__((visibility("default"))) int gCreateGsmAmrDecoder(void** decoder);

}  // extern "C"
