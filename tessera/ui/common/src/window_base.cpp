#include "ui/common/window_base.h"

#include "platform/dialogs.h"

namespace ui {

const MessageMapEntry WindowBase::kEntries[] = {
    {kEntryMessage, WM_PAINT, &WindowBase::OnPaint},
    {kEntryMessage, WM_COMMAND, &WindowBase::OnCommand},
    {kEntryMessage, WM_HELP, &WindowBase::OnHelp},
    {kEntryEnd, 0, nullptr},
};
const MessageTable WindowBase::kTable = {nullptr, WindowBase::kEntries};

WindowBase::~WindowBase() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLong(hwnd_, GWL_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  hwnd_ = nullptr;
}

BOOL WindowBase::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return IsWindow(hwnd_) ? ::PostMessage(hwnd_, message, wParam, lParam) : FALSE;
}

LRESULT WindowBase::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return IsWindow(hwnd_) ? ::SendMessage(hwnd_, message, wParam, lParam) : 0;
}

LRESULT WindowBase::OnPaint(WPARAM, LPARAM) {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(hwnd_, &ps);
  if (dc) OnDraw(dc);
  EndPaint(hwnd_, &ps);
  return 0;
}

LRESULT WindowBase::OnCommand(WPARAM wParam, LPARAM lParam) {
  const UINT id = LOWORD(wParam);
  for (const MessageTable* table = GetMessageTable(); table; table = table->base)
    for (const MessageMapEntry* row = table->entries; row->kind != kEntryEnd; ++row)
      if (row->kind == kEntryCommand && row->id == id) return (this->*row->handler)(wParam, lParam);
  return DefWindowProc(WM_COMMAND, wParam, lParam);
}

LRESULT WindowBase::OnHelp(WPARAM wParam, LPARAM lParam) {
  // The phone has no help viewer; a window with a help context just swallows the key.
  if (GetHelpContext().empty()) return DefWindowProc(WM_HELP, wParam, lParam);
  return 0;
}

LRESULT WindowBase::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProc(hwnd_, message, wParam, lParam);
}

bool WindowBase::RegisterClass(const WCHAR* className, HBRUSH background) {
  WNDCLASS existing{};
  if (GetClassInfo(nullptr, className, &existing)) return true;
  WNDCLASS wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &WindowBase::Procedure;
  wc.hbrBackground = background ? background : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = className;
  return ::RegisterClass(&wc) != 0;
}

bool WindowBase::Create(const WCHAR* className, const WCHAR* title, DWORD style, int x, int y, int width,
                        int height, HWND parent, HBRUSH background, int controlId) {
  if (!RegisterClass(className, background)) return false;
  HWND hwnd = CreateWindowEx(0, className, title, style, x, y, width, height, parent,
                             reinterpret_cast<HMENU>(static_cast<std::intptr_t>(controlId)), nullptr, this);
  if (!hwnd) return false;
  if (!hwnd_) Attach(hwnd);
  if (!OnCreated()) {
    SetWindowLong(hwnd, GWL_USERDATA, 0);
    DestroyWindow(hwnd);
    hwnd_ = nullptr;
    return false;
  }
  return true;
}

BOOL WindowBase::Show(int command) {
  return IsWindow(hwnd_) ? ShowWindow(hwnd_, command) : FALSE;
}
BOOL WindowBase::Update() {
  return IsWindow(hwnd_) ? UpdateWindow(hwnd_) : FALSE;
}
BOOL WindowBase::Invalidate() {
  return IsWindow(hwnd_) ? InvalidateRect(hwnd_, nullptr, FALSE) : FALSE;
}
UINT_PTR WindowBase::StartTimer(UINT_PTR id, UINT elapseMs) {
  return IsWindow(hwnd_) ? ::SetTimer(hwnd_, id, elapseMs, nullptr) : 0;
}
BOOL WindowBase::StopTimer(UINT_PTR id) {
  return IsWindow(hwnd_) ? ::KillTimer(hwnd_, id) : FALSE;
}
BOOL WindowBase::ClientRect(RECT* rect) const {
  return IsWindow(hwnd_) ? GetClientRect(hwnd_, rect) : FALSE;
}
BOOL WindowBase::WindowRect(RECT* rect) const {
  return IsWindow(hwnd_) ? GetWindowRect(hwnd_, rect) : FALSE;
}
HWND WindowBase::Parent() const {
  return IsWindow(hwnd_) ? GetParent(hwnd_) : nullptr;
}
LRESULT WindowBase::Destroy() {
  return IsWindow(hwnd_) ? ::SendMessage(hwnd_, WM_CLOSE, 0, 0) : 0;
}

void WindowBase::Attach(HWND hwnd) {
  hwnd_ = hwnd;
  SetWindowLong(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WindowBase* WindowBase::FromHandle(HWND hwnd) {
  return hwnd ? reinterpret_cast<WindowBase*>(GetWindowLong(hwnd, GWL_USERDATA)) : nullptr;
}

bool WindowBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  for (const MessageTable* table = GetMessageTable(); table; table = table->base)
    for (const MessageMapEntry* row = table->entries; row->kind != kEntryEnd; ++row) {
      const bool match = row->kind == kEntryCommand ? message == WM_COMMAND && LOWORD(wParam) == row->id
                                                    : row->id == message;
      if (match) {
        *result = (this->*row->handler)(wParam, lParam);
        return true;
      }
    }
  return false;
}

LRESULT WindowBase::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCT*>(lParam);
    if (auto* self = create ? static_cast<WindowBase*>(create->lpCreateParams) : nullptr) self->Attach(hwnd);
  }
  WindowBase* self = FromHandle(hwnd);
  if (!self) return ::DefWindowProc(hwnd, message, wParam, lParam);
  LRESULT result = 0;
  if (!self->Dispatch(message, wParam, lParam, &result)) result = self->DefWindowProc(message, wParam, lParam);
  if (message == WM_DESTROY) {
    SetWindowLong(hwnd, GWL_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->OnDestroyed();
  }
  return result;
}

}  // namespace ui
