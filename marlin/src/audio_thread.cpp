// The AudioTrackThread: reads and decodes sound and keeps the renderer supplied; its output is the clock.
#include "player_internal.h"

namespace marlin {

void AudioTrackThread(void* argument) {
  TrackThreadContext& c = *static_cast<TrackThreadContext*>(argument);
  auto* renderer = static_cast<AudioRenderer*>(c.renderer);
  SampleSource& src = *c.source;
  TState state = TState::Idle;
  // The last sample is decoded and handed to the device; the end of the track is told once the
  // device has played it.
  bool draining = false;
  for (;;) {
    Msg m{};
    bool have;
    if (state == TState::Running && draining) {
      if (AudioRendererDrained(renderer)) {
        Send(c.mainQueue, kNoticeEndOfTrack, 1);
        draining = false;
        state = TState::Idle;
        continue;
      }
      WaitUnlessCommand(c.trackQueue, kDrainPollMs);
      have = QueueTryTake(c.trackQueue, &m) == 0;
      if (!have) continue;
    } else if (state == TState::Running) {
      have = QueueTryTake(c.trackQueue, &m) == 0;
    } else {
      QueueTake(c.trackQueue, &m);
      have = true;
    }
    if (have) {
      switch (m.code) {
        case kTrackClose:
          Send(c.mainQueue, kNoticeClosed, 1);
          return;
        case kTrackStart:
          if (state == TState::Ready) {
            gAudioStartMs = ClockGet(*c.clock);
            renderer->control(renderer, 1, 0);
            state = TState::Running;
          }
          break;
        case kTrackPause:
          if (state == TState::Running) {
            renderer->control(renderer, 2, 0);
            state = TState::Ready;
          }
          break;
        case kTrackForward:
        case kTrackRewind:
          renderer->control(renderer, 2, 0);
          state = TState::Idle;
          draining = false;
          break;
        case kTrackSeek:
          renderer->control(renderer, 2, 0);
          state = TState::Idle;
          draining = false;
          // A position past the end of the sound ends the track now.
          if (!SourceToTime(src, static_cast<std::uint32_t>(m.argument)))
            Send(c.mainQueue, kNoticeEndOfTrack, 1);
          break;
        case kTrackPlay:
          if (state == TState::Idle) {
            SourceToTime(src, ClockGet(*c.clock));
            SubmitPending(c);
            renderer->control(renderer, 3, 0);
            c.start->skipBytes = src.next == 1 ? c.start->primingBytes : 0;
            draining = false;
            int blocks = 0, last = 0;
            do {
              if (!SourceRead(src)) {
                // A track shorter than the decode-ahead: all of it waits on the device.
                SubmitPending(c);
                AudioRendererFlush(renderer);
                draining = true;
                break;
              }
              last = DecodeAudioSample(c);
              blocks += last;
            } while (blocks < 16 && 16 - blocks >= last);
          }
          Send(c.mainQueue, kNoticeReady, 1);
          state = TState::Ready;
          break;
        default:
          break;
      }
      continue;
    }
    const DWORD r0 = GetTickCount();
    const bool got = SourceRead(src);
    gStats[6] += Elapsed(r0);
    if (!got) {
      SubmitPending(c);
      AudioRendererFlush(renderer);
      draining = true;
      continue;
    }
    DecodeAudioSample(c);
  }
}

}  // namespace marlin
