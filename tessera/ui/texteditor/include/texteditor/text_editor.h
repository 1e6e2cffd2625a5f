#pragma once
/// The text editor (dialog 127): one edit control over the whole screen, in three modes.
/// Canned-text mode edits a slide's text and can insert and save canned texts; plain mode
/// writes one canned text and asks its owner (message 2029) before it closes; read-only
/// mode shows a text.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/window.h"

namespace texteditor {

enum class TextEditorMode { CannedText, Plain, ReadOnly };

/// Runs dialog 127 modally over `owner`; `text` in/out. IDOK when the text was accepted,
/// IDCANCEL otherwise (-1 when the dialog could not be made). The resource library is the
/// one of ui::Context().
INT_PTR RunTextEditor(HWND owner, TextEditorMode mode, std::u16string* text, const std::u16string& cannedTextsFile);

/// Picks one canned text (the media gallery in text mode); nullopt when cancelled.
using CannedTextPicker = std::function<std::optional<std::u16string>(HWND owner, std::uint32_t* kindMask)>;
/// The picker "insert canned text" runs; the program sets the gallery's at start-up. Without
/// one the command does nothing.
void SetCannedTextPicker(CannedTextPicker picker);

}  // namespace texteditor
