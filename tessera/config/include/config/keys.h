#pragma once
/// Every registry key the program reads or writes, all under HKEY_LOCAL_MACHINE. The
/// configuration lives below the product key; the store keeps its ID counter and the
/// per-message retry records under its own key.

#include "platform/types.h"

namespace config {

inline constexpr const WCHAR* kRootKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA";
inline constexpr const WCHAR* kUiKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI";
inline constexpr const WCHAR* kSizeLimitKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\SizeLimit";
inline constexpr const WCHAR* kTryLimitKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\TryLimit";
inline constexpr const WCHAR* kCaptureKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\Capture";
inline constexpr const WCHAR* kMiscKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\Misc";
inline constexpr const WCHAR* kMm1Key = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1";
inline constexpr const WCHAR* kWspHeaderKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader";
inline constexpr const WCHAR* kFolderKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\Folder";

/// The store's key: "MSG_MAX_ID" and, below "MSG_SR_STATE\<id>", each message's retry record.
inline constexpr const WCHAR* kStoreKey = u"\\SOFTWARE\\Corvane\\RU15";
inline constexpr const WCHAR* kRetryKey = u"\\SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE";

}  // namespace config
