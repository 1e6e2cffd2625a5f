// Well-known content types and charsets. The content-type codes are the WSP assigned numbers
// (WAP-230 WSP, Appendix A, table 40, with 0x07 from its later revisions); the charsets are
// IANA MIBenum numbers.

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
    {0x07, "text/x-vCard", false},
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
  std::string_view name;  // written after ";charset=" and recognised there
  const char* iconvName;  // null: handled without iconv
};

// IANA MIBenum numbers (the IANA character-sets registry). The first three names are the ones
// the composer writes; the others are the registry's preferred names in lower case.
constexpr CharsetEntry kCharsets[] = {
    {kCharsetUtf8, "utf_8", nullptr},
    {kCharsetUsAscii, "us-ascii", nullptr},
    {kCharsetUcs2, "iso-10646-ucs-2", nullptr},
    {4, "iso-8859-1", "ISO-8859-1"},
    {5, "iso-8859-2", "ISO-8859-2"},
    {6, "iso-8859-3", "ISO-8859-3"},
    {7, "iso-8859-4", "ISO-8859-4"},
    {8, "iso-8859-5", "ISO-8859-5"},
    {9, "iso-8859-6", "ISO-8859-6"},
    {10, "iso-8859-7", "ISO-8859-7"},
    {11, "iso-8859-8", "ISO-8859-8"},
    {12, "iso-8859-9", "ISO-8859-9"},
    {13, "iso-8859-10", "ISO-8859-10"},
    {17, "shift_jis", "SHIFT_JIS"},
    {18, "euc-jp", "EUC-JP"},
    {36, "ks_c_5601-1987", "CP949"},
    {37, "iso-2022-kr", "ISO-2022-KR"},
    {38, "euc-kr", "EUC-KR"},
    {39, "iso-2022-jp", "ISO-2022-JP"},
    {40, "iso-2022-jp-2", "ISO-2022-JP-2"},
    {109, "iso-8859-13", "ISO-8859-13"},
    {110, "iso-8859-14", "ISO-8859-14"},
    {111, "iso-8859-15", "ISO-8859-15"},
    {112, "iso-8859-16", "ISO-8859-16"},
    {113, "gbk", "GBK"},
    {114, "gb18030", "GB18030"},
    {1001, "iso-10646-ucs-4", "UCS-4BE"},
    {1012, "utf-7", "UTF-7"},
    {1013, "utf-16be", "UTF-16BE"},
    {1014, "utf-16le", "UTF-16LE"},
    {kCharsetUtf16, "utf-16", nullptr},
    {1017, "utf-32", "UTF-32"},
    {1018, "utf-32be", "UTF-32BE"},
    {1019, "utf-32le", "UTF-32LE"},
    {2025, "gb2312", "GB2312"},
    {2026, "big5", "BIG5"},
    {2084, "koi8-r", "KOI8-R"},
    {2086, "ibm866", "CP866"},
    {2088, "koi8-u", "KOI8-U"},
    {2101, "big5-hkscs", "BIG5-HKSCS"},
    {2250, "windows-1250", "CP1250"},
    {2251, "windows-1251", "CP1251"},
    {2252, "windows-1252", "CP1252"},
    {2253, "windows-1253", "CP1253"},
    {2254, "windows-1254", "CP1254"},
    {2255, "windows-1255", "CP1255"},
    {2256, "windows-1256", "CP1256"},
    {2257, "windows-1257", "CP1257"},
    {2258, "windows-1258", "CP1258"},
    {2259, "tis-620", "TIS-620"},
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
  // Texts from outside the composer carry the registered spellings.
  if (EqualsNoCase(name, "utf-8")) return kCharsetUtf8;
  if (EqualsNoCase(name, "iso-10646-ucs-2") || EqualsNoCase(name, "ucs-2")) return kCharsetUcs2;
  if (EqualsNoCase(name, "latin1")) return 4;
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

const char* CharsetIconvName(std::int32_t mib) {
  for (const auto& e : kCharsets)
    if (e.mib == mib) return e.iconvName;
  return nullptr;
}

}  // namespace mms
