#pragma once
/// Colour conversion and scaling of planar YUV 4:2:0 pictures.
///
/// All arithmetic is integer. The converter writes RGB565 pixels straight into a frame buffer and
/// never touches a pixel outside the clipped rectangle it computes.

#include <cstdint>

#include "brindle/planar_frame.h"

#if defined(PLOVER_BUILD)
#define PLOVER_API __attribute__((visibility("default")))
#else
#define PLOVER_API
#endif

extern "C" {

/// Converts the rectangle (srcLeft, srcTop, width, height) of `src` into RGB565 at (left, top) of
/// `dst` (pitch in pixels, dstHeight rows), turned by rotation x 90 degrees clockwise (3 = counter-
/// clockwise). Returns 0, or -1 for a rotation outside 0..3 or a null picture (nothing is drawn).
PLOVER_API int gYUV420toRGB16Rotate(const PlanarFrame* src, std::uint16_t* dst, int pitch, int dstHeight,
                                    int left, int top, int srcLeft, int srcTop, int width, int height,
                                    int rotation);

/// Scales the whole of `src` into `dst`, whose planes are allocated and whose size is set.
/// Returns the result of the last plane operation: 0, or -1 for a plane that could not be scaled.
PLOVER_API int gScaleFrame(const PlanarFrame* src, PlanarFrame* dst);

/// Scales the rectangle (cropLeft, cropTop, cropWidth, cropHeight) of `src` into `dst`.
/// Each rectangle value is taken as unsigned 16-bit.
PLOVER_API int gScaleCroppedFrame(const PlanarFrame* src, PlanarFrame* dst, int cropLeft, int cropTop,
                                  int cropWidth, int cropHeight);

}  // extern "C"
