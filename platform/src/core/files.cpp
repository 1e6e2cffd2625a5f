#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "core/fold.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform {

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

DWORD ErrnoToError(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    default:
      return ERROR_WRITE_FAULT;
  }
}

bool Fail(int e) {
  SetLastError(ErrnoToError(e));
  return false;
}

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// A path text with an embedded zero cannot name a file; refuse it rather than
// silently naming a different, shorter one.
bool ToNative(std::u16string_view path, std::string& out) {
  if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  out = NativePath(path);
  return true;
}

bool StatPath(std::u16string_view path, struct stat& st) {
  std::string p;
  if (!ToNative(path, p)) return false;
  if (::stat(p.c_str(), &st) != 0) return Fail(errno);
  return true;
}

DWORD AttributesOf(const struct stat& st) {
  DWORD a = 0;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if ((st.st_mode & kWriteBits) == 0) a |= FILE_ATTRIBUTE_READONLY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// A temporary file beside `target`, to be renamed or linked into place.
int MakeTemp(const std::string& target, std::string& tempName) {
  tempName = target + ".tmpXXXXXX";
  return ::mkstemp(tempName.data());
}

// Puts a finished temporary file at `target`: without `replace` through link(), which
// fails when the target exists (also one created by another process meanwhile).
bool Publish(const std::string& temp, const std::string& target, bool replace) {
  if (replace) {
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      int e = errno;
      ::unlink(temp.c_str());
      return Fail(e);
    }
    return true;
  }
  int rc = ::link(temp.c_str(), target.c_str());
  int e = errno;
  ::unlink(temp.c_str());
  if (rc != 0) return e == EEXIST ? FailWith(ERROR_FILE_EXISTS) : Fail(e);
  return true;
}

bool RemoveTreeNative(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? true : Fail(errno);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return Fail(errno);
    return true;
  }
  if ((st.st_mode & S_IWUSR) == 0) ::chmod(path.c_str(), st.st_mode | S_IWUSR | S_IXUSR);
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return Fail(errno);
  bool ok = true;
  while (dirent* ent = ::readdir(dir)) {
    std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    if (!RemoveTreeNative(path + "/" + name)) ok = false;
  }
  ::closedir(dir);
  if (!ok) return false;
  if (::rmdir(path.c_str()) != 0 && errno != ENOENT) return Fail(errno);
  return true;
}

}  // namespace

bool PathExists(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st);
}

bool FileExists(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

std::int64_t FileSize(std::u16string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return -1;
  if (!S_ISREG(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

DWORD GetFileAttributes(std::u16string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return INVALID_FILE_ATTRIBUTES;
  return AttributesOf(st);
}

bool SetFileAttributes(std::u16string_view path, DWORD attributes) {
  return SetReadOnly(path, (attributes & FILE_ATTRIBUTE_READONLY) != 0);
}

bool IsReadOnly(std::u16string_view path) {
  DWORD a = GetFileAttributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0;
}

bool SetReadOnly(std::u16string_view path, bool readOnly) {
  std::string p;
  if (!ToNative(path, p)) return false;
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return Fail(errno);
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~kWriteBits) : (mode | S_IWUSR);
  if (::chmod(p.c_str(), mode) != 0) return Fail(errno);
  return true;
}

bool CopyFile(std::u16string_view from, std::u16string_view to, bool failIfExists) {
  std::string src, dst;
  if (!ToNative(from, src) || !ToNative(to, dst)) return false;
  Fd in;
  in.fd = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) return Fail(errno);
  struct stat st;
  if (::fstat(in.fd, &st) != 0) return Fail(errno);
  if (!S_ISREG(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (failIfExists && ::access(dst.c_str(), F_OK) == 0) return FailWith(ERROR_FILE_EXISTS);

  std::string temp;
  Fd out;
  out.fd = MakeTemp(dst, temp);
  if (out.fd < 0) return Fail(errno);
  std::unique_ptr<char[]> buf(new char[65536]);
  for (;;) {
    ssize_t n = ::read(in.fd, buf.get(), 65536);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out.fd, buf.get(), static_cast<std::size_t>(n)))) {
      int e = errno;
      ::unlink(temp.c_str());
      return Fail(e);
    }
    if (n == 0) break;
  }
  // The copy is never read-only, whatever the source was.
  ::fchmod(out.fd, (st.st_mode & 0777) | S_IWUSR);
  if (::close(out.fd) != 0) {
    out.fd = -1;
    int e = errno;
    ::unlink(temp.c_str());
    return Fail(e);
  }
  out.fd = -1;
  if (!Publish(temp, dst, !failIfExists)) return false;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool DeleteFile(std::u16string_view path) {
  std::string p;
  if (!ToNative(path, p)) return false;
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return Fail(errno);
  if (S_ISDIR(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR);
  if (::unlink(p.c_str()) != 0) return Fail(errno);
  return true;
}

bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace) {
  std::string src, dst;
  if (!ToNative(from, src) || !ToNative(to, dst)) return false;
  // Between file systems a file is copied and the source deleted, as the phone's move
  // does between volumes; directories cannot move there.
  auto acrossFileSystems = [&] {
    struct stat st;
    if (::lstat(src.c_str(), &st) != 0) return Fail(errno);
    if (!S_ISREG(st.st_mode)) return Fail(EXDEV);
    if (!CopyFile(from, to, !replace)) return false;
    return DeleteFile(from);
  };
  if (replace) {
    if (::rename(src.c_str(), dst.c_str()) == 0) return true;
    return errno == EXDEV ? acrossFileSystems() : Fail(errno);
  }
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return true;
  int e = errno;
  if (e == EXDEV) return acrossFileSystems();
  if (e != EINVAL && e != ENOSYS) return Fail(e);
  // File systems without RENAME_NOREPLACE: link and unlink keeps the no-overwrite
  // guarantee for files; directories fall back to a check and a rename.
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0) return Fail(errno);
  if (!S_ISDIR(st.st_mode)) {
    if (::link(src.c_str(), dst.c_str()) != 0) return Fail(errno);
    ::unlink(src.c_str());
    return true;
  }
  if (::access(dst.c_str(), F_OK) == 0) return FailWith(ERROR_ALREADY_EXISTS);
  if (::rename(src.c_str(), dst.c_str()) != 0) return Fail(errno);
  return true;
}

bool CreateDirectory(std::u16string_view path) {
  std::string p;
  if (!ToNative(path, p)) return false;
  if (::mkdir(p.c_str(), 0777) != 0) return Fail(errno);
  return true;
}

bool CreateDirectories(std::u16string_view path) {
  std::string p;
  if (!ToNative(path, p)) return false;
  // Each separator-terminated prefix that does not exist yet is made in turn.
  for (std::size_t pos = 1; pos <= p.size(); ++pos) {
    if (pos != p.size() && p[pos] != '/') continue;
    std::string prefix = p.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return Fail(errno);
  }
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return Fail(errno);
  if (!S_ISDIR(st.st_mode)) return FailWith(ERROR_ALREADY_EXISTS);
  return true;
}

bool RemoveDirectory(std::u16string_view path) {
  std::string p;
  if (!ToNative(path, p)) return false;
  if (::rmdir(p.c_str()) != 0) return Fail(errno);
  return true;
}

bool RemoveTree(std::u16string_view path) {
  std::string p;
  if (!ToNative(path, p)) return false;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p == "/") return FailWith(ERROR_ACCESS_DENIED);
  return RemoveTreeNative(p);
}

bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  // Iterative wildcard match with one backtrack point: linear in practice, never
  // exponential on patterns full of '*'.
  std::size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || core::FoldChar(pattern[p]) == core::FoldChar(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool ListDirectory(std::u16string_view dirPath, std::vector<DirectoryEntry>& entries,
                   std::u16string_view pattern) {
  entries.clear();
  std::string p;
  if (!ToNative(dirPath, p)) return false;
  DIR* dir = ::opendir(p.c_str());
  if (!dir) return Fail(errno);
  bool all = pattern.empty() || pattern == u"*" || pattern == u"*.*";
  while (dirent* ent = ::readdir(dir)) {
    std::string n = ent->d_name;
    if (n == "." || n == "..") continue;
    DirectoryEntry e;
    e.name = Utf8ToUtf16(n);
    if (!all && !MatchesPattern(e.name, pattern)) continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), ent->d_name, &st, 0) != 0) continue;  // vanished meanwhile
    e.isDirectory = S_ISDIR(st.st_mode);
    e.size = e.isDirectory ? 0 : static_cast<std::uint64_t>(st.st_size);
    e.attributes = AttributesOf(st);
    entries.push_back(std::move(e));
  }
  ::closedir(dir);
  return true;
}

bool SyncFile(std::FILE* file) {
  if (!file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) return Fail(errno);
  return true;
}

std::FILE* OpenFile(std::u16string_view path, std::u16string_view mode) {
  std::string p;
  if (!ToNative(path, p)) return nullptr;
  std::string m = NativePath(mode);
  if (m.empty() || m.find('\0') != std::string::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::FILE* f = std::fopen(p.c_str(), m.c_str());
  if (!f) Fail(errno);
  return f;
}

bool ReadFile(std::u16string_view path, std::string& contents) {
  contents.clear();
  std::string p;
  if (!ToNative(path, p)) return false;
  Fd in;
  in.fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) return Fail(errno);
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) break;
    contents.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

bool WriteFile(std::u16string_view path, std::string_view contents) {
  std::string p;
  if (!ToNative(path, p)) return false;
  std::string temp;
  Fd out;
  out.fd = MakeTemp(p, temp);
  if (out.fd < 0) return Fail(errno);
  if (!WriteAll(out.fd, contents.data(), contents.size())) {
    int e = errno;
    ::unlink(temp.c_str());
    return Fail(e);
  }
  ::fchmod(out.fd, 0644);
  int rc = ::close(out.fd);
  out.fd = -1;
  if (rc != 0) {
    int e = errno;
    ::unlink(temp.c_str());
    return Fail(e);
  }
  return Publish(temp, p, true);
}

}  // namespace platform
