#pragma once
// Builds small MPEG-4 and H.263 streams bit by bit for tests: layer headers with chosen flags and
// intra pictures whose coefficients are written with the decoder's own code tables.

#include <cstdint>
#include <vector>

#include "tables.h"

namespace brindle::testing {

class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> used_);
      used_ = (used_ + 1) & 7;
    }
  }
  void StartCode(std::uint8_t code) {
    AlignWithZeros();
    for (std::uint8_t b : {0, 0, 1}) Put(b, 8);
    Put(code, 8);
  }
  // MPEG-4 stuffing: a zero, then ones up to the byte boundary (a whole byte when aligned).
  void Stuff() {
    Put(0, 1);
    while (used_ != 0) Put(1, 1);
  }
  void AlignWithZeros() {
    while (used_ != 0) Put(0, 1);
  }
  // Writes the code of (last, run, level) from a coefficient table, then the sign.
  bool PutCoefficient(const CoefTable& t, int last, int run, int level) {
    int magnitude = level < 0 ? -level : level;
    for (std::uint32_t i = 0; i < (1u << t.bits); ++i) {
      const CoefEntry& e = t.entries[i];
      if (e.length != 0 && e.level == magnitude && e.run == run && e.last == last) {
        Put(i >> (t.bits - e.length), e.length);
        Put(level < 0 ? 1 : 0, 1);
        return true;
      }
    }
    return false;
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  int used_ = 0;
};

struct VolOptions {
  int width = 176;
  int height = 144;
  int verid = 1;
  int shape = 0;
  int sprite = 0;
  bool quarterSample = false;
  bool dataPartitioned = false;
  bool reversibleVlc = false;
  bool resyncMarkerDisable = true;
  bool mpegQuant = false;
  bool interlaced = false;
};

inline void WriteVol(BitWriter& w, const VolOptions& o) {
  w.StartCode(0x20);
  w.Put(0, 1);  // random_accessible_vol
  w.Put(1, 8);  // simple object
  if (o.verid != 1) {
    w.Put(1, 1);
    w.Put(static_cast<std::uint32_t>(o.verid), 4);
    w.Put(1, 3);
  } else {
    w.Put(0, 1);
  }
  w.Put(1, 4);  // square samples
  w.Put(0, 1);  // no control parameters
  w.Put(static_cast<std::uint32_t>(o.shape), 2);
  w.Put(1, 1);
  w.Put(25, 16);  // time increment resolution: 5-bit increments
  w.Put(1, 1);
  w.Put(0, 1);  // variable rate
  w.Put(1, 1);
  w.Put(static_cast<std::uint32_t>(o.width), 13);
  w.Put(1, 1);
  w.Put(static_cast<std::uint32_t>(o.height), 13);
  w.Put(1, 1);
  w.Put(o.interlaced, 1);
  w.Put(1, 1);  // obmc disabled
  w.Put(static_cast<std::uint32_t>(o.sprite), o.verid == 1 ? 1 : 2);
  w.Put(0, 1);  // 8-bit
  w.Put(o.mpegQuant, 1);
  if (o.verid != 1) w.Put(o.quarterSample, 1);
  w.Put(1, 1);  // complexity estimation disabled
  w.Put(o.resyncMarkerDisable, 1);
  w.Put(o.dataPartitioned, 1);
  if (o.dataPartitioned) w.Put(o.reversibleVlc, 1);
  if (o.verid != 1) {
    w.Put(0, 1);
    w.Put(0, 1);
  }
  w.Put(0, 1);  // no scalability
  w.Stuff();
}

// One coefficient of a block: (last, run, level) in scan order after the DC.
struct Coefficient {
  int last;
  int run;
  int level;
};

// An intra VOP (intra_dc_vlc_thr 0, so every DC has its own code) in which every block has DC
// differential 0 and the given AC coefficients (none when the list is empty). With
// dataPartitioned the three partitions are written, with reversible codes when rvlc is set.
// With dcInCoefficients (intra_dc_vlc_thr 7) the zero DC differential is carried by the
// coefficient codes instead: the first run grows by one.
inline bool WriteIntraVop(BitWriter& w, int mbCount, int qp, const std::vector<Coefficient>& ac,
                          bool dataPartitioned, bool rvlc, bool dcInCoefficients = false) {
  const Tables& t = GetTables();
  w.StartCode(0xB6);
  w.Put(0, 2);  // I
  w.Put(0, 1);  // modulo time base
  w.Put(1, 1);
  w.Put(0, 5);  // time increment
  w.Put(1, 1);
  w.Put(1, 1);                         // coded
  w.Put(dcInCoefficients ? 7 : 0, 3);  // intra_dc_vlc_thr
  w.Put(static_cast<std::uint32_t>(qp), 5);
  bool coded = !ac.empty();
  auto mcbpc = [&] { w.Put(coded ? 0x3 : 0x1, coded ? 3 : 1); };  // type 3 with cbpc 3, or cbpc 0
  auto cbpy = [&] {
    if (coded)
      w.Put(0x3, 2);  // 15
    else
      w.Put(0x3, 4);  // 0
  };
  auto dcBlock = [&](int b) {
    if (dcInCoefficients) return;
    if (b < 4)
      w.Put(0x3, 3);  // luma size 0
    else
      w.Put(0x3, 2);  // chroma size 0
  };
  auto dc = [&] {
    for (int b = 0; b < 6; ++b) dcBlock(b);
  };
  auto block = [&](int) -> bool {
    if (!coded) return true;
    for (std::size_t k = 0; k < ac.size(); ++k) {
      Coefficient c = ac[k];
      if (k == 0 && dcInCoefficients) ++c.run;
      const CoefTable& table = rvlc ? t.rvlcIntra : t.intraCoef;
      int magnitude = c.level < 0 ? -c.level : c.level;
      if (magnitude <= table.maxLevel[c.last][c.run]) {
        if (!w.PutCoefficient(table, c.last, c.run, c.level)) return false;
      } else if (rvlc) {
        w.Put(0, 4);  // escape
        w.Put(static_cast<std::uint32_t>(c.last), 1);
        w.Put(static_cast<std::uint32_t>(c.run), 6);
        w.Put(1, 1);
        w.Put(static_cast<std::uint32_t>(magnitude), 11);
        w.Put(1, 1);
        w.Put(0, 4);
        w.Put(c.level < 0 ? 1 : 0, 1);
      } else {
        w.Put(0x3, 7);  // escape, mode 3
        w.Put(0x3, 2);
        w.Put(static_cast<std::uint32_t>(c.last), 1);
        w.Put(static_cast<std::uint32_t>(c.run), 6);
        w.Put(1, 1);
        w.Put(static_cast<std::uint32_t>(c.level) & 0xFFF, 12);
        w.Put(1, 1);
      }
    }
    return true;
  };
  auto texture = [&]() -> bool {
    for (int b = 0; b < 6; ++b)
      if (!block(b)) return false;
    return true;
  };
  if (dataPartitioned) {
    for (int i = 0; i < mbCount; ++i) {
      mcbpc();
      dc();
    }
    w.Put(0x6B001, 19);
    for (int i = 0; i < mbCount; ++i) {
      w.Put(0, 1);  // no AC prediction
      cbpy();
    }
    for (int i = 0; i < mbCount; ++i)
      if (!texture()) return false;
  } else {
    for (int i = 0; i < mbCount; ++i) {
      mcbpc();
      w.Put(0, 1);
      cbpy();
      for (int b = 0; b < 6; ++b) {
        dcBlock(b);
        if (!block(b)) return false;
      }
    }
  }
  w.Stuff();
  return true;
}

// A predicted VOP (f_code 7) in which every macroblock moves by (mvx, mvy) half samples with no
// residual; each vector component must be representable as one code plus a 6-bit residual.
inline void WriteMovingVop(BitWriter& w, int mbCount, int rounding, int mvdIndex, bool negative,
                           int residual) {
  w.StartCode(0xB6);
  w.Put(1, 2);  // P
  w.Put(0, 1);
  w.Put(1, 1);
  w.Put(1, 5);
  w.Put(1, 1);
  w.Put(1, 1);  // coded
  w.Put(static_cast<std::uint32_t>(rounding), 1);
  w.Put(0, 3);
  w.Put(8, 5);  // quantiser
  w.Put(7, 3);  // f_code
  static const std::uint8_t kMvd[33][2] = {
      {1, 1},   {1, 2},  {1, 3},   {1, 4},   {3, 6},   {5, 7},   {4, 7},   {3, 7},   {11, 9},
      {10, 9},  {9, 9},  {17, 10}, {16, 10}, {15, 10}, {14, 10}, {13, 10}, {12, 10}, {11, 10},
      {10, 10}, {9, 10}, {8, 10},  {7, 10},  {6, 10},  {5, 10},  {4, 10},  {7, 11},  {6, 11},
      {5, 11},  {4, 11}, {3, 11},  {2, 11},  {3, 12},  {2, 12}};
  for (int i = 0; i < mbCount; ++i) {
    w.Put(0, 1);    // coded
    w.Put(1, 1);    // inter, no chroma coefficients
    w.Put(0x3, 2);  // no luma coefficients
    for (int c = 0; c < 2; ++c) {
      w.Put(kMvd[mvdIndex][0], kMvd[mvdIndex][1]);
      if (mvdIndex != 0) {
        w.Put(negative, 1);
        w.Put(static_cast<std::uint32_t>(residual), 6);
      }
    }
  }
  w.Stuff();
}

// An H.263 picture header of the given source format and PTYPE option bits (UMV, SAC, AP, PB).
inline void WriteH263PictureHeader(BitWriter& w, int format, bool inter, int options, int qp) {
  w.Put(0x20, 22);
  w.Put(0, 8);  // temporal reference
  w.Put(1, 1);
  w.Put(0, 1);
  w.Put(0, 3);
  w.Put(static_cast<std::uint32_t>(format), 3);
  w.Put(inter, 1);
  w.Put(static_cast<std::uint32_t>(options), 4);
  w.Put(static_cast<std::uint32_t>(qp), 5);
  w.Put(0, 1);  // CPM
  w.Put(0, 1);  // PEI
}

}  // namespace brindle::testing
