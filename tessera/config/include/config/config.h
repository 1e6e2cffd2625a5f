#pragma once
/// The configuration accessor: one getter (and, where the settings screens change a
/// value, one setter) per value of the configuration tree under HKEY_LOCAL_MACHINE
/// "\SOFTWARE\Corvane\Corvane MMS UA". The object keeps no state: every getter reads the
/// registry anew and every setter writes at once. A missing value, or a failed read,
/// yields the value's default, which is never written back; a failed write leaves the old
/// value and the setter returns false.

#include <string>
#include <vector>

#include "config/keys.h"
#include "config/registry.h"
#include "platform/types.h"

namespace config {

/// Folder settings; the order is that of the folder table.
enum class ConfigFolder {
  UAContents = 0,
  Picture = 1,
  Sound = 2,
  Video = 3,
  Unknown = 4,
  AudioDec = 5,
  VideoDec = 6,
};


class Config {
 public:
  // Config\UI
  /// Folder view order, 1-4; 3 when missing or out of range.
  DWORD GetSort() const;
  /// Stores 3 for values outside 1-4; flushes.
  bool SetSort(DWORD sort) const;
  bool GetCaptureVideoEnable() const;
  /// Description of the destination network; empty when missing.
  std::u16string GetConnectionVia() const;
  bool SetConnectionVia(std::u16string_view text) const;
  bool GetDeliverReport() const;
  bool GetAutoResend() const;
  bool GetAutoDisconnect() const;
  bool GetAppendSpaceToSubject() const;
  /// True when missing.
  bool GetSaveSentMessage() const;
  bool SetSaveSentMessage(bool save) const;
  bool GetCameraEnable() const;
  /// Percentage; 90 when missing.
  DWORD GetRecordFileRatio() const;
  /// Picture resolution index; 3 when missing.
  DWORD GetDefaultResolution() const;
  std::u16string GetAlphaTag() const;
  std::u16string GetAlphaTagDispTxt() const;

  // Config\UI\SizeLimit
  /// Number of selectable send limits, at most 5.
  DWORD GetSendCount() const;
  /// Send limit `number` (1-based) in bytes; 0 when missing.
  DWORD GetSendLimit(DWORD number) const;
  /// The limits 1..GetSendCount().
  std::vector<DWORD> GetSendLimits() const;
  DWORD GetSendDefault() const;
  bool SetSendDefault(DWORD bytes) const;
  DWORD GetRecvDefault() const;

  // Config\UI\TryLimit
  /// Number of send attempts, at most 5; 0 when missing.
  DWORD GetTryDefault() const;
  /// Stores at least 1; flushes.
  bool SetTryDefault(DWORD tries) const;
  /// Minutes before attempt `number` (1-based) is retried; 60 when missing.
  DWORD GetInterval(DWORD number) const;
  /// Intervals 1..count.
  std::vector<DWORD> GetIntervals(DWORD count) const;

  // Config\Capture
  bool GetPhotoLandscape() const;
  DWORD GetPhotoRes() const;
  bool GetVideoLandscape() const;
  DWORD GetVideoRes() const;
  /// 95 when missing or 95 and above.
  DWORD GetVideoFileRatio() const;
  DWORD GetVideoFormat() const;

  // Config\Misc
  /// Seconds the new-message notice stays up; 5 when missing.
  DWORD GetNotificationDisplayTime() const;

  // Config\mm1
  /// 0 (retrieve at once) when missing.
  DWORD GetSendDelayedNotifyResp() const;
  /// The settings screen's "receive immediately" box: ticked when the value is 0.
  bool GetReceiveImmediately() const;
  /// Stores 0 when ticked, 1 when not; flushes.
  bool SetReceiveImmediately(bool immediately) const;

  // The store's counter under the product key.
  DWORD GetNotificationCount() const;
  /// Written without flush.
  bool SetNotificationCount(DWORD count) const;

  // Config\Folder
  /// The folder of a setting, always ending in a separator. An empty or missing value
  /// gives the documents folder of the device root with the default name appended. With
  /// `create`, missing levels are created; false when that fails (the path is still
  /// given).
  bool GetFolder(ConfigFolder folder, bool create, std::u16string* path) const;
  std::u16string GetUAContentsPath(bool create) const;
  std::u16string GetPicturePath(bool create) const;
  std::u16string GetSoundPath(bool create) const;
  std::u16string GetVideoPath(bool create) const;
  std::u16string GetUnknownPath(bool create) const;
  std::u16string GetAudioDecPath(bool create) const;
  std::u16string GetVideoDecPath(bool create) const;
  /// The canned-text file; never created, and a file path keeps no trailing separator.
  std::u16string GetCannedtextFile() const;
  /// Last folders browsed; empty when missing. Written without flush.
  std::u16string GetCurPicturePath() const;
  std::u16string GetCurVideoPath() const;
  std::u16string GetCurSoundPath() const;
  bool SetCurPicturePath(std::u16string_view path) const;
  bool SetCurVideoPath(std::u16string_view path) const;
  bool SetCurSoundPath(std::u16string_view path) const;
};

/// Turns a configured path text into a native path: "\" stands for the separator, and a
/// path that is not already absolute on the host lies below the device root.
std::u16string ResolveDevicePath(std::u16string_view text);

}  // namespace config
