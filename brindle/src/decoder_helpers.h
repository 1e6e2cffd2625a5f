#pragma once
// Small helpers shared by the decoder's files: clipping, VLC look-up, median and the H.263
// inverse quantiser, and the markers that end the first partition of a packet.

#include <algorithm>
#include <cstdint>

#include "bitstream/bit_reader.h"
#include "tables.h"

namespace brindle {

inline constexpr std::uint32_t kDcMarker = 0x6B001;      // 19 bits, ends partition 1 of intra packets
inline constexpr std::uint32_t kMotionMarker = 0x1F001;  // 17 bits, ends partition 1 of predicted packets

inline int Clip(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

inline int DecodeVlc(BitReader& br, const VlcTable& t) {
  const VlcEntry& e = t.entries[br.Peek(t.bits)];
  if (e.length == 0) return -1;
  br.Skip(e.length);
  return e.value;
}

inline int Median(int a, int b, int c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// intra_dc_vlc_thr: the DC coefficient has its own code while the quantiser is below the threshold.
inline constexpr int kIntraDcThreshold[8] = {32, 13, 15, 17, 19, 21, 23, 0};

// Inverse quantisation of the H.263 method; the result is saturated to 12 bits.
inline std::int16_t Dequantise(int level, int qp) {
  if (level == 0) return 0;
  int qadd = (qp - 1) | 1;
  int v = level > 0 ? level * 2 * qp + qadd : level * 2 * qp - qadd;
  return static_cast<std::int16_t>(Clip(v, -2048, 2047));
}

inline int RoundedDiv(int a, int b) {
  return (a >= 0 ? a + (b >> 1) : a - (b >> 1)) / b;
}

}  // namespace brindle
