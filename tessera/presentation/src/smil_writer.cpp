#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"
#include "presentation/smil.h"

namespace presentation {
namespace {

const char* FitWord(std::uint32_t fit) {
  switch (fit) {
    case 0:
      return "hidden";
    case 1:
      return "fill";
    case 2:
      return "meet";
    case 3:
      return "slice";
    case 4:
      return "scroll";
    default:
      return "meet";
  }
}

const char* RegionName(std::uint32_t role) {
  return role == 0 ? "Image" : "Text";
}

// File names go out in the device code page, at most 259 octets, cut on a character boundary.
std::string SourceName(std::u16string_view fileName) {
  std::string name = platform::WideToAnsi(fileName);
  if (name.size() > 259) {
    std::size_t cut = 259;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

// A file name may hold any character the file system allows, '&' and quotes included; inside
// an attribute value each markup character goes out as its entity.
std::string AttributeValue(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

void Append(std::string& out, const char* format, auto... args) {
  char line[768];
  const int n = std::snprintf(line, sizeof line, format, args...);
  if (n > 0)
    out.append(line,
               static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1);
}

void WriteMedia(std::string& out, const char* element, const std::optional<MediaReference>& ref,
                bool withRegion) {
  if (!ref || ref->item == nullptr || ref->item->fileName.empty()) return;
  const std::string src = AttributeValue(SourceName(ref->item->fileName));
  std::string region;
  if (withRegion) region = std::string(" region=\"") + RegionName(ref->region) + "\"";
  out += "<";
  out += element;
  out += " src=\"" + src + "\"" + region + "/>\n";
}

}  // namespace

std::string SmilText(const MessageDocument& document) {
  const auto& regions = document.regions();
  if (regions.empty() || regions.size() > 2) return {};
  std::string out = "<smil>\n<head>\n<meta name=\"title\" content=\"mms\"/>\n<layout>\n";
  Append(out, "<root-layout width=\"%d\" height=\"%d\" />\n", static_cast<int>(document.rootWidth()),
         static_cast<int>(document.rootHeight()));
  for (const Region& r : regions) {
    Append(out,
           "<region id=\"%s\" left=\"%d%%\" top=\"%d%%\" width=\"%d%%\" height=\"%d%%\" "
           "fit=\"%s\" />\n",
           RegionName(r.role), static_cast<int>(r.left), static_cast<int>(r.top),
           static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top), FitWord(r.fit));
  }
  out += "</layout>\n</head>\n<body>\n";
  for (const auto& slide : document.slides()) {
    Append(out, "<par dur=\"%ldms\" >\n", static_cast<long>(slide->duration));
    const bool video = slide->video && slide->video->item && !slide->video->item->fileName.empty();
    if (!video) WriteMedia(out, "img", slide->image, true);
    WriteMedia(out, "text", slide->text, true);
    if (!video) WriteMedia(out, "audio", slide->audio, false);
    WriteMedia(out, "video", slide->video, true);
    out += "</par>\n";
  }
  out += "</body>\n</smil>\n";
  return out;
}

int WriteSmil(std::u16string_view path, const MessageDocument& document) {
  const std::string text = SmilText(document);
  if (text.empty()) return 0;
  return platform::WriteFile(path, text) ? 1 : 0;
}

}  // namespace presentation
