#pragma once
// Helpers shared by the controls, dialogs and menus.

#include <string>

#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/text.h"
#include "platform/window.h"

namespace platform::ctl {

inline std::u16string WindowTextOf(HWND h) {
  int n = GetWindowTextLength(h);
  std::u16string s(static_cast<std::size_t>(n) + 1, u'\0');
  n = GetWindowText(h, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return s;
}

inline void NotifyParent(HWND h, UINT code) {
  HWND parent = GetParent(h);
  if (parent)
    SendMessage(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(h)), static_cast<WORD>(code)),
                reinterpret_cast<LPARAM>(h));
}

/// Keys a control does not use go to its parent (navigation, soft keys, Back).
inline LRESULT ForwardKey(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND parent = GetParent(h);
  return parent ? SendMessage(parent, msg, wParam, lParam) : 0;
}

inline std::string Quoted(const std::u16string& s) { return DescriptionQuoted(s); }

inline void AppendLine(LPARAM lParam, const std::string& line) {
  *reinterpret_cast<std::string*>(lParam) += line + "\n";
}

inline void DrawLabel(HDC dc, const std::u16string& text, RECT rc, UINT format, COLORREF color) {
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  DrawText(dc, text.c_str(), static_cast<int>(text.size()), &rc, format | DT_NOPREFIX);
}

}  // namespace platform::ctl
