#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Text, RoundTripsAllPlanes) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string wide = platform::Utf8ToUtf16(utf8);
  ASSERT_EQ(wide.size(), 6u);
  EXPECT_EQ(wide[1], 0x00E9);
  EXPECT_EQ(wide[2], 0x20AC);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(wide[4], 0xDE00);
  EXPECT_EQ(platform::Utf16ToUtf8(wide), utf8);
}

TEST(Text, MalformedInputBecomesReplacementWithoutOverrun) {
  // Lead octet without its continuation, an overlong form (one replacement), a lone
  // continuation, a truncated tail.
  const std::string bad = std::string("\xC3") + "A" + "\xC0\x80" + "\x80" + "\xE2\x82";
  const std::u16string wide = platform::Utf8ToUtf16(bad);
  EXPECT_EQ(wide, (std::u16string{0xFFFD, u'A', 0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
}

TEST(Text, PerCharacterCopiesKeepLowOctets) {
  EXPECT_EQ(platform::NarrowToWideCopy("\xFF" "a"), (std::u16string{0x00FF, u'a'}));
  EXPECT_EQ(platform::WideToNarrowCopy(std::u16string{0x0141, u'b'}), "\x41" "b");
}

}  // namespace
