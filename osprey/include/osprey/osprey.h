/// Osprey: fixed-point decoder of MPEG-4 AAC Low Complexity raw data blocks.
///
/// One export, gCreateAACDecoder, builds an AudioDecoder from an AudioSpecificConfig.
/// The decoder object starts with five entry points in a fixed order; callers use
/// them through the object, never by name.
#pragma once

#include <stdint.h>

#if defined(OSPREY_BUILD)
#define OSPREY_API __attribute__((visibility("default")))
#else
#define OSPREY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// Result codes of the decoder (the entry points return them as int).
typedef enum OspreyResult {
  kAacOk = 0,
  kAacBadArgument = -1,  ///< missing argument, bad configuration or extension flag set
  kAacOutOfMemory = -2,
  kAacBadControlValue = -3,     ///< set: value out of range
  kAacBadControlType = -5,      ///< set/get: unknown control type
  kAacOutputTooSmall = -1002,   ///< decode: output buffer below channels x 2048 bytes
  kAacFrameLength960 = -1003,   ///< 960-sample frames are not supported
  kAacTooManyChannels = -1004,  ///< more than two channels
  kAacNotLowComplexity = -1005  ///< audio object type other than 2
} OspreyResult;

/// The name of a result code ("kAacOk", ...), or "unknown result" for any other number.
OSPREY_API const char* OspreyResultName(int result);

/// Control types of the set and get entry points.
enum {
  kAacControlChannels = 1,   ///< output channel count (1 or 2)
  kAacControlSampleRate = 2  ///< get only: sampling rate in Hz
};

/// In/out record of gCreateAACDecoder.
typedef struct AacConfig {
  uint8_t channels;    ///< in: 1 or 2 forces the output channel count, else the stream decides; out: output
                       ///< channels
  uint8_t objectType;  ///< out: 2
  uint16_t spare;
  uint32_t sampleRate;  ///< out: Hz
} AacConfig;

typedef struct AudioDecoder AudioDecoder;

/// Slot 0. Decodes one raw data block. *length: in, bytes available; out, bytes consumed.
/// *outputSize: in, bytes of `output`; out, channels x 2048. Returns 0, -1 (missing
/// decoder or argument) or -1002 (output too small: *length set to 0, output size and
/// decoder state unchanged).
typedef int (*AacDecodeFn)(AudioDecoder* decoder, const uint8_t* data, uint32_t* length, int16_t* output,
                           uint32_t* outputSize);
/// Slot 1. type 1: output channel count 1 or 2 (else -3); other types -5.
typedef int (*AacSetFn)(AudioDecoder* decoder, int32_t type, int32_t value);
/// Slot 2. type 1: output channel setting; type 2: sample rate; other types -5 with value 0.
typedef int (*AacGetFn)(AudioDecoder* decoder, int32_t type, int32_t* value);
/// Slot 3. Frees the decoder.
typedef int (*AacDestroyFn)(AudioDecoder* decoder);
/// Slot 4. Clears the overlap buffers and the previous window shapes.
typedef int (*AacResetFn)(AudioDecoder* decoder);

/// The first members of every decoder object.
struct AudioDecoder {
  AacDecodeFn decode;
  AacSetFn set;
  AacGetFn get;
  AacDestroyFn destroy;
  AacResetFn reset;
};

/// Creates a decoder for the AudioSpecificConfig `asc` of `ascLength` bytes.
/// On success writes the object to *decoder, fills `config` and returns 0; on failure
/// writes NULL and returns one of the codes above.
OSPREY_API int gCreateAACDecoder(AudioDecoder** decoder, AacConfig* config, const uint8_t* asc,
                                 uint32_t ascLength);

#ifdef __cplusplus
}
#endif
