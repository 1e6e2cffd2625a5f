#include "folders/details_dialog.h"

#include <ctime>

#include "config/config.h"
#include "folders/folder_ids.h"
#include "folders/folder_rules.h"
#include "platform/dialogs.h"
#include "presentation/message_document.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"

namespace folders {

std::u16string DetailsDialog::Fill(const std::u16string& pattern, const std::u16string& value) {
  std::size_t at = pattern.find(u"%s");
  if (at == std::u16string::npos) at = pattern.find(u"%d");
  if (at == std::u16string::npos) return pattern + value;
  std::u16string text = pattern;
  return text.replace(at, 2, value);
}

std::u16string DetailsDialog::SizeText(const std::u16string& pattern, std::uint32_t bytes) {
  // Counted in 64 bits: a size near 4 GB must not wrap to 0 KB.
  const std::uint64_t kb = (static_cast<std::uint64_t>(bytes) + 1023) / 1024;
  return Fill(pattern, Number(static_cast<long>(kb)));
}

std::u16string DetailsDialog::FieldText(int id) const {
  WCHAR buffer[256] = {};
  GetDlgItemText(hwnd_, id, buffer, 256);
  return buffer;
}

bool DetailsDialog::OnInitDialog() {
  ui::Application::CreateMenuBar(hwnd_, ui::kMenuBarDialog);
  if (!entry_) return true;
  const store::MessageSummary& summary = entry_->Summary();
  const ui::AppContext& context = ui::Context();

  // 1. Address: the sender in the Inbox, the recipients (with their label) elsewhere.
  if (folder_ != store::FolderId::Inbox) SetDlgItemText(hwnd_, kDetailsAddressLabel, ui::LoadUiText(kStrToLabel).c_str());
  const std::u16string& addresses = folder_ == store::FolderId::Inbox ? summary.From() : summary.To();
  const std::u16string alphaTag = config::Config().GetAlphaTagDispTxt();
  std::u16string shown;
  if ((summary.ExtraFlags() & store::kExtraAlphaTag) && !addresses.empty() && !alphaTag.empty()) {
    shown = alphaTag;
  } else {
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    ui::SimPhonebook sim;
    const bool simOpen = sim.Open();
    shown = AddressLine(folder_, summary, context.contacts, simOpen ? &sim : nullptr, u"", u"");
    if (simOpen) sim.Close();
    SetCursor(previous);
  }
  SetDlgItemText(hwnd_, kDetailsAddress, shown.c_str());

  // 2. Subject; 3. size.
  SetDlgItemText(hwnd_, kDetailsSubject, summary.Subject().c_str());
  SetDlgItemText(hwnd_, kDetailsSize, SizeText(FieldText(kDetailsSize), summary.Size()).c_str());

  // 4. Date, as stored (local time); the rest stays as it is when it cannot be converted.
  const std::time_t when = static_cast<std::time_t>(summary.Date());
  std::tm parts{};
  std::u16string date;
  if (!gmtime_r(&when, &parts) || !context.resources ||
      context.resources->FormatDate(&date, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday) == 0)
    return true;
  SetDlgItemText(hwnd_, kDetailsDate, Fill(FieldText(kDetailsDate), date).c_str());

  // 5. Presentation length in whole seconds.
  std::uint64_t seconds = 0;
  if (summary.MessageType() == store::kTypeMultimedia)
    if (presentation::MessageDocument* document = entry_->OpenDocument()) seconds = document->TotalDuration() / 1000;
  SetDlgItemText(hwnd_, kDetailsLength, Fill(FieldText(kDetailsLength), Number(static_cast<long>(seconds))).c_str());
  return true;
}

}  // namespace folders
