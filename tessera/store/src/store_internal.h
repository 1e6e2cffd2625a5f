#pragma once
// Helpers shared by the store's sources: registry DWORDs and crash-safe file writes.
#include <string>
#include <string_view>

#include "platform/types.h"

namespace store::internal {

DWORD ReadDword(const char16_t* key, const char16_t* value, DWORD fallback);
bool WriteDword(const char16_t* key, const char16_t* value, DWORD data);
bool DeleteKey(const char16_t* key);
std::u16string ReadString(const char16_t* key, const char16_t* value, std::size_t maxChars);

/// Writes `bytes` to `temporary`, flushes it to disk and renames it to `target`; the target
/// is either untouched or completely replaced. The temporary file is removed on failure.
bool WriteReplace(const std::u16string& target, const std::u16string& temporary, std::string_view bytes);
/// One counted write or rename of the fault hook; false (errno set) when it is the one to fail.
bool FaultPoint();
/// Records the failure of the thread's store operation; both return false.
bool Failed(const std::u16string& path, int error, std::string what = {});
bool Refused(std::string what);

}  // namespace store::internal
