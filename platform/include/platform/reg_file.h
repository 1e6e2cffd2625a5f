#pragma once
/// The registry's text exchange format (".reg"): sections "[HKEY_LOCAL_MACHINE\path]"
/// (or "[-...]" to delete a key), then one value per line: "Name"="text",
/// "Name"=dword:0000001e, "Name"=hex:00,ff, "Name"=hex(N):.. for any other type,
/// "Name"=- to delete, and @ for the key's default value. Used by tessera-reg and by
/// tests and installers that provision settings.

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/types.h"

namespace platform {

struct RegFileValue {
  std::u16string name;  ///< empty: the default value ("@")
  DWORD type = REG_NONE;
  std::string data;     ///< the value's bytes exactly as stored (REG_SZ: UTF-16LE with zero)
  bool remove = false;  ///< "Name"=-
};

struct RegFileKey {
  std::u16string path;  ///< full path starting with the root name, '\'-separated
  bool remove = false;  ///< [-path]
  std::vector<RegFileValue> values;
};

struct RegFileError {
  int line = 0;  ///< 1-based line of the fault
  std::string message;
};

/// Parses .reg text (UTF-8, with or without BOM, or UTF-16LE with BOM). Header lines
/// ("REGEDIT4", "... Version 5.00"), blank lines and ';' comments are skipped; hex lists
/// may continue over lines ending in '\'. On failure nothing is returned in `keys`.
bool ParseRegFile(std::string_view text, std::vector<RegFileKey>& keys, RegFileError& error);

/// Writes keys as UTF-8 .reg text starting with "REGEDIT4". Strings that would not come
/// back byte for byte as "text" (no terminating zero, embedded zero, line breaks) are
/// written as hex(1) so that a round trip is exact.
std::string FormatRegFile(const std::vector<RegFileKey>& keys);

/// Splits "HKEY_LOCAL_MACHINE\a\b" (also HKLM, HKCU, HKCR, HKU and the other full root
/// names, any case) into the root and the rest. A path without a root name ("\a\b",
/// "a\b") is taken under HKEY_LOCAL_MACHINE when `defaultToLocalMachine` is set.
bool SplitRootPath(std::u16string_view full, HKEY& root, std::u16string& rest,
                   bool defaultToLocalMachine = false);

/// Canonical full name of a root and path ("HKEY_LOCAL_MACHINE\a\b").
std::u16string FullKeyName(HKEY root, std::u16string_view rest);

/// Reads the key at `fullPath` with all its subkeys (depth first, creation order) as
/// sections. ERROR_FILE_NOT_FOUND when the key is missing.
LONG ExportRegistry(std::u16string_view fullPath, std::vector<RegFileKey>& keys);

/// Applies sections in order: creates keys, sets and deletes values, deletes keys
/// (a missing key or value to delete is not an error). Stops at the first failure.
LONG ImportRegistry(const std::vector<RegFileKey>& keys);

}  // namespace platform
