// The compose request record handed over by another program.
#include <cstddef>
#include <cstdint>

#include "store/store_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  store::ComposeRequest request;
  if (store::DecodeImportRecord(data, size, &request)) {
    std::string again = store::EncodeImportRecord(request);
    store::ComposeRequest back;
    store::DecodeImportRecord(again.data(), again.size(), &back);
    if (back.recipients != request.recipients || back.text != request.text) __builtin_trap();
  }
  return 0;
}
