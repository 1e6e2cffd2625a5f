#include "settings/settings_screens.h"

#include <string>
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

struct SettingsState {
  const ResourceLibrary* resources;
  GeneralSettings values;
  GeneralSettingsPage page;
};

BOOL SettingsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<SettingsState*>(GetWindowLong(dlg, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLong(dlg, DWL_USER, lParam);
      s = reinterpret_cast<SettingsState*>(lParam);
      FullScreenWithBar(*s->resources, dlg, ids::kSettingsMenuBar);
      std::vector<std::u16string> sorts;
      // Sort keys 1-4: sender, size, date, subject.
      for (UINT id : {40158u, 40172u, 40170u, 40160u}) sorts.push_back(s->resources->LoadText(id));
      FillList(dlg, ids::kSortList, sorts, s->page.sortEntry);
      FillList(dlg, ids::kSizeList, s->page.sizeEntries, s->page.sizeEntry);
      FillList(dlg, ids::kAttemptsList, s->page.attemptEntries, s->page.attemptEntry);
      FillList(dlg, ids::kNetworkList, s->page.networkEntries, s->page.networkEntry);
      CheckDlgButton(dlg, ids::kSaveSentBox, s->page.saveSentBox ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dlg, ids::kReceiveNowBox, s->page.receiveNowBox ? BST_CHECKED : BST_UNCHECKED);
      SetFocus(GetDlgItem(dlg, ids::kSortList));
      return FALSE;
    }
    case WM_COMMAND: {
      if (!s) return FALSE;
      UINT id = LOWORD(wParam);
      if (id == ids::kCmdSettingsSave) {
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        s->page.saveSentBox = IsDlgButtonChecked(dlg, ids::kSaveSentBox) == BST_CHECKED;
        s->page.receiveNowBox = IsDlgButtonChecked(dlg, ids::kReceiveNowBox) == BST_CHECKED;
        s->page.sortEntry = Selected(dlg, ids::kSortList);
        s->page.sizeEntry = Selected(dlg, ids::kSizeList);
        s->page.attemptEntry = Selected(dlg, ids::kAttemptsList);
        s->page.networkEntry = Selected(dlg, ids::kNetworkList);
        GeneralSettings v = SaveGeneralSettings(s->page, s->values);
        config::Config c;
        c.SetSaveSentMessage(v.saveSentMessage);
        c.SetReceiveImmediately(v.sendDelayedNotifyResp == 0);
        c.SetSort(v.sort);
        c.SetSendDefault(v.sendDefault);
        c.SetTryDefault(v.tryDefault);
        c.SetConnectionVia(v.connectionVia);
        SetCursor(nullptr);
        EndDialog(dlg, 1);
        return TRUE;
      }
      if (id == ids::kCmdProfiles) {
        RunProfiles(*s->resources, dlg);
        return TRUE;
      }
      if (id == ids::kCmdSettingsClose || id == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

struct ProfilesState {
  const ResourceLibrary* resources;
  HWND list = nullptr;
  HWND bar = nullptr;
  HFONT bold = nullptr;
  HICON mark = nullptr;
  int active = 0;
  std::vector<std::u16string> names;  // row i shows profile i + 1
};

int SelectedProfile(ProfilesState* s) {
  int row = static_cast<int>(SendMessage(s->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  return row < 0 ? 0 : row + 1;
}

void FillProfiles(ProfilesState* s, int select) {
  SendMessage(s->list, LVM_DELETEALLITEMS, 0, 0);
  s->names.clear();
  s->active = transport::Mm1DefaultProfileIndex();
  int count = transport::Mm1ProfileCount();
  for (int i = 1; i <= count; ++i) {
    transport::Mm1Profile p;
    std::u16string name = transport::Mm1ReadProfileEntry(i, &p) ? platform::AnsiToWide(p.name.view()) : u"";
    s->names.push_back(name);
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = i - 1;
    item.pszText = s->names.back().data();
    item.lParam = i;
    SendMessage(s->list, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
  }
  if (count > 0) {
    int row = select < 1 ? 0 : (select > count ? count - 1 : select - 1);
    LVITEM st{};
    st.stateMask = st.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessage(s->list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
  }
}

void UpdateProfileCommands(ProfilesState* s, HMENU popup) {
  bool allowed = ProfileCanBeSelectedOrDeleted(static_cast<int>(s->names.size()), SelectedProfile(s), s->active);
  for (UINT id : {ids::kCmdProfileSelect, ids::kCmdProfileDelete})
    EnableMenuItem(popup, id, MF_BYCOMMAND | (allowed ? MF_ENABLED : MFS_GRAYED));
  EnableMenuItem(popup, ids::kCmdProfileEdit, MF_BYCOMMAND | (s->names.empty() ? MFS_GRAYED : MF_ENABLED));
}

BOOL ProfilesProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<ProfilesState*>(GetWindowLong(dlg, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLong(dlg, DWL_USER, lParam);
      s = reinterpret_cast<ProfilesState*>(lParam);
      FullScreenWithBar(*s->resources, dlg, ids::kProfileListMenuBar);
      std::u16string title = s->resources->LoadText(106);
      SetWindowText(dlg, title.c_str());
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
      LOGFONT lf{};
      lf.lfHeight = -12;
      lf.lfWeight = FW_BOLD;
      s->bold = CreateFontIndirect(&lf);
      s->mark = LoadIcon(s->resources->module(), MAKEINTRESOURCE(ids::kActiveProfileIcon));
      FillProfiles(s, transport::Mm1DefaultProfileIndex());
      SetFocus(s->list);
      return FALSE;
    }
    case WM_DRAWITEM: {
      if (!s) return FALSE;
      auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (d->itemID >= s->names.size()) return TRUE;
      bool active = static_cast<int>(d->itemID) + 1 == s->active;
      RECT r = d->rcItem;
      r.left += 4;
      SetBkMode(d->hDC, TRANSPARENT);
      HGDIOBJ old = active && s->bold ? SelectObject(d->hDC, s->bold) : nullptr;
      if (active && s->mark) {
        DrawIcon(d->hDC, d->rcItem.right - 18, d->rcItem.top + 1, s->mark);
        r.right -= 20;
      }
      DrawText(d->hDC, s->names[d->itemID].c_str(), -1, &r,
               DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (active ? 0 : DT_END_ELLIPSIS));
      if (old) SelectObject(d->hDC, old);
      return TRUE;
    }
    case WM_PLATFORM_DESCRIBE: {
      if (!s) return FALSE;
      auto* out = reinterpret_cast<std::string*>(lParam);
      int selected = SelectedProfile(s);
      for (std::size_t i = 0; i < s->names.size(); ++i)
        *out += "profile " + std::to_string(i + 1) + " \"" + platform::Utf16ToUtf8(s->names[i]) + "\"" +
                (static_cast<int>(i) + 1 == s->active ? " active" : "") +
                (static_cast<int>(i) + 1 == selected ? " selected" : "") + "\n";
      SetWindowLong(dlg, DWL_MSGRESULT, 1);
      return TRUE;
    }
    case WM_INITMENUPOPUP:
      if (s) UpdateProfileCommands(s, reinterpret_cast<HMENU>(wParam));
      return TRUE;
    case WM_COMMAND: {
      if (!s) return FALSE;
      UINT id = LOWORD(wParam);
      int selected = SelectedProfile(s);
      bool allowed = ProfileCanBeSelectedOrDeleted(static_cast<int>(s->names.size()), selected, s->active);
      switch (id) {
        case ids::kCmdProfileNew: {
          transport::Mm1Profile active;
          transport::Mm1LoadProfile(s->active, &active, transport::kLoadByIndex);
          transport::Mm1Profile fresh = NewProfileFrom(active);
          if (EditProfile(*s->resources, dlg, &fresh, true, 0) == 1) {
            int index = transport::Mm1AddProfile(fresh, false);
            FillProfiles(s, index > 0 ? index : selected);
          }
          return TRUE;
        }
        case ids::kCmdProfileEdit:
        case IDOK: {
          // The profile's own values, transport and proxy included: saving writes them all back.
          transport::Mm1Profile p;
          if (selected < 1 || !transport::Mm1ReadProfileEntry(selected, &p)) return TRUE;
          if (EditProfile(*s->resources, dlg, &p, false, selected) == 1) {
            transport::Mm1UpdateProfile(selected, p, selected == s->active);
            FillProfiles(s, selected);
          }
          return TRUE;
        }
        case ids::kCmdProfileSelect: {
          transport::Mm1Profile p;
          if (allowed && transport::Mm1ReadProfileEntry(selected, &p)) {
            transport::Mm1UpdateProfile(selected, p, true);
            FillProfiles(s, selected);
            InvalidateRect(s->list, nullptr, TRUE);
          }
          return TRUE;
        }
        case ids::kCmdProfileDelete: {
          if (!allowed) return TRUE;
          std::u16string text = s->resources->LoadText(kStrConfirmDelete),
                         caption = s->resources->LoadText(kStrCaption);
          if (MessageBox(dlg, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES) {
            transport::Mm1DeleteProfile(selected);
            FillProfiles(s, selected);
          }
          return TRUE;
        }
        case IDCANCEL:
          EndDialog(dlg, 1);
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_DESTROY:
      if (s && s->bold) {
        DeleteObject(s->bold);
        s->bold = nullptr;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

struct EditorState {
  const ResourceLibrary* resources;
  transport::Mm1Profile* profile;
  int index;
  HWND lastFocus = nullptr;
};

BOOL EditorProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<EditorState*>(GetWindowLong(dlg, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLong(dlg, DWL_USER, lParam);
      s = reinterpret_cast<EditorState*>(lParam);
      FullScreenWithBar(*s->resources, dlg, ids::kProfileEditorMenuBar);
      SendDlgItemMessage(dlg, ids::kProfileNameEdit, EM_LIMITTEXT, kProfileNameLimit, 0);
      SendDlgItemMessage(dlg, ids::kProfileUrlEdit, EM_LIMITTEXT, kProfileUrlLimit, 0);
      SendDlgItemMessage(dlg, ids::kProfileGatewayEdit, EM_LIMITTEXT, kProfileGatewayLimit, 0);
      std::u16string name = platform::AnsiToWide(s->profile->name.view());
      std::u16string url = platform::AnsiToWide(s->profile->mmscUri.view());
      if (url.empty()) url = s->resources->LoadText(ids::kStrUrlPrefix);
      std::u16string gateway = platform::AnsiToWide(s->profile->gateway.view());
      SetDlgItemText(dlg, ids::kProfileNameEdit, name.c_str());
      SetDlgItemText(dlg, ids::kProfileUrlEdit, url.c_str());
      SetDlgItemText(dlg, ids::kProfileGatewayEdit, gateway.c_str());
      SendDlgItemMessage(dlg, ids::kProfileProxyEdit, EM_LIMITTEXT, kProfileProxyLimit, 0);
      std::u16string proxy = platform::AnsiToWide(s->profile->proxy.view());
      SetDlgItemText(dlg, ids::kProfileProxyEdit, proxy.c_str());
      FillList(dlg, ids::kProfileTransportList,
               {s->resources->LoadText(ids::kStrTransportWsp), s->resources->LoadText(ids::kStrTransportHttp)},
               s->profile->transport == transport::Mm1Transport::Http ? 1 : 0);
      HWND nameEdit = GetDlgItem(dlg, ids::kProfileNameEdit);
      SendMessage(nameEdit, EM_SETSEL, 0, -1);
      SetFocus(nameEdit);
      s->lastFocus = nameEdit;
      return FALSE;
    }
    case WM_ACTIVATE:
      // Back from a message box: the focus returns where it was.
      if (s && LOWORD(wParam) != WA_INACTIVE && s->lastFocus) SetFocus(s->lastFocus);
      return FALSE;
    case WM_COMMAND: {
      if (!s) return FALSE;
      UINT id = LOWORD(wParam);
      if (HIWORD(wParam) == EN_SETFOCUS) {
        s->lastFocus = GetDlgItem(dlg, static_cast<int>(id));
        return FALSE;
      }
      if (id == ids::kCmdProfileSave) {
        std::u16string name = ItemText(dlg, ids::kProfileNameEdit), url = ItemText(dlg, ids::kProfileUrlEdit),
                       gateway = ItemText(dlg, ids::kProfileGatewayEdit),
                       proxy = ItemText(dlg, ids::kProfileProxyEdit);
        transport::Mm1Transport via = Selected(dlg, ids::kProfileTransportList) == 1 ? transport::Mm1Transport::Http
                                                                                     : transport::Mm1Transport::Wsp;
        std::vector<std::u16string> others;
        int count = transport::Mm1ProfileCount();
        for (int i = 1; i <= count; ++i) {
          transport::Mm1Profile p;
          if (i != s->index && transport::Mm1ReadProfileEntry(i, &p)) others.push_back(platform::AnsiToWide(p.name.view()));
        }
        UINT fault =
            CheckProfile(name, url, gateway, others, s->resources->LoadText(ids::kStrUrlPrefix), via, proxy);
        if (fault != 0) {
          std::u16string text = s->resources->LoadText(fault), caption = s->resources->LoadText(kStrCaption);
          MessageBox(dlg, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
          return TRUE;
        }
        StoreProfileTexts(name, url, gateway, s->profile);
        StoreProfileTransport(via, proxy, s->profile);
        EndDialog(dlg, 1);
        return TRUE;
      }
      if (id == ids::kCmdProfileClose || id == IDCANCEL) {
        EndDialog(dlg, 0);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

int RunSettings(const ResourceLibrary& resources, HWND owner) {
  config::Config c;
  SettingsState state{&resources, {}, {}};
  state.values.saveSentMessage = c.GetSaveSentMessage();
  state.values.sendDelayedNotifyResp = c.GetSendDelayedNotifyResp();
  state.values.sort = c.GetSort();
  state.values.sendDefault = c.GetSendDefault();
  state.values.tryDefault = c.GetTryDefault();
  state.values.connectionVia = c.GetConnectionVia();
  state.page = FillGeneralSettings(state.values, c.GetSendLimits(), Destinations(),
                                   resources.LoadText(kStrKilobyteSuffix));
  INT_PTR r = DialogBoxParam(resources.module(), MAKEINTRESOURCE(ids::kSettingsDialog), owner, SettingsProc,
                             reinterpret_cast<LPARAM>(&state));
  return r == 1 ? 1 : 0;
}

int RunProfiles(const ResourceLibrary& resources, HWND owner) {
  ProfilesState state;
  state.resources = &resources;
  DialogBoxParam(resources.module(), MAKEINTRESOURCE(ids::kProfileListDialog), owner, ProfilesProc,
                 reinterpret_cast<LPARAM>(&state));
  return 1;
}

int EditProfile(const ResourceLibrary& resources, HWND owner, transport::Mm1Profile* profile, bool isNew,
                int index) {
  if (!profile) return 0;
  transport::Mm1Profile copy = *profile;
  EditorState state{&resources, &copy, isNew ? 0 : index};
  INT_PTR r = DialogBoxParam(resources.module(), MAKEINTRESOURCE(ids::kProfileEditorDialog), owner, EditorProc,
                             reinterpret_cast<LPARAM>(&state));
  if (r != 1) return 0;
  copy.gatewayPort = kProfileGatewayPort;
  *profile = copy;
  return 1;
}

}  // namespace ui
