#include "texteditor/canned_texts.h"

#include <cstdio>

#include "platform/files.h"

namespace texteditor {
namespace {

std::uint32_t ReadLe32(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

void PutLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

bool ParseCannedTexts(std::string_view bytes, std::vector<std::u16string>* texts) {
  texts->clear();
  if (bytes.empty() || static_cast<std::uint8_t>(bytes[0]) != kCannedTextsMark) return false;
  std::size_t at = 1;
  while (bytes.size() - at >= 4) {
    const std::uint64_t count = ReadLe32(bytes, at);
    at += 4;
    // A count running past the end is a damaged tail: keep what came before it.
    if (count * 2 > bytes.size() - at) break;
    std::u16string text;
    text.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i, at += 2)
      text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                           (static_cast<std::uint8_t>(bytes[at + 1]) << 8)));
    if (!text.empty()) texts->push_back(std::move(text));
  }
  return true;
}

std::string EncodeCannedTexts(const std::vector<std::u16string>& texts) {
  std::string out(1, static_cast<char>(kCannedTextsMark));
  for (const std::u16string& text : texts) {
    if (text.empty()) continue;
    PutLe32(out, static_cast<std::uint32_t>(text.size()));
    for (char16_t c : text) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
  }
  return out;
}

bool LoadCannedTexts(const std::u16string& path, std::vector<std::u16string>* texts) {
  texts->clear();
  std::string bytes;
  if (!platform::FileExists(path)) return true;
  if (!platform::ReadFile(path, bytes)) return false;
  if (bytes.empty()) return true;
  return ParseCannedTexts(bytes, texts);
}

bool SaveCannedTexts(const std::u16string& path, const std::vector<std::u16string>& texts) {
  if (platform::FileExists(path)) {
    std::string old;
    if (!platform::ReadFile(path, old)) return false;
    if (!old.empty() && static_cast<std::uint8_t>(old[0]) != kCannedTextsMark) return false;
  }
  const std::u16string temp = path + u".tmp";
  const std::string bytes = EncodeCannedTexts(texts);
  std::FILE* f = platform::OpenFile(temp, u"wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = platform::SyncFile(f) && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || !platform::MoveFile(temp, path, true)) {
    platform::DeleteFile(temp);
    return false;
  }
  return true;
}

}  // namespace texteditor
