// Gannet: MP4/3GP reader.
//
// Opens an ISO base media file (MP4 or 3GP), parses the movie header and every track's sample tables
// into memory, and serves samples by number or time, sync-sample navigation, decoder configurations
// and RTP hint-track packetisation. Every export has C linkage and returns kGannetOk (0) on success,
// kGannetError (-1) on failure; the header compiles as C. Record layouts are fixed: sizes quoted in
// comments are those of a 32-bit build.
#pragma once

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <cstdio>
#else
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#endif

#if defined(GANNET_BUILD)
#define GANNET_API __attribute__((visibility("default")))
#else
#define GANNET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ReaderIo ReaderIo;
typedef struct MovieFile MovieFile;
typedef struct TrakSession TrakSession;
typedef struct HintTrakSession HintTrakSession;
typedef struct SampleRequest SampleRequest;
typedef struct TrackCounts TrackCounts;
typedef struct MediaTrackInfo MediaTrackInfo;
typedef struct DecoderConfig DecoderConfig;
typedef struct MovieInfo MovieInfo;
typedef struct ReferenceTrackIds ReferenceTrackIds;
typedef struct ChunkRequest ChunkRequest;
typedef struct HintPacket HintPacket;
typedef struct HintRequest HintRequest;
typedef struct EditEntry EditEntry;

/// Result codes of every export.
typedef enum GannetResult {
  kGannetOk = 0,
  kGannetError = -1,  ///< bad argument, unreadable or unsupported file, missing track or sample
} GannetResult;

/// The name of a result code ("kGannetOk", ...), or "unknown result" for any other number.
GANNET_API const char* GannetResultName(int result);

/// File access supplied by the caller. The stream returned by `open` must be closable with fclose.
/// The reader passes the mode "rb", seek origins 0 (from start) and 1 (relative), and element size 1.
struct ReaderIo {
  FILE* (*open)(const char* path, const char* mode);
  int (*seek)(FILE* stream, long offset, int origin);
  size_t (*read)(void* buffer, size_t size, size_t count, FILE* stream);
};

/// Track types; a track with another handler joins no id list.
enum GannetTrackType
#ifdef __cplusplus
    : uint32_t
#endif
{
  kGannetTrackVideo = 0,             // 'vide'
  kGannetTrackAudio = 1,             // 'soun'
  kGannetTrackHint = 2,              // 'hint'
  kGannetTrackSceneDescription = 3,  // 'sdsm'
  kGannetTrackObjectDescriptor = 4,  // 'odsm'
#ifdef __cplusplus
  kGannetTrackOther = 0xFFFFFFFFu,
#else
  kGannetTrackOther = -1,  // C enumerators are ints: the same 32 bits once stored in a uint32_t
#endif
};

/// One sample read: number in (1-based); size and both times out; buffer in (must hold the track's
/// largest sample).
struct SampleRequest {
  uint32_t sampleNumber;
  uint32_t size;
  uint32_t decodeTimeMs;
  uint32_t compositionTimeMs;
  uint8_t* buffer;
};

/// Filled by gGetNumTraks (six 32-bit words).
struct TrackCounts {
  uint32_t total;
  uint32_t video;
  uint32_t audio;
  uint32_t hint;
  uint32_t objectDescriptor;
  uint32_t sceneDescription;
};

/// Allocated by the reader (32 bytes); the caller frees it with `release(info)`.
struct MediaTrackInfo {
  void (*release)(MediaTrackInfo* info);
  uint32_t durationMs;
  uint8_t zero[10];
  /// The sample entry's bytes after the 12-byte header of its first box (the ES_Descriptor for
  /// 'mp4v'/'mp4a'); points into the movie and stays valid until gCloseMP4File.
  const uint8_t* descriptor;
  uint16_t descriptorSize;
  uint16_t trackType;
  uint16_t widthOrChannels;     // video width, or audio channel count
  uint16_t heightOrSampleRate;  // video height, or audio sample rate (integer part)
};

/// Decoder configuration (36 bytes). Kind 1: MPEG-4 ES descriptor; kind 2: 3GPP AMR ('samr' 192,
/// 'sawb' 193) or H.263 ('s263' 194). Allocated by the reader; the caller frees it with `release(cfg)`.
struct DecoderConfig {
  uint8_t kind;
  uint8_t objectType;
  uint16_t spare;
  union {
    struct {
      uint16_t esId;
      uint8_t streamType;  // DecoderConfigDescriptor byte 1 shifted right by 2
      uint8_t spare;
    } es;
    uint32_t vendor;  // kind 2: four-character vendor code as a big-endian number
  };
  union {
    uint32_t maxBitrate;
    struct {
      uint8_t decoderVersion;
      uint8_t spare;
      uint16_t modeSet;
    } amr;
    struct {
      uint8_t decoderVersion;
      uint8_t level;
      uint8_t profile;
      uint8_t spare;
    } h263;
  };
  union {
    uint32_t avgBitrate;
    struct {
      uint8_t modeChangePeriod;
      uint8_t framesPerSample;
      uint16_t spare;
    } amrFrames;
  };
  uint32_t decoderSpecificInfoSize;
  uint8_t* decoderSpecificInfo;
  uint32_t slConfigSize;
  uint8_t* slConfig;
  void (*release)(DecoderConfig* cfg);
};

/// gGetMovieInfo record (24 bytes); the caller frees it with `release(info)`.
struct MovieInfo {
  uint32_t durationMs;
  uint32_t spare[2];
  uint8_t* iods;  // copy of the iods payload (after the box's 12-byte header), or null
  uint32_t iodsSize;
  void (*release)(MovieInfo* info);
};

/// gGetReferenceTrakIds record (36 bytes); the caller frees it with `release(refs)`.
struct ReferenceTrackIds {
  uint32_t* hintIds;
  uint32_t hintCount;
  uint32_t* mpodIds;
  uint32_t mpodCount;
  uint32_t* dpndIds;
  uint32_t dpndCount;
  uint32_t spare[2];
  void (*release)(ReferenceTrackIds* refs);
};

/// gReadChunk record: `size` is the buffer's capacity on entry and the bytes read on return.
struct ChunkRequest {
  uint32_t spare0;
  uint32_t size;
  uint32_t spare1;
  uint32_t spare2;
  uint8_t* buffer;
};

/// One RTP packet built from a hint sample (12 bytes). `payload` points into the hint session and
/// stays valid until its next gReadHintSample or gCloseHintTrakSession.
struct HintPacket {
  uint16_t rtpHeader;       // V=2, P, X, M, payload type as in the first RTP header word
  uint16_t sequenceNumber;  // second RTP header word
  uint16_t payloadLength;
  uint16_t spare;
  const uint8_t* payload;
};

/// gReadHintSample request. With `loadFlag` 0 the hint sample `sampleNumber` is read and packet
/// building starts from its first packet; otherwise it continues with the loaded sample.
/// `packetCount` is the capacity of `packets` on entry and the number built on return.
struct HintRequest {
  uint32_t loadFlag;
  uint32_t packetCount;
  uint32_t sampleNumber;
  HintPacket* packets;
  uint32_t timestamp;  // out: RTP timestamp of the hint sample
};

/// One entry of a track's edit list: segment duration in the movie timescale, start of the
/// segment in the track's media timescale (-1 for an empty edit, which plays nothing) and the
/// rate in 16.16 fixed point.
struct EditEntry {
  uint64_t segmentDuration;
  int64_t mediaTime;
  int32_t rate;
};

/// Opens and parses the file. With a null `io` the C library's fopen/fseek/fread are used.
/// On failure *movie is null and nothing stays allocated or open.
GANNET_API int gOpenMP4File(MovieFile** movie, const char* path, const ReaderIo* io);
/// Closes every owned data-reference stream and the main stream; frees everything.
/// Every TrakSession of the movie must be closed first.
GANNET_API int gCloseMP4File(MovieFile* movie);

/// Timescale and duration in ms of the movie (track id 0) or of a track's media (hint tracks too).
/// Copies the track's edit list ('elst'); with a null array stores the number of entries in
/// count; -1 when count is smaller than that. A track without a usable edit list has none.
GANNET_API int gGetEditList(MovieFile* movie, uint32_t trackId, EditEntry* entries, uint32_t* count);
GANNET_API int gGetTrakTimes(MovieFile* movie, uint32_t trackId, uint32_t* timescale, uint32_t* durationMs);
GANNET_API int gGetNumTraks(MovieFile* movie, TrackCounts* counts);
/// Copies the ids of tracks of `type` (0..9) into `ids`, which must hold TrackCounts.total entries.
GANNET_API int gGetTrakIds(MovieFile* movie, uint32_t type, uint32_t* ids, uint32_t* count);
GANNET_API int gGetMediaTrackInfo(MovieFile* movie, uint32_t trackId, MediaTrackInfo** info);
GANNET_API int gGetMovieInfo(MovieFile* movie, MovieInfo** info);
GANNET_API int gGetDecoderCfg(MovieFile* movie, uint32_t trackId, DecoderConfig** cfg);
GANNET_API int gGetTrakIdForEsId(MovieFile* movie, uint32_t esId, uint32_t* trackId);
GANNET_API int gGetReferenceTrakIds(MovieFile* movie, uint32_t trackId, ReferenceTrackIds** refs);
/// `ids` must hold TrackCounts.total entries.
GANNET_API int gGetHintTrakIdsForTrakId(MovieFile* movie, uint32_t trackId, uint32_t* ids, uint32_t* count);
/// The movie SDP followed by every track's SDP in one malloc'd, NUL-terminated block (free with free);
/// `size` excludes the terminator.
GANNET_API int gGetSdpInfo(MovieFile* movie, char** text, uint32_t* size);

GANNET_API int gOpenTrakSession(MovieFile* movie, TrakSession** session, uint32_t trackId);
GANNET_API int gCloseTrakSession(TrakSession* session);
GANNET_API int gGetTotalSamplesInTrak(TrakSession* session, uint32_t* count);
GANNET_API int gGetMaxSampleSize(TrakSession* session, uint32_t* size);
GANNET_API int gReadSample(TrakSession* session, SampleRequest* request);
GANNET_API int gReadChunk(TrakSession* session, ChunkRequest* request);
GANNET_API int gGetTimeOfSampleNum(TrakSession* session, uint32_t sampleNumber, uint32_t* timeMs);
/// Finds the sync sample to start playing at *timeMs; *timeMs becomes that sample's composition time.
GANNET_API int gGetSampleNumForTime(TrakSession* session, uint32_t* timeMs, uint32_t* sampleNumber);
GANNET_API int gGetNextSyncPoint(TrakSession* session, uint32_t* sampleNumber, int32_t direction);
GANNET_API int gIsSyncPoint(TrakSession* session, uint32_t sampleNumber, uint32_t* isSync);
/// File offset, size and times of sample n without reading it (for inspection tools); moves the
/// session's cursor like a read.
GANNET_API int gGetSampleLocation(TrakSession* session, uint32_t sampleNumber, uint64_t* offset,
                                  uint32_t* size, uint32_t* decodeTimeMs, uint32_t* compositionTimeMs);
GANNET_API int gGetRemainingSyncSampleCnt(TrakSession* session, uint32_t sampleNumber, uint32_t* before,
                                          uint32_t* after);

GANNET_API int gOpenHintTrakSession(MovieFile* movie, HintTrakSession** session, uint32_t hintTrackId);
GANNET_API int gReadHintSample(HintTrakSession* session, HintRequest* request);
GANNET_API int gCloseHintTrakSession(HintTrakSession* session);
GANNET_API int gGetMaxPacketSize(TrakSession* session, uint32_t* size);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(void*) != 4 || sizeof(MediaTrackInfo) == 32);
static_assert(sizeof(void*) != 4 || sizeof(DecoderConfig) == 36);
static_assert(sizeof(void*) != 4 || sizeof(MovieInfo) == 24);
static_assert(sizeof(void*) != 4 || sizeof(ReferenceTrackIds) == 36);
static_assert(sizeof(void*) != 4 || sizeof(HintPacket) == 12);
static_assert(sizeof(TrackCounts) == 24);
#endif
