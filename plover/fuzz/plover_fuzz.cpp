// Drives the converter and the scaler with sizes, positions and rotations taken from the input;
// every plane is an exact-size allocation so any access outside it is reported.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "plover/plover.h"

namespace {

struct Plane3 {
  std::vector<std::uint8_t> y, u, v;
  PlanarFrame f{};
  Plane3(int w, int h, const std::uint8_t* seed, size_t n)
      : y(static_cast<size_t>(w) * h + 1), u(static_cast<size_t>(w / 2) * (h / 2) + 1), v(u.size()) {
    for (size_t i = 0; i < y.size(); ++i) y[i] = n ? seed[i % n] : 0;
    f = {y.data(), u.data(), v.data(), static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
  }
};

int Take(const std::uint8_t*& p, size_t& n) {
  if (n == 0) return 0;
  --n;
  return *p++;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::uint8_t* p = data;
  size_t n = size;
  const int sw = Take(p, n) % 96 + 1, sh = Take(p, n) % 96 + 1;
  const int pitch = Take(p, n) % 96 + 1, dh = Take(p, n) % 96 + 1;
  const int left = Take(p, n) % 100 - 2, top = Take(p, n) % 100 - 2;
  const int sl = Take(p, n) % 100, st = Take(p, n) % 100;
  const int w = Take(p, n) % 110, h = Take(p, n) % 110, rot = Take(p, n) % 6 - 1;
  Plane3 src(sw, sh, p, n);
  std::vector<std::uint16_t> canvas(static_cast<size_t>(pitch) * dh);
  gYUV420toRGB16Rotate(&src.f, canvas.data(), pitch, dh, left, top, sl & ~1, st & ~1, w, h, rot);

  const int dw = Take(p, n) % 96 + 1, dd = Take(p, n) % 96 + 1;
  Plane3 dst(dw, dd, nullptr, 0);
  dst.y.resize(static_cast<size_t>(dw) * dd);
  dst.u.resize(static_cast<size_t>(dw / 2) * (dd / 2));
  dst.v.resize(dst.u.size());
  dst.f = {dst.y.data(), dst.u.data(), dst.v.data(), static_cast<std::uint16_t>(dw), static_cast<std::uint16_t>(dd)};
  if (dst.u.empty()) return 0;
  gScaleCroppedFrame(&src.f, &dst.f, Take(p, n), Take(p, n), Take(p, n), Take(p, n));
  gScaleFrame(&src.f, &dst.f);
  return 0;
}
