#pragma once
/// Entry points of the encoder library "amr.enc", looked up by name.
#include "platform/types.h"

extern "C" {
/// Starts a real-time encoder writing the AMR file at `amrPath`; 0 on failure.
using VctPcm2AmrRtStartFn = HANDLE (*)(const WCHAR* amrPath);
/// Encodes 8 kHz 16-bit mono PCM bytes; any byte count, the rest is kept for the next call.
using VctPcm2AmrRtEncodeFn = int (*)(HANDLE encoder, const BYTE* pcm, DWORD bytes, int reserved1,
                                     int reserved2);
/// Flushes and closes; the AMR file is complete afterwards.
using VctPcm2AmrRtEndFn = int (*)(HANDLE encoder);
/// Converts a WAV file (8 kHz 16-bit mono PCM) to an AMR file; 0 on success.
using VctWav2AmrFn = int (*)(const WCHAR* wavPath, const WCHAR* amrPath, int reserved1, int reserved2);
}
