#include "sendpage/page_pictures.h"

#include <gtest/gtest.h>

#include <string>

#include "imaging/image.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform_testing/device_root.h"

namespace ui {
namespace {

class PagePicturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    messageDir = platform::JoinPath(platform::DeviceRoot(), u"msg");
    ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(messageDir, u"parts")));
    doc.SetPartsDirectory(platform::JoinPath(messageDir, u"parts"));
    doc.SetDefaultLayout();
    ASSERT_EQ(doc.InsertSlide(-1), 1);
    ASSERT_EQ(doc.InsertSlide(-1), 1);
    ASSERT_EQ(doc.InsertSlide(-1), 1);
    ASSERT_EQ(doc.AddMediaFile(0, Picture(u"big.jpg", 400, 300)), 1);
    ASSERT_EQ(doc.AddMediaFile(1, Picture(u"small.png", 100, 80)), 1);
    ASSERT_EQ(doc.AddMediaFile(2, Picture(u"tall.jpg", 100, 200)), 1);
    for (int i = 0; i < 3; ++i) parts.push_back(Part(i));
    for (const auto& p : parts) {
      std::string bytes;
      ASSERT_TRUE(platform::ReadFile(p, bytes));
      before.push_back(bytes);
    }
  }

  std::u16string Picture(const std::u16string& name, int w, int h) {
    auto dib = imaging::PackedDib::Create(w, h, 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 3; ++x) dib->TopRow(y)[x] = static_cast<std::uint8_t>(x * 7 + y * 3);
    std::u16string path = platform::JoinPath(platform::DeviceRoot(), name);
    EXPECT_EQ(imaging::SaveImage(*dib, path, imaging::kTypeByExtension), 1);
    return path;
  }
  std::u16string Part(int slide) {
    return platform::JoinPath(doc.partsDirectory(), doc.slide(slide)->image->item->fileName);
  }
  imaging::Box Size(const std::u16string& path) {
    imaging::Box b{};
    int depth = 0;
    imaging::GetImageInfo(path, &b, &depth, imaging::kTypeByExtension);
    return b;
  }
  std::string Bytes(const std::u16string& path) {
    std::string s;
    platform::ReadFile(path, s);
    return s;
  }

  platform_testing::ScopedDeviceRoot root;
  std::u16string messageDir;
  presentation::MessageDocument doc;
  std::vector<std::u16string> parts;
  std::vector<std::string> before;
};

TEST_F(PagePicturesTest, WorkingFoldersAreNumberedFromOneUpward) {
  ASSERT_TRUE(platform::CreateDirectory(platform::JoinPath(messageDir, u"Temp1")));
  PagePictures a, b;
  ASSERT_TRUE(a.MakeWorkingFolder(messageDir));
  EXPECT_EQ(platform::FileNamePart(a.WorkingFolder()), u"Temp2");
  ASSERT_TRUE(b.MakeWorkingFolder(messageDir));
  EXPECT_EQ(platform::FileNamePart(b.WorkingFolder()), u"Temp3");
  b.RemoveWorkingFolder();
  EXPECT_FALSE(platform::PathExists(platform::JoinPath(messageDir, u"Temp3")));
}

TEST_F(PagePicturesTest, ResolutionRebuildsFromOriginalsAndACancelRestoresThemByteForByte) {
  PagePictures pics;
  ASSERT_TRUE(pics.MakeWorkingFolder(messageDir));
  ASSERT_EQ(pics.TakeOriginals(doc), 3);
  ASSERT_TRUE(pics.Apply(0));  // 160 x 120
  imaging::Box big = Size(parts[0]), small = Size(parts[1]), tall = Size(parts[2]);
  EXPECT_EQ(big.width, 160);
  EXPECT_EQ(big.height, 120);
  EXPECT_EQ(Bytes(parts[1]), before[1]);  // fits already: copied unchanged
  EXPECT_LE(tall.height, 120);            // higher than the box
  EXPECT_EQ(small.width, 100);
  // A larger box is rebuilt from the original, not from the shrunk picture.
  ASSERT_TRUE(pics.Apply(1));
  EXPECT_EQ(Size(parts[0]).width, 320);
  EXPECT_EQ(Bytes(parts[2]), before[2]);
  ASSERT_TRUE(pics.Apply(3));
  EXPECT_EQ(Bytes(parts[0]), before[0]);
  ASSERT_TRUE(pics.Apply(0));
  ASSERT_TRUE(pics.Restore());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Bytes(parts[i]), before[i]) << i;
  pics.RemoveWorkingFolder();
  std::vector<platform::DirectoryEntry> left;
  ASSERT_TRUE(platform::ListDirectory(messageDir, left));
  EXPECT_EQ(left.size(), 1u);  // only the parts directory
}

TEST_F(PagePicturesTest, SavedPicturesBecomeTheNewOriginals) {
  PagePictures pics;
  ASSERT_TRUE(pics.MakeWorkingFolder(messageDir));
  ASSERT_EQ(pics.TakeOriginals(doc), 3);
  ASSERT_TRUE(pics.Apply(0));
  std::string saved = Bytes(parts[0]);
  ASSERT_TRUE(pics.KeepCurrentAsOriginals());
  ASSERT_TRUE(pics.Apply(2));  // nothing to enlarge from: stays as saved
  EXPECT_EQ(Bytes(parts[0]), saved);
  ASSERT_TRUE(pics.Restore());
  EXPECT_EQ(Bytes(parts[0]), saved);
}

TEST_F(PagePicturesTest, ADamagedPictureKeepsItsOriginal) {
  ASSERT_TRUE(platform::WriteFile(parts[0], "not a picture at all"));
  PagePictures pics;
  ASSERT_TRUE(pics.MakeWorkingFolder(messageDir));
  ASSERT_EQ(pics.TakeOriginals(doc), 3);
  pics.Apply(0);
  EXPECT_EQ(Bytes(parts[0]), "not a picture at all");
  EXPECT_EQ(Size(parts[1]).width, 100);
}

}  // namespace
}  // namespace ui
