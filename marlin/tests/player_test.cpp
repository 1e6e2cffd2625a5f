// The player over clips made by ffmpeg, with the headless display and the file audio backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gannet/gannet.h"
#include "marlin/marlin.h"
#include "platform_testing/device_root.h"

namespace {

namespace fs = std::filesystem;

// Clips made once per process in a folder removed at exit.
struct ClipDir {
  fs::path path = fs::temp_directory_path() / ("marlin-tests-" + std::to_string(getpid()));
  ~ClipDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string MakeClip(const std::string& name, const std::string& args) {
  static const ClipDir clips;
  const fs::path& dir = clips.path;
  fs::create_directories(dir);
  const fs::path out = dir / name;
  if (fs::exists(out)) return out.string();
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y " + args + " '" + out.string() + "'";
  return std::system(cmd.c_str()) == 0 ? out.string() : std::string();
}

// Samples of an audio track that its edit list skips at the start (the clips' audio timescale
// is their sample rate).
std::uint32_t PrimingSamples(const std::string& clip, std::uint32_t trackId) {
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, clip.c_str(), nullptr) != 0) return 0;
  std::uint32_t count = 0;
  std::int64_t start = 0;
  if (gGetEditList(movie, trackId, nullptr, &count) == 0 && count > 0) {
    std::vector<EditEntry> edits(count);
    if (gGetEditList(movie, trackId, edits.data(), &count) == 0) start = edits[0].mediaTime;
  }
  gCloseMP4File(movie);
  return static_cast<std::uint32_t>(start);
}

std::string AvClip() {
  return MakeClip("av.mp4",
                  "-f lavfi -i testsrc=size=176x144:rate=15 -f lavfi -i sine=frequency=440:sample_rate=16000 "
                  "-t 2 -c:v mpeg4 -g 15 -c:a aac -b:a 32k -ac 1");
}

// The first second is black: key frames every 5 pictures, so the first three key frames are blank.
std::string BlackStartClip() {
  return MakeClip("black-start.mp4",
                  "-f lavfi -i testsrc=size=176x144:rate=15:duration=3 "
                  "-vf drawbox=c=black:t=fill:enable='lt(t\\,1)' -c:v mpeg4 -g 5 -an");
}

struct Events {
  std::mutex m;
  std::condition_variable cv;
  std::vector<int> codes;
  std::vector<std::uint32_t> trackbar;
  static void OnCompletion(void* user, std::int32_t code) {
    auto* e = static_cast<Events*>(user);
    std::lock_guard lock(e->m);
    e->codes.push_back(code);
    e->cv.notify_all();
  }
  static void OnTrackbar(void* user, std::uint32_t ms) {
    auto* e = static_cast<Events*>(user);
    std::lock_guard lock(e->m);
    e->trackbar.push_back(ms);
  }
  bool WaitCodes(size_t n, int seconds) {
    std::unique_lock lock(m);
    return cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return codes.size() >= n; });
  }
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_DISPLAY", "headless", 1);
    setenv("TESSERA_AUDIO", "file", 1);
    clip_ = AvClip();
    if (clip_.empty()) GTEST_SKIP() << "ffmpeg not available";
    ASSERT_EQ(MP_OpenMediaPlayer(clip_.c_str(), 0, &handle_), 0);
    ASSERT_EQ(handle_, kMarlinHandle);
  }
  void TearDown() override {
    if (handle_ != 0) {
      EXPECT_EQ(MP_CloseMediaPlayer(0), 0);
    }
  }
  void OpenBoth() {
    ASSERT_EQ(MP_OpenVideoTrack(handle_, 0, &video_), 0);
    ASSERT_NE(video_, 0u);
    ASSERT_EQ(MP_OpenAudioTrack(handle_, 0, &audio_), 0);
    ASSERT_NE(audio_, 0u);
  }
  platform_testing::ScopedDeviceRoot root_;
  std::string clip_;
  std::uint32_t handle_ = 0, video_ = 0, audio_ = 0;
};

TEST_F(PlayerTest, OnePlayerPerProcessAndNullOutRefused) {
  std::uint32_t other = 0;
  EXPECT_EQ(MP_OpenMediaPlayer(clip_.c_str(), 0, &other), -1);
  EXPECT_EQ(MP_CloseMediaPlayer(0), 0);
  handle_ = 0;
  EXPECT_EQ(MP_OpenMediaPlayer(clip_.c_str(), 0, nullptr), -1);
  EXPECT_EQ(MP_OpenMediaPlayer("/nonexistent.mp4", 0, &other), -1);
  ASSERT_EQ(MP_OpenMediaPlayer(clip_.c_str(), 0, &handle_), 0);
}

TEST_F(PlayerTest, TrackInfoCountsAndTooSmallArrays) {
  std::uint32_t count = 99;
  ASSERT_EQ(MP_GetVideoTrackInfo(handle_, nullptr, &count), 0);
  EXPECT_EQ(count, 1u);
  VideoTrackInfo v[2]{};
  count = 0;
  EXPECT_EQ(MP_GetVideoTrackInfo(handle_, v, &count), kMarlinCountTooSmall);
  EXPECT_EQ(count, 0u);
  count = 2;
  ASSERT_EQ(MP_GetVideoTrackInfo(handle_, v, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(v[0].codec, 32);
  EXPECT_EQ(v[0].width, 176);
  EXPECT_EQ(v[0].height, 144);
  EXPECT_NEAR(v[0].durationMs, 2000, 100);
  AudioTrackInfo a[1]{};
  count = 1;
  ASSERT_EQ(MP_GetAudioTrackInfo(handle_, a, &count), 0);
  EXPECT_EQ(a[0].codec, 64);
  EXPECT_EQ(a[0].sampleRate, 16000);
  EXPECT_EQ(a[0].channels, 2);  // the sample entry's count: the muxer writes 2 for mono AAC
  EXPECT_NE(a[0].trackId, v[0].trackId);
  EXPECT_EQ(MP_GetAudioTrackInfo(7, a, &count), -1);
}

TEST_F(PlayerTest, RenderingWindowValidationAndCommandsNeedTracks) {
  RenderingWindow w{0, 1, 1, 176, 220, 0, 0, 200, 150};
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, &w), 0);
  w.rotation = 0;
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, &w), -1);
  RenderingWindow ok{0, 1, 0, 176, 220, 0, 0, 176, 144};
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, &ok), 0);
  ok.mode = 1;
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, &ok), -1);
  ok.mode = 0;
  ok.width = 0;
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, &ok), -1);
  EXPECT_EQ(MP_SetVideoRenderingWindow(handle_, nullptr), -1);
  EXPECT_EQ(MP_Play(handle_), -1);
  EXPECT_EQ(MP_Pause(handle_), -1);
  EXPECT_EQ(MP_Stop(handle_), -1);
  EXPECT_EQ(MP_ForwardPlay(handle_, 2.0f, 0), -1);
  EXPECT_EQ(MP_CloseTrack(5), -1);
  std::uint32_t id = 0;
  ASSERT_EQ(MP_OpenVideoTrack(handle_, 0, &id), 0);
  EXPECT_EQ(MP_ForwardPlay(handle_, 0.0f, 0), -1);
  EXPECT_EQ(MP_RewindPlay(handle_, -1.0f), -1);
  // Before anything was decoded there is no picture to hand out.
  FrameRequest r{88, 72, 0, 0, 12672};
  std::vector<std::uint8_t> buf(12672);
  EXPECT_EQ(MP_GetVideoFrame(id, &r, buf.data()), -1);
  EXPECT_EQ(MP_CloseTrack(id), 0);
}

TEST_F(PlayerTest, PlaysToTheEndWithBothCompletionCodes) {
  OpenBoth();
  Events events;
  MP_SetCompletionCallback(handle_, Events::OnCompletion, &events);
  MP_SetTrackbarUpdateCallback(handle_, Events::OnTrackbar, &events);
  std::uint32_t before[7];
  MP_GetStatistics(&before[0], &before[1], &before[2], &before[3], &before[4], &before[5], &before[6]);
  ASSERT_EQ(MP_Play(handle_), 0);
  ASSERT_TRUE(events.WaitCodes(2, 20));
  // The end of the track is reported when its last block is queued; let the device play it.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  {
    std::lock_guard lock(events.m);
    std::vector<int> sorted = events.codes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{1000, 1001}));
    EXPECT_GE(events.trackbar.size(), 3u);
  }
  std::uint32_t after[7];
  MP_GetStatistics(&after[0], &after[1], &after[2], &after[3], &after[4], &after[5], &after[6]);
  EXPECT_EQ(after[0] - before[0], 30u);  // every picture is decoded, presented or dropped as late
  EXPECT_GT(after[4] - before[4], 25u);

  // While playing the current picture cannot be taken; after a pause it can, scaled to 88 x 72.
  ASSERT_EQ(MP_Pause(handle_), 0);
  FrameRequest r{88, 72, 0, 0, 12672};
  std::vector<std::uint8_t> buf(12672);
  ASSERT_EQ(MP_GetVideoFrame(video_, &r, buf.data()), 0);
  EXPECT_EQ(r.size, 12672u);
  FrameRequest small{88, 72, 0, 0, 100};
  EXPECT_EQ(MP_GetVideoFrame(video_, &small, buf.data()), -1);
  FrameRequest query{0, 0, 0, 0, 0};
  ASSERT_EQ(MP_GetVideoFrame(video_, &query, nullptr), 0);
  EXPECT_EQ(query.width, 176);
  EXPECT_EQ(query.height, 144);
  EXPECT_EQ(query.format, 1);
  EXPECT_EQ(query.size, 176u * 144 * 3 / 2);

  EXPECT_EQ(MP_CloseTrack(audio_), 0);
  EXPECT_EQ(MP_CloseTrack(video_), 0);

  // Every decoded AAC frame (1024 samples of 16-bit mono) reached the device.
  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, clip_.c_str(), nullptr), 0);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, audio_), 0);
  std::uint32_t frames = 0;
  gGetTotalSamplesInTrak(s, &frames);
  gCloseTrakSession(s);
  gCloseMP4File(movie);
  std::uintmax_t pcm = 0;
  for (auto& e : fs::directory_iterator(fs::path(getenv("TESSERA_ROOT")) / "audio-out")) pcm += fs::file_size(e) - 44;
  EXPECT_EQ(pcm, (static_cast<std::uintmax_t>(frames) * 1024 - PrimingSamples(clip_, audio_)) * 2);
}

TEST_F(PlayerTest, StopAndSeekLeaveTheClockPaused) {
  OpenBoth();
  Events events;
  MP_SetTrackbarUpdateCallback(handle_, Events::OnTrackbar, &events);
  ASSERT_EQ(MP_SetSeekPosition(handle_, 1000), 0);
  FrameRequest query{0, 0, 0, 0, 0};
  EXPECT_EQ(MP_GetVideoFrame(video_, &query, nullptr), -1);  // running flag set after a seek past 0
  ASSERT_EQ(MP_Stop(handle_), 0);
  {
    std::lock_guard lock(events.m);
    events.trackbar.clear();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  {
    std::lock_guard lock(events.m);
    EXPECT_TRUE(events.trackbar.empty());  // no updates while stopped
  }
  ASSERT_EQ(MP_GetVideoFrame(video_, &query, nullptr), 0);  // the picture at 0 was decoded by the seek
  ASSERT_EQ(MP_Play(handle_), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_EQ(MP_Pause(handle_), 0);
}

TEST(FirstVideoFrame, SkipsBlankKeyFramesWhenAsked) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  const std::string clip = BlackStartClip();
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  FrameRequest q{0, 0, 0, 0, 0};
  ASSERT_EQ(MP_GetFirstVideoFrame(clip.c_str(), &q, nullptr, 0), 0);
  EXPECT_EQ(q.size, 176u * 144 * 3 / 2);
  auto meanLuma = [&](std::uint32_t flags) {
    FrameRequest r{176, 144, 1, 0, 176 * 144 * 3 / 2};
    std::vector<std::uint8_t> yuv(r.size);
    EXPECT_EQ(MP_GetFirstVideoFrame(clip.c_str(), &r, yuv.data(), flags), 0);
    double sum = 0;
    for (int i = 0; i < 176 * 144; ++i) sum += yuv[i];
    return sum / (176 * 144);
  };
  EXPECT_LT(meanLuma(0), 20.0);
  EXPECT_GT(meanLuma(1), 40.0);
  FrameRequest tooSmall{176, 144, 1, 0, 10};
  std::vector<std::uint8_t> b(10);
  EXPECT_EQ(MP_GetFirstVideoFrame(clip.c_str(), &tooSmall, b.data(), 1), -1);
  EXPECT_EQ(MP_GetFirstVideoFrame("/nonexistent.mp4", &q, nullptr, 0), -1);
}

}  // namespace

namespace {

// H.263 pictures with AMR sound (encoded by sox, muxed by ffmpeg), the 3GP pairing of a phone.
TEST(AmrPlayback, H263AndAmrPlayToTheEnd) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  const std::string amr = (fs::temp_directory_path() / ("marlin-amr-" + std::to_string(getpid()) + ".amr")).string();
  if (std::system(("sox -n -r 8000 -c 1 -t amr-nb -C 7 '" + amr + "' synth 2 sine 440 vol 0.5 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "sox with an AMR encoder not available";
  const std::string clip = MakeClip("h263-amr.3gp", "-f lavfi -i testsrc=size=176x144:rate=10:duration=2 -i '" + amr +
                                                        "' -c:v h263 -c:a copy");
  std::remove(amr.c_str());
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  std::uint32_t h = 0, v = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  VideoTrackInfo vi{};
  std::uint32_t count = 1;
  ASSERT_EQ(MP_GetVideoTrackInfo(h, &vi, &count), 0);
  EXPECT_EQ(vi.codec, 194);
  EXPECT_EQ(vi.width, 176);
  AudioTrackInfo ai{};
  ASSERT_EQ(MP_GetAudioTrackInfo(h, &ai, &count), 0);
  EXPECT_EQ(ai.codec, 192);
  ASSERT_EQ(MP_OpenVideoTrack(h, 0, &v), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  Events events;
  MP_SetCompletionCallback(h, Events::OnCompletion, &events);
  ASSERT_EQ(MP_Play(h), 0);
  EXPECT_TRUE(events.WaitCodes(2, 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  MP_CloseTrack(a);
  MP_CloseTrack(v);
  MP_CloseMediaPlayer(0);
  std::uintmax_t pcm = 0;
  for (auto& e : fs::directory_iterator(fs::path(getenv("TESSERA_ROOT")) / "audio-out")) pcm += fs::file_size(e) - 44;
  EXPECT_NEAR(static_cast<double>(pcm), 2 * 16000.0, 640.0);  // two seconds of 8 kHz 16-bit mono
}

}  // namespace

namespace {

// Sound shorter than the decode-ahead ends while MP_Play is still filling the device: the end
// is reported once, not again when playback starts.
// Bytes of sound the file audio backend has written under the device root.
std::uintmax_t PcmWritten() {
  std::uintmax_t pcm = 0;
  const fs::path dir = fs::path(getenv("TESSERA_ROOT")) / "audio-out";
  if (!fs::exists(dir)) return 0;
  for (auto& e : fs::directory_iterator(dir)) pcm += fs::file_size(e) - 44;
  return pcm;
}

TEST(AudioOnly, EverySampleIsPlayedBeforeTheEndIsReported) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  const std::string clip =
      MakeClip("audio-only.3gp", "-f lavfi -i sine=frequency=500:sample_rate=8000:duration=1 -c:a aac -ac 1 -b:a 16k");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  MovieFile* movie = nullptr;
  ASSERT_EQ(gOpenMP4File(&movie, clip.c_str(), nullptr), 0);
  TrakSession* s = nullptr;
  ASSERT_EQ(gOpenTrakSession(movie, &s, 1), 0);
  std::uint32_t frames = 0;
  gGetTotalSamplesInTrak(s, &frames);
  gCloseTrakSession(s);
  gCloseMP4File(movie);
  ASSERT_GT(frames, 7u);

  std::uint32_t h = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  Events events;
  MP_SetCompletionCallback(h, Events::OnCompletion, &events);
  ASSERT_EQ(MP_Play(h), 0);
  ASSERT_TRUE(events.WaitCodes(1, 20));
  // A caller that closes on the completion loses nothing: the device has played it all.
  EXPECT_EQ(MP_CloseTrack(a), 0);
  EXPECT_EQ(MP_CloseMediaPlayer(0), 0);
  {
    std::lock_guard lock(events.m);
    EXPECT_EQ(events.codes, std::vector<int>{1001});
  }
  // The clip's timescale is its sample rate: the priming its edit list names is not played.
  const std::uint32_t priming = PrimingSamples(clip, 1);
  EXPECT_GT(priming, 0u);
  EXPECT_EQ(PcmWritten(), (static_cast<std::uintmax_t>(frames) * 1024 - priming) * 2);
}

// Reads the 16-bit samples of the WAV files the file backend wrote (one device: one file).
std::vector<std::int16_t> PlayedSamples() {
  std::vector<std::int16_t> out;
  const fs::path dir = fs::path(getenv("TESSERA_ROOT")) / "audio-out";
  for (auto& e : fs::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    for (size_t i = 44; i + 1 < bytes.size(); i += 2)
      out.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) | (bytes[i + 1] << 8)));
  }
  return out;
}

TEST(AudioOnly, SoundStartsWithTheFirstRealSample) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  // 300 Hz at 16 kHz: a period of 53.3 samples, so a shift by a whole AAC frame shows.
  const std::string clip =
      MakeClip("start.mp4", "-f lavfi -i sine=frequency=300:sample_rate=16000:duration=0.5 -c:a aac -ac 1 -b:a 64k");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  const fs::path reference = fs::path(root.path()) / "reference.raw";
  const std::string decode = "ffmpeg -hide_banner -loglevel error -y -i '" + clip + "' -f s16le -ac 1 '" +
                             reference.string() + "'";
  ASSERT_EQ(std::system(decode.c_str()), 0);
  std::ifstream in(reference, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::int16_t> expected;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    expected.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) | (bytes[i + 1] << 8)));
  ASSERT_GT(expected.size(), 4000u);

  std::uint32_t h = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  Events events;
  MP_SetCompletionCallback(h, Events::OnCompletion, &events);
  ASSERT_EQ(MP_Play(h), 0);
  ASSERT_TRUE(events.WaitCodes(1, 20));
  MP_CloseTrack(a);
  MP_CloseMediaPlayer(0);
  const std::vector<std::int16_t> played = PlayedSamples();
  ASSERT_GE(played.size(), 4000u);
  // Both decoders drop the same priming: the sounds line up sample by sample.
  int worst = 0;
  for (size_t i = 0; i < 4000; ++i) worst = std::max(worst, std::abs(played[i] - expected[i]));
  EXPECT_LE(worst, 16);
}

TEST(Seeking, RewindShowsEveryKeyFrameAndASeekPastTheEndEndsBothTracks) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  // Ten pictures a second, every one a key frame.
  const std::string clip = MakeClip("all-key.mp4",
                                    "-f lavfi -i testsrc=size=176x144:rate=10 -f lavfi -i sine=sample_rate=16000 "
                                    "-t 2 -c:v mpeg4 -g 1 -c:a aac -ac 1");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  std::uint32_t h = 0, v = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  ASSERT_EQ(MP_OpenVideoTrack(h, 0, &v), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  Events events;
  MP_SetCompletionCallback(h, Events::OnCompletion, &events);
  // The seek shows the picture at 1.5 s (sample 16); rewinding then shows samples 15 down to 1.
  // The video thread takes the two commands in order: 16 pictures are decoded in all.
  std::uint32_t before[7], after[7];
  MP_GetStatistics(&before[0], &before[1], &before[2], &before[3], &before[4], &before[5], &before[6]);
  ASSERT_EQ(MP_SetSeekPosition(h, 1500), 0);
  ASSERT_EQ(MP_RewindPlay(h, 8.0f), 0);
  ASSERT_TRUE(events.WaitCodes(1, 20));
  MP_GetStatistics(&after[0], &after[1], &after[2], &after[3], &after[4], &after[5], &after[6]);
  {
    std::lock_guard lock(events.m);
    EXPECT_EQ(events.codes, std::vector<int>{1003});
    events.codes.clear();
  }
  EXPECT_EQ(after[0] - before[0], 16u);
  // A seek past the end reads nothing and ends both tracks.
  ASSERT_EQ(MP_SetSeekPosition(h, 60000), 0);
  ASSERT_TRUE(events.WaitCodes(2, 20));
  {
    std::lock_guard lock(events.m);
    std::vector<int> sorted = events.codes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{1000, 1001}));
  }
  MP_CloseTrack(a);
  MP_CloseTrack(v);
  MP_CloseMediaPlayer(0);
}

TEST(ShortAudio, EachTrackEndIsReportedOnce) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  setenv("TESSERA_AUDIO", "file", 1);
  platform_testing::ScopedDeviceRoot root;
  const std::string clip = MakeClip("short-audio.mp4",
                                    "-f lavfi -i testsrc=size=176x144:rate=15:duration=1 -f lavfi "
                                    "-i sine=sample_rate=16000:duration=0.2 -c:v mpeg4 -c:a aac -ac 1");
  if (clip.empty()) GTEST_SKIP() << "ffmpeg not available";
  std::uint32_t h = 0, v = 0, a = 0;
  ASSERT_EQ(MP_OpenMediaPlayer(clip.c_str(), 0, &h), 0);
  ASSERT_EQ(MP_OpenVideoTrack(h, 0, &v), 0);
  ASSERT_EQ(MP_OpenAudioTrack(h, 0, &a), 0);
  Events events;
  MP_SetCompletionCallback(h, Events::OnCompletion, &events);
  ASSERT_EQ(MP_Play(h), 0);
  EXPECT_TRUE(events.WaitCodes(2, 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  {
    std::lock_guard lock(events.m);
    std::vector<int> sorted = events.codes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{1000, 1001}));
  }
  // Playing again from the end returns and reports the ends again.
  ASSERT_EQ(MP_Play(h), 0);
  MP_CloseTrack(a);
  MP_CloseTrack(v);
  MP_CloseMediaPlayer(0);
}

}  // namespace
