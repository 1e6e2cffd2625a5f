#pragma once
/// File helpers over the Linux file system. Calls returning bool set the thread's last
/// error (GetLastError) on failure: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
/// ERROR_FILE_EXISTS / ERROR_ALREADY_EXISTS, ERROR_ACCESS_DENIED, ERROR_DISK_FULL,
/// ERROR_DIR_NOT_EMPTY, ERROR_INVALID_PARAMETER.
/// The phone's read-only attribute is the absence of every write permission bit.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/types.h"

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

namespace platform {

/// True when anything (file or directory) exists at `path`.
bool PathExists(std::u16string_view path);
bool FileExists(std::u16string_view path);       ///< a regular file
bool DirectoryExists(std::u16string_view path);  ///< a directory

/// Size in bytes of a regular file, -1 when it does not exist or is not a file.
std::int64_t FileSize(std::u16string_view path);

/// FILE_ATTRIBUTE_* of `path`, INVALID_FILE_ATTRIBUTES when it does not exist.
DWORD GetFileAttributes(std::u16string_view path);
/// Only FILE_ATTRIBUTE_READONLY is honoured; other bits are accepted and ignored.
bool SetFileAttributes(std::u16string_view path, DWORD attributes);
bool IsReadOnly(std::u16string_view path);
bool SetReadOnly(std::u16string_view path, bool readOnly);

/// Copies a regular file. With `failIfExists` an existing target is never touched
/// (ERROR_FILE_EXISTS) — also when another process creates it meanwhile. The copy is
/// written under a temporary name and appears whole or not at all; its read-only
/// attribute is cleared.
bool CopyFile(std::u16string_view from, std::u16string_view to, bool failIfExists);

/// Deletes a file, clearing its read-only attribute first.
bool DeleteFile(std::u16string_view path);

/// Renames a file or directory. Without `replace` an existing target makes it fail
/// (ERROR_ALREADY_EXISTS); with it an existing file is replaced atomically.
bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace = false);

/// Makes one directory; its parent must exist. ERROR_ALREADY_EXISTS when it does.
bool CreateDirectory(std::u16string_view path);
/// Makes every missing level of `path`; true when the directory exists afterwards.
bool CreateDirectories(std::u16string_view path);
/// Removes an empty directory.
bool RemoveDirectory(std::u16string_view path);
/// Removes a directory with everything below it (read-only entries included).
/// A missing directory counts as removed.
bool RemoveTree(std::u16string_view path);

struct DirectoryEntry {
  std::u16string name;
  bool isDirectory = false;
  std::uint64_t size = 0;  ///< bytes, 0 for directories
  DWORD attributes = 0;    ///< FILE_ATTRIBUTE_*
};

/// Entries of `dir` in file-system order, without "." and "..". `pattern` filters names
/// with '*' and '?' matched case-insensitively ("*.jpg"); "*" or "" lists everything.
/// Returns false (and an empty list) when the directory cannot be read.
bool ListDirectory(std::u16string_view dir, std::vector<DirectoryEntry>& entries,
                   std::u16string_view pattern = u"*");

/// Case-insensitive wildcard match of a file name ('*' any run, '?' one character).
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

/// fopen with UTF-16 path and mode ("r", "wb", "a+", ...); nullptr on failure.
std::FILE* OpenFile(std::u16string_view path, std::u16string_view mode);
/// Flushes an open file's buffer and makes its contents durable on disk (FlushFileBuffers).
bool SyncFile(std::FILE* file);

/// Whole-file helpers for small files. ReadFile fails on a missing file; WriteFile
/// replaces the file atomically (temporary file and rename).
bool ReadFile(std::u16string_view path, std::string& contents);
bool WriteFile(std::u16string_view path, std::string_view contents);

}  // namespace platform
