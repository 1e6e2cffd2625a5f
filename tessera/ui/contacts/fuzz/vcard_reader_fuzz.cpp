#include <cstddef>
#include <cstdint>
#include <string_view>

#include "contacts/contacts_session.h"
#include "contacts/vcard_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ui::VCardFile file = ui::ReadVCards(bytes);
  for (const ui::VCardContact& c : file.contacts) {
    // The preferred indexes always point into their lists.
    if (!c.phones.empty() && c.preferredPhone >= c.phones.size()) __builtin_trap();
    if (!c.emails.empty() && c.preferredEmail >= c.emails.size()) __builtin_trap();
    (void)ui::PhoneNumbersMatch(c.Phone(), u"+15550100");
    (void)ui::EqualsIgnoreCase(c.name, u"Ann");
  }
  (void)ui::DecodeQuotedPrintable(bytes);
  return 0;
}
