#pragma once
/// Playing time of media files from the decoders themselves: sound clips through the clip
/// decoders, GIF animations from their frame delays, MP4/3GP clips through the player.

#include <string>

#include "presentation/message_document.h"

namespace audio {
class AudioClipLoader;
}

namespace viewer {

class VideoPlayback;

class PlaybackDurationProbe final : public presentation::MediaDurationProbe {
 public:
  PlaybackDurationProbe(audio::AudioClipLoader* audio, VideoPlayback* video) : audio_(audio), video_(video) {}
  std::uint32_t DurationMs(std::u16string_view path, presentation::MediaKind kind) override;

 private:
  audio::AudioClipLoader* audio_;
  VideoPlayback* video_;
};

/// Start-up wiring: new documents ask the decoders for playing times (sound through
/// `audio`, clips through VideoPlayback::Get()), and the imaging library makes video
/// thumbnails from a clip's first picture.
void InstallMediaHooks(audio::AudioClipLoader* audio);

/// Animation time of a GIF file: the sum of its frame delays in ms; 0 for a single frame or
/// a file that cannot be read.
std::uint32_t GifAnimationMs(std::u16string_view path);

}  // namespace viewer
