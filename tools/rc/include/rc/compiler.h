#pragma once
/// The resource compiler: turns a resource script (a subset of the .rc syntax) into the
/// resource table of platform/resources.h.
///
/// Accepted script:
///   // and /* */ comments; `#define NAME expression`; `#pragma` lines are ignored.
///   Numeric expressions: decimal or 0x numbers (optional L/U suffix), defined names and
///   the usual window, control, tool-bar and menu-bar constants, combined with | + - ~ ( );
///   in style lists `NOT X` clears X from the control's default style.
///   STRINGTABLE BEGIN id, "text" ... END           (adjacent literals are joined)
///   id MENU BEGIN POPUP "t" BEGIN MENUITEM "t", id [, GRAYED|CHECKED|INACTIVE]
///                                 MENUITEM SEPARATOR ... END ... END
///   id SHMENUBAR BEGIN menu id, count, then 7 words per button END   (also RCDATA)
///   id DIALOG x, y, cx, cy [STYLE s] [EXSTYLE s] [CAPTION "t"] [FONT pt, "face"]
///      BEGIN controls END
///      LTEXT|CTEXT|RTEXT|PUSHBUTTON|DEFPUSHBUTTON|CHECKBOX|AUTOCHECKBOX|GROUPBOX
///          "text", id, x, y, cx, cy [, style [, exstyle]]
///      EDITTEXT|LISTBOX|COMBOBOX id, x, y, cx, cy [, style [, exstyle]]
///      ICON icon, id, x, y [, cx, cy [, style [, exstyle]]]
///      CONTROL "text", id, "class", style, x, y, cx, cy [, exstyle]
///   id BITMAP "file.png"   id ICON "file.png"   (paths relative to the script)
///   id VERSIONINFO FILEVERSION a,b,c,d PRODUCTVERSION a,b,c,d ...
///      BEGIN BLOCK "..." BEGIN VALUE "key", "text" ... END END
///   Memory options (DISCARDABLE, MOVEABLE, PURE, ...) and LANGUAGE statements are skipped.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace rc {

/// Reads a file named by the script (path relative to the script); false when unreadable.
using FileReader = std::function<bool(const std::string& path, std::vector<std::uint8_t>* out)>;

struct CompileResult {
  bool ok = false;
  std::string error;  // "name:line: message" when !ok
  std::vector<std::uint8_t> table;
};

CompileResult Compile(std::string_view script, std::string_view scriptName, const FileReader& readFile);

/// C++ source that defines the table as the module's exported data symbol.
std::string EmitCpp(const std::vector<std::uint8_t>& table, std::string_view scriptName);

}  // namespace rc
