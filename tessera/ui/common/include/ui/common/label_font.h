#pragma once
/// The labels of a screen in the font of kind 1 from the resource library, for as long as
/// the object lives (it outlives the dialog whose labels use it).
#include <initializer_list>

#include "platform/window.h"
#include "ui/resource_library.h"

namespace ui {

inline constexpr int kFontKindList = 0;   ///< main list and folder lists
inline constexpr int kFontKindOther = 1;  ///< every other text

class LabelFont {
 public:
  LabelFont() = default;
  ~LabelFont();
  LabelFont(const LabelFont&) = delete;
  LabelFont& operator=(const LabelFont&) = delete;

  /// Makes the font (once) and sets it on each control of `ids` in `dialog`; without a font
  /// from the library the labels keep the system font. False when no font was made.
  bool Apply(const ResourceLibrary& resources, HWND dialog, std::initializer_list<int> ids);
  HFONT font() const { return font_; }

 private:
  HFONT font_ = nullptr;
};

}  // namespace ui
