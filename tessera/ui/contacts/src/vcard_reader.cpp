#include "contacts/vcard_reader.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <optional>

#include "platform/text.h"

namespace ui {

namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::u16string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (text[i] > 0x7F || AsciiUpper(static_cast<char>(text[i])) != AsciiUpper(prefix[i])) return false;
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return false;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, word.size()), word)) return true;
  return false;
}

std::string_view TrimAscii(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::u16string_view TrimWide(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiUpper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// Windows-1252 code points of 0x80-0x9F; the rest of the range is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

std::u16string FromLatin1(std::string_view s, bool cp1252) {
  std::u16string out;
  out.reserve(s.size());
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    out.push_back(cp1252 && c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c));
  }
  return out;
}

/// Any other character set goes through the C library's converter; a sequence it cannot
/// convert becomes U+FFFD and conversion goes on after it.
std::optional<std::u16string> FromIconv(std::string_view s, std::string_view charset) {
  std::string name(charset);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::u16string out;
  std::string input(s);
  char* in = input.data();
  std::size_t inLeft = input.size();
  char buffer[1024];
  while (true) {
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    std::size_t r = iconv(cd, inLeft ? &in : nullptr, &inLeft, &o, &oLeft);
    std::size_t produced = sizeof buffer - oLeft;
    for (std::size_t i = 0; i + 1 < produced; i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                          (static_cast<unsigned char>(buffer[i + 1]) << 8)));
    if (r != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a truncated sequence at the end): replace one octet and go on.
    out.push_back(u'\uFFFD');
    if (inLeft == 0) break;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (inLeft == 0) break;
  }
  iconv_close(cd);
  return out;
}

std::string DecodeBase64(std::string_view s) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : s) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=')
      break;
    else
      continue;  // white space of folded lines
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

/// Splits a compound value at ";" not escaped by a backslash.
std::vector<std::u16string_view> SplitCompound(std::u16string_view value) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == u'\\') {
      ++i;
    } else if (value[i] == u';') {
      parts.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(value.substr(start));
  return parts;
}

std::u16string Unescape(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'\\' && i + 1 < s.size()) {
      char16_t n = s[i + 1];
      if (n == u'n' || n == u'N') {
        out.push_back(u'\n');
        ++i;
        continue;
      }
      if (n == u',' || n == u';' || n == u'\\' || n == u':') {
        out.push_back(n);
        ++i;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

struct Param {
  std::string_view name;   // empty for a bare 2.1 value ("TEL;CELL:")
  std::string_view value;  // quotes removed
};

struct ContentLine {
  std::string_view name;  // group prefix removed
  std::vector<Param> params;
  std::string_view value;
};

/// Splits "group.NAME;P=V;BARE:value"; none when there is no ":" or no name.
std::optional<ContentLine> ParseContentLine(std::string_view line) {
  ContentLine out;
  std::size_t i = 0;
  while (i < line.size() && line[i] != ';' && line[i] != ':') ++i;
  if (i == line.size()) return std::nullopt;
  std::string_view name = TrimAscii(line.substr(0, i));
  if (std::size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
  if (name.empty()) return std::nullopt;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return std::nullopt;
  out.name = name;
  while (line[i] == ';') {
    std::size_t start = ++i;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ';' && line[i] != ':'))) {
      if (line[i] == '"') quoted = !quoted;
      ++i;
    }
    if (i == line.size()) return std::nullopt;
    std::string_view p = line.substr(start, i - start);
    Param param;
    if (std::size_t eq = p.find('='); eq != std::string_view::npos) {
      param.name = TrimAscii(p.substr(0, eq));
      param.value = TrimAscii(p.substr(eq + 1));
    } else {
      param.value = TrimAscii(p);
    }
    if (param.value.size() >= 2 && param.value.front() == '"' && param.value.back() == '"')
      param.value = param.value.substr(1, param.value.size() - 2);
    if (!param.name.empty() || !param.value.empty()) out.params.push_back(param);
  }
  out.value = line.substr(i + 1);
  return out;
}

/// True when a comma-separated parameter value lists `word` ("TYPE=work,pref").
bool ListHas(std::string_view list, std::string_view word) {
  while (true) {
    std::size_t comma = list.find(',');
    if (EqualsNoCase(TrimAscii(list.substr(0, comma)), word)) return true;
    if (comma == std::string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

struct Attributes {
  bool quotedPrintable = false;
  bool base64 = false;
  bool preferred = false;
  bool mobile = false;
  std::string_view charset;
};

Attributes ReadAttributes(const ContentLine& line) {
  Attributes a;
  for (const Param& p : line.params) {
    if (p.name.empty() || EqualsNoCase(p.name, "TYPE")) {
      // 2.1 writes bare types and a bare encoding; later versions TYPE=a,b.
      if (ListHas(p.value, "PREF")) a.preferred = true;
      if (ListHas(p.value, "CELL")) a.mobile = true;
      if (p.name.empty() && EqualsNoCase(p.value, "QUOTED-PRINTABLE")) a.quotedPrintable = true;
      if (p.name.empty() && EqualsNoCase(p.value, "BASE64")) a.base64 = true;
    } else if (EqualsNoCase(p.name, "ENCODING")) {
      if (EqualsNoCase(p.value, "QUOTED-PRINTABLE")) a.quotedPrintable = true;
      if (EqualsNoCase(p.value, "BASE64") || EqualsNoCase(p.value, "B")) a.base64 = true;
    } else if (EqualsNoCase(p.name, "CHARSET")) {
      a.charset = p.value;
    } else if (EqualsNoCase(p.name, "PREF")) {
      a.preferred = true;
    }
  }
  return a;
}

class Reader {
 public:
  explicit Reader(bool forceUtf8) : forceUtf8_(forceUtf8) {}

  void Line(std::string_view line) {
    std::optional<ContentLine> parsed = ParseContentLine(line);
    if (!inCard_) {
      if (parsed && IsBegin(*parsed)) Start();
      return;
    }
    if (!parsed) {
      malformed_ = true;
      return;
    }
    if (embedded_ > 0) {
      // The lines of a card embedded in AGENT are not this card's.
      if (IsBegin(*parsed)) ++embedded_;
      if (IsEnd(*parsed)) --embedded_;
      return;
    }
    if (IsBegin(*parsed)) {
      if (agentPending_) {
        embedded_ = 1;
        agentPending_ = false;
        return;
      }
      // A card without its END line: drop it and start over with this one.
      ++file_.skipped;
      Start();
      return;
    }
    agentPending_ = false;
    if (IsEnd(*parsed)) {
      Finish();
      return;
    }
    Property(*parsed);
  }

  /// True when the value of `line` is quoted-printable (its soft breaks join lines).
  static bool IsQuotedPrintable(std::string_view line) {
    std::size_t colon = line.find(':');
    return colon != std::string_view::npos && ContainsNoCase(line.substr(0, colon), "QUOTED-PRINTABLE");
  }
  /// True when the value of `line` is base64, whose 2.1 form may go on over unindented lines.
  static bool IsBase64(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view head = line.substr(0, colon);
    return ContainsNoCase(head, "BASE64") || ContainsNoCase(head, "ENCODING=B");
  }

  bool OldStyleFolding() const { return inCard_ && version21_; }

  VCardFile Done() {
    if (inCard_) ++file_.skipped;  // the file ended inside a card
    inCard_ = false;
    return std::move(file_);
  }

 private:
  static bool IsBegin(const ContentLine& l) {
    return EqualsNoCase(l.name, "BEGIN") && EqualsNoCase(TrimAscii(l.value), "VCARD");
  }
  static bool IsEnd(const ContentLine& l) {
    return EqualsNoCase(l.name, "END") && EqualsNoCase(TrimAscii(l.value), "VCARD");
  }

  void Start() {
    inCard_ = true;
    malformed_ = false;
    version21_ = false;
    agentPending_ = false;
    embedded_ = 0;
    card_ = VCardContact();
    formatted_.clear();
    structured_.clear();
    organisation_.clear();
    prefPhone_ = mobilePhone_ = prefEmail_ = -1;
  }

  void Finish() {
    inCard_ = false;
    if (malformed_) {
      ++file_.skipped;
      return;
    }
    if (!formatted_.empty())
      card_.name = formatted_;
    else if (!structured_.empty())
      card_.name = structured_;
    else
      card_.name = organisation_;
    if (prefPhone_ >= 0)
      card_.preferredPhone = static_cast<std::size_t>(prefPhone_);
    else if (mobilePhone_ >= 0)
      card_.preferredPhone = static_cast<std::size_t>(mobilePhone_);
    if (prefEmail_ >= 0) card_.preferredEmail = static_cast<std::size_t>(prefEmail_);
    file_.contacts.push_back(std::move(card_));
  }

  std::u16string Text(const ContentLine& line, const Attributes& a) const {
    std::string octets;
    if (a.quotedPrintable)
      octets = DecodeQuotedPrintable(line.value);
    else if (a.base64)
      octets = DecodeBase64(line.value);
    else
      octets = std::string(line.value);
    // Later versions are UTF-8 whatever a stray CHARSET says; so is a file that was UTF-16.
    std::string_view charset = version21_ && !forceUtf8_ ? a.charset : std::string_view("UTF-8");
    return DecodeCharset(octets, charset);
  }

  void Property(const ContentLine& line) {
    std::string_view name = line.name;
    if (EqualsNoCase(name, "VERSION")) {
      version21_ = TrimAscii(line.value) == "2.1";
      return;
    }
    if (EqualsNoCase(name, "AGENT")) {
      agentPending_ = TrimAscii(line.value).empty();
      return;
    }
    bool fn = EqualsNoCase(name, "FN"), n = EqualsNoCase(name, "N"), org = EqualsNoCase(name, "ORG");
    bool tel = EqualsNoCase(name, "TEL"), email = EqualsNoCase(name, "EMAIL");
    if (!fn && !n && !org && !tel && !email) return;
    Attributes a = ReadAttributes(line);
    std::u16string text = Text(line, a);
    if (fn) {
      if (formatted_.empty()) formatted_ = TrimWide(Unescape(text));
    } else if (n) {
      if (!structured_.empty()) return;
      // Family; Given; Middle; Prefix; Suffix - shown as "Given Middle Family".
      std::vector<std::u16string_view> parts = SplitCompound(text);
      for (std::size_t i : {1, 2, 0}) {
        if (i >= parts.size()) continue;
        std::u16string part = Unescape(TrimWide(parts[i]));
        part = std::u16string(TrimWide(part));
        if (part.empty()) continue;
        if (!structured_.empty()) structured_ += u' ';
        structured_ += part;
      }
    } else if (org) {
      if (organisation_.empty()) organisation_ = TrimWide(Unescape(SplitCompound(text)[0]));
    } else if (tel) {
      std::u16string_view v = TrimWide(text);
      if (StartsWithNoCase(v, "tel:")) {
        // A "tel:" URI: the number ends where its parameters (";ext=") begin.
        v.remove_prefix(4);
        v = v.substr(0, v.find(u';'));
      }
      std::u16string number = std::u16string(TrimWide(Unescape(v)));
      if (number.empty()) return;
      int index = static_cast<int>(card_.phones.size());
      if (a.preferred && prefPhone_ < 0) prefPhone_ = index;
      if (a.mobile && mobilePhone_ < 0) mobilePhone_ = index;
      card_.phones.push_back(std::move(number));
    } else {
      std::u16string_view v = TrimWide(text);
      if (StartsWithNoCase(v, "mailto:")) v.remove_prefix(7);
      std::u16string address = std::u16string(TrimWide(Unescape(v)));
      if (address.empty()) return;
      if (a.preferred && prefEmail_ < 0) prefEmail_ = static_cast<int>(card_.emails.size());
      card_.emails.push_back(std::move(address));
    }
  }

  bool forceUtf8_;
  VCardFile file_;
  bool inCard_ = false;
  bool malformed_ = false;
  bool version21_ = false;
  bool agentPending_ = false;
  int embedded_ = 0;
  VCardContact card_;
  std::u16string formatted_, structured_, organisation_;
  int prefPhone_ = -1, mobilePhone_ = -1, prefEmail_ = -1;
};

/// A UTF-16 file (with its byte-order mark) is turned into UTF-8 first.
std::optional<std::string> FromUtf16File(std::string_view bytes) {
  if (bytes.size() < 2) return std::nullopt;
  bool little = static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE;
  bool big = static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF;
  if (!little && !big) return std::nullopt;
  std::u16string wide;
  wide.reserve(bytes.size() / 2);
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    wide.push_back(static_cast<char16_t>(little ? (a | (b << 8)) : ((a << 8) | b)));
  }
  return platform::Utf16ToUtf8(wide);
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '=') {
      out.push_back(c);
      continue;
    }
    if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
      // Soft line break.
      ++i;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      continue;
    }
    if (i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    if (i + 1 == text.size()) continue;  // a soft break whose line end was cut off
    out.push_back('=');
  }
  return out;
}

std::u16string DecodeCharset(std::string_view octets, std::string_view charset) {
  charset = TrimAscii(charset);
  if (charset.empty() || EqualsNoCase(charset, "UTF-8") || EqualsNoCase(charset, "UTF8") ||
      EqualsNoCase(charset, "US-ASCII") || EqualsNoCase(charset, "ASCII")) {
    // Producers that write no charset (or a wrong one) in 2.1 use Windows-1252 as often as
    // UTF-8; UTF-8 is the only one of the two with a checkable shape.
    return IsValidUtf8(octets) ? platform::Utf8ToUtf16(octets) : FromLatin1(octets, true);
  }
  if (EqualsNoCase(charset, "ISO-8859-1") || EqualsNoCase(charset, "LATIN1")) return FromLatin1(octets, false);
  if (EqualsNoCase(charset, "WINDOWS-1252") || EqualsNoCase(charset, "CP1252")) return FromLatin1(octets, true);
  if (std::optional<std::u16string> converted = FromIconv(octets, charset)) return *std::move(converted);
  return IsValidUtf8(octets) ? platform::Utf8ToUtf16(octets) : FromLatin1(octets, true);
}

VCardFile ReadVCards(std::string_view bytes) {
  std::optional<std::string> converted = FromUtf16File(bytes);
  if (converted) bytes = *converted;
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

  Reader reader(converted.has_value());
  std::string pending;
  bool havePending = false;
  bool pendingQp = false, pendingBase64 = false;
  auto flush = [&] {
    if (havePending) reader.Line(pending);
    havePending = false;
    pending.clear();
  };

  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    std::string_view line = bytes.substr(pos, end - pos);
    pos = end;
    if (pos < bytes.size() && bytes[pos] == '\r') ++pos;
    if (pos < bytes.size() && bytes[pos] == '\n') ++pos;

    if (havePending && pendingQp && !pending.empty() && pending.back() == '=') {
      // Quoted-printable soft break: the value goes on in the next line as it stands.
      pending.pop_back();
      pending.append(line);
      continue;
    }
    if (line.empty()) {
      flush();
      continue;
    }
    if (havePending && (line[0] == ' ' || line[0] == '\t')) {
      // 2.1 unfolds by removing the line break only; later versions remove one blank too.
      pending.append(reader.OldStyleFolding() ? line : line.substr(1));
      continue;
    }
    if (havePending && pendingBase64 && line.find(':') == std::string_view::npos) {
      pending.append(line);
      continue;
    }
    flush();
    pending.assign(line);
    havePending = true;
    pendingQp = Reader::IsQuotedPrintable(line);
    pendingBase64 = Reader::IsBase64(line);
  }
  flush();
  return reader.Done();
}

}  // namespace ui
