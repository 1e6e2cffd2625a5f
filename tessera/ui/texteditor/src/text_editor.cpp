#include "texteditor/text_editor.h"

#include <algorithm>
#include <vector>

#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "texteditor/canned_texts.h"
#include "texteditor/texteditor_ids.h"
#include "ui/common/app_context.h"
#include "ui/common/dialog_base.h"

namespace texteditor {
namespace {

CannedTextPicker& Picker() {
  static CannedTextPicker picker;
  return picker;
}

constexpr INT_PTR kAccepted = IDOK;
constexpr INT_PTR kLeft = IDCANCEL;

class TextEditorDialog : public ui::DialogBase {
 public:
  TextEditorDialog(HWND owner, TextEditorMode mode, std::u16string* text, const std::u16string& cannedFile)
      : owner_(owner), mode_(mode), text_(text), cannedFile_(cannedFile), openedEmpty_(text->empty()) {}

  bool OnInitDialog() override;
  LRESULT OnOK(WPARAM wParam, LPARAM lParam) override;
  LRESULT OnCancel(WPARAM wParam, LPARAM lParam) override;
  const ui::MessageTable* GetMessageTable() const override { return &kTable; }
  static const ui::MessageTable kTable;

 private:
  LRESULT OnClose(WPARAM, LPARAM) {
    End(kLeft);
    return 0;
  }
  LRESULT OnHotKey(WPARAM wParam, LPARAM lParam);
  LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM lParam);
  LRESULT OnEditNotice(WPARAM wParam, LPARAM lParam);
  LRESULT OnInsertCanned(WPARAM wParam, LPARAM lParam);
  LRESULT OnSaveCanned(WPARAM wParam, LPARAM lParam);
  static const ui::MessageMapEntry kEntries[];

  std::u16string EditText() const;
  HWND Edit() const { return GetDlgItem(hwnd_, ids::kEdit); }
  void UpdateConfirmKey();
  int Show(UINT textId, UINT flags);

  HWND owner_;
  TextEditorMode mode_;
  std::u16string* text_;
  std::u16string cannedFile_;
  bool openedEmpty_;
  HWND bar_ = nullptr;
};

const ui::MessageMapEntry TextEditorDialog::kEntries[] = {
    {ui::kEntryCommand, ids::kCmdClose, ui::Bind(&TextEditorDialog::OnClose)},
    {ui::kEntryCommand, ids::kCmdInsertCanned, ui::Bind(&TextEditorDialog::OnInsertCanned)},
    {ui::kEntryCommand, ids::kCmdSaveCanned, ui::Bind(&TextEditorDialog::OnSaveCanned)},
    {ui::kEntryCommand, static_cast<UINT>(ids::kEdit), ui::Bind(&TextEditorDialog::OnEditNotice)},
    {ui::kEntryMessage, WM_HOTKEY, ui::Bind(&TextEditorDialog::OnHotKey)},
    {ui::kEntryMessage, WM_INITMENUPOPUP, ui::Bind(&TextEditorDialog::OnInitMenuPopup)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable TextEditorDialog::kTable = {&ui::DialogBase::kTable, TextEditorDialog::kEntries};

bool TextEditorDialog::OnInitDialog() {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!resources) return false;
  SHINITDLGINFO info{SHIDIM_FLAGS, hwnd_, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&info);
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = hwnd_;
  mb.nToolBarId = mode_ == TextEditorMode::CannedText ? ids::kMenuBarCanned
                  : mode_ == TextEditorMode::Plain    ? ids::kMenuBarPlain
                                                      : ids::kMenuBarReadOnly;
  mb.hInstRes = resources->module();
  SHCreateMenuBar(&mb);
  bar_ = mb.hwndMB;
  if (mode_ == TextEditorMode::Plain && bar_) {
    std::u16string label = resources->LoadText(ids::kStrSaveLabel);
    TBBUTTONINFO button{};
    button.cbSize = sizeof button;
    button.dwMask = TBIF_TEXT;
    button.pszText = label.data();
    ::SendMessage(bar_, TB_SETBUTTONINFO, ids::kCmdConfirm, reinterpret_cast<LPARAM>(&button));
  }
  if (mode_ == TextEditorMode::ReadOnly) ::SetWindowText(hwnd_, resources->LoadText(ids::kStrReadOnlyTitle).c_str());

  HWND edit = Edit();
  RECT client{};
  ClientRect(&client);
  ::MoveWindow(edit, ids::kEditLeftMargin, 0, client.right - ids::kEditLeftMargin, client.bottom, TRUE);
  ::SendMessage(edit, EM_LIMITTEXT, ids::kMaxChars, 0);
  std::u16string shown = text_->substr(0, std::min(text_->size(), ids::kMaxChars));
  ::SetWindowText(edit, shown.c_str());
  const auto end = static_cast<WPARAM>(shown.size());
  ::SendMessage(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
  if (mode_ == TextEditorMode::ReadOnly) {
    ::SendMessage(edit, EM_SETREADONLY, TRUE, 0);
  } else {
    ::SendMessage(edit, EM_SCROLLCARET, 0, 0);
    // Back erases a character instead of leaving.
    if (bar_)
      ::SendMessage(bar_, SHCMBM_OVERRIDEKEY, VK_TBACK,
                  MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
  }
  UpdateConfirmKey();
  SetFocus(edit);
  return true;
}

std::u16string TextEditorDialog::EditText() const {
  HWND edit = Edit();
  const int n = GetWindowTextLength(edit);
  std::u16string text(static_cast<std::size_t>(std::max(n, 0)) + 1, u'\0');
  const int got = GetWindowText(edit, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

void TextEditorDialog::UpdateConfirmKey() {
  if (mode_ == TextEditorMode::CannedText || !bar_) return;
  TBBUTTONINFO button{};
  button.cbSize = sizeof button;
  button.dwMask = TBIF_STATE;
  button.fsState = GetWindowTextLength(Edit()) > 0 ? TBSTATE_ENABLED : 0;
  ::SendMessage(bar_, TB_SETBUTTONINFO, ids::kCmdConfirm, reinterpret_cast<LPARAM>(&button));
}

int TextEditorDialog::Show(UINT textId, UINT flags) {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  std::u16string text = resources ? resources->LoadText(textId) : std::u16string();
  std::u16string caption = resources ? resources->LoadText(ids::kStrCaption) : std::u16string();
  return MessageBox(hwnd_, text.c_str(), caption.c_str(), flags);
}

LRESULT TextEditorDialog::OnEditNotice(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) == EN_CHANGE) UpdateConfirmKey();
  return 0;
}

LRESULT TextEditorDialog::OnHotKey(WPARAM, LPARAM lParam) {
  if (HIWORD(static_cast<WPARAM>(lParam)) != VK_TBACK) return 0;
  if (mode_ == TextEditorMode::ReadOnly) {
    End(kLeft);
    return 0;
  }
  DWORD from = 0, to = 0;
  HWND edit = Edit();
  ::SendMessage(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  if (from != to || to > 0) ::SendMessage(edit, WM_CHAR, 8, 0);
  return 0;
}

LRESULT TextEditorDialog::OnInitMenuPopup(WPARAM wParam, LPARAM) {
  if (mode_ != TextEditorMode::CannedText) return 0;
  auto menu = reinterpret_cast<HMENU>(wParam);
  const int length = GetWindowTextLength(Edit());
  EnableMenuItem(menu, ids::kCmdSaveCanned, MF_BYCOMMAND | (length == 0 ? MFS_GRAYED : MF_ENABLED));
  EnableMenuItem(menu, ids::kCmdInsertCanned,
                 MF_BYCOMMAND | (static_cast<std::size_t>(length) >= ids::kMaxChars ? MFS_GRAYED : MF_ENABLED));
  return 0;
}

LRESULT TextEditorDialog::OnInsertCanned(WPARAM, LPARAM) {
  if (!Picker()) return 0;
  std::uint32_t mask = ids::kCannedTextMask;
  std::optional<std::u16string> chosen = Picker()(hwnd_, &mask);
  if (!chosen || chosen->empty()) return 0;
  HWND edit = Edit();
  DWORD from = 0, to = 0;
  ::SendMessage(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  const std::size_t length = static_cast<std::size_t>(std::max(GetWindowTextLength(edit), 0));
  const std::size_t selected = to > from ? to - from : from - to;
  const std::size_t room = ids::kMaxChars - std::min(ids::kMaxChars, length - std::min(length, selected));
  std::u16string insert = chosen->substr(0, std::min(chosen->size(), room));
  ::SendMessage(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(insert.c_str()));
  UpdateConfirmKey();
  SetFocus(edit);
  return 0;
}

LRESULT TextEditorDialog::OnSaveCanned(WPARAM, LPARAM) {
  const std::u16string text = EditText();
  if (text.empty()) return 0;
  std::vector<std::u16string> texts;
  // A file that is not a canned-texts file is left alone rather than replaced.
  const bool readable = LoadCannedTexts(cannedFile_, &texts);
  if (readable && std::find(texts.begin(), texts.end(), text) != texts.end()) {
    Show(ids::kStrDuplicate, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  texts.push_back(text);
  if (!readable || !SaveCannedTexts(cannedFile_, texts)) Show(ids::kStrFailed, MB_OK | MB_ICONEXCLAMATION);
  return 0;
}

LRESULT TextEditorDialog::OnOK(WPARAM, LPARAM) {
  const std::u16string text = EditText();
  if (mode_ != TextEditorMode::Plain) {
    *text_ = text;
    End(kAccepted);
    return 0;
  }
  if (text.empty()) {
    Show(ids::kStrFailed, MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  *text_ = text;
  if (owner_ && ::SendMessage(owner_, ids::kMsgConfirmCanned, reinterpret_cast<WPARAM>(hwnd_), openedEmpty_ ? 1 : 0) != 0)
    End(kAccepted);
  return 0;
}

LRESULT TextEditorDialog::OnCancel(WPARAM, LPARAM) {
  // In the editable modes Back is a backspace; only the close command leaves.
  if (mode_ == TextEditorMode::ReadOnly) End(kLeft);
  return 0;
}

}  // namespace

INT_PTR RunTextEditor(HWND owner, TextEditorMode mode, std::u16string* text, const std::u16string& cannedTextsFile) {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!text || !resources || !resources->loaded()) return -1;
  TextEditorDialog dialog(owner, mode, text, cannedTextsFile);
  const INT_PTR result = dialog.DoModal(resources->module(), ids::kDialog, owner);
  return result == kAccepted ? IDOK : (result < 0 ? -1 : IDCANCEL);
}

void SetCannedTextPicker(CannedTextPicker picker) {
  Picker() = std::move(picker);
}

}  // namespace texteditor
