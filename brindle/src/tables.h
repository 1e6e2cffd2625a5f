#pragma once
// Code tables of ISO/IEC 14496-2 and ITU-T H.263, expanded into direct lookup tables.

#include <cstdint>

namespace brindle {

// One entry of a direct lookup table indexed by the next `bits` bits of the stream.
struct VlcEntry {
  std::int16_t value;   // decoded symbol
  std::uint8_t length;  // code length; 0 marks an invalid code
};

struct VlcTable {
  const VlcEntry* entries;
  int bits;
};

// A transform-coefficient code: (last, run, level) or the escape code (level 0).
struct CoefEntry {
  std::uint8_t length;  // 0 marks an invalid code
  std::uint8_t last;
  std::uint8_t run;
  std::uint8_t level;
};

struct CoefTable {
  const CoefEntry* entries;
  int bits;
  // Largest level for each (last, run) and largest run for each (last, level); used by the
  // first two escape modes.
  std::uint8_t maxLevel[2][64];
  std::uint8_t maxRun[2][64];
};

struct Tables {
  VlcTable mcbpcIntra;  // value: (mb type << 2) | cbpc, or kMcbpcStuffing
  VlcTable mcbpcInter;
  VlcTable cbpy;        // value: cbpy of an intra macroblock
  VlcTable mvd;         // value: magnitude index 0..32
  VlcTable dcSizeLuma;  // value: dct_dc_size 0..12
  VlcTable dcSizeChroma;
  CoefTable intraCoef;  // MPEG-4 intra table
  CoefTable interCoef;  // H.263 table, MPEG-4 inter table
  CoefTable rvlcIntra;
  CoefTable rvlcInter;
};

inline constexpr int kMcbpcStuffing = 0xFF;

// Built once on first use; safe to call from several threads.
const Tables& GetTables();

// False when some table holds a code that is a prefix of another (a transcription fault).
bool TablesArePrefixFree();

extern const std::uint8_t kZigzagScan[64];
extern const std::uint8_t kAlternateHorizontalScan[64];
extern const std::uint8_t kAlternateVerticalScan[64];

// Macroblock type codes (H.263 Table 8 numbering).
enum MbType : int { kMbInter = 0, kMbInterQ = 1, kMbInter4V = 2, kMbIntra = 3, kMbIntraQ = 4 };

int LumaDcScaler(int qp);
int ChromaDcScaler(int qp);

}  // namespace brindle
