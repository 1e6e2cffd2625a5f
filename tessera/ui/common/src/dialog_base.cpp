#include "ui/common/dialog_base.h"

#include "ui/common/ui_ids.h"

namespace ui {

const MessageMapEntry DialogBase::kEntries[] = {
    {kEntryCommand, IDOK, Bind(&DialogBase::CallOk)},
    {kEntryCommand, kCmdDialogDone, Bind(&DialogBase::CallOk)},
    {kEntryCommand, IDCANCEL, Bind(&DialogBase::CallCancel)},
    {kEntryMessage, WM_CTLCOLORSTATIC, Bind(&DialogBase::CallCtlColor)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable DialogBase::kTable = {&WindowBase::kTable, DialogBase::kEntries};

DialogBase::~DialogBase() {
  if (whiteBrush_) DeleteObject(whiteBrush_);
  // A dialog window is ended, not destroyed, by its object.
  if (hwnd_ && IsWindow(hwnd_)) SetWindowLong(hwnd_, GWL_USERDATA, 0);
  hwnd_ = nullptr;
}

INT_PTR DialogBase::DoModal(HMODULE module, UINT templateId, HWND owner) {
  return DialogBoxParam(module, MAKEINTRESOURCE(static_cast<int>(templateId)), owner, &DialogBase::DialogProcedure,
                        reinterpret_cast<LPARAM>(this));
}

void DialogBase::End(INT_PTR result) {
  if (hwnd_ && IsWindow(hwnd_)) EndDialog(hwnd_, result);
}

LRESULT DialogBase::OnOK(WPARAM, LPARAM) {
  End(1);
  return 0;
}

LRESULT DialogBase::OnCancel(WPARAM, LPARAM) {
  End(2);
  return 0;
}

LRESULT DialogBase::OnCtlColorStatic(WPARAM wParam, LPARAM) {
  if (!whiteBrush_) whiteBrush_ = CreateSolidBrush(RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(whiteBrush_);
}

LRESULT DialogBase::DefWindowProc(UINT, WPARAM, LPARAM) {
  return 0;  // the dialog manager does the default handling
}

BOOL DialogBase::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<DialogBase*>(lParam);
    if (!self) return FALSE;
    self->Attach(hwnd);
    if (!self->OnInitDialog()) {
      self->End(2);
      return TRUE;
    }
    // Focus the dialog put on itself or one of its controls stays there; else the first tab
    // stop gets it.
    HWND focus = GetFocus();
    return focus && (focus == hwnd || IsChild(hwnd, focus)) ? FALSE : TRUE;
  }
  auto* self = static_cast<DialogBase*>(FromHandle(hwnd));
  if (!self) return FALSE;
  // The dialog manager paints the dialog unless the dialog draws something of its own.
  if (message == WM_PAINT) return self->OnDialogPaint() ? TRUE : FALSE;
  LRESULT result = 0;
  const bool handled = self->Dispatch(message, wParam, lParam, &result);
  if (message == WM_DESTROY) {
    SetWindowLong(hwnd, GWL_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  if (message == WM_CTLCOLORSTATIC && handled) return static_cast<BOOL>(result != 0);
  return handled ? TRUE : FALSE;
}

}  // namespace ui
