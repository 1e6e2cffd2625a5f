#pragma once
// What the camera agent captures with: frames from a V4L2 device when one exists, else a
// moving test pattern; photographs and clips are encoded by ffmpeg, the clip's sound by the
// AMR-NB encoder.
#include <cstdint>
#include <string>

namespace camera {

// The request as the agent reads it (little-endian, 548 bytes).
struct Request {
  std::uint32_t mode = 0;  // 0 photograph, 1 video
  std::uint32_t orientation = 0;
  std::uint32_t maxBytes = 0;  // 0: no limit
  std::string folder;          // UTF-8
};
inline constexpr std::uintptr_t kRequestType = 47000;
inline constexpr std::uintptr_t kReplyType = 48000;
inline constexpr std::size_t kRequestSize = 548;

bool ParseRequest(const void* data, std::size_t size, Request* out);

// The V4L2 device to use, or "" for the test pattern ($TESSERA_CAMERA_DEVICE, else
// /dev/video0 when it exists; "none" forces the pattern).
std::string CaptureDevice();

// Writes the next free "IMGnnnn.jpg" or "VIDnnnn.3gp" of `folder` within `maxBytes` (0: any
// size); the path written, or "" on failure.
std::string TakePhoto(const std::string& folder, bool landscape, std::uint32_t maxBytes);
std::string RecordClip(const std::string& folder, std::uint32_t maxBytes);

// Three seconds or less of AMR-NB (12.2 kbit/s) of a tone, as an ".amr" file.
bool WriteToneAmr(const std::string& path, int milliseconds);

}  // namespace camera
