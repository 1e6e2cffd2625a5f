// Device contexts and GDI objects over RGB565 surfaces. Handles are checked against the
// sets of live objects, so a stale or foreign handle fails instead of crashing.

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "font.h"
#include "internal.h"

namespace platform::win {
namespace {

enum class ObjType { Pen = 1, Brush = 2, Font = 6, Bitmap = 7 };

struct GdiObject {
  ObjType type;
  bool stock = false;
  COLORREF color = 0;
  bool hollow = false;
  int penStyle = PS_SOLID;
  int penWidth = 1;
  LOGFONT logfont{};
  FontSpec font;
  Surface surface;  // bitmaps
  int selections = 0;
};

struct Icon {
  int width;
  int height;
  std::vector<std::uint16_t> pixels;
  std::vector<std::uint8_t> alpha;
};

struct DC {
  Surface* surface;
  POINT origin;
  Region clip;
  HWND hwnd;
  bool memory;
  GdiObject* pen;
  GdiObject* brush;
  GdiObject* font;
  GdiObject* bitmap;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  POINT pos{0, 0};
};

struct Gdi {
  std::mutex mu;
  std::unordered_set<GdiObject*> objects;
  std::unordered_set<DC*> dcs;
  std::unordered_set<Icon*> icons;
  GdiObject* stock[14] = {};
  GdiObject* sysBrushes[32] = {};
};

COLORREF SysColorValue(int index) {
  switch (index) {
    case COLOR_WINDOW:
    case COLOR_MENU:
      return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
    case COLOR_MENUTEXT:
    case COLOR_BTNTEXT:
    case COLOR_WINDOWFRAME:
      return RGB(0, 0, 0);
    case COLOR_HIGHLIGHT:
    case COLOR_ACTIVECAPTION:
      return RGB(0, 72, 160);
    case COLOR_HIGHLIGHTTEXT:
    case COLOR_CAPTIONTEXT:
      return RGB(255, 255, 255);
    case COLOR_BTNFACE:
    case COLOR_SCROLLBAR:
      return RGB(212, 208, 200);
    case COLOR_BTNSHADOW:
    case COLOR_GRAYTEXT:
      return RGB(128, 128, 128);
    case COLOR_BACKGROUND:
      return RGB(0, 0, 0);
    default:
      return RGB(255, 255, 255);
  }
}

GdiObject* MakeStock(ObjType type, COLORREF color, bool hollow) {
  auto* o = new GdiObject;
  o->type = type;
  o->stock = true;
  o->color = color;
  o->hollow = hollow;
  return o;
}

Gdi& G() {
  static Gdi* g = [] {
    auto* g = new Gdi;
    g->stock[WHITE_BRUSH] = MakeStock(ObjType::Brush, RGB(255, 255, 255), false);
    g->stock[LTGRAY_BRUSH] = MakeStock(ObjType::Brush, RGB(192, 192, 192), false);
    g->stock[GRAY_BRUSH] = MakeStock(ObjType::Brush, RGB(128, 128, 128), false);
    g->stock[DKGRAY_BRUSH] = MakeStock(ObjType::Brush, RGB(64, 64, 64), false);
    g->stock[BLACK_BRUSH] = MakeStock(ObjType::Brush, RGB(0, 0, 0), false);
    g->stock[NULL_BRUSH] = MakeStock(ObjType::Brush, 0, true);
    g->stock[WHITE_PEN] = MakeStock(ObjType::Pen, RGB(255, 255, 255), false);
    g->stock[BLACK_PEN] = MakeStock(ObjType::Pen, RGB(0, 0, 0), false);
    g->stock[NULL_PEN] = MakeStock(ObjType::Pen, 0, true);
    g->stock[NULL_PEN]->penStyle = PS_NULL;
    auto* font = MakeStock(ObjType::Font, 0, false);
    font->logfont.lfHeight = -12;
    font->logfont.lfWeight = FW_NORMAL;
    font->font = FontSpec{false, 12};
    g->stock[SYSTEM_FONT] = font;
    auto* bitmap = MakeStock(ObjType::Bitmap, 0, false);
    bitmap->surface.width = bitmap->surface.height = 1;
    bitmap->surface.pixels.assign(1, 0);
    g->stock[9] = bitmap;  // the 1x1 bitmap of a new memory DC
    for (int i = 0; i < 14; ++i)
      if (g->stock[i]) g->objects.insert(g->stock[i]);
    for (int i = 0; i < 32; ++i) {
      g->sysBrushes[i] = MakeStock(ObjType::Brush, SysColorValue(i), false);
      g->objects.insert(g->sysBrushes[i]);
    }
    return g;
  }();
  return *g;
}

GdiObject* ObjLocked(HGDIOBJ h) {
  auto* o = reinterpret_cast<GdiObject*>(h);
  return G().objects.count(o) ? o : nullptr;
}

DC* DcLocked(HDC h) {
  auto* d = reinterpret_cast<DC*>(h);
  return G().dcs.count(d) ? d : nullptr;
}

void FillSurface(DC* dc, RECT r, std::uint16_t color) {
  OffsetRect(&r, dc->origin.x, dc->origin.y);
  for (const RECT& c : dc->clip) {
    RECT x = Intersect(r, c);
    if (RectEmpty(x)) continue;
    for (int y = x.top; y < x.bottom; ++y) {
      std::uint16_t* row = dc->surface->pixels.data() + static_cast<std::size_t>(y) * dc->surface->width;
      std::fill(row + x.left, row + x.right, color);
    }
  }
}

bool InClip(const DC* dc, int x, int y) {
  for (const RECT& c : dc->clip)
    if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) return true;
  return false;
}

void PlotPen(DC* dc, int x, int y) {
  // Logical to surface; wide pens draw a square around the point.
  int w = std::max(dc->pen->penWidth, 1);
  std::uint16_t c = ToRgb565(dc->pen->color);
  for (int dy = 0; dy < w; ++dy)
    for (int dx = 0; dx < w; ++dx) {
      int sx = x + dc->origin.x + dx - w / 2, sy = y + dc->origin.y + dy - w / 2;
      if (InClip(dc, sx, sy)) dc->surface->pixels[static_cast<std::size_t>(sy) * dc->surface->width + sx] = c;
    }
}

void LineLocked(DC* dc, int x0, int y0, int x1, int y1) {
  if (dc->pen->hollow || dc->pen->penStyle == PS_NULL) return;
  // Bresenham; the end point is not drawn.
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int step = 0;
  while (!(x0 == x1 && y0 == y1)) {
    if (dc->pen->penStyle != PS_DASH || (step / 4) % 2 == 0) PlotPen(dc, x0, y0);
    ++step;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
    if (step > 1 << 16) break;
  }
}

std::u16string_view View(LPCWSTR text, int count) {
  if (!text) return {};
  if (count < 0) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return std::u16string_view(text, n);
  }
  return std::u16string_view(text, static_cast<std::size_t>(count));
}

}  // namespace

void Subtract(Region& region, const RECT& cut) {
  Region out;
  out.reserve(region.size() + 4);
  for (const RECT& r : region) {
    RECT x = Intersect(r, cut);
    if (RectEmpty(x)) {
      out.push_back(r);
      continue;
    }
    if (r.top < x.top) out.push_back(RECT{r.left, r.top, r.right, x.top});
    if (x.bottom < r.bottom) out.push_back(RECT{r.left, x.bottom, r.right, r.bottom});
    if (r.left < x.left) out.push_back(RECT{r.left, x.top, x.left, x.bottom});
    if (x.right < r.right) out.push_back(RECT{x.right, x.top, r.right, x.bottom});
  }
  region = std::move(out);
}

void IntersectRegion(Region& region, const RECT& clip) {
  Region out;
  for (const RECT& r : region) {
    RECT x = Intersect(r, clip);
    if (!RectEmpty(x)) out.push_back(x);
  }
  region = std::move(out);
}

HDC CreateSurfaceDC(Surface* surface, POINT origin, Region clip, HWND hwnd) {
  std::lock_guard lock(G().mu);
  auto* dc = new DC{surface,
                    origin,
                    std::move(clip),
                    hwnd,
                    false,
                    G().stock[BLACK_PEN],
                    G().stock[WHITE_BRUSH],
                    G().stock[SYSTEM_FONT],
                    nullptr};
  IntersectRegion(dc->clip, RECT{0, 0, surface->width, surface->height});
  G().dcs.insert(dc);
  return reinterpret_cast<HDC>(dc);
}

bool ReleaseSurfaceDC(HDC hdc) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc || dc->memory) return false;
  G().dcs.erase(dc);
  delete dc;
  return true;
}

void PaintTray(HDC hdc, const RECT& rc, const std::u16string& title) {
  FillRect(hdc, &rc, GetSysColorBrush(COLOR_ACTIVECAPTION));
  LOGFONT lf{};
  lf.lfHeight = -12;
  lf.lfWeight = FW_BOLD;
  HFONT font = CreateFontIndirect(&lf);
  HGDIOBJ old = SelectObject(hdc, font);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_CAPTIONTEXT));
  RECT text{rc.left + 4, rc.top, rc.right - 4, rc.bottom};
  DrawText(hdc, title.c_str(), static_cast<int>(title.size()), &text,
           DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(hdc, old);
  DeleteObject(font);
}

}  // namespace platform::win

using namespace platform::win;

BOOL SetRect(RECT* rc, int left, int top, int right, int bottom) {
  if (!rc) return FALSE;
  *rc = RECT{left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(RECT* rc) {
  return SetRect(rc, 0, 0, 0, 0);
}
BOOL CopyRect(RECT* dst, const RECT* src) {
  if (!dst || !src) return FALSE;
  *dst = *src;
  return TRUE;
}
BOOL IsRectEmpty(const RECT* rc) {
  return !rc || RectEmpty(*rc) ? TRUE : FALSE;
}
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
BOOL OffsetRect(RECT* rc, int dx, int dy) {
  if (!rc) return FALSE;
  rc->left += dx;
  rc->right += dx;
  rc->top += dy;
  rc->bottom += dy;
  return TRUE;
}
BOOL InflateRect(RECT* rc, int dx, int dy) {
  if (!rc) return FALSE;
  rc->left -= dx;
  rc->right += dx;
  rc->top -= dy;
  rc->bottom += dy;
  return TRUE;
}
BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  *dst = Intersect(*a, *b);
  return RectEmpty(*dst) ? FALSE : TRUE;
}
BOOL UnionRect(RECT* dst, const RECT* a, const RECT* b) {
  if (!dst || !a || !b) return FALSE;
  if (RectEmpty(*a))
    *dst = *b;
  else if (RectEmpty(*b))
    *dst = *a;
  else
    *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
  return RectEmpty(*dst) ? FALSE : TRUE;
}
BOOL PtInRect(const RECT* rc, POINT pt) {
  return rc && pt.x >= rc->left && pt.x < rc->right && pt.y >= rc->top && pt.y < rc->bottom;
}

HDC CreateCompatibleDC(HDC) {
  std::lock_guard lock(G().mu);
  GdiObject* bitmap = G().stock[9];
  auto* dc = new DC{&bitmap->surface,
                    POINT{0, 0},
                    Region{RECT{0, 0, 1, 1}},
                    nullptr,
                    true,
                    G().stock[BLACK_PEN],
                    G().stock[WHITE_BRUSH],
                    G().stock[SYSTEM_FONT],
                    bitmap};
  G().dcs.insert(dc);
  return reinterpret_cast<HDC>(dc);
}

BOOL DeleteDC(HDC hdc) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc || !dc->memory) return FALSE;
  if (dc->bitmap) --dc->bitmap->selections;
  G().dcs.erase(dc);
  delete dc;
  return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return nullptr;
  auto* o = new GdiObject;
  o->type = ObjType::Bitmap;
  o->surface.width = width;
  o->surface.height = height;
  o->surface.pixels.assign(static_cast<std::size_t>(width) * height, 0);
  std::lock_guard lock(G().mu);
  G().objects.insert(o);
  return reinterpret_cast<HBITMAP>(o);
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  GdiObject* o = ObjLocked(h);
  if (!dc || !o) return nullptr;
  GdiObject* old = nullptr;
  switch (o->type) {
    case ObjType::Pen:
      old = dc->pen;
      dc->pen = o;
      break;
    case ObjType::Brush:
      old = dc->brush;
      dc->brush = o;
      break;
    case ObjType::Font:
      old = dc->font;
      dc->font = o;
      break;
    case ObjType::Bitmap:
      // A bitmap goes into one memory DC at a time.
      if (!dc->memory || (o->selections > 0 && dc->bitmap != o)) return nullptr;
      old = dc->bitmap;
      if (old) --old->selections;
      ++o->selections;
      dc->bitmap = o;
      dc->surface = &o->surface;
      dc->clip = Region{RECT{0, 0, o->surface.width, o->surface.height}};
      break;
  }
  return reinterpret_cast<HGDIOBJ>(old);
}

BOOL DeleteObject(HGDIOBJ h) {
  std::lock_guard lock(G().mu);
  GdiObject* o = ObjLocked(h);
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  // An object still selected into a DC stays alive; deleting it fails.
  for (DC* dc : G().dcs)
    if (dc->pen == o || dc->brush == o || dc->font == o || dc->bitmap == o) return FALSE;
  G().objects.erase(o);
  delete o;
  return TRUE;
}

HGDIOBJ GetStockObject(int which) {
  if (which < 0 || which >= 14 || which == 9) return nullptr;
  return reinterpret_cast<HGDIOBJ>(G().stock[which]);
}

int GetObject(HGDIOBJ h, int size, LPVOID out) {
  std::lock_guard lock(G().mu);
  GdiObject* o = ObjLocked(h);
  if (!o) return 0;
  if (o->type == ObjType::Bitmap) {
    if (!out) return sizeof(BITMAP);
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    *static_cast<BITMAP*>(out) =
        BITMAP{0, o->surface.width, o->surface.height, o->surface.width * 2, 1, 16, o->surface.pixels.data()};
    return sizeof(BITMAP);
  }
  if (o->type == ObjType::Font) {
    if (!out) return sizeof(LOGFONT);
    if (size < static_cast<int>(sizeof(LOGFONT))) return 0;
    *static_cast<LOGFONT*>(out) = o->logfont;
    return sizeof(LOGFONT);
  }
  return 0;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_PEN:
      return reinterpret_cast<HGDIOBJ>(dc->pen);
    case OBJ_BRUSH:
      return reinterpret_cast<HGDIOBJ>(dc->brush);
    case OBJ_FONT:
      return reinterpret_cast<HGDIOBJ>(dc->font);
    case OBJ_BITMAP:
      return reinterpret_cast<HGDIOBJ>(dc->bitmap);
    default:
      return nullptr;
  }
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto* o = new GdiObject;
  o->type = ObjType::Brush;
  o->color = color & 0xFFFFFF;
  std::lock_guard lock(G().mu);
  G().objects.insert(o);
  return reinterpret_cast<HBRUSH>(o);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  auto* o = new GdiObject;
  o->type = ObjType::Pen;
  o->penStyle = style;
  o->penWidth = std::clamp(width, 1, 32);
  o->color = color & 0xFFFFFF;
  o->hollow = style == PS_NULL;
  std::lock_guard lock(G().mu);
  G().objects.insert(o);
  return reinterpret_cast<HPEN>(o);
}

HFONT CreateFontIndirect(const LOGFONT* lf) {
  if (!lf) return nullptr;
  auto* o = new GdiObject;
  o->type = ObjType::Font;
  o->logfont = *lf;
  o->logfont.lfFaceName[LF_FACESIZE - 1] = 0;
  o->font = ResolveFont(*lf);
  std::lock_guard lock(G().mu);
  G().objects.insert(o);
  return reinterpret_cast<HFONT>(o);
}

COLORREF GetSysColor(int index) {
  return SysColorValue(index & ~SYS_COLOR_INDEX_FLAG);
}

HBRUSH GetSysColorBrush(int index) {
  index &= ~SYS_COLOR_INDEX_FLAG;
  if (index < 0 || index >= 32) return nullptr;
  return reinterpret_cast<HBRUSH>(G().sysBrushes[index]);
}

#define DC_FIELD_SET(Name, field, Type, bad) \
  Type Name(HDC hdc, Type value) {           \
    std::lock_guard lock(G().mu);            \
    DC* dc = DcLocked(hdc);                  \
    if (!dc) return bad;                     \
    Type old = dc->field;                    \
    dc->field = value;                       \
    return old;                              \
  }
DC_FIELD_SET(SetTextColor, textColor, COLORREF, CLR_INVALID)
DC_FIELD_SET(SetBkColor, bkColor, COLORREF, CLR_INVALID)
DC_FIELD_SET(SetBkMode, bkMode, int, 0)
#undef DC_FIELD_SET

COLORREF GetTextColor(HDC hdc) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  return dc ? dc->textColor : CLR_INVALID;
}
COLORREF GetBkColor(HDC hdc) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  return dc ? dc->bkColor : CLR_INVALID;
}
int GetBkMode(HDC hdc) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  return dc ? dc->bkMode : 0;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return 0;
  RECT r{left + dc->origin.x, top + dc->origin.y, right + dc->origin.x, bottom + dc->origin.y};
  IntersectRegion(dc->clip, r);
  return dc->clip.empty() ? 1 : 3;  // NULLREGION : COMPLEXREGION
}

int FillRect(HDC hdc, const RECT* rc, HBRUSH brush) {
  if (!rc) return 0;
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  GdiObject* b = ObjLocked(brush);
  if (!dc || !b || b->type != ObjType::Brush) return 0;
  if (!b->hollow) FillSurface(dc, *rc, ToRgb565(b->color));
  return 1;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return FALSE;
  if (!dc->brush->hollow)
    FillSurface(dc, RECT{left + 1, top + 1, right - 1, bottom - 1}, ToRgb565(dc->brush->color));
  LineLocked(dc, left, top, right - 1, top);
  LineLocked(dc, right - 1, top, right - 1, bottom - 1);
  LineLocked(dc, right - 1, bottom - 1, left, bottom - 1);
  LineLocked(dc, left, bottom - 1, left, top);
  return TRUE;
}

BOOL MoveToEx(HDC hdc, int x, int y, POINT* previous) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return FALSE;
  if (previous) *previous = dc->pos;
  dc->pos = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return FALSE;
  LineLocked(dc, dc->pos.x, dc->pos.y, x, y);
  dc->pos = POINT{x, y};
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
  if (!points || count < 2) return FALSE;
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return FALSE;
  for (int i = 1; i < count; ++i) LineLocked(dc, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
  return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return CLR_INVALID;
  int sx = x + dc->origin.x, sy = y + dc->origin.y;
  if (!InClip(dc, sx, sy)) return CLR_INVALID;
  std::uint16_t p = ToRgb565(color);
  dc->surface->pixels[static_cast<std::size_t>(sy) * dc->surface->width + sx] = p;
  return FromRgb565(p);
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return CLR_INVALID;
  int sx = x + dc->origin.x, sy = y + dc->origin.y;
  if (!InClip(dc, sx, sy)) return CLR_INVALID;
  return FromRgb565(dc->surface->pixels[static_cast<std::size_t>(sy) * dc->surface->width + sx]);
}

namespace {

std::uint16_t ApplyRop(DWORD rop, std::uint16_t src, std::uint16_t dst, std::uint16_t pat) {
  switch (rop) {
    case SRCPAINT:
      return src | dst;
    case SRCAND:
      return src & dst;
    case SRCINVERT:
      return src ^ dst;
    case DSTINVERT:
      return static_cast<std::uint16_t>(~dst);
    case PATCOPY:
      return pat;
    case BLACKNESS:
      return 0;
    case WHITENESS:
      return 0xFFFF;
    default:
      return src;
  }
}

bool RopUsesSource(DWORD rop) {
  return rop != DSTINVERT && rop != PATCOPY && rop != BLACKNESS && rop != WHITENESS;
}

/// Nearest-neighbour copy of (sx, sy, sw, sh) of `src` into (x, y, w, h) of the DC.
BOOL BlitLocked(DC* dst, int x, int y, int w, int h, const Surface* src, int sx, int sy, int sw, int sh,
                DWORD rop) {
  if (w <= 0 || h <= 0) return FALSE;
  std::uint16_t pat = ToRgb565(dst->brush->color);
  bool useSrc = RopUsesSource(rop);
  std::vector<std::uint16_t> copy;
  const std::uint16_t* srcPixels = nullptr;
  int srcPitch = 0;
  if (useSrc) {
    if (!src || sw <= 0 || sh <= 0) return FALSE;
    srcPixels = src->pixels.data();
    srcPitch = src->width;
    if (src == dst->surface) {
      copy = src->pixels;  // overlapping copies (scrolling) read the old pixels
      srcPixels = copy.data();
    }
  }
  RECT box{x + dst->origin.x, y + dst->origin.y, x + dst->origin.x + w, y + dst->origin.y + h};
  for (const RECT& c : dst->clip) {
    RECT r = Intersect(box, c);
    if (RectEmpty(r)) continue;
    for (int py = r.top; py < r.bottom; ++py) {
      std::uint16_t* row = dst->surface->pixels.data() + static_cast<std::size_t>(py) * dst->surface->width;
      const std::uint16_t* srow = nullptr;
      if (useSrc) {
        long long ry = sy + static_cast<long long>(py - box.top) * sh / h;
        if (ry < 0 || ry >= src->height) continue;
        srow = srcPixels + static_cast<std::size_t>(ry) * srcPitch;
      }
      if (useSrc && sw == w && rop == SRCCOPY) {
        int x0 = sx + (r.left - box.left), x1 = x0 + (r.right - r.left);
        int cx0 = std::max(x0, 0), cx1 = std::min(x1, src->width);
        if (cx1 > cx0) std::copy(srow + cx0, srow + cx1, row + r.left + (cx0 - x0));
        continue;
      }
      for (int px = r.left; px < r.right; ++px) {
        std::uint16_t s = 0;
        if (useSrc) {
          long long rx = sx + static_cast<long long>(px - box.left) * sw / w;
          if (rx < 0 || rx >= src->width) continue;
          s = srow[rx];
        }
        row[px] = ApplyRop(rop, s, row[px], pat);
      }
    }
  }
  return TRUE;
}

}  // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
  return StretchBlt(dst, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL StretchBlt(HDC hdst, int x, int y, int width, int height, HDC hsrc, int xSrc, int ySrc, int widthSrc,
                int heightSrc, DWORD rop) {
  std::lock_guard lock(G().mu);
  DC* dst = DcLocked(hdst);
  if (!dst) return FALSE;
  DC* src = nullptr;
  if (RopUsesSource(rop)) {
    src = DcLocked(hsrc);
    if (!src) return FALSE;
  }
  return BlitLocked(dst, x, y, width, height, src ? src->surface : nullptr, src ? xSrc + src->origin.x : 0,
                    src ? ySrc + src->origin.y : 0, widthSrc, heightSrc, rop);
}

namespace {

/// A checked view of a DIB: header fields, palette, row layout.
struct DibView {
  int width = 0;
  int height = 0;
  bool bottomUp = true;
  int bpp = 0;
  std::size_t stride = 0;
  std::uint16_t palette[256] = {};
  DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
  const std::uint8_t* bits = nullptr;
};

int MaskShift(DWORD m) {
  int s = 0;
  while (m && !(m & 1)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(DWORD m) {
  m >>= MaskShift(m);
  int n = 0;
  while (m & 1) {
    m >>= 1;
    ++n;
  }
  return n;
}

/// Checks the header and colour table; `available` bounds the header+table block
/// (SIZE_MAX when unknown).
bool ParseDibHeader(const BITMAPINFO* info, std::size_t available, DibView* v, std::size_t* headerBytes) {
  if (!info || available < sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, info, sizeof h);
  if (h.biSize < 40 || h.biSize > 1024 || h.biSize > available) return false;
  if (h.biWidth <= 0 || h.biWidth > 16384 || h.biHeight == 0 || h.biHeight < -16384 || h.biHeight > 16384)
    return false;
  v->width = h.biWidth;
  v->height = h.biHeight > 0 ? h.biHeight : -h.biHeight;
  v->bottomUp = h.biHeight > 0;
  v->bpp = h.biBitCount;
  switch (v->bpp) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (h.biCompression != BI_RGB) return false;
      break;
    case 16:
    case 32:
      if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return false;
      break;
    default:
      return false;
  }
  const auto* base = reinterpret_cast<const std::uint8_t*>(info);
  std::size_t offset = h.biSize;
  if (v->bpp <= 8) {
    std::size_t max = std::size_t{1} << v->bpp;
    std::size_t colors = h.biClrUsed ? h.biClrUsed : max;
    if (colors > max) return false;
    if (offset + colors * 4 > available) return false;
    for (std::size_t i = 0; i < colors; ++i) {
      const std::uint8_t* q = base + offset + i * 4;
      v->palette[i] = ToRgb565(RGB(q[2], q[1], q[0]));
    }
    offset += colors * 4;
  } else if (h.biCompression == BI_BITFIELDS) {
    if (offset + 12 > available) return false;
    std::memcpy(v->masks, base + offset, 12);
    offset += 12;
    if (!v->masks[0] || !v->masks[1] || !v->masks[2]) return false;
  } else if (v->bpp == 32) {
    v->masks[0] = 0xFF0000;
    v->masks[1] = 0x00FF00;
    v->masks[2] = 0x0000FF;
  }
  v->stride = ((static_cast<std::size_t>(v->width) * v->bpp + 31) / 32) * 4;
  *headerBytes = offset;
  return true;
}

std::uint16_t DibPixel(const DibView& v, const std::uint8_t* row, int x) {
  switch (v.bpp) {
    case 1:
      return v.palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
    case 4:
      return v.palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF];
    case 8:
      return v.palette[row[x]];
    case 24: {
      const std::uint8_t* p = row + x * 3;
      return static_cast<std::uint16_t>(((p[2] >> 3) << 11) | ((p[1] >> 2) << 5) | (p[0] >> 3));
    }
    default: {
      DWORD px = v.bpp == 16
                     ? static_cast<DWORD>(row[x * 2] | (row[x * 2 + 1] << 8))
                     : static_cast<DWORD>(row[x * 4] | (row[x * 4 + 1] << 8) | (row[x * 4 + 2] << 16) |
                                          (static_cast<DWORD>(row[x * 4 + 3]) << 24));
      int c[3];
      for (int i = 0; i < 3; ++i) {
        DWORD m = v.masks[i];
        int bits = MaskBits(m);
        DWORD val = (px & m) >> MaskShift(m);
        c[i] = bits >= 8 ? static_cast<int>(val >> (bits - 8))
                         : static_cast<int>(bits ? (val * 255) / ((1u << bits) - 1) : 0);
      }
      return ToRgb565(RGB(c[0], c[1], c[2]));
    }
  }
}

int DrawDib(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
            int srcHeight, const DibView& v) {
  if (destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0) return 0;
  if (xSrc < 0 || ySrc < 0 || xSrc >= v.width || ySrc >= v.height) return 0;
  srcWidth = std::min(srcWidth, v.width - xSrc);
  srcHeight = std::min(srcHeight, v.height - ySrc);
  // For bottom-up DIBs the source rectangle is measured from the bottom row.
  int topRow = v.bottomUp ? v.height - ySrc - srcHeight : ySrc;
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return 0;
  RECT box{xDest + dc->origin.x, yDest + dc->origin.y, xDest + dc->origin.x + destWidth,
           yDest + dc->origin.y + destHeight};
  std::vector<int> xmap(static_cast<std::size_t>(destWidth));
  for (int i = 0; i < destWidth; ++i)
    xmap[static_cast<std::size_t>(i)] =
        xSrc + static_cast<int>(static_cast<long long>(i) * srcWidth / destWidth);
  for (const RECT& c : dc->clip) {
    RECT r = Intersect(box, c);
    if (RectEmpty(r)) continue;
    for (int py = r.top; py < r.bottom; ++py) {
      int imageRow = topRow + static_cast<int>(static_cast<long long>(py - box.top) * srcHeight / destHeight);
      int storedRow = v.bottomUp ? v.height - 1 - imageRow : imageRow;
      const std::uint8_t* srow = v.bits + static_cast<std::size_t>(storedRow) * v.stride;
      std::uint16_t* row = dc->surface->pixels.data() + static_cast<std::size_t>(py) * dc->surface->width;
      for (int px = r.left; px < r.right; ++px)
        row[px] = DibPixel(v, srow, xmap[static_cast<std::size_t>(px - box.left)]);
    }
  }
  return srcHeight;
}

}  // namespace

int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD) {
  if (!bits || usage != DIB_RGB_COLORS) return 0;
  DibView v;
  std::size_t header;
  if (!ParseDibHeader(info, SIZE_MAX, &v, &header)) return 0;
  v.bits = static_cast<const std::uint8_t*>(bits);
  return DrawDib(hdc, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, v);
}

int platform::StretchPackedDib(HDC hdc, int xDest, int yDest, int destWidth, int destHeight,
                               const void* packed, std::size_t size) {
  if (!packed) return 0;
  DibView v;
  std::size_t header;
  if (!ParseDibHeader(static_cast<const BITMAPINFO*>(packed), size, &v, &header)) return 0;
  if (v.stride != 0 && (size - header) / v.stride < static_cast<std::size_t>(v.height)) return 0;
  v.bits = static_cast<const std::uint8_t*>(packed) + header;
  return DrawDib(hdc, xDest, yDest, destWidth, destHeight, 0, 0, v.width, v.height, v);
}

HICON platform::CreateIconFromArgb(int width, int height, const std::uint32_t* argb) {
  if (!argb || width <= 0 || height <= 0 || width > 1024 || height > 1024) return nullptr;
  auto* icon = new Icon{width, height, {}, {}};
  std::size_t n = static_cast<std::size_t>(width) * height;
  icon->pixels.resize(n);
  icon->alpha.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t p = argb[i];
    icon->pixels[i] = ToRgb565(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    icon->alpha[i] = static_cast<std::uint8_t>(p >> 24);
  }
  std::lock_guard lock(G().mu);
  G().icons.insert(icon);
  return reinterpret_cast<HICON>(icon);
}

HBITMAP platform::CreateBitmapFromArgb(int width, int height, const std::uint32_t* argb) {
  if (!argb) return nullptr;
  HBITMAP b = CreateCompatibleBitmap(nullptr, width, height);
  if (!b) return nullptr;
  std::lock_guard lock(G().mu);
  GdiObject* o = ObjLocked(b);
  std::size_t n = static_cast<std::size_t>(width) * height;
  for (std::size_t i = 0; i < n; ++i)
    o->surface.pixels[i] = ToRgb565(RGB((argb[i] >> 16) & 0xFF, (argb[i] >> 8) & 0xFF, argb[i] & 0xFF));
  return b;
}

bool platform::GetIconSize(HICON h, SIZE* size) {
  std::lock_guard lock(G().mu);
  auto* icon = reinterpret_cast<Icon*>(h);
  if (!G().icons.count(icon) || !size) return false;
  *size = SIZE{icon->width, icon->height};
  return true;
}

BOOL DestroyIcon(HICON h) {
  std::lock_guard lock(G().mu);
  auto* icon = reinterpret_cast<Icon*>(h);
  if (!G().icons.erase(icon)) return FALSE;
  delete icon;
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON h) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  auto* icon = reinterpret_cast<Icon*>(h);
  if (!dc || !G().icons.count(icon)) return FALSE;
  RECT box{x + dc->origin.x, y + dc->origin.y, x + dc->origin.x + icon->width,
           y + dc->origin.y + icon->height};
  for (const RECT& c : dc->clip) {
    RECT r = Intersect(box, c);
    if (RectEmpty(r)) continue;
    for (int py = r.top; py < r.bottom; ++py) {
      std::uint16_t* row = dc->surface->pixels.data() + static_cast<std::size_t>(py) * dc->surface->width;
      std::size_t base = static_cast<std::size_t>(py - box.top) * icon->width - box.left;
      for (int px = r.left; px < r.right; ++px) {
        unsigned a = icon->alpha[base + px];
        if (a == 0) continue;
        if (a == 255) {
          row[px] = icon->pixels[base + px];
          continue;
        }
        COLORREF d = FromRgb565(row[px]), s = FromRgb565(icon->pixels[base + px]);
        row[px] = ToRgb565(RGB((GetRValue(s) * a + GetRValue(d) * (255 - a)) / 255,
                               (GetGValue(s) * a + GetGValue(d) * (255 - a)) / 255,
                               (GetBValue(s) * a + GetBValue(d) * (255 - a)) / 255));
      }
    }
  }
  return TRUE;
}

std::uint16_t* platform::GetDCPixels(HDC hdc, int* width, int* height, int* pitch) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return nullptr;
  if (width) *width = dc->surface->width;
  if (height) *height = dc->surface->height;
  if (pitch) *pitch = dc->surface->width;
  return dc->surface->pixels.data();
}

// ---- Text ----

namespace {

struct TextState {
  Surface* surface;
  POINT origin;
  Region clip;
  FontSpec font;
  std::uint16_t textColor;
  std::uint16_t bkColor;
  bool opaque;
};

bool Snapshot(HDC hdc, TextState* t) {
  std::lock_guard lock(G().mu);
  DC* dc = DcLocked(hdc);
  if (!dc) return false;
  *t =
      TextState{dc->surface,           dc->origin,          dc->clip, dc->font->font, ToRgb565(dc->textColor),
                ToRgb565(dc->bkColor), dc->bkMode == OPAQUE};
  return true;
}

void FillClipped(Surface& s, const Region& clip, const RECT& r, std::uint16_t color) {
  for (const RECT& c : clip) {
    RECT x = Intersect(r, c);
    if (RectEmpty(x)) continue;
    for (int y = x.top; y < x.bottom; ++y)
      std::fill_n(s.pixels.data() + static_cast<std::size_t>(y) * s.width + x.left, x.right - x.left, color);
  }
}

/// Draws one line at logical (x, y); the line's cell is filled first in opaque mode.
void DrawLine(TextState& t, const Region& clip, int x, int y, std::u16string_view text) {
  int sx = x + t.origin.x, sy = y + t.origin.y;
  if (t.opaque) {
    FontMetrics m = GetFontMetrics(t.font);
    FillClipped(*t.surface, clip, RECT{sx, sy, sx + TextWidth(t.font, text), sy + m.height}, t.bkColor);
  }
  DrawTextRun(*t.surface, clip, sx, sy, t.font, text, t.textColor);
}

/// Cuts `line` so that it and "..." fit in `width`.
std::u16string Ellipsize(const FontSpec& font, std::u16string_view line, int width) {
  if (TextWidth(font, line) <= width) return std::u16string(line);
  int dots = TextWidth(font, u"...");
  int w = 0;
  std::size_t n = 0;
  while (n < line.size()) {
    int a = CharAdvance(font, line[n]);
    if (w + a + dots > width) break;
    w += a;
    ++n;
  }
  // Do not end on half of a surrogate pair.
  if (n > 0 && line[n - 1] >= 0xD800 && line[n - 1] <= 0xDBFF) --n;
  return std::u16string(line.substr(0, n)) + u"...";
}

/// Splits text into lines: at line breaks and, with word breaking, where a line would
/// exceed `width` (at the last space; a word longer than the width is cut).
std::vector<std::u16string> BreakLines(const FontSpec& font, std::u16string_view text, int width,
                                       bool singleLine, bool wordBreak) {
  std::vector<std::u16string> lines;
  std::vector<std::u16string_view> paragraphs;
  if (singleLine) {
    paragraphs.push_back(text);
  } else {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == u'\n' || text[i] == u'\r') {
        paragraphs.push_back(text.substr(start, i - start));
        if (i < text.size() && text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
      }
    }
  }
  for (auto para : paragraphs) {
    std::u16string p;
    for (char16_t c : para) p.push_back(singleLine && (c == u'\r' || c == u'\n') ? u' ' : c);
    if (!wordBreak || singleLine) {
      lines.push_back(std::move(p));
      continue;
    }
    std::size_t pos = 0;
    if (p.empty()) lines.emplace_back();
    while (pos < p.size()) {
      int w = 0;
      std::size_t end = pos, lastSpace = std::u16string::npos;
      while (end < p.size()) {
        int a = CharAdvance(font, p[end]);
        if (w + a > width && end > pos && p[end] != u' ') break;
        if (p[end] == u' ') lastSpace = end;
        w += a;
        ++end;
      }
      if (end < p.size()) {
        if (lastSpace != std::u16string::npos && lastSpace > pos) {
          lines.push_back(p.substr(pos, lastSpace - pos));
          pos = lastSpace + 1;
        } else {
          lines.push_back(p.substr(pos, end - pos));
          pos = end;
        }
        while (pos < p.size() && p[pos] == u' ') ++pos;
      } else {
        // Trailing spaces do not count.
        std::size_t e = end;
        while (e > pos && p[e - 1] == u' ') --e;
        lines.push_back(p.substr(pos, e - pos));
        pos = end;
      }
    }
  }
  return lines;
}

std::u16string StripPrefix(std::u16string_view text) {
  // "&x" underlines x (drawn plainly here), "&&" is a literal ampersand.
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&') {
      if (i + 1 < text.size()) out.push_back(text[++i]);
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

int DrawText(HDC hdc, LPCWSTR text, int count, RECT* rc, UINT format) {
  if (!rc) return 0;
  TextState t;
  if (!Snapshot(hdc, &t)) return 0;
  std::u16string body(View(text, count));
  if (!(format & DT_NOPREFIX)) body = StripPrefix(body);
  if (format & DT_EXPANDTABS)
    for (auto& c : body)
      if (c == u'\t') c = u' ';
  int width = std::max<LONG>(rc->right - rc->left, 0);
  bool single = (format & DT_SINGLELINE) != 0;
  auto lines = BreakLines(t.font, body, width, single, (format & DT_WORDBREAK) != 0);
  if (format & DT_END_ELLIPSIS)
    for (auto& l : lines) l = Ellipsize(t.font, l, width);
  FontMetrics m = GetFontMetrics(t.font);
  int lineHeight = m.height;
  int total = lineHeight * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    int maxw = 0;
    for (auto& l : lines) maxw = std::max(maxw, TextWidth(t.font, l));
    if (!(format & DT_WORDBREAK) || single) rc->right = rc->left + maxw;
    rc->bottom = rc->top + total;
    return total;
  }
  int y = rc->top;
  if (single && (format & DT_VCENTER))
    y = rc->top + ((rc->bottom - rc->top) - lineHeight) / 2;
  else if (single && (format & DT_BOTTOM))
    y = rc->bottom - lineHeight;
  Region clip = t.clip;
  if (!(format & DT_NOCLIP)) {
    RECT r = *rc;
    OffsetRect(&r, t.origin.x, t.origin.y);
    IntersectRegion(clip, r);
  }
  for (auto& l : lines) {
    int w = TextWidth(t.font, l);
    int x = rc->left;
    if (format & DT_CENTER)
      x = rc->left + (width - w) / 2;
    else if (format & DT_RIGHT)
      x = rc->right - w;
    DrawLine(t, clip, x, y, l);
    y += lineHeight;
  }
  return total;
}

BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* rc, LPCWSTR text, UINT count,
                const int* dx) {
  TextState t;
  if (!Snapshot(hdc, &t)) return FALSE;
  Region clip = t.clip;
  if (rc) {
    RECT r = *rc;
    OffsetRect(&r, t.origin.x, t.origin.y);
    if (options & ETO_OPAQUE) FillClipped(*t.surface, clip, r, t.bkColor);
    if (options & ETO_CLIPPED) IntersectRegion(clip, r);
  }
  if (!text || count == 0) return TRUE;
  std::u16string_view s(text, count);
  if (dx) {
    // Explicit advances: one run per character.
    int pen = x;
    for (UINT i = 0; i < count; ++i) {
      DrawLine(t, clip, pen, y, s.substr(i, 1));
      pen += dx[i];
    }
    return TRUE;
  }
  DrawLine(t, clip, x, y, s);
  return TRUE;
}

BOOL GetTextExtentPoint32(HDC hdc, LPCWSTR text, int count, SIZE* size) {
  if (!size || count < 0 || (!text && count > 0)) return FALSE;
  TextState t;
  if (!Snapshot(hdc, &t)) return FALSE;
  size->cx = TextWidth(t.font, std::u16string_view(text ? text : u"", static_cast<std::size_t>(count)));
  size->cy = GetFontMetrics(t.font).height;
  return TRUE;
}

BOOL GetTextExtentExPoint(HDC hdc, LPCWSTR text, int count, int maxExtent, int* fit, int* dx, SIZE* size) {
  if (count < 0 || (!text && count > 0)) return FALSE;
  TextState t;
  if (!Snapshot(hdc, &t)) return FALSE;
  int w = 0, n = 0;
  bool fits = true;
  for (int i = 0; i < count; ++i) {
    w += CharAdvance(t.font, text[i]);
    if (dx) dx[i] = w;
    if (fits && (maxExtent < 0 || w <= maxExtent))
      n = i + 1;
    else
      fits = false;
  }
  if (fit) *fit = n;
  if (size) *size = SIZE{w, GetFontMetrics(t.font).height};
  return TRUE;
}

BOOL GetTextMetrics(HDC hdc, TEXTMETRIC* tm) {
  if (!tm) return FALSE;
  TextState t;
  LONG weight;
  {
    std::lock_guard lock(G().mu);
    DC* dc = DcLocked(hdc);
    if (!dc) return FALSE;
    weight = dc->font->font.bold ? FW_BOLD : FW_NORMAL;
  }
  if (!Snapshot(hdc, &t)) return FALSE;
  FontMetrics m = GetFontMetrics(t.font);
  *tm = TEXTMETRIC{m.height, m.ascent,       m.descent,  m.height - t.font.emPixels,
                   0,        m.averageWidth, m.maxWidth, weight};
  return TRUE;
}
