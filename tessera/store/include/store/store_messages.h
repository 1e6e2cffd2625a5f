#pragma once
/// Window messages exchanged by the store, the transfer engine and the main window.

namespace store {

/// Window messages the store exchanges with the UI frame and the engine.
inline constexpr unsigned kMsgSendFinished = 0x400 + 205;        ///< 1229, wParam 1/0, lParam entry
inline constexpr unsigned kMsgFetchFinished = 0x400 + 206;       ///< 1230
inline constexpr unsigned kMsgNotifyRespFinished = 0x400 + 207;  ///< 1231
inline constexpr unsigned kMsgSendStarts = 0x400 + 208;          ///< 1232
inline constexpr unsigned kMsgFetchStarts = 0x400 + 209;         ///< 1233
inline constexpr unsigned kMsgNotifyRespStarts = 0x400 + 210;    ///< 1234
inline constexpr unsigned kMsgBearerState = 0x400 + 213;         ///< 1237
inline constexpr unsigned kMsgNotificationStored = 0x400 + 211;
inline constexpr unsigned kMsgDeliveryReportStored = 0x400 + 212;
inline constexpr unsigned kMsgStoreStarted = 0x400 + 214;
inline constexpr unsigned kMsgNavigate = 0x400 + 215;
inline constexpr unsigned kNavigateQueueFetch = 6;
inline constexpr unsigned kNavigateCancelJob = 8;
inline constexpr unsigned kNavigateOpen = 10;

}  // namespace store
