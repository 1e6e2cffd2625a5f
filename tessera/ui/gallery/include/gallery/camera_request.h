#pragma once
/// The camera hand-off records. The request (WM_COPYDATA type 47000, 548 bytes) and the reply
/// (type 48000) are little-endian, without padding.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace config {
class Config;
}

namespace gallery {

struct CameraRequest {
  std::uint32_t window = 0;       ///< the requesting window's handle (its low 32 bits)
  std::uint32_t mode = 0;         ///< 0 photograph, 1 video
  std::uint32_t format = 0;       ///< 2 for a photograph, "VideoFormat" for a video
  std::uint32_t orientation = 0;  ///< 1 landscape photograph; video: 0 when landscape, else 1
  std::uint32_t resolution = 0;   ///< "PhotoRes" or "VideoRes"
  std::uint32_t maxBytes = 0;     ///< video: "SendDefault" x "VideoFileRatio" / 100; 0 for a photograph
  std::u16string folder;          ///< where the new file goes (at most 259 characters kept)
};

/// The request for a photograph (`video` false) or a video from the configuration.
CameraRequest MakeCameraRequest(const config::Config& config, bool video, std::uint32_t window,
                                const std::u16string& folder);
std::vector<std::uint8_t> EncodeCameraRequest(const CameraRequest& request);
/// Nullopt when the block is shorter than a request.
std::optional<CameraRequest> DecodeCameraRequest(const void* data, std::size_t size);

/// The reply: the status word (0 success) and the new file's path after the 20-byte header.
std::vector<std::uint8_t> EncodeCameraReply(std::uint32_t status, const std::u16string& path);
/// The new file's path when the reply says success and names a path; nullopt otherwise.
std::optional<std::u16string> DecodeCameraReply(const void* data, std::size_t size);

/// The camera program's path from the registry ("Path" under the camera key); empty when
/// absent or the file does not exist.
std::u16string CameraProgramPath();

/// Finds the camera's window, starting the program when there is none and looking again
/// every 50 ms at most 100 times (`wait` sleeps; tests advance a clock). Null on failure.
HWND FindOrStartCamera(const std::u16string& program, void (*wait)(DWORD ms));

}  // namespace gallery
