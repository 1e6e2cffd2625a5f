// Feeds arbitrary packed DIBs and texts to the drawing code: the first two bytes pick the
// target size and text flags, the rest is read both as a packed DIB and as UTF-16 text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gdi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static HDC dc = [] {
    HDC d = CreateCompatibleDC(nullptr);
    SelectObject(d, CreateCompatibleBitmap(d, 64, 64));
    return d;
  }();
  if (size < 2) return 0;
  int w = 1 + (data[0] & 0x3F), h = 1 + (data[1] & 0x3F);
  platform::StretchPackedDib(dc, -3, -3, w + 6, h + 6, data + 2, size - 2);
  std::u16string text;
  for (std::size_t i = 2; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  UINT flags = (data[0] & 0x40 ? DT_WORDBREAK : DT_SINGLELINE) | (data[1] & 0x80 ? DT_END_ELLIPSIS : 0) |
               (data[1] & 0x40 ? DT_CENTER : 0) | (data[0] & 0x80 ? DT_CALCRECT : 0);
  RECT r{0, 0, w, h};
  DrawText(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  SIZE s;
  GetTextExtentPoint32(dc, text.c_str(), static_cast<int>(text.size()), &s);
  return 0;
}
