#pragma once
/// What the contact picker shows and offers, apart from drawing: its two sources (the
/// contacts and the SIM card) with their caches, the rows sorted by name, the second line
/// of a row, the items of its popup menu and the selection remembered per kind between
/// pickers.

#include <cstddef>
#include <string_view>
#include <vector>

#include "contacts/contacts_session.h"
#include "platform/types.h"
#include "sendpage/address_list.h"

namespace ui {

class ContactPickerModel {
 public:
  enum class Source { Contacts = 0, Sim = 1 };

  /// `sim` may be null or closed: the SIM source is then empty.
  ContactPickerModel(ContactsSession* contacts, SimPhonebook* sim, AddressKind kind)
      : contacts_(contacts), sim_(sim), kind_(kind) {}

  /// Refills the rows from the source shown. A cache is rebuilt only when its source's count
  /// differs from the count it was built for: contacts with an address of the picker's kind,
  /// SIM entries with a number.
  void Fill();
  /// Shows the other source and refills; the first row becomes the selected one.
  void SwitchTo(Source source);

  Source Shown() const { return source_; }
  AddressKind Kind() const { return kind_; }
  /// Rows in display order: sorted ascending by name (equal names keep their order).
  const std::vector<ContactEntry>& Rows() const { return rows_; }
  bool empty() const { return rows_.empty(); }
  /// The line under the name: the number when the SIM is shown or the kind is phone, else
  /// the e-mail address.
  std::u16string_view SecondLine(std::size_t row) const;

  /// The row to select when the picker opens: the one remembered for the kind, clamped to
  /// the rows (0 for an empty list).
  int InitialRow() const;
  /// The popup's items in order; 0 stands for a separator. An e-mail picker never offers
  /// the SIM card.
  std::vector<UINT> PopupItems() const;
  /// Select is greyed while the list is empty.
  bool CanSelect() const { return !rows_.empty(); }

  /// Takes row `row`: remembers it for the kind and copies it out; false (nothing
  /// remembered) for an empty list or a row out of range.
  bool Choose(int row, ContactEntry* out);

  /// The selections kept between pickers, one per kind; 0 at program start.
  static int RememberedRow(AddressKind kind);
  static void ResetRemembered();

 private:
  ContactsSession* contacts_;
  SimPhonebook* sim_;
  AddressKind kind_;
  Source source_ = Source::Contacts;
  std::vector<ContactEntry> rows_;
  std::vector<ContactEntry> contactCache_, simCache_;
  int contactCount_ = -1;
  int simCount_ = -1;
};

}  // namespace ui
