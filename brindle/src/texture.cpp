// Texture: DC differences, run/level coefficients, intra AC/DC prediction and the inverse
// transform of a macroblock's blocks.
#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Dequantises the 64 levels of an intra block (each within [-2048, 2047]) into out, as Dequantise
// does each; returns whether any level but the DC is non-zero.
bool DequantiseIntraBlock(const std::int16_t* levels, int qp, std::int16_t* out) {
#if defined(__SSE2__)
  // Levels beyond +-limit saturate either way, and clamped to it the product fits 16 bits.
  const __m128i limit = _mm_set1_epi16(static_cast<short>(1024 / qp + 1));
  const __m128i negativeLimit = _mm_set1_epi16(static_cast<short>(-(1024 / qp + 1)));
  const __m128i mul = _mm_set1_epi16(static_cast<short>(2 * qp));
  const __m128i add = _mm_set1_epi16(static_cast<short>((qp - 1) | 1));
  const __m128i high = _mm_set1_epi16(2047), low = _mm_set1_epi16(-2048), zero = _mm_setzero_si128();
  __m128i any = zero;
  for (int k = 0; k < 8; ++k) {
    __m128i l = _mm_load_si128(reinterpret_cast<const __m128i*>(levels + 8 * k));
    any = _mm_or_si128(any, k == 0 ? _mm_srli_si128(l, 2) : l);  // the DC shifted out
    __m128i c = _mm_min_epi16(_mm_max_epi16(l, negativeLimit), limit);
    __m128i sign = _mm_srai_epi16(c, 15);
    __m128i v = _mm_add_epi16(_mm_mullo_epi16(c, mul), _mm_sub_epi16(_mm_xor_si128(add, sign), sign));
    v = _mm_andnot_si128(_mm_cmpeq_epi16(c, zero), v);
    v = _mm_min_epi16(_mm_max_epi16(v, low), high);
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * k), v);
  }
  return _mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xFFFF;
#else
  bool ac = false;
  for (int i = 0; i < 64; ++i) {
    out[i] = Dequantise(levels[i], qp);
    ac |= i > 0 && levels[i] != 0;
  }
  return ac;
#endif
}

// The coefficient loop for a table of kBits-bit codes; kDequantise: the levels go out
// dequantised with qp.
template <int kBits, bool kDequantise>
int ReadCoefficientCodes(BitReader& reader, const CoefTable& table, bool rvlc, bool shortHeader,
                         const std::uint8_t* scan, int start, int qp, std::int16_t* out) {
  // Codes are taken from a local bit cache; its position goes back to the caller's reader on
  // every return.
  BitCache cache(reader);
  struct WriteBack {
    BitReader& to;
    const BitCache& from;
    ~WriteBack() { to.SetPosition(from.Position()); }
  } writeBack{reader, cache};
  const std::size_t endBits = reader.SizeBits();
  const int qmul = 2 * qp, qadd = (qp - 1) | 1;
  assert(table.bits == kBits);
  const CoefEntry* entries = table.entries;
  int i = start;
  int count = 0;
  // At most 64 codes are read (each moves the scan position on), so a block that runs past the
  // end of the data ends by a bad code or the scan's end; the overrun is checked once, at the end.
  for (;;) {
    std::uint32_t bits = cache.Peek32();
    const CoefEntry e = entries[bits >> (32 - kBits)];
    int last, run, level;
    if (e.level != 0) {
      // The sign bit follows the code inside the same 32 bits (codes are at most 15 bits long).
      // Table levels are at most 27, so their dequantised values stay within 12 bits unclipped.
      last = e.last;
      run = e.run;
      int magnitude = kDequantise ? e.level * qmul + qadd : e.level;
      int sign = static_cast<std::int32_t>(bits << e.length) >> 31;
      level = (magnitude ^ sign) - sign;
      cache.Skip(e.length + 1);
    } else {
      if (e.length == 0) return -1;
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
      if (kDequantise) level = level > 0 ? level * qmul + qadd : level * qmul - qadd;
      level = Clip(level, -2048, 2047);
    }
    i += run;
    if (i > 63) return -1;
    int pos = scan[i];
    out[pos] = static_cast<std::int16_t>(level);
    ++count;
    ++i;
    if (last) break;
  }
  return cache.Position() > endBits ? -1 : count;
}

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
                              std::int16_t* out) {
  const Tables& t = GetTables();
  bool shortHeader = layer_.shortHeader;
  bool rvlc = layer_.reversibleVlc && !shortHeader;
  if (rvlc) {
    const CoefTable& table = intra ? t.rvlcIntra : t.rvlcInter;
    return qp > 0 ? ReadCoefficientCodes<15, true>(reader, table, true, false, scan, start, qp, out)
                  : ReadCoefficientCodes<15, false>(reader, table, true, false, scan, start, qp, out);
  }
  const CoefTable& table = intra && !shortHeader ? t.intraCoef : t.interCoef;
  return qp > 0 ? ReadCoefficientCodes<12, true>(reader, table, false, shortHeader, scan, start, qp, out)
                : ReadCoefficientCodes<12, false>(reader, table, false, shortHeader, scan, start, qp, out);
}

bool Decoder::DecodeIntraBlock(BitReader& br, int mbIndex, int block, bool coded, bool dcAlreadyRead,
                               std::int16_t* coefficients, bool* dcOnly) {
  MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int qp = mb.qp;
  if (layer_.shortHeader) {
    int dc = static_cast<int>(br.Read(8));
    if (dc == 0 || dc == 128) return false;
    std::memset(coefficients, 0, 64 * sizeof(std::int16_t));
    int count = coded ? ReadCoefficients(br, true, kZigzagScan, 1, qp, coefficients) : 0;
    if (count < 0) return false;
    coefficients[0] = static_cast<std::int16_t>((dc == 255 ? 128 : dc) * 8);
    *dcOnly = count == 0;
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
  int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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
    if (ox == mbx && oy == mby) return true;
    // A predicted or skipped neighbour counts as absent (DC 1024, AC zero): its prediction state
    // is not written.
    return NeighbourAvailable(ox, oy, mb.packet) &&
           mbs_[static_cast<std::size_t>(oy * mbWidth_ + ox)].type >= kMbIntra;
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
    count = ReadCoefficients(br, true, scan, useDcVlc ? 1 : 0, 0, qf);
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
  *dcOnly = !DequantiseIntraBlock(qf, qp, coefficients);
  coefficients[0] = static_cast<std::int16_t>(dcValue);
  return true;
}

bool Decoder::DecodeMacroblockTexture(BitReader& br, int mbIndex, bool dcAlreadyRead) {
  const MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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
      bool dcOnly = false;
      if (!DecodeIntraBlock(br, mbIndex, b, coded, dcAlreadyRead, coefficients, &dcOnly)) return false;
      if (dcOnly)
        dsp_->dcPut(coefficients[0], planes[b], strides[b]);
      else
        dsp_->idctPut(coefficients, planes[b], strides[b]);
    }
    return true;
  }
  PredictMacroblock(mbIndex);
  if (mb.type < 0) return true;
  for (int b = 0; b < 6; ++b) {
    if (!(mb.cbp & (32 >> b))) continue;
    std::memset(coefficients, 0, sizeof coefficients);
    int count = ReadCoefficients(br, false, kZigzagScan, 0, mb.qp, coefficients);
    if (count < 0) return false;
    if (count == 1 && coefficients[0] != 0)  // the one coefficient is the DC
      dsp_->dcAdd(coefficients[0], planes[b], strides[b]);
    else
      dsp_->idctAdd(coefficients, planes[b], strides[b]);
  }
  return true;
}

}  // namespace brindle
