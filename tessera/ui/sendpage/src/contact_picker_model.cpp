#include "sendpage/contact_picker_model.h"

#include <algorithm>

#include "sendpage/ids.h"

namespace ui {

namespace {

int g_remembered[2] = {0, 0};

int& Remembered(AddressKind kind) {
  return g_remembered[kind == AddressKind::Phone ? 1 : 0];
}

}  // namespace

int ContactPickerModel::RememberedRow(AddressKind kind) {
  return Remembered(kind);
}

void ContactPickerModel::ResetRemembered() {
  g_remembered[0] = g_remembered[1] = 0;
}

void ContactPickerModel::Fill() {
  rows_.clear();
  if (source_ == Source::Contacts) {
    int count = contacts_ ? contacts_->Count() : -1;
    if (count != contactCount_) {
      // Every item in order, index 1 to count, in one pass over the session.
      contactCache_.clear();
      for (ContactEntry& e : contacts_->Entries()) {
        if ((kind_ == AddressKind::Phone ? e.number : e.email).empty()) continue;
        contactCache_.push_back(std::move(e));
      }
      contactCount_ = count;
    }
    rows_ = contactCache_;
  } else {
    std::uint32_t first = 0, last = 0, used = 0;
    int count = sim_ && sim_->GetStatus(&first, &last, &used) ? static_cast<int>(used) : -1;
    if (count != simCount_) {
      simCache_ = count >= 0 ? sim_->Entries() : std::vector<ContactEntry>();
      simCount_ = count;
    }
    rows_ = simCache_;
  }
  std::stable_sort(rows_.begin(), rows_.end(),
                   [](const ContactEntry& a, const ContactEntry& b) { return a.name < b.name; });
}

void ContactPickerModel::SwitchTo(Source source) {
  source_ = source;
  Fill();
}

std::u16string_view ContactPickerModel::SecondLine(std::size_t row) const {
  if (row >= rows_.size()) return {};
  const ContactEntry& e = rows_[row];
  return source_ == Source::Sim || kind_ == AddressKind::Phone ? std::u16string_view(e.number)
                                                                : std::u16string_view(e.email);
}

int ContactPickerModel::InitialRow() const {
  int row = Remembered(kind_);
  if (row > static_cast<int>(rows_.size()) - 1) row = static_cast<int>(rows_.size()) - 1;
  return row < 0 ? 0 : row;
}

std::vector<UINT> ContactPickerModel::PopupItems() const {
  std::vector<UINT> items = {ids::kCmdPickerSelect, 0};
  if (kind_ == AddressKind::Phone) {
    items.push_back(source_ == Source::Contacts ? ids::kCmdPickerSim : ids::kCmdPickerContacts);
    items.push_back(0);
  }
  items.push_back(ids::kCmdCancel);
  return items;
}

bool ContactPickerModel::Choose(int row, ContactEntry* out) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return false;
  Remembered(kind_) = row;
  *out = rows_[static_cast<std::size_t>(row)];
  return true;
}

}  // namespace ui
