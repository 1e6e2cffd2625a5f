#pragma once
/// Starting another program of the device, as the phone's CreateProcess does for the
/// programs the system hands work to (the camera application).

#include <string>

namespace platform {

/// Starts the program at `path` with the arguments of `commandLine` (split at spaces; empty
/// for none), detached from this process: it is not waited for and outlives it. False when
/// the file is not an executable or the start fails.
bool StartProgram(std::u16string_view path, std::u16string_view commandLine);

}  // namespace platform
