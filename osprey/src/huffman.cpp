#include "huffman.h"

#include <vector>

#include "aac_tables.h"

namespace osprey {

namespace {

constexpr int kRootBits = 9;
constexpr uint32_t kSubtable = 0x80000000u;

// A two-level decoding table. Root entries are indexed by the next 9 bits; an
// entry is a leaf ((symbol << 8) | length), a link to a subtable
// (kSubtable | (offset << 5) | subtable bits) or 0 for a prefix no code starts with.
struct HuffTable {
  std::vector<uint32_t> entries;

  void Build(const uint32_t* codes, const uint8_t* bits, int count) {
    entries.assign(1u << kRootBits, 0);
    // Subtable sizes: the longest code behind each root prefix.
    std::vector<int> longest(1u << kRootBits, 0);
    for (int i = 0; i < count; ++i) {
      if (bits[i] > kRootBits) {
        uint32_t root = codes[i] >> (bits[i] - kRootBits);
        if (bits[i] > longest[root]) longest[root] = bits[i];
      }
    }
    for (uint32_t root = 0; root < (1u << kRootBits); ++root) {
      if (longest[root] == 0) continue;
      int subBits = longest[root] - kRootBits;
      uint32_t offset = static_cast<uint32_t>(entries.size());
      entries.resize(entries.size() + (1u << subBits), 0);
      entries[root] = kSubtable | (offset << 5) | static_cast<uint32_t>(subBits);
    }
    for (int i = 0; i < count; ++i) {
      int len = bits[i];
      uint32_t code = codes[i];
      if (len <= kRootBits) {
        uint32_t first = code << (kRootBits - len);
        for (uint32_t j = 0; j < (1u << (kRootBits - len)); ++j)
          entries[first + j] = (static_cast<uint32_t>(i) << 8) | static_cast<uint32_t>(len);
      } else {
        uint32_t link = entries[code >> (len - kRootBits)];
        uint32_t offset = (link & ~kSubtable) >> 5;
        int subBits = static_cast<int>(link & 31);
        int rest = len - kRootBits;
        uint32_t low = code & ((1u << rest) - 1);
        uint32_t first = low << (subBits - rest);
        for (uint32_t j = 0; j < (1u << (subBits - rest)); ++j)
          entries[offset + first + j] = (static_cast<uint32_t>(i) << 8) | static_cast<uint32_t>(rest);
      }
    }
  }

  // Returns the symbol, or -1 for an invalid code (nothing consumed then).
  int Decode(BitReader& br) const {
    uint32_t e = entries[br.Peek(kRootBits)];
    if (e & kSubtable) {
      int subBits = static_cast<int>(e & 31);
      uint32_t offset = (e & ~kSubtable) >> 5;
      uint32_t peek = br.Peek(kRootBits + subBits) & ((1u << subBits) - 1);
      uint32_t leaf = entries[offset + peek];
      if (leaf == 0) return -1;
      br.Skip(kRootBits + static_cast<int>(leaf & 0xff));
      return static_cast<int>(leaf >> 8);
    }
    if (e == 0) return -1;
    br.Skip(static_cast<int>(e & 0xff));
    return static_cast<int>(e >> 8);
  }
};

struct Codebooks {
  HuffTable scaleFactor;
  HuffTable spectral[11];

  Codebooks() {
    scaleFactor.Build(kScaleFactorCodes, kScaleFactorBits, 121);
    for (int cb = 0; cb < 11; ++cb) {
      std::vector<uint32_t> codes(kSpectralCodes[cb], kSpectralCodes[cb] + kSpectralSizes[cb]);
      spectral[cb].Build(codes.data(), kSpectralBits[cb], kSpectralSizes[cb]);
    }
  }
};

const Codebooks& Books() {
  static const Codebooks books;
  return books;
}

}  // namespace

int DecodeScaleFactorDelta(BitReader& br, bool& ok) {
  int sym = Books().scaleFactor.Decode(br);
  if (sym < 0) {
    ok = false;
    return 0;
  }
  return sym - 60;
}

int DecodeSpectralIndex(BitReader& br, int cb) {
  return Books().spectral[cb - 1].Decode(br);
}

bool CodebookIsCompletePrefixCode(const uint32_t* codes, const uint8_t* bits, int count) {
  // Kraft sum exactly one, and no code a prefix of another.
  uint64_t kraft = 0;
  for (int i = 0; i < count; ++i) kraft += uint64_t{1} << (32 - bits[i]);
  if (kraft != (uint64_t{1} << 32)) return false;
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < count; ++j) {
      if (i == j || bits[i] > bits[j]) continue;
      if ((codes[j] >> (bits[j] - bits[i])) == codes[i]) return false;
    }
  }
  return true;
}

}  // namespace osprey
