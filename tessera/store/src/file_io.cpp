#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/files.h"
#include "platform/registry.h"
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
  ok = ::fsync(::fileno(file)) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = FaultPoint() && platform::MoveFile(temporary, target, true);
  if (!ok) platform::DeleteFile(temporary);
  return ok;
}

DWORD ReadDword(const char16_t* key, const char16_t* value, DWORD fallback) {
  HKEY handle = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return fallback;
  DWORD type = 0, data = 0, size = sizeof data;
  LONG rc = RegQueryValueEx(handle, value, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return fallback;
  return data;
}

bool WriteDword(const char16_t* key, const char16_t* value, DWORD data) {
  HKEY handle = nullptr;
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueEx(handle, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

bool DeleteKey(const char16_t* key) {
  LONG rc = RegDeleteKey(HKEY_LOCAL_MACHINE, key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

std::u16string ReadString(const char16_t* key, const char16_t* value, std::size_t maxChars) {
  HKEY handle = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return {};
  std::u16string text(maxChars + 1, u'\0');
  DWORD type = 0, size = static_cast<DWORD>(text.size() * 2);
  LONG rc = RegQueryValueEx(handle, value, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
  text.resize(size / 2);
  if (auto zero = text.find(u'\0'); zero != std::u16string::npos) text.resize(zero);
  return text;
}

}  // namespace internal
}  // namespace store
