#pragma once
/// The composer (class "Rir_WndCls_ComposerFrame"): the screen on which a Drafts message is
/// put together slide by slide, with one visual, one text and one audio field per slide.
/// At most one exists at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "composer/compose_field.h"
#include "presentation/message_document.h"
#include "store/message_store.h"
#include "ui/common/window_base.h"

namespace composer {

/// Picks a media file (the media gallery): the chosen path, or nullopt when cancelled;
/// `kindMask` in/out.
using MediaPicker = std::function<std::optional<std::u16string>(HWND owner, std::uint32_t* kindMask)>;
/// Records a sound into `folder` (ending with the separator): the recorded file, or nullopt.
using SoundRecorder = std::function<std::optional<std::u16string>(HWND owner, const std::u16string& folder)>;

/// What the composer needs from the program.
struct ComposerHost {
  store::MessageStore* store = nullptr;
  /// After the composer is gone: the view state to show (1 folder view, 7 main list) and for
  /// state 1 the folder (-1: the folder shown last).
  std::function<void(int view, int folder)> leave;
  /// Moves a sent message from Drafts to the Outbox and queues its send job.
  std::function<bool(std::uint32_t messageId)> sendFromDrafts;
  /// Plays the message (the viewer); the entry's document is open.
  std::function<void(HWND owner, store::MessageEntry* entry)> preview;
  /// The send page: 1 when the user sent; `changed` set when the message was saved on it.
  std::function<int(HWND owner, store::MessageEntry* entry, bool* changed, bool directSend)> sendPage;
  /// Null: the gallery (or nothing picked when it is not linked) and the recorder dialog.
  MediaPicker picker;
  SoundRecorder recorder;
  /// The canned-texts file; empty: the configured one.
  std::u16string cannedTextsFile;
};

/// lParam of MSG_COMPOSER_OPEN.
struct ComposerOpenRecord {
  int mode = 0;
  std::uint32_t messageId = 0;
};

class ComposerFrame : public ui::WindowBase {
 public:
  explicit ComposerFrame(ComposerHost host);
  ~ComposerFrame() override;

  /// The composer that exists, or null.
  static ComposerFrame* Current();
  /// True while the frame waits in a picker, a question or another screen it started: the
  /// object must outlive that wait even when its window is closed meanwhile.
  bool Waiting() const { return waiting_ > 0; }

  /// Creates the window over `owner`'s client area with its fields and soft keys.
  bool Make(HWND owner);

  // State, for the program and its tests.
  int slideCount() const;
  int currentSlide() const { return current_; }
  bool changed() const { return changed_; }
  int mode() const { return mode_; }
  FieldKind focus() const { return focus_; }
  UINT leftCommand() const { return leftCommand_; }
  const ComposeField& field(FieldKind kind) const { return *fields_[static_cast<int>(kind)]; }
  store::MessageEntry* entry() const { return entry_; }
  presentation::MessageDocument* document() const { return document_; }

  bool OnCreated() override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 protected:
  void OnDestroyed() override;

 private:
  // composer_frame.cpp: opening, keys, focus, menu, title.
  LRESULT OnOpen(WPARAM wParam, LPARAM lParam);
  LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnHotKey(WPARAM wParam, LPARAM lParam);
  LRESULT OnActivate(WPARAM wParam, LPARAM lParam);
  LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM lParam);
  LRESULT OnSysColorChange(WPARAM wParam, LPARAM lParam);
  LRESULT OnEraseBackground(WPARAM, LPARAM) { return 1; }
  void SetLayout();
  void ShowSlide();
  void SetFocusField(FieldKind kind);
  void RefreshSoftKey();
  void RefreshTitle();
  void Refresh(bool keepText = false);
  int Ask(UINT textId, UINT flags, int number = -1);
  std::u16string ItemPath(const std::optional<presentation::MediaReference>& ref) const;
  std::u16string StoredText() const;
  bool SlideHasVideo() const;

  // composer_edit.cpp: the commands.
  LRESULT OnInsert(WPARAM wParam, LPARAM lParam);
  LRESULT OnDeleteItem(WPARAM wParam, LPARAM lParam);
  LRESULT OnAddSlide(WPARAM wParam, LPARAM lParam);
  LRESULT OnDeleteSlide(WPARAM wParam, LPARAM lParam);
  LRESULT OnPreviousSlide(WPARAM wParam, LPARAM lParam);
  LRESULT OnNextSlide(WPARAM wParam, LPARAM lParam);
  LRESULT OnRecord(WPARAM wParam, LPARAM lParam);
  LRESULT OnPreview(WPARAM wParam, LPARAM lParam);
  LRESULT OnSave(WPARAM wParam, LPARAM lParam);
  LRESULT OnSend(WPARAM wParam, LPARAM lParam);
  LRESULT OnClose(WPARAM wParam, LPARAM lParam);
  void InsertVisual();
  void InsertAudio();
  void InsertText();
  void MoveSlide(int step);
  void CommitText();
  bool Save();
  /// Reports a failed save: 1055 when `error` says the disk is full, 40064 otherwise.
  void SaveFailed(int error);
  /// Releases the document and the message; the window goes and the host shows `view`.
  void Leave(int view, int folder);
  std::optional<std::u16string> Pick(std::uint32_t* mask);
  std::u16string CannedTextsFile() const;

  static const ui::MessageMapEntry kEntries[];

  ComposerHost host_;
  store::MessageEntry* entry_ = nullptr;
  presentation::MessageDocument* document_ = nullptr;
  std::unique_ptr<ComposeField> fields_[3];
  int current_ = 0;
  bool changed_ = false;
  int mode_ = 0;
  int previousView_ = 7;
  FieldKind focus_ = FieldKind::Visual;
  UINT leftCommand_ = 0;
  std::uint32_t visualMask_ = 0;
  HWND bar_ = nullptr;
  std::u16string addLabel_, replaceLabel_;
  bool leaving_ = false;
  int waiting_ = 0;
  /// Counts a wait on another screen for as long as it lives.
  struct WaitScope {
    explicit WaitScope(ComposerFrame& frame) : frame_(frame) { ++frame_.waiting_; }
    ~WaitScope() { --frame_.waiting_; }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;
    ComposerFrame& frame_;
  };
};

/// Creates the composer over `owner` and opens message `messageId` of Drafts in `mode`;
/// false (nothing left behind) when it cannot be opened. `previousView` is the view state
/// the program showed before.
bool OpenComposer(HWND owner, ComposerHost host, std::uint32_t messageId, int mode, int previousView);

}  // namespace composer
