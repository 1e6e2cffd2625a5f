#pragma once
// Shared internals of the window system: the screen surface, regions, device contexts
// made for windows, the display backend hooks and the input entry points.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform::win {

/// An RGB565 pixel surface; rows are `width` pixels apart.
struct Surface {
  int width = 0;
  int height = 0;
  std::vector<std::uint16_t> pixels;
};

/// Non-overlapping rectangles in surface coordinates.
using Region = std::vector<RECT>;

inline bool RectEmpty(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}
inline RECT Intersect(const RECT& a, const RECT& b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (RectEmpty(r)) return RECT{0, 0, 0, 0};
  return r;
}
/// Removes `cut` from every rectangle of `region`.
void Subtract(Region& region, const RECT& cut);
/// Keeps only the parts of `region` inside `clip`.
void IntersectRegion(Region& region, const RECT& clip);

inline std::uint16_t ToRgb565(COLORREF c) {
  return static_cast<std::uint16_t>(((GetRValue(c) >> 3) << 11) | ((GetGValue(c) >> 2) << 5) |
                                    (GetBValue(c) >> 3));
}
inline COLORREF FromRgb565(std::uint16_t p) {
  int r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
  return RGB((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

/// The screen; created at the configured size on first use, never freed.
Surface& Screen();
/// The screen changed; the display presents it at its next pump.
void MarkScreenDirty();

/// A DC drawing on `surface` with its origin at `origin` and clipped to `clip`.
HDC CreateSurfaceDC(Surface* surface, POINT origin, Region clip, HWND hwnd);
/// Frees a DC made by CreateSurfaceDC or GetDC; false when it is not one.
bool ReleaseSurfaceDC(HDC hdc);

/// Display backend: called from message loops of the display thread.
void DisplayPump();
/// True when the current thread should wake up regularly to pump the display.
bool DisplayNeedsPolling();
/// Raises the desktop window (another process asked for the foreground).
void DisplayRaise();

/// Input from the display or the test driver.
void InjectKey(UINT vk, bool down);
void InjectClick(int x, int y);

/// Virtual clock of the test driver.
bool VirtualClockOn();
void SetVirtualClock(bool on);
void AdvanceVirtualClock(DWORD toMs);
/// Earliest due time of any timer, or false when there is none.
bool NextTimerDue(std::uint64_t* due);

/// Top-level window of this process by class and/or title.
HWND FindLocalWindow(LPCWSTR className, LPCWSTR windowName);

/// Cross-process windows (ipc.cpp).
bool IsRemote(HWND hwnd);
HWND RemoteFind(LPCWSTR className, LPCWSTR windowName);
bool RemoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
bool RemoteSetForeground(HWND hwnd);
void EnsureIpcListener();
/// Answers one request frame of another process (the listener's parser).
std::vector<std::uint8_t> ServeIpcRequest(const std::vector<std::uint8_t>& body);

/// Text of the tray window's title bar (the foreground window's title).
void PaintTray(HDC hdc, const RECT& rc, const std::u16string& title);

/// Snapshot used by the screen description.
struct WindowInfo {
  HWND hwnd;
  int depth;
  std::u16string className;
  std::u16string text;
  int id;
  RECT screenRect;
};
std::vector<WindowInfo> VisibleWindows();
/// The focused window of the foreground window's thread, when it lies inside it.
HWND ForegroundFocus();

}  // namespace platform::win
