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

int gYUV420toRGB16Rotate(const PlanarFrame* src, std::uint16_t* dst, int pitch, int dstHeight, int left,
                         int top, int srcLeft, int srcTop, int width, int height, int rotation) {
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
  const plover::Kernels& kernels = plover::CurrentKernels();
  auto rowPair = [&](int r, std::uint16_t* out0, std::uint16_t* out1) {
    const std::uint8_t* y0 = yBase + static_cast<std::ptrdiff_t>(r) * sw;
    const std::ptrdiff_t c = static_cast<std::ptrdiff_t>(r / 2) * chromaPitch;
    kernels.convertRowPair(y0, y0 + sw, uBase + c, vBase + c, columns, out0, out1);
  };

  if (rotation == 0) {
    for (int r = 0; r < rows; r += 2) rowPair(r, base + r * p, base + (r + 1) * p);
    return 0;
  }
  if (rotation == 2) {  // (c, r) -> (columns - 1 - c, rows - 1 - r)
    std::vector<std::uint16_t> lines(static_cast<std::size_t>(columns) * 2);
    for (int r = 0; r < rows; r += 2) {
      rowPair(r, lines.data(), lines.data() + columns);
      kernels.reverseLine(lines.data(), columns, base + (rows - 1 - r) * p + columns - 1);
      kernels.reverseLine(lines.data() + columns, columns, base + (rows - 2 - r) * p + columns - 1);
    }
    return 0;
  }
  // Quarter turns: a strip of up to eight source rows is converted, then written out column by
  // column as eight-pixel runs of the destination rows.
  std::vector<std::uint16_t> lines(static_cast<std::size_t>(columns) * 8);
  for (int r0 = 0; r0 < rows; r0 += 8) {
    const int n = std::min(8, rows - r0);
    for (int i = 0; i < n; i += 2)
      rowPair(r0 + i, lines.data() + static_cast<std::ptrdiff_t>(i) * columns,
              lines.data() + static_cast<std::ptrdiff_t>(i + 1) * columns);
    if (rotation == 1)  // (c, r) -> (rows - 1 - r, c): the strip's last row comes first
      kernels.turnLines(lines.data(), columns, n, columns, base + (rows - r0 - n), p, true);
    else  // (c, r) -> (r, columns - 1 - c)
      kernels.turnLines(lines.data(), columns, n, columns, base + (columns - 1) * p + r0, -p, false);
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
