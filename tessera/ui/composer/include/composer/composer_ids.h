#pragma once
/// Commands, menus, messages, strings, limits and resource ids of the composer.
#include <cstdint>

#include "platform/window.h"

namespace composer::ids {

/// The system's colours changed (the window system's WM_SYSCOLORCHANGE).
inline constexpr UINT kMsgSysColorChange = 0x0015;

// Open modes.
inline constexpr int kModeNew = 0;
inline constexpr int kModeSendAtOnce = 1;
inline constexpr int kModeForward = 2;
inline constexpr int kModeReply = 3;
inline constexpr int kModeEdit = 4;
inline constexpr int kModeHandOver = 10;

// Commands.
inline constexpr UINT kCmdAdd = 40001;
inline constexpr UINT kCmdReplace = 40006;
inline constexpr UINT kCmdClose = 40008;
inline constexpr UINT kCmdSend = 40018;
inline constexpr UINT kCmdRecord = 40062;
inline constexpr UINT kCmdDeleteItem = 40072;
inline constexpr UINT kCmdAddSlide = 40074;
inline constexpr UINT kCmdDeleteSlide = 40075;
inline constexpr UINT kCmdPreviousSlide = 40076;
inline constexpr UINT kCmdNextSlide = 40077;
inline constexpr UINT kCmdPreview = 40078;
inline constexpr UINT kCmdSave = 40079;

inline constexpr UINT kMenuBar = 101;
/// The bar's right key, which opens the menu.
inline constexpr UINT kCmdMenu = 40004;

// Strings.
inline constexpr UINT kStrPicture = 1002;
inline constexpr UINT kStrSound = 1003;
inline constexpr UINT kStrText = 1004;
inline constexpr UINT kStrVideo = 1005;
inline constexpr UINT kStrTitle = 1016;
inline constexpr UINT kStrVideoOneSlide = 1017;
inline constexpr UINT kStrVideoDropsSound = 1018;
inline constexpr UINT kStrSoundDropsVideo = 1019;
inline constexpr UINT kStrSlideLimit = 1020;
inline constexpr UINT kStrSaveChanges = 1059;
/// A save that failed for want of space; any other failed save shows kStrNotDone.
inline constexpr UINT kStrDiskFull = 1055;
inline constexpr UINT kStrNotDone = 40064;
inline constexpr UINT kStrCaption = 40063;

// Resource library pictures.
inline constexpr UINT kBitmapNoPreview = 161;
inline constexpr UINT kIconSound = 118;

// Limits and masks.
inline constexpr int kMaxSlides = 9;
inline constexpr std::uint32_t kMaskVisual = 0x1FFFF;
inline constexpr std::uint32_t kMaskAudio = 0x2FFFF;
inline constexpr std::uint32_t kExtraComposed = 0x10000;

// Field drawing.
inline constexpr int kFieldInset = 2;
inline constexpr int kTextLeft = 3;
inline constexpr int kSoundNameGap = 24;
inline constexpr int kTextFieldHeight = 34;
inline constexpr int kAudioFieldHeight = 24;

/// The slide's text is written here before it is added to the slide.
inline constexpr const char16_t* kTempTextPath = u"\\Temp\\Temp.txt";

// Window classes.
inline constexpr const char16_t* kFieldClass = u"SP_WndCls_ComposeItem";

}  // namespace composer::ids
