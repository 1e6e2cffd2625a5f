// Any bytes read as a canned-texts file: no crash, and what was read writes back to bytes
// that read the same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "texteditor/canned_texts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::u16string> texts;
  texteditor::ParseCannedTexts(std::string_view(reinterpret_cast<const char*>(data), size), &texts);
  std::vector<std::u16string> again;
  if (!texteditor::ParseCannedTexts(texteditor::EncodeCannedTexts(texts), &again) || again != texts) std::abort();
  return 0;
}
