#pragma once
// Inner loops of the converter and the scaler, in a plain, an SSE2 and an AVX2 version that give
// the same bytes. The exported calls use the best set the processor runs unless SetKernelSet
// picks another (tests and the benchmark compare them).
//
// This header is also compiled with -mavx2 (kernels_avx2.cpp): it must stay free of inline
// functions and templates, whose AVX2 copies could otherwise stand in for the plain ones.

#include <cstddef>
#include <cstdint>

namespace plover {

// Bilinear weights indexed by fy * 8 + fx: top-left, top-right, bottom-left, bottom-right.
extern const std::int32_t kWeightTopLeft[64];
extern const std::int32_t kWeightTopRight[64];
extern const std::int32_t kWeightBottomLeft[64];
extern const std::int32_t kWeightBottomRight[64];

// Where each output column of a scaled row samples its source row: out[k] = 8 * s[left[k]] +
// fx[k] * (s[left[k] + 1] - s[left[k]]), eight times the horizontal blend. When the source row
// is a single pixel wide every fx is 0 and the pixel to the right is never read.
//
// Blocks serve the byte-shuffle kernels: block b covers outputs 8b .. 8b + 7 and reads the 16
// source bytes from base[b] (inside the row); shuffle[16b + 2i] and [16b + 2i + 1] pick the two
// neighbours of output 8b + i from them and weight[16b + 2i], [16b + 2i + 1] are 8 - fx and fx.
// A last partial block repeats its last output. blocks is 0 when a block would need more than
// 16 bytes (shrinking by more than about two) or the row is narrower than 16 bytes.
struct ColumnPlan {
  int columns;
  bool pairs;  // the source row is at least two pixels wide: s[left[k] + 1] may be read
  const std::int32_t* left;
  const std::int16_t* fx;
  int blocks;
  const std::int32_t* base;
  const std::uint8_t* shuffle;
  const std::uint8_t* weight;
};

// One set of inner loops.
struct Kernels {
  // Converts `n` (even) pixels of two source rows sharing one chroma row into two RGB565 rows.
  void (*convertRowPair)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                         const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1);
  // Horizontal pass: out[k] for k < plan.columns (see ColumnPlan); may write up to the next
  // multiple of 16 entries.
  void (*scaleColumns)(const std::uint8_t* src, const ColumnPlan& plan, std::uint16_t* out);
  // Vertical pass: out[i] = ((8 - fy) * h0[i] + fy * h1[i]) >> 6 for i < n, exactly n bytes.
  void (*blendRows)(const std::uint16_t* h0, const std::uint16_t* h1, int fy, int n, std::uint8_t* out);
  // Turns `lines` (at most 8) rows of `n` pixels (stride `stride`) into columns: for c < n and
  // i < lines, dst[c * rowStep + i] = line[reverse ? lines - 1 - i : i][c].
  void (*turnLines)(const std::uint16_t* line, std::ptrdiff_t stride, int lines, int n, std::uint16_t* dst,
                    std::ptrdiff_t rowStep, bool reverse);
  // dstLast[-c] = line[c] for c < n.
  void (*reverseLine)(const std::uint16_t* line, int n, std::uint16_t* dstLast);
};

extern const Kernels kPlainKernels;
const Kernels* Sse2Kernels();  // null where the build has no SSE2
const Kernels* Avx2Kernels();  // null where the build could not compile AVX2

enum class KernelSet { kPlain = 0, kSse2 = 1, kAvx2 = 2 };

// The fastest set this processor runs.
KernelSet BestKernelSet();
// Selects a set for the exported calls, at most the best one; returns the previous choice.
KernelSet SetKernelSet(KernelSet set);
const Kernels& KernelsFor(KernelSet set);
const Kernels& CurrentKernels();

// Plain loops, shared as tails by the vector ones.
void ConvertRowPairPlain(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                         const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1);
void ScaleColumnsPlain(const std::uint8_t* src, const ColumnPlan& plan, int from, std::uint16_t* out);
void BlendRowsPlain(const std::uint16_t* h0, const std::uint16_t* h1, int fy, int n, std::uint8_t* out);
void TurnLinesPlain(const std::uint16_t* line, std::ptrdiff_t stride, int lines, int n, std::uint16_t* dst,
                    std::ptrdiff_t rowStep, bool reverse);
void ReverseLinePlain(const std::uint16_t* line, int n, std::uint16_t* dstLast);

// Scales one plane (pitch == width for both) with the current kernels. Returns 0, or -1 when
// nothing can be scaled.
int ScalePlane(const std::uint8_t* src, int srcPitch, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight, int cropX, int cropY, int cropW, int cropH);

}  // namespace plover
