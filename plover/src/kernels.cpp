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

KernelSet Detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (Avx2Kernels() != nullptr && __builtin_cpu_supports("avx2")) return KernelSet::kAvx2;
#endif
  if (Sse2Kernels() != nullptr) return KernelSet::kSse2;
  return KernelSet::kPlain;
}

// -1 until the first call picks the best set.
std::atomic<int> gSet{-1};

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

void ScaleColumnsPlain(const std::uint8_t* src, const ColumnPlan& plan, int from, std::uint16_t* out) {
  if (!plan.pairs) {  // every fx is 0 and there is no right neighbour to read
    for (int k = from; k < plan.columns; ++k) out[k] = static_cast<std::uint16_t>(8 * src[plan.left[k]]);
    return;
  }
  for (int k = from; k < plan.columns; ++k) {
    const std::uint8_t* s = src + plan.left[k];
    out[k] = static_cast<std::uint16_t>(8 * s[0] + plan.fx[k] * (s[1] - s[0]));
  }
}

void BlendRowsPlain(const std::uint16_t* h0, const std::uint16_t* h1, int fy, int n, std::uint8_t* out) {
  const int a = 8 - fy;
  for (int i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((a * h0[i] + fy * h1[i]) >> 6);
}

void TurnLinesPlain(const std::uint16_t* line, std::ptrdiff_t stride, int lines, int n, std::uint16_t* dst,
                    std::ptrdiff_t rowStep, bool reverse) {
  const std::uint16_t* from[8];
  lines = std::min(lines, 8);
  for (int i = 0; i < lines; ++i) from[i] = line + (reverse ? lines - 1 - i : i) * stride;
  for (int c = 0; c < n; ++c) {
    std::uint16_t* d = dst + c * rowStep;
    for (int i = 0; i < lines; ++i) d[i] = from[i][c];
  }
}

void ReverseLinePlain(const std::uint16_t* line, int n, std::uint16_t* dstLast) {
  for (int c = 0; c < n; ++c) dstLast[-c] = line[c];
}

namespace {
void ScaleColumnsPlainAll(const std::uint8_t* src, const ColumnPlan& plan, std::uint16_t* out) {
  ScaleColumnsPlain(src, plan, 0, out);
}
}  // namespace

const Kernels kPlainKernels = {ConvertRowPairPlain, ScaleColumnsPlainAll, BlendRowsPlain, TurnLinesPlain,
                               ReverseLinePlain};

KernelSet BestKernelSet() {
  static const KernelSet best = Detect();
  return best;
}

KernelSet SetKernelSet(KernelSet set) {
  if (static_cast<int>(set) > static_cast<int>(BestKernelSet())) set = BestKernelSet();
  const int previous = gSet.exchange(static_cast<int>(set));
  return previous < 0 ? BestKernelSet() : static_cast<KernelSet>(previous);
}

const Kernels& KernelsFor(KernelSet set) {
  if (set == KernelSet::kAvx2 && Avx2Kernels() != nullptr) return *Avx2Kernels();
  if (set != KernelSet::kPlain && Sse2Kernels() != nullptr) return *Sse2Kernels();
  return kPlainKernels;
}

const Kernels& CurrentKernels() {
  int set = gSet.load(std::memory_order_relaxed);
  if (set < 0) {
    set = static_cast<int>(BestKernelSet());
    int unset = -1;
    gSet.compare_exchange_strong(unset, set);
    set = gSet.load(std::memory_order_relaxed);
  }
  return KernelsFor(static_cast<KernelSet>(set));
}

namespace {

// Column positions and the byte-shuffle blocks for one scaled plane.
struct Columns {
  std::vector<std::int32_t> left;
  std::vector<std::int16_t> fx;
  std::vector<std::int32_t> base;
  std::vector<std::uint8_t> shuffle, weight;
  ColumnPlan plan{};  // points into the vectors above

  Columns(const Columns&) = delete;
  Columns& operator=(const Columns&) = delete;
  Columns(int columns, int cropW, std::int64_t stepX, bool blocks) : left(columns), fx(columns) {
    // Positions are 18-bit fixed point starting at one unit; 64-bit so that large planes cannot wrap.
    std::int64_t x = 1;
    for (int k = 0; k < columns; ++k) {
      int xi = static_cast<int>(x >> 18);
      // The right neighbour must stay inside the crop rectangle: on its last column the pair
      // moves one to the left, as the rows do on the last row.
      if (xi >= cropW - 1) xi = cropW >= 2 ? cropW - 2 : 0;
      left[k] = xi;
      // A single-pixel row has no right neighbour; its weight would multiply the same pixel.
      fx[k] = cropW >= 2 ? static_cast<std::int16_t>((x >> 15) & 7) : 0;
      x += stepX;
    }
    plan = {columns, cropW >= 2, left.data(), fx.data(), 0, nullptr, nullptr, nullptr};
    if (blocks && cropW >= 16) Block(columns, cropW);
  }

  void Block(int columns, int cropW) {
    const int count = (columns + 7) / 8;
    base.resize(count);
    shuffle.resize(static_cast<std::size_t>(count) * 16);
    weight.resize(shuffle.size());
    for (int b = 0; b < count; ++b) {
      const int first = 8 * b, last = std::min(first + 7, columns - 1);
      const int from = std::min(left[first], cropW - 16);
      if (left[last] + 1 - from > 15) return;  // shrinks too much for 16 bytes: no blocks
      base[b] = from;
      for (int i = 0; i < 8; ++i) {
        const int k = std::min(first + i, last);
        shuffle[16 * b + 2 * i] = static_cast<std::uint8_t>(left[k] - from);
        shuffle[16 * b + 2 * i + 1] = static_cast<std::uint8_t>(left[k] + 1 - from);
        weight[16 * b + 2 * i] = static_cast<std::uint8_t>(8 - fx[k]);
        weight[16 * b + 2 * i + 1] = static_cast<std::uint8_t>(fx[k]);
      }
    }
    plan.blocks = count;
    plan.base = base.data();
    plan.shuffle = shuffle.data();
    plan.weight = weight.data();
  }
};

}  // namespace

int ScalePlane(const std::uint8_t* src, int srcPitch, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight, int cropX, int cropY, int cropW, int cropH) {
  if (src == nullptr || dst == nullptr || srcPitch <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0)
    return -1;
  if (cropX < 0 || cropY < 0 || cropX >= srcPitch || cropY >= srcHeight) return -1;
  if (cropX + cropW > srcPitch) cropW = srcPitch - cropX;
  if (cropY + cropH > srcHeight) cropH = srcHeight - cropY;
  if (cropW <= 0 || cropH <= 0) return -1;

  const Kernels& kernels = CurrentKernels();
  const std::int64_t stepX = (static_cast<std::int64_t>(cropW) << 18) / dstWidth;
  const std::int64_t stepY = (static_cast<std::int64_t>(cropH) << 18) / dstHeight;
  const int columns = dstWidth > 1 ? dstWidth - 1 : 1;
  const int rows = dstHeight > 1 ? dstHeight - 1 : 1;
  const Columns plan(columns, cropW, stepX, &kernels == Avx2Kernels());

  // The horizontal pass runs once per source row and is kept for the output rows that blend it
  // (two slots: output rows move down the source monotonically). A row whose weight is 0 is not
  // scaled at all. Entry dstWidth - 1 repeats the one before it: the last column copies its
  // neighbour.
  const std::size_t padded = (static_cast<std::size_t>(dstWidth) + 15) / 16 * 16 + 16;
  std::vector<std::uint16_t> scaled(2 * padded);
  int slotRow[2] = {-1, -1};
  auto fetch = [&](int row, int keep) {
    if (slotRow[0] == row) return 0;
    if (slotRow[1] == row) return 1;
    const int slot = keep >= 0 ? 1 - keep : (slotRow[0] <= slotRow[1] ? 0 : 1);
    std::uint16_t* h = scaled.data() + slot * padded;
    kernels.scaleColumns(src + static_cast<std::ptrdiff_t>(row) * srcPitch + cropX, plan.plan, h);
    if (dstWidth > 1) h[dstWidth - 1] = h[dstWidth - 2];
    slotRow[slot] = row;
    return slot;
  };

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
    const int s0 = fetch(row0, -1);
    const int s1 = fy != 0 && row1 != row0 ? fetch(row1, s0) : s0;
    kernels.blendRows(scaled.data() + s0 * padded, scaled.data() + s1 * padded, fy, dstWidth,
                      dst + static_cast<std::ptrdiff_t>(j) * dstWidth);
    y += stepY;
  }
  if (dstHeight > 1) {
    std::memcpy(dst + static_cast<std::ptrdiff_t>(dstHeight - 1) * dstWidth,
                dst + static_cast<std::ptrdiff_t>(dstHeight - 2) * dstWidth, static_cast<std::size_t>(dstWidth));
  }
  return 0;
}

}  // namespace plover
