#include "kernels.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace plover {
namespace {

inline int Clamp255(int x) { return x < 0 ? 0 : (x > 255 ? 255 : x); }

inline std::uint16_t Pack565(int r, int g, int b) {
  r = Clamp255(r);
  g = Clamp255(g);
  b = Clamp255(b);
  return static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

#if defined(__SSE2__)
std::atomic<bool> gSimd{true};
#else
std::atomic<bool> gSimd{false};
#endif

}  // namespace

// Row fy of each table lists fx = 0..7; the four weights of one (fy, fx) add up to 64.
const std::int32_t kWeightTopLeft[64] = {
    64, 56, 48, 40, 32, 24, 16, 8,
    56, 49, 42, 35, 28, 21, 14, 7,
    48, 42, 36, 30, 24, 18, 12, 6,
    40, 35, 30, 25, 20, 15, 10, 5,
    32, 28, 24, 20, 16, 12, 8, 4,
    24, 21, 18, 15, 12, 9, 6, 3,
    16, 14, 12, 10, 8, 6, 4, 2,
    8, 7, 6, 5, 4, 3, 2, 1};
const std::int32_t kWeightTopRight[64] = {
    0, 8, 16, 24, 32, 40, 48, 56,
    0, 7, 14, 21, 28, 35, 42, 49,
    0, 6, 12, 18, 24, 30, 36, 42,
    0, 5, 10, 15, 20, 25, 30, 35,
    0, 4, 8, 12, 16, 20, 24, 28,
    0, 3, 6, 9, 12, 15, 18, 21,
    0, 2, 4, 6, 8, 10, 12, 14,
    0, 1, 2, 3, 4, 5, 6, 7};
const std::int32_t kWeightBottomLeft[64] = {
    0, 0, 0, 0, 0, 0, 0, 0,
    8, 7, 6, 5, 4, 3, 2, 1,
    16, 14, 12, 10, 8, 6, 4, 2,
    24, 21, 18, 15, 12, 9, 6, 3,
    32, 28, 24, 20, 16, 12, 8, 4,
    40, 35, 30, 25, 20, 15, 10, 5,
    48, 42, 36, 30, 24, 18, 12, 6,
    56, 49, 42, 35, 28, 21, 14, 7};
const std::int32_t kWeightBottomRight[64] = {
    0, 0, 0, 0, 0, 0, 0, 0,
    0, 1, 2, 3, 4, 5, 6, 7,
    0, 2, 4, 6, 8, 10, 12, 14,
    0, 3, 6, 9, 12, 15, 18, 21,
    0, 4, 8, 12, 16, 20, 24, 28,
    0, 5, 10, 15, 20, 25, 30, 35,
    0, 6, 12, 18, 24, 30, 36, 42,
    0, 7, 14, 21, 28, 35, 42, 49};

void ConvertRowPairPlain(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                         const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1) {
  for (int i = 0; i < n / 2; ++i) {
    const int cu = u[i] - 128;
    const int cv = v[i] - 128;
    const int dr = (cv * 25802 + 8192) >> 14;
    const int dg = (cv * 7671 + cu * 3072 + 8192) >> 14;
    const int db = (cu * 30397 + 8192) >> 14;
    // Dither offsets (blue, green, red) by place in the block: (0,3,2) (4,0,6) / (6,1,4) (2,2,0).
    int y = y0[2 * i];
    out0[2 * i] = Pack565(y + dr + 2, y - dg + 3, y + db + 0);
    y = y0[2 * i + 1];
    out0[2 * i + 1] = Pack565(y + dr + 6, y - dg + 0, y + db + 4);
    y = y1[2 * i];
    out1[2 * i] = Pack565(y + dr + 4, y - dg + 1, y + db + 6);
    y = y1[2 * i + 1];
    out1[2 * i + 1] = Pack565(y + dr + 0, y - dg + 2, y + db + 2);
  }
}

void BlendRowsPlain(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out) {
  const int a = 8 - fy;
  for (int i = 0; i < n; ++i) out[i] = static_cast<std::uint16_t>(a * r0[i] + fy * r1[i]);
}

bool SetSimdEnabled(bool enabled) {
#if !defined(__SSE2__)
  enabled = false;
#endif
  return gSimd.exchange(enabled);
}

ConvertRowPairFn CurrentConvertRowPair() {
#if defined(__SSE2__)
  if (gSimd.load(std::memory_order_relaxed)) return ConvertRowPairSse2;
#endif
  return ConvertRowPairPlain;
}

BlendRowsFn CurrentBlendRows() {
#if defined(__SSE2__)
  if (gSimd.load(std::memory_order_relaxed)) return BlendRowsSse2;
#endif
  return BlendRowsPlain;
}

int ScalePlane(const std::uint8_t* src, int srcPitch, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight, int cropX, int cropY, int cropW, int cropH) {
  if (src == nullptr || dst == nullptr || srcPitch <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0)
    return -1;
  if (cropX < 0 || cropY < 0 || cropX >= srcPitch || cropY >= srcHeight) return -1;
  if (cropX + cropW > srcPitch) cropW = srcPitch - cropX;
  if (cropY + cropH > srcHeight) cropH = srcHeight - cropY;
  if (cropW <= 0 || cropH <= 0) return -1;

  // Positions are 18-bit fixed point starting at one unit; 64-bit so that large planes cannot wrap.
  const std::int64_t stepX = (static_cast<std::int64_t>(cropW) << 18) / dstWidth;
  const std::int64_t stepY = (static_cast<std::int64_t>(cropH) << 18) / dstHeight;
  const int columns = dstWidth > 1 ? dstWidth - 1 : 1;
  const int rows = dstHeight > 1 ? dstHeight - 1 : 1;

  // Every output row samples the same columns: left neighbour index, right neighbour index, weight.
  std::vector<std::int32_t> left(columns), right(columns);
  std::vector<std::uint8_t> frac(columns);
  std::int64_t x = 1;
  for (int k = 0; k < columns; ++k) {
    int xi = static_cast<int>(x >> 18);
    frac[k] = static_cast<std::uint8_t>((x >> 15) & 7);
    // The right neighbour must stay inside the crop rectangle: on its last column the pair
    // moves one to the left, as the rows do on the last row.
    if (xi >= cropW - 1) xi = cropW >= 2 ? cropW - 2 : 0;
    left[k] = xi;
    right[k] = cropW >= 2 ? xi + 1 : xi;
    x += stepX;
  }

  std::vector<std::uint16_t> blend(static_cast<std::size_t>(cropW));
  const BlendRowsFn blendRows = CurrentBlendRows();
  std::int64_t y = 1;
  for (int j = 0; j < rows; ++j) {
    const int yi = static_cast<int>(y >> 18);
    const int fy = static_cast<int>((y >> 15) & 7);
    int row0 = cropY + yi;
    int row1 = row0 + 1;
    if (yi >= cropH - 1) {
      row0 = cropH >= 2 ? cropY + cropH - 2 : cropY;
      row1 = cropH >= 2 ? row0 + 1 : row0;
    }
    const std::uint8_t* r0 = src + static_cast<std::ptrdiff_t>(row0) * srcPitch + cropX;
    const std::uint8_t* r1 = src + static_cast<std::ptrdiff_t>(row1) * srcPitch + cropX;
    blendRows(r0, r1, fy, cropW, blend.data());
    std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(j) * dstWidth;
    for (int k = 0; k < columns; ++k) {
      const int fx = frac[k];
      out[k] = static_cast<std::uint8_t>(((8 - fx) * blend[left[k]] + fx * blend[right[k]]) >> 6);
    }
    if (dstWidth > 1) out[dstWidth - 1] = out[dstWidth - 2];
    y += stepY;
  }
  if (dstHeight > 1) {
    std::memcpy(dst + static_cast<std::ptrdiff_t>(dstHeight - 1) * dstWidth,
                dst + static_cast<std::ptrdiff_t>(dstHeight - 2) * dstWidth, static_cast<std::size_t>(dstWidth));
  }
  return 0;
}

}  // namespace plover
