#pragma once
/// Recipient lists of the send page: splitting a typed text at ";", the syntax of phone
/// numbers and e-mail addresses, resolving contact names into addresses, the "name(address)"
/// display form and the length limits of the two address edits. No screen is needed, so
/// tools check recipients with the same rules.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contacts_session.h"

namespace ui {

/// Kind flag of a list: 1 telephone numbers, 0 e-mail addresses.
enum class AddressKind { Email = 0, Phone = 1 };

/// Longest address of either kind.
inline constexpr std::size_t kMaxAddressLength = 100;
/// Characters an address edit accepts.
inline constexpr std::size_t kAddressEditLimit = 511;
/// A list text of this length or more is refused.
inline constexpr std::size_t kListLengthLimit = 512;
/// Both lists together, with a separator and a terminator, must stay below this.
inline constexpr std::size_t kListsLengthLimit = 1024;

/// At most 100 characters; spaces removed, at least 3 remain; a leading "+" is followed by
/// a digit and then at least 5 characters in all; every other character is a digit, "(",
/// ")" or "-"; and there is at least one digit.
bool IsValidPhoneNumber(std::u16string_view text);

/// At most 100 characters; an "@" after the first character; the first "." after the "@"
/// lies at least three positions after it (two characters between) and before the last
/// character.
bool IsValidEmailAddress(std::u16string_view text);

bool IsValidAddress(AddressKind kind, std::u16string_view text);

/// An e-mail address goes into the e-mail list; anything else into the phone list.
AddressKind KindOfAddress(std::u16string_view text);

/// The number as it is sent: spaces, "(", ")" and "-" removed ("+1 (555) 010-0100" gives
/// "+15550100100"), so that the message centre reads it as a telephone number.
std::u16string DialableNumber(std::u16string_view number);

/// True when list texts of these lengths break the limits: a phone or e-mail text of 512
/// characters or more, or both together plus two (separator and terminator) reaching 1024.
bool ListsTooLong(std::size_t phoneLength, std::size_t emailLength);

/// True when `address` may be appended to a list text of `listLength` characters (with its
/// ";") while the other list has `otherLength`: the list plus the address plus one stays
/// below 512 and both lists plus two stay below 1024.
bool CanAppendAddress(std::size_t listLength, std::size_t otherLength, std::size_t addressLength);

/// "%s(%s)" of the contact's name and `address` when a contact matches the address (a
/// phone number by `PhoneNumbersMatch`, an e-mail address by equality ignoring case, the
/// contacts searched last to first), else the address itself.
std::u16string DisplayAddress(ContactsSession* contacts, AddressKind kind, std::u16string_view address);

/// The address inside a display form "name(address)", when the text is one and the address
/// is valid for `kind`; else empty.
std::u16string AddressOfDisplayForm(AddressKind kind, std::u16string_view text);

class AddressList {
 public:
  struct Entry {
    std::u16string typed;   ///< the entry as typed (trimmed)
    std::u16string number;  ///< the resolved telephone number (phone lists)
    std::u16string email;   ///< the resolved e-mail address (e-mail lists)
    /// The resolved address of the list's kind.
    const std::u16string& Address(AddressKind kind) const { return kind == AddressKind::Phone ? number : email; }
  };

  /// `sim` may be null (the send page has none).
  AddressList(ContactsSession* contacts, SimPhonebook* sim, AddressKind kind)
      : contacts_(contacts), sim_(sim), kind_(kind) {}

  /// Replaces the list with the entries of `text`, split at ";". Spaces at the ends of the
  /// text and of every entry are removed and empty entries dropped. An entry is kept as
  /// typed when it is a valid address of the list's kind, or a display form holding one;
  /// otherwise it is a contact name, looked up in the contacts from the last to the first
  /// (ignoring case, only contacts with an address of this kind) and then on the SIM. True
  /// when every entry was resolved; otherwise the first entry that was not is put into
  /// `invalidEntry`. Unresolved entries stay in the list with empty addresses.
  bool Parse(std::u16string_view text, std::u16string* invalidEntry = nullptr);

  void Clear() { entries_.clear(); }
  bool empty() const { return entries_.empty(); }
  const std::vector<Entry>& Entries() const { return entries_; }
  AddressKind Kind() const { return kind_; }

  /// The typed entries joined with ";", each followed by one: the text written back into
  /// the address edit.
  std::u16string TypedText() const;
  /// The resolved addresses joined with ";", each followed by one. Unresolved entries are
  /// left out.
  std::u16string AddressText() const;
  /// `AddressText` with every telephone number in its dialable form: the recipient text.
  std::u16string RecipientText() const;
  /// Every resolved address in its display form (unresolved ones as typed), joined as
  /// `TypedText`.
  std::u16string DisplayText() const;

 private:
  ContactsSession* contacts_;
  SimPhonebook* sim_;
  AddressKind kind_;
  std::vector<Entry> entries_;
};

/// Splits a message's recipient text into its phone and e-mail entries (by
/// `KindOfAddress`), each list joined with ";" and ending with one; empty entries dropped.
void SplitRecipientText(std::u16string_view text, std::u16string* phones, std::u16string* emails);

/// The recipient text stored in a message: the phone list, then the e-mail list, each of
/// them, when not empty, followed by ";" unless it already ends in one.
std::u16string JoinRecipientText(std::u16string_view phones, std::u16string_view emails);

}  // namespace ui
