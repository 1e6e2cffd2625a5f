#include "sendpage/send_page.h"

#include <memory>
#include <string>
#include <utility>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/listview.h"
#include "platform/menubar.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "sendpage/contact_picker_model.h"
#include "sendpage/ids.h"
#include "sendpage/page_pictures.h"
#include "sendpage/send_rules.h"
#include "transport/mm1_engine.h"
#include "ui/common/dialog_base.h"
#include "ui/common/label_font.h"

namespace ui {

namespace {

constexpr UINT kStrCaption = 40063;
constexpr std::size_t kSubjectLimit = 40;
constexpr std::size_t kStoredSubjectLimit = 260;

std::u16string Text(const SendPageContext& c, UINT id) {
  return c.resources ? c.resources->LoadText(id) : std::u16string();
}

void ShowMessage(const SendPageContext& c, HWND owner, UINT id) {
  std::u16string text = Text(c, id), caption = Text(c, kStrCaption);
  MessageBox(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

std::u16string ItemText(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  int n = GetWindowTextLength(item);
  std::u16string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, u'\0');
  int got = GetWindowText(item, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

/// "%s" or "%d" of a format string replaced by `value`.
std::u16string Substitute(std::u16string format, std::u16string_view value) {
  for (std::u16string_view token : {std::u16string_view(u"%s"), std::u16string_view(u"%d")}) {
    std::size_t at = format.find(token);
    if (at != std::u16string::npos) return format.replace(at, 2, value);
  }
  return format.append(value);
}

std::u16string Decimal(std::uint64_t v) {
  return platform::Utf8ToUtf16(std::to_string(v));
}

HWND MakeMenuBar(const SendPageContext& c, HWND dlg, UINT id) {
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = dlg;
  mb.nToolBarId = id;
  mb.hInstRes = c.resources ? c.resources->module() : nullptr;
  return SHCreateMenuBar(&mb) ? mb.hwndMB : nullptr;
}

void FullScreen(HWND dlg) {
  SHINITDLGINFO info{SHIDIM_FLAGS, dlg, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&info);
}

/// Counted wait cursor for the time of a scope.
class WaitCursor {
 public:
  WaitCursor() { SetCursor(LoadCursor(nullptr, IDC_WAIT)); }
  ~WaitCursor() { SetCursor(nullptr); }
};

// --- Sending options ----------------------------------------------------------------------

void FillList(const SendPageContext& c, HWND dlg, int id, const UINT* strings, std::size_t count, int selected) {
  for (std::size_t i = 0; i < count; ++i) {
    std::u16string t = Text(c, strings[i]);
    SendDlgItemMessage(dlg, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
  }
  SendDlgItemMessage(dlg, id, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int Selected(HWND dlg, int id) {
  return static_cast<int>(SendDlgItemMessage(dlg, id, LB_GETCURSEL, 0, 0));
}

class OptionsDialog : public DialogBase {
 public:
  OptionsDialog(const SendPageContext& context, store::SendOptionsRecord* options, int* resolution, bool fixed,
                HWND page)
      : context_(context), options_(options), resolution_(resolution), fixed_(fixed), page_(page) {}

  bool OnInitDialog() override {
    HWND dlg = hwnd_;
    const SendPageContext& c = context_;
    FullScreen(dlg);
    MakeMenuBar(c, dlg, ids::kOptionsMenuBar);
    SendOptionChoice choice = ChoiceFromOptions(*options_, fixed_ ? kResolutionOriginal : *resolution_);
    FillList(c, dlg, ids::kResolutionList, kResolutionStrings.data(), kResolutionStrings.size(), choice.resolution);
    FillList(c, dlg, ids::kValidityList, kValidityStrings.data(), kValidityStrings.size(), choice.validity);
    FillList(c, dlg, ids::kDeliveryList, kDeliveryStrings.data(), kDeliveryStrings.size(), choice.delivery);
    FillList(c, dlg, ids::kPriorityList, kPriorityStrings.data(), kPriorityStrings.size(), choice.priority);
    if (fixed_) EnableWindow(GetDlgItem(dlg, ids::kResolutionList), FALSE);
    if (c.resources)
      labels_.Apply(*c.resources, dlg,
                    {ids::kResolutionLabel, ids::kValidityLabel, ids::kDeliveryLabel, ids::kPriorityLabel});
    SetFocus(GetDlgItem(dlg, fixed_ ? ids::kValidityList : ids::kResolutionList));
    return true;
  }
  /// Done (and the action key): the chosen values are stored.
  LRESULT OnOK(WPARAM, LPARAM) override {
    HWND dlg = hwnd_;
    SendOptionChoice choice;
    choice.validity = Selected(dlg, ids::kValidityList);
    choice.delivery = Selected(dlg, ids::kDeliveryList);
    choice.priority = Selected(dlg, ids::kPriorityList);
    StoreChoice(choice, options_);
    int resolution = Selected(dlg, ids::kResolutionList);
    if (!fixed_ && resolution >= 0 && resolution < kResolutionCount && resolution != *resolution_) {
      *resolution_ = resolution;
      if (page_) ::PostMessage(page_, ids::kMsgResolutionChanged, 0, resolution);
    }
    End(1);
    return 0;
  }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(0);
    return 0;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  LRESULT OnDone(WPARAM wParam, LPARAM lParam) { return OnOK(wParam, lParam); }
  LRESULT OnCancelKey(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }

  const SendPageContext& context_;
  store::SendOptionsRecord* options_;
  int* resolution_;
  bool fixed_;
  HWND page_;
  LabelFont labels_;
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry OptionsDialog::kEntries[] = {
    {kEntryCommand, ids::kCmdDone, Bind(&OptionsDialog::OnDone)},
    {kEntryCommand, ids::kCmdCancel, Bind(&OptionsDialog::OnCancelKey)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable OptionsDialog::kTable = {&DialogBase::kTable, OptionsDialog::kEntries};

// --- Contact picker -----------------------------------------------------------------------

int SelectedRow(HWND list) {
  return static_cast<int>(::SendMessage(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectRow(HWND list, int row) {
  LVITEM st{};
  st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  st.state = st.stateMask;
  ::SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
  ::SendMessage(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

class ContactPicker : public DialogBase {
 public:
  ContactPicker(const SendPageContext& context, std::unique_ptr<SimPhonebook> sim, AddressKind kind,
                ContactEntry* chosen)
      : context_(context),
        sim_(std::move(sim)),
        model_(std::make_unique<ContactPickerModel>(context.contacts, sim_.get(), kind)),
        chosen_(chosen) {}
  ~ContactPicker() override {
    if (texts_) DestroyMenu(texts_);
  }

  bool OnInitDialog() override {
    HWND dlg = hwnd_;
    const SendPageContext& c = context_;
    FullScreen(dlg);
    RECT rc;
    GetClientRect(dlg, &rc);
    list_ = CreateWindowEx(0, WC_LISTVIEW, u"",
                           WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                               LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER,
                           0, 0, rc.right, rc.bottom, dlg,
                           reinterpret_cast<HMENU>(static_cast<std::intptr_t>(ids::kListControl)), nullptr,
                           nullptr);
    ::SendMessage(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    WCHAR empty[] = u"";
    LVCOLUMN col{LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, rc.right, empty, 0, 0};
    ::SendMessage(list_, LVM_INSERTCOLUMN, 0, reinterpret_cast<LPARAM>(&col));
    col = LVCOLUMN{LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, 0, empty, 0, 1};
    ::SendMessage(list_, LVM_INSERTCOLUMN, 1, reinterpret_cast<LPARAM>(&col));
    model_->Fill();
    menuBar_ = MakeMenuBar(c, dlg, ids::kContactPickerMenuBar);
    if (c.resources) texts_ = LoadMenu(c.resources->module(), MAKEINTRESOURCE(ids::kContactPickerMenuBar));
    std::u16string title = Text(c, ids::kStrPickerTitle);
    SetWindowText(dlg, title.c_str());
    Fill();
    if (!model_->empty()) SelectRow(list_, model_->InitialRow());
    SetFocus(model_->empty() ? dlg : list_);
    return true;
  }
  /// Select (and the action key): the row is chosen; with no rows it ends like a cancel.
  LRESULT OnOK(WPARAM, LPARAM) override {
    if (model_->empty())
      End(2);
    else if (model_->Choose(SelectedRow(list_), chosen_))
      End(1);
    return 0;
  }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(2);
    return 0;
  }
  /// An empty list is drawn by the page: the list itself steps aside.
  bool OnDialogPaint() override {
    if (!model_->empty()) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    RECT rc;
    GetClientRect(hwnd_, &rc);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    std::u16string text = Text(context_, ids::kStrNoContacts);
    DrawText(dc, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    EndPaint(hwnd_, &ps);
    return true;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  void Fill() {
    ::SendMessage(list_, LVM_DELETEALLITEMS, 0, 0);
    const auto& rows = model_->Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
      std::u16string name = rows[i].name;
      LVITEM item{};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = static_cast<int>(i);
      item.pszText = name.data();
      item.lParam = static_cast<LPARAM>(i);
      ::SendMessage(list_, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (menuBar_) ::SendMessage(menuBar_, TB_ENABLEBUTTON, ids::kCmdPickerSelect, model_->CanSelect());
    ShowWindow(list_, model_->empty() ? SW_HIDE : SW_SHOW);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }
  void SwitchTo(ContactPickerModel::Source source) {
    WaitCursor wait;
    model_->SwitchTo(source);
    Fill();
    if (!model_->empty()) SelectRow(list_, 0);
    SetFocus(model_->empty() ? hwnd_ : list_);
  }

  LRESULT OnMeasureItem(WPARAM, LPARAM lParam) {
    auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
    RECT rc;
    GetClientRect(hwnd_, &rc);
    m->itemHeight = static_cast<UINT>(rc.bottom / 5 - 1);
    return TRUE;
  }
  LRESULT OnDrawItem(WPARAM, LPARAM lParam) {
    auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    std::size_t row = d->itemID;
    if (row >= model_->Rows().size()) return TRUE;
    RECT top = d->rcItem, bottom = d->rcItem;
    top.left += 4;
    bottom.left += 4;
    top.bottom = bottom.top = (d->rcItem.top + d->rcItem.bottom) / 2;
    SetBkMode(d->hDC, TRANSPARENT);
    const UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
    DrawText(d->hDC, model_->Rows()[row].name.c_str(), -1, &top, format);
    std::u16string second(model_->SecondLine(row));
    DrawText(d->hDC, second.c_str(), -1, &bottom, format);
    return TRUE;
  }
  LRESULT OnDescribe(WPARAM, LPARAM lParam) {
    auto* out = reinterpret_cast<std::string*>(lParam);
    if (model_->empty()) {
      *out += "empty text=\"" + platform::Utf16ToUtf8(Text(context_, ids::kStrNoContacts)) + "\"\n";
    } else {
      int sel = SelectedRow(list_);
      for (std::size_t i = 0; i < model_->Rows().size(); ++i)
        *out += "contact " + std::to_string(i) + " \"" + platform::Utf16ToUtf8(model_->Rows()[i].name) + "\" \"" +
                platform::Utf16ToUtf8(model_->SecondLine(i)) + "\"" + (static_cast<int>(i) == sel ? " selected" : "") +
                "\n";
    }
    SetWindowLong(hwnd_, DWL_MSGRESULT, 1);
    return TRUE;
  }
  /// The popup is rebuilt each time: no SIM source for e-mail addresses.
  LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM) {
    HMENU popup = reinterpret_cast<HMENU>(wParam);
    while (GetMenuItemCount(popup) > 0) DeleteMenu(popup, 0, MF_BYPOSITION);
    for (UINT id : model_->PopupItems()) {
      if (id == 0) {
        AppendMenu(popup, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      WCHAR text[64] = {};
      if (texts_) GetMenuString(texts_, id, text, 64, MF_BYCOMMAND);
      UINT flags = MF_STRING;
      if (id == ids::kCmdPickerSelect && !model_->CanSelect()) flags |= MF_GRAYED;
      AppendMenu(popup, flags, id, text);
    }
    return TRUE;
  }
  LRESULT OnSelect(WPARAM wParam, LPARAM lParam) { return OnOK(wParam, lParam); }
  LRESULT OnSim(WPARAM, LPARAM) {
    SwitchTo(ContactPickerModel::Source::Sim);
    return 0;
  }
  LRESULT OnContacts(WPARAM, LPARAM) {
    SwitchTo(ContactPickerModel::Source::Contacts);
    return 0;
  }
  LRESULT OnClose(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }

  const SendPageContext& context_;
  std::unique_ptr<SimPhonebook> sim_;
  std::unique_ptr<ContactPickerModel> model_;
  ContactEntry* chosen_;
  HWND list_ = nullptr;
  HWND menuBar_ = nullptr;
  HMENU texts_ = nullptr;  // menu 191, for the popup's item texts
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry ContactPicker::kEntries[] = {
    {kEntryMessage, WM_MEASUREITEM, Bind(&ContactPicker::OnMeasureItem)},
    {kEntryMessage, WM_DRAWITEM, Bind(&ContactPicker::OnDrawItem)},
    {kEntryMessage, WM_PLATFORM_DESCRIBE, Bind(&ContactPicker::OnDescribe)},
    {kEntryMessage, WM_INITMENUPOPUP, Bind(&ContactPicker::OnInitMenuPopup)},
    {kEntryCommand, ids::kCmdPickerSelect, Bind(&ContactPicker::OnSelect)},
    {kEntryCommand, ids::kCmdPickerSim, Bind(&ContactPicker::OnSim)},
    {kEntryCommand, ids::kCmdPickerContacts, Bind(&ContactPicker::OnContacts)},
    {kEntryCommand, ids::kCmdDone, Bind(&ContactPicker::OnClose)},
    {kEntryCommand, ids::kCmdCancel, Bind(&ContactPicker::OnClose)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable ContactPicker::kTable = {&DialogBase::kTable, ContactPicker::kEntries};

// --- Send page ----------------------------------------------------------------------------

struct PageState {
  const SendPageContext* context;
  store::MessageEntry* message;
  presentation::MessageDocument* document;
  bool directSend;
  bool* changed;
  bool ownName = false;
  bool saved = false;
  bool sent = false;
  int resolution = kResolutionOriginal;
  PagePictures pictures;
  std::size_t lastLength[2] = {0, 0};
  std::uint32_t sizeBefore = 0;   // the message size when the page opened
  std::uint32_t mediaBefore = 0;  // its media files then
};

std::uint32_t DocumentSize(const presentation::MessageDocument* doc) {
  if (!doc) return 0;
  std::uint64_t total = 0;
  for (const auto& item : doc->media()) {
    std::int64_t n = platform::FileSize(platform::JoinPath(doc->partsDirectory(), item->fileName));
    if (n > 0) total += static_cast<std::uint64_t>(n);
  }
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
}

void UpdateSizeLines(HWND dlg, PageState* s) {
  const SendPageContext& c = *s->context;
  std::u16string size = FormatMessageSize(s->message->Summary().Size(), Text(c, ids::kStrKilobytes),
                                          Text(c, ids::kStrMegabytes));
  std::u16string sizeLine = Substitute(Text(c, ids::kStrSizeLine), size);
  SetDlgItemText(dlg, ids::kSizeLine, sizeLine.c_str());
  std::uint64_t seconds = s->document ? s->document->TotalDuration() / 1000 : 0;
  std::u16string lengthLine = Substitute(Text(c, ids::kStrLengthLine), Decimal(seconds));
  SetDlgItemText(dlg, ids::kLengthLine, lengthLine.c_str());
}

/// The size changes by what the pictures gained or lost; the rest of the message stays.
void RecomputeSize(PageState* s) {
  std::int64_t size = static_cast<std::int64_t>(s->sizeBefore) - s->mediaBefore + DocumentSize(s->document);
  s->message->Summary().SetSize(static_cast<std::uint32_t>(size < 0 ? 0 : size > 0xFFFFFFFFll ? 0xFFFFFFFFll : size));
}

void ApplyResolution(HWND dlg, PageState* s, int resolution) {
  if (s->directSend || !s->document) return;
  WaitCursor wait;
  // A page opened with the pictures as they are takes their originals only now.
  if (!s->pictures.HasOriginals() && s->pictures.TakeOriginals(*s->document) < 0) return;
  s->pictures.Apply(resolution);
  RecomputeSize(s);
  if (dlg) UpdateSizeLines(dlg, s);
}

int FocusedAddressEdit(HWND dlg) {
  HWND focus = GetFocus();
  if (focus == GetDlgItem(dlg, ids::kPhoneEdit)) return ids::kPhoneEdit;
  if (focus == GetDlgItem(dlg, ids::kEmailEdit)) return ids::kEmailEdit;
  return 0;
}

void FocusEnd(HWND dlg, int id) {
  HWND edit = GetDlgItem(dlg, id);
  SetFocus(edit);
  int n = GetWindowTextLength(edit);
  SendMessage(edit, EM_SETSEL, static_cast<WPARAM>(n), n);
}

/// Reads and checks both edits; on a fault shows its message and returns to the edit.
bool ReadRecipients(HWND dlg, PageState* s, RecipientCheck* out) {
  *out = CheckRecipients(s->context->contacts, ItemText(dlg, ids::kPhoneEdit), ItemText(dlg, ids::kEmailEdit));
  if (out->message == 0) return true;
  ShowMessage(*s->context, dlg, out->message);
  FocusEnd(dlg, out->focus == AddressKind::Phone ? ids::kPhoneEdit : ids::kEmailEdit);
  return false;
}

/// Steps common to sending and saving: recipients, subject, date.
bool StoreFields(HWND dlg, PageState* s) {
  store::MessageSummary& summary = s->message->Summary();
  if (!s->ownName) {
    RecipientCheck r;
    if (!ReadRecipients(dlg, s, &r)) return false;
    summary.SetTo(r.recipients);
  }
  std::u16string subject = ItemText(dlg, ids::kSubjectEdit);
  if (subject.size() > kStoredSubjectLimit) subject.resize(kStoredSubjectLimit);
  summary.SetSubject(subject);
  summary.SetDate(store::LocalNow());
  return true;
}

std::uint32_t SendLimit(const SendPageContext& c) {
  if (c.sendLimit) return c.sendLimit;
  transport::Mm1Profile profile;
  return transport::Mm1LoadProfile(0, &profile, transport::kLoadDefault) ? profile.sendLimit : 0;
}

void InsertContact(HWND dlg, PageState* s, int edit) {
  RecipientCheck r;
  if (!ReadRecipients(dlg, s, &r)) return;
  AddressKind kind = edit == ids::kPhoneEdit ? AddressKind::Phone : AddressKind::Email;
  ContactEntry contact;
  if (!RunContactPicker(*s->context, dlg, kind, &contact)) {
    FocusEnd(dlg, edit);
    return;
  }
  int other = edit == ids::kPhoneEdit ? ids::kEmailEdit : ids::kPhoneEdit;
  std::u16string text;
  UINT message = AppendContactAddress(kind, ItemText(dlg, edit), ItemText(dlg, other), contact, &text);
  if (message != 0) {
    ShowMessage(*s->context, dlg, message);
  } else {
    SetDlgItemText(dlg, edit, text.c_str());
    s->lastLength[edit == ids::kPhoneEdit ? 0 : 1] = text.size();
  }
  FocusEnd(dlg, edit);
}

void OnAddressEditChanged(HWND dlg, PageState* s, int edit, UINT code) {
  AddressKind kind = edit == ids::kPhoneEdit ? AddressKind::Phone : AddressKind::Email;
  std::size_t& last = s->lastLength[kind == AddressKind::Phone ? 0 : 1];
  std::u16string text = ItemText(dlg, edit);
  if (code == EN_KILLFOCUS) {
    std::u16string normal = NormaliseAddressText(s->context->contacts, kind, text);
    if (normal != text) SetDlgItemText(dlg, edit, normal.c_str());
    last = normal.size();
    std::u16string phones = ItemText(dlg, ids::kPhoneEdit), emails = ItemText(dlg, ids::kEmailEdit);
    if (UINT m = LengthMessage(phones, emails)) ShowMessage(*s->context, dlg, m);
    return;
  }
  // EN_CHANGE: test the list when the character just typed before the caret is ";".
  bool grew = text.size() == last + 1;
  last = text.size();
  if (!grew) return;
  DWORD end = 0;
  SendMessage(GetDlgItem(dlg, edit), EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
  if (end == 0 || end > text.size() || text[end - 1] != u';') return;
  UINT m = CheckTypedSeparator(s->context->contacts, kind, std::u16string_view(text).substr(0, end),
                               ItemText(dlg, ids::kPhoneEdit), ItemText(dlg, ids::kEmailEdit));
  if (m) ShowMessage(*s->context, dlg, m);
}

void InitPage(HWND dlg, PageState* s) {
  const SendPageContext& c = *s->context;
  FullScreen(dlg);
  HWND bar = MakeMenuBar(c, dlg, ids::kSendPageMenuBar);
  // Back reaches the page: it deletes in an edit and closes the page otherwise.
  if (bar)
    SendMessage(bar, SHCMBM_OVERRIDEKEY, VK_TBACK,
                MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
  SendDlgItemMessage(dlg, ids::kPhoneEdit, EM_LIMITTEXT, kAddressEditLimit, 0);
  SendDlgItemMessage(dlg, ids::kEmailEdit, EM_LIMITTEXT, kAddressEditLimit, 0);
  SendDlgItemMessage(dlg, ids::kSubjectEdit, EM_LIMITTEXT, kSubjectLimit, 0);
  SendDlgItemMessage(dlg, ids::kPhoneEdit, EM_SETINPUTMODE, 1, 0);
  SendDlgItemMessage(dlg, ids::kEmailEdit, EM_SETINPUTMODE, 0, 0);
  const store::MessageSummary& summary = s->message->Summary();
  std::u16string subject = summary.Subject();
  if (subject.size() > kSubjectLimit) subject.resize(kSubjectLimit);
  SetDlgItemText(dlg, ids::kSubjectEdit, subject.c_str());
  if (s->ownName) {
    for (int id : {ids::kPhoneEdit, ids::kEmailEdit}) {
      SetDlgItemText(dlg, id, c.alphaTagDisplayText.c_str());
      EnableWindow(GetDlgItem(dlg, id), FALSE);
    }
    FocusEnd(dlg, ids::kSubjectEdit);
  } else {
    std::u16string phones, emails;
    RecipientEditTexts(c.contacts, summary.To(), &phones, &emails);
    SetDlgItemText(dlg, ids::kPhoneEdit, phones.c_str());
    SetDlgItemText(dlg, ids::kEmailEdit, emails.c_str());
    s->lastLength[0] = phones.size();
    s->lastLength[1] = emails.size();
    FocusEnd(dlg, ids::kPhoneEdit);
  }
  UpdateSizeLines(dlg, s);
}

class SendPage : public DialogBase {
 public:
  explicit SendPage(PageState* state) : s_(state) {}

  bool OnInitDialog() override {
    InitPage(hwnd_, s_);
    if (s_->context->resources)
      labels_.Apply(*s_->context->resources, hwnd_,
                    {ids::kPhoneLabel, ids::kEmailLabel, ids::kSubjectLabel, ids::kMessageLabel});
    return true;
  }
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
    UINT id = LOWORD(wParam);
    UINT code = HIWORD(wParam);
    if ((id == static_cast<UINT>(ids::kPhoneEdit) || id == static_cast<UINT>(ids::kEmailEdit)) &&
        (code == EN_KILLFOCUS || code == EN_CHANGE)) {
      if (!s_->ownName) OnAddressEditChanged(hwnd_, s_, static_cast<int>(id), code);
      return 0;
    }
    return DialogBase::OnCommand(wParam, lParam);
  }
  /// The action key in an address edit inserts a contact.
  LRESULT OnOK(WPARAM, LPARAM) override {
    if (int edit = FocusedAddressEdit(hwnd_); edit != 0 && !s_->ownName) InsertContact(hwnd_, s_, edit);
    return 0;
  }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(0);
    return 0;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  /// Back reaches the page: it deletes in an edit and closes the page otherwise.
  LRESULT OnHotKey(WPARAM, LPARAM lParam) {
    if (HIWORD(static_cast<std::uintptr_t>(lParam)) != VK_TBACK) return 0;
    if (LOWORD(static_cast<std::uintptr_t>(lParam)) & MOD_KEYUP) return 0;
    HWND focus = GetFocus();
    if (focus && IsWindowEnabled(focus) && GetParent(focus) == hwnd_ && GetWindowTextLength(focus) > 0 &&
        GetDlgCtrlID(focus) != ids::kSizeLine) {
      ::SendMessage(focus, WM_KEYDOWN, VK_BACK, 1);
      ::SendMessage(focus, WM_CHAR, VK_BACK, 1);
      return 0;
    }
    End(0);
    return 0;
  }
  LRESULT OnResolutionChanged(WPARAM, LPARAM lParam) {
    if (static_cast<int>(lParam) != s_->resolution) {
      s_->resolution = static_cast<int>(lParam);
      ApplyResolution(hwnd_, s_, s_->resolution);
    }
    return 0;
  }
  LRESULT OnSend(WPARAM, LPARAM) {
    std::uint32_t limit = SendLimit(*s_->context);
    if (limit != 0 && s_->message->Summary().Size() > limit) {
      ShowMessage(*s_->context, hwnd_, ids::kStrTooBig);
      return 0;
    }
    if (!StoreFields(hwnd_, s_)) return 0;
    s_->message->SaveOptions();
    s_->sent = true;
    End(1);
    return 0;
  }
  LRESULT OnSave(WPARAM, LPARAM) {
    if (!StoreFields(hwnd_, s_)) return 0;
    if (s_->document) s_->message->SaveDocument();
    s_->message->SaveOptions();
    if (s_->message->Folder()) s_->message->Folder()->Save();
    if (s_->pictures.HasOriginals()) s_->pictures.KeepCurrentAsOriginals();
    s_->saved = true;
    if (s_->changed) *s_->changed = true;
    return 0;
  }
  LRESULT OnOptions(WPARAM, LPARAM) {
    store::SendOptionsRecord* options = s_->message->Options();
    if (!options) {
      s_->message->SetOptions(store::SendOptionsRecord{});
      options = s_->message->Options();
    }
    int resolution = s_->resolution;
    if (options) RunSendingOptions(*s_->context, hwnd_, options, &resolution, s_->directSend);
    return 0;
  }
  LRESULT OnInsertContact(WPARAM wParam, LPARAM lParam) { return OnOK(wParam, lParam); }
  LRESULT OnClose(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }

  PageState* s_;
  LabelFont labels_;
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry SendPage::kEntries[] = {
    {kEntryMessage, WM_HOTKEY, Bind(&SendPage::OnHotKey)},
    {kEntryMessage, ids::kMsgResolutionChanged, Bind(&SendPage::OnResolutionChanged)},
    {kEntryCommand, ids::kCmdSend, Bind(&SendPage::OnSend)},
    {kEntryCommand, ids::kCmdSave, Bind(&SendPage::OnSave)},
    {kEntryCommand, ids::kCmdOptions, Bind(&SendPage::OnOptions)},
    {kEntryCommand, ids::kCmdInsertContact, Bind(&SendPage::OnInsertContact)},
    {kEntryCommand, ids::kCmdClose, Bind(&SendPage::OnClose)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable SendPage::kTable = {&DialogBase::kTable, SendPage::kEntries};

}  // namespace

int RunSendingOptions(const SendPageContext& context, HWND owner, store::SendOptionsRecord* options,
                      int* resolution, bool fixedResolution) {
  if (!options || !resolution || !context.resources) return 0;
  OptionsDialog dialog(context, options, resolution, fixedResolution, owner);
  return dialog.DoModal(context.resources->module(), ids::kOptionsDialog, owner) == 1 ? 1 : 0;
}

bool RunContactPicker(const SendPageContext& context, HWND owner, AddressKind kind, ContactEntry* chosen) {
  if (!chosen || !context.resources) return false;
  auto sim = std::make_unique<SimPhonebook>();
  // No SIM leaves its source empty.
  if (!(context.simPath.empty() ? sim->Open() : sim->Open(context.simPath))) sim.reset();
  ContactPicker dialog(context, std::move(sim), kind, chosen);
  return dialog.DoModal(context.resources->module(), ids::kContactPickerDialog, owner) == 1;
}

int RunSendPage(const SendPageContext& context, store::MessageEntry* message, HWND owner, bool* changed,
                bool directSend) {
  if (!message || !context.resources) return 0;
  PageState state;
  state.context = &context;
  state.message = message;
  state.document = message->OpenDocument();
  state.directSend = directSend;
  state.changed = changed;
  state.ownName = (message->Summary().ExtraFlags() & store::kExtraAlphaTag) != 0;
  state.resolution = context.defaultResolution >= 0 && context.defaultResolution < kResolutionCount
                         ? context.defaultResolution
                         : kResolutionOriginal;
  state.sizeBefore = message->Summary().Size();
  state.mediaBefore = DocumentSize(state.document);
  if (!directSend && state.pictures.MakeWorkingFolder(message->StoreDirectory()) && state.document &&
      state.resolution != kResolutionOriginal) {
    if (state.pictures.TakeOriginals(*state.document) > 0) {
      state.pictures.Apply(state.resolution);
      RecomputeSize(&state);
    }
  }
  SendPage page(&state);
  INT_PTR r = page.DoModal(context.resources->module(), ids::kSendPageDialog, owner);
  if (state.sent || state.saved) {
    if (state.document) message->SaveDocument();
  } else if (state.pictures.HasOriginals()) {
    state.pictures.Restore();
    message->Summary().SetSize(state.sizeBefore);
  }
  state.pictures.RemoveWorkingFolder();
  return r == 1 && state.sent ? 1 : 0;
}

}  // namespace ui
