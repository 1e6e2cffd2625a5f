// Full-screen repaint of a phone screen: background, ten text rows (one highlighted, in
// bold), and one picture drawn from a 24-bit DIB. The reference is a plain copy of the
// whole RGB565 screen, run in the same process; results print as multiples of it.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/display.h"
#include "platform/gdi.h"
#include "platform/test_driver.h"
#include "platform/window.h"

namespace {

HFONT regular, bold;
std::vector<std::uint8_t> picture;  // packed 24-bit DIB, 96 x 72

LRESULT FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT) return DefWindowProc(hwnd, msg, wParam, lParam);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  SetBkMode(dc, TRANSPARENT);
  for (int i = 0; i < 10; ++i) {
    RECT row{0, i * 17, rc.right, i * 17 + 17};
    bool sel = i == 2;
    if (sel) FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(sel ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    SelectObject(dc, sel ? bold : regular);
    std::u16string text =
        u"Message subject number " + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u" from a sender";
    row.left += 4;
    DrawText(dc, text.c_str(), -1, &row, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  platform::StretchPackedDib(dc, 40, 170 - 72, 96, 72, picture.data(), picture.size());
  EndPaint(hwnd, &ps);
  return 0;
}

HWND Setup() {
  static HWND frame = [] {
    setenv("TESSERA_DISPLAY", "headless", 1);
    platform::testdriver::Enable();
    LOGFONT lf{};
    lf.lfHeight = -12;
    lf.lfWeight = FW_NORMAL;
    regular = CreateFontIndirect(&lf);
    lf.lfWeight = FW_BOLD;
    bold = CreateFontIndirect(&lf);
    const int w = 96, h = 72;
    BITMAPINFOHEADER hdr{40, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    picture.resize(40);
    std::memcpy(picture.data(), &hdr, 40);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 3; ++x) picture.push_back(static_cast<std::uint8_t>(x * 3 + y * 5));
    WNDCLASS wc{};
    wc.lpfnWndProc = FrameProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = u"BenchFrame";
    RegisterClass(&wc);
    HWND h2 = CreateWindowEx(0, u"BenchFrame", u"Inbox", WS_VISIBLE, 0, 0, platform::ScreenWidth(),
                             platform::ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    platform::testdriver::RunUntilIdle();
    return h2;
  }();
  return frame;
}

double referenceNs = 0;

void BM_ReferenceScreenCopy(benchmark::State& state) {
  std::vector<std::uint16_t> a(static_cast<std::size_t>(176) * 220, 0x1234), b(a.size());
  auto start = std::chrono::steady_clock::now();
  std::int64_t n = 0;
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * 2);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
    ++n;
  }
  referenceNs =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / n;
}
BENCHMARK(BM_ReferenceScreenCopy);

void BM_FullScreenRepaint(benchmark::State& state) {
  HWND frame = Setup();
  auto start = std::chrono::steady_clock::now();
  std::int64_t n = 0;
  for (auto _ : state) {
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
    ++n;
  }
  double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / n;
  state.counters["ms_per_frame"] = ns / 1e6;
  if (referenceNs > 0) state.counters["x_reference"] = ns / referenceNs;
}
BENCHMARK(BM_FullScreenRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
