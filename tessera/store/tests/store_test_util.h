#pragma once
// Shared by the store tests: a fresh device root with a store directory inside it.
#include <string>

#include "../src/store_internal.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "store/message_store.h"

namespace store {

class StoreTest : public ::testing::Test {
 protected:
  std::u16string Root() const { return platform::Utf8ToUtf16(root_.path()) + u"/store/"; }
  DWORD Dword(const char16_t* key, const char16_t* value, DWORD fallback = 0xDEAD) const {
    return internal::ReadDword(key, value, fallback);
  }
  platform_testing::ScopedDeviceRoot root_;
};

inline std::unique_ptr<MessageEntry> MakeEntry(MessageStore& store, std::uint32_t state,
                                               std::u16string subject) {
  auto entry = store.NewEntry();
  entry->Summary().SetStateFlags(state);
  entry->Summary().SetSubject(std::move(subject));
  return entry;
}

}  // namespace store
