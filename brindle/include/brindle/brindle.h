#pragma once
/// Video decoder library: MPEG-4 Simple Profile (ISO/IEC 14496-2) and baseline H.263 (ITU-T H.263).
/// All exports have C linkage; failures are negative return values.

#include <cstdint>

#include "brindle/planar_frame.h"

extern "C" {

/// Filled by gGetStreamInfo. kind is 1 for an MPEG-4 video object layer, 0 for an H.263 picture.
/// For MPEG-4 the width and height are the layer's, rounded up to multiples of 16.
struct StreamInfo {
  std::uint16_t kind;
  std::uint16_t spare;
  std::uint16_t width;
  std::uint16_t height;
};

/// Five 32-bit words given at creation. Width and height are stored rounded down to multiples of 4
/// (0 means the stream's own size); the position words are kept and have no effect; orientation
/// 0..3 turns the output copy by 0, 90 (clockwise), 180 or 270 degrees.
struct CreationRecord {
  std::int32_t width;
  std::int32_t height;
  std::int32_t left;
  std::int32_t top;
  std::int32_t orientation;
};

/// Written by control type 2.
struct PictureSummary {
  std::uint32_t pictureCount;  ///< coded pictures decoded since creation or reset
  std::uint32_t codingType;    ///< 0 intra, 1 predicted; 0xFFFFFFFF before the first picture
  std::uint32_t quantiser;     ///< quantiser of the last macroblock
  std::uint32_t intraMacroblocks;
  std::uint32_t skippedMacroblocks;
  std::uint32_t timeMs;  ///< presentation time of the picture in milliseconds
  std::uint16_t width;   ///< coded width and height of the stream
  std::uint16_t height;
};

struct VideoDecoder;

using VideoDecodeFn = std::int32_t (*)(VideoDecoder* decoder, const std::uint8_t* data, std::uint32_t* size,
                                       PlanarFrame* output);
using VideoDecodeNoOutputFn = std::int32_t (*)(VideoDecoder* decoder, const std::uint8_t* data,
                                               std::uint32_t* size);
using VideoSetParameterFn = std::int32_t (*)(VideoDecoder* decoder, std::int32_t type, std::int32_t value);
using VideoControlFn = std::int32_t (*)(VideoDecoder* decoder, std::int32_t type, void* record);
using VideoResetFn = std::int32_t (*)(VideoDecoder* decoder);
using VideoDestroyFn = std::int32_t (*)(VideoDecoder* decoder);

/// A decoder object begins with its six entry points in slot order; the rest is private.
struct VideoDecoder {
  VideoDecodeFn decode;                  ///< slot 0: one picture; *size becomes the bytes consumed
  VideoDecodeNoOutputFn decodeNoOutput;  ///< slot 1: as slot 0 without an output frame
  VideoSetParameterFn setParameter;      ///< slot 2: type 0 sets the post-filter level
  VideoControlFn control;                ///< slot 3: 0 level, 1 picture copy, 2 summary, 3 activity
  VideoResetFn reset;                    ///< slot 4: back to the state before the first picture
  VideoDestroyFn destroy;                ///< slot 5: frees the decoder
};

/// Error codes of the library.
enum BrindleResult : std::int32_t {
  kBrindleOk = 0,
  kBrindleError = -1,     ///< unsupported or broken stream, bad argument
  kBrindleNoMemory = -2,  ///< allocation failed
};

/// Finds the first supported header (an MPEG-4 video object layer or an H.263 picture header).
/// Returns 0, or -1 when none is found.
__attribute__((visibility("default"))) std::int32_t gGetStreamInfo(const void* data, std::uint32_t size,
                                                                   StreamInfo* info);

/// Creates an MPEG-4 decoder from the decoder-specific info (VOS/VO/VOL headers). On success *size
/// is reduced to the bytes consumed. Returns 0, -1 for unsupported headers, -2 when memory is short.
__attribute__((visibility("default"))) std::int32_t gCreateMP4SPDecoder(VideoDecoder** decoder,
                                                                        const std::uint8_t* info,
                                                                        std::uint32_t* size,
                                                                        std::int32_t postFilterLevel,
                                                                        const CreationRecord* creation);

/// Creates an H.263 baseline decoder for pictures of the given size.
__attribute__((visibility("default"))) std::int32_t gCreateH263Decoder(VideoDecoder** decoder,
                                                                       std::int32_t width,
                                                                       std::int32_t height,
                                                                       std::int32_t postFilterLevel,
                                                                       const CreationRecord* creation);

}  // extern "C"
