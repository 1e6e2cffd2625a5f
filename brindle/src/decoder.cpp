#include "decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "decoder_helpers.h"
#include "tables.h"

namespace brindle {
namespace {

// Offset of the first H.263 picture start code (00 00, then 1000 00 in the high bits) at or after
// from, or size.
std::size_t FindPictureStart(const std::uint8_t* data, std::size_t size, std::size_t from) {
  for (std::size_t i = from; i + 3 <= size;) {
    std::uint8_t c = data[i + 2];
    if (c != 0 && (c & 0xFC) != 0x80) {
      i += 3;  // no code can start at i, i + 1 or i + 2: each needs a zero or the code's third byte here
      continue;
    }
    if (data[i] == 0 && data[i + 1] == 0 && (c & 0xFC) == 0x80) return i;
    ++i;
  }
  return size;
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
    for (int i = 0; i < mbCount; ++i) {
      mbs[static_cast<std::size_t>(i)].x = static_cast<std::uint16_t>(i % mbWidth);
      mbs[static_cast<std::size_t>(i)].y = static_cast<std::uint16_t>(i / mbWidth);
    }
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
    std::size_t psc = FindPictureStart(data, size, 0);
    if (psc == size) {
      *consumed = size;
      return kBrindleError;
    }
    std::size_t end = FindPictureStart(data, size, psc + 3);
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
  if (!br.ReadBit())
    return br.Overrun() ? kBrindleError : kBrindleNotCoded;  // vop_coded = 0: the reference stands
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
    int mbx = mbs_[static_cast<std::size_t>(index)].x, mby = mbs_[static_cast<std::size_t>(index)].y;
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
  if (br.Read(4) != 0)
    return kBrindleError;  // unrestricted vectors, arithmetic coding, advanced prediction, PB
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
        br.Skip(2);                           // frame id
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
