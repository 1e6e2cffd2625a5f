// Files written by ffmpeg, read back and compared packet by packet with ffprobe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "gannet/gannet.h"
#include "mp4_builder.h"
#include "platform_testing/device_root.h"

using namespace gannet_testing;

namespace {

bool HaveTool(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

std::string Capture(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

bool RunQuiet(const std::string& cmd) {
  return system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

struct Packet {
  int64_t pts, dts;
  uint32_t size;
  uint64_t pos;
  bool key;
};

std::vector<Packet> Probe(const std::string& path, int stream) {
  std::string out =
      Capture("ffprobe -v error -select_streams " + std::to_string(stream) +
              " -show_packets -show_entries packet=pts,dts,size,pos,flags -of csv=p=0 '" + path + "'");
  std::vector<Packet> packets;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    Packet p{};
    char flags[8] = {};
    long long pts, dts;
    unsigned long long pos;
    unsigned size;
    if (sscanf(line.c_str(), "%lld,%lld,%u,%llu,%7s", &pts, &dts, &size, &pos, flags) != 5) continue;
    p = Packet{pts, dts, size, pos, flags[0] == 'K'};
    packets.push_back(p);
  }
  return packets;
}

// AMR-NB storage format: magic, then 12.2 kbit/s frames (header 0x3C and 31 bytes of bits).
void WriteAmr(const std::string& path, int frames) {
  Bytes b = {'#', '!', 'A', 'M', 'R', '\n'};
  std::mt19937 rng(7);
  for (int i = 0; i < frames; ++i) {
    b.push_back(0x3C);
    for (int k = 0; k < 31; ++k) b.push_back(uint8_t(rng()));
  }
  WriteFile(path, b);
}

class FfmpegFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  }
  std::string Path(const std::string& name) const { return root_.path() + "/" + name; }

  std::string MakeMp4(const std::string& name, const std::string& flags = "") {
    std::string path = Path(name);
    bool ok = RunQuiet(
        "ffmpeg -y -f lavfi -i testsrc=size=176x144:rate=15 -f lavfi -i sine=frequency=440:sample_rate=16000 "
        "-t 3 -c:v mpeg4 -bf 2 -g 12 -c:a aac -b:a 32k " +
        flags + " '" + path + "'");
    EXPECT_TRUE(ok) << "ffmpeg failed for " << name;
    return path;
  }

  std::string Make3gp(const std::string& name) {
    std::string amr = Path("in.amr");
    WriteAmr(amr, 150);
    std::string path = Path(name);
    bool ok = RunQuiet("ffmpeg -y -f lavfi -i testsrc=size=176x144:rate=10 -i '" + amr +
                       "' -t 3 -c:v h263 -g 10 -c:a copy '" + path + "'");
    EXPECT_TRUE(ok) << "ffmpeg failed for " << name;
    return path;
  }

  // Every sample of every track against ffprobe: sizes, offsets, key flags, and both times.
  void CompareWithProbe(const std::string& path) {
    MovieFile* movie = nullptr;
    ASSERT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), 0) << path;
    TrackCounts counts{};
    ASSERT_EQ(gGetNumTraks(movie, &counts), 0);
    for (uint32_t stream = 0; stream < counts.total; ++stream) {
      uint32_t trackId = stream + 1;
      std::vector<Packet> packets = Probe(path, int(stream));
      TrakSession* s = nullptr;
      ASSERT_EQ(gOpenTrakSession(movie, &s, trackId), 0);
      uint32_t total = 0, maxSize = 0, timescale = 0, durationMs = 0;
      gGetTotalSamplesInTrak(s, &total);
      gGetMaxSampleSize(s, &maxSize);
      gGetTrakTimes(movie, trackId, &timescale, &durationMs);
      ASSERT_EQ(total, packets.size()) << "track " << trackId;
      ASSERT_GT(total, 0u);
      std::vector<uint8_t> buf(maxSize);
      std::vector<uint8_t> whole = ReadFile(path);
      int64_t shift = -packets[0].dts;  // our decode times start at 0; ffprobe applies the edit list
      for (uint32_t n = 1; n <= total; ++n) {
        const Packet& p = packets[n - 1];
        SampleRequest req{n, 0, 0, 0, buf.data()};
        ASSERT_EQ(gReadSample(s, &req), 0) << "track " << trackId << " sample " << n;
        EXPECT_EQ(req.size, p.size) << n;
        EXPECT_EQ(req.decodeTimeMs, uint32_t((p.dts + shift) * 1000 / timescale)) << n;
        EXPECT_EQ(req.compositionTimeMs, uint32_t((p.pts + shift) * 1000 / timescale)) << n;
        ASSERT_LE(p.pos + p.size, whole.size());
        EXPECT_EQ(memcmp(buf.data(), whole.data() + p.pos, p.size), 0) << n;
        uint64_t offset = 0;
        uint32_t size = 0, dts = 0, cts = 0, sync = 0;
        ASSERT_EQ(gGetSampleLocation(s, n, &offset, &size, &dts, &cts), 0);
        EXPECT_EQ(offset, p.pos) << n;
        ASSERT_EQ(gIsSyncPoint(s, n, &sync), 0);
        EXPECT_EQ(sync == 1, p.key) << "track " << trackId << " sample " << n;
      }
      gCloseTrakSession(s);
    }
    gCloseMP4File(movie);
  }

  platform_testing::ScopedDeviceRoot root_;
};

TEST_F(FfmpegFiles, Mpeg4VideoAndAacInMp4MatchFfprobe) {
  std::string path = MakeMp4("av.mp4");
  CompareWithProbe(path);

  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), 0);
  DecoderConfig* cfg = nullptr;
  ASSERT_EQ(gGetDecoderCfg(movie, 1, &cfg), 0);
  EXPECT_EQ(cfg->kind, 1);
  EXPECT_EQ(cfg->objectType, 32);
  EXPECT_EQ(cfg->es.streamType, 4);
  ASSERT_GT(cfg->decoderSpecificInfoSize, 4u);  // visual object sequence and VOL headers
  EXPECT_EQ(Be32At(Bytes(cfg->decoderSpecificInfo, cfg->decoderSpecificInfo + 4), 0), 0x000001B0u);
  cfg->release(cfg);
  ASSERT_EQ(gGetDecoderCfg(movie, 2, &cfg), 0);
  EXPECT_EQ(cfg->objectType, 64);
  EXPECT_EQ(cfg->es.streamType, 5);
  ASSERT_GE(cfg->decoderSpecificInfoSize, 2u);  // AudioSpecificConfig: AAC LC, 16 kHz, mono
  EXPECT_EQ(cfg->decoderSpecificInfo[0], 0x14);
  EXPECT_EQ(cfg->decoderSpecificInfo[1], 0x08);
  cfg->release(cfg);
  MediaTrackInfo* info = nullptr;
  ASSERT_EQ(gGetMediaTrackInfo(movie, 2, &info), 0);
  EXPECT_EQ(info->heightOrSampleRate, 16000);
  info->release(info);
  gCloseMP4File(movie);
}

TEST_F(FfmpegFiles, MoovBeforeMdatMatchesFfprobe) {
  CompareWithProbe(MakeMp4("fast.mp4", "-movflags faststart"));
}

TEST_F(FfmpegFiles, H263AndAmrIn3gpMatchFfprobe) {
  std::string path = Make3gp("ha.3gp");
  CompareWithProbe(path);

  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), 0);
  DecoderConfig* cfg = nullptr;
  ASSERT_EQ(gGetDecoderCfg(movie, 1, &cfg), 0);
  EXPECT_EQ(cfg->kind, 2);
  EXPECT_EQ(cfg->objectType, 194);
  EXPECT_EQ(cfg->h263.level, 10);
  cfg->release(cfg);
  ASSERT_EQ(gGetDecoderCfg(movie, 2, &cfg), 0);
  EXPECT_EQ(cfg->objectType, 192);
  EXPECT_EQ(cfg->amrFrames.framesPerSample, 1);
  cfg->release(cfg);
  gCloseMP4File(movie);
}

TEST_F(FfmpegFiles, StssStoredZeroBasedReportsTheSameKeyFrames) {
  std::string path = Make3gp("zero.3gp");
  Bytes file = ReadFile(path);
  size_t stss = FindBox(file, "stss");
  ASSERT_NE(stss, std::string::npos);
  uint32_t count = Be32At(file, stss + 12);
  ASSERT_GT(count, 1u);
  ASSERT_EQ(Be32At(file, stss + 16), 1u);
  for (uint32_t i = 0; i < count; ++i) PutBe32(&file, stss + 16 + 4 * i, Be32At(file, stss + 16 + 4 * i) - 1);
  std::string patched = Path("zero-patched.3gp");
  WriteFile(patched, file);

  std::vector<Packet> packets = Probe(path, 0);
  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, patched.c_str(), nullptr), 0);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  for (uint32_t n = 1; n <= packets.size(); ++n) {
    uint32_t sync = 0;
    ASSERT_EQ(gIsSyncPoint(s, n, &sync), 0);
    EXPECT_EQ(sync == 1, packets[n - 1].key) << n;
  }
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(FfmpegFiles, HintTracksBuildRtpPacketsFromMediaBytes) {
  std::string path = MakeMp4("hint.mp4", "-movflags rtphint");
  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), 0);
  TrackCounts counts{};
  ASSERT_EQ(gGetNumTraks(movie, &counts), 0);
  ASSERT_EQ(counts.hint, 2u);
  uint32_t hintIds[4] = {};
  uint32_t n = 0;
  ASSERT_EQ(gGetHintTrakIdsForTrakId(movie, 1, hintIds, &n), 0);
  ASSERT_EQ(n, 1u);
  uint32_t hintId = hintIds[0];
  MediaTrackInfo* info = nullptr;
  EXPECT_EQ(gGetMediaTrackInfo(movie, hintId, &info), -1);

  ReferenceTrackIds* refs = nullptr;
  ASSERT_EQ(gGetReferenceTrakIds(movie, hintId, &refs), 0);
  ASSERT_EQ(refs->hintCount, 1u);
  EXPECT_EQ(refs->hintIds[0], 1u);
  EXPECT_EQ(refs->mpodCount, 0u);
  refs->release(refs);
  EXPECT_EQ(gGetReferenceTrakIds(movie, 1, &refs), -1);

  TrakSession* hs = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &hs, hintId), 0);
  uint32_t maxPacket = 0;
  ASSERT_EQ(gGetMaxPacketSize(hs, &maxPacket), 0);
  EXPECT_GT(maxPacket, 100u);
  uint32_t hintSamples = 0;
  gGetTotalSamplesInTrak(hs, &hintSamples);
  gCloseTrakSession(hs);

  // Video payloads (RFC 3016) are the frame bytes split into packets: concatenating the payloads of
  // every hint sample must give back the video samples in order.
  TrakSession* vs = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &vs, 1), 0);
  uint32_t maxSize = 0, videoSamples = 0;
  gGetMaxSampleSize(vs, &maxSize);
  gGetTotalSamplesInTrak(vs, &videoSamples);
  std::vector<uint8_t> video, frame(maxSize);
  for (uint32_t k = 1; k <= videoSamples; ++k) {
    SampleRequest req{k, 0, 0, 0, frame.data()};
    ASSERT_EQ(gReadSample(vs, &req), 0);
    video.insert(video.end(), frame.begin(), frame.begin() + req.size);
  }
  gCloseTrakSession(vs);

  HintTrakSession* h = nullptr;
  ASSERT_EQ(gOpenHintTrakSession(movie, &h, hintId), 0);
  std::vector<uint8_t> rebuilt;
  HintPacket packets[2];
  uint32_t lastTimestamp = 0;
  uint16_t lastSeq = 0;
  bool first = true;
  for (uint32_t k = 1; k <= hintSamples; ++k) {
    HintRequest req{0, 2, k, packets, 0};
    for (;;) {
      ASSERT_EQ(gReadHintSample(h, &req), 0) << k;
      if (req.packetCount == 0) break;
      for (uint32_t i = 0; i < req.packetCount; ++i) {
        EXPECT_EQ(packets[i].rtpHeader >> 14, 2);
        if (!first) {
          EXPECT_EQ(uint16_t(lastSeq + 1), packets[i].sequenceNumber);
        }
        lastSeq = packets[i].sequenceNumber;
        first = false;
        rebuilt.insert(rebuilt.end(), packets[i].payload, packets[i].payload + packets[i].payloadLength);
      }
      req.loadFlag = 1;
      req.packetCount = 2;
    }
    if (k > 1) {
      EXPECT_GE(req.timestamp, lastTimestamp);
    }
    lastTimestamp = req.timestamp;
  }
  EXPECT_EQ(rebuilt.size(), video.size());
  EXPECT_TRUE(rebuilt == video);
  gCloseHintTrakSession(h);
  gCloseMP4File(movie);
}

TEST_F(FfmpegFiles, InfoToolPrintsTracksAndFailsCleanly) {
  std::string path = Make3gp("tool.3gp");
  std::string tool = std::string(TESSERA_BINARY_DIR) + "/bin/gannet-info";
  if (access(tool.c_str(), X_OK) != 0) GTEST_SKIP() << "gannet-info not built";
  int status = 0;
  std::string out = Capture("'" + tool + "' '" + path + "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("movie timescale 1000 duration-ms 3000"), std::string::npos) << out;
  EXPECT_NE(out.find("track 1 type video duration-ms 3000 timescale"), std::string::npos) << out;
  EXPECT_NE(out.find("samples 30 "), std::string::npos) << out;
  EXPECT_NE(out.find("codec 194 176x144"), std::string::npos) << out;
  EXPECT_NE(out.find("track 2 type audio"), std::string::npos) << out;
  EXPECT_NE(out.find("codec 192"), std::string::npos) << out;

  out = Capture("'" + tool + "' --samples 2 '" + path + "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.rfind("1 0 0 32 sync 1 ", 0), 0u) << out.substr(0, 80);
  out = Capture("'" + tool + "' --time 1 1500 '" + path + "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "sample 11 time-ms 1000\n");

  WriteFile(Path("junk.mp4"), Bytes(100, 0x41));
  Capture("'" + tool + "' '" + Path("junk.mp4") + "' 2>/dev/null", &status);
  EXPECT_NE(status, 0);
  Capture("'" + tool + "' --samples x '" + path + "' 2>/dev/null", &status);
  EXPECT_NE(status, 0);
}

}  // namespace
