// The gallery's rules apart from its windows: folder resolution and listing, the grid's
// key rules, the canned-text list's acceptance and the camera records.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config/registry.h"
#include "gallery/camera_request.h"
#include "gallery/canned_list.h"
#include "gallery/gallery_ids.h"
#include "gallery/gallery_state.h"
#include "gallery/thumb_grid.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace gallery {
namespace {

std::vector<std::u16string> Names(const std::vector<std::unique_ptr<MediaEntry>>& entries) {
  std::vector<std::u16string> names;
  for (const auto& e : entries) names.push_back(e->Name());
  return names;
}

TEST(GalleryFolders, EmptyCurrentPictureFolderOpensTheConfiguredOneAndCloseWritesItBack) {
  platform_testing::ScopedDeviceRoot root;
  config::Config config;
  GalleryState state;
  ResolveFolders(config, &state);
  EXPECT_EQ(state.pictureFolder, config.GetPicturePath(false));
  EXPECT_TRUE(platform::DirectoryExists(state.pictureFolder));
  EXPECT_EQ(state.soundFolder, config.GetSoundPath(false));
  EXPECT_EQ(state.videoFolder, config.GetVideoPath(false));

  state.pictureFolder += u"Holiday/";
  state.pictureView = ids::kViewDetails;
  CloseFolders(config, &state);
  EXPECT_EQ(config.GetCurPicturePath(), state.pictureFolder);
  EXPECT_EQ(state.pictureView, ids::kViewGrid);
  GalleryState again;
  ResolveFolders(config, &again);
  EXPECT_EQ(again.pictureFolder, state.pictureFolder);
}

TEST(GalleryFolders, ListingIsUpEntryThenFoldersThenFilesOfTheClass) {
  platform_testing::ScopedDeviceRoot root;
  const std::u16string dir = platform::JoinPath(platform::DeviceRoot(), u"Pics") + u"/";
  ASSERT_TRUE(platform::CreateDirectories(dir + u"Sub"));
  ASSERT_TRUE(platform::WriteFile(dir + u"a.jpg", "x"));
  ASSERT_TRUE(platform::WriteFile(dir + u"b.WBMP", "xy"));
  ASSERT_TRUE(platform::WriteFile(dir + u"c.amr", "x"));
  ASSERT_TRUE(platform::WriteFile(dir + u"d.txt", "x"));
  ASSERT_TRUE(platform::WriteFile(dir + u"e.3gp", "x"));

  auto pictures = ListFolder(dir, ids::kClassPicture);
  ASSERT_EQ(pictures.size(), 4u);
  EXPECT_EQ(pictures[0]->type, EntryType::Up);
  EXPECT_EQ(pictures[0]->path + u"Pics/", dir);
  EXPECT_EQ(pictures[1]->type, EntryType::Folder);
  EXPECT_EQ(pictures[1]->Name(), u"Sub");
  EXPECT_EQ(pictures[1]->path, dir + u"Sub/");
  // The two files in the file system's order.
  std::vector<std::u16string> files{pictures[2]->Name(), pictures[3]->Name()};
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::u16string>{u"a.jpg", u"b.WBMP"}));
  for (int i : {2, 3}) EXPECT_EQ(presentation::KindClass(pictures[static_cast<std::size_t>(i)]->kind), 1u);
  EXPECT_GT(pictures[2]->writeTime, 0);

  EXPECT_EQ(Names(ListFolder(dir, ids::kClassSound)), (std::vector<std::u16string>{u"..", u"Sub", u"c.amr"}));
  EXPECT_EQ(Names(ListFolder(dir, ids::kClassVideo)), (std::vector<std::u16string>{u"..", u"Sub", u"e.3gp"}));
  // The device root has no up entry.
  auto top = ListFolder(platform::DeviceRoot(), ids::kClassPicture);
  for (const auto& e : top) EXPECT_NE(e->type, EntryType::Up);
}

TEST(GalleryModes, MaskClassesAndTitles) {
  EXPECT_EQ(MaskClass(ids::kMaskPictures), ids::kClassPicture);
  EXPECT_EQ(MaskClass(ids::kMaskVideos), ids::kClassVideo);
  EXPECT_EQ(MaskClass(0x90000), ids::kClassPicture);
  EXPECT_EQ(TitleOf(ids::kClassPicture), 1002u);
  EXPECT_EQ(TitleOf(ids::kClassSound), 1003u);
  EXPECT_EQ(TitleOf(ids::kClassText), 1004u);
  EXPECT_EQ(TitleOf(ids::kClassVideo), 1005u);
}

// Grid of `count` items opened on `index`, after `keys`: "top/selected".
std::string Walk(int count, int index, std::initializer_list<UINT> keys) {
  GridNav nav;
  nav.count = count;
  nav.Open(index);
  for (UINT k : keys) nav.Key(k);
  return std::to_string(nav.top) + "/" + std::to_string(nav.selected);
}

// The same from a page whose top row is `top`.
std::string WalkFrom(int count, int top, int selected, std::initializer_list<UINT> keys) {
  GridNav nav;
  nav.count = count;
  nav.top = top;
  nav.selected = selected;
  for (UINT k : keys) nav.Key(k);
  return std::to_string(nav.top) + "/" + std::to_string(nav.selected);
}

TEST(ThumbGridKeys, LeftAndUpAtTheTopAndFirstCell) {
  EXPECT_EQ(Walk(20, 0, {VK_LEFT}), "0/0");  // the top is reached: no change
  EXPECT_EQ(Walk(20, 0, {VK_UP}), "0/0");
  EXPECT_EQ(Walk(20, 4, {VK_LEFT}), "0/3");
  // From the first cell of a scrolled page: one row up, last cell of the new top row.
  EXPECT_EQ(Walk(20, 9, {}), "1/9");  // opening scrolls the least that shows the item
  EXPECT_EQ(WalkFrom(20, 3, 9, {VK_LEFT}), "2/8");
  EXPECT_EQ(WalkFrom(20, 1, 3, {VK_LEFT, VK_LEFT}), "0/1");
  EXPECT_EQ(WalkFrom(20, 3, 10, {VK_UP}), "2/7");  // top row: scroll and keep the column
  EXPECT_EQ(Walk(20, 7, {VK_UP}), "0/4");
}

TEST(ThumbGridKeys, RightAndDownAtTheLastCellAndTheEnd) {
  EXPECT_EQ(Walk(20, 8, {VK_RIGHT}), "1/9");  // last cell of the page
  EXPECT_EQ(Walk(20, 7, {VK_DOWN}), "1/10");  // bottom row scrolls
  EXPECT_EQ(Walk(20, 19, {VK_RIGHT}), "4/19");  // the last item: nothing follows
  EXPECT_EQ(Walk(20, 18, {VK_DOWN}), "4/18");   // the end is reached
  // A short last row (items 18 and 19): Down from 17 lands on the nearest visible cell.
  EXPECT_EQ(Walk(20, 14, {VK_DOWN}), "3/17");
  EXPECT_EQ(Walk(20, 17, {VK_DOWN}), "4/19");
  EXPECT_EQ(Walk(20, 16, {VK_DOWN}), "4/19");
  EXPECT_EQ(Walk(20, 15, {VK_DOWN}), "4/18");
}

TEST(ThumbGridKeys, HiddenCellsOfAShortPage) {
  // Four items: rows 0 and 1, cells 4-8 hidden.
  GridNav nav;
  nav.count = 4;
  nav.Open(99);
  EXPECT_EQ(nav.selected, 3);
  EXPECT_EQ(nav.ItemAt(3), 3);
  EXPECT_EQ(nav.ItemAt(4), -1);
  EXPECT_EQ(Walk(4, 1, {VK_DOWN}), "0/3");
  EXPECT_EQ(Walk(4, 3, {VK_DOWN}), "0/3");  // no row below: stay
  EXPECT_EQ(Walk(4, 3, {VK_RIGHT}), "0/3");
  EXPECT_EQ(Walk(4, 2, {VK_RIGHT}), "0/3");
  EXPECT_EQ(Walk(0, 0, {VK_DOWN, VK_RIGHT}), "0/0");
}

TEST(ThumbGridKeys, PageKeysMoveByThreeRows) {
  EXPECT_EQ(Walk(200, 4, {VK_NEXT}), "3/13");
  EXPECT_EQ(Walk(200, 4, {VK_NEXT, VK_PRIOR}), "0/4");
  EXPECT_EQ(Walk(10, 0, {VK_NEXT}), "1/3");
}

TEST(CannedTexts, DuplicateIsRefusedAndAnEditMovesToTheEnd) {
  std::vector<std::u16string> texts{u"Hi", u"Late", u"OK"};
  EXPECT_EQ(AcceptText(&texts, u"Late", -1), -1);
  EXPECT_EQ(texts.size(), 3u);
  EXPECT_EQ(AcceptText(&texts, u"late", -1), 3);  // case matters
  // Editing "Hi" unchanged is no duplicate of itself; it moves to the end.
  EXPECT_EQ(AcceptText(&texts, u"Hi", 0), 3);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"Late", u"OK", u"late", u"Hi"}));
  EXPECT_EQ(AcceptText(&texts, u"OK", 0), -1);  // "OK" is another text
  EXPECT_EQ(AcceptText(&texts, u"Later", 0), 3);
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"OK", u"late", u"Hi", u"Later"}));
}

TEST(CameraRecords, VideoRequestAsksForTheRatioOfTheSendLimit) {
  platform_testing::ScopedDeviceRoot root;
  config::Config config;
  ASSERT_TRUE(config.SetSendDefault(102400));
  ASSERT_TRUE(config::reg::SetDword(HKEY_LOCAL_MACHINE, config::kCaptureKey, u"VideoLandscape", 1, false));
  const CameraRequest video = MakeCameraRequest(config, true, 0x1234, u"/root/My Pictures/");
  EXPECT_EQ(video.maxBytes, 97280u);
  EXPECT_EQ(video.mode, 1u);
  EXPECT_EQ(video.format, 16u);
  EXPECT_EQ(video.orientation, 0u);
  EXPECT_EQ(video.resolution, 2u);

  const CameraRequest photo = MakeCameraRequest(config, false, 0x1234, u"/p/");
  const std::vector<std::uint8_t> bytes = EncodeCameraRequest(photo);
  ASSERT_EQ(bytes.size(), 548u);
  const std::uint8_t head[] = {
      0x34, 0x12, 0, 0,  // window
      0, 0, 0, 0,        // mode: photograph
      2, 0, 0, 0,        // format
      0, 0, 0, 0,        // orientation: portrait
      64, 0, 0, 0,       // resolution "PhotoRes"
      0, 0, 0, 0,        // no size limit
      0, 0, 0, 0,        // reserved
      '/', 0, 'p', 0, '/', 0, 0, 0,  // folder
  };
  EXPECT_TRUE(std::equal(std::begin(head), std::end(head), bytes.begin()));
  auto back = DecodeCameraRequest(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->folder, u"/p/");
  EXPECT_FALSE(DecodeCameraRequest(bytes.data(), 547));
}

TEST(CameraRecords, LongFolderIsCutSoTheFieldKeepsItsTerminator) {
  CameraRequest r;
  r.folder = std::u16string(400, u'a');
  const auto bytes = EncodeCameraRequest(r);
  ASSERT_EQ(bytes.size(), 548u);
  EXPECT_EQ(bytes[546], 0);
  EXPECT_EQ(bytes[547], 0);
  EXPECT_EQ(DecodeCameraRequest(bytes.data(), bytes.size())->folder.size(), 259u);
}

TEST(CameraRecords, ReplyWithNonZeroStatusOrNoPathGivesNoFile) {
  auto ok = EncodeCameraReply(0, u"/x/IMG1.jpg");
  EXPECT_EQ(ok.size(), 20u + 2 * 12);
  EXPECT_EQ(DecodeCameraReply(ok.data(), ok.size()), std::u16string(u"/x/IMG1.jpg"));
  auto failed = EncodeCameraReply(1, u"/x/IMG1.jpg");
  EXPECT_FALSE(DecodeCameraReply(failed.data(), failed.size()));
  auto empty = EncodeCameraReply(0, u"");
  EXPECT_FALSE(DecodeCameraReply(empty.data(), empty.size()));
  EXPECT_FALSE(DecodeCameraReply(ok.data(), 19));
  // A path without its terminator ends at the block's end.
  EXPECT_EQ(DecodeCameraReply(ok.data(), ok.size() - 2), std::u16string(u"/x/IMG1.jpg"));
  EXPECT_EQ(DecodeCameraReply(ok.data(), ok.size() - 3), std::u16string(u"/x/IMG1.jp"));
}

}  // namespace
}  // namespace gallery
