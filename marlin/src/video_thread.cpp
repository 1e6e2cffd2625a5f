// The VideoTrackThread: reads, decodes and presents pictures at the clock, forward and rewind play, and
// picture copies for the API.
#include "player_internal.h"

namespace marlin {

void DeliverFrame(VideoDecoder* decoder, int w, int h, FrameRequest* request, std::uint8_t* buffer,
                  int* result) {
  *result = -1;
  PlanarFrame* picture = AllocFrame(w, h);
  if (picture == nullptr) {
    request->size = 0;
    return;
  }
  if (decoder->control(decoder, 1, picture) != 0) {
    FreeFrame(picture);
    return;
  }
  if (buffer == nullptr) {
    request->width = static_cast<std::uint16_t>(w);
    request->height = static_cast<std::uint16_t>(h);
    request->format = 1;
    request->size = static_cast<std::uint32_t>(w) * h * 3 / 2;
    *result = 0;
    FreeFrame(picture);
    return;
  }
  const std::uint32_t rw = request->width, rh = request->height;
  const std::uint32_t yuvSize = rw * rh * 3 / 2;
  if (rw == 0 || rh == 0 || request->size < yuvSize) {
    FreeFrame(picture);
    return;
  }
  PlanarFrame* source = picture;
  PlanarFrame* scaled = nullptr;
  if (rw != static_cast<std::uint32_t>(w) || rh != static_cast<std::uint32_t>(h)) {
    scaled = AllocFrame(static_cast<int>(rw), static_cast<int>(rh));
    if (scaled == nullptr) {
      FreeFrame(picture);
      return;
    }
    gScaleFrame(picture, scaled);
    source = scaled;
  }
  if (request->format != 0) {
    std::memcpy(buffer, source->y, yuvSize);
    request->size = yuvSize;
  } else {
    gYUV420toRGB16Rotate(source, reinterpret_cast<std::uint16_t*>(buffer), static_cast<int>(rw),
                         static_cast<int>(rh), 0, 0, 0, 0, static_cast<int>(rw), static_cast<int>(rh),
                         request->rotation);
    request->size = rw * rh * 2;
  }
  *result = 0;
  FreeFrame(scaled);
  FreeFrame(picture);
}

void VideoTrackThread(void* argument) {
  TrackThreadContext& c = *static_cast<TrackThreadContext*>(argument);
  auto* renderer = static_cast<VideoRenderer*>(c.renderer);
  SampleSource& src = *c.source;
  TState state = TState::Idle;
  Mode mode = Mode::Normal;
  bool keyOnly = false;
  float speed = 1.0f;
  std::uint32_t previous = 0;
  int late = 0;
  bool decodedAny = false;
  auto readDecodePresent = [&]() -> bool {
    if (!SourceRead(src)) return false;
    DecodeVideo(c, renderer->getFrame(renderer));
    decodedAny = true;
    Present(c);
    return true;
  };
  for (;;) {
    Msg m{};
    bool have;
    if (state == TState::Running) {
      have = QueueTryTake(c.trackQueue, &m) == 0;
    } else {
      QueueTake(c.trackQueue, &m);
      have = true;
    }
    if (have) {
      switch (m.code) {
        case kTrackClose:
          Send(c.mainQueue, kNoticeClosed, 0);
          return;
        case kTrackStart:
          if (state == TState::Ready) {
            renderer->control(renderer, 1, nullptr);
            mode = Mode::Normal;
            state = TState::Running;
          } else if (state == TState::Running && mode != Mode::Normal) {
            state = TState::Idle;
          }
          break;
        case kTrackForward:
        case kTrackRewind: {
          const auto* a = reinterpret_cast<const FastArgs*>(m.argument);
          mode = m.code == kTrackForward ? Mode::Forward : Mode::Rewind;
          keyOnly = m.code == kTrackForward ? a->keyFramesOnly != 0 : true;
          speed = a->speed;
          previous = 0;
          state = TState::Running;
          break;
        }
        case kTrackPause:
          if (state == TState::Running) {
            renderer->control(renderer, 2, nullptr);
            state = mode == Mode::Normal ? TState::Ready : TState::Idle;
          }
          break;
        case kTrackPlay:
          if (state == TState::Idle) {
            SourceToTime(src, ClockGet(*c.clock));
            renderer->control(renderer, 4, nullptr);
            if (!readDecodePresent()) {
              // Nothing left to play: reported once, and ready all the same so that MP_Play returns.
              Send(c.mainQueue, kNoticeEndOfTrack, 0);
              Send(c.mainQueue, kNoticeReady, 0);
              break;
            }
          }
          late = 0;
          Send(c.mainQueue, kNoticeReady, 0);
          state = TState::Ready;
          break;
        case kTrackSeek: {
          SourceToTime(src, static_cast<std::uint32_t>(m.argument));
          std::uint32_t t = 0;
          gGetTimeOfSampleNum(src.session, src.next, &t);
          renderer->control(renderer, 4, nullptr);
          state = TState::Idle;
          mode = Mode::Normal;
          if (!readDecodePresent()) {
            Send(c.mainQueue, kNoticeEndOfTrack, 0);
            break;
          }
          ClockSet(*c.clock, t);
          break;
        }
        case kTrackGetFrame: {
          auto* a = reinterpret_cast<FrameArgs*>(m.argument);
          PlanarFrame* f = renderer->getFrame(renderer);
          if (!decodedAny || f == nullptr)
            a->result = -1;
          else
            DeliverFrame(VDec(c.decoder), f->width, f->height, a->request, a->buffer, &a->result);
          Send(c.mainQueue, kNoticeFrameDelivered, 0);
          break;
        }
        case kTrackSetWindow:
          renderer->control(renderer, 3, reinterpret_cast<void*>(m.argument));
          Send(c.mainQueue, kNoticeWindowSet, 0);
          break;
        default:
          break;
      }
      continue;
    }

    // One step of playback.
    if (mode != Mode::Normal && keyOnly) {
      if (!SourceSync(src, mode == Mode::Forward ? 1 : -1)) {
        state = TState::Idle;
        Send(c.mainQueue, mode == Mode::Forward ? kNoticeForwardEnd : kNoticeRewindStart, 0);
        continue;
      }
    }
    const DWORD r0 = GetTickCount();
    const bool got = SourceRead(src);
    gStats[3] += Elapsed(r0);
    if (!got) {
      state = TState::Idle;
      Send(c.mainQueue, mode == Mode::Forward && !keyOnly ? kNoticeForwardEnd : kNoticeEndOfTrack, 0);
      continue;
    }
    if (mode != Mode::Normal) ClockSet(*c.clock, src.timeMs);
    bool present = true;
    if (mode == Mode::Normal && static_cast<std::int32_t>(src.timeMs - ClockGet(*c.clock)) < 0) {
      // Late: decoded for reference only; after five in a row, skip to the next key frame.
      present = false;
      DecodeVideo(c, nullptr);
      if (++late == 5) {
        late = 0;
        SourceSync(src, 1);
      }
    } else {
      late = 0;
      DecodeVideo(c, renderer->getFrame(renderer));
      decodedAny = true;
    }
    if (present) {
      std::uint32_t wait;
      if (mode == Mode::Normal) {
        wait = src.timeMs - ClockGet(*c.clock);
      } else {
        wait = FastWaitMs(mode == Mode::Forward && !keyOnly, src.timeMs, previous, speed);
      }
      if (static_cast<std::int32_t>(wait) > 0) WaitUnlessCommand(c.trackQueue, wait);
      Present(c);
      if (mode == Mode::Normal && gPresentObserver != nullptr) gPresentObserver(src.timeMs);
    }
    previous = src.timeMs;
  }
}

}  // namespace marlin
