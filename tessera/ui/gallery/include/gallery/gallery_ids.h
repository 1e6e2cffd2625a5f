#pragma once
/// Numbers of the media gallery: templates, menu bars, commands, texts, icons, bitmaps,
/// messages, window classes and the camera hand-off records. The resource library uses the
/// same numbers.

#include <cstdint>

#include "platform/types.h"

namespace gallery::ids {

// Dialog templates and menu bars.
inline constexpr UINT kDlgGallery = 102;
inline constexpr UINT kDlgPictureInfo = 123;
inline constexpr UINT kDlgVideoInfo = 125;
inline constexpr UINT kDlgSoundInfo = 128;
inline constexpr UINT kBarGallery = 103;

// Commands.
inline constexpr UINT kCmdInsert = 40014;
inline constexpr UINT kCmdMenu = 40011;
inline constexpr UINT kCmdView = 40019;
inline constexpr UINT kCmdPreview = 40010;
inline constexpr UINT kCmdPlay = 40022;
inline constexpr UINT kCmdStop = 40037;
inline constexpr UINT kCmdVideos = 40024;
inline constexpr UINT kCmdPictures = 40025;
inline constexpr UINT kCmdDetails = 40159;
inline constexpr UINT kCmdGrid = 40042;
inline constexpr UINT kCmdInformation = 40020;
inline constexpr UINT kCmdDelete = 40046;
inline constexpr UINT kCmdNewText = 40023;
inline constexpr UINT kCmdEditText = 40044;
inline constexpr UINT kCmdCamera = 40191;
/// Posted to itself after a successful camera reply, so the reply's send returns first.
inline constexpr UINT kCmdCameraDone = 40990;

// Texts.
inline constexpr UINT kStrPictures = 1002;
inline constexpr UINT kStrSounds = 1003;
inline constexpr UINT kStrTexts = 1004;
inline constexpr UINT kStrVideos = 1005;
inline constexpr UINT kStrNoTexts = 1006;
inline constexpr UINT kStrDeleteText = 1010;
inline constexpr UINT kStrDuplicateText = 1063;
inline constexpr UINT kStrDeletePicture = 1064;
inline constexpr UINT kStrDeleteSound = 1065;
inline constexpr UINT kStrDeleteVideo = 1066;
inline constexpr UINT kStrKilobytes = 1069;
inline constexpr UINT kStrMegabytes = 1071;
inline constexpr UINT kStrSeconds = 40043;
inline constexpr UINT kStrCaption = 40063;
inline constexpr UINT kStrCameraFailed = 40189;

// Icons and bitmaps.
inline constexpr UINT kIconFolder = 116;
inline constexpr UINT kIconPicture = 117;
inline constexpr UINT kIconSound = 118;
inline constexpr UINT kIconText = 119;
inline constexpr UINT kIconVideo = 124;
inline constexpr UINT kBmpNoThumbnail = 161;

// Information dialogs' fields: name, type, size, date, resolution or length, length.
inline constexpr int kPictureFields[] = {1001, 1002, 1003, 1004, 1005};
inline constexpr int kVideoFields[] = {1007, 1008, 1074, 1010, 1075, 1012};
inline constexpr int kSoundFields[] = {1077, 1015, 1016, 1017, 1018};

// Messages.
inline constexpr UINT kMsgListChanged = 2028;    ///< list to gallery: the soft key and menu need updating
inline constexpr UINT kMsgEditorConfirm = 2029;  ///< editor to canned-text list: 1 new / 0 edit
inline constexpr UINT kMsgClipProgress = 1227;   ///< audio player: length / position
inline constexpr UINT kMsgThumbSelected = 2030;  ///< grid to gallery: index

// Window classes.
inline constexpr const WCHAR* kClassThumbGrid = u"CLS_ULC_THUMBWND";
inline constexpr const WCHAR* kClassThumbCell = u"CLS_ULC_THUMBNAIL";
inline constexpr const WCHAR* kClassMediaList = u"UIC_LISTMEDIAVIEWCLS";
inline constexpr const WCHAR* kClassTextList = u"UIC_TEXTLISTMEDIAVIEWCLS";
inline constexpr const WCHAR* kClassCamera = u"RADE_AGENT";

// Mask classes and masks.
inline constexpr std::uint32_t kClassPicture = 1, kClassSound = 2, kClassText = 3, kClassVideo = 4;
inline constexpr std::uint32_t kMaskPictures = 0x1FFFF;
inline constexpr std::uint32_t kMaskSounds = 0x2FFFF;
inline constexpr std::uint32_t kMaskTexts = 0x3FFFF;
inline constexpr std::uint32_t kMaskVideos = 0x4FFFF;

// View modes of pictures and videos.
inline constexpr int kViewGrid = 1;
inline constexpr int kViewDetails = 0;

// Camera hand-off.
inline constexpr const WCHAR* kCameraKey = u"SOFTWARE\\ZE Roviz\\IPC\\Camera";
inline constexpr const WCHAR* kCameraPathValue = u"Path";
inline constexpr DWORD kCameraPathBytes = 260;
inline constexpr std::uintptr_t kCameraRequestType = 47000;
inline constexpr std::uintptr_t kCameraReplyType = 48000;
inline constexpr std::size_t kCameraRequestSize = 548;
inline constexpr std::size_t kCameraReplyHeader = 20;
inline constexpr std::size_t kCameraFolderOffset = 28;
inline constexpr std::size_t kCameraFolderChars = 260;
inline constexpr std::uint32_t kCameraPhoto = 0, kCameraVideo = 1;
inline constexpr std::uint32_t kCameraPhotoFormat = 2;
inline constexpr DWORD kCameraPollMs = 50;
inline constexpr int kCameraPollTimes = 100;

// Grid layout.
inline constexpr int kGridColumns = 3;
inline constexpr int kGridRows = 3;
inline constexpr int kGridCells = kGridColumns * kGridRows;

}  // namespace gallery::ids
