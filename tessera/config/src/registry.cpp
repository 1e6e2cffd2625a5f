#include "config/registry.h"

namespace config::reg {

bool QueryDword(HKEY key, const WCHAR* name, DWORD* out) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_DWORD || size != sizeof value) return false;
  *out = value;
  return true;
}

bool QueryString(HKEY key, const WCHAR* name, std::u16string* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
  // One spare unit past the data always ends the text.
  std::u16string text(size / 2 + 1, u'\0');
  if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &size) != ERROR_SUCCESS)
    return false;
  text.resize(size / 2);
  if (const std::size_t nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
  *out = std::move(text);
  return true;
}

bool SetDwordValue(HKEY key, const WCHAR* name, DWORD value) {
  return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

bool SetStringValue(HKEY key, const WCHAR* name, std::u16string_view text) {
  const std::u16string data(text);
  return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * 2)) == ERROR_SUCCESS;
}

DWORD GetDword(HKEY root, const WCHAR* key, const WCHAR* name, DWORD defaultValue, Check check) {
  HKEY handle = nullptr;
  if (check == Check::Exact) {
    if (RegOpenKeyEx(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return defaultValue;
    DWORD value = 0;
    const bool ok = QueryDword(handle, name, &value);
    RegCloseKey(handle);
    return ok ? value : defaultValue;
  }
  if (RegCreateKeyEx(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                     nullptr) != ERROR_SUCCESS)
    return defaultValue;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG rc = RegQueryValueEx(handle, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS ? value : defaultValue;
}

bool SetDword(HKEY root, const WCHAR* key, const WCHAR* name, DWORD value, bool flush) {
  HKEY handle = nullptr;
  if (RegCreateKeyEx(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                     nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = SetDwordValue(handle, name, value);
  if (ok && flush) ok = RegFlushKey(handle) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

bool GetString(HKEY root, const WCHAR* key, const WCHAR* name, DWORD maxBytes, std::u16string* out, Check check) {
  HKEY handle = nullptr;
  if (RegOpenKeyEx(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  std::u16string buffer(maxBytes / 2 + 1, u'\0');
  DWORD type = 0;
  DWORD size = maxBytes;
  const LONG rc = RegQueryValueEx(handle, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &size);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || (check == Check::Exact && type != REG_SZ)) return false;
  // The stored text need not carry its NUL; the spare unit at the end always ends it.
  buffer.resize(size / 2);
  if (const std::size_t nul = buffer.find(u'\0'); nul != std::u16string::npos) buffer.resize(nul);
  *out = std::move(buffer);
  return true;
}

bool SetString(HKEY root, const WCHAR* key, const WCHAR* name, std::u16string_view text, bool flush) {
  HKEY handle = nullptr;
  if (RegCreateKeyEx(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                     nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = SetStringValue(handle, name, text);
  if (ok && flush) ok = RegFlushKey(handle) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

bool DeleteKey(HKEY root, const WCHAR* key) {
  const LONG rc = RegDeleteKey(root, key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace config::reg
