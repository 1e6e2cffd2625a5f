// Drives the converter and the scaler with sizes, positions and rotations taken from the input;
// every plane is an exact-size allocation so any access outside it is reported.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../src/kernels.h"
#include "plover/plover.h"

namespace {

struct Plane3 {
  std::vector<std::uint8_t> y, u, v;
  PlanarFrame f{};
  Plane3(int w, int h, const std::uint8_t* seed, size_t n)
      : y(static_cast<size_t>(w) * h + 1), u(static_cast<size_t>(w / 2) * (h / 2) + 1), v(u.size()) {
    for (size_t i = 0; i < y.size(); ++i) y[i] = n ? seed[i % n] : 0;
    for (size_t i = 0; i < u.size(); ++i) u[i] = n ? seed[(i + 1) % n] : 0, v[i] = n ? seed[(i + 2) % n] : 0;
    f = {y.data(), u.data(), v.data(), static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
  }
};

int Take(const std::uint8_t*& p, size_t& n) {
  if (n == 0) return 0;
  --n;
  return *p++;
}

// Everything the calls write for one input, under one set of loops.
struct Output {
  std::vector<std::uint16_t> canvas;
  std::vector<std::uint8_t> y, u, v;
  bool operator==(const Output& o) const { return canvas == o.canvas && y == o.y && u == o.u && v == o.v; }
};

}  // namespace

// Each input runs under every set of loops the processor has: they must all write the same bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::uint8_t* p = data;
  size_t n = size;
  const int sw = Take(p, n) % 96 + 1, sh = Take(p, n) % 96 + 1;
  const int pitch = Take(p, n) % 96 + 1, dh = Take(p, n) % 96 + 1;
  const int left = Take(p, n) % 100 - 2, top = Take(p, n) % 100 - 2;
  const int sl = Take(p, n) % 100, st = Take(p, n) % 100;
  const int w = Take(p, n) % 110, h = Take(p, n) % 110, rot = Take(p, n) % 6 - 1;
  const int dw = Take(p, n) % 96 + 1, dd = Take(p, n) % 96 + 1;
  const int cx = Take(p, n), cy = Take(p, n), cw = Take(p, n), ch = Take(p, n);
  Plane3 src(sw, sh, p, n);

  auto run = [&](plover::KernelSet set) {
    plover::SetKernelSet(set);
    Output out{std::vector<std::uint16_t>(static_cast<size_t>(pitch) * dh), {}, {}, {}};
    gYUV420toRGB16Rotate(&src.f, out.canvas.data(), pitch, dh, left, top, sl & ~1, st & ~1, w, h, rot);
    out.y.resize(static_cast<size_t>(dw) * dd);
    out.u.resize(static_cast<size_t>(dw / 2) * (dd / 2));
    out.v.resize(out.u.size());
    if (out.u.empty()) return out;
    PlanarFrame dst{out.y.data(), out.u.data(), out.v.data(), static_cast<std::uint16_t>(dw),
                    static_cast<std::uint16_t>(dd)};
    gScaleCroppedFrame(&src.f, &dst, cx, cy, cw, ch);
    gScaleFrame(&src.f, &dst);
    return out;
  };
  const plover::KernelSet best = plover::BestKernelSet();
  const Output plain = run(plover::KernelSet::kPlain);
  for (plover::KernelSet set : {plover::KernelSet::kSse2, plover::KernelSet::kAvx2})
    if (set <= best && !(run(set) == plain)) __builtin_trap();
  plover::SetKernelSet(best);
  return 0;
}
