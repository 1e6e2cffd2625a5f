#include <cstdio>

#include "wren/wren.h"

namespace {

// Copies an ASCII text into the caller's buffer with its NUL; returns its length.
int32_t Put(WCHAR* buffer, const char* text, int length) {
  for (int i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  buffer[length] = 0;
  return length;
}

int32_t Length(const WCHAR* text) {
  int32_t n = 0;
  while (text[n]) ++n;
  return n;
}

// Display constants by index; colours are 0x00BBGGRR.
constexpr int32_t kConstants[] = {
    0,  // 0: not a constant
    80,         132,        100, 100,        132,        0x00C6CFDE, 0x003FC68D, 0x00C6CFDE, 0x00008080,
    36,         8,          83,  84,         36,         100,        120,        0x00C56A31, 0x00D8E9EC,
    0x0080FF80, 0x00808080, 0,   0x00E76D08, 0x00C0C0C0, 0x00848484, 110,
};

}  // namespace

int32_t FormatDateString(WCHAR* buffer, int32_t year, int32_t month, int32_t day) {
  if (!buffer) return 0;
  char text[48];  // three 32-bit numbers and two separators always fit
  const int n = std::snprintf(text, sizeof text, "%04d/%d/%d", static_cast<int>(year),
                              static_cast<int>(month), static_cast<int>(day));
  return Put(buffer, text, n);
}

int32_t FormatTimeString(WCHAR* buffer, int32_t hour, int32_t minute) {
  if (!buffer) return 0;
  // Noon is afternoon: 12:05 reads "12:05 PM". Midnight keeps the 0 of the 24-hour
  // clock ("0:05 AM"), as the rest of this localisation's times do.
  const bool pm = hour >= 12;
  const int32_t shown = hour >= 13 ? hour - 12 : hour;
  char text[48];
  const int n = std::snprintf(text, sizeof text, "%d:%02d %s", static_cast<int>(shown),
                              static_cast<int>(minute), pm ? "PM" : "AM");
  return Put(buffer, text, n);
}

int32_t FormatNameString(WCHAR* buffer, const WCHAR* nameA, const WCHAR*, const WCHAR* nameB) {
  if (!buffer || !nameA || !nameB) return 0;
  const int32_t lengthA = Length(nameA);
  const int32_t lengthB = Length(nameB);
  int32_t n = 0;
  for (int32_t i = 0; i < lengthB; ++i) buffer[n++] = nameB[i];
  if (lengthA > 0 && lengthB > 0) {
    buffer[n++] = u',';
    buffer[n++] = u' ';
  }
  for (int32_t i = 0; i < lengthA; ++i) buffer[n++] = nameA[i];
  buffer[n] = 0;
  return n;
}

int32_t GetFontInfo(int32_t kind, WCHAR* faceName, int32_t* height) {
  if (kind != 0 && kind != 1) return 0;
  if (!faceName || !height) return 0;
  Put(faceName, "Nina", 4);
  *height = 12;
  return 1;
}

int32_t IsFontBold(int32_t, int32_t) {
  return 0;
}

int32_t GetConstProc(int32_t index) {
  if (index < 1 || index >= static_cast<int32_t>(sizeof kConstants / sizeof kConstants[0])) return 0;
  return kConstants[index];
}
