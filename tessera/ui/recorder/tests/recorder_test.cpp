// The recorder with the file audio backend: a WAV file is the microphone.
#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../../texteditor/tests/key_script.h"
#include "audio/capture.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "ui/common/app_context.h"

namespace recorder {
namespace {

using uitest::KeyScript;

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
  return v;
}

/// A WAV file of `ms` milliseconds of 8 kHz 16-bit mono samples.
std::string Microphone(int ms) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(ms) * 16;
  std::string s = "RIFF";
  auto le32 = [&s](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto le16 = [&s](std::uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
  };
  le32(36 + bytes);
  s += "WAVEfmt ";
  le32(16);
  le16(1);
  le16(1);
  le32(8000);
  le32(16000);
  le16(2);
  le16(16);
  s += "data";
  le32(bytes);
  for (std::uint32_t i = 0; i < bytes / 2; ++i) le16(static_cast<std::uint16_t>((i * 97) & 0x7FFF));
  return s;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    ui::Context().resources = &resources;
    folder = platform::JoinPath(platform::DeviceRoot(), u"msg/");
    ASSERT_TRUE(platform::CreateDirectories(folder));
    const std::u16string mic = platform::JoinPath(platform::DeviceRoot(), u"mic.wav");
    ASSERT_TRUE(platform::WriteFile(mic, Microphone(3000)));
    setenv("TESSERA_AUDIO", "file", 1);
    setenv("TESSERA_AUDIO_IN", platform::Utf16ToUtf8(mic).c_str(), 1);
  }
  void TearDown() override { ui::Context().resources = nullptr; }
  static std::string State(const std::string& screen) {
    const std::size_t at = screen.find("recorder state=");
    return at == std::string::npos ? "" : screen.substr(at + 15, 1);
  }

  platform_testing::ScopedDeviceRoot root;
  ui::ResourceLibrary resources;
  std::u16string folder;
};

TEST_F(RecorderTest, RecordsUpToTheLimitAndHandsTheWavBack) {
  KeyScript script;
  std::string ready, recorded;
  script.Describe(&ready);
  script.Key("SoftLeft");  // record; the engine stops itself at the 1000 ms limit
  script.WaitUntil([] { return State(platform::testdriver::DescribeScreen()) == "2"; });
  script.Describe(&recorded);
  script.Key("SoftLeft");  // review (no player: straight on)
  script.Key("SoftLeft");  // done
  script.Start();
  std::u16string result;
  ASSERT_EQ(RunRecorder(script.owner(), folder, &result, 3), 1);
  // Without "SendDefault" the limit is the 1000 ms floor.
  EXPECT_NE(ready.find("text=\"Recording limit: 1 seconds\""), std::string::npos) << ready;
  EXPECT_NE(ready.find("\"Record\""), std::string::npos) << ready;
  EXPECT_NE(recorded.find("\"Play\""), std::string::npos) << recorded;
  EXPECT_EQ(result, folder + u"Rec_3.wav");
  std::string wav;
  ASSERT_TRUE(platform::ReadFile(result, wav));
  ASSERT_GE(wav.size(), 46u + 3200u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(Le32(wav, 16), 18u);
  EXPECT_EQ(Le32(wav, 42), wav.size() - 46);
  EXPECT_EQ((wav.size() - 46) % 3200, 0u);
  // The samples are the microphone's, from its start.
  const std::string mic = Microphone(3000);
  EXPECT_EQ(wav.substr(46, 3200), mic.substr(44, 3200));
}

TEST_F(RecorderTest, CancelDeletesTheWorkingFile) {
  KeyScript script;
  script.Key("SoftLeft");
  script.WaitUntil([] { return State(platform::testdriver::DescribeScreen()) == "2"; });
  script.Key("SoftRight");  // cancel
  script.Start();
  std::u16string result;
  EXPECT_EQ(RunRecorder(script.owner(), folder, &result, 1), 0);
  EXPECT_TRUE(result.empty());
  EXPECT_FALSE(platform::FileExists(folder + u"Rec_1.wav"));
}

}  // namespace
}  // namespace recorder
