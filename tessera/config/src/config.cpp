#include "config/config.h"

#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace config {

namespace {

DWORD Get(const WCHAR* key, const WCHAR* name, DWORD defaultValue) {
  return reg::GetDword(HKEY_LOCAL_MACHINE, key, name, defaultValue);
}

bool Set(const WCHAR* key, const WCHAR* name, DWORD value, bool flush) {
  return reg::SetDword(HKEY_LOCAL_MACHINE, key, name, value, flush);
}

// "value above 0" settings compare the stored DWORD as a signed number.
bool Positive(DWORD value) {
  return static_cast<LONG>(value) > 0;
}

std::u16string GetText(const WCHAR* key, const WCHAR* name, DWORD maxBytes) {
  std::u16string text;
  if (!reg::GetString(HKEY_LOCAL_MACHINE, key, name, maxBytes, &text)) return {};
  return text;
}

// "%s%d" of a base name and a number.
std::u16string Numbered(std::u16string_view base, DWORD number) {
  const std::string digits = std::to_string(number);
  std::u16string name(base);
  name.append(digits.begin(), digits.end());
  return name;
}

struct FolderSetting {
  const WCHAR* value;
  const WCHAR* defaultName;
};

constexpr FolderSetting kFolders[] = {
    {u"UAContentsPath", u"UAContents\\MMS UA\\"},
    {u"PicturePath", u"My Pictures\\"},
    {u"SoundPath", u"My Sounds\\"},
    {u"VideoPath", u"My Videos\\"},
    {u"UnknownPath", u"UnknownType Files\\"},
    {u"AudioDecPath", u"AudioDec\\"},
    {u"VideoDecPath", u"VideoDec\\"},
};

// Folder values are read into a 260-byte buffer.
constexpr DWORD kFolderValueBytes = 260;

std::u16string WithSeparators(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out)
    if (c == u'\\') c = platform::kPathSeparator;
  return out;
}

// The configured path, or the documents folder with the default name.
std::u16string Resolve(const WCHAR* valueName, const WCHAR* defaultName) {
  const std::u16string value = GetText(kFolderKey, valueName, kFolderValueBytes);
  if (!value.empty()) return ResolveDevicePath(value);
  std::u16string path = platform::DocumentsFolder();
  if (path.empty() || path.back() != platform::kPathSeparator) path.push_back(platform::kPathSeparator);
  return path + WithSeparators(defaultName);
}

// Creates each separator-ended prefix of `path` that does not exist yet.
bool CreateLevels(const std::u16string& path) {
  for (std::size_t at = path.find(platform::kPathSeparator, 1); at != std::u16string::npos;
       at = path.find(platform::kPathSeparator, at + 1)) {
    const std::u16string prefix = path.substr(0, at);
    if (!platform::DirectoryExists(prefix)) platform::CreateDirectory(prefix);
  }
  return platform::DirectoryExists(path);
}

}  // namespace

std::u16string ResolveDevicePath(std::u16string_view text) {
  if (!text.empty() && text.front() == platform::kPathSeparator && platform::kPathSeparator != u'\\')
    return WithSeparators(text);
  return platform::DevicePath(text);
}

// Config\UI

DWORD Config::GetSort() const {
  const DWORD sort = Get(kUiKey, u"Sort", 3);
  return sort >= 1 && sort <= 4 ? sort : 3;
}

bool Config::SetSort(DWORD sort) const {
  return Set(kUiKey, u"Sort", sort >= 1 && sort <= 4 ? sort : 3, true);
}

bool Config::GetCaptureVideoEnable() const {
  return Get(kUiKey, u"CaptureVideoEnable", 0) != 0;
}

std::u16string Config::GetConnectionVia() const {
  return GetText(kUiKey, u"ConnectionVia", 64);
}

bool Config::SetConnectionVia(std::u16string_view text) const {
  return reg::SetString(HKEY_LOCAL_MACHINE, kUiKey, u"ConnectionVia", text, true);
}

bool Config::GetDeliverReport() const {
  return Positive(Get(kUiKey, u"DeliverReport", 0));
}
bool Config::GetAutoResend() const {
  return Get(kUiKey, u"AutoResend", 0) != 0;
}
bool Config::GetAutoDisconnect() const {
  return Get(kUiKey, u"AutoDisconnect", 0) != 0;
}
bool Config::GetAppendSpaceToSubject() const {
  return Get(kUiKey, u"AppendSpaceToSubject", 0) != 0;
}
bool Config::GetSaveSentMessage() const {
  return Get(kUiKey, u"SaveSentMessage", 1) != 0;
}

bool Config::SetSaveSentMessage(bool save) const {
  return Set(kUiKey, u"SaveSentMessage", save ? 1 : 0, true);
}

bool Config::GetCameraEnable() const {
  return Get(kUiKey, u"CameraEnable", 0) != 0;
}
DWORD Config::GetRecordFileRatio() const {
  return Get(kUiKey, u"RecordFileRatio", 90);
}
DWORD Config::GetDefaultResolution() const {
  return Get(kUiKey, u"DefaultResolution", 3);
}
std::u16string Config::GetAlphaTag() const {
  return GetText(kUiKey, u"AlphaTag", 64);
}
std::u16string Config::GetAlphaTagDispTxt() const {
  return GetText(kUiKey, u"AlphaTagDispTxt", 128);
}

// Config\UI\SizeLimit

DWORD Config::GetSendCount() const {
  const DWORD count = Get(kSizeLimitKey, u"SendCount", 0);
  return count > 5 ? 5 : count;
}

DWORD Config::GetSendLimit(DWORD number) const {
  return Get(kSizeLimitKey, Numbered(u"SendLimit", number).c_str(), 0);
}

std::vector<DWORD> Config::GetSendLimits() const {
  std::vector<DWORD> limits;
  const DWORD count = GetSendCount();
  for (DWORD i = 1; i <= count; ++i) limits.push_back(GetSendLimit(i));
  return limits;
}

DWORD Config::GetSendDefault() const {
  return Get(kSizeLimitKey, u"SendDefault", 0);
}
bool Config::SetSendDefault(DWORD bytes) const {
  return Set(kSizeLimitKey, u"SendDefault", bytes, true);
}
DWORD Config::GetRecvDefault() const {
  return Get(kSizeLimitKey, u"RecvDefault", 0);
}

// Config\UI\TryLimit

DWORD Config::GetTryDefault() const {
  const DWORD tries = Get(kTryLimitKey, u"TryDefault", 0);
  return tries > 5 ? 5 : tries;
}

bool Config::SetTryDefault(DWORD tries) const {
  return Set(kTryLimitKey, u"TryDefault", tries < 1 ? 1 : tries, true);
}

DWORD Config::GetInterval(DWORD number) const {
  return Get(kTryLimitKey, Numbered(u"Interval", number).c_str(), 60);
}

std::vector<DWORD> Config::GetIntervals(DWORD count) const {
  std::vector<DWORD> intervals;
  for (DWORD i = 1; i <= count; ++i) intervals.push_back(GetInterval(i));
  return intervals;
}

// Config\Capture

bool Config::GetPhotoLandscape() const {
  return Positive(Get(kCaptureKey, u"PhotoLandscape", 0));
}
DWORD Config::GetPhotoRes() const {
  return Get(kCaptureKey, u"PhotoRes", 64);
}
bool Config::GetVideoLandscape() const {
  return Positive(Get(kCaptureKey, u"VideoLandscape", 0));
}
DWORD Config::GetVideoRes() const {
  return Get(kCaptureKey, u"VideoRes", 2);
}

DWORD Config::GetVideoFileRatio() const {
  const DWORD ratio = Get(kCaptureKey, u"VideoFileRatio", 95);
  return ratio >= 95 ? 95 : ratio;
}

DWORD Config::GetVideoFormat() const {
  return Get(kCaptureKey, u"VideoFormat", 16);
}

// Config\Misc, Config\mm1 and the product key

DWORD Config::GetNotificationDisplayTime() const {
  return Get(kMiscKey, u"NotificationDisplayTime", 5);
}

DWORD Config::GetSendDelayedNotifyResp() const {
  return Get(kMm1Key, u"SendDelayedNotifyResp", 0);
}
bool Config::GetReceiveImmediately() const {
  return GetSendDelayedNotifyResp() == 0;
}

bool Config::SetReceiveImmediately(bool immediately) const {
  return Set(kMm1Key, u"SendDelayedNotifyResp", immediately ? 0 : 1, true);
}

DWORD Config::GetNotificationCount() const {
  return Get(kRootKey, u"NotificationCount", 0);
}
bool Config::SetNotificationCount(DWORD count) const {
  return Set(kRootKey, u"NotificationCount", count, false);
}

// Config\Folder

bool Config::GetFolder(ConfigFolder folder, bool create, std::u16string* path) const {
  const FolderSetting& setting = kFolders[static_cast<int>(folder)];
  std::u16string result = Resolve(setting.value, setting.defaultName);
  if (result.empty() || result.back() != platform::kPathSeparator) result.push_back(platform::kPathSeparator);
  const bool ok = !create || CreateLevels(result);
  *path = std::move(result);
  return ok;
}

namespace {
std::u16string Folder(const Config& config, ConfigFolder folder, bool create) {
  std::u16string path;
  config.GetFolder(folder, create, &path);
  return path;
}
}  // namespace

std::u16string Config::GetUAContentsPath(bool create) const {
  return Folder(*this, ConfigFolder::UAContents, create);
}
std::u16string Config::GetPicturePath(bool create) const {
  return Folder(*this, ConfigFolder::Picture, create);
}
std::u16string Config::GetSoundPath(bool create) const {
  return Folder(*this, ConfigFolder::Sound, create);
}
std::u16string Config::GetVideoPath(bool create) const {
  return Folder(*this, ConfigFolder::Video, create);
}
std::u16string Config::GetUnknownPath(bool create) const {
  return Folder(*this, ConfigFolder::Unknown, create);
}
std::u16string Config::GetAudioDecPath(bool create) const {
  return Folder(*this, ConfigFolder::AudioDec, create);
}
std::u16string Config::GetVideoDecPath(bool create) const {
  return Folder(*this, ConfigFolder::VideoDec, create);
}

std::u16string Config::GetCannedtextFile() const {
  // A file: resolved like a folder but never created and without a trailing separator.
  std::u16string path = Resolve(u"CannedtextFile", u"CannedText.txt");
  while (path.size() > 1 && path.back() == platform::kPathSeparator) path.pop_back();
  return path;
}

std::u16string Config::GetCurPicturePath() const {
  return GetText(kFolderKey, u"Cur_PicturePath", kFolderValueBytes);
}
std::u16string Config::GetCurVideoPath() const {
  return GetText(kFolderKey, u"Cur_VideoPath", kFolderValueBytes);
}
std::u16string Config::GetCurSoundPath() const {
  return GetText(kFolderKey, u"Cur_SoundPath", kFolderValueBytes);
}

bool Config::SetCurPicturePath(std::u16string_view path) const {
  return reg::SetString(HKEY_LOCAL_MACHINE, kFolderKey, u"Cur_PicturePath", path, false);
}
bool Config::SetCurVideoPath(std::u16string_view path) const {
  return reg::SetString(HKEY_LOCAL_MACHINE, kFolderKey, u"Cur_VideoPath", path, false);
}
bool Config::SetCurSoundPath(std::u16string_view path) const {
  return reg::SetString(HKEY_LOCAL_MACHINE, kFolderKey, u"Cur_SoundPath", path, false);
}

}  // namespace config
