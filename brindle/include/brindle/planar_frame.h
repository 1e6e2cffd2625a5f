#pragma once
/// Planar YUV 4:2:0 picture descriptor shared by the decoder, the player layer and the colour converter.

#include <cstdint>

extern "C" {

/// Pointers to the three planes, then the picture size. The Y plane has width x height bytes with a
/// pitch equal to the width; each chroma plane has (width/2) x (height/2) bytes with pitch width/2.
/// Frames allocated as one block hold Y first, U at width x height and V at width x height x 5/4.
struct PlanarFrame {
  std::uint8_t* y;
  std::uint8_t* u;
  std::uint8_t* v;
  std::uint16_t width;
  std::uint16_t height;
};

}  // extern "C"
