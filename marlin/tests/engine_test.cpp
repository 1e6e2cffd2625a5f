#include <gtest/gtest.h>

#include <vector>

#include "../src/engine.h"
#include "platform/sync.h"
#include "platform_testing/device_root.h"

namespace marlin {
namespace {

TEST(CommandQueue, CapacityMustBeAPowerOfTwoAndElementsFit) {
  EXPECT_EQ(CreateCommandQueue(0, 8, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateCommandQueue(6, 8, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateCommandQueue(8, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateCommandQueue(8, 256, nullptr, nullptr), nullptr);
  CommandQueue* q = CreateCommandQueue(1, 255, nullptr, nullptr);
  ASSERT_NE(q, nullptr);
  DeleteCommandQueue(q);
}

TEST(CommandQueue, PutTakeWrapFullEmptyAndFlush) {
  static std::vector<std::uint32_t> flushed;
  flushed.clear();
  CommandQueue* q = CreateCommandQueue(4, 4, nullptr, [](const void* e) {
    flushed.push_back(*static_cast<const std::uint32_t*>(e));
  });
  ASSERT_NE(q, nullptr);
  std::uint32_t v = 0;
  EXPECT_EQ(QueueTryTake(q, &v), kQueueEmpty);
  // Several rounds so that the indices wrap around the ring.
  std::uint32_t next = 0, expect = 0;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 4; ++i) ASSERT_EQ(QueuePut(q, &(++next)), 0);
    EXPECT_EQ(QueuePut(q, &next), kQueueFull);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(QueueTryTake(q, &v), 0);
      EXPECT_EQ(v, ++expect);
    }
    QueueTake(q, &v);
    EXPECT_EQ(v, ++expect);
  }
  for (std::uint32_t i = 100; i < 103; ++i) QueuePut(q, &i);
  QueueTryTake(q, &v);
  QueueFlush(q);
  EXPECT_EQ(flushed, (std::vector<std::uint32_t>{101, 102}));
  EXPECT_EQ(QueueTryTake(q, &v), kQueueEmpty);
  DeleteCommandQueue(q);
}

TEST(CommandQueue, BlockingTakeWakesOnPutFromAnotherThread) {
  CommandQueue* q = CreateCommandQueue(2, 4, nullptr, nullptr);
  HANDLE t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        Sleep(30);
        std::uint32_t v = 77;
        QueuePut(static_cast<CommandQueue*>(p), &v);
        return 0;
      },
      q, 0, nullptr);
  std::uint32_t v = 0;
  QueueTake(q, &v);
  EXPECT_EQ(v, 77u);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  DeleteCommandQueue(q);
}

TEST(MediaClock, PausedRunningAndReset) {
  MediaClock c;
  EXPECT_EQ(c.state, kClockPaused);
  EXPECT_EQ(ClockGet(c), 0u);
  ClockSet(c, 5000);
  EXPECT_EQ(ClockGet(c), 5000u);
  ClockRun(c);
  Sleep(60);
  const std::uint32_t t = ClockGet(c);
  EXPECT_GE(t, 5050u);
  EXPECT_LT(t, 6000u);
  ClockSet(c, 100);
  EXPECT_LT(ClockGet(c), 200u);
  ClockPause(c);
  const std::uint32_t held = ClockGet(c);
  Sleep(20);
  EXPECT_EQ(ClockGet(c), held);
  EXPECT_EQ(ClockCommand(c, 1283), -1);
  EXPECT_EQ(ClockCommand(c, kClockReset), 0);
  EXPECT_EQ(ClockGet(c), 0u);
  EXPECT_EQ(c.state, kClockPaused);
}

class AudioRendererTest : public ::testing::Test {
 protected:
  platform_testing::ScopedDeviceRoot root_;
  AudioRenderer* r_ = nullptr;
  void SetUp() override {
    setenv("TESSERA_AUDIO", "null", 1);
    AudioFormat f{1, 16, 8000, 16000, 4, 4, 0xFFFF, -1, 160, 0};
    ASSERT_EQ(OpenAudioRenderer(&f, &r_), 0);
  }
  void TearDown() override {
    if (r_) {
      EXPECT_EQ(r_->close(r_), 0);
    }
  }
  std::uint32_t Index(BlockDescriptor* b) { return static_cast<std::uint32_t>(b - r_->blocks.data()); }
};

TEST_F(AudioRendererTest, BlocksMapOntoHeadersAndOnlyTheLastBlockWritesIt) {
  ASSERT_EQ(r_->blockCount, 16u);
  EXPECT_EQ(r_->headerBytes, 4u * 160 * 2);
  for (std::uint32_t i = 0; i < 3; ++i) {
    BlockDescriptor* b = r_->getBlock(r_);
    EXPECT_EQ(Index(b), i);
    EXPECT_EQ(b->data, reinterpret_cast<std::uint8_t*>(r_->headers[0].lpData) + i * 320);
    EXPECT_EQ(b->samplesPerBlock, 160u);
    EXPECT_EQ(r_->submitBlock(r_, b), 0);
    EXPECT_EQ(r_->headers[0].dwFlags & WHDR_INQUEUE, 0u);
  }
  BlockDescriptor* b = r_->getBlock(r_);
  EXPECT_EQ(Index(b), 3u);
  EXPECT_EQ(r_->submitBlock(r_, b), 0);
  EXPECT_NE(r_->headers[0].dwFlags & WHDR_INQUEUE, 0u);
  EXPECT_EQ(r_->control(r_, 9, 0), -1);
}

TEST_F(AudioRendererTest, StopPutsThePartlyFilledHeaderBackInOrder) {
  for (int i = 0; i < 4; ++i) r_->submitBlock(r_, r_->getBlock(r_));
  r_->getBlock(r_);  // blocks 4 and 5 of header 1 are being filled
  r_->getBlock(r_);
  EXPECT_EQ(r_->control(r_, 3, 0), 0);
  EXPECT_FALSE(r_->playing);
  std::vector<std::uint32_t> order;
  std::uint32_t v;
  while (QueueTryTake(r_->freeBlocks, &v) == 0) order.push_back(v);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{8, 9, 10, 11, 12, 13, 14, 15, 4, 5, 6, 7}));
  // The reset handed header 0 back through the callback.
  ASSERT_EQ(QueueTryTake(r_->returnedHeaders, &v), 0);
  EXPECT_EQ(v, 0u);
}

TEST_F(AudioRendererTest, FlushWritesOnlyTheSubmittedBlocksOfTheLastHeader) {
  EXPECT_EQ(AudioRendererFlush(r_), 0);  // nothing pending: nothing written
  EXPECT_EQ(r_->headers[0].dwFlags & WHDR_INQUEUE, 0u);
  r_->submitBlock(r_, r_->getBlock(r_));
  r_->submitBlock(r_, r_->getBlock(r_));
  EXPECT_EQ(AudioRendererFlush(r_), 0);
  EXPECT_NE(r_->headers[0].dwFlags & WHDR_INQUEUE, 0u);
  EXPECT_EQ(r_->headers[0].dwBufferLength, 2u * 320);
  EXPECT_EQ(Index(r_->getBlock(r_)), 4u);  // blocks 2 and 3 left the free queue with their header
  // A full header written later has its whole length again.
  for (int i = 0; i < 3; ++i) r_->submitBlock(r_, r_->getBlock(r_));
  EXPECT_EQ(r_->headers[1].dwBufferLength, 4u * 320);
}

TEST_F(AudioRendererTest, GetBlockWaitsForAPlayedHeaderWhenAllAreQueued) {
  EXPECT_EQ(r_->control(r_, 1, 0), 0);
  EXPECT_TRUE(r_->playing);
  // 16 blocks fill the ring; the 17th comes back once the device played header 0 (80 ms of sound).
  for (int i = 0; i < 16; ++i) r_->submitBlock(r_, r_->getBlock(r_));
  BlockDescriptor* b = r_->getBlock(r_);
  EXPECT_EQ(Index(b), 0u);
}

}  // namespace
}  // namespace marlin

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/gx.h"

namespace marlin {
namespace {

// Two streams of one file read from two threads at once, with small reads that go through the
// shared blocks and large ones that go around them: every byte must be the file's.
TEST(FileReadCache, StreamsKeepTheirOwnPositionUnderConcurrentUse) {
  const auto path = std::filesystem::temp_directory_path() / ("marlin-cache-" + std::to_string(getpid()));
  std::vector<std::uint8_t> content(64 * 1024);
  std::mt19937 rng(4);
  for (auto& b : content) b = static_cast<std::uint8_t>(rng());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());
  FileCacheReset();
  std::atomic<int> errors{0};
  auto reader = [&](unsigned seed) {
    FILE* f = FileCacheOpen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::mt19937 r(seed);
    std::vector<std::uint8_t> buf(2000);
    for (int i = 0; i < 3000; ++i) {
      const long at = static_cast<long>(r() % (content.size() - 2000));
      const size_t n = (r() % 4 == 0) ? 600 + r() % 1400 : 1 + r() % 64;
      if (r() % 2) {
        FileCacheSeek(f, at, SEEK_SET);
      } else {
        FileCacheSeek(f, 0, SEEK_SET);
        FileCacheSeek(f, at, SEEK_CUR);
      }
      if (FileCacheRead(buf.data(), 1, n, f) != n || std::memcmp(buf.data(), content.data() + at, n) != 0) ++errors;
      // The position moved on by what was read.
      if (FileCacheRead(buf.data(), 1, 4, f) != 4 || std::memcmp(buf.data(), content.data() + at + n, 4) != 0)
        ++errors;
    }
    std::fclose(f);
  };
  std::thread a(reader, 1), b(reader, 2);
  a.join();
  b.join();
  EXPECT_EQ(errors.load(), 0);
  FILE* f = FileCacheOpen(path.c_str(), "rb");
  EXPECT_EQ(FileCacheSeek(f, -1, SEEK_SET), -1);
  EXPECT_EQ(FileCacheSeek(f, 10, SEEK_END), 0);  // accepted and ignored
  std::uint8_t byte = 0;
  EXPECT_EQ(FileCacheRead(&byte, 0, 5, f), 0u);
  FileCacheSeek(f, static_cast<long>(content.size()) - 2, SEEK_SET);
  std::uint8_t tail[8];
  EXPECT_EQ(FileCacheRead(tail, 1, 8, f), 2u);  // a short read at the end of the file
  std::fclose(f);
  std::filesystem::remove(path);
}

TEST(FastPlay, KeyFrameGapsArePacedAndOtherGapsScaled) {
  EXPECT_EQ(FastWaitMs(false, 3500, 2000, 2.0f), 1000u);  // 1500 ms apart: 2000 / speed
  EXPECT_EQ(FastWaitMs(false, 2500, 2000, 2.0f), 250u);   // 500 ms apart: 500 / speed
  EXPECT_EQ(FastWaitMs(false, 2000, 2500, 2.0f), 250u);   // rewinding: the distance counts
  EXPECT_EQ(FastWaitMs(false, 9000, 0, 4.0f), 500u);      // the first picture
  EXPECT_EQ(FastWaitMs(false, 8000, 4000, 2.0f), 2000u);  // 4 s apart
  EXPECT_EQ(FastWaitMs(true, 2066, 2000, 2.0f), 33u);     // every picture: its own gap
}

TEST(VideoRenderer, ScalesOnlyWhenTheWindowDiffersAndDrawsInsideIt) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  RenderingWindow same{0, 1, 0, 176, 220, 0, 38, 176, 144};
  VideoRenderer* r = nullptr;
  ASSERT_EQ(OpenVideoRenderer(&same, 176, 144, &r), 0);
  EXPECT_EQ(r->scaled, nullptr);
  PlanarFrame* f = r->getFrame(r);
  ASSERT_NE(f, nullptr);
  std::memset(f->y, 255, 176 * 144);
  std::memset(f->u, 128, 88 * 72 * 2);
  auto* fb = static_cast<std::uint16_t*>(GXBeginDraw());
  ASSERT_NE(fb, nullptr);
  std::fill(fb, fb + 176 * 220, 0x1234);
  GXEndDraw();
  EXPECT_EQ(r->present(r, f), 0);
  fb = static_cast<std::uint16_t*>(GXBeginDraw());
  EXPECT_EQ(fb[37 * 176], 0x1234);
  EXPECT_EQ(fb[38 * 176], 0xFFFF);
  EXPECT_EQ(fb[(38 + 143) * 176 + 175], 0xFFFF);
  EXPECT_EQ(fb[(38 + 144) * 176], 0x1234);
  GXEndDraw();
  EXPECT_EQ(r->control2(r, 3, nullptr), -5);
  EXPECT_EQ(r->control(r, 1, nullptr), -5);
  RenderingWindow half{0, 1, 0, 176, 220, 0, 0, 88, 72};
  EXPECT_EQ(r->control(r, 3, &half), 0);
  ASSERT_NE(r->scaled, nullptr);
  EXPECT_EQ(r->scaled->width, 88);
  EXPECT_EQ(r->getFrame(r)->width, 176);
  EXPECT_EQ(r->close(r), 0);
}

}  // namespace
}  // namespace marlin
