// Module files read as data: the section and symbol walk must stay inside the file.
#include <cstdint>
#include <vector>

#include "platform/resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> storage;
  const platform::ResourceTable table = platform::ResourceTable::FromModuleFile({data, size}, &storage);
  for (std::size_t i = 0; i < table.size(); ++i) table.At(i);
  return 0;
}
