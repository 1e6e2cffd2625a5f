#include "mms/multipart.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <system_error>

#include "mms/byte_buffer.h"
#include "mms/charset.h"
#include "mms/wsp.h"
#include "platform/text.h"

namespace mms {

namespace {

constexpr std::uint8_t kContentTypeHeader = 0x04;
constexpr std::uint8_t kContentLocationHeader = 0x0E;
constexpr std::uint8_t kContentIdHeader = 0x40;
constexpr std::size_t kMaxNameOctets = 259;
constexpr std::int64_t kCopyChunk = 2048;
constexpr std::int64_t kDrmHeaderWindow = 512;

std::string Bounded(std::string_view text) {
  return std::string(text.substr(0, FittingPrefix(text, kTextFieldMax)));
}

bool IsMultipart(std::string_view media) {
  return media == kMultipartMixed || media == kMultipartRelated || media == kDrmMessageType;
}

std::string_view MediaOf(std::string_view contentType) {
  return contentType.substr(0, contentType.find(';'));
}

using platform::EqualsNoCase;

// Characters that cannot stand in a file name of the device become '_'; a name made only of
// dots would name the directory itself or its parent, so its dots go too.
void SanitizeName(std::u16string& name) {
  for (char16_t& c : name) {
    switch (c) {
      case u'\\':
      case u'/':
      case u':':
      case u'*':
      case u'?':
      case u'<':
      case u'>':
      case u'"':
      case u'|':
        c = u'_';
        break;
      default:
        break;
    }
  }
  if (!name.empty() && std::all_of(name.begin(), name.end(), [](char16_t c) { return c == u'.'; }))
    std::fill(name.begin(), name.end(), u'_');
}

// A received part name: UTF-8 when it is valid UTF-8, else in the part's own charset when that
// is a single- or multi-octet charset iconv knows, else ISO-8859-1 (every octet a character).
std::u16string NameToUtf16(const std::string& name, std::string_view contentType) {
  if (IsValidUtf8(name)) return platform::Utf8ToUtf16(name);
  std::string charsetName;
  SplitContentType(contentType, "charset", nullptr, &charsetName);
  const std::int32_t mib = CharsetFromName(charsetName);
  const char* iconvName = CharsetIconvName(mib);
  std::string utf8;
  const bool wide = iconvName && (std::string_view(iconvName).find("16") != std::string_view::npos ||
                                  std::string_view(iconvName).find("32") != std::string_view::npos ||
                                  std::string_view(iconvName).find("UCS") != std::string_view::npos);
  if (iconvName && !wide && ConvertToUtf8(name, mib, &utf8)) return platform::Utf8ToUtf16(utf8);
  return platform::NarrowToWideCopy(name);
}

// Content-type value of one entry, with the file name as the Name parameter.
bool EncodePartContentType(ByteBuffer& out, std::string_view contentType, std::string_view name) {
  std::string media, charsetName;
  SplitContentType(contentType, "charset", &media, &charsetName);
  const auto nameParam = [&] { return out.AppendOctet(0x80 | kParamName) && EncodeTextString(out, name); };
  if (media == "text/plain") {
    std::int32_t charset = CharsetFromName(charsetName);
    if (charset == 0) charset = kCharsetUsAscii;
    const auto cs = static_cast<std::uint32_t>(charset);
    return EncodeValueLength(out, static_cast<std::uint32_t>(IntegerValueSize(cs) + name.size() + 4)) &&
           out.AppendOctet(0x83) && out.AppendOctet(0x80 | kParamCharset) && EncodeIntegerValue(out, cs) &&
           nameParam();
  }
  const int code = WellKnownContentTypeCode(media, true);
  if (code >= 0) {
    return EncodeValueLength(out, static_cast<std::uint32_t>(name.size() + 3)) &&
           out.AppendOctet(static_cast<std::uint8_t>(code | 0x80)) && nameParam();
  }
  if (media == kSmilType) {
    return EncodeValueLength(out, static_cast<std::uint32_t>(media.size() + 1 + name.size() + 2 + 2)) &&
           EncodeTextString(out, media) && out.AppendOctet(0x80 | kParamCharset) &&
           out.AppendOctet(0x80 | kCharsetUsAscii) && nameParam();
  }
  return EncodeValueLength(out, static_cast<std::uint32_t>(media.size() + 1 + name.size() + 2)) &&
         EncodeTextString(out, media) && nameParam();
}

}  // namespace

std::u16string JoinPath(std::u16string_view directory, std::u16string_view name) {
  std::u16string path(directory);
  if (!path.empty() && path.back() != platform::kPathSeparator) path.push_back(platform::kPathSeparator);
  path.append(name);
  return path;
}

std::int64_t FileSize(std::u16string_view path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(platform::Utf16ToUtf8(path)), ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

bool CopyStream(ByteStream& source, std::int64_t length, ByteStream& destination) {
  std::uint8_t chunk[kCopyChunk];
  while (length > 0) {
    const std::int64_t want = std::min(length, kCopyChunk);
    const std::int64_t got = source.Read(chunk, want);
    if (got <= 0) return false;
    if (destination.Write(chunk, got) != got) return false;
    length -= got;
  }
  return true;
}

std::unique_ptr<MultipartPackage> MultipartPackage::Create() {
  return std::unique_ptr<MultipartPackage>(new MultipartPackage());
}

bool MultipartPackage::AddPart(const PartDescriptor& part) {
  if (mode_ != Mode::Built || part.contentType.empty() || part.directory.empty() || part.fileName.empty())
    return false;
  PackagePart p;
  p.contentType = part.contentType;
  p.contentId = part.contentId;
  p.directory = part.directory;
  p.fileName = part.fileName;
  parts_.push_back(std::move(p));
  return true;
}

bool MultipartPackage::AddRoot(std::u16string_view directory, std::u16string_view fileName) {
  PartDescriptor d;
  d.contentType = std::string(kSmilType);
  d.directory = directory;
  d.fileName = fileName;
  d.contentId = "<smil>";
  if (!AddPart(d)) return false;
  root_ = partCount() - 1;
  return true;
}

bool MultipartPackage::Write(std::u16string_view path) {
  if (mode_ != Mode::Built) return false;
  auto out = ByteStream::OpenFile(path, ByteStream::kWrite);
  if (!out) return false;
  return WriteTo(*out) && out->Flush();
}

bool MultipartPackage::WriteTo(ByteStream& out) {
  // A package without entries could never be read back (a count below 1 fails parsing).
  if (mode_ != Mode::Built || parts_.empty()) return false;
  const PackagePart* rootPart = root();
  contentType_.Assign(rootPart ? kMultipartRelated : kMultipartMixed);
  ByteBuffer head;
  bool ok = head.AppendOctet(0x80 | kContentTypeHeader);
  if (rootPart) {
    ok = ok && EncodeContentType(head, contentType_.view(), rootPart->contentType,
                                 rootPart->contentId.value_or(""));
  } else {
    ok = ok && EncodeContentType(head, contentType_.view());
  }
  // The entry count is a uintvar; below 128 parts that is the single octet of the count.
  ok = ok && EncodeUintvar(head, static_cast<std::uint32_t>(parts_.size()));
  if (!ok || out.Write(head.data(), head.length()) != head.length()) return false;

  for (const PackagePart& part : parts_) {
    auto in = ByteStream::OpenFile(JoinPath(part.directory, part.fileName), ByteStream::kRead);
    if (!in) return false;
    const std::int64_t dataLength = in->Size();
    if (dataLength > std::numeric_limits<std::uint32_t>::max()) return false;
    std::string name = platform::Utf16ToUtf8(part.fileName);
    name.resize(FittingPrefix(name, kMaxNameOctets));

    ByteBuffer headers;
    ok = EncodePartContentType(headers, part.contentType, name);
    if (ok && part.contentId) {
      ok = headers.AppendOctet(0x80 | kContentIdHeader) && headers.AppendOctet('"') &&
           EncodeTextString(headers, *part.contentId);
    }
    ok = ok && headers.AppendOctet(0x80 | kContentLocationHeader) && EncodeTextString(headers, name);
    ByteBuffer entry;
    ok = ok && EncodeUintvar(entry, static_cast<std::uint32_t>(headers.length())) &&
         EncodeUintvar(entry, static_cast<std::uint32_t>(dataLength)) && entry.AppendBuffer(headers);
    if (!ok || out.Write(entry.data(), entry.length()) != entry.length()) return false;
    if (!CopyStream(*in, dataLength, out)) return false;
  }
  return true;
}

std::unique_ptr<MultipartPackage> MultipartPackage::Open(std::u16string_view path) {
  auto stream = ByteStream::OpenFile(path, ByteStream::kRead);
  if (!stream) return nullptr;
  return Parse(std::move(stream));
}

std::unique_ptr<MultipartPackage> MultipartPackage::Parse(std::unique_ptr<ByteStream> stream) {
  if (!stream) return nullptr;
  std::unique_ptr<MultipartPackage> pkg(new MultipartPackage());
  pkg->mode_ = Mode::Parsed;
  pkg->stream_ = std::move(stream);
  ByteStream& s = *pkg->stream_;
  const std::uint8_t first = s.ReadOctet();
  if (s.AtEnd() || (first & 0x7F) != kContentTypeHeader) return nullptr;
  ContentTypeValue ct;
  if (!StreamDecodeContentType(s, ct)) return nullptr;
  pkg->contentType_.Assign(ct.mediaType);
  pkg->start_.Assign(ct.startParam);

  if (IsMultipart(ct.mediaType)) {
    if (!pkg->ParseEntries()) return nullptr;
  } else {
    // A single-part body: everything after the header is the part.
    const std::int64_t offset = s.Tell();
    const std::int64_t size = s.Size();
    if (size > offset) {
      PackagePart part;
      part.contentType = Bounded(ct.mediaType);
      part.dataOffset = offset;
      part.dataLength = size - offset;
      pkg->parts_.push_back(std::move(part));
    }
  }
  for (PackagePart& part : pkg->parts_) {
    if (MediaOf(part.contentType) == kDrmMessageType && !pkg->UnwrapDrm(part)) return nullptr;
  }
  return pkg;
}

bool MultipartPackage::ParseEntries() {
  ByteStream& s = *stream_;
  const std::int64_t fileSize = s.Size();
  std::uint32_t count = 0;
  if (!StreamDecodeUintvar(s, &count) || s.AtEnd() || count < 1) return false;
  const bool drmPackage = contentType_ == kDrmMessageType;
  const bool related = contentType_ == kMultipartRelated;

  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t headersLength = 0, dataLength = 0;
    if (!StreamDecodeUintvar(s, &headersLength) || !StreamDecodeUintvar(s, &dataLength)) return false;
    // An empty part is a valid part (an empty text, say); only the headers cannot be empty.
    if (headersLength == 0 || s.AtEnd()) return false;
    if (headersLength > fileSize - s.Tell()) return false;
    // The headers are read whole and decoded through a reader bounded to them.
    std::vector<std::uint8_t> headers(headersLength);
    if (s.Read(headers.data(), headersLength) != headersLength) return false;
    const std::int64_t dataOffset = s.Tell();
    if (dataLength > fileSize - dataOffset) return false;

    WspReader r(headers.data(), headers.size());
    ContentTypeValue ct;
    DecodeContentType(r, ct);
    if (r.failed()) return false;

    PackagePart part;
    part.drm = drmPackage;
    if (!(drmPackage && ct.mediaType == kDrmRightsXmlType)) {
      part.contentType = ct.mediaType;
      if (!ct.charset.empty()) part.contentType += ";charset=" + ct.charset;
      part.contentType = Bounded(part.contentType);
      part.dataOffset = dataOffset;
      part.dataLength = dataLength;
      while (!r.AtEnd()) {
        const int code = r.ReadOctet() & 0x7F;
        if (code == kContentLocationHeader) {
          std::string location = DecodeTextString(r);
          if (!part.name && !location.empty()) part.name = std::move(location);
        } else if (code == kContentIdHeader) {
          std::string id = DecodeTextString(r);
          if (!part.contentId && !id.empty()) part.contentId = std::move(id);
        }
      }
      if (!part.name && !ct.name.empty()) part.name = ct.name;
      parts_.push_back(std::move(part));
      const PackagePart& added = parts_.back();
      if (related) {
        if (added.contentId && !start_.empty() && *added.contentId == start_.view()) {
          root_ = partCount() - 1;
        } else if (root_ < 0 && ct.mediaType == kSmilType) {
          root_ = partCount() - 1;
        }
      }
    }
    if (s.Seek(dataOffset + dataLength, ByteStream::kFromStart) != 0) return false;
  }
  // A related body that names no root and holds no presentation: its first part is the root.
  if (related && root_ < 0 && start_.empty() && !parts_.empty()) root_ = 0;
  return true;
}

// A forward-locked part is a small MIME body: a boundary line, headers, an empty line, the
// content, then CRLF and the closing boundary.
bool MultipartPackage::UnwrapDrm(PackagePart& part) {
  ByteStream& s = *stream_;
  std::uint8_t head[kDrmHeaderWindow];
  if (s.Seek(part.dataOffset, ByteStream::kFromStart) != 0) return false;
  const std::int64_t n = s.Read(head, std::min(part.dataLength, kDrmHeaderWindow));
  const std::string_view text(reinterpret_cast<const char*>(head),
                              static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));

  std::size_t pos = 0;
  const auto nextLine = [&](std::string_view* line) {
    const std::size_t cr = text.find('\r', pos);
    if (cr == std::string_view::npos) return false;
    *line = text.substr(pos, cr - pos);
    pos = cr + 2;  // the carriage return is taken to be followed by a line feed
    return true;
  };
  std::string_view boundary, line;
  if (!nextLine(&boundary)) return false;
  std::string contentType = part.contentType;
  bool sawEmptyLine = false;
  while (nextLine(&line)) {
    if (line.empty()) {
      sawEmptyLine = true;
      break;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (EqualsNoCase(line.substr(0, colon), "Content-Type")) contentType = Bounded(value);
  }
  if (!sawEmptyLine || static_cast<std::int64_t>(pos) > part.dataLength) return false;

  // The closing boundary: CRLF, the boundary, "--", and often a final CRLF. Read the actual
  // tail so that a final CRLF does not end up in the content.
  const std::int64_t headerOctets = static_cast<std::int64_t>(pos);
  std::int64_t trailer = static_cast<std::int64_t>(boundary.size()) + 4;
  const std::string closing = "\r\n" + std::string(boundary) + "--\r\n";
  const std::int64_t room = part.dataLength - headerOctets;
  if (room >= static_cast<std::int64_t>(closing.size())) {
    std::string tail(closing.size(), '\0');
    if (s.Seek(part.dataOffset + part.dataLength - static_cast<std::int64_t>(closing.size()),
               ByteStream::kFromStart) == 0 &&
        s.Read(tail.data(), static_cast<std::int64_t>(tail.size())) ==
            static_cast<std::int64_t>(tail.size()) &&
        tail == closing) {
      trailer = static_cast<std::int64_t>(closing.size());
    }
  }
  const std::int64_t length = room - trailer;
  if (length < 0) return false;
  part.dataOffset += headerOctets;
  part.dataLength = length;
  part.contentType = contentType;
  part.drm = true;
  return true;
}

bool MultipartPackage::RootIsPresentation() const {
  const PackagePart* r = root();
  return r && MediaOf(r->contentType) == kSmilType;
}

// Only a presentation root is kept apart from the media: any other root is a part to show.
bool MultipartPackage::SkipsRoot() const {
  return contentType_ == kMultipartRelated && RootIsPresentation();
}

int MultipartPackage::ExtractableCount() const {
  return partCount() - (SkipsRoot() ? 1 : 0);
}

bool MultipartPackage::HasDrmContent() const {
  return std::any_of(parts_.begin(), parts_.end(), [](const PackagePart& p) { return p.drm; });
}

bool MultipartPackage::CopyOut(const PackagePart& part, const std::u16string& path) {
  auto out = ByteStream::OpenFile(path, ByteStream::kWrite);
  if (!out) return false;
  const bool ok = stream_->Seek(part.dataOffset, ByteStream::kFromStart) == 0 &&
                  CopyStream(*stream_, part.dataLength, *out) && out->Flush();
  out.reset();
  if (!ok) {
    std::error_code ec;
    std::filesystem::remove(std::filesystem::path(platform::Utf16ToUtf8(path)), ec);
  }
  return ok;
}

bool MultipartPackage::ExtractPart(int index, ExtractedPart& out) {
  if (mode_ != Mode::Parsed || index < 0) return false;
  const bool skipRoot = SkipsRoot();
  const PackagePart* part = nullptr;
  int seen = 0;
  for (int i = 0; i < partCount(); ++i) {
    if (skipRoot && i == root_) continue;
    if (seen++ == index) {
      part = &parts_[static_cast<std::size_t>(i)];
      break;
    }
  }
  if (!part || part->contentType.empty()) return false;

  std::string name;
  if (part->name && !part->name->empty())
    name = *part->name;
  else if (part->contentId && part->contentId->size() > 2)
    name = part->contentId->substr(1, part->contentId->size() - 2);
  else
    name = std::to_string(part->dataOffset);
  std::u16string fileName = NameToUtf16(name, part->contentType);
  SanitizeName(fileName);
  if (nameCallback_) {
    nameCallback_(fileName);
    SanitizeName(fileName);
  }
  if (fileName.empty()) return false;
  if (!CopyOut(*part, JoinPath(out.directory, fileName))) return false;
  out.contentType = part->contentType;
  out.name = fileName;
  out.contentId = part->contentId;
  out.drm = part->drm;
  return true;
}

bool MultipartPackage::ExtractRoot(std::u16string_view directory, std::u16string_view fileName) {
  const PackagePart* r = root();
  if (mode_ != Mode::Parsed || !r || r->dataLength == 0 || fileName.empty()) return false;
  return CopyOut(*r, JoinPath(directory, fileName));
}

}  // namespace mms
