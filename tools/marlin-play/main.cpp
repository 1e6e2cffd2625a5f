// marlin-play FILE [--seek MS] [--ff SPEED] [--rewind SPEED] [--frame OUT.ppm AT_MS] [--first-frame OUT.ppm]
// Plays a clip on the screen (SDL window, or headless with TESSERA_DISPLAY=headless), printing
// trackbar updates and completion codes; exits when both tracks have ended.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "marlin/marlin.h"
#include "platform/window.h"
#include "toolargs/toolargs.h"

namespace {

struct State {
  std::mutex m;
  std::condition_variable cv;
  bool videoEnded = false, audioEnded = false, fastEnded = false;
};

void OnCompletion(void* user, std::int32_t code) {
  auto* s = static_cast<State*>(user);
  std::printf("completion %d\n", code);
  std::fflush(stdout);
  std::lock_guard lock(s->m);
  if (code == kVideoTrackEnded) s->videoEnded = true;
  if (code == kAudioTrackEnded) s->audioEnded = true;
  if (code == kForwardReachedEnd || code == kRewindReachedStart) s->fastEnded = true;
  s->cv.notify_all();
}

void OnTrackbar(void*, std::uint32_t ms) {
  std::printf("trackbar %u\n", ms);
  std::fflush(stdout);
}

bool WritePpm(const std::string& path, const FrameRequest& r, const std::vector<std::uint8_t>& rgb565) {
  std::string error;
  if (!toolargs::MakeOutputFolder(path, &error)) {
    std::fprintf(stderr, "marlin-play: %s\n", error.c_str());
    return false;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%u %u\n255\n", r.width, r.height);
  for (size_t i = 0; i + 1 < rgb565.size(); i += 2) {
    const unsigned p = rgb565[i] | (rgb565[i + 1] << 8);
    const unsigned char px[3] = {static_cast<unsigned char>((p >> 11) << 3),
                                 static_cast<unsigned char>(((p >> 5) & 0x3F) << 2),
                                 static_cast<unsigned char>((p & 0x1F) << 3)};
    std::fwrite(px, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: marlin-play FILE [--seek MS] [--ff SPEED] [--rewind SPEED] [--frame OUT.ppm AT_MS] "
               "[--first-frame OUT.ppm]\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "marlin-play", &PrintUsage); rc >= 0) return rc;
  const std::string file = argv[1];
  if (file.size() > 1 && file[0] == '-') return Usage();
  double seek = -1, ff = 0, rewind = 0, frameAt = -1;
  std::string frameOut, firstOut;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    // A bad number is named with its option; speeds must be above zero.
    bool badNumber = false;
    auto next = [&](double* v, double min, const char* what) {
      if (i + 1 >= argc) return false;
      const char* text = argv[++i];
      if (toolargs::ParseDecimal(text, 0, 1e9, v) && *v >= min && (min == 0 || *v > 0)) return true;
      badNumber = true;
      toolargs::BadNumber("marlin-play", a.c_str(), text, what);
      return false;
    };
    if (a == "--seek") {
      if (!next(&seek, 0, "milliseconds")) return badNumber ? 2 : Usage();
    } else if (a == "--ff") {
      if (!next(&ff, 1e-9, "a speed above 0")) return badNumber ? 2 : Usage();
    } else if (a == "--rewind") {
      if (!next(&rewind, 1e-9, "a speed above 0")) return badNumber ? 2 : Usage();
    } else if (a == "--frame") {
      if (i + 2 >= argc) return Usage();
      frameOut = argv[++i];
      if (!next(&frameAt, 0, "milliseconds")) return badNumber ? 2 : Usage();
    } else if (a == "--first-frame") {
      if (i + 1 >= argc) return Usage();
      firstOut = argv[++i];
    } else {
      return Usage();
    }
  }

  if (!firstOut.empty()) {
    FrameRequest q{};
    if (MP_GetFirstVideoFrame(file.c_str(), &q, nullptr, 1) != 0) {
      std::fprintf(stderr, "marlin-play: %s: no video picture\n", file.c_str());
      return 1;
    }
    FrameRequest r{q.width, q.height, 0, 0, static_cast<std::uint32_t>(q.width) * q.height * 2};
    std::vector<std::uint8_t> rgb(r.size);
    if (MP_GetFirstVideoFrame(file.c_str(), &r, rgb.data(), 1) != 0 || !WritePpm(firstOut, r, rgb)) {
      std::fprintf(stderr, "marlin-play: cannot write %s\n", firstOut.c_str());
      return 1;
    }
    std::printf("first frame %ux%u -> %s\n", r.width, r.height, firstOut.c_str());
    return 0;
  }

  std::uint32_t handle = 0;
  if (MP_OpenMediaPlayer(file.c_str(), 0, &handle) != 0) {
    std::fprintf(stderr, "marlin-play: cannot open %s\n", file.c_str());
    return 1;
  }
  State state;
  MP_SetCompletionCallback(handle, OnCompletion, &state);
  MP_SetTrackbarUpdateCallback(handle, OnTrackbar, &state);
  std::uint32_t videoId = 0, audioId = 0;
  MP_OpenVideoTrack(handle, 0, &videoId);
  MP_OpenAudioTrack(handle, 0, &audioId);
  if (videoId == 0 && audioId == 0) {
    std::fprintf(stderr, "marlin-play: %s has no playable track\n", file.c_str());
    MP_CloseMediaPlayer(0);
    return 1;
  }
  std::printf("video track %u, audio track %u\n", videoId, audioId);
  int rc = 0;
  if (!frameOut.empty()) {
    FrameRequest q{};
    if (videoId == 0 || MP_SetSeekPosition(handle, static_cast<std::uint32_t>(frameAt)) != 0 ||
        MP_Pause(handle) != 0 || MP_GetVideoFrame(videoId, &q, nullptr) != 0) {
      std::fprintf(stderr, "marlin-play: no picture at %.0f ms\n", frameAt);
      rc = 1;
    } else {
      FrameRequest r{q.width, q.height, 0, 0, static_cast<std::uint32_t>(q.width) * q.height * 2};
      std::vector<std::uint8_t> rgb(r.size);
      if (MP_GetVideoFrame(videoId, &r, rgb.data()) != 0 || !WritePpm(frameOut, r, rgb)) {
        std::fprintf(stderr, "marlin-play: cannot write %s\n", frameOut.c_str());
        rc = 1;
      } else {
        std::printf("frame %ux%u at %.0f ms -> %s\n", r.width, r.height, frameAt, frameOut.c_str());
      }
    }
  } else {
    if (seek >= 0) MP_SetSeekPosition(handle, static_cast<std::uint32_t>(seek));
    if (ff > 0 || rewind > 0) {
      if (videoId == 0) {
        std::fprintf(stderr, "marlin-play: fast forward and rewind need a video track\n");
        rc = 1;
      } else if (ff > 0) {
        MP_ForwardPlay(handle, static_cast<float>(ff), 1);
      } else {
        MP_RewindPlay(handle, static_cast<float>(rewind));
      }
    } else {
      MP_Play(handle);
    }
    // Pump the window system's messages (the screen is presented from them) until the end.
    for (;;) {
      {
        std::unique_lock lock(state.m);
        const bool done = rc != 0 || state.fastEnded ||
                          ((videoId == 0 || state.videoEnded) && (audioId == 0 || state.audioEnded));
        if (done) break;
        state.cv.wait_for(lock, std::chrono::milliseconds(20));
      }
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
    }
  }
  if (audioId != 0) MP_CloseTrack(audioId);
  if (videoId != 0) MP_CloseTrack(videoId);
  MP_CloseMediaPlayer(0);
  return rc;
}
