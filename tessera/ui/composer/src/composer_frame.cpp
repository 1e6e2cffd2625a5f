// The composer window: opening a message, the fields, keys, focus, soft key, menu and title.
#include "composer/composer_frame.h"

#include <algorithm>
#include <vector>

#include "composer/composer_ids.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/menubar.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"

namespace composer {

const ui::MessageMapEntry ComposerFrame::kEntries[] = {
    {ui::kEntryMessage, ui::kMsgComposerOpen, ui::Bind(&ComposerFrame::OnOpen)},
    {ui::kEntryMessage, WM_KEYDOWN, ui::Bind(&ComposerFrame::OnKeyDown)},
    {ui::kEntryMessage, WM_HOTKEY, ui::Bind(&ComposerFrame::OnHotKey)},
    {ui::kEntryMessage, WM_ACTIVATE, ui::Bind(&ComposerFrame::OnActivate)},
    {ui::kEntryMessage, WM_INITMENUPOPUP, ui::Bind(&ComposerFrame::OnInitMenuPopup)},
    {ui::kEntryMessage, ids::kMsgSysColorChange, ui::Bind(&ComposerFrame::OnSysColorChange)},
    {ui::kEntryMessage, WM_ERASEBKGND, ui::Bind(&ComposerFrame::OnEraseBackground)},
    {ui::kEntryCommand, ids::kCmdAdd, ui::Bind(&ComposerFrame::OnInsert)},
    {ui::kEntryCommand, ids::kCmdReplace, ui::Bind(&ComposerFrame::OnInsert)},
    {ui::kEntryCommand, IDOK, ui::Bind(&ComposerFrame::OnInsert)},
    {ui::kEntryCommand, ids::kCmdDeleteItem, ui::Bind(&ComposerFrame::OnDeleteItem)},
    {ui::kEntryCommand, ids::kCmdAddSlide, ui::Bind(&ComposerFrame::OnAddSlide)},
    {ui::kEntryCommand, ids::kCmdDeleteSlide, ui::Bind(&ComposerFrame::OnDeleteSlide)},
    {ui::kEntryCommand, ids::kCmdPreviousSlide, ui::Bind(&ComposerFrame::OnPreviousSlide)},
    {ui::kEntryCommand, ids::kCmdNextSlide, ui::Bind(&ComposerFrame::OnNextSlide)},
    {ui::kEntryCommand, ids::kCmdRecord, ui::Bind(&ComposerFrame::OnRecord)},
    {ui::kEntryCommand, ids::kCmdPreview, ui::Bind(&ComposerFrame::OnPreview)},
    {ui::kEntryCommand, ids::kCmdSave, ui::Bind(&ComposerFrame::OnSave)},
    {ui::kEntryCommand, ids::kCmdSend, ui::Bind(&ComposerFrame::OnSend)},
    {ui::kEntryCommand, ids::kCmdClose, ui::Bind(&ComposerFrame::OnClose)},
    {ui::kEntryCommand, IDCANCEL, ui::Bind(&ComposerFrame::OnClose)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable ComposerFrame::kTable = {&ui::WindowBase::kTable, ComposerFrame::kEntries};

namespace {

ComposerFrame*& CurrentPointer() {
  static ComposerFrame* current = nullptr;
  return current;
}

std::u16string TrimRight(std::u16string text) {
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

std::u16string Number(int n) {
  return platform::Utf8ToUtf16(std::to_string(n));
}

}  // namespace

ComposerFrame::ComposerFrame(ComposerHost host) : host_(std::move(host)), leftCommand_(ids::kCmdAdd),
                                                  visualMask_(ids::kMaskVisual) {
  fields_[0] = std::make_unique<ComposeField>(FieldKind::Visual);
  fields_[1] = std::make_unique<ComposeField>(FieldKind::Text);
  fields_[2] = std::make_unique<ComposeField>(FieldKind::Audio);
}

ComposerFrame::~ComposerFrame() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  if (CurrentPointer() == this) CurrentPointer() = nullptr;
}

void ComposerFrame::OnDestroyed() {
  // The window goes with the fields and the editing view; the message is handed back.
  for (auto& f : fields_) f.reset();
  if (entry_) {
    store::MessageFolder* drafts = entry_->Folder();
    entry_->DropDocument();
    if (drafts) drafts->Release(entry_);
  }
  entry_ = nullptr;
  document_ = nullptr;
  if (CurrentPointer() == this) CurrentPointer() = nullptr;
}

ComposerFrame* ComposerFrame::Current() {
  return CurrentPointer();
}

int ComposerFrame::slideCount() const {
  return document_ ? document_->slideCount() : 0;
}

bool ComposerFrame::Make(HWND owner) {
  RECT client{};
  GetClientRect(owner, &client);
  POINT origin{client.left, client.top};
  ClientToScreen(owner, &origin);
  return Create(ui::kComposerFrameClass, u"", WS_POPUP | WS_VISIBLE, origin.x, origin.y, client.right - client.left,
                client.bottom - client.top, owner);
}

bool ComposerFrame::OnCreated() {
  const ui::ResourceLibrary* resources = ui::Context().resources;
  if (!resources) return false;
  CurrentPointer() = this;
  RECT client{};
  ClientRect(&client);
  const int audioTop = client.bottom - ids::kAudioFieldHeight;
  const int textTop = audioTop - ids::kTextFieldHeight;
  const RECT rects[3] = {{0, 0, client.right, textTop}, {0, textTop, client.right, audioTop},
                         {0, audioTop, client.right, client.bottom}};
  for (int i = 0; i < 3; ++i)
    if (!fields_[i]->Make(hwnd_, rects[i])) return false;
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = hwnd_;
  mb.nToolBarId = ids::kMenuBar;
  mb.hInstRes = resources->module();
  SHCreateMenuBar(&mb);
  bar_ = mb.hwndMB;
  // The soft key's two labels are the menu's own item texts, read before any rebuild.
  HMENU menu = LoadMenu(resources->module(), MAKEINTRESOURCE(static_cast<int>(ids::kMenuBar)));
  HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
  WCHAR text[64] = {};
  if (popup && GetMenuString(popup, ids::kCmdAdd, text, 64, MF_BYCOMMAND) > 0) addLabel_ = TrimRight(text);
  if (popup && GetMenuString(popup, ids::kCmdReplace, text, 64, MF_BYCOMMAND) > 0) replaceLabel_ = TrimRight(text);
  if (menu) DestroyMenu(menu);
  SetFocusField(FieldKind::Visual);
  return true;
}

LRESULT ComposerFrame::OnOpen(WPARAM wParam, LPARAM lParam) {
  const auto* record = reinterpret_cast<const ComposerOpenRecord*>(lParam);
  store::MessageFolder* drafts = host_.store ? host_.store->Folder(store::FolderId::Draft) : nullptr;
  if (!record || !drafts) return -1;
  previousView_ = static_cast<int>(wParam);
  mode_ = record->mode;
  entry_ = drafts->CheckOut(record->messageId);
  if (!entry_) return -1;
  document_ = entry_->OpenDocument();
  // A message that was never saved has no body yet: it starts as an empty document.
  if (!document_ && !platform::FileExists(entry_->BodyPath())) {
    document_ = entry_->NewDocument();
    if (document_) document_->SetPartsDirectory(entry_->PartsDirectory());
  }
  if (!document_) {
    drafts->Release(entry_);
    entry_ = nullptr;
    return -1;
  }
  for (auto& f : fields_) {
    f->SetPath(u"");
    f->SetText(u"");
  }
  SetLayout();
  current_ = 0;
  if (document_->empty()) document_->InsertSlide(0);
  ShowSlide();
  RefreshSoftKey();
  if (mode_ == ids::kModeSendAtOnce) PostMessage(WM_COMMAND, ids::kCmdSend, 0);
  if (mode_ == ids::kModeHandOver) changed_ = true;
  RefreshTitle();
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  return 0;
}

void ComposerFrame::SetLayout() {
  RECT client{};
  ClientRect(&client);
  const std::uint32_t w = static_cast<std::uint32_t>(std::max<LONG>(client.right, 1));
  const std::uint32_t h = static_cast<std::uint32_t>(std::max<LONG>(client.bottom, 1));
  document_->SetRoot(w, h);
  auto percentX = [w](long x) { return static_cast<std::uint32_t>(std::max<long>(x, 0) * 100 / static_cast<long>(w)); };
  auto percentY = [h](long y) { return static_cast<std::uint32_t>(std::max<long>(y, 0) * 100 / static_cast<long>(h)); };
  const long W = static_cast<long>(w), H = static_cast<long>(h);
  auto& regions = document_->regions();
  regions.clear();
  regions.push_back({0, percentX(10), percentY(5), percentX(W - 10), percentY(H - 40), 2});
  regions.push_back({1, percentX(10), percentY(H - 40), percentX(W - 23), percentY(H - 5), 2});
}

std::u16string ComposerFrame::ItemPath(const std::optional<presentation::MediaReference>& ref) const {
  if (!ref || !ref->item || ref->item->fileName.empty()) return {};
  return platform::JoinPath(document_->partsDirectory(), ref->item->fileName);
}

std::u16string ComposerFrame::StoredText() const {
  const presentation::Slide* slide = document_ ? document_->slide(current_) : nullptr;
  const std::u16string path = slide ? ItemPath(slide->text) : std::u16string();
  std::string bytes;
  if (path.empty() || !platform::ReadFile(path, bytes) || bytes.size() < 2) return {};
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                         (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
  return text;
}

bool ComposerFrame::SlideHasVideo() const {
  const presentation::Slide* slide = document_ ? document_->slide(current_) : nullptr;
  return slide && slide->video.has_value();
}

void ComposerFrame::ShowSlide() {
  // The frame may have been closed while a picker or a question ran modally.
  if (!document_) return;
  const presentation::Slide* slide = document_->slide(current_);
  if (!slide) return;
  const bool picture = slide->image && slide->image->item;
  fields_[0]->SetPath(picture ? ItemPath(slide->image) : ItemPath(slide->video), !picture && slide->video);
  fields_[2]->SetPath(ItemPath(slide->audio));
  fields_[1]->SetText(StoredText());
}

void ComposerFrame::SetFocusField(FieldKind kind) {
  focus_ = kind;
  for (auto& f : fields_) f->SetFocused(f->kind() == kind);
  RefreshSoftKey();
}

void ComposerFrame::RefreshSoftKey() {
  const bool empty = fields_[static_cast<int>(focus_)]->empty();
  const UINT command = empty ? ids::kCmdAdd : ids::kCmdReplace;
  std::u16string label = empty ? addLabel_ : replaceLabel_;
  if (bar_) {
    TBBUTTONINFO button{};
    button.cbSize = sizeof button;
    button.dwMask = TBIF_TEXT | TBIF_COMMAND;
    button.idCommand = static_cast<int>(command);
    button.pszText = label.data();
    ::SendMessage(bar_, TB_SETBUTTONINFO, leftCommand_, reinterpret_cast<LPARAM>(&button));
  }
  leftCommand_ = command;
}

void ComposerFrame::RefreshTitle() {
  const std::u16string title = ui::LoadUiText(ids::kStrTitle) + u"(" + Number(current_ + 1) + u"/" +
                               Number(slideCount()) + u")";
  ui::Application::SetTitle(hwnd_, title);
}

void ComposerFrame::Refresh(bool keepText) {
  // The frame may have been closed while a picker or a question ran modally.
  if (!document_ || !hwnd_) return;
  // A text not committed yet stays in its field while the slide stays the same.
  const std::u16string text = fields_[1]->text();
  ShowSlide();
  if (keepText) fields_[1]->SetText(text);
  RefreshSoftKey();
  RefreshTitle();
}

int ComposerFrame::Ask(UINT textId, UINT flags, int number) {
  std::u16string text = ui::LoadUiText(textId);
  const std::size_t at = text.find(u"%d");
  if (number >= 0 && at != std::u16string::npos) text.replace(at, 2, Number(number));
  const std::u16string caption = ui::LoadUiText(ids::kStrCaption);
  WaitScope wait(*this);
  return MessageBox(hwnd_, text.c_str(), caption.c_str(), flags);
}

LRESULT ComposerFrame::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  const int focus = static_cast<int>(focus_);
  switch (key) {
    case VK_RETURN:
      return OnInsert(ids::kCmdAdd, 0);
    case VK_ESCAPE:
      return OnClose(IDCANCEL, 0);
    case VK_LEFT:
      MoveSlide(-1);
      return 0;
    case VK_RIGHT:
      MoveSlide(1);
      return 0;
    case VK_UP:
      SetFocusField(static_cast<FieldKind>((focus + 2) % 3));
      return 0;
    case VK_DOWN:
      SetFocusField(static_cast<FieldKind>((focus + 1) % 3));
      return 0;
    default:
      break;
  }
  const bool digit = key >= '0' && key <= '9';
  if ((digit || key == VK_TSTAR || key == VK_TPOUND)) {
    if (focus_ == FieldKind::Text) return OnInsert(ids::kCmdAdd, 0);
    return 0;
  }
  return DefWindowProc(WM_KEYDOWN, wParam, lParam);
}

LRESULT ComposerFrame::OnHotKey(WPARAM, LPARAM lParam) {
  if (HIWORD(static_cast<WPARAM>(lParam)) == VK_TBACK) return OnClose(IDCANCEL, 0);
  return 0;
}

LRESULT ComposerFrame::OnActivate(WPARAM wParam, LPARAM) {
  if (LOWORD(wParam) != WA_INACTIVE && hwnd_) SetFocus(hwnd_);
  return 0;
}

LRESULT ComposerFrame::OnSysColorChange(WPARAM, LPARAM) {
  Invalidate();
  for (auto& f : fields_) f->Invalidate();
  return 0;
}

LRESULT ComposerFrame::OnInitMenuPopup(WPARAM wParam, LPARAM) {
  auto menu = reinterpret_cast<HMENU>(wParam);
  if (!menu || !document_) return 0;
  const ComposeField& focused = *fields_[static_cast<int>(focus_)];
  // The item commands are rebuilt before "Record sound", named after the focused field.
  if (GetMenuState(menu, ids::kCmdRecord, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
    for (UINT id : {ids::kCmdAdd, ids::kCmdReplace, ids::kCmdDeleteItem}) RemoveMenu(menu, id, MF_BYCOMMAND);
    const UINT kindName = focus_ == FieldKind::Audio  ? ids::kStrSound
                          : focus_ == FieldKind::Text ? ids::kStrText
                          : focused.isVideo()         ? ids::kStrVideo
                                                      : ids::kStrPicture;
    const std::u16string name = ui::LoadUiText(kindName);
    HMENU labels = LoadMenu(ui::Context().resources->module(), MAKEINTRESOURCE(static_cast<int>(ids::kMenuBar)));
    HMENU source = labels ? GetSubMenu(labels, 0) : nullptr;
    const std::vector<UINT> rows = focused.empty() ? std::vector<UINT>{ids::kCmdAdd}
                                                   : std::vector<UINT>{ids::kCmdReplace, ids::kCmdDeleteItem};
    for (UINT id : rows) {
      WCHAR text[64] = {};
      if (source) GetMenuString(source, id, text, 64, MF_BYCOMMAND);
      const std::u16string label = std::u16string(text) + name;
      InsertMenu(menu, ids::kCmdRecord, MF_BYCOMMAND | MF_STRING, id, label.c_str());
    }
    if (labels) DestroyMenu(labels);
  }
  const int count = slideCount();
  const struct {
    UINT id;
    bool enabled;
  } rules[] = {
      {ids::kCmdAddSlide, !SlideHasVideo() && count < ids::kMaxSlides},
      {ids::kCmdPreview, true},
      {ids::kCmdSave, changed_},
      {ids::kCmdPreviousSlide, current_ > 0},
      {ids::kCmdNextSlide, current_ < count - 1},
      {ids::kCmdDeleteSlide, count > 1},
      {ids::kCmdRecord, focus_ == FieldKind::Audio},
  };
  for (const auto& rule : rules) EnableMenuItem(menu, rule.id, MF_BYCOMMAND | (rule.enabled ? MF_ENABLED : MFS_GRAYED));
  return 0;
}

bool OpenComposer(HWND owner, ComposerHost host, std::uint32_t messageId, int mode, int previousView) {
  static std::unique_ptr<ComposerFrame> frame;
  // A frame closed while one of its handlers runs a picker or a question is kept until that
  // handler has returned: it still runs on the object.
  static std::vector<std::unique_ptr<ComposerFrame>> closing;
  std::erase_if(closing, [](const std::unique_ptr<ComposerFrame>& f) { return !f->Waiting(); });
  if (ComposerFrame::Current()) return false;  // one at a time
  if (frame && frame->Waiting()) closing.push_back(std::move(frame));
  frame.reset();
  frame = std::make_unique<ComposerFrame>(std::move(host));
  if (!frame->Make(owner)) {
    frame.reset();
    return false;
  }
  ComposerOpenRecord record{mode, messageId};
  if (::SendMessage(frame->Handle(), ui::kMsgComposerOpen, static_cast<WPARAM>(previousView),
                    reinterpret_cast<LPARAM>(&record)) == -1) {
    frame.reset();
    return false;
  }
  return true;
}

}  // namespace composer
