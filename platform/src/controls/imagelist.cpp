// Image lists: rows of equally sized images with transparency, drawn by the list view and
// by owner-drawn rows. Each image is kept as an icon of the list's size, so drawing reuses
// the window system's alpha blending.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "platform/listview.h"
#include "window/internal.h"

struct IMAGELIST__ {
  int cx = 0;
  int cy = 0;
  UINT flags = 0;
  std::vector<HICON> images;
  std::vector<std::vector<std::uint32_t>> argb;  // the same images, for blended drawing
};

namespace {

constexpr int kMaxSide = 1024;
// A list this long is a caller's mistake; refusing it keeps a bad bitmap width from
// allocating without bound.
constexpr std::size_t kMaxImages = 4096;

struct Registry {
  std::mutex mu;
  std::set<IMAGELIST__*> lists;
};

Registry& Lists() {
  static Registry r;
  return r;
}

IMAGELIST__* Valid(HIMAGELIST h) {
  return Lists().lists.count(h) ? h : nullptr;
}

using platform::win::ToRgb565;

/// An RGB565 pixel as 0xRRGGBB.
std::uint32_t FromRgb565(std::uint16_t p) {
  COLORREF c = platform::win::FromRgb565(p);
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}

struct Pixels {
  int width = 0;
  int height = 0;
  const std::uint16_t* bits = nullptr;
};

bool BitmapPixels(HBITMAP bmp, Pixels* out) {
  BITMAP bm{};
  if (!bmp || GetObject(bmp, sizeof(bm), &bm) != static_cast<int>(sizeof(bm)) || bm.bmBitsPixel != 16 ||
      !bm.bmBits)
    return false;
  *out = Pixels{bm.bmWidth, bm.bmHeight, static_cast<const std::uint16_t*>(bm.bmBits)};
  return out->width > 0 && out->height > 0;
}

/// Appends one image to the list; `argb` holds cx * cy pixels.
int AppendLocked(IMAGELIST__* l, std::vector<std::uint32_t> argb) {
  HICON icon = platform::CreateIconFromArgb(l->cx, l->cy, argb.data());
  if (!icon) return -1;
  l->images.push_back(icon);
  l->argb.push_back(std::move(argb));
  return static_cast<int>(l->images.size()) - 1;
}

/// Cuts `image` into cells of the list's size; `transparent` says which pixels to drop.
template <typename Transparent>
int AddCells(HIMAGELIST h, HBITMAP image, Transparent transparent) {
  Pixels px;
  if (!BitmapPixels(image, &px)) return -1;
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  if (!l) return -1;
  int cells = px.width / l->cx;
  if (cells <= 0 || l->images.size() + static_cast<std::size_t>(cells) > kMaxImages) return -1;
  int first = static_cast<int>(l->images.size());
  for (int c = 0; c < cells; ++c) {
    std::vector<std::uint32_t> argb(static_cast<std::size_t>(l->cx) * l->cy, 0);
    for (int y = 0; y < l->cy && y < px.height; ++y)
      for (int x = 0; x < l->cx; ++x) {
        int sx = c * l->cx + x;
        std::uint16_t p = px.bits[static_cast<std::size_t>(y) * px.width + sx];
        bool clear = (l->flags & ILC_MASK) && transparent(sx, y, p);
        argb[static_cast<std::size_t>(y) * l->cx + x] = clear ? 0 : (0xFF000000u | FromRgb565(p));
      }
    if (AppendLocked(l, std::move(argb)) < 0) return -1;
  }
  return first;
}

/// Recovers an icon's pixels and alpha by drawing it over black and over white.
bool IconPixels(HICON icon, int cx, int cy, std::vector<std::uint32_t>* out) {
  SIZE size{};
  if (!platform::GetIconSize(icon, &size)) return false;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP black = CreateCompatibleBitmap(dc, cx, cy);
  HBITMAP white = CreateCompatibleBitmap(dc, cx, cy);
  bool ok = dc && black && white;
  Pixels b, w;
  if (ok) {
    RECT rc{0, 0, cx, cy};
    HGDIOBJ old = SelectObject(dc, black);
    FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawIcon(dc, 0, 0, icon);
    SelectObject(dc, white);
    FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIcon(dc, 0, 0, icon);
    SelectObject(dc, old);
    ok = BitmapPixels(black, &b) && BitmapPixels(white, &w);
  }
  if (ok) {
    out->assign(static_cast<std::size_t>(cx) * cy, 0);
    for (std::size_t i = 0; i < out->size(); ++i) {
      std::uint32_t pb = FromRgb565(b.bits[i]), pw = FromRgb565(w.bits[i]);
      // The green channel has the finest steps in RGB565; it decides the alpha.
      int gap = static_cast<int>((pw >> 8) & 0xFF) - static_cast<int>((pb >> 8) & 0xFF);
      int alpha = std::clamp(255 - gap, 0, 255);
      if (alpha < 8) continue;
      if (alpha > 247) {
        (*out)[i] = 0xFF000000u | pb;
        continue;
      }
      auto un = [&](int shift) {
        return static_cast<std::uint32_t>(
            std::min(255, static_cast<int>((pb >> shift) & 0xFF) * 255 / alpha));
      };
      (*out)[i] = (static_cast<std::uint32_t>(alpha) << 24) | (un(16) << 16) | (un(8) << 8) | un(0);
    }
  }
  if (black) DeleteObject(black);
  if (white) DeleteObject(white);
  if (dc) DeleteDC(dc);
  return ok;
}

}  // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int) {
  if (cx <= 0 || cy <= 0 || cx > kMaxSide || cy > kMaxSide) return nullptr;
  auto* l = new IMAGELIST__{cx, cy, flags, {}, {}};
  l->images.reserve(static_cast<std::size_t>(std::clamp(initial, 0, 256)));
  std::lock_guard lock(Lists().mu);
  Lists().lists.insert(l);
  return l;
}

BOOL ImageList_Destroy(HIMAGELIST h) {
  IMAGELIST__* l = nullptr;
  {
    std::lock_guard lock(Lists().mu);
    l = Valid(h);
    if (!l) return FALSE;
    Lists().lists.erase(l);
  }
  for (HICON i : l->images) DestroyIcon(i);
  delete l;
  return TRUE;
}

int ImageList_Add(HIMAGELIST h, HBITMAP image, HBITMAP mask) {
  Pixels m;
  bool haveMask = mask && BitmapPixels(mask, &m);
  return AddCells(h, image, [&](int x, int y, std::uint16_t) {
    if (!haveMask || x >= m.width || y >= m.height) return false;
    return m.bits[static_cast<std::size_t>(y) * m.width + x] == 0xFFFF;
  });
}

int ImageList_AddMasked(HIMAGELIST h, HBITMAP image, COLORREF maskColor) {
  std::uint16_t key = ToRgb565(maskColor);
  return AddCells(h, image, [&](int, int, std::uint16_t p) { return p == key; });
}

int ImageList_ReplaceIcon(HIMAGELIST h, int index, HICON icon) {
  int cx = 0, cy = 0;
  {
    std::lock_guard lock(Lists().mu);
    IMAGELIST__* l = Valid(h);
    if (!l || index < -1 || index >= static_cast<int>(l->images.size())) return -1;
    cx = l->cx;
    cy = l->cy;
  }
  std::vector<std::uint32_t> argb;
  if (!IconPixels(icon, cx, cy, &argb)) return -1;
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  if (!l || index >= static_cast<int>(l->images.size())) return -1;
  if (index < 0) {
    if (l->images.size() >= kMaxImages) return -1;
    return AppendLocked(l, std::move(argb));
  }
  HICON fresh = platform::CreateIconFromArgb(cx, cy, argb.data());
  if (!fresh) return -1;
  auto i = static_cast<std::size_t>(index);
  DestroyIcon(l->images[i]);
  l->images[i] = fresh;
  l->argb[i] = std::move(argb);
  return index;
}

BOOL ImageList_Remove(HIMAGELIST h, int index) {
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  if (!l || index < -1 || index >= static_cast<int>(l->images.size())) return FALSE;
  if (index < 0) {
    for (HICON i : l->images) DestroyIcon(i);
    l->images.clear();
    l->argb.clear();
    return TRUE;
  }
  auto i = static_cast<std::size_t>(index);
  DestroyIcon(l->images[i]);
  l->images.erase(l->images.begin() + static_cast<std::ptrdiff_t>(i));
  l->argb.erase(l->argb.begin() + static_cast<std::ptrdiff_t>(i));
  return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST h) {
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  return l ? static_cast<int>(l->images.size()) : 0;
}

BOOL ImageList_GetIconSize(HIMAGELIST h, int* cx, int* cy) {
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  if (!l || !cx || !cy) return FALSE;
  *cx = l->cx;
  *cy = l->cy;
  return TRUE;
}

BOOL ImageList_Draw(HIMAGELIST h, int index, HDC dc, int x, int y, UINT style) {
  // Drawing happens under the lock so that a concurrent destroy cannot free the icon.
  std::lock_guard lock(Lists().mu);
  IMAGELIST__* l = Valid(h);
  if (!l || index < 0 || index >= static_cast<int>(l->images.size())) return FALSE;
  auto i = static_cast<std::size_t>(index);
  if (!(style & (ILD_MASK | ILD_BLEND50))) return DrawIcon(dc, x, y, l->images[i]);
  std::vector<std::uint32_t> px = l->argb[i];
  COLORREF hl = GetSysColor(COLOR_HIGHLIGHT);
  for (std::uint32_t& p : px) {
    if (!(p >> 24)) continue;
    if (style & ILD_MASK) {
      p = 0xFF000000u;
      continue;
    }
    auto mix = [&](int shift, BYTE part) { return ((((p >> shift) & 0xFF) + part) / 2) << shift; };
    p = (p & 0xFF000000u) | mix(16, GetRValue(hl)) | mix(8, GetGValue(hl)) | mix(0, GetBValue(hl));
  }
  HICON temp = platform::CreateIconFromArgb(l->cx, l->cy, px.data());
  BOOL ok = temp && DrawIcon(dc, x, y, temp);
  if (temp) DestroyIcon(temp);
  return ok;
}
