#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = platform::Utf8ToUtf16(in);
  const std::string back = platform::Utf16ToUtf8(wide);
  // Well-formed UTF-8 survives the round trip unchanged.
  if (platform::Utf8ToUtf16(back) != wide) __builtin_trap();
  return 0;
}
