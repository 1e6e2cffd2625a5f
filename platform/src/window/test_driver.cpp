// Test driver: injected input, the virtual clock, PNG screenshots and the screen as text.

#include "platform/test_driver.h"

#include <png.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "internal.h"
#include "platform/display.h"
#include "platform/text.h"

namespace platform::testdriver {
namespace {

std::atomic<bool> enabled{false};

std::string Quote(const std::u16string& s) {
  std::string out = "\"";
  for (char c : Utf16ToUtf8(s)) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out.push_back(c);
  }
  return out + "\"";
}

std::string RectText(const RECT& r) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d,%d,%d,%d", static_cast<int>(r.left), static_cast<int>(r.top),
                static_cast<int>(r.right), static_cast<int>(r.bottom));
  return buf;
}

std::u16string ClassOf(HWND h) {
  WCHAR buf[128];
  int n = GetClassName(h, buf, 128);
  return std::u16string(buf, static_cast<std::size_t>(n));
}

std::u16string TextOf(HWND h) {
  int n = GetWindowTextLength(h);
  std::u16string s(static_cast<std::size_t>(n) + 1, u'\0');
  n = GetWindowText(h, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

}  // namespace

void Enable() {
  enabled = true;
  win::SetVirtualClock(true);
}

bool IsEnabled() {
  return enabled;
}

void KeyDown(UINT vk) {
  win::InjectKey(vk, true);
}
void KeyUp(UINT vk) {
  win::InjectKey(vk, false);
}
void PressKey(UINT vk) {
  KeyDown(vk);
  KeyUp(vk);
}

UINT KeyFromName(const std::string& name) {
  static const std::map<std::string, UINT> names = {
      {"Up", VK_UP},           {"Down", VK_DOWN},        {"Left", VK_LEFT},        {"Right", VK_RIGHT},
      {"Enter", VK_RETURN},    {"Action", VK_RETURN},    {"Back", VK_TBACK},       {"Escape", VK_ESCAPE},
      {"SoftLeft", VK_TSOFT1}, {"SoftRight", VK_TSOFT2}, {"Left-Soft", VK_TSOFT1}, {"Right-Soft", VK_TSOFT2},
      {"Star", VK_TSTAR},      {"*", VK_TSTAR},          {"Hash", VK_TPOUND},      {"#", VK_TPOUND},
      {"Talk", VK_TTALK},      {"End", VK_TEND},         {"Space", VK_SPACE},
      {"PageUp", VK_PRIOR},    {"PageDown", VK_NEXT},    {"Home", VK_HOME},        {"EndKey", VK_END}};
  auto it = names.find(name);
  if (it != names.end()) return it->second;
  if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') return static_cast<UINT>(name[0]);
  if (name.size() >= 2 && name[0] == 'F') {
    int n = std::atoi(name.c_str() + 1);
    if (n >= 1 && n <= 12 && name.size() <= 3) return VK_F1 + static_cast<UINT>(n - 1);
  }
  return 0;
}

void Click(int x, int y) {
  int w = ScreenWidth(), h = ScreenHeight();
  if (y >= h - kSoftKeyBarHeight && y < h && x >= 0 && x < w) {
    PressKey(x < w / 2 ? VK_TSOFT1 : VK_TSOFT2);
    return;
  }
  win::InjectClick(x, y);
}

int RunUntilIdle(int limit) {
  int n = 0;
  MSG msg;
  while (n < limit && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the program's own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessage(&msg);
    ++n;
  }
  return n;
}

void RunFor(DWORD ms) {
  std::uint64_t target = static_cast<std::uint64_t>(WindowClockMs()) + ms;
  RunUntilIdle();
  for (int guard = 0; guard < 1000000; ++guard) {
    std::uint64_t due = 0;
    if (!win::NextTimerDue(&due) || due > target) break;
    win::AdvanceVirtualClock(static_cast<DWORD>(std::max<std::uint64_t>(due, WindowClockMs())));
    if (RunUntilIdle() == 0 && due <= WindowClockMs()) {
      // A timer of another thread; give it a moment.
      std::this_thread::yield();
    }
  }
  win::AdvanceVirtualClock(static_cast<DWORD>(target));
  RunUntilIdle();
}

bool SaveScreenshot(const std::string& path) {
  const win::Surface& s = win::Screen();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(static_cast<std::size_t>(s.width) * 3);
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)))
    ok = false;
  else if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < s.height; ++y) {
      for (int x = 0; x < s.width; ++x) {
        COLORREF c = win::FromRgb565(s.pixels[static_cast<std::size_t>(y) * s.width + x]);
        row[static_cast<std::size_t>(x) * 3] = GetRValue(c);
        row[static_cast<std::size_t>(x) * 3 + 1] = GetGValue(c);
        row[static_cast<std::size_t>(x) * 3 + 2] = GetBValue(c);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  bool closed = std::fclose(f) == 0;
  if (!ok || !closed) std::remove(path.c_str());
  return ok && closed;
}

bool ReadPng(const std::string& path, int* width, int* height, std::vector<std::uint32_t>* rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  if (image.width > 8192 || image.height > 8192) {
    png_image_free(&image);
    return false;
  }
  std::vector<png_byte> buf(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buf.data(), 0, nullptr)) return false;
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  rgb->resize(static_cast<std::size_t>(*width) * *height);
  for (std::size_t i = 0; i < rgb->size(); ++i)
    (*rgb)[i] = (static_cast<std::uint32_t>(buf[i * 3]) << 16) | (buf[i * 3 + 1] << 8) | buf[i * 3 + 2];
  return true;
}

std::uint32_t ScreenPixel(int x, int y) {
  const win::Surface& s = win::Screen();
  if (x < 0 || y < 0 || x >= s.width || y >= s.height) return 0;
  COLORREF c = win::FromRgb565(s.pixels[static_cast<std::size_t>(y) * s.width + x]);
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

std::string DescribeScreen() {
  std::string out;
  out += "screen " + std::to_string(ScreenWidth()) + "x" + std::to_string(ScreenHeight()) + "\n";
  HWND fg = GetForegroundWindow();
  if (fg)
    out += "foreground class=" + Utf16ToUtf8(ClassOf(fg)) + " title=" + Quote(TextOf(fg)) + "\n";
  else
    out += "foreground none\n";
  // The focus that keys go to: the focus of the foreground window's thread.
  HWND focus = win::ForegroundFocus();
  if (focus)
    out += "focus class=" + Utf16ToUtf8(ClassOf(focus)) + " id=" + std::to_string(GetDlgCtrlID(focus)) + "\n";
  else
    out += "focus none\n";
  for (const auto& w : win::VisibleWindows()) {
    std::string indent(static_cast<std::size_t>(w.depth) * 2, ' ');
    out += indent + "window class=" + Utf16ToUtf8(w.className) + " id=" + std::to_string(w.id) +
           " rect=" + RectText(w.screenRect) + " text=" + Quote(w.text) + "\n";
    std::string extra;
    DWORD handled = 0;
    // A window whose thread does not answer within a second adds nothing.
    if (w.className != u"tray" &&
        SendMessageTimeout(w.hwnd, WM_PLATFORM_DESCRIBE, 0, reinterpret_cast<LPARAM>(&extra), SMTO_NORMAL,
                           1000, &handled) &&
        handled) {
      std::size_t start = 0;
      while (start < extra.size()) {
        std::size_t end = extra.find('\n', start);
        if (end == std::string::npos) end = extra.size();
        if (end > start) out += indent + "  " + extra.substr(start, end - start) + "\n";
        start = end + 1;
      }
    }
  }
  return out;
}

}  // namespace platform::testdriver
