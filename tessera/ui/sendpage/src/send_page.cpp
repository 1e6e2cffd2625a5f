#include "sendpage/send_page.h"

#include <memory>
#include <string>

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

template <typename T>
T* StateOf(HWND dlg) {
  return reinterpret_cast<T*>(GetWindowLong(dlg, DWL_USER));
}

// --- Sending options ----------------------------------------------------------------------

struct OptionsState {
  const SendPageContext* context;
  store::SendOptionsRecord* options;
  int* resolution;
  bool fixed;
  HWND page;
};

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

BOOL OptionsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLong(dlg, DWL_USER, lParam);
      auto* s = reinterpret_cast<OptionsState*>(lParam);
      const SendPageContext& c = *s->context;
      FullScreen(dlg);
      MakeMenuBar(c, dlg, ids::kOptionsMenuBar);
      SendOptionChoice choice = ChoiceFromOptions(*s->options, s->fixed ? kResolutionOriginal : *s->resolution);
      FillList(c, dlg, ids::kResolutionList, kResolutionStrings.data(), kResolutionStrings.size(), choice.resolution);
      FillList(c, dlg, ids::kValidityList, kValidityStrings.data(), kValidityStrings.size(), choice.validity);
      FillList(c, dlg, ids::kDeliveryList, kDeliveryStrings.data(), kDeliveryStrings.size(), choice.delivery);
      FillList(c, dlg, ids::kPriorityList, kPriorityStrings.data(), kPriorityStrings.size(), choice.priority);
      if (s->fixed) EnableWindow(GetDlgItem(dlg, ids::kResolutionList), FALSE);
      SetFocus(GetDlgItem(dlg, s->fixed ? ids::kValidityList : ids::kResolutionList));
      return FALSE;
    }
    case WM_COMMAND: {
      auto* s = StateOf<OptionsState>(dlg);
      if (!s) return FALSE;
      UINT id = LOWORD(wParam);
      if (id == ids::kCmdDone || id == IDOK) {
        SendOptionChoice choice;
        choice.validity = Selected(dlg, ids::kValidityList);
        choice.delivery = Selected(dlg, ids::kDeliveryList);
        choice.priority = Selected(dlg, ids::kPriorityList);
        StoreChoice(choice, s->options);
        int resolution = Selected(dlg, ids::kResolutionList);
        if (!s->fixed && resolution >= 0 && resolution < kResolutionCount && resolution != *s->resolution) {
          *s->resolution = resolution;
          if (s->page) PostMessage(s->page, ids::kMsgResolutionChanged, 0, resolution);
        }
        EndDialog(dlg, 1);
        return TRUE;
      }
      if (id == ids::kCmdCancel || id == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

// --- Contact picker -----------------------------------------------------------------------

struct PickerState {
  const SendPageContext* context;
  std::unique_ptr<SimPhonebook> sim;
  std::unique_ptr<ContactPickerModel> model;
  ContactEntry* chosen;
  HWND list = nullptr;
  HWND menuBar = nullptr;
  HMENU texts = nullptr;  // menu 191, for the popup's item texts
};

int SelectedRow(HWND list) {
  return static_cast<int>(SendMessage(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void SelectRow(HWND list, int row) {
  LVITEM st{};
  st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  st.state = st.stateMask;
  SendMessage(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
  SendMessage(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

void FillPicker(HWND dlg, PickerState* s) {
  SendMessage(s->list, LVM_DELETEALLITEMS, 0, 0);
  const auto& rows = s->model->Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::u16string name = rows[i].name;
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = name.data();
    item.lParam = static_cast<LPARAM>(i);
    SendMessage(s->list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
  }
  if (s->menuBar) SendMessage(s->menuBar, TB_ENABLEBUTTON, ids::kCmdPickerSelect, s->model->CanSelect());
  // An empty list is drawn by the page: the list itself steps aside.
  ShowWindow(s->list, s->model->empty() ? SW_HIDE : SW_SHOW);
  InvalidateRect(dlg, nullptr, TRUE);
}

void RebuildPickerPopup(PickerState* s, HMENU popup) {
  while (GetMenuItemCount(popup) > 0) DeleteMenu(popup, 0, MF_BYPOSITION);
  for (UINT id : s->model->PopupItems()) {
    if (id == 0) {
      AppendMenu(popup, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    WCHAR text[64] = {};
    if (s->texts) GetMenuString(s->texts, id, text, 64, MF_BYCOMMAND);
    UINT flags = MF_STRING;
    if (id == ids::kCmdPickerSelect && !s->model->CanSelect()) flags |= MF_GRAYED;
    AppendMenu(popup, flags, id, text);
  }
}

void DrawPickerRow(PickerState* s, const DRAWITEMSTRUCT* d) {
  std::size_t row = d->itemID;
  if (row >= s->model->Rows().size()) return;
  RECT top = d->rcItem, bottom = d->rcItem;
  top.left += 4;
  bottom.left += 4;
  top.bottom = bottom.top = (d->rcItem.top + d->rcItem.bottom) / 2;
  SetBkMode(d->hDC, TRANSPARENT);
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
  DrawText(d->hDC, s->model->Rows()[row].name.c_str(), -1, &top, format);
  std::u16string second(s->model->SecondLine(row));
  DrawText(d->hDC, second.c_str(), -1, &bottom, format);
}

bool FinishPicker(HWND dlg, PickerState* s) {
  if (s->model->empty()) {
    EndDialog(dlg, 2);
    return true;
  }
  if (s->model->Choose(SelectedRow(s->list), s->chosen)) {
    EndDialog(dlg, 1);
    return true;
  }
  return false;
}

void SwitchPicker(HWND dlg, PickerState* s, ContactPickerModel::Source source) {
  WaitCursor wait;
  s->model->SwitchTo(source);
  FillPicker(dlg, s);
  if (!s->model->empty()) SelectRow(s->list, 0);
  SetFocus(s->model->empty() ? dlg : s->list);
}

BOOL PickerProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = StateOf<PickerState>(dlg);
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLong(dlg, DWL_USER, lParam);
      s = reinterpret_cast<PickerState*>(lParam);
      const SendPageContext& c = *s->context;
      FullScreen(dlg);
      RECT rc;
      GetClientRect(dlg, &rc);
      s->list = CreateWindowEx(0, WC_LISTVIEW, u"",
                               WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                   LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER,
                               0, 0, rc.right, rc.bottom, dlg,
                               reinterpret_cast<HMENU>(static_cast<std::intptr_t>(ids::kListControl)), nullptr,
                               nullptr);
      SendMessage(s->list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
      WCHAR empty[] = u"";
      LVCOLUMN col{LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, rc.right, empty, 0, 0};
      SendMessage(s->list, LVM_INSERTCOLUMN, 0, reinterpret_cast<LPARAM>(&col));
      col = LVCOLUMN{LVCF_WIDTH | LVCF_FMT, LVCFMT_LEFT, 0, empty, 0, 1};
      SendMessage(s->list, LVM_INSERTCOLUMN, 1, reinterpret_cast<LPARAM>(&col));
      s->model->Fill();
      s->menuBar = MakeMenuBar(c, dlg, ids::kContactPickerMenuBar);
      if (c.resources) s->texts = LoadMenu(c.resources->module(), MAKEINTRESOURCE(ids::kContactPickerMenuBar));
      std::u16string title = Text(c, ids::kStrPickerTitle);
      SetWindowText(dlg, title.c_str());
      FillPicker(dlg, s);
      if (!s->model->empty()) SelectRow(s->list, s->model->InitialRow());
      SetFocus(s->model->empty() ? dlg : s->list);
      return FALSE;
    }
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      RECT rc;
      GetClientRect(dlg, &rc);
      m->itemHeight = static_cast<UINT>(rc.bottom / 5 - 1);
      return TRUE;
    }
    case WM_DRAWITEM:
      if (s) DrawPickerRow(s, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_PAINT: {
      if (!s || !s->model->empty()) return FALSE;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(dlg, &ps);
      RECT rc;
      GetClientRect(dlg, &rc);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      std::u16string text = Text(*s->context, ids::kStrNoContacts);
      DrawText(dc, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      EndPaint(dlg, &ps);
      return TRUE;
    }
    case WM_PLATFORM_DESCRIBE: {
      if (!s) return FALSE;
      auto* out = reinterpret_cast<std::string*>(lParam);
      if (s->model->empty()) {
        *out += "empty text=\"" + platform::Utf16ToUtf8(Text(*s->context, ids::kStrNoContacts)) + "\"\n";
      } else {
        int sel = SelectedRow(s->list);
        for (std::size_t i = 0; i < s->model->Rows().size(); ++i)
          *out += "contact " + std::to_string(i) + " \"" + platform::Utf16ToUtf8(s->model->Rows()[i].name) +
                  "\" \"" + platform::Utf16ToUtf8(s->model->SecondLine(i)) + "\"" +
                  (static_cast<int>(i) == sel ? " selected" : "") + "\n";
      }
      SetWindowLong(dlg, DWL_MSGRESULT, 1);
      return TRUE;
    }
    case WM_INITMENUPOPUP:
      if (s) RebuildPickerPopup(s, reinterpret_cast<HMENU>(wParam));
      return TRUE;
    case WM_COMMAND: {
      if (!s) return FALSE;
      switch (LOWORD(wParam)) {
        case ids::kCmdPickerSelect:
        case IDOK:
          FinishPicker(dlg, s);
          return TRUE;
        case ids::kCmdPickerSim:
          SwitchPicker(dlg, s, ContactPickerModel::Source::Sim);
          return TRUE;
        case ids::kCmdPickerContacts:
          SwitchPicker(dlg, s, ContactPickerModel::Source::Contacts);
          return TRUE;
        case ids::kCmdDone:
        case ids::kCmdCancel:
        case IDCANCEL:
          EndDialog(dlg, 2);
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_DESTROY:
      if (s && s->texts) {
        DestroyMenu(s->texts);
        s->texts = nullptr;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

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

BOOL PageProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = StateOf<PageState>(dlg);
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLong(dlg, DWL_USER, lParam);
      InitPage(dlg, reinterpret_cast<PageState*>(lParam));
      return FALSE;
    case WM_HOTKEY: {
      if (!s || HIWORD(static_cast<std::uintptr_t>(lParam)) != VK_TBACK) return FALSE;
      if (LOWORD(static_cast<std::uintptr_t>(lParam)) & MOD_KEYUP) return TRUE;
      HWND focus = GetFocus();
      if (focus && IsWindowEnabled(focus) && GetParent(focus) == dlg && GetWindowTextLength(focus) > 0 &&
          GetDlgCtrlID(focus) != ids::kSizeLine) {
        SendMessage(focus, WM_KEYDOWN, VK_BACK, 1);
        SendMessage(focus, WM_CHAR, VK_BACK, 1);
        return TRUE;
      }
      EndDialog(dlg, 0);
      return TRUE;
    }
    case ids::kMsgResolutionChanged:
      if (s && static_cast<int>(lParam) != s->resolution) {
        s->resolution = static_cast<int>(lParam);
        ApplyResolution(dlg, s, s->resolution);
      }
      return TRUE;
    case WM_COMMAND: {
      if (!s) return FALSE;
      UINT id = LOWORD(wParam);
      UINT code = HIWORD(wParam);
      if ((id == static_cast<UINT>(ids::kPhoneEdit) || id == static_cast<UINT>(ids::kEmailEdit)) &&
          (code == EN_KILLFOCUS || code == EN_CHANGE)) {
        if (!s->ownName) OnAddressEditChanged(dlg, s, static_cast<int>(id), code);
        return TRUE;
      }
      switch (id) {
        case ids::kCmdSend: {
          std::uint32_t limit = SendLimit(*s->context);
          if (limit != 0 && s->message->Summary().Size() > limit) {
            ShowMessage(*s->context, dlg, ids::kStrTooBig);
            return TRUE;
          }
          if (!StoreFields(dlg, s)) return TRUE;
          s->message->SaveOptions();
          s->sent = true;
          EndDialog(dlg, 1);
          return TRUE;
        }
        case ids::kCmdSave:
          if (!StoreFields(dlg, s)) return TRUE;
          if (s->document) s->message->SaveDocument();
          s->message->SaveOptions();
          if (s->message->Folder()) s->message->Folder()->Save();
          if (s->pictures.HasOriginals()) s->pictures.KeepCurrentAsOriginals();
          s->saved = true;
          if (s->changed) *s->changed = true;
          return TRUE;
        case ids::kCmdOptions: {
          store::SendOptionsRecord* options = s->message->Options();
          if (!options) {
            s->message->SetOptions(store::SendOptionsRecord{});
            options = s->message->Options();
          }
          int resolution = s->resolution;
          if (options) RunSendingOptions(*s->context, dlg, options, &resolution, s->directSend);
          return TRUE;
        }
        case ids::kCmdInsertContact:
        case IDOK:
          if (int edit = FocusedAddressEdit(dlg); edit != 0 && !s->ownName) InsertContact(dlg, s, edit);
          return TRUE;
        case ids::kCmdClose:
        case IDCANCEL:
          EndDialog(dlg, 0);
          return TRUE;
        default:
          return FALSE;
      }
    }
    default:
      return FALSE;
  }
}

}  // namespace

int RunSendingOptions(const SendPageContext& context, HWND owner, store::SendOptionsRecord* options,
                      int* resolution, bool fixedResolution) {
  if (!options || !resolution || !context.resources) return 0;
  OptionsState state{&context, options, resolution, fixedResolution, owner};
  INT_PTR r = DialogBoxParam(context.resources->module(), MAKEINTRESOURCE(ids::kOptionsDialog), owner, OptionsProc,
                             reinterpret_cast<LPARAM>(&state));
  return r == 1 ? 1 : 0;
}

bool RunContactPicker(const SendPageContext& context, HWND owner, AddressKind kind, ContactEntry* chosen) {
  if (!chosen || !context.resources) return false;
  PickerState state;
  state.context = &context;
  state.sim = std::make_unique<SimPhonebook>();
  // No SIM leaves its source empty.
  if (!(context.simPath.empty() ? state.sim->Open() : state.sim->Open(context.simPath))) state.sim.reset();
  state.model = std::make_unique<ContactPickerModel>(context.contacts, state.sim.get(), kind);
  state.chosen = chosen;
  INT_PTR r = DialogBoxParam(context.resources->module(), MAKEINTRESOURCE(ids::kContactPickerDialog), owner,
                             PickerProc, reinterpret_cast<LPARAM>(&state));
  return r == 1;
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
  INT_PTR r = DialogBoxParam(context.resources->module(), MAKEINTRESOURCE(ids::kSendPageDialog), owner, PageProc,
                             reinterpret_cast<LPARAM>(&state));
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
