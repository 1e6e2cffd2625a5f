#pragma once
/// Test helpers for work with outside tools and scratch files.

#include <cstdint>
#include <string>
#include <vector>

namespace platform_testing {

/// Runs a shell command; true when it exits with status 0.
bool RunShell(const std::string& command);
/// True when `name` is a command on the PATH.
bool HaveTool(const char* name);
/// The whole file, empty when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

/// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "tessera-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// Empty when the directory could not be made.
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace platform_testing
