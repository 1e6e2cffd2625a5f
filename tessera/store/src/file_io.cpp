#include <atomic>
#include <cstdio>

#include "config/registry.h"
#include "platform/files.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "store_internal.h"

namespace store {
namespace {
std::atomic<int> gFailAt{0};
std::atomic<int> gOperations{0};
}  // namespace

int testing::SetFailAfter(int n) {
  int done = gOperations.exchange(0);
  gFailAt = n;
  return done;
}

namespace internal {

bool FaultPoint() {
  int count = ++gOperations;
  int failAt = gFailAt.load();
  return failAt == 0 || count < failAt;
}

bool WriteReplace(const std::u16string& target, const std::u16string& temporary, std::string_view bytes) {
  std::FILE* file = platform::OpenFile(temporary, u"wb");
  if (!file) return false;
  bool ok = FaultPoint() && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fflush(file) == 0 && ok;
  ok = platform::SyncFile(file) && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = FaultPoint() && platform::MoveFile(temporary, target, true);
  if (!ok) platform::DeleteFile(temporary);
  return ok;
}

DWORD ReadDword(const char16_t* key, const char16_t* value, DWORD fallback) {
  return config::reg::GetDword(HKEY_LOCAL_MACHINE, key, value, fallback, config::reg::Check::Exact);
}

bool WriteDword(const char16_t* key, const char16_t* value, DWORD data) {
  return config::reg::SetDword(HKEY_LOCAL_MACHINE, key, value, data, false);
}

bool DeleteKey(const char16_t* key) {
  return config::reg::DeleteKey(HKEY_LOCAL_MACHINE, key);
}

std::u16string ReadString(const char16_t* key, const char16_t* value, std::size_t maxChars) {
  std::u16string text;
  if (!config::reg::GetString(HKEY_LOCAL_MACHINE, key, value, static_cast<DWORD>((maxChars + 1) * 2), &text,
                              config::reg::Check::Exact))
    return {};
  return text;
}

}  // namespace internal
}  // namespace store
