// Content types and file extensions of the media kinds the document knows. Each row has an
// enabled flag; a lookup that lands on a disabled row yields nothing.
#include "platform/text.h"
#include "presentation/message_document.h"

namespace presentation {
namespace {

struct TypeRow {
  const char* contentType;
  MediaKind kind;
  bool enabled;
};
constexpr TypeRow kContentTypes[] = {
    {"image/jpeg", 0x10001, true},
    {"image/gif", 0x10002, true},
    {"image/png", 0x10003, true},
    {"image/bmp", 0x10004, true},
    {"image/x-bmp", 0x10004, true},
    {"image/vnd.wap.wbmp", 0x10005, true},
    {"audio/midi", 0x20001, true},
    {"audio/mid", 0x20001, true},
    {"audio/x-wav", 0x20002, true},
    {"audio/amr", 0x20003, true},
    {"text/plain;charset=iso-10646-ucs-2", 0x30001, true},
    {"text/plain;charset=us-ascii", 0x30001, true},
    {"text/plain;charset=utf_8", 0x30001, true},
    {"text/plain", 0x30001, true},
    {"video/mp4", 0x40001, true},
    {"video/3gpp", 0x40001, true},
    {"video/x-mpeg4", 0x40001, true},
};

struct ExtensionRow {
  const char16_t* extension;
  MediaKind kind;
  bool enabled;
};
constexpr ExtensionRow kExtensions[] = {
    {u".jpeg", 0x10001, true}, {u".jpg", 0x10001, true},  {u".gif", 0x10002, true},  {u".png", 0x10003, true},
    {u".bmp", 0x10004, true},  {u".wbmp", 0x10005, true}, {u".midi", 0x20001, true}, {u".mid", 0x20001, true},
    {u".wav", 0x20002, true},  {u".amr", 0x20003, true},  {u".txt", 0x30001, true},  {u".mp4", 0x40001, true},
    {u".3gp", 0x40001, true},
};

using platform::EqualsNoCase;

MediaKind LookupType(std::string_view type) {
  for (const TypeRow& row : kContentTypes)
    if (EqualsNoCase(type, std::string_view(row.contentType))) return row.enabled ? row.kind : kKindUnknown;
  return kKindUnknown;
}

}  // namespace

MediaKind KindFromContentType(std::string_view contentType) {
  MediaKind kind = LookupType(contentType);
  if (kind != kKindUnknown) return kind;
  std::string_view bare = contentType.substr(0, contentType.find(';'));
  while (!bare.empty() && (bare.back() == ' ' || bare.back() == '\t')) bare.remove_suffix(1);
  while (!bare.empty() && (bare.front() == ' ' || bare.front() == '\t')) bare.remove_prefix(1);
  return LookupType(bare);
}

MediaKind KindFromFileName(std::u16string_view fileName) {
  const std::size_t dot = fileName.rfind(u'.');
  if (dot == std::u16string_view::npos) return kKindUnknown;
  const std::u16string_view ext = fileName.substr(dot);
  if (ext.find(platform::kPathSeparator) != std::u16string_view::npos) return kKindUnknown;
  for (const ExtensionRow& row : kExtensions)
    if (EqualsNoCase(ext, std::u16string_view(row.extension))) return row.enabled ? row.kind : kKindUnknown;
  return kKindUnknown;
}

std::string ContentTypeFromKind(MediaKind kind) {
  for (const TypeRow& row : kContentTypes)
    if (row.kind == kind) return row.enabled ? row.contentType : "";
  return {};
}

}  // namespace presentation
