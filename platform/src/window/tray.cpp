// The tray: a system window along the top of the screen that the platform paints itself.

#include <memory>

#include "platform/display.h"
#include "window_state.h"

namespace platform::win {

void InvalidateTrayLocked() {
  if (Window* t = FindLocked(S().tray)) AddUpdateLocked(t, t->rect, true);
}

void CreateTrayLocked() {
  if (S().tray) return;
  auto w = std::make_unique<Window>();
  std::uint32_t serial = S().nextSerial++;
  w->handle = reinterpret_cast<HWND>(static_cast<std::uintptr_t>((kPid << 32) | (serial << 2)));
  auto cls = std::make_shared<WndClass>(
      WndClass{u"tray", 0, DefWindowProc, 0, nullptr, GetSysColorBrush(COLOR_HIGHLIGHT), nullptr});
  w->cls = cls;
  w->title = u"tray";
  w->style = WS_VISIBLE | WS_POPUP;
  w->exStyle = 0;
  w->rect = RECT{0, 0, ScreenWidth(), kTrayHeight};
  w->proc = DefWindowProc;
  w->instance = nullptr;
  w->system = true;
  w->hasUpdate = true;
  w->update = RECT{0, 0, ScreenWidth(), kTrayHeight};
  S().tray = w->handle;
  S().tops.insert(S().tops.begin(), w.get());
  S().windows[serial] = std::move(w);
}

/// Paints the tray when it needs it; runs on whichever thread pumps messages.
void PaintTrayIfNeeded() {
  std::u16string title;
  Region clip;
  {
    std::lock_guard lock(S().mu);
    Window* t = FindLocked(S().tray);
    if (!t || !t->hasUpdate) return;
    t->hasUpdate = false;
    if (Window* fg = FindLocked(S().foreground)) title = fg->title;
    clip.push_back(t->rect);
  }
  RECT rc{0, 0, ScreenWidth(), kTrayHeight};
  HDC hdc = CreateSurfaceDC(&Screen(), POINT{0, 0}, std::move(clip), nullptr);
  PaintTray(hdc, rc, title);
  ReleaseSurfaceDC(hdc);
  MarkScreenDirty();
}

}  // namespace platform::win
