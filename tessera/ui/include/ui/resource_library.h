#pragma once
/// The program's binding of the resource library "Wren.dll": its module handle and the
/// formatting, font and layout entry points, and the loading of texts, bitmaps and icons
/// by id. Menus, soft-key bars and dialog templates are read from `module()` by the menu
/// bar and dialog creation.

#include <cstdint>
#include <string>

#include "platform/gdi.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/types.h"
#include "wren/wren.h"

namespace ui {

/// The font the program asks the window system for; fields as the platform's LOGFONT.
struct FontRequest {
  LONG lfHeight = 0;
  LONG lfWidth = 0;
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = 0;
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = 0;
  BYTE lfOutPrecision = 0;
  BYTE lfClipPrecision = 0;
  BYTE lfQuality = 0;
  BYTE lfPitchAndFamily = 0;
  std::u16string lfFaceName;
};

class ResourceLibrary {
 public:
  ResourceLibrary() = default;
  ~ResourceLibrary();
  ResourceLibrary(const ResourceLibrary&) = delete;
  ResourceLibrary& operator=(const ResourceLibrary&) = delete;

  /// Unloads any library loaded before and loads `path`. Each formatter given here is
  /// used instead of the library's own; the others, GetFontInfo and GetConstProc are
  /// looked up by name. True when the module loaded, whether or not entry points were
  /// found.
  bool Load(std::u16string_view path, FormatDateStringFn formatDate = nullptr,
            FormatTimeStringFn formatTime = nullptr, FormatNameStringFn formatName = nullptr);
  /// Frees the module and clears the entry points; false when nothing was loaded or the
  /// platform refused.
  bool Unload();

  /// The string of `id`; an absent string gives an empty text and false.
  bool LoadText(UINT id, std::u16string* text) const;
  std::u16string LoadText(UINT id) const;
  bool LoadBitmap(UINT id, platform::ResourceImage* image) const;
  bool LoadIcon(UINT id, platform::ResourceImage* image) const;

  /// The library's date text; returns its length, 0 when the library or the entry point
  /// is missing (the text is then empty).
  int FormatDate(std::u16string* text, int year, int month, int day) const;
  /// The library's time text, as FormatDate.
  int FormatTime(std::u16string* text, int hour, int minute) const;
  /// The library's form of a person's name from first name `nameA` and last name `nameB`.
  int FormatName(std::u16string* text, std::u16string_view nameA, std::u16string_view nameB) const;

  /// The font for `kind` (0: main list and folder lists, 1: everything else); false when
  /// the library, GetFontInfo or the kind is missing (the platform default is then used).
  bool MakeFontRequest(int kind, bool boldWish, FontRequest* request) const;
  /// The font of MakeFontRequest made by the window system; null when there is no request.
  /// The caller deletes it.
  HFONT CreateUiFont(int kind, bool boldWish) const;

  /// GetConstProc(index), 0 when the entry point is missing.
  int32_t GetConst(int index) const;

  HMODULE module() const { return module_; }
  bool loaded() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
  FormatDateStringFn formatDate_ = nullptr;
  FormatTimeStringFn formatTime_ = nullptr;
  FormatNameStringFn formatName_ = nullptr;
  GetFontInfoFn getFontInfo_ = nullptr;
  GetConstProcFn getConstProc_ = nullptr;
};

}  // namespace ui
