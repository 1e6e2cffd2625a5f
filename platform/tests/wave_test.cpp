// Wave devices over the null and file backends: buffer hand-back, reset, close rules,
// argument checks and the WAV file the file backend writes.
#include "platform/wave.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform_testing/device_root.h"

namespace {

WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  return f;
}

struct Log {
  std::atomic<int> opens{0}, closes{0}, done{0};
  std::atomic<HWAVEOUT> resetFrom{nullptr};
};

void OutProc(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* log = reinterpret_cast<Log*>(instance);
  if (message == WOM_OPEN) ++log->opens;
  if (message == WOM_CLOSE) ++log->closes;
  if (message == WOM_DONE) {
    ++log->done;
    // A callback may reset its own device; that must not wait for itself.
    if (HWAVEOUT d = log->resetFrom.exchange(nullptr)) waveOutReset(d);
  }
}

TEST(WaveOut, ResetHandsBackEveryBufferAndCloseRules) {
  setenv("TESSERA_AUDIO", "null", 1);
  Log log;
  WAVEFORMATEX f = Pcm(8000, 1, 16);
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&OutProc),
                        reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  EXPECT_EQ(log.opens, 1);
  std::vector<char> pcm(16000);  // one second each
  WAVEHDR h[3]{};
  for (auto& x : h) {
    x.lpData = pcm.data();
    x.dwBufferLength = static_cast<DWORD>(pcm.size());
  }
  EXPECT_EQ(waveOutWrite(out, &h[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
  for (auto& x : h) {
    ASSERT_EQ(waveOutPrepareHeader(out, &x, sizeof x), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &x, sizeof x), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(waveOutWrite(out, &h[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutUnprepareHeader(out, &h[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900))
      << "reset does not wait for play";
  EXPECT_EQ(log.done, 3) << "every queued buffer comes back before reset returns";
  for (auto& x : h) {
    EXPECT_TRUE(x.dwFlags & WHDR_DONE);
    EXPECT_FALSE(x.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveOutUnprepareHeader(out, &x, sizeof x), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(log.closes, 1);
  EXPECT_EQ(waveOutWrite(out, &h[0], sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE) << "stale handle";
  EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);

  WAVEFORMATEX bad = Pcm(8000, 3, 16);
  EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  bad = Pcm(8000, 1, 12);
  EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  EXPECT_EQ(waveOutOpen(&out, 5, &f, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST(WaveOut, CallbackMayResetItsOwnDevice) {
  setenv("TESSERA_AUDIO", "null", 1);
  Log log;
  WAVEFORMATEX f = Pcm(8000, 1, 8);
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&OutProc),
                        reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<char> pcm(80, char(0x80));  // 10 ms
  WAVEHDR h[2]{};
  log.resetFrom = out;
  for (auto& x : h) {
    x.lpData = pcm.data();
    x.dwBufferLength = 80;
    waveOutPrepareHeader(out, &x, sizeof x);
    waveOutWrite(out, &x, sizeof x);
  }
  for (int i = 0; i < 100 && log.done < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(log.done, 2);
  EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

struct SelfCloser {
  std::atomic<HWAVEOUT> out{nullptr};
  std::atomic<HWAVEIN> in{nullptr};
  std::atomic<int> closed{0};
  std::atomic<MMRESULT> rc{MMSYSERR_ERROR};
};

void CloseOutFromCallback(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* c = reinterpret_cast<SelfCloser*>(instance);
  if (message == WOM_CLOSE) ++c->closed;
  if (message == WOM_DONE && c->out.exchange(nullptr)) c->rc = waveOutClose(device);
}

void CloseInFromCallback(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
  auto* c = reinterpret_cast<SelfCloser*>(instance);
  if (message == WIM_CLOSE) ++c->closed;
  if (message == WIM_DATA && c->in.exchange(nullptr)) c->rc = waveInClose(device);
}

}  // namespace

extern "C" int __sanitizer_get_ownership(const volatile void* p) __attribute__((weak));

namespace {

// True once the allocator no longer holds p as a live block (waits up to five seconds for a
// thread that frees it on its way out).
bool FreedSoon(const void* p) {
  for (int i = 0; i < 500; ++i) {
    if (!__sanitizer_get_ownership(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(WaveDevices, ClosingFromItsOwnCallbackFreesTheDevice) {
  if (!__sanitizer_get_ownership) GTEST_SKIP() << "no allocator queries in this build";
  setenv("TESSERA_AUDIO", "null", 1);
  WAVEFORMATEX f = Pcm(8000, 1, 8);
  std::vector<char> pcm(80, char(0x80));  // 10 ms
  {
    SelfCloser c;
    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&CloseOutFromCallback),
                          reinterpret_cast<DWORD_PTR>(&c), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(__sanitizer_get_ownership(out));
    c.out = out;
    WAVEHDR h{};
    h.lpData = pcm.data();
    h.dwBufferLength = 80;
    ASSERT_EQ(waveOutPrepareHeader(out, &h, sizeof h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &h, sizeof h), MMSYSERR_NOERROR);
    EXPECT_TRUE(FreedSoon(out));
    EXPECT_EQ(c.rc, MMSYSERR_NOERROR);
    EXPECT_EQ(c.closed, 1);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
  }
  {
    SelfCloser c;
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&CloseInFromCallback),
                         reinterpret_cast<DWORD_PTR>(&c), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    c.in = in;
    WAVEHDR h{};
    h.lpData = pcm.data();
    h.dwBufferLength = 80;
    ASSERT_EQ(waveInPrepareHeader(in, &h, sizeof h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &h, sizeof h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    EXPECT_TRUE(FreedSoon(in));
    EXPECT_EQ(c.rc, MMSYSERR_NOERROR);
    EXPECT_EQ(c.closed, 1);
  }
}

TEST(WaveOut, FileBackendWritesPlayableWav) {
  platform_testing::ScopedDeviceRoot root;
  setenv("TESSERA_AUDIO", "file", 1);
  Log log;
  WAVEFORMATEX f = Pcm(11025, 2, 16);
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&OutProc),
                        reinterpret_cast<DWORD_PTR>(&log), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::string path = platform::NativePath(platform::WaveOutFilePath(out));
  EXPECT_NE(path.find("/audio-out/"), std::string::npos);
  std::vector<char> pcm(4408 + 3);  // 1102 frames and a stray partial frame
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<char>(i);
  WAVEHDR h{};
  h.lpData = pcm.data();
  h.dwBufferLength = static_cast<DWORD>(pcm.size());
  waveOutPrepareHeader(out, &h, sizeof h);
  ASSERT_EQ(waveOutWrite(out, &h, sizeof h), MMSYSERR_NOERROR);
  for (int i = 0; i < 100 && log.done < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(log.done, 1);
  EXPECT_EQ(h.dwBufferLength, 4408u) << "whole frames only";
  waveOutUnprepareHeader(out, &h, sizeof h);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(file.size(), 44u + 4408);
  EXPECT_EQ(file[40] | file[41] << 8, 4408);
  EXPECT_EQ(file[22], 2);
  EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), reinterpret_cast<unsigned char*>(pcm.data())));
}

void InProc(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  if (message == WIM_DATA)
    reinterpret_cast<std::vector<DWORD>*>(instance)->push_back(
        reinterpret_cast<WAVEHDR*>(param1)->dwBytesRecorded);
}

TEST(WaveIn, NullBackendRecordsSilenceUntilReset) {
  setenv("TESSERA_AUDIO", "null", 1);
  std::vector<DWORD> got;
  WAVEFORMATEX f = Pcm(8000, 1, 16);
  HWAVEIN in = nullptr;
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&InProc),
                       reinterpret_cast<DWORD_PTR>(&got), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<char> a(320, 1), b(320, 1), c(3200, 1);
  WAVEHDR h[3]{};
  h[0].lpData = a.data();
  h[1].lpData = b.data();
  h[2].lpData = c.data();
  h[0].dwBufferLength = h[1].dwBufferLength = 320;
  h[2].dwBufferLength = 3200;
  for (auto& x : h) {
    waveInPrepareHeader(in, &x, sizeof x);
    ASSERT_EQ(waveInAddBuffer(in, &x, sizeof x), MMSYSERR_NOERROR);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(got.empty()) << "nothing is recorded before start";
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  for (int i = 0; i < 100 && got.size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], 320u);
  EXPECT_EQ(got[1], 320u);
  EXPECT_EQ(got[2], 0u) << "a buffer handed back by reset holds nothing";
  EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](char ch) { return ch == 0; }));
  for (auto& x : h) waveInUnprepareHeader(in, &x, sizeof x);
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

}  // namespace
