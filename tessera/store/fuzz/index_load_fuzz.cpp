// Index-file loading over arbitrary bytes: must fail cleanly or yield entries.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/message_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::unique_ptr<store::MessageEntry>> entries;
  std::uint32_t maxId = 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (store::ParseIndex(bytes, u"/tmp/", entries, maxId)) {
    std::vector<const store::MessageSummary*> summaries;
    for (auto& entry : entries) summaries.push_back(&entry->Summary());
    store::BuildIndex(store::FolderId::Outbox, summaries);
  }
  store::DecodeOptionsFile(bytes);
  return 0;
}
