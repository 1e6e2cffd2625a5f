#pragma once
// Simple case folding of UTF-16 code units for the case-insensitive names of the
// registry and of file patterns: ASCII, Latin-1, Greek and Cyrillic capitals fold to
// their small letters; everything else compares as it is.

#include <string>
#include <string_view>

namespace platform::core {

inline char16_t FoldChar(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if (c < 0xC0) return c;
  if (c <= 0xDE && c != 0xD7) return c + 32;                  // Latin-1 capitals
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;                // Cyrillic with marks
  return c;
}

inline std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldChar(c);
  return out;
}

}  // namespace platform::core
