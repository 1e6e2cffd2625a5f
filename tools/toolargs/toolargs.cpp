#include "toolargs/toolargs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace toolargs {

const char* Version() {
  return TESSERA_VERSION;
}

int HandleCommon(int argc, char** argv, const char* name, UsagePrinter usage) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const char* first = argv[1];
  if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
    usage(stdout);
    return 0;
  }
  if (std::strcmp(first, "--version") == 0) {
    std::printf("%s %s\n", name, Version());
    return 0;
  }
  return -1;
}

bool ParseUnsigned(const char* text, std::uint64_t min, std::uint64_t max, std::uint64_t* out) {
  if (!text || !*text || *text == '-' || *text == '+' || *text == ' ') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

bool ParseDecimal(const char* text, double min, double max, double* out) {
  if (!text || !*text || *text == ' ') return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < min || v > max) return false;
  *out = v;
  return true;
}

int BadNumber(const char* name, const char* argument, const char* text, const char* what) {
  std::fprintf(stderr, "%s: %s wants %s, not '%s'\n", name, argument, what, text ? text : "");
  return 2;
}

bool MakeOutputFolder(const std::string& path, std::string* error) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return true;
  const std::string folder = path.substr(0, slash);
  for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos != folder.size() && folder[pos] != '/') continue;
    const std::string level = folder.substr(0, pos);
    struct stat st{};
    if (::stat(level.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      if (error) *error = "cannot make the folder " + folder + ": " + level + " is not a folder";
      return false;
    }
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
      if (error) *error = "cannot make the folder " + level + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace toolargs
