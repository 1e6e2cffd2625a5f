#include "sendpage/address_list.h"

namespace ui {

namespace {

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

std::u16string_view TrimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return s;
}

/// The entries of a list text: split at ";", trimmed, empty ones dropped.
std::vector<std::u16string_view> SplitEntries(std::u16string_view text) {
  std::vector<std::u16string_view> out;
  while (!text.empty()) {
    std::size_t semi = text.find(u';');
    std::u16string_view entry = TrimSpaces(text.substr(0, semi));
    if (!entry.empty()) out.push_back(entry);
    if (semi == std::u16string_view::npos) break;
    text.remove_prefix(semi + 1);
  }
  return out;
}

std::u16string JoinEach(const std::vector<std::u16string>& items) {
  std::u16string out;
  for (const std::u16string& s : items) {
    out += s;
    out += u';';
  }
  return out;
}

}  // namespace

bool IsValidPhoneNumber(std::u16string_view text) {
  if (text.size() > kMaxAddressLength) return false;
  std::u16string n;
  for (char16_t c : text)
    if (c != u' ') n.push_back(c);
  if (n.size() < 3) return false;
  std::size_t i = 0;
  if (n[0] == u'+') {
    if (!IsDigit(n[1]) || n.size() < 5) return false;
    i = 1;
  }
  bool digit = false;
  for (; i < n.size(); ++i) {
    char16_t c = n[i];
    if (IsDigit(c))
      digit = true;
    else if (c != u'(' && c != u')' && c != u'-')
      return false;
  }
  // "---" or "()-" pass the character rule but reach nobody.
  return digit;
}

bool IsValidEmailAddress(std::u16string_view text) {
  if (text.size() > kMaxAddressLength) return false;
  std::size_t at = text.find(u'@');
  if (at == std::u16string_view::npos || at == 0) return false;
  // The domain's first dot: a dot in the name before the "@" ("first.last@") is fine.
  std::size_t dot = text.find(u'.', at);
  if (dot == std::u16string_view::npos) return false;
  return dot >= at + 3 && dot + 1 < text.size();
}

bool IsValidAddress(AddressKind kind, std::u16string_view text) {
  return kind == AddressKind::Phone ? IsValidPhoneNumber(text) : IsValidEmailAddress(text);
}

AddressKind KindOfAddress(std::u16string_view text) {
  return text.find(u'@') != std::u16string_view::npos ? AddressKind::Email : AddressKind::Phone;
}

std::u16string DialableNumber(std::u16string_view number) {
  std::u16string out;
  for (char16_t c : number)
    if (c != u' ' && c != u'(' && c != u')' && c != u'-') out.push_back(c);
  return out;
}

bool ListsTooLong(std::size_t phoneLength, std::size_t emailLength) {
  return phoneLength >= kListLengthLimit || emailLength >= kListLengthLimit ||
         phoneLength + emailLength + 2 >= kListsLengthLimit;
}

bool CanAppendAddress(std::size_t listLength, std::size_t otherLength, std::size_t addressLength) {
  return !ListsTooLong(listLength + addressLength + 1, otherLength);
}

std::u16string DisplayAddress(ContactsSession* contacts, AddressKind kind, std::u16string_view address) {
  ContactEntry e;
  bool found = contacts && (kind == AddressKind::Phone ? contacts->FindByNumber(address, &e)
                                                       : contacts->FindByEmail(address, &e));
  if (!found || e.name.empty()) return std::u16string(address);
  std::u16string out = e.name;
  out += u'(';
  out += address;
  out += u')';
  return out;
}

std::u16string AddressOfDisplayForm(AddressKind kind, std::u16string_view text) {
  if (text.size() < 3 || text.back() != u')') return {};
  // The "(" that opens the final group; a phone number may hold parentheses of its own.
  int depth = 0;
  std::size_t open = std::u16string_view::npos;
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] == u')') ++depth;
    if (text[i] == u'(' && --depth == 0) {
      open = i;
      break;
    }
  }
  if (open == std::u16string_view::npos || open == 0) return {};
  std::u16string_view name = TrimSpaces(text.substr(0, open));
  std::u16string_view address = TrimSpaces(text.substr(open + 1, text.size() - open - 2));
  if (name.empty() || !IsValidAddress(kind, address)) return {};
  if (kind == AddressKind::Email && name.find(u'@') != std::u16string_view::npos) return {};
  return std::u16string(address);
}

bool AddressList::Parse(std::u16string_view text, std::u16string* invalidEntry) {
  entries_.clear();
  bool ok = true;
  for (std::u16string_view typed : SplitEntries(text)) {
    Entry entry{std::u16string(typed), {}, {}};
    std::u16string& slot = kind_ == AddressKind::Phone ? entry.number : entry.email;
    // An e-mail display form "Ann(ann@example.com)" is itself shaped like an address, so
    // the form is tried first there; a phone number may legally end in a group "(123)".
    std::u16string inner;
    if (kind_ == AddressKind::Email) inner = AddressOfDisplayForm(kind_, typed);
    if (!inner.empty()) {
      slot = inner;
    } else if (IsValidAddress(kind_, typed)) {
      slot = entry.typed;
    } else if (std::u16string form = AddressOfDisplayForm(kind_, typed); !form.empty()) {
      slot = form;
    } else {
      ContactEntry contact;
      bool phone = kind_ == AddressKind::Phone;
      if (contacts_ && contacts_->FindByName(typed, phone, &contact))
        slot = phone ? contact.number : contact.email;
      else if (phone && sim_ && sim_->FindByName(typed, &contact))
        slot = contact.number;
    }
    if (slot.empty()) {
      if (ok && invalidEntry) *invalidEntry = entry.typed;
      ok = false;
    }
    entries_.push_back(std::move(entry));
  }
  return ok;
}

std::u16string AddressList::TypedText() const {
  std::vector<std::u16string> items;
  for (const Entry& e : entries_) items.push_back(e.typed);
  return JoinEach(items);
}

std::u16string AddressList::AddressText() const {
  std::vector<std::u16string> items;
  for (const Entry& e : entries_)
    if (!e.Address(kind_).empty()) items.push_back(e.Address(kind_));
  return JoinEach(items);
}

std::u16string AddressList::RecipientText() const {
  std::vector<std::u16string> items;
  for (const Entry& e : entries_) {
    const std::u16string& address = e.Address(kind_);
    if (!address.empty()) items.push_back(kind_ == AddressKind::Phone ? DialableNumber(address) : address);
  }
  return JoinEach(items);
}

std::u16string AddressList::DisplayText() const {
  std::vector<std::u16string> items;
  for (const Entry& e : entries_) {
    const std::u16string& address = e.Address(kind_);
    if (address.empty()) {
      items.push_back(e.typed);
      continue;
    }
    std::u16string shown = DisplayAddress(contacts_, kind_, address);
    if (shown == address && e.typed != address) {
      // No contact shows the address, but a name was typed (a SIM name, or a display form
      // of a contact since removed): keep it in view.
      shown = AddressOfDisplayForm(kind_, e.typed).empty() ? e.typed + u"(" + address + u")" : e.typed;
    }
    items.push_back(std::move(shown));
  }
  return JoinEach(items);
}

void SplitRecipientText(std::u16string_view text, std::u16string* phones, std::u16string* emails) {
  phones->clear();
  emails->clear();
  for (std::u16string_view entry : SplitEntries(text)) {
    std::u16string* list = KindOfAddress(entry) == AddressKind::Email ? emails : phones;
    *list += entry;
    *list += u';';
  }
}

std::u16string JoinRecipientText(std::u16string_view phones, std::u16string_view emails) {
  std::u16string out;
  for (std::u16string_view list : {phones, emails}) {
    if (list.empty()) continue;
    out += list;
    if (list.back() != u';') out += u';';
  }
  return out;
}

}  // namespace ui
