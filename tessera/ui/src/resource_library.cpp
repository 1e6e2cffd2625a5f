#include "ui/resource_library.h"

#include <algorithm>
#include <vector>

namespace ui {

namespace {

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

// Text buffers start at this size and grow by it.
constexpr int kTextStep = 256;
// The date and time texts are formatted into a buffer of this many characters first.
constexpr int kFormatBuffer = 260;

}  // namespace

ResourceLibrary::~ResourceLibrary() {
  Unload();
}

bool ResourceLibrary::Load(std::u16string_view path, FormatDateStringFn formatDate,
                           FormatTimeStringFn formatTime, FormatNameStringFn formatName) {
  Unload();
  const std::u16string file(path);
  module_ = LoadLibrary(file.c_str());
  if (!module_) return false;
  formatDate_ = formatDate ? formatDate : Lookup<FormatDateStringFn>(module_, "FormatDateString");
  formatTime_ = formatTime ? formatTime : Lookup<FormatTimeStringFn>(module_, "FormatTimeString");
  formatName_ = formatName ? formatName : Lookup<FormatNameStringFn>(module_, "FormatNameString");
  getFontInfo_ = Lookup<GetFontInfoFn>(module_, "GetFontInfo");
  getConstProc_ = Lookup<GetConstProcFn>(module_, "GetConstProc");
  return true;
}

bool ResourceLibrary::Unload() {
  if (!module_) return false;
  const bool freed = FreeLibrary(module_) != FALSE;
  module_ = nullptr;
  formatDate_ = nullptr;
  formatTime_ = nullptr;
  formatName_ = nullptr;
  getFontInfo_ = nullptr;
  getConstProc_ = nullptr;
  return freed;
}

bool ResourceLibrary::LoadText(UINT id, std::u16string* text) const {
  text->clear();
  if (!module_) return false;
  // A text that fills the buffer to within one character may have been cut: grow and
  // load again.
  std::vector<WCHAR> buffer(kTextStep);
  int length = 0;
  for (;;) {
    length = LoadString(module_, id, buffer.data(), static_cast<int>(buffer.size()));
    if (length < static_cast<int>(buffer.size()) - 1) break;
    buffer.resize(buffer.size() + kTextStep);
  }
  if (length <= 0) return false;
  text->assign(buffer.data(), static_cast<std::size_t>(length));
  return true;
}

std::u16string ResourceLibrary::LoadText(UINT id) const {
  std::u16string text;
  LoadText(id, &text);
  return text;
}

bool ResourceLibrary::LoadBitmap(UINT id, platform::ResourceImage* image) const {
  return module_ && platform::LoadBitmapImage(module_, id, image);
}

bool ResourceLibrary::LoadIcon(UINT id, platform::ResourceImage* image) const {
  return module_ && platform::LoadIconImage(module_, id, image);
}

int ResourceLibrary::FormatDate(std::u16string* text, int year, int month, int day) const {
  text->clear();
  if (!module_ || !formatDate_) return 0;
  std::vector<WCHAR> buffer(kFormatBuffer);
  int length = formatDate_(buffer.data(), year, month, day);
  // A replacement library may write longer texts; room for the text and its NUL is
  // made before asking again.
  if (length >= static_cast<int>(buffer.size())) {
    buffer.assign(static_cast<std::size_t>(length) + 1, 0);
    length = formatDate_(buffer.data(), year, month, day);
    if (length >= static_cast<int>(buffer.size())) return 0;
  }
  if (length <= 0) return 0;
  text->assign(buffer.data(), static_cast<std::size_t>(length));
  return length;
}

int ResourceLibrary::FormatTime(std::u16string* text, int hour, int minute) const {
  text->clear();
  if (!module_ || !formatTime_) return 0;
  std::vector<WCHAR> buffer(kFormatBuffer);
  int length = formatTime_(buffer.data(), hour, minute);
  if (length >= static_cast<int>(buffer.size())) {
    buffer.assign(static_cast<std::size_t>(length) + 1, 0);
    length = formatTime_(buffer.data(), hour, minute);
    if (length >= static_cast<int>(buffer.size())) return 0;
  }
  if (length <= 0) return 0;
  text->assign(buffer.data(), static_cast<std::size_t>(length));
  return length;
}

int ResourceLibrary::FormatName(std::u16string* text, std::u16string_view nameA,
                                std::u16string_view nameB) const {
  text->clear();
  if (!module_ || !formatName_) return 0;
  // The export is not told the buffer's size: it gets room for both names, a separator
  // of up to two characters and the NUL, plus slack for a localisation's own separator.
  const std::u16string a(nameA);
  const std::u16string b(nameB);
  std::vector<WCHAR> buffer(a.size() + b.size() + 64);
  const int length = formatName_(buffer.data(), a.c_str(), nullptr, b.c_str());
  if (length <= 0 || length >= static_cast<int>(buffer.size())) return 0;
  text->assign(buffer.data(), static_cast<std::size_t>(length));
  return length;
}

bool ResourceLibrary::MakeFontRequest(int kind, bool boldWish, FontRequest* request) const {
  if (!module_ || !getFontInfo_) return false;
  WCHAR face[64] = {};
  int32_t height = 0;
  if (!getFontInfo_(kind, face, &height)) return false;
  face[63] = 0;
  *request = FontRequest{};
  request->lfHeight = -height;
  // The library's own answer on boldness wins when it has one.
  const auto isBold = Lookup<IsFontBoldFn>(module_, "IsFontBold");
  const bool bold = isBold ? isBold(height, -height) != 0 : boldWish;
  request->lfWeight = bold ? 700 : 400;
  request->lfCharSet = 1;  // the default character set
  request->lfFaceName = face;
  return true;
}

HFONT ResourceLibrary::CreateUiFont(int kind, bool boldWish) const {
  FontRequest r;
  if (!MakeFontRequest(kind, boldWish, &r)) return nullptr;
  LOGFONT lf{};
  lf.lfHeight = r.lfHeight;
  lf.lfWidth = r.lfWidth;
  lf.lfEscapement = r.lfEscapement;
  lf.lfOrientation = r.lfOrientation;
  lf.lfWeight = r.lfWeight;
  lf.lfItalic = r.lfItalic;
  lf.lfUnderline = r.lfUnderline;
  lf.lfStrikeOut = r.lfStrikeOut;
  lf.lfCharSet = r.lfCharSet;
  lf.lfOutPrecision = r.lfOutPrecision;
  lf.lfClipPrecision = r.lfClipPrecision;
  lf.lfQuality = r.lfQuality;
  lf.lfPitchAndFamily = r.lfPitchAndFamily;
  const std::size_t n = std::min<std::size_t>(r.lfFaceName.size(), LF_FACESIZE - 1);
  std::copy_n(r.lfFaceName.begin(), n, lf.lfFaceName);
  lf.lfFaceName[n] = 0;
  return CreateFontIndirect(&lf);
}

int32_t ResourceLibrary::GetConst(int index) const {
  return getConstProc_ ? getConstProc_(index) : 0;
}

}  // namespace ui
