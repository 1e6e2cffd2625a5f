#pragma once
/// The send page's decisions without its screen: the recipient checks of sending, saving,
/// typing and inserting a contact (each answered with the string id of the message box to
/// show, 0 when none), the size text, the picture resolutions and the sending options'
/// value tables.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"
#include "sendpage/address_list.h"
#include "store/message_store.h"

namespace ui {

// --- Recipients -----------------------------------------------------------------------------

struct RecipientCheck {
  /// 0 when the lists may be used; else the string to show (1051 phone list invalid, 1050
  /// e-mail list invalid, 1052 too long).
  UINT message = 0;
  /// The edit whose text is at fault.
  AddressKind focus = AddressKind::Phone;
  /// The resolved lists, each joined with ";" and ending with one.
  std::u16string phones, emails;
  /// The recipient text for the message: the phone list followed by the e-mail list.
  std::u16string recipients;
};

/// Reads the two edit texts as lists of their kinds, as sending and saving do: a non-empty
/// phone text must be a valid phone list, then a non-empty e-mail text a valid e-mail list;
/// an empty text is an empty list; the joined lists must keep within the length limits.
RecipientCheck CheckRecipients(ContactsSession* contacts, std::u16string_view phoneText,
                               std::u16string_view emailText);

/// A recipient text with both kinds mixed, as tools take it: each entry a valid e-mail
/// address, a valid phone number, a display form of either, or a contact's name (its
/// number first, else its e-mail address). The first entry that is none of these goes
/// into `invalidEntry` with 1050 when it holds an "@", else 1051. The recipient text lists
/// the numbers, then the e-mail addresses.
RecipientCheck CheckMixedRecipients(ContactsSession* contacts, std::u16string_view text,
                                    std::u16string* invalidEntry);

/// When an address edit loses the focus its text is parsed again without messages and
/// the normalised list is written back (entries that do not resolve are kept as typed).
std::u16string NormaliseAddressText(ContactsSession* contacts, AddressKind kind, std::u16string_view text);

/// The message due after an edit changed: 1052 when the texts break the length limits, else 0.
UINT LengthMessage(std::u16string_view phoneText, std::u16string_view emailText);

/// A ";" was just typed in an address edit of `kind`: the text before the caret is tested
/// as a list of that kind (1051 or 1050 when invalid), then the length rule (1052).
UINT CheckTypedSeparator(ContactsSession* contacts, AddressKind kind, std::u16string_view textBeforeCaret,
                         std::u16string_view phoneText, std::u16string_view emailText);

/// Appends a chosen contact's address to the edit text of `kind`: 1057 or 1058 when the
/// address is not valid for the kind, 1067 when it does not fit; else 0 and `newText` is the
/// text with the address and ";" appended (a ";" is put first when the text does not end
/// with one).
UINT AppendContactAddress(AddressKind kind, std::u16string_view editText, std::u16string_view otherText,
                          const ContactEntry& contact, std::u16string* newText);

/// The edit texts shown for a message's recipient text: its entries split by kind, each in
/// its display form, joined with ";" and ending with one; a text longer than the edit's
/// 511 characters is cut to 511 and normalised again.
void RecipientEditTexts(ContactsSession* contacts, std::u16string_view recipients, std::u16string* phoneText,
                        std::u16string* emailText);

// --- Sizes and resolutions ----------------------------------------------------------------

/// K = (bytes + 1023) / 1024; "%d%s" of K and `kilobytes` when K is at most 1024, else
/// "%.1f%s" of K / 1024 and `megabytes`.
std::u16string FormatMessageSize(std::uint32_t bytes, std::u16string_view kilobytes, std::u16string_view megabytes);

/// Resolution choices: 0 160x120, 1 320x240, 2 640x480, 3 pictures left as they are.
inline constexpr int kResolutionCount = 4;
inline constexpr int kResolutionOriginal = 3;
struct PictureBox {
  int width, height;
};
/// The box of resolution 0-2; {0, 0} for 3 or anything else.
PictureBox ResolutionBox(int resolution);
/// A picture wider than the box, or else higher than it, is scaled to fit inside it; any
/// other is left as it is.
bool PictureNeedsScaling(int resolution, int width, int height);

// --- Sending options ----------------------------------------------------------------------

inline constexpr std::array<UINT, 6> kValidityStrings = {1041, 1036, 1037, 1038, 1039, 1040};
inline constexpr std::array<std::uint32_t, 6> kValiditySeconds = {0, 43200, 86400, 172800, 604800, 2592000};
inline constexpr std::array<UINT, 7> kDeliveryStrings = {1026, 1027, 1028, 1029, 1030, 1031, 1032};
inline constexpr std::array<std::uint32_t, 7> kDeliverySeconds = {0, 1800, 3600, 7200, 86400, 172800, 604800};
inline constexpr std::array<UINT, 3> kPriorityStrings = {1033, 1034, 1035};
inline constexpr std::uint8_t kPriorityLow = 128;
inline constexpr std::array<UINT, 4> kResolutionStrings = {1043, 1044, 1045, 1042};
inline constexpr std::uint8_t kSenderShown = 129;

/// The validity entry showing a stored expiry: below 1 entry 0, then the first entry whose
/// value is not below it; above the last value entry 0 (never).
int ValidityEntry(std::uint32_t seconds);
/// The delivery-time entry showing a stored value: below 1 entry 0, then the first entry
/// whose value is not below it; above the last value the last entry.
int DeliveryEntry(std::uint32_t seconds);
/// The priority entry of a stored token (128 low, 129 normal, 130 high); normal otherwise.
int PriorityEntry(std::uint8_t token);

struct SendOptionChoice {
  int validity = 0;
  int delivery = 0;
  int priority = 1;
  int resolution = kResolutionOriginal;
};

/// The entries shown for a message's options and the page's resolution.
SendOptionChoice ChoiceFromOptions(const store::SendOptionsRecord& options, int resolution);
/// Done: both forms 0, the sender shown, the table values of the entries (entries out of
/// range take entry 0's value, normal priority).
void StoreChoice(const SendOptionChoice& choice, store::SendOptionsRecord* options);

}  // namespace ui
