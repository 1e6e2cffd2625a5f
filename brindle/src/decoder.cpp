#include "decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tables.h"

namespace brindle {
namespace {

constexpr std::uint32_t kDcMarker = 0x6B001;      // 19 bits, ends partition 1 of intra packets
constexpr std::uint32_t kMotionMarker = 0x1F001;  // 17 bits, ends partition 1 of predicted packets

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
constexpr int kIntraDcThreshold[8] = {32, 13, 15, 17, 19, 21, 23, 0};

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

}  // namespace

BrindleResult Decoder::Configure(const LayerInfo& layer) {
  int mbWidth = (layer.width + 15) / 16, mbHeight = (layer.height + 15) / 16;
  int mbCount = mbWidth * mbHeight;
  int w = mbWidth * 16, h = mbHeight * 16;
  std::size_t lumaBytes = static_cast<std::size_t>(w) * h;
  // Everything is allocated before anything is replaced, so a failure leaves the decoder as it was.
  Picture pictures[2];
  for (Picture& p : pictures) {
    p.memory.reset(new (std::nothrow) std::uint8_t[lumaBytes * 3 / 2 + 4]);
    if (!p.memory) return kBrindleNoMemory;
    p.stride = w;
    p.chromaStride = w / 2;
    p.y = p.memory.get();
    p.u = p.y + lumaBytes;  // w and h are multiples of 16, so the planes stay 4-byte aligned
    p.v = p.u + lumaBytes / 4;
  }
  try {
    std::vector<MbState> mbs(static_cast<std::size_t>(mbCount));
    std::vector<MotionVector> mvs(static_cast<std::size_t>(mbCount) * 4);
    std::vector<std::int16_t> dcLuma(static_cast<std::size_t>(mbCount) * 4, 1024);
    std::vector<BlockAc> acLuma(static_cast<std::size_t>(mbCount) * 4);
    std::vector<std::int16_t> dcChroma[2];
    std::vector<BlockAc> acChroma[2];
    for (int c = 0; c < 2; ++c) {
      dcChroma[c].assign(static_cast<std::size_t>(mbCount), 1024);
      acChroma[c].assign(static_cast<std::size_t>(mbCount), BlockAc{});
    }
    std::vector<std::uint8_t> mbQp(static_cast<std::size_t>(mbCount), 1);
    mbs_.swap(mbs);
    mvs_.swap(mvs);
    dcLuma_.swap(dcLuma);
    acLuma_.swap(acLuma);
    for (int c = 0; c < 2; ++c) {
      dcChroma_[c].swap(dcChroma[c]);
      acChroma_[c].swap(acChroma[c]);
    }
    mbQp_.swap(mbQp);
  } catch (const std::bad_alloc&) {
    return kBrindleNoMemory;
  }
  pictures_[0] = std::move(pictures[0]);
  pictures_[1] = std::move(pictures[1]);
  layer_ = layer;
  mbWidth_ = mbWidth;
  mbHeight_ = mbHeight;
  mbCount_ = mbCount;
  mbNumberBits_ = 1;
  while ((1 << mbNumberBits_) < mbCount_) ++mbNumberBits_;
  Reset();
  return kBrindleOk;
}

void Decoder::Reset() {
  std::size_t luma = static_cast<std::size_t>(PaddedWidth()) * PaddedHeight();
  for (Picture& p : pictures_) {
    if (!p.memory) continue;
    std::memset(p.y, 0, luma);
    std::memset(p.u, 128, luma / 2);
  }
  current_ = 0;
  haveReference_ = false;
  pictureCount_ = 0;
  lastCodingType_ = -1;
  lastQp_ = 0;
  intraCount_ = 0;
  skippedCount_ = 0;
  lastTemporalReference_ = -1;
  timeMs_ = 0;
  timeRemainder_ = 0;
  moduloTime_ = 0;
}

BrindleResult Decoder::Decode(const std::uint8_t* data, std::size_t size, std::size_t* consumed) {
  *consumed = 0;
  if (data == nullptr || size == 0 || !pictures_[0].memory) return kBrindleError;
  if (layer_.shortHeader) {
    std::size_t psc = 0;
    while (psc + 3 <= size && !(data[psc] == 0 && data[psc + 1] == 0 && (data[psc + 2] & 0xFC) == 0x80))
      ++psc;
    if (psc + 3 > size) {
      *consumed = size;
      return kBrindleError;
    }
    std::size_t end = psc + 3;
    while (end + 3 <= size && !(data[end] == 0 && data[end + 1] == 0 && (data[end + 2] & 0xFC) == 0x80))
      ++end;
    if (end + 3 > size) end = size;
    *consumed = end;
    BitReader br(data + psc, end - psc);
    return DecodeShortHeader(br);
  }
  // Skip to the picture, taking in any layer header on the way.
  std::size_t pos = FindStartCode(data, size, 0);
  while (pos + 4 <= size && data[pos + 3] != 0xB6) {
    int code = data[pos + 3];
    if (code >= 0x20 && code <= 0x2F) {
      LayerInfo layer;
      std::size_t used = 0;
      if (ParseLayerHeaders(data + pos, size - pos, layer, &used) != ParseResult::kOk) {
        *consumed = size;
        return kBrindleError;
      }
      if (layer.width != layer_.width || layer.height != layer_.height) {
        if (Configure(layer) != kBrindleOk) {
          *consumed = size;
          return kBrindleError;
        }
      } else {
        layer_ = layer;
      }
    }
    pos = FindStartCode(data, size, pos + 4);
  }
  if (pos + 4 > size) {
    *consumed = size;
    return kBrindleError;
  }
  std::size_t end = FindStartCode(data, size, pos + 4);
  *consumed = end;
  BitReader br(data + pos + 4, end - pos - 4);
  return DecodeMpeg4(br);
}

bool Decoder::ParseVopComplexity(BitReader& br, int codingType) {
  if (!layer_.complexityEstimation) return true;
  br.Skip(codingType == 0 ? layer_.complexityBitsI : layer_.complexityBitsP);
  return true;
}

BrindleResult Decoder::DecodeMpeg4(BitReader& br) {
  int codingType = static_cast<int>(br.Read(2));
  if (codingType > 1) return kBrindleError;  // B- and S-VOPs are outside the Simple Profile
  int moduloBase = 0;
  while (br.ReadBit()) {
    if (++moduloBase > 3600 || br.Overrun()) return kBrindleError;
  }
  if (!br.ReadBit()) return kBrindleError;
  int increment = static_cast<int>(br.Read(layer_.timeIncrementBits));
  if (!br.ReadBit()) return kBrindleError;
  moduloTime_ += moduloBase;
  timeMs_ = static_cast<std::uint64_t>(moduloTime_) * 1000 +
            static_cast<std::uint64_t>(increment) * 1000 / static_cast<std::uint64_t>(layer_.timeResolution);
  if (!br.ReadBit()) return br.Overrun() ? kBrindleError : kBrindleNotCoded;  // vop_coded = 0: the reference stands
  rounding_ = codingType == 1 ? static_cast<int>(br.Read(1)) : 0;
  ParseVopComplexity(br, codingType);
  intraDcThreshold_ = kIntraDcThreshold[br.Read(3)];
  qp_ = static_cast<int>(br.Read(5));
  if (qp_ == 0) return kBrindleError;
  fcode_ = 1;
  if (codingType == 1) {
    fcode_ = static_cast<int>(br.Read(3));
    if (fcode_ == 0) return kBrindleError;
  }
  if (br.Overrun()) return kBrindleError;
  codingType_ = codingType;
  target_ = &pictures_[current_ ^ 1];
  for (MbState& mb : mbs_) mb.packet = -1;

  int mbIndex = 0;
  int packet = 0;
  for (;;) {
    bool ok = layer_.dataPartitioned ? DecodePartitionedPacket(br, mbIndex, packet)
                                     : DecodeCombinedPacket(br, mbIndex, packet);
    if (!ok || br.Overrun()) return kBrindleError;
    if (mbIndex >= mbCount_) break;
    if (!ReadPacketHeader(br, mbIndex)) return kBrindleError;
    ++packet;
  }
  FinishPicture(true);
  return kBrindleOk;
}

bool Decoder::AtResyncMarker(const BitReader& reader) const {
  BitReader br = reader;
  int n = 8 - static_cast<int>(br.Position() & 7);
  if (br.Peek(n) != (1u << (n - 1)) - 1) return false;  // stuffing: a zero, then ones to the byte boundary
  br.Skip(n);
  int length = codingType_ == 0 ? 17 : 16 + fcode_;
  return br.Peek(length) == 1;
}

bool Decoder::ReadPacketHeader(BitReader& br, int expectedMb) {
  if (layer_.resyncMarkerDisable || !AtResyncMarker(br)) return false;
  br.Skip(8 - static_cast<int>(br.Position() & 7));  // stuffing, a whole byte when already aligned
  br.Skip(codingType_ == 0 ? 17 : 16 + fcode_);
  int mbNumber = static_cast<int>(br.Read(mbNumberBits_));
  if (mbNumber != expectedMb) return false;  // lost or repeated macroblocks: the picture is broken
  int qp = static_cast<int>(br.Read(5));
  if (qp == 0) return false;
  qp_ = qp;
  if (br.ReadBit()) {  // header extension
    while (br.ReadBit()) {
      if (br.Overrun()) return false;
    }
    if (!br.ReadBit()) return false;
    br.Skip(layer_.timeIncrementBits);
    if (!br.ReadBit()) return false;
    if (static_cast<int>(br.Read(2)) != codingType_) return false;
    br.Skip(3);  // intra_dc_vlc_thr repeats the picture's
    if (codingType_ == 1 && static_cast<int>(br.Read(3)) != fcode_) return false;
  }
  return !br.Overrun();
}

bool Decoder::NeighbourAvailable(int mbx, int mby, int packet) const {
  if (mbx < 0 || mby < 0 || mbx >= mbWidth_ || mby >= mbHeight_) return false;
  return mbs_[static_cast<std::size_t>(mby * mbWidth_ + mbx)].packet == packet;
}

void Decoder::SetNonIntraPrediction(int mbIndex) {
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  int gw = mbWidth_ * 2;
  for (int b = 0; b < 4; ++b) {
    std::size_t i = static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1));
    dcLuma_[i] = 1024;
    acLuma_[i] = BlockAc{};
  }
  for (int c = 0; c < 2; ++c) {
    dcChroma_[c][static_cast<std::size_t>(mbIndex)] = 1024;
    acChroma_[c][static_cast<std::size_t>(mbIndex)] = BlockAc{};
  }
}

MotionVector Decoder::PredictMv(int mbIndex, int block) const {
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  int bx = 2 * mbx + (block & 1), by = 2 * mby + (block >> 1);
  int gw = 2 * mbWidth_;
  static const int kCandidates[4][3][2] = {
      {{-1, 0}, {0, -1}, {2, -1}},
      {{-1, 0}, {0, -1}, {1, -1}},
      {{-1, 0}, {0, -1}, {1, -1}},
      {{-1, 0}, {0, -1}, {-1, -1}},
  };
  int packet = mbs_[static_cast<std::size_t>(mbIndex)].packet;
  MotionVector cand[3];
  bool valid[3];
  int invalid = 0;
  for (int k = 0; k < 3; ++k) {
    int x = bx + kCandidates[block][k][0], y = by + kCandidates[block][k][1];
    int ox = x >> 1, oy = y >> 1;
    bool ok = x >= 0 && y >= 0 && x < gw && ((ox == mbx && oy == mby) || NeighbourAvailable(ox, oy, packet));
    valid[k] = ok;
    if (ok) {
      cand[k] = mvs_[static_cast<std::size_t>(y * gw + x)];
    } else {
      cand[k] = MotionVector{};
      ++invalid;
    }
  }
  if (invalid == 3) return MotionVector{};
  if (invalid == 2) {
    for (int k = 0; k < 3; ++k)
      if (valid[k]) return cand[k];
  }
  return MotionVector{static_cast<std::int16_t>(Median(cand[0].x, cand[1].x, cand[2].x)),
                      static_cast<std::int16_t>(Median(cand[0].y, cand[1].y, cand[2].y))};
}

bool Decoder::ReadMvComponent(BitReader& br, int fcode, int predictor, int* out) {
  int code = DecodeVlc(br, GetTables().mvd);
  if (code < 0) return false;
  int rSize = fcode - 1;
  int diff = 0;
  if (code != 0) {
    bool negative = br.ReadBit();
    int magnitude = code;
    if (rSize > 0) magnitude = ((code - 1) << rSize) + static_cast<int>(br.Read(rSize)) + 1;
    diff = negative ? -magnitude : magnitude;
  }
  int range = 64 << rSize, low = -(32 << rSize), high = (32 << rSize) - 1;
  int v = predictor + diff;
  if (v < low)
    v += range;
  else if (v > high)
    v -= range;
  *out = v;
  return true;
}

bool Decoder::ReadMotionVectors(BitReader& br, int mbIndex) {
  MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  int gw = 2 * mbWidth_;
  auto at = [&](int b) -> MotionVector& {
    return mvs_[static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1))];
  };
  int count = mb.type == kMbInter4V ? 4 : 1;
  for (int b = 0; b < count; ++b) {
    MotionVector pred = PredictMv(mbIndex, b);
    int x = 0, y = 0;
    if (!ReadMvComponent(br, fcode_, pred.x, &x) || !ReadMvComponent(br, fcode_, pred.y, &y)) return false;
    at(b) = MotionVector{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
  }
  if (count == 1) at(1) = at(2) = at(3) = at(0);
  return true;
}

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

int Decoder::ReadCoefficients(BitReader& br, bool intra, const std::uint8_t* scan, int start, int qp,
                              std::int16_t* out, std::uint8_t* positions) {
  const Tables& t = GetTables();
  bool shortHeader = layer_.shortHeader;
  bool rvlc = layer_.reversibleVlc && !shortHeader;
  const CoefTable& table =
      rvlc ? (intra ? t.rvlcIntra : t.rvlcInter) : (intra && !shortHeader ? t.intraCoef : t.interCoef);
  const int qmul = 2 * qp, qadd = (qp - 1) | 1;
  int i = start;
  int count = 0;
  for (;;) {
    std::uint32_t bits = br.Peek32();
    const CoefEntry& e = table.entries[bits >> (32 - table.bits)];
    if (e.length == 0) return -1;
    int last, run, level;
    if (e.level != 0) {
      // The sign bit follows the code inside the same 32 bits (codes are at most 15 bits long).
      last = e.last;
      run = e.run;
      level = ((bits << e.length) >> 31) ? -e.level : e.level;
      br.Skip(e.length + 1);
    } else {
      br.Skip(e.length);
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
    if (last) return br.Overrun() ? -1 : count;
    if (br.Overrun()) return -1;
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

void Decoder::PredictBlock(std::uint8_t* dst, int dstStride, const Plane& ref, int x, int y, int mvx, int mvy,
                           int size) {
  int ix = x + (mvx >> 1), iy = y + (mvy >> 1);
  int mode = (mvx & 1) | ((mvy & 1) << 1);
  const std::uint8_t* src;
  int srcStride;
  int columns = size + (mode & 1), rows = size + (mode >> 1);  // samples the interpolation reads
  bool insideX = ix >= 0 && ix + columns <= ref.width;
  if (insideX && iy >= 0 && iy + rows <= ref.height) {
    src = ref.data + iy * ref.stride + ix;
    srcStride = ref.stride;
  } else {
    // The reference is extended without limit by repeating its edge samples.
    int column[17];
    for (int c = 0; c < columns; ++c) column[c] = Clip(ix + c, 0, ref.width - 1);
    for (int r = 0; r < rows; ++r) {
      const std::uint8_t* row = ref.data + Clip(iy + r, 0, ref.height - 1) * ref.stride;
      std::uint8_t* out = edge_ + r * 32;
      if (insideX) {
        std::memcpy(out, row + ix, static_cast<std::size_t>(columns));
      } else {
        for (int c = 0; c < columns; ++c) out[c] = row[column[c]];
      }
    }
    src = edge_;
    srcStride = 32;
  }
  dsp_->predict(dst, dstStride, src, srcStride, size, size, mode, rounding_);
}

void Decoder::PredictMacroblock(int mbIndex) {
  const MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
  const Picture& ref = pictures_[current_];
  Picture& dst = *target_;
  // A reference is extended from its decoded area, which covers whole macroblocks: samples of
  // the partial macroblocks beyond the picture's right and bottom edges are predicted from as
  // they were decoded, and only beyond them are the edge samples repeated.
  Plane luma{ref.y, ref.stride, mbWidth_ * 16, mbHeight_ * 16};
  int cw = mbWidth_ * 8, ch = mbHeight_ * 8;
  Plane cb{ref.u, ref.chromaStride, cw, ch};
  Plane cr{ref.v, ref.chromaStride, cw, ch};
  int gw = 2 * mbWidth_;
  const MotionVector* mv = &mvs_[static_cast<std::size_t>(2 * mby * gw + 2 * mbx)];
  std::uint8_t* y = dst.y + mby * 16 * dst.stride + mbx * 16;
  int cmx, cmy;
  if (mb.type == kMbInter4V) {
    int sx = 0, sy = 0;
    for (int b = 0; b < 4; ++b) {
      const MotionVector& v = mv[(b >> 1) * gw + (b & 1)];
      PredictBlock(y + (b >> 1) * 8 * dst.stride + (b & 1) * 8, dst.stride, luma, mbx * 16 + (b & 1) * 8,
                   mby * 16 + (b >> 1) * 8, v.x, v.y, 8);
      sx += v.x;
      sy += v.y;
    }
    // Sum of four vectors in sixteenth units to half units (ISO/IEC 14496-2 Table 7-9).
    static const int kRound16[16] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    cmx = ((sx >> 3) & ~1) + kRound16[sx & 15];
    cmy = ((sy >> 3) & ~1) + kRound16[sy & 15];
  } else {
    PredictBlock(y, dst.stride, luma, mbx * 16, mby * 16, mv[0].x, mv[0].y, 16);
    cmx = (mv[0].x >> 1) | (mv[0].x & 1);
    cmy = (mv[0].y >> 1) | (mv[0].y & 1);
  }
  int coff = mby * 8 * dst.chromaStride + mbx * 8;
  PredictBlock(dst.u + coff, dst.chromaStride, cb, mbx * 8, mby * 8, cmx, cmy, 8);
  PredictBlock(dst.v + coff, dst.chromaStride, cr, mbx * 8, mby * 8, cmx, cmy, 8);
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

// Macroblock header of the combined (not partitioned) syntax, motion vectors included.
bool Decoder::DecodeMacroblockHeader(BitReader& br, int mbIndex, int packet, bool* skipped) {
  const Tables& t = GetTables();
  MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  mb.packet = packet;
  mb.acPred = 0;
  *skipped = false;
  int mcbpc;
  for (;;) {
    if (codingType_ == 1 && br.ReadBit()) {  // not coded: copy from the reference
      mb.type = -1;
      mb.cbp = 0;
      mb.qp = static_cast<std::uint8_t>(qp_);
      int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
      int gw = 2 * mbWidth_;
      for (int b = 0; b < 4; ++b)
        mvs_[static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1))] = MotionVector{};
      *skipped = true;
      return true;
    }
    mcbpc = DecodeVlc(br, codingType_ == 0 ? t.mcbpcIntra : t.mcbpcInter);
    if (mcbpc < 0 || br.Overrun()) return false;
    if (mcbpc != kMcbpcStuffing) break;
  }
  int type = mcbpc >> 2;
  if (layer_.shortHeader && type == kMbInter4V) return false;
  bool intra = type >= kMbIntra;
  mb.type = static_cast<std::int8_t>(type);
  if (intra && !layer_.shortHeader) mb.acPred = static_cast<std::uint8_t>(br.Read(1));
  int cbpy = DecodeVlc(br, t.cbpy);
  if (cbpy < 0) return false;
  if (!intra) cbpy = 15 - cbpy;
  if (type == kMbInterQ || type == kMbIntraQ) {
    static const int kDquant[4] = {-1, -2, 1, 2};
    qp_ = Clip(qp_ + kDquant[br.Read(2)], 1, 31);
  }
  mb.qp = static_cast<std::uint8_t>(qp_);
  mb.cbp = static_cast<std::uint8_t>((cbpy << 2) | (mcbpc & 3));
  if (intra) {
    int mbx = mbIndex % mbWidth_, mby = mbIndex / mbWidth_;
    int gw = 2 * mbWidth_;
    for (int b = 0; b < 4; ++b)
      mvs_[static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1))] = MotionVector{};
    return true;
  }
  return ReadMotionVectors(br, mbIndex);
}

bool Decoder::DecodeCombinedPacket(BitReader& br, int& mbIndex, int packet) {
  while (mbIndex < mbCount_) {
    bool skipped = false;
    if (!DecodeMacroblockHeader(br, mbIndex, packet, &skipped)) return false;
    if (!DecodeMacroblockTexture(br, mbIndex, false)) return false;
    if (br.Overrun()) return false;
    ++mbIndex;
    if (mbIndex < mbCount_ && !layer_.resyncMarkerDisable && AtResyncMarker(br)) return true;
  }
  return true;
}

bool Decoder::DecodePartitionedPacket(BitReader& br, int& mbIndex, int packet) {
  const Tables& t = GetTables();
  int first = mbIndex;
  int gw = 2 * mbWidth_;
  auto clearMvs = [&](int index) {
    int mbx = index % mbWidth_, mby = index / mbWidth_;
    for (int b = 0; b < 4; ++b)
      mvs_[static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1))] = MotionVector{};
  };
  // Partition 1: macroblock types, and DC coefficients (intra) or motion vectors (predicted).
  for (;;) {
    if (codingType_ == 0 ? br.Peek(19) == kDcMarker : br.Peek(17) == kMotionMarker) break;
    if (mbIndex >= mbCount_ || br.Overrun()) return false;
    MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
    mb.packet = packet;
    mb.acPred = 0;
    if (codingType_ == 1 && br.ReadBit()) {
      mb.type = -1;
      mb.cbp = 0;
      clearMvs(mbIndex);
      ++mbIndex;
      continue;
    }
    int mcbpc = DecodeVlc(br, codingType_ == 0 ? t.mcbpcIntra : t.mcbpcInter);
    if (mcbpc < 0) return false;
    if (mcbpc == kMcbpcStuffing) continue;
    int type = mcbpc >> 2;
    mb.type = static_cast<std::int8_t>(type);
    mb.cbp = static_cast<std::uint8_t>(mcbpc & 3);
    if (codingType_ == 0) {
      if (type == kMbIntraQ) {
        static const int kDquant[4] = {-1, -2, 1, 2};
        qp_ = Clip(qp_ + kDquant[br.Read(2)], 1, 31);
      }
      mb.qp = static_cast<std::uint8_t>(qp_);
      if (qp_ < intraDcThreshold_) {
        for (int b = 0; b < 6; ++b)
          if (!ReadDcDiff(br, b, &mb.dcDiff[b])) return false;
      }
      clearMvs(mbIndex);
    } else if (type >= kMbIntra) {
      clearMvs(mbIndex);
    } else if (!ReadMotionVectors(br, mbIndex)) {
      return false;
    }
    ++mbIndex;
  }
  br.Skip(codingType_ == 0 ? 19 : 17);
  // Partition 2: prediction flags, coded block patterns, quantiser changes (and DC, predicted).
  for (int i = first; i < mbIndex; ++i) {
    MbState& mb = mbs_[static_cast<std::size_t>(i)];
    if (mb.type < 0) {
      mb.qp = static_cast<std::uint8_t>(qp_);
      continue;
    }
    bool intra = mb.type >= kMbIntra;
    if (intra) mb.acPred = static_cast<std::uint8_t>(br.Read(1));
    int cbpy = DecodeVlc(br, t.cbpy);
    if (cbpy < 0) return false;
    if (!intra) cbpy = 15 - cbpy;
    mb.cbp = static_cast<std::uint8_t>(mb.cbp | (cbpy << 2));
    if (codingType_ == 1) {
      if (mb.type == kMbInterQ || mb.type == kMbIntraQ) {
        static const int kDquant[4] = {-1, -2, 1, 2};
        qp_ = Clip(qp_ + kDquant[br.Read(2)], 1, 31);
      }
      mb.qp = static_cast<std::uint8_t>(qp_);
      if (intra && qp_ < intraDcThreshold_) {
        for (int b = 0; b < 6; ++b)
          if (!ReadDcDiff(br, b, &mb.dcDiff[b])) return false;
      }
    }
    if (br.Overrun()) return false;
  }
  // Partition 3: coefficients.
  for (int i = first; i < mbIndex; ++i) {
    const MbState& mb = mbs_[static_cast<std::size_t>(i)];
    if (!DecodeMacroblockTexture(br, i, mb.qp < intraDcThreshold_)) return false;
    if (br.Overrun()) return false;
  }
  return true;
}

BrindleResult Decoder::DecodeShortHeader(BitReader& br) {
  br.Skip(22);
  int tr = static_cast<int>(br.Read(8));
  if (!br.ReadBit() || br.ReadBit()) return kBrindleError;
  br.Skip(3);
  int format = static_cast<int>(br.Read(3));
  static const int kFormats[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  if (format < 1 || format > 5) return kBrindleError;
  int codingType = static_cast<int>(br.Read(1));
  if (br.Read(4) != 0) return kBrindleError;  // unrestricted vectors, arithmetic coding, advanced prediction, PB
  int qp = static_cast<int>(br.Read(5));
  if (qp == 0) return kBrindleError;
  if (br.ReadBit()) return kBrindleError;  // continuous presence multipoint
  while (br.ReadBit()) {
    br.Skip(8);
    if (br.Overrun()) return kBrindleError;
  }
  if (br.Overrun()) return kBrindleError;
  if (kFormats[format][0] != layer_.width || kFormats[format][1] != layer_.height) {
    LayerInfo layer = layer_;
    layer.width = kFormats[format][0];
    layer.height = kFormats[format][1];
    if (Configure(layer) != kBrindleOk) return kBrindleError;
  }
  // Picture time: 1001/30 ms per temporal reference step.
  if (lastTemporalReference_ >= 0) {
    std::uint64_t total =
        static_cast<std::uint64_t>((tr - lastTemporalReference_ + 256) % 256) * 1001 + timeRemainder_;
    timeMs_ += total / 30;
    timeRemainder_ = total % 30;
  }
  lastTemporalReference_ = tr;

  codingType_ = codingType;
  qp_ = qp;
  rounding_ = 0;
  fcode_ = 1;
  intraDcThreshold_ = 0;
  target_ = &pictures_[current_ ^ 1];
  for (MbState& mb : mbs_) mb.packet = -1;
  int rowsPerGob = layer_.height <= 400 ? 1 : (layer_.height <= 800 ? 2 : 4);
  int gobs = mbHeight_ / rowsPerGob;
  int packet = 0;
  int mbIndex = 0;
  for (int gob = 0; gob < gobs; ++gob) {
    if (gob > 0) {
      std::uint32_t v = br.Peek32();
      int zeros = v == 0 ? 32 : __builtin_clz(v);
      if (zeros >= 16 && zeros <= 23) {
        br.Skip(zeros + 1);
        int gn = static_cast<int>(br.Read(5));
        if (gn != gob) return kBrindleError;  // a picture start or a lost group of blocks
        br.Skip(2);                // frame id
        int q = static_cast<int>(br.Read(5));
        if (q == 0) return kBrindleError;
        qp_ = q;
        ++packet;
      }
    }
    for (int i = 0; i < rowsPerGob * mbWidth_; ++i, ++mbIndex) {
      bool skipped = false;
      if (!DecodeMacroblockHeader(br, mbIndex, packet, &skipped)) return kBrindleError;
      if (!DecodeMacroblockTexture(br, mbIndex, false)) return kBrindleError;
      if (br.Overrun()) return kBrindleError;
    }
  }
  FinishPicture(true);
  return kBrindleOk;
}

void Decoder::FinishPicture(bool swap) {
  if (!swap) return;
  current_ ^= 1;
  haveReference_ = true;
  ++pictureCount_;
  lastCodingType_ = codingType_;
  lastQp_ = qp_;
  intraCount_ = 0;
  skippedCount_ = 0;
  for (int i = 0; i < mbCount_; ++i) {
    const MbState& mb = mbs_[static_cast<std::size_t>(i)];
    mbQp_[static_cast<std::size_t>(i)] = mb.qp;
    if (mb.type >= kMbIntra) ++intraCount_;
    if (mb.type < 0) ++skippedCount_;
  }
}

}  // namespace brindle
