// Every WSP value decoder over the same octets, in memory and as a stream.
#include <cstddef>
#include <cstdint>

#include "mms/wsp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  ++data;
  --size;
  mms::WspReader r(data, size);
  while (!r.AtEnd() && !r.failed()) {
    const std::size_t before = r.position();
    switch (selector % 7) {
      case 0:
        mms::DecodeUintvar(r);
        break;
      case 1:
        mms::DecodeValueLength(r);
        break;
      case 2:
        mms::DecodeIntegerValue(r);
        break;
      case 3:
        mms::DecodeTextString(r);
        break;
      case 4:
        mms::DecodeEncodedString(r);
        break;
      case 5: {
        mms::ContentTypeValue ct;
        mms::DecodeContentType(r, ct);
        break;
      }
      default:
        mms::DecodeLongInteger(r);
        break;
    }
    if (r.position() > r.size()) __builtin_trap();
    if (r.position() == before) r.Skip(1);
  }
  auto s = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
  mms::ContentTypeValue ct;
  std::uint32_t v = 0;
  while (!s->AtEnd()) {
    if (selector & 0x80)
      mms::StreamDecodeContentType(*s, ct);
    else if (selector & 0x40)
      mms::StreamDecodeTextString(*s);
    else
      mms::StreamDecodeUintvar(*s, &v);
  }
  return 0;
}
