#pragma once
/// What the composer uses when its host gives no picker, recorder, preview or send page:
/// the media gallery, the sound recorder, the viewer and the send page of the program.
#include <optional>
#include <string>

#include "platform/window.h"
#include "store/message_store.h"

namespace composer {

std::optional<std::u16string> DefaultPicker(HWND owner, std::uint32_t* kindMask);
std::optional<std::u16string> DefaultRecorder(HWND owner, const std::u16string& folder);
void DefaultPreview(HWND owner, store::MessageEntry* entry);
int DefaultSendPage(HWND owner, store::MessageEntry* entry, bool* changed, bool directSend);

}  // namespace composer
