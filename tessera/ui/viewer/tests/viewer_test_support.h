#pragma once
// Helpers of the viewer tests: a host window that records the messages it gets, media files
// made on the spot (GIF animations, text parts, WAV clips, clips made by ffmpeg) and a
// document built from them.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "imaging/gif.h"
#include "mms/byte_stream.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform/window.h"
#include "ui/resource_library.h"

namespace viewer_test {

namespace fs = std::filesystem;

struct Posted {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  DWORD at;  // window clock when it arrived
};

/// A top-level window that keeps every user message (>= WM_USER) and tap it receives.
class Host {
 public:
  Host() {
    static const bool registered = [] {
      WNDCLASS wc{};
      wc.lpfnWndProc = &Host::Proc;
      wc.lpszClassName = u"ViewerTestHost";
      return RegisterClass(&wc) != 0;
    }();
    (void)registered;
    hwnd = CreateWindowEx(0, u"ViewerTestHost", u"Host", WS_VISIBLE, 0, 20, 176, 176, nullptr, nullptr,
                          nullptr, nullptr);
    SetWindowLong(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Host() { DestroyWindow(hwnd); }
  std::vector<Posted> Of(UINT msg) const {
    std::vector<Posted> out;
    for (const auto& p : log)
      if (p.msg == msg) out.push_back(p);
    return out;
  }
  /// Runs `script` when the message posted by Later() is dispatched, which may be inside a
  /// modal loop (a message box) that the test itself started.
  void Later(std::function<void()> script) {
    script_ = std::move(script);
    PostMessage(hwnd, kScript, 0, 0);
  }
  HWND hwnd = nullptr;
  std::vector<Posted> log;

 private:
  static constexpr UINT kScript = WM_USER + 3000;
  std::function<void()> script_;
  static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Host*>(GetWindowLong(h, GWL_USERDATA));
    if (self && m == kScript) {
      auto script = std::move(self->script_);
      if (script) script();
      return 0;
    }
    if (self && ((m >= WM_USER && m < 0x8000) || m == WM_LBUTTONDOWN))
      self->log.push_back({m, w, l, platform::WindowClockMs()});
    return DefWindowProc(h, m, w, l);
  }
};

/// The resource library the program ships, from the build's program directory.
inline const ui::ResourceLibrary& Wren() {
  static ui::ResourceLibrary* library = [] {
    auto* l = new ui::ResourceLibrary();
    l->Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll"));
    return l;
  }();
  return *library;
}

/// A fresh folder, removed with everything in it.
struct TempFolder {
  fs::path path = fs::temp_directory_path() / ("viewer-test-" + std::to_string(getpid()) + "-" +
                                               std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  TempFolder() { fs::create_directories(path); }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::u16string Wide() const { return platform::Utf8ToUtf16(path.string() + "/"); }
  std::string File(const std::string& name) const { return (path / name).string(); }
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

/// A text part as the store leaves it: FF FE and UTF-16LE.
inline void WriteTextPart(const std::string& path, const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  WriteBytes(path, bytes);
}

/// An animation of `delays` (hundredths of a second), one colour per frame, 40 × 30.
inline bool WriteAnimation(const std::string& path, const std::vector<int>& delays, bool loop) {
  using namespace imaging;
  auto s = mms::ByteStream::OpenFileUtf8(path.c_str(), mms::ByteStream::kWrite);
  if (!s) return false;
  std::unique_ptr<GifEncoder> e;
  if (GifEncoder::Create(s.get(), 8, &e) != kGifOk) return false;
  const imaging::RGBQUAD table[4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}};
  e->SetScreen(40, 30, 2, 2, false, 0);
  e->WriteColorTable(table, 4, 2);
  if (loop) e->LoopExtension(0);
  for (std::size_t i = 0; i < delays.size(); ++i) {
    GifFrame f;
    f.width = 40;
    f.height = 30;
    f.delay = static_cast<std::uint16_t>(delays[i]);
    e->SetFrame(f, 0);
    std::vector<std::uint8_t> px(40 * 30, static_cast<std::uint8_t>(i % 4));
    e->WriteFrame(px.data(), 40, 40, 30, 2);
  }
  return e->Close() == kGifOk;
}

/// A 16-bit mono 8 kHz WAV of `ms` milliseconds of silence.
inline void WriteWav(const std::string& path, int ms) {
  const std::uint32_t data = static_cast<std::uint32_t>(ms) * 16;
  auto le32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  std::string b = "RIFF" + le32(36 + data) + "WAVEfmt " + le32(16);
  b += std::string("\x01\x00\x01\x00", 4) + le32(8000) + le32(16000) + std::string("\x02\x00\x10\x00", 4);
  b += "data" + le32(data) + std::string(data, '\0');
  WriteBytes(path, b);
}

/// A clip made by ffmpeg in `dir`; empty when ffmpeg is missing or fails.
inline std::string MakeClip(const TempFolder& dir, const std::string& name, const std::string& args) {
  const std::string out = dir.File(name);
  const std::string cmd = "ffmpeg -hide_banner -loglevel error -y " + args + " '" + out + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0 ? out : std::string();
}

/// Advances the virtual clock in steps of `step` until `pred` holds or `limit` ms passed.
template <typename Pred>
bool RunUntil(Pred pred, DWORD limit, DWORD step = 10) {
  for (DWORD t = 0; t <= limit; t += step) {
    if (pred()) return true;
    platform::testdriver::RunFor(step);
  }
  return pred();
}

/// The line of the screen description that mentions `what`, or "".
inline std::string LineWith(const std::string& what) {
  const std::string d = platform::testdriver::DescribeScreen();
  const auto at = d.find(what);
  if (at == std::string::npos) return {};
  const auto start = d.rfind('\n', at);
  const auto end = d.find('\n', at);
  return d.substr(start == std::string::npos ? 0 : start + 1,
                  end - (start == std::string::npos ? 0 : start + 1));
}

}  // namespace viewer_test
