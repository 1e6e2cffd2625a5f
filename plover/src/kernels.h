#pragma once
// Inner loops of the converter and the scaler, in a plain and a vector version that give the
// same bytes. The exported calls pick one through SetSimdEnabled (on by default).

#include <cstdint>

namespace plover {

// Bilinear weights indexed by fy * 8 + fx: top-left, top-right, bottom-left, bottom-right.
extern const std::int32_t kWeightTopLeft[64];
extern const std::int32_t kWeightTopRight[64];
extern const std::int32_t kWeightBottomLeft[64];
extern const std::int32_t kWeightBottomRight[64];

// Converts `n` (even) pixels of two source rows sharing one chroma row into two rows of RGB565.
using ConvertRowPairFn = void (*)(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                                  const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1);
void ConvertRowPairPlain(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                         const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1);
void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                        const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1);

// Blends two source rows vertically: out[i] = (8 - fy) * r0[i] + fy * r1[i] for i < n.
using BlendRowsFn = void (*)(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out);
void BlendRowsPlain(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out);
void BlendRowsSse2(const std::uint8_t* r0, const std::uint8_t* r1, int fy, int n, std::uint16_t* out);

// Picks the vector kernels (true) or the plain ones; returns the previous choice.
bool SetSimdEnabled(bool enabled);
ConvertRowPairFn CurrentConvertRowPair();
BlendRowsFn CurrentBlendRows();

// Scales one plane (pitch == width for both). Returns 0, or -1 when nothing can be scaled.
int ScalePlane(const std::uint8_t* src, int srcPitch, int srcHeight, std::uint8_t* dst, int dstWidth,
               int dstHeight, int cropX, int cropY, int cropW, int cropH);

}  // namespace plover
