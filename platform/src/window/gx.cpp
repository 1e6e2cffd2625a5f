// Full-screen video writes straight into the screen surface the windows draw on.

#include "platform/gx.h"

#include <mutex>

#include "internal.h"

namespace {

std::mutex gxMu;
bool gxOpen = false;
bool gxSuspended = false;

}  // namespace

int GXOpenDisplay(HWND, DWORD) {
  std::lock_guard lock(gxMu);
  if (gxOpen) return 0;
  gxOpen = true;
  gxSuspended = false;
  return 1;
}

int GXCloseDisplay() {
  std::lock_guard lock(gxMu);
  if (!gxOpen) return 0;
  gxOpen = false;
  return 1;
}

void* GXBeginDraw() {
  std::lock_guard lock(gxMu);
  if (!gxOpen || gxSuspended) return nullptr;
  return platform::win::Screen().pixels.data();
}

int GXEndDraw() {
  std::lock_guard lock(gxMu);
  if (!gxOpen) return 0;
  platform::win::MarkScreenDirty();
  return 1;
}

GXDisplayProperties GXGetDisplayProperties() {
  auto& s = platform::win::Screen();
  return GXDisplayProperties{
      static_cast<DWORD>(s.width), static_cast<DWORD>(s.height), 2, static_cast<long>(s.width) * 2, 16,
      kfDirect | kfDirect565};
}

int GXSuspend() {
  std::lock_guard lock(gxMu);
  gxSuspended = true;
  return 1;
}

int GXResume() {
  std::lock_guard lock(gxMu);
  gxSuspended = false;
  return 1;
}
