// Track sessions: the sample locator with its sequential cursor, sample and chunk reads, time lookup
// and sync-sample navigation.
#include <algorithm>
#include <climits>
#include <new>

#include "movie.h"

namespace gannet {

TrackRecord* FindTrack(MovieFile* movie, uint32_t trackId, uint32_t* index) {
  if (!movie) return nullptr;
  for (size_t i = 0; i < movie->tracks.size(); ++i) {
    if (movie->tracks[i]->trackId == trackId) {
      if (index) *index = uint32_t(i);
      return movie->tracks[i].get();
    }
  }
  return nullptr;
}

uint32_t MediaToMs(uint64_t value, uint32_t timescale) {
  if (timescale == 0) return uint32_t(value);
  // Integer arithmetic: a float quotient loses precision past 2^24 media units and can land just
  // below a whole millisecond, which truncation then turns into the previous one.
  return uint32_t(value * 1000 / timescale);
}

namespace {

// Positions the cursor on sample n (1-based, already range-checked) by walking the tables from the
// start. Leaves chunk/stts/ctts pointing at n itself, so the common advance step reads it next.
void SeekCursor(TrakSession* s, uint32_t n) {
  const SampleTables& t = s->track->tables;
  uint64_t before = 0;
  s->chunk = int64_t(t.chunks.size());
  s->chunkPos = 0;
  for (size_t c = 0; c < t.chunks.size(); ++c) {
    uint32_t count = t.chunks[c].sampleCount;
    if (before + count >= n) {
      s->chunk = int64_t(c);
      s->chunkPos = uint32_t(n - before - 1);
      break;
    }
    before += count;
  }

  before = 0;
  uint64_t time = 0;
  s->sttsEntry = int64_t(t.stts.size());
  s->sttsPos = 0;
  for (size_t e = 0; e < t.stts.size(); ++e) {
    const TimeEntry& entry = t.stts[e];
    if (before + entry.count >= n) {
      s->sttsEntry = int64_t(e);
      s->sttsPos = uint32_t(n - before - 1);
      time += uint64_t(s->sttsPos) * entry.value;
      break;
    }
    before += entry.count;
    time += uint64_t(entry.count) * entry.value;
  }
  s->decodeTime = time;

  before = 0;
  s->cttsEntry = int64_t(t.ctts.size());
  s->cttsPos = 0;
  for (size_t e = 0; e < t.ctts.size(); ++e) {
    if (before + t.ctts[e].count >= n) {
      s->cttsEntry = int64_t(e);
      s->cttsPos = uint32_t(n - before - 1);
      break;
    }
    before += t.ctts[e].count;
  }
}

// Moves past exhausted entries (empty chunks and zero-count table entries included).
bool SkipChunks(TrakSession* s) {
  const auto& chunks = s->track->tables.chunks;
  while (s->chunk < int64_t(chunks.size()) && s->chunkPos >= chunks[size_t(s->chunk)].sampleCount) {
    ++s->chunk;
    s->chunkPos = 0;
  }
  return s->chunk < int64_t(chunks.size());
}

bool SkipEntries(const std::vector<TimeEntry>& table, int64_t* entry, uint32_t* pos) {
  while (*entry < int64_t(table.size()) && *pos >= table[size_t(*entry)].count) {
    ++*entry;
    *pos = 0;
  }
  return *entry < int64_t(table.size());
}

}  // namespace

bool LocateSample(TrakSession* s, uint32_t n, bool wantTimes, SampleLocation* out) {
  const SampleTables& t = s->track->tables;
  if (n < 1 || n > t.totalSamples) return false;
  if (s->lastSample < 0 || int64_t(n) != s->lastSample + 1) SeekCursor(s, n);
  s->lastSample = -1;  // stays invalid unless this sample is located completely

  if (!SkipChunks(s)) return false;
  const ChunkEntry& chunk = t.chunks[size_t(s->chunk)];
  uint32_t begin, end;
  if (chunk.cumulative) {
    begin = chunk.cumulative[s->chunkPos];
    end = chunk.cumulative[s->chunkPos + 1];
  } else {
    begin = s->chunkPos * t.constantSize;
    end = begin + t.constantSize;
  }
  out->offset = uint64_t(chunk.offset) + begin;
  out->size = end - begin;
  out->drefIndex = chunk.drefIndex;
  ++s->chunkPos;

  if (wantTimes) {
    if (!SkipEntries(t.stts, &s->sttsEntry, &s->sttsPos)) return false;
    out->decodeTime = s->decodeTime;
    int64_t cts = int64_t(s->decodeTime);
    if (t.hasCtts && SkipEntries(t.ctts, &s->cttsEntry, &s->cttsPos)) {
      cts += int32_t(t.ctts[size_t(s->cttsEntry)].value);
      ++s->cttsPos;
    }
    out->compositionTime = uint64_t(std::max<int64_t>(cts, 0));
    s->decodeTime += t.stts[size_t(s->sttsEntry)].value;
    ++s->sttsPos;
  } else {
    // Keep the time cursor in step so a later timed read can continue sequentially.
    if (SkipEntries(t.stts, &s->sttsEntry, &s->sttsPos)) {
      s->decodeTime += t.stts[size_t(s->sttsEntry)].value;
      ++s->sttsPos;
    }
    if (t.hasCtts && SkipEntries(t.ctts, &s->cttsEntry, &s->cttsPos)) ++s->cttsPos;
  }
  s->lastSample = n;
  return true;
}

bool ReadTrackBytes(MovieFile* movie, TrackRecord* track, uint32_t drefIndex, uint64_t offset,
                    uint8_t* buffer, uint32_t size) {
  if (drefIndex >= track->tables.drefs.size()) return false;
  DataRef& ref = track->tables.drefs[drefIndex];
  if (!ref.stream || offset > uint64_t(LONG_MAX)) return false;
  std::lock_guard<std::mutex> lock(track->mutex);
  if (ref.position != offset) {
    ref.position = UINT64_MAX;
    if (movie->io.seek(ref.stream, long(offset), 0) != 0) return false;
  }
  if (size != 0 && movie->io.read(buffer, 1, size, ref.stream) != size) {
    ref.position = UINT64_MAX;
    return false;
  }
  ref.position = offset + size;
  return true;
}

namespace {

// Largest sync sample s <= n: its index, or -1 when n lies outside the table.
int64_t SyncSearch(const SampleTables& t, uint32_t n) {
  if (t.stss.empty() || n < t.stss.front() || n > t.stss.back()) return -1;
  auto it = std::upper_bound(t.stss.begin(), t.stss.end(), n);
  return int64_t(it - t.stss.begin()) - 1;
}

bool NextSyncPoint(TrakSession* s, uint32_t* n, int32_t direction) {
  const SampleTables& t = s->track->tables;
  if (direction != 1 && direction != -1) return false;
  if (!t.hasStss) {
    int64_t next = int64_t(*n) + direction;
    if (next < 1 || next > int64_t(t.totalSamples)) return false;
    *n = uint32_t(next);
    return true;
  }
  if (t.stss.empty()) return false;
  if (direction < 0 && *n > t.stss.back()) {
    *n = t.stss.back();
    return true;
  }
  if (direction > 0 && *n < t.stss.front()) {
    *n = t.stss.front();
    return true;
  }
  int64_t i = SyncSearch(t, *n);
  if (i < 0) return false;
  int64_t target;
  if (t.stss[size_t(i)] == *n)
    target = i + direction;
  else
    target = direction < 0 ? i : i + 1;
  if (target < 0 || target >= int64_t(t.stss.size())) return false;
  *n = t.stss[size_t(target)];
  return true;
}

bool IsSync(const SampleTables& t, uint32_t n) {
  if (!t.hasStss) return true;
  int64_t i = SyncSearch(t, n);
  return i >= 0 && t.stss[size_t(i)] == n;
}

}  // namespace
}  // namespace gannet

using namespace gannet;

extern "C" int gOpenTrakSession(MovieFile* movie, TrakSession** out, uint32_t trackId) {
  if (!out) return kGannetError;
  *out = nullptr;
  uint32_t index = 0;
  TrackRecord* track = FindTrack(movie, trackId, &index);
  if (!track) return kGannetError;
  const SampleTables& t = track->tables;
  if (t.chunks.empty() || t.stts.empty() || t.drefs.empty()) return kGannetError;
  TrakSession* s = new (std::nothrow) TrakSession;
  if (!s) return kGannetError;
  s->movie = movie;
  s->trackId = trackId;
  s->trackIndex = index;
  s->track = track;
  *out = s;
  return kGannetOk;
}

extern "C" int gCloseTrakSession(TrakSession* s) {
  if (!s) return kGannetError;
  delete s;
  return kGannetOk;
}

extern "C" int gGetTotalSamplesInTrak(TrakSession* s, uint32_t* count) {
  if (!s || !count) return kGannetError;
  *count = s->track->tables.totalSamples;
  return kGannetOk;
}

extern "C" int gGetMaxSampleSize(TrakSession* s, uint32_t* size) {
  if (!s || !size) return kGannetError;
  *size = s->track->maxSampleSize;
  return kGannetOk;
}

extern "C" int gReadSample(TrakSession* s, SampleRequest* req) {
  if (!s || !req || !req->buffer) return kGannetError;
  SampleLocation loc;
  if (!LocateSample(s, req->sampleNumber, !s->offsetMode, &loc)) return kGannetError;
  uint64_t offset = loc.offset;
  uint32_t size = loc.size;
  // The buffer holds the largest sample that the files can hold; a larger one cannot be read.
  if (size > s->track->maxSampleSize) return kGannetError;
  if (s->offsetMode) {
    // A constructor may only reach bytes of the sample it names.
    if (uint64_t(s->addOffset) + s->forcedLength > loc.size) return kGannetError;
    offset += s->addOffset;
    size = s->forcedLength;
  }
  if (!ReadTrackBytes(s->movie, s->track, loc.drefIndex, offset, req->buffer, size)) {
    s->lastSample = -1;
    return kGannetError;
  }
  req->size = size;
  if (!s->offsetMode) {
    req->decodeTimeMs = MediaToMs(loc.decodeTime, s->track->timescale);
    req->compositionTimeMs = MediaToMs(loc.compositionTime, s->track->timescale);
  }
  return kGannetOk;
}

extern "C" int gReadChunk(TrakSession* s, ChunkRequest* req) {
  if (!s || !req || !req->buffer || req->size == 0) return kGannetError;
  const SampleTables& t = s->track->tables;
  auto chunkLength = [&](const ChunkEntry& c) {
    return c.cumulative ? c.cumulative[c.sampleCount] : c.sampleCount * t.constantSize;
  };
  while (s->readChunk < t.chunks.size() && s->readChunkPos >= chunkLength(t.chunks[s->readChunk])) {
    ++s->readChunk;
    s->readChunkPos = 0;
  }
  if (s->readChunk >= t.chunks.size()) return kGannetError;
  const ChunkEntry& chunk = t.chunks[s->readChunk];
  uint32_t n = std::min(req->size, chunkLength(chunk) - s->readChunkPos);
  if (!ReadTrackBytes(s->movie, s->track, chunk.drefIndex, uint64_t(chunk.offset) + s->readChunkPos,
                      req->buffer, n))
    return kGannetError;
  s->readChunkPos += n;
  req->size = n;
  return kGannetOk;
}

extern "C" int gGetTimeOfSampleNum(TrakSession* s, uint32_t n, uint32_t* timeMs) {
  if (!s || !timeMs) return kGannetError;
  SampleLocation loc;
  if (!LocateSample(s, n, true, &loc)) return kGannetError;
  *timeMs = MediaToMs(loc.compositionTime, s->track->timescale);
  return kGannetOk;
}

extern "C" int gGetSampleLocation(TrakSession* s, uint32_t n, uint64_t* offset, uint32_t* size,
                                  uint32_t* decodeTimeMs, uint32_t* compositionTimeMs) {
  if (!s || !offset || !size || !decodeTimeMs || !compositionTimeMs) return kGannetError;
  SampleLocation loc;
  if (!LocateSample(s, n, true, &loc)) return kGannetError;
  *offset = loc.offset;
  *size = loc.size;
  *decodeTimeMs = MediaToMs(loc.decodeTime, s->track->timescale);
  *compositionTimeMs = MediaToMs(loc.compositionTime, s->track->timescale);
  return kGannetOk;
}

extern "C" int gGetSampleNumForTime(TrakSession* s, uint32_t* timeMs, uint32_t* sampleNumber) {
  if (!s || !timeMs || !sampleNumber) return kGannetError;
  const SampleTables& t = s->track->tables;
  uint64_t target = uint64_t(*timeMs) * s->track->timescale / 1000;
  uint64_t count = 0, end = 0;
  size_t e = 0;
  for (; e < t.stts.size(); ++e) {
    count += t.stts[e].count;
    end += uint64_t(t.stts[e].count) * t.stts[e].value;
    if (end > target) break;
  }
  if (e == t.stts.size()) return kGannetError;  // at or past the end of the track
  // The sample playing at the target: the last of the entry that starts at or before it. The
  // entry ends after the target, so its delta is not zero.
  const uint64_t delta = t.stts[e].value;
  const uint64_t entryStart = end - uint64_t(t.stts[e].count) * delta;
  const uint64_t index = std::min<uint64_t>((target - entryStart) / delta, t.stts[e].count - 1);
  uint64_t candidate = count - t.stts[e].count + index + 1;
  if (candidate > UINT32_MAX) return kGannetError;
  uint32_t n = uint32_t(candidate);
  if (!IsSync(t, n)) {
    uint32_t prev = n;
    if (NextSyncPoint(s, &prev, -1)) {
      n = prev;
    } else if (!NextSyncPoint(s, &n, 1)) {
      return kGannetError;
    }
  }
  uint32_t ms = 0;
  if (gGetTimeOfSampleNum(s, n, &ms) != 0) return kGannetError;
  *sampleNumber = n;
  *timeMs = ms;
  return kGannetOk;
}

extern "C" int gGetNextSyncPoint(TrakSession* s, uint32_t* sampleNumber, int32_t direction) {
  if (!s || !sampleNumber) return kGannetError;
  uint32_t n = *sampleNumber;
  if (!NextSyncPoint(s, &n, direction)) return kGannetError;
  *sampleNumber = n;
  return kGannetOk;
}

extern "C" int gIsSyncPoint(TrakSession* s, uint32_t n, uint32_t* isSync) {
  if (!s || !isSync) return kGannetError;
  *isSync = IsSync(s->track->tables, n) ? 1 : 0;
  return kGannetOk;
}

extern "C" int gGetRemainingSyncSampleCnt(TrakSession* s, uint32_t n, uint32_t* before, uint32_t* after) {
  if (!s || !before || !after) return kGannetError;
  const SampleTables& t = s->track->tables;
  if (!t.hasStss) {
    if (n < 1 || n > t.totalSamples) return kGannetError;
    *before = n - 1;
    *after = t.totalSamples - n;
    return kGannetOk;
  }
  uint32_t count = uint32_t(t.stss.size());
  if (count == 0) {
    *before = *after = 0;
  } else if (n > t.stss.back()) {
    *before = count;
    *after = 0;
  } else if (n < t.stss.front()) {
    *before = 0;
    *after = count;
  } else {
    int64_t i = SyncSearch(t, n);
    *before = t.stss[size_t(i)] == n ? uint32_t(i) : uint32_t(i + 1);
    *after = count - uint32_t(i) - 1;
  }
  return kGannetOk;
}
