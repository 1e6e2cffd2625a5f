#pragma once
/// Ids of the sound recorder.
#include "platform/window.h"

namespace recorder::ids {

inline constexpr UINT kDialog = 102;
inline constexpr UINT kMenuBar = 130;
inline constexpr UINT kCmdKey = 40057;
inline constexpr UINT kMsgProgress = 1227;

inline constexpr UINT kStrRecord = 40049;
inline constexpr UINT kStrStop = 40047;
inline constexpr UINT kStrPlay = 1007;
inline constexpr UINT kStrDone = 40148;
inline constexpr UINT kStrLimit = 1011;
inline constexpr UINT kStrSeconds = 1012;
inline constexpr UINT kStrFailed = 40064;
inline constexpr UINT kStrCaption = 40063;

// Dialog states.
inline constexpr int kStateRecording = 0;
inline constexpr int kStateReady = 1;
inline constexpr int kStateRecorded = 2;
inline constexpr int kStateReviewed = 3;

inline constexpr int kTextInset = 3;
inline constexpr int kConversionPathChars = 260;

}  // namespace recorder::ids
