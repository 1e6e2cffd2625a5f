#include "presentation/message_document.h"

#include <algorithm>
#include <string>

#include "mms/charset.h"
#include "mms/multipart.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "presentation/smil.h"

namespace presentation {
namespace {

class NeverKnows final : public MediaDurationProbe {
 public:
  std::uint32_t DurationMs(std::u16string_view, MediaKind) override { return 0; }
};

std::string CharsetOf(std::string_view contentType) {
  std::string lower(contentType);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  const std::size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  std::string value = lower.substr(at + 8);
  value = value.substr(0, value.find(';'));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

std::string Utf16LeWithMark(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  out.reserve(2 + text.size() * 2);
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

// Names are compared without case, as on the phone's file system, so 1.JPG and 1.jpg are
// never both made.
bool NameTaken(const std::u16string& dir, const std::u16string& name) {
  std::vector<platform::DirectoryEntry> entries;
  platform::ListDirectory(dir, entries, name);
  return !entries.empty();
}

}  // namespace

MediaDurationProbe& UnknownDurationProbe() {
  static NeverKnows probe;
  return probe;
}

namespace {
MediaDurationProbe* gDefaultProbe = nullptr;
}  // namespace

void SetDefaultDurationProbe(MediaDurationProbe* probe) {
  gDefaultProbe = probe;
}

std::optional<MediaReference>& Slide::Slot(MediaClass c) {
  switch (c) {
    case MediaClass::Image:
      return image;
    case MediaClass::Audio:
      return audio;
    case MediaClass::Text:
      return text;
    case MediaClass::Video:
      return video;
  }
  return image;
}

bool ConvertTextPart(std::u16string_view path, std::string_view charset) {
  std::string data;
  if (!platform::ReadFile(path, data)) return false;
  const auto starts = [&](std::string_view mark) { return data.compare(0, mark.size(), mark) == 0; };
  std::u16string text;
  std::string converted;
  if (charset == "iso-10646-ucs-2") {
    if (starts("\xFF\xFE")) return true;
    std::size_t i = starts("\xFE\xFF") ? 2 : 0;
    // An odd trailing octet is half a character: it is dropped.
    for (; i + 1 < data.size(); i += 2)
      text += static_cast<char16_t>((static_cast<unsigned char>(data[i]) << 8) |
                                    static_cast<unsigned char>(data[i + 1]));
  } else if (charset == "utf_8" || charset == "utf-8") {
    std::string_view body(data);
    if (starts("\xEF\xBB\xBF")) body.remove_prefix(3);
    text = platform::Utf8ToUtf16(body);
  } else if (const std::int32_t mib = mms::CharsetFromName(charset);
             mib != 0 && mib != mms::kCharsetUsAscii && mms::ConvertToUtf8(data, mib, &converted)) {
    // Any other declared charset that the system can convert (ISO-8859-x, UTF-16, Shift_JIS...).
    text = platform::Utf8ToUtf16(converted);
  } else {
    if (starts("\xFF\xFE") || starts("\xFE\xFF") || starts("\xEF\xBB\xBF")) return true;
    text = platform::AnsiToWide(data);
  }
  return platform::WriteFile(path, Utf16LeWithMark(text));
}

MessageDocument::MessageDocument() : probe_(gDefaultProbe ? gDefaultProbe : &UnknownDurationProbe()) {}
MessageDocument::~MessageDocument() = default;

void MessageDocument::SetDurationProbe(MediaDurationProbe* probe) {
  probe_ = probe ? probe : &UnknownDurationProbe();
}

void MessageDocument::Clear(bool keepMedia) {
  regions_.clear();
  slides_.clear();
  rootWidth_ = rootHeight_ = 100;
  if (!keepMedia) media_.clear();
}

void MessageDocument::SetDefaultLayout(std::uint32_t width, std::uint32_t height) {
  rootWidth_ = width ? width : 100;
  rootHeight_ = height ? height : 100;
  const std::uint64_t h = rootHeight_;
  const auto b = static_cast<std::uint32_t>(100 * (2 * h / 3) / h);
  regions_ = {Region{0, 0, 0, 100, b, 2}, Region{1, 0, b, 100, 100, 2}};
}

int MessageDocument::ComposeRequestLayout(std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0) return 0;
  rootWidth_ = width;
  rootHeight_ = height;
  const auto px = [&](long v, std::uint32_t extent) {
    if (v < 0) v = 0;
    return static_cast<std::uint32_t>(std::min<long>(100, v * 100 / static_cast<long>(extent)));
  };
  const long w = width, h = height;
  regions_ = {Region{0, px(10, width), px(5, height), px(w - 10, width), px(h - 40, height), 0},
              Region{1, px(10, width), px(h - 40, height), px(w - 23, width), px(h - 5, height), 0}};
  return 1;
}

MediaItem* MessageDocument::AppendMedia(std::unique_ptr<MediaItem> item) {
  media_.push_back(std::move(item));
  return media_.back().get();
}

std::uint32_t MessageDocument::ProbeDuration(const MediaReference& ref, MediaClass c) const {
  if (ref.item == nullptr) return 0;
  const MediaKind kind = ref.item->kind;
  const bool timed =
      c == MediaClass::Audio || c == MediaClass::Video || (c == MediaClass::Image && kind == kKindGif);
  if (!timed) return 0;
  return probe_->DurationMs(mms::JoinPath(partsDirectory_, ref.item->fileName), kind);
}

int MessageDocument::BuildDefaultPresentation() {
  if (media_.empty()) return 0;
  SetDefaultLayout(100, 100);
  slides_.clear();
  for (const auto& item : media_) {
    const std::uint32_t c = KindClass(item->kind);
    if (c < 1 || c > 4) continue;
    const auto mediaClass = static_cast<MediaClass>(c);
    auto slide = std::make_unique<Slide>();
    MediaReference ref;
    ref.item = item.get();
    ref.region = mediaClass == MediaClass::Text ? 1 : 0;
    const std::uint32_t probed = ProbeDuration(ref, mediaClass);
    slide->duration = std::max(kDefaultDuration, probed);
    ref.end = slide->duration;
    ++item->references;
    slide->Slot(mediaClass) = ref;
    slides_.push_back(std::move(slide));
  }
  return 1;
}

int MessageDocument::Load(std::u16string_view bodyFile, std::u16string_view partsDirectory) {
  if (bodyFile.empty() || partsDirectory.empty()) return -1;
  auto package = mms::MultipartPackage::Open(bodyFile);
  if (!package) return -1;
  if (!platform::CreateDirectories(partsDirectory)) return -1;
  const std::u16string dir(partsDirectory);
  const bool hasPresentation = package->RootIsPresentation() && package->ExtractRoot(dir, u"mms.smil");
  Clear(false);
  partsDirectory_ = dir;
  const int count = package->ExtractableCount();
  for (int i = 0; i < count; ++i) {
    mms::ExtractedPart part;
    part.directory = dir;
    // A part that cannot be written out (no content type, no usable name, no room) is left
    // out; the rest of the message still shows.
    if (!package->ExtractPart(i, part)) continue;
    auto item = std::make_unique<MediaItem>();
    item->kind = KindFromContentType(part.contentType);
    if (item->kind == kKindUnknown) item->kind = KindFromFileName(part.name);
    item->drm = part.drm ? 1 : 0;
    if (part.contentId) item->contentId = platform::AnsiToWide(*part.contentId);
    item->fileName = part.name;
    if (KindClass(item->kind) == static_cast<std::uint32_t>(MediaClass::Text))
      ConvertTextPart(mms::JoinPath(dir, part.name), CharsetOf(part.contentType));
    media_.push_back(std::move(item));
  }
  bool built = false;
  if (hasPresentation) {
    built = ReadSmil(mms::JoinPath(dir, u"mms.smil"), *this) == 1;
    if (!built) Clear(true);
  }
  if (!built && !BuildDefaultPresentation()) Clear(false);
  return static_cast<int>(media_.size());
}

int MessageDocument::Save(std::u16string_view partsDirectory, std::u16string_view bodyFile) {
  if (partsDirectory.empty() || bodyFile.empty()) return 0;
  const std::u16string dir(partsDirectory);
  if (!WriteSmil(mms::JoinPath(dir, u"mms.smil"), *this)) return 0;
  auto package = mms::MultipartPackage::Create();
  for (const auto& item : media_) {
    if (KindClass(item->kind) == 0xFFFF || KindFormat(item->kind) == 0xFFFE) continue;
    mms::PartDescriptor part;
    part.contentType = ContentTypeFromKind(item->kind);
    part.directory = dir;
    part.fileName = item->fileName;
    if (part.contentType.empty() || !package->AddPart(part)) return 0;
  }
  if (!package->AddRoot(dir, u"mms.smil")) return 0;
  // The body appears whole or not at all: an old body survives a failed write.
  const std::u16string temporary = std::u16string(bodyFile) + u".part";
  if (!package->Write(temporary)) {
    platform::DeleteFile(temporary);
    return 0;
  }
  if (!platform::MoveFile(temporary, bodyFile, true)) {
    platform::DeleteFile(temporary);
    return 0;
  }
  return 1;
}

int MessageDocument::InsertSlide(int index) {
  if (index < -1 || index > slideCount()) return 0;
  auto slide = std::make_unique<Slide>();
  if (index == -1)
    slides_.push_back(std::move(slide));
  else
    slides_.insert(slides_.begin() + index, std::move(slide));
  return 1;
}

std::unique_ptr<Slide> MessageDocument::RemoveSlide(int index) {
  if (index < 0 || index >= slideCount()) return nullptr;
  auto slide = std::move(slides_[static_cast<std::size_t>(index)]);
  slides_.erase(slides_.begin() + index);
  return slide;
}

Slide* MessageDocument::slide(int index) {
  return index >= 0 && index < slideCount() ? slides_[static_cast<std::size_t>(index)].get() : nullptr;
}
const Slide* MessageDocument::slide(int index) const {
  return index >= 0 && index < slideCount() ? slides_[static_cast<std::size_t>(index)].get() : nullptr;
}

void MessageDocument::DropReference(std::optional<MediaReference>& slot, bool deleteFile) {
  if (!slot) return;
  MediaItem* item = slot->item;
  slot.reset();
  if (item == nullptr) return;
  if (item->references > 0) --item->references;
  if (item->references != 0) return;
  for (auto it = media_.begin(); it != media_.end(); ++it) {
    if (it->get() != item) continue;
    if (deleteFile) platform::DeleteFile(mms::JoinPath(partsDirectory_, item->fileName));
    media_.erase(it);
    return;
  }
}

int MessageDocument::RemoveMedia(int slideIndex, MediaClass mediaClass, bool deleteFile) {
  Slide* s = slide(slideIndex);
  if (s == nullptr) return 0;
  DropReference(s->Slot(mediaClass), deleteFile);
  return 1;
}

int MessageDocument::AddMediaFile(int slideIndex, std::u16string_view sourcePath,
                                  std::u16string_view recordingPath) {
  Slide* s = slide(slideIndex);
  if (s == nullptr || !platform::FileExists(sourcePath) || partsDirectory_.empty()) return 0;
  const MediaKind kind = KindFromFileName(sourcePath);
  const std::uint32_t c = KindClass(kind);
  // A file of no known kind has no slot to go to.
  if (c < 1 || c > 4) return 0;
  const auto mediaClass = static_cast<MediaClass>(c);

  MediaItem* item = nullptr;
  for (const auto& m : media_)
    if (!m->sourcePath.empty() && m->kind == kind && platform::EqualsNoCase(m->sourcePath, sourcePath))
      item = m.get();
  if (item == nullptr) {
    if (!platform::CreateDirectories(partsDirectory_)) return 0;
    const std::u16string extension(platform::ExtensionPart(platform::FileNamePart(sourcePath)));
    std::u16string name;
    for (int n = 1; n < 100000; ++n) {
      std::u16string candidate = platform::Utf8ToUtf16(std::to_string(n)) + extension;
      const std::u16string target = mms::JoinPath(partsDirectory_, candidate);
      if (NameTaken(partsDirectory_, candidate)) continue;
      if (platform::CopyFile(sourcePath, target, true)) {
        name = std::move(candidate);
        break;
      }
      if (platform::PathExists(target)) continue;  // someone else took the name meanwhile
      return 0;
    }
    if (name.empty()) return 0;
    // Saved text parts travel as UCS-2 with a byte-order mark, so the copy is made so.
    if (mediaClass == MediaClass::Text) ConvertTextPart(mms::JoinPath(partsDirectory_, name), "");
    auto fresh = std::make_unique<MediaItem>();
    fresh->kind = kind;
    fresh->fileName = name;
    const bool shared =
        mediaClass != MediaClass::Text && !(mediaClass == MediaClass::Audio && !recordingPath.empty() &&
                                            platform::EqualsNoCase(recordingPath, sourcePath));
    if (shared) fresh->sourcePath = sourcePath;
    item = AppendMedia(std::move(fresh));
  }
  ++item->references;
  auto& slot = s->Slot(mediaClass);
  DropReference(slot, false);
  MediaReference ref;
  ref.item = item;
  ref.region = mediaClass == MediaClass::Text ? 1 : 0;
  slot = ref;
  return 1;
}

std::uint32_t MessageDocument::SlideDuration(int slideIndex) {
  Slide* s = slide(slideIndex);
  if (s == nullptr) return 0;
  std::uint32_t d = kDefaultDuration;
  if (s->image) d = std::max(d, ProbeDuration(*s->image, MediaClass::Image));
  if (s->video) d = std::max(d, ProbeDuration(*s->video, MediaClass::Video));
  if (s->audio) d = std::max(d, ProbeDuration(*s->audio, MediaClass::Audio));
  s->duration = d;
  return d;
}

std::uint64_t MessageDocument::TotalDuration() const {
  std::uint64_t total = 0;
  for (const auto& s : slides_) total += s->duration;
  return total;
}

}  // namespace presentation
