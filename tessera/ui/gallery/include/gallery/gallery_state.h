#pragma once
/// The gallery's shared state (current folders, mask, view modes) and its folder listing.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/packed_dib.h"
#include "presentation/message_document.h"

namespace config {
class Config;
}

namespace gallery {

struct GalleryState {
  std::uint32_t mask = 0x1FFFF;
  int videoView = 1;
  int pictureView = 1;
  std::u16string videoFolder, soundFolder, pictureFolder, cannedTextsFile;

  /// The process-wide state, made on first use.
  static GalleryState& Get();
};

/// "Cur_*" folders, or the configured folders when those are empty; the canned-texts file.
void ResolveFolders(const config::Config& config, GalleryState* state);
/// Writes the current folders back to "Cur_*" and returns both view modes to the grid.
void CloseFolders(const config::Config& config, GalleryState* state);

/// The mask's class (1 pictures, 2 sounds, 3 texts, 4 videos); other classes read as pictures.
std::uint32_t MaskClass(std::uint32_t mask);
/// The title string of a class.
UINT TitleOf(std::uint32_t cls);
/// The current folder of a class (pictures, sounds or videos).
std::u16string* FolderOf(GalleryState* state, std::uint32_t cls);

enum class EntryType { Up, Folder, File };

struct MediaEntry {
  EntryType type = EntryType::File;
  std::u16string path;  ///< folders end in the separator
  std::uint64_t size = 0;
  std::int64_t writeTime = 0;  ///< seconds since 1970
  presentation::MediaKind kind = presentation::kKindUnknown;
  /// Made the first time the entry is shown in the grid, at the cell's picture size.
  std::unique_ptr<imaging::PackedDib> thumbnail;
  bool thumbnailTried = false;

  /// The name shown: ".." for the up entry, the folder's or file's name otherwise.
  std::u16string Name() const;
};

/// The class a file's extension maps to (0 when none of the gallery's).
std::uint32_t ClassOfFile(std::u16string_view name);
/// True when `folder` is the device root.
bool IsRootFolder(std::u16string_view folder);
/// The parent of a folder (ending in the separator).
std::u16string ParentFolder(std::u16string_view folder);
/// ".." unless at the root, then sub-folders, then files of the class, each group in the
/// file system's order.
std::vector<std::unique_ptr<MediaEntry>> ListFolder(std::u16string_view folder, std::uint32_t cls);

}  // namespace gallery
