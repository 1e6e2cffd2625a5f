#include "config/config.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/reg_file.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace {

using config::Config;

class ConfigTest : public ::testing::Test {
 protected:
  void SetDword(const WCHAR* key, const WCHAR* name, DWORD value) {
    ASSERT_TRUE(config::reg::SetDword(HKEY_LOCAL_MACHINE, key, name, value, false));
  }
  DWORD Stored(const WCHAR* key, const WCHAR* name) {
    return config::reg::GetDword(HKEY_LOCAL_MACHINE, key, name, 0xDEADBEEF);
  }
  bool Exists(const WCHAR* key, const WCHAR* name) { return Stored(key, name) != 0xDEADBEEF; }

  platform_testing::ScopedDeviceRoot root;
  Config config;
};

TEST_F(ConfigTest, DefaultsWhenNothingIsStoredAndNothingWrittenBack) {
  EXPECT_EQ(config.GetSort(), 3u);
  EXPECT_FALSE(config.GetCaptureVideoEnable());
  EXPECT_EQ(config.GetConnectionVia(), u"");
  EXPECT_FALSE(config.GetDeliverReport());
  EXPECT_FALSE(config.GetAutoResend());
  EXPECT_FALSE(config.GetAutoDisconnect());
  EXPECT_FALSE(config.GetAppendSpaceToSubject());
  EXPECT_TRUE(config.GetSaveSentMessage());
  EXPECT_FALSE(config.GetCameraEnable());
  EXPECT_EQ(config.GetRecordFileRatio(), 90u);
  EXPECT_EQ(config.GetDefaultResolution(), 3u);
  EXPECT_EQ(config.GetAlphaTag(), u"");
  EXPECT_EQ(config.GetAlphaTagDispTxt(), u"");
  EXPECT_EQ(config.GetSendCount(), 0u);
  EXPECT_TRUE(config.GetSendLimits().empty());
  EXPECT_EQ(config.GetSendLimit(1), 0u);
  EXPECT_EQ(config.GetSendDefault(), 0u);
  EXPECT_EQ(config.GetRecvDefault(), 0u);
  EXPECT_EQ(config.GetTryDefault(), 0u);
  EXPECT_EQ(config.GetIntervals(3), (std::vector<DWORD>{60, 60, 60}));
  EXPECT_FALSE(config.GetPhotoLandscape());
  EXPECT_EQ(config.GetPhotoRes(), 64u);
  EXPECT_FALSE(config.GetVideoLandscape());
  EXPECT_EQ(config.GetVideoRes(), 2u);
  EXPECT_EQ(config.GetVideoFileRatio(), 95u);
  EXPECT_EQ(config.GetVideoFormat(), 16u);
  EXPECT_EQ(config.GetNotificationDisplayTime(), 5u);
  EXPECT_EQ(config.GetSendDelayedNotifyResp(), 0u);
  EXPECT_TRUE(config.GetReceiveImmediately());
  EXPECT_EQ(config.GetNotificationCount(), 0u);
  EXPECT_EQ(config.GetCurPicturePath(), u"");

  for (const WCHAR* name : {u"Sort", u"SaveSentMessage", u"RecordFileRatio", u"DefaultResolution"})
    EXPECT_FALSE(Exists(config::kUiKey, name));
  EXPECT_FALSE(Exists(config::kCaptureKey, u"PhotoRes"));
  EXPECT_FALSE(Exists(config::kTryLimitKey, u"Interval1"));
  EXPECT_FALSE(Exists(config::kMiscKey, u"NotificationDisplayTime"));
  std::u16string text;
  EXPECT_FALSE(config::reg::GetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"PicturePath", 260, &text));
  config.GetPicturePath(true);
  EXPECT_FALSE(config::reg::GetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"PicturePath", 260, &text));
}

TEST_F(ConfigTest, ReadingRulesOfStoredValues) {
  SetDword(config::kUiKey, u"DeliverReport", 0xFFFFFFFF);  // -1 is not above 0
  EXPECT_FALSE(config.GetDeliverReport());
  SetDword(config::kUiKey, u"DeliverReport", 2);
  EXPECT_TRUE(config.GetDeliverReport());
  SetDword(config::kUiKey, u"AutoResend", 0xFFFFFFFF);  // any non-zero is true
  EXPECT_TRUE(config.GetAutoResend());
  SetDword(config::kUiKey, u"SaveSentMessage", 0);
  EXPECT_FALSE(config.GetSaveSentMessage());

  SetDword(config::kSizeLimitKey, u"SendCount", 9);
  EXPECT_EQ(config.GetSendCount(), 5u);
  SetDword(config::kSizeLimitKey, u"SendCount", 3);
  SetDword(config::kSizeLimitKey, u"SendLimit1", 30 * 1024);
  SetDword(config::kSizeLimitKey, u"SendLimit3", 300 * 1024);
  EXPECT_EQ(config.GetSendLimits(), (std::vector<DWORD>{30 * 1024, 0, 300 * 1024}));

  SetDword(config::kTryLimitKey, u"TryDefault", 9);
  EXPECT_EQ(config.GetTryDefault(), 5u);
  SetDword(config::kTryLimitKey, u"Interval2", 15);
  EXPECT_EQ(config.GetIntervals(3), (std::vector<DWORD>{60, 15, 60}));

  SetDword(config::kCaptureKey, u"VideoFileRatio", 95);
  EXPECT_EQ(config.GetVideoFileRatio(), 95u);
  SetDword(config::kCaptureKey, u"VideoFileRatio", 200);
  EXPECT_EQ(config.GetVideoFileRatio(), 95u);
  SetDword(config::kCaptureKey, u"VideoFileRatio", 94);
  EXPECT_EQ(config.GetVideoFileRatio(), 94u);
  SetDword(config::kCaptureKey, u"PhotoLandscape", 1);
  EXPECT_TRUE(config.GetPhotoLandscape());

  // A Sort stored out of range by another tool still gives a usable order.
  SetDword(config::kUiKey, u"Sort", 9);
  EXPECT_EQ(config.GetSort(), 3u);

  // A string where a number belongs: the stored type is not examined, a value that does
  // not fit four bytes yields the default.
  ASSERT_TRUE(
      config::reg::SetString(HKEY_LOCAL_MACHINE, config::kMiscKey, u"NotificationDisplayTime", u"long text", false));
  EXPECT_EQ(config.GetNotificationDisplayTime(), 5u);
}

TEST_F(ConfigTest, SettersStoreWhatTheScreensNeed) {
  EXPECT_TRUE(config.SetSort(0));
  EXPECT_EQ(Stored(config::kUiKey, u"Sort"), 3u);
  EXPECT_TRUE(config.SetSort(5));
  EXPECT_EQ(Stored(config::kUiKey, u"Sort"), 3u);
  EXPECT_TRUE(config.SetSort(4));
  EXPECT_EQ(config.GetSort(), 4u);

  EXPECT_TRUE(config.SetSaveSentMessage(false));
  EXPECT_EQ(Stored(config::kUiKey, u"SaveSentMessage"), 0u);
  EXPECT_TRUE(config.SetSaveSentMessage(true));
  EXPECT_EQ(Stored(config::kUiKey, u"SaveSentMessage"), 1u);

  EXPECT_TRUE(config.SetTryDefault(0));
  EXPECT_EQ(config.GetTryDefault(), 1u);
  EXPECT_TRUE(config.SetSendDefault(100 * 1024));
  EXPECT_EQ(config.GetSendDefault(), 100u * 1024);

  EXPECT_TRUE(config.SetReceiveImmediately(false));
  EXPECT_EQ(config.GetSendDelayedNotifyResp(), 1u);
  EXPECT_FALSE(config.GetReceiveImmediately());
  EXPECT_TRUE(config.SetReceiveImmediately(true));
  EXPECT_EQ(config.GetSendDelayedNotifyResp(), 0u);

  EXPECT_TRUE(config.SetNotificationCount(7));
  EXPECT_EQ(config.GetNotificationCount(), 7u);

  // Strings keep their NUL in the stored size: (length + 1) * 2 bytes.
  EXPECT_TRUE(config.SetConnectionVia(u"WAP Network"));
  EXPECT_EQ(config.GetConnectionVia(), u"WAP Network");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, config::kUiKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueEx(key, u"ConnectionVia", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 24u);

  // A text longer than its reading buffer is not cut into a wrong name: it reads as absent.
  EXPECT_TRUE(config.SetConnectionVia(std::u16string(40, u'x')));
  EXPECT_EQ(config.GetConnectionVia(), u"");
}

TEST_F(ConfigTest, EmptyFolderSettingResolvesToDocumentsAndIsCreated) {
  const std::u16string docs = platform::DocumentsFolder();
  const std::u16string expected = docs + u"/My Pictures/";
  EXPECT_EQ(config.GetPicturePath(false), expected);
  EXPECT_FALSE(platform::DirectoryExists(expected));
  EXPECT_EQ(config.GetPicturePath(true), expected);
  EXPECT_TRUE(platform::DirectoryExists(expected));

  // Nested defaults are made level by level.
  std::u16string contents;
  EXPECT_TRUE(config.GetFolder(config::ConfigFolder::UAContents, true, &contents));
  EXPECT_EQ(contents, docs + u"/UAContents/MMS UA/");
  EXPECT_TRUE(platform::DirectoryExists(contents));

  EXPECT_EQ(config.GetCannedtextFile(), docs + u"/CannedText.txt");
  EXPECT_FALSE(platform::PathExists(config.GetCannedtextFile()));
}

TEST_F(ConfigTest, ConfiguredFoldersGetTheirSeparatorAndLiveBelowTheRoot) {
  ASSERT_TRUE(config::reg::SetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"SoundPath", u"\\Storage\\Sounds\\Deep",
                                 false));
  const std::u16string expected = platform::DeviceRoot() + u"/Storage/Sounds/Deep/";
  EXPECT_EQ(config.GetSoundPath(true), expected);
  EXPECT_TRUE(platform::DirectoryExists(expected));

  // A native absolute path stays as it is.
  const std::u16string native = platform::DeviceRoot() + u"/native/videos";
  ASSERT_TRUE(config::reg::SetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"VideoPath", native, false));
  EXPECT_EQ(config.GetVideoPath(false), native + u"/");

  // Creation that cannot succeed is reported while the path is still given.
  ASSERT_TRUE(platform::WriteFile(platform::DeviceRoot() + u"/blocker", "x"));
  ASSERT_TRUE(
      config::reg::SetString(HKEY_LOCAL_MACHINE, config::kFolderKey, u"UnknownPath", u"\\blocker\\sub", false));
  std::u16string path;
  EXPECT_FALSE(config.GetFolder(config::ConfigFolder::Unknown, true, &path));
  EXPECT_EQ(path, platform::DeviceRoot() + u"/blocker/sub/");

  EXPECT_TRUE(config.SetCurPicturePath(u"/x/y/"));
  EXPECT_EQ(config.GetCurPicturePath(), u"/x/y/");
}

// Every getter's answer, as text, for comparing two registry states.
std::vector<std::string> Snapshot(const Config& c) {
  std::vector<std::string> out;
  for (DWORD v :
       {c.GetSort(), c.GetRecordFileRatio(), c.GetDefaultResolution(), c.GetSendCount(), c.GetSendDefault(),
        c.GetRecvDefault(), c.GetTryDefault(), c.GetPhotoRes(), c.GetVideoRes(), c.GetVideoFileRatio(),
        c.GetVideoFormat(), c.GetNotificationDisplayTime(), c.GetSendDelayedNotifyResp()})
    out.push_back(std::to_string(v));
  for (bool v : {c.GetCaptureVideoEnable(), c.GetDeliverReport(), c.GetAutoResend(), c.GetAutoDisconnect(),
                 c.GetAppendSpaceToSubject(), c.GetSaveSentMessage(), c.GetCameraEnable(),
                 c.GetPhotoLandscape(), c.GetVideoLandscape()})
    out.push_back(v ? "true" : "false");
  for (DWORD v : c.GetIntervals(5)) out.push_back(std::to_string(v));
  for (const std::u16string& v :
       {c.GetConnectionVia(), c.GetAlphaTag(), c.GetAlphaTagDispTxt(), c.GetUAContentsPath(false),
        c.GetPicturePath(false), c.GetSoundPath(false), c.GetVideoPath(false), c.GetUnknownPath(false),
        c.GetAudioDecPath(false), c.GetVideoDecPath(false), c.GetCannedtextFile(), c.GetCurPicturePath(),
        c.GetCurVideoPath(), c.GetCurSoundPath()})
    out.push_back(platform::Utf16ToUtf8(v));
  return out;
}

TEST_F(ConfigTest, ShippedDefaultsFileMatchesTheBuiltInDefaults) {
  std::string text;
  ASSERT_TRUE(
      platform::ReadFile(platform::Utf8ToUtf16(TESSERA_SOURCE_DIR "/tessera/config/defaults.reg"), text));
  std::vector<platform::RegFileKey> keys;
  platform::RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(text, keys, error)) << error.line << ": " << error.message;
  const std::vector<std::string> before = Snapshot(config);
  ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);
  EXPECT_TRUE(Exists(config::kUiKey, u"Sort"));
  EXPECT_EQ(Snapshot(config), before);
}

}  // namespace
