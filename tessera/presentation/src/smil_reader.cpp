#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/text.h"
#include "presentation/smil.h"
#include "presentation/xml_document.h"

namespace presentation {
namespace smil {
namespace {

// Region ids are held in 260-octet slots while converting; a longer id refuses the
// presentation.
constexpr std::size_t kIdSlot = 260;
constexpr std::size_t kMaxSrc = 259;

// Leading integer as atoi reads it, without its overflow.
long LeadingNumber(std::string_view text, std::size_t* used = nullptr) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < 100000000000L) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (used) *used = i;
  return negative ? -value : value;
}

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::uint32_t ClampMs(long v) {
  if (v < 0) return 0;
  return v > 0xFFFFFFFFL ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

std::string ColourOf(const XmlDocument& xml, std::uint32_t n) {
  std::string v;
  if (xml.FindAttribute(n, "backgroundColor", v)) return v;
  return xml.Attribute(n, "background-color");
}

void ReadTiming(const XmlDocument& xml, std::uint32_t n, Item& item) {
  item.dur = ParseTime(xml.Attribute(n, "dur"));
  item.repeatDur = ParseTime(xml.Attribute(n, "repeatDur"));
  item.repeatCount = static_cast<std::int32_t>(LeadingNumber(xml.Attribute(n, "repeatCount")));
  item.begin = ParseTime(xml.Attribute(n, "begin"));
  item.end = ParseTime(xml.Attribute(n, "end"));
  item.fill = ParseFillCode(xml.Attribute(n, "fill"));
}

bool MediaTypeOf(std::string_view name, MediaType& type) {
  static constexpr struct {
    std::string_view name;
    MediaType type;
  } kTypes[] = {{"img", MediaType::Img},
                {"text", MediaType::Text},
                {"audio", MediaType::Audio},
                {"ref", MediaType::Ref},
                {"video", MediaType::Video},
                {"animation", MediaType::Animation},
                {"textstream", MediaType::Textstream}};
  for (const auto& t : kTypes) {
    if (t.name == name) {
      type = t.type;
      return true;
    }
  }
  return false;
}

void ReadItems(const XmlDocument& xml, std::uint32_t parent, std::vector<Item>& out) {
  for (std::uint32_t n = xml.node(parent).firstChild; n != 0; n = xml.node(n).nextSibling) {
    const std::string name = xml.ElementName(n);
    Item item;
    if (name == "seq" || name == "par") {
      item.isContainer = true;
      item.kind = name == "par" ? ContainerKind::Par : ContainerKind::Seq;
      ReadTiming(xml, n, item);
      ReadItems(xml, n, item.children);
    } else if (MediaTypeOf(name, item.type)) {
      item.src = xml.Attribute(n, "src");
      item.hasRegion = xml.FindAttribute(n, "region", item.region);
      item.alt = xml.Attribute(n, "alt");
      ReadTiming(xml, n, item);
      item.clipBegin = ParseTime(xml.Attribute(n, "clipBegin"));
      item.clipEnd = ParseTime(xml.Attribute(n, "clipEnd"));
      item.transIn = xml.Attribute(n, "transIn");
      item.transOut = xml.Attribute(n, "transOut");
    } else {
      continue;
    }
    out.push_back(std::move(item));
  }
}

std::uint32_t ChildNamed(const XmlDocument& xml, std::uint32_t parent, std::string_view name) {
  for (std::uint32_t n = xml.node(parent).firstChild; n != 0; n = xml.node(n).nextSibling)
    if (xml.ElementName(n) == name) return n;
  return 0;
}

using platform::EqualsNoCase;

MediaItem* FindMedia(MessageDocument& document, std::string_view src) {
  std::string normal;
  bool cid = false;
  if (src.size() >= 4 && EqualsNoCase(src.substr(0, 4), "cid:")) {
    cid = true;
    src.remove_prefix(4);
  }
  for (char c : src) normal += std::strchr("\\/:*?<>\"|", c) != nullptr && c != 0 ? '_' : c;
  const std::u16string wanted = platform::AnsiToWide(normal);
  for (const auto& item : document.media()) {
    if (cid && !item->contentId.empty()) {
      std::u16string_view id = item->contentId;
      if (id.size() >= 2 && id.front() == u'<' && id.back() == u'>') id = id.substr(1, id.size() - 2);
      if (EqualsNoCase(id, wanted)) return item.get();
    } else if (EqualsNoCase(item->fileName, wanted)) {
      return item.get();
    }
  }
  return nullptr;
}

std::uint32_t Percent(std::uint16_t length, std::uint32_t extent) {
  long value;
  if (length & kPixels)
    value = static_cast<long>(length & ~kPixels & 0xFFFF) * 100 / static_cast<long>(extent);
  else
    value = length;
  return static_cast<std::uint32_t>(value > 100 ? 100 : value);
}

}  // namespace

std::uint16_t ParseLength(std::string_view text) {
  const auto number = static_cast<std::uint16_t>(LeadingNumber(text));
  if (text.size() > 1 && text.back() == '%') return static_cast<std::uint16_t>(number & ~kPixels);
  return static_cast<std::uint16_t>(number | kPixels);
}

std::uint32_t ParseTime(std::string_view text) {
  if (EndsWith(text, "ms")) return ClampMs(LeadingNumber(text));
  if (EndsWith(text, "s")) {
    std::size_t used = 0;
    const long seconds = LeadingNumber(text, &used);
    long ms = seconds * 1000;
    if (used < text.size() && text[used] == '.') {
      long scale = 100;
      for (std::size_t i = used + 1; i < text.size() && scale > 0; ++i, scale /= 10) {
        if (text[i] < '0' || text[i] > '9') break;
        ms += (seconds < 0 ? -1 : 1) * (text[i] - '0') * scale;
      }
    }
    return ClampMs(ms);
  }
  return ClampMs(LeadingNumber(text));
}

std::uint8_t ParseProgress(std::string_view text) {
  std::size_t used = 0;
  if (LeadingNumber(text, &used) != 0) return 1;
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return 0;
  return static_cast<std::uint8_t>(LeadingNumber(text.substr(dot + 1)));
}

std::uint32_t ParseFit(std::string_view text, bool present) {
  if (!present) return 0;
  static constexpr std::string_view kWords[] = {"hidden", "fill", "meet", "slice", "scroll"};
  for (std::uint32_t i = 0; i < 5; ++i)
    if (text == kWords[i]) return i;
  return 2;
}

std::uint32_t ParseFillCode(std::string_view text) {
  static constexpr std::string_view kWords[] = {"remove", "freeze", "hold", "transition", "auto", "default"};
  for (std::uint32_t i = 0; i < 6; ++i)
    if (text == kWords[i]) return i + 1;
  return 0;
}

bool ParsePresentation(std::string_view text, Presentation& out) {
  XmlDocument xml;
  if (!xml.Load(text)) return false;
  const std::uint32_t root = xml.root();
  if (const std::uint32_t head = ChildNamed(xml, root, "head")) {
    for (std::uint32_t n = xml.node(head).firstChild; n != 0; n = xml.node(n).nextSibling) {
      const std::string name = xml.ElementName(n);
      if (name == "meta") {
        out.meta.push_back({xml.Attribute(n, "name"), xml.Attribute(n, "content")});
      } else if (name == "transition") {
        Transition t;
        t.id = xml.Attribute(n, "id");
        t.type = xml.Attribute(n, "type");
        t.subtype = xml.Attribute(n, "subtype");
        t.dur = ParseTime(xml.Attribute(n, "dur"));
        t.startProgress = ParseProgress(xml.Attribute(n, "startProgress"));
        t.endProgress = ParseProgress(xml.Attribute(n, "endProgress"));
        t.direction = xml.Attribute(n, "direction") == "reverse" ? 1 : 0;
        t.fadeColor = xml.Attribute(n, "fadeColor");
        out.transitions.push_back(std::move(t));
      } else if (name == "layout") {
        for (std::uint32_t r = xml.node(n).firstChild; r != 0; r = xml.node(r).nextSibling) {
          const std::string rname = xml.ElementName(r);
          if (rname == "root-layout") {
            out.rootLayout.width = static_cast<std::uint16_t>(LeadingNumber(xml.Attribute(r, "width")));
            out.rootLayout.height = static_cast<std::uint16_t>(LeadingNumber(xml.Attribute(r, "height")));
            out.rootLayout.backgroundColor = ColourOf(xml, r);
          } else if (rname == "region") {
            RegionModel region;
            region.id = xml.Attribute(r, "id");
            region.width = ParseLength(xml.Attribute(r, "width"));
            region.height = ParseLength(xml.Attribute(r, "height"));
            region.left = ParseLength(xml.Attribute(r, "left"));
            region.top = ParseLength(xml.Attribute(r, "top"));
            region.backgroundColor = ColourOf(xml, r);
            std::string fit;
            const bool hasFit = xml.FindAttribute(r, "fit", fit);
            region.fit = ParseFit(fit, hasFit);
            region.zIndex = static_cast<std::uint8_t>(LeadingNumber(xml.Attribute(r, "z-index")));
            out.regions.push_back(std::move(region));
          }
        }
      }
    }
  }
  if (const std::uint32_t body = ChildNamed(xml, root, "body")) {
    ReadItems(xml, body, out.body);
    bool bare = false;
    for (const Item& item : out.body) bare = bare || !item.isContainer;
    if (bare) {
      Item seq;
      seq.isContainer = true;
      seq.kind = ContainerKind::Seq;
      seq.children = std::move(out.body);
      out.body.clear();
      out.body.push_back(std::move(seq));
    }
  }
  return true;
}

bool ConvertPresentation(const Presentation& model, MessageDocument& document) {
  const std::uint32_t width = model.rootLayout.width ? model.rootLayout.width : 100;
  const std::uint32_t height = model.rootLayout.height ? model.rootLayout.height : 100;
  if (model.regions.size() > 2) return false;
  std::vector<Region> regions;
  std::int32_t assigned[2] = {-1, -1};
  if (model.regions.empty()) {
    document.SetDefaultLayout(width, height);
    regions = document.regions();
  } else {
    for (std::size_t i = 0; i < model.regions.size(); ++i) {
      const RegionModel& m = model.regions[i];
      if (m.id.empty() || m.id.size() >= kIdSlot) return false;
      Region r;
      r.role = static_cast<std::uint32_t>(i);
      r.fit = m.fit;
      r.left = Percent(m.left, width);
      r.top = Percent(m.top, height);
      const std::uint32_t w = Percent(m.width, width);
      const std::uint32_t h = Percent(m.height, height);
      r.right = (m.width & ~kPixels) == 0 ? 100 : std::min<std::uint32_t>(100, r.left + w);
      r.bottom = (m.height & ~kPixels) == 0 ? 100 : std::min<std::uint32_t>(100, r.top + h);
      regions.push_back(r);
    }
  }
  document.SetRoot(width, height);
  if (model.body.empty()) return false;
  for (const Item& par : model.body)
    if (!par.isContainer || par.kind != ContainerKind::Par) return false;

  std::vector<std::unique_ptr<Slide>> slides;
  for (const Item& par : model.body) {
    if (par.children.size() > 3) return false;
    auto slide = std::make_unique<Slide>();
    slide->duration = par.dur ? par.dur : MessageDocument::kDefaultDuration;
    for (const Item& media : par.children) {
      if (media.isContainer) return false;
      if (media.src.empty() || media.src.size() > kMaxSrc) continue;
      MediaReference ref;
      ref.item = FindMedia(document, media.src);
      std::optional<MediaReference>* slot = nullptr;
      std::uint32_t role = 0;
      switch (media.type) {
        case MediaType::Img:
          if (slide->video) continue;
          slot = &slide->image;
          break;
        case MediaType::Text:
          slot = &slide->text;
          role = 1;
          break;
        case MediaType::Audio:
          if (slide->video) continue;
          slot = &slide->audio;
          role = kNoRegion;
          break;
        case MediaType::Video:
          slot = &slide->video;
          break;
        case MediaType::Ref:
        case MediaType::Animation:
        case MediaType::Textstream:
          continue;
      }
      if (slot->has_value()) return false;
      if (media.type == MediaType::Video) {
        slide->image.reset();
        slide->audio.reset();
      }
      ref.region = role;
      *slot = ref;
      if (media.type == MediaType::Audio) continue;
      const std::int32_t wantRole = media.type == MediaType::Text ? 1 : 0;
      if (media.hasRegion) {
        for (std::size_t i = 0; i < model.regions.size(); ++i)
          if (EqualsNoCase(model.regions[i].id, media.region)) assigned[i] = wantRole;
      } else {
        assigned[0] = 0;
        assigned[1] = 1;
      }
    }
    slides.push_back(std::move(slide));
  }
  for (std::size_t i = 0; i < model.regions.size(); ++i)
    if (assigned[i] >= 0) regions[i].role = static_cast<std::uint32_t>(assigned[i]);
  // Counts go up only once the presentation is accepted, so a refused one leaves none behind.
  for (const auto& slide : slides)
    for (const auto* ref : {&slide->image, &slide->text, &slide->audio, &slide->video})
      if (*ref && (*ref)->item) ++(*ref)->item->references;
  document.regions() = std::move(regions);
  document.slides() = std::move(slides);
  return true;
}

}  // namespace smil

int ReadSmilText(std::string_view text, MessageDocument& document) {
  smil::Presentation model;
  if (!smil::ParsePresentation(text, model)) return 0;
  return smil::ConvertPresentation(model, document) ? 1 : 0;
}

int ReadSmil(std::u16string_view path, MessageDocument& document) {
  std::string text;
  if (!platform::ReadFile(path, text)) return 0;
  return ReadSmilText(text, document);
}

}  // namespace presentation
