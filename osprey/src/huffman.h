// Huffman decoding of scale factors and spectral data (two-level lookup tables
// built once from the codebooks of aac_tables.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "bitstream/bit_reader.h"

namespace osprey {

using bitstream::BitReader;

// A two-level decoding table. Root entries are indexed by the next 9 bits; an
// entry is a leaf ((symbol << 8) | (nonzero << 5) | length), a link to a subtable
// (kSubtable | (offset << 5) | subtable bits) or 0 for a prefix no code starts
// with. `nonzero` counts the nonzero values of a spectral tuple, which is the
// number of sign bits that follow its codeword in the unsigned codebooks.
class HuffTable {
 public:
  static constexpr int kRootBits = 9;
  static constexpr uint32_t kSubtable = 0x80000000u;

  void Build(const uint32_t* codes, const uint8_t* bits, const uint8_t* nonzero, int count);

  // Returns (symbol << 3) | nonzero, or -1 for an invalid code (nothing consumed then).
  // Reader is a BitReader or any reader with its Peek and Skip.
  template <typename Reader>
  int Decode(Reader& br) const {
    const uint32_t e = entries_[br.Peek(kRootBits)];
    if (e & kSubtable) {
      const int subBits = static_cast<int>(e & 31);
      const uint32_t offset = (e & ~kSubtable) >> 5;
      const uint32_t peek = br.Peek(kRootBits + subBits) & ((1u << subBits) - 1);
      const uint32_t leaf = entries_[offset + peek];
      if (leaf == 0) return -1;
      br.Skip(kRootBits + static_cast<int>(leaf & 31));
      return static_cast<int>(leaf >> 5);
    }
    if (e == 0) return -1;
    br.Skip(static_cast<int>(e & 31));
    return static_cast<int>(e >> 5);
  }

 private:
  std::vector<uint32_t> entries_;
};

// The decoding table of spectral codebook `cb` (1..11) and its tuples unpacked:
// 4 values for codebooks 1-4, 2 for 5-11 (magnitudes only in the unsigned ones).
const HuffTable& SpectralTable(int cb);
const int8_t (*SpectralTuples(int cb))[4];

// Decodes one scale-factor codeword; returns the delta (-60..60), or 0 with
// `ok` cleared when no codeword matches.
int DecodeScaleFactorDelta(BitReader& br, bool& ok);

// Decodes one spectral codeword of codebook `cb` (1..11) and returns its index
// into the codebook, or -1 when no codeword matches.
int DecodeSpectralIndex(BitReader& br, int cb);

// Checks that a code table is a complete prefix code (tests only).
bool CodebookIsCompletePrefixCode(const uint32_t* codes, const uint8_t* bits, int count);

}  // namespace osprey
