#pragma once
/// UTF-16 text of the platform and its conversions at the Linux boundary.

#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

/// Path separator of the device's file system.
inline constexpr WCHAR kPathSeparator = u'/';
inline constexpr char kPathSeparatorA = '/';

/// UTF-8 to UTF-16. Malformed sequences become U+FFFD; never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);

/// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD; never fails.
std::string Utf16ToUtf8(std::u16string_view utf16);
/// A text as a screen description shows it: in double quotes, with `"` and `\` escaped,
/// a line break as `\n` and carriage returns left out.
std::string DescriptionQuoted(std::u16string_view text);

/// The system ("ANSI") code page is UTF-8 on Linux.
inline std::u16string AnsiToWide(std::string_view text) { return Utf8ToUtf16(text); }
inline std::string WideToAnsi(std::u16string_view text) { return Utf16ToUtf8(text); }

/// Per-character copies: each octet becomes one 16-bit unit and back (low 8 bits kept).
std::u16string NarrowToWideCopy(std::string_view text);
std::string WideToNarrowCopy(std::u16string_view text);

/// ASCII case-insensitive equality (only A-Z fold), the one comparison used for content
/// types, file extensions, names and header fields.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

/// Length of a zero-terminated 16-bit string.
std::size_t WideLength(const WCHAR* text);

}  // namespace platform
