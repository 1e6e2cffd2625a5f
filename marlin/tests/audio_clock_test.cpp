// The played position of the file audio backend, which the player's audio clock reads: a device
// kept fed plays on without gaps however late its thread wakes; one that ran dry starts again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wave.h"
#include "platform_testing/device_root.h"

namespace marlin {
namespace {

using Clock = std::chrono::steady_clock;

struct Recorder {
  std::mutex mutex;
  std::vector<Clock::time_point> done;
  std::atomic<int> delayMs{0};
};

void Callback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  if (message != WOM_DONE) return;
  auto* r = reinterpret_cast<Recorder*>(instance);
  {
    std::lock_guard lock(r->mutex);
    r->done.push_back(Clock::now());
  }
  // Keeps the device's own thread busy, as a loaded machine would.
  if (r->delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(r->delayMs.load()));
}

class FileWaveOut : public ::testing::Test {
 protected:
  static constexpr DWORD kRate = 8000;
  static constexpr DWORD kHeaderBytes = 800;  // 50 ms of 16-bit mono
  static constexpr int kHeaders = 10;

  void SetUp() override {
    setenv("TESSERA_AUDIO", "file", 1);
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 1;
    wf.nSamplesPerSec = kRate;
    wf.nAvgBytesPerSec = kRate * 2;
    wf.nBlockAlign = 2;
    wf.wBitsPerSample = 16;
    ASSERT_EQ(waveOutOpen(&wave_, 0, &wf, reinterpret_cast<DWORD_PTR>(&Callback),
                          reinterpret_cast<DWORD_PTR>(&recorder_), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    data_.assign(kHeaders, std::vector<char>(kHeaderBytes, 0));
    headers_.assign(kHeaders, WAVEHDR{});
    for (int i = 0; i < kHeaders; ++i) {
      headers_[i].lpData = data_[i].data();
      headers_[i].dwBufferLength = kHeaderBytes;
      ASSERT_EQ(waveOutPrepareHeader(wave_, &headers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
  }
  void TearDown() override {
    if (wave_ == nullptr) return;
    waveOutReset(wave_);
    for (WAVEHDR& h : headers_) waveOutUnprepareHeader(wave_, &h, sizeof(WAVEHDR));
    waveOutClose(wave_);
  }
  bool WaitDone(size_t count) {
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < limit) {
      {
        std::lock_guard lock(recorder_.mutex);
        if (recorder_.done.size() >= count) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  static double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

  platform_testing::ScopedDeviceRoot root_;
  Recorder recorder_;
  HWAVEOUT wave_ = nullptr;
  std::vector<std::vector<char>> data_;
  std::vector<WAVEHDR> headers_;
};

// Every hand-back stalls the device thread by 40 ms. Queued sound still plays in 10 x 50 ms:
// were each stall added to the timeline, the last buffer would end 360 ms later.
TEST_F(FileWaveOut, LateDeviceThreadDoesNotStretchQueuedSound) {
  recorder_.delayMs = 40;
  ASSERT_EQ(waveOutPause(wave_), MMSYSERR_NOERROR);
  for (WAVEHDR& h : headers_) ASSERT_EQ(waveOutWrite(wave_, &h, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  const auto start = Clock::now();
  ASSERT_EQ(waveOutRestart(wave_), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(kHeaders));
  std::lock_guard lock(recorder_.mutex);
  const double last = Ms(recorder_.done.back() - start);
  std::printf("[ pacing ] 10 x 50 ms with a 40 ms stall per hand-back: last done after %.1f ms\n", last);
  EXPECT_GE(last, 490.0);  // never faster than real time
  EXPECT_LT(last, 760.0);  // without drift it is about 500; with it at least 860
}

// A device that ran dry does not catch up: the sound written after the gap plays in full.
TEST_F(FileWaveOut, UnderrunRestartsTheTimeline) {
  ASSERT_EQ(waveOutWrite(wave_, &headers_[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const auto resume = Clock::now();
  ASSERT_EQ(waveOutWrite(wave_, &headers_[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(wave_, &headers_[2], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(3));
  std::lock_guard lock(recorder_.mutex);
  EXPECT_GE(Ms(recorder_.done[1] - resume), 45.0);
  EXPECT_GE(Ms(recorder_.done[2] - resume), 95.0);
}

// Paused and restarted mid-way: the pause is not counted as played sound.
TEST_F(FileWaveOut, PauseStopsTheTimeline) {
  for (int i = 0; i < 4; ++i) ASSERT_EQ(waveOutWrite(wave_, &headers_[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(1));
  ASSERT_EQ(waveOutPause(wave_), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto resume = Clock::now();
  ASSERT_EQ(waveOutRestart(wave_), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitDone(4));
  std::lock_guard lock(recorder_.mutex);
  // At least the two buffers that had not started before the pause still take their time.
  EXPECT_GE(Ms(recorder_.done[3] - resume), 95.0);
}

}  // namespace
}  // namespace marlin
