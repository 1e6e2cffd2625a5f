// SSE2 versions of the inner loops; each gives exactly the bytes of its plain twin.
#include <cstdint>

#include "kernels.h"

#if defined(__SSE2__)
#include "sse2_steps.h"

namespace plover {
namespace {

void ConvertRowPairSse2(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                        const std::uint8_t* v, int n, std::uint16_t* out0, std::uint16_t* out1) {
  int i = 0;
  for (; i + 16 <= n; i += 16) ConvertStep16(y0 + i, y1 + i, u + i / 2, v + i / 2, out0 + i, out1 + i);
  if (i < n) ConvertRowPairPlain(y0 + i, y1 + i, u + i / 2, v + i / 2, n - i, out0 + i, out1 + i);
}

void BlendRowsSse2(const std::uint16_t* h0, const std::uint16_t* h1, int fy, int n, std::uint8_t* out) {
  const __m128i f = _mm_set1_epi16(static_cast<short>(fy));
  int i = 0;
  for (; i + 16 <= n; i += 16) BlendStep16(h0 + i, h1 + i, f, out + i);
  if (i < n) BlendRowsPlain(h0 + i, h1 + i, fy, n - i, out + i);
}

void TurnLinesSse2(const std::uint16_t* line, std::ptrdiff_t stride, int lines, int n, std::uint16_t* dst,
                   std::ptrdiff_t rowStep, bool reverse) {
  int c = 0;
  if (lines == 8)
    for (; c + 8 <= n; c += 8) TurnStep8(line, stride, c, dst, rowStep, reverse);
  if (c < n) TurnLinesPlain(line + c, stride, lines, n - c, dst + c * rowStep, rowStep, reverse);
}

void ReverseLineSse2(const std::uint16_t* line, int n, std::uint16_t* dstLast) {
  int c = 0;
  for (; c + 8 <= n; c += 8) ReverseStep8(line, c, dstLast);
  if (c < n) ReverseLinePlain(line + c, n - c, dstLast - c);
}

const Kernels kSse2 = {ConvertRowPairSse2, ScaleColumnsGather, BlendRowsSse2, TurnLinesSse2, ReverseLineSse2};

}  // namespace

const Kernels* Sse2Kernels() {
  return &kSse2;
}

}  // namespace plover

#else

namespace plover {
const Kernels* Sse2Kernels() {
  return nullptr;
}
}  // namespace plover

#endif
