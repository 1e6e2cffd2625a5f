#pragma once
/// MessageDocument: the editable, playable form of one multimedia message — slides, the
/// media items they refer to, and a two-region layout. Media items are files in the
/// message's parts directory, referred to by file name.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace presentation {

/// High 16 bits: class (1 image, 2 audio, 3 text, 4 video); low 16 bits: format.
using MediaKind = std::uint32_t;
inline constexpr MediaKind kKindUnknown = 0xFFFF0000u;
inline constexpr MediaKind kKindJpeg = 0x10001, kKindGif = 0x10002, kKindPng = 0x10003, kKindBmp = 0x10004,
                           kKindWbmp = 0x10005;
inline constexpr MediaKind kKindMidi = 0x20001, kKindWav = 0x20002, kKindAmr = 0x20003;
inline constexpr MediaKind kKindText = 0x30001;
inline constexpr MediaKind kKindMp4 = 0x40001;

enum class MediaClass : std::uint32_t { Image = 1, Audio = 2, Text = 3, Video = 4 };
inline constexpr std::uint32_t KindClass(MediaKind kind) {
  return kind >> 16;
}
inline constexpr std::uint32_t KindFormat(MediaKind kind) {
  return kind & 0xFFFF;
}

/// First matching row of the content-type table (case-insensitive), then the same search
/// with the bare type; kKindUnknown otherwise.
MediaKind KindFromContentType(std::string_view contentType);
/// By the file's extension (case-insensitive); kKindUnknown otherwise.
MediaKind KindFromFileName(std::u16string_view fileName);
/// Content type of the first row with that kind, or "".
std::string ContentTypeFromKind(MediaKind kind);

/// Playing time of a media file in milliseconds; 0 when it cannot tell.
class MediaDurationProbe {
 public:
  virtual ~MediaDurationProbe() = default;
  virtual std::uint32_t DurationMs(std::u16string_view path, MediaKind kind) = 0;
};
/// The probe used by documents that were given none: it never knows.
MediaDurationProbe& UnknownDurationProbe();
/// The probe new documents start with (null: UnknownDurationProbe); the program sets the
/// one that asks the decoders at start-up.
void SetDefaultDurationProbe(MediaDurationProbe* probe);

struct MediaItem {
  MediaKind kind = kKindUnknown;
  std::uint32_t drm = 0;
  std::uint32_t references = 0;
  std::u16string contentId;
  std::u16string fileName;
  std::u16string sourcePath;  ///< the local file it was copied from; empty when never shared
};

/// No region: the role of audio references read from a presentation.
inline constexpr std::uint32_t kNoRegion = 0xFFFFFFFFu;

struct MediaReference {
  std::uint32_t region = 0;  ///< 0 image region, 1 text region
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  MediaItem* item = nullptr;  ///< may be null: a presentation named a part that is absent
};

struct Slide {
  std::uint32_t duration = 2000;
  std::optional<MediaReference> image, text, audio, video;
  std::optional<MediaReference>& Slot(MediaClass c);
};

struct Region {
  std::uint32_t role = 0;                                  ///< 0 "Image", 1 "Text"
  std::uint32_t left = 0, top = 0, right = 0, bottom = 0;  ///< percent of the root layout
  std::uint32_t fit = 2;
};

class MessageDocument {
 public:
  static constexpr std::uint32_t kDefaultDuration = 2000;

  MessageDocument();
  ~MessageDocument();
  MessageDocument(const MessageDocument&) = delete;
  MessageDocument& operator=(const MessageDocument&) = delete;

  void SetDurationProbe(MediaDurationProbe* probe);

  /// Turns a package file into files in `partsDirectory` plus layout and slides. Returns the
  /// number of media parts written out (parts that cannot be are left out), or -1.
  int Load(std::u16string_view bodyFile, std::u16string_view partsDirectory);
  /// Writes "mms.smil" and a new package to `bodyFile`; 1 or 0.
  int Save(std::u16string_view partsDirectory, std::u16string_view bodyFile);
  /// Removes layout and slides; unless keepMedia, the media items too.
  void Clear(bool keepMedia);

  /// Root W × H and the two default regions (image over text, fit "meet").
  void SetDefaultLayout(std::uint32_t width = 100, std::uint32_t height = 100);
  /// The layout a compose request gets (pixel client area W × H).
  int ComposeRequestLayout(std::uint32_t width, std::uint32_t height);
  /// One slide per media item; 1, or 0 when the media list is empty.
  int BuildDefaultPresentation();

  int InsertSlide(int index);
  std::unique_ptr<Slide> RemoveSlide(int index);
  Slide* slide(int index);
  const Slide* slide(int index) const;
  int slideCount() const { return static_cast<int>(slides_.size()); }
  bool empty() const { return slides_.empty(); }
  /// Adds a local file to the slide, copying it into the parts directory; 1 or 0.
  int AddMediaFile(int slideIndex, std::u16string_view sourcePath, std::u16string_view recordingPath = {});
  /// Drops the slide's reference of that class; an item no longer referenced is destroyed.
  int RemoveMedia(int slideIndex, MediaClass mediaClass, bool deleteFile);
  /// Recomputes and stores the slide's duration.
  std::uint32_t SlideDuration(int slideIndex);
  std::uint64_t TotalDuration() const;

  // Layout and media, for the SMIL writer and reader and the viewer.
  std::uint32_t rootWidth() const { return rootWidth_; }
  std::uint32_t rootHeight() const { return rootHeight_; }
  void SetRoot(std::uint32_t width, std::uint32_t height) {
    rootWidth_ = width;
    rootHeight_ = height;
  }
  std::vector<Region>& regions() { return regions_; }
  const std::vector<Region>& regions() const { return regions_; }
  std::vector<std::unique_ptr<Slide>>& slides() { return slides_; }
  const std::vector<std::unique_ptr<Slide>>& slides() const { return slides_; }
  const std::vector<std::unique_ptr<MediaItem>>& media() const { return media_; }
  /// Appends an item (the load path and tests).
  MediaItem* AppendMedia(std::unique_ptr<MediaItem> item);
  const std::u16string& partsDirectory() const { return partsDirectory_; }
  void SetPartsDirectory(std::u16string_view dir) { partsDirectory_ = dir; }

 private:
  std::uint32_t ProbeDuration(const MediaReference& ref, MediaClass c) const;
  void DropReference(std::optional<MediaReference>& slot, bool deleteFile);

  std::uint32_t rootWidth_ = 100;
  std::uint32_t rootHeight_ = 100;
  std::vector<Region> regions_;
  std::vector<std::unique_ptr<Slide>> slides_;
  std::vector<std::unique_ptr<MediaItem>> media_;
  std::u16string partsDirectory_;
  MediaDurationProbe* probe_;
};

/// Rewrites a text part in place as UTF-16LE with the byte-order mark FF FE, decoding it by
/// the charset ("iso-10646-ucs-2", "utf_8", anything else the device code page). False when
/// the file cannot be read or written.
bool ConvertTextPart(std::u16string_view path, std::string_view charset);

}  // namespace presentation
