#pragma once
// FreeType text: faces, sizes, glyph cache, measuring and drawing onto RGB565 surfaces.

#include <cstdint>
#include <string_view>

#include "internal.h"

namespace platform::win {

/// A resolved font: DejaVu Sans (regular or bold) at an em size in pixels.
struct FontSpec {
  bool bold = false;
  int emPixels = 12;
};

FontSpec ResolveFont(const LOGFONT& lf);

struct FontMetrics {
  int ascent;
  int descent;
  int height;  // ascent + descent
  int averageWidth;
  int maxWidth;
};

FontMetrics GetFontMetrics(const FontSpec& font);
/// Advance of one character in pixels.
int CharAdvance(const FontSpec& font, char16_t ch);
/// Width of a run in pixels.
int TextWidth(const FontSpec& font, std::u16string_view text);
/// Draws a run with its cell's top-left corner at (x, y) in surface coordinates.
void DrawTextRun(Surface& surface, const Region& clip, int x, int y, const FontSpec& font,
                 std::u16string_view text, std::uint16_t color);

}  // namespace platform::win
