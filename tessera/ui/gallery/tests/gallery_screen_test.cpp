// The gallery driven with keys on the headless screen, with the real resource library.
#include <gtest/gtest.h>

#include "config/config.h"
#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "gallery_test_support.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace gallery {
namespace {

using testing::Script;

bool Has(const std::string& screen, const std::string& text) {
  return screen.find(text) != std::string::npos;
}

class GalleryScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    pictures = config.GetPicturePath(true);
    GalleryState::Get() = GalleryState{};
  }
  std::u16string Make(const std::u16string& name, int w = 64, int h = 48) {
    const std::u16string path = pictures + name;
    EXPECT_TRUE(testing::WriteJpeg(path, w, h));
    return path;
  }

  platform_testing::ScopedDeviceRoot root;
  ui::ResourceLibrary resources;
  config::Config config;
  std::u16string pictures;
};

TEST_F(GalleryScreenTest, PictureGridShowsFoldersAndThumbnailsAndInsertsTheChosenFile) {
  ASSERT_TRUE(platform::CreateDirectories(pictures + u"Album"));
  const std::u16string a = Make(u"a.jpg");
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  Script script;
  std::string first, second;
  script.Describe(&first);
  script.Key("Right");  // from ".." to "Album"
  script.Key("Right");  // to the picture
  script.Describe(&second);
  script.Key("Enter");
  script.Start();
  auto result = dialog.Run(script.owner());
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, a);
  EXPECT_EQ(dialog.mask(), presentation::kKindJpeg);
  EXPECT_TRUE(Has(first, "CLS_ULC_THUMBWND")) << first;
  EXPECT_TRUE(Has(first, "title=\"Picture\"")) << first;
  EXPECT_TRUE(Has(first, "thumb cell=0 item=0 \"..\" folder selected")) << first;
  EXPECT_TRUE(Has(first, "thumb cell=1 item=1 \"Album\" folder")) << first;
  EXPECT_TRUE(Has(first, "thumb cell=2 item=2 \"a.jpg\" thumbnail=")) << first;
  EXPECT_TRUE(Has(second, "\"a.jpg\" thumbnail=")) << second;
  EXPECT_TRUE(Has(second, "sel=2")) << second;
  // The folder browsed is remembered.
  EXPECT_EQ(config.GetCurPicturePath(), pictures);
}

TEST_F(GalleryScreenTest, FolderEntriesOpenInsteadOfBeingInsertedAndCancelGivesNothing) {
  ASSERT_TRUE(platform::CreateDirectories(pictures + u"Album"));
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  Script script;
  std::string inside;
  script.Key("Right");
  script.Key("Enter");  // opens "Album"
  script.Describe(&inside);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_TRUE(Has(inside, "thumbgrid count=1")) << inside;
  EXPECT_EQ(config.GetCurPicturePath(), pictures + u"Album/");
}

}  // namespace
}  // namespace gallery
