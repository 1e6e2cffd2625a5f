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
    // A field filled to its end without a terminator is read whole; written again it keeps
    // its terminator, so one character less comes back.
    const std::size_t keep = store::kImportFieldBytes / 2 - 1;
    if (back.recipients != request.recipients.substr(0, keep) || back.text != request.text.substr(0, keep))
      __builtin_trap();
  }
  return 0;
}
