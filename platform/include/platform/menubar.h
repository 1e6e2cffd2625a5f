#pragma once
/// Menus, the soft-key menu bar at the bottom of the screen and its popup menus.

#include <cstddef>

#include "platform/dialogs.h"
#include "platform/resources.h"
#include "platform/window.h"

inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_ENABLED = 0x0000;
inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_BYCOMMAND = 0x0000;
inline constexpr UINT MF_BYPOSITION = 0x0400;
inline constexpr UINT MFS_GRAYED = 0x0003;
inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_RETURNCMD = 0x0100;

HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
/// Loads menu `name` (MAKEINTRESOURCE id) of a resource module; null when absent.
HMENU LoadMenu(HINSTANCE module, LPCWSTR name);
/// For MF_POPUP, `idNewItem` is the sub-menu's HMENU.
BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCWSTR text);
BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR text);
BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idNewItem, LPCWSTR text);
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
/// Returns the previous state (MF_GRAYED / MF_ENABLED), or -1 when the item is absent.
int EnableMenuItem(HMENU menu, UINT idItem, UINT enable);
DWORD CheckMenuItem(HMENU menu, UINT idItem, UINT check);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);
UINT GetMenuState(HMENU menu, UINT idItem, UINT flags);
int GetMenuString(HMENU menu, UINT idItem, LPWSTR buffer, int size, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);
/// Shows `menu` as a popup over `owner` and runs it modally; with TPM_RETURNCMD returns the
/// chosen command (0 when cancelled), else posts WM_COMMAND to the owner and returns TRUE.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rc);

// Soft-key menu bar.
inline constexpr DWORD SHCMBF_EMPTYBAR = 0x0001;
inline constexpr DWORD SHCMBF_HIDDEN = 0x0002;
inline constexpr DWORD SHCMBF_HMENU = 0x0010;
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
  COLORREF clrBk;
};
/// Creates the bar of `hwndParent` from the menu and soft-key record `nToolBarId`
/// of `hInstRes`; fills hwndMB. One bar per window: a new bar replaces the old.
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
/// The bar of a window, or null.
HWND SHFindMenuBar(HWND hwnd);

inline constexpr UINT SHCMBM_SETSUBMENU = WM_USER + 400;
inline constexpr UINT SHCMBM_GETSUBMENU = WM_USER + 401;  // lParam: command of the button
inline constexpr UINT SHCMBM_GETMENU = WM_USER + 402;
/// wParam: key (VK_TBACK); lParam: MAKELPARAM(mask, flags) of SHMBOF_*. With
/// SHMBOF_NODEFAULT | SHMBOF_NOTIFY the owner gets WM_HOTKEY for the key.
inline constexpr UINT SHCMBM_OVERRIDEKEY = WM_USER + 403;
inline constexpr WORD SHMBOF_NODEFAULT = 0x1;
inline constexpr WORD SHMBOF_NOTIFY = 0x2;

inline constexpr UINT TB_ENABLEBUTTON = WM_USER + 1;
inline constexpr UINT TB_GETBUTTONINFO = WM_USER + 63;
inline constexpr UINT TB_SETBUTTONINFO = WM_USER + 64;
inline constexpr DWORD TBIF_TEXT = 0x0002;
inline constexpr DWORD TBIF_STATE = 0x0004;
inline constexpr DWORD TBIF_COMMAND = 0x0020;
struct TBBUTTONINFO {
  UINT cbSize;
  DWORD dwMask;
  int idCommand;
  int iImage;
  BYTE fsState;
  BYTE fsStyle;
  WORD cx;
  DWORD_PTR lParam;
  LPWSTR pszText;
  int cchText;
};

inline constexpr const WCHAR* WC_MENUBAR = u"menu_worker";
inline constexpr const WCHAR* WC_POPUPMENU = u"PopupMenu";

namespace platform {
/// A bar built in code: each label empty means no button on that side. A right button
/// with `rightPopup` opens that menu instead of sending its command.
HWND CreateSoftKeyBar(HWND owner, const std::u16string& leftLabel, UINT leftCommand,
                      const std::u16string& rightLabel, UINT rightCommand, HMENU rightPopup = nullptr);
}  // namespace platform
