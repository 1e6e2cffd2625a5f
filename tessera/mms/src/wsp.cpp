#include "mms/wsp.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace mms {

namespace {

constexpr std::uint32_t kLengthQuote = 31;
constexpr int kMaxUintvarOctets = 5;
constexpr int kMaxShortLength = 30;
constexpr std::size_t kMediaTypeMax = 255;
// WSP's Quote: stands before a text whose first octet is 0x80 or above and is not part of it.
constexpr int kQuote = 0x7F;

bool FitsInt32(std::size_t n) {
  return n <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
}

bool AppendText(ByteBuffer& out, std::string_view text) {
  return FitsInt32(text.size()) && out.AppendString(text);
}

// Stores a media type decoded from a well-known code; unknown codes leave it as it was.
void SetWellKnown(int code, std::string* mediaType) {
  if (const char* name = WellKnownContentType(code)) *mediaType = name;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    bool match = true;
    for (std::size_t j = 0; j < needle.size() && match; ++j)
      match = std::tolower(static_cast<unsigned char>(text[i + j])) ==
              std::tolower(static_cast<unsigned char>(needle[j]));
    if (match) return i;
  }
  return std::string_view::npos;
}

}  // namespace

// ---- Encoders -----------------------------------------------------------------------------

int UintvarSize(std::uint32_t value) {
  int n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

bool EncodeUintvar(ByteBuffer& out, std::uint32_t value) {
  std::uint8_t octets[kMaxUintvarOctets];
  const int n = UintvarSize(value);
  for (int i = n - 1; i >= 0; --i) {
    octets[i] = static_cast<std::uint8_t>((value & 0x7F) | (i == n - 1 ? 0 : 0x80));
    value >>= 7;
  }
  return out.Append(octets, n);
}

int ValueLengthSize(std::uint32_t value) {
  return value < 30 ? 1 : 1 + UintvarSize(value);
}

bool EncodeValueLength(ByteBuffer& out, std::uint32_t value) {
  if (value < 30) return out.AppendOctet(static_cast<std::uint8_t>(value));
  return out.AppendOctet(kLengthQuote) && EncodeUintvar(out, value);
}

bool EncodeShortInteger(ByteBuffer& out, std::uint8_t value) {
  return out.AppendOctet(static_cast<std::uint8_t>(value | 0x80));
}

int LongIntegerSize(std::uint32_t value) {
  int n = 1;
  while (n < 4 && (value >> (8 * n)) != 0) ++n;
  return 1 + n;
}

bool EncodeLongInteger(ByteBuffer& out, std::uint32_t value) {
  const int n = LongIntegerSize(value) - 1;
  std::uint8_t octets[5];
  octets[0] = static_cast<std::uint8_t>(n);
  for (int i = 0; i < n; ++i) octets[1 + i] = static_cast<std::uint8_t>(value >> (8 * (n - 1 - i)));
  return out.Append(octets, n + 1);
}

int IntegerValueSize(std::uint32_t value) {
  return value <= 127 ? 1 : LongIntegerSize(value);
}

bool EncodeIntegerValue(ByteBuffer& out, std::uint32_t value) {
  if (value <= 127) return EncodeShortInteger(out, static_cast<std::uint8_t>(value));
  return EncodeLongInteger(out, value);
}

bool EncodeTextString(ByteBuffer& out, std::string_view text) {
  return AppendText(out, text) && out.AppendOctet(0);
}

bool EncodeContentType(ByteBuffer& out, std::string_view mediaType, std::string_view typeParam,
                       std::string_view startParam) {
  if (mediaType == kMultipartRelated && (!typeParam.empty() || !startParam.empty())) {
    std::size_t length = 1;
    if (!typeParam.empty()) length += typeParam.size() + 2;
    if (!startParam.empty()) length += startParam.size() + 2;
    if (!FitsInt32(length)) return false;
    bool ok = EncodeValueLength(out, static_cast<std::uint32_t>(length)) && out.AppendOctet(0xB3);
    if (ok && !typeParam.empty()) ok = out.AppendOctet(0x80 | kParamType) && EncodeTextString(out, typeParam);
    if (ok && !startParam.empty())
      ok = out.AppendOctet(0x80 | kParamStart) && EncodeTextString(out, startParam);
    return ok;
  }
  const int code = WellKnownContentTypeCode(mediaType, true);
  if (code >= 0) return out.AppendOctet(static_cast<std::uint8_t>(code | 0x80));
  return EncodeTextString(out, mediaType);
}

bool EncodeEncodedString(ByteBuffer& out, const StringValue& value) {
  if (value.charset == kCharsetUsAscii) return EncodeTextString(out, value.text);
  const std::uint32_t charset = static_cast<std::uint32_t>(value.charset);
  const std::size_t length = static_cast<std::size_t>(IntegerValueSize(charset)) + value.text.size() + 1;
  if (!FitsInt32(length)) return false;
  return EncodeValueLength(out, static_cast<std::uint32_t>(length)) && EncodeIntegerValue(out, charset) &&
         AppendText(out, value.text) && out.AppendOctet(0);
}

bool EncodeHeaderField(ByteBuffer& out, int code, std::string_view name, std::string_view value) {
  bool ok = code >= 0 ? EncodeShortInteger(out, static_cast<std::uint8_t>(code & 0x7F))
                      : EncodeTextString(out, name);
  return ok && EncodeTextString(out, value);
}

// ---- Decoders over memory -------------------------------------------------------------------

std::uint32_t DecodeUintvar(WspReader& r) {
  std::uint64_t value = 0;
  for (int i = 0; i < kMaxUintvarOctets; ++i) {
    const std::uint8_t octet = r.ReadOctet();
    if (r.failed()) return 0;
    value = (value << 7) | (octet & 0x7F);
    if (!(octet & 0x80)) {
      if (value > std::numeric_limits<std::uint32_t>::max()) break;
      return static_cast<std::uint32_t>(value);
    }
  }
  r.Fail();
  return 0;
}

std::uint32_t DecodeValueLength(WspReader& r) {
  const std::uint8_t octet = r.ReadOctet();
  if (octet < kLengthQuote) return octet;
  if (octet == kLengthQuote) return DecodeUintvar(r);
  return 0;
}

std::uint32_t DecodeLongInteger(WspReader& r) {
  const std::uint8_t length = r.ReadOctet();
  if (r.failed()) return 0;
  if (length > kMaxShortLength) {
    r.Fail();
    return 0;
  }
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) {
    value = (value << 8) | r.ReadOctet();
    if (value > std::numeric_limits<std::uint32_t>::max()) {
      r.Fail();
      return 0;
    }
  }
  return r.failed() ? 0 : static_cast<std::uint32_t>(value);
}

std::uint32_t DecodeIntegerValue(WspReader& r) {
  const int first = r.Peek();
  if (first < 0) {
    r.Fail();
    return 0;
  }
  if (first & 0x80) {
    r.ReadOctet();
    return static_cast<std::uint32_t>(first & 0x7F);
  }
  return DecodeLongInteger(r);
}

std::string DecodeTextString(WspReader& r, std::size_t maxLength) {
  const int lead = r.Peek();
  if (lead == 0x22 || lead == kQuote) r.ReadOctet();
  const std::uint8_t* start = r.here();
  std::size_t n = 0;
  while (r.Peek() >= 0x20) {
    r.ReadOctet();
    ++n;
  }
  if (r.Peek() == 0) r.ReadOctet();
  if (n > 0 && start[n - 1] == '"') --n;
  const std::string_view text(reinterpret_cast<const char*>(start), n);
  return std::string(text.substr(0, FittingPrefix(text, maxLength)));
}

std::optional<StringValue> DecodeEncodedString(WspReader& r) {
  const int first = r.Peek();
  if (first < 0) {
    r.Fail();
    return std::nullopt;
  }
  if (first >= 1 && first <= 31) {
    const std::uint32_t length = DecodeValueLength(r);
    WspReader value = r.Sub(length);
    std::uint32_t charset = DecodeIntegerValue(value);
    if (r.failed() || value.failed()) {
      r.Fail();
      return std::nullopt;
    }
    if (value.Peek() == kQuote) value.ReadOctet();
    std::size_t n = value.remaining();
    // The value ends with the text's terminator; a sender that left it out keeps its last octet.
    if (n > 0 && value.here()[n - 1] == 0) --n;
    StringValue out;
    out.text.assign(reinterpret_cast<const char*>(value.here()), n);
    out.charset = charset <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
                      ? static_cast<std::int32_t>(charset)
                      : kCharsetUsAscii;
    return out;
  }
  std::string text = DecodeTextString(r, std::numeric_limits<std::size_t>::max());
  if (text.empty()) return std::nullopt;
  return StringValue{std::move(text), kCharsetUsAscii};
}

void DecodeContentType(WspReader& r, ContentTypeValue& out) {
  const int first = r.Peek();
  if (first < 0) {
    r.Fail();
    return;
  }
  if (first >= 0x80) {
    r.ReadOctet();
    SetWellKnown(first & 0x7F, &out.mediaType);
    return;
  }
  if (first >= 0x20) {
    out.mediaType = DecodeTextString(r);
    return;
  }
  const std::uint32_t length = DecodeValueLength(r);
  WspReader value = r.Sub(length);
  if (r.failed()) return;
  // Whatever happens inside, the outer reader already stands at the end of the value.
  const int media = value.Peek();
  if (media >= 0x80) {
    value.ReadOctet();
    SetWellKnown(media & 0x7F, &out.mediaType);
  } else if (media >= 0) {
    out.mediaType = DecodeTextString(value);
  }
  if (out.mediaType == kMultipartRelated) {
    while (!value.AtEnd()) {
      const int code = value.Peek() & 0x7F;
      if (code == kParamType) {
        value.ReadOctet();
        out.typeParam = DecodeTextString(value);
      } else if (code == kParamStart) {
        value.ReadOctet();
        out.startParam = DecodeTextString(value);
      } else {
        break;
      }
    }
  }
  while (!value.AtEnd() && !value.failed()) {
    const int code = value.ReadOctet() & 0x7F;
    if (code == kParamName) {
      out.name = DecodeTextString(value);
    } else if (code == kParamCharset) {
      const std::uint32_t mib = DecodeIntegerValue(value);
      if (!value.failed() && mib <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        CharsetName(static_cast<std::int32_t>(mib), &out.charset);
    }
    // Any other code octet is passed over by itself.
  }
}

// ---- Decoders over a stream -----------------------------------------------------------------

namespace {

bool UintvarFrom(ByteStream& s, std::uint8_t first, std::uint32_t* value) {
  std::uint64_t v = first & 0x7F;
  std::uint8_t octet = first;
  for (int i = 1; (octet & 0x80); ++i) {
    if (i >= kMaxUintvarOctets) return false;
    octet = s.ReadOctet();
    v = (v << 7) | (octet & 0x7F);
  }
  if (v > std::numeric_limits<std::uint32_t>::max()) return false;
  *value = static_cast<std::uint32_t>(v);
  return true;
}

bool ValueLengthFrom(ByteStream& s, std::uint8_t first, std::uint32_t* value) {
  if (first < kLengthQuote) {
    *value = first;
    return true;
  }
  if (first == kLengthQuote) return StreamDecodeUintvar(s, value);
  *value = 0;
  return true;
}

// Text-string whose first octet was already read.
std::string TextFrom(ByteStream& s, std::uint8_t first, std::size_t maxLength) {
  std::string text;
  std::uint8_t octet = (first == 0x22 || first == kQuote) ? s.ReadOctet() : first;
  bool lastWasQuote = false;
  std::size_t total = 0;
  while (octet != 0) {
    if (text.size() < maxLength + 1) text.push_back(static_cast<char>(octet));
    lastWasQuote = octet == '"';
    ++total;
    octet = s.ReadOctet();
  }
  if (lastWasQuote && total <= maxLength + 1) text.pop_back();
  if (text.size() > maxLength) text.resize(FittingPrefix(text, maxLength));
  return text;
}

}  // namespace

bool StreamDecodeUintvar(ByteStream& s, std::uint32_t* value) {
  return UintvarFrom(s, s.ReadOctet(), value);
}

bool StreamDecodeValueLength(ByteStream& s, std::uint32_t* value) {
  return ValueLengthFrom(s, s.ReadOctet(), value);
}

std::string StreamDecodeTextString(ByteStream& s, std::size_t maxLength) {
  return TextFrom(s, s.ReadOctet(), maxLength);
}

bool StreamDecodeContentType(ByteStream& s, ContentTypeValue& out) {
  const std::uint8_t first = s.ReadOctet();
  if (s.AtEnd()) return false;
  if (first >= 0x80) {
    SetWellKnown(first & 0x7F, &out.mediaType);
    return true;
  }
  if (first >= 0x20) {
    out.mediaType = TextFrom(s, first, kTextFieldMax);
    return true;
  }
  std::uint32_t length = 0;
  if (!ValueLengthFrom(s, first, &length) || s.AtEnd()) return false;
  const std::int64_t end = s.Tell() + length;
  if (end > s.Size()) return false;
  if (length > 0) {
    const std::uint8_t media = s.ReadOctet();
    if (media >= 0x80)
      SetWellKnown(media & 0x7F, &out.mediaType);
    else
      out.mediaType = TextFrom(s, media, kTextFieldMax);
    if (out.mediaType == kMultipartRelated) {
      while (s.Tell() < end) {
        const int code = s.ReadOctet() & 0x7F;
        if (code == kParamType)
          out.typeParam = StreamDecodeTextString(s);
        else if (code == kParamStart)
          out.startParam = StreamDecodeTextString(s);
        else
          break;
      }
    }
  }
  return s.Seek(end, ByteStream::kFromStart) == 0;
}

// ---- Text helpers ---------------------------------------------------------------------------

void SplitContentType(std::string_view text, std::string_view paramName, std::string* mediaType,
                      std::string* paramValue) {
  const std::size_t semi = text.find(';');
  const std::string_view media = text.substr(0, semi);
  if (mediaType) mediaType->assign(media.substr(0, FittingPrefix(media, kMediaTypeMax)));
  if (!paramValue || paramName.empty()) return;
  paramValue->clear();
  if (semi == std::string_view::npos) return;
  std::string_view params = text.substr(semi + 1);
  const std::size_t at = FindNoCase(params, paramName);
  if (at == std::string_view::npos) return;
  params.remove_prefix(at + paramName.size());
  while (!params.empty() && (params.front() == '=' || params.front() == ' ' || params.front() == '\t'))
    params.remove_prefix(1);
  paramValue->assign(params.substr(0, params.find(';')));
}

void WideToNarrow(const char16_t* src, char* dst, std::size_t size) {
  if (!dst || size == 0) return;
  std::size_t i = 0;
  for (; src && i + 1 < size && src[i] != 0; ++i) dst[i] = src[i] <= 0xFF ? static_cast<char>(src[i]) : '?';
  dst[i] = 0;
}

void NarrowToWide(const char* src, char16_t* dst, std::size_t size) {
  if (!dst || size == 0) return;
  std::size_t i = 0;
  for (; src && i + 1 < size && src[i] != 0; ++i) dst[i] = static_cast<unsigned char>(src[i]);
  dst[i] = 0;
}

}  // namespace mms
