// Fuzz target: opens the input as a movie (every stream is an in-memory FILE over the same bytes)
// and exercises every query, sample read, chunk read and hint packet.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gannet/gannet.h"

namespace {

const uint8_t* gData;
size_t gSize;

FILE* OpenInput(const char*, const char*) {
  if (gSize == 0) return nullptr;
  return fmemopen(const_cast<uint8_t*>(gData), gSize, "rb");
}
int SeekInput(FILE* f, long offset, int origin) {
  return fseek(f, offset, origin);
}
size_t ReadInput(void* b, size_t size, size_t count, FILE* f) {
  return fread(b, size, count, f);
}

constexpr uint32_t kMaxBuffer = 1 << 20;
constexpr uint32_t kMaxSamples = 4096;

void ExerciseTrack(MovieFile* movie, uint32_t id) {
  MediaTrackInfo* info = nullptr;
  if (gGetMediaTrackInfo(movie, id, &info) == 0) info->release(info);
  DecoderConfig* cfg = nullptr;
  if (gGetDecoderCfg(movie, id, &cfg) == 0) cfg->release(cfg);
  ReferenceTrackIds* refs = nullptr;
  if (gGetReferenceTrakIds(movie, id, &refs) == 0) refs->release(refs);

  TrakSession* s = nullptr;
  if (gOpenTrakSession(movie, &s, id) != 0) return;
  uint32_t total = 0, maxSize = 0, packetSize = 0;
  gGetTotalSamplesInTrak(s, &total);
  gGetMaxSampleSize(s, &maxSize);
  gGetMaxPacketSize(s, &packetSize);
  if (maxSize <= kMaxBuffer) {
    std::vector<uint8_t> buf(maxSize + 1);
    uint32_t n = total < kMaxSamples ? total : kMaxSamples;
    for (uint32_t k = 1; k <= n + 1; ++k) {
      SampleRequest req{k, 0, 0, 0, buf.data()};
      gReadSample(s, &req);
    }
    SampleRequest back{n / 2 + 1, 0, 0, 0, buf.data()};
    gReadSample(s, &back);
    ChunkRequest chunk{0, uint32_t(buf.size()), 0, 0, buf.data()};
    for (int k = 0; k < 64 && gReadChunk(s, &chunk) == 0; ++k) chunk.size = uint32_t(buf.size());
  }
  for (uint32_t ms : {0u, 500u, 1500u, 100000u}) {
    uint32_t t = ms, n = 0;
    gGetSampleNumForTime(s, &t, &n);
  }
  for (uint32_t n : {0u, 1u, 2u, total / 2, total, total + 1}) {
    uint32_t v = n, flag = 0, before = 0, after = 0, ms = 0;
    gGetNextSyncPoint(s, &v, 1);
    v = n;
    gGetNextSyncPoint(s, &v, -1);
    gIsSyncPoint(s, n, &flag);
    gGetRemainingSyncSampleCnt(s, n, &before, &after);
    gGetTimeOfSampleNum(s, n, &ms);
  }
  gCloseTrakSession(s);

  HintTrakSession* h = nullptr;
  if (gOpenHintTrakSession(movie, &h, id) == 0) {
    HintPacket packets[8];
    uint32_t n = total < 256 ? total : 256;
    for (uint32_t k = 1; k <= n; ++k) {
      HintRequest req{0, 8, k, packets, 0};
      for (int round = 0; round < 4 && gReadHintSample(h, &req) == 0 && req.packetCount > 0; ++round) {
        req.loadFlag = 1;
        req.packetCount = 8;
      }
    }
    gCloseHintTrakSession(h);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  gData = data;
  gSize = size;
  ReaderIo io{OpenInput, SeekInput, ReadInput};
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, "input.mp4", &io) != 0) return 0;
  MovieInfo* info = nullptr;
  if (gGetMovieInfo(movie, &info) == 0) info->release(info);
  char* sdp = nullptr;
  uint32_t sdpSize = 0;
  if (gGetSdpInfo(movie, &sdp, &sdpSize) == 0) free(sdp);
  TrackCounts counts{};
  if (gGetNumTraks(movie, &counts) == 0) {
    std::vector<uint32_t> ids(counts.total), hints(counts.total), listed;
    for (uint32_t type = 0; type < 10; ++type) {
      uint32_t n = 0;
      if (gGetTrakIds(movie, type, ids.data(), &n) != 0) continue;
      for (uint32_t i = 0; i < n; ++i) {
        uint32_t hintCount = 0, esTrack = 0;
        gGetHintTrakIdsForTrakId(movie, ids[i], hints.data(), &hintCount);
        gGetTrakIdForEsId(movie, ids[i], &esTrack);
        ExerciseTrack(movie, ids[i]);
        listed.push_back(ids[i]);
      }
    }
    // Tracks of other handlers join no list; reach them by id.
    for (uint32_t id = 0; id < 8; ++id)
      if (std::find(listed.begin(), listed.end(), id) == listed.end()) ExerciseTrack(movie, id);
  }
  gCloseMP4File(movie);
  return 0;
}
