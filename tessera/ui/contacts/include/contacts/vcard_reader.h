#pragma once
/// A reader of vCard files (versions 2.1, 3.0 and 4.0) as address books and phones write
/// them: folded lines, quoted-printable values with soft line breaks, CHARSET parameters,
/// backslash escapes, "tel:" URIs, several TEL and EMAIL properties per card, a UTF-8 or
/// UTF-16 byte-order mark. Only what the contacts need is kept: the name, the telephone
/// numbers and the e-mail addresses. A malformed card is skipped and counted; the rest of
/// the file is still read, and no input makes the reader fail.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

struct VCardContact {
  /// FN; else the N components given, middle and family name joined by spaces; else ORG.
  std::u16string name;
  /// TEL values in file order, "tel:" URIs reduced to their number.
  std::vector<std::u16string> phones;
  /// EMAIL values in file order.
  std::vector<std::u16string> emails;
  /// Index in `phones` of the preferred number: the first marked preferred, else the first
  /// mobile number, else 0. Meaningless when `phones` is empty.
  std::size_t preferredPhone = 0;
  /// Index in `emails` of the first marked preferred address, else 0.
  std::size_t preferredEmail = 0;

  /// The preferred number, or "" when the card has none.
  std::u16string_view Phone() const { return phones.empty() ? std::u16string_view() : phones[preferredPhone]; }
  std::u16string_view Email() const { return emails.empty() ? std::u16string_view() : emails[preferredEmail]; }
};

struct VCardFile {
  std::vector<VCardContact> contacts;  ///< well-formed cards in file order
  std::size_t skipped = 0;             ///< malformed cards left out
};

/// Reads every card of `bytes`. Text outside BEGIN:VCARD / END:VCARD is ignored.
VCardFile ReadVCards(std::string_view bytes);

/// Decodes one quoted-printable value: "=XX" becomes the octet, "=" before a line end is a
/// soft break, and a "=" that starts no valid escape is kept as it is.
std::string DecodeQuotedPrintable(std::string_view text);

/// Converts octets in the named character set to UTF-16. An empty name means UTF-8 when the
/// octets are valid UTF-8 and Windows-1252 otherwise; an unknown name falls back the same way.
std::u16string DecodeCharset(std::string_view octets, std::string_view charset);

}  // namespace ui
