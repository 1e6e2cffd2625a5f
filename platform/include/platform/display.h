#pragma once
/// The display the window system presents its screen on: an SDL2 desktop window, or none
/// (headless) when there is no display or TESSERA_DISPLAY=headless.

#include <string>

namespace platform {

/// Screen size in pixels: 176 x 220, or TESSERA_SCREEN ("240x320").
int ScreenWidth();
int ScreenHeight();

/// True when no desktop window is used.
bool DisplayIsHeadless();

/// Closes the desktop window (if any). Further drawing goes to the screen surface only.
void DisplayClose();

/// Device root of this process: TESSERA_ROOT, else XDG_DATA_HOME/tessera/device, else
/// ~/.local/share/tessera/device.
std::string WindowDeviceRoot();

}  // namespace platform
