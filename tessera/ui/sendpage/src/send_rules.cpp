#include "sendpage/send_rules.h"

#include <cstdio>

#include "sendpage/ids.h"

namespace ui {

RecipientCheck CheckRecipients(ContactsSession* contacts, std::u16string_view phoneText,
                               std::u16string_view emailText) {
  RecipientCheck r;
  AddressList phones(contacts, nullptr, AddressKind::Phone);
  AddressList emails(contacts, nullptr, AddressKind::Email);
  if (!phoneText.empty() && !phones.Parse(phoneText)) {
    r.message = ids::kStrPhoneInvalid;
    r.focus = AddressKind::Phone;
    return r;
  }
  if (!emailText.empty() && !emails.Parse(emailText)) {
    r.message = ids::kStrEmailInvalid;
    r.focus = AddressKind::Email;
    return r;
  }
  r.phones = phones.RecipientText();
  r.emails = emails.RecipientText();
  if (ListsTooLong(r.phones.size(), r.emails.size())) {
    r.message = ids::kStrListTooLong;
    r.focus = r.phones.size() >= kListLengthLimit || r.emails.size() < kListLengthLimit ? AddressKind::Phone
                                                                                        : AddressKind::Email;
    return r;
  }
  r.recipients = JoinRecipientText(r.phones, r.emails);
  return r;
}

RecipientCheck CheckMixedRecipients(ContactsSession* contacts, std::u16string_view text,
                                    std::u16string* invalidEntry) {
  RecipientCheck r;
  std::u16string rest(text);
  for (char16_t& c : rest)
    if (c == u';') c = u'\n';  // one entry at a time, through the lists' own rules
  std::u16string_view all = rest;
  while (!all.empty()) {
    std::size_t end = all.find(u'\n');
    std::u16string_view entry = all.substr(0, end);
    all = end == std::u16string_view::npos ? std::u16string_view() : all.substr(end + 1);
    AddressList phone(contacts, nullptr, AddressKind::Phone);
    AddressList email(contacts, nullptr, AddressKind::Email);
    bool looksEmail = KindOfAddress(entry) == AddressKind::Email;
    // The message centre's own form of a number, "+4420/TYPE=PLMN", is a number too.
    // It is checked without its suffix and kept with it.
    constexpr std::u16string_view kPlmn = u"/TYPE=PLMN";
    std::u16string_view suffix;
    if (!looksEmail && entry.size() > kPlmn.size() && EqualsIgnoreCase(entry.substr(entry.size() - kPlmn.size()), kPlmn)) {
      suffix = entry.substr(entry.size() - kPlmn.size());
      entry.remove_suffix(kPlmn.size());
    }
    if (!phone.Parse(entry) || looksEmail) phone.Clear();
    if (phone.empty() && !email.Parse(entry)) email.Clear();
    if (phone.empty() && email.empty()) {
      // Nothing but blanks is no entry; anything else is a bad one.
      bool blank = true;
      for (char16_t c : entry) blank = blank && c == u' ';
      if (blank) continue;
      if (invalidEntry) *invalidEntry = std::u16string(entry);
      r.message = looksEmail ? ids::kStrEmailInvalid : ids::kStrPhoneInvalid;
      r.focus = looksEmail ? AddressKind::Email : AddressKind::Phone;
      return r;
    }
    std::u16string number = phone.RecipientText();
    if (!number.empty() && !suffix.empty()) number.insert(number.size() - 1, suffix);
    r.phones += number;
    r.emails += email.RecipientText();
  }
  if (ListsTooLong(r.phones.size(), r.emails.size())) {
    r.message = ids::kStrListTooLong;
    return r;
  }
  r.recipients = JoinRecipientText(r.phones, r.emails);
  return r;
}

std::u16string NormaliseAddressText(ContactsSession* contacts, AddressKind kind, std::u16string_view text) {
  AddressList list(contacts, nullptr, kind);
  list.Parse(text);
  return list.TypedText();
}

UINT LengthMessage(std::u16string_view phoneText, std::u16string_view emailText) {
  return ListsTooLong(phoneText.size(), emailText.size()) ? ids::kStrListTooLong : 0;
}

UINT CheckTypedSeparator(ContactsSession* contacts, AddressKind kind, std::u16string_view textBeforeCaret,
                         std::u16string_view phoneText, std::u16string_view emailText) {
  AddressList list(contacts, nullptr, kind);
  if (!list.Parse(textBeforeCaret)) return kind == AddressKind::Phone ? ids::kStrPhoneInvalid : ids::kStrEmailInvalid;
  return LengthMessage(phoneText, emailText);
}

UINT AppendContactAddress(AddressKind kind, std::u16string_view editText, std::u16string_view otherText,
                          const ContactEntry& contact, std::u16string* newText) {
  const std::u16string& address = kind == AddressKind::Phone ? contact.number : contact.email;
  if (!IsValidAddress(kind, address))
    return kind == AddressKind::Phone ? ids::kStrContactPhoneInvalid : ids::kStrContactEmailInvalid;
  std::u16string text(editText);
  while (!text.empty() && text.back() == u' ') text.pop_back();
  if (!text.empty() && text.back() != u';') text += u';';
  if (!CanAppendAddress(text.size(), otherText.size(), address.size())) return ids::kStrCannotAdd;
  *newText = text + address + u";";
  return 0;
}

namespace {

std::u16string EditTextOf(ContactsSession* contacts, AddressKind kind, std::u16string_view list) {
  AddressList parsed(contacts, nullptr, kind);
  parsed.Parse(list);
  std::u16string text = parsed.DisplayText();
  if (text.size() > kAddressEditLimit) text = parsed.AddressText();
  if (text.size() > kAddressEditLimit) {
    // Cut to what the edit holds, without leaving half an entry behind.
    text.resize(kAddressEditLimit);
    std::size_t semi = text.rfind(u';');
    text.resize(semi == std::u16string::npos ? 0 : semi + 1);
  }
  return text;
}

}  // namespace

void RecipientEditTexts(ContactsSession* contacts, std::u16string_view recipients, std::u16string* phoneText,
                        std::u16string* emailText) {
  std::u16string phones, emails;
  SplitRecipientText(recipients, &phones, &emails);
  *phoneText = EditTextOf(contacts, AddressKind::Phone, phones);
  *emailText = EditTextOf(contacts, AddressKind::Email, emails);
}

std::u16string FormatMessageSize(std::uint32_t bytes, std::u16string_view kilobytes, std::u16string_view megabytes) {
  std::uint64_t k = (static_cast<std::uint64_t>(bytes) + 1023) / 1024;
  char number[32];
  if (k <= 1024)
    std::snprintf(number, sizeof number, "%d", static_cast<int>(k));
  else
    std::snprintf(number, sizeof number, "%.1f", static_cast<double>(k) / 1024.0);
  std::u16string out;
  for (const char* p = number; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  out += k <= 1024 ? kilobytes : megabytes;
  return out;
}

PictureBox ResolutionBox(int resolution) {
  switch (resolution) {
    case 0:
      return {160, 120};
    case 1:
      return {320, 240};
    case 2:
      return {640, 480};
    default:
      return {0, 0};
  }
}

bool PictureNeedsScaling(int resolution, int width, int height) {
  PictureBox box = ResolutionBox(resolution);
  if (box.width == 0) return false;
  return width > box.width || height > box.height;
}

int ValidityEntry(std::uint32_t seconds) {
  if (seconds < 1) return 0;
  for (std::size_t i = 1; i < kValiditySeconds.size(); ++i)
    if (seconds <= kValiditySeconds[i]) return static_cast<int>(i);
  return 0;
}

int DeliveryEntry(std::uint32_t seconds) {
  if (seconds < 1) return 0;
  for (std::size_t i = 1; i < kDeliverySeconds.size(); ++i)
    if (seconds <= kDeliverySeconds[i]) return static_cast<int>(i);
  // Later than the longest delay offered: the longest, rather than "at once".
  return static_cast<int>(kDeliverySeconds.size()) - 1;
}

int PriorityEntry(std::uint8_t token) {
  if (token >= kPriorityLow && token < kPriorityLow + kPriorityStrings.size()) return token - kPriorityLow;
  return 1;
}

SendOptionChoice ChoiceFromOptions(const store::SendOptionsRecord& options, int resolution) {
  SendOptionChoice c;
  c.validity = ValidityEntry(options.expiry);
  c.delivery = DeliveryEntry(options.deliveryTime);
  c.priority = PriorityEntry(options.priority);
  c.resolution = resolution >= 0 && resolution < kResolutionCount ? resolution : kResolutionOriginal;
  return c;
}

void StoreChoice(const SendOptionChoice& choice, store::SendOptionsRecord* options) {
  auto in = [](int v, std::size_t n) { return v >= 0 && static_cast<std::size_t>(v) < n; };
  options->expiryForm = 0;
  options->deliveryTimeForm = 0;
  options->senderVisibility = kSenderShown;
  options->expiry = kValiditySeconds[in(choice.validity, kValiditySeconds.size()) ? choice.validity : 0];
  options->deliveryTime = kDeliverySeconds[in(choice.delivery, kDeliverySeconds.size()) ? choice.delivery : 0];
  options->priority =
      static_cast<std::uint8_t>(kPriorityLow + (in(choice.priority, kPriorityStrings.size()) ? choice.priority : 1));
}

}  // namespace ui
