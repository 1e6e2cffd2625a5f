#pragma once
/// A small non-validating XML reader with a position cursor, and a minimal writer. The
/// document is kept as one 8-bit text; elements are described by offsets into it, so names
/// and attribute values are copied out only when asked for.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace presentation {

/// One element, as offsets into the document text. Index 0 in a link field means none.
struct XmlNode {
  std::uint32_t tagStart = 0;      ///< the start tag's "<"
  std::uint32_t tagEnd = 0;        ///< the start tag's ">"
  std::uint32_t contentStart = 0;  ///< first octet of the content
  std::uint32_t endTag = 0;        ///< the end tag's "<" (== contentStart when empty)
  std::uint32_t next = 0;          ///< just past the element
  std::uint32_t parent = 0;
  std::uint32_t firstChild = 0;
  std::uint32_t nextSibling = 0;
};

class XmlDocument {
 public:
  /// Elements nested deeper than this are refused with "Elements nested too deeply".
  static constexpr int kMaxDepth = 200;

  XmlDocument();

  /// Parses `text`; 1 when an element was parsed, else 0 with error() set and no element
  /// reachable. Text after the first top-level element is ignored.
  int Load(std::string_view text);
  /// An empty document (no element), ready for the writer.
  void LoadEmpty();
  /// The empty presentation skeleton: smil with head and body.
  void LoadSkeleton();

  const std::string& text() const { return text_; }
  const std::string& error() const { return error_; }
  const XmlNode& node(std::uint32_t index) const { return nodes_[index]; }
  std::uint32_t nodeCount() const { return static_cast<std::uint32_t>(nodes_.size()); }
  /// Index of the top-level element, 0 when there is none.
  std::uint32_t root() const { return nodes_[0].firstChild; }

  // Cursor.
  int FindElement(std::string_view name = {});
  int FindChildElement(std::string_view name = {});
  int IntoElement();
  int OutOfElement();
  void ResetPosition();
  std::uint32_t currentElement() const { return current_; }
  std::uint32_t currentChild() const { return child_; }
  int depth() const { return depth_; }

  /// The first token after the element's "<"; empty for index 0 or out of range.
  std::string ElementName(std::uint32_t index) const;
  /// The decoded value of name="value" in the start tag, or an empty string.
  std::string Attribute(std::uint32_t index, std::string_view name) const;
  /// Same, telling apart an absent attribute from an empty one.
  bool FindAttribute(std::uint32_t index, std::string_view name, std::string& value) const;
  /// The raw text between the start and end tags.
  std::string_view Content(std::uint32_t index) const;

  // Writer.
  int AddElement(std::string_view name, std::string_view data = {});
  int AddChildElement(std::string_view name, std::string_view data = {});

 private:
  struct Token {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool quoted = false;
    bool valid = false;
    std::string_view view(const std::string& text) const {
      return std::string_view(text).substr(start, end - start);
    }
  };
  Token NextToken(std::uint32_t& pos, std::uint32_t limit) const;
  std::uint32_t Find(std::string_view what, std::uint32_t from) const;
  /// >0: the new element; 0: an end tag was met (pos is left on its "<"); -1: error.
  long ParseElement(std::uint32_t parent, std::uint32_t& pos, int depth);
  bool Fail(const char* format, std::string_view name = {});
  std::uint32_t NewNode();
  std::uint32_t LevelParent() const;
  std::uint32_t Splice(std::uint32_t at, const std::string& insert, std::uint32_t newStart);

  std::string text_;
  std::string error_;
  std::vector<XmlNode> nodes_;
  std::uint32_t current_ = 0;
  std::uint32_t child_ = 0;
  int depth_ = 0;
  bool fresh_ = true;
};

/// Escapes < & > for element data.
std::string XmlEscape(std::string_view data);
/// Decodes the five predefined entities; other ampersands stay as they are.
std::string XmlDecodeEntities(std::string_view value);

}  // namespace presentation
