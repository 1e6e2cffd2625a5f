#pragma once
// Pixel kernels: inverse DCT, motion-compensated prediction and block copies. Each has a plain C++
// version and, where it pays, an SSE2 version; both give identical results.

#include <cstdint>

namespace brindle {

// Inverse 8x8 DCT of dequantised coefficients in natural (row-major) order, all within
// [-2048, 2047]. Put writes the clamped result; Add adds it to the prediction already in dst.
using IdctFn = void (*)(const std::int16_t* coefficients, std::uint8_t* dst, int stride);

// Half-pixel prediction of a w x h block (w = 8 or 16) from src (which holds (w+1) x (h+1) valid
// samples) into dst. mode: bit 0 horizontal half, bit 1 vertical half. rounding is 0 or 1.
using PredictFn = void (*)(std::uint8_t* dst, int dstStride, const std::uint8_t* src, int srcStride, int w,
                           int h, int mode, int rounding);

// The inverse DCT of a block whose only non-zero coefficient is the DC, added to dst (or, for
// dcPut, written to it); the same integers as IdctFn gives for such a block.
using DcAddFn = void (*)(int dc, std::uint8_t* dst, int stride);

struct Dsp {
  IdctFn idctPut;
  IdctFn idctAdd;
  PredictFn predict;
  DcAddFn dcAdd;
  DcAddFn dcPut;
};

// The plain kernels, the SSE2 kernels (plain where SSE2 is not built), and the fastest kernels
// available on this processor (the AVX2 transform when it has AVX2).
const Dsp& PlainDsp();
const Dsp& Sse2Dsp();
const Dsp& BestDsp();

// The integer transform's unclamped output (the value Put clamps and Add adds), for tests.
void IdctResidual(const std::int16_t* coefficients, std::int32_t* out);

// Floating-point reference transform, for tests.
void ReferenceIdct(const std::int16_t* coefficients, double* out);

}  // namespace brindle
