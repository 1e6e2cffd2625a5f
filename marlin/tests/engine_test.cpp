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
