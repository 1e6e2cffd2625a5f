// Inverse MDCT, window shapes and windowing of the four window sequences.
#pragma once

#include <cstdint>

namespace osprey {

enum WindowSequence : uint8_t { kOnlyLong = 0, kLongStart = 1, kEightShort = 2, kLongStop = 3 };
enum WindowShape : uint8_t { kSineWindow = 0, kKbdWindow = 1 };

// Fractional bits of the time-domain values (overlap buffers, windowed output).
inline constexpr int kTimeFracBits = 8;

// DCT-IV of size m (1024 or 128) in place: u[n] = sum_k x[k] cos(pi/m (n+1/2)(k+1/2)).
// The input must satisfy sum |x| <= 2^30 so that no intermediate overflows.
void DctIv(int32_t* x, int m);

// Rising halves of the window shapes with 30 fractional bits:
// long windows have 1024 values, short windows 128.
const uint32_t* LongWindow(int shape);
const uint32_t* ShortWindow(int shape);

// Inverse transform and windowing of one channel's 1024 spectral values (held
// with kSpectralFracBits fractional bits, window-major for eight short windows).
// Writes 2048 windowed samples with kTimeFracBits fractional bits: the first 1024
// complete the previous frame's overlap, the last 1024 are the new overlap.
// `coef` is used as scratch.
void SynthesizeWindowed(int32_t* coef, int sequence, int shape, int prevShape, int32_t* out);

}  // namespace osprey
