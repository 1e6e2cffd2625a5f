#include "gallery/gallery_dialog.h"

#include "config/config.h"
#include "gallery/gallery.h"
#include "gallery/gallery_ids.h"
#include "platform/dialogs.h"
#include "platform/menubar.h"
#include "viewer/video_playback.h"
#include "audio/clip_player.h"
#include "contents/contents_screen.h"
#include "platform/files.h"
#include "ui/common/app_context.h"
#include "viewer/fullscreen_views.h"

namespace gallery {

namespace {

audio::AudioClipLoader* gAudio = nullptr;

}  // namespace

void SetAudioLoader(audio::AudioClipLoader* loader) {
  gAudio = loader;
}

const ui::MessageMapEntry GalleryDialog::kEntries[] = {
    {ui::kEntryCommand, ids::kCmdInsert, ui::Bind(&GalleryDialog::OnInsert)},
    {ui::kEntryCommand, ids::kCmdView, ui::Bind(&GalleryDialog::OnView)},
    {ui::kEntryCommand, ids::kCmdPreview, ui::Bind(&GalleryDialog::OnPreview)},
    {ui::kEntryCommand, ids::kCmdPlay, ui::Bind(&GalleryDialog::OnPlay)},
    {ui::kEntryCommand, ids::kCmdStop, ui::Bind(&GalleryDialog::OnStop)},
    {ui::kEntryCommand, ids::kCmdVideos, ui::Bind(&GalleryDialog::OnVideos)},
    {ui::kEntryCommand, ids::kCmdPictures, ui::Bind(&GalleryDialog::OnPictures)},
    {ui::kEntryCommand, ids::kCmdDetails, ui::Bind(&GalleryDialog::OnDetails)},
    {ui::kEntryCommand, ids::kCmdGrid, ui::Bind(&GalleryDialog::OnGrid)},
    {ui::kEntryCommand, ids::kCmdInformation, ui::Bind(&GalleryDialog::OnInformation)},
    {ui::kEntryCommand, ids::kCmdDelete, ui::Bind(&GalleryDialog::OnDelete)},
    {ui::kEntryCommand, ids::kCmdNewText, ui::Bind(&GalleryDialog::OnNewText)},
    {ui::kEntryCommand, ids::kCmdEditText, ui::Bind(&GalleryDialog::OnEditText)},
    {ui::kEntryCommand, ids::kCmdCamera, ui::Bind(&GalleryDialog::OnCamera)},
    {ui::kEntryMessage, WM_COPYDATA, ui::Bind(&GalleryDialog::OnCopyData)},
    {ui::kEntryMessage, ids::kMsgEditorConfirm, ui::Bind(&GalleryDialog::OnEditorConfirm)},
    {ui::kEntryCommand, ids::kCmdCameraDone, ui::Bind(&GalleryDialog::OnCameraDone)},
    {ui::kEntryMessage, ids::kMsgListChanged, ui::Bind(&GalleryDialog::OnListChanged)},
    {ui::kEntryMessage, ids::kMsgThumbSelected, ui::Bind(&GalleryDialog::OnSelected)},
    {ui::kEntryMessage, WM_INITMENUPOPUP, ui::Bind(&GalleryDialog::OnInitMenuPopup)},
    {ui::kEntryMessage, ids::kMsgClipProgress, ui::Bind(&GalleryDialog::OnClipProgress)},
    {ui::kEntryMessage, WM_KEYDOWN, ui::Bind(&GalleryDialog::OnKeyDown)},
    {ui::kEntryEnd, 0, nullptr},
};
const ui::MessageTable GalleryDialog::kTable = {&ui::DialogBase::kTable, GalleryDialog::kEntries};

GalleryDialog::GalleryDialog(const ui::ResourceLibrary* resources, const config::Config* config, std::uint32_t mask)
    : resources_(resources), config_(config), state_(GalleryState::Get()), mask_(mask) {}

GalleryDialog::~GalleryDialog() {
  grid_.reset();
  list_.reset();
  if (menuTexts_) DestroyMenu(menuTexts_);
}

std::optional<std::u16string> GalleryDialog::Run(HWND owner) {
  if (!resources_ || !config_) return std::nullopt;
  DoModal(resources_->module(), ids::kDlgGallery, owner);
  return result_;
}

std::u16string GalleryDialog::Text(UINT id) const {
  return resources_ ? resources_->LoadText(id) : std::u16string();
}

void GalleryDialog::Message(UINT id) {
  const std::u16string text = Text(id), caption = Text(ids::kStrCaption);
  MessageBox(hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

bool GalleryDialog::Confirm(UINT id) {
  if (confirm) return confirm(hwnd_, id);
  const std::u16string text = Text(id), caption = Text(ids::kStrCaption);
  return MessageBox(hwnd_, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

viewer::ViewerContext GalleryDialog::ViewerContext() const {
  viewer::ViewerContext ctx;
  ctx.resources = resources_;
  ctx.audio = gAudio;
  ctx.video = &viewer::VideoPlayback::Get();
  ctx.picturePath = state_.pictureFolder;
  ctx.soundPath = state_.soundFolder;
  ctx.videoPath = state_.videoFolder;
  return ctx;
}

bool GalleryDialog::OnInitDialog() {
  SHINITDLGINFO init{SHIDIM_FLAGS, hwnd_, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&init);
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof bar;
  bar.hwndParent = hwnd_;
  bar.nToolBarId = ids::kBarGallery;
  bar.hInstRes = resources_->module();
  if (!SHCreateMenuBar(&bar)) return false;
  menuTexts_ = LoadMenu(resources_->module(), MAKEINTRESOURCE(static_cast<int>(ids::kBarGallery)));
  leftCommand_ = ids::kCmdInsert;
  ResolveFolders(*config_, &state_);
  GetClientRect(hwnd_, &area_);
  Fill(0);
  return true;
}

bool GalleryDialog::Grid() const {
  if (cls_ == ids::kClassPicture) return state_.pictureView == ids::kViewGrid;
  if (cls_ == ids::kClassVideo) return state_.videoView == ids::kViewGrid;
  return false;
}

int GalleryDialog::Selected() const {
  if (grid_) return grid_->Selected();
  if (list_) return list_->Selected();
  return -1;
}

MediaEntry* GalleryDialog::SelectedEntry() const {
  const int i = Selected();
  if (cls_ == ids::kClassText || i < 0 || i >= static_cast<int>(entries_.size())) return nullptr;
  return entries_[static_cast<std::size_t>(i)].get();
}

void GalleryDialog::Fill(int selected) {
  cls_ = MaskClass(mask_);
  const std::u16string title = Text(TitleOf(cls_));
  SetWindowText(hwnd_, title.c_str());
  if (cls_ == ids::kClassText) {
    FillTexts(selected);
    return;
  }
  entries_ = ListFolder(*FolderOf(&state_, cls_), cls_);
  ShowView(selected);
}

void GalleryDialog::ShowView(int selected) {
  grid_.reset();
  list_.reset();
  if (Grid()) {
    grid_ = std::make_unique<ThumbGrid>(resources_, &entries_);
    if (grid_->Open(hwnd_, area_, selected)) SetFocus(grid_->Handle());
    ::SendMessage(hwnd_, ids::kMsgListChanged, 0, 0);
    return;
  }
  list_ = std::make_unique<MediaList>(resources_);
  if (!list_->Open(hwnd_, area_, ids::kClassMediaList)) return;
  std::vector<ListRowText> rows;
  const std::u16string kb = Text(ids::kStrKilobytes), mb = Text(ids::kStrMegabytes);
  for (const auto& e : entries_) {
    ListRowText row;
    row.text = e->Name();
    if (e->type != EntryType::File) {
      row.icon = ids::kIconFolder;
    } else {
      row.icon = cls_ == ids::kClassSound ? ids::kIconSound
                 : cls_ == ids::kClassVideo ? ids::kIconVideo
                                            : ids::kIconPicture;
      row.size = viewer::FormatSize(e->size, kb, mb);
    }
    rows.push_back(std::move(row));
  }
  SetFocus(list_->Handle());
  list_->SetRows(std::move(rows), selected);
}

void GalleryDialog::UpdateSoftKey() {
  UINT command = ids::kCmdInsert;
  std::u16string label = Text(40127);
  bool enabled = true;
  if (cls_ == ids::kClassText) {
    if (texts_.empty()) command = ids::kCmdNewText;
  } else if (const MediaEntry* e = SelectedEntry()) {
    if (e->type != EntryType::File) command = ids::kCmdView;
  } else {
    enabled = false;
  }
  if (command != ids::kCmdInsert && menuTexts_) {
    WCHAR text[64] = {};
    if (GetMenuString(menuTexts_, command, text, 64, MF_BYCOMMAND) > 0) label = text;
  }
  HWND bar = SHFindMenuBar(hwnd_);
  if (!bar) return;
  TBBUTTONINFO info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT | TBIF_COMMAND | TBIF_STATE;
  info.idCommand = static_cast<int>(command);
  info.fsState = enabled ? TBSTATE_ENABLED : 0;
  info.pszText = label.data();
  if (::SendMessage(bar, TB_SETBUTTONINFO, leftCommand_, reinterpret_cast<LPARAM>(&info))) leftCommand_ = command;
}

LRESULT GalleryDialog::OnListChanged(WPARAM, LPARAM) {
  UpdateSoftKey();
  return 0;
}

LRESULT GalleryDialog::OnSelected(WPARAM, LPARAM) {
  UpdateSoftKey();
  return 0;
}

void GalleryDialog::BuildPopup(HMENU popup) {
  while (GetMenuItemCount(popup) > 0) DeleteMenu(popup, 0, MF_BYPOSITION);
  auto add = [&](UINT id, bool enabled = true) {
    WCHAR text[64] = {};
    if (!menuTexts_ || GetMenuString(menuTexts_, id, text, 64, MF_BYCOMMAND) <= 0) return;
    AppendMenu(popup, MF_STRING | (enabled ? MF_ENABLED : MFS_GRAYED), id, text);
  };
  if (cls_ == ids::kClassText) {
    const bool any = !texts_.empty();
    add(ids::kCmdInsert, any);
    add(ids::kCmdNewText);
    add(ids::kCmdEditText, any);
    add(ids::kCmdDelete, any);
    return;
  }
  const MediaEntry* e = SelectedEntry();
  const bool file = e && e->type == EntryType::File;
  if (file) add(ids::kCmdInsert);
  if (cls_ != ids::kClassSound) add(ids::kCmdView, e != nullptr);
  if (cls_ == ids::kClassPicture) add(ids::kCmdPreview, file);
  if (cls_ != ids::kClassPicture) {
    add(ids::kCmdPlay, file);
    if (cls_ == ids::kClassSound) add(ids::kCmdStop, soundOpen_);
  }
  if (cls_ == ids::kClassPicture) add(ids::kCmdVideos);
  if (cls_ == ids::kClassVideo) add(ids::kCmdPictures);
  if (cls_ != ids::kClassSound) add(Grid() ? ids::kCmdDetails : ids::kCmdGrid);
  add(ids::kCmdInformation, file);
  add(ids::kCmdDelete, file);
  const bool camera = (cls_ == ids::kClassPicture && config_->GetCameraEnable()) ||
                      (cls_ == ids::kClassVideo && config_->GetCaptureVideoEnable());
  if (camera) add(ids::kCmdCamera);
}

LRESULT GalleryDialog::OnInitMenuPopup(WPARAM wParam, LPARAM) {
  BuildPopup(reinterpret_cast<HMENU>(wParam));
  return 0;
}

LRESULT GalleryDialog::OnKeyDown(WPARAM wParam, LPARAM) {
  if (wParam == VK_TBACK) OnCancel(0, 0);
  return 0;
}

void GalleryDialog::CloseSound() {
  if (soundOpen_ && gAudio) gAudio->CloseClip();
  soundOpen_ = false;
}

void GalleryDialog::Finish(std::u16string result) {
  CloseSound();
  result_ = std::move(result);
  if (cls_ == ids::kClassText) SaveTexts();
  CloseFolders(*config_, &state_);
  End(1);
}

LRESULT GalleryDialog::OnOK(WPARAM, LPARAM) {
  return ::SendMessage(hwnd_, WM_COMMAND, leftCommand_, 0);
}

LRESULT GalleryDialog::OnCancel(WPARAM, LPARAM) {
  CloseSound();
  if (cls_ == ids::kClassText) SaveTexts();
  CloseFolders(*config_, &state_);
  result_.reset();
  End(2);
  return 0;
}

LRESULT GalleryDialog::OnInsert(WPARAM, LPARAM) {
  if (cls_ == ids::kClassText) {
    const int i = Selected();
    if (i >= 0 && i < static_cast<int>(texts_.size())) Finish(texts_[static_cast<std::size_t>(i)]);
    return 0;
  }
  MediaEntry* e = SelectedEntry();
  if (!e) return 0;
  if (e->type != EntryType::File) return OnView(0, 0);
  mask_ = e->kind;
  state_.mask = mask_;
  Finish(e->path);
  return 0;
}

LRESULT GalleryDialog::OnView(WPARAM, LPARAM) {
  MediaEntry* e = SelectedEntry();
  if (!e) return 0;
  if (e->type != EntryType::File) {
    // A folder entry opens: it becomes the current folder.
    *FolderOf(&state_, cls_) = e->path;
    Fill(0);
    return 0;
  }
  CloseSound();
  if (cls_ == ids::kClassPicture) {
    if (viewPicture) viewPicture(hwnd_, *e);
    else viewer::RunPictureView(hwnd_, e->path, e->kind, ViewerContext());
  } else if (cls_ == ids::kClassVideo) {
    if (viewVideo) viewVideo(hwnd_, *e);
    else viewer::RunVideoView(hwnd_, e->path, ViewerContext());
  }
  return 0;
}

LRESULT GalleryDialog::OnPreview(WPARAM, LPARAM) {
  MediaEntry* e = SelectedEntry();
  if (!e || e->type != EntryType::File) return 0;
  if (cls_ == ids::kClassSound) return OnPlay(0, 0);
  return OnView(0, 0);
}

LRESULT GalleryDialog::OnPlay(WPARAM, LPARAM) {
  MediaEntry* e = SelectedEntry();
  if (!e || e->type != EntryType::File) return 0;
  if (cls_ == ids::kClassVideo) return OnView(0, 0);
  if (cls_ != ids::kClassSound || !gAudio) return 0;
  CloseSound();
  // Opening answers the clip's length, or -1.
  if (gAudio->OpenClip(e->path, hwnd_) >= 0 && gAudio->PlayClip() == 0) soundOpen_ = true;
  else gAudio->CloseClip();
  return 0;
}

LRESULT GalleryDialog::OnStop(WPARAM, LPARAM) {
  CloseSound();
  return 0;
}

LRESULT GalleryDialog::OnClipProgress(WPARAM wParam, LPARAM lParam) {
  // The clip is closed once its position reaches its length.
  if (soundOpen_ && wParam == static_cast<WPARAM>(lParam)) CloseSound();
  return 0;
}

void GalleryDialog::SwitchMask(std::uint32_t mask) {
  CloseSound();
  mask_ = mask;
  state_.mask = mask;
  Fill(0);
}

LRESULT GalleryDialog::OnVideos(WPARAM, LPARAM) {
  SwitchMask(ids::kMaskVideos);
  return 0;
}

LRESULT GalleryDialog::OnPictures(WPARAM, LPARAM) {
  SwitchMask(ids::kMaskPictures);
  return 0;
}

void GalleryDialog::SetViewMode(int mode) {
  if (cls_ == ids::kClassPicture) state_.pictureView = mode;
  else if (cls_ == ids::kClassVideo) state_.videoView = mode;
  else return;
  ShowView(Selected());
}

LRESULT GalleryDialog::OnDetails(WPARAM, LPARAM) {
  SetViewMode(ids::kViewDetails);
  return 0;
}

LRESULT GalleryDialog::OnGrid(WPARAM, LPARAM) {
  SetViewMode(ids::kViewGrid);
  return 0;
}

LRESULT GalleryDialog::OnInformation(WPARAM, LPARAM) {
  MediaEntry* e = SelectedEntry();
  if (!e || e->type != EntryType::File) return 0;
  viewer::PartEntry part;
  part.path = e->path;
  part.size = e->size;
  part.modified = e->writeTime;
  part.kind = e->kind;
  viewer::ShowMediaInformation(hwnd_, part, ViewerContext());
  return 0;
}

LRESULT GalleryDialog::OnDelete(WPARAM, LPARAM) {
  if (cls_ == ids::kClassText) {
    const int i = Selected();
    if (i < 0 || i >= static_cast<int>(texts_.size()) || !Confirm(ids::kStrDeleteText)) return 0;
    texts_.erase(texts_.begin() + i);
    FillTexts(i);
    return 0;
  }
  MediaEntry* e = SelectedEntry();
  if (!e || e->type != EntryType::File) return 0;
  const UINT question = cls_ == ids::kClassSound ? ids::kStrDeleteSound
                        : cls_ == ids::kClassVideo ? ids::kStrDeleteVideo
                                                   : ids::kStrDeletePicture;
  if (!Confirm(question)) return 0;
  CloseSound();
  // The row goes only once the file is gone.
  if (!platform::DeleteFile(e->path)) return 0;
  const int i = Selected();
  entries_.erase(entries_.begin() + i);
  ShowView(i);
  return 0;
}

std::optional<std::u16string> RunGallery(HWND owner, std::uint32_t* kindMask) {
  ui::AppContext& context = ui::Context();
  if (!context.resources || !context.config) return std::nullopt;
  GalleryDialog dialog(context.resources, context.config, kindMask ? *kindMask : ids::kMaskPictures);
  std::optional<std::u16string> result = dialog.Run(owner);
  if (kindMask) *kindMask = dialog.mask();
  return result;
}

}  // namespace gallery
