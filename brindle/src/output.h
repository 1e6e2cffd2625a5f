#pragma once
// Output copies of a decoded picture: crop, optional post-filter, orientation; picture activity.

#include <cstdint>
#include <vector>

#include "brindle/planar_frame.h"
#include "decoder.h"

namespace brindle {

// Copies the decoder's current picture, cropped to width x height (multiples of 4), into frame in
// the given orientation (0..3, clockwise quarter turns). Frame dimensions that are set and smaller
// than the turned picture crop it further; zero dimensions are filled in. With a post-filter level
// above 0 the copy (never the reference) is deblocked; scratch holds the filtered picture.
void CopyOutput(const Decoder& decoder, int width, int height, int orientation, int postFilterLevel,
                std::vector<std::uint8_t>& scratch, PlanarFrame& frame);

// Picture activity 0..10 of the current picture's luma (see the exported control type 3).
int PictureActivity(const Decoder& decoder);

// Smooths 8x8 block edges of a 4:2:0 picture in place, by each macroblock's quantiser.
void PostFilter(std::uint8_t* y, std::uint8_t* u, std::uint8_t* v, int stride, int mbWidth, int mbHeight,
                const std::vector<std::uint8_t>& mbQp, int level);

}  // namespace brindle
