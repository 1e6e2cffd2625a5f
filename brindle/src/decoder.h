#pragma once
// The picture decoder behind the exported entry points: MPEG-4 Simple Profile video object planes
// (plain, data-partitioned, with reversible VLC) and short-header / H.263 baseline pictures.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bitstream/bit_reader.h"
#include "brindle/brindle.h"
#include "dsp.h"

namespace brindle {

using bitstream::BitReader;

// Fields of the video object layer header (or the implied layer of short-header video).
struct LayerInfo {
  int profileAndLevel = 0;  // from the visual object sequence header, 0 when absent
  int verid = 1;
  int aspectRatio = 1;
  int parWidth = 0;
  int parHeight = 0;
  bool lowDelay = false;
  bool vbvParameters = false;
  std::uint32_t bitRate = 0;
  std::uint32_t vbvBufferSize = 0;
  std::uint32_t vbvOccupancy = 0;
  int timeResolution = 30000;
  int timeIncrementBits = 15;
  bool fixedVopRate = false;
  int fixedIncrement = 0;
  int width = 0;
  int height = 0;
  bool complexityEstimation = false;
  int complexityBitsI = 0;  // bits of the per-picture complexity fields, by picture type
  int complexityBitsP = 0;
  bool resyncMarkerDisable = true;
  bool dataPartitioned = false;
  bool reversibleVlc = false;
  bool shortHeader = false;
};

enum class ParseResult { kOk, kUnsupported, kNotFound };

// Reads the VOS, VO and VOL headers at the start of data (user data is skipped). On success
// *consumed is the offset just past the layer header (at the next start code or the end).
ParseResult ParseLayerHeaders(const std::uint8_t* data, std::size_t size, LayerInfo& layer,
                              std::size_t* consumed);

// Size of an H.263 picture from its header at data (22-bit start code first); false when the
// header is not a supported baseline header.
bool ParseH263Size(const std::uint8_t* data, std::size_t size, int* width, int* height);

// Offset of the first start code prefix 00 00 01 at or after from, or size.
std::size_t FindStartCode(const std::uint8_t* data, std::size_t size, std::size_t from);

// A reference picture: one block of (w16 x h16 x 3/2 + 4) bytes, planes aligned to 4 bytes.
struct Picture {
  std::unique_ptr<std::uint8_t[]> memory;
  std::uint8_t* y = nullptr;
  std::uint8_t* u = nullptr;
  std::uint8_t* v = nullptr;
  int stride = 0;  // luma pitch = width rounded up to 16
  int chromaStride = 0;
};

struct MotionVector {
  std::int16_t x = 0;
  std::int16_t y = 0;
};

class Decoder {
 public:
  Decoder() = default;

  // Allocates the pictures for the layer; kBrindleOk, or kBrindleNoMemory when memory is short.
  BrindleResult Configure(const LayerInfo& layer);
  // Decodes one picture starting at data. Returns kBrindleOk for a coded picture, kBrindleNotCoded
  // for a picture that was not coded (the reference stands), kBrindleError when the picture is
  // broken or unsupported (references untouched). *consumed receives the bytes that belong to the
  // picture.
  BrindleResult Decode(const std::uint8_t* data, std::size_t size, std::size_t* consumed);
  void Reset();

  const Picture& Current() const { return pictures_[current_]; }
  const LayerInfo& Layer() const { return layer_; }
  int Width() const { return layer_.width; }
  int Height() const { return layer_.height; }
  int PaddedWidth() const { return mbWidth_ * 16; }
  int PaddedHeight() const { return mbHeight_ * 16; }
  int MbWidth() const { return mbWidth_; }
  int MbHeight() const { return mbHeight_; }
  // Quantiser of each macroblock of the last coded picture, for the post-filter.
  const std::vector<std::uint8_t>& MbQuantisers() const { return mbQp_; }

  std::uint32_t PictureCount() const { return pictureCount_; }
  int LastCodingType() const { return lastCodingType_; }
  int LastQuantiser() const { return lastQp_; }
  std::uint32_t IntraCount() const { return intraCount_; }
  std::uint32_t SkippedCount() const { return skippedCount_; }
  std::uint32_t TimeMs() const { return static_cast<std::uint32_t>(timeMs_); }

  void SetDsp(const Dsp& dsp) { dsp_ = &dsp; }

 private:
  struct MbState {
    std::int8_t type = -1;  // MbType, or -1 for a skipped macroblock
    std::uint8_t cbp = 0;
    std::uint8_t qp = 1;
    std::uint8_t acPred = 0;
    std::int32_t packet = -1;
    std::int16_t dcDiff[6] = {};
    std::uint16_t x = 0;  // position in macroblocks, set once for the layer
    std::uint16_t y = 0;
  };
  struct BlockAc {
    std::int16_t row[7];  // quantised coefficients (0,1)..(0,7)
    std::int16_t col[7];  // quantised coefficients (1,0)..(7,0)
  };
  struct Plane {
    std::uint8_t* data;
    int stride;
    int width;
    int height;
  };

  BrindleResult DecodeMpeg4(BitReader& br);
  BrindleResult DecodeShortHeader(BitReader& br);
  bool ParseVopComplexity(BitReader& br, int codingType);

  bool DecodeCombinedPacket(BitReader& br, int& mbIndex, int packet);
  bool DecodePartitionedPacket(BitReader& br, int& mbIndex, int packet);
  bool ReadPacketHeader(BitReader& br, int expectedMb);
  bool AtResyncMarker(const BitReader& br) const;

  bool DecodeMacroblockHeader(BitReader& br, int mbIndex, int packet, bool* skipped);
  bool ReadMotionVectors(BitReader& br, int mbIndex);
  bool ReadMvComponent(BitReader& br, int fcode, int predictor, int* out);
  MotionVector PredictMv(int mbIndex, int block) const;
  bool ReadDcDiff(BitReader& br, int block, std::int16_t* diff);
  bool DecodeMacroblockTexture(BitReader& br, int mbIndex, bool dcAlreadyRead);
  // Decodes an intra block into coefficients (dequantised, natural order); *dcOnly tells whether
  // every coefficient but the DC is zero.
  bool DecodeIntraBlock(BitReader& br, int mbIndex, int block, bool coded, bool dcAlreadyRead,
                        std::int16_t* coefficients, bool* dcOnly);
  // Reads run/level codes from scan position start into out (natural order): the levels
  // themselves, or dequantised with qp when qp > 0. Returns -1 for a bad code, else the number
  // of codes (each a non-zero coefficient).
  int ReadCoefficients(BitReader& br, bool intra, const std::uint8_t* scan, int start, int qp,
                       std::int16_t* out);
  void PredictMacroblock(int mbIndex);
  void PredictBlock(std::uint8_t* dst, int dstStride, const Plane& ref, int x, int y, int mvx, int mvy,
                    int size);
  const std::uint8_t* EdgeBlock(const Plane& ref, int ix, int iy, int columns, int rows);
  bool NeighbourAvailable(int mbx, int mby, int packet) const;
  void FinishPicture(bool swap);

  LayerInfo layer_;
  const Dsp* dsp_ = &BestDsp();
  Picture pictures_[2];
  int current_ = 0;  // the reference; the other picture receives the next coded picture
  bool haveReference_ = false;
  int mbWidth_ = 0;
  int mbHeight_ = 0;
  int mbCount_ = 0;
  int mbNumberBits_ = 1;

  // Per-picture state.
  int codingType_ = 0;  // 0 intra, 1 predicted
  int qp_ = 1;
  int rounding_ = 0;
  int fcode_ = 1;
  int intraDcThreshold_ = 0;
  std::vector<MbState> mbs_;
  std::vector<MotionVector> mvs_;     // block grid, (2 mbWidth) x (2 mbHeight)
  std::vector<std::int16_t> dcLuma_;  // block grid
  std::vector<std::int16_t> dcChroma_[2];
  std::vector<BlockAc> acLuma_;
  std::vector<BlockAc> acChroma_[2];
  std::vector<std::uint8_t> mbQp_;
  Picture* target_ = nullptr;

  // Statistics and timing.
  std::uint32_t pictureCount_ = 0;
  int lastCodingType_ = -1;
  int lastQp_ = 0;
  std::uint32_t intraCount_ = 0;
  std::uint32_t skippedCount_ = 0;
  int lastTemporalReference_ = -1;
  std::uint64_t timeMs_ = 0;
  std::uint64_t timeRemainder_ = 0;
  std::int64_t moduloTime_ = 0;

  alignas(16) std::uint8_t edge_[32 * 18];
};

}  // namespace brindle
