#pragma once
/// The exports of the resource library "Wren.dll". All take and return 32-bit values; text
/// buffers are UTF-16, NUL-terminated and supplied by the caller. The formatting functions
/// return the length of the produced text in characters, without the NUL, and 0 (writing
/// nothing) for a null buffer.

#include <cstdint>

#include "platform/types.h"

#if defined(WREN_BUILDING)
#define WREN_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define WREN_EXPORT extern "C"
#endif

/// "%04d/%d/%d" of year, month and day.
WREN_EXPORT int32_t FormatDateString(WCHAR* buffer, int32_t year, int32_t month, int32_t day);

/// "%d:%02d %s" on a 12-hour clock: hours 0-11 are AM (hour 0 shows as 0), 12 is
/// "12:mm PM", 13 and later show hour - 12 with PM.
WREN_EXPORT int32_t FormatTimeString(WCHAR* buffer, int32_t hour, int32_t minute);

/// "B, A" when both names are non-empty, else "BA". The third argument is ignored. The
/// buffer must hold both names, two more characters and the NUL.
WREN_EXPORT int32_t FormatNameString(WCHAR* buffer, const WCHAR* nameA, const WCHAR* unused,
                                     const WCHAR* nameB);

/// Kinds 0 and 1: writes the face name "Nina" (at most 32 characters with the NUL) and the
/// height 12, returns 1. Other kinds return 0 and write nothing.
WREN_EXPORT int32_t GetFontInfo(int32_t kind, WCHAR* faceName, int32_t* height);

/// Whether fonts are bold; this localisation says no.
WREN_EXPORT int32_t IsFontBold(int32_t height, int32_t negativeHeight);

/// Display constants 1-25 (colours in 0x00BBGGRR form); 0 for any other index.
WREN_EXPORT int32_t GetConstProc(int32_t index);

/// Signatures of the exports, for callers that look them up by name.
using FormatDateStringFn = int32_t (*)(WCHAR*, int32_t, int32_t, int32_t);
using FormatTimeStringFn = int32_t (*)(WCHAR*, int32_t, int32_t);
using FormatNameStringFn = int32_t (*)(WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*);
using GetFontInfoFn = int32_t (*)(int32_t, WCHAR*, int32_t*);
using IsFontBoldFn = int32_t (*)(int32_t, int32_t);
using GetConstProcFn = int32_t (*)(int32_t);
