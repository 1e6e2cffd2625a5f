#include "ui/common/app_context.h"

namespace ui {

AppContext& Context() {
  static AppContext* context = new AppContext;  // lives until the process ends
  return *context;
}

std::u16string LoadUiText(UINT id) {
  const ResourceLibrary* library = Context().resources;
  return library ? library->LoadText(id) : std::u16string();
}

}  // namespace ui
