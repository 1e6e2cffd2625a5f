// Internal model of an opened movie: tracks, sample tables and session cursors.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gannet/gannet.h"

namespace gannet {

constexpr uint32_t FourCc(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

inline uint16_t Be16(const uint8_t* p) {
  return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

/// Bounded big-endian reader over one box or descriptor. Reads past the end set a sticky error and
/// yield zeros, so callers check `ok()` once per unit.
class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  size_t remaining() const { return size_t(end_ - p_); }
  const uint8_t* pos() const { return p_; }
  bool ok() const { return !error_; }
  void Fail() { error_ = true; }

  bool Need(size_t n) {
    if (error_ || remaining() < n) {
      error_ = true;
      return false;
    }
    return true;
  }
  uint8_t U8() { return Need(1) ? *p_++ : 0; }
  uint16_t U16() {
    if (!Need(2)) return 0;
    uint16_t v = Be16(p_);
    p_ += 2;
    return v;
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = Be32(p_);
    p_ += 4;
    return v;
  }
  uint64_t U64() {
    uint64_t hi = U32();
    return (hi << 32) | U32();
  }
  void Skip(size_t n) {
    if (Need(n)) p_ += n;
  }
  /// Splits off the next `n` bytes as a reader of their own.
  ByteReader Sub(size_t n) {
    if (!Need(n)) return ByteReader();
    ByteReader r(p_, n);
    p_ += n;
    return r;
  }

 private:
  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
  bool error_ = false;
};

/// One child box inside a parent held in memory.
struct Box {
  uint32_t type = 0;
  const uint8_t* start = nullptr;  // first byte of the header
  uint32_t size = 0;               // header included
  ByteReader Body() const { return ByteReader(start + 8, size - 8); }
};

/// Walks the children of a box body. A size below 8 or a child running past its parent is an error.
class BoxIterator {
 public:
  explicit BoxIterator(ByteReader body) : r_(body) {}
  /// Returns false at the end of the parent or on error (check `ok()`).
  bool Next(Box* box) {
    if (!r_.ok() || r_.remaining() == 0) return false;
    if (r_.remaining() < 8) {
      r_.Fail();
      return false;
    }
    const uint8_t* start = r_.pos();
    uint32_t size = Be32(start);
    if (size < 8 || size > r_.remaining()) {
      r_.Fail();
      return false;
    }
    box->type = Be32(start + 4);
    box->start = start;
    box->size = size;
    r_.Skip(size);
    return true;
  }
  bool ok() const { return r_.ok(); }

 private:
  ByteReader r_;
};

/// A chunk of samples. `cumulative` holds (sampleCount + 1) byte offsets of the samples inside the
/// chunk; it is null when every sample of the track has the same size (`constantSize`).
struct ChunkEntry {
  uint32_t offset;
  uint32_t sampleCount;
  uint32_t* cumulative;
  uint32_t spare;
  uint32_t drefIndex;
};

struct TimeEntry {
  uint32_t count;
  uint32_t value;  // stts delta, or ctts offset (signed in version 1 boxes)
};

struct DataRef {
  FILE* stream = nullptr;
  bool owned = false;
  // Where the stream stands after our last read (guarded by the track's mutex); a read that starts
  // there needs no seek, which keeps stdio's buffer for samples stored back to back.
  uint64_t position = UINT64_MAX;
};

struct SampleTables {
  uint32_t stssZeroBased = 0;
  std::vector<ChunkEntry> chunks;
  std::vector<uint32_t> cumulativeStore;
  uint32_t constantSize = 0;  // non-zero: every sample has this size
  std::vector<TimeEntry> stts;
  std::vector<TimeEntry> ctts;
  bool hasCtts = false;
  std::vector<uint32_t> stss;  // sync sample numbers, already adjusted by stssZeroBased, sorted
  bool hasStss = false;
  std::vector<uint8_t> stsd;  // whole box, header included
  uint32_t totalSamples = 0;
  std::vector<DataRef> drefs;
};

struct TrackReference {
  uint32_t type;
  std::vector<uint32_t> ids;
};

struct TrackRecord {
  uint32_t trackId = 0;
  uint32_t esId = 0;
  uint32_t type = kGannetTrackOther;
  uint32_t handler = 0;
  uint32_t duration = 0;  // movie timescale
  uint32_t timescale = 0;
  uint32_t mediaDuration = 0;
  std::mutex mutex;
  uint32_t hintTimescale = 0;
  uint32_t maxSampleSize = 0;
  std::vector<TrackReference> refs;  // at most 10, in file order
  int hintRefIndex = -1;
  std::string sdp;
  std::vector<EditEntry> edits;
  SampleTables tables;

  ~TrackRecord() {
    for (DataRef& d : tables.drefs)
      if (d.owned && d.stream) fclose(d.stream);
  }
};

}  // namespace gannet

struct MovieFile {
  FILE* stream = nullptr;
  std::string path;
  std::vector<uint8_t> iods;  // whole box, header included
  bool hasIods = false;
  std::string sdp;
  bool hasSdp = false;
  uint32_t timescale = 0;
  uint32_t duration = 0;
  uint32_t countByType[5] = {};
  uint32_t trackCount = 0;
  std::vector<uint32_t> idLists[10];
  std::vector<std::unique_ptr<gannet::TrackRecord>> tracks;
  ReaderIo io{};

  ~MovieFile() {
    tracks.clear();
    if (stream) fclose(stream);
  }
};

struct TrakSession {
  MovieFile* movie = nullptr;
  uint32_t trackId = 0;
  uint32_t trackIndex = 0;
  gannet::TrackRecord* track = nullptr;

  // Sequential cursor: the state just after the last located sample.
  int64_t lastSample = -1;
  int64_t chunk = -1;
  uint32_t chunkPos = 0;
  uint64_t decodeTime = 0;
  int64_t sttsEntry = -1;
  uint32_t sttsPos = 0;
  int64_t cttsEntry = -1;
  uint32_t cttsPos = 0;

  // Offset mode (hint sessions): read `forcedLength` bytes at `addOffset` inside the sample.
  bool offsetMode = false;
  uint32_t addOffset = 0;
  uint32_t forcedLength = 0;

  // gReadChunk cursor.
  uint32_t readChunk = 0;
  uint32_t readChunkPos = 0;
};

namespace gannet {

/// Where a sample lives and when it plays, in media units.
struct SampleLocation {
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t drefIndex = 0;
  uint64_t decodeTime = 0;
  uint64_t compositionTime = 0;
};

TrackRecord* FindTrack(MovieFile* movie, uint32_t trackId, uint32_t* index);
bool LocateSample(TrakSession* s, uint32_t n, bool wantTimes, SampleLocation* out);
uint32_t MediaToMs(uint64_t value, uint32_t timescale);
/// Reads `size` bytes at `offset` from the track's data reference, holding the track's mutex.
bool ReadTrackBytes(MovieFile* movie, TrackRecord* track, uint32_t drefIndex, uint64_t offset,
                    uint8_t* buffer, uint32_t size);

/// Position of a sample entry's first child box: after the visual (86), audio (36) or generic (16)
/// sample entry fields.
uint32_t EntryChildOffset(uint32_t entryType, uint32_t trackType);
/// Parses an MPEG-4 expandable descriptor length (up to four bytes of seven bits).
bool ReadDescriptorLength(ByteReader& r, uint32_t* length);

}  // namespace gannet
