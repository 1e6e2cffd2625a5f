// mmstool slides PACKAGE: what a package looks like as a message document.
// mmstool compose OUT.pkg [--slide] FILE...: a package made as the composer would.
#include "slides.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "presentation/message_document.h"

namespace {

using presentation::MediaReference;
using presentation::MessageDocument;

constexpr int kMaxSlides = 9;

constexpr const char* kSlidesUsage =
    "usage:\n"
    "  mmstool slides PACKAGE\n"
    "  mmstool compose OUT.pkg [--slide] FILE...\n"
    "    (one picture or video, one text and one sound per slide; a taken place starts the next\n"
    "     slide; at most 9 slides; a video only alone on one slide without a sound)\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "mmstool: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "mmstool: %s\n%s", message.c_str(), kSlidesUsage);
  return 2;
}

// A private directory for the parts, removed with everything in it when done.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mmstool-parts-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = platform::Utf8ToUtf16(pattern);
  }
  ~TemporaryDirectory() {
    if (!path_.empty()) platform::RemoveTree(path_);
  }
  const std::u16string& path() const { return path_; }

 private:
  std::u16string path_;
};

const char* RoleName(std::uint32_t role) {
  if (role == presentation::kNoRegion) return "none";
  return role == 0 ? "Image" : "Text";
}

const char* FitWord(std::uint32_t fit) {
  static const char* const kWords[] = {"hidden", "fill", "meet", "slice", "scroll"};
  return fit < 5 ? kWords[fit] : "meet";
}

void PrintReference(const char* slot, const std::optional<MediaReference>& ref) {
  if (!ref) return;
  if (ref->item == nullptr) {
    std::printf("  %s: (missing) region %s\n", slot, RoleName(ref->region));
    return;
  }
  std::printf("  %s: %s (kind 0x%08X) region %s\n", slot, platform::Utf16ToUtf8(ref->item->fileName).c_str(),
              static_cast<unsigned>(ref->item->kind), RoleName(ref->region));
}

}  // namespace

int SlidesCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("slides needs one PACKAGE");
  if (!platform::FileExists(platform::Utf8ToUtf16(args[0]))) return Fail("cannot open " + args[0]);
  TemporaryDirectory parts;
  if (parts.path().empty()) return Fail("cannot make a temporary directory");
  MessageDocument document;
  if (document.Load(platform::Utf8ToUtf16(args[0]), parts.path()) < 0)
    return Fail(args[0] + " is not a readable package");
  std::printf("root-layout: %u x %u\n", document.rootWidth(), document.rootHeight());
  for (const auto& r : document.regions())
    std::printf("region: %s %u %u %u %u %s\n", RoleName(r.role), r.left, r.top, r.right, r.bottom,
                FitWord(r.fit));
  for (int i = 0; i < document.slideCount(); ++i) {
    const presentation::Slide* s = document.slide(i);
    std::printf("slide %d: dur %u\n", i + 1, s->duration);
    PrintReference("image", s->image);
    PrintReference("text", s->text);
    PrintReference("audio", s->audio);
    PrintReference("video", s->video);
  }
  for (const auto& m : document.media()) {
    const std::string cid = platform::Utf16ToUtf8(m->contentId);
    std::printf("media: %s kind 0x%08X cid %s drm %u\n", platform::Utf16ToUtf8(m->fileName).c_str(),
                static_cast<unsigned>(m->kind), cid.empty() ? "-" : cid.c_str(), m->drm);
  }
  return 0;
}

int ComposeCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage("compose needs OUT.pkg and at least one FILE");
  TemporaryDirectory parts;
  if (parts.path().empty()) return Fail("cannot make a temporary directory");
  MessageDocument document;
  document.SetPartsDirectory(parts.path());
  document.SetDefaultLayout();
  // The composer's rules: one picture or video, one text and one sound per slide, at most nine
  // slides, and a video only in a message of one slide without a sound. A file whose place on
  // the current slide is taken starts the next slide; what cannot fit is refused, never dropped.
  int current = -1;
  bool newSlide = true;
  bool hasVideo = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--slide") {
      newSlide = true;
      continue;
    }
    const std::u16string path = platform::Utf8ToUtf16(args[i]);
    if (!platform::FileExists(path)) return Fail("cannot open " + args[i]);
    const std::uint32_t kind = presentation::KindClass(presentation::KindFromFileName(path));
    if (kind < 1 || kind > 4) return Fail(args[i] + ": unknown media kind (by its extension)");
    const auto mediaClass = static_cast<presentation::MediaClass>(kind);
    if (current >= 0 && !newSlide) {
      const presentation::Slide* slide = document.slide(current);
      const bool visualTaken = slide->image.has_value() || slide->video.has_value();
      const bool taken =
          mediaClass == presentation::MediaClass::Image || mediaClass == presentation::MediaClass::Video
              ? visualTaken
          : mediaClass == presentation::MediaClass::Text ? slide->text.has_value()
                                                         : slide->audio.has_value();
      newSlide = taken;
    }
    if (current < 0 || newSlide) {
      if (document.slideCount() >= kMaxSlides)
        return Fail(args[i] + " does not fit: a message holds at most " + std::to_string(kMaxSlides) +
                    " slides");
      if (hasVideo) return Fail(args[i] + " does not fit: a message with a video has one slide");
      document.InsertSlide(-1);
      current = document.slideCount() - 1;
      newSlide = false;
    }
    if (mediaClass == presentation::MediaClass::Video) {
      if (document.slideCount() > 1)
        return Fail(args[i] + " does not fit: a message with a video has one slide");
      if (document.slide(current)->audio) return Fail(args[i] + " does not fit: a video slide has no sound");
      hasVideo = true;
    }
    if (mediaClass == presentation::MediaClass::Audio && hasVideo)
      return Fail(args[i] + " does not fit: a video slide has no sound");
    if (!document.AddMediaFile(current, path)) return Fail("cannot add " + args[i]);
  }
  if (document.empty()) return Fail("no slides");
  for (int i = 0; i < document.slideCount(); ++i) document.SlideDuration(i);
  if (!document.Save(parts.path(), platform::Utf8ToUtf16(args[0]))) return Fail("cannot write " + args[0]);
  std::printf("%s: %d slides, %zu media\n", args[0].c_str(), document.slideCount(), document.media().size());
  return 0;
}
