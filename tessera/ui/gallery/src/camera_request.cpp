#include "gallery/camera_request.h"

#include <algorithm>
#include <cstring>

#include "config/config.h"
#include "config/registry.h"
#include "gallery/gallery_ids.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/window.h"

namespace gallery {

namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

/// UTF-16LE text from `p` up to its NUL or `maxChars`.
std::u16string GetText(const std::uint8_t* p, std::size_t maxChars) {
  std::u16string s;
  for (std::size_t i = 0; i < maxChars; ++i) {
    const char16_t c = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

}  // namespace

CameraRequest MakeCameraRequest(const config::Config& config, bool video, std::uint32_t window,
                                const std::u16string& folder) {
  CameraRequest r;
  r.window = window;
  r.folder = folder;
  if (!video) {
    r.mode = ids::kCameraPhoto;
    r.format = ids::kCameraPhotoFormat;
    r.orientation = config.GetPhotoLandscape() ? 1 : 0;
    r.resolution = config.GetPhotoRes();
    r.maxBytes = 0;
  } else {
    r.mode = ids::kCameraVideo;
    r.format = config.GetVideoFormat();
    r.orientation = config.GetVideoLandscape() ? 0 : 1;
    r.resolution = config.GetVideoRes();
    r.maxBytes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(config.GetSendDefault()) *
                                            config.GetVideoFileRatio() / 100);
  }
  return r;
}

std::vector<std::uint8_t> EncodeCameraRequest(const CameraRequest& r) {
  std::vector<std::uint8_t> out(ids::kCameraRequestSize, 0);
  Put32(&out[0], r.window);
  Put32(&out[4], r.mode);
  Put32(&out[8], r.format);
  Put32(&out[12], r.orientation);
  Put32(&out[16], r.resolution);
  Put32(&out[20], r.maxBytes);
  Put32(&out[24], 0);
  // The folder field holds 260 characters with the terminator: a longer path is cut so
  // that the record always ends its text.
  const std::size_t n = std::min(r.folder.size(), ids::kCameraFolderChars - 1);
  for (std::size_t i = 0; i < n; ++i) {
    out[ids::kCameraFolderOffset + 2 * i] = static_cast<std::uint8_t>(r.folder[i]);
    out[ids::kCameraFolderOffset + 2 * i + 1] = static_cast<std::uint8_t>(r.folder[i] >> 8);
  }
  return out;
}

std::optional<CameraRequest> DecodeCameraRequest(const void* data, std::size_t size) {
  if (!data || size < ids::kCameraRequestSize) return std::nullopt;
  const auto* p = static_cast<const std::uint8_t*>(data);
  CameraRequest r;
  r.window = Get32(p);
  r.mode = Get32(p + 4);
  r.format = Get32(p + 8);
  r.orientation = Get32(p + 12);
  r.resolution = Get32(p + 16);
  r.maxBytes = Get32(p + 20);
  r.folder = GetText(p + ids::kCameraFolderOffset, ids::kCameraFolderChars);
  return r;
}

std::vector<std::uint8_t> EncodeCameraReply(std::uint32_t status, const std::u16string& path) {
  std::vector<std::uint8_t> out(ids::kCameraReplyHeader + 2 * (path.size() + 1), 0);
  Put32(&out[0], status);
  for (std::size_t i = 0; i < path.size(); ++i) {
    out[ids::kCameraReplyHeader + 2 * i] = static_cast<std::uint8_t>(path[i]);
    out[ids::kCameraReplyHeader + 2 * i + 1] = static_cast<std::uint8_t>(path[i] >> 8);
  }
  return out;
}

std::optional<std::u16string> DecodeCameraReply(const void* data, std::size_t size) {
  if (!data || size < ids::kCameraReplyHeader) return std::nullopt;
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (Get32(p) != 0) return std::nullopt;
  // The path runs to its NUL or the end of the block, whichever comes first.
  std::u16string path = GetText(p + ids::kCameraReplyHeader, (size - ids::kCameraReplyHeader) / 2);
  if (path.empty()) return std::nullopt;
  return path;
}

std::u16string CameraProgramPath() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, ids::kCameraKey, 0, 0, &key) != ERROR_SUCCESS) return {};
  WCHAR buffer[ids::kCameraPathBytes / sizeof(WCHAR)] = {};
  DWORD type = 0, bytes = sizeof buffer;
  const LONG rc = RegQueryValueEx(key, ids::kCameraPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {};
  buffer[std::size(buffer) - 1] = 0;
  std::u16string path(buffer);
  return platform::FileExists(path) ? path : std::u16string();
}

HWND FindOrStartCamera(const std::u16string& program, void (*wait)(DWORD ms)) {
  if (HWND found = FindWindow(ids::kClassCamera, nullptr)) return found;
  if (program.empty() || !platform::StartProgram(program, u"")) return nullptr;
  for (int i = 0; i < ids::kCameraPollTimes; ++i) {
    if (wait) wait(ids::kCameraPollMs);
    if (HWND found = FindWindow(ids::kClassCamera, nullptr)) return found;
  }
  return nullptr;
}

}  // namespace gallery
