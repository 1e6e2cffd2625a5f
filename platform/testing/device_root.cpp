#include "platform_testing/device_root.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform_testing {

ScopedDeviceRoot::ScopedDeviceRoot() {
  if (const char* prev = std::getenv("TESSERA_ROOT")) {
    previous_ = prev;
    hadPrevious_ = true;
  }
  std::string tmpl = (std::filesystem::temp_directory_path() / "tessera-root-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
  ::setenv("TESSERA_ROOT", path_.c_str(), 1);
}

ScopedDeviceRoot::~ScopedDeviceRoot() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (hadPrevious_)
    ::setenv("TESSERA_ROOT", previous_.c_str(), 1);
  else
    ::unsetenv("TESSERA_ROOT");
}

}  // namespace platform_testing
