#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/display.h"
#include "platform/window.h"
#include "platform_testing/device_root.h"

// The other process is this test binary again, running only WindowIpcChild.Serve with
// WINDOW_IPC_CHILD set: it shows a window and answers until it gets WM_CLOSE.

namespace {

LRESULT ChildProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_COPYDATA: {
      auto* cds = reinterpret_cast<COPYDATASTRUCT*>(l);
      std::ofstream out(platform::WindowDeviceRoot() + "/got.bin", std::ios::binary);
      out.write(static_cast<const char*>(cds->lpData), cds->cbData);
      return static_cast<LRESULT>(cds->dwData + 1);
    }
    case WM_USER + 5:
      return static_cast<LRESULT>(w + l);
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProc(h, m, w, l);
  }
}

TEST(WindowIpcChild, Serve) {
  if (!std::getenv("WINDOW_IPC_CHILD")) GTEST_SKIP() << "runs only as the helper process";
  WNDCLASS wc{};
  wc.lpfnWndProc = ChildProc;
  wc.lpszClassName = u"IpcTarget";
  ASSERT_NE(RegisterClass(&wc), 0);
  HWND h = CreateWindowEx(0, u"IpcTarget", u"target", WS_VISIBLE, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                          nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
}

pid_t StartChild() {
  pid_t pid = fork();
  if (pid == 0) {
    setenv("WINDOW_IPC_CHILD", "1", 1);
    setenv("TESSERA_DISPLAY", "headless", 1);
    execl("/proc/self/exe", "platform_tests", "--gtest_filter=WindowIpcChild.Serve", nullptr);
    _exit(127);
  }
  return pid;
}

HWND WaitForWindow(const char16_t* cls) {
  for (int i = 0; i < 500; ++i) {
    if (HWND h = FindWindow(cls, nullptr)) return h;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

TEST(WindowIpc, FindForegroundAndCopyDataAcrossProcesses) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  platform_testing::ScopedDeviceRoot root;
  // A socket left behind by a dead process is ignored and cleaned up.
  std::string runDir = root.path() + "/run";
  ::mkdir(runDir.c_str(), 0700);
  std::string stale = runDir + "/win-2147483646.sock";
  std::ofstream(stale).put('x');

  pid_t pid = StartChild();
  ASSERT_GT(pid, 0);
  HWND remote = WaitForWindow(u"IpcTarget");
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(access(stale.c_str(), F_OK), -1);
  EXPECT_EQ(FindWindow(u"IpcTarget", u"target"), remote);
  EXPECT_EQ(FindWindow(u"IpcTarget", u"other"), nullptr);
  EXPECT_TRUE(IsWindow(remote));
  DWORD remotePid = 0;
  GetWindowThreadProcessId(remote, &remotePid);
  EXPECT_EQ(remotePid, static_cast<DWORD>(pid));

  // A record as big as the camera hand-off's, zero bytes included.
  std::string record(3124, '\0');
  for (std::size_t i = 0; i < record.size(); i += 7) record[i] = static_cast<char>(i & 0x7F);
  COPYDATASTRUCT cds{41, static_cast<DWORD>(record.size()), record.data()};
  EXPECT_EQ(SendMessage(remote, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 42);
  std::ifstream in(root.path() + "/got.bin", std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, record);
  EXPECT_EQ(SendMessage(remote, WM_USER + 5, 3, 4), 7);
  EXPECT_TRUE(SetForegroundWindow(remote));
  auto tagged = reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(remote) | 1);
  EXPECT_TRUE(SetForegroundWindow(tagged));
  // Pointers other than the copy-data block cannot cross; posting copy-data is refused.
  EXPECT_FALSE(PostMessage(remote, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));

  EXPECT_TRUE(PostMessage(remote, WM_CLOSE, 0, 0));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FindWindow(u"IpcTarget", nullptr), nullptr);
  EXPECT_EQ(SendMessage(remote, WM_USER + 5, 1, 1), 0);
}

TEST(WindowIpc, KilledProcessIsSkipped) {
  setenv("TESSERA_DISPLAY", "headless", 1);
  platform_testing::ScopedDeviceRoot root;
  pid_t pid = StartChild();
  ASSERT_GT(pid, 0);
  ASSERT_NE(WaitForWindow(u"IpcTarget"), nullptr);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // Its socket file is still there, but nobody answers.
  EXPECT_EQ(FindWindow(u"IpcTarget", nullptr), nullptr);
}

}  // namespace
