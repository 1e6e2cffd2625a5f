#pragma once
/// The message details dialog (166): address with contact names, subject, size, date and
/// presentation length of one message.
#include <string>

#include "store/message_store.h"
#include "ui/common/dialog_base.h"

namespace folders {

class DetailsDialog : public ui::DialogBase {
 public:
  /// `entry` is checked out by the caller for the time the dialog runs.
  DetailsDialog(store::FolderId folder, store::MessageEntry* entry) : folder_(folder), entry_(entry) {}
  bool OnInitDialog() override;

  /// The size field: "%d" of the size in kilobytes, rounded up, in `pattern`.
  static std::u16string SizeText(const std::u16string& pattern, std::uint32_t bytes);
  /// `value` in place of the first "%s" or "%d" of `pattern`; appended when it has none.
  static std::u16string Fill(const std::u16string& pattern, const std::u16string& value);

 private:
  std::u16string FieldText(int id) const;
  store::FolderId folder_;
  store::MessageEntry* entry_;
};

}  // namespace folders
