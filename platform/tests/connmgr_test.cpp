// The connection manager, the own number and the network error display.
#include <gtest/gtest.h>

#include "platform/connmgr.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform_testing/device_root.h"

namespace {

void SetString(const char16_t* key, const char16_t* name, std::u16string_view text) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  std::u16string data(text);
  ASSERT_EQ(RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(k);
}

std::u16string Description(int index) {
  CONNMGR_DESTINATION_INFO info{};
  if (FAILED(ConnMgrEnumDestinations(index, &info))) return u"<none>";
  return info.szDescription;
}

}  // namespace

TEST(ConnMgr, DefaultDestinationsWithoutTheKey) {
  platform_testing::ScopedDeviceRoot root;
  EXPECT_EQ(Description(0), u"The Internet");
  EXPECT_EQ(Description(1), u"WAP Network");
  EXPECT_EQ(Description(2), u"<none>");
  CONNMGR_DESTINATION_INFO a{}, b{};
  ASSERT_EQ(ConnMgrEnumDestinations(0, &a), S_OK);
  ASSERT_EQ(ConnMgrEnumDestinations(1, &b), S_OK);
  EXPECT_FALSE(a.guid == b.guid);
  EXPECT_EQ(ConnMgrEnumDestinations(-1, &a), E_INVALIDARG);
}

TEST(ConnMgr, DestinationsFromTheRegistryKeepGuidsAndOrder) {
  platform_testing::ScopedDeviceRoot root;
  SetString(kConnMgrDestinationsKey, u"{436EF144-B4FB-4863-A041-8F905A62C572}", u"Operator MMS");
  SetString(kConnMgrDestinationsKey, u"work", u"Work Network");
  EXPECT_EQ(Description(0), u"Operator MMS");
  EXPECT_EQ(Description(1), u"Work Network");
  EXPECT_EQ(Description(2), u"<none>");
  CONNMGR_DESTINATION_INFO info{};
  ASSERT_EQ(ConnMgrEnumDestinations(0, &info), S_OK);
  EXPECT_EQ(info.guid.Data1, 0x436EF144u);
  EXPECT_EQ(info.guid.Data2, 0xB4FB);
  EXPECT_EQ(info.guid.Data4[7], 0x72);
  // A description longer than the record's room is cut and terminated.
  SetString(kConnMgrDestinationsKey, u"long", std::u16string(300, u'x'));
  ASSERT_EQ(ConnMgrEnumDestinations(2, &info), S_OK);
  EXPECT_EQ(std::u16string(info.szDescription).size(), CONNMGR_MAX_DESC - 1);
}

TEST(ConnMgr, ConnectionIsConnectedAtOnceAndSignalsOnce) {
  platform_testing::ScopedDeviceRoot root;
  CONNMGR_DESTINATION_INFO dest{};
  ASSERT_EQ(ConnMgrEnumDestinations(1, &dest), S_OK);
  CONNMGR_CONNECTIONINFO request{};
  request.cbSize = sizeof request;
  request.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  request.guidDestNet = dest.guid;
  HANDLE connection = nullptr;
  ASSERT_EQ(ConnMgrEstablishConnection(&request, &connection), S_OK);
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(WaitForSingleObject(connection, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(connection, 50), WAIT_TIMEOUT);
  DWORD status = 0;
  ASSERT_EQ(ConnMgrConnectionStatus(connection, &status), S_OK);
  EXPECT_EQ(status, CONNMGR_STATUS_CONNECTED);
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 0), S_OK);
  EXPECT_EQ(ConnMgrConnectionStatus(connection, &status), E_INVALIDARG);
  EXPECT_EQ(ConnMgrReleaseConnection(connection, 0), E_INVALIDARG);

  request.guidDestNet.Data1 ^= 1;  // no such destination
  EXPECT_EQ(ConnMgrEstablishConnection(&request, &connection), E_INVALIDARG);
  EXPECT_EQ(connection, nullptr);
}

TEST(Sms, OwnNumberFromThePhoneKey) {
  platform_testing::ScopedDeviceRoot root;
  SMS_ADDRESS address{};
  EXPECT_EQ(SmsGetPhoneNumber(&address), E_FAIL);
  EXPECT_EQ(address.ptsAddress[0], 0);
  SetString(kPhoneKey, u"OwnNumber", u"+4420123");
  ASSERT_EQ(SmsGetPhoneNumber(&address), S_OK);
  EXPECT_EQ(std::u16string(address.ptsAddress), u"+4420123");
  EXPECT_EQ(address.smsatAddressType, SMSAT_INTERNATIONAL);
  SetString(kPhoneKey, u"OwnNumber", std::u16string(400, u'9'));
  ASSERT_EQ(SmsGetPhoneNumber(&address), S_OK);
  EXPECT_EQ(std::u16string(address.ptsAddress).size(), SMS_MAX_ADDRESS_LENGTH - 1);
}

TEST(Shell, NetworkErrorDisplay) {
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = u":MSREMNET";
  info.lpParameters = u"-CMERROR 0x21 -report";
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ShellExecuteEx(&info));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "network error: -CMERROR 0x21 -report\n");
  info.lpFile = u"notepad.exe";
  EXPECT_FALSE(ShellExecuteEx(&info));
}
