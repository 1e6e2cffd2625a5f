#pragma once
/// Modal and modeless dialogs from resource templates, the phone's dialog initialisation,
/// message boxes and the wait cursor.

#include "platform/controls.h"
#include "platform/resources.h"
#include "platform/window.h"

using INT_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using DLGPROC = BOOL (*)(HWND, UINT, WPARAM, LPARAM);

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDC_STATIC = -1;

// SetWindowLong slots of a dialog.
inline constexpr int DWL_MSGRESULT = 0;
inline constexpr int DWL_DLGPROC = 8;
inline constexpr int DWL_USER = 16;

/// Class name of dialog windows.
inline constexpr const WCHAR* WC_DIALOG = u"Dialog";

inline LPCWSTR MAKEINTRESOURCE(int id) {
  return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}

/// Runs a modal dialog from template `name` (MAKEINTRESOURCE id) of `module` and returns
/// the EndDialog result; -1 when the template is missing or damaged.
INT_PTR DialogBoxParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
inline INT_PTR DialogBox(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc) {
  return DialogBoxParam(module, name, owner, proc, 0);
}
/// A modeless dialog; null when the template is missing or damaged.
HWND CreateDialogParam(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
LRESULT DefDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

BOOL SetDlgItemText(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemText(HWND dialog, int id, LPWSTR buffer, int size);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
LRESULT SendDlgItemMessage(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);

// Dialog initialisation.
inline constexpr DWORD SHIDIM_FLAGS = 0x0001;
inline constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
inline constexpr DWORD SHIDIF_SIZEDLG = 0x0002;
inline constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
inline constexpr DWORD SHIDIF_SIPDOWN = 0x0008;
inline constexpr DWORD SHIDIF_FULLSCREENNOMENUBAR = 0x0010;
struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
/// Sizes the dialog to the work area (or the whole screen with the full-screen flag).
BOOL SHInitDialog(SHINITDLGINFO* info);

// Message boxes.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
inline constexpr UINT MB_ICONASTERISK = 0x40;
inline constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
inline constexpr UINT MB_ICONMASK = 0xF0;
inline constexpr UINT MB_SETFOREGROUND = 0x10000;
inline constexpr const WCHAR* WC_MESSAGEBOX = u"MessageBox";
/// A full-screen message box with soft keys for its buttons; returns IDOK, IDCANCEL, IDYES
/// or IDNO (Back gives IDCANCEL, or IDNO for Yes/No), 0 on failure.
int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// The wait cursor.
inline const LPCWSTR IDC_ARROW = reinterpret_cast<LPCWSTR>(32512);
inline const LPCWSTR IDC_WAIT = reinterpret_cast<LPCWSTR>(32514);
HCURSOR LoadCursor(HINSTANCE instance, LPCWSTR name);
/// Setting the wait cursor counts up and shows the busy indicator; any other cursor (or
/// null) counts down and hides it at zero. Returns the previous cursor.
HCURSOR SetCursor(HCURSOR cursor);

// Images and icons of a resource module.
HBITMAP LoadBitmap(HINSTANCE module, LPCWSTR name);
HICON LoadIcon(HINSTANCE module, LPCWSTR name);

namespace platform {
/// The same from an already parsed template (icons of icon controls come from `module`).
INT_PTR DialogBoxFromTemplate(HINSTANCE module, const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogFromTemplate(HINSTANCE module, const DialogTemplate& t, HWND owner, DLGPROC proc, LPARAM param);
/// Nesting depth of the wait cursor (0: not busy).
int WaitCursorCount();
/// Scales a template coordinate (pixels of the 176-wide screen) to this screen.
int ScaleDialogUnit(int v);
}  // namespace platform
