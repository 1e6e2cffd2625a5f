#pragma once
/// The main frame's dialogs: the about box and the new-message notice.
#include <string>

#include "ui/common/dialog_base.h"

namespace ui {

/// Dialog 162: version text in field 1094's "%s", the read-only text 1068 in field 1081.
class AboutDialog : public DialogBase {
 public:
  bool OnInitDialog() override;
  static std::u16string VersionText();
};

/// Dialog 165: plays "RecBkMusic.wav" from the program's directory and closes itself once
/// its 500 ms timer (8195) has counted more than "NotificationDisplayTime" seconds, or when
/// dismissed.
class NoticeDialog : public DialogBase {
 public:
  bool OnInitDialog() override;
  const MessageTable* GetMessageTable() const override { return &kTable; }
  static const MessageTable kTable;
  DWORD ElapsedMs() const { return elapsedMs_; }

 private:
  LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
  static const MessageMapEntry kEntries[];
  DWORD elapsedMs_ = 0;
  DWORD limitMs_ = 0;
};

}  // namespace ui
