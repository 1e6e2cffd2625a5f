// Recording from a WAV input file through the file audio backend, as WAV and as AMR.
#include "audio/capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "post_log.h"
#include "test_media.h"

using namespace audio;
using namespace audio_test;

namespace {

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_AUDIO", "file", 1);
    PostLog::Get().Clear();
    input_ = TestPcm16(8000, 8000 * 2);  // two seconds
    std::string in = root_.path() + "/mic.wav";
    WriteFile(in, MakeWav(input_, 8000, 1, 16));
    setenv("TESSERA_AUDIO_IN", in.c_str(), 1);
  }
  void TearDown() override { unsetenv("TESSERA_AUDIO_IN"); }

  static bool StopPosted(const std::vector<Posted>& p) {
    for (auto& m : p)
      if (m.message == kMsgCommand && m.wParam == kCmdRecordKey) return true;
    return false;
  }

  // Records until the engine asks to stop at `maxMs`; returns Stop's result.
  int RecordUntilMaximum(CaptureEngine& engine, const std::string& path, int maxMs) {
    if (engine.Start(platform::Utf8ToUtf16(path), maxMs) != 1) return -1;
    EXPECT_TRUE(engine.recording());
    EXPECT_TRUE(PostLog::Get().WaitFor(StopPosted, 10));
    return engine.Stop();
  }

  void CheckProgress(int maxMs) {
    int last = 0, stops = 0;
    for (auto& m : PostLog::Get().Snapshot()) {
      EXPECT_EQ(m.window, &owner_);
      if (m.message == kMsgCommand) {
        ++stops;
        continue;
      }
      ASSERT_EQ(m.message, kMsgAudioProgress);
      EXPECT_EQ(m.lParam, maxMs);
      EXPECT_EQ(static_cast<int>(m.wParam), last + 200) << "one 200 ms buffer at a time";
      last = static_cast<int>(m.wParam);
    }
    EXPECT_EQ(stops, 1) << "the stop command is posted once";
    EXPECT_LT(last, maxMs);
  }

  platform_testing::ScopedDeviceRoot root_;
  std::vector<std::uint8_t> input_;
  int owner_ = 0;
};

TEST_F(Capture, WavRecordingReproducesTheInput) {
  std::string path = root_.path() + "/Rec_1.wav";
  ASSERT_TRUE(BeginWavRecording(platform::Utf8ToUtf16(path)));
  EXPECT_EQ(ReadFile(path).size(), kRecordingHeaderBytes);
  CaptureEngine engine(&owner_, &PostLog::Post, nullptr);
  ASSERT_EQ(RecordUntilMaximum(engine, path, 1000), 1);
  EXPECT_FALSE(engine.recording());
  EXPECT_GE(engine.elapsedMs(), 1000);
  ASSERT_TRUE(FinishWavRecording(platform::Utf8ToUtf16(path)));
  CheckProgress(1000);

  auto file = ReadFile(path);
  ASSERT_GT(file.size(), kRecordingHeaderBytes);
  std::uint32_t dataSize = file[42] | file[43] << 8 | file[44] << 16 | std::uint32_t(file[45]) << 24;
  std::uint32_t riffSize = file[4] | file[5] << 8 | file[6] << 16 | std::uint32_t(file[7]) << 24;
  EXPECT_EQ(dataSize, file.size() - kRecordingHeaderBytes);
  EXPECT_EQ(riffSize, file.size() - 8);
  EXPECT_EQ(dataSize % kCaptureBufferBytes, 0u);
  EXPECT_GE(dataSize, 16000u);
  ASSERT_LE(dataSize, input_.size());
  EXPECT_TRUE(std::equal(file.begin() + kRecordingHeaderBytes, file.end(), input_.begin()))
      << "the recording is the input's beginning, in order";
  EXPECT_EQ(engine.Stop(), 0) << "a second stop finds nothing to stop";
}

TEST_F(Capture, AmrRecordingDecodesBackToTheInput) {
  if (!HaveTool("sox")) GTEST_SKIP() << "sox missing";
  AmrEncoderLibrary encoder;
  ASSERT_TRUE(encoder.Load(platform::Utf8ToUtf16(ProgramDir())));
  ASSERT_TRUE(encoder.RealTime());
  ASSERT_NE(encoder.wav2amr, nullptr);
  std::string path = root_.path() + "/Rec_2.amr";
  CaptureEngine engine(&owner_, &PostLog::Post, &encoder);
  ASSERT_EQ(RecordUntilMaximum(engine, path, 1000), 1);
  CheckProgress(1000);

  auto amr = ReadFile(path);
  ASSERT_GT(amr.size(), 6u);
  EXPECT_EQ(std::string(amr.begin(), amr.begin() + 6), "#!AMR\n");
  EXPECT_EQ((amr[6] >> 3) & 15, 7) << "12.2 kbit/s frames";
  std::string raw = root_.path() + "/back.raw";
  ASSERT_TRUE(RunTool("sox " + path + " -t s16 " + raw));
  auto back = Samples(ReadFile(raw));
  auto in = Samples(input_);
  ASSERT_GE(back.size(), 8000u);
  // Speech coding is not waveform-exact; the decoded signal must still follow the
  // input closely. Search the codec's small delay.
  double best = -100;
  for (int lag = 0; lag < 200; ++lag) {
    double sig = 0, err = 0;
    for (std::size_t i = 400; i + lag < back.size() && i < 8000; ++i) {
      sig += double(in[i]) * in[i];
      double d = double(back[i + lag]) - in[i];
      err += d * d;
    }
    best = std::max(best, 10 * std::log10(sig / std::max(err, 1.0)));
  }
  EXPECT_GT(best, 6.0) << "signal-to-noise ratio in dB (about 9 with opencore-amrnb 0.1.6)";
  RecordProperty("amr_snr_db", std::to_string(best));

  if (HaveTool("ffmpeg")) {
    std::string ff = root_.path() + "/ff.raw";
    EXPECT_TRUE(RunTool("ffmpeg -v error -y -i " + path + " -f s16le " + ff));
    EXPECT_EQ(ReadFile(ff).size(), back.size() * 2) << "ffmpeg reads the same number of frames";
  }
}

TEST_F(Capture, WavToAmrConversion) {
  AmrEncoderLibrary encoder;
  ASSERT_TRUE(encoder.Load(platform::Utf8ToUtf16(ProgramDir())));
  std::string wav = root_.path() + "/mic.wav";
  std::string amr = root_.path() + "/conv.amr";
  ASSERT_EQ(encoder.wav2amr(platform::Utf8ToUtf16(wav).c_str(), platform::Utf8ToUtf16(amr).c_str(), 0, 0), 0);
  auto out = ReadFile(amr);
  EXPECT_EQ(out.size(), 6u + 100 * 32) << "two seconds are 100 frames of 32 octets";

  std::string bad = root_.path() + "/stereo.wav";
  WriteFile(bad, MakeWav(input_, 8000, 2, 16));
  std::string amr2 = root_.path() + "/none.amr";
  EXPECT_NE(encoder.wav2amr(platform::Utf8ToUtf16(bad).c_str(), platform::Utf8ToUtf16(amr2).c_str(), 0, 0),
            0);
  EXPECT_FALSE(std::filesystem::exists(amr2)) << "no file behind a failed conversion";
  EXPECT_NE(encoder.wav2amr(u"", platform::Utf8ToUtf16(amr2).c_str(), 0, 0), 0);

  // The real-time entry points take any byte count, odd ones included.
  std::string rt = root_.path() + "/rt.amr";
  HANDLE h = encoder.start(platform::Utf8ToUtf16(rt).c_str());
  ASSERT_NE(h, nullptr);
  for (std::size_t i = 0; i < 3201; i += 7) encoder.encode(h, input_.data() + i, 7, 0, 0);
  encoder.end(h);
  EXPECT_EQ(ReadFile(rt).size(), 6u + 11 * 32) << "3206 bytes (1603 samples) are 10 frames and a padded 11th";
  EXPECT_EQ(encoder.start(u"/nonexistent-dir/x.amr"), nullptr);
}

TEST_F(Capture, MissingInputOrOutputStartsNothing) {
  setenv("TESSERA_AUDIO_IN", (root_.path() + "/no-such.wav").c_str(), 1);
  CaptureEngine engine(&owner_, &PostLog::Post, nullptr);
  EXPECT_EQ(engine.Start(platform::Utf8ToUtf16(root_.path() + "/r.wav"), 1000), 0);
  EXPECT_FALSE(engine.recording());
  EXPECT_EQ(engine.Stop(), 0);

  setenv("TESSERA_AUDIO_IN", (root_.path() + "/mic.wav").c_str(), 1);
  EXPECT_EQ(engine.Start(u"/nonexistent-dir/r.wav", 1000), 0) << "output file cannot be opened";
  EXPECT_FALSE(engine.recording());
  EXPECT_TRUE(PostLog::Get().Snapshot().empty());
}

}  // namespace
