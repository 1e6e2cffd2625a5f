// The composer driven with keys on the headless screen.
#include "composer_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "audio/clip_player.h"
#include "config/config.h"
#include "config/keys.h"
#include "config/registry.h"
#include "recorder/recorder.h"
#include "recorder/recorder_ids.h"
#include <fstream>
#include <iterator>

namespace composer {
namespace {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using presentation::MediaClass;

class ComposerTest : public ComposerTestBase {};

TEST_F(ComposerTest, OpensANewMessageWithOneSlideTheLayoutAndTheVisualFieldFocused) {
  const std::uint32_t id = Draft();
  ComposerFrame* frame = Open(id, ids::kModeNew, 7);
  ASSERT_NE(frame, nullptr);
  std::string screen;
  script.Describe(&screen);
  Run();
  EXPECT_EQ(frame->slideCount(), 1);
  EXPECT_FALSE(frame->changed());
  EXPECT_EQ(frame->focus(), FieldKind::Visual);
  EXPECT_EQ(frame->leftCommand(), ids::kCmdAdd);
  EXPECT_TRUE(Has(screen, "Slide (1/1)")) << screen;
  EXPECT_TRUE(Has(screen, "composeitem visual focused empty text=\"Picture / Video\"")) << screen;
  EXPECT_TRUE(Has(screen, "composeitem text empty text=\"Text\"")) << screen;
  EXPECT_TRUE(Has(screen, "composeitem audio empty text=\"Sound\"")) << screen;
  EXPECT_TRUE(Has(screen, "\"Add\"")) << screen;
  // The layout follows the client area: W x H, regions in percent, truncated.
  RECT client{};
  GetClientRect(frame->Handle(), &client);
  const presentation::MessageDocument* doc = frame->document();
  const long W = client.right, H = client.bottom;
  EXPECT_EQ(doc->rootWidth(), static_cast<std::uint32_t>(W));
  EXPECT_EQ(doc->rootHeight(), static_cast<std::uint32_t>(H));
  ASSERT_EQ(doc->regions().size(), 2u);
  const presentation::Region& picture = doc->regions()[0];
  EXPECT_EQ(picture.left, static_cast<std::uint32_t>(10 * 100 / W));
  EXPECT_EQ(picture.bottom, static_cast<std::uint32_t>((H - 40) * 100 / H));
  const presentation::Region& text = doc->regions()[1];
  EXPECT_EQ(text.role, 1u);
  EXPECT_EQ(text.right, static_cast<std::uint32_t>((W - 23) * 100 / W));
  EXPECT_EQ(text.fit, 2u);
}

TEST_F(ComposerTest, OpenModesShowTheStoredSlideMarkHandOversChangedAndSendAtOnce) {
  const std::u16string jpeg = Picture(u"sun.jpg");
  const std::uint32_t id = Draft({{jpeg, u"Hello there"}, {u"", u"Second"}});
  {
    ComposerFrame* frame = Open(id, ids::kModeForward, 1);
    std::string screen;
    script.Describe(&screen);
    Run();
    EXPECT_EQ(frame->slideCount(), 2);
    EXPECT_FALSE(frame->changed());
    EXPECT_EQ(frame->leftCommand(), ids::kCmdReplace);
    EXPECT_TRUE(Has(screen, "Slide (1/2)")) << screen;
    EXPECT_TRUE(Has(screen, "composeitem visual focused picture \"1.jpg\" thumbnail=64x48")) << screen;
    EXPECT_TRUE(Has(screen, "composeitem text text=\"Hello there\"")) << screen;
    EXPECT_TRUE(Has(screen, "\"Replace\"")) << screen;
    script.Key("Back");  // unchanged: back to the folder view it came from
    Run();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0], (std::pair<int, int>{1, -1}));
  }
  {
    ComposerFrame* frame = Open(id, ids::kModeHandOver, 2);
    Run();
    EXPECT_TRUE(frame->changed());
    EXPECT_EQ(frame->mode(), ids::kModeHandOver);
  }
  DestroyWindow(ComposerFrame::Current()->Handle());
  {
    // Mode 1 goes straight to the send page with the direct-send flag, without saving first.
    pageResult = 0;
    Open(id, ids::kModeSendAtOnce, 1);
    Run();
    ASSERT_EQ(pageCalls.size(), 1u);
    EXPECT_TRUE(pageCalls[0]);
    // Left without sending in mode 1: the composer closes.
    EXPECT_EQ(ComposerFrame::Current(), nullptr);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1], (std::pair<int, int>{1, -1}));
  }
  // A message whose body cannot be read is refused.
  const std::uint32_t broken = Draft();
  ASSERT_TRUE(platform::WriteFile(store.Folder(store::FolderId::Draft)->CheckOut(broken)->BodyPath(), "junk"));
  store.Folder(store::FolderId::Draft)->Release(store.Folder(store::FolderId::Draft)->CheckOut(broken));
  EXPECT_FALSE(OpenComposer(owner.owner(), host, broken, ids::kModeEdit, 7));
}

TEST_F(ComposerTest, AThumbnailIsMadeOncePerPictureAndAgainWhenItsFileChanges) {
  const std::uint32_t id = Draft({{Picture(u"a.jpg", 64, 48), u""}, {Picture(u"b.png", 40, 30), u""}});
  ComposerFrame* frame = Open(id);
  ASSERT_NE(frame, nullptr);
  int madeAfterVisits = 0;
  std::string changedScreen;
  script.Keys("Right", 1);
  script.Keys("Left", 1);
  script.Keys("Right", 1);
  script.Keys("Left", 1);
  script.Then([&] {
    madeAfterVisits = frame->field(FieldKind::Visual).thumbnailsMade();
    // The second slide's part is written over with another picture under the same name.
    const presentation::Slide* slide = frame->document()->slide(1);
    const std::u16string part = platform::JoinPath(frame->document()->partsDirectory(), slide->image->item->fileName);
    auto dib = imaging::PackedDib::Create(20, 16, 24);
    ASSERT_EQ(imaging::SaveImage(*dib, part, imaging::kTypeByExtension), 1);
  });
  script.Key("Right");
  script.Describe(&changedScreen);
  Run();
  EXPECT_EQ(madeAfterVisits, 2);
  EXPECT_EQ(frame->field(FieldKind::Visual).thumbnailsMade(), 3);
  EXPECT_TRUE(Has(changedScreen, "thumbnail=20x16")) << changedScreen;
}

TEST_F(ComposerTest, FocusCyclesBothWaysAndDigitsOpenOnlyTheTextField) {
  ComposerFrame* frame = Open(Draft(), ids::kModeNew);
  std::vector<FieldKind> seen;
  auto note = [&] { seen.push_back(frame->focus()); };
  script.Key("Up");  // visual -> audio
  script.Then(note);
  script.Key("Down");  // audio -> visual
  script.Then(note);
  script.Key("Down");
  script.Then(note);
  script.Key("Down");
  script.Then(note);
  script.Key("5");  // audio field: nothing
  script.Key("Down");
  script.Then(note);
  script.Key("5");  // visual field: nothing
  script.Key("Up");
  script.Key("Up");
  script.Then(note);
  script.Key("5");  // text field: the editor opens
  std::string editor;
  script.Describe(&editor);
  script.Key("SoftLeft");
  Run();
  EXPECT_EQ(seen, (std::vector<FieldKind>{FieldKind::Audio, FieldKind::Visual, FieldKind::Text, FieldKind::Audio,
                                          FieldKind::Visual, FieldKind::Text}));
  EXPECT_TRUE(masks.empty());  // the picker never ran
  EXPECT_TRUE(Has(editor, "edit sel=")) << editor;
  EXPECT_TRUE(frame->changed());  // a confirmed editor counts as a change
}

TEST_F(ComposerTest, AFrameReplacedWhileItsPickerRunsLivesUntilThePickerReturns) {
  const std::u16string jpeg = Picture(u"r.jpg");
  const std::uint32_t second = Draft();
  bool replaced = false;
  host.picker = [&](HWND, std::uint32_t*) -> std::optional<std::u16string> {
    // Another view takes over while the picker is up: the frame's window goes and a new
    // composer opens in its place.
    if (ComposerFrame* first = ComposerFrame::Current(); first && first->Handle()) DestroyWindow(first->Handle());
    replaced = OpenComposer(owner.owner(), host, second, ids::kModeNew, 7);
    return jpeg;
  };
  ASSERT_NE(Open(Draft(), ids::kModeNew), nullptr);
  script.Key("SoftLeft");
  Run();
  ASSERT_TRUE(replaced);
  ComposerFrame* now = ComposerFrame::Current();
  ASSERT_NE(now, nullptr);
  EXPECT_FALSE(now->document()->slide(0)->image.has_value());  // the pick went nowhere
  EXPECT_FALSE(now->changed());
}

TEST_F(ComposerTest, NineSlidesAtMostAndTheMenuFollowsTheRules) {
  ComposerFrame* frame = Open(Draft(), ids::kModeNew);
  for (int i = 0; i < 8; ++i) script.Command(ids::kCmdAddSlide);
  std::string limit;
  script.Command(ids::kCmdAddSlide);
  script.Describe(&limit);
  script.Key("Enter");
  Run();
  EXPECT_EQ(frame->slideCount(), 9);
  EXPECT_EQ(frame->currentSlide(), 8);
  EXPECT_TRUE(Has(limit, "A message can have at most 9 slides.")) << limit;

  // Menu rebuild: on the last of 9 slides with the empty visual field focused.
  HMENU menu = reinterpret_cast<HMENU>(
      ::SendMessage(SHFindMenuBar(frame->Handle()), SHCMBM_GETSUBMENU, 0, ids::kCmdMenu));
  ASSERT_NE(menu, nullptr);
  ::SendMessage(frame->Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  WCHAR text[64] = {};
  ASSERT_GT(GetMenuString(menu, ids::kCmdAdd, text, 64, MF_BYCOMMAND), 0);
  EXPECT_EQ(std::u16string(text), u"Add Picture");
  EXPECT_EQ(GetMenuState(menu, ids::kCmdReplace, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_EQ(GetMenuState(menu, ids::kCmdDeleteItem, MF_BYCOMMAND), static_cast<UINT>(-1));
  auto grey = [&](UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MFS_GRAYED) != 0; };
  EXPECT_TRUE(grey(ids::kCmdAddSlide));
  EXPECT_TRUE(grey(ids::kCmdNextSlide));
  EXPECT_FALSE(grey(ids::kCmdPreviousSlide));
  EXPECT_FALSE(grey(ids::kCmdDeleteSlide));
  EXPECT_FALSE(grey(ids::kCmdSave));
  EXPECT_TRUE(grey(ids::kCmdRecord));

  // Deleting the last slide moves back by one; Left and Right move within the slides.
  script.Command(ids::kCmdDeleteSlide);
  script.Key("Right");
  script.Key("Left");
  script.Key("Left");
  Run();
  EXPECT_EQ(frame->slideCount(), 8);
  EXPECT_EQ(frame->currentSlide(), 5);  // 7, Right stays on the last, then two back
}

TEST_F(ComposerTest, AVideoMakesAOneSlideMessageWithoutSoundOrIsRefused) {
  const std::u16string jpeg = Picture(u"a.jpg");
  const std::u16string clip = File(u"clip.mp4", "not really a clip");
  const std::u16string wav = File(u"tone.wav", WavBytes(1600));
  const std::uint32_t id = Draft({{jpeg, u"one"}, {jpeg, u"two"}, {jpeg, u"three"}});
  ComposerFrame* frame = Open(id);
  // Answered No: nothing changes and the mask is offered afresh.
  picks = {clip, clip};
  script.Key("Right");
  script.Key("Enter");
  std::string question;
  script.Describe(&question);
  script.Key("SoftRight");  // No
  Run();
  EXPECT_TRUE(Has(question, "A message with a video can have only one slide. Continue?")) << question;
  EXPECT_EQ(frame->slideCount(), 3);
  EXPECT_FALSE(frame->changed());

  // Yes: the current slide alone remains, with the video and its text, without sound.
  picks = {wav, clip};
  script.Key("Up");
  script.Key("Enter");  // the sound goes onto slide 2 first
  script.Key("Down");
  script.Key("Enter");
  script.Key("SoftLeft");  // Yes
  std::string screen;
  script.Describe(&screen);
  Run();
  ASSERT_EQ(frame->slideCount(), 1);
  const presentation::Slide* slide = frame->document()->slide(0);
  ASSERT_NE(slide, nullptr);
  EXPECT_TRUE(slide->video.has_value());
  EXPECT_FALSE(slide->image.has_value());
  EXPECT_FALSE(slide->audio.has_value());
  EXPECT_TRUE(Has(screen, "composeitem text text=\"two\"")) << screen;
  EXPECT_TRUE(Has(screen, "composeitem visual focused video \"")) << screen;
  EXPECT_TRUE(Has(screen, "placeholder=161")) << screen;  // no frame source: the placeholder
  EXPECT_TRUE(Has(screen, "Slide (1/1)")) << screen;

  // A sound onto a video slide asks first; No keeps the video.
  picks = {wav};
  script.Key("Up");
  script.Key("Enter");
  script.Key("SoftRight");
  Run();
  EXPECT_TRUE(frame->document()->slide(0)->video.has_value());
  EXPECT_EQ(picks.size(), 1u);
  // Yes: the sound replaces the video; with one slide and a sound, a video asks 1018.
  script.Key("Enter");
  script.Key("SoftLeft");
  script.Key("Down");
  script.Then([this, clip] { picks = {clip}; });
  script.Key("Enter");
  std::string dropSound;
  script.Describe(&dropSound);
  script.Key("SoftLeft");
  Run();
  EXPECT_TRUE(Has(dropSound, "Delete this item?")) << dropSound;
  slide = frame->document()->slide(0);
  EXPECT_TRUE(slide->video.has_value());
  EXPECT_FALSE(slide->audio.has_value());
}

TEST_F(ComposerTest, TextIsCommittedThroughTheTemporaryFileOnlyWhenItChanged) {
  const std::uint32_t id = Draft({{u"", u"Same"}, {u"", u""}});
  ComposerFrame* frame = Open(id);
  // Moving with the stored text unchanged changes nothing.
  script.Key("Right");
  script.Key("Left");
  Run();
  EXPECT_FALSE(frame->changed());
  // An edited text goes to the slide on the next move, as FF FE and the characters.
  cannedText = u" more";
  script.Key("Down");
  script.Key("Enter");
  script.Command(40055);  // insert the canned text at the caret
  script.Key("SoftLeft");
  script.Key("Right");
  Run();
  EXPECT_TRUE(frame->changed());
  std::string bytes;
  ASSERT_TRUE(platform::ReadFile(platform::DevicePath(ids::kTempTextPath), bytes));
  EXPECT_EQ(bytes, std::string("\xFF\xFE" "S\0a\0m\0e\0 \0m\0o\0r\0e\0", 20));
  const presentation::Slide* first = frame->document()->slide(0);
  ASSERT_TRUE(first->text && first->text->item);
  std::string stored;
  ASSERT_TRUE(platform::ReadFile(platform::JoinPath(frame->document()->partsDirectory(), first->text->item->fileName),
                                 stored));
  EXPECT_EQ(stored, bytes);

  // Deleting the text item empties the field and the slide.
  script.Key("Left");
  script.Command(ids::kCmdDeleteItem);
  script.Key("Right");
  script.Key("Left");
  std::string screen;
  script.Describe(&screen);
  Run();
  EXPECT_FALSE(frame->document()->slide(0)->text.has_value());
  EXPECT_TRUE(Has(screen, "composeitem text focused empty")) << screen;
}

TEST_F(ComposerTest, ATextNotCommittedYetSurvivesInsertingMediaOnItsSlide) {
  const std::u16string jpeg = Picture(u"k.jpg");
  const std::u16string wav = File(u"k.wav", WavBytes(800));
  ComposerFrame* frame = Open(Draft(), ids::kModeNew);
  cannedText = u"Kept";
  picks = {wav, jpeg};
  script.Key("Down");
  script.Key("Enter");
  script.Command(40055);
  script.Key("SoftLeft");
  script.Key("Down");
  script.Key("Enter");  // a sound
  script.Key("Down");
  script.Key("Enter");  // a picture
  script.Command(ids::kCmdSave);
  Run();
  EXPECT_EQ(frame->field(FieldKind::Text).text(), u"Kept");
  const presentation::Slide* slide = frame->document()->slide(0);
  ASSERT_TRUE(slide->text && slide->text->item);
  EXPECT_TRUE(slide->image.has_value());
  EXPECT_TRUE(slide->audio.has_value());
}

TEST_F(ComposerTest, SaveAndCloseReturnToTheRightViews) {
  const std::u16string jpeg = Picture(u"b.jpg");
  // Close with changes, Yes: saved, then the Drafts folder view.
  std::uint32_t id = Draft();
  ComposerFrame* frame = Open(id, 7, 7);
  picks = {jpeg};
  script.Key("Enter");
  std::string ask;
  script.Key("Back");
  script.Describe(&ask);
  script.Key("SoftLeft");
  Run();
  EXPECT_TRUE(Has(ask, "Save the changes to this message?")) << ask;
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0], (std::pair<int, int>{1, static_cast<int>(store::FolderId::Draft)}));
  store::MessageSummary summary(nullptr);
  ASSERT_TRUE(store.Folder(store::FolderId::Draft)->CopySummary(id, summary));
  EXPECT_NE(summary.ExtraFlags() & ids::kExtraComposed, 0u);
  EXPECT_GT(summary.Size(), 0u);
  EXPECT_GT(summary.Date(), 0u);
  EXPECT_EQ(ComposerFrame::Current(), nullptr);  // gone with its window

  // The saved message opens again with its picture; a save turns mode 7 into 4.
  frame = Open(id, 7, 2);
  picks = {jpeg};
  script.Key("Enter");
  script.Command(ids::kCmdSave);
  Run();
  EXPECT_FALSE(frame->changed());
  EXPECT_EQ(frame->mode(), ids::kModeEdit);
  // Close with changes, No: nothing saved, and from view 2 the folder view follows.
  script.Command(ids::kCmdAddSlide);
  script.Command(ids::kCmdClose);
  script.Key("SoftRight");
  Run();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[1], (std::pair<int, int>{1, -1}));
  frame = Open(id, ids::kModeEdit, 7);
  Run();
  EXPECT_EQ(frame->slideCount(), 1);
  script.Command(IDCANCEL);
  Run();
  EXPECT_EQ(left.back(), (std::pair<int, int>{7, -1}));
}

TEST_F(ComposerTest, SendingMovesTheMessageToTheOutboxAndStayingRedrawsTheSlide) {
  const std::u16string jpeg = Picture(u"c.jpg");
  const std::uint32_t id = Draft({{jpeg, u"hi"}});
  ComposerFrame* frame = Open(id, ids::kModeEdit, 1);
  pageResult = 0;
  script.Command(ids::kCmdSend);
  Run();
  ASSERT_EQ(pageCalls.size(), 1u);
  EXPECT_FALSE(pageCalls[0]);
  EXPECT_EQ(ComposerFrame::Current(), frame);  // stays
  EXPECT_TRUE(frame->field(FieldKind::Visual).hasThumbnail());

  pageResult = 1;
  script.Command(ids::kCmdSend);
  Run();
  EXPECT_EQ(sentIds, (std::vector<std::uint32_t>{id}));
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(left.back(), (std::pair<int, int>{1, static_cast<int>(store::FolderId::Outbox)}));
  store::MessageSummary summary(nullptr);
  EXPECT_TRUE(store.Folder(store::FolderId::Outbox)->CopySummary(id, summary));
}

TEST_F(ComposerTest, ARecordedSoundBecomesTheSlidesAudio) {
  const std::uint32_t id = Draft();
  ComposerFrame* frame = Open(id, ids::kModeNew);
  const std::string wav = WavBytes(3200);
  recording = File(u"Rec_1.wav", wav);
  script.Key("Up");
  script.Command(ids::kCmdRecord);
  std::string screen;
  script.Describe(&screen);
  Run();
  const presentation::Slide* slide = frame->document()->slide(0);
  ASSERT_TRUE(slide->audio && slide->audio->item);
  std::string stored;
  ASSERT_TRUE(platform::ReadFile(platform::JoinPath(frame->document()->partsDirectory(), slide->audio->item->fileName),
                                 stored));
  EXPECT_EQ(stored, wav);
  EXPECT_TRUE(Has(screen, "composeitem audio focused sound icon=118 text=\"")) << screen;
  EXPECT_TRUE(frame->changed());
  EXPECT_FALSE(recordFolder.empty());
}

TEST_F(ComposerTest, TheRecorderRecordsAKnownWavThroughTheFileBackendIntoTheSlide) {
  const std::string mic = WavBytes(48000);  // 3 s of samples
  setenv("TESSERA_AUDIO", "file", 1);
  setenv("TESSERA_AUDIO_IN", platform::Utf16ToUtf8(File(u"mic.wav", mic)).c_str(), 1);
  host.recorder = nullptr;  // the real recorder dialog
  ComposerFrame* frame = Open(Draft(), ids::kModeNew);
  script.Key("Up");
  script.Command(ids::kCmdRecord);
  script.Key("SoftLeft");  // record until the 1000 ms limit stops it
  script.WaitUntil([] { return Has(platform::testdriver::DescribeScreen(), "recorder state=2"); });
  script.Key("SoftLeft");
  script.Key("SoftLeft");
  Run();
  const presentation::Slide* slide = frame->document()->slide(0);
  ASSERT_TRUE(slide->audio && slide->audio->item);
  std::string stored;
  ASSERT_TRUE(platform::ReadFile(platform::JoinPath(frame->document()->partsDirectory(), slide->audio->item->fileName),
                                 stored));
  ASSERT_GT(stored.size(), 46u + 3200u);
  EXPECT_EQ(stored.substr(0, 4), "RIFF");
  EXPECT_EQ(stored.substr(46, 3200), mic.substr(44, 3200));  // the microphone's first samples
  // The working file went into the message's parts and is not left beside them.
  std::vector<platform::DirectoryEntry> files;
  platform::ListDirectory(frame->entry()->StoreDirectory(), files);
  for (const auto& e : files) EXPECT_EQ(e.name.find(u"Rec_"), std::u16string::npos);
}

TEST_F(ComposerTest, ARecordingIsPlayedBackForReviewAndAttachedAsAmr) {
  // The real encoder ("amr.enc") and decoders of the build, found where the program looks.
  const std::u16string programs = platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/");
  ASSERT_TRUE(config::reg::SetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"AudioDecPath", programs, false));
  config::Config config;
  ui::Context().config = &config;
  audio::AudioClipLoader player(config.GetAudioDecPath(false),
                                [](void* window, UINT message, WPARAM wParam, LPARAM lParam) -> BOOL {
                                  return PostMessage(static_cast<HWND>(window), message, wParam, lParam);
                                });
  recorder::SetAudioLoader(&player);
  const std::string mic = WavBytes(48000);  // 3 s at 8 kHz; the recording stops at the 1 s limit
  setenv("TESSERA_AUDIO", "file", 1);
  setenv("TESSERA_AUDIO_IN", platform::Utf16ToUtf8(File(u"mic.wav", mic)).c_str(), 1);
  host.recorder = nullptr;  // the real recorder dialog
  ComposerFrame* frame = Open(Draft(), ids::kModeNew);
  std::string recorded, playing, reviewed;
  script.Key("Up");
  script.Command(ids::kCmdRecord);
  script.Key("SoftLeft");  // record
  script.WaitUntil([] { return Has(platform::testdriver::DescribeScreen(), "recorder state=2"); });
  script.Describe(&recorded);
  script.Key("SoftLeft");  // play it back
  script.Describe(&playing);
  // The playback's progress reaches the clip's end and the key becomes Done.
  const std::string done = "left=\"" + platform::Utf16ToUtf8(ui::LoadUiText(recorder::ids::kStrDone)) + "\"";
  script.WaitUntil([done] { return Has(platform::testdriver::DescribeScreen(), done); });
  script.Describe(&reviewed);
  script.Key("SoftLeft");  // done
  Run();
  recorder::SetAudioLoader(nullptr);
  ui::Context().config = nullptr;
  EXPECT_TRUE(Has(recorded, "left=\"Play\"")) << recorded;
  EXPECT_TRUE(Has(playing, "left=\"Stop\"")) << playing;
  EXPECT_TRUE(Has(reviewed, "recorder state=3")) << reviewed;
  EXPECT_TRUE(Has(reviewed, done)) << reviewed;
  EXPECT_FALSE(Has(reviewed, "progress=0/")) << reviewed;  // the playback's progress was shown
  const presentation::Slide* slide = frame->document()->slide(0);
  ASSERT_TRUE(slide->audio && slide->audio->item);
  const std::u16string part = platform::JoinPath(frame->document()->partsDirectory(), slide->audio->item->fileName);
  EXPECT_EQ(platform::ExtensionPart(part), u".amr");
  std::string amr;
  ASSERT_TRUE(platform::ReadFile(part, amr));
  EXPECT_EQ(amr.substr(0, 6), "#!AMR\n");
  // Decoded by the real AMR decoder: about the second recorded (20 ms frames).
  const int ms = player.ClipDuration(part);
  EXPECT_GE(ms, 900);
  EXPECT_LE(ms, 1100);
  // What was played for the review went to the file backend's output: the same second.
  std::vector<platform::DirectoryEntry> played;
  ASSERT_TRUE(platform::ListDirectory(platform::JoinPath(platform::DeviceRoot(), u"audio-out"), played));
  std::int64_t playedBytes = 0;
  for (const auto& e : played)
    playedBytes = std::max(playedBytes, platform::FileSize(platform::JoinPath(platform::JoinPath(platform::DeviceRoot(), u"audio-out"), e.name)));
  EXPECT_GE(playedBytes, 44 + 14400);  // 8 kHz 16-bit mono: 16000 bytes a second
  EXPECT_LE(playedBytes, 44 + 17600);
}

TEST_F(ComposerTest, AFailedSaveSaysWhyAndKeepsWhatWasSavedBefore) {
  const std::uint32_t id = Draft({{Picture(u"f.jpg"), u"Before"}});
  std::string body;
  {
    store::MessageFolder* drafts = store.Folder(store::FolderId::Draft);
    store::MessageEntry* entry = drafts->CheckOut(id);
    ASSERT_NE(entry, nullptr);
    body = platform::Utf16ToUtf8(entry->BodyPath());
    drafts->Release(entry);
  }
  const std::string savedBefore = ReadBytes(body);
  ASSERT_FALSE(savedBefore.empty());
  const std::string temporary = body + ".part";
  ComposerFrame* frame = Open(id);
  script.Command(ids::kCmdAddSlide);
  // Every write of the new body fails as on a full disk, then for another reason.
  script.Then([&] { ASSERT_EQ(::symlink("/dev/full", temporary.c_str()), 0); });
  std::string full, other;
  script.Command(ids::kCmdSave);
  script.Describe(&full);
  script.Key("SoftLeft");
  script.Then([&] {
    ::unlink(temporary.c_str());
    ASSERT_EQ(::mkdir(temporary.c_str(), 0700), 0);
  });
  script.Command(ids::kCmdSave);
  script.Describe(&other);
  script.Key("SoftLeft");
  Run();
  EXPECT_TRUE(Has(full, "There is not enough storage space.")) << full;
  EXPECT_TRUE(Has(other, "This could not be done.")) << other;
  EXPECT_TRUE(frame->changed());
  EXPECT_EQ(ReadBytes(body), savedBefore);

  // With room again the same message saves.
  script.Then([&] { ::rmdir(temporary.c_str()); });
  script.Command(ids::kCmdSave);
  Run();
  EXPECT_FALSE(frame->changed());
  EXPECT_NE(ReadBytes(body), savedBefore);
}

}  // namespace
}  // namespace composer
