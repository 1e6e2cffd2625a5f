// Stream headers: visual object sequence, visual object, video object layer, and the H.263
// picture header size.

#include <algorithm>

#include "decoder.h"

namespace brindle {

std::size_t FindStartCode(const std::uint8_t* data, std::size_t size, std::size_t from) {
  for (std::size_t i = from; i + 3 <= size; ++i) {
    if (data[i + 2] > 1) {
      i += 2;  // neither of the next two positions can start a prefix ending here
      continue;
    }
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
  }
  return size;
}

namespace {

bool Marker(BitReader& br) {
  return br.ReadBit();
}

// define_vop_complexity_estimation_header: records how many bits each picture type carries.
bool ParseComplexityDefinition(BitReader& br, LayerInfo& layer) {
  int method = static_cast<int>(br.Read(2));
  if (method > 1) return false;
  int bitsI = 0, bitsP = 0;
  if (!br.ReadBit()) {  // shape: opaque, transparent, intra_cae, inter_cae, no_update, upsampling
    for (int i = 0; i < 6; ++i) {
      int f = static_cast<int>(br.Read(1)) * 8;
      bitsI += f;
      bitsP += f;
    }
  }
  if (!br.ReadBit()) {  // texture set 1: intra, inter, inter4v, not coded
    int intra = static_cast<int>(br.Read(1)) * 8, inter = static_cast<int>(br.Read(1)) * 8;
    int inter4v = static_cast<int>(br.Read(1)) * 8, notCoded = static_cast<int>(br.Read(1)) * 8;
    bitsI += intra + notCoded;
    bitsP += intra + inter + inter4v + notCoded;
  }
  if (!Marker(br)) return false;
  if (!br.ReadBit()) {  // texture set 2: dct coefs, dct lines, vlc symbols, vlc bits (4 bits)
    int f = static_cast<int>(br.Read(1) + br.Read(1) + br.Read(1)) * 8 + static_cast<int>(br.Read(1)) * 4;
    bitsI += f;
    bitsP += f;
  }
  if (!br.ReadBit()) {  // motion: apm, npm, interpolate (B only), forw_back, halfpel2, halfpel4
    int apm = static_cast<int>(br.Read(1)), npm = static_cast<int>(br.Read(1));
    br.Read(1);
    int fb = static_cast<int>(br.Read(1)), h2 = static_cast<int>(br.Read(1)),
        h4 = static_cast<int>(br.Read(1));
    bitsP += (apm + npm + fb + h2 + h4) * 8;
  }
  if (!Marker(br)) return false;
  if (method == 1 && !br.ReadBit()) {  // version 2: sadct, quarterpel
    int sadct = static_cast<int>(br.Read(1)) * 8, qpel = static_cast<int>(br.Read(1)) * 8;
    bitsI += sadct;
    bitsP += sadct + qpel;
  }
  layer.complexityEstimation = true;
  layer.complexityBitsI = bitsI;
  layer.complexityBitsP = bitsP;
  return true;
}

ParseResult ParseVol(BitReader& br, LayerInfo& layer) {
  br.Skip(1);  // random_accessible_vol
  br.Skip(8);  // video_object_type_indication
  if (br.ReadBit()) {
    layer.verid = static_cast<int>(br.Read(4));
    br.Skip(3);  // priority
    if (layer.verid != 1 && layer.verid != 2) return ParseResult::kUnsupported;
  }
  layer.aspectRatio = static_cast<int>(br.Read(4));
  if (layer.aspectRatio == 15) {
    layer.parWidth = static_cast<int>(br.Read(8));
    layer.parHeight = static_cast<int>(br.Read(8));
  }
  if (br.ReadBit()) {                                       // vol_control_parameters
    if (br.Read(2) != 1) return ParseResult::kUnsupported;  // chroma 4:2:0 only
    layer.lowDelay = br.ReadBit();
    layer.vbvParameters = br.ReadBit();
    if (layer.vbvParameters) {
      std::uint32_t hi = br.Read(15);
      if (!Marker(br)) return ParseResult::kUnsupported;
      std::uint32_t lo = br.Read(15);
      if (!Marker(br)) return ParseResult::kUnsupported;
      layer.bitRate = (hi << 15) | lo;
      hi = br.Read(15);
      if (!Marker(br)) return ParseResult::kUnsupported;
      lo = br.Read(3);
      layer.vbvBufferSize = (hi << 3) | lo;
      hi = br.Read(11);
      if (!Marker(br)) return ParseResult::kUnsupported;
      lo = br.Read(15);
      if (!Marker(br)) return ParseResult::kUnsupported;
      layer.vbvOccupancy = (hi << 15) | lo;
    }
  }
  if (br.Read(2) != 0) return ParseResult::kUnsupported;  // rectangular shape only
  if (!Marker(br)) return ParseResult::kUnsupported;
  layer.timeResolution = static_cast<int>(br.Read(16));
  if (layer.timeResolution == 0) return ParseResult::kUnsupported;
  if (!Marker(br)) return ParseResult::kUnsupported;
  layer.timeIncrementBits = 1;
  while ((1 << layer.timeIncrementBits) < layer.timeResolution) ++layer.timeIncrementBits;
  layer.fixedVopRate = br.ReadBit();
  if (layer.fixedVopRate) layer.fixedIncrement = static_cast<int>(br.Read(layer.timeIncrementBits));
  if (!Marker(br)) return ParseResult::kUnsupported;
  layer.width = static_cast<int>(br.Read(13));
  if (!Marker(br)) return ParseResult::kUnsupported;
  layer.height = static_cast<int>(br.Read(13));
  if (!Marker(br)) return ParseResult::kUnsupported;
  if (layer.width == 0 || layer.height == 0 || layer.width > 2048 || layer.height > 2048)
    return ParseResult::kUnsupported;
  if (br.ReadBit()) return ParseResult::kUnsupported;   // interlaced
  if (!br.ReadBit()) return ParseResult::kUnsupported;  // overlapped block motion compensation
  if (br.Read(layer.verid == 1 ? 1 : 2) != 0) return ParseResult::kUnsupported;  // sprites
  if (br.ReadBit()) return ParseResult::kUnsupported;                            // not_8_bit
  if (br.ReadBit()) return ParseResult::kUnsupported;                      // MPEG quantisation with matrices
  if (layer.verid != 1 && br.ReadBit()) return ParseResult::kUnsupported;  // quarter_sample
  if (!br.ReadBit() && !ParseComplexityDefinition(br, layer)) return ParseResult::kUnsupported;
  layer.resyncMarkerDisable = br.ReadBit();
  layer.dataPartitioned = br.ReadBit();
  layer.reversibleVlc = layer.dataPartitioned ? br.ReadBit() : false;
  if (layer.verid != 1) {
    if (br.ReadBit()) return ParseResult::kUnsupported;  // newpred
    if (br.ReadBit()) return ParseResult::kUnsupported;  // reduced resolution
  }
  if (br.ReadBit()) return ParseResult::kUnsupported;  // scalability
  if (br.Overrun()) return ParseResult::kUnsupported;
  return ParseResult::kOk;
}

bool IsPictureStartCode(const std::uint8_t* p, std::size_t left) {
  return left >= 3 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80;
}

}  // namespace

bool ParseH263Size(const std::uint8_t* data, std::size_t size, int* width, int* height) {
  BitReader br(data, size);
  if (br.Read(22) != 0x20) return false;
  br.Skip(8);                       // temporal reference
  if (!br.ReadBit()) return false;  // marker
  if (br.ReadBit()) return false;   // distinguishes H.263 from H.261
  br.Skip(3);                       // split screen, document camera, freeze release
  static const int kFormats[8][2] = {{0, 0},     {128, 96},    {176, 144}, {352, 288},
                                     {704, 576}, {1408, 1152}, {0, 0},     {0, 0}};
  int format = static_cast<int>(br.Read(3));
  if (format < 1 || format > 5) return false;
  if (br.Overrun()) return false;
  *width = kFormats[format][0];
  *height = kFormats[format][1];
  return true;
}

ParseResult ParseLayerHeaders(const std::uint8_t* data, std::size_t size, LayerInfo& layer,
                              std::size_t* consumed) {
  if (IsPictureStartCode(data, size) ||
      (size >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 0 && FindStartCode(data, size, 0) >= size)) {
    int w = 0, h = 0;
    std::size_t psc = 0;
    while (psc < size && data[psc] == 0 && !IsPictureStartCode(data + psc, size - psc)) ++psc;
    if (!ParseH263Size(data + psc, size - psc, &w, &h)) return ParseResult::kUnsupported;
    layer = LayerInfo{};
    layer.shortHeader = true;
    layer.width = w;
    layer.height = h;
    layer.timeResolution = 30000;
    *consumed = 0;
    return ParseResult::kOk;
  }
  std::size_t pos = FindStartCode(data, size, 0);
  LayerInfo parsed;
  bool haveLayer = false;
  while (pos < size) {
    if (pos + 4 > size) break;
    int code = data[pos + 3];
    std::size_t body = pos + 4;
    std::size_t next = FindStartCode(data, size, body);
    if (haveLayer && code != 0xB2) break;  // user data after the layer belongs to it
    BitReader br(data + body, size - body);
    if (code == 0xB0) {
      parsed.profileAndLevel = static_cast<int>(br.Read(8));
      int pl = parsed.profileAndLevel;
      if (pl != 1 && pl != 2 && pl != 3 && pl != 8) return ParseResult::kUnsupported;
    } else if (code == 0xB5) {
      if (br.ReadBit()) {
        int verid = static_cast<int>(br.Read(4));
        int priority = static_cast<int>(br.Read(3));
        if ((verid != 1 && verid != 2) || priority == 0) return ParseResult::kUnsupported;
      }
      if (br.Read(4) != 1) return ParseResult::kUnsupported;  // video objects only
      if (br.ReadBit()) {                                     // video_signal_type
        br.Skip(4);                                           // video_format, full range
        if (br.ReadBit()) br.Skip(24);                        // colour description
      }
    } else if (code >= 0x20 && code <= 0x2F) {
      int profile = parsed.profileAndLevel;
      parsed = LayerInfo{};
      parsed.profileAndLevel = profile;
      ParseResult r = ParseVol(br, parsed);
      if (r != ParseResult::kOk) return r;
      haveLayer = true;
    } else if (code == 0xB6 || code == 0xB3) {
      break;
    }
    // Visual object start codes (00..1F), user data (B2) and anything else are skipped.
    pos = next;
  }
  if (!haveLayer) return ParseResult::kNotFound;
  layer = parsed;
  *consumed = std::min(pos, size);
  return ParseResult::kOk;
}

}  // namespace brindle
