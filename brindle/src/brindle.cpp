// Exported entry points: stream information, the two factories and the decoder's slots.

#include "brindle/brindle.h"

#include <algorithm>
#include <new>
#include <vector>

#include "decoder.h"
#include "output.h"

namespace {

using brindle::Decoder;

struct DecoderObject {
  VideoDecoder slots;  // must stay the first member: callers see only the entry points
  Decoder core;
  std::int32_t postFilterLevel = 0;
  CreationRecord creation{};
  std::vector<std::uint8_t> scratch;

  DecoderObject() = default;
};

DecoderObject* Self(VideoDecoder* decoder) {
  return reinterpret_cast<DecoderObject*>(decoder);
}

// Delivered size: the creation size rounded down to 4, within the decoded (macroblock-aligned)
// picture; a creation size of 0 means the layer's own size.
void OutputSize(const DecoderObject& self, int* width, int* height) {
  int w = self.creation.width > 0 ? std::min<int>(self.creation.width, self.core.PaddedWidth())
                                  : self.core.Width();
  int h = self.creation.height > 0 ? std::min<int>(self.creation.height, self.core.PaddedHeight())
                                   : self.core.Height();
  *width = w & ~3;
  *height = h & ~3;
}

void Deliver(DecoderObject& self, PlanarFrame& frame) {
  int w, h;
  OutputSize(self, &w, &h);
  brindle::CopyOutput(self.core, w, h, self.creation.orientation, self.postFilterLevel, self.scratch, frame);
}

std::int32_t Decode(VideoDecoder* decoder, const std::uint8_t* data, std::uint32_t* size,
                    PlanarFrame* output) {
  if (decoder == nullptr || size == nullptr) return kBrindleError;
  DecoderObject& self = *Self(decoder);
  std::size_t consumed = 0;
  const BrindleResult r = data == nullptr ? kBrindleError : self.core.Decode(data, *size, &consumed);
  *size = static_cast<std::uint32_t>(consumed);
  if (r < 0) return kBrindleError;
  if (output != nullptr && output->y != nullptr && output->u != nullptr && output->v != nullptr)
    Deliver(self, *output);
  return kBrindleOk;
}

std::int32_t DecodeNoOutput(VideoDecoder* decoder, const std::uint8_t* data, std::uint32_t* size) {
  return Decode(decoder, data, size, nullptr);
}

std::int32_t SetParameter(VideoDecoder* decoder, std::int32_t type, std::int32_t value) {
  if (decoder == nullptr || type != 0) return kBrindleError;
  Self(decoder)->postFilterLevel = value;
  return kBrindleOk;
}

std::int32_t Control(VideoDecoder* decoder, std::int32_t type, void* record) {
  if (decoder == nullptr || record == nullptr) return kBrindleError;
  DecoderObject& self = *Self(decoder);
  switch (type) {
    case 0:
      *static_cast<std::int32_t*>(record) = self.postFilterLevel;
      return kBrindleOk;
    case 1: {
      auto* frame = static_cast<PlanarFrame*>(record);
      if (frame->y == nullptr || frame->u == nullptr || frame->v == nullptr) return kBrindleError;
      Deliver(self, *frame);
      return kBrindleOk;
    }
    case 2: {
      auto* s = static_cast<PictureSummary*>(record);
      s->pictureCount = self.core.PictureCount();
      s->codingType = self.core.LastCodingType() < 0 ? 0xFFFFFFFFu
                                                     : static_cast<std::uint32_t>(self.core.LastCodingType());
      s->quantiser = static_cast<std::uint32_t>(self.core.LastQuantiser());
      s->intraMacroblocks = self.core.IntraCount();
      s->skippedMacroblocks = self.core.SkippedCount();
      s->timeMs = self.core.TimeMs();
      s->width = static_cast<std::uint16_t>(self.core.Width());
      s->height = static_cast<std::uint16_t>(self.core.Height());
      return kBrindleOk;
    }
    case 3:
      *static_cast<std::int32_t*>(record) = brindle::PictureActivity(self.core);
      return kBrindleOk;
    default:
      return kBrindleError;
  }
}

std::int32_t Reset(VideoDecoder* decoder) {
  if (decoder == nullptr) return kBrindleError;
  Self(decoder)->core.Reset();
  return kBrindleOk;
}

std::int32_t Destroy(VideoDecoder* decoder) {
  if (decoder == nullptr) return kBrindleError;
  delete Self(decoder);
  return kBrindleOk;
}

DecoderObject* NewObject(std::int32_t postFilterLevel, const CreationRecord* creation) {
  auto* self = new (std::nothrow) DecoderObject();
  if (self == nullptr) return nullptr;
  self->slots = VideoDecoder{Decode, DecodeNoOutput, SetParameter, Control, Reset, Destroy};
  self->postFilterLevel = postFilterLevel;
  if (creation != nullptr) {
    self->creation = *creation;
    self->creation.width &= ~3;
    self->creation.height &= ~3;
    if (self->creation.width < 0) self->creation.width = 0;
    if (self->creation.height < 0) self->creation.height = 0;
    if (self->creation.orientation < 0 || self->creation.orientation > 3) self->creation.orientation = 0;
  }
  return self;
}

}  // namespace

extern "C" {

const char* BrindleResultName(std::int32_t result) {
  switch (result) {
    case kBrindleOk:
      return "kBrindleOk";
    case kBrindleError:
      return "kBrindleError";
    case kBrindleNoMemory:
      return "kBrindleNoMemory";
    case kBrindleNotCoded:
      return "kBrindleNotCoded";
  }
  return "unknown result";
}

std::int32_t gGetStreamInfo(const void* data, std::uint32_t size, StreamInfo* info) {
  if (data == nullptr || info == nullptr) return kBrindleError;
  brindle::LayerInfo layer;
  std::size_t consumed = 0;
  if (brindle::ParseLayerHeaders(static_cast<const std::uint8_t*>(data), size, layer, &consumed) !=
      brindle::ParseResult::kOk)
    return kBrindleError;
  info->spare = 0;
  if (layer.shortHeader) {
    info->kind = 0;
    info->width = static_cast<std::uint16_t>(layer.width);
    info->height = static_cast<std::uint16_t>(layer.height);
  } else {
    info->kind = 1;
    info->width = static_cast<std::uint16_t>((layer.width + 15) & ~15);
    info->height = static_cast<std::uint16_t>((layer.height + 15) & ~15);
  }
  return kBrindleOk;
}

std::int32_t gCreateMP4SPDecoder(VideoDecoder** decoder, const std::uint8_t* info, std::uint32_t* size,
                                 std::int32_t postFilterLevel, const CreationRecord* creation) {
  if (decoder == nullptr || info == nullptr || size == nullptr) return kBrindleError;
  brindle::LayerInfo layer;
  std::size_t consumed = 0;
  if (brindle::ParseLayerHeaders(info, *size, layer, &consumed) != brindle::ParseResult::kOk)
    return kBrindleError;
  DecoderObject* self = NewObject(postFilterLevel, creation);
  if (self == nullptr) return kBrindleNoMemory;
  if (self->core.Configure(layer) != kBrindleOk) {
    delete self;
    return kBrindleNoMemory;
  }
  *size = static_cast<std::uint32_t>(consumed);
  *decoder = &self->slots;
  return kBrindleOk;
}

std::int32_t gCreateH263Decoder(VideoDecoder** decoder, std::int32_t width, std::int32_t height,
                                std::int32_t postFilterLevel, const CreationRecord* creation) {
  if (decoder == nullptr || width <= 0 || height <= 0 || width > 2048 || height > 2048) return kBrindleError;
  brindle::LayerInfo layer;
  layer.shortHeader = true;
  layer.width = width;
  layer.height = height;
  DecoderObject* self = NewObject(postFilterLevel, creation);
  if (self == nullptr) return kBrindleNoMemory;
  if (self->core.Configure(layer) != kBrindleOk) {
    delete self;
    return kBrindleNoMemory;
  }
  *decoder = &self->slots;
  return kBrindleOk;
}

}  // extern "C"
