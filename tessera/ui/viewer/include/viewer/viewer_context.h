#pragma once
/// What the viewer screens need from the program: the resource library for texts, menus and
/// dialogs, the process's sound and video players, and the folders parts are saved into.

#include <string>

#include "platform/gdi.h"
#include "platform/types.h"

namespace audio {
class AudioClipLoader;
}
namespace ui {
class ResourceLibrary;
}

namespace viewer {

class VideoPlayback;

struct ViewerContext {
  const ui::ResourceLibrary* resources = nullptr;
  audio::AudioClipLoader* audio = nullptr;
  VideoPlayback* video = nullptr;
  /// Folders that saved parts go to, each ending in the path separator ("PicturePath",
  /// "SoundPath", "VideoPath", "UnknownPath").
  std::u16string picturePath, soundPath, videoPath, unknownPath;
  /// The canned-texts file a text part is saved into ("CannedtextFile").
  std::u16string cannedTextsFile;
};

/// The bar of the progress strip at the bottom of a client area: from x = 2 to right - 2,
/// from bottom - 16 to bottom - 4.
RECT ProgressBarRect(const RECT& client);
/// Draws the bar's frame and its filled part for position / duration (nothing for a zero
/// duration): filled from left + 1 to left + 1 + width × min(P, D) / D, white after it.
void DrawProgressBar(HDC dc, const RECT& bar, std::uint64_t position, std::uint64_t duration);
/// The filled width for a bar of `width` pixels.
int ProgressFill(int width, std::uint64_t position, std::uint64_t duration);

/// Changes the text of the soft key that sends `command` on the window's menu bar.
void SetSoftKeyLabel(HWND window, UINT command, const std::u16string& text);

}  // namespace viewer
