// Movie and track queries: counts, id lists, media info, decoder configurations, references, SDP.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "movie.h"

namespace gannet {

uint32_t EntryChildOffset(uint32_t entryType, uint32_t trackType) {
  switch (entryType) {
    case FourCc("mp4v"):
    case FourCc("s263"):
      return 86;
    case FourCc("mp4a"):
    case FourCc("samr"):
    case FourCc("sawb"):
      return 36;
    case FourCc("mp4s"):
      return 16;
    default:
      break;
  }
  if (trackType == kGannetTrackVideo) return 86;
  if (trackType == kGannetTrackAudio) return 36;
  return 16;
}

bool ReadDescriptorLength(ByteReader& r, uint32_t* length) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = r.U8();
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) {
      *length = value;
      return r.ok();
    }
  }
  return false;
}

namespace {

// The first sample entry, which must fill the stsd exactly.
bool FirstEntry(const TrackRecord* track, ByteReader* entry, uint32_t* type) {
  const std::vector<uint8_t>& stsd = track->tables.stsd;
  if (stsd.size() < 17) return false;
  uint32_t size = Be32(stsd.data() + 16);
  if (size != stsd.size() - 16 || size < 8) return false;
  *type = Be32(stsd.data() + 20);
  *entry = ByteReader(stsd.data() + 16, size);
  return true;
}

// The box that starts at `at` inside the entry; it must fit the entry.
bool ChildBoxAt(ByteReader entry, uint32_t at, uint32_t type, ByteReader* body) {
  if (entry.remaining() < size_t(at) + 8) return false;
  entry.Skip(at);
  uint32_t size = entry.U32();
  if (entry.U32() != type || size < 8 || size - 8 > entry.remaining()) return false;
  *body = entry.Sub(size - 8);
  return entry.ok();
}

uint8_t* CopyPayload(ByteReader& r, uint32_t length) {
  if (!r.Need(length)) return nullptr;
  uint8_t* copy = static_cast<uint8_t*>(malloc(length ? length : 1));
  if (!copy) {
    r.Fail();
    return nullptr;
  }
  memcpy(copy, r.pos(), length);
  r.Skip(length);
  return copy;
}

void ReleaseDecoderConfig(DecoderConfig* cfg) {
  if (!cfg) return;
  free(cfg->decoderSpecificInfo);
  free(cfg->slConfig);
  free(cfg);
}

// esds: ES_Descriptor (3) holding DecoderConfigDescriptor (4), optionally DecoderSpecificInfo (5)
// inside it, then optionally SLConfigDescriptor (6). Every length must fit its enclosing unit.
bool ParseEsds(ByteReader esds, DecoderConfig* cfg) {
  esds.Skip(4);  // version and flags
  uint32_t length = 0;
  if (esds.U8() != 3 || !ReadDescriptorLength(esds, &length) || length > esds.remaining()) return false;
  ByteReader es = esds.Sub(length);
  cfg->es.esId = es.U16();
  es.Skip(1);  // flags; no optional fields are expected
  if (es.U8() != 4 || !ReadDescriptorLength(es, &length) || length > es.remaining()) return false;
  ByteReader dcd = es.Sub(length);
  cfg->objectType = dcd.U8();
  cfg->es.streamType = uint8_t(dcd.U8() >> 2);
  dcd.Skip(3);  // bufferSizeDB
  cfg->maxBitrate = dcd.U32();
  cfg->avgBitrate = dcd.U32();
  if (!dcd.ok()) return false;
  if (dcd.remaining() > 0 && dcd.pos()[0] == 5) {
    dcd.U8();
    if (!ReadDescriptorLength(dcd, &length) || length > dcd.remaining()) return false;
    cfg->decoderSpecificInfo = CopyPayload(dcd, length);
    cfg->decoderSpecificInfoSize = length;
    if (!dcd.ok()) return false;
  }
  if (es.remaining() > 0 && es.pos()[0] == 6) {
    es.U8();
    if (!ReadDescriptorLength(es, &length) || length > es.remaining()) return false;
    cfg->slConfig = CopyPayload(es, length);
    cfg->slConfigSize = length;
  }
  return es.ok();
}

void ReleaseMediaTrackInfo(MediaTrackInfo* info) {
  free(info);
}
void ReleaseMovieInfo(MovieInfo* info) {
  if (!info) return;
  free(info->iods);
  free(info);
}
void ReleaseReferenceTrackIds(ReferenceTrackIds* refs) {
  free(refs);
}

}  // namespace
}  // namespace gannet

using namespace gannet;

extern "C" const char* GannetResultName(int result) {
  switch (result) {
    case kGannetOk:
      return "kGannetOk";
    case kGannetError:
      return "kGannetError";
  }
  return "unknown result";
}

extern "C" int gGetEditList(MovieFile* movie, uint32_t trackId, EditEntry* entries, uint32_t* count) {
  if (!movie || !count) return kGannetError;
  TrackRecord* track = FindTrack(movie, trackId, nullptr);
  if (!track) return kGannetError;
  const uint32_t n = uint32_t(track->edits.size());
  if (!entries) {
    *count = n;
    return kGannetOk;
  }
  if (*count < n) return kGannetError;
  std::copy(track->edits.begin(), track->edits.end(), entries);
  *count = n;
  return kGannetOk;
}

extern "C" int gGetTrakTimes(MovieFile* movie, uint32_t trackId, uint32_t* timescale, uint32_t* durationMs) {
  if (!movie || !timescale || !durationMs) return kGannetError;
  if (trackId == 0) {
    *timescale = movie->timescale;
    *durationMs = MediaToMs(movie->duration, movie->timescale);
    return kGannetOk;
  }
  TrackRecord* track = FindTrack(movie, trackId, nullptr);
  if (!track) return kGannetError;
  *timescale = track->timescale;
  *durationMs = MediaToMs(track->mediaDuration, track->timescale);
  return kGannetOk;
}

extern "C" int gGetNumTraks(MovieFile* movie, TrackCounts* counts) {
  if (!movie || !counts || movie->trackCount == 0) return kGannetError;
  counts->total = movie->trackCount;
  counts->video = movie->countByType[kGannetTrackVideo];
  counts->audio = movie->countByType[kGannetTrackAudio];
  counts->hint = movie->countByType[kGannetTrackHint];
  counts->objectDescriptor = movie->countByType[kGannetTrackObjectDescriptor];
  counts->sceneDescription = movie->countByType[kGannetTrackSceneDescription];
  return kGannetOk;
}

extern "C" int gGetTrakIds(MovieFile* movie, uint32_t type, uint32_t* ids, uint32_t* count) {
  if (!movie || type > 9 || !count) return kGannetError;
  const std::vector<uint32_t>& list = movie->idLists[type];
  if (!list.empty() && !ids) return kGannetError;
  for (size_t i = 0; i < list.size(); ++i) ids[i] = list[i];
  *count = uint32_t(list.size());
  return kGannetOk;
}

extern "C" int gGetMediaTrackInfo(MovieFile* movie, uint32_t trackId, MediaTrackInfo** out) {
  if (!out) return kGannetError;
  *out = nullptr;
  TrackRecord* track = FindTrack(movie, trackId, nullptr);
  if (!track || track->type == kGannetTrackHint) return kGannetError;
  auto* info = static_cast<MediaTrackInfo*>(calloc(1, sizeof(MediaTrackInfo)));
  if (!info) return kGannetError;
  info->release = ReleaseMediaTrackInfo;
  info->durationMs = MediaToMs(track->mediaDuration, track->timescale);
  info->trackType = uint16_t(track->type);

  const std::vector<uint8_t>& stsd = track->tables.stsd;
  if (stsd.size() >= 24) {
    const uint8_t* entry = stsd.data() + 16;
    uint32_t entrySize = std::min<uint32_t>(Be32(entry), uint32_t(stsd.size() - 16));
    uint32_t entryType = Be32(entry + 4);
    uint32_t child = EntryChildOffset(entryType, track->type);
    if (entrySize >= child + 12) {
      // Up to the end of the first sample entry: later entries are not part of its descriptor.
      size_t size = entrySize - child - 12;
      if (size > 0xFFFF) {
        free(info);
        return kGannetError;  // would not fit the record's 16-bit size
      }
      info->descriptor = entry + child + 12;
      info->descriptorSize = uint16_t(size);
    }
    if (track->type == kGannetTrackVideo && entrySize >= 36) {
      info->widthOrChannels = Be16(entry + 32);
      info->heightOrSampleRate = Be16(entry + 34);
    } else if (track->type == kGannetTrackAudio && entrySize >= 36) {
      info->widthOrChannels = Be16(entry + 24);
      info->heightOrSampleRate = Be16(entry + 32);
    }
  }
  *out = info;
  return kGannetOk;
}

extern "C" int gGetMovieInfo(MovieFile* movie, MovieInfo** out) {
  if (!out) return kGannetError;
  *out = nullptr;
  if (!movie) return kGannetError;
  auto* info = static_cast<MovieInfo*>(calloc(1, sizeof(MovieInfo)));
  if (!info) return kGannetError;
  info->release = ReleaseMovieInfo;
  info->durationMs = MediaToMs(movie->duration, movie->timescale);
  if (movie->hasIods && movie->iods.size() >= 12) {
    info->iodsSize = uint32_t(movie->iods.size() - 12);
    info->iods = static_cast<uint8_t*>(malloc(info->iodsSize ? info->iodsSize : 1));
    if (!info->iods) {
      free(info);
      return kGannetError;
    }
    memcpy(info->iods, movie->iods.data() + 12, info->iodsSize);
  }
  *out = info;
  return kGannetOk;
}

extern "C" int gGetDecoderCfg(MovieFile* movie, uint32_t trackId, DecoderConfig** out) {
  if (!out) return kGannetError;
  *out = nullptr;
  TrackRecord* track = FindTrack(movie, trackId, nullptr);
  if (!track) return kGannetError;
  ByteReader entry;
  uint32_t type = 0;
  if (!FirstEntry(track, &entry, &type)) return kGannetError;
  auto* cfg = static_cast<DecoderConfig*>(calloc(1, sizeof(DecoderConfig)));
  if (!cfg) return kGannetError;
  cfg->release = ReleaseDecoderConfig;
  ByteReader body;
  bool ok = false;
  switch (type) {
    case FourCc("mp4v"):
    case FourCc("mp4a"):
    case FourCc("mp4s"):
      // The esds sits at a fixed place; writers may add boxes ('pasp', 'btrt') after it.
      cfg->kind = 1;
      ok = ChildBoxAt(entry, EntryChildOffset(type, track->type), FourCc("esds"), &body) &&
           ParseEsds(body, cfg);
      break;
    case FourCc("samr"):
    case FourCc("sawb"):
      cfg->kind = 2;
      cfg->objectType = type == FourCc("samr") ? 192 : 193;
      if (ChildBoxAt(entry, 36, FourCc("damr"), &body)) {
        cfg->vendor = body.U32();
        cfg->amr.decoderVersion = body.U8();
        cfg->amr.modeSet = body.U16();
        cfg->amrFrames.modeChangePeriod = body.U8();
        cfg->amrFrames.framesPerSample = body.U8();
        ok = body.ok();
      }
      break;
    case FourCc("s263"):
      cfg->kind = 2;
      cfg->objectType = 194;
      if (ChildBoxAt(entry, 86, FourCc("d263"), &body)) {
        cfg->vendor = body.U32();
        cfg->h263.decoderVersion = body.U8();
        cfg->h263.level = body.U8();
        cfg->h263.profile = body.U8();
        ok = body.ok();
      }
      break;
    default:
      break;
  }
  if (!ok) {
    ReleaseDecoderConfig(cfg);
    return kGannetError;
  }
  *out = cfg;
  return kGannetOk;
}

extern "C" int gGetTrakIdForEsId(MovieFile* movie, uint32_t esId, uint32_t* trackId) {
  if (!movie || !trackId) return kGannetError;
  for (const auto& track : movie->tracks) {
    if (track->esId == esId) {
      *trackId = track->trackId;
      return kGannetOk;
    }
  }
  return kGannetError;
}

extern "C" int gGetReferenceTrakIds(MovieFile* movie, uint32_t trackId, ReferenceTrackIds** out) {
  if (!out) return kGannetError;
  *out = nullptr;
  TrackRecord* track = FindTrack(movie, trackId, nullptr);
  if (!track || track->refs.empty()) return kGannetError;
  const std::vector<uint32_t>* lists[3] = {nullptr, nullptr, nullptr};
  const uint32_t types[3] = {FourCc("hint"), FourCc("mpod"), FourCc("dpnd")};
  size_t total = 0;
  for (int k = 0; k < 3; ++k) {
    for (const TrackReference& ref : track->refs) {
      if (ref.type == types[k]) {
        lists[k] = &ref.ids;
        total += ref.ids.size();
        break;
      }
    }
  }
  // One block: the record, then the three id arrays.
  auto* refs =
      static_cast<ReferenceTrackIds*>(calloc(1, sizeof(ReferenceTrackIds) + total * sizeof(uint32_t)));
  if (!refs) return kGannetError;
  refs->release = ReleaseReferenceTrackIds;
  uint32_t* ids = reinterpret_cast<uint32_t*>(refs + 1);
  uint32_t** outIds[3] = {&refs->hintIds, &refs->mpodIds, &refs->dpndIds};
  uint32_t* outCounts[3] = {&refs->hintCount, &refs->mpodCount, &refs->dpndCount};
  for (int k = 0; k < 3; ++k) {
    if (!lists[k] || lists[k]->empty()) continue;
    *outIds[k] = ids;
    *outCounts[k] = uint32_t(lists[k]->size());
    for (uint32_t id : *lists[k]) *ids++ = id;
  }
  *out = refs;
  return kGannetOk;
}

extern "C" int gGetHintTrakIdsForTrakId(MovieFile* movie, uint32_t trackId, uint32_t* ids, uint32_t* count) {
  if (!movie || !ids || !count) return kGannetError;
  uint32_t n = 0;
  for (const auto& track : movie->tracks) {
    if (track->type != kGannetTrackHint || track->hintRefIndex < 0) continue;
    const std::vector<uint32_t>& refs = track->refs[size_t(track->hintRefIndex)].ids;
    for (uint32_t id : refs) {
      if (id == trackId) {
        ids[n++] = track->trackId;
        break;
      }
    }
  }
  *count = n;
  return kGannetOk;
}

extern "C" int gGetSdpInfo(MovieFile* movie, char** text, uint32_t* size) {
  if (!text || !size) return kGannetError;
  *text = nullptr;
  *size = 0;
  if (!movie || !movie->hasSdp) return kGannetError;
  std::string all;
  try {
    all = movie->sdp;
    for (const auto& track : movie->tracks) all += track->sdp;
  } catch (const std::bad_alloc&) {
    return kGannetError;
  }
  char* block = static_cast<char*>(malloc(all.size() + 1));
  if (!block) return kGannetError;
  memcpy(block, all.data(), all.size() + 1);
  *text = block;
  *size = uint32_t(all.size());
  return kGannetOk;
}
