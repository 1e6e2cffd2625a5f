// The MMS contents screen lists the parts of a message. Rows are drawn by the screen (icon,
// name, size); the row texts carry the same name and size for the screen description.
#include "contents/contents_screen.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "audio/clip_player.h"
#include "imaging/image.h"
#include "platform/files.h"
#include "platform/listview.h"
#include "platform/menubar.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "store/message_store.h"
#include "texteditor/canned_texts.h"
#include "ui/resource_library.h"
#include "viewer/fullscreen_views.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_ids.h"

namespace viewer {

namespace {

constexpr DWORD kFullScreen = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
constexpr int kTextDialog = 127;
constexpr int kTextControl = 1014;
constexpr UINT kIcons[] = {ids::kIconPicture, ids::kIconSound, ids::kIconText, ids::kIconVideo,
                           ids::kIconUnknown};

std::uint32_t ClassOf(const PartEntry& p) {
  return presentation::KindClass(p.kind);
}

int IconIndex(std::uint32_t cls) {
  return cls >= 1 && cls <= 4 ? static_cast<int>(cls) - 1 : 4;
}

std::u16string FileName(const std::u16string& path) {
  const auto slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string Widen(const std::string& s) {
  return platform::Utf8ToUtf16(s);
}

// UTF-16LE text after its two-byte mark.
std::u16string ReadTextPart(const std::u16string& path) {
  std::string bytes;
  if (!platform::ReadFile(path, bytes) || bytes.size() < 2) return {};
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                         (static_cast<std::uint8_t>(bytes[i + 1]) << 8)));
  return text;
}

struct TextDialogState {
  std::u16string text;
  const ViewerContext* ctx;
};

BOOL TextDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* s = reinterpret_cast<TextDialogState*>(lParam);
    SHINITDLGINFO init{SHIDIM_FLAGS, hwnd, kFullScreen};
    SHInitDialog(&init);
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = hwnd;
    bar.nToolBarId = ids::kBarClose;
    bar.hInstRes = s->ctx->resources->module();
    SHCreateMenuBar(&bar);
    SetDlgItemText(hwnd, kTextControl, s->text.c_str());
    SendDlgItemMessage(hwnd, kTextControl, EM_SETREADONLY, TRUE, 0);
    return TRUE;
  }
  if (msg == WM_COMMAND &&
      (LOWORD(wParam) == ids::kCmdClose || LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, IDOK);
    return TRUE;
  }
  return FALSE;
}

void ShowText(HWND owner, const PartEntry& part, const ViewerContext& ctx) {
  TextDialogState s{ReadTextPart(part.path), &ctx};
  DialogBoxParam(ctx.resources->module(), MAKEINTRESOURCE(kTextDialog), owner, &TextDialogProc,
                 reinterpret_cast<LPARAM>(&s));
}

}  // namespace

std::vector<PartEntry> BuildPartList(const presentation::MessageDocument& document,
                                     std::u16string_view partsDirectory) {
  std::vector<PartEntry> parts;
  for (const auto& item : document.media()) {
    PartEntry p;
    p.path = platform::JoinPath(partsDirectory, item->fileName);
    const std::filesystem::path native(platform::Utf16ToUtf8(p.path));
    std::error_code ec;
    if (item->fileName.empty() || !std::filesystem::is_regular_file(native, ec)) continue;
    p.size = std::filesystem::file_size(native, ec);
    const auto written = std::filesystem::last_write_time(native, ec);
    if (!ec)
      p.modified = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::file_clock::to_sys(written).time_since_epoch())
                       .count();
    p.kind = item->kind;
    p.drm = item->drm != 0;
    parts.push_back(std::move(p));
  }
  return parts;
}

std::u16string FormatSize(std::uint64_t bytes, const std::u16string& kb, const std::u16string& mb) {
  const std::uint64_t k = (bytes + 1023) / 1024;
  char buf[48];
  if (k <= 1024)
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(k));
  else
    std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(k) / 1024.0);
  return Widen(buf) + (k <= 1024 ? kb : mb);
}

SaveOutcome SaveIntoFolder(const std::u16string& source, const std::u16string& folder,
                           const std::function<bool()>& confirm, std::u16string* savedAs) {
  const std::u16string file = FileName(source);
  const auto dot = file.find_last_of(u'.');
  const std::u16string name = dot == std::u16string::npos ? file : file.substr(0, dot);
  const std::u16string ext = dot == std::u16string::npos ? std::u16string() : file.substr(dot);
  platform::CreateDirectories(folder);
  std::u16string target = folder + file;
  if (platform::PathExists(target)) {
    if (!confirm || !confirm()) return SaveOutcome::Cancelled;
    bool found = false;
    for (int n = 0; n < 100000 && !found; ++n) {
      target = folder + name + u"_" + Widen(std::to_string(n)) + ext;
      found = !platform::PathExists(target);
    }
    if (!found) return SaveOutcome::Failed;
  }
  // The copy itself refuses to replace a file that appeared meanwhile.
  if (!platform::CopyFile(source, target, true))
    return GetLastError() == static_cast<DWORD>(ERROR_DISK_FULL) ? SaveOutcome::DiskFull
                                                                 : SaveOutcome::Failed;
  if (savedAs) *savedAs = target;
  return SaveOutcome::Saved;
}

// ---- The screen ----

ContentsScreen::ContentsScreen(const ViewerContext& ctx, std::vector<PartEntry> parts, bool protectedContent)
    : ctx_(ctx), parts_(std::move(parts)), protected_(protectedContent) {
  openPicture = [this](HWND owner, const PartEntry& p) { RunPictureView(owner, p.path, p.kind, ctx_); };
  openVideo = [this](HWND owner, const PartEntry& p) { RunVideoView(owner, p.path, ctx_); };
  openText = [this](HWND owner, const PartEntry& p) { ShowText(owner, p, ctx_); };
  confirmRename = [this](HWND owner) {
    return MessageBox(owner, Text(ids::kStrNameExists).c_str(), Text(ids::kStrContentsTitle).c_str(),
                      MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
  };
}

ContentsScreen::~ContentsScreen() {
  StopSound();
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLong(hwnd_, DWL_USER, 0);
    DestroyWindow(hwnd_);
  }
}

std::u16string ContentsScreen::Text(UINT id) const {
  return ctx_.resources ? ctx_.resources->LoadText(id) : std::u16string();
}

INT_PTR ContentsScreen::Run(HWND owner) {
  if (!ctx_.resources) return IDCANCEL;
  const INT_PTR r = DialogBoxParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner,
                                   &Proc, reinterpret_cast<LPARAM>(this));
  StopSound();
  hwnd_ = nullptr;
  return r;
}

HWND ContentsScreen::Create(HWND owner) {
  if (!ctx_.resources) return nullptr;
  return CreateDialogParam(ctx_.resources->module(), MAKEINTRESOURCE(ids::kDlgFullScreen), owner, &Proc,
                           reinterpret_cast<LPARAM>(this));
}

int ContentsScreen::selected() const {
  return list_ ? static_cast<int>(SendMessage(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED))
               : -1;
}

BOOL ContentsScreen::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLong(hwnd, DWL_USER, lParam);
    auto* self = reinterpret_cast<ContentsScreen*>(lParam);
    self->hwnd_ = hwnd;
    if (!self->OnInit()) EndDialog(hwnd, IDCANCEL);
    return FALSE;  // the list keeps the focus it was given
  }
  auto* self = reinterpret_cast<ContentsScreen*>(GetWindowLong(hwnd, DWL_USER));
  return self ? self->Handle(msg, wParam, lParam) : FALSE;
}

bool ContentsScreen::OnInit() {
  SHINITDLGINFO init{SHIDIM_FLAGS, hwnd_, kFullScreen};
  SHInitDialog(&init);
  SetWindowText(hwnd_, Text(ids::kStrContentsTitle).c_str());
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int width = client.right - client.left;
  rowHeight_ = (client.bottom - client.top) / 8 - 1;
  list_ =
      CreateWindowEx(0, WC_LISTVIEW, u"",
                     WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                         LVS_NOCOLUMNHEADER | LVS_OWNERDRAWFIXED,
                     0, 0, width, client.bottom - client.top, hwnd_,
                     reinterpret_cast<HMENU>(static_cast<std::intptr_t>(ids::kPartList)), nullptr, nullptr);
  if (!list_) return false;
  LVCOLUMN column{};
  column.mask = LVCF_WIDTH;
  column.cx = width;
  SendMessage(list_, LVM_INSERTCOLUMN, 0, reinterpret_cast<LPARAM>(&column));

  const int icon = std::max(8, std::min(16, rowHeight_ - 4));
  HIMAGELIST images = ImageList_Create(icon, icon, ILC_COLOR16 | ILC_MASK, 5, 0);
  for (UINT id : kIcons) ImageList_AddIcon(images, LoadIcon(ctx_.resources->module(), MAKEINTRESOURCE(id)));
  SendMessage(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));

  const std::u16string kb = Text(1069), mb = Text(1071);
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    std::u16string name = FileName(parts_[i].path);
    std::u16string size = FormatSize(parts_[i].size, kb, mb);
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = name.data();
    item.iImage = IconIndex(ClassOf(parts_[i]));
    item.lParam = static_cast<LPARAM>(i);
    SendMessage(list_, LVM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item));
    LVITEM sub{};
    sub.iSubItem = 1;
    sub.pszText = size.data();
    SendMessage(list_, LVM_SETITEMTEXT, i, reinterpret_cast<LPARAM>(&sub));
  }
  if (parts_.empty()) {
    ShowBar(ids::kBarClose);
    return true;
  }
  LVITEM state{};
  state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessage(list_, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
  SetFocus(list_);
  ApplySelection();
  return true;
}

void ContentsScreen::ShowBar(UINT id) {
  if (bar_ == id) return;
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof(bar);
  bar.hwndParent = hwnd_;
  bar.nToolBarId = id;
  bar.hInstRes = ctx_.resources->module();
  if (SHCreateMenuBar(&bar)) bar_ = id;
}

void ContentsScreen::SetLeftLabel(UINT textId) {
  SetSoftKeyLabel(hwnd_, ids::kCmdOpen, Text(textId));
}

void ContentsScreen::StopSound() {
  if (!playing_) return;
  if (ctx_.audio) ctx_.audio->StopClip();
  playing_ = false;
}

void ContentsScreen::ApplySelection() {
  if (playing_) {
    StopSound();
  }
  const int sel = selected();
  if (sel < 0 || sel >= static_cast<int>(parts_.size())) return;
  switch (ClassOf(parts_[static_cast<std::size_t>(sel)])) {
    case 1:
      ShowBar(ids::kBarMediaPart);
      SetLeftLabel(ids::kStrOpen);
      break;
    case 2:
    case 4:
      ShowBar(ids::kBarMediaPart);
      SetLeftLabel(ids::kStrPlay);
      break;
    case 3:
      ShowBar(ids::kBarTextPart);
      break;
    default:
      ShowBar(ids::kBarUnknownPart);
      break;
  }
}

void ContentsScreen::BuildPopup(HMENU menu) {
  const int sel = selected();
  if (sel < 0) return;
  WCHAR info[64] = {};
  GetMenuString(menu, ids::kCmdInformation, info, 64, MF_BYCOMMAND);
  std::u16string infoText = info[0] ? std::u16string(info) : u"Information";
  while (GetMenuItemCount(menu) > 0) DeleteMenu(menu, 0, MF_BYPOSITION);
  const std::uint32_t cls = ClassOf(parts_[static_cast<std::size_t>(sel)]);
  UINT openText = ids::kStrOpen, saveText = ids::kStrSavePicture;
  if (cls == 2) {
    openText = playing_ ? ids::kStrStopSound : ids::kStrPlay;
    saveText = ids::kStrSaveSound;
  } else if (cls == 4) {
    openText = ids::kStrPlay;
    saveText = ids::kStrSaveVideo;
  }
  AppendMenu(menu, MF_STRING, ids::kCmdOpen, Text(openText).c_str());
  AppendMenu(menu, MF_STRING, ids::kCmdSave, Text(saveText).c_str());
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING, ids::kCmdInformation, infoText.c_str());
}

void ContentsScreen::Open() {
  const int sel = selected();
  if (sel < 0) return;
  const PartEntry& part = parts_[static_cast<std::size_t>(sel)];
  switch (ClassOf(part)) {
    case 1:
      if (openPicture) openPicture(hwnd_, part);
      break;
    case 2:
      if (playing_) {
        StopSound();
        SetLeftLabel(ids::kStrPlay);
      } else if (ctx_.audio && ctx_.audio->OpenClip(part.path, hwnd_) >= 0) {
        // Each clip has a number. Reports still queued from the clip played before (its end,
        // -1, posted as it stopped) come before this marker and are not about this clip.
        ++clip_;
        reportsOfClip_ = false;
        PostMessage(hwnd_, ids::kMsgClipStarted, static_cast<WPARAM>(clip_), 0);
        if (ctx_.audio->PlayClip(0, -1, 1) == 0) {
          SetLeftLabel(ids::kStrStopSound);
          playing_ = true;
        }
      }
      break;
    case 3:
      if (openText) openText(hwnd_, part);
      break;
    case 4:
      if (openVideo) openVideo(hwnd_, part);
      break;
    default:
      break;
  }
}

void ContentsScreen::Information() {
  const int sel = selected();
  if (sel < 0) return;
  const PartEntry& part = parts_[static_cast<std::size_t>(sel)];
  if (ClassOf(part) == 2) {
    StopSound();
    SetLeftLabel(ids::kStrPlay);
  }
  ShowMediaInformation(hwnd_, part, ctx_);
}

SaveOutcome SaveAsCannedText(const std::u16string& text, const std::u16string& file) {
  if (text.empty() || file.empty()) return SaveOutcome::Failed;
  std::vector<std::u16string> texts;
  // A file that is not a canned-texts file is left alone: the save then fails.
  if (!texteditor::LoadCannedTexts(file, &texts)) return SaveOutcome::Failed;
  if (std::find(texts.begin(), texts.end(), text) != texts.end()) return SaveOutcome::Cancelled;
  texts.push_back(text);
  return texteditor::SaveCannedTexts(file, texts) ? SaveOutcome::Saved : SaveOutcome::Failed;
}

void ContentsScreen::Save() {
  const int sel = selected();
  if (sel < 0) return;
  const PartEntry& part = parts_[static_cast<std::size_t>(sel)];
  if (protected_ && part.drm) {
    MessageBox(hwnd_, Text(ids::kStrProtected).c_str(), Text(ids::kStrContentsTitle).c_str(),
               MB_OK | MB_ICONINFORMATION);
    lastSave_ = SaveOutcome::Cancelled;
    return;
  }
  std::u16string folder;
  switch (ClassOf(part)) {
    case 1:
      folder = ctx_.picturePath;
      break;
    case 2:
      if (playing_) {
        StopSound();
        SetLeftLabel(ids::kStrPlay);
      }
      folder = ctx_.soundPath;
      break;
    case 4:
      folder = ctx_.videoPath;
      break;
    case 3:
      lastSave_ = SaveAsCannedText(ReadTextPart(part.path), ctx_.cannedTextsFile);
      if (lastSave_ == SaveOutcome::Cancelled)
        MessageBox(hwnd_, Text(ids::kStrCannedTextExists).c_str(), Text(ids::kStrContentsTitle).c_str(),
                   MB_OK | MB_ICONINFORMATION);
      else if (lastSave_ != SaveOutcome::Saved)
        MessageBox(hwnd_, Text(ids::kStrNotDone).c_str(), Text(ids::kStrContentsTitle).c_str(),
                   MB_OK | MB_ICONINFORMATION);
      return;
    default:
      folder = ctx_.unknownPath;
      break;
  }
  if (folder.empty()) return;
  lastSave_ = SaveIntoFolder(part.path, folder, [this] { return !confirmRename || confirmRename(hwnd_); });
  if (lastSave_ == SaveOutcome::DiskFull)
    MessageBox(hwnd_, Text(ids::kStrDiskFull).c_str(), Text(ids::kStrContentsTitle).c_str(),
               MB_OK | MB_ICONWARNING);
}

void ContentsScreen::DrawRow(const void* raw) {
  const auto* d = static_cast<const DRAWITEMSTRUCT*>(raw);
  if (d->itemID >= parts_.size()) return;
  const PartEntry& part = parts_[d->itemID];
  const RECT& rc = d->rcItem;
  HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessage(list_, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  if (images)
    ImageList_Draw(images, IconIndex(ClassOf(part)), d->hDC, rc.left + 2, rc.top + 2, ILD_TRANSPARENT);
  const int scroll = GetSystemMetrics(SM_CXVSCROLL);
  const int height = rc.bottom - rc.top;
  std::u16string name = FileName(part.path);
  RECT nameRc{rc.left + height + 5, rc.top, rc.right - 30 - scroll, rc.bottom};
  DrawText(d->hDC, name.c_str(), static_cast<int>(name.size()), &nameRc,
           DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  std::u16string size = FormatSize(part.size, Text(1069), Text(1071));
  RECT sizeRc{rc.left, rc.top, rc.right - scroll, rc.bottom};
  DrawText(d->hDC, size.c_str(), static_cast<int>(size.size()), &sizeRc,
           DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX);
}

BOOL ContentsScreen::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      m->itemHeight = static_cast<UINT>(std::max(1, rowHeight_));
      return TRUE;
    }
    case WM_DRAWITEM:
      DrawRow(reinterpret_cast<const void*>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->hwndFrom != list_) return FALSE;
      if (hdr->code == LVN_ITEMCHANGED) {
        const auto* lv = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((lv->uNewState & LVIS_SELECTED) && !(lv->uOldState & LVIS_SELECTED)) ApplySelection();
      } else if (hdr->code == LVN_ITEMACTIVATE) {
        Open();
      }
      return TRUE;
    }
    case WM_INITMENUPOPUP:
      if (bar_ == ids::kBarMediaPart) BuildPopup(reinterpret_cast<HMENU>(wParam));
      return TRUE;
    case ids::kMsgClipStarted:
      if (static_cast<unsigned>(wParam) == clip_) reportsOfClip_ = true;
      return TRUE;
    case audio::kMsgAudioProgress: {
      // The clip reached its length, or ended (-1): the sound is over.
      const auto position = static_cast<LPARAM>(wParam);
      if (playing_ && reportsOfClip_ && (position == lParam || position == -1)) {
        StopSound();
        SetLeftLabel(ids::kStrPlay);
      }
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ids::kCmdOpen:
        case ids::kCmdOpenText:
          Open();
          return TRUE;
        case IDOK:
          return TRUE;  // the action key already opened the row
        case ids::kCmdInformation:
          Information();
          return TRUE;
        case ids::kCmdSave:
          Save();
          return TRUE;
        case ids::kCmdClose:
        case IDCANCEL:
          StopSound();
          EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR RunContentsList(HWND owner, store::MessageEntry* entry, const ViewerContext& ctx) {
  if (!entry) return IDCANCEL;
  presentation::MessageDocument* doc = entry->OpenDocument();
  if (!doc) return IDCANCEL;
  const std::u16string dir = doc->partsDirectory().empty() ? entry->PartsDirectory() : doc->partsDirectory();
  ContentsScreen screen(ctx, BuildPartList(*doc, dir), entry->HasProtectedContent());
  return screen.Run(owner);
}

// ---- Information dialogs ----

namespace {

struct InfoState {
  const PartEntry* part;
  const ViewerContext* ctx;
};

std::u16string TypeOf(const std::u16string& name) {
  const auto dot = name.find(u'.');
  return dot == std::u16string::npos ? std::u16string() : name.substr(dot + 1);
}

std::u16string Seconds(std::uint32_t ms, const std::u16string& unit) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f ", ms / 1000.0);
  return Widen(buf) + unit;
}

BOOL InfoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    const auto* s = reinterpret_cast<const InfoState*>(lParam);
    const PartEntry& p = *s->part;
    const ViewerContext& ctx = *s->ctx;
    SHINITDLGINFO init{SHIDIM_FLAGS, hwnd, kFullScreen};
    SHInitDialog(&init);
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    bar.hwndParent = hwnd;
    bar.nToolBarId = ids::kBarClose;
    bar.hInstRes = ctx.resources->module();
    SHCreateMenuBar(&bar);
    const std::u16string name = FileName(p.path);
    const std::u16string size =
        FormatSize(p.size, ctx.resources->LoadText(1069), ctx.resources->LoadText(1071));
    std::u16string date;
    const std::time_t t = static_cast<std::time_t>(p.modified);
    std::tm tm{};
    if (gmtime_r(&t, &tm)) ctx.resources->FormatDate(&date, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const std::u16string sec = ctx.resources->LoadText(ids::kStrSeconds);
    switch (presentation::KindClass(p.kind)) {
      case 1: {
        imaging::Box box;
        int depth = 0;
        std::u16string res, colours;
        if (imaging::GetImageInfo(p.path, &box, &depth, imaging::kTypeByExtension)) {
          res = Widen(std::to_string(box.width) + " X " + std::to_string(box.height));
          colours = Widen(std::to_string(depth));
        }
        SetDlgItemText(hwnd, 1001, name.c_str());
        SetDlgItemText(hwnd, 1002, TypeOf(name).c_str());
        SetDlgItemText(hwnd, 1003, size.c_str());
        SetDlgItemText(hwnd, 1004, date.c_str());
        SetDlgItemText(hwnd, 1005, res.c_str());
        SetDlgItemText(hwnd, 1006, colours.c_str());
        break;
      }
      case 4: {
        std::uint32_t ms = 0;
        int w = 0, h = 0;
        if (ctx.video) ctx.video->MediaInfo(p.path, &ms, &w, &h);
        SetDlgItemText(hwnd, 1007, name.c_str());
        SetDlgItemText(hwnd, 1008, TypeOf(name).c_str());
        SetDlgItemText(hwnd, 1074, size.c_str());
        SetDlgItemText(hwnd, 1010, date.c_str());
        SetDlgItemText(hwnd, 1075, Widen(std::to_string(w) + " X " + std::to_string(h)).c_str());
        SetDlgItemText(hwnd, 1012, Seconds(ms, sec).c_str());
        break;
      }
      default: {
        int ms = ctx.audio ? ctx.audio->ClipDuration(p.path) : 0;
        if (ms < 0) ms = 0;
        SetDlgItemText(hwnd, 1077, name.c_str());
        SetDlgItemText(hwnd, 1015, TypeOf(name).c_str());
        SetDlgItemText(hwnd, 1016, size.c_str());
        SetDlgItemText(hwnd, 1017, date.c_str());
        SetDlgItemText(hwnd, 1018, Seconds(static_cast<std::uint32_t>(ms), sec).c_str());
        break;
      }
    }
    return TRUE;
  }
  if (msg == WM_COMMAND &&
      (LOWORD(wParam) == ids::kCmdClose || LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hwnd, IDOK);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

INT_PTR ShowMediaInformation(HWND owner, const PartEntry& part, const ViewerContext& ctx) {
  if (!ctx.resources) return IDCANCEL;
  int id = 0;
  switch (presentation::KindClass(part.kind)) {
    case 1:
      id = ids::kDlgPictureInfo;
      break;
    case 2:
      id = ids::kDlgSoundInfo;
      break;
    case 4:
      id = ids::kDlgVideoInfo;
      break;
    default:
      return IDCANCEL;
  }
  InfoState s{&part, &ctx};
  return DialogBoxParam(ctx.resources->module(), MAKEINTRESOURCE(id), owner, &InfoProc,
                        reinterpret_cast<LPARAM>(&s));
}

}  // namespace viewer
