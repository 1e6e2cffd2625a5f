// Parses arbitrary .reg text; whatever parses must format and parse back to the same
// sections.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/reg_file.h"

namespace {

bool Same(const std::vector<platform::RegFileKey>& a, const std::vector<platform::RegFileKey>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].path != b[i].path || a[i].remove != b[i].remove || a[i].values.size() != b[i].values.size())
      return false;
    for (std::size_t j = 0; j < a[i].values.size(); ++j) {
      const auto& x = a[i].values[j];
      const auto& y = b[i].values[j];
      if (x.name != y.name || x.remove != y.remove || (!x.remove && (x.type != y.type || x.data != y.data)))
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<platform::RegFileKey> keys, again;
  platform::RegFileError error;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!platform::ParseRegFile(text, keys, error)) return 0;
  std::string formatted = platform::FormatRegFile(keys);
  if (!platform::ParseRegFile(formatted, again, error) || !Same(keys, again)) std::abort();
  return 0;
}
