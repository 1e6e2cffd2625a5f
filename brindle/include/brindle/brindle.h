#pragma once
/// Video decoder library: MPEG-4 Simple Profile (ISO/IEC 14496-2) and baseline H.263 (ITU-T H.263).
/// All exports have C linkage and the header compiles as C; failures are negative return values.

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#include "brindle/planar_frame.h"

#if defined(BRINDLE_BUILD)
#define BRINDLE_API __attribute__((visibility("default")))
#else
#define BRINDLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// Filled by gGetStreamInfo. kind is 1 for an MPEG-4 video object layer, 0 for an H.263 picture.
/// For MPEG-4 the width and height are the layer's, rounded up to multiples of 16.
typedef struct StreamInfo {
  uint16_t kind;
  uint16_t spare;
  uint16_t width;
  uint16_t height;
} StreamInfo;

/// Five 32-bit words given at creation. Width and height are stored rounded down to multiples of 4
/// (0 means the stream's own size); the position words are kept and have no effect; orientation
/// 0..3 turns the output copy by 0, 90 (clockwise), 180 or 270 degrees.
typedef struct CreationRecord {
  int32_t width;
  int32_t height;
  int32_t left;
  int32_t top;
  int32_t orientation;
} CreationRecord;

/// Written by control type 2.
typedef struct PictureSummary {
  uint32_t pictureCount;  ///< coded pictures decoded since creation or reset
  uint32_t codingType;    ///< 0 intra, 1 predicted; 0xFFFFFFFF before the first picture
  uint32_t quantiser;     ///< quantiser of the last macroblock
  uint32_t intraMacroblocks;
  uint32_t skippedMacroblocks;
  uint32_t timeMs;  ///< presentation time of the picture in milliseconds
  uint16_t width;   ///< coded width and height of the stream
  uint16_t height;
} PictureSummary;

typedef struct VideoDecoder VideoDecoder;

typedef int32_t (*VideoDecodeFn)(VideoDecoder* decoder, const uint8_t* data, uint32_t* size,
                                 PlanarFrame* output);
typedef int32_t (*VideoDecodeNoOutputFn)(VideoDecoder* decoder, const uint8_t* data, uint32_t* size);
typedef int32_t (*VideoSetParameterFn)(VideoDecoder* decoder, int32_t type, int32_t value);
typedef int32_t (*VideoControlFn)(VideoDecoder* decoder, int32_t type, void* record);
typedef int32_t (*VideoResetFn)(VideoDecoder* decoder);
typedef int32_t (*VideoDestroyFn)(VideoDecoder* decoder);

/// A decoder object begins with its six entry points in slot order; the rest is private.
struct VideoDecoder {
  VideoDecodeFn decode;                  ///< slot 0: one picture; *size becomes the bytes consumed
  VideoDecodeNoOutputFn decodeNoOutput;  ///< slot 1: as slot 0 without an output frame
  VideoSetParameterFn setParameter;      ///< slot 2: type 0 sets the post-filter level
  VideoControlFn control;                ///< slot 3: 0 level, 1 picture copy, 2 summary, 3 activity
  VideoResetFn reset;                    ///< slot 4: back to the state before the first picture
  VideoDestroyFn destroy;                ///< slot 5: frees the decoder
};

/// Result codes of the library (the entry points return them as int32_t).
typedef enum BrindleResult {
  kBrindleOk = 0,
  kBrindleError = -1,     ///< unsupported or broken stream, bad argument
  kBrindleNoMemory = -2,  ///< allocation failed
  kBrindleNotCoded = 1,   ///< inside the library only: a picture that was not coded (the reference stands)
} BrindleResult;

/// The name of a result code ("kBrindleOk", ...), or "unknown result" for any other number.
BRINDLE_API const char* BrindleResultName(int32_t result);

/// Finds the first supported header (an MPEG-4 video object layer or an H.263 picture header).
/// Returns 0, or -1 when none is found.
BRINDLE_API int32_t gGetStreamInfo(const void* data, uint32_t size, StreamInfo* info);

/// Creates an MPEG-4 decoder from the decoder-specific info (VOS/VO/VOL headers). On success *size
/// is reduced to the bytes consumed. Returns 0, -1 for unsupported headers, -2 when memory is short.
BRINDLE_API int32_t gCreateMP4SPDecoder(VideoDecoder** decoder, const uint8_t* info, uint32_t* size,
                                        int32_t postFilterLevel, const CreationRecord* creation);

/// Creates an H.263 baseline decoder for pictures of the given size.
BRINDLE_API int32_t gCreateH263Decoder(VideoDecoder** decoder, int32_t width, int32_t height,
                                       int32_t postFilterLevel, const CreationRecord* creation);

#ifdef __cplusplus
}  // extern "C"
#endif
