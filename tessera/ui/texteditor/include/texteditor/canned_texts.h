#pragma once
/// The canned-texts file: one byte 0xEF, then records until the end of the file, each a
/// 32-bit little-endian character count followed by that many UTF-16LE characters (no
/// terminator). Empty texts are never written.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace texteditor {

inline constexpr std::uint8_t kCannedTextsMark = 0xEF;

/// Reads the texts of `path` into `texts` (cleared first). A missing or empty file is an
/// empty list (true). A file whose first byte is not 0xEF reads as empty and returns false,
/// so that a caller can tell it apart and leave it alone. A record running past the end of
/// the file ends the list (the complete records before it are kept).
bool LoadCannedTexts(const std::u16string& path, std::vector<std::u16string>* texts);

/// Writes `texts` (empty ones left out) to a temporary file beside `path` and renames it
/// over `path`. Refuses (false) to replace an existing non-empty file that does not start
/// with 0xEF, so a foreign file is never overwritten by accident. False on any write failure;
/// the old file is then unchanged.
bool SaveCannedTexts(const std::u16string& path, const std::vector<std::u16string>& texts);

/// The records of a file's bytes; false when the first byte is not 0xEF (texts empty).
bool ParseCannedTexts(std::string_view bytes, std::vector<std::u16string>* texts);
/// The bytes of a file holding `texts`.
std::string EncodeCannedTexts(const std::vector<std::u16string>& texts);

}  // namespace texteditor
