#pragma once
/// A modal dialog from a template of the resource library, handled through message tables.
#include "platform/dialogs.h"
#include "ui/common/window_base.h"

namespace ui {

class DialogBase : public WindowBase {
 public:
  ~DialogBase() override;
  /// Runs the dialog `templateId` of `module` modally over `owner`; the EndDialog value, -1
  /// when the template is missing.
  INT_PTR DoModal(HMODULE module, UINT templateId, HWND owner);

  /// Command IDOK (and the bar's "OK" key, 40028); ends the dialog with 1.
  virtual LRESULT OnOK(WPARAM wParam, LPARAM lParam);
  /// Command IDCANCEL; ends the dialog with 2.
  virtual LRESULT OnCancel(WPARAM wParam, LPARAM lParam);
  /// The white brush (made on first use); white text on a pushed control.
  virtual LRESULT OnCtlColorStatic(WPARAM wParam, LPARAM lParam);
  /// After WM_INITDIALOG attached the object; false ends the dialog with 2.
  virtual bool OnInitDialog() { return true; }
  /// WM_PAINT: true when the dialog painted itself (BeginPaint/EndPaint), false to leave the
  /// painting to the dialog manager.
  virtual bool OnDialogPaint() { return false; }

  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  const MessageTable* GetMessageTable() const override { return &kTable; }
  /// Ends the dialog with `result`.
  void End(INT_PTR result);

  static const MessageTable kTable;

 private:
  static BOOL DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT CallOk(WPARAM wParam, LPARAM lParam) { return OnOK(wParam, lParam); }
  LRESULT CallCancel(WPARAM wParam, LPARAM lParam) { return OnCancel(wParam, lParam); }
  LRESULT CallCtlColor(WPARAM wParam, LPARAM lParam) { return OnCtlColorStatic(wParam, lParam); }
  static const MessageMapEntry kEntries[];
  HBRUSH whiteBrush_ = nullptr;
};

}  // namespace ui
