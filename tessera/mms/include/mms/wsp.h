#pragma once
/// WSP value encodings: integers, lengths, texts, content types, charsets and encoded strings,
/// with encoders that append to a ByteBuffer and decoders over a buffer or a ByteStream.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mms/byte_buffer.h"
#include "mms/byte_stream.h"
#include "mms/fixed_text.h"

namespace mms {

/// MIBenum numbers of the charsets the composer writes, and of UTF-16.
inline constexpr std::int32_t kCharsetUsAscii = 3;
inline constexpr std::int32_t kCharsetUtf8 = 106;
inline constexpr std::int32_t kCharsetUcs2 = 1000;
inline constexpr std::int32_t kCharsetUtf16 = 1015;

/// Well-known parameter codes (written with the high bit set).
inline constexpr std::uint8_t kParamCharset = 0x01;
inline constexpr std::uint8_t kParamName = 0x05;
inline constexpr std::uint8_t kParamType = 0x09;
inline constexpr std::uint8_t kParamStart = 0x0A;

inline constexpr std::string_view kMultipartRelated = "application/vnd.wap.multipart.related";
inline constexpr std::string_view kMultipartMixed = "application/vnd.wap.multipart.mixed";
inline constexpr std::string_view kMmsMessageType = "application/vnd.wap.mms-message";
inline constexpr std::string_view kDrmMessageType = "application/vnd.oma.drm.message";
inline constexpr std::string_view kDrmRightsXmlType = "application/vnd.oma.drm.rights+xml";
inline constexpr std::string_view kSmilType = "application/smil";

/// A decoded encoded-string-value.
struct StringValue {
  std::string text;  ///< the text octets (no terminator inside)
  std::int32_t charset = kCharsetUsAscii;
  std::int32_t length() const { return static_cast<std::int32_t>(text.size()); }
  bool operator==(const StringValue&) const = default;
};

// ---- Assigned numbers --------------------------------------------------------------------

/// Media type of a well-known content-type code, or null for a code the system does not know.
const char* WellKnownContentType(int code);
/// Code of a media type, or -1. With `forEncoding` only types that are written as a code.
int WellKnownContentTypeCode(std::string_view mediaType, bool forEncoding);

/// MIBenum of a charset name, 0 when unknown. The writer's names ("utf_8", "us-ascii",
/// "iso-10646-ucs-2"), the registered names of the charsets iconv converts ("iso-8859-1",
/// "shift_jis", "utf-16", ...) and the spelling "utf-8" are recognised, in any letter case.
std::int32_t CharsetFromName(std::string_view name);
/// Name of a known MIBenum written into *out; other numbers leave *out unchanged (false).
bool CharsetName(std::int32_t mib, std::string* out);
/// iconv's name for a known MIBenum; null for unknown numbers and for the charsets converted
/// without iconv (us-ascii, UTF-8, UCS-2, UTF-16).
const char* CharsetIconvName(std::int32_t mib);

// ---- Encoders (append; false when the buffer cannot grow) -------------------------------

bool EncodeUintvar(ByteBuffer& out, std::uint32_t value);
int UintvarSize(std::uint32_t value);
bool EncodeValueLength(ByteBuffer& out, std::uint32_t value);
int ValueLengthSize(std::uint32_t value);
bool EncodeShortInteger(ByteBuffer& out, std::uint8_t value);
bool EncodeLongInteger(ByteBuffer& out, std::uint32_t value);
int LongIntegerSize(std::uint32_t value);
bool EncodeIntegerValue(ByteBuffer& out, std::uint32_t value);
int IntegerValueSize(std::uint32_t value);
bool EncodeTextString(ByteBuffer& out, std::string_view text);
/// Content-type value; Type and Start are written only for multipart/related.
bool EncodeContentType(ByteBuffer& out, std::string_view mediaType, std::string_view typeParam = {},
                       std::string_view startParam = {});
bool EncodeEncodedString(ByteBuffer& out, const StringValue& value);
/// One header-list entry: a well-known field code (0..127, written as Short-integer), or, when
/// `code` is negative, the field name as Token-text; then the value as Text-string.
bool EncodeHeaderField(ByteBuffer& out, int code, std::string_view name, std::string_view value);

// ---- Decoders over octets in memory ------------------------------------------------------

/// A reader over a block of octets with a sticky failure flag. Every length-prefixed value is
/// read through a sub-reader bounded to its length, so a bad length never reads past its unit.
class WspReader {
 public:
  WspReader() = default;
  WspReader(const std::uint8_t* data, std::size_t size) : p_(data), end_(size) {}
  explicit WspReader(const ByteBuffer& buffer, std::int32_t pos = 0)
      : p_(buffer.data()), end_(static_cast<std::size_t>(buffer.length())) {
    if (pos < 0 || pos > buffer.length())
      failed_ = true;
    else
      pos_ = static_cast<std::size_t>(pos);
  }

  std::size_t position() const { return pos_; }
  std::size_t size() const { return end_; }
  std::size_t remaining() const { return end_ - pos_; }
  bool AtEnd() const { return pos_ >= end_; }
  bool failed() const { return failed_; }
  void Fail() { failed_ = true; }
  const std::uint8_t* here() const { return p_ + pos_; }

  /// Next octet without consuming it, or -1 at the end.
  int Peek() const { return pos_ < end_ ? p_[pos_] : -1; }
  /// Next octet; at the end it fails the reader and yields 0.
  std::uint8_t ReadOctet() {
    if (pos_ >= end_) {
      failed_ = true;
      return 0;
    }
    return p_[pos_++];
  }
  void Skip(std::size_t n) {
    if (n > remaining()) {
      failed_ = true;
      pos_ = end_;
    } else {
      pos_ += n;
    }
  }
  /// Moves to an absolute offset; offsets past the end fail the reader.
  void SeekTo(std::size_t pos) {
    if (pos > end_) {
      failed_ = true;
      pos_ = end_;
    } else {
      pos_ = pos;
    }
  }
  /// A reader over the next n octets; this reader moves past them. When fewer than n remain
  /// both readers fail.
  WspReader Sub(std::size_t n) {
    WspReader sub;
    if (n > remaining()) {
      failed_ = true;
      sub.failed_ = true;
      pos_ = end_;
      return sub;
    }
    sub.p_ = p_ + pos_;
    sub.end_ = n;
    pos_ += n;
    return sub;
  }

 private:
  const std::uint8_t* p_ = nullptr;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool failed_ = false;
};

/// uintvar of at most 5 octets fitting 32 bits; anything longer fails the reader.
std::uint32_t DecodeUintvar(WspReader& r);
/// Value-length: an octet below 31 is the length, 31 is followed by a uintvar, any other octet
/// yields 0 (consumed).
std::uint32_t DecodeValueLength(WspReader& r);
/// Long-integer: Short-length (0..30) octets big-endian; values past 32 bits fail the reader.
std::uint32_t DecodeLongInteger(WspReader& r);
std::uint32_t DecodeIntegerValue(WspReader& r);
/// Text-string in the buffer form: one leading quotation mark (0x22) or quote octet (0x7F)
/// skipped, every octet from 0x20 up copied, a trailing quotation mark dropped; a terminating 0
/// is consumed, a control octet that stops the text is left in place. At most `maxLength`
/// octets are kept (never half a UTF-8 sequence); the whole text is always consumed.
std::string DecodeTextString(WspReader& r, std::size_t maxLength = kTextFieldMax);
/// Encoded-string-value; none for an empty text. The charset is kept as declared; a quote
/// octet (0x7F) before the text is not part of it.
std::optional<StringValue> DecodeEncodedString(WspReader& r);

/// Outputs of a Content-type value. Texts are kept to at most 127 octets.
struct ContentTypeValue {
  std::string mediaType;
  std::string typeParam;   ///< Type parameter of multipart/related
  std::string startParam;  ///< Start parameter of multipart/related
  std::string name;        ///< Name parameter
  std::string charset;     ///< name of the Charset parameter, when the charset is known
};
/// Content-type value in the buffer form. A code the system does not know leaves mediaType
/// empty. A Value-length past the end fails the reader.
void DecodeContentType(WspReader& r, ContentTypeValue& out);

// ---- Decoders over a ByteStream (a read past the end yields 0) ---------------------------

/// False for a uintvar longer than 5 octets or past 32 bits.
bool StreamDecodeUintvar(ByteStream& s, std::uint32_t* value);
bool StreamDecodeValueLength(ByteStream& s, std::uint32_t* value);
/// Text-string in the stream form: read up to and including the terminating 0.
std::string StreamDecodeTextString(ByteStream& s, std::size_t maxLength = kTextFieldMax);
/// Content-type value in the stream form: only the Type and Start parameters of
/// multipart/related are read; the stream ends at the end of the value. False when the value
/// runs past the end of the stream.
bool StreamDecodeContentType(ByteStream& s, ContentTypeValue& out);

// ---- Text helpers -------------------------------------------------------------------------

/// Splits "media;param=value;..." at the first ';'. The media type is kept to 255 octets; when
/// `paramName` is non-empty, *paramValue receives the text after its first occurrence, with any
/// run of '=' and blanks skipped, up to the next ';' (empty when absent).
void SplitContentType(std::string_view text, std::string_view paramName, std::string* mediaType,
                      std::string* paramValue);

/// Plain per-character copies bounded by the destination size in characters: the copy stops at
/// the source's terminator or after size-1 characters and always terminates. Characters past
/// 0xFF become '?' in the narrow direction.
void WideToNarrow(const char16_t* src, char* dst, std::size_t size);
void NarrowToWide(const char* src, char16_t* dst, std::size_t size);

}  // namespace mms
