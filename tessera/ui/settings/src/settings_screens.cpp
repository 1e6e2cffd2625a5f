#include "settings/settings_screens.h"

#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "platform/connmgr.h"
#include "platform/dialogs.h"
#include "platform/gdi.h"
#include "platform/listview.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "sendpage/ids.h"
#include "settings/settings_rules.h"
#include "ui/common/dialog_base.h"
#include "ui/common/label_font.h"

namespace ui {

namespace {

constexpr UINT kStrCaption = 40063;
constexpr UINT kStrConfirmDelete = 40192;

void FullScreenWithBar(const ResourceLibrary& r, HWND dlg, UINT bar) {
  SHINITDLGINFO info{SHIDIM_FLAGS, dlg, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&info);
  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = dlg;
  mb.nToolBarId = bar;
  mb.hInstRes = r.module();
  SHCreateMenuBar(&mb);
}

void FillList(HWND dlg, int id, const std::vector<std::u16string>& entries, int selected) {
  for (const std::u16string& e : entries) SendDlgItemMessage(dlg, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
  SendDlgItemMessage(dlg, id, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int Selected(HWND dlg, int id) {
  return static_cast<int>(SendDlgItemMessage(dlg, id, LB_GETCURSEL, 0, 0));
}

std::u16string ItemText(HWND dlg, int id) {
  HWND item = GetDlgItem(dlg, id);
  int n = GetWindowTextLength(item);
  std::u16string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, u'\0');
  int got = GetWindowText(item, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

/// The descriptions of the connection manager's destinations, from index 0 until the
/// enumeration fails.
std::vector<std::u16string> Destinations() {
  std::vector<std::u16string> out;
  for (int i = 0;; ++i) {
    CONNMGR_DESTINATION_INFO info{};
    if (ConnMgrEnumDestinations(i, &info) != S_OK) break;
    out.emplace_back(info.szDescription);
  }
  return out;
}

class SettingsPage : public DialogBase {
 public:
  SettingsPage(const ResourceLibrary& resources, GeneralSettings values, GeneralSettingsPage page)
      : resources_(resources), values_(std::move(values)), page_(std::move(page)) {}

  bool OnInitDialog() override {
    HWND dlg = hwnd_;
    FullScreenWithBar(resources_, dlg, ids::kSettingsMenuBar);
    std::vector<std::u16string> sorts;
    // Sort keys 1-4: sender, size, date, subject.
    for (UINT id : {40158u, 40172u, 40170u, 40160u}) sorts.push_back(resources_.LoadText(id));
    FillList(dlg, ids::kSortList, sorts, page_.sortEntry);
    FillList(dlg, ids::kSizeList, page_.sizeEntries, page_.sizeEntry);
    FillList(dlg, ids::kAttemptsList, page_.attemptEntries, page_.attemptEntry);
    FillList(dlg, ids::kNetworkList, page_.networkEntries, page_.networkEntry);
    CheckDlgButton(dlg, ids::kSaveSentBox, page_.saveSentBox ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dlg, ids::kReceiveNowBox, page_.receiveNowBox ? BST_CHECKED : BST_UNCHECKED);
    labels_.Apply(resources_, dlg, {ids::kSortLabel, ids::kSizeLabel, ids::kAttemptsLabel, ids::kNetworkLabel});
    SetFocus(GetDlgItem(dlg, ids::kSortList));
    return true;
  }
  // The action key on a control does nothing here: the page is saved from its bar.
  LRESULT OnOK(WPARAM, LPARAM) override { return 0; }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(0);
    return 0;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  LRESULT OnSave(WPARAM, LPARAM) {
    HWND dlg = hwnd_;
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
    page_.saveSentBox = IsDlgButtonChecked(dlg, ids::kSaveSentBox) == BST_CHECKED;
    page_.receiveNowBox = IsDlgButtonChecked(dlg, ids::kReceiveNowBox) == BST_CHECKED;
    page_.sortEntry = Selected(dlg, ids::kSortList);
    page_.sizeEntry = Selected(dlg, ids::kSizeList);
    page_.attemptEntry = Selected(dlg, ids::kAttemptsList);
    page_.networkEntry = Selected(dlg, ids::kNetworkList);
    GeneralSettings v = SaveGeneralSettings(page_, values_);
    config::Config c;
    c.SetSaveSentMessage(v.saveSentMessage);
    c.SetReceiveImmediately(v.sendDelayedNotifyResp == 0);
    c.SetSort(v.sort);
    c.SetSendDefault(v.sendDefault);
    c.SetTryDefault(v.tryDefault);
    c.SetConnectionVia(v.connectionVia);
    SetCursor(nullptr);
    End(1);
    return 0;
  }
  LRESULT OnProfiles(WPARAM, LPARAM) {
    RunProfiles(resources_, hwnd_);
    return 0;
  }
  LRESULT OnClose(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }

  const ResourceLibrary& resources_;
  GeneralSettings values_;
  GeneralSettingsPage page_;
  LabelFont labels_;
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry SettingsPage::kEntries[] = {
    {kEntryCommand, ids::kCmdSettingsSave, Bind(&SettingsPage::OnSave)},
    {kEntryCommand, ids::kCmdProfiles, Bind(&SettingsPage::OnProfiles)},
    {kEntryCommand, ids::kCmdSettingsClose, Bind(&SettingsPage::OnClose)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable SettingsPage::kTable = {&DialogBase::kTable, SettingsPage::kEntries};

class ProfileList : public DialogBase {
 public:
  explicit ProfileList(const ResourceLibrary& resources) : resources_(resources) {}
  ~ProfileList() override {
    if (bold_) DeleteObject(bold_);
  }

  bool OnInitDialog() override {
    HWND dlg = hwnd_;
    FullScreenWithBar(resources_, dlg, ids::kProfileListMenuBar);
    std::u16string title = resources_.LoadText(106);
    SetWindowText(dlg, title.c_str());
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
    LOGFONT lf{};
    lf.lfHeight = -12;
    lf.lfWeight = FW_BOLD;
    bold_ = CreateFontIndirect(&lf);
    mark_ = LoadIcon(resources_.module(), MAKEINTRESOURCE(ids::kActiveProfileIcon));
    Fill(transport::Mm1DefaultProfileIndex());
    SetFocus(list_);
    return true;
  }
  LRESULT OnOK(WPARAM wParam, LPARAM lParam) override { return OnEdit(wParam, lParam); }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(1);
    return 0;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  /// The profile of the selected row (rows show profiles 1..n), 0 when none.
  int SelectedProfile() const {
    int row = static_cast<int>(::SendMessage(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return row < 0 ? 0 : row + 1;
  }
  bool SelectionAllowed() const {
    return ProfileCanBeSelectedOrDeleted(static_cast<int>(names_.size()), SelectedProfile(), active_);
  }

  void Fill(int select) {
    ::SendMessage(list_, LVM_DELETEALLITEMS, 0, 0);
    names_.clear();
    active_ = transport::Mm1DefaultProfileIndex();
    int count = transport::Mm1ProfileCount();
    for (int i = 1; i <= count; ++i) {
      transport::Mm1Profile p;
      std::u16string name = transport::Mm1ReadProfileEntry(i, &p) ? platform::AnsiToWide(p.name.view()) : u"";
      names_.push_back(name);
    }
    for (int i = 1; i <= count; ++i) {
      LVITEM item{};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = i - 1;
      item.pszText = names_[static_cast<std::size_t>(i - 1)].data();
      item.lParam = i;
      ::SendMessage(list_, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    }
    if (count > 0) {
      int row = select < 1 ? 0 : (select > count ? count - 1 : select - 1);
      LVITEM st{};
      st.stateMask = st.state = LVIS_SELECTED | LVIS_FOCUSED;
      ::SendMessage(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
    }
  }

  LRESULT OnDrawItem(WPARAM, LPARAM lParam) {
    auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (d->itemID >= names_.size()) return TRUE;
    bool active = static_cast<int>(d->itemID) + 1 == active_;
    RECT r = d->rcItem;
    r.left += 4;
    SetBkMode(d->hDC, TRANSPARENT);
    HGDIOBJ old = active && bold_ ? SelectObject(d->hDC, bold_) : nullptr;
    if (active && mark_) {
      DrawIcon(d->hDC, d->rcItem.right - 18, d->rcItem.top + 1, mark_);
      r.right -= 20;
    }
    DrawText(d->hDC, names_[d->itemID].c_str(), -1, &r,
             DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (active ? 0 : DT_END_ELLIPSIS));
    if (old) SelectObject(d->hDC, old);
    return TRUE;
  }
  LRESULT OnDescribe(WPARAM, LPARAM lParam) {
    auto* out = reinterpret_cast<std::string*>(lParam);
    int selected = SelectedProfile();
    for (std::size_t i = 0; i < names_.size(); ++i)
      *out += "profile " + std::to_string(i + 1) + " \"" + platform::Utf16ToUtf8(names_[i]) + "\"" +
              (static_cast<int>(i) + 1 == active_ ? " active" : "") +
              (static_cast<int>(i) + 1 == selected ? " selected" : "") + "\n";
    SetWindowLong(hwnd_, DWL_MSGRESULT, 1);
    return TRUE;
  }
  LRESULT OnInitMenuPopup(WPARAM wParam, LPARAM) {
    HMENU popup = reinterpret_cast<HMENU>(wParam);
    bool allowed = SelectionAllowed();
    for (UINT id : {ids::kCmdProfileSelect, ids::kCmdProfileDelete})
      EnableMenuItem(popup, id, MF_BYCOMMAND | (allowed ? MF_ENABLED : MFS_GRAYED));
    EnableMenuItem(popup, ids::kCmdProfileEdit, MF_BYCOMMAND | (names_.empty() ? MFS_GRAYED : MF_ENABLED));
    return TRUE;
  }
  LRESULT OnActivate(WPARAM wParam, LPARAM) {
    // Back from the editor or a message box: the keys go to the list again.
    if (LOWORD(wParam) != WA_INACTIVE && list_ && IsWindow(list_)) SetFocus(list_);
    return 0;
  }

  LRESULT OnNew(WPARAM, LPARAM) {
    transport::Mm1Profile active;
    transport::Mm1LoadProfile(active_, &active, transport::kLoadByIndex);
    transport::Mm1Profile fresh = NewProfileFrom(active);
    if (EditProfile(resources_, hwnd_, &fresh, true, 0) == 1) {
      int index = transport::Mm1AddProfile(fresh, false);
      Fill(index > 0 ? index : SelectedProfile());
    }
    return 0;
  }
  LRESULT OnEdit(WPARAM, LPARAM) {
    // The profile's own values, transport and proxy included: saving writes them all back.
    int selected = SelectedProfile();
    transport::Mm1Profile p;
    if (selected < 1 || !transport::Mm1ReadProfileEntry(selected, &p)) return 0;
    if (EditProfile(resources_, hwnd_, &p, false, selected) == 1) {
      transport::Mm1UpdateProfile(selected, p, selected == active_);
      Fill(selected);
    }
    return 0;
  }
  LRESULT OnSelect(WPARAM, LPARAM) {
    int selected = SelectedProfile();
    transport::Mm1Profile p;
    if (SelectionAllowed() && transport::Mm1ReadProfileEntry(selected, &p)) {
      transport::Mm1UpdateProfile(selected, p, true);
      Fill(selected);
      InvalidateRect(list_, nullptr, TRUE);
    }
    return 0;
  }
  LRESULT OnDelete(WPARAM, LPARAM) {
    if (!SelectionAllowed()) return 0;
    int selected = SelectedProfile();
    std::u16string text = resources_.LoadText(kStrConfirmDelete), caption = resources_.LoadText(kStrCaption);
    if (MessageBox(hwnd_, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES) {
      transport::Mm1DeleteProfile(selected);
      Fill(selected);
    }
    return 0;
  }

  const ResourceLibrary& resources_;
  HWND list_ = nullptr;
  HFONT bold_ = nullptr;
  HICON mark_ = nullptr;
  int active_ = 0;
  std::vector<std::u16string> names_;  // row i shows profile i + 1
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry ProfileList::kEntries[] = {
    {kEntryMessage, WM_DRAWITEM, Bind(&ProfileList::OnDrawItem)},
    {kEntryMessage, WM_PLATFORM_DESCRIBE, Bind(&ProfileList::OnDescribe)},
    {kEntryMessage, WM_INITMENUPOPUP, Bind(&ProfileList::OnInitMenuPopup)},
    {kEntryMessage, WM_ACTIVATE, Bind(&ProfileList::OnActivate)},
    {kEntryCommand, ids::kCmdProfileNew, Bind(&ProfileList::OnNew)},
    {kEntryCommand, ids::kCmdProfileEdit, Bind(&ProfileList::OnEdit)},
    {kEntryCommand, ids::kCmdProfileSelect, Bind(&ProfileList::OnSelect)},
    {kEntryCommand, ids::kCmdProfileDelete, Bind(&ProfileList::OnDelete)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable ProfileList::kTable = {&DialogBase::kTable, ProfileList::kEntries};

class ProfileEditor : public DialogBase {
 public:
  ProfileEditor(const ResourceLibrary& resources, transport::Mm1Profile* profile, int index)
      : resources_(resources), profile_(profile), index_(index) {}

  bool OnInitDialog() override {
    HWND dlg = hwnd_;
    FullScreenWithBar(resources_, dlg, ids::kProfileEditorMenuBar);
    SendDlgItemMessage(dlg, ids::kProfileNameEdit, EM_LIMITTEXT, kProfileNameLimit, 0);
    SendDlgItemMessage(dlg, ids::kProfileUrlEdit, EM_LIMITTEXT, kProfileUrlLimit, 0);
    SendDlgItemMessage(dlg, ids::kProfileGatewayEdit, EM_LIMITTEXT, kProfileGatewayLimit, 0);
    std::u16string name = platform::AnsiToWide(profile_->name.view());
    std::u16string url = platform::AnsiToWide(profile_->mmscUri.view());
    if (url.empty()) url = resources_.LoadText(ids::kStrUrlPrefix);
    std::u16string gateway = platform::AnsiToWide(profile_->gateway.view());
    SetDlgItemText(dlg, ids::kProfileNameEdit, name.c_str());
    SetDlgItemText(dlg, ids::kProfileUrlEdit, url.c_str());
    SetDlgItemText(dlg, ids::kProfileGatewayEdit, gateway.c_str());
    SendDlgItemMessage(dlg, ids::kProfileProxyEdit, EM_LIMITTEXT, kProfileProxyLimit, 0);
    std::u16string proxy = platform::AnsiToWide(profile_->proxy.view());
    SetDlgItemText(dlg, ids::kProfileProxyEdit, proxy.c_str());
    FillList(dlg, ids::kProfileTransportList,
             {resources_.LoadText(ids::kStrTransportWsp), resources_.LoadText(ids::kStrTransportHttp)},
             profile_->transport == transport::Mm1Transport::Http ? 1 : 0);
    labels_.Apply(resources_, dlg,
                  {ids::kProfileNameLabel, ids::kProfileUrlLabel, ids::kProfileGatewayLabel,
                   ids::kProfileTransportLabel, ids::kProfileProxyLabel});
    HWND nameEdit = GetDlgItem(dlg, ids::kProfileNameEdit);
    ::SendMessage(nameEdit, EM_SETSEL, 0, -1);
    SetFocus(nameEdit);
    lastFocus_ = nameEdit;
    return true;
  }
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (HIWORD(wParam) == EN_SETFOCUS) {
      lastFocus_ = GetDlgItem(hwnd_, static_cast<int>(LOWORD(wParam)));
      return 0;
    }
    return DialogBase::OnCommand(wParam, lParam);
  }
  // The action key on a field does nothing here: the profile is saved from the bar.
  LRESULT OnOK(WPARAM, LPARAM) override { return 0; }
  LRESULT OnCancel(WPARAM, LPARAM) override {
    End(0);
    return 0;
  }
  const MessageTable* GetMessageTable() const override { return &kTable; }

 private:
  LRESULT OnActivate(WPARAM wParam, LPARAM) {
    // Back from a message box: the focus returns where it was.
    if (LOWORD(wParam) != WA_INACTIVE && lastFocus_) SetFocus(lastFocus_);
    return 0;
  }
  LRESULT OnSave(WPARAM, LPARAM) {
    HWND dlg = hwnd_;
    std::u16string name = ItemText(dlg, ids::kProfileNameEdit), url = ItemText(dlg, ids::kProfileUrlEdit),
                   gateway = ItemText(dlg, ids::kProfileGatewayEdit),
                   proxy = ItemText(dlg, ids::kProfileProxyEdit);
    transport::Mm1Transport via = Selected(dlg, ids::kProfileTransportList) == 1 ? transport::Mm1Transport::Http
                                                                                 : transport::Mm1Transport::Wsp;
    std::vector<std::u16string> others;
    int count = transport::Mm1ProfileCount();
    for (int i = 1; i <= count; ++i) {
      transport::Mm1Profile p;
      if (i != index_ && transport::Mm1ReadProfileEntry(i, &p)) others.push_back(platform::AnsiToWide(p.name.view()));
    }
    UINT fault = CheckProfile(name, url, gateway, others, resources_.LoadText(ids::kStrUrlPrefix), via, proxy);
    if (fault != 0) {
      std::u16string text = resources_.LoadText(fault), caption = resources_.LoadText(kStrCaption);
      MessageBox(dlg, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
      return 0;
    }
    StoreProfileTexts(name, url, gateway, profile_);
    StoreProfileTransport(via, proxy, profile_);
    End(1);
    return 0;
  }
  LRESULT OnClose(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }

  const ResourceLibrary& resources_;
  transport::Mm1Profile* profile_;
  int index_;
  HWND lastFocus_ = nullptr;
  LabelFont labels_;
  static const MessageMapEntry kEntries[];
  static const MessageTable kTable;
};

const MessageMapEntry ProfileEditor::kEntries[] = {
    {kEntryMessage, WM_ACTIVATE, Bind(&ProfileEditor::OnActivate)},
    {kEntryCommand, ids::kCmdProfileSave, Bind(&ProfileEditor::OnSave)},
    {kEntryCommand, ids::kCmdProfileClose, Bind(&ProfileEditor::OnClose)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable ProfileEditor::kTable = {&DialogBase::kTable, ProfileEditor::kEntries};

}  // namespace

int RunSettings(const ResourceLibrary& resources, HWND owner) {
  config::Config c;
  GeneralSettings values;
  values.saveSentMessage = c.GetSaveSentMessage();
  values.sendDelayedNotifyResp = c.GetSendDelayedNotifyResp();
  values.sort = c.GetSort();
  values.sendDefault = c.GetSendDefault();
  values.tryDefault = c.GetTryDefault();
  values.connectionVia = c.GetConnectionVia();
  GeneralSettingsPage page =
      FillGeneralSettings(values, c.GetSendLimits(), Destinations(), resources.LoadText(kStrKilobyteSuffix));
  SettingsPage dialog(resources, std::move(values), std::move(page));
  return dialog.DoModal(resources.module(), ids::kSettingsDialog, owner) == 1 ? 1 : 0;
}

int RunProfiles(const ResourceLibrary& resources, HWND owner) {
  ProfileList dialog(resources);
  dialog.DoModal(resources.module(), ids::kProfileListDialog, owner);
  return 1;
}

int EditProfile(const ResourceLibrary& resources, HWND owner, transport::Mm1Profile* profile, bool isNew,
                int index) {
  if (!profile) return 0;
  transport::Mm1Profile copy = *profile;
  ProfileEditor dialog(resources, &copy, isNew ? 0 : index);
  if (dialog.DoModal(resources.module(), ids::kProfileEditorDialog, owner) != 1) return 0;
  copy.gatewayPort = kProfileGatewayPort;
  *profile = copy;
  return 1;
}

}  // namespace ui
