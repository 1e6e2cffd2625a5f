#include "ui/shell/placeholder_screen.h"

#include <memory>

#include "platform/menubar.h"
#include "platform/text.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"

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

bool RunFolderView(HWND owner, int, std::function<void()> onLeave) {
  return Show(owner, kStrScreenFolder, std::move(onLeave));
}
bool OpenComposer(HWND owner, std::uint32_t, std::function<void()> onLeave) {
  return Show(owner, kStrScreenComposer, std::move(onLeave));
}
bool OpenViewer(HWND owner, std::uint32_t, std::function<void()> onLeave) {
  return Show(owner, kStrScreenViewer, std::move(onLeave));
}
bool RunSettings(HWND owner, std::function<void()> onLeave) {
  return Show(owner, kStrScreenSettings, std::move(onLeave));
}
bool RunSendPage(HWND owner, std::uint32_t, std::function<void()> onLeave) {
  return Show(owner, kStrScreenSendPage, std::move(onLeave));
}
bool RunGallery(HWND owner, std::function<void()> onLeave) {
  return Show(owner, kStrScreenGallery, std::move(onLeave));
}

}  // namespace ui
