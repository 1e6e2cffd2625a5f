#pragma once
/// Multipart packages: a message body kept in a file, starting with the body's Content-Type
/// and followed by the WSP multipart entries. Built from media files, parsed back into a part
/// list, extracted into a message directory; forward-locked DRM content is unwrapped.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mms/byte_stream.h"
#include "mms/fixed_text.h"

namespace mms {

struct PackagePart {
  /// Built: the given type, parameters kept. Parsed: the media type, plus ";charset=NAME" when
  /// a known Charset parameter was present (at most 127 octets).
  std::string contentType;
  std::optional<std::string> contentId;  ///< e.g. "<smil>"
  std::optional<std::string> name;       ///< parsed: Content-Location, else the Name parameter
  std::u16string fileName;               ///< built only
  std::u16string directory;              ///< built only
  std::int64_t dataOffset = 0;           ///< parsed only: offset of the data in the package file
  std::int64_t dataLength = 0;           ///< parsed only
  bool drm = false;                      ///< forward-locked DRM content
};

/// Input of adding a part.
struct PartDescriptor {
  std::string contentType;  ///< e.g. "image/jpeg" or "text/plain;charset=utf_8"
  std::u16string directory;
  std::u16string fileName;
  std::optional<std::string> contentId;
};

/// Output of extracting a part; `directory` is the input (the target directory).
struct ExtractedPart {
  std::u16string directory;
  std::string contentType;
  std::u16string name;  ///< the file name used
  std::optional<std::string> contentId;
  bool drm = false;
};

class MultipartPackage {
 public:
  enum class Mode { Built = 0, Parsed = 1 };
  /// Called with a part's file name before that part's file is created; it may change the name
  /// (the store uses that to keep names unique). Separators it puts in are replaced again.
  using NameCallback = std::function<void(std::u16string& name)>;

  /// An empty package to build from files.
  static std::unique_ptr<MultipartPackage> Create();
  /// Opens and parses a package file; null when it cannot be opened or is malformed.
  static std::unique_ptr<MultipartPackage> Open(std::u16string_view path);
  /// Parses a package from any stream (the package keeps it); null when malformed.
  static std::unique_ptr<MultipartPackage> Parse(std::unique_ptr<ByteStream> stream);

  /// Appends a part (built packages only); content type, directory and file name are required.
  bool AddPart(const PartDescriptor& part);
  /// Adds the presentation part ("application/smil", Content-ID "<smil>") and makes it the root.
  bool AddRoot(std::u16string_view directory, std::u16string_view fileName);
  /// Writes the package file. On failure the file written so far is left for the caller.
  bool Write(std::u16string_view path);
  /// Writes the package to a stream.
  bool WriteTo(ByteStream& out);

  /// Parts that ExtractPart can reach: all, less a presentation root of a multipart/related
  /// package.
  int ExtractableCount() const;
  /// Whether the root is a SMIL presentation (a related body without Start and SMIL takes its
  /// first part as root, which is then a part like the others).
  bool RootIsPresentation() const;
  /// Extracts the index-th part, counting in package order and skipping a presentation root.
  /// An empty part becomes an empty file. A name that is not UTF-8 is read in the part's charset,
  /// else as ISO-8859-1.
  bool ExtractPart(int index, ExtractedPart& out);
  /// Copies the root's data to directory + fileName.
  bool ExtractRoot(std::u16string_view directory, std::u16string_view fileName);
  bool HasDrmContent() const;

  Mode mode() const { return mode_; }
  std::string_view contentType() const { return contentType_.view(); }
  /// Start parameter of a parsed multipart/related package.
  std::string_view startParam() const { return start_.view(); }
  const std::vector<PackagePart>& parts() const { return parts_; }
  int partCount() const { return static_cast<int>(parts_.size()); }
  /// Index of the root in parts(), or -1.
  int rootIndex() const { return root_; }
  const PackagePart* root() const { return root_ >= 0 ? &parts_[static_cast<std::size_t>(root_)] : nullptr; }
  void SetNameCallback(NameCallback callback) { nameCallback_ = std::move(callback); }

 private:
  MultipartPackage() = default;
  bool ParseEntries();
  bool SkipsRoot() const;
  bool UnwrapDrm(PackagePart& part);
  bool CopyOut(const PackagePart& part, const std::u16string& path);

  Mode mode_ = Mode::Built;
  FixedText<128> contentType_;
  FixedText<128> start_;
  std::vector<PackagePart> parts_;
  int root_ = -1;
  std::unique_ptr<ByteStream> stream_;
  NameCallback nameCallback_;
};

/// Copies `length` octets in chunks of 2048; stops early when a read returns nothing. True
/// when everything was copied.
bool CopyStream(ByteStream& source, std::int64_t length, ByteStream& destination);

/// Size of a file, 0 when it does not exist.
std::int64_t FileSize(std::u16string_view path);

/// directory + name, with a separator between them when the directory lacks one.
std::u16string JoinPath(std::u16string_view directory, std::u16string_view name);

}  // namespace mms
