#include "contacts/contacts_session.h"

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace ui {

namespace {

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0xC0) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F))
    return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  // Latin Extended-A pairs upper and lower case letters at even and odd code points, but
  // shifts by one between U+0139 and U+0148 and between U+0179 and U+017E.
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    bool odd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (odd ? (c % 2 == 1) : (c % 2 == 0)) return static_cast<char16_t>(c + 1);
    return c;
  }
  return c;
}

std::u16string ReduceNumber(std::u16string_view n) {
  std::u16string out;
  for (std::size_t i = 0; i < n.size(); ++i) {
    char16_t c = n[i];
    if (c == u'(' || c == u')' || c == u' ' || c == u'-') continue;
    if (c == u'+' && i > 0) continue;
    out.push_back(c);
  }
  return out;
}

ContactEntry EntryOf(const VCardContact& c) {
  return ContactEntry{c.name, std::u16string(c.Phone()), std::u16string(c.Email())};
}

}  // namespace

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

bool PhoneNumbersMatch(std::u16string_view typed, std::u16string_view contactNumber) {
  std::u16string a = ReduceNumber(typed), b = ReduceNumber(contactNumber);
  if (b.empty()) return false;
  if (a == b) return true;
  return !typed.empty() && typed[0] == u'+' && a.size() >= b.size() && a.compare(a.size() - b.size(), b.size(), b) == 0;
}

// --- WatchedVCardFile ---------------------------------------------------------------------

void WatchedVCardFile::SetPath(std::u16string path) {
  path_ = std::move(path);
  Clear();
}

void WatchedVCardFile::Clear() {
  stamped_ = false;
  contacts_.clear();
  skipped_ = 0;
}

bool WatchedVCardFile::Exists() const {
  return platform::FileExists(path_);
}

bool WatchedVCardFile::Refresh() {
  struct stat st{};
  if (::stat(platform::NativePath(path_).c_str(), &st) != 0) {
    // No file, no contacts.
    Clear();
    return true;
  }
  std::int64_t mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (stamped_ && st.st_dev == device_ && st.st_ino == inode_ && static_cast<std::uint64_t>(st.st_size) == size_ &&
      mtime == mtimeNs_)
    return true;
  std::string bytes;
  if (!S_ISREG(st.st_mode) || !platform::ReadFile(path_, bytes)) {
    Clear();
    return false;
  }
  VCardFile read = ReadVCards(bytes);
  contacts_ = std::move(read.contacts);
  skipped_ = read.skipped;
  stamped_ = true;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  size_ = static_cast<std::uint64_t>(st.st_size);
  mtimeNs_ = mtime;
  return true;
}

// --- ContactsSession ----------------------------------------------------------------------

std::u16string ContactsSession::DefaultPath() {
  return platform::JoinPath(platform::DocumentsFolder(), u"contacts.vcf");
}

bool ContactsSession::Open() {
  return Open(DefaultPath());
}

bool ContactsSession::Open(std::u16string path) {
  file_.SetPath(std::move(path));
  open_ = file_.Refresh();
  return open_;
}

void ContactsSession::Close() {
  open_ = false;
  file_.Clear();
}

int ContactsSession::Count() {
  if (!open_) return -1;
  file_.Refresh();
  return static_cast<int>(file_.Contacts().size());
}

const VCardContact* ContactsSession::GetRecord(int index) {
  if (!open_ || index < 1) return nullptr;
  file_.Refresh();
  if (static_cast<std::size_t>(index) > file_.Contacts().size()) return nullptr;
  return &file_.Contacts()[static_cast<std::size_t>(index) - 1];
}

bool ContactsSession::GetItem(int index, ContactEntry* entry) {
  const VCardContact* c = GetRecord(index);
  if (!c) return false;
  *entry = EntryOf(*c);
  return true;
}

std::vector<ContactEntry> ContactsSession::Entries() {
  std::vector<ContactEntry> out;
  if (!open_) return out;
  file_.Refresh();
  out.reserve(file_.Contacts().size());
  for (const VCardContact& c : file_.Contacts()) out.push_back(EntryOf(c));
  return out;
}

bool ContactsSession::FindByName(std::u16string_view name, bool phone, ContactEntry* entry) {
  if (!open_) return false;
  file_.Refresh();
  const auto& all = file_.Contacts();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if ((phone ? it->Phone() : it->Email()).empty()) continue;
    if (!EqualsIgnoreCase(it->name, name)) continue;
    *entry = EntryOf(*it);
    return true;
  }
  return false;
}

bool ContactsSession::FindByNumber(std::u16string_view number, ContactEntry* entry) {
  if (!open_) return false;
  file_.Refresh();
  const auto& all = file_.Contacts();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (!PhoneNumbersMatch(number, it->Phone())) continue;
    *entry = EntryOf(*it);
    return true;
  }
  return false;
}

bool ContactsSession::FindByEmail(std::u16string_view address, ContactEntry* entry) {
  if (!open_ || address.empty()) return false;
  file_.Refresh();
  const auto& all = file_.Contacts();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (!EqualsIgnoreCase(it->Email(), address)) continue;
    *entry = EntryOf(*it);
    return true;
  }
  return false;
}

// --- SimPhonebook -------------------------------------------------------------------------

std::u16string SimPhonebook::DefaultPath() {
  return platform::JoinPath(platform::JoinPath(platform::DeviceRoot(), u"SIM"), u"phonebook.vcf");
}

bool SimPhonebook::Open() {
  return Open(DefaultPath());
}

bool SimPhonebook::Open(std::u16string path) {
  file_.SetPath(std::move(path));
  open_ = file_.Exists() && file_.Refresh();
  if (!open_) file_.Clear();
  return open_;
}

void SimPhonebook::Close() {
  open_ = false;
  file_.Clear();
}

bool SimPhonebook::GetStatus(std::uint32_t* first, std::uint32_t* last, std::uint32_t* used) {
  if (!open_ || !file_.Exists() || !file_.Refresh()) return false;
  const auto& all = file_.Contacts();
  std::uint32_t count = 0;
  for (const VCardContact& c : all)
    if (!c.name.empty() || !c.Phone().empty()) ++count;
  *first = 1;
  *last = static_cast<std::uint32_t>(all.size());
  *used = count;
  return true;
}

bool SimPhonebook::ReadEntry(std::uint32_t index, std::u16string* text, std::u16string* address) {
  if (!open_ || index < 1) return false;
  file_.Refresh();
  const auto& all = file_.Contacts();
  if (index > all.size()) return false;
  const VCardContact& c = all[index - 1];
  if (c.name.empty() && c.Phone().empty()) return false;
  *text = c.name;
  *address = std::u16string(c.Phone());
  return true;
}

std::vector<ContactEntry> SimPhonebook::Entries() {
  std::vector<ContactEntry> out;
  std::uint32_t first = 0, last = 0, used = 0;
  if (!GetStatus(&first, &last, &used)) return out;
  std::uint32_t read = 0;
  for (std::uint32_t i = first; i <= last && read < used; ++i) {
    ContactEntry e;
    if (!ReadEntry(i, &e.name, &e.number)) continue;
    ++read;
    if (!e.number.empty()) out.push_back(std::move(e));
  }
  return out;
}

bool SimPhonebook::FindByName(std::u16string_view name, ContactEntry* entry) {
  std::vector<ContactEntry> all = Entries();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (!EqualsIgnoreCase(it->name, name)) continue;
    *entry = *it;
    return true;
  }
  return false;
}

}  // namespace ui
