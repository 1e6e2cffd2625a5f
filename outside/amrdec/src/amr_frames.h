#pragma once
// AMR-NB storage format (RFC 4867 section 5): the magic "#!AMR\n", then frames of one
// header octet (frame type in bits 6..3) and the class-ordered speech bits.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace amrfile {

inline constexpr int kFrameSamples = 160;
inline constexpr int kFrameBytes = kFrameSamples * 2;
inline constexpr std::int64_t kMaxFileBytes = 64 << 20;

/// Octets of a frame including its header octet, by frame type (0..7 the eight modes
/// 4.75..12.2 kbit/s, 8 SID, 9..14 reserved or foreign SIDs carried without data, 15 no
/// data).
inline constexpr int kFrameSize[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};

/// The frame to hand to the decoder: frame types 9..14 carry no data in this format, but the
/// decoder library unpacks foreign SID bits for them and would read past their single octet,
/// so they go to it as a NO_DATA frame instead.
inline const std::uint8_t* DecodableFrame(const std::uint8_t* frame) {
  static constexpr std::uint8_t kNoData = 0x7C;
  const int type = (frame[0] >> 3) & 0x0F;
  return type >= 9 && type <= 14 ? &kNoData : frame;
}

/// Offsets of the frames that lie wholly inside the file; a trailing partial frame is
/// dropped. False when the magic is missing.
inline bool IndexFrames(const std::uint8_t* data, std::size_t size, std::vector<std::uint32_t>* frames) {
  frames->clear();
  if (size < 6 || std::memcmp(data, "#!AMR\n", 6) != 0) return false;
  std::size_t pos = 6;
  while (pos < size) {
    int type = (data[pos] >> 3) & 0x0F;
    std::size_t n = static_cast<std::size_t>(kFrameSize[type]);
    if (pos + n > size) break;
    frames->push_back(static_cast<std::uint32_t>(pos));
    pos += n;
  }
  return true;
}

}  // namespace amrfile
