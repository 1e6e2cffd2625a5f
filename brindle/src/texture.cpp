// Texture: DC differences, run/level coefficients, intra AC/DC prediction and the inverse
// transform of a macroblock's blocks.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder.h"
#include "decoder_helpers.h"
#include "tables.h"

namespace brindle {
namespace {

// The next bits of a reader held left-aligned in a 64-bit word, refilled from memory only when
// fewer than 32 remain: the coefficient loop then takes its next code with a shift instead of a
// load. Past the end of the data it reads zero bits, as BitReader does.
class BitCache {
 public:
  explicit BitCache(const BitReader& br) : data_(br.Data()), size_(br.SizeBytes()), pos_(br.Position()) { Fill(); }

  std::uint32_t Peek32() const { return static_cast<std::uint32_t>(cache_ >> 32); }
  // n <= 32.
  void Skip(int n) {
    cache_ <<= n;
    pos_ += static_cast<std::size_t>(n);
    valid_ -= n;
    if (valid_ < 32) Fill();
  }
  std::size_t Position() const { return pos_; }
  void SetPosition(std::size_t bits) {
    pos_ = bits;
    Fill();
  }

 private:
  void Fill() {
    const std::size_t byte = pos_ >> 3;
    std::uint64_t v = 0;
    if (byte + 8 <= size_) {
      std::memcpy(&v, data_ + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0);
    }
    cache_ = v << (pos_ & 7);
    valid_ = 64 - static_cast<int>(pos_ & 7);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_;
  std::uint64_t cache_ = 0;
  int valid_ = 0;
};

}  // namespace

bool Decoder::ReadDcDiff(BitReader& br, int block, std::int16_t* diff) {
  const Tables& t = GetTables();
  int size = DecodeVlc(br, block < 4 ? t.dcSizeLuma : t.dcSizeChroma);
  if (size < 0) return false;
  if (size == 0) {
    *diff = 0;
    return true;
  }
  int code = static_cast<int>(br.Read(size));
  *diff = static_cast<std::int16_t>((code >> (size - 1)) == 0 ? code - (1 << size) + 1 : code);
  if (size > 8 && !br.ReadBit()) return false;
  return true;
}

int Decoder::ReadCoefficients(BitReader& reader, bool intra, const std::uint8_t* scan, int start, int qp,
                              std::int16_t* out, std::uint8_t* positions) {
  // Codes are taken from a local bit cache; its position goes back to the caller's reader on
  // every return.
  BitCache cache(reader);
  struct WriteBack {
    BitReader& to;
    const BitCache& from;
    ~WriteBack() { to.SetPosition(from.Position()); }
  } writeBack{reader, cache};
  const std::size_t endBits = reader.SizeBits();
  const Tables& t = GetTables();
  bool shortHeader = layer_.shortHeader;
  bool rvlc = layer_.reversibleVlc && !shortHeader;
  const CoefTable& table =
      rvlc ? (intra ? t.rvlcIntra : t.rvlcInter) : (intra && !shortHeader ? t.intraCoef : t.interCoef);
  const int qmul = 2 * qp, qadd = (qp - 1) | 1;
  int i = start;
  int count = 0;
  for (;;) {
    std::uint32_t bits = cache.Peek32();
    const CoefEntry& e = table.entries[bits >> (32 - table.bits)];
    if (e.length == 0) return -1;
    int last, run, level;
    if (e.level != 0) {
      // The sign bit follows the code inside the same 32 bits (codes are at most 15 bits long).
      last = e.last;
      run = e.run;
      level = ((bits << e.length) >> 31) ? -e.level : e.level;
      cache.Skip(e.length + 1);
    } else {
      // Escapes are rare: they are read with a reader at the cache's position.
      BitReader br = reader;
      br.SetPosition(cache.Position() + e.length);
      if (rvlc) {
        // Escape: last, run (6), marker, level (11), marker, the 4-bit escape again, sign.
        last = static_cast<int>(br.Read(1));
        run = static_cast<int>(br.Read(6));
        if (!br.ReadBit()) return -1;
        level = static_cast<int>(br.Read(11));
        if (!br.ReadBit()) return -1;
        if (br.Read(4) != 0) return -1;
        if (level == 0) return -1;
        if (br.ReadBit()) level = -level;
      } else if (shortHeader) {
        last = static_cast<int>(br.Read(1));
        run = static_cast<int>(br.Read(6));
        level = br.ReadSigned(8);
        if (level == 0 || level == -128) return -1;
      } else if (!br.ReadBit()) {  // escape mode 1: level offset
        const CoefEntry& f = table.entries[br.Peek(table.bits)];
        if (f.length == 0 || f.level == 0) return -1;
        br.Skip(f.length);
        last = f.last;
        run = f.run;
        level = f.level + table.maxLevel[last][run];
        if (br.ReadBit()) level = -level;
      } else if (!br.ReadBit()) {  // escape mode 2: run offset
        const CoefEntry& f = table.entries[br.Peek(table.bits)];
        if (f.length == 0 || f.level == 0) return -1;
        br.Skip(f.length);
        last = f.last;
        level = f.level;
        run = f.run + table.maxRun[last][level] + 1;
        if (br.ReadBit()) level = -level;
      } else {  // escape mode 3: fixed length
        last = static_cast<int>(br.Read(1));
        run = static_cast<int>(br.Read(6));
        if (!br.ReadBit()) return -1;
        level = br.ReadSigned(12);
        if (!br.ReadBit()) return -1;
        if (level == 0) return -1;
      }
      cache.SetPosition(br.Position());
    }
    i += run;
    if (i > 63) return -1;
    int pos = scan[i];
    if (qp > 0) {
      int v = level > 0 ? level * qmul + qadd : level * qmul - qadd;
      out[pos] = static_cast<std::int16_t>(Clip(v, -2048, 2047));
    } else {
      out[pos] = static_cast<std::int16_t>(Clip(level, -2048, 2047));
    }
    positions[count++] = static_cast<std::uint8_t>(pos);
    ++i;
    if (last) return cache.Position() > endBits ? -1 : count;
    if (cache.Position() > endBits) return -1;
  }
}

bool Decoder::DecodeIntraBlock(BitReader& br, int mbIndex, int block, bool coded, bool dcAlreadyRead,
                               std::int16_t* coefficients) {
  MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int qp = mb.qp;
  std::uint8_t positions[64];
  std::memset(coefficients, 0, 64 * sizeof(std::int16_t));
  if (layer_.shortHeader) {
    int dc = static_cast<int>(br.Read(8));
    if (dc == 0 || dc == 128) return false;
    if (coded && ReadCoefficients(br, true, kZigzagScan, 1, qp, coefficients, positions) < 0) return false;
    coefficients[0] = static_cast<std::int16_t>((dc == 255 ? 128 : dc) * 8);
    return true;
  }
  alignas(16) std::int16_t qf[64] = {};
  bool useDcVlc = qp < intraDcThreshold_;
  std::int16_t diff = 0;
  if (useDcVlc) {
    if (dcAlreadyRead)
      diff = mb.dcDiff[block];
    else if (!ReadDcDiff(br, block, &diff))
      return false;
  }
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  // Neighbours: A left, B above-left, C above; (x, y) in this plane's block grid.
  int gw, x, y;
  std::int16_t* dc;
  BlockAc* ac;
  if (block < 4) {
    gw = 2 * mbWidth_;
    x = 2 * mbx + (block & 1);
    y = 2 * mby + (block >> 1);
    dc = dcLuma_.data();
    ac = acLuma_.data();
  } else {
    gw = mbWidth_;
    x = mbx;
    y = mby;
    dc = dcChroma_[block - 4].data();
    ac = acChroma_[block - 4].data();
  }
  int shift = block < 4 ? 1 : 0;
  auto available = [&](int bx, int by) {
    if (bx < 0 || by < 0) return false;
    int ox = bx >> shift, oy = by >> shift;
    return (ox == mbx && oy == mby) || NeighbourAvailable(ox, oy, mb.packet);
  };
  bool hasA = available(x - 1, y), hasB = available(x - 1, y - 1), hasC = available(x, y - 1);
  int fa = hasA ? dc[y * gw + x - 1] : 1024;
  int fb = hasB ? dc[(y - 1) * gw + x - 1] : 1024;
  int fc = hasC ? dc[(y - 1) * gw + x] : 1024;
  bool vertical = std::abs(fa - fb) < std::abs(fb - fc);  // predict from the block above
  const std::uint8_t* scan =
      mb.acPred ? (vertical ? kAlternateHorizontalScan : kAlternateVerticalScan) : kZigzagScan;
  int count = 0;
  if (coded) {
    count = ReadCoefficients(br, true, scan, useDcVlc ? 1 : 0, 0, qf, positions);
    if (count < 0) return false;
  }
  if (!useDcVlc) diff = qf[0];
  int scaler = block < 4 ? LumaDcScaler(qp) : ChromaDcScaler(qp);
  int pred = vertical ? fc : fa;
  int dcLevel = diff + (pred + (scaler >> 1)) / scaler;
  int dcValue = Clip(dcLevel * scaler, 0, 2047);
  dc[y * gw + x] = static_cast<std::int16_t>(dcValue);

  if (mb.acPred) {
    if (vertical && hasC) {
      const BlockAc& n = ac[(y - 1) * gw + x];
      int nqp = mbs_[static_cast<std::size_t>(((y - 1) >> shift) * mbWidth_ + (x >> shift))].qp;
      for (int i = 1; i < 8; ++i) {
        int p = nqp == qp ? n.row[i - 1] : RoundedDiv(n.row[i - 1] * nqp, qp);
        qf[i] = static_cast<std::int16_t>(Clip(qf[i] + p, -2048, 2047));
      }
    } else if (!vertical && hasA) {
      const BlockAc& n = ac[y * gw + x - 1];
      int nqp = mbs_[static_cast<std::size_t>((y >> shift) * mbWidth_ + ((x - 1) >> shift))].qp;
      for (int i = 1; i < 8; ++i) {
        int p = nqp == qp ? n.col[i - 1] : RoundedDiv(n.col[i - 1] * nqp, qp);
        qf[i * 8] = static_cast<std::int16_t>(Clip(qf[i * 8] + p, -2048, 2047));
      }
    }
  }
  BlockAc& mine = ac[y * gw + x];
  for (int i = 1; i < 8; ++i) {
    mine.row[i - 1] = qf[i];
    mine.col[i - 1] = qf[i * 8];
  }
  for (int k = 0; k < count; ++k) coefficients[positions[k]] = Dequantise(qf[positions[k]], qp);
  for (int i = 1; i < 8; ++i) {
    coefficients[i] = Dequantise(qf[i], qp);
    coefficients[i * 8] = Dequantise(qf[i * 8], qp);
  }
  coefficients[0] = static_cast<std::int16_t>(dcValue);
  return true;
}

bool Decoder::DecodeMacroblockTexture(BitReader& br, int mbIndex, bool dcAlreadyRead) {
  const MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  Picture& dst = *target_;
  std::uint8_t* planes[6];
  int strides[6];
  for (int b = 0; b < 4; ++b) {
    planes[b] = dst.y + (mby * 16 + (b >> 1) * 8) * dst.stride + mbx * 16 + (b & 1) * 8;
    strides[b] = dst.stride;
  }
  int coff = mby * 8 * dst.chromaStride + mbx * 8;
  planes[4] = dst.u + coff;
  planes[5] = dst.v + coff;
  strides[4] = strides[5] = dst.chromaStride;
  alignas(16) std::int16_t coefficients[64];
  if (mb.type == kMbIntra || mb.type == kMbIntraQ) {
    for (int b = 0; b < 6; ++b) {
      bool coded = (mb.cbp & (32 >> b)) != 0;
      if (!DecodeIntraBlock(br, mbIndex, b, coded, dcAlreadyRead, coefficients)) return false;
      dsp_->idctPut(coefficients, planes[b], strides[b]);
    }
    return true;
  }
  SetNonIntraPrediction(mbIndex);
  PredictMacroblock(mbIndex);
  if (mb.type < 0) return true;
  std::uint8_t positions[64];
  for (int b = 0; b < 6; ++b) {
    if (!(mb.cbp & (32 >> b))) continue;
    std::memset(coefficients, 0, sizeof coefficients);
    int count = ReadCoefficients(br, false, kZigzagScan, 0, mb.qp, coefficients, positions);
    if (count < 0) return false;
    if (count == 1 && positions[0] == 0)
      dsp_->dcAdd(coefficients[0], planes[b], strides[b]);
    else
      dsp_->idctAdd(coefficients, planes[b], strides[b]);
  }
  return true;
}

}  // namespace brindle
