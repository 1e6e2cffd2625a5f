#include "huffman.h"

#include <vector>

#include "aac_tables.h"

namespace osprey {

namespace {

struct Codebooks {
  HuffTable scaleFactor;
  HuffTable spectral[11];
  int8_t tuples[11][289][4] = {};

  Codebooks() {
    const std::vector<uint8_t> none(121, 0);
    scaleFactor.Build(kScaleFactorCodes, kScaleFactorBits, none.data(), 121);
    for (int cb = 1; cb <= 11; ++cb) {
      const int size = kSpectralSizes[cb - 1];
      std::vector<uint8_t> nonzero(size, 0);
      for (int i = 0; i < size; ++i) {
        int8_t* t = tuples[cb - 1][i];
        if (cb <= 4) {
          const int off = cb <= 2 ? 1 : 0;
          t[0] = static_cast<int8_t>(i / 27 - off);
          t[1] = static_cast<int8_t>((i / 9) % 3 - off);
          t[2] = static_cast<int8_t>((i / 3) % 3 - off);
          t[3] = static_cast<int8_t>(i % 3 - off);
        } else {
          const int mod = cb <= 6 ? 9 : cb <= 8 ? 8 : cb <= 10 ? 13 : 17;
          const int off = cb <= 6 ? 4 : 0;
          t[0] = static_cast<int8_t>(i / mod - off);
          t[1] = static_cast<int8_t>(i % mod - off);
        }
        for (int j = 0; j < 4; ++j) nonzero[i] = static_cast<uint8_t>(nonzero[i] + (t[j] != 0));
      }
      std::vector<uint32_t> codes(kSpectralCodes[cb - 1], kSpectralCodes[cb - 1] + size);
      spectral[cb - 1].Build(codes.data(), kSpectralBits[cb - 1], nonzero.data(), size);
    }
  }
};

const Codebooks& Books() {
  static const Codebooks books;
  return books;
}

}  // namespace

void HuffTable::Build(const uint32_t* codes, const uint8_t* bits, const uint8_t* nonzero, int count) {
  entries_.assign(1u << kRootBits, 0);
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
    uint32_t offset = static_cast<uint32_t>(entries_.size());
    entries_.resize(entries_.size() + (1u << subBits), 0);
    entries_[root] = kSubtable | (offset << 5) | static_cast<uint32_t>(subBits);
  }
  for (int i = 0; i < count; ++i) {
    int len = bits[i];
    uint32_t code = codes[i];
    const uint32_t symbol = (static_cast<uint32_t>(i) << 8) | (uint32_t{nonzero[i]} << 5);
    if (len <= kRootBits) {
      uint32_t first = code << (kRootBits - len);
      for (uint32_t j = 0; j < (1u << (kRootBits - len)); ++j)
        entries_[first + j] = symbol | static_cast<uint32_t>(len);
    } else {
      uint32_t link = entries_[code >> (len - kRootBits)];
      uint32_t offset = (link & ~kSubtable) >> 5;
      int subBits = static_cast<int>(link & 31);
      int rest = len - kRootBits;
      uint32_t low = code & ((1u << rest) - 1);
      uint32_t first = low << (subBits - rest);
      for (uint32_t j = 0; j < (1u << (subBits - rest)); ++j)
        entries_[offset + first + j] = symbol | static_cast<uint32_t>(rest);
    }
  }
}

const HuffTable& SpectralTable(int cb) {
  return Books().spectral[cb - 1];
}

const int8_t (*SpectralTuples(int cb))[4] {
  return Books().tuples[cb - 1];
}

int DecodeScaleFactorDelta(BitReader& br, bool& ok) {
  const int e = Books().scaleFactor.Decode(br);
  if (e < 0) {
    ok = false;
    return 0;
  }
  return (e >> 3) - 60;
}

int DecodeSpectralIndex(BitReader& br, int cb) {
  const int e = SpectralTable(cb).Decode(br);
  return e < 0 ? -1 : e >> 3;
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
