#pragma once
/// Numbers of the folder view: its commands, menus, strings, icons and the details dialog.
#include <cstdint>

#include "platform/window.h"

namespace folders {

// Commands of the folder view's menu and soft keys.
inline constexpr UINT kCmdNew = 40137;
inline constexpr UINT kCmdOpen = 40143;
inline constexpr UINT kCmdDelete = 40147;
inline constexpr UINT kCmdDeleteAll = 40149;
inline constexpr UINT kCmdSend = 40151;
inline constexpr UINT kCmdDownload = 40152;
inline constexpr UINT kCmdReply = 40154;
inline constexpr UINT kCmdReplyAll = 40155;
inline constexpr UINT kCmdProperties = 40157;
inline constexpr UINT kCmdForward = 40167;
inline constexpr UINT kCmdContents = 40169;
/// The left key of the dialogs' bar 120 before the empty folder relabels it.
inline constexpr UINT kCmdDialogOk = 40028;

// Menu bars.
inline constexpr UINT kMenuBarFolder = 180;
inline constexpr UINT kMenuBarEmpty = 120;

// Strings.
inline constexpr UINT kStrOpen = 1046;
inline constexpr UINT kStrNew = 40139;
inline constexpr UINT kStrDownload = 40121;
inline constexpr UINT kStrNoAddress = 40162;
inline constexpr UINT kStrUnknownSender = 40191;
inline constexpr UINT kStrDeleteOne = 40166;
inline constexpr UINT kStrDeleteAll = 40156;
inline constexpr UINT kStrToLabel = 40165;

// Row icons by message state.
inline constexpr int kIconUnread = 182;
inline constexpr int kIconRead = 183;
inline constexpr int kIconFailed = 184;
inline constexpr int kIconInProgress = 185;
inline constexpr int kIconWaitRetry = 186;
inline constexpr int kIconQueued = 187;
inline constexpr int kIconNotification = 188;
inline constexpr int kIconFirst = 182;
inline constexpr int kIconCount = 7;

// Row layout.
inline constexpr int kIconLeft = 7;
inline constexpr int kTextLeft = 30;
inline constexpr int kRowsPerPage = 5;
/// The resource library's font kind of list rows.
inline constexpr int kListFontKind = 0;

// Message details dialog 166.
inline constexpr UINT kDialogDetails = 166;
inline constexpr int kDetailsAddressLabel = 1098;
inline constexpr int kDetailsAddress = 1080;
inline constexpr int kDetailsSubject = 1084;
inline constexpr int kDetailsSize = 1023;
inline constexpr int kDetailsDate = 1102;
inline constexpr int kDetailsLength = 1024;

/// Transfer bits of the state that make a notification busy (queued, in progress, waiting).
inline constexpr std::uint32_t kTransferBusyBits = 0x20000 | 0x40000 | 0x100000;

}  // namespace folders
