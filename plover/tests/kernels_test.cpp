// The SSE2 and AVX2 loops against the plain ones: the same bytes at every width, through the
// exported calls (scaled, converted and turned) and kernel by kernel on their tails.
#include "../src/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "picture.h"
#include "plover/plover.h"

namespace {

using plover::KernelSet;

// The vector sets this processor runs, each checked to be really in use once selected.
std::vector<KernelSet> VectorSets() {
  std::vector<KernelSet> sets;
  if (plover::Sse2Kernels() != nullptr) sets.push_back(KernelSet::kSse2);
  if (plover::BestKernelSet() == KernelSet::kAvx2) sets.push_back(KernelSet::kAvx2);
  return sets;
}

class KernelsAgree : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = plover::SetKernelSet(KernelSet::kAvx2);
    sets_ = VectorSets();
    if (plover::BestKernelSet() != KernelSet::kAvx2)
      std::printf("this processor has no AVX2: only the SSE2 loops are compared\n");
    if (sets_.empty()) GTEST_SKIP() << "no vector loops in this build";
  }
  void TearDown() override { plover::SetKernelSet(previous_); }
  KernelSet previous_ = KernelSet::kPlain;
  std::vector<KernelSet> sets_;
};

// Random bytes with runs of 0 and 255, so that every clamp and every weight meets its extremes.
void Fill(std::vector<std::uint8_t>& bytes, std::mt19937& rng) {
  for (auto& b : bytes) {
    const unsigned r = rng();
    b = (r & 7) == 0 ? 0 : (r & 7) == 1 ? 255 : static_cast<std::uint8_t>(r >> 8);
  }
}

struct Rendered {
  std::vector<std::uint8_t> y, u, v;
  std::vector<std::uint16_t> rgb;
  bool operator==(const Rendered& o) const { return y == o.y && u == o.u && v == o.v && rgb == o.rgb; }
};

// Scales `src` to dw x dh when that differs from its size, then converts the result turned by
// `rotation` onto a canvas with room around it; everything the calls wrote is returned.
Rendered Render(KernelSet set, Picture& src, int dw, int dh, int rotation) {
  plover::SetKernelSet(set);
  Picture scaled(dw, dh);
  scaled.Fill(7, 7, 7);
  PlanarFrame* shown = &src.frame;
  if (dw != src.frame.width || dh != src.frame.height) {
    gScaleFrame(&src.frame, &scaled.frame);
    shown = &scaled.frame;
  }
  const int w = shown->width, h = shown->height;
  const int pitch = (rotation % 2 ? h : w) + 3, height = (rotation % 2 ? w : h) + 2;
  Rendered out{scaled.y, scaled.u, scaled.v,
               std::vector<std::uint16_t>(static_cast<size_t>(pitch) * height, 0xA5A5)};
  gYUV420toRGB16Rotate(shown, out.rgb.data(), pitch, height, 1, 1, 0, 0, w, h, rotation);
  return out;
}

TEST_F(KernelsAgree, ConvertedAndTurnedPicturesAtEveryWidth) {
  std::mt19937 rng(41);
  for (int h : {2, 3, 8, 9, 17}) {
    for (int w = 1; w <= 100; ++w) {
      Picture pic(w, h);
      for (auto* plane : {&pic.y, &pic.u, &pic.v}) Fill(*plane, rng);
      for (int rotation = 0; rotation < 4; ++rotation) {
        const Rendered plain = Render(KernelSet::kPlain, pic, w, h, rotation);
        for (KernelSet set : sets_) {
          ASSERT_TRUE(Render(set, pic, w, h, rotation) == plain)
              << "set " << static_cast<int>(set) << " " << w << "x" << h << " rotation " << rotation;
        }
      }
    }
  }
}

// Growing, shrinking by up to two (the byte-shuffle blocks), by more (the 16-bit loads) and odd
// ratios, with odd destination heights; then the scaled picture converted and turned.
TEST_F(KernelsAgree, ScaledPicturesAtEveryWidth) {
  std::mt19937 rng(43);
  for (int h : {2, 6, 11}) {
    for (int w = 2; w <= 100; w += (w < 40 ? 1 : 3)) {
      Picture pic(w, h);
      for (auto* plane : {&pic.y, &pic.u, &pic.v}) Fill(*plane, rng);
      const int sizes[][2] = {{2 * w, 2 * h + 1},
                              {w / 2 + 1, h / 2 + 1},
                              {w * 5 / 3 + 1, h + 3},
                              {w * 2 / 5 + 2, 3},
                              {w + 1, 2 * h}};
      for (const auto& size : sizes) {
        const int rotation = static_cast<int>(rng() % 4);
        const Rendered plain = Render(KernelSet::kPlain, pic, size[0], size[1], rotation);
        for (KernelSet set : sets_) {
          ASSERT_TRUE(Render(set, pic, size[0], size[1], rotation) == plain)
              << "set " << static_cast<int>(set) << " " << w << "x" << h << " -> " << size[0] << "x"
              << size[1];
        }
      }
    }
  }
}

// The kernels one by one at every length, extremes included, so that each vector loop's tail and
// each of its steps are compared on their own.
TEST_F(KernelsAgree, EachKernelAtEveryLength) {
  std::mt19937 rng(47);
  const plover::Kernels& plain = plover::kPlainKernels;
  for (KernelSet set : sets_) {
    const plover::Kernels& k = plover::KernelsFor(set);
    for (int n = 0; n <= 100; ++n) {
      const int even = n & ~1;
      std::vector<std::uint8_t> y0(n), y1(n), u(n / 2 + 1), v(n / 2 + 1);
      for (auto* p : {&y0, &y1, &u, &v}) Fill(*p, rng);
      std::vector<std::uint16_t> a0(n), a1(n), b0(n), b1(n);
      plain.convertRowPair(y0.data(), y1.data(), u.data(), v.data(), even, a0.data(), a1.data());
      k.convertRowPair(y0.data(), y1.data(), u.data(), v.data(), even, b0.data(), b1.data());
      ASSERT_EQ(a0, b0) << n;
      ASSERT_EQ(a1, b1) << n;

      std::vector<std::uint16_t> h0(n), h1(n);
      for (auto& x : h0) x = static_cast<std::uint16_t>(rng() % 2041);
      for (auto& x : h1) x = static_cast<std::uint16_t>(rng() % 2041);
      if (n > 0) h0[0] = 2040, h1[0] = 0;
      for (int fy = 0; fy < 8; ++fy) {
        std::vector<std::uint8_t> p(n + 1, 0x5A), q(n + 1, 0x5A);  // the extra byte must stay
        plain.blendRows(h0.data(), h1.data(), fy, n, p.data());
        k.blendRows(h0.data(), h1.data(), fy, n, q.data());
        ASSERT_EQ(p, q) << n << " fy " << fy;
      }

      for (int lines = 1; lines <= 8; ++lines) {
        std::vector<std::uint16_t> src(static_cast<size_t>(lines) * (n + 3));
        for (auto& x : src) x = static_cast<std::uint16_t>(rng());
        for (bool reverse : {false, true}) {
          const int step = 11;  // destination rows of 11 pixels, columns turned into rows
          std::vector<std::uint16_t> p(static_cast<size_t>(n) * step + 8, 1), q(p.size(), 1);
          plain.turnLines(src.data(), n + 3, lines, n, p.data(), step, reverse);
          k.turnLines(src.data(), n + 3, lines, n, q.data(), step, reverse);
          ASSERT_EQ(p, q) << n << " lines " << lines;
        }
      }
      std::vector<std::uint16_t> p(n + 2, 3), q(n + 2, 3);
      plain.reverseLine(a0.data(), n, p.data() + n);
      k.reverseLine(a0.data(), n, q.data() + n);
      ASSERT_EQ(p, q) << n;
    }
  }
}

}  // namespace
