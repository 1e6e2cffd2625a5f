// The gallery driven with keys on the headless screen, with the real resource library.
#include <gtest/gtest.h>

#include <deque>

#include "audio/clip_player.h"
#include "config/config.h"
#include "gallery/gallery.h"
#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "gallery_test_support.h"
#include "platform/controls.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "texteditor/canned_texts.h"

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

TEST_F(GalleryScreenTest, ThumbnailsAreMadeOnceAndScrollingHidesCellsPastTheEnd) {
  for (int i = 0; i < 13; ++i) Make(u"p" + platform::Utf8ToUtf16(std::to_string(10 + i)) + u".jpg", 40, 30);
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  Script script;
  std::string first, scrolled, back;
  int madeFirst = 0, madeScrolled = 0, madeBack = 0;
  script.Then([&] { madeFirst = dialog.grid()->thumbnailsMade(); });
  script.Describe(&first);
  script.Keys({"Down", "Down", "Down", "Down"});  // ".." and 13 files: rows of 3, 3, 3, 3, 2
  script.Then([&] { madeScrolled = dialog.grid()->thumbnailsMade(); });
  script.Describe(&scrolled);
  script.Keys({"Up", "Up", "Up", "Up"});
  script.Then([&] { madeBack = dialog.grid()->thumbnailsMade(); });
  script.Describe(&back);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_EQ(madeFirst, 8);  // the page's files; ".." has none
  EXPECT_EQ(madeScrolled, 13);
  EXPECT_EQ(madeBack, 13);
  EXPECT_TRUE(Has(first, "thumbgrid count=14 sel=0 top=0 rows=5 scrollbar")) << first;
  EXPECT_TRUE(Has(scrolled, "thumbgrid count=14 sel=12 top=2")) << scrolled;
  // The bottom row of the last page has two items: its third cell is hidden.
  EXPECT_TRUE(Has(scrolled, "thumb cell=7 item=13")) << scrolled;
  EXPECT_FALSE(Has(scrolled, "thumb cell=8")) << scrolled;
  EXPECT_TRUE(Has(back, "sel=0 top=0")) << back;
}

TEST_F(GalleryScreenTest, InformationShowsThePictureFields) {
  Make(u"holiday.photo.jpg", 120, 90);
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  Script script;
  std::string info;
  script.Key("Right");
  script.Command(ids::kCmdInformation);
  script.Describe(&info);
  script.Key("Enter");
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_TRUE(Has(info, "Picture information")) << info;
  EXPECT_TRUE(Has(info, "text=\"holiday.photo.jpg\"")) << info;
  EXPECT_TRUE(Has(info, "text=\"photo.jpg\"")) << info;  // the type: after the first "."
  EXPECT_TRUE(Has(info, "text=\"120 X 90\"")) << info;
}

TEST_F(GalleryScreenTest, SoundsPlayStopAndCloseWhenTheClipReachesItsEnd) {
  const std::u16string sounds = config.GetSoundPath(true);
  // Two seconds of 8 kHz 16-bit silence.
  const std::uint32_t bytes = 2 * 16000;
  auto le32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  std::string wav = "RIFF" + le32(36 + bytes) + "WAVEfmt " + le32(16);
  wav += std::string("\x01\x00\x01\x00", 4) + le32(8000) + le32(16000) + std::string("\x02\x00\x10\x00", 4);
  wav += "data" + le32(bytes) + std::string(bytes, '\0');
  ASSERT_TRUE(platform::WriteFile(sounds + u"quiet.wav", wav));
  audio::AudioClipLoader loader(u"", nullptr);
  SetAudioLoader(&loader);
  GalleryDialog dialog(&resources, &config, ids::kMaskSounds);
  Script script;
  int playing = -1, stopped = -1, replayed = -1, ended = -1;
  script.Key("Down");
  script.Command(ids::kCmdPlay);
  script.Then([&] { playing = loader.state(); });
  script.Command(ids::kCmdStop);
  script.Then([&] { stopped = loader.state(); });
  script.Command(ids::kCmdPlay);
  script.Then([&] { replayed = loader.state(); });
  script.Then([&] { SendMessage(dialog.Handle(), ids::kMsgClipProgress, 2000, 2000); });
  script.Then([&] { ended = loader.state(); });
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  SetAudioLoader(nullptr);
  EXPECT_EQ(playing, audio::AudioClipLoader::kPlaying);
  EXPECT_EQ(stopped, audio::AudioClipLoader::kClosed);
  EXPECT_EQ(replayed, audio::AudioClipLoader::kPlaying);
  EXPECT_EQ(ended, audio::AudioClipLoader::kClosed);
}

TEST_F(GalleryScreenTest, SwitchingModesChangesTitlesListsAndTheLeftKey) {
  ASSERT_TRUE(platform::WriteFile(pictures + u"a.jpg", std::string(1500, 'x')));
  const std::u16string videos = config.GetVideoPath(true);
  ASSERT_TRUE(platform::WriteFile(videos + u"clip.3gp", std::string(3000, 'x')));
  GalleryDialog dialog(&resources, &config, ids::kMaskPictures);
  Script script;
  std::string details, video, videoGrid;
  script.Command(ids::kCmdDetails);
  script.Describe(&details);
  script.Command(ids::kCmdVideos);
  script.Then([&] { GalleryState::Get().videoView = ids::kViewDetails; });
  script.Command(ids::kCmdDetails);
  script.Key("Down");
  script.Describe(&video);
  script.Command(ids::kCmdGrid);
  script.Describe(&videoGrid);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_TRUE(Has(details, "UIC_LISTMEDIAVIEWCLS")) << details;
  EXPECT_TRUE(Has(details, "row 0 \"..\" image=116 selected")) << details;
  EXPECT_TRUE(Has(details, "row 1 \"a.jpg\" size=\"2KB\" image=117")) << details;
  EXPECT_TRUE(Has(details, "left=\"View\"")) << details;
  EXPECT_TRUE(Has(video, "title=\"Video\"")) << video;
  EXPECT_TRUE(Has(video, "row 1 \"clip.3gp\" size=\"3KB\" image=124 selected")) << video;
  EXPECT_TRUE(Has(video, "left=\"Select\"")) << video;
  EXPECT_TRUE(Has(videoGrid, "thumbgrid count=2 sel=1")) << videoGrid;
  EXPECT_EQ(dialog.mask(), ids::kMaskVideos);
  // Closing returns both views to the grid.
  EXPECT_EQ(GalleryState::Get().pictureView, ids::kViewGrid);
  EXPECT_EQ(GalleryState::Get().videoView, ids::kViewGrid);
}

TEST_F(GalleryScreenTest, DeleteRemovesTheRowOnlyWhenTheFileGoes) {
  const std::u16string sounds = config.GetSoundPath(true);
  for (const char16_t* name : {u"a.amr", u"b.wav", u"c.mid"})
    ASSERT_TRUE(platform::WriteFile(sounds + name, "x"));
  GalleryDialog dialog(&resources, &config, ids::kMaskSounds);
  std::vector<UINT> asked;
  bool removeFirst = false;
  dialog.confirm = [&](HWND, UINT id) {
    asked.push_back(id);
    // Something else removed the file meanwhile: the deletion fails.
    if (removeFirst) platform::DeleteFile(dialog.entries()[static_cast<std::size_t>(dialog.Selected())]->path);
    return true;
  };
  Script script;
  std::string before, afterFirst, afterFailed, afterLast;
  script.Describe(&before);
  script.Key("Down");
  script.Command(ids::kCmdDelete);
  script.Describe(&afterFirst);
  script.Then([&] { removeFirst = true; });
  script.Command(ids::kCmdDelete);
  script.Describe(&afterFailed);
  script.Then([&] { removeFirst = false; });
  script.Keys({"Down"});
  script.Command(ids::kCmdDelete);
  script.Describe(&afterLast);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_FALSE(dialog.Run(script.owner()));
  EXPECT_TRUE(Has(before, "title=\"Sound\"")) << before;
  EXPECT_TRUE(Has(before, "listview count=4")) << before;
  EXPECT_TRUE(Has(afterFirst, "listview count=3 sel=1")) << afterFirst;
  EXPECT_TRUE(Has(afterFailed, "listview count=3 sel=1")) << afterFailed;
  // The last row deleted: the new last row is selected.
  EXPECT_TRUE(Has(afterLast, "listview count=2 sel=1")) << afterLast;
  EXPECT_EQ(asked, (std::vector<UINT>{1065, 1065, 1065}));
  std::vector<platform::DirectoryEntry> left;
  platform::ListDirectory(sounds, left);
  EXPECT_EQ(left.size(), 0u);
}

TEST_F(GalleryScreenTest, CannedTextsRefuseDuplicatesAndMoveAnEditedTextToTheEnd) {
  GalleryDialog dialog(&resources, &config, ids::kMaskTexts);
  std::deque<std::u16string> typed{u"Hi", u"Late", u"Hi", u"Soon", u"Hi"};
  std::vector<bool> kinds;
  // Types the next text and confirms it as the editor does, until the gallery accepts one.
  dialog.editText = [&](HWND owner, std::u16string* text, bool isNew) -> INT_PTR {
    kinds.push_back(isNew);
    while (!typed.empty()) {
      *text = typed.front();
      typed.pop_front();
      if (SendMessage(owner, ids::kMsgEditorConfirm, 0, isNew ? 1 : 0)) return IDOK;
    }
    return IDCANCEL;
  };
  Script script;
  std::string empty, duplicate, edited;
  script.Describe(&empty);
  script.Command(ids::kCmdNewText);  // "Hi"
  script.Command(ids::kCmdNewText);  // "Late"
  script.Command(ids::kCmdNewText);  // "Hi" again: refused, the editor comes back
  script.Describe(&duplicate);
  script.Key("Enter");                // closes the message; the editor goes on with "Soon"
  script.Key("Up");
  script.Key("Up");                   // "Hi"
  script.Command(ids::kCmdEditText);  // unchanged "Hi" moves to the end
  script.Describe(&edited);
  script.Key("Up");
  script.Key("SoftLeft");
  script.Start();
  auto chosen = dialog.Run(script.owner());
  EXPECT_TRUE(Has(empty, "UIC_TEXTLISTMEDIAVIEWCLS")) << empty;
  EXPECT_TRUE(Has(empty, "title=\"Text\"")) << empty;
  EXPECT_TRUE(Has(empty, "empty \"No canned texts yet.\"")) << empty;
  EXPECT_TRUE(Has(empty, "left=\"New\"")) << empty;
  EXPECT_TRUE(Has(duplicate, "This text is already in the list.")) << duplicate;
  EXPECT_TRUE(Has(edited, "row 0 \"Late\"")) << edited;
  EXPECT_TRUE(Has(edited, "row 1 \"Soon\"")) << edited;
  EXPECT_TRUE(Has(edited, "row 2 \"Hi\" image=119 selected")) << edited;
  EXPECT_EQ(dialog.texts(), (std::vector<std::u16string>{u"Late", u"Soon", u"Hi"}));
  EXPECT_EQ(kinds, (std::vector<bool>{true, true, true, false}));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, u"Soon");
  // The file is rewritten from the list when the gallery closes.
  std::vector<std::u16string> stored;
  EXPECT_TRUE(texteditor::LoadCannedTexts(config.GetCannedtextFile(), &stored));
  EXPECT_EQ(stored, dialog.texts());
}

}  // namespace
}  // namespace gallery
