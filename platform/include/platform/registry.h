#pragma once
/// The registry: keys are case-insensitive '\'-separated paths under the predefined roots,
/// values have a name, a type and data; enumeration returns values and subkeys in creation
/// order. Stored in one SQLite database, "<device root>/registry.db", shared safely by all
/// processes of the device root. Every call returns ERROR_SUCCESS or an ERROR_ code.

#include <cstdint>

#include "platform/errors.h"
#include "platform/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

/// Predefined root keys; they need not (and cannot) be closed.
inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003u});

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Access masks. As on the phone, access is accepted and not enforced.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Options and dispositions of RegCreateKeyEx.
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_OPTION_VOLATILE = 1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

/// Opens `subKey` of `key`, creating every missing level. `disposition` (optional) tells
/// whether the key was newly created. `subKey` null or empty opens `key` itself again.
LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM sam,
                    void* securityAttributes, PHKEY result, LPDWORD disposition);

/// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);

/// Reads a value (null or empty name: the key's default value). With `data` null only the
/// size is reported. A buffer that is too small gives ERROR_MORE_DATA and the needed size.
LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                     LPDWORD dataSize);

/// Writes a value; an existing value keeps its place in the enumeration order.
/// REG_SZ data is UTF-16 with its terminating zero, size (length + 1) * 2 bytes.
LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);

/// Value number `index` in creation order. `nameLength` is in characters: on input the
/// buffer's size including the terminating zero, on output the name's length without it.
/// ERROR_NO_MORE_ITEMS past the last value.
LONG RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPDWORD type,
                  LPBYTE data, LPDWORD dataSize);

/// Subkey number `index` in creation order; lengths as for RegEnumValue.
LONG RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR keyClass,
                  LPDWORD classLength, PFILETIME lastWriteTime);

/// Counts of subkeys and values and the longest names (characters) and data (bytes).
/// Every out parameter is optional.
LONG RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                     LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                     LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                     PFILETIME lastWriteTime);

LONG RegDeleteValue(HKEY key, LPCWSTR valueName);

/// Deletes `subKey` with all its subkeys and values. Handles still open on a deleted key
/// fail afterwards with ERROR_KEY_DELETED.
LONG RegDeleteKey(HKEY key, LPCWSTR subKey);

/// Makes every change so far durable on disk.
LONG RegFlushKey(HKEY key);

LONG RegCloseKey(HKEY key);

// The wide-character names of the same calls.
inline constexpr auto* RegCreateKeyExW = &RegCreateKeyEx;
inline constexpr auto* RegOpenKeyExW = &RegOpenKeyEx;
inline constexpr auto* RegQueryValueExW = &RegQueryValueEx;
inline constexpr auto* RegSetValueExW = &RegSetValueEx;
inline constexpr auto* RegEnumValueW = &RegEnumValue;
inline constexpr auto* RegEnumKeyExW = &RegEnumKeyEx;
inline constexpr auto* RegQueryInfoKeyW = &RegQueryInfoKey;
inline constexpr auto* RegDeleteValueW = &RegDeleteValue;
inline constexpr auto* RegDeleteKeyW = &RegDeleteKey;
