#pragma once
/// The media gallery: the picker through which the composer chooses a picture, a sound, a
/// video or a canned text, and through which it asks the camera for a new photograph or clip.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/window.h"

namespace audio {
class AudioClipLoader;
}

namespace gallery {

/// Runs the gallery modally over `owner`. The chosen file's path (or, in the canned-text
/// mode, the chosen text), or nullopt when cancelled; `kindMask` in/out (MediaKind mask:
/// class in the high 16 bits, 0xFFFF in the low 16 bits), telling on return the kind chosen.
std::optional<std::u16string> RunGallery(HWND owner, std::uint32_t* kindMask);

/// The process's sound clip player, which the gallery plays sounds with (null: none). The
/// program sets it at start-up.
void SetAudioLoader(audio::AudioClipLoader* loader);

}  // namespace gallery
