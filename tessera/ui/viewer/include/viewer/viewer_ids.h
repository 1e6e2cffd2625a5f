#pragma once
/// Numbers of the viewer, the MMS contents screen and the full-screen views: dialog
/// templates, menu bars, commands, texts, icons, messages and colours.

#include "platform/types.h"

namespace viewer::ids {

// Dialog templates.
inline constexpr int kDlgFullScreen = 102;
inline constexpr int kDlgPictureInfo = 123;
inline constexpr int kDlgVideoInfo = 125;
inline constexpr int kDlgSoundInfo = 128;
inline constexpr int kDlgViewer = 131;

// Menu bars.
inline constexpr UINT kBarClose = 120;
inline constexpr UINT kBarVideo = 122;
inline constexpr UINT kBarViewer = 141;
inline constexpr UINT kBarTextPart = 149;
inline constexpr UINT kBarMediaPart = 151;
inline constexpr UINT kBarUnknownPart = 190;

// Commands.
inline constexpr UINT kCmdClose = 40028;
inline constexpr UINT kCmdVideoPlayPause = 40040;
inline constexpr UINT kCmdVideoStop = 40041;
inline constexpr UINT kCmdPlayStop = 40086;
inline constexpr UINT kCmdViewerMenu = 40089;
inline constexpr UINT kCmdContents = 40092;
inline constexpr UINT kCmdOpenText = 40104;
inline constexpr UINT kCmdSave = 40110;
inline constexpr UINT kCmdOpen = 40113;
inline constexpr UINT kCmdPartMenu = 40116;
inline constexpr UINT kCmdInformation = 40117;
inline constexpr UINT kCmdRewind = 40124;
inline constexpr UINT kCmdNextSlide = 40133;
inline constexpr UINT kCmdPreviousSlide = 40135;

// Texts.
inline constexpr UINT kStrPicture = 1002;
inline constexpr UINT kStrPlay = 1007;
inline constexpr UINT kStrStop = 1008;
inline constexpr UINT kStrCannotPlay = 1023;
inline constexpr UINT kStrOpen = 1046;
inline constexpr UINT kStrSavePicture = 1047;
inline constexpr UINT kStrSaveVideo = 1048;
inline constexpr UINT kStrSaveSound = 1049;
inline constexpr UINT kStrNameExists = 1054;
inline constexpr UINT kStrDiskFull = 1055;
inline constexpr UINT kStrContentsTitle = 1056;
inline constexpr UINT kStrCannedTextExists = 1063;
inline constexpr UINT kStrNotDone = 40064;
inline constexpr UINT kStrSeconds = 40043;
inline constexpr UINT kStrStopSound = 40047;
inline constexpr UINT kStrProtected = 40178;

// Icons of the part rows by class; 189 for anything else.
inline constexpr UINT kIconPicture = 117;
inline constexpr UINT kIconSound = 118;
inline constexpr UINT kIconText = 119;
inline constexpr UINT kIconVideo = 124;
inline constexpr UINT kIconUnknown = 189;

// Controls.
inline constexpr int kPartList = 2003;

// Messages inside the user interface.
inline constexpr UINT kMsgStartPlaying = 1525;
/// The contents screen to itself: wParam the number of the clip just started; the clip's
/// progress reports follow it in the queue, those of earlier clips come before it.
inline constexpr UINT kMsgClipStarted = 1526;

/// Filled part of the progress bar (0x00BBGGRR).
inline constexpr COLORREF kProgressColour = 0x003FC68D;
/// Height of the progress strip at the bottom of the viewer and the video view.
inline constexpr int kProgressStripHeight = 20;

}  // namespace viewer::ids
