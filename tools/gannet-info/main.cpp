// gannet-info: prints an MP4/3GP file's movie and track summary, its samples, or a time lookup.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gannet/gannet.h"
#include "toolargs/toolargs.h"

namespace {

void PrintUsage(FILE* to) {
  fprintf(to,
          "usage: gannet-info FILE\n"
          "       gannet-info --samples TRACK FILE\n"
          "       gannet-info --time TRACK MS FILE\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

bool ParseU32(const char* text, uint32_t* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long v = strtoul(text, &end, 10);
  if (errno || end == text || *end || text[0] == '-' || v > UINT32_MAX) return false;
  *out = uint32_t(v);
  return true;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case kGannetTrackVideo:
      return "video";
    case kGannetTrackAudio:
      return "audio";
    case kGannetTrackHint:
      return "hint";
    case kGannetTrackSceneDescription:
      return "scene";
    case kGannetTrackObjectDescriptor:
      return "od";
    default:
      return "other";
  }
}

void PrintTrack(MovieFile* movie, uint32_t id, uint32_t type) {
  uint32_t samples = 0, maxSize = 0, syncCount = 0;
  TrakSession* s = nullptr;
  if (gOpenTrakSession(movie, &s, id) == 0) {
    gGetTotalSamplesInTrak(s, &samples);
    gGetMaxSampleSize(s, &maxSize);
    uint32_t before = 0, after = 0, flag = 0;
    if (samples > 0 && gGetRemainingSyncSampleCnt(s, 1, &before, &after) == 0 &&
        gIsSyncPoint(s, 1, &flag) == 0)
      syncCount = after + flag;
    gCloseTrakSession(s);
  }
  uint32_t codec = 0;
  DecoderConfig* cfg = nullptr;
  if (gGetDecoderCfg(movie, id, &cfg) == 0) {
    codec = cfg->objectType;
    cfg->release(cfg);
  }
  char shape[48] = "-";
  MediaTrackInfo* mi = nullptr;
  if (gGetMediaTrackInfo(movie, id, &mi) == 0) {
    if (type == kGannetTrackVideo)
      snprintf(shape, sizeof shape, "%ux%u", mi->widthOrChannels, mi->heightOrSampleRate);
    else if (type == kGannetTrackAudio)
      snprintf(shape, sizeof shape, "%ux %u", mi->widthOrChannels, mi->heightOrSampleRate);
    mi->release(mi);
  }
  uint32_t timescale = 0, durationMs = 0;
  gGetTrakTimes(movie, id, &timescale, &durationMs);
  printf(
      "track %u type %s duration-ms %u timescale %u samples %u max-sample-size %u sync-samples %u codec %u "
      "%s\n",
      id, TypeName(type), durationMs, timescale, samples, maxSize, syncCount, codec, shape);
}

int PrintSummary(MovieFile* movie) {
  uint32_t timescale = 0, durationMs = 0;
  gGetTrakTimes(movie, 0, &timescale, &durationMs);
  printf("movie timescale %u duration-ms %u\n", timescale, durationMs);
  TrackCounts counts{};
  if (gGetNumTraks(movie, &counts) != 0) return 0;
  std::vector<uint32_t> ids(counts.total);
  for (uint32_t type = 0; type < 5; ++type) {
    uint32_t n = 0;
    if (gGetTrakIds(movie, type, ids.data(), &n) != 0) continue;
    for (uint32_t i = 0; i < n; ++i) PrintTrack(movie, ids[i], type);
  }
  return 0;
}

int PrintSamples(MovieFile* movie, uint32_t trackId) {
  TrakSession* s = nullptr;
  if (gOpenTrakSession(movie, &s, trackId) != 0) {
    fprintf(stderr, "gannet-info: track %u is missing or has no sample tables\n", trackId);
    return 1;
  }
  uint32_t total = 0;
  gGetTotalSamplesInTrak(s, &total);
  int rc = 0;
  for (uint32_t n = 1; n <= total; ++n) {
    uint64_t offset = 0;
    uint32_t size = 0, dts = 0, cts = 0, flag = 0;
    if (gGetSampleLocation(s, n, &offset, &size, &dts, &cts) != 0) {
      fprintf(stderr, "gannet-info: cannot locate sample %u of track %u\n", n, trackId);
      rc = 1;
      break;
    }
    gIsSyncPoint(s, n, &flag);
    printf("%u %u %u %u sync %u %" PRIu64 "\n", n, dts, cts, size, flag, offset);
  }
  gCloseTrakSession(s);
  return rc;
}

int PrintTimeLookup(MovieFile* movie, uint32_t trackId, uint32_t ms) {
  TrakSession* s = nullptr;
  if (gOpenTrakSession(movie, &s, trackId) != 0) {
    fprintf(stderr, "gannet-info: track %u is missing or has no sample tables\n", trackId);
    return 1;
  }
  uint32_t n = 0;
  int rc = gGetSampleNumForTime(s, &ms, &n);
  gCloseTrakSession(s);
  if (rc != 0) {
    fprintf(stderr, "gannet-info: no sample of track %u at that time\n", trackId);
    return 1;
  }
  printf("sample %u time-ms %u\n", n, ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "gannet-info", &PrintUsage); rc >= 0) return rc;
  enum { kSummary, kSamples, kTime } mode = kSummary;
  uint32_t trackId = 0, ms = 0;
  const char* path = nullptr;
  if (argc == 2 && argv[1][0] != '-') {
    path = argv[1];
  } else if (argc == 4 && strcmp(argv[1], "--samples") == 0) {
    mode = kSamples;
    if (!ParseU32(argv[2], &trackId)) return toolargs::BadNumber("gannet-info", "TRACK", argv[2], "a track number");
    path = argv[3];
  } else if (argc == 5 && strcmp(argv[1], "--time") == 0) {
    mode = kTime;
    if (!ParseU32(argv[2], &trackId)) return toolargs::BadNumber("gannet-info", "TRACK", argv[2], "a track number");
    if (!ParseU32(argv[3], &ms)) return toolargs::BadNumber("gannet-info", "MS", argv[3], "milliseconds");
    path = argv[4];
  } else {
    return Usage();
  }

  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, path, nullptr) != 0) {
    fprintf(stderr, "gannet-info: %s: cannot open as an MP4/3GP movie\n", path);
    return 1;
  }
  int rc = mode == kSummary   ? PrintSummary(movie)
           : mode == kSamples ? PrintSamples(movie, trackId)
                              : PrintTimeLookup(movie, trackId, ms);
  gCloseMP4File(movie);
  return rc;
}
