// The decoder libraries "Amr.dec" and "Midi.dec" as the player loads them: AMR output
// is compared sample for sample with the reference decoder as sox runs it; MIDI output
// is checked for length and sound.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/clip_player.h"
#include "mms/byte_stream.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "test_media.h"

using namespace audio;
using namespace audio_test;

namespace {

struct Decoded {
  int duration = -1;
  ClipPcmFormat format;
  std::vector<std::uint8_t> pcm;
  ClipType type = ClipType::Unknown;
};

// Opens `path` with the decoder the player would choose and reads it to the end.
Decoded DecodeAll(const std::string& path, int bufferBytes) {
  Decoded d;
  auto file = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kRead);
  if (!file) return d;
  ByteStreamClip stream(std::move(file));
  d.type = RecogniseClip(&stream);
  HMODULE library = nullptr;
  {
    auto decoder = MakeDecoder(d.type, platform::Utf8ToUtf16(ProgramDir()), &library);
    if (decoder && decoder->Open(&stream, 0) == 0) {
      d.duration = decoder->Duration();
      d.format = decoder->Format();
      std::vector<std::uint8_t> buf(static_cast<std::size_t>(bufferBytes));
      int ms = 0, n;
      while ((n = decoder->Read(buf.data(), bufferBytes, &ms)) > 0)
        d.pcm.insert(d.pcm.end(), buf.begin(), buf.begin() + n);
    }
  }
  if (library) FreeLibrary(library);
  return d;
}

TEST(AmrDecoder, MatchesReferenceDecoderInAllEightModes) {
  if (!HaveTool("sox") || !RunTool("sox -h | grep -q amr-nb"))
    GTEST_SKIP() << "sox with AMR-NB support is missing";
  platform_testing::ScopedDeviceRoot root;
  std::string wav = root.path() + "/in.wav";
  WriteFile(wav, MakeWav(TestPcm16(8000, 8000 * 3 / 2 + 37), 8000, 1, 16));
  for (int mode = 0; mode < 8; ++mode) {
    std::string amr = root.path() + "/m" + std::to_string(mode) + ".amr";
    std::string raw = root.path() + "/m" + std::to_string(mode) + ".raw";
    ASSERT_TRUE(RunTool("sox " + wav + " -t amr-nb -C " + std::to_string(mode) + " " + amr)) << mode;
    ASSERT_TRUE(RunTool("sox " + amr + " -t s16 " + raw)) << mode;
    Decoded d = DecodeAll(amr, 6400);
    EXPECT_EQ(d.type, ClipType::Amr);
    EXPECT_EQ(d.format.sampleRate, 8000);
    EXPECT_EQ(d.format.channels, 1);
    EXPECT_EQ(d.format.bitsPerSample, 16);
    auto want = ReadFile(raw);
    ASSERT_EQ(d.pcm.size(), want.size()) << "mode " << mode;
    EXPECT_TRUE(d.pcm == want) << "mode " << mode;
    EXPECT_EQ(d.duration, static_cast<int>(want.size() / 320 * 20));
  }
}

TEST(AmrDecoder, SurvivesDamagedFiles) {
  platform_testing::ScopedDeviceRoot root;
  std::string path = root.path() + "/bad.amr";
  // Magic, one 12.2 kbit/s frame header with its 31 octets cut to 5, then nothing.
  WriteFile(path, {'#', '!', 'A', 'M', 'R', '\n', 0x3C, 1, 2, 3, 4, 5});
  Decoded d = DecodeAll(path, 6400);
  EXPECT_EQ(d.duration, 0);
  EXPECT_TRUE(d.pcm.empty());
  // Every frame type, including the reserved ones, one after another.
  std::vector<std::uint8_t> all = {'#', '!', 'A', 'M', 'R', '\n'};
  const int sizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1};
  for (int t = 0; t < 16; ++t) {
    all.push_back(static_cast<std::uint8_t>(t << 3 | 4));
    for (int i = 1; i < sizes[t]; ++i) all.push_back(static_cast<std::uint8_t>(i * 37 + t));
  }
  WriteFile(path, all);
  d = DecodeAll(path, 320);
  EXPECT_EQ(d.duration, 320);
  EXPECT_EQ(d.pcm.size(), 16u * 320);
}

// A format-0 MIDI file: piano notes over `quarters` quarter notes at 96 ticks each, with
// the given tempo (microseconds per quarter) and an optional tempo change halfway.
std::vector<std::uint8_t> MakeMidi(int quarters, std::uint32_t tempo, std::uint32_t tempo2 = 0) {
  std::vector<std::uint8_t> t;
  auto vlq = [&](std::uint32_t v) {
    std::uint8_t b[4];
    int n = 0;
    b[n++] = v & 0x7F;
    while (v >>= 7) b[n++] = static_cast<std::uint8_t>(0x80 | (v & 0x7F));
    while (n) t.push_back(b[--n]);
  };
  vlq(0);
  t.insert(t.end(),
           {0xFF, 0x51, 0x03, std::uint8_t(tempo >> 16), std::uint8_t(tempo >> 8), std::uint8_t(tempo)});
  vlq(0);
  t.insert(t.end(), {0xC0, 0x00});  // program 0 (piano)
  for (int q = 0; q < quarters; ++q) {
    if (tempo2 && q == quarters / 2) {
      vlq(0);
      t.insert(t.end(), {0xFF, 0x51, 0x03, std::uint8_t(tempo2 >> 16), std::uint8_t(tempo2 >> 8),
                         std::uint8_t(tempo2)});
    }
    vlq(0);
    t.insert(t.end(), {0x90, std::uint8_t(60 + q % 12), 100});
    vlq(96);
    t.insert(t.end(), {std::uint8_t(60 + q % 12), 0});  // running status, velocity 0 = off
  }
  vlq(0);
  t.insert(t.end(), {0xFF, 0x2F, 0x00});
  std::vector<std::uint8_t> f = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
  for (int i = 3; i >= 0; --i) f.push_back(static_cast<std::uint8_t>(t.size() >> (8 * i)));
  f.insert(f.end(), t.begin(), t.end());
  return f;
}

double Rms(const std::vector<std::uint8_t>& pcm) {
  auto s = Samples(pcm);
  double sum = 0;
  for (auto v : s) sum += double(v) * v;
  return s.empty() ? 0 : std::sqrt(sum / s.size());
}

TEST(MidiDecoder, RendersSoundOfTheTempoMapsLength) {
  if (!std::ifstream("/usr/share/sounds/sf2/FluidR3_GM.sf2"))
    GTEST_SKIP() << "General MIDI sound font missing";
  platform_testing::ScopedDeviceRoot root;
  std::string mid = root.path() + "/song.mid";
  // Two quarters at 0.5 s, then two at 0.25 s: 1.5 s.
  WriteFile(mid, MakeMidi(4, 500000, 250000));
  Decoded d = DecodeAll(mid, 35296);
  EXPECT_EQ(d.type, ClipType::Midi);
  EXPECT_EQ(d.duration, 1500);
  EXPECT_EQ(d.format.sampleRate, 22050);
  EXPECT_EQ(d.format.channels, 2);
  EXPECT_EQ(d.format.bitsPerSample, 16);
  EXPECT_EQ(d.pcm.size(), 22050u * 4 * 3 / 2);
  EXPECT_GT(Rms(d.pcm), 100.0) << "the notes must be heard";

  // The same song inside a RIFF RMID file goes through the same decoder.
  auto smf = MakeMidi(4, 500000, 250000);
  std::vector<std::uint8_t> rmid = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
  Le32(rmid, static_cast<std::uint32_t>(smf.size()));
  rmid.insert(rmid.end(), smf.begin(), smf.end());
  std::string rmi = root.path() + "/song.rmi";
  WriteFile(rmi, rmid);
  Decoded r = DecodeAll(rmi, 35296);
  EXPECT_EQ(r.type, ClipType::Midi);
  EXPECT_EQ(r.duration, 1500);
  EXPECT_EQ(r.pcm.size(), d.pcm.size());
  EXPECT_GT(Rms(r.pcm), 100.0);
}

TEST(MidiDecoder, RefusesBrokenFilesAndReportsLengthCheaply) {
  platform_testing::ScopedDeviceRoot root;
  std::string mid = root.path() + "/x.mid";
  WriteFile(mid, {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0});  // division 0, no track
  EXPECT_EQ(DecodeAll(mid, 35296).duration, -1);
  auto song = MakeMidi(8, 1000000);  // 8 s at one quarter per second
  WriteFile(mid, song);
  AudioClipLoader loader(platform::Utf8ToUtf16(ProgramDir()), nullptr);
  EXPECT_EQ(loader.ClipDuration(platform::Utf8ToUtf16(mid)), 8000);
  song.erase(song.end() - 9, song.end());  // a track cut short ends where its data ends
  WriteFile(mid, song);
  int cut = loader.ClipDuration(platform::Utf8ToUtf16(mid));
  EXPECT_GT(cut, 6000);
  EXPECT_LT(cut, 8000);
}

}  // namespace
