// The screen surface and the display it is presented on: an SDL2 desktop window scaled up
// (keys and soft-key clicks become phone keys), or nothing at all when headless.

#include "platform/text.h"
#include "platform/paths.h"
#include "platform/display.h"

#include <SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "internal.h"
#include "platform/test_driver.h"

namespace platform {
namespace {

struct ScreenSize {
  int width = 176;
  int height = 220;
};

ScreenSize ReadScreenSize() {
  ScreenSize s;
  if (const char* env = std::getenv("TESSERA_SCREEN")) {
    int w = 0, h = 0;
    char x = 0;
    if (std::sscanf(env, "%d%c%d", &w, &x, &h) == 3 && (x == 'x' || x == 'X') && w >= 64 && h >= 64 &&
        w <= 2048 && h <= 2048) {
      s.width = w;
      s.height = h;
    }
  }
  return s;
}

const ScreenSize& Size() {
  static const ScreenSize size = ReadScreenSize();
  return size;
}

struct Display {
  std::mutex mu;
  bool decided = false;
  bool headless = true;
  std::thread::id owner;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int scale = 3;
  std::atomic<bool> dirty{true};
  Uint32 lastPresent = 0;
};

Display& D() {
  static Display* d = new Display;
  return *d;
}

bool WantHeadless() {
  if (testdriver::IsEnabled()) return true;
  const char* mode = std::getenv("TESSERA_DISPLAY");
  if (mode && std::strcmp(mode, "headless") == 0) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return !(x11 && *x11) && !(wayland && *wayland);
}

/// Opens the desktop window on first use; false when headless.
bool EnsureOpenLocked() {
  Display& d = D();
  if (d.decided) return !d.headless && d.owner == std::this_thread::get_id();
  d.decided = true;
  d.headless = true;
  if (WantHeadless()) return false;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  if (const char* s = std::getenv("TESSERA_SCALE")) d.scale = std::clamp(std::atoi(s), 1, 8);
  int w = Size().width, h = Size().height;
  // TESSERA_WINDOW_POS=X,Y places the desktop window (so two phones can stand side by side);
  // TESSERA_WINDOW_TITLE names it.
  int x = SDL_WINDOWPOS_UNDEFINED, y = SDL_WINDOWPOS_UNDEFINED;
  if (const char* pos = std::getenv("TESSERA_WINDOW_POS")) {
    int px = 0, py = 0;
    char comma = 0;
    if (std::sscanf(pos, "%d%c%d", &px, &comma, &py) == 3 && comma == ',' && px >= -16384 && px <= 16384 &&
        py >= -16384 && py <= 16384) {
      x = px;
      y = py;
    }
  }
  const char* title = std::getenv("TESSERA_WINDOW_TITLE");
  d.window = SDL_CreateWindow(title && *title ? title : "Tessera", x, y, w * d.scale, h * d.scale, 0);
  if (d.window) d.renderer = SDL_CreateRenderer(d.window, -1, 0);
  if (d.renderer)
    d.texture = SDL_CreateTexture(d.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, w, h);
  if (!d.texture) {
    if (d.renderer) SDL_DestroyRenderer(d.renderer);
    if (d.window) SDL_DestroyWindow(d.window);
    d.renderer = nullptr;
    d.window = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  d.headless = false;
  d.owner = std::this_thread::get_id();
  return true;
}

UINT MapKey(const SDL_Keysym& k) {
  bool shift = (k.mod & KMOD_SHIFT) != 0;
  switch (k.sym) {
    case SDLK_F1:
      return VK_TSOFT1;
    case SDLK_F2:
      return VK_TSOFT2;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return VK_RETURN;
    case SDLK_ESCAPE:
    case SDLK_BACKSPACE:
      return VK_TBACK;
    case SDLK_UP:
      return VK_UP;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_PAGEUP:
      return VK_PRIOR;
    case SDLK_PAGEDOWN:
      return VK_NEXT;
    case SDLK_HOME:
      return VK_HOME;
    case SDLK_END:
      return VK_END;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_ASTERISK:
    case SDLK_KP_MULTIPLY:
      return VK_TSTAR;
    case SDLK_HASH:
      return VK_TPOUND;
    default:
      break;
  }
  if (k.sym >= SDLK_0 && k.sym <= SDLK_9) {
    if (shift && k.sym == SDLK_8) return VK_TSTAR;
    if (shift && k.sym == SDLK_3) return VK_TPOUND;
    return static_cast<UINT>('0' + (k.sym - SDLK_0));
  }
  if (k.sym >= SDLK_KP_1 && k.sym <= SDLK_KP_9) return static_cast<UINT>('1' + (k.sym - SDLK_KP_1));
  if (k.sym == SDLK_KP_0) return '0';
  return 0;
}

void CloseAllTopLevel() {
  // The desktop window was closed: every top-level window gets WM_CLOSE.
  bool any = false;
  for (const auto& info : win::VisibleWindows()) {
    if (info.depth != 0 || info.className == u"tray") continue;
    if (GetWindow(info.hwnd, GW_OWNER)) continue;
    PostMessage(info.hwnd, WM_CLOSE, 0, 0);
    any = true;
  }
  if (!any) PostQuitMessage(0);
}

}  // namespace

int ScreenWidth() {
  return Size().width;
}
int ScreenHeight() {
  return Size().height;
}

bool DisplayIsHeadless() {
  std::lock_guard lock(D().mu);
  if (!D().decided) return WantHeadless();
  return D().headless;
}

void DisplayClose() {
  std::lock_guard lock(D().mu);
  Display& d = D();
  if (d.headless || !d.window) return;
  SDL_DestroyTexture(d.texture);
  SDL_DestroyRenderer(d.renderer);
  SDL_DestroyWindow(d.window);
  d.texture = nullptr;
  d.renderer = nullptr;
  d.window = nullptr;
  d.headless = true;
  SDL_Quit();
}

std::string WindowDeviceRoot() { return platform::Utf16ToUtf8(platform::DeviceRoot()); }

namespace win {

Surface& Screen() {
  static Surface* s = [] {
    auto* s = new Surface;
    s->width = Size().width;
    s->height = Size().height;
    s->pixels.assign(static_cast<std::size_t>(s->width) * s->height, 0);
    return s;
  }();
  return *s;
}

void MarkScreenDirty() {
  D().dirty = true;
}

bool DisplayNeedsPolling() {
  std::lock_guard lock(D().mu);
  return D().decided && !D().headless && D().owner == std::this_thread::get_id();
}

void DisplayRaise() {
  std::lock_guard lock(D().mu);
  if (D().window) SDL_RaiseWindow(D().window);
}

void DisplayPump() {
  std::vector<SDL_Event> events;
  bool decided;
  {
    std::lock_guard lock(D().mu);
    decided = D().decided;
  }
  // The desktop window belongs to the first thread that shows a window of its own, not to
  // a worker that merely pumps messages. (The window lock is taken before the display lock,
  // never inside it.)
  if (!decided && !ThreadHasVisibleTopLevel()) return;
  {
    std::lock_guard lock(D().mu);
    if (!EnsureOpenLocked()) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) events.push_back(e);
  }
  int w = Size().width, h = Size().height;
  for (const SDL_Event& e : events) {
    switch (e.type) {
      case SDL_QUIT:
        CloseAllTopLevel();
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (UINT vk = MapKey(e.key.keysym)) InjectKey(vk, e.type == SDL_KEYDOWN);
        break;
      case SDL_MOUSEBUTTONDOWN: {
        if (e.button.button != SDL_BUTTON_LEFT) break;
        int x = e.button.x / D().scale, y = e.button.y / D().scale;
        if (y >= h - kSoftKeyBarHeight && y < h) {
          UINT vk = x < w / 2 ? VK_TSOFT1 : VK_TSOFT2;
          InjectKey(vk, true);
          InjectKey(vk, false);
        } else {
          InjectClick(x, y);
        }
        break;
      }
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN ||
            e.window.event == SDL_WINDOWEVENT_RESTORED)
          D().dirty = true;
        break;
      default:
        break;
    }
  }
  std::lock_guard lock(D().mu);
  Display& d = D();
  if (d.headless || !d.texture) return;
  // Present on every change, and now and then regardless, since some window systems
  // lose the first frame before the window is mapped.
  Uint32 now = SDL_GetTicks();
  if (!d.dirty.exchange(false) && now - d.lastPresent < 500) return;
  d.lastPresent = now;
  SDL_UpdateTexture(d.texture, nullptr, Screen().pixels.data(), Screen().width * 2);
  SDL_RenderClear(d.renderer);
  SDL_RenderCopy(d.renderer, d.texture, nullptr, nullptr);
  SDL_RenderPresent(d.renderer);
}

}  // namespace win
}  // namespace platform
