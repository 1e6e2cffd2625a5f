// Opening a movie: the top-level and 'moov' walk through the caller's I/O entry points, then each
// 'trak' parsed from memory into sample tables.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "movie.h"
#include "platform/text.h"

namespace gannet {
namespace {

// Bodies are read in pieces of this size, so a box that claims gigabytes in a small file costs only
// the bytes that are really there before the short read ends it.
constexpr size_t kReadPiece = 1 << 20;
constexpr size_t kMaxReferenceTypes = 10;

FILE* StdOpen(const char* path, const char* mode) {
  return fopen(path, mode);
}
int StdSeek(FILE* f, long offset, int origin) {
  return fseek(f, offset, origin);
}
size_t StdRead(void* buffer, size_t size, size_t count, FILE* f) {
  return fread(buffer, size, count, f);
}

bool ReadExact(const ReaderIo& io, FILE* f, void* buffer, size_t n) {
  return n == 0 || io.read(buffer, 1, n, f) == n;
}

bool ReadBody(const ReaderIo& io, FILE* f, uint32_t size, std::vector<uint8_t>* out) {
  out->clear();
  while (out->size() < size) {
    size_t piece = std::min<size_t>(kReadPiece, size - out->size());
    size_t at = out->size();
    out->resize(at + piece);
    if (!ReadExact(io, f, out->data() + at, piece)) return false;
  }
  return true;
}

uint32_t TrackTypeForHandler(uint32_t handler) {
  switch (handler) {
    case FourCc("vide"):
      return kGannetTrackVideo;
    case FourCc("soun"):
      return kGannetTrackAudio;
    case FourCc("hint"):
      return kGannetTrackHint;
    case FourCc("sdsm"):
      return kGannetTrackSceneDescription;
    case FourCc("odsm"):
      return kGannetTrackObjectDescriptor;
    default:
      return kGannetTrackOther;
  }
}

// mvhd and mdhd share the timescale/duration layout.
bool ReadTimescaleDuration(ByteReader r, uint32_t* timescale, uint32_t* duration) {
  uint8_t version = r.U8();
  r.Skip(3);
  if (version == 0) {
    r.Skip(8);
    *timescale = r.U32();
    *duration = r.U32();
  } else if (version == 1) {
    r.Skip(16);
    *timescale = r.U32();
    *duration = uint32_t(r.U64());
  } else {
    return false;
  }
  return r.ok();
}

// Text of a box body up to its end (a trailing NUL, if written, is dropped).
std::string BodyText(ByteReader r) {
  std::string text(reinterpret_cast<const char*>(r.pos()), r.remaining());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// udta → hnti → ('rtp ' with 'sdp ' description format at movie level | 'sdp ' at track level).
bool ReadUdtaSdp(ByteReader body, bool movieLevel, std::string* sdp, bool* found) {
  BoxIterator it(body);
  Box box;
  while (it.Next(&box)) {
    if (box.type != FourCc("hnti")) continue;
    BoxIterator hn(box.Body());
    Box child;
    while (hn.Next(&child)) {
      ByteReader r = child.Body();
      if (movieLevel && child.type == FourCc("rtp ")) {
        if (r.U32() != FourCc("sdp ")) continue;
        *sdp = BodyText(r);
        *found = true;
      } else if (!movieLevel && child.type == FourCc("sdp ")) {
        *sdp = BodyText(r);
        *found = true;
      }
    }
    if (!hn.ok()) return false;
  }
  return it.ok();
}

struct StblBoxes {
  int stsdCount = 0, stscCount = 0, stszCount = 0, stcoCount = 0, sttsCount = 0;
  ByteReader stsc, stsz, stco;
};

bool ReadTimeTable(ByteReader r, std::vector<TimeEntry>* out) {
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 8) return false;
  out->resize(count);
  for (TimeEntry& e : *out) {
    e.count = r.U32();
    e.value = r.U32();
  }
  return r.ok();
}

bool ParseStss(ByteReader r, SampleTables* t) {
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 4) return false;
  t->stss.resize(count);
  for (uint32_t& v : t->stss) v = r.U32();
  if (count > 0 && t->stss[0] == 0) t->stssZeroBased = 1;
  for (uint32_t& v : t->stss) v = v + t->stssZeroBased < v ? v : v + t->stssZeroBased;
  // Binary search needs order; writers emit it sorted, a damaged table must not mislead the search.
  std::sort(t->stss.begin(), t->stss.end());
  t->hasStss = true;
  return r.ok();
}

// Builds the chunk table from stsc, stco and stsz; every count is checked against its box first.
bool BuildChunkTable(const StblBoxes& b, const std::vector<uint16_t>& entryDrefs, SampleTables* t,
                     uint32_t* maxSampleSize) {
  ByteReader stco = b.stco;
  stco.Skip(4);
  uint32_t chunkCount = stco.U32();
  if (!stco.ok() || chunkCount > stco.remaining() / 4) return false;

  ByteReader stsc = b.stsc;
  stsc.Skip(4);
  uint32_t stscCount = stsc.U32();
  if (!stsc.ok() || stscCount > stsc.remaining() / 12) return false;
  struct StscEntry {
    uint32_t firstChunk, samplesPerChunk, sdi;
  };
  std::vector<StscEntry> entries(stscCount);
  for (StscEntry& e : entries) {
    e.firstChunk = stsc.U32();
    e.samplesPerChunk = stsc.U32();
    e.sdi = stsc.U32();
  }
  if (!stsc.ok()) return false;

  ByteReader stsz = b.stsz;
  stsz.Skip(4);
  uint32_t constantSize = stsz.U32();
  uint32_t sizeCount = stsz.U32();
  if (!stsz.ok()) return false;
  if (constantSize == 0 && sizeCount > stsz.remaining() / 4) return false;

  // First pass: chunk ranges and sample totals, before anything is allocated.
  uint64_t totalSamples = 0;
  uint32_t firstChunk0 = stscCount ? entries[0].firstChunk : 1;
  for (uint32_t i = 0; i < stscCount; ++i) {
    const StscEntry& e = entries[i];
    if (e.firstChunk == 0 || (i > 0 && e.firstChunk <= entries[i - 1].firstChunk)) return false;
    uint64_t begin = uint64_t(e.firstChunk) - firstChunk0;
    uint64_t end = i + 1 < stscCount ? uint64_t(entries[i + 1].firstChunk) - firstChunk0 : chunkCount;
    if (begin > chunkCount || end > chunkCount) return false;
    totalSamples += (end - begin) * e.samplesPerChunk;
    if (totalSamples > sizeCount) return false;
  }

  t->constantSize = constantSize;
  t->totalSamples = uint32_t(totalSamples);
  if (constantSize == 0) t->cumulativeStore.resize(size_t(totalSamples) + chunkCount);
  t->chunks.reserve(chunkCount);
  uint32_t* cumulative = t->cumulativeStore.data();
  const uint16_t firstDri = entryDrefs.empty() ? 1 : entryDrefs[0];
  uint32_t maxSize = constantSize;

  for (uint32_t i = 0; i < stscCount; ++i) {
    const StscEntry& e = entries[i];
    uint32_t begin = e.firstChunk - firstChunk0;
    uint32_t end = i + 1 < stscCount ? entries[i + 1].firstChunk - firstChunk0 : chunkCount;
    // Sample description numbers are 1-based; some writers store them 0-based, which shows in the
    // first entry. The chunk's data reference is the one its sample description names.
    uint32_t desc = entries[0].sdi == 1 ? e.sdi - 1 : e.sdi;
    uint32_t dri = desc < entryDrefs.size() ? entryDrefs[desc] : firstDri;
    uint32_t drefIndex = dri > 0 ? dri - 1 : 0;
    for (uint32_t c = begin; c < end; ++c) {
      ChunkEntry chunk{};
      chunk.offset = Be32(b.stco.pos() + 8 + size_t(c) * 4);
      chunk.sampleCount = e.samplesPerChunk;
      chunk.drefIndex = drefIndex;
      if (constantSize == 0) {
        chunk.cumulative = cumulative;
        uint64_t sum = 0;
        cumulative[0] = 0;
        for (uint32_t k = 0; k < e.samplesPerChunk; ++k) {
          uint32_t size = stsz.U32();
          maxSize = std::max(maxSize, size);
          sum += size;
          if (sum > UINT32_MAX) return false;
          cumulative[k + 1] = uint32_t(sum);
        }
        cumulative += size_t(e.samplesPerChunk) + 1;
      } else if (uint64_t(constantSize) * e.samplesPerChunk > UINT32_MAX) {
        return false;
      }
      t->chunks.push_back(chunk);
    }
  }
  if (!stsz.ok()) return false;
  *maxSampleSize = maxSize;
  return true;
}

uint32_t EsDescriptorOffset(uint32_t entryType) {
  switch (entryType) {
    case FourCc("mp4v"):
      return 86;
    case FourCc("mp4a"):
      return 36;
    case FourCc("mp4s"):
      return 16;
    default:
      return 0;
  }
}

// ES_ID of the first sample entry's esds, or 0 when there is none.
uint32_t ReadEsId(const std::vector<uint8_t>& stsd) {
  if (stsd.size() < 24) return 0;
  const uint8_t* entry = stsd.data() + 16;
  uint32_t entrySize = std::min<uint32_t>(Be32(entry), uint32_t(stsd.size() - 16));
  uint32_t at = EsDescriptorOffset(Be32(entry + 4));
  if (at == 0 || entrySize < at + 12) return 0;
  ByteReader r(entry + at, entrySize - at);
  uint32_t boxSize = r.U32();
  if (r.U32() != FourCc("esds") || boxSize < 12 || boxSize > entrySize - at) return 0;
  r = ByteReader(entry + at + 12, boxSize - 12);
  uint32_t length = 0;
  if (r.U8() != 3 || !ReadDescriptorLength(r, &length)) return 0;
  uint32_t esId = r.U16();
  return r.ok() ? esId : 0;
}

// stsd: keep the whole box; collect each entry's data_reference_index.
bool ParseStsd(const Box& box, TrackRecord* track, std::vector<uint16_t>* entryDrefs) {
  SampleTables& t = track->tables;
  t.stsd.assign(box.start, box.start + box.size);
  ByteReader r = box.Body();
  r.Skip(4);
  uint32_t count = r.U32();
  if (!r.ok() || count > r.remaining() / 16) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t size = r.U32();
    if (!r.ok() || size < 16 || size - 4 > r.remaining()) return false;
    ByteReader entry = r.Sub(size - 4);
    entry.Skip(10);
    entryDrefs->push_back(entry.U16());
  }
  track->esId = ReadEsId(t.stsd);
  return r.ok();
}

// A hint track's 'rtp ' entry carries 12-byte sub-entries; 'tims' is the RTP timescale.
bool ParseHintEntry(TrackRecord* track) {
  const std::vector<uint8_t>& stsd = track->tables.stsd;
  if (stsd.size() < 24) return true;
  const uint8_t* entry = stsd.data() + 16;
  uint32_t entrySize = Be32(entry);
  if (Be32(entry + 4) != FourCc("rtp ")) return true;
  if (entrySize > stsd.size() - 16 || entrySize < 24) return false;
  ByteReader r(entry + 24, entrySize - 24);
  while (r.remaining() > 0) {
    uint32_t size = r.U32();
    uint32_t type = r.U32();
    uint32_t value = r.U32();
    if (!r.ok() || size != 12) return false;
    if (type == FourCc("tims")) track->hintTimescale = value;
  }
  return true;
}

bool ParseStbl(ByteReader body, TrackRecord* track) {
  StblBoxes b;
  std::vector<uint16_t> entryDrefs;
  SampleTables& t = track->tables;
  BoxIterator it(body);
  Box box;
  while (it.Next(&box)) {
    switch (box.type) {
      case FourCc("stsd"):
        if (++b.stsdCount == 1 && !ParseStsd(box, track, &entryDrefs)) return false;
        break;
      case FourCc("stsc"):
        ++b.stscCount;
        b.stsc = box.Body();
        break;
      case FourCc("stsz"):
        ++b.stszCount;
        b.stsz = box.Body();
        break;
      case FourCc("stco"):
        ++b.stcoCount;
        b.stco = box.Body();
        break;
      case FourCc("stts"):
        if (++b.sttsCount == 1 && !ReadTimeTable(box.Body(), &t.stts)) return false;
        break;
      case FourCc("ctts"):
        if (t.hasCtts || !ReadTimeTable(box.Body(), &t.ctts)) return false;
        t.hasCtts = true;
        break;
      case FourCc("stss"):
        if (t.hasStss || !ParseStss(box.Body(), &t)) return false;
        break;
      default:
        break;
    }
  }
  if (!it.ok()) return false;
  if (b.stsdCount != 1 || b.stscCount != 1 || b.stszCount != 1 || b.stcoCount != 1 || b.sttsCount != 1)
    return false;
  return BuildChunkTable(b, entryDrefs, &t, &track->maxSampleSize);
}

bool ParseDref(MovieFile* movie, ByteReader body, TrackRecord* track) {
  body.Skip(4);
  uint32_t count = body.U32();
  if (!body.ok() || count > body.remaining() / 12) return false;
  std::vector<DataRef>& drefs = track->tables.drefs;
  drefs.reserve(count);
  BoxIterator it(body);
  Box box;
  for (uint32_t i = 0; i < count; ++i) {
    if (!it.Next(&box)) return false;
    ByteReader r = box.Body();
    uint32_t flags = r.U32() & 0xFFFFFF;
    if (!r.ok()) return false;
    drefs.push_back(DataRef{});
    std::string path;
    if ((box.type == FourCc("url ") || box.type == FourCc("urn ")) && (flags & 1)) {
      path = movie->path;
    } else if (box.type == FourCc("urn ")) {
      // name, then an optional location; both NUL-terminated.
      std::string rest(reinterpret_cast<const char*>(r.pos()), r.remaining());
      size_t nul = rest.find('\0');
      std::string name = rest.substr(0, nul);
      std::string location = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
      location = location.substr(0, location.find('\0'));
      path = location.empty() ? name : location + platform::kPathSeparatorA + name;
      if (path.empty()) return false;
    } else {
      continue;  // an external URL: the entry has no stream
    }
    FILE* f = movie->io.open(path.c_str(), "rb");
    if (!f) return false;
    drefs.back().stream = f;
    drefs.back().owned = true;
  }
  return true;
}

bool ParseMinf(MovieFile* movie, ByteReader body, TrackRecord* track, bool* haveStbl) {
  BoxIterator it(body);
  Box box;
  while (it.Next(&box)) {
    switch (box.type) {
      case FourCc("vmhd"):
      case FourCc("smhd"):
      case FourCc("hmhd"):
      case FourCc("nmhd"):
        break;
      case FourCc("dinf"): {
        BoxIterator dinf(box.Body());
        Box child;
        while (dinf.Next(&child)) {
          if (child.type != FourCc("dref")) continue;
          if (!track->tables.drefs.empty() || !ParseDref(movie, child.Body(), track)) return false;
        }
        if (!dinf.ok()) return false;
        break;
      }
      case FourCc("stbl"):
        if (*haveStbl || !ParseStbl(box.Body(), track)) return false;
        *haveStbl = true;
        break;
      default:
        return false;
    }
  }
  return it.ok();
}

bool ParseMdia(MovieFile* movie, ByteReader body, TrackRecord* track) {
  bool haveMdhd = false, haveHdlr = false, haveMinf = false, haveStbl = false;
  BoxIterator it(body);
  Box box;
  while (it.Next(&box)) {
    switch (box.type) {
      case FourCc("mdhd"):
        if (!ReadTimescaleDuration(box.Body(), &track->timescale, &track->mediaDuration)) return false;
        haveMdhd = true;
        break;
      case FourCc("hdlr"): {
        ByteReader r = box.Body();
        r.Skip(8);
        track->handler = r.U32();
        if (!r.ok()) return false;
        track->type = TrackTypeForHandler(track->handler);
        haveHdlr = true;
        break;
      }
      case FourCc("minf"):
        if (haveMinf || !ParseMinf(movie, box.Body(), track, &haveStbl)) return false;
        haveMinf = true;
        break;
      default:
        return false;
    }
  }
  return it.ok() && haveMdhd && haveHdlr && haveStbl;
}

bool ParseTref(ByteReader body, TrackRecord* track) {
  BoxIterator it(body);
  Box box;
  while (it.Next(&box)) {
    if (track->refs.size() >= kMaxReferenceTypes) return false;
    ByteReader r = box.Body();
    TrackReference ref{box.type, {}};
    ref.ids.resize(r.remaining() / 4);
    for (uint32_t& id : ref.ids) id = r.U32();
    if (box.type == FourCc("hint") && track->hintRefIndex < 0) track->hintRefIndex = int(track->refs.size());
    track->refs.push_back(std::move(ref));
  }
  return it.ok();
}

// 'edts' → 'elst'. The list only tells the player where the sound starts; a damaged one is
// dropped rather than failing the track.
void ReadEditList(ByteReader edts, TrackRecord* track) {
  BoxIterator it(edts);
  Box box;
  while (it.Next(&box)) {
    if (box.type != FourCc("elst")) continue;
    ByteReader r = box.Body();
    const uint8_t version = r.U8();
    r.Skip(3);
    const uint32_t count = r.U32();
    const size_t entrySize = version == 1 ? 20 : 12;
    if (!r.ok() || version > 1 || count > r.remaining() / entrySize) return;
    std::vector<EditEntry> edits(count);
    for (EditEntry& e : edits) {
      if (version == 1) {
        e.segmentDuration = r.U64();
        e.mediaTime = int64_t(r.U64());
      } else {
        e.segmentDuration = r.U32();
        e.mediaTime = int32_t(r.U32());
      }
      e.rate = int32_t(r.U32());
    }
    if (r.ok()) track->edits = std::move(edits);
    return;
  }
}

bool ParseTrak(MovieFile* movie, const std::vector<uint8_t>& trak, TrackRecord* track) {
  bool haveTkhd = false, haveMdia = false;
  BoxIterator it(ByteReader(trak.data() + 8, trak.size() - 8));
  Box box;
  while (it.Next(&box)) {
    switch (box.type) {
      case FourCc("tkhd"): {
        if (box.size != 92) return false;
        ByteReader r = box.Body();
        if (r.U8() != 0) return false;
        r.Skip(11);
        track->trackId = r.U32();
        r.Skip(4);
        track->duration = r.U32();
        haveTkhd = true;
        break;
      }
      case FourCc("tref"):
        if (!ParseTref(box.Body(), track)) return false;
        break;
      case FourCc("edts"):
        ReadEditList(box.Body(), track);
        break;
      case FourCc("udta"): {
        bool found = false;
        if (!ReadUdtaSdp(box.Body(), false, &track->sdp, &found)) return false;
        break;
      }
      case FourCc("mdia"):
        if (haveMdia || !ParseMdia(movie, box.Body(), track)) return false;
        haveMdia = true;
        break;
      default:
        return false;
    }
  }
  if (!it.ok() || !haveTkhd || !haveMdia) return false;
  return track->type != kGannetTrackHint || ParseHintEntry(track);
}

struct TrakLocation {
  uint64_t offset;
  uint32_t size;
};

// Size of the file behind a stream, or 0 when the stream is not a plain file.
uint64_t StreamFileSize(FILE* f) {
  const int fd = f ? fileno(f) : -1;
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
  return uint64_t(st.st_size);
}

// No sample is larger than the files that hold the track's data: a larger declared size can
// never be read, and callers size their sample buffers by the largest one.
void CapLargestSample(TrackRecord* track) {
  uint64_t largest = 0;
  for (const DataRef& d : track->tables.drefs) {
    if (!d.stream) continue;
    const uint64_t size = StreamFileSize(d.stream);
    if (size == 0) return;  // a stream of unknown size keeps the declared sizes
    largest = std::max(largest, size);
  }
  if (largest > 0 && track->maxSampleSize > largest) track->maxSampleSize = uint32_t(largest);
}

bool OpenMovie(MovieFile* movie) {
  const ReaderIo& io = movie->io;
  movie->stream = io.open(movie->path.c_str(), "rb");
  if (!movie->stream) return false;
  FILE* f = movie->stream;

  // Top level: skip everything up to 'moov'.
  uint64_t pos = 0;
  uint8_t header[8];
  uint32_t moovSize = 0;
  for (;;) {
    if (!ReadExact(io, f, header, 8)) return false;
    uint32_t size = Be32(header);
    if (size < 8) return false;
    pos += 8;
    if (Be32(header + 4) == FourCc("moov")) {
      moovSize = size;
      break;
    }
    if (io.seek(f, long(size - 8), 1) != 0) return false;
    pos += size - 8;
  }

  std::vector<TrakLocation> traks;
  std::vector<uint8_t> body;
  uint64_t left = moovSize - 8;
  while (left >= 8) {
    if (!ReadExact(io, f, header, 8)) break;  // end of file inside 'moov' ends the walk
    uint32_t size = Be32(header);
    uint32_t type = Be32(header + 4);
    if (size < 8 || size > left) return false;
    uint64_t boxStart = pos;
    pos += 8;
    left -= size;
    switch (type) {
      case FourCc("trak"):
        traks.push_back({boxStart, size});
        if (io.seek(f, long(size - 8), 1) != 0) return false;
        pos += size - 8;
        continue;
      case FourCc("mvhd"):
      case FourCc("iods"):
      case FourCc("udta"):
        if (!ReadBody(io, f, size - 8, &body)) return false;
        pos += size - 8;
        break;
      default:
        return false;
    }
    ByteReader r(body.data(), body.size());
    if (type == FourCc("mvhd")) {
      if (!ReadTimescaleDuration(r, &movie->timescale, &movie->duration)) return false;
    } else if (type == FourCc("iods")) {
      movie->iods.assign(header, header + 8);
      movie->iods.insert(movie->iods.end(), body.begin(), body.end());
      movie->hasIods = true;
    } else if (!ReadUdtaSdp(r, true, &movie->sdp, &movie->hasSdp)) {
      return false;
    }
  }

  if (traks.empty()) return true;
  movie->tracks.reserve(traks.size());
  for (auto& list : movie->idLists) list.reserve(traks.size());
  for (const TrakLocation& loc : traks) {
    if (loc.offset > uint64_t(LONG_MAX) || io.seek(f, long(loc.offset), 0) != 0) return false;
    if (!ReadBody(io, f, loc.size, &body)) return false;
    movie->tracks.push_back(std::make_unique<TrackRecord>());
    TrackRecord* track = movie->tracks.back().get();
    if (!ParseTrak(movie, body, track)) return false;
    CapLargestSample(track);
    if (track->type < 5) {
      movie->countByType[track->type]++;
      movie->idLists[track->type].push_back(track->trackId);
    }
  }
  movie->trackCount = uint32_t(movie->tracks.size());
  return true;
}

}  // namespace
}  // namespace gannet

extern "C" int gOpenMP4File(MovieFile** out, const char* path, const ReaderIo* io) {
  if (!out) return kGannetError;
  *out = nullptr;
  if (!path) return kGannetError;
  try {
    auto movie = std::make_unique<MovieFile>();
    movie->path = path;
    movie->io = io ? *io : ReaderIo{gannet::StdOpen, gannet::StdSeek, gannet::StdRead};
    if (!movie->io.open || !movie->io.seek || !movie->io.read) return kGannetError;
    if (!gannet::OpenMovie(movie.get())) return kGannetError;
    *out = movie.release();
    return kGannetOk;
  } catch (const std::bad_alloc&) {
    return kGannetError;
  }
}

extern "C" int gCloseMP4File(MovieFile* movie) {
  if (!movie) return kGannetError;
  delete movie;
  return kGannetOk;
}
