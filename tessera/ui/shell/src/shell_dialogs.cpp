#include "ui/shell/shell_dialogs.h"

#include "platform/text.h"
#include "platform/wave.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"

namespace ui {

std::u16string AboutDialog::VersionText() {
#ifdef TESSERA_VERSION
  return platform::Utf8ToUtf16(TESSERA_VERSION);
#else
  return u"1.0.0.1";
#endif
}

bool AboutDialog::OnInitDialog() {
  Application::CreateMenuBar(hwnd_, kMenuBarDialog);
  WCHAR buffer[128] = {};
  GetDlgItemText(hwnd_, kAboutVersionField, buffer, 128);
  std::u16string pattern(buffer);
  const std::size_t at = pattern.find(u"%s");
  if (at != std::u16string::npos) pattern.replace(at, 2, VersionText());
  SetDlgItemText(hwnd_, kAboutVersionField, pattern.c_str());
  const std::u16string text = LoadUiText(kAboutTextString);
  SetDlgItemText(hwnd_, kAboutTextField, text.c_str());
  return true;
}

const MessageMapEntry NoticeDialog::kEntries[] = {
    {kEntryMessage, WM_TIMER, Bind(&NoticeDialog::OnTimer)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable NoticeDialog::kTable = {&DialogBase::kTable, NoticeDialog::kEntries};

bool NoticeDialog::OnInitDialog() {
  Application::CreateMenuBar(hwnd_, kMenuBarDialog);
  const AppContext& context = Context();
  limitMs_ = (context.config ? context.config->GetNotificationDisplayTime() : config::Config().GetNotificationDisplayTime()) * 1000;
  // Played on its own thread: a synchronous call would hold the notice and its timer.
  const std::u16string sound = context.programDirectory + u"RecBkMusic.wav";
  sndPlaySound(sound.c_str(), SND_ASYNC | SND_FILENAME | SND_NODEFAULT);
  StartTimer(kNoticeTimerId, kNoticeTickMs);
  return true;
}

LRESULT NoticeDialog::OnTimer(WPARAM wParam, LPARAM) {
  if (wParam != kNoticeTimerId) return 0;
  elapsedMs_ += kNoticeTickMs;
  if (elapsedMs_ > limitMs_) {
    StopTimer(kNoticeTimerId);
    End(1);
  }
  return 0;
}

}  // namespace ui
