#include "ui/shell/placeholder_screen.h"

#include <memory>

#include "composer/composer_frame.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "sendpage/send_page.h"
#include "settings/settings_screens.h"
#include "store/message_store.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/main_frame.h"
#include "viewer/video_playback.h"
#include "viewer/viewer_dialog.h"

namespace ui {

const MessageMapEntry PlaceholderScreen::kEntries[] = {
    {kEntryMessage, WM_KEYDOWN, Bind(&PlaceholderScreen::OnKeyDown)},
    {kEntryMessage, WM_PLATFORM_DESCRIBE, Bind(&PlaceholderScreen::OnDescribe)},
    {kEntryCommand, kIdOk, Bind(&PlaceholderScreen::OnLeaveCommand)},
    {kEntryCommand, kIdCancel, Bind(&PlaceholderScreen::OnLeaveCommand)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable PlaceholderScreen::kTable = {&WindowBase::kTable, PlaceholderScreen::kEntries};

namespace {

std::u16string Format(std::u16string pattern, const std::u16string& name) {
  const std::size_t at = pattern.find(u"%s");
  if (at == std::u16string::npos) return name + u": " + pattern;
  return pattern.replace(at, 2, name);
}

}  // namespace

bool PlaceholderScreen::Open(HWND owner, UINT nameId) {
  text_ = Format(LoadUiText(kStrNotBuilt), LoadUiText(nameId));
  RECT client{};
  GetClientRect(owner, &client);
  POINT origin{client.left, client.top};
  ClientToScreen(owner, &origin);
  if (!Create(u"TesseraPlaceholder", text_.c_str(), WS_POPUP | WS_VISIBLE, origin.x, origin.y,
              client.right - client.left, client.bottom - client.top, owner))
    return false;
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  return true;
}

void PlaceholderScreen::OnDraw(HDC dc) {
  RECT client{};
  ClientRect(&client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  InflateRect(&client, -6, -6);
  DrawText(dc, text_.c_str(), static_cast<int>(text_.size()), &client, DT_CENTER | DT_WORDBREAK);
}

LRESULT PlaceholderScreen::OnDescribe(WPARAM, LPARAM lParam) {
  if (auto* out = reinterpret_cast<std::string*>(lParam)) *out += "text: " + platform::Utf16ToUtf8(text_) + "\n";
  return 1;
}

LRESULT PlaceholderScreen::OnKeyDown(WPARAM wParam, LPARAM lParam) {
  const UINT key = static_cast<UINT>(wParam);
  if (key == VK_RETURN || key == VK_TBACK || key == VK_TSOFT1 || key == VK_TSOFT2) {
    Leave();
    return 0;
  }
  return DefWindowProc(WM_KEYDOWN, wParam, lParam);
}

LRESULT PlaceholderScreen::OnLeaveCommand(WPARAM, LPARAM) {
  Leave();
  return 0;
}

void PlaceholderScreen::Leave() {
  auto leave = std::move(onLeave);
  onLeave = nullptr;
  if (hwnd_) DestroyWindow(hwnd_);
  if (leave) leave();
}

namespace {

// The open placeholder; one at a time, replaced by the next.
std::unique_ptr<PlaceholderScreen>& Current() {
  static std::unique_ptr<PlaceholderScreen> screen;
  return screen;
}

bool Show(HWND owner, UINT nameId, std::function<void()> onLeave) {
  auto screen = std::make_unique<PlaceholderScreen>();
  screen->onLeave = std::move(onLeave);
  if (!screen->Open(owner, nameId)) return false;
  Current() = std::move(screen);
  return true;
}

}  // namespace

namespace {

std::u16string WithSeparator(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'/') folder += u'/';
  return folder;
}

viewer::ViewerContext MakeViewerContext() {
  AppContext& context = Context();
  viewer::ViewerContext viewerContext;
  viewerContext.resources = context.resources;
  viewerContext.audio = context.application ? context.application->AudioLoader() : nullptr;
  viewerContext.video = &viewer::VideoPlayback::Get();
  if (context.config) {
    viewerContext.picturePath = WithSeparator(context.config->GetPicturePath(true));
    viewerContext.soundPath = WithSeparator(context.config->GetSoundPath(true));
    viewerContext.videoPath = WithSeparator(context.config->GetVideoPath(true));
    viewerContext.unknownPath = WithSeparator(context.config->GetUnknownPath(true));
    viewerContext.cannedTextsFile = context.config->GetCannedtextFile();
  }
  return viewerContext;
}

}  // namespace

bool OpenComposer(HWND owner, const ComposerRequest& request) {
  AppContext& context = Context();
  if (!context.resources || !context.mainFrame) return false;
  composer::ComposerHost host;
  host.store = &context.mainFrame->Store();
  host.leave = request.onLeave;
  host.sendFromDrafts = request.sendFromDrafts;
  host.preview = [](HWND previewOwner, store::MessageEntry* entry) {
    viewer::RunViewer(previewOwner, entry, MakeViewerContext());
  };
  return composer::OpenComposer(owner, std::move(host), request.messageId, request.mode, request.previousView);
}

bool OpenViewer(HWND owner, std::uint32_t messageId, std::function<void()> onLeave) {
  AppContext& context = Context();
  if (!context.resources || !context.mainFrame) return false;
  // Received and sent messages are the ones the viewer plays.
  store::MessageFolder* folder = nullptr;
  store::MessageEntry* entry = nullptr;
  for (store::FolderId id : {store::FolderId::Inbox, store::FolderId::Sent}) {
    folder = context.mainFrame->Store().Folder(id);
    if (folder && (entry = folder->CheckOut(messageId)) != nullptr) break;
  }
  if (!entry) return false;
  viewer::RunViewer(owner, entry, MakeViewerContext());
  folder->Release(entry);
  if (onLeave) onLeave();
  return true;
}

bool RunSettings(HWND owner, std::function<void()> onLeave) {
  const ResourceLibrary* resources = Context().resources;
  if (!resources) return false;
  RunSettings(*resources, owner);
  if (onLeave) onLeave();
  return true;
}
bool RunSendPage(HWND owner, std::uint32_t messageId, std::function<void()> onLeave) {
  AppContext& context = Context();
  if (!context.resources || !context.mainFrame) return false;
  store::MessageStore& messages = context.mainFrame->Store();
  // A draft, or a message waiting in the Outbox, goes out from the page.
  store::FolderId from = store::FolderId::Draft;
  store::MessageFolder* folder = messages.Folder(from);
  store::MessageEntry* entry = folder ? folder->CheckOut(messageId) : nullptr;
  if (!entry) {
    from = store::FolderId::Outbox;
    folder = messages.Folder(from);
    entry = folder ? folder->CheckOut(messageId) : nullptr;
  }
  if (!entry) return false;
  SendPageContext page;
  page.resources = context.resources;
  page.contacts = context.contacts;
  if (context.config) {
    page.defaultResolution = static_cast<int>(context.config->GetDefaultResolution());
    page.alphaTagDisplayText = context.config->GetAlphaTagDispTxt();
  }
  bool changed = false;
  const bool sent = RunSendPage(page, entry, owner, &changed, false) == 1;
  // The page wrote the document; the summary (recipients, subject, date) goes with the index.
  if (sent || changed) folder->Save();
  folder->Release(entry);
  if (sent) {
    // Into the Outbox, then queued as navigation code 5 queues any Outbox message.
    bool queued = from == store::FolderId::Outbox || messages.Move(messageId, from, store::FolderId::Outbox);
    store::MessageFolder* outbox = messages.Folder(store::FolderId::Outbox);
    if (queued && from != store::FolderId::Outbox && outbox) {
      if (store::MessageEntry* moved = outbox->CheckOut(messageId)) {
        moved->Summary().SetStateFlagsNew(store::StateAfter(store::StateEvent::StoredComposed));
        outbox->Release(moved);
        outbox->Save();
      }
    }
    if (queued) ::SendMessage(context.mainFrame->Handle(), kMsgNavigate, kNavSend, static_cast<LPARAM>(messageId));
  }
  if (onLeave) onLeave();
  return true;
}
bool RunGallery(HWND owner, std::function<void()> onLeave) {
  return Show(owner, kStrScreenGallery, std::move(onLeave));
}

}  // namespace ui
