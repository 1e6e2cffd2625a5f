// The ControlThread: runs the API's commands against the track threads and reports their notices.
#include "player_internal.h"

namespace marlin {
namespace {

void ToTracks(std::uint16_t code, std::uintptr_t argument) {
  if (g.audio.id != -1) Send(g.audio.queue, code, argument);
  if (g.video.id != -1) Send(g.video.queue, code, argument);
}

}  // namespace

void ControlThread(void*) {
  bool running = false, videoReady = false, audioReady = false;
  for (;;) {
    Msg m{};
    if (QueueTryTake(g.mainQueue, &m) != 0) {
      const DWORD rc = WaitForSingleObject(g.wake, running ? 300 : INFINITE);
      if (rc == WAIT_TIMEOUT && g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
      continue;
    }
    switch (m.code) {
      case kCmdPlay:
        videoReady = audioReady = false;
        if (g.audio.id != -1) Send(g.audio.queue, kTrackPlay, 0);
        if (g.video.id != -1) Send(g.video.queue, kTrackPlay, 0);
        break;
      case kNoticeReady:
        (m.argument == 0 ? videoReady : audioReady) = true;
        if ((g.video.id == -1 || videoReady) && (g.audio.id == -1 || audioReady)) {
          ClockRun(*g.clock);
          if (g.video.id != -1) Send(g.video.queue, kTrackStart, 0);
          if (g.audio.id != -1) Send(g.audio.queue, kTrackStart, 0);
          running = true;
          SetEvent(g.done);
        }
        break;
      case kCmdPause:
        ClockPause(*g.clock);
        running = false;
        ToTracks(kTrackPause, 0);
        SetEvent(g.done);
        break;
      case kCmdForward:
      case kCmdRewind:
        ClockPause(*g.clock);
        running = true;
        ToTracks(m.code == kCmdForward ? kTrackForward : kTrackRewind, m.argument);
        SetEvent(g.done);
        break;
      case kCmdSeek:
        ClockSet(*g.clock, static_cast<std::uint32_t>(m.argument));
        ClockPause(*g.clock);
        running = m.argument != 0;
        ToTracks(kTrackSeek, m.argument);
        SetEvent(g.done);
        break;
      case kCmdCloseVideo:
        Send(g.video.queue, kTrackClose, 0);
        break;
      case kCmdCloseAudio:
        Send(g.audio.queue, kTrackClose, 0);
        break;
      case kCmdGetFrame:
        if (running || g.video.id == -1) {
          reinterpret_cast<FrameArgs*>(m.argument)->result = -1;
          SetEvent(g.done);
        } else {
          Send(g.video.queue, kTrackGetFrame, m.argument);
        }
        break;
      case kCmdSetWindow:
        if (g.video.id == -1)
          SetEvent(g.done);
        else
          Send(g.video.queue, kTrackSetWindow, m.argument);
        break;
      case kNoticeEndOfTrack:
        if (g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
        if (g.completion != nullptr)
          g.completion(g.completionUser, m.argument != 0 ? kAudioTrackEnded : kVideoTrackEnded);
        break;
      case kNoticeForwardEnd:
        if (g.trackbar != nullptr) g.trackbar(g.trackbarUser, ClockGet(*g.clock));
        if (g.completion != nullptr) g.completion(g.completionUser, kForwardReachedEnd);
        break;
      case kNoticeRewindStart:
        if (g.completion != nullptr) g.completion(g.completionUser, kRewindReachedStart);
        break;
      case kNoticeClosed:
      case kNoticeFrameDelivered:
      case kNoticeWindowSet:
        SetEvent(g.done);
        break;
      case kCmdQuit:
        SetEvent(g.done);
        return;
      default:
        break;
    }
  }
}

}  // namespace marlin
