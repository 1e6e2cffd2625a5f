#include "output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace brindle {
namespace {

void CopyPlane(const std::uint8_t* src, int srcStride, int w, int h, int orientation, std::uint8_t* dst,
               int dstWidth, int dstHeight) {
  if (orientation == 0) {
    int cw = std::min(w, dstWidth), ch = std::min(h, dstHeight);
    for (int r = 0; r < ch; ++r)
      std::memcpy(dst + r * dstWidth, src + r * srcStride, static_cast<std::size_t>(cw));
    return;
  }
  for (int r = 0; r < h; ++r) {
    const std::uint8_t* row = src + r * srcStride;
    for (int c = 0; c < w; ++c) {
      int x, y;
      switch (orientation) {
        case 1:
          x = h - 1 - r;
          y = c;
          break;
        case 2:
          x = w - 1 - c;
          y = h - 1 - r;
          break;
        default:
          x = r;
          y = w - 1 - c;
          break;
      }
      if (x < dstWidth && y < dstHeight) dst[y * dstWidth + x] = row[c];
    }
  }
}

// Filters the four samples a b | c d across one edge, in the manner of a loop filter with a
// strength that grows with the quantiser.
inline void FilterEdge(std::uint8_t* p, int step, int strength) {
  int a = p[-2 * step], b = p[-step], c = p[0], d = p[step];
  int delta = (a - 4 * b + 4 * c - d) / 8;
  int ramp;
  int m = std::abs(delta);
  if (m < strength)
    ramp = delta;
  else if (m < 2 * strength)
    ramp = (delta > 0 ? 1 : -1) * (2 * strength - m);
  else
    ramp = 0;
  p[-step] = static_cast<std::uint8_t>(std::clamp(b + ramp, 0, 255));
  p[0] = static_cast<std::uint8_t>(std::clamp(c - ramp, 0, 255));
}

void FilterPlane(std::uint8_t* plane, int stride, int width, int height, int blockShift,
                 const std::vector<std::uint8_t>& mbQp, int mbWidth, int level) {
  auto strengthAt = [&](int x, int y) {
    int mbx = x >> blockShift, mby = y >> blockShift;
    int qp = mbQp[static_cast<std::size_t>(mby * mbWidth + mbx)];
    return std::min(1 + qp * level / 4, 12);
  };
  for (int y = 0; y < height; ++y)
    for (int x = 8; x < width; x += 8) FilterEdge(plane + y * stride + x, 1, strengthAt(x, y));
  for (int y = 8; y < height; y += 8)
    for (int x = 0; x < width; ++x) FilterEdge(plane + y * stride + x, stride, strengthAt(x, y));
}

}  // namespace

void PostFilter(std::uint8_t* y, std::uint8_t* u, std::uint8_t* v, int stride, int mbWidth, int mbHeight,
                const std::vector<std::uint8_t>& mbQp, int level) {
  if (level <= 0) return;
  FilterPlane(y, stride, mbWidth * 16, mbHeight * 16, 4, mbQp, mbWidth, level);
  FilterPlane(u, stride / 2, mbWidth * 8, mbHeight * 8, 3, mbQp, mbWidth, level);
  FilterPlane(v, stride / 2, mbWidth * 8, mbHeight * 8, 3, mbQp, mbWidth, level);
}

void CopyOutput(const Decoder& decoder, int width, int height, int orientation, int postFilterLevel,
                std::vector<std::uint8_t>& scratch, PlanarFrame& frame) {
  const Picture& pic = decoder.Current();
  if (!pic.memory || !frame.y || !frame.u || !frame.v) return;
  const std::uint8_t* y = pic.y;
  const std::uint8_t* u = pic.u;
  const std::uint8_t* v = pic.v;
  if (postFilterLevel > 0) {
    std::size_t luma = static_cast<std::size_t>(pic.stride) * decoder.PaddedHeight();
    try {
      scratch.resize(luma * 3 / 2);
      std::memcpy(scratch.data(), pic.y, luma * 3 / 2);  // the three planes are one block
      PostFilter(scratch.data(), scratch.data() + luma, scratch.data() + luma * 5 / 4, pic.stride,
                 decoder.MbWidth(), decoder.MbHeight(), decoder.MbQuantisers(), postFilterLevel);
      y = scratch.data();
      u = y + luma;
      v = u + luma / 4;
    } catch (const std::bad_alloc&) {
      // Without memory for the filter the copy goes out unfiltered.
    }
  }
  bool turned = orientation == 1 || orientation == 3;
  int outWidth = turned ? height : width, outHeight = turned ? width : height;
  if (frame.width == 0 || frame.width > outWidth) frame.width = static_cast<std::uint16_t>(outWidth);
  if (frame.height == 0 || frame.height > outHeight) frame.height = static_cast<std::uint16_t>(outHeight);
  int fw = frame.width, fh = frame.height;
  CopyPlane(y, pic.stride, width, height, orientation, frame.y, fw, fh);
  CopyPlane(u, pic.chromaStride, width / 2, height / 2, orientation, frame.u, fw / 2, fh / 2);
  CopyPlane(v, pic.chromaStride, width / 2, height / 2, orientation, frame.v, fw / 2, fh / 2);
}

int PictureActivity(const Decoder& decoder) {
  const Picture& pic = decoder.Current();
  int w = decoder.Width(), h = decoder.Height();
  if (!pic.memory || w <= 0 || h <= 0) return 0;
  std::uint64_t count = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
  std::uint64_t sum = 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) sum += pic.y[r * pic.stride + c];
  std::int64_t mean = static_cast<std::int64_t>(sum / count);
  std::uint64_t dev = 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      dev += static_cast<std::uint64_t>(std::llabs(mean - pic.y[r * pic.stride + c]));
  std::uint64_t d = dev / count;
  return d >= 50 ? 10 : static_cast<int>(d / 5);
}

}  // namespace brindle
