#pragma once
/// Well-known places of the device: the device root (the phone's root volume "\"), its
/// documents folder and the program directory. Directory paths are returned without a
/// trailing separator.

#include <string>
#include <string_view>

#include "platform/text.h"
#include "platform/types.h"

namespace platform {

/// $TESSERA_ROOT when set and non-empty, else $XDG_DATA_HOME/tessera/device, else
/// ~/.local/share/tessera/device. Read anew on every call (tests switch roots) and
/// created, level by level, when missing.
std::u16string DeviceRoot();

/// "<device root>/My Documents", created when missing.
std::u16string DocumentsFolder();

/// Full path of the running executable (/proc/self/exe).
std::u16string ProgramPath();

/// Directory of the running executable: where the read-only program files live ("Wren.dll",
/// the decoders, the sounds and pictures installed with the program).
std::u16string ProgramDirectory();

/// Where the running program keeps the files it writes beside itself (transfer logs, the last
/// notification, the registration log). They belong to the device, so two device roots served
/// by one installation never share them: the program directory when it lies on the device
/// (below the device root), else "<device root>/Program Files/Tessera", created when missing.
std::u16string ProgramDataDirectory();

/// The same rule for the program at `programPath` (as a registry value names it): its own
/// directory when that lies on the device, the device root for a bare file name (where a
/// bare name lands on the phone), else the device's program-data folder.
std::u16string ProgramDataDirectoryOf(std::u16string_view programPath);

/// `dir` + separator + `name`, without doubling a separator already present.
std::u16string JoinPath(std::u16string_view dir, std::u16string_view name);

/// Maps a path text of the phone ("\Temp\Temp.txt", "My Documents\x") onto the device
/// root: every '\' becomes the separator and the result lies below DeviceRoot().
std::u16string DevicePath(std::u16string_view phonePath);

/// The part of `path` up to and including its last separator ("" when there is none).
std::u16string_view DirectoryPart(std::u16string_view path);

/// The part after the last separator.
std::u16string_view FileNamePart(std::u16string_view path);

/// The extension including its dot ("" when the file name has none).
std::u16string_view ExtensionPart(std::u16string_view path);

/// Path text for Linux system calls (UTF-8).
inline std::string NativePath(std::u16string_view path) {
  return Utf16ToUtf8(path);
}

}  // namespace platform
