#include "mms/charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ToUtf8(std::string_view text, std::int32_t mib) {
  std::string out = "untouched";
  if (!mms::ConvertToUtf8(text, mib, &out)) return "(refused)";
  return out;
}

TEST(Charset, ReceivedTextsConvertByTheirMibEnum) {
  EXPECT_EQ(ToUtf8("Gr\xFC\xDF"
                   "e",
                   4),
            "Gr\xC3\xBC\xC3\x9F"
            "e");  // ISO-8859-1
  EXPECT_EQ(ToUtf8("\xF0\xD2\xC9\xD7\xC5\xD4", 2084),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // KOI8-R
  EXPECT_EQ(ToUtf8("\x82\xA0", 17), "\xE3\x81\x82");              // Shift_JIS
  EXPECT_EQ(ToUtf8("\xB0\xA1", 2025), "\xE5\x95\x8A");            // GB2312
  EXPECT_EQ(ToUtf8("\xB0\xA1", 36), "\xEA\xB0\x80");              // KS C 5601
  // UCS-2 and UTF-16 follow their byte-order mark, big-endian without one; pairs survive.
  EXPECT_EQ(ToUtf8(std::string("\x00G\x00r\x00\xFC", 6), 1000), "Gr\xC3\xBC");
  EXPECT_EQ(ToUtf8(std::string("\xFF\xFEG\x00\xFC\x00", 6), 1000), "G\xC3\xBC");
  EXPECT_EQ(ToUtf8(std::string("\xFE\xFF\xD8\x3D\xDE\x00", 6), 1015), "\xF0\x9F\x98\x80");
  // UTF-8 and us-ascii pass through without a byte-order mark; the showing side escapes.
  EXPECT_EQ(ToUtf8("\xEF\xBB\xBFHi", 106), "Hi");
  EXPECT_EQ(ToUtf8("a\xC3", 106), "a\xC3");
  EXPECT_EQ(ToUtf8("caf\xC3\xA9", 3), "caf\xC3\xA9");
  // Octets that are no character of the charset become U+FFFD, so nothing is silently lost.
  EXPECT_EQ(ToUtf8("a\x80", 17), "a\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(std::string("\x00G\x00", 3), 1000), "G\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8("x", 9999), "(refused)");
  EXPECT_EQ(mms::ReceivedTextToUtf8({"\xE9t\xE9", 9999}), "\xE9t\xE9");  // unknown: as received
  EXPECT_EQ(mms::ReceivedTextToUtf8({"\xE9t\xE9", 4}), "\xC3\xA9t\xC3\xA9");
}

TEST(Charset, TextsToSendMustFitTheirCharset) {
  std::string out;
  EXPECT_TRUE(
      mms::ConvertFromUtf8("Gr\xC3\xBC\xC3\x9F"
                           "e",
                           4, &out));
  EXPECT_EQ(out,
            "Gr\xFC\xDF"
            "e");
  EXPECT_TRUE(mms::ConvertFromUtf8("G\xC3\xBC", 1000, &out));
  EXPECT_EQ(out, std::string("\x00G\x00\xFC", 4));
  EXPECT_FALSE(
      mms::ConvertFromUtf8("Gr\xC3\xBC\xC3\x9F"
                           "e",
                           3, &out))
      << "us-ascii takes ASCII only";
  EXPECT_FALSE(mms::ConvertFromUtf8("\xE2\x82\xAC", 4, &out)) << "no euro sign in ISO-8859-1";
  EXPECT_FALSE(mms::ConvertFromUtf8("\xF0\x9F\x98\x80", 1000, &out)) << "UCS-2 has no pairs";
  EXPECT_FALSE(mms::ConvertFromUtf8("\xC3", 106, &out)) << "not UTF-8 to begin with";
  EXPECT_FALSE(mms::ConvertFromUtf8("a", 9999, &out));
}

TEST(Charset, Utf8Validation) {
  EXPECT_TRUE(mms::IsValidUtf8("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  for (const char* bad :
       {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\x80"})
    EXPECT_FALSE(mms::IsValidUtf8(bad)) << bad;
}

}  // namespace
