// Well-known content types and charsets. The content-type codes are the WSP assigned numbers
// (WAP-230 WSP, Appendix A, table 40); the charsets are IANA MIBenum numbers.

#include <algorithm>
#include <cctype>
#include <string_view>

#include "mms/wsp.h"
#include "platform/text.h"

namespace mms {

namespace {

struct ContentTypeEntry {
  int code;
  std::string_view mediaType;
  bool writtenAsCode;  // false: decoded from the code, but always written as text
};

// One list serves both directions.
constexpr ContentTypeEntry kContentTypes[] = {
    {0x00, "*/*", false},
    {0x01, "text/*", true},
    {0x02, "text/html", true},
    {0x03, "text/plain", true},
    {0x1C, "image/*", true},
    {0x1D, "image/gif", true},
    {0x1E, "image/jpeg", true},
    {0x1F, "image/tiff", true},
    {0x20, "image/png", true},
    {0x21, "image/vnd.wap.wbmp", true},
    {0x22, "application/vnd.wap.multipart.*", true},
    {0x23, "application/vnd.wap.multipart.mixed", true},
    {0x27, "application/xml", true},
    {0x28, "text/xml", true},
    {0x33, "application/vnd.wap.multipart.related", true},
    {0x3E, "application/vnd.wap.mms-message", false},
    {0x48, "application/vnd.oma.drm.message", false},
    {0x49, "application/vnd.oma.drm.content", false},
    {0x4A, "application/vnd.oma.drm.rights+xml", false},
    {0x4B, "application/vnd.oma.drm.rights+wbxml", false},
};

struct CharsetEntry {
  std::int32_t mib;
  std::string_view name;
};

constexpr CharsetEntry kCharsets[] = {
    {kCharsetUtf8, "utf_8"},
    {kCharsetUsAscii, "us-ascii"},
    {kCharsetUcs2, "iso-10646-ucs-2"},
};

using platform::EqualsNoCase;

}  // namespace

const char* WellKnownContentType(int code) {
  for (const auto& e : kContentTypes)
    if (e.code == code) return e.mediaType.data();
  return nullptr;
}

int WellKnownContentTypeCode(std::string_view mediaType, bool forEncoding) {
  for (const auto& e : kContentTypes)
    if (e.mediaType == mediaType && (e.writtenAsCode || !forEncoding)) return e.code;
  return -1;
}

std::int32_t CharsetFromName(std::string_view name) {
  for (const auto& e : kCharsets)
    if (EqualsNoCase(e.name, name)) return e.mib;
  // Texts from outside the composer carry the registered spelling.
  if (EqualsNoCase(name, "utf-8")) return kCharsetUtf8;
  return 0;
}

bool CharsetName(std::int32_t mib, std::string* out) {
  for (const auto& e : kCharsets) {
    if (e.mib == mib) {
      if (out) out->assign(e.name);
      return true;
    }
  }
  return false;
}

}  // namespace mms
