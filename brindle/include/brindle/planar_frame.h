#pragma once
/// Planar YUV 4:2:0 picture descriptor shared by the decoder, the player layer and the colour converter.

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// Pointers to the three planes, then the picture size. The Y plane has width x height bytes with a
/// pitch equal to the width; each chroma plane has (width/2) x (height/2) bytes with pitch width/2.
/// Frames allocated as one block hold Y first, U at width x height and V at width x height x 5/4.
typedef struct PlanarFrame {
  uint8_t* y;
  uint8_t* u;
  uint8_t* v;
  uint16_t width;
  uint16_t height;
} PlanarFrame;

#ifdef __cplusplus
}  // extern "C"
#endif
