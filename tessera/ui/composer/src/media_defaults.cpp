#include "composer/media_defaults.h"

#include "gallery/gallery.h"
#include "recorder/recorder.h"
#include "sendpage/send_page.h"
#include "ui/common/app_context.h"
#include "viewer/viewer_dialog.h"

namespace composer {

std::optional<std::u16string> DefaultPicker(HWND owner, std::uint32_t* kindMask) {
  return gallery::RunGallery(owner, kindMask);
}

std::optional<std::u16string> DefaultRecorder(HWND owner, const std::u16string& folder) {
  // Each recording gets its own number, so a working file never meets an older one.
  static int number = 0;
  std::u16string result;
  if (recorder::RunRecorder(owner, folder, &result, ++number) != 1 || result.empty()) return std::nullopt;
  return result;
}

void DefaultPreview(HWND owner, store::MessageEntry* entry) {
  viewer::ViewerContext context;
  context.resources = ui::Context().resources;
  if (context.resources && entry) viewer::RunViewer(owner, entry, context);
}

int DefaultSendPage(HWND owner, store::MessageEntry* entry, bool* changed, bool directSend) {
  ui::SendPageContext context;
  context.resources = ui::Context().resources;
  context.contacts = ui::Context().contacts;
  if (ui::Context().config) context.defaultResolution = static_cast<int>(ui::Context().config->GetDefaultResolution());
  if (!context.resources || !entry) return 0;
  return ui::RunSendPage(context, entry, owner, changed, directSend);
}

}  // namespace composer
