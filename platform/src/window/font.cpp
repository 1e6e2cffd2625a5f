// Glyphs are rendered once per (face, size, character) and kept; text is drawn by blending
// the 8-bit coverage into the RGB565 surface.

#include "font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace platform::win {
namespace {

constexpr const char* kRegularPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kBoldPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

struct Glyph {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int advance = 0;
  std::vector<std::uint8_t> coverage;
};

struct SizeMetrics {
  int ascent;
  int descent;
};

struct Fonts {
  std::mutex mu;
  FT_Library library = nullptr;
  FT_Face faces[2] = {nullptr, nullptr};
  bool loaded = false;
  std::map<std::uint64_t, std::unique_ptr<Glyph>> glyphs;
  std::map<std::uint32_t, SizeMetrics> metrics;
};

Fonts& F() {
  static Fonts* f = new Fonts;
  return *f;
}

bool LoadLocked() {
  Fonts& f = F();
  if (f.loaded) return f.faces[0] != nullptr;
  f.loaded = true;
  if (FT_Init_FreeType(&f.library) != 0) return false;
  if (FT_New_Face(f.library, kRegularPath, 0, &f.faces[0]) != 0) f.faces[0] = nullptr;
  if (FT_New_Face(f.library, kBoldPath, 0, &f.faces[1]) != 0) f.faces[1] = f.faces[0];
  return f.faces[0] != nullptr;
}

FT_Face FaceLocked(const FontSpec& font, int em) {
  if (!LoadLocked()) return nullptr;
  FT_Face face = F().faces[font.bold ? 1 : 0];
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em));
  return face;
}

std::uint32_t SizeKey(const FontSpec& font) {
  return static_cast<std::uint32_t>(font.emPixels) << 1 | (font.bold ? 1u : 0u);
}

const SizeMetrics& MetricsLocked(const FontSpec& font) {
  auto key = SizeKey(font);
  auto it = F().metrics.find(key);
  if (it != F().metrics.end()) return it->second;
  SizeMetrics m{font.emPixels * 93 / 100 + 1, font.emPixels * 24 / 100 + 1};
  if (FT_Face face = FaceLocked(font, font.emPixels)) {
    m.ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    m.descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
  }
  return F().metrics.emplace(key, m).first->second;
}

const Glyph& GlyphLocked(const FontSpec& font, char16_t ch) {
  std::uint64_t key = (static_cast<std::uint64_t>(SizeKey(font)) << 16) | ch;
  auto it = F().glyphs.find(key);
  if (it != F().glyphs.end()) return *it->second;
  auto g = std::make_unique<Glyph>();
  FT_Face face = FaceLocked(font, font.emPixels);
  // Surrogate halves have no glyph of their own; they draw as nothing.
  if (face && !(ch >= 0xD800 && ch <= 0xDFFF)) {
    FT_UInt index = FT_Get_Char_Index(face, ch);
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) == 0) {
      FT_GlyphSlot slot = face->glyph;
      g->left = slot->bitmap_left;
      g->top = slot->bitmap_top;
      g->width = static_cast<int>(slot->bitmap.width);
      g->height = static_cast<int>(slot->bitmap.rows);
      g->advance = static_cast<int>((slot->advance.x + 32) >> 6);
      if (slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && g->width > 0 && g->height > 0) {
        g->coverage.resize(static_cast<std::size_t>(g->width) * g->height);
        for (int y = 0; y < g->height; ++y)
          std::copy_n(slot->bitmap.buffer + static_cast<std::ptrdiff_t>(y) * slot->bitmap.pitch, g->width,
                      g->coverage.data() + static_cast<std::size_t>(y) * g->width);
      } else {
        g->width = g->height = 0;
      }
    }
  }
  return *F().glyphs.emplace(key, std::move(g)).first->second;
}

inline std::uint16_t Blend(std::uint16_t dst, std::uint16_t src, unsigned a) {
  // a in 0..256.
  unsigned dr = dst >> 11, dg = (dst >> 5) & 0x3F, db = dst & 0x1F;
  unsigned sr = src >> 11, sg = (src >> 5) & 0x3F, sb = src & 0x1F;
  unsigned r = (dr * (256 - a) + sr * a) >> 8;
  unsigned g = (dg * (256 - a) + sg * a) >> 8;
  unsigned b = (db * (256 - a) + sb * a) >> 8;
  return static_cast<std::uint16_t>((r << 11) | (g << 5) | b);
}

}  // namespace

FontSpec ResolveFont(const LOGFONT& lf) {
  FontSpec spec;
  spec.bold = lf.lfWeight >= FW_SEMIBOLD;
  int em = 12;
  if (lf.lfHeight < 0) {
    em = -static_cast<long long>(lf.lfHeight) > 1000 ? 1000 : -lf.lfHeight;
  } else if (lf.lfHeight > 0) {
    // A positive height asks for the cell height (ascent + descent).
    std::lock_guard lock(F().mu);
    int cell = std::min<LONG>(lf.lfHeight, 1000);
    if (LoadLocked()) {
      FT_Face face = F().faces[spec.bold ? 1 : 0];
      long span = face->ascender - face->descender;
      em = span > 0 ? static_cast<int>((static_cast<long>(cell) * face->units_per_EM + span / 2) / span)
                    : cell;
    } else {
      em = cell;
    }
  }
  spec.emPixels = std::clamp(em, 1, 256);
  return spec;
}

FontMetrics GetFontMetrics(const FontSpec& font) {
  std::lock_guard lock(F().mu);
  const SizeMetrics& m = MetricsLocked(font);
  int avg = GlyphLocked(font, u'x').advance;
  int maxw = GlyphLocked(font, u'W').advance;
  return FontMetrics{m.ascent, m.descent, m.ascent + m.descent, avg, maxw};
}

int CharAdvance(const FontSpec& font, char16_t ch) {
  std::lock_guard lock(F().mu);
  return GlyphLocked(font, ch).advance;
}

int TextWidth(const FontSpec& font, std::u16string_view text) {
  std::lock_guard lock(F().mu);
  int w = 0;
  for (char16_t c : text) w += GlyphLocked(font, c).advance;
  return w;
}

void DrawTextRun(Surface& surface, const Region& clip, int x, int y, const FontSpec& font,
                 std::u16string_view text, std::uint16_t color) {
  std::lock_guard lock(F().mu);
  int baseline = y + MetricsLocked(font).ascent;
  int pen = x;
  for (char16_t c : text) {
    const Glyph& g = GlyphLocked(font, c);
    RECT box{pen + g.left, baseline - g.top, pen + g.left + g.width, baseline - g.top + g.height};
    pen += g.advance;
    if (g.coverage.empty()) continue;
    for (const RECT& cr : clip) {
      RECT r = Intersect(box, cr);
      if (RectEmpty(r)) continue;
      for (int py = r.top; py < r.bottom; ++py) {
        const std::uint8_t* cov =
            g.coverage.data() + static_cast<std::size_t>(py - box.top) * g.width - box.left;
        std::uint16_t* row = surface.pixels.data() + static_cast<std::size_t>(py) * surface.width;
        for (int px = r.left; px < r.right; ++px) {
          unsigned a = cov[px];
          if (a == 0) continue;
          row[px] = a == 255 ? color : Blend(row[px], color, a + (a >> 7));
        }
      }
    }
  }
}

}  // namespace platform::win
