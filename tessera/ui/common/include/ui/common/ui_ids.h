#pragma once
/// Message numbers, timers, control, menu, dialog and string ids shared by the screens.
#include "platform/window.h"

namespace ui {

// Messages between the program's windows.
inline constexpr UINT kMsgRestoreFocus = 1124;   ///< to the main frame: refocus its list
inline constexpr UINT kMsgNavigate = 1239;       ///< to the main frame: code / message id
inline constexpr UINT kMsgComposerOpen = 1926;   ///< to the composer: previous state / parameter
inline constexpr UINT kMsgFolderLabel = 1927;    ///< to the main frame: folder / 0
inline constexpr UINT kMsgListSelChanged = 2025; ///< list to parent: row / list window
inline constexpr UINT kMsgListDrawRow = 2026;    ///< list to parent: 0 / ListRow*
inline constexpr UINT kMsgListDrawEmpty = 2027;  ///< list to parent: device context / 0

// Navigation codes of kMsgNavigate.
inline constexpr WPARAM kNavNew = 0;
inline constexpr WPARAM kNavForward = 1;
inline constexpr WPARAM kNavReply = 2;
inline constexpr WPARAM kNavReplyAll = 3;
inline constexpr WPARAM kNavEdit = 4;
inline constexpr WPARAM kNavSend = 5;
inline constexpr WPARAM kNavRetrieve = 6;
inline constexpr WPARAM kNavNotifyResponse = 7;
inline constexpr WPARAM kNavCancel = 8;
inline constexpr WPARAM kNavCancelToo = 9;
inline constexpr WPARAM kNavOpenDraft = 10;

// Open modes the composer gets from the navigation codes.
inline constexpr int kOpenNew = 0;
inline constexpr int kOpenSendAtOnce = 1;
inline constexpr int kOpenForward = 2;
inline constexpr int kOpenReply = 3;
inline constexpr int kOpenEdit = 4;
inline constexpr int kOpenHandOver = 10;

// View states of the main frame.
inline constexpr int kViewNone = 0;
inline constexpr int kViewFolder = 1;
inline constexpr int kViewComposer = 2;
inline constexpr int kViewMainList = 7;

// Commands.
inline constexpr UINT kIdOk = 1;
inline constexpr UINT kIdCancel = 2;
inline constexpr UINT kCmdLeftSoftKey = 40128;
inline constexpr UINT kCmdRightSoftKey = 40164;
/// The "OK" soft key of the dialogs' bar 120; acts as IDOK.
inline constexpr UINT kCmdDialogDone = 40028;

// Controls, menus, dialogs, timers.
inline constexpr int kListControlId = 2003;
inline constexpr UINT kMenuBarMainList = 179;
inline constexpr UINT kMenuBarDialog = 120;
inline constexpr UINT kDialogAbout = 162;
inline constexpr UINT kDialogNotice = 165;
inline constexpr int kAboutVersionField = 1094;
inline constexpr int kAboutTextField = 1081;
inline constexpr UINT kAboutTextString = 1068;
inline constexpr UINT_PTR kNoticeTimerId = 8195;
inline constexpr UINT kNoticeTickMs = 500;

// Strings.
inline constexpr UINT kStrCaption = 40063;
inline constexpr UINT kStrNotForwardable = 1009;
inline constexpr UINT kStrReplyPrefix = 1013;
inline constexpr UINT kStrForwardPrefix = 1014;
/// A message that could not be stored for want of space; any other store failure shows
/// kStrNotDone.
inline constexpr UINT kStrDiskFull = 1055;
inline constexpr UINT kStrNotDone = 40064;
inline constexpr UINT kStrNotBuilt = 40900;  ///< "%s: this screen is not built yet."
inline constexpr UINT kStrScreenFolder = 40901;
inline constexpr UINT kStrScreenComposer = 40902;
inline constexpr UINT kStrScreenViewer = 40903;
inline constexpr UINT kStrScreenSettings = 40904;
inline constexpr UINT kStrScreenSendPage = 40905;
inline constexpr UINT kStrScreenGallery = 40906;

// Window classes.
inline constexpr const WCHAR* kMainFrameClass = u"RIR_WndCls_MainFrme";
inline constexpr const WCHAR* kFolderFrameClass = u"Corvane_WndCls_MsgBoxFrame";
inline constexpr const WCHAR* kComposerFrameClass = u"Rir_WndCls_ComposerFrame";

}  // namespace ui
