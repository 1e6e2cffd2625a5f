#pragma once
/// Full-screen video: direct access to the screen's RGB565 frame buffer.

#include "platform/window.h"

struct GXDisplayProperties {
  DWORD cxWidth;
  DWORD cyHeight;
  long cbxPitch;  // bytes between horizontally adjacent pixels
  long cbyPitch;  // bytes between rows
  long cBPP;
  DWORD ffFormat;
};

inline constexpr DWORD kfDirect565 = 0x80;
inline constexpr DWORD kfDirect = 0x20;
inline constexpr DWORD GX_FULLSCREEN = 0x01;

/// Opens the display for `hwnd`; returns 1, 0 when it is already open.
int GXOpenDisplay(HWND hwnd, DWORD flags);
int GXCloseDisplay();
/// Pointer to the top-left pixel of the screen; nullptr when the display is not open.
void* GXBeginDraw();
/// Presents the frame; returns 1.
int GXEndDraw();
GXDisplayProperties GXGetDisplayProperties();
int GXSuspend();
int GXResume();
