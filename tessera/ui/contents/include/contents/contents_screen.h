#pragma once
/// The MMS contents screen: one row per part of a message with its icon, name and size;
/// parts open by their class (picture view, sound play/stop, text, video view), show their
/// information, and are saved into the media folders without overwriting anything.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "presentation/message_document.h"
#include "viewer/viewer_context.h"

namespace store {
class MessageEntry;
}

namespace viewer {

/// One row: the part's file, its size and last-write time as the file system reports them,
/// its kind and its forward-lock flag.
struct PartEntry {
  std::u16string path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  ///< seconds since 1970
  presentation::MediaKind kind = presentation::kKindUnknown;
  bool drm = false;
};

/// The rows for a document's media items in document order; items whose file is missing
/// are left out.
std::vector<PartEntry> BuildPartList(const presentation::MessageDocument& document,
                                     std::u16string_view partsDirectory);

/// "%dKB" up to 1024 KB, else "%.1fMB" (K = bytes rounded up to whole KB).
std::u16string FormatSize(std::uint64_t bytes, const std::u16string& kb, const std::u16string& mb);

enum class SaveOutcome { Saved, Cancelled, Failed, DiskFull };
/// Copies `source` into `folder` under its own name; when that name is taken and
/// `confirm()` agrees, under the first free "<name>_<n><ext>" from n = 0. Never overwrites.
SaveOutcome SaveIntoFolder(const std::u16string& source, const std::u16string& folder,
                           const std::function<bool()>& confirm, std::u16string* savedAs = nullptr);

/// Appends `text` to the canned-texts `file`: Saved; Cancelled when the list holds the same
/// text already (nothing changes); Failed for an empty text, a file that is not a canned-texts
/// file, or a failed write (the old file is then unchanged).
SaveOutcome SaveAsCannedText(const std::u16string& text, const std::u16string& file);

class ContentsScreen {
 public:
  ContentsScreen(const ViewerContext& ctx, std::vector<PartEntry> parts, bool protectedContent);
  ~ContentsScreen();
  ContentsScreen(const ContentsScreen&) = delete;
  ContentsScreen& operator=(const ContentsScreen&) = delete;

  INT_PTR Run(HWND owner);
  HWND Create(HWND owner);

  HWND hwnd() const { return hwnd_; }
  int selected() const;
  UINT menuBar() const { return bar_; }
  bool soundPlaying() const { return playing_; }
  const std::vector<PartEntry>& parts() const { return parts_; }
  /// What the last save did (tests).
  SaveOutcome lastSave() const { return lastSave_; }
  /// The screens opened by the Open command, replaceable for tests.
  std::function<void(HWND owner, const PartEntry&part)> openPicture, openVideo, openText;
  /// Asked before saving under a new name; shows string 1054 unless replaced.
  std::function<bool(HWND owner)> confirmRename;

 private:
  static BOOL Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  BOOL Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  bool OnInit();
  void ApplySelection();
  void ShowBar(UINT id);
  void SetLeftLabel(UINT textId);
  void StopSound();
  void Open();
  void Information();
  void Save();
  void BuildPopup(HMENU menu);
  void DrawRow(const void* drawItem);
  std::u16string Text(UINT id) const;

  ViewerContext ctx_;
  std::vector<PartEntry> parts_;
  bool protected_;
  HWND hwnd_ = nullptr;
  HWND list_ = nullptr;
  UINT bar_ = 0;
  int rowHeight_ = 0;
  bool playing_ = false;
  unsigned clip_ = 0;           // the number of the clip started last
  bool reportsOfClip_ = true;   // its marker came: the reports now queued are its own
  SaveOutcome lastSave_ = SaveOutcome::Cancelled;
};

/// Builds the part list of the entry's document and runs the screen; without a document
/// nothing is shown and IDCANCEL is returned.
INT_PTR RunContentsList(HWND owner, store::MessageEntry* entry, const ViewerContext& ctx);

/// The information dialogs of a picture (123), a sound (128) or a video (125).
INT_PTR ShowMediaInformation(HWND owner, const PartEntry& part, const ViewerContext& ctx);

}  // namespace viewer
