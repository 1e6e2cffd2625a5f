#include "mms/wsp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mms::ByteBuffer;
using Bytes = std::vector<std::uint8_t>;

Bytes Of(const ByteBuffer& b) {
  return Bytes(b.data(), b.data() + b.length());
}

Bytes Concat(std::initializer_list<std::string_view> pieces) {
  Bytes out;
  for (auto p : pieces) out.insert(out.end(), p.begin(), p.end());
  return out;
}

template <typename F>
Bytes Encoded(F&& encode) {
  ByteBuffer b;
  EXPECT_TRUE(encode(b));
  return Of(b);
}

TEST(WspEncode, IntegersAndLengths) {
  const auto uintvar = [](std::uint32_t v) {
    return Encoded([&](ByteBuffer& b) { return mms::EncodeUintvar(b, v); });
  };
  EXPECT_EQ(uintvar(0), (Bytes{0x00}));
  EXPECT_EQ(uintvar(128), (Bytes{0x81, 0x00}));
  EXPECT_EQ(uintvar(0x3FFF), (Bytes{0xFF, 0x7F}));
  EXPECT_EQ(uintvar(60000), (Bytes{0x83, 0xD4, 0x60}));
  EXPECT_EQ(uintvar(0xFFFFFFFF), (Bytes{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(mms::UintvarSize(0xFFFFFFFF), 5);

  const auto vlen = [](std::uint32_t v) {
    return Encoded([&](ByteBuffer& b) { return mms::EncodeValueLength(b, v); });
  };
  EXPECT_EQ(vlen(29), (Bytes{0x1D}));
  EXPECT_EQ(vlen(30), (Bytes{0x1F, 0x1E}));
  EXPECT_EQ(vlen(200), (Bytes{0x1F, 0x81, 0x48}));
  EXPECT_EQ(mms::ValueLengthSize(29), 1);
  EXPECT_EQ(mms::ValueLengthSize(200), 3);

  const auto ival = [](std::uint32_t v) {
    return Encoded([&](ByteBuffer& b) { return mms::EncodeIntegerValue(b, v); });
  };
  EXPECT_EQ(ival(127), (Bytes{0xFF}));
  EXPECT_EQ(ival(128), (Bytes{0x01, 0x80}));
  EXPECT_EQ(ival(1000), (Bytes{0x02, 0x03, 0xE8}));
  EXPECT_EQ(ival(0xFFFFFFFF), (Bytes{0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encoded([](ByteBuffer& b) { return mms::EncodeLongInteger(b, 0); }), (Bytes{0x01, 0x00}));
  EXPECT_EQ(mms::IntegerValueSize(1000), 3);
}

TEST(WspEncode, ContentTypes) {
  const auto ct = [](std::string_view media, std::string_view type = {}, std::string_view start = {}) {
    return Encoded([&](ByteBuffer& b) { return mms::EncodeContentType(b, media, type, start); });
  };
  // multipart/related with Type and Start: L = 1 + 18 + 8 = 27.
  Bytes related = {0x1B, 0xB3, 0x89};
  const Bytes tail =
      Concat({"application/smil", std::string_view("\0\x8A", 2), "<smil>", std::string_view("\0", 1)});
  related.insert(related.end(), tail.begin(), tail.end());
  EXPECT_EQ(ct(mms::kMultipartRelated, "application/smil", "<smil>"), related);
  EXPECT_EQ(ct(mms::kMultipartRelated), (Bytes{0xB3}));
  EXPECT_EQ(ct(mms::kMultipartMixed), (Bytes{0xA3}));
  EXPECT_EQ(ct("image/jpeg"), (Bytes{0x9E}));
  // Decoded from a code but always written as text.
  EXPECT_EQ(ct(mms::kMmsMessageType), Concat({mms::kMmsMessageType, std::string_view("\0", 1)}));
  EXPECT_EQ(ct("*/*"), Concat({"*/*", std::string_view("\0", 1)}));
  EXPECT_EQ(ct("audio/amr"), Concat({"audio/amr", std::string_view("\0", 1)}));
}

TEST(WspEncode, EncodedStringsAndHeaderFields) {
  EXPECT_EQ(Encoded([](ByteBuffer& b) {
              return mms::EncodeEncodedString(b, {"Hi", 3});
            }),
            (Bytes{'H', 'i', 0}));
  EXPECT_EQ(Encoded([](ByteBuffer& b) {
              return mms::EncodeEncodedString(b, {"H\xC3\xA9", 106});
            }),
            (Bytes{0x05, 0xEA, 'H', 0xC3, 0xA9, 0}));
  EXPECT_EQ(Encoded([](ByteBuffer& b) {
              return mms::EncodeEncodedString(b, {std::string("\0A", 2), 1000});
            }),
            (Bytes{0x06, 0x02, 0x03, 0xE8, 0, 'A', 0}));
  EXPECT_EQ(Encoded([](ByteBuffer& b) { return mms::EncodeHeaderField(b, 0x29, {}, "x"); }),
            (Bytes{0xA9, 'x', 0}));
  EXPECT_EQ(Encoded([](ByteBuffer& b) { return mms::EncodeHeaderField(b, -1, "X-MSISDN", "1"); }),
            Concat({"X-MSISDN", std::string_view("\0"
                                                 "1\0",
                                                 3)}));
}

TEST(WspDecode, IntegersAcceptBothLengthFormsAndRejectOverlongValues) {
  const Bytes data = {0x1E, 0x1F, 0x1E, 0x1F, 0x81, 0x48, 0x20};
  mms::WspReader r(data.data(), data.size());
  EXPECT_EQ(mms::DecodeValueLength(r), 30u);
  EXPECT_EQ(mms::DecodeValueLength(r), 30u);
  EXPECT_EQ(mms::DecodeValueLength(r), 200u);
  EXPECT_EQ(mms::DecodeValueLength(r), 0u);  // not a Value-length
  EXPECT_FALSE(r.failed());

  const Bytes six = {0x81, 0x81, 0x81, 0x81, 0x81, 0x01};
  mms::WspReader longVar(six.data(), six.size());
  mms::DecodeUintvar(longVar);
  EXPECT_TRUE(longVar.failed());
  const Bytes wide = {0x9F, 0xFF, 0xFF, 0xFF, 0x7F};  // 5 octets but past 32 bits
  mms::WspReader wideVar(wide.data(), wide.size());
  mms::DecodeUintvar(wideVar);
  EXPECT_TRUE(wideVar.failed());
  const Bytes cut = {0x83, 0xD4};
  mms::WspReader cutVar(cut.data(), cut.size());
  mms::DecodeUintvar(cutVar);
  EXPECT_TRUE(cutVar.failed());

  const Bytes ints = {0xFF, 0x02, 0x03, 0xE8, 0x05, 0x00, 0x00, 0x00, 0x00, 0x07};
  mms::WspReader r2(ints.data(), ints.size());
  EXPECT_EQ(mms::DecodeIntegerValue(r2), 127u);
  EXPECT_EQ(mms::DecodeIntegerValue(r2), 1000u);
  EXPECT_EQ(mms::DecodeLongInteger(r2), 7u);  // leading zero octets are fine
  EXPECT_FALSE(r2.failed());
  const Bytes big = {0x05, 0x01, 0x00, 0x00, 0x00, 0x00};
  mms::WspReader r3(big.data(), big.size());
  mms::DecodeLongInteger(r3);
  EXPECT_TRUE(r3.failed());
  const Bytes shortOfOctets = {0x04, 0x01, 0x02};
  mms::WspReader r4(shortOfOctets.data(), shortOfOctets.size());
  mms::DecodeLongInteger(r4);
  EXPECT_TRUE(r4.failed());
}

TEST(WspDecode, TextStringBufferForm) {
  const Bytes data = Concat({"\"quoted\"", std::string_view("\0", 1), "Gr\xC3\xBC\xC3\x9F" "e.jpg",
                             std::string_view("\0", 1), "\x7F\xD0\x9F", std::string_view("\0", 1), "ab\x05x"});
  mms::WspReader r(data.data(), data.size());
  EXPECT_EQ(mms::DecodeTextString(r), "quoted");
  EXPECT_EQ(mms::DecodeTextString(r), "Gr\xC3\xBC\xC3\x9F" "e.jpg");  // high octets are text
  EXPECT_EQ(mms::DecodeTextString(r), "\xD0\x9F");                       // the Quote is not
  EXPECT_EQ(mms::DecodeTextString(r), "ab");
  EXPECT_EQ(r.Peek(), 0x05);  // a control octet stops the text and stays in place
  // A field never keeps half a UTF-8 character.
  std::string cyrillic;
  for (int i = 0; i < 100; ++i) cyrillic += "\xD0\x9F";
  const Bytes two = Concat({cyrillic, std::string_view("\0", 1)});
  mms::WspReader rc(two.data(), two.size());
  EXPECT_EQ(mms::DecodeTextString(rc).size(), 126u);
  // A long text is kept to the field and consumed whole.
  const Bytes longText = Concat({std::string(300, 'a'), std::string_view("\0Z", 2)});
  mms::WspReader r2(longText.data(), longText.size());
  EXPECT_EQ(mms::DecodeTextString(r2).size(), mms::kTextFieldMax);
  EXPECT_EQ(r2.Peek(), 'Z');
}

TEST(WspDecode, EncodedStringValues) {
  const Bytes data = {0x06, 0x84, 'c', 'a',  'f',  0xE9, 0x00,  // charset 4 (ISO-8859-1) is kept
                      0x05, 0xEA, 'H', 0xC3, 0xA9, 0x00,        // UTF-8 kept
                      0x00,                                     // empty Text-string: no value
                      'p',  'l',  'a', 'i',  'n',  0x00};
  mms::WspReader r(data.data(), data.size());
  auto latin = mms::DecodeEncodedString(r);
  ASSERT_TRUE(latin);
  EXPECT_EQ(latin->charset, 4);
  EXPECT_EQ(latin->text, "caf\xE9");
  auto utf8 = mms::DecodeEncodedString(r);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->charset, 106);
  EXPECT_EQ(utf8->text, "H\xC3\xA9");
  EXPECT_FALSE(mms::DecodeEncodedString(r));
  auto plain = mms::DecodeEncodedString(r);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->text, "plain");
  EXPECT_FALSE(r.failed());

  const Bytes past = {0x1F, 0x81, 0x00, 0xEA, 'x'};  // Value-length 128, 3 octets left
  mms::WspReader r2(past.data(), past.size());
  EXPECT_FALSE(mms::DecodeEncodedString(r2));
  EXPECT_TRUE(r2.failed());
}

TEST(WspDecode, ContentTypeForms) {
  mms::ContentTypeValue ct;
  const Bytes code = {0xBE};
  mms::WspReader r(code.data(), code.size());
  mms::DecodeContentType(r, ct);
  EXPECT_EQ(ct.mediaType, mms::kMmsMessageType);

  // Unknown codes leave the output as it was.
  for (std::uint8_t unknown : {0xA4, 0xCC, 0xFF}) {
    mms::ContentTypeValue none;
    mms::WspReader ru(&unknown, 1);
    mms::DecodeContentType(ru, none);
    EXPECT_EQ(none.mediaType, "");
    EXPECT_EQ(ru.position(), 1u);
  }

  // Value-length form with Type, Start, then an unknown parameter, Name and Charset.
  Bytes full = {0x1F, 0x00, 0xB3, 0x89};  // Length-quote form
  const Bytes rest = Concat({"application/smil", std::string_view("\0\x8A", 2), "<s>",
                             std::string_view("\0\x99\x85", 3), "n.txt", std::string_view("\0\x81\xEA", 3)});
  full.insert(full.end(), rest.begin(), rest.end());
  full[1] = static_cast<std::uint8_t>(full.size() - 2);
  full.push_back(0x42);  // next field
  mms::ContentTypeValue ct2;
  mms::WspReader r2(full.data(), full.size());
  mms::DecodeContentType(r2, ct2);
  EXPECT_FALSE(r2.failed());
  EXPECT_EQ(ct2.mediaType, mms::kMultipartRelated);
  EXPECT_EQ(ct2.typeParam, "application/smil");
  EXPECT_EQ(ct2.startParam, "<s>");
  EXPECT_EQ(ct2.name, "n.txt");
  EXPECT_EQ(ct2.charset, "utf_8");
  EXPECT_EQ(r2.Peek(), 0x42);

  // A Value-length past the end fails; a bad inner value stays inside its value.
  const Bytes past = {0x10, 0x9E, 0x85};
  mms::WspReader r3(past.data(), past.size());
  mms::ContentTypeValue ct3;
  mms::DecodeContentType(r3, ct3);
  EXPECT_TRUE(r3.failed());
  const Bytes innerCut = {0x03, 0x83, 0x81, 0x1F, 0x55};
  mms::WspReader r4(innerCut.data(), innerCut.size());
  mms::ContentTypeValue ct4;
  mms::DecodeContentType(r4, ct4);
  EXPECT_FALSE(r4.failed());
  EXPECT_EQ(ct4.mediaType, "text/plain");
  EXPECT_EQ(r4.Peek(), 0x55);
}

TEST(WspDecode, StreamForms) {
  Bytes data = {0x1F, 0x1E, 0xB3, 0x89};
  const Bytes rest = Concat({"application/smil", std::string_view("\0\x8A", 2), "<smil>",
                             std::string_view("\0\x85", 2), "x", std::string_view("\0", 1)});
  data.insert(data.end(), rest.begin(), rest.end());
  data[1] = static_cast<std::uint8_t>(data.size() - 2);
  data.push_back(0x07);
  auto s = mms::ByteStream::OpenMemory(data.data(), static_cast<std::int64_t>(data.size()));
  mms::ContentTypeValue ct;
  ASSERT_TRUE(mms::StreamDecodeContentType(*s, ct));
  EXPECT_EQ(ct.mediaType, mms::kMultipartRelated);
  EXPECT_EQ(ct.typeParam, "application/smil");
  EXPECT_EQ(ct.startParam, "<smil>");
  EXPECT_EQ(ct.name, "");  // the stream form reads only Type and Start
  EXPECT_EQ(s->ReadOctet(), 0x07);

  const Bytes past = {0x1F, 0x40, 0xB3};
  auto s2 = mms::ByteStream::OpenMemory(past.data(), 3);
  mms::ContentTypeValue ct2;
  EXPECT_FALSE(mms::StreamDecodeContentType(*s2, ct2));

  const Bytes texts = Concat({"\"abc\"", std::string_view("\0", 1), std::string_view("\0", 1), "tail"});
  auto s3 = mms::ByteStream::OpenMemory(texts.data(), static_cast<std::int64_t>(texts.size()));
  EXPECT_EQ(mms::StreamDecodeTextString(*s3), "abc");
  EXPECT_EQ(mms::StreamDecodeTextString(*s3), "");
  EXPECT_EQ(mms::StreamDecodeTextString(*s3), "tail");  // the end of the stream ends it

  const Bytes vars = {0x83, 0xD4, 0x60, 0x81, 0x81, 0x81, 0x81, 0x81, 0x00};
  auto s4 = mms::ByteStream::OpenMemory(vars.data(), static_cast<std::int64_t>(vars.size()));
  std::uint32_t v = 0;
  ASSERT_TRUE(mms::StreamDecodeUintvar(*s4, &v));
  EXPECT_EQ(v, 60000u);
  EXPECT_FALSE(mms::StreamDecodeUintvar(*s4, &v));
}

TEST(WspText, CharsetsAndSplitting) {
  EXPECT_EQ(mms::CharsetFromName("utf_8"), 106);
  EXPECT_EQ(mms::CharsetFromName("UTF-8"), 106);
  EXPECT_EQ(mms::CharsetFromName("us-ascii"), 3);
  EXPECT_EQ(mms::CharsetFromName("iso-10646-ucs-2"), 1000);
  EXPECT_EQ(mms::CharsetFromName("ISO-8859-1"), 4);
  EXPECT_EQ(mms::CharsetFromName("utf-16"), 1015);
  EXPECT_EQ(mms::CharsetFromName("klingon"), 0);
  std::string name = "kept";
  EXPECT_FALSE(mms::CharsetName(9999, &name));
  EXPECT_EQ(name, "kept");
  EXPECT_TRUE(mms::CharsetName(1015, &name));
  EXPECT_EQ(name, "utf-16");
  EXPECT_TRUE(mms::CharsetName(106, &name));
  EXPECT_EQ(name, "utf_8");

  std::string media, value;
  mms::SplitContentType("text/plain;charset=utf_8", "charset", &media, &value);
  EXPECT_EQ(media, "text/plain");
  EXPECT_EQ(value, "utf_8");
  mms::SplitContentType("text/plain; name=a.txt; charset = = us-ascii;x=y", "charset", &media, &value);
  EXPECT_EQ(value, "us-ascii");
  mms::SplitContentType("image/jpeg", "charset", &media, &value);
  EXPECT_EQ(media, "image/jpeg");
  EXPECT_EQ(value, "");
  mms::SplitContentType(std::string(400, 'm') + ";a=b", "", &media, nullptr);
  EXPECT_EQ(media.size(), 255u);
}

TEST(WspText, NarrowAndWideCopiesAreBounded) {
  char narrow[4];
  mms::WideToNarrow(u"abcdef", narrow, sizeof narrow);
  EXPECT_STREQ(narrow, "abc");
  char16_t wide[8];
  mms::NarrowToWide("xy", wide, 8);
  EXPECT_EQ(std::u16string(wide), u"xy");
  mms::NarrowToWide("0123456789", wide, 8);
  EXPECT_EQ(std::u16string(wide), u"0123456");
}

TEST(FixedText, CutsAtTheFieldAndAtUtf8Boundaries) {
  mms::FixedText<8> t;
  EXPECT_TRUE(t.Assign("1234567"));
  EXPECT_FALSE(t.Assign("12345678"));
  EXPECT_EQ(t.view(), "1234567");
  EXPECT_FALSE(t.Assign("123456\xC3\xA9"));  // the two-octet character does not fit whole
  EXPECT_EQ(t.view(), "123456");
  EXPECT_TRUE(t.AppendWhole("a"));
  EXPECT_FALSE(t.AppendWhole("b"));
  EXPECT_EQ(t.view(), "123456a");
}

}  // namespace
