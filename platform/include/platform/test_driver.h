#pragma once
/// Test driver for automated UI tests: key injection, a virtual clock for timers, screenshots
/// and a text description of the screen. Off until Enable() is called; forces headless.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform::testdriver {

/// Switches the window system to the headless display and the virtual clock (starting at 0).
void Enable();
bool IsEnabled();

/// Queues a key press / release for the focused window of the foreground window.
void KeyDown(UINT vk);
void KeyUp(UINT vk);
void PressKey(UINT vk);
/// Parses a key name ("Down", "Enter", "Back", "Left", "Right", "Up", "SoftLeft",
/// "SoftRight", "Star", "Hash", "0".."9", "F1"..) to a virtual key; 0 when unknown.
UINT KeyFromName(const std::string& name);
/// A tap on the screen at (x, y); taps on the soft-key bar press the soft keys.
void Click(int x, int y);

/// Dispatches this thread's messages (and due timers) until none is left or `limit`
/// messages have run; returns the number dispatched.
int RunUntilIdle(int limit = 100000);
/// Advances the virtual clock by `ms`, firing each timer when it falls due, dispatching
/// messages in between.
void RunFor(DWORD ms);

/// Writes the screen as an 8-bit RGB PNG; false on failure.
bool SaveScreenshot(const std::string& path);
/// Reads a PNG into 0xRRGGBB pixels; false on failure.
bool ReadPng(const std::string& path, int* width, int* height, std::vector<std::uint32_t>* rgb);
/// Screen pixel at (x, y) as 0xRRGGBB (expanded from RGB565).
std::uint32_t ScreenPixel(int x, int y);

/// The screen as text: foreground window and title, focus, then every visible window
/// (class, id, rectangle, text) indented by depth, with lines windows add for themselves.
std::string DescribeScreen();

}  // namespace platform::testdriver
