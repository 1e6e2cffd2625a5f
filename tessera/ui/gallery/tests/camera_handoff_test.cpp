// The camera hand-off with the real camera agent, headless: the gallery starts it, asks for
// a photograph and ends with the new file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "config/config.h"
#include "config/registry.h"
#include "gallery/camera_request.h"
#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "gallery_test_support.h"
#include "imaging/image.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace gallery {
namespace {

class CameraHandoffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    GalleryState::Get() = GalleryState{};
    setenv("TESSERA_CAMERA_AUTO", "1", 1);
    setenv("TESSERA_CAMERA_DEVICE", "none", 1);
  }
  void TearDown() override {
    unsetenv("TESSERA_CAMERA_AUTO");
    unsetenv("TESSERA_CAMERA_DEVICE");
  }
  void RegisterCamera(const std::u16string& path) {
    ASSERT_TRUE(config::reg::SetString(HKEY_LOCAL_MACHINE, ids::kCameraKey, ids::kCameraPathValue, path, true));
  }
  /// Runs the dialog with the camera command; cancelled after a minute so a lost reply
  /// fails the test instead of hanging it.
  std::optional<std::u16string> RunWithCamera(GalleryDialog* dialog, std::string* screen) {
    testing::Script script;
    script.Command(ids::kCmdCamera);
    script.Describe(screen);
    script.Start();
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 600 && !done; ++i) Sleep(100);
      if (!done && dialog->Handle()) PostMessage(dialog->Handle(), WM_COMMAND, IDCANCEL, 0);
    });
    auto result = dialog->Run(script.owner());
    done = true;
    watchdog.join();
    return result;
  }

  platform_testing::ScopedDeviceRoot root;
  ui::ResourceLibrary resources;
  config::Config config;
};

TEST_F(CameraHandoffTest, PhotographRoundTripEndsTheGalleryWithTheNewPicture) {
  RegisterCamera(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/camera-agent"));
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  std::string screen;
  auto result = RunWithCamera(&dialog, &screen);
  ASSERT_TRUE(result) << screen;
  EXPECT_EQ(result->rfind(config.GetPicturePath(false), 0), 0u) << platform::Utf16ToUtf8(*result);
  EXPECT_EQ(dialog.mask(), presentation::kKindJpeg);
  imaging::Box size;
  int depth = 0;
  EXPECT_EQ(imaging::GetImageInfo(*result, &size, &depth, imaging::kTypeJpeg), 1);
  EXPECT_EQ(size.width, 480);  // portrait unless "PhotoLandscape" is set
  EXPECT_EQ(size.height, 640);
}

TEST_F(CameraHandoffTest, VideoRoundTripGivesAnH263AndAmrClipWithinTheSizeLimit) {
  RegisterCamera(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/camera-agent"));
  ASSERT_TRUE(config.SetSendDefault(30 * 1024));
  GalleryDialog dialog(&resources, &config, ids::kMaskVideos);
  std::string screen;
  auto result = RunWithCamera(&dialog, &screen);
  ASSERT_TRUE(result) << screen;
  EXPECT_EQ(platform::ExtensionPart(*result), u".3gp");
  EXPECT_EQ(dialog.mask(), presentation::kKindMp4);
  const std::int64_t size = platform::FileSize(*result);
  EXPECT_GT(size, 0);
  EXPECT_LE(size, 30 * 1024 * 95 / 100);
  // Checked with ffprobe: one H.263 video and one AMR-NB sound stream.
  const std::string probe = "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" +
                            platform::Utf16ToUtf8(*result) + "'";
  std::string codecs;
  if (FILE* p = popen(probe.c_str(), "r")) {
    char line[128];
    while (fgets(line, sizeof line, p)) codecs += line;
    pclose(p);
  }
  EXPECT_NE(codecs.find("h263"), std::string::npos) << codecs;
  EXPECT_NE(codecs.find("amr_nb"), std::string::npos) << codecs;
}

TEST_F(CameraHandoffTest, ReplyWithANonZeroFirstWordEndsTheGalleryWithoutAResult) {
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  testing::Script script;
  LRESULT answered = 0;
  script.Then([&] {
    const auto reply = EncodeCameraReply(5, u"/tmp/IMG0001.jpg");
    COPYDATASTRUCT data{ids::kCameraReplyType, static_cast<DWORD>(reply.size()), const_cast<std::uint8_t*>(reply.data())};
    answered = SendMessage(dialog.Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  });
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_EQ(answered, TRUE);
}

TEST_F(CameraHandoffTest, MissingCameraProgramShowsTheFailureAndKeepsTheGalleryOpen) {
  RegisterCamera(u"/nonexistent/camera-agent");
  EXPECT_EQ(CameraProgramPath(), u"");
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  testing::Script script;
  std::string screen, after;
  script.Command(ids::kCmdCamera);
  script.Describe(&screen);
  script.Key("Enter");
  script.Describe(&after);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_NE(screen.find("A photograph cannot be taken now."), std::string::npos) << screen;
  EXPECT_NE(after.find("title=\"Picture\""), std::string::npos) << after;
}

}  // namespace
}  // namespace gallery
