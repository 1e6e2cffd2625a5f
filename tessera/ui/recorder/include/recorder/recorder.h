#pragma once
/// The sound recorder (dialog 102, bar 130): records the microphone into a WAV file of the
/// message's folder (or AMR through "amr.enc"), lets the user hear it and hands it back.
#include <string>

#include "platform/window.h"

namespace audio {
class AudioClipLoader;
}

namespace recorder {

/// Runs the recorder modally over `owner`; `folder` ends with the separator. 1 with
/// `*result` naming the recording (AMR, or WAV when no conversion was possible), 0 when
/// cancelled (the working file is then gone).
int RunRecorder(HWND owner, const std::u16string& folder, std::u16string* result, int number);

/// The player the recorder plays a recording back with (null: none; the review step then
/// passes straight on). The program sets it at start-up.
void SetAudioLoader(audio::AudioClipLoader* loader);

}  // namespace recorder
