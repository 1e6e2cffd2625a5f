// The gallery's side of the camera hand-off: find or start the camera, send the request,
// and end with the new file when the camera replies.
#include "config/config.h"
#include "gallery/camera_request.h"
#include "gallery/gallery_dialog.h"
#include "gallery/gallery_ids.h"
#include "platform/dialogs.h"
#include "platform/sync.h"

namespace gallery {

namespace {

void Wait(DWORD ms) {
  Sleep(ms);
}

}  // namespace

LRESULT GalleryDialog::OnCamera(WPARAM, LPARAM) {
  if (cls_ != ids::kClassPicture && cls_ != ids::kClassVideo) return 0;
  const bool video = cls_ == ids::kClassVideo;
  CloseSound();
  HWND camera = FindOrStartCamera(CameraProgramPath(), &Wait);
  bool sent = false;
  if (camera) {
    const CameraRequest request = MakeCameraRequest(
        *config_, video, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(hwnd_)),
        config_->GetPicturePath(true));
    std::vector<std::uint8_t> block = EncodeCameraRequest(request);
    COPYDATASTRUCT data{ids::kCameraRequestType, static_cast<DWORD>(block.size()), block.data()};
    // The handle in the record has 32 bits; the reply goes to the sender named by wParam.
    sent = ::SendMessage(camera, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd_), reinterpret_cast<LPARAM>(&data)) != 0;
    if (sent) SetForegroundWindow(camera);
  }
  if (!sent) Message(ids::kStrCameraFailed);
  return 0;
}

LRESULT GalleryDialog::OnCopyData(WPARAM, LPARAM lParam) {
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (!data || data->dwData != ids::kCameraReplyType) return FALSE;
  SetWindowLong(hwnd_, DWL_MSGRESULT, TRUE);
  std::optional<std::u16string> path = DecodeCameraReply(data->lpData, data->cbData);
  SetForegroundWindow(hwnd_);
  if (!path) {
    // Anything but success ends the gallery as cancelled.
    PostMessage(WM_COMMAND, IDCANCEL, 0);
    return TRUE;
  }
  mask_ = presentation::KindFromFileName(*path);
  state_.mask = mask_;
  result_ = *path;
  pendingResult_ = *path;
  PostMessage(WM_COMMAND, ids::kCmdCameraDone, 0);
  return TRUE;
}

LRESULT GalleryDialog::OnCameraDone(WPARAM, LPARAM) {
  if (pendingResult_) Finish(*pendingResult_);
  return 0;
}

}  // namespace gallery
