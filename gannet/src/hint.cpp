// RTP hint tracks: hint samples turned into packets, with media bytes fetched through an offset-mode
// session on the referenced track.
#include <algorithm>
#include <new>

#include "movie.h"

struct HintTrakSession {
  MovieFile* movie = nullptr;
  gannet::TrackRecord* hintTrack = nullptr;
  TrakSession* hint = nullptr;   // cursor over the hint samples
  TrakSession* media = nullptr;  // offset mode, first 'hint' referenced track
  TrakSession* self = nullptr;   // offset mode, the hint track itself (reference index -1)
  std::vector<uint8_t> sample;
  uint32_t sampleSize = 0;
  bool loaded = false;
  uint32_t packetTotal = 0;
  uint32_t nextPacket = 0;
  size_t nextPos = 0;
  uint64_t sampleTime = 0;  // hint media units
  std::vector<std::vector<uint8_t>> payloads;

  ~HintTrakSession() {
    gCloseTrakSession(hint);
    gCloseTrakSession(media);
    gCloseTrakSession(self);
  }
};

namespace gannet {
namespace {

constexpr size_t kConstructorSize = 16;
// Hint samples hold packet descriptions, not media; a larger "largest sample" is a damaged table and
// must not turn into an allocation of that size.
constexpr uint32_t kMaxHintSampleSize = 4u << 20;
constexpr uint16_t kRtpVersion2 = 0x8000;

bool LoadHintSample(HintTrakSession* h, uint32_t n) {
  h->loaded = false;
  SampleLocation loc;
  if (!LocateSample(h->hint, n, true, &loc)) return false;
  if (loc.size > h->sample.size() || loc.size < 4) return false;
  if (!ReadTrackBytes(h->movie, h->hintTrack, loc.drefIndex, loc.offset, h->sample.data(), loc.size)) {
    h->hint->lastSample = -1;
    return false;
  }
  h->sampleSize = loc.size;
  h->sampleTime = loc.decodeTime;
  h->packetTotal = Be16(h->sample.data());
  h->nextPacket = 0;
  h->nextPos = 4;
  h->loaded = true;
  return true;
}

// Appends `length` bytes at `offset` of sample `n` of the session's track.
bool AppendSampleData(TrakSession* s, uint32_t n, uint32_t offset, uint16_t length,
                      std::vector<uint8_t>* out) {
  if (!s) return false;
  size_t at = out->size();
  out->resize(at + length);
  if (length == 0) return true;
  s->offsetMode = true;
  s->addOffset = offset;
  s->forcedLength = length;
  SampleRequest req{n, 0, 0, 0, out->data() + at};
  return gReadSample(s, &req) == 0;
}

// Builds one packet from the loaded hint sample at h->nextPos.
bool BuildPacket(HintTrakSession* h, HintPacket* packet, std::vector<uint8_t>* payload, int32_t* rtpOffset) {
  ByteReader r(h->sample.data() + h->nextPos, h->sampleSize - h->nextPos);
  r.Skip(4);  // relative time
  uint16_t info = r.U16();
  uint16_t sequence = r.U16();
  uint16_t flags = r.U16();
  uint16_t entries = r.U16();
  if (!r.ok()) return false;
  if (flags & 0x4) {
    // Extra information: a length (itself included) and type-length-value boxes.
    uint32_t length = r.U32();
    if (length < 4 || length - 4 > r.remaining()) return false;
    ByteReader tlv = r.Sub(length - 4);
    while (tlv.remaining() >= 8) {
      uint32_t size = tlv.U32();
      uint32_t type = tlv.U32();
      if (size < 8 || size - 8 > tlv.remaining()) return false;
      ByteReader data = tlv.Sub(size - 8);
      if (type == FourCc("rtpo")) *rtpOffset = int32_t(data.U32());
    }
  }
  if (size_t(entries) * kConstructorSize > r.remaining()) return false;
  payload->clear();
  for (uint16_t i = 0; i < entries; ++i) {
    ByteReader c = r.Sub(kConstructorSize);
    uint8_t kind = c.U8();
    if (kind == 1) {
      uint8_t count = c.U8();
      if (count > 14) return false;
      payload->insert(payload->end(), c.pos(), c.pos() + count);
    } else if (kind == 2) {
      int8_t refIndex = int8_t(c.U8());
      uint16_t length = c.U16();
      uint32_t sampleNumber = c.U32();
      uint32_t sampleOffset = c.U32();
      TrakSession* source = refIndex == -1 ? h->self : refIndex == 0 ? h->media : nullptr;
      if (source && !AppendSampleData(source, sampleNumber, sampleOffset, length, payload)) return false;
    }
    if (payload->size() > 0xFFFF) return false;
  }
  if (!r.ok()) return false;
  packet->rtpHeader = uint16_t(kRtpVersion2 | (info & 0x30FF));
  packet->sequenceNumber = sequence;
  packet->payloadLength = uint16_t(payload->size());
  packet->spare = 0;
  packet->payload = payload->data();
  h->nextPos = size_t(r.pos() - h->sample.data());
  return true;
}

}  // namespace
}  // namespace gannet

using namespace gannet;

extern "C" int gOpenHintTrakSession(MovieFile* movie, HintTrakSession** out, uint32_t hintTrackId) {
  if (!out) return kGannetError;
  *out = nullptr;
  TrackRecord* track = FindTrack(movie, hintTrackId, nullptr);
  if (!track || track->type != kGannetTrackHint || track->hintRefIndex < 0) return kGannetError;
  const std::vector<uint32_t>& refs = track->refs[size_t(track->hintRefIndex)].ids;
  if (refs.empty() || track->maxSampleSize > kMaxHintSampleSize) return kGannetError;
  try {
    auto h = std::make_unique<HintTrakSession>();
    h->movie = movie;
    h->hintTrack = track;
    h->sample.resize(track->maxSampleSize);
    if (gOpenTrakSession(movie, &h->hint, hintTrackId) != 0) return kGannetError;
    if (gOpenTrakSession(movie, &h->media, refs[0]) != 0) return kGannetError;
    if (gOpenTrakSession(movie, &h->self, hintTrackId) != 0) return kGannetError;
    h->media->offsetMode = true;
    h->self->offsetMode = true;
    *out = h.release();
    return kGannetOk;
  } catch (const std::bad_alloc&) {
    return kGannetError;
  }
}

extern "C" int gReadHintSample(HintTrakSession* h, HintRequest* req) {
  if (!h || !req || (req->packetCount > 0 && !req->packets)) return kGannetError;
  try {
    if (req->loadFlag == 0 && !LoadHintSample(h, req->sampleNumber)) return kGannetError;
    if (!h->loaded) return kGannetError;
    // Payload buffers only for the packets that can be built, whatever capacity the caller names.
    uint32_t wanted = std::min(req->packetCount, h->packetTotal - h->nextPacket);
    if (h->payloads.size() < wanted) h->payloads.resize(wanted);
    int32_t rtpOffset = 0;
    uint32_t built = 0;
    while (built < wanted) {
      int32_t offset = 0;
      if (!BuildPacket(h, &req->packets[built], &h->payloads[built], &offset)) {
        h->loaded = false;
        return kGannetError;
      }
      if (built == 0) rtpOffset = offset;
      ++built;
      ++h->nextPacket;
    }
    uint64_t time = h->sampleTime;
    uint32_t timescale = h->hintTrack->timescale;
    if (h->hintTrack->hintTimescale && timescale && h->hintTrack->hintTimescale != timescale)
      time = time * h->hintTrack->hintTimescale / timescale;
    req->timestamp = uint32_t(time) + uint32_t(rtpOffset);
    req->packetCount = built;
    return kGannetOk;
  } catch (const std::bad_alloc&) {
    return kGannetError;
  }
}

extern "C" int gCloseHintTrakSession(HintTrakSession* h) {
  if (!h) return kGannetError;
  delete h;
  return kGannetOk;
}

extern "C" int gGetMaxPacketSize(TrakSession* s, uint32_t* size) {
  if (!s || !size) return kGannetError;
  const std::vector<uint8_t>& stsd = s->track->tables.stsd;
  if (s->track->type != kGannetTrackHint || stsd.size() < 16 + 24) return kGannetError;
  const uint8_t* entry = stsd.data() + 16;
  if (Be32(entry + 4) != FourCc("rtp ") || Be32(entry) < 24) return kGannetError;
  *size = Be32(entry + 20);
  return kGannetOk;
}
