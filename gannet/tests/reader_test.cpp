// Sample tables, the locator and its cursor, time lookup and sync navigation on synthetic files.
#include <gtest/gtest.h>

#include <numeric>

#include "gannet/gannet.h"
#include "mp4_builder.h"
#include "platform_testing/device_root.h"

using namespace gannet_testing;

namespace {

class Movie {
 public:
  explicit Movie(const Bytes& bytes, const std::string& name = "m.mp4") : path_(root_.path() + "/" + name) {
    WriteFile(path_, bytes);
    rc_ = gOpenMP4File(&movie_, path_.c_str(), nullptr);
  }
  ~Movie() {
    if (session_) gCloseTrakSession(session_);
    if (movie_) gCloseMP4File(movie_);
  }
  int rc() const { return rc_; }
  MovieFile* get() const { return movie_; }
  const std::string& path() const { return path_; }
  TrakSession* Session(uint32_t trackId) {
    if (session_) gCloseTrakSession(session_);
    session_ = nullptr;
    EXPECT_EQ(gOpenTrakSession(movie_, &session_, trackId), 0);
    return session_;
  }

 private:
  platform_testing::ScopedDeviceRoot root_;
  std::string path_;
  MovieFile* movie_ = nullptr;
  TrakSession* session_ = nullptr;
  int rc_ = -1;
};

std::vector<uint32_t> Sizes(uint32_t n, uint32_t base = 10) {
  std::vector<uint32_t> sizes(n);
  for (uint32_t i = 0; i < n; ++i) sizes[i] = base + (i * 13) % 29;
  return sizes;
}

// Reads sample n and checks its bytes against the builder's pattern.
void ExpectSample(TrakSession* s, uint32_t trackId, uint32_t n, uint32_t size, uint32_t dtsMs,
                  uint32_t ctsMs) {
  std::vector<uint8_t> buf(size + 16);
  SampleRequest req{n, 0, 0, 0, buf.data()};
  ASSERT_EQ(gReadSample(s, &req), 0) << "sample " << n;
  EXPECT_EQ(req.size, size) << "sample " << n;
  EXPECT_EQ(req.decodeTimeMs, dtsMs) << "sample " << n;
  EXPECT_EQ(req.compositionTimeMs, ctsMs) << "sample " << n;
  for (uint32_t k = 0; k < req.size; ++k) {
    if (buf[k] != SampleByte(trackId, n, k)) {
      ADD_FAILURE() << "sample " << n << " byte " << k;
      return;
    }
  }
}

TEST(GannetOpen, CountsIdsAndTrackInfo) {
  MovieLayout layout;
  layout.timescale = 600;
  layout.duration = 1200;
  TrackLayout video;
  video.id = 1;
  video.sizes = Sizes(20);
  video.timescale = 3000;
  video.duration = 6000;
  TrackLayout audio;
  audio.id = 7;
  audio.handler = "soun";
  audio.sampleEntry = Mp4aEntry(9, 2, 22050);
  audio.sizes = Sizes(30);
  audio.timescale = 22050;
  audio.duration = 44100;
  layout.tracks = {video, audio};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);

  TrackCounts counts{};
  ASSERT_EQ(gGetNumTraks(m.get(), &counts), 0);
  EXPECT_EQ(counts.total, 2u);
  EXPECT_EQ(counts.video, 1u);
  EXPECT_EQ(counts.audio, 1u);
  EXPECT_EQ(counts.hint, 0u);

  uint32_t ids[2] = {};
  uint32_t count = 0;
  ASSERT_EQ(gGetTrakIds(m.get(), kGannetTrackAudio, ids, &count), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(ids[0], 7u);
  EXPECT_EQ(gGetTrakIds(m.get(), 10, ids, &count), -1);

  MovieInfo* movieInfo = nullptr;
  ASSERT_EQ(gGetMovieInfo(m.get(), &movieInfo), 0);
  EXPECT_EQ(movieInfo->durationMs, 2000u);
  EXPECT_EQ(movieInfo->iods, nullptr);
  movieInfo->release(movieInfo);

  MediaTrackInfo* info = nullptr;
  ASSERT_EQ(gGetMediaTrackInfo(m.get(), 1, &info), 0);
  EXPECT_EQ(info->durationMs, 2000u);
  EXPECT_EQ(info->trackType, kGannetTrackVideo);
  EXPECT_EQ(info->widthOrChannels, 176);
  EXPECT_EQ(info->heightOrSampleRate, 144);
  ASSERT_NE(info->descriptor, nullptr);
  EXPECT_EQ(info->descriptor[0], 3);                          // ES_Descriptor tag
  EXPECT_EQ(info->descriptorSize, 2u + info->descriptor[1]);  // the esds holds only the ES_Descriptor
  info->release(info);

  ASSERT_EQ(gGetMediaTrackInfo(m.get(), 7, &info), 0);
  EXPECT_EQ(info->widthOrChannels, 2);
  EXPECT_EQ(info->heightOrSampleRate, 22050);
  info->release(info);
  EXPECT_EQ(gGetMediaTrackInfo(m.get(), 99, &info), -1);

  uint32_t trackId = 0;
  ASSERT_EQ(gGetTrakIdForEsId(m.get(), 9, &trackId), 0);
  EXPECT_EQ(trackId, 7u);
  EXPECT_EQ(gGetTrakIdForEsId(m.get(), 55, &trackId), -1);
}

TEST(GannetOpen, MovieWithoutTracksOpensButHasNoCounts) {
  MovieLayout layout;
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrackCounts counts{};
  EXPECT_EQ(gGetNumTraks(m.get(), &counts), -1);
}

TEST(GannetSamples, SequentialAndRandomReadsAgree) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(40);
  t.timescale = 1000;
  t.stsc = {{{1, 3, 1}}, {{4, 5, 1}}, {{6, 3, 1}}};  // 3,3,3,5,5,3,3,... samples per chunk
  t.stts = {{10, 40}, {30, 33}};
  t.ctts = std::vector<std::pair<uint32_t, uint32_t>>{{1, 0}, {39, 80}};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t total = 0, maxSize = 0;
  ASSERT_EQ(gGetTotalSamplesInTrak(s, &total), 0);
  EXPECT_EQ(total, 40u);
  ASSERT_EQ(gGetMaxSampleSize(s, &maxSize), 0);
  EXPECT_EQ(maxSize, *std::max_element(t.sizes.begin(), t.sizes.end()));

  auto dts = [](uint32_t n) { return n <= 10 ? (n - 1) * 40 : 400 + (n - 11) * 33; };
  auto cts = [&](uint32_t n) { return dts(n) + (n == 1 ? 0 : 80); };
  for (uint32_t n = 1; n <= 40; ++n) ExpectSample(s, 1, n, t.sizes[n - 1], dts(n), cts(n));
  // Random order, then sequential again from a random point.
  for (uint32_t n : {17u, 3u, 40u, 1u, 11u, 10u, 12u, 13u, 39u, 40u})
    ExpectSample(s, 1, n, t.sizes[n - 1], dts(n), cts(n));

  uint32_t ms = 0;
  ASSERT_EQ(gGetTimeOfSampleNum(s, 12, &ms), 0);
  EXPECT_EQ(ms, cts(12));
}

TEST(GannetSamples, OutOfRangeReadsFailWithoutTouchingTheBuffer) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(5);
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  std::vector<uint8_t> buf(64, 0xEE);
  for (uint32_t n : {0u, 6u, 0xFFFFFFFFu}) {
    SampleRequest req{n, 0, 0, 0, buf.data()};
    EXPECT_EQ(gReadSample(s, &req), -1) << n;
  }
  EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0xEE; }));
  // A failed read leaves the cursor usable.
  ExpectSample(s, 1, 5, t.sizes[4], 400, 400);
  ExpectSample(s, 1, 1, t.sizes[0], 0, 0);
}

TEST(GannetSamples, ConstantSizeTableAndEmptyChunksAndZeroCountEntries) {
  MovieLayout layout;
  TrackLayout t;
  t.handler = "soun";
  t.sampleEntry = SamrEntry();
  t.constantSize = 32;
  t.constantCount = 12;
  // Chunk 2 is empty; a zero-count stts entry sits between two real ones.
  t.stsc = {{{1, 5, 1}}, {{2, 0, 1}}, {{3, 7, 1}}};
  t.stts = {{5, 160}, {0, 999}, {7, 160}};
  layout.tracks = {t};
  Bytes file = BuildMovie(layout);
  Movie m(file);
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t total = 0;
  ASSERT_EQ(gGetTotalSamplesInTrak(s, &total), 0);
  EXPECT_EQ(total, 12u);
  for (uint32_t n = 1; n <= 12; ++n) ExpectSample(s, 1, n, 32, (n - 1) * 160, (n - 1) * 160);
  ExpectSample(s, 1, 6, 32, 800, 800);
  ExpectSample(s, 1, 7, 32, 960, 960);
}

TEST(GannetSamples, ReadChunkWalksChunksInPieces) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = {10, 20, 30, 5};
  t.stsc = {{{1, 2, 1}}};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint8_t buf[64];
  std::vector<uint32_t> pieces;
  ChunkRequest req{0, 25, 0, 0, buf};
  while (gReadChunk(s, &req) == 0) {
    pieces.push_back(req.size);
    req.size = 25;
  }
  EXPECT_EQ(pieces, (std::vector<uint32_t>{25, 5, 25, 10}));
}

TEST(GannetSync, ZeroBasedStssIsShiftedByOne) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(30);
  t.stss = std::vector<uint32_t>{0, 9, 19};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t flag = 0;
  for (uint32_t n = 1; n <= 30; ++n) {
    ASSERT_EQ(gIsSyncPoint(s, n, &flag), 0);
    EXPECT_EQ(flag, (n == 1 || n == 10 || n == 20) ? 1u : 0u) << n;
  }
  uint32_t n = 20;
  ASSERT_EQ(gGetNextSyncPoint(s, &n, -1), 0);
  EXPECT_EQ(n, 10u);
}

TEST(GannetSync, NextSyncPointAndRemainingCounts) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(100);
  t.stss = std::vector<uint32_t>{5, 30, 61};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  struct Case {
    uint32_t from;
    int32_t direction;
    int rc;
    uint32_t to;
  };
  const Case cases[] = {
      {30, +1, 0, 61},  // from a sync sample: the following one, not itself
      {30, -1, 0, 5},  {31, -1, 0, 30}, {31, +1, 0, 61}, {2, +1, 0, 5},   {90, -1, 0, 61},
      {61, +1, -1, 0}, {5, -1, -1, 0},  {3, -1, -1, 0},  {70, +1, -1, 0}, {30, 2, -1, 0},
  };
  for (const Case& c : cases) {
    uint32_t n = c.from;
    EXPECT_EQ(gGetNextSyncPoint(s, &n, c.direction), c.rc) << c.from << " " << c.direction;
    if (c.rc == 0) {
      EXPECT_EQ(n, c.to) << c.from << " " << c.direction;
    }
  }
  uint32_t before = 0, after = 0;
  ASSERT_EQ(gGetRemainingSyncSampleCnt(s, 30, &before, &after), 0);
  EXPECT_EQ(before, 1u);
  EXPECT_EQ(after, 1u);
  ASSERT_EQ(gGetRemainingSyncSampleCnt(s, 40, &before, &after), 0);
  EXPECT_EQ(before, 2u);
  EXPECT_EQ(after, 1u);
  ASSERT_EQ(gGetRemainingSyncSampleCnt(s, 2, &before, &after), 0);
  EXPECT_EQ(before, 0u);
  EXPECT_EQ(after, 3u);
  ASSERT_EQ(gGetRemainingSyncSampleCnt(s, 99, &before, &after), 0);
  EXPECT_EQ(before, 3u);
  EXPECT_EQ(after, 0u);
}

TEST(GannetSync, TrackWithoutStssHasEverySampleSync) {
  MovieLayout layout;
  TrackLayout t;
  t.handler = "soun";
  t.sampleEntry = Mp4aEntry();
  t.sizes = Sizes(20);
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t n = 10;
  ASSERT_EQ(gGetNextSyncPoint(s, &n, -1), 0);
  EXPECT_EQ(n, 9u);
  uint32_t flag = 0;
  ASSERT_EQ(gIsSyncPoint(s, 13, &flag), 0);
  EXPECT_EQ(flag, 1u);
  uint32_t before = 0, after = 0;
  ASSERT_EQ(gGetRemainingSyncSampleCnt(s, 5, &before, &after), 0);
  EXPECT_EQ(before, 4u);
  EXPECT_EQ(after, 15u);
  n = 1;
  EXPECT_EQ(gGetNextSyncPoint(s, &n, -1), -1);
}

TEST(GannetTime, SampleForTimeFallsBackToPreviousKeyFrame) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(90);
  t.timescale = 30;
  t.defaultDelta = 1;
  t.stss = std::vector<uint32_t>{1, 61};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t ms = 1500, n = 0;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(ms, 0u);
  ms = 2500;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 61u);
  EXPECT_EQ(ms, 2000u);
  ms = 99000;  // past the end
  EXPECT_EQ(gGetSampleNumForTime(s, &ms, &n), -1);
}

TEST(GannetTime, SampleForTimeWithoutStssAndWithZeroDelta) {
  MovieLayout layout;
  TrackLayout t;
  t.handler = "soun";
  t.sampleEntry = Mp4aEntry();
  t.sizes = Sizes(10);
  t.timescale = 8000;
  t.stts = {{2, 0}, {8, 160}};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  uint32_t ms = 0, n = 0;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);  // zero delta must not divide by zero
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(ms, 0u);
  ms = 60;  // 480 units: sample 6 starts at 480
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(ms, 60u);
  ms = 61;  // 488 units: sample 6 (480..640) is playing, the seek lands on it
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(ms, 60u);
  ms = 159;  // inside the last sample
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 10u);
  ms = 160;  // the end of the track
  EXPECT_EQ(gGetSampleNumForTime(s, &ms, &n), -1);
}

TEST(GannetEdits, EditListsOfBothVersionsAndDamagedOnes) {
  auto movieWith = [](const Bytes& edts) {
    MovieLayout layout;
    TrackLayout t;
    t.handler = "soun";
    t.sampleEntry = Mp4aEntry();
    t.sizes = Sizes(4);
    t.trakExtra = edts;
    layout.tracks = {t};
    return BuildMovie(layout);
  };
  BoxWriter v0;
  v0.Open("edts").OpenFull("elst", 0, 0).U32(2);
  v0.U32(500).U32(0xFFFFFFFFu).U32(0x10000);  // an empty edit first
  v0.U32(1500).U32(1024).U32(0x10000);
  v0.Close().Close();
  Movie a(movieWith(v0.Take()));
  ASSERT_EQ(a.rc(), 0);
  uint32_t count = 0;
  ASSERT_EQ(gGetEditList(a.get(), 1, nullptr, &count), 0);
  ASSERT_EQ(count, 2u);
  EditEntry e[2] = {};
  uint32_t small = 1;
  EXPECT_EQ(gGetEditList(a.get(), 1, e, &small), -1);
  ASSERT_EQ(gGetEditList(a.get(), 1, e, &count), 0);
  EXPECT_EQ(e[0].segmentDuration, 500u);
  EXPECT_EQ(e[0].mediaTime, -1);
  EXPECT_EQ(e[1].mediaTime, 1024);
  EXPECT_EQ(e[1].rate, 0x10000);
  EXPECT_EQ(gGetEditList(a.get(), 9, e, &count), -1);

  BoxWriter v1;
  v1.Open("edts").OpenFull("elst", 1, 0).U32(1).U32(0).U32(3000).U32(0).U32(2112).U32(0x10000).Close().Close();
  Movie b(movieWith(v1.Take()));
  ASSERT_EQ(b.rc(), 0);
  count = 1;
  ASSERT_EQ(gGetEditList(b.get(), 1, e, &count), 0);
  EXPECT_EQ(e[0].segmentDuration, 3000u);
  EXPECT_EQ(e[0].mediaTime, 2112);

  // A count beyond the box: the list is dropped, the track still opens.
  BoxWriter bad;
  bad.Open("edts").OpenFull("elst", 0, 0).U32(1000).U32(1).U32(2).U32(3).Close().Close();
  Movie c(movieWith(bad.Take()));
  ASSERT_EQ(c.rc(), 0);
  ASSERT_EQ(gGetEditList(c.get(), 1, nullptr, &count), 0);
  EXPECT_EQ(count, 0u);
}

TEST(GannetTime, SampleForTimeIsNeverAfterTheTarget) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(30);
  t.timescale = 1000;
  t.defaultDelta = 100;
  t.stss = std::vector<uint32_t>{1, 11, 21};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  // Just before a key frame: the key frame that starts after the target is not taken.
  uint32_t ms = 1950, n = 0;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(ms, 1000u);
  ms = 2000;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 21u);
  ms = 2999;
  ASSERT_EQ(gGetSampleNumForTime(s, &ms, &n), 0);
  EXPECT_EQ(n, 21u);
  ms = 3000;
  EXPECT_EQ(gGetSampleNumForTime(s, &ms, &n), -1);
}

TEST(GannetTime, MillisecondsAreExactForLargeMediaTimes) {
  MovieLayout layout;
  TrackLayout t;
  t.sizes = Sizes(3);
  t.timescale = 90000;
  t.stts = {{1, 324000003}, {2, 3003}};
  layout.tracks = {t};
  Movie m(BuildMovie(layout));
  ASSERT_EQ(m.rc(), 0);
  TrakSession* s = m.Session(1);
  // 324003006 / 90000 s = 3600033.4 ms; a float quotient would be off by several ms.
  uint32_t ms = 0;
  ASSERT_EQ(gGetTimeOfSampleNum(s, 3, &ms), 0);
  EXPECT_EQ(ms, 3600033u);
  ASSERT_EQ(gGetTimeOfSampleNum(s, 2, &ms), 0);
  EXPECT_EQ(ms, 3600000u);
}

}  // namespace
