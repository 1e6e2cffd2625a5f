// tessera-reg: query, set, delete, export and import registry values of the device root
// ($TESSERA_ROOT, or --root DIR). Exit status 0 on success, 1 with a message otherwise.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/reg_file.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "toolargs/toolargs.h"

namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

const char kUsage[] =
    "usage: tessera-reg [--root DIR] COMMAND ...\n"
    "  query KEY [VALUE]                 show a key's values and subkeys, or one value's data\n"
    "  set KEY VALUE dword N             N decimal or 0x-prefixed hex\n"
    "  set KEY VALUE sz TEXT\n"
    "  set KEY VALUE binary HEX          HEX as pairs of hex digits, e.g. 00ff10\n"
    "  delete KEY [VALUE]                delete a value, or a key with all its subkeys\n"
    "  export FILE [KEY]                 write .reg text ('-' for standard output);\n"
    "                                    KEY defaults to HKEY_LOCAL_MACHINE\n"
    "  import FILE                       apply .reg text ('-' for standard input)\n"
    "KEY is HKEY_LOCAL_MACHINE\\path (or HKLM\\path; a bare path means HKEY_LOCAL_MACHINE).\n"
    "VALUE '@' names the key's default value.\n";

int Fail(const std::string& message) {
  std::cerr << "tessera-reg: " << message << "\n";
  return 1;
}

std::string Describe(LONG e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
      return "not found";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_INVALID_PARAMETER:
      return "invalid name or parameter";
    case ERROR_KEY_DELETED:
      return "key was deleted";
    case ERROR_BADDB:
      return "registry database is damaged";
    case ERROR_CANTOPEN:
      return "cannot open the registry database";
    case ERROR_DISK_FULL:
      return "disk full";
    default:
      return "error " + std::to_string(e);
  }
}

std::u16string ValueName(const std::string& arg) {
  return arg == "@" ? std::u16string() : Utf8ToUtf16(arg);
}

bool OpenKey(const std::string& keyArg, bool create, HKEY& key, std::u16string& full, LONG& error) {
  HKEY root;
  std::u16string rest;
  platform::SplitRootPath(Utf8ToUtf16(keyArg), root, rest, true);
  full = platform::FullKeyName(root, rest);
  if (create)
    error = RegCreateKeyEx(root, rest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  else
    error = RegOpenKeyEx(root, rest.c_str(), 0, KEY_READ, &key);
  return error == ERROR_SUCCESS;
}

// One value's data as plain text: a string as it is, a DWORD in decimal, anything else
// as hex pairs.
std::string PlainData(DWORD type, const std::string& data) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                           (static_cast<unsigned char>(data[i + 1]) << 8)));
    while (!text.empty() && text.back() == 0) text.pop_back();
    return Utf16ToUtf8(text);
  }
  if (type == REG_DWORD && data.size() == 4) {
    DWORD v;
    std::memcpy(&v, data.data(), 4);
    return std::to_string(v);
  }
  std::string out;
  char buf[4];
  for (unsigned char c : data) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

int Query(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Fail("query needs KEY [VALUE]\n" + std::string(kUsage));
  HKEY key;
  std::u16string full;
  LONG e;
  if (!OpenKey(args[0], false, key, full, e)) return Fail("key " + Utf16ToUtf8(full) + ": " + Describe(e));
  if (args.size() == 2) {
    std::u16string name = ValueName(args[1]);
    DWORD type = 0, size = 0;
    e = RegQueryValueEx(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (e == ERROR_SUCCESS)
      e = RegQueryValueEx(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (e != ERROR_SUCCESS) return Fail("value " + args[1] + " of " + Utf16ToUtf8(full) + ": " + Describe(e));
    data.resize(size);
    std::cout << PlainData(type, data) << "\n";
    return 0;
  }
  RegCloseKey(key);
  // The key's own section in .reg syntax, then its subkeys as empty sections.
  std::vector<platform::RegFileKey> tree;
  e = platform::ExportRegistry(full, tree);
  if (e != ERROR_SUCCESS) return Fail("key " + Utf16ToUtf8(full) + ": " + Describe(e));
  std::vector<platform::RegFileKey> shown{tree[0]};
  for (std::size_t i = 1; i < tree.size(); ++i) {
    std::u16string_view rest = std::u16string_view(tree[i].path).substr(full.size() + 1);
    if (rest.find(u'\\') == std::u16string_view::npos) shown.push_back({tree[i].path, false, {}});
  }
  std::string text = platform::FormatRegFile(shown);
  std::cout << text.substr(text.find('\n') + 2);  // without the header line and blank line
  return 0;
}

bool ParseNumber(const std::string& s, DWORD& out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  out = static_cast<DWORD>(v);
  return true;
}

bool ParseHex(const std::string& s, std::string& out) {
  if (s.size() % 2 != 0) return false;
  out.clear();
  for (std::size_t i = 0; i < s.size(); i += 2) {
    char pair[3] = {s[i], s[i + 1], 0};
    char* end = nullptr;
    if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
        !std::isxdigit(static_cast<unsigned char>(pair[1])))
      return false;
    out.push_back(static_cast<char>(std::strtoul(pair, &end, 16)));
  }
  return true;
}

int Set(const std::vector<std::string>& args) {
  if (args.size() != 4)
    return Fail("set needs KEY VALUE (dword N | sz TEXT | binary HEX)\n" + std::string(kUsage));
  DWORD type;
  std::string data;
  const std::string& kind = args[2];
  if (kind == "dword") {
    DWORD v;
    if (!ParseNumber(args[3], v)) return Fail("not a 32-bit number: " + args[3]);
    type = REG_DWORD;
    data.assign(reinterpret_cast<const char*>(&v), 4);
  } else if (kind == "sz") {
    type = REG_SZ;
    std::u16string text = Utf8ToUtf16(args[3]);
    for (char16_t c : text) {
      data.push_back(static_cast<char>(c & 0xFF));
      data.push_back(static_cast<char>(c >> 8));
    }
    data.append(2, '\0');
  } else if (kind == "binary") {
    type = REG_BINARY;
    if (!ParseHex(args[3], data)) return Fail("not a hex byte string: " + args[3]);
  } else {
    return Fail("unknown type '" + kind + "' (dword, sz or binary)");
  }
  HKEY key;
  std::u16string full;
  LONG e;
  if (!OpenKey(args[0], true, key, full, e)) return Fail("key " + Utf16ToUtf8(full) + ": " + Describe(e));
  std::u16string name = ValueName(args[1]);
  e = RegSetValueEx(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                    static_cast<DWORD>(data.size()));
  if (e == ERROR_SUCCESS) e = RegFlushKey(key);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS) return Fail("set " + args[1] + ": " + Describe(e));
  return 0;
}

int Delete(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Fail("delete needs KEY [VALUE]\n" + std::string(kUsage));
  HKEY root;
  std::u16string rest;
  platform::SplitRootPath(Utf8ToUtf16(args[0]), root, rest, true);
  std::u16string full = platform::FullKeyName(root, rest);
  LONG e;
  if (args.size() == 1) {
    if (full.find(u'\\') == std::u16string::npos) return Fail("a root key cannot be deleted");
    e = RegDeleteKey(root, rest.c_str());
    if (e != ERROR_SUCCESS) return Fail("key " + Utf16ToUtf8(full) + ": " + Describe(e));
    return 0;
  }
  HKEY key;
  if (!OpenKey(args[0], false, key, full, e)) return Fail("key " + Utf16ToUtf8(full) + ": " + Describe(e));
  e = RegDeleteValue(key, ValueName(args[1]).c_str());
  if (e == ERROR_SUCCESS) e = RegFlushKey(key);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS) return Fail("value " + args[1] + " of " + Utf16ToUtf8(full) + ": " + Describe(e));
  return 0;
}

int Export(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Fail("export needs FILE [KEY]\n" + std::string(kUsage));
  std::u16string keyPath = Utf8ToUtf16(args.size() == 2 ? args[1] : std::string("HKEY_LOCAL_MACHINE"));
  std::vector<platform::RegFileKey> keys;
  LONG e = platform::ExportRegistry(keyPath, keys);
  if (e != ERROR_SUCCESS) return Fail("export of " + Utf16ToUtf8(keyPath) + ": " + Describe(e));
  std::string text = platform::FormatRegFile(keys);
  if (args[0] == "-") {
    std::cout << text;
    return std::cout.good() ? 0 : Fail("cannot write to standard output");
  }
  if (!platform::WriteFile(Utf8ToUtf16(args[0]), text)) return Fail("cannot write " + args[0]);
  return 0;
}

int Import(const std::vector<std::string>& args) {
  if (args.size() != 1) return Fail("import needs FILE\n" + std::string(kUsage));
  std::string text;
  if (args[0] == "-") {
    // Read with the C library: an input stream throws when standard input is a folder.
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) text.append(chunk, n);
    if (std::ferror(stdin)) return Fail("cannot read standard input");
  } else if (!platform::ReadFile(Utf8ToUtf16(args[0]), text)) {
    return Fail("cannot read " + args[0]);
  }
  std::vector<platform::RegFileKey> keys;
  platform::RegFileError error;
  if (!platform::ParseRegFile(text, keys, error))
    return Fail(args[0] + ":" + std::to_string(error.line) + ": " + error.message);
  LONG e = platform::ImportRegistry(keys);
  if (e != ERROR_SUCCESS) return Fail("import of " + args[0] + ": " + Describe(e));
  RegFlushKey(HKEY_LOCAL_MACHINE);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  while (!args.empty() && args[0] == "--root") {
    if (args.size() < 2 || args[1].empty()) return Fail("--root needs a directory");
    ::setenv("TESSERA_ROOT", args[1].c_str(), 1);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return 1;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "--version") {
    std::cout << "tessera-reg " << toolargs::Version() << "\n";
    return 0;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "query") return Query(args);
  if (command == "set") return Set(args);
  if (command == "delete") return Delete(args);
  if (command == "export") return Export(args);
  if (command == "import") return Import(args);
  return Fail("unknown command '" + command + "'\n" + kUsage);
}
