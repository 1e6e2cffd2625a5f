#include "presentation/xml_document.h"

#include <cstdio>
#include <limits>

namespace presentation {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDelimiter(char c) {
  switch (c) {
    case '<':
    case '>':
    case '=':
    case '\\':
    case '/':
    case '?':
    case '!':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string XmlEscape(std::string_view data) {
  std::string out;
  out.reserve(data.size());
  for (char c : data) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::string XmlDecodeEntities(std::string_view value) {
  static constexpr struct {
    std::string_view name;
    char c;
  } kEntities[] = {{"lt;", '<'}, {"amp;", '&'}, {"gt;", '>'}, {"apos;", '\''}, {"quot;", '"'}};
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '&') {
      bool matched = false;
      for (const auto& e : kEntities) {
        if (value.substr(i + 1, e.name.size()) == e.name) {
          out += e.c;
          i += e.name.size();
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out += value[i];
  }
  return out;
}

XmlDocument::XmlDocument() {
  nodes_.resize(1);
}

void XmlDocument::LoadEmpty() {
  text_.clear();
  error_.clear();
  nodes_.assign(1, XmlNode{});
  ResetPosition();
}

void XmlDocument::LoadSkeleton() {
  LoadEmpty();
  AddElement("smil");
  AddChildElement("head");
  AddChildElement("body");
}

XmlDocument::Token XmlDocument::NextToken(std::uint32_t& pos, std::uint32_t limit) const {
  Token t;
  while (pos < limit && IsSpace(text_[pos])) ++pos;
  if (pos >= limit) return t;
  t.valid = true;
  if (text_[pos] == '"') {
    t.quoted = true;
    t.start = pos + 1;
    std::size_t close = std::string_view(text_).substr(0, limit).find('"', t.start);
    if (close == std::string_view::npos) {
      t.end = limit;
      pos = limit;
    } else {
      t.end = static_cast<std::uint32_t>(close);
      pos = t.end + 1;
    }
    return t;
  }
  t.start = pos;
  if (IsDelimiter(text_[pos])) {
    t.end = ++pos;
    return t;
  }
  while (pos < limit && !IsSpace(text_[pos]) && !IsDelimiter(text_[pos])) ++pos;
  t.end = pos;
  return t;
}

std::uint32_t XmlDocument::Find(std::string_view what, std::uint32_t from) const {
  std::size_t at = std::string_view(text_).find(what, from);
  return at == std::string_view::npos ? kNone : static_cast<std::uint32_t>(at);
}

bool XmlDocument::Fail(const char* format, std::string_view name) {
  if (name.empty() && std::string_view(format).find("%s") == std::string_view::npos) {
    error_ = format;
    return false;
  }
  std::string_view f(format);
  std::size_t at = f.find("%s");
  error_.assign(f.substr(0, at));
  error_.append(name);
  error_.append(f.substr(at + 2));
  return false;
}

std::uint32_t XmlDocument::NewNode() {
  // Grow by half when full, as the record table always has.
  if (nodes_.size() == nodes_.capacity()) nodes_.reserve(nodes_.size() + nodes_.size() / 2 + 1);
  nodes_.emplace_back();
  return static_cast<std::uint32_t>(nodes_.size() - 1);
}

long XmlDocument::ParseElement(std::uint32_t parent, std::uint32_t& pos, int depth) {
  const auto size = static_cast<std::uint32_t>(text_.size());
  for (;;) {
    const std::uint32_t lt = Find("<", pos);
    if (lt == kNone) return Fail("Element tag not found"), -1;
    std::uint32_t p = lt + 1;
    const Token t = NextToken(p, size);
    if (!t.valid) return Fail("Abrupt end within tag"), -1;
    if (t.quoted) return Fail("Tag starts with quote"), -1;
    const char c = text_[t.start];
    if (c == '?' || c == '!') {
      std::string_view terminator = ">";
      if (c == '?') {
        terminator = "?>";
      } else if (t.end < size && text_[t.end] == '[') {
        terminator = "]]>";
      } else if (t.end < size && text_[t.end] == '-') {
        terminator = "-->";
      }
      const std::uint32_t e = Find(terminator, t.end);
      if (e == kNone) return Fail("End of tag not found"), -1;
      pos = e + static_cast<std::uint32_t>(terminator.size());
      continue;
    }
    if (c == '/') {
      pos = lt;
      return 0;
    }
    const std::uint32_t gt = Find(">", t.end);
    if (gt == kNone) return Fail("End of tag not found"), -1;
    if (depth > kMaxDepth) return Fail("Elements nested too deeply"), -1;

    const std::uint32_t index = NewNode();
    nodes_[index].tagStart = lt;
    nodes_[index].tagEnd = gt;
    nodes_[index].parent = parent;
    if (gt > t.end && text_[gt - 1] == '/') {
      nodes_[index].contentStart = nodes_[index].endTag = nodes_[index].next = gt + 1;
      pos = gt + 1;
      return index;
    }
    std::uint32_t scan = gt + 1;
    nodes_[index].contentStart = scan;
    std::uint32_t previous = 0;
    for (;;) {
      const long child = ParseElement(index, scan, depth + 1);
      if (child < 0) return -1;
      if (child == 0) break;
      const auto c32 = static_cast<std::uint32_t>(child);
      if (previous == 0)
        nodes_[index].firstChild = c32;
      else
        nodes_[previous].nextSibling = c32;
      previous = c32;
    }
    const std::string name(t.view(text_));
    const std::uint32_t e = Find("<", scan);
    if (e == kNone) return Fail("End tag of %s element not found", name), -1;
    p = e + 1;
    const Token slash = NextToken(p, size);
    if (!slash.valid || slash.quoted || slash.view(text_) != "/")
      return Fail("Expecting end tag of element %s", name), -1;
    const Token endName = NextToken(p, size);
    if (!endName.valid) return Fail("End tag not completed for element %s", name), -1;
    if (endName.view(text_) != name) return Fail("End tag does not correspond to %s", name), -1;
    for (;;) {
      const Token rest = NextToken(p, size);
      if (!rest.valid) return Fail("End tag not completed for element %s", name), -1;
      if (!rest.quoted && rest.view(text_) == ">") break;
    }
    nodes_[index].endTag = e;
    nodes_[index].next = p;
    pos = p;
    return index;
  }
}

int XmlDocument::Load(std::string_view text) {
  ResetPosition();
  error_.clear();
  nodes_.clear();
  if (text.size() >= kNone) {
    text_.clear();
    nodes_.assign(1, XmlNode{});
    Fail("Element tag not found");
    return 0;
  }
  text_.assign(text);
  nodes_.reserve(text_.size() / 64 + 8);
  nodes_.emplace_back();
  std::uint32_t pos = 0;
  const long top = ParseElement(0, pos, 0);
  if (top <= 0) {
    if (top == 0) Fail("Element tag not found");
    nodes_.assign(1, XmlNode{});
    return 0;
  }
  nodes_[0].firstChild = static_cast<std::uint32_t>(top);
  nodes_[0].next = pos;
  return 1;
}

void XmlDocument::ResetPosition() {
  current_ = 0;
  child_ = 0;
  depth_ = 0;
  fresh_ = true;
}

std::uint32_t XmlDocument::LevelParent() const {
  return current_ ? nodes_[current_].parent : 0;
}

int XmlDocument::FindElement(std::string_view name) {
  child_ = 0;
  std::uint32_t i =
      (fresh_ || current_ == 0) ? nodes_[LevelParent()].firstChild : nodes_[current_].nextSibling;
  for (; i != 0; i = nodes_[i].nextSibling) {
    if (name.empty() || ElementName(i) == name) {
      current_ = i;
      fresh_ = false;
      return 1;
    }
  }
  return 0;
}

int XmlDocument::FindChildElement(std::string_view name) {
  if (current_ == 0 && !FindElement()) return 0;
  const XmlNode& cur = nodes_[current_];
  if (cur.endTag == cur.contentStart) return 0;
  std::uint32_t i = child_ ? nodes_[child_].nextSibling : cur.firstChild;
  for (; i != 0; i = nodes_[i].nextSibling) {
    if (name.empty() || ElementName(i) == name) {
      child_ = i;
      return 1;
    }
  }
  return 0;
}

int XmlDocument::IntoElement() {
  if (child_ == 0 && !FindChildElement()) return 0;
  current_ = child_;
  child_ = 0;
  ++depth_;
  fresh_ = false;
  return 1;
}

int XmlDocument::OutOfElement() {
  if (depth_ == 0 || current_ == 0) return 0;
  child_ = current_;
  current_ = nodes_[current_].parent;
  --depth_;
  fresh_ = true;
  return 1;
}

std::string XmlDocument::ElementName(std::uint32_t index) const {
  if (index == 0 || index >= nodes_.size()) return {};
  std::uint32_t p = nodes_[index].tagStart + 1;
  const Token t = NextToken(p, static_cast<std::uint32_t>(text_.size()));
  return t.valid ? std::string(t.view(text_)) : std::string();
}

bool XmlDocument::FindAttribute(std::uint32_t index, std::string_view name, std::string& value) const {
  value.clear();
  if (index == 0 || index >= nodes_.size() || name.empty()) return false;
  const auto size = static_cast<std::uint32_t>(text_.size());
  std::uint32_t p = nodes_[index].tagStart + 1;
  NextToken(p, size);  // the element name
  for (;;) {
    const Token t = NextToken(p, size);
    if (!t.valid) return false;
    const std::string_view v = t.view(text_);
    if (!t.quoted && (v == ">" || v == "/")) return false;
    if (t.quoted || v != name) continue;
    std::uint32_t q = p;
    const Token eq = NextToken(q, size);
    if (!eq.valid || eq.quoted || eq.view(text_) != "=") continue;
    const Token val = NextToken(q, size);
    if (!val.valid || !val.quoted) continue;
    value = XmlDecodeEntities(val.view(text_));
    return true;
  }
}

std::string XmlDocument::Attribute(std::uint32_t index, std::string_view name) const {
  std::string value;
  FindAttribute(index, name, value);
  return value;
}

std::string_view XmlDocument::Content(std::uint32_t index) const {
  if (index == 0 || index >= nodes_.size()) return {};
  const XmlNode& n = nodes_[index];
  return std::string_view(text_).substr(n.contentStart, n.endTag - n.contentStart);
}

// The writer splices text in and parses the result again; the new element is found again
// by the offset of its "<", which is known before the splice.
std::uint32_t XmlDocument::Splice(std::uint32_t at, const std::string& insert, std::uint32_t newStart) {
  const std::uint32_t keepStart = current_ ? nodes_[current_].tagStart : kNone;
  const bool keepIsBefore = keepStart != kNone && keepStart < at;
  const int depth = depth_;
  std::string text = text_;
  text.insert(at, insert);
  if (!Load(text)) return 0;
  depth_ = depth;
  fresh_ = false;
  std::uint32_t found = 0;
  for (std::uint32_t i = 1; i < nodes_.size(); ++i) {
    if (keepIsBefore && nodes_[i].tagStart == keepStart) current_ = i;
    if (nodes_[i].tagStart == newStart) found = i;
  }
  return found;
}

int XmlDocument::AddElement(std::string_view name, std::string_view data) {
  if (name.empty()) return 0;
  std::string insert =
      data.empty() ? "<" + std::string(name) + "/>\r\n"
                   : "<" + std::string(name) + ">" + XmlEscape(data) + "</" + std::string(name) + ">\r\n";
  std::uint32_t at;
  if (current_ != 0) {
    // A second top-level element would be ignored by the reader.
    if (nodes_[current_].parent == 0) return 0;
    at = nodes_[current_].next;
  } else {
    if (root() != 0) return 0;
    at = static_cast<std::uint32_t>(text_.size());
  }
  const int depth = depth_;
  const std::uint32_t added = Splice(at, insert, at);
  if (added == 0) return 0;
  current_ = added;
  child_ = 0;
  depth_ = depth;
  return 1;
}

int XmlDocument::AddChildElement(std::string_view name, std::string_view data) {
  if (name.empty() || current_ == 0) return 0;
  std::string insert =
      data.empty() ? "<" + std::string(name) + "/>\r\n"
                   : "<" + std::string(name) + ">" + XmlEscape(data) + "</" + std::string(name) + ">\r\n";
  const XmlNode cur = nodes_[current_];
  std::uint32_t at;
  std::uint32_t newStart;
  std::string text = text_;
  if (cur.endTag != cur.contentStart || cur.firstChild != 0) {
    at = newStart = cur.endTag;
  } else if (cur.endTag == cur.contentStart && cur.tagEnd > cur.tagStart && text_[cur.tagEnd - 1] == '/') {
    // A self-closing parent gets a start tag, the child and an end tag.
    at = cur.tagEnd - 1;
    newStart = at + 1;
    insert = ">" + insert + "</" + ElementName(current_) + ">\r\n";
    text_.erase(at, 2);
  } else {
    at = newStart = cur.endTag;
  }
  const std::uint32_t added = Splice(at, insert, newStart);
  if (added == 0) {
    if (text_ != text) Load(text);
    return 0;
  }
  child_ = added;
  return 1;
}

}  // namespace presentation
