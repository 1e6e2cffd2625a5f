#include "ui/common/label_font.h"


namespace ui {

LabelFont::~LabelFont() {
  if (font_) DeleteObject(font_);
}

bool LabelFont::Apply(const ResourceLibrary& resources, HWND dialog, std::initializer_list<int> ids) {
  // The program always asks with the bold wish; the library's answer decides.
  if (!font_) font_ = resources.CreateUiFont(kFontKindOther, true);
  if (!font_) return false;
  for (int id : ids)
    if (HWND label = GetDlgItem(dialog, id)) SendMessage(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  return true;
}

}  // namespace ui
