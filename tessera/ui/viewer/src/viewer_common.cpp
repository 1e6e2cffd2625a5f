#include <algorithm>

#include "platform/menubar.h"
#include "viewer/viewer_context.h"
#include "viewer/viewer_ids.h"

namespace viewer {

RECT ProgressBarRect(const RECT& client) {
  return RECT{client.left + 2, client.bottom - 16, client.right - 2, client.bottom - 4};
}

int ProgressFill(int width, std::uint64_t position, std::uint64_t duration) {
  if (duration == 0 || width <= 0) return 0;
  return static_cast<int>(static_cast<std::uint64_t>(width) * std::min(position, duration) / duration);
}

void DrawProgressBar(HDC dc, const RECT& bar, std::uint64_t position, std::uint64_t duration) {
  if (duration == 0) return;
  HBRUSH frame = CreateSolidBrush(RGB(0, 0, 0));
  RECT edge = bar;
  FillRect(dc, &edge, frame);
  DeleteObject(frame);
  const int width = bar.right - bar.left - 2;
  const int fill = ProgressFill(width, position, duration);
  RECT done{bar.left + 1, bar.top + 1, bar.left + 1 + fill, bar.bottom - 1};
  HBRUSH colour = CreateSolidBrush(ids::kProgressColour);
  FillRect(dc, &done, colour);
  DeleteObject(colour);
  RECT rest{done.right, bar.top + 1, bar.right - 1, bar.bottom - 1};
  FillRect(dc, &rest, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

void SetSoftKeyLabel(HWND window, UINT command, const std::u16string& text) {
  HWND bar = SHFindMenuBar(window);
  if (!bar) return;
  std::u16string copy = text;
  TBBUTTONINFO info{};
  info.cbSize = sizeof(info);
  info.dwMask = TBIF_TEXT;
  info.pszText = copy.data();
  SendMessage(bar, TB_SETBUTTONINFO, command, reinterpret_cast<LPARAM>(&info));
}

}  // namespace viewer
