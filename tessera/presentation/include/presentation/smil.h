#pragma once
/// "mms.smil": the writer of the small presentation dialect, and the reader that parses a
/// presentation into a model and converts it into a document's layout and slides.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/message_document.h"

namespace presentation {

/// Writes the document's layout and slides; 1, or 0 when the region count is not 1 or 2 or
/// the file cannot be written.
int WriteSmil(std::u16string_view path, const MessageDocument& document);
/// The same text, in memory; empty when the region count is not 1 or 2.
std::string SmilText(const MessageDocument& document);

/// Presentation model: everything the reader recognises, before conversion.
namespace smil {

inline constexpr std::uint16_t kPixels = 0x4000;  ///< length flag: pixels, else percent

struct Meta {
  std::string name, content;
};
struct RootLayout {
  std::uint16_t width = 0, height = 0;
  std::string backgroundColor;
};
struct RegionModel {
  std::string id;
  std::uint16_t left = 0, top = 0, width = 0, height = 0;
  std::string backgroundColor;
  std::uint32_t fit = 0;
  std::uint8_t zIndex = 0;
};
struct Transition {
  std::string id, type, subtype;
  std::uint32_t dur = 0;
  std::uint8_t startProgress = 0, endProgress = 0;
  std::uint32_t direction = 0;
  std::string fadeColor;
};
enum class ContainerKind : std::uint32_t { Seq = 0, Par = 1 };
enum class MediaType : std::uint32_t {
  Img = 1,
  Text = 2,
  Audio = 3,
  Ref = 4,
  Video = 5,
  Animation = 6,
  Textstream = 7
};
struct Item {
  bool isContainer = false;
  // Container.
  ContainerKind kind = ContainerKind::Seq;
  std::vector<Item> children;
  // Media element.
  MediaType type = MediaType::Img;
  std::string src, region, alt, transIn, transOut;
  bool hasRegion = false;
  std::uint32_t clipBegin = 0, clipEnd = 0;
  // Timing, both.
  std::uint32_t dur = 0, repeatDur = 0, begin = 0, end = 0;
  std::int32_t repeatCount = 0;
  std::uint32_t fill = 0;
};
struct Presentation {
  std::vector<Meta> meta;
  RootLayout rootLayout;
  std::vector<RegionModel> regions;
  std::vector<Transition> transitions;
  std::vector<Item> body;
};

std::uint16_t ParseLength(std::string_view text);
std::uint32_t ParseTime(std::string_view text);
std::uint8_t ParseProgress(std::string_view text);
std::uint32_t ParseFit(std::string_view text, bool present);
std::uint32_t ParseFillCode(std::string_view text);

/// Stage 1: the XML text into the model; false when the text is not XML.
bool ParsePresentation(std::string_view text, Presentation& out);
/// Stage 2: the model into layout and slides; false when the shape is refused.
bool ConvertPresentation(const Presentation& model, MessageDocument& document);

}  // namespace smil

/// Reads the file into the document's layout and slides; the media list must already hold
/// the parts. 1, or 0 when the file is unreadable, not XML, or of a refused shape.
int ReadSmil(std::u16string_view path, MessageDocument& document);
/// The same over a text in memory.
int ReadSmilText(std::string_view text, MessageDocument& document);

}  // namespace presentation
