#include "gallery/gallery_state.h"

#include <sys/stat.h>

#include "config/config.h"
#include "gallery/gallery_ids.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace gallery {

GalleryState& GalleryState::Get() {
  static GalleryState state;
  return state;
}

namespace {

std::u16string WithSeparator(std::u16string folder) {
  if (!folder.empty() && folder.back() != platform::kPathSeparator) folder.push_back(platform::kPathSeparator);
  return folder;
}

std::u16string Current(const std::u16string& stored, const std::u16string& fallback) {
  if (stored.empty()) return WithSeparator(fallback);
  return WithSeparator(config::ResolveDevicePath(stored));
}

}  // namespace

void ResolveFolders(const config::Config& config, GalleryState* state) {
  state->pictureFolder = Current(config.GetCurPicturePath(), config.GetPicturePath(true));
  state->soundFolder = Current(config.GetCurSoundPath(), config.GetSoundPath(true));
  state->videoFolder = Current(config.GetCurVideoPath(), config.GetVideoPath(true));
  state->cannedTextsFile = config.GetCannedtextFile();
}

void CloseFolders(const config::Config& config, GalleryState* state) {
  config.SetCurPicturePath(state->pictureFolder);
  config.SetCurSoundPath(state->soundFolder);
  config.SetCurVideoPath(state->videoFolder);
  state->pictureView = ids::kViewGrid;
  state->videoView = ids::kViewGrid;
}

std::uint32_t MaskClass(std::uint32_t mask) {
  const std::uint32_t cls = mask >> 16;
  return cls >= ids::kClassPicture && cls <= ids::kClassVideo ? cls : ids::kClassPicture;
}

UINT TitleOf(std::uint32_t cls) {
  switch (cls) {
    case ids::kClassSound: return ids::kStrSounds;
    case ids::kClassText: return ids::kStrTexts;
    case ids::kClassVideo: return ids::kStrVideos;
    default: return ids::kStrPictures;
  }
}

std::u16string* FolderOf(GalleryState* state, std::uint32_t cls) {
  switch (cls) {
    case ids::kClassSound: return &state->soundFolder;
    case ids::kClassVideo: return &state->videoFolder;
    default: return &state->pictureFolder;
  }
}

std::u16string MediaEntry::Name() const {
  if (type == EntryType::Up) return u"..";
  std::u16string_view p = path;
  if (type == EntryType::Folder && !p.empty() && p.back() == platform::kPathSeparator) p.remove_suffix(1);
  return std::u16string(platform::FileNamePart(p));
}

std::uint32_t ClassOfFile(std::u16string_view name) {
  const presentation::MediaKind kind = presentation::KindFromFileName(name);
  const std::uint32_t cls = presentation::KindClass(kind);
  return cls == ids::kClassPicture || cls == ids::kClassSound || cls == ids::kClassVideo ? cls : 0;
}

bool IsRootFolder(std::u16string_view folder) {
  return WithSeparator(std::u16string(folder)) == WithSeparator(platform::DeviceRoot()) ||
         folder == std::u16string(1, platform::kPathSeparator);
}

std::u16string ParentFolder(std::u16string_view folder) {
  std::u16string_view p = folder;
  while (p.size() > 1 && p.back() == platform::kPathSeparator) p.remove_suffix(1);
  std::u16string_view parent = platform::DirectoryPart(p);
  return parent.empty() ? std::u16string(1, platform::kPathSeparator) : std::u16string(parent);
}

std::vector<std::unique_ptr<MediaEntry>> ListFolder(std::u16string_view folder, std::uint32_t cls) {
  std::vector<std::unique_ptr<MediaEntry>> out;
  const std::u16string dir = WithSeparator(std::u16string(folder));
  if (!IsRootFolder(dir)) {
    auto up = std::make_unique<MediaEntry>();
    up->type = EntryType::Up;
    up->path = ParentFolder(dir);
    out.push_back(std::move(up));
  }
  std::vector<platform::DirectoryEntry> entries;
  platform::ListDirectory(dir, entries);
  for (const auto& e : entries) {
    if (!e.isDirectory) continue;
    auto entry = std::make_unique<MediaEntry>();
    entry->type = EntryType::Folder;
    entry->path = dir + e.name + platform::kPathSeparator;
    out.push_back(std::move(entry));
  }
  for (const auto& e : entries) {
    if (e.isDirectory || ClassOfFile(e.name) != cls) continue;
    auto entry = std::make_unique<MediaEntry>();
    entry->path = dir + e.name;
    entry->size = e.size;
    entry->kind = presentation::KindFromFileName(e.name);
    struct stat info {};
    if (::stat(platform::NativePath(entry->path).c_str(), &info) == 0) entry->writeTime = info.st_mtime;
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace gallery
