// Arbitrary scripts must compile or fail with a message; a compiled table must read back.
#include <cstdint>
#include <string_view>

#include "platform/resources.h"
#include "rc/compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  const rc::CompileResult result =
      rc::Compile(script, "fuzz.rc", [](const std::string&, std::vector<std::uint8_t>*) { return false; });
  if (result.ok) {
    const auto table = platform::ResourceTable::FromBytes(result.table.data(), result.table.size());
    if (!table.valid()) __builtin_trap();
  } else if (result.error.empty()) {
    __builtin_trap();
  }
  return 0;
}
