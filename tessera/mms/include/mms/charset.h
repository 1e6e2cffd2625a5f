#pragma once
/// Charsets of received and sent texts: IANA MIBenum numbers, the names written after
/// ";charset=", and conversion to and from UTF-8 through iconv.

#include <cstdint>
#include <string>
#include <string_view>

#include "mms/wsp.h"

namespace mms {

/// Converts `text` in the charset `mib` to UTF-8. us-ascii and UTF-8 pass through unchanged
/// (so a sender's mislabelled UTF-8 survives), a leading byte-order mark is dropped, UTF-16 and
/// UCS-2 follow their byte-order mark (big-endian without one). Octets that are not valid in
/// the charset become U+FFFD. False, with *out untouched, when the charset is not known.
bool ConvertToUtf8(std::string_view text, std::int32_t mib, std::string* out);

/// Converts UTF-8 `text` to the charset `mib`. False when the charset is not known, the text is
/// not valid UTF-8, or a character cannot be written in that charset (us-ascii takes ASCII
/// only).
bool ConvertFromUtf8(std::string_view text, std::int32_t mib, std::string* out);

/// A received text as UTF-8 for showing it: converted by its charset; an unknown charset keeps
/// the octets as they are.
std::string ReceivedTextToUtf8(const StringValue& value);

/// True when `text` is valid UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace mms
