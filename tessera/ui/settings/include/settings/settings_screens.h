#pragma once
/// The settings screens: the general settings page and the message centre profile editor,
/// run modally from the resource library's templates.

#include "platform/window.h"
#include "transport/mm1_engine.h"
#include "ui/resource_library.h"

namespace ui {

/// The general settings page (dialog 154): 1 when saved, 0 when closed.
int RunSettings(const ResourceLibrary& resources, HWND owner);

/// The message centre profiles (dialog 155): the active one drawn bold with its mark; new,
/// edit, delete (after a confirmation) and select. Returns 1.
int RunProfiles(const ResourceLibrary& resources, HWND owner);

/// The profile editor (dialog 153) over a working copy of `profile`; 1 when the checks
/// passed and the edited texts were stored in `profile`. `index` is the profile edited
/// (0 for a new one): its own stored name does not count as taken.
int EditProfile(const ResourceLibrary& resources, HWND owner, transport::Mm1Profile* profile, bool isNew,
                int index);

}  // namespace ui
