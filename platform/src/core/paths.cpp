#include "platform/paths.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"

namespace platform {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::u16string StripTrailing(std::u16string p) {
  while (p.size() > 1 && p.back() == kPathSeparator) p.pop_back();
  return p;
}

// "<root>\Program Files\Tessera", where the program would be installed on the phone.
constexpr const char16_t* kProgramFilesFolder = u"Program Files";
constexpr const char16_t* kProgramFolder = u"Tessera";

bool Below(std::u16string_view path, std::u16string_view dir) {
  return path.size() > dir.size() && path.substr(0, dir.size()) == dir && path[dir.size()] == kPathSeparator;
}

// True when `dir` is the device root or lies below it, as written or once links are resolved.
bool OnDevice(std::u16string_view dir, const std::u16string& root) {
  if (dir == root || Below(dir, root)) return true;
  char resolved[PATH_MAX];
  if (!::realpath(NativePath(root).c_str(), resolved)) return false;
  const std::u16string real = Utf8ToUtf16(resolved);
  return dir == real || Below(dir, real);
}

}  // namespace

std::u16string DeviceRoot() {
  std::string root = Env("TESSERA_ROOT");
  if (root.empty()) {
    std::string data = Env("XDG_DATA_HOME");
    if (data.empty()) {
      std::string home = Env("HOME");
      if (home.empty()) home = "/tmp";
      data = home + "/.local/share";
    }
    root = data + "/tessera/device";
  }
  std::u16string r = StripTrailing(Utf8ToUtf16(root));
  if (!DirectoryExists(r)) CreateDirectories(r);
  return r;
}

std::u16string DocumentsFolder() {
  std::u16string d = JoinPath(DeviceRoot(), u"My Documents");
  CreateDirectories(d);
  return d;
}

std::u16string ProgramPath() {
  std::string buf(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<std::size_t>(n));
  return Utf8ToUtf16(buf);
}

std::u16string ProgramDirectory() {
  std::u16string p = ProgramPath();
  std::u16string_view dir = DirectoryPart(p);
  return StripTrailing(std::u16string(dir));
}

std::u16string ProgramDataDirectory() {
  return ProgramDataDirectoryOf(ProgramPath());
}

std::u16string ProgramDataDirectoryOf(std::u16string_view programPath) {
  const std::u16string root = DeviceRoot();
  const std::u16string dir = StripTrailing(std::u16string(DirectoryPart(programPath)));
  if (dir.empty()) return root;
  if (OnDevice(dir, root)) return dir;
  const std::u16string data = JoinPath(JoinPath(root, kProgramFilesFolder), kProgramFolder);
  CreateDirectories(data);
  return data;
}

std::u16string JoinPath(std::u16string_view dir, std::u16string_view name) {
  std::u16string out(dir);
  while (!name.empty() && name.front() == kPathSeparator) name.remove_prefix(1);
  if (!out.empty() && out.back() != kPathSeparator) out.push_back(kPathSeparator);
  out.append(name);
  return out;
}

std::u16string DevicePath(std::u16string_view phonePath) {
  std::u16string rel(phonePath);
  for (auto& c : rel) {
    if (c == u'\\') c = kPathSeparator;
  }
  // Whatever the text says, the result stays below the root: ".." levels are dropped.
  std::u16string clean;
  std::size_t pos = 0;
  while (pos <= rel.size()) {
    std::size_t next = rel.find(kPathSeparator, pos);
    if (next == std::u16string::npos) next = rel.size();
    std::u16string_view part(rel.data() + pos, next - pos);
    if (!part.empty() && part != u"." && part != u"..") {
      if (!clean.empty()) clean.push_back(kPathSeparator);
      clean.append(part);
    }
    pos = next + 1;
  }
  bool trailing = !rel.empty() && rel.back() == kPathSeparator;
  std::u16string out = JoinPath(DeviceRoot(), clean);
  if (trailing && out.back() != kPathSeparator) out.push_back(kPathSeparator);
  return out;
}

std::u16string_view DirectoryPart(std::u16string_view path) {
  std::size_t slash = path.rfind(kPathSeparator);
  if (slash == std::u16string_view::npos) return {};
  return path.substr(0, slash + 1);
}

std::u16string_view FileNamePart(std::u16string_view path) {
  std::size_t slash = path.rfind(kPathSeparator);
  return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::u16string_view ExtensionPart(std::u16string_view path) {
  std::u16string_view name = FileNamePart(path);
  std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return {};
  return name.substr(dot);
}

}  // namespace platform
