// Macroblock headers: type, coded block pattern, quantiser change and the neighbours' state.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder.h"
#include "decoder_helpers.h"
#include "tables.h"

namespace brindle {

bool Decoder::NeighbourAvailable(int mbx, int mby, int packet) const {
  if (mbx < 0 || mby < 0 || mbx >= mbWidth_ || mby >= mbHeight_) return false;
  return mbs_[static_cast<std::size_t>(mby * mbWidth_ + mbx)].packet == packet;
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
      int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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
    int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
    int gw = 2 * mbWidth_;
    for (int b = 0; b < 4; ++b)
      mvs_[static_cast<std::size_t>((2 * mby + (b >> 1)) * gw + 2 * mbx + (b & 1))] = MotionVector{};
    return true;
  }
  return ReadMotionVectors(br, mbIndex);
}

}  // namespace brindle
