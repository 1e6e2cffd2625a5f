#pragma once
/// Wave audio devices with the phone OS's calls, records and numeric values.
///
/// Output and input devices run a driver thread each; the function callback
/// (WOM_OPEN/WOM_DONE/WOM_CLOSE, WIM_OPEN/WIM_DATA/WIM_CLOSE) is called on it, except
/// the open and close notifications, which arrive on the caller's thread inside the
/// open and close calls. The callback may queue further buffers.
///
/// The backend is chosen by $TESSERA_AUDIO: "sdl" (default; speakers and microphone,
/// falling back to "null" when SDL has no audio), "file" (output is written to a WAV
/// file under <device root>/audio-out/, input is read from the WAV file named by
/// $TESSERA_AUDIO_IN) or "null" (output discarded, input silent). Every backend is
/// paced in real time.
#include <string>
#include "platform/types.h"

using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;
struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;
struct HWAVEIN__;
using HWAVEIN = HWAVEIN__*;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr DWORD CALLBACK_NULL = 0x00000000;
inline constexpr DWORD CALLBACK_FUNCTION = 0x00030000;

inline constexpr UINT WOM_OPEN = 0x3BB;
inline constexpr UINT WOM_CLOSE = 0x3BC;
inline constexpr UINT WOM_DONE = 0x3BD;
inline constexpr UINT WIM_OPEN = 0x3BE;
inline constexpr UINT WIM_CLOSE = 0x3BF;
inline constexpr UINT WIM_DATA = 0x3C0;

inline constexpr DWORD WHDR_DONE = 0x01;
inline constexpr DWORD WHDR_PREPARED = 0x02;
inline constexpr DWORD WHDR_BEGINLOOP = 0x04;
inline constexpr DWORD WHDR_ENDLOOP = 0x08;
inline constexpr DWORD WHDR_INQUEUE = 0x10;

inline constexpr WORD WAVE_FORMAT_PCM = 1;

// Supported-format flags of the capability record: 11.025, 22.05, 44.1 kHz, each as
// mono 8-bit, stereo 8-bit, mono 16-bit, stereo 16-bit.
inline constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
inline constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
inline constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
inline constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
inline constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
inline constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
inline constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
inline constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
inline constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
inline constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
inline constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
inline constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;
inline constexpr DWORD WAVECAPS_VOLUME = 0x0004;
inline constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;

struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

struct WAVEHDR {
  char* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;
};
using LPWAVEHDR = WAVEHDR*;

struct WAVEOUTCAPS {
  WORD wMid;
  WORD wPid;
  UINT vDriverVersion;
  WCHAR szPname[32];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
  DWORD dwSupport;
};

struct WAVEINCAPS {
  WORD wMid;
  WORD wPid;
  UINT vDriverVersion;
  WCHAR szPname[32];
  DWORD dwFormats;
  WORD wChannels;
  WORD wReserved1;
};

using WAVEOUTPROC = void (*)(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);
using WAVEINPROC = void (*)(HWAVEIN device, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR param2);

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCaps(UINT deviceId, WAVEOUTCAPS* caps, UINT size);
/// Only CALLBACK_FUNCTION and CALLBACK_NULL are supported; the format must be PCM with
/// 1 or 2 channels and 8 or 16 bits.
MMRESULT waveOutOpen(HWAVEOUT* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
/// WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveOutClose(HWAVEOUT device);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, UINT size);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
/// Stops at once and hands every queued buffer back (WOM_DONE) before returning.
MMRESULT waveOutReset(HWAVEOUT device);
/// Low word: left channel, high word: right channel, 0..0xFFFF each.
MMRESULT waveOutSetVolume(HWAVEOUT device, DWORD volume);
MMRESULT waveOutGetVolume(HWAVEOUT device, DWORD* volume);

UINT waveInGetNumDevs();
MMRESULT waveInGetDevCaps(UINT deviceId, WAVEINCAPS* caps, UINT size);
MMRESULT waveInOpen(HWAVEIN* device, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInClose(HWAVEIN device);
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header, UINT size);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header, UINT size);
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header, UINT size);
MMRESULT waveInStart(HWAVEIN device);
MMRESULT waveInStop(HWAVEIN device);
/// Stops and hands every queued buffer back (WIM_DATA) before returning.
MMRESULT waveInReset(HWAVEIN device);

inline constexpr UINT SND_SYNC = 0x0000;
inline constexpr UINT SND_ASYNC = 0x0001;
inline constexpr UINT SND_NODEFAULT = 0x0002;
inline constexpr UINT SND_FILENAME = 0x00020000;
/// Plays a PCM WAV file through the output device (SND_ASYNC: on a thread of its own;
/// a null name stops an asynchronous sound). FALSE when the file cannot be played.
BOOL sndPlaySound(LPCWSTR soundName, UINT flags);

namespace platform {
/// Path of the WAV file the file backend writes for the open output device; "" for
/// other backends. Names are "wave-out-<pid>-<n>.wav", numbered per process.
std::u16string WaveOutFilePath(HWAVEOUT device);
}  // namespace platform
