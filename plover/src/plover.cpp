#include "plover/plover.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "kernels.h"

namespace {

bool Valid(const PlanarFrame* f) {
  return f != nullptr && f->y != nullptr && f->u != nullptr && f->v != nullptr;
}

int ScaleAllPlanes(const PlanarFrame* src, PlanarFrame* dst, int cx, int cy, int cw, int ch) {
  if (!Valid(src) || !Valid(dst)) return -1;
  const int sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  plover::ScalePlane(src->y, sw, sh, dst->y, dw, dh, cx, cy, cw, ch);
  plover::ScalePlane(src->u, sw / 2, sh / 2, dst->u, dw / 2, dh / 2, cx / 2, cy / 2, cw / 2, ch / 2);
  return plover::ScalePlane(src->v, sw / 2, sh / 2, dst->v, dw / 2, dh / 2, cx / 2, cy / 2, cw / 2, ch / 2);
}

}  // namespace

extern "C" {

int gYUV420toRGB16Rotate(const PlanarFrame* src, std::uint16_t* dst, int pitch, int dstHeight, int left, int top,
                         int srcLeft, int srcTop, int width, int height, int rotation) {
  if (rotation < 0 || rotation > 3) return -1;
  if (!Valid(src) || dst == nullptr) return -1;
  // A negative position has no place in the frame buffer: nothing is drawn.
  if (left < 0 || top < 0 || srcLeft < 0 || srcTop < 0 || pitch <= 0 || dstHeight <= 0) return 0;
  const int sw = src->width, sh = src->height;
  const int cw = std::min(sw - srcLeft, width);
  const int ch = std::min(sh - srcTop, height);
  int columns, rows;
  if (rotation == 0 || rotation == 2) {
    columns = std::min(cw, pitch - left);
    rows = std::min(ch, dstHeight - top);
  } else {
    columns = std::min(cw, dstHeight - top);
    rows = std::min(ch, pitch - left);
  }
  columns &= ~1;
  rows &= ~1;
  if (columns <= 0 || rows <= 0) return 0;

  const std::ptrdiff_t p = pitch;
  const int chromaPitch = sw / 2;
  std::uint16_t* base = dst + static_cast<std::ptrdiff_t>(top) * p + left;
  const std::uint8_t* yBase = src->y + static_cast<std::ptrdiff_t>(srcTop) * sw + srcLeft;
  const std::ptrdiff_t chromaOffset = static_cast<std::ptrdiff_t>(srcTop / 2) * chromaPitch + srcLeft / 2;
  const std::uint8_t* uBase = src->u + chromaOffset;
  const std::uint8_t* vBase = src->v + chromaOffset;
  const plover::ConvertRowPairFn convert = plover::CurrentConvertRowPair();

  std::vector<std::uint16_t> lines;
  if (rotation != 0) lines.resize(static_cast<std::size_t>(columns) * 2);
  std::uint16_t* line0 = lines.data();
  std::uint16_t* line1 = line0 + (rotation != 0 ? columns : 0);

  for (int r = 0; r < rows; r += 2) {
    const std::uint8_t* y0 = yBase + static_cast<std::ptrdiff_t>(r) * sw;
    const std::uint8_t* y1 = y0 + sw;
    const std::uint8_t* u = uBase + static_cast<std::ptrdiff_t>(r / 2) * chromaPitch;
    const std::uint8_t* v = vBase + static_cast<std::ptrdiff_t>(r / 2) * chromaPitch;
    if (rotation == 0) {
      std::uint16_t* out0 = base + r * p;
      convert(y0, y1, u, v, columns, out0, out0 + p);
      continue;
    }
    convert(y0, y1, u, v, columns, line0, line1);
    switch (rotation) {
      case 1:  // (c, r) -> (rows - 1 - r, c)
        for (int c = 0; c < columns; ++c) {
          std::uint16_t* d = base + c * p + (rows - 1 - r);
          d[0] = line0[c];
          d[-1] = line1[c];
        }
        break;
      case 2: {  // (c, r) -> (columns - 1 - c, rows - 1 - r)
        std::uint16_t* d0 = base + (rows - 1 - r) * p + (columns - 1);
        std::uint16_t* d1 = d0 - p;
        for (int c = 0; c < columns; ++c) {
          d0[-c] = line0[c];
          d1[-c] = line1[c];
        }
        break;
      }
      case 3:  // (c, r) -> (r, columns - 1 - c)
        for (int c = 0; c < columns; ++c) {
          std::uint16_t* d = base + (columns - 1 - c) * p + r;
          d[0] = line0[c];
          d[1] = line1[c];
        }
        break;
      default:
        break;
    }
  }
  return 0;
}

int gScaleFrame(const PlanarFrame* src, PlanarFrame* dst) {
  if (!Valid(src)) return -1;
  return ScaleAllPlanes(src, dst, 0, 0, src->width, src->height);
}

int gScaleCroppedFrame(const PlanarFrame* src, PlanarFrame* dst, int cropLeft, int cropTop, int cropWidth,
                       int cropHeight) {
  return ScaleAllPlanes(src, dst, static_cast<std::uint16_t>(cropLeft), static_cast<std::uint16_t>(cropTop),
                        static_cast<std::uint16_t>(cropWidth), static_cast<std::uint16_t>(cropHeight));
}

}  // extern "C"
