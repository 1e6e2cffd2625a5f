#pragma once
/// The gallery dialog (template 102, menu bar 103): the list window of the current mode,
/// its commands, the canned-text list and the camera hand-off. RunGallery runs it modally;
/// tests drive it with keys and read the screen description.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gallery/gallery_state.h"
#include "gallery/media_list.h"
#include "gallery/thumb_grid.h"
#include "ui/common/dialog_base.h"
#include "viewer/viewer_context.h"

namespace config {
class Config;
}

namespace gallery {

class GalleryDialog : public ui::DialogBase {
 public:
  GalleryDialog(const ui::ResourceLibrary* resources, const config::Config* config, std::uint32_t mask);
  ~GalleryDialog() override;
  /// Runs modally; the result (a path, or the chosen canned text) when one was chosen.
  std::optional<std::u16string> Run(HWND owner);
  std::uint32_t mask() const { return mask_; }

  /// Replaceable for tests: the confirmation of a deletion (true: delete), the full-screen
  /// views and the canned-text editor (IDOK when the text was accepted; like the real one
  /// it asks the gallery with 2029 before accepting).
  std::function<bool(HWND owner, UINT textId)> confirm;
  std::function<void(HWND owner, const MediaEntry& entry)> viewPicture, viewVideo;
  std::function<INT_PTR(HWND owner, std::u16string* text, bool isNew)> editText;

  bool OnInitDialog() override;
  LRESULT OnOK(WPARAM wParam, LPARAM lParam) override;
  LRESULT OnCancel(WPARAM wParam, LPARAM lParam) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

  // Commands (public for the message table's binding).
  LRESULT OnInsert(WPARAM, LPARAM);
  LRESULT OnView(WPARAM, LPARAM);
  LRESULT OnPreview(WPARAM, LPARAM);
  LRESULT OnPlay(WPARAM, LPARAM);
  LRESULT OnStop(WPARAM, LPARAM);
  LRESULT OnVideos(WPARAM, LPARAM);
  LRESULT OnPictures(WPARAM, LPARAM);
  LRESULT OnDetails(WPARAM, LPARAM);
  LRESULT OnGrid(WPARAM, LPARAM);
  LRESULT OnInformation(WPARAM, LPARAM);
  LRESULT OnDelete(WPARAM, LPARAM);
  LRESULT OnNewText(WPARAM, LPARAM);
  LRESULT OnEditText(WPARAM, LPARAM);
  LRESULT OnCamera(WPARAM, LPARAM);
  LRESULT OnCopyData(WPARAM, LPARAM);
  LRESULT OnEditorConfirm(WPARAM, LPARAM);
  LRESULT OnCameraDone(WPARAM, LPARAM);
  LRESULT OnListChanged(WPARAM, LPARAM);
  LRESULT OnSelected(WPARAM, LPARAM);
  LRESULT OnInitMenuPopup(WPARAM, LPARAM);
  LRESULT OnClipProgress(WPARAM, LPARAM);
  LRESULT OnKeyDown(WPARAM, LPARAM);

  // State read by tests.
  int Selected() const;
  const std::vector<std::unique_ptr<MediaEntry>>& entries() const { return entries_; }
  const std::vector<std::u16string>& texts() const { return texts_; }
  ThumbGrid* grid() const { return grid_.get(); }
  std::uint32_t modeClass() const { return cls_; }

 private:
  bool Grid() const;
  void Fill(int selected);
  void ShowView(int selected);
  void FillTexts(int selected);
  void UpdateSoftKey();
  void SwitchMask(std::uint32_t mask);
  void SetViewMode(int mode);
  std::u16string Text(UINT id) const;
  void Message(UINT id);
  bool Confirm(UINT id);
  MediaEntry* SelectedEntry() const;
  void CloseSound();
  void Finish(std::u16string result);
  void EditText(bool isNew);
  void SaveTexts();
  viewer::ViewerContext ViewerContext() const;
  void BuildPopup(HMENU popup);

  const ui::ResourceLibrary* resources_;
  const config::Config* config_;
  GalleryState& state_;
  std::uint32_t mask_;
  std::uint32_t cls_ = 1;
  std::vector<std::unique_ptr<MediaEntry>> entries_;
  std::vector<std::u16string> texts_;
  bool textsLoaded_ = false;
  std::u16string* editing_ = nullptr;  ///< the text in the editor
  int editingIndex_ = -1;               ///< the text it changes, -1 for a new one
  std::unique_ptr<ThumbGrid> grid_;
  std::unique_ptr<MediaList> list_;
  HMENU menuTexts_ = nullptr;
  UINT leftCommand_ = 0;
  bool soundOpen_ = false;
  std::optional<std::u16string> result_;
  std::optional<std::u16string> pendingResult_;
  RECT area_{};
  static const ui::MessageMapEntry kEntries[];
};

}  // namespace gallery
