// Motion: vector prediction and decoding, and motion-compensated prediction of a macroblock.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder.h"
#include "decoder_helpers.h"
#include "tables.h"

namespace brindle {

MotionVector Decoder::PredictMv(int mbIndex, int block) const {
  int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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
  int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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

// The reference is extended without limit by repeating its edge samples: the rows x columns
// samples at (ix, iy) are gathered into edge_ when some of them lie outside.
const std::uint8_t* Decoder::EdgeBlock(const Plane& ref, int ix, int iy, int columns, int rows) {
  bool insideX = ix >= 0 && ix + columns <= ref.width;
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
  return edge_;
}

inline void Decoder::PredictBlock(std::uint8_t* dst, int dstStride, const Plane& ref, int x, int y, int mvx,
                                  int mvy, int size) {
  int ix = x + (mvx >> 1), iy = y + (mvy >> 1);
  int mode = (mvx & 1) | ((mvy & 1) << 1);
  int columns = size + (mode & 1), rows = size + (mode >> 1);  // samples the interpolation reads
  const std::uint8_t* src;
  int srcStride;
  if (ix >= 0 && ix + columns <= ref.width && iy >= 0 && iy + rows <= ref.height) {
    src = ref.data + iy * ref.stride + ix;
    srcStride = ref.stride;
  } else {
    src = EdgeBlock(ref, ix, iy, columns, rows);
    srcStride = 32;
  }
  dsp_->predict(dst, dstStride, src, srcStride, size, size, mode, rounding_);
}

void Decoder::PredictMacroblock(int mbIndex) {
  const MbState& mb = mbs_[static_cast<std::size_t>(mbIndex)];
  int mbx = mbs_[static_cast<std::size_t>(mbIndex)].x, mby = mbs_[static_cast<std::size_t>(mbIndex)].y;
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

}  // namespace brindle
