#pragma once
/// The device's contacts and the SIM phonebook.
///
/// `ContactsSession` reads "<device root>/My Documents/contacts.vcf" and `SimPhonebook`
/// "<device root>/SIM/phonebook.vcf". Both notice when their file changes (size, time or
/// identity) and read it again on the next query, so a contact added while the program
/// runs shows up as it would from the phone's own database. UI thread only.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/vcard_reader.h"

namespace ui {

/// One contact as the screens use it: the name, one telephone number and one e-mail address
/// (a SIM entry has no e-mail address).
struct ContactEntry {
  std::u16string name;
  std::u16string number;
  std::u16string email;
  bool operator==(const ContactEntry&) const = default;
};

/// Case-insensitive equality of two names (Latin, Greek and Cyrillic letters fold).
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

/// A vCard file read once and again whenever it changes on disk.
class WatchedVCardFile {
 public:
  void SetPath(std::u16string path);
  const std::u16string& Path() const { return path_; }
  /// Re-reads the file when it changed since the last read; false when it exists but
  /// cannot be read (the previous contents are then dropped). A missing file is empty.
  bool Refresh();
  bool Exists() const;
  const std::vector<VCardContact>& Contacts() const { return contacts_; }
  std::size_t Skipped() const { return skipped_; }
  void Clear();

 private:
  std::u16string path_;
  bool stamped_ = false;
  std::uint64_t device_ = 0, inode_ = 0, size_ = 0;
  std::int64_t mtimeNs_ = 0;
  std::vector<VCardContact> contacts_;
  std::size_t skipped_ = 0;
};

/// The contacts of the device.
class ContactsSession {
 public:
  /// The contacts file of the device root: "<root>/My Documents/contacts.vcf".
  static std::u16string DefaultPath();

  /// Opens the device's contacts file. A missing file is an empty address book; false only
  /// when the file exists but cannot be read.
  bool Open();
  /// The same with another file (tests, tools).
  bool Open(std::u16string path);
  void Close();
  bool IsOpen() const { return open_; }

  /// Number of contacts; -1 when the session is not open.
  int Count();
  /// Contact `index`, 1-based as the contact items are numbered; false out of range.
  bool GetItem(int index, ContactEntry* entry);
  /// The full record of contact `index` (1-based), with every number and address; null
  /// out of range.
  const VCardContact* GetRecord(int index);
  /// Every contact, in file order.
  std::vector<ContactEntry> Entries();
  /// Malformed cards left out of the last read.
  std::size_t SkippedCards() const { return file_.Skipped(); }

  /// The last contact (searching from the last to the first) whose name equals `name`
  /// ignoring case and that has a telephone number (`phone`) or an e-mail address.
  bool FindByName(std::u16string_view name, bool phone, ContactEntry* entry);
  /// The last contact whose number matches `number` by `PhoneNumbersMatch`.
  bool FindByNumber(std::u16string_view number, ContactEntry* entry);
  /// The last contact whose e-mail address equals `address` ignoring case.
  bool FindByEmail(std::u16string_view address, ContactEntry* entry);

 private:
  bool open_ = false;
  WatchedVCardFile file_;
};

/// The SIM card's phonebook: slots from `FirstIndex` to `LastIndex`, one card of the file
/// per slot in file order; a slot's entry has a text (the name) and an address (the number).
class SimPhonebook {
 public:
  /// "<root>/SIM/phonebook.vcf".
  static std::u16string DefaultPath();

  /// False when there is no SIM (the file is missing) or it cannot be read.
  bool Open();
  bool Open(std::u16string path);
  void Close();
  bool IsOpen() const { return open_; }

  /// First and last slot index and the number of used slots, read anew; false when closed
  /// or the SIM went away.
  bool GetStatus(std::uint32_t* first, std::uint32_t* last, std::uint32_t* used);
  /// The entry of slot `index`; false for an empty or missing slot.
  bool ReadEntry(std::uint32_t index, std::u16string* text, std::u16string* address);
  /// Every used slot with a number, read slot by slot from the first upward until as many
  /// entries as are used have been read or every slot was tried.
  std::vector<ContactEntry> Entries();
  /// The last entry (last to first) whose name equals `name` ignoring case and has a number.
  bool FindByName(std::u16string_view name, ContactEntry* entry);

 private:
  bool open_ = false;
  WatchedVCardFile file_;
};

/// The number-matching rule of the contact display: both numbers, with "(", ")", " ", "-"
/// and every "+" after the first character removed, are equal; or `typed` starts with "+"
/// and ends with the contact's number (reduced the same way, and not empty).
bool PhoneNumbersMatch(std::u16string_view typed, std::u16string_view contactNumber);

}  // namespace ui
