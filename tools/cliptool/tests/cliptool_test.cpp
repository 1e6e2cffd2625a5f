// cliptool end to end, with the file audio backend under a fresh device root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform_testing/device_root.h"

namespace {

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Cliptool : public ::testing::Test {
 protected:
  Result Run(const std::string& args, const std::string& env = "") {
    std::string out = root_.path() + "/stdout", err = root_.path() + "/stderr";
    std::string cmd = "TESSERA_AUDIO=file " + env + " " TESSERA_BINARY_DIR "/bin/cliptool " + args + " >" +
                      out + " 2>" + err;
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }

  // A 16-bit mono 8 kHz WAV of `samples` distinct samples.
  std::string MakeClip(int samples) {
    std::string path = root_.path() + "/clip.wav";
    std::ofstream f(path, std::ios::binary);
    auto le = [&](std::uint32_t v, int n) {
      for (int i = 0; i < n; ++i) f.put(static_cast<char>(v >> (8 * i)));
    };
    f << "RIFF";
    le(36 + samples * 2, 4);
    f << "WAVEfmt ";
    le(16, 4);
    le(1, 2);
    le(1, 2);
    le(8000, 4);
    le(16000, 4);
    le(2, 2);
    le(16, 2);
    f << "data";
    le(samples * 2, 4);
    for (int i = 0; i < samples; ++i) le(static_cast<std::uint32_t>(i * 37 % 20011), 2);
    return path;
  }

  std::string OutputPcm() {
    for (auto& e : std::filesystem::directory_iterator(root_.path() + "/audio-out"))
      return Slurp(e.path().string()).substr(44);
    return {};
  }

  platform_testing::ScopedDeviceRoot root_;
};

TEST_F(Cliptool, InfoDescribesClipsAndRefusesOthers) {
  std::string clip = MakeClip(8000);
  Result r = Run("info " + clip);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("type 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("duration 1000 ms"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("8000 Hz, 1 channel, 16 bits"), std::string::npos) << r.out;

  std::ofstream(root_.path() + "/junk") << "not a sound";
  r = Run("info " + root_.path() + "/junk");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("not a WAV, AMR or MIDI clip"), std::string::npos) << r.err;
  EXPECT_NE(Run("info " + root_.path() + "/missing").status, 0);
  EXPECT_NE(Run("frobnicate x").status, 0);
  EXPECT_NE(Run("play " + clip + " --loops x").status, 0);
  EXPECT_NE(Run("record " + root_.path() + "/r.wav").status, 0) << "--seconds is required";
}

TEST_F(Cliptool, PlaysRangeInLoopsThroughTheFileBackend) {
  std::string clip = MakeClip(8000);
  std::string pcm = Slurp(clip).substr(44);
  // WAV clips seek in 40 ms units, so the range starts on one.
  Result r = Run("play " + clip + " --loops 2 --from 240 --to 760");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("-1 / 1000 ms"), r.out.find("-1 / 1000 ms")) << "end reported once:\n" << r.out;
  EXPECT_EQ(r.out.find("240 / 1000 ms"), 0u) << r.out;
  std::string part = pcm.substr(3840, 8320);
  EXPECT_TRUE(OutputPcm() == part + part);
  EXPECT_NE(Run("play " + clip + " --from 900 --to 100").status, 0);
}

TEST_F(Cliptool, RecordsFromTheInputFile) {
  std::string clip = MakeClip(16000);
  std::string out = root_.path() + "/rec.wav";
  Result r = Run("record " + out + " --seconds 1", "TESSERA_AUDIO_IN=" + clip);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string rec = Slurp(out);
  ASSERT_GE(rec.size(), 46u + 16000);
  EXPECT_EQ(rec.substr(46), Slurp(clip).substr(44, rec.size() - 46));

  std::string amr = root_.path() + "/rec.amr";
  r = Run("record " + amr + " --seconds 1 --amr", "TESSERA_AUDIO_IN=" + clip);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(amr).substr(0, 6), "#!AMR\n");
  r = Run("info " + amr);
  EXPECT_NE(r.out.find("type 4"), std::string::npos) << r.out;

  r = Run("record " + out + " --seconds 1", "TESSERA_AUDIO_IN=" + root_.path() + "/missing.wav");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("did not start"), std::string::npos) << r.err;
}

}  // namespace
