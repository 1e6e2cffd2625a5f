// The presentation player with the real media window, the clip player and the window
// system's virtual clock: what the screen shows when, and what the host is told.
#include "presentation/presentation_player.h"

#include <gtest/gtest.h>

#include <map>

#include "audio/clip_player.h"
#include "platform_testing/device_root.h"
#include "viewer/media_window.h"
#include "viewer/video_playback.h"
#include "viewer_test_support.h"

namespace {

using namespace viewer_test;
using presentation::MediaItem;
using presentation::MediaReference;
using presentation::MessageDocument;
using presentation::PresentationPlayer;
using presentation::Slide;
namespace td = platform::testdriver;

class PresentationPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { td::Enable(); }

  MediaItem* Add(presentation::MediaKind kind, const std::string& name) {
    auto item = std::make_unique<MediaItem>();
    item->kind = kind;
    item->fileName = platform::Utf8ToUtf16(name);
    return doc_.AppendMedia(std::move(item));
  }
  static MediaReference Ref(MediaItem* item, std::uint32_t region, std::uint32_t begin = 0,
                            std::uint32_t end = 0) {
    item->references++;
    return MediaReference{region, begin, end, item};
  }
  Slide& NewSlide(std::uint32_t ms) {
    doc_.slides().push_back(std::make_unique<Slide>());
    doc_.slides().back()->duration = ms;
    return *doc_.slides().back();
  }
  bool Start() {
    doc_.SetPartsDirectory(dir_.Wide());
    if (doc_.regions().empty()) doc_.SetDefaultLayout();
    return player_.Create(host_.hwnd, RECT{0, 0, 176, 150}, &doc_, &audio_, &viewer::VideoPlayback::Get(),
                          viewer::MediaWindowFactory(&viewer::VideoPlayback::Get())) == 1;
  }
  // The clock times at which a line containing `what` starts to appear and stops appearing
  // in the screen description, sampled every 10 ms up to `until`.
  struct Span {
    DWORD from = 0, to = 0;
  };
  std::map<std::string, Span> Watch(const std::vector<std::string>& whats, DWORD until) {
    std::map<std::string, Span> spans;
    std::map<std::string, bool> seen;
    const DWORD t0 = platform::WindowClockMs();
    for (DWORD t = 0; t <= until; t += 10) {
      const std::string d = td::DescribeScreen();
      for (const auto& w : whats) {
        const bool now = d.find(w) != std::string::npos;
        if (now && !seen[w]) spans[w].from = platform::WindowClockMs() - t0;
        if (!now && seen[w]) spans[w].to = platform::WindowClockMs() - t0;
        seen[w] = now;
      }
      td::RunFor(10);
    }
    return spans;
  }

  platform_testing::ScopedDeviceRoot root_;
  TempFolder dir_;
  Host host_;
  MessageDocument doc_;
  audio::AudioClipLoader audio_{u"", nullptr};
  PresentationPlayer player_;
};

// Slide 1 (3 s): a text for the whole slide, a picture from 0.5 s to 2.5 s. Slide 2 (2 s): a
// text from 1 s on. Slide 3 (2 s): an animation and a 1 s sound. Each item appears and
// goes at its times, within the 30 ms tick and the description's 10 ms sampling.
TEST_F(PresentationPlayerTest, ThreeSlidesStartAndEndEachItemAtItsTimes) {
  WriteTextPart(dir_.File("1.txt"), "alpha text");
  WriteTextPart(dir_.File("2.txt"), "beta text");
  ASSERT_TRUE(WriteAnimation(dir_.File("still.gif"), {0}, false));
  ASSERT_TRUE(WriteAnimation(dir_.File("anim.gif"), {10, 20, 30}, true));
  WriteWav(dir_.File("tone.wav"), 1000);
  Slide& s1 = NewSlide(3000);
  s1.text = Ref(Add(presentation::kKindText, "1.txt"), 1);
  s1.image = Ref(Add(presentation::kKindGif, "still.gif"), 0, 500, 2500);
  Slide& s2 = NewSlide(2000);
  s2.text = Ref(Add(presentation::kKindText, "2.txt"), 1, 1000, 2000);
  Slide& s3 = NewSlide(2000);
  s3.image = Ref(Add(presentation::kKindGif, "anim.gif"), 0);
  s3.audio = Ref(Add(presentation::kKindWav, "tone.wav"), presentation::kNoRegion, 0, 1000);
  ASSERT_TRUE(Start());
  td::RunUntilIdle();
  host_.log.clear();
  player_.Play();

  auto spans = Watch({"text=\"alpha text\"", "media picture \"still.gif\"", "text=\"beta text\"",
                      "media animation \"anim.gif\""},
                     7300);
  auto near = [](DWORD got, DWORD want) { return got >= want && got <= want + 70; };
  const auto& alpha = spans["text=\"alpha text\""];
  EXPECT_TRUE(near(alpha.to, 3000)) << alpha.from << ".." << alpha.to;
  const auto& still = spans["media picture \"still.gif\""];
  EXPECT_TRUE(near(still.from, 500)) << still.from;
  EXPECT_TRUE(near(still.to, 2500)) << still.to;
  const auto& beta = spans["text=\"beta text\""];
  EXPECT_TRUE(near(beta.from, 4000)) << beta.from;
  EXPECT_TRUE(near(beta.to, 5000)) << beta.to;
  const auto& anim = spans["media animation \"anim.gif\""];
  EXPECT_TRUE(near(anim.from, 5000)) << anim.from;
  EXPECT_TRUE(near(anim.to, 7000)) << anim.to;

  // The host saw the three slides, progress up to the total, then a stop at position 0.
  std::vector<WPARAM> shown;
  for (const auto& p : host_.Of(presentation::kMsgSlideShown)) shown.push_back(p.wParam);
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(std::vector<WPARAM>(shown.begin(), shown.begin() + 3), (std::vector<WPARAM>{0, 1, 2}));
  const auto progress = host_.Of(presentation::kMsgPlayerProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().wParam, 7000u);
  EXPECT_EQ(progress.back().lParam, 7000);
  const auto stops = host_.Of(presentation::kMsgPlayerStopped);
  ASSERT_FALSE(stops.empty());
  EXPECT_EQ(stops.front().wParam, 0u);
  EXPECT_EQ(player_.state(), PresentationPlayer::State::Stopped);
  EXPECT_EQ(player_.currentSlide(), 0);
}

// Next while stopped shows slide 2 without starting anything; the following play starts
// the timeline at that slide's position, and pause holds the position.
TEST_F(PresentationPlayerTest, NavigationWhileStoppedThenPlayAndPause) {
  WriteTextPart(dir_.File("a.txt"), "one");
  WriteTextPart(dir_.File("b.txt"), "two");
  NewSlide(3000).text = Ref(Add(presentation::kKindText, "a.txt"), 1);
  NewSlide(3000).text = Ref(Add(presentation::kKindText, "b.txt"), 1);
  ASSERT_TRUE(Start());
  td::RunUntilIdle();
  host_.log.clear();
  player_.GoToSlide(1);
  td::RunFor(500);
  EXPECT_NE(td::DescribeScreen().find("text=\"two\""), std::string::npos);
  EXPECT_TRUE(host_.Of(presentation::kMsgPlayerProgress).empty());  // no timer runs
  ASSERT_EQ(host_.Of(presentation::kMsgPlayerStopped).size(), 1u);
  EXPECT_EQ(host_.Of(presentation::kMsgPlayerStopped)[0].wParam, 3000u);
  EXPECT_EQ(player_.position(), 3000u);

  player_.Play();
  td::RunFor(300);
  const auto progress = host_.Of(presentation::kMsgPlayerProgress);
  ASSERT_FALSE(progress.empty());
  EXPECT_GE(progress.front().wParam, 3000u);
  EXPECT_LE(progress.back().wParam, 3300u);

  player_.Pause();
  td::RunUntilIdle();
  const auto paused = host_.Of(presentation::kMsgPlayerPaused);
  ASSERT_EQ(paused.size(), 1u);
  const std::size_t before = host_.Of(presentation::kMsgPlayerProgress).size();
  td::RunFor(1000);
  EXPECT_EQ(host_.Of(presentation::kMsgPlayerProgress).size(), before);
  player_.Play();
  td::RunFor(3000);
  // Resumed from where it paused: the end comes about 3 s after the resume, not before.
  EXPECT_EQ(player_.state(), PresentationPlayer::State::Stopped);
  EXPECT_EQ(host_.Of(presentation::kMsgPlayerProgress).back().wParam, 6000u);
}

// Previous at the first slide and next at the last do nothing; a slide without a text uses
// the whole player for its picture, a text placed above the picture gets the top lines.
TEST_F(PresentationPlayerTest, EndsOfTheSlideListAndLayout) {
  ASSERT_TRUE(WriteAnimation(dir_.File("p.gif"), {0}, false));
  WriteTextPart(dir_.File("t.txt"), "top");
  NewSlide(2000).image = Ref(Add(presentation::kKindGif, "p.gif"), 0);
  Slide& s2 = NewSlide(2000);
  s2.text = Ref(Add(presentation::kKindText, "t.txt"), 1);
  s2.image = Ref(doc_.media()[0].get(), 0);
  doc_.SetDefaultLayout();
  std::swap(doc_.regions()[0].top, doc_.regions()[1].top);  // text region first
  ASSERT_TRUE(Start());
  player_.GoToSlide(0);
  td::RunUntilIdle();
  auto* w = player_.window();
  EXPECT_EQ(w->layoutMode(), presentation::LayoutMode::PictureOnly);
  RECT rc{};
  GetWindowRect(w->mediaView()->Window(), &rc);
  EXPECT_EQ(rc.right - rc.left, 176);
  EXPECT_EQ(rc.bottom - rc.top, 150);

  player_.GoToSlide(-1);
  EXPECT_EQ(player_.currentSlide(), 0);
  player_.GoToSlide(1);
  player_.GoToSlide(2);
  EXPECT_EQ(player_.currentSlide(), 1);
  EXPECT_EQ(player_.position(), 2000u);
  EXPECT_EQ(w->layoutMode(), presentation::LayoutMode::TextAndPicture);
  const int l = w->lineHeight();
  EXPECT_EQ(w->areas().text.top, 0);
  EXPECT_EQ(w->areas().text.bottom, 2 * l);
  EXPECT_EQ(w->areas().picture.top, 2 * l + 1);
  player_.GoToSlide(0);
  EXPECT_EQ(player_.position(), 0u);
}

// A sound longer than its slide ends with the slide, even when the next slide has none.
TEST_F(PresentationPlayerTest, TheNextSlideEndsWhatThePreviousOneStarted) {
  WriteWav(dir_.File("long.wav"), 3000);
  WriteTextPart(dir_.File("t.txt"), "after");
  ASSERT_TRUE(WriteAnimation(dir_.File("a.gif"), {10, 10}, true));
  Slide& s1 = NewSlide(1000);
  s1.audio = Ref(Add(presentation::kKindWav, "long.wav"), presentation::kNoRegion);
  s1.image = Ref(Add(presentation::kKindGif, "a.gif"), 0);
  NewSlide(2000).text = Ref(Add(presentation::kKindText, "t.txt"), 1);
  ASSERT_TRUE(Start());
  player_.Play();
  td::RunFor(500);
  EXPECT_EQ(audio_.state(), audio::AudioClipLoader::kPlaying);
  EXPECT_NE(td::DescribeScreen().find("media animation"), std::string::npos);
  td::RunFor(1000);
  EXPECT_EQ(player_.currentSlide(), 1);
  EXPECT_EQ(audio_.state(), audio::AudioClipLoader::kClosed);
  EXPECT_EQ(td::DescribeScreen().find("media animation"), std::string::npos);
  EXPECT_NE(td::DescribeScreen().find("text=\"after\""), std::string::npos);
}

TEST(PresentationLayout, AreasAndModes) {
  const auto below = presentation::ComputeAreas(176, 150, 14, false);
  EXPECT_EQ(below.text.top, 150 - 28);
  EXPECT_EQ(below.text.left, 3);
  EXPECT_EQ(below.picture.bottom, 150 - 28 - 1);
  Slide s;
  MediaItem video{presentation::kKindMp4};
  MediaItem text{presentation::kKindText};
  s.video = MediaReference{0, 0, 0, &video};
  EXPECT_EQ(presentation::ChooseLayoutMode(s, true), presentation::LayoutMode::VideoOnly);
  EXPECT_EQ(presentation::ChooseLayoutMode(s, false), presentation::LayoutMode::PictureOnly);
  s.text = MediaReference{1, 0, 0, &text};
  EXPECT_EQ(presentation::ChooseLayoutMode(s, true), presentation::LayoutMode::TextAndVideo);
  EXPECT_EQ(presentation::ChooseLayoutMode(s, false), presentation::LayoutMode::TextAndPicture);
  s.video.reset();
  EXPECT_EQ(presentation::ChooseLayoutMode(s, true), presentation::LayoutMode::TextOnly);
  s.text->item = nullptr;  // a reference to a part that is absent shows nothing
  EXPECT_EQ(presentation::ChooseLayoutMode(s, true), presentation::LayoutMode::PictureOnly);
}

}  // namespace
