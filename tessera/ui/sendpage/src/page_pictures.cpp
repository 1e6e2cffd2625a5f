#include "sendpage/page_pictures.h"

#include <string>

#include "imaging/image.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "sendpage/send_rules.h"

namespace ui {

bool PagePictures::MakeWorkingFolder(std::u16string_view messageDirectory) {
  for (int n = 1; n < 10000; ++n) {
    std::u16string name = u"Temp";
    for (char c : std::to_string(n)) name.push_back(static_cast<char16_t>(c));
    std::u16string path = platform::JoinPath(messageDirectory, name);
    if (platform::PathExists(path)) continue;
    if (!platform::CreateDirectory(path)) return false;
    folder_ = path;
    return true;
  }
  return false;
}

int PagePictures::TakeOriginals(const presentation::MessageDocument& document) {
  pictures_.clear();
  taken_ = false;
  if (folder_.empty()) return -1;
  for (const auto& slide : document.slides()) {
    if (!slide->image || !slide->image->item) continue;
    const std::u16string& name = slide->image->item->fileName;
    Picture p{platform::JoinPath(document.partsDirectory(), name), platform::JoinPath(folder_, name)};
    bool seen = false;
    for (const Picture& q : pictures_) seen = seen || q.part == p.part;
    if (seen) continue;  // one picture shown on two slides
    if (!platform::CopyFile(p.part, p.original, false)) {
      pictures_.clear();
      return -1;
    }
    pictures_.push_back(std::move(p));
  }
  taken_ = true;
  return static_cast<int>(pictures_.size());
}

bool PagePictures::Apply(int resolution) {
  if (!taken_) return false;
  bool ok = true;
  for (const Picture& p : pictures_) {
    imaging::Box size{};
    int depth = 0;
    bool scale = imaging::GetImageInfo(p.original, &size, &depth, imaging::kTypeByExtension) == 1 &&
                 PictureNeedsScaling(resolution, size.width, size.height);
    if (scale) {
      PictureBox box = ResolutionBox(resolution);
      imaging::Box target{box.width, box.height};
      // Written beside the part first, so a failed conversion leaves the picture whole.
      std::u16string temporary = p.part + u".new";
      if (imaging::ConvertImage(temporary, p.original, target, imaging::kTypeByExtension) == 1 &&
          platform::FileExists(temporary) && platform::MoveFile(temporary, p.part, true))
        continue;
      platform::DeleteFile(temporary);
      ok = false;
    }
    if (!platform::CopyFile(p.original, p.part, false)) ok = false;
  }
  return ok;
}

bool PagePictures::KeepCurrentAsOriginals() {
  bool ok = true;
  for (const Picture& p : pictures_)
    if (!platform::CopyFile(p.part, p.original, false)) ok = false;
  return ok;
}

bool PagePictures::Restore() {
  bool ok = true;
  for (const Picture& p : pictures_)
    if (!platform::CopyFile(p.original, p.part, false)) ok = false;
  return ok;
}

void PagePictures::RemoveWorkingFolder() {
  if (!folder_.empty()) platform::RemoveTree(folder_);
  folder_.clear();
  pictures_.clear();
  taken_ = false;
}

}  // namespace ui
