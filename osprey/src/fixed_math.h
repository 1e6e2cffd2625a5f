// 32-bit fixed-point helpers shared by the decoding tools.
#pragma once

#include <cstdint>

namespace osprey {

inline int32_t Saturate32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

inline int16_t Saturate16(int32_t v) {
  if (v > INT16_MAX) return INT16_MAX;
  if (v < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(v);
}

// v / 2^shift rounded to nearest (shift >= 1), or v * 2^-shift saturated when shift <= 0.
inline int64_t RoundShift(int64_t v, int shift) {
  if (shift <= 0) {
    if (shift < -31) shift = -31;
    const int64_t limit = INT64_MAX >> (-shift);
    if (v > limit) return INT64_MAX;
    if (v < -limit) return -INT64_MAX;
    return v * (int64_t{1} << (-shift));
  }
  if (shift > 62) return 0;
  return (v + (int64_t{1} << (shift - 1))) >> shift;
}

// a * b / 2^30 with rounding, for Q30 twiddles and coefficients.
inline int32_t MulQ30(int32_t a, int32_t b) {
  return static_cast<int32_t>((static_cast<int64_t>(a) * b + (int64_t{1} << 29)) >> 30);
}

// Saturating addition and halving used by joint stereo and the down-mix.
inline int32_t AddSat(int32_t a, int32_t b) {
  return Saturate32(int64_t{a} + b);
}
inline int32_t SubSat(int32_t a, int32_t b) {
  return Saturate32(int64_t{a} - b);
}

// x * 2^(quarterExp / 4), saturated; quarterExp may be negative.
int32_t ScalePow2Quarter(int32_t x, int quarterExp);

}  // namespace osprey
