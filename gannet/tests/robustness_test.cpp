// Damaged and unusual files: every structural fault fails the open or the read cleanly, with no
// stream left open; the strict and lenient places of the box walk; data references and SDP texts.
#include <dirent.h>
#include <gtest/gtest.h>

#include <thread>

#include "gannet/gannet.h"
#include "mp4_builder.h"
#include "platform_testing/device_root.h"

using namespace gannet_testing;

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

class Files : public ::testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const std::string& name = "t.mp4") {
    std::string path = root_.path() + "/" + name;
    WriteFile(path, bytes);
    return path;
  }
  // Opening must fail, leave the handle null and every descriptor closed.
  void ExpectOpenFails(const Bytes& bytes, const char* what) {
    std::string path = Write(bytes);
    int before = OpenDescriptors();
    MovieFile* movie = reinterpret_cast<MovieFile*>(this);
    EXPECT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), -1) << what;
    EXPECT_EQ(movie, nullptr) << what;
    EXPECT_EQ(OpenDescriptors(), before) << what;
    if (movie) gCloseMP4File(movie);
  }
  MovieFile* Open(const Bytes& bytes) {
    std::string path = Write(bytes);
    MovieFile* movie = nullptr;
    EXPECT_EQ(gOpenMP4File(&movie, path.c_str(), nullptr), 0);
    return movie;
  }

  platform_testing::ScopedDeviceRoot root_;
};

TrackLayout Video(uint32_t samples = 10) {
  TrackLayout t;
  for (uint32_t i = 0; i < samples; ++i) t.sizes.push_back(20 + i);
  return t;
}

MovieLayout TwoTracks() {
  MovieLayout layout;
  TrackLayout a = Video();
  TrackLayout b = Video(6);
  b.id = 2;
  b.handler = "soun";
  b.sampleEntry = Mp4aEntry();
  layout.tracks = {a, b};
  return layout;
}

// Offset of the 32-bit field `fieldOffset` bytes after the start of the first `box`.
size_t Field(const Bytes& file, const char* box, size_t fieldOffset) {
  size_t at = FindBox(file, box);
  EXPECT_NE(at, std::string::npos) << box;
  return at + fieldOffset;
}

Bytes Box(const char* type, const Bytes& body = {}) {
  BoxWriter w;
  w.Open(type).Raw(body).Close();
  return w.Take();
}

TEST_F(Files, StructuralFaultsFailTheOpen) {
  {
    MovieLayout layout = TwoTracks();
    layout.moovExtra = Box("meta", {0, 0, 0, 0});
    ExpectOpenFails(BuildMovie(layout), "meta inside moov");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    PutBe32(&f, Field(f, "stsz", 16), 0x80000000u);  // sample count 2^31 in a small box
    ExpectOpenFails(f, "stsz count 2^31");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[0].stsc = {{{1, 2, 1}}, {{0, 2, 1}}};
    ExpectOpenFails(BuildMovie(layout), "stsc first chunk 0");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[0].stsc = {{{1, 1, 1}}, {{4, 2, 1}}, {{3, 1, 1}}};
    ExpectOpenFails(BuildMovie(layout), "stsc going backwards");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[0].stsc = {{{1, 1, 1}}, {{40, 2, 1}}};
    ExpectOpenFails(BuildMovie(layout), "stsc naming chunks past stco");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[0].stsc = {{{1, 3, 1}}};  // asks for 30 samples, stsz has 10
    ExpectOpenFails(BuildMovie(layout), "more samples than stsz");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    size_t trak = FindBox(f, "trak");
    PutBe32(&f, trak, Be32At(f, trak) + 100000);
    ExpectOpenFails(f, "trak overrunning moov");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    PutBe32(&f, FindBox(f, "mvhd"), 4);
    ExpectOpenFails(f, "box size below 8");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    f[Field(f, "mvhd", 8)] = 2;
    ExpectOpenFails(f, "mvhd version 2");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[1].trakExtra = Box("tapt");
    ExpectOpenFails(BuildMovie(layout), "unknown trak child");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[1].minfExtra = Box("hdlr");
    ExpectOpenFails(BuildMovie(layout), "unknown minf child");
  }
  {
    MovieLayout layout = TwoTracks();
    BoxWriter w;
    w.OpenFull("stsz", 0, 0).U32(0).U32(0).Close();
    layout.tracks[1].stblExtra = w.Take();
    ExpectOpenFails(BuildMovie(layout), "second stsz");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    size_t stco = FindBox(f, "stco");
    memcpy(f.data() + stco + 4, "co64", 4);
    ExpectOpenFails(f, "co64 instead of stco");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    size_t tkhd = FindBox(f, "tkhd");
    f[tkhd + 8] = 1;  // version 1 needs 104 bytes
    ExpectOpenFails(f, "tkhd version 1 in 92 bytes");
  }
  {
    MovieLayout layout = TwoTracks();
    BoxWriter w;
    w.Open("tref");
    for (int i = 0; i < 11; ++i) w.Open("dpnd").U32(1).Close();
    w.Close();
    layout.tracks[1].trakExtra = w.Take();
    ExpectOpenFails(BuildMovie(layout), "eleven reference types");
  }
  {
    Bytes f = BuildMovie(TwoTracks());
    size_t moov = FindBox(f, "moov");
    f.resize(moov);  // the file ends before 'moov'
    ExpectOpenFails(f, "no moov");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[0].noDinf = true;
    BoxWriter w;
    w.Open("dinf").OpenFull("dref", 0, 0).U32(1).OpenFull("urn ", 0, 0).Text("missing.bin").U8(0).Close();
    w.Close().Close();
    layout.tracks[0].minfExtra = w.Take();
    ExpectOpenFails(BuildMovie(layout), "data reference that cannot be opened");
  }
  {
    MovieLayout layout = TwoTracks();
    layout.tracks[1].handler = "hint";
    BoxWriter w;
    w.Open("rtp ").Zeros(6).U16(1).U16(1).U16(1).U32(1400).Open("tims").U32(90000).U32(0).Close().Close();
    layout.tracks[1].sampleEntry = w.Take();
    ExpectOpenFails(BuildMovie(layout), "rtp sub-entry of 16 bytes");
  }
}

TEST_F(Files, TruncatedFilesFailOrStopCleanly) {
  Bytes f = BuildMovie(TwoTracks());
  // Every prefix either fails the open or opens (an end of file inside 'moov' ends its walk).
  for (size_t len = 0; len < f.size(); len += 7) {
    Bytes cut(f.begin(), f.begin() + long(len));
    std::string path = Write(cut);
    MovieFile* movie = nullptr;
    if (gOpenMP4File(&movie, path.c_str(), nullptr) == 0) gCloseMP4File(movie);
  }
}

TEST_F(Files, MdatIsSkippedWithOneSeekAndHeadersAreSingleReads) {
  MovieLayout layout = TwoTracks();
  layout.tracks[0].sizes.assign(10, 50000);  // a large mdat that must never be read
  Bytes f = BuildMovie(layout);
  std::string path = Write(f);
  static size_t bytesRead, reads, smallReads;
  bytesRead = reads = smallReads = 0;
  ReaderIo io{[](const char* p, const char* mode) { return fopen(p, mode); },
              [](FILE* s, long o, int origin) { return fseek(s, o, origin); },
              [](void* b, size_t size, size_t count, FILE* s) {
                EXPECT_EQ(size, 1u);
                size_t n = fread(b, size, count, s);
                bytesRead += n;
                ++reads;
                if (count < 8) ++smallReads;
                return n;
              }};
  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, path.c_str(), &io), 0);
  EXPECT_LT(bytesRead, f.size() - 400000);
  EXPECT_EQ(smallReads, 0u);
  gCloseMP4File(movie);
}

TEST_F(Files, BadOffsetsFailTheReadNotTheOpen) {
  MovieLayout layout = TwoTracks();
  layout.tracks[0].chunkOffsets = std::vector<uint32_t>(10, 0);
  layout.tracks[0].chunkOffsets->at(3) = 0xFFFFFF00u;  // chunk 4 lies far past the end of the file
  Bytes f = BuildMovie(layout);
  // Put the other chunks back where the data is.
  MovieLayout plain = TwoTracks();
  Bytes g = BuildMovie(plain);
  size_t stcoF = FindBox(f, "stco"), stcoG = FindBox(g, "stco");
  for (int i = 0; i < 10; ++i)
    if (i != 3) PutBe32(&f, stcoF + 16 + 4 * size_t(i), Be32At(g, stcoG + 16 + 4 * size_t(i)));
  MovieFile* movie = Open(f);
  ASSERT_NE(movie, nullptr);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  std::vector<uint8_t> buf(64, 0);
  SampleRequest req{3, 0, 0, 0, buf.data()};
  EXPECT_EQ(gReadSample(s, &req), 0);
  req.sampleNumber = 4;
  EXPECT_EQ(gReadSample(s, &req), -1);
  req.sampleNumber = 5;
  EXPECT_EQ(gReadSample(s, &req), 0);
  EXPECT_EQ(buf[0], SampleByte(1, 5, 0));
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, HugeCountsInTinyFilesNeverAllocateThem) {
  MovieLayout layout;
  TrackLayout t;
  t.constantSize = 1;
  t.constantCount = 4;
  layout.tracks = {t};
  Bytes f = BuildMovie(layout);
  // One chunk of 2^31 one-byte samples, all lasting one unit: legal tables, absurd media.
  size_t stsz = FindBox(f, "stsz");
  PutBe32(&f, stsz + 16, 0x80000000u);
  size_t stsc = FindBox(f, "stsc");
  PutBe32(&f, stsc + 16, 1);
  PutBe32(&f, stsc + 20, 0x80000000u);
  size_t stco = FindBox(f, "stco");
  PutBe32(&f, stco + 12, 1);
  size_t stts = FindBox(f, "stts");
  PutBe32(&f, stts + 16, 0x80000000u);
  MovieFile* movie = Open(f);
  ASSERT_NE(movie, nullptr);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  uint32_t total = 0;
  gGetTotalSamplesInTrak(s, &total);
  EXPECT_EQ(total, 0x80000000u);
  uint8_t byte = 0;
  SampleRequest req{0x7FFFFFFF, 0, 0, 0, &byte};
  EXPECT_EQ(gReadSample(s, &req), -1);  // past the end of the file
  uint32_t ms = 0;
  EXPECT_EQ(gGetTimeOfSampleNum(s, 0x7FFFFFFF, &ms), 0);
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, DeclaredSampleSizesBeyondTheFileAreNotTheLargestSample) {
  MovieLayout layout = TwoTracks();
  Bytes f = BuildMovie(layout);
  // Sample 2 of the video track claims almost 2 GB in a file of a few hundred octets.
  PutBe32(&f, FindBox(f, "stsz") + 20 + 4, 0x7FFFFFF0u);
  MovieFile* movie = Open(f);
  ASSERT_NE(movie, nullptr);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  uint32_t largest = 0;
  ASSERT_EQ(gGetMaxSampleSize(s, &largest), 0);
  EXPECT_LE(largest, f.size());
  std::vector<uint8_t> buf(largest + 16, 0);
  SampleRequest req{2, 0, 0, 0, buf.data()};
  EXPECT_EQ(gReadSample(s, &req), -1);
  req.sampleNumber = 3;
  ASSERT_EQ(gReadSample(s, &req), 0);
  EXPECT_EQ(req.size, 22u);
  EXPECT_EQ(buf[21], SampleByte(1, 3, 21));
  gCloseTrakSession(s);
  // Honest tracks keep their largest sample.
  ASSERT_EQ(gOpenTrakSession(movie, &s, 2), 0);
  ASSERT_EQ(gGetMaxSampleSize(s, &largest), 0);
  EXPECT_EQ(largest, 25u);
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, DecoderConfigurations) {
  MovieLayout layout;
  TrackLayout amr = Video(4);
  amr.handler = "soun";
  amr.sampleEntry = SamrEntry(0x0081, 5);
  TrackLayout h263 = Video(4);
  h263.id = 2;
  h263.sampleEntry = S263Entry(45, 3);
  TrackLayout mp4v = Video(4);
  mp4v.id = 3;
  mp4v.sampleEntry = Mp4vEntry(77, 176, 144, {9, 8, 7, 6});
  layout.tracks = {amr, h263, mp4v};
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  DecoderConfig* cfg = nullptr;
  ASSERT_EQ(gGetDecoderCfg(movie, 1, &cfg), 0);
  EXPECT_EQ(cfg->kind, 2);
  EXPECT_EQ(cfg->objectType, 192);
  EXPECT_EQ(cfg->vendor, 0x61626364u);  // "abcd"
  EXPECT_EQ(cfg->amr.decoderVersion, 3);
  EXPECT_EQ(cfg->amr.modeSet, 0x0081);
  EXPECT_EQ(cfg->amrFrames.modeChangePeriod, 2);
  EXPECT_EQ(cfg->amrFrames.framesPerSample, 5);
  cfg->release(cfg);
  ASSERT_EQ(gGetDecoderCfg(movie, 2, &cfg), 0);
  EXPECT_EQ(cfg->objectType, 194);
  EXPECT_EQ(cfg->h263.decoderVersion, 5);
  EXPECT_EQ(cfg->h263.level, 45);
  EXPECT_EQ(cfg->h263.profile, 3);
  cfg->release(cfg);
  ASSERT_EQ(gGetDecoderCfg(movie, 3, &cfg), 0);
  EXPECT_EQ(cfg->kind, 1);
  EXPECT_EQ(cfg->es.esId, 77);
  EXPECT_EQ(cfg->maxBitrate, 64000u);
  EXPECT_EQ(cfg->avgBitrate, 48000u);
  ASSERT_EQ(cfg->decoderSpecificInfoSize, 4u);
  EXPECT_EQ(cfg->decoderSpecificInfo[3], 6);
  ASSERT_EQ(cfg->slConfigSize, 1u);
  EXPECT_EQ(cfg->slConfig[0], 2);
  cfg->release(cfg);
  uint32_t id = 0;
  ASSERT_EQ(gGetTrakIdForEsId(movie, 77, &id), 0);
  EXPECT_EQ(id, 3u);
  gCloseMP4File(movie);
}

TEST_F(Files, InconsistentDescriptorsFailTheConfigOnly) {
  struct Patch {
    const char* what;
    size_t at;  // offset inside the mp4v entry
    uint8_t value;
  };
  // mp4v entry: esds at 86; its body: version/flags (4), tag 3 at 98, length at 99, ...
  const Patch patches[] = {
      {"ES_Descriptor longer than esds", 99, 0x7F},
      {"DecoderConfigDescriptor longer than ES_Descriptor", 104, 0x70},
      {"DecoderSpecificInfo longer than its parent", 119, 0x40},
      {"wrong ES_Descriptor tag", 98, 4},
      {"esds box size past the entry", 89, 0xF0},
  };
  for (const Patch& p : patches) {
    MovieLayout layout;
    TrackLayout t = Video(3);
    t.sampleEntry = Mp4vEntry();
    t.sampleEntry[p.at] = p.value;
    layout.tracks = {t};
    MovieFile* movie = Open(BuildMovie(layout));
    ASSERT_NE(movie, nullptr) << p.what;
    DecoderConfig* cfg = reinterpret_cast<DecoderConfig*>(this);
    EXPECT_EQ(gGetDecoderCfg(movie, 1, &cfg), -1) << p.what;
    EXPECT_EQ(cfg, nullptr) << p.what;
    gCloseMP4File(movie);
  }
  {
    MovieLayout layout;
    TrackLayout t = Video(3);
    BoxWriter w;
    w.Open("avc1").Zeros(6).U16(1).Zeros(70).Close();
    t.sampleEntry = w.Take();
    layout.tracks = {t};
    MovieFile* movie = Open(BuildMovie(layout));
    ASSERT_NE(movie, nullptr);
    DecoderConfig* cfg = nullptr;
    EXPECT_EQ(gGetDecoderCfg(movie, 1, &cfg), -1);
    gCloseMP4File(movie);
  }
}

TEST_F(Files, ExternalDataReferenceByName) {
  // Samples live in "media.bin" next to the movie, named by a 'urn ' entry.
  Bytes media;
  std::vector<uint32_t> offsets;
  TrackLayout t;
  for (uint32_t n = 1; n <= 5; ++n) {
    offsets.push_back(uint32_t(media.size()));
    t.sizes.push_back(12);
    for (uint32_t k = 0; k < 12; ++k) media.push_back(SampleByte(1, n, k));
  }
  std::string mediaPath = Write(media, "media.bin");
  t.chunkOffsets = offsets;
  t.noDinf = true;
  BoxWriter w;
  w.Open("dinf")
      .OpenFull("dref", 0, 0)
      .U32(1)
      .OpenFull("urn ", 0, 0)
      .Text("media.bin")
      .U8(0)
      .Text(root_.path());
  w.U8(0).Close().Close().Close();
  t.minfExtra = w.Take();
  MovieLayout layout;
  layout.tracks = {t};
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  uint8_t buf[12];
  SampleRequest req{4, 0, 0, 0, buf};
  ASSERT_EQ(gReadSample(s, &req), 0);
  EXPECT_EQ(buf[0], SampleByte(1, 4, 0));
  EXPECT_EQ(buf[11], SampleByte(1, 4, 11));
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, EachChunkReadsFromItsSampleDescriptionsDataReference) {
  // Chunk 1 (description 1, dref 1: this file) and chunk 3 (description 1 again) hold samples 1-2
  // and 5-6; chunk 2 (description 2, dref 2: "side.bin") holds samples 3-4.
  TrackLayout t;
  t.sizes = {10, 11, 12, 13, 14, 15};
  t.stsc = {{{1, 2, 1}}, {{2, 2, 2}}, {{3, 2, 1}}};
  Bytes second = Mp4vEntry();
  second[15] = 2;  // data_reference_index
  t.moreSampleEntries = {second};
  t.noDinf = true;
  BoxWriter w;
  w.Open("dinf").OpenFull("dref", 0, 0).U32(2).OpenFull("url ", 0, 1).Close();
  w.OpenFull("urn ", 0, 0).Text("side.bin").U8(0).Text(root_.path()).U8(0).Close().Close().Close();
  t.minfExtra = w.Take();
  MovieLayout layout;
  layout.tracks = {t};
  Bytes probe = BuildMovie(layout);
  size_t stco = FindBox(probe, "stco");
  std::vector<uint32_t> offsets = {Be32At(probe, stco + 16), 0, Be32At(probe, stco + 24)};
  Bytes side(7, 0xEE);  // chunk 2 starts 7 bytes into the side file
  for (uint32_t n = 3; n <= 4; ++n)
    for (uint32_t k = 0; k < t.sizes[n - 1]; ++k) side.push_back(SampleByte(1, n, k) ^ 0x5A);
  Write(side, "side.bin");
  layout.tracks[0].chunkOffsets = std::vector<uint32_t>{offsets[0], 7, offsets[2]};
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  uint8_t buf[16];
  for (uint32_t n = 1; n <= 6; ++n) {
    SampleRequest req{n, 0, 0, 0, buf};
    ASSERT_EQ(gReadSample(s, &req), 0) << n;
    ASSERT_EQ(req.size, t.sizes[n - 1]);
    uint8_t mask = (n == 3 || n == 4) ? 0x5A : 0;
    EXPECT_EQ(buf[0], SampleByte(1, n, 0) ^ mask) << n;
    EXPECT_EQ(buf[req.size - 1], SampleByte(1, n, req.size - 1) ^ mask) << n;
  }
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, TrackWithoutDataReferencesHasNoSession) {
  MovieLayout layout = TwoTracks();
  layout.tracks[0].noDinf = true;
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  TrakSession* s = reinterpret_cast<TrakSession*>(this);
  EXPECT_EQ(gOpenTrakSession(movie, &s, 1), -1);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(gOpenTrakSession(movie, &s, 9), -1);
  ASSERT_EQ(gOpenTrakSession(movie, &s, 2), 0);
  gCloseTrakSession(s);
  gCloseMP4File(movie);
}

TEST_F(Files, SdpTextsAndIods) {
  MovieLayout layout = TwoTracks();
  BoxWriter w;
  w.Open("udta").Open("hnti").Open("rtp ").Type("sdp ").Text("v=0\r\n").Close().Close().Close();
  w.Open("iods").U32(0).Raw({0x10, 0x07, 0x00, 0x4F, 0xFF, 0xFF, 0x0F, 0x7F, 0xFF}).Close();
  layout.moovExtra = w.Take();
  BoxWriter t;
  t.Open("udta").Open("hnti").Open("sdp ").Text("m=video 0 RTP/AVP 96\r\n").Close().Close().Close();
  layout.tracks[0].trakExtra = t.Take();
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  char* text = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(gGetSdpInfo(movie, &text, &size), 0);
  EXPECT_EQ(std::string(text, size), "v=0\r\nm=video 0 RTP/AVP 96\r\n");
  free(text);
  MovieInfo* info = nullptr;
  ASSERT_EQ(gGetMovieInfo(movie, &info), 0);
  ASSERT_EQ(info->iodsSize, 9u);
  EXPECT_EQ(info->iods[0], 0x10);
  info->release(info);
  gCloseMP4File(movie);

  movie = Open(BuildMovie(TwoTracks()));
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(gGetSdpInfo(movie, &text, &size), -1);
  gCloseMP4File(movie);
}

TEST_F(Files, TwoThreadsReadTwoTracksAndTwoSessionsOfOneTrack) {
  MovieLayout layout;
  TrackLayout a, b;
  for (uint32_t i = 0; i < 400; ++i) {
    a.sizes.push_back(100 + i % 50);
    b.sizes.push_back(60 + i % 7);
  }
  a.stsc = {{{1, 10, 1}}};
  b.id = 2;
  b.handler = "soun";
  b.sampleEntry = Mp4aEntry();
  layout.tracks = {a, b};
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);
  std::atomic<int> bad{0};
  auto reader = [&](uint32_t trackId, uint32_t total) {
    TrakSession* s = nullptr;
    if (gOpenTrakSession(movie, &s, trackId) != 0) {
      ++bad;
      return;
    }
    uint8_t buf[256];
    for (int round = 0; round < 5; ++round) {
      for (uint32_t n = 1; n <= total; ++n) {
        SampleRequest req{n, 0, 0, 0, buf};
        if (gReadSample(s, &req) != 0 || buf[0] != SampleByte(trackId, n, 0) ||
            buf[req.size - 1] != SampleByte(trackId, n, req.size - 1))
          ++bad;
      }
    }
    gCloseTrakSession(s);
  };
  std::thread t1(reader, 1, 400), t2(reader, 2, 400), t3(reader, 1, 400);
  t1.join();
  t2.join();
  t3.join();
  EXPECT_EQ(bad.load(), 0);
  gCloseMP4File(movie);
}

}  // namespace

namespace {

// RTP hint sample: packets with immediate and sample-data constructors.
struct HintPacketLayout {
  uint16_t header;  // P, X, M, payload type as stored
  uint16_t sequence;
  int32_t rtpOffset;  // written as an 'rtpo' extra-information entry when non-zero
  std::vector<Bytes> constructors;
};

Bytes Immediate(const Bytes& data) {
  Bytes c(16, 0);
  c[0] = 1;
  c[1] = uint8_t(data.size());
  std::copy(data.begin(), data.end(), c.begin() + 2);
  return c;
}

Bytes SampleRef(int8_t refIndex, uint16_t length, uint32_t sample, uint32_t offset) {
  BoxWriter w;
  w.U8(2).U8(uint8_t(refIndex)).U16(length).U32(sample).U32(offset).U16(1).U16(1);
  return w.Take();
}

Bytes HintSample(const std::vector<HintPacketLayout>& packets) {
  BoxWriter w;
  w.U16(uint32_t(packets.size())).U16(0);
  for (const HintPacketLayout& p : packets) {
    w.U32(0).U16(p.header).U16(p.sequence).U16(p.rtpOffset ? 4 : 0).U16(uint32_t(p.constructors.size()));
    if (p.rtpOffset) w.U32(16).U32(12).Type("rtpo").U32(uint32_t(p.rtpOffset));
    for (const Bytes& c : p.constructors) w.Raw(c);
  }
  return w.Take();
}

TEST_F(Files, HintSamplesBecomePacketsWithinTheirMediaSamples) {
  MovieLayout layout;
  TrackLayout media = Video(4);
  TrackLayout hint;
  hint.id = 2;
  hint.handler = "hint";
  hint.sampleEntry = RtpEntry(1400, 90000);
  BoxWriter tref;
  tref.Open("tref").Open("hint").U32(1).Close().Close();
  hint.trakExtra = tref.Take();
  hint.sampleData = {
      HintSample({{0x00E0, 100, 500, {Immediate({0xAA, 0xBB, 0xCC}), SampleRef(0, 5, 2, 3)}},
                  {0x0060, 101, 0, {SampleRef(0, 4, 1, 0), Bytes(16, 0)}}}),
      HintSample({{0x0060, 102, 0, {SampleRef(0, 8, 1, 18)}}}),  // sample 1 has 20 bytes
      HintSample({{0x2060, 103, 0, {SampleRef(0, 22, 2, 0)}}}),  // sample 2 has 21
  };
  layout.tracks = {media, hint};
  MovieFile* movie = Open(BuildMovie(layout));
  ASSERT_NE(movie, nullptr);

  HintTrakSession* h = nullptr;
  EXPECT_EQ(gOpenHintTrakSession(movie, &h, 1), -1);  // not a hint track
  ASSERT_EQ(gOpenHintTrakSession(movie, &h, 2), 0);
  HintPacket packets[4];
  HintRequest req{0, 1, 1, packets, 0};
  ASSERT_EQ(gReadHintSample(h, &req), 0);
  ASSERT_EQ(req.packetCount, 1u);
  EXPECT_EQ(req.timestamp, 500u);  // time 0 plus the packet's 'rtpo'
  EXPECT_EQ(packets[0].rtpHeader, 0x80E0);
  EXPECT_EQ(packets[0].sequenceNumber, 100);
  Bytes expected = {0xAA, 0xBB, 0xCC};
  for (uint32_t k = 3; k < 8; ++k) expected.push_back(SampleByte(1, 2, k));
  EXPECT_EQ(Bytes(packets[0].payload, packets[0].payload + packets[0].payloadLength), expected);

  req.loadFlag = 1;               // continue with the loaded sample
  req.packetCount = 0xFFFFFFFFu;  // a capacity far beyond the sample's packets costs nothing
  ASSERT_EQ(gReadHintSample(h, &req), 0);
  ASSERT_EQ(req.packetCount, 1u);
  EXPECT_EQ(packets[0].sequenceNumber, 101);
  expected.clear();
  for (uint32_t k = 0; k < 4; ++k) expected.push_back(SampleByte(1, 1, k));
  EXPECT_EQ(Bytes(packets[0].payload, packets[0].payload + packets[0].payloadLength), expected);
  req.packetCount = 4;
  ASSERT_EQ(gReadHintSample(h, &req), 0);
  EXPECT_EQ(req.packetCount, 0u);

  // Constructors reaching past the media sample they name fail instead of reading its neighbour.
  req = HintRequest{0, 4, 2, packets, 0};
  EXPECT_EQ(gReadHintSample(h, &req), -1);
  req = HintRequest{0, 4, 3, packets, 0};
  EXPECT_EQ(gReadHintSample(h, &req), -1);
  req = HintRequest{1, 4, 3, packets, 0};
  EXPECT_EQ(gReadHintSample(h, &req), -1);  // nothing loaded after a failure
  req = HintRequest{0, 4, 4, packets, 0};
  EXPECT_EQ(gReadHintSample(h, &req), -1);  // no such hint sample
  gCloseHintTrakSession(h);
  gCloseMP4File(movie);
}

TEST_F(Files, HintTrackWithAbsurdLargestSampleCostsNoMoreThanItsFile) {
  MovieLayout layout;
  TrackLayout media = Video(2);
  TrackLayout hint;
  hint.id = 2;
  hint.handler = "hint";
  hint.sampleEntry = RtpEntry(1400, 90000);
  BoxWriter tref;
  tref.Open("tref").Open("hint").U32(1).Close().Close();
  hint.trakExtra = tref.Take();
  hint.sizes = {16, 16};
  layout.tracks = {media, hint};
  Bytes f = BuildMovie(layout);
  size_t stsz = FindBox(f, "stsz", FindBox(f, "stsz") + 8);  // the hint track's table
  PutBe32(&f, stsz + 24, 0xFFFFFF00u);
  MovieFile* movie = Open(f);
  ASSERT_NE(movie, nullptr);
  // The declared size is capped by the file's, so the session's buffer is small; the sample
  // that claims it cannot be read.
  HintTrakSession* h = nullptr;
  ASSERT_EQ(gOpenHintTrakSession(movie, &h, 2), 0);
  HintPacket packets[4] = {};
  HintRequest req{0, 4, 2, packets, 0};
  EXPECT_EQ(gReadHintSample(h, &req), -1);
  gCloseHintTrakSession(h);
  gCloseMP4File(movie);
}

}  // namespace
