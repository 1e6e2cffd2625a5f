// System metrics and the work area.

#include "platform/display.h"
#include "platform/listview.h"
#include "window_state.h"

using namespace platform::win;

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return platform::ScreenWidth();
    case SM_CYSCREEN:
      return platform::ScreenHeight();
    case SM_CXVSCROLL:
      return platform::kListViewScrollBarWidth;
    default:
      return 0;
  }
}

BOOL SystemParametersInfo(UINT action, UINT, LPVOID out, UINT) {
  if (action != SPI_GETWORKAREA || !out) return FALSE;
  *static_cast<RECT*>(out) = RECT{0, platform::kTrayHeight, platform::ScreenWidth(),
                                  platform::ScreenHeight() - platform::kSoftKeyBarHeight};
  return TRUE;
}
