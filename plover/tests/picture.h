#pragma once
// A planar picture owning its planes, each an exact-size vector so that any read past a plane
// is caught by the address sanitizer.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../src/kernels.h"
#include "brindle/planar_frame.h"

// Test names of the loop sets the parameterised tests run under.
inline std::string KernelSetName(const ::testing::TestParamInfo<plover::KernelSet>& info) {
  static const char* const kNames[] = {"Plain", "Sse2", "Avx2"};
  return kNames[static_cast<int>(info.param)];
}

struct Picture {
  std::vector<std::uint8_t> y, u, v;
  PlanarFrame frame{};

  Picture(int w, int h)
      : y(static_cast<size_t>(w) * h), u(static_cast<size_t>(w / 2) * (h / 2)), v(u.size()) {
    frame = {y.data(), u.empty() ? nullptr : u.data(), v.empty() ? nullptr : v.data(),
             static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
  }
  Picture(const Picture&) = delete;

  void Fill(std::uint8_t yy, std::uint8_t uu, std::uint8_t vv) {
    std::fill(y.begin(), y.end(), yy);
    std::fill(u.begin(), u.end(), uu);
    std::fill(v.begin(), v.end(), vv);
  }
  void Randomize(std::mt19937& rng) {
    for (auto* plane : {&y, &u, &v})
      for (auto& b : *plane) b = static_cast<std::uint8_t>(rng());
  }
};
