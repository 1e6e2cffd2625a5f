#pragma once
/// Loading shared libraries ("Wren.dll", "Amr.dec", "Midi.dec", "amr.enc" — ELF shared
/// objects whatever their names) with the phone OS's calls over dlopen.

#include "platform/errors.h"
#include "platform/types.h"

struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

/// A bare file name is looked up in the program directory first, then in the system's
/// library path; a name with a separator is used as it is. Loading the same file again
/// returns the same handle and counts a reference. nullptr on failure, with
/// GetLastError() ERROR_MOD_NOT_FOUND (or ERROR_INVALID_PARAMETER for a null name).
HMODULE LoadLibrary(LPCWSTR fileName);
/// Drops one reference; the library is unloaded with the last one. FALSE on a bad handle.
BOOL FreeLibrary(HMODULE module);
/// Address of an exported function or data symbol, nullptr (ERROR_PROC_NOT_FOUND) when
/// missing. The wide form takes the name as UTF-16.
FARPROC GetProcAddress(HMODULE module, const char* procName);
FARPROC GetProcAddress(HMODULE module, LPCWSTR procName);
/// Handle of the running program for nullptr, else of an already loaded library
/// (matched by file name, case-insensitively); no reference is counted.
HMODULE GetModuleHandle(LPCWSTR moduleName);
/// Full path of the module (nullptr: the running program) into `fileName`, truncated to
/// `size` characters including the terminating zero; returns the number of characters
/// copied without the zero, 0 on failure.
DWORD GetModuleFileName(HMODULE module, LPWSTR fileName, DWORD size);

/// Data symbol convenience: GetProcAddress's result as an object pointer.
template <typename T>
inline T* GetProcData(HMODULE module, const char* symbol) {
  return reinterpret_cast<T*>(GetProcAddress(module, symbol));
}

// The wide-character names.
inline constexpr auto* LoadLibraryW = &LoadLibrary;
inline FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  return GetProcAddress(module, procName);
}
inline constexpr auto* GetModuleHandleW = &GetModuleHandle;
inline constexpr auto* GetModuleFileNameW = &GetModuleFileName;
