// The bearer's status dispatch, its destination choice and notify message, and the logs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/bearer_connection.h"
#include "engine/transfer_log.h"
#include "engine_test_util.h"

namespace engine::testing {
namespace {

class RecordingBearer : public BearerConnection {
 public:
  RecordingBearer() : BearerConnection(nullptr, kMsgBearerState) {}
  ~RecordingBearer() override { StopAndWait(); }
  int OnFailed(DWORD status) override {
    calls.push_back("failed " + std::to_string(status));
    return -1;
  }
  int OnConnected() override {
    calls.push_back("connected");
    return 0;
  }
  int OnDisconnected() override {
    calls.push_back("disconnected");
    return -1;
  }
  int OnWaiting() override {
    calls.push_back("waiting");
    return 0;
  }
  std::vector<std::string> calls;
};

TEST(Bearer, StatusDispatch) {
  RecordingBearer b;
  EXPECT_EQ(b.OnStatus(0x10), 0);
  EXPECT_NE(b.OnStatus(0x20), 0);
  EXPECT_TRUE(b.Disconnected());
  EXPECT_NE(b.OnStatus(0x21), 0);  // failed
  EXPECT_FALSE(b.Disconnected());
  EXPECT_NE(b.OnStatus(0x24), 0);  // no path to destination
  EXPECT_EQ(b.OnStatus(0x40), 0);
  EXPECT_EQ(b.OnStatus(0x4F), 0);
  EXPECT_EQ(b.OnStatus(0x01), 0);  // ignored
  EXPECT_EQ(b.OnStatus(0x11), 0);  // not exactly connected: ignored
  const std::vector<std::string> want = {"connected", "disconnected", "failed 33", "failed 36", "waiting", "waiting"};
  EXPECT_EQ(b.calls, want);
}

TEST(Bearer, RequestRecordAndErrorText) {
  GUID g{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  CONNMGR_CONNECTIONINFO r = MakeConnectionRequest(g);
  EXPECT_EQ(r.cbSize, sizeof r);
  EXPECT_EQ(r.dwParams, 1u);
  EXPECT_EQ(r.dwFlags, 6u);
  EXPECT_EQ(r.dwPriority, 0x8000u);
  EXPECT_EQ(r.bExclusive, 0);
  EXPECT_TRUE(r.guidDestNet == g);
  EXPECT_EQ(r.hWnd, nullptr);
  EXPECT_EQ(NetworkErrorParameters(0x21), u"-CMERROR 0x21 -report");
}

int g_bearerMessages = 0;
LRESULT CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgBearerState) ++g_bearerMessages;
  return DefWindowProc(hwnd, message, wParam, lParam);
}

TEST(Bearer, ConnectsToTheNamedDestinationAndReportsIt) {
  platform_testing::ScopedDeviceRoot root;
  g_bearerMessages = 0;
  WNDCLASS wc{};
  wc.lpfnWndProc = &CountingProc;
  wc.lpszClassName = u"BearerTestFrame";
  RegisterClass(&wc);
  HWND window =
      CreateWindowEx(0, u"BearerTestFrame", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  CONNMGR_DESTINATION_INFO internet{}, wap{};
  ASSERT_EQ(ConnMgrEnumDestinations(0, &internet), S_OK);
  ASSERT_EQ(ConnMgrEnumDestinations(1, &wap), S_OK);
  {
    NotifyingBearer bearer(window, kMsgBearerState);
    EXPECT_EQ(bearer.Status(), 0u);
    ASSERT_EQ(bearer.Connect(u"WAP Network"), S_OK);
    EXPECT_TRUE(bearer.Destination() == wap.guid);
    const DWORD start = GetTickCount();
    while (g_bearerMessages == 0 && GetTickCount() - start < 5000) {
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
      Sleep(2);
    }
    EXPECT_EQ(g_bearerMessages, 1);
    EXPECT_EQ(bearer.Status(), CONNMGR_STATUS_CONNECTED);
    // An unknown name falls back to the first destination; restarting leaves one watcher.
    ASSERT_EQ(bearer.Connect(u"wap network"), S_OK);
    EXPECT_TRUE(bearer.Destination() == internet.guid);
    ASSERT_EQ(bearer.Connect(u""), S_OK);
    // Destroying the bearer waits for its threads, even while they report to this thread.
  }
  // No destinations at all: Connect fails.
  SetText(kConnMgrDestinationsKey, u"x", u"only");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kConnMgrDestinationsKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  RegDeleteValue(key, u"x");
  RegCloseKey(key);
  NotifyingBearer none(window, kMsgBearerState);
  EXPECT_EQ(none.Connect(u"only"), E_FAIL);
  DestroyWindow(window);
}

TEST(TransferLogFile, FirstLineReplacesLaterLinesAppend) {
  platform_testing::ScopedDeviceRoot root;
  const std::u16string dir = platform::Utf8ToUtf16(root.path());
  TransferLog log(kSendLogName, dir);
  EXPECT_EQ(log.Path(), dir + u"/Send.txt");
  log.Line(u"orphan");  // a later line with no file yet creates it
  EXPECT_EQ(ReadAll(log.Path()), "orphan\r\n");
  log.First(u"Start Sending MMS");
  log.Text(u"Subject is : ", u"caf\u00e9");
  log.Number(u"Send Result : ", -2);
  EXPECT_EQ(ReadAll(log.Path()), "Start Sending MMS\r\nSubject is : caf\xc3\xa9\r\nSend Result : -2\r\n");
  log.First(std::u16string(5000, u'x'));
  EXPECT_EQ(ReadAll(log.Path()), std::string(kLogLineMax, 'x') + "\r\n");

  // A log that cannot be written is skipped.
  TransferLog nowhere(kRecvLogName, dir + u"/missing/dir");
  nowhere.First(u"Start Receiving");
  EXPECT_FALSE(platform::FileExists(nowhere.Path()));
}

// Two device roots served by one installation keep logs of their own.
TEST(TransferLogFile, DefaultsToTheDevicesProgramFolder) {
  platform_testing::ScopedDeviceRoot a;
  TransferLog first(kRecvLogName);
  first.First(u"phone A");
  {
    platform_testing::ScopedDeviceRoot b;
    TransferLog second(kRecvLogName);
    EXPECT_EQ(second.Path(), platform::Utf8ToUtf16(b.path() + "/Program Files/Tessera/Recv.txt"));
    second.First(u"phone B");
    EXPECT_EQ(ReadAll(second.Path()), "phone B\r\n");
  }
  EXPECT_EQ(first.Path(), platform::Utf8ToUtf16(a.path() + "/Program Files/Tessera/Recv.txt"));
  EXPECT_EQ(ReadAll(first.Path()), "phone A\r\n");
}

}  // namespace
}  // namespace engine::testing
