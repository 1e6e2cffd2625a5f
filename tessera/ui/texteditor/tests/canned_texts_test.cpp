// The canned-texts file: its records, damaged and foreign files, and the safe rewrite.
#include "texteditor/canned_texts.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform_testing/device_root.h"

namespace texteditor {
namespace {

using Texts = std::vector<std::u16string>;

class CannedTextsTest : public ::testing::Test {
 protected:
  std::string Bytes() {
    std::string s;
    platform::ReadFile(path, s);
    return s;
  }
  platform_testing::ScopedDeviceRoot root;
  std::u16string path = platform::JoinPath(platform::DeviceRoot(), u"CannedText.txt");
};

TEST_F(CannedTextsTest, WritesMarkCountAndLittleEndianCharactersAndReadsThemBack) {
  ASSERT_TRUE(SaveCannedTexts(path, {u"Hi", u"", u"\u00e9t\u00e9"}));
  const std::string expected("\xEF\x02\x00\x00\x00H\x00i\x00\x03\x00\x00\x00\xE9\x00t\x00\xE9\x00", 19);
  EXPECT_EQ(Bytes(), expected);  // the empty text is not written
  Texts texts{u"stale"};
  EXPECT_TRUE(LoadCannedTexts(path, &texts));
  EXPECT_EQ(texts, (Texts{u"Hi", u"\u00e9t\u00e9"}));
  EXPECT_FALSE(platform::FileExists(path + u".tmp"));
}

TEST_F(CannedTextsTest, MissingEmptyForeignAndDamagedFiles) {
  Texts texts{u"stale"};
  EXPECT_TRUE(LoadCannedTexts(path, &texts));  // no file yet
  EXPECT_TRUE(texts.empty());
  ASSERT_TRUE(platform::WriteFile(path, ""));
  EXPECT_TRUE(LoadCannedTexts(path, &texts));
  EXPECT_TRUE(texts.empty());

  // Any first byte other than 0xEF: empty, and the file is not replaced by a save.
  for (char first : {'\xFE', '\x00', 'H'}) {
    const std::string foreign = std::string(1, first) + std::string("\x01\x00\x00\x00X\x00", 6);
    ASSERT_TRUE(platform::WriteFile(path, foreign));
    texts = {u"stale"};
    EXPECT_FALSE(LoadCannedTexts(path, &texts));
    EXPECT_TRUE(texts.empty());
    EXPECT_FALSE(SaveCannedTexts(path, {u"new"}));
    EXPECT_EQ(Bytes(), foreign);
  }

  // A record running past the end: the complete ones before it are kept.
  ASSERT_TRUE(platform::WriteFile(path, std::string("\xEF\x01\x00\x00\x00" "A\x00" "\xFF\xFF\xFF\xFF" "B\x00", 13)));
  EXPECT_TRUE(LoadCannedTexts(path, &texts));
  EXPECT_EQ(texts, (Texts{u"A"}));
  ASSERT_TRUE(platform::WriteFile(path, std::string("\xEF\x01\x00\x00\x00" "A\x00" "\x02\x00", 9)));
  EXPECT_TRUE(LoadCannedTexts(path, &texts));
  EXPECT_EQ(texts, (Texts{u"A"}));
}

TEST_F(CannedTextsTest, AFailedWriteLeavesTheOldFile) {
  ASSERT_TRUE(SaveCannedTexts(path, {u"one"}));
  const std::string before = Bytes();
  // The temporary file's place is taken by a directory: the write fails.
  ASSERT_TRUE(platform::CreateDirectory(path + u".tmp"));
  EXPECT_FALSE(SaveCannedTexts(path, {u"one", u"two"}));
  EXPECT_EQ(Bytes(), before);
  EXPECT_FALSE(SaveCannedTexts(platform::JoinPath(platform::DeviceRoot(), u"missing/dir/C.txt"), {u"x"}));
}

TEST_F(CannedTextsTest, LongTextsKeepEveryCharacter) {
  const std::u16string long999(999, u'\u4e2d');
  ASSERT_TRUE(SaveCannedTexts(path, {long999}));
  Texts texts;
  ASSERT_TRUE(LoadCannedTexts(path, &texts));
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], long999);
  EXPECT_EQ(Bytes().size(), 1u + 4u + 999u * 2u);
}

}  // namespace
}  // namespace texteditor
