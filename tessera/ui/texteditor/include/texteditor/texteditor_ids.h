#pragma once
/// Dialog, menu, command, message and string ids of the text editor.
#include <cstddef>
#include <cstdint>

#include "platform/window.h"

namespace texteditor::ids {

inline constexpr UINT kDialog = 127;
inline constexpr int kEdit = 1014;
inline constexpr int kEditLeftMargin = 3;
inline constexpr std::size_t kMaxChars = 999;

inline constexpr UINT kMenuBarCanned = 126;
inline constexpr UINT kMenuBarPlain = 121;
inline constexpr UINT kMenuBarReadOnly = 120;

inline constexpr UINT kCmdConfirm = 40028;
inline constexpr UINT kCmdClose = 40036;
inline constexpr UINT kCmdInsertCanned = 40055;
inline constexpr UINT kCmdSaveCanned = 40056;

/// To the owner in plain mode before confirming: wParam the editor, lParam 1 for a new text.
inline constexpr UINT kMsgConfirmCanned = 2029;

inline constexpr UINT kStrCaption = 40063;
inline constexpr UINT kStrSaveLabel = 40061;
inline constexpr UINT kStrReadOnlyTitle = 1062;
inline constexpr UINT kStrDuplicate = 1063;
inline constexpr UINT kStrFailed = 40064;

/// The gallery's kind mask for picking a canned text.
inline constexpr std::uint32_t kCannedTextMask = 0x3FFFF;

}  // namespace texteditor::ids
