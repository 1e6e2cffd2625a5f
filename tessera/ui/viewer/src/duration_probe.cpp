#include "viewer/duration_probe.h"

#include "audio/clip_player.h"
#include "imaging/gif.h"
#include "mms/byte_stream.h"
#include "viewer/video_playback.h"

namespace viewer {

void InstallMediaHooks(audio::AudioClipLoader* audio) {
  static PlaybackDurationProbe* probe = nullptr;
  delete probe;
  probe = new PlaybackDurationProbe(audio, &VideoPlayback::Get());
  presentation::SetDefaultDurationProbe(probe);
  InstallVideoThumbnails();
}

std::uint32_t GifAnimationMs(std::u16string_view path) {
  auto file = mms::ByteStream::OpenFile(std::u16string(path), mms::ByteStream::kRead);
  if (!file) return 0;
  std::unique_ptr<imaging::GifDecoder> decoder;
  if (imaging::GifDecoder::Open(file.get(), &decoder) != imaging::kGifOk) return 0;
  imaging::GifPrescan scan;
  if (decoder->Prescan(&scan) != imaging::kGifOk || scan.frames < 2) return 0;
  return scan.totalDelay * 10;
}

std::uint32_t PlaybackDurationProbe::DurationMs(std::u16string_view path, presentation::MediaKind kind) {
  using presentation::MediaClass;
  const std::u16string file(path);
  switch (static_cast<MediaClass>(presentation::KindClass(kind))) {
    case MediaClass::Audio: {
      if (!audio_) return 0;
      const int ms = audio_->ClipDuration(file);
      return ms > 0 ? static_cast<std::uint32_t>(ms) : 0;
    }
    case MediaClass::Image:
      return kind == presentation::kKindGif ? GifAnimationMs(file) : 0;
    case MediaClass::Video: {
      std::uint32_t ms = 0;
      if (!video_ || !video_->MediaInfo(file, &ms, nullptr, nullptr)) return 0;
      return ms;
    }
    case MediaClass::Text:
      return 0;
  }
  return 0;
}

}  // namespace viewer
