// The camera application: a window of class "RADE_AGENT". A camera request (WM_COPYDATA
// 47000) shows the viewfinder; the left soft key takes the photograph or records the clip
// into the requested folder, the right one cancels; either way the requester gets the reply
// (WM_COPYDATA 48000: a 20-byte header whose first word is 0 on success, then the new file's
// path) and the agent ends. With TESSERA_CAMERA_AUTO=1 it shoots as soon as it is asked.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture.h"
#include "platform/dialogs.h"
#include "platform/gdi.h"
#include "platform/menubar.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr UINT kCmdShoot = 1;
constexpr UINT kCmdCancel = 2;
constexpr UINT kMsgShootNow = WM_USER + 1;
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFrameMs = 100;

struct Agent {
  HWND window = nullptr;
  HWND replyTo = nullptr;
  camera::Request request;
  bool asked = false;
  int frame = 0;
};
Agent agent;

void Reply(std::uint32_t status, const std::u16string& path) {
  if (agent.replyTo) {
    std::vector<std::uint8_t> block(20 + 2 * (path.size() + 1), 0);
    for (int i = 0; i < 4; ++i) block[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(status >> (8 * i));
    for (std::size_t i = 0; i < path.size(); ++i) {
      block[20 + 2 * i] = static_cast<std::uint8_t>(path[i]);
      block[20 + 2 * i + 1] = static_cast<std::uint8_t>(path[i] >> 8);
    }
    COPYDATASTRUCT data{camera::kReplyType, static_cast<DWORD>(block.size()), block.data()};
    SendMessage(agent.replyTo, WM_COPYDATA, reinterpret_cast<WPARAM>(agent.window), reinterpret_cast<LPARAM>(&data));
  }
  DestroyWindow(agent.window);
}

void Shoot() {
  if (!agent.asked) return;
  agent.asked = false;
  KillTimer(agent.window, kFrameTimer);
  const std::string path = agent.request.mode == 1
                               ? camera::RecordClip(agent.request.folder, agent.request.maxBytes)
                               : camera::TakePhoto(agent.request.folder, agent.request.orientation == 1,
                                                   agent.request.maxBytes);
  Reply(path.empty() ? 1 : 0, platform::Utf8ToUtf16(path));
}

// The viewfinder: colour bars that move, a stand-in for the live picture.
void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client{};
  GetClientRect(hwnd, &client);
  const COLORREF bars[] = {RGB(255, 255, 255), RGB(255, 255, 0), RGB(0, 255, 255), RGB(0, 255, 0),
                           RGB(255, 0, 255),   RGB(255, 0, 0),   RGB(0, 0, 255),   RGB(0, 0, 0)};
  const int width = client.right - client.left, step = std::max(1, width / 8);
  for (int i = 0; i < 9; ++i) {
    const int x = client.left + i * step - (agent.frame * 4) % step;
    RECT bar{x, client.top, x + step, client.bottom};
    HBRUSH brush = CreateSolidBrush(bars[(i + agent.frame * 4 / step) % 8]);
    FillRect(dc, &bar, brush);
    DeleteObject(brush);
  }
  EndPaint(hwnd, &ps);
}

LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || data->dwData != camera::kRequestType ||
          !camera::ParseRequest(data->lpData, data->cbData, &agent.request))
        return FALSE;
      // The reply goes to the sender; the record's handle field holds only its low 32 bits.
      agent.replyTo = reinterpret_cast<HWND>(wParam);
      agent.asked = true;
      SetTimer(hwnd, kFrameTimer, kFrameMs, nullptr);
      const char* automatic = std::getenv("TESSERA_CAMERA_AUTO");
      if (automatic && std::string(automatic) == "1") PostMessage(hwnd, kMsgShootNow, 0, 0);
      return TRUE;
    }
    case kMsgShootNow:
      Shoot();
      return 0;
    case WM_TIMER:
      ++agent.frame;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCmdShoot) Shoot();
      if (LOWORD(wParam) == kCmdCancel) {
        agent.asked = false;
        Reply(1, u"");
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProc(hwnd, msg, wParam, lParam);
  }
}

}  // namespace

int main() {
  WNDCLASS wc{};
  wc.lpfnWndProc = &Proc;
  wc.lpszClassName = u"RADE_AGENT";
  if (!RegisterClass(&wc)) return 1;
  agent.window = CreateWindowEx(0, u"RADE_AGENT", u"Camera", WS_VISIBLE, 0, 0, 176, 220, nullptr, nullptr,
                                nullptr, nullptr);
  if (!agent.window) return 1;
  platform::CreateSoftKeyBar(agent.window, u"Capture", kCmdShoot, u"Cancel", kCmdCancel);
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  return 0;
}
