#pragma once
/// Test helper: a fresh, empty device root for the lifetime of the object.

#include <string>

namespace platform_testing {

class ScopedDeviceRoot {
 public:
  /// Creates a temporary directory and points TESSERA_ROOT at it.
  ScopedDeviceRoot();
  /// Restores TESSERA_ROOT and removes the directory with everything in it.
  ~ScopedDeviceRoot();
  ScopedDeviceRoot(const ScopedDeviceRoot&) = delete;
  ScopedDeviceRoot& operator=(const ScopedDeviceRoot&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace platform_testing
