// Hot keys registered by windows.

#include <algorithm>

#include "window_state.h"

using namespace platform::win;

BOOL RegisterHotKey(HWND hwnd, int id, UINT modifiers, UINT vk) {
  std::lock_guard lock(S().mu);
  if (!FindLocked(hwnd)) return FALSE;
  for (auto& k : S().hotkeys) {
    if (k.hwnd == hwnd && k.id == id) {
      k.modifiers = modifiers;
      k.vk = vk;
      return TRUE;
    }
  }
  S().hotkeys.push_back(Hotkey{hwnd, id, modifiers, vk});
  return TRUE;
}

BOOL UnregisterHotKey(HWND hwnd, int id) {
  std::lock_guard lock(S().mu);
  auto& hk = S().hotkeys;
  auto before = hk.size();
  hk.erase(
      std::remove_if(hk.begin(), hk.end(), [&](const Hotkey& k) { return k.hwnd == hwnd && k.id == id; }),
      hk.end());
  return hk.size() != before ? TRUE : FALSE;
}
