#pragma once
/// The registry helpers every subsystem uses: reading and writing DWORD and string values,
/// either on a key already open or by key path.

#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/types.h"

namespace config::reg {

/// How strictly a stored value's type is checked.
enum class Check {
  /// The type is not examined; a value shorter than four bytes reads as its octets,
  /// zero-extended, a longer one does not fit.
  AnyType,
  /// Only a REG_DWORD of exactly four bytes (or a REG_SZ, for strings) is accepted.
  Exact,
};

// On an open key.
/// A REG_DWORD of exactly four bytes; false otherwise.
bool QueryDword(HKEY key, const WCHAR* name, DWORD* out);
/// A REG_SZ of any length; the text stops at its first NUL.
bool QueryString(HKEY key, const WCHAR* name, std::u16string* out);
bool SetDwordValue(HKEY key, const WCHAR* name, DWORD value);
/// REG_SZ of the text with its NUL, (length + 1) * 2 bytes.
bool SetStringValue(HKEY key, const WCHAR* name, std::u16string_view text);

// By key path.
/// A missing key or value (or any failure) yields `defaultValue`. With AnyType the key is
/// opened with full access and created when absent, as the configuration accessor does.
DWORD GetDword(HKEY root, const WCHAR* key, const WCHAR* name, DWORD defaultValue, Check check = Check::AnyType);
/// Creates the key when needed, writes a REG_DWORD and flushes the key when asked.
bool SetDword(HKEY root, const WCHAR* key, const WCHAR* name, DWORD value, bool flush);
/// Reads a string of at most `maxBytes` bytes (with its NUL); false when the key or value
/// is absent or does not fit (or, with Exact, is not a REG_SZ). The text stops at its first
/// NUL.
bool GetString(HKEY root, const WCHAR* key, const WCHAR* name, DWORD maxBytes, std::u16string* out,
               Check check = Check::AnyType);
bool SetString(HKEY root, const WCHAR* key, const WCHAR* name, std::u16string_view text, bool flush);
/// Deletes the key with its subkeys; a key that does not exist counts as deleted.
bool DeleteKey(HKEY root, const WCHAR* key);

}  // namespace config::reg
