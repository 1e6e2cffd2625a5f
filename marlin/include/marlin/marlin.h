#pragma once
/// Media player: plays the video and audio of one MP4/3GP file. One player per process.
/// Every call returns 0 on success and -1 on failure unless stated.

#include <cstdint>

#define MARLIN_API extern "C" __attribute__((visibility("default")))

/// The handle of the open player.
inline constexpr std::uint32_t kMarlinHandle = 119;

/// Result codes.
enum MarlinResult : std::int32_t {
  kMarlinOk = 0,
  kMarlinFailed = -1,
  kMarlinCountTooSmall = -1001,  ///< the caller's track info array holds fewer entries than tracks
};

/// Completion codes passed to the completion callback.
enum MarlinCompletion : std::int32_t {
  kVideoTrackEnded = 1000,
  kAudioTrackEnded = 1001,
  kForwardReachedEnd = 1002,
  kRewindReachedStart = 1003,
};

#pragma pack(push, 1)
struct VideoTrackInfo {
  std::uint16_t codec;  ///< 32 MPEG-4 Visual, 194 H.263, 0 other
  std::uint16_t trackId;
  std::uint16_t width;
  std::uint16_t height;
  std::uint32_t durationMs;
};
struct AudioTrackInfo {
  std::uint16_t codec;  ///< 64 AAC, 192 AMR narrow-band, 0 other
  std::uint16_t trackId;
  std::uint16_t sampleRate;
  std::uint16_t channels;
  std::uint32_t durationMs;
};
struct RenderingWindow {
  std::uint16_t mode;  ///< 1 is refused; the system passes 0
  std::uint16_t spare;
  std::uint16_t rotation;  ///< 0..3, quarter turns clockwise (3 counter-clockwise)
  std::uint16_t screenWidth;
  std::uint16_t screenHeight;
  std::uint16_t left;
  std::uint16_t top;
  std::uint16_t width;
  std::uint16_t height;
};
struct FrameRequest {
  std::uint16_t width;
  std::uint16_t height;
  std::uint16_t format;    ///< 1 YUV 4:2:0 planar, 0 RGB565
  std::uint16_t rotation;  ///< for RGB565 output
  std::uint32_t size;      ///< in: buffer capacity; out: bytes of the picture
};
struct AudioDeviceSetting {
  std::int32_t deviceId;  ///< waveOut device; -1 the wave mapper
  std::uint16_t channels;
  std::uint16_t spare;
};
#pragma pack(pop)
static_assert(sizeof(VideoTrackInfo) == 12 && sizeof(AudioTrackInfo) == 12);
static_assert(sizeof(RenderingWindow) == 18 && sizeof(FrameRequest) == 12 && sizeof(AudioDeviceSetting) == 8);

using MP_CompletionCallback = void (*)(void* user, std::int32_t code);
using MP_TrackbarCallback = void (*)(void* user, std::uint32_t positionMs);
using MP_ErrorCallback = void (*)(void* user, std::int32_t code);

MARLIN_API int MP_OpenMediaPlayer(const char* path, std::uint32_t reserved, std::uint32_t* handle);
MARLIN_API int MP_CloseMediaPlayer(std::uint32_t ignored);
MARLIN_API int MP_GetVideoTrackInfo(std::uint32_t handle, VideoTrackInfo* info, std::uint32_t* count);
MARLIN_API int MP_GetAudioTrackInfo(std::uint32_t handle, AudioTrackInfo* info, std::uint32_t* count);
MARLIN_API int MP_OpenVideoTrack(std::uint32_t handle, std::uint32_t trackId, std::uint32_t* openedId);
MARLIN_API int MP_OpenAudioTrack(std::uint32_t handle, std::uint32_t trackId, std::uint32_t* openedId);
MARLIN_API int MP_CloseTrack(std::uint32_t trackId);
MARLIN_API int MP_SetVideoRenderingWindow(std::uint32_t handle, const RenderingWindow* window);
MARLIN_API int MP_SetAudioRenderingDevice(std::uint32_t handle, const AudioDeviceSetting* setting);
MARLIN_API int MP_SetCompletionCallback(std::uint32_t handle, MP_CompletionCallback callback, void* user);
MARLIN_API int MP_SetTrackbarUpdateCallback(std::uint32_t handle, MP_TrackbarCallback callback, void* user);
MARLIN_API int MP_SetErrorCallback(std::uint32_t handle, MP_ErrorCallback callback, void* user);
MARLIN_API int MP_Play(std::uint32_t handle);
MARLIN_API int MP_Pause(std::uint32_t handle);
MARLIN_API int MP_Stop(std::uint32_t handle);
MARLIN_API int MP_SetSeekPosition(std::uint32_t handle, std::uint32_t positionMs);
MARLIN_API int MP_ForwardPlay(std::uint32_t handle, float speed, std::uint32_t keyFramesOnly);
MARLIN_API int MP_RewindPlay(std::uint32_t handle, float speed);
/// Copies the current picture of the open, paused video track (see FrameRequest).
MARLIN_API int MP_GetVideoFrame(std::uint32_t trackId, FrameRequest* request, std::uint8_t* buffer);
/// Opens `path` on its own and delivers its first picture; flags low 16 bits == 1 skips blank pictures.
MARLIN_API int MP_GetFirstVideoFrame(const char* path, FrameRequest* request, std::uint8_t* buffer,
                                     std::uint32_t flags);
MARLIN_API int MP_GetStatistics(std::uint32_t* videoFrames, std::uint32_t* videoDecodeMs,
                                std::uint32_t* videoPresentMs, std::uint32_t* videoReadMs,
                                std::uint32_t* audioDecodeCalls, std::uint32_t* audioDecodeMs,
                                std::uint32_t* audioReadMs);
