// The exported interface: configuration refusals, the entry points, channel
// adaptation and behaviour on damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "osprey/osprey.h"
#include "test_media.h"

namespace osprey::test {
namespace {

// MSB-first writer for hand-built configurations and blocks.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (pos_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
      ++pos_;
    }
  }
  void Align() {
    while (pos_ % 8 != 0) Put(0, 1);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

int Create(const std::vector<uint8_t>& asc, AacConfig* config, AudioDecoder** d) {
  return gCreateAACDecoder(d, config, asc.data(), static_cast<uint32_t>(asc.size()));
}

std::vector<uint8_t> Asc(int objectType, int sfIndex, int channelConfig, int frameLengthFlag = 0,
                         int extensionFlag = 0) {
  BitWriter w;
  w.Put(static_cast<uint32_t>(objectType), 5);
  w.Put(static_cast<uint32_t>(sfIndex), 4);
  w.Put(static_cast<uint32_t>(channelConfig), 4);
  w.Put(static_cast<uint32_t>(frameLengthFlag), 1);
  w.Put(0, 1);  // dependsOnCoreCoder
  w.Put(static_cast<uint32_t>(extensionFlag), 1);
  return w.Bytes();
}

// An AudioSpecificConfig with channel configuration 0 and a program config
// element listing `front` front elements (true: channel pair).
std::vector<uint8_t> AscWithPce(const std::vector<bool>& front) {
  BitWriter w;
  w.Put(2, 5);
  w.Put(4, 4);  // 44.1 kHz
  w.Put(0, 4);  // channel configuration 0
  w.Put(0, 3);  // GASpecificConfig flags
  w.Put(0, 4);  // element_instance_tag
  w.Put(1, 2);  // object_type (LC)
  w.Put(4, 4);  // sampling_frequency_index
  w.Put(static_cast<uint32_t>(front.size()), 4);
  w.Put(0, 4);  // side
  w.Put(0, 4);  // back
  w.Put(0, 2);  // lfe
  w.Put(0, 3);  // assoc data
  w.Put(0, 4);  // valid cc
  w.Put(0, 3);  // no mixdowns
  for (size_t i = 0; i < front.size(); ++i) {
    w.Put(front[i] ? 1 : 0, 1);
    w.Put(static_cast<uint32_t>(i), 4);
  }
  w.Align();
  w.Put(0, 8);  // comment bytes
  return w.Bytes();
}

TEST(OspreyConfig, RefusalsAndCodes) {
  struct {
    const char* what;
    std::vector<uint8_t> asc;
    int expected;
  } cases[] = {
      {"LC stereo 44.1 kHz", Asc(2, 4, 2), kAacOk},
      {"LC mono 8 kHz", Asc(2, 11, 1), kAacOk},
      {"AAC Main", Asc(1, 4, 2), kAacNotLowComplexity},
      {"HE-AAC", Asc(5, 4, 2), kAacNotLowComplexity},
      {"LTP", Asc(4, 4, 2), kAacNotLowComplexity},
      {"5.1", Asc(2, 4, 6), kAacTooManyChannels},
      {"7.1", Asc(2, 4, 7), kAacTooManyChannels},
      {"960-sample frames", Asc(2, 4, 2, 1), kAacFrameLength960},
      {"extension flag", Asc(2, 4, 2, 0, 1), kAacBadArgument},
      {"reserved frequency index 13", Asc(2, 13, 2), kAacBadArgument},
      {"one byte", {0x12}, kAacBadArgument},
      {"PCE with one pair", AscWithPce({true}), kAacOk},
      {"PCE with two singles", AscWithPce({false, false}), kAacOk},
      {"PCE with a pair and a single", AscWithPce({true, false}), kAacTooManyChannels},
  };
  for (const auto& c : cases) {
    AacConfig config{};
    AudioDecoder* d = reinterpret_cast<AudioDecoder*>(1);
    EXPECT_EQ(Create(c.asc, &config, &d), c.expected) << c.what;
    if (c.expected == kAacOk) {
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->destroy(d), 0);
    } else {
      EXPECT_EQ(d, nullptr) << c.what;
    }
  }
}

TEST(OspreyConfig, ExplicitFrequencyMustBeInTable) {
  for (uint32_t rate : {44100u, 44000u}) {
    BitWriter w;
    w.Put(2, 5);
    w.Put(15, 4);
    w.Put(rate, 24);
    w.Put(1, 4);
    w.Put(0, 3);
    AacConfig config{};
    AudioDecoder* d = nullptr;
    const int rc = Create(w.Bytes(), &config, &d);
    if (rate == 44100) {
      ASSERT_EQ(rc, kAacOk);
      EXPECT_EQ(config.sampleRate, 44100u);
      d->destroy(d);
    } else {
      EXPECT_EQ(rc, kAacBadArgument);
    }
  }
}

TEST(OspreyConfig, CoreCoderDelayIsSkipped) {
  BitWriter w;
  w.Put(2, 5);
  w.Put(3, 4);  // 48 kHz
  w.Put(2, 4);
  w.Put(0, 1);
  w.Put(1, 1);        // dependsOnCoreCoder
  w.Put(0x3FFF, 14);  // coreCoderDelay
  w.Put(0, 1);        // extensionFlag
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(Create(w.Bytes(), &config, &d), kAacOk);
  EXPECT_EQ(config.sampleRate, 48000u);
  d->destroy(d);
}

TEST(OspreyConfig, WritesBackChannelsTypeAndRate) {
  const std::vector<uint8_t> stereo = Asc(2, 7, 2);  // 22.05 kHz
  for (int request : {0, 1, 2, 7}) {
    AacConfig config{};
    config.channels = static_cast<uint8_t>(request);
    AudioDecoder* d = nullptr;
    ASSERT_EQ(Create(stereo, &config, &d), kAacOk);
    EXPECT_EQ(config.channels, request == 1 ? 1 : 2) << request;
    EXPECT_EQ(config.objectType, 2);
    EXPECT_EQ(config.sampleRate, 22050u);
    int32_t value = 0;
    EXPECT_EQ(d->get(d, kAacControlChannels, &value), 0);
    EXPECT_EQ(value, config.channels);
    d->destroy(d);
  }
}

TEST(OspreyConfig, MissingArguments) {
  const std::vector<uint8_t> asc = Asc(2, 4, 2);
  AacConfig config{};
  AudioDecoder* d = nullptr;
  EXPECT_EQ(gCreateAACDecoder(nullptr, &config, asc.data(), 2), kAacBadArgument);
  EXPECT_EQ(gCreateAACDecoder(&d, nullptr, asc.data(), 2), kAacBadArgument);
  EXPECT_EQ(gCreateAACDecoder(&d, &config, nullptr, 2), kAacBadArgument);
  EXPECT_EQ(d, nullptr);
}

TEST(OspreyEntryPoints, SetAndGet) {
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(Create(Asc(2, 4, 2), &config, &d), kAacOk);
  int32_t value = -1;
  EXPECT_EQ(d->set(d, kAacControlChannels, 1), 0);
  EXPECT_EQ(d->get(d, kAacControlChannels, &value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(d->set(d, kAacControlChannels, 3), kAacBadControlValue);
  EXPECT_EQ(d->set(d, kAacControlChannels, 0), kAacBadControlValue);
  EXPECT_EQ(d->get(d, kAacControlChannels, &value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(d->set(d, 2, 44100), kAacBadControlType);
  EXPECT_EQ(d->get(d, kAacControlSampleRate, &value), 0);
  EXPECT_EQ(value, 44100);
  value = 5;
  EXPECT_EQ(d->get(d, 9, &value), kAacBadControlType);
  EXPECT_EQ(value, 0);
  // Missing decoder.
  uint32_t length = 0, size = 4096;
  int16_t pcm[2048];
  EXPECT_EQ(d->decode(nullptr, nullptr, &length, pcm, &size), kAacBadArgument);
  EXPECT_EQ(d->reset(nullptr), kAacBadArgument);
  d->destroy(d);
}

// A mono raw data block of silence: SCE (tag 0), global gain 100, a long window
// with no bands, no tools, then END.
std::vector<uint8_t> SilentMonoBlock(int tag) {
  BitWriter w;
  w.Put(0, 3);  // ID_SCE
  w.Put(static_cast<uint32_t>(tag), 4);
  w.Put(100, 8);  // global_gain
  w.Put(0, 1);    // ics_reserved_bit
  w.Put(0, 2);    // ONLY_LONG_SEQUENCE
  w.Put(0, 1);    // sine window
  w.Put(0, 6);    // max_sfb
  w.Put(0, 1);    // predictor_data_present
  w.Put(0, 3);    // pulse, tns, gain control
  w.Put(7, 3);    // ID_END
  w.Align();
  return w.Bytes();
}

TEST(OspreyEntryPoints, HandBuiltSilentBlock) {
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(Create(Asc(2, 4, 1), &config, &d), kAacOk);
  std::vector<uint8_t> block = SilentMonoBlock(0);
  block.push_back(0xAA);  // the next block's first byte is not consumed
  std::vector<int16_t> pcm(1024, 77);
  uint32_t length = static_cast<uint32_t>(block.size());
  uint32_t size = 2048;
  ASSERT_EQ(d->decode(d, block.data(), &length, pcm.data(), &size), 0);
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(size, 2048u);
  for (int16_t s : pcm) ASSERT_EQ(s, 0);
  // An empty block decodes as one without elements.
  length = 0;
  EXPECT_EQ(d->decode(d, nullptr, &length, pcm.data(), &size), 0);
  EXPECT_EQ(length, 0u);
  d->destroy(d);
}

// Streams made by ffmpeg for the tests below; empty when ffmpeg is missing.
AdtsStream MakeStream(const TempDir& dir, int channels, bool noise = true) {
  AdtsStream stream;
  const std::string out = dir.Path(channels == 2 ? "st.aac" : "mono.aac");
  const std::string src = channels == 2
                              ? "aevalsrc=0.5*sin(2*PI*440*t)+0.2*random(0)*lt(mod(t\\,0.5)\\,0.02)|"
                                "0.4*sin(2*PI*660*t)+0.1*sin(2*PI*5000*t):s=44100:d=1"
                              : "aevalsrc=0.5*sin(2*PI*330*t)*(1+0.3*sin(2*PI*4*t)):s=22050:d=1";
  if (!test::Run("ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" + src +
                 "\" -c:a aac -b:a " + (channels == 2 ? "96k" : "48k") + (noise ? "" : " -aac_pns 0") +
                 " -f adts " + out))
    return stream;
  LoadAdts(out, stream);
  return stream;
}

TEST(OspreyEntryPoints, SmallOutputBufferLeavesStateAlone) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const AdtsStream stream = MakeStream(dir, 1);
  ASSERT_GT(stream.blocks.size(), 8u);
  AacConfig config{};
  AudioDecoder* a = nullptr;
  AudioDecoder* b = nullptr;
  ASSERT_EQ(gCreateAACDecoder(&a, &config, stream.asc, 2), 0);
  ASSERT_EQ(gCreateAACDecoder(&b, &config, stream.asc, 2), 0);
  std::vector<int16_t> pa(1024), pb(1024);
  for (size_t i = 0; i < 8; ++i) {
    const auto& block = stream.blocks[i];
    // Decoder a first meets a buffer one byte short.
    uint32_t length = static_cast<uint32_t>(block.size());
    uint32_t size = 2047;
    ASSERT_EQ(a->decode(a, block.data(), &length, pa.data(), &size), kAacOutputTooSmall);
    EXPECT_EQ(length, block.size());
    EXPECT_EQ(size, 2047u);
    size = 2048;
    ASSERT_EQ(a->decode(a, block.data(), &length, pa.data(), &size), 0);
    EXPECT_EQ(length, block.size());
    length = static_cast<uint32_t>(block.size());
    size = 2048;
    ASSERT_EQ(b->decode(b, block.data(), &length, pb.data(), &size), 0);
    ASSERT_EQ(pa, pb) << "block " << i;
  }
  a->destroy(a);
  b->destroy(b);
}

TEST(OspreyEntryPoints, ResetMatchesFreshDecoder) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  // Without noise substitution: reset leaves the noise generator running on.
  const AdtsStream stream = MakeStream(dir, 2, false);
  ASSERT_GT(stream.blocks.size(), 12u);
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(gCreateAACDecoder(&d, &config, stream.asc, 2), 0);
  std::vector<int16_t> pcm(2048);
  auto run = [&](size_t first, size_t count) {
    std::vector<int16_t> all;
    for (size_t i = first; i < first + count; ++i) {
      uint32_t length = static_cast<uint32_t>(stream.blocks[i].size());
      uint32_t size = 4096;
      EXPECT_EQ(d->decode(d, stream.blocks[i].data(), &length, pcm.data(), &size), 0);
      all.insert(all.end(), pcm.begin(), pcm.end());
    }
    return all;
  };
  const std::vector<int16_t> first = run(0, 6);
  run(6, 6);  // leave overlap and window shapes behind
  ASSERT_EQ(d->reset(d), 0);
  EXPECT_EQ(run(0, 6), first);
  d->destroy(d);
}

TEST(OspreyChannelAdaptation, StereoStreamToMono) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const AdtsStream stream = MakeStream(dir, 2);
  ASSERT_FALSE(stream.blocks.empty());
  AacConfig config{};
  config.channels = 1;
  AudioDecoder* d = nullptr;
  ASSERT_EQ(gCreateAACDecoder(&d, &config, stream.asc, 2), 0);
  ASSERT_EQ(config.channels, 1);
  std::vector<int16_t> mono;
  std::vector<int16_t> pcm(2048);
  for (const auto& block : stream.blocks) {
    uint32_t length = static_cast<uint32_t>(block.size());
    uint32_t size = 2048;  // exactly one channel's worth
    ASSERT_EQ(d->decode(d, block.data(), &length, pcm.data(), &size), 0);
    ASSERT_EQ(size, 2048u);
    mono.insert(mono.end(), pcm.begin(), pcm.begin() + 1024);
  }
  d->destroy(d);
  // The down-mix is the average of the stereo decode, give or take rounding.
  int channels = 0;
  const std::vector<int16_t> stereo = DecodeAll(stream, 2, &channels);
  ASSERT_EQ(stereo.size(), 2 * mono.size());
  int worst = 0;
  for (size_t i = 0; i < mono.size(); ++i) {
    const int average = (stereo[2 * i] + stereo[2 * i + 1]) / 2;
    worst = std::max(worst, std::abs(mono[i] - average));
  }
  EXPECT_LE(worst, 2);
}

TEST(OspreyChannelAdaptation, MonoStreamToStereoDuplicates) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const AdtsStream stream = MakeStream(dir, 1);
  int monoChannels = 0, stereoChannels = 0;
  const std::vector<int16_t> mono = DecodeAll(stream, 0, &monoChannels);
  const std::vector<int16_t> stereo = DecodeAll(stream, 2, &stereoChannels);
  ASSERT_EQ(monoChannels, 1);
  ASSERT_EQ(stereoChannels, 2);
  ASSERT_EQ(stereo.size(), 2 * mono.size());
  for (size_t i = 0; i < mono.size(); ++i) {
    ASSERT_EQ(stereo[2 * i], mono[i]);
    ASSERT_EQ(stereo[2 * i + 1], mono[i]);
  }
}

// One channel stream of a channel pair without common window, carrying a
// single coefficient of 1 in the lowest band of every window.
void PutChannelStream(BitWriter& w, bool eightShort, int shape) {
  w.Put(180, 8);  // global_gain
  w.Put(0, 1);    // ics_reserved_bit
  w.Put(eightShort ? 2 : 0, 2);
  w.Put(static_cast<uint32_t>(shape), 1);
  const int groups = eightShort ? 8 : 1;
  if (eightShort) {
    w.Put(1, 4);  // max_sfb
    w.Put(0, 7);  // no grouping: eight groups of one window
  } else {
    w.Put(1, 6);  // max_sfb
    w.Put(0, 1);  // predictor_data_present
  }
  for (int g = 0; g < groups; ++g) {
    w.Put(1, 4);                   // sect_cb 1
    w.Put(1, eightShort ? 3 : 5);  // sect_len 1
  }
  for (int g = 0; g < groups; ++g) w.Put(0, 1);     // scale factor delta 0
  w.Put(0, 3);                                      // pulse, tns, gain control
  for (int g = 0; g < groups; ++g) w.Put(0x14, 5);  // codebook 1 index 41: (0, 0, 0, 1)
}

// With different windows in the two channels, a mono output must still be the
// average of the two channels: spectra of different transforms cannot be mixed.
TEST(OspreyChannelAdaptation, StereoToMonoWithDifferentWindows) {
  BitWriter w;
  w.Put(1, 3);  // ID_CPE
  w.Put(0, 4);  // tag
  w.Put(0, 1);  // common_window 0
  PutChannelStream(w, false, 0);
  PutChannelStream(w, true, 1);
  w.Put(7, 3);  // ID_END
  w.Align();
  const std::vector<uint8_t> block = w.Bytes();
  AacConfig stereoConfig{}, monoConfig{};
  monoConfig.channels = 1;
  AudioDecoder* stereo = nullptr;
  AudioDecoder* mono = nullptr;
  ASSERT_EQ(Create(Asc(2, 4, 2), &stereoConfig, &stereo), 0);
  ASSERT_EQ(Create(Asc(2, 4, 2), &monoConfig, &mono), 0);
  std::vector<int16_t> s(2048), m(1024);
  int worst = 0, loudest = 0;
  for (int i = 0; i < 3; ++i) {
    uint32_t length = static_cast<uint32_t>(block.size()), size = 4096;
    ASSERT_EQ(stereo->decode(stereo, block.data(), &length, s.data(), &size), 0);
    ASSERT_EQ(length, block.size());
    length = static_cast<uint32_t>(block.size());
    size = 2048;
    ASSERT_EQ(mono->decode(mono, block.data(), &length, m.data(), &size), 0);
    for (int n = 0; n < 1024; ++n) {
      worst = std::max(worst, std::abs(m[n] - (s[2 * n] + s[2 * n + 1]) / 2));
      loudest = std::max(loudest, std::abs(int{s[2 * n + 1]}));
    }
  }
  EXPECT_GT(loudest, 1000);  // the short-window channel really sounds
  EXPECT_LE(worst, 1);
  stereo->destroy(stereo);
  mono->destroy(mono);
}

// Truncated and bit-flipped real blocks decode or fail without overruns
// (AddressSanitizer watches), always reporting a full block of output.
TEST(OspreyDamagedInput, TruncatedAndFlippedBlocks) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const AdtsStream stream = MakeStream(dir, 2);
  ASSERT_FALSE(stream.blocks.empty());
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(gCreateAACDecoder(&d, &config, stream.asc, 2), 0);
  std::mt19937 rng(1234);
  std::vector<int16_t> pcm(2048);
  for (int round = 0; round < 3; ++round) {
    for (const auto& original : stream.blocks) {
      std::vector<uint8_t> block = original;
      if (round == 0) {
        block.resize(rng() % (block.size() + 1));
      } else {
        for (int f = 0; f < 1 + round * 3; ++f)
          block[rng() % block.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      // Copy to an exactly sized heap buffer so any over-read is caught.
      std::unique_ptr<uint8_t[]> exact(new uint8_t[block.size() + 1]);
      std::memcpy(exact.get(), block.data(), block.size());
      uint32_t length = static_cast<uint32_t>(block.size());
      uint32_t size = 4096;
      ASSERT_EQ(d->decode(d, exact.get(), &length, pcm.data(), &size), 0);
      EXPECT_LE(length, block.size());
      EXPECT_EQ(size, 4096u);
    }
  }
  d->destroy(d);
}

TEST(OspreyDamagedInput, UnexpectedTagEndsBlock) {
  AacConfig config{};
  AudioDecoder* d = nullptr;
  ASSERT_EQ(Create(Asc(2, 4, 1), &config, &d), kAacOk);
  // First block: tag 3 becomes the stream's channel.
  std::vector<uint8_t> block = SilentMonoBlock(3);
  std::vector<int16_t> pcm(1024);
  uint32_t length = static_cast<uint32_t>(block.size());
  uint32_t size = 2048;
  ASSERT_EQ(d->decode(d, block.data(), &length, pcm.data(), &size), 0);
  EXPECT_EQ(length, block.size());
  // A block whose element carries another tag stops at that element.
  block = SilentMonoBlock(5);
  length = static_cast<uint32_t>(block.size());
  ASSERT_EQ(d->decode(d, block.data(), &length, pcm.data(), &size), 0);
  EXPECT_LT(length, block.size());
  d->destroy(d);
}

}  // namespace
}  // namespace osprey::test
