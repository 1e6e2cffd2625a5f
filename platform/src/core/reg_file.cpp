#include "platform/reg_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/fold.h"
#include "platform/text.h"

namespace platform {

namespace {

struct Root {
  const char16_t* longName;
  const char16_t* shortName;
  HKEY key;
};

const Root kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
    {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
    {u"HKEY_CLASSES_ROOT", u"HKCR", HKEY_CLASSES_ROOT},
    {u"HKEY_USERS", u"HKU", HKEY_USERS},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a += 32;
    if (b >= 'A' && b <= 'Z') b += 32;
    if (a != b) return false;
  }
  return true;
}

std::string StringData(std::u16string_view text) {
  std::string out;
  out.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  out.append(2, '\0');
  return out;
}

// Reads a quoted string starting at s[pos] == '"'; on success pos is just past the
// closing quote.
bool ReadQuoted(std::string_view s, std::size_t& pos, std::string& out, std::string& message) {
  out.clear();
  ++pos;
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      // Line breaks in names are written as \n and \r so that a name stays on its line.
      char e = pos < s.size() ? s[pos] : 0;
      if (e != '\\' && e != '"' && e != 'n' && e != 'r') {
        message = "bad escape in quoted text (only \\\\, \\\", \\n and \\r are allowed)";
        return false;
      }
      out.push_back(e == 'n' ? '\n' : e == 'r' ? '\r' : e);
      ++pos;
    } else {
      out.push_back(c);
    }
  }
  message = "unterminated quoted text";
  return false;
}

bool ParseHexList(std::string_view s, std::string& out, std::string& message) {
  out.clear();
  std::size_t pos = 0;
  for (;;) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (pos >= s.size()) return true;
    int hi = HexDigit(s[pos]);
    if (hi < 0) {
      message = "bad hex byte";
      return false;
    }
    int value = hi;
    ++pos;
    if (pos < s.size() && HexDigit(s[pos]) >= 0) value = value * 16 + HexDigit(s[pos++]);
    out.push_back(static_cast<char>(value));
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (pos >= s.size()) return true;
    if (s[pos] != ',') {
      message = "hex bytes must be separated by commas";
      return false;
    }
    ++pos;
  }
}

bool ParseData(std::string_view d, RegFileValue& v, std::string& message) {
  d = Trim(d);
  if (d == "-") {
    v.remove = true;
    return true;
  }
  if (!d.empty() && d.front() == '"') {
    std::size_t pos = 0;
    std::string text;
    if (!ReadQuoted(d, pos, text, message)) return false;
    if (!Trim(d.substr(pos)).empty()) {
      message = "text after the closing quote";
      return false;
    }
    v.type = REG_SZ;
    v.data = StringData(Utf8ToUtf16(text));
    return true;
  }
  if (StartsWithNoCase(d, "dword:")) {
    std::string_view digits = Trim(d.substr(6));
    if (digits.empty() || digits.size() > 8) {
      message = "dword needs 1 to 8 hex digits";
      return false;
    }
    DWORD value = 0;
    for (char c : digits) {
      int h = HexDigit(c);
      if (h < 0) {
        message = "bad hex digit in dword";
        return false;
      }
      value = value * 16 + static_cast<DWORD>(h);
    }
    v.type = REG_DWORD;
    v.data.assign(reinterpret_cast<const char*>(&value), 4);
    return true;
  }
  if (StartsWithNoCase(d, "hex")) {
    std::string_view rest = d.substr(3);
    DWORD type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      std::size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) {
        message = "bad hex(type)";
        return false;
      }
      type = 0;
      for (char c : rest.substr(1, close - 1)) {
        int h = HexDigit(c);
        if (h < 0) {
          message = "bad hex(type)";
          return false;
        }
        type = type * 16 + static_cast<DWORD>(h);
      }
      rest = rest.substr(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      message = "expected ':' after hex";
      return false;
    }
    v.type = type;
    return ParseHexList(rest.substr(1), v.data, message);
  }
  message = "unknown value data (expected \"text\", dword:, hex: or -)";
  return false;
}

bool IsCleanString(const std::string& data, std::u16string& text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  text.clear();
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                       (static_cast<unsigned char>(data[i + 1]) << 8));
    text.push_back(c);
  }
  if (text.back() != 0) return false;
  text.pop_back();
  for (char16_t c : text) {
    if (c == 0 || c == u'\n' || c == u'\r') return false;
  }
  // Unpaired surrogates would not survive the trip through UTF-8.
  return Utf8ToUtf16(Utf16ToUtf8(text)) == text;
}

std::string Quote(std::u16string_view text) {
  std::string out = "\"";
  for (char c : Utf16ToUtf8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      if (c == '\\' || c == '"') out.push_back('\\');
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

// A key path is written bare, as usual, unless one of its names holds a line break; then
// it is quoted like a value name (the separators doubled).
std::string KeyPathText(std::u16string_view path) {
  if (path.find_first_of(u"\r\n") == std::u16string_view::npos) return Utf16ToUtf8(path);
  return Quote(path);
}

void AppendHex(std::string& out, std::size_t prefixLength, const std::string& data) {
  std::size_t column = prefixLength;
  char buf[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(data[i]));
    out += buf;
    column += 2;
    if (i + 1 < data.size()) {
      out.push_back(',');
      ++column;
      if (column > 76) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
}

}  // namespace

bool SplitRootPath(std::u16string_view full, HKEY& root, std::u16string& rest, bool defaultToLocalMachine) {
  std::u16string_view s = full;
  std::size_t sep = s.find(u'\\');
  std::u16string first = core::Fold(s.substr(0, sep));
  for (const Root& r : kRoots) {
    if (first == core::Fold(r.longName) || first == core::Fold(r.shortName)) {
      root = r.key;
      rest = sep == std::u16string_view::npos ? std::u16string() : std::u16string(s.substr(sep + 1));
      return true;
    }
  }
  if (!defaultToLocalMachine) return false;
  root = HKEY_LOCAL_MACHINE;
  rest = std::u16string(s);
  return true;
}

std::u16string FullKeyName(HKEY root, std::u16string_view rest) {
  std::u16string out = u"HKEY_LOCAL_MACHINE";
  for (const Root& r : kRoots) {
    if (r.key == root) out = r.longName;
  }
  // Normalise separators: no leading, doubled or trailing '\'.
  std::size_t pos = 0;
  while (pos <= rest.size()) {
    std::size_t next = rest.find(u'\\', pos);
    if (next == std::u16string_view::npos) next = rest.size();
    if (next > pos) {
      out.push_back(u'\\');
      out.append(rest.substr(pos, next - pos));
    }
    pos = next + 1;
  }
  return out;
}

bool ParseRegFile(std::string_view input, std::vector<RegFileKey>& keys, RegFileError& error) {
  keys.clear();
  std::string converted;
  if (input.size() >= 2 && static_cast<unsigned char>(input[0]) == 0xFF &&
      static_cast<unsigned char>(input[1]) == 0xFE) {
    if (input.size() % 2 != 0) {
      error = {1, "UTF-16 text with an odd number of bytes"};
      return false;
    }
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < input.size(); i += 2)
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(input[i]) |
                                           (static_cast<unsigned char>(input[i + 1]) << 8)));
    converted = Utf16ToUtf8(wide);
    input = converted;
  } else if (input.size() >= 3 && input.substr(0, 3) == "\xEF\xBB\xBF") {
    input.remove_prefix(3);
  }

  std::vector<RegFileKey> out;
  int lineNo = 0;
  std::size_t pos = 0;
  auto fail = [&](int line, std::string message) {
    error = {line, std::move(message)};
    return false;
  };
  while (pos < input.size()) {
    std::size_t end = input.find('\n', pos);
    if (end == std::string_view::npos) end = input.size();
    std::string line(input.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    int startLine = lineNo;
    // Hex lists continue over lines that end in a backslash.
    while (!Trim(line).empty() && Trim(line).back() == '\\' && line.find("=hex") != std::string::npos) {
      line = std::string(Trim(line));
      line.pop_back();
      if (pos >= input.size()) return fail(startLine, "continued line at the end of the text");
      end = input.find('\n', pos);
      if (end == std::string_view::npos) end = input.size();
      line += std::string(Trim(input.substr(pos, end - pos)));
      pos = end + 1;
      ++lineNo;
    }
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') continue;
    if (t == "REGEDIT4" || StartsWithNoCase(t, "Windows Registry Editor Version")) continue;
    if (line.find('\0') != std::string::npos) return fail(startLine, "zero byte in the text");

    if (t.front() == '[') {
      std::size_t close = t.rfind(']');
      if (close == std::string_view::npos) return fail(startLine, "missing ']'");
      std::string_view after = Trim(t.substr(close + 1));
      if (!after.empty() && after.front() != ';') return fail(startLine, "text after ']'");
      std::string_view name = t.substr(1, close - 1);
      RegFileKey key;
      if (!name.empty() && name.front() == '-') {
        key.remove = true;
        name.remove_prefix(1);
      }
      std::string unquoted;
      if (!name.empty() && name.front() == '"') {
        std::size_t p = 0;
        std::string message;
        if (!ReadQuoted(name, p, unquoted, message)) return fail(startLine, message);
        if (p != name.size()) return fail(startLine, "text after the quoted key name");
        name = unquoted;
      }
      HKEY root;
      std::u16string rest;
      if (!SplitRootPath(Utf8ToUtf16(name), root, rest))
        return fail(startLine, "key must start with a root such as HKEY_LOCAL_MACHINE");
      key.path = FullKeyName(root, rest);
      if (key.remove && key.path.find(u'\\') == std::u16string::npos)
        return fail(startLine, "a root key cannot be deleted");
      out.push_back(std::move(key));
      continue;
    }

    if (out.empty()) return fail(startLine, "value outside of any [key] section");
    if (out.back().remove) return fail(startLine, "value in a section that deletes its key");
    RegFileValue v;
    std::size_t p = 0;
    if (t.front() == '@') {
      p = 1;
    } else if (t.front() == '"') {
      std::string name, message;
      if (!ReadQuoted(t, p, name, message)) return fail(startLine, message);
      if (name.empty()) return fail(startLine, "empty value name (use @ for the default value)");
      v.name = Utf8ToUtf16(name);
    } else {
      return fail(startLine, "expected [key], \"name\"=data or @=data");
    }
    while (p < t.size() && (t[p] == ' ' || t[p] == '\t')) ++p;
    if (p >= t.size() || t[p] != '=') return fail(startLine, "expected '=' after the value name");
    std::string message;
    if (!ParseData(t.substr(p + 1), v, message)) return fail(startLine, message);
    out.back().values.push_back(std::move(v));
  }
  keys = std::move(out);
  return true;
}

std::string FormatRegFile(const std::vector<RegFileKey>& keys) {
  std::string out = "REGEDIT4\n";
  for (const RegFileKey& key : keys) {
    out += "\n[";
    if (key.remove) out += "-";
    out += KeyPathText(key.path);
    out += "]\n";
    for (const RegFileValue& v : key.values) {
      std::string line = v.name.empty() ? std::string("@") : Quote(v.name);
      line += "=";
      std::u16string text;
      if (v.remove) {
        line += "-";
      } else if (v.type == REG_SZ && IsCleanString(v.data, text)) {
        line += Quote(text);
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d;
        std::memcpy(&d, v.data.data(), 4);
        char buf[32];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        line += buf;
      } else {
        if (v.type == REG_BINARY) {
          line += "hex:";
        } else {
          char buf[32];
          std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
          line += buf;
        }
        AppendHex(line, line.size(), v.data);
      }
      out += line;
      out += "\n";
    }
  }
  return out;
}

namespace {

LONG ExportKey(HKEY key, const std::u16string& fullName, std::vector<RegFileKey>& keys, int depth) {
  if (depth > 512) return ERROR_BADDB;  // keys cannot nest this deep unless the database is damaged
  RegFileKey section;
  section.path = fullName;
  DWORD maxName = 0, maxData = 0;
  if (LONG e = RegQueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                               &maxData, nullptr, nullptr))
    return e;
  std::u16string name(maxName + 1, u'\0');
  std::string data(maxData, '\0');
  for (DWORD i = 0;;) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0, size = static_cast<DWORD>(data.size());
    LONG e = RegEnumValue(key, i, name.data(), &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &size);
    if (e == ERROR_NO_MORE_ITEMS) break;
    if (e == ERROR_MORE_DATA) {  // grew meanwhile
      name.resize(name.size() * 2 + 64);
      data.resize(std::max<std::size_t>(data.size() * 2, size));
      continue;
    }
    if (e != ERROR_SUCCESS) return e;
    RegFileValue v;
    v.name.assign(name.data(), nameLength);
    v.type = type;
    v.data.assign(data.data(), size);
    section.values.push_back(std::move(v));
    ++i;
  }
  keys.push_back(std::move(section));
  std::u16string sub(256, u'\0');
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(sub.size());
    LONG e = RegEnumKeyEx(key, i, sub.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_NO_MORE_ITEMS) break;
    if (e != ERROR_SUCCESS) return e;
    std::u16string child(sub.data(), length);
    HKEY h = nullptr;
    if (LONG o = RegOpenKeyEx(key, child.c_str(), 0, KEY_READ, &h)) return o;
    LONG r = ExportKey(h, fullName + u"\\" + child, keys, depth + 1);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS) return r;
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG ExportRegistry(std::u16string_view fullPath, std::vector<RegFileKey>& keys) {
  keys.clear();
  HKEY root;
  std::u16string rest;
  if (!SplitRootPath(fullPath, root, rest, true)) return ERROR_INVALID_PARAMETER;
  HKEY key = nullptr;
  if (LONG e = RegOpenKeyEx(root, rest.c_str(), 0, KEY_READ, &key)) return e;
  LONG e = ExportKey(key, FullKeyName(root, rest), keys, 0);
  RegCloseKey(key);
  if (e != ERROR_SUCCESS) keys.clear();
  return e;
}

LONG ImportRegistry(const std::vector<RegFileKey>& keys) {
  for (const RegFileKey& section : keys) {
    HKEY root;
    std::u16string rest;
    if (!SplitRootPath(section.path, root, rest)) return ERROR_INVALID_PARAMETER;
    if (section.remove) {
      LONG e = RegDeleteKey(root, rest.c_str());
      if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) return e;
      continue;
    }
    HKEY key = nullptr;
    if (LONG e = RegCreateKeyEx(root, rest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
      return e;
    LONG result = ERROR_SUCCESS;
    for (const RegFileValue& v : section.values) {
      if (v.remove) {
        LONG e = RegDeleteValue(key, v.name.c_str());
        if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND) result = e;
      } else {
        result = RegSetValueEx(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                               static_cast<DWORD>(v.data.size()));
      }
      if (result != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return result;
  }
  return ERROR_SUCCESS;
}

}  // namespace platform
