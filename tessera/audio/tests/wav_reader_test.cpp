// The WAV reader, clip recognition, buffer sizing, the device format record and the
// recording header.
#include "audio/wav_reader.h"

#include <gtest/gtest.h>

#include "audio/capture.h"
#include "audio/clip_player.h"
#include "mms/byte_stream.h"
#include "test_media.h"

using namespace audio;
using audio_test::MakeWav;

namespace {

std::unique_ptr<ByteStreamClip> Over(const std::vector<std::uint8_t>& v) {
  return std::make_unique<ByteStreamClip>(
      mms::ByteStream::OpenMemory(v.data(), static_cast<std::int64_t>(v.size())));
}

TEST(WavReader, ReadsFormatAndUnitsWithRemainder) {
  // 8 kHz 16-bit mono: a 40 ms unit is 640 bytes; 1000 bytes are one whole unit and a
  // 360-byte remainder.
  std::vector<std::uint8_t> pcm(1000);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 7);
  auto file = MakeWav(pcm, 8000, 1, 16);
  auto s = Over(file);
  WavReader r;
  ASSERT_EQ(r.Open(s.get(), 0), 0);
  EXPECT_EQ(r.Format().sampleRate, 8000);
  EXPECT_EQ(r.Format().channels, 1);
  EXPECT_EQ(r.Format().bitsPerSample, 16);
  EXPECT_EQ(r.unitSize(), 640u);
  EXPECT_EQ(r.unitCount(), 2u);
  EXPECT_EQ(r.remainder(), 360u);
  EXPECT_EQ(r.Duration(), 62);

  std::vector<std::uint8_t> buf(6400);
  int ms = 0;
  EXPECT_EQ(r.Read(buf.data(), 639, &ms), -1) << "a buffer smaller than one unit";
  ASSERT_EQ(r.Read(buf.data(), 700, &ms), 640) << "whole units only";
  EXPECT_EQ(ms, 40);
  ASSERT_EQ(r.Read(buf.data(), 6400, &ms), 360) << "the last unit is short by the remainder";
  EXPECT_EQ(ms, 40);
  EXPECT_TRUE(std::equal(pcm.begin() + 640, pcm.end(), buf.begin()));
  EXPECT_EQ(r.Read(buf.data(), 6400, &ms), 0);

  ASSERT_EQ(r.Seek(45), 0);  // lands on the unit boundary at 40 ms
  EXPECT_EQ(r.Position(), 40);
  EXPECT_EQ(r.Read(buf.data(), 6400, &ms), 360);
}

TEST(WavReader, AcceptsLongFormatChunkAndSkipsOtherChunks) {
  std::vector<std::uint8_t> pcm(640 * 3, 0x11);
  for (bool extra : {false, true}) {
    auto file = MakeWav(pcm, 11025, 2, 8, 1, 18, extra);
    auto s = Over(file);
    WavReader r;
    ASSERT_EQ(r.Open(s.get(), 0), 0) << extra;
    EXPECT_EQ(r.Format().sampleRate, 11025);
    EXPECT_EQ(r.Format().channels, 2);
    EXPECT_EQ(r.Format().bitsPerSample, 8);
    std::vector<std::uint8_t> buf(4416);
    int ms = 0;
    int n = r.Read(buf.data(), static_cast<int>(buf.size()), &ms);
    ASSERT_GT(n, 0);
    EXPECT_EQ(buf[0], 0x11) << "the 2 extra format bytes must not be read as samples";
  }
}

TEST(WavReader, RefusesMalformedFiles) {
  std::vector<std::uint8_t> pcm(640, 1);
  WavReader r;
  auto nonPcm = MakeWav(pcm, 8000, 1, 16, /*formatTag=*/0x11);
  EXPECT_NE(r.Open(Over(nonPcm).get(), 0), 0) << "format tag 17 (IMA ADPCM)";
  auto noData = MakeWav({}, 8000, 1, 16);
  EXPECT_NE(r.Open(Over(noData).get(), 0), 0) << "zero data size";
  auto good = MakeWav(pcm, 8000, 1, 16);
  auto noFmt = good;
  std::memcpy(noFmt.data() + 12, "junk", 4);
  EXPECT_NE(r.Open(Over(noFmt).get(), 0), 0) << "first chunk must be the format";
  auto zeroFmt = good;
  zeroFmt[16] = 0;
  EXPECT_NE(r.Open(Over(zeroFmt).get(), 0), 0) << "empty format chunk";
  std::vector<std::uint8_t> shortFile(good.begin(), good.begin() + 30);
  EXPECT_NE(r.Open(Over(shortFile).get(), 0), 0);
  auto badChannels = MakeWav(pcm, 8000, 7, 16);
  EXPECT_NE(r.Open(Over(badChannels).get(), 0), 0);
}

TEST(WavReader, TruncatedDataPlaysWhatIsThere) {
  std::vector<std::uint8_t> pcm(2000, 3);
  auto file = MakeWav(pcm, 8000, 1, 16);
  file.erase(file.end() - 1000, file.end());  // the data size still claims 2000
  auto s = Over(file);
  WavReader r;
  ASSERT_EQ(r.Open(s.get(), 0), 0);
  EXPECT_EQ(r.dataSize(), 1000u);
  std::vector<std::uint8_t> buf(6400);
  int ms = 0;
  EXPECT_EQ(r.Read(buf.data(), 6400, &ms), 1000);
}

TEST(ClipRecognition, TypeTable) {
  auto is = [](const char* head) { return RecogniseClip(reinterpret_cast<const std::uint8_t*>(head), 12); };
  EXPECT_EQ(is("#!AMR\n......"), ClipType::Amr);
  EXPECT_EQ(is("MThd\0\0\0\6...."), ClipType::Midi);
  EXPECT_EQ(is("RIFF\0\0\0\0WAVE"), ClipType::Wav);
  EXPECT_EQ(is("RIFF\0\0\0\0RMID"), ClipType::Midi);
  EXPECT_EQ(is("RIFF\0\0\0\0AVI "), ClipType::Unknown);
  EXPECT_EQ(is("ID3\3........"), ClipType::Unknown);
  EXPECT_EQ(RecogniseClip(reinterpret_cast<const std::uint8_t*>("RIFF"), 4), ClipType::Unknown);
  EXPECT_EQ(RecogniseClip(nullptr, 0), ClipType::Unknown);
}

TEST(ClipPlayerSizes, BufferSizeAndDeviceFormat) {
  EXPECT_EQ(ClipBufferSize(8000, 1, 16), 6400u);
  EXPECT_EQ(ClipBufferSize(11025, 1, 8), 4416u);
  EXPECT_EQ(ClipBufferSize(22050, 2, 16), 35296u);

  WAVEOUTCAPS caps{};
  caps.wChannels = 2;
  ClipPcmFormat asked;  // nothing given
  asked.formatTag = 2;
  caps.dwFormats = WAVE_FORMAT_2M16;
  WAVEFORMATEX f = DeviceFormatFor(asked, caps);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, 22050u);
  EXPECT_EQ(f.wBitsPerSample, 8);
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.nAvgBytesPerSec, 44100u);
  caps.dwFormats = WAVE_FORMAT_1S08 | WAVE_FORMAT_4S16;
  EXPECT_EQ(DeviceFormatFor(asked, caps).nSamplesPerSec, 11025u);
  caps.dwFormats = WAVE_FORMAT_4M08;
  EXPECT_EQ(DeviceFormatFor(asked, caps).nSamplesPerSec, 44100u);
  caps.dwFormats = 0;
  EXPECT_EQ(DeviceFormatFor(asked, caps).nSamplesPerSec, 8000u);
  ClipPcmFormat given{1, 1, 8000, 16};
  f = DeviceFormatFor(given, caps);
  EXPECT_EQ(f.nChannels, 1);
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.nAvgBytesPerSec, 16000u);

  EXPECT_EQ(MapDeviceError(MMSYSERR_NOERROR), 0);
  EXPECT_EQ(MapDeviceError(MMSYSERR_NOTENABLED), -1);
  EXPECT_EQ(MapDeviceError(MMSYSERR_INVALHANDLE), -1);
  EXPECT_EQ(MapDeviceError(MMSYSERR_NODRIVER), -4);
  EXPECT_EQ(MapDeviceError(MMSYSERR_NOMEM), -3);
  EXPECT_EQ(MapDeviceError(WAVERR_BADFORMAT), -5);
}

TEST(Recording, MaximumLengthAndHeader) {
  EXPECT_EQ(MaxRecordingMs(0, 90), 1000);
  EXPECT_EQ(MaxRecordingMs(102400, 90), 57600);
  EXPECT_EQ(MaxRecordingMs(102400, 90) / 1000, 57);
  EXPECT_EQ(MaxRecordingMs(300000, 100), 187500);
  EXPECT_GT(MaxRecordingMs(0xFFFFFFFFu, 100), 0) << "no 32-bit overflow";

  std::uint8_t h[kRecordingHeaderBytes];
  BuildRecordingHeader(160000, h);  // 10 s at 16000 bytes per second
  auto le32 = [&](int o) {
    return std::uint32_t(h[o]) | h[o + 1] << 8 | h[o + 2] << 16 | std::uint32_t(h[o + 3]) << 24;
  };
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 4), "RIFF");
  EXPECT_EQ(le32(4), 160038u);
  EXPECT_EQ(le32(16), 18u);
  EXPECT_EQ(h[20], 1);  // PCM
  EXPECT_EQ(h[22], 1);  // mono
  EXPECT_EQ(le32(24), 8000u);
  EXPECT_EQ(le32(28), 16000u);
  EXPECT_EQ(h[32], 2);               // block alignment
  EXPECT_EQ(h[34], 16);              // bits
  EXPECT_EQ(h[36] | h[37] << 8, 0);  // no extra bytes
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h) + 38, 4), "data");
  EXPECT_EQ(le32(42), 160000u);
  BuildRecordingHeader(0xFFFFFFFFu, h);
  EXPECT_EQ(le32(42), 0xFFFFFFFFu);

  // The reader takes the recording header's 18-byte format chunk.
  std::vector<std::uint8_t> file(kRecordingHeaderBytes + 1280, 5);
  BuildRecordingHeader(1280, file.data());
  auto s = Over(file);
  WavReader r;
  ASSERT_EQ(r.Open(s.get(), 0), 0);
  EXPECT_EQ(r.Duration(), 80);
}

}  // namespace
