#pragma once
/// The process-wide context every screen reaches shared objects through: the resource
/// library, the configuration accessor, the main frame, the contacts session and the
/// program's instance. Made on first use, never freed before exit.
#include <string>

#include "config/config.h"
#include "platform/module.h"
#include "ui/resource_library.h"

namespace ui {

class MainFrame;
class ContactsSession;
class Application;

struct AppContext {
  ResourceLibrary* resources = nullptr;
  config::Config* config = nullptr;
  MainFrame* mainFrame = nullptr;
  ContactsSession* contacts = nullptr;
  HINSTANCE instance = nullptr;
  Application* application = nullptr;
  /// The program's directory, ending with the separator.
  std::u16string programDirectory;
};

AppContext& Context();

/// The text of string `id` from the resource library; empty when it is missing.
std::u16string LoadUiText(UINT id);

}  // namespace ui
