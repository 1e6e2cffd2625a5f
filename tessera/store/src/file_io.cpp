#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/registry.h"
#include "platform/files.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "store_internal.h"

namespace store {
namespace {
std::atomic<int> gFailAt{0};
std::atomic<int> gOperations{0};
std::atomic<int> gFailError{EIO};
thread_local StoreFailure tFailure;
}  // namespace

const StoreFailure& LastFailure() {
  return tFailure;
}

void ClearLastFailure() {
  tFailure = StoreFailure{};
}

std::string DescribeLastFailure() {
  const StoreFailure& f = tFailure;
  if (f.path.empty()) return f.what;
  std::string reason;
  switch (f.error) {
    case ENOSPC:
    case EDQUOT:
      reason = "the disk is full";
      break;
    case EROFS:
      reason = "the disk is read-only";
      break;
    case EACCES:
    case EPERM:
      reason = "permission denied";
      break;
    case 0:
      reason = "failed";
      break;
    default:
      reason = std::strerror(f.error);
      break;
  }
  std::string text = "cannot write " + platform::Utf16ToUtf8(f.path) + ": " + reason;
  if (!f.what.empty()) text = f.what + " (" + text + ")";
  return text;
}

void test_hooks::SetFailError(int error) {
  gFailError = error;
}

int test_hooks::SetFailAfter(int n) {
  int done = gOperations.exchange(0);
  gFailAt = n;
  return done;
}

namespace internal {

bool FaultPoint() {
  int count = ++gOperations;
  int failAt = gFailAt.load();
  if (failAt == 0 || count < failAt) return true;
  errno = gFailError.load();
  return false;
}

bool Failed(const std::u16string& path, int error, std::string what) {
  tFailure.path = path;
  tFailure.error = error;
  tFailure.what = std::move(what);
  return false;
}

bool Refused(std::string what) {
  tFailure = StoreFailure{};
  tFailure.what = std::move(what);
  return false;
}

bool WriteReplace(const std::u16string& target, const std::u16string& temporary, std::string_view bytes) {
  errno = 0;
  std::FILE* file = platform::OpenFile(temporary, u"wb");
  if (!file) return Failed(target, errno);
  int error = 0;
  bool ok = FaultPoint() && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (!ok) error = errno;
  if (std::fflush(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!platform::SyncFile(file) && ok) {
    ok = false;
    error = errno;
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && !(FaultPoint() && platform::MoveFile(temporary, target, true))) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    platform::DeleteFile(temporary);
    return Failed(target, error);
  }
  return true;
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
