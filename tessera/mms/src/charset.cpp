#include "mms/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace mms {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Iconv = std::unique_ptr<void, IconvCloser>;

Iconv Open(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return Iconv(cd);
}

// Converts all of `text`. With `replace`, an invalid or cut-off input sequence becomes U+FFFD
// and `step` octets of input are passed over; without it the conversion fails there.
bool Run(iconv_t cd, std::string_view text, bool replace, std::size_t step, std::string* out) {
  std::string result;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char buffer[1024];
  while (true) {
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    const std::size_t rc =
        inLeft > 0 ? iconv(cd, &in, &inLeft, &o, &oLeft) : iconv(cd, nullptr, nullptr, &o, &oLeft);
    result.append(buffer, sizeof buffer - oLeft);
    if (rc != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) {
        // Flush any shift state (ISO-2022 and friends) once the input is used up.
        o = buffer;
        oLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &o, &oLeft);
        result.append(buffer, sizeof buffer - oLeft);
        break;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    if (!replace) return false;
    if (errno == EILSEQ && inLeft > 0) {
      result += kReplacement;
      const std::size_t skip = std::min(step, inLeft);
      in += skip;
      inLeft -= skip;
      continue;
    }
    // EINVAL: the text ends inside a sequence.
    result += kReplacement;
    break;
  }
  *out = std::move(result);
  return true;
}

// UTF-16 (and UCS-2, read as UTF-16 so that surrogate pairs survive): the byte-order mark
// decides, big-endian without one.
bool Utf16ToUtf8(std::string_view text, std::string* out) {
  const char* from = "UTF-16BE";
  if (StartsWith(text, "\xFF\xFE")) {
    from = "UTF-16LE";
    text.remove_prefix(2);
  } else if (StartsWith(text, "\xFE\xFF")) {
    text.remove_prefix(2);
  }
  Iconv cd = Open("UTF-8", from);
  return cd && Run(static_cast<iconv_t>(cd.get()), text, true, 2, out);
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n >= text.size() - i) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

bool ConvertToUtf8(std::string_view text, std::int32_t mib, std::string* out) {
  switch (mib) {
    case kCharsetUsAscii:
    case kCharsetUtf8:
      if (StartsWith(text, kUtf8Mark)) text.remove_prefix(kUtf8Mark.size());
      out->assign(text);
      return true;
    case kCharsetUcs2:
    case kCharsetUtf16:
      return Utf16ToUtf8(text, out);
    default:
      break;
  }
  const char* name = CharsetIconvName(mib);
  if (!name) return false;
  Iconv cd = Open("UTF-8", name);
  return cd && Run(static_cast<iconv_t>(cd.get()), text, true, 1, out);
}

bool ConvertFromUtf8(std::string_view text, std::int32_t mib, std::string* out) {
  if (!IsValidUtf8(text)) return false;
  const char* name = nullptr;
  switch (mib) {
    case kCharsetUsAscii:
      for (unsigned char c : text)
        if (c >= 0x80) return false;
      out->assign(text);
      return true;
    case kCharsetUtf8:
      out->assign(text);
      return true;
    case kCharsetUcs2:
      name = "UCS-2BE";
      break;
    case kCharsetUtf16:
      name = "UTF-16BE";
      break;
    default:
      name = CharsetIconvName(mib);
      break;
  }
  if (!name) return false;
  Iconv cd = Open(name, "UTF-8");
  return cd && Run(static_cast<iconv_t>(cd.get()), text, false, 1, out);
}

std::string ReceivedTextToUtf8(const StringValue& value) {
  std::string out;
  if (ConvertToUtf8(value.text, value.charset, &out)) return out;
  return value.text;
}

}  // namespace mms
