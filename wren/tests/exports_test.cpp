#include <gtest/gtest.h>

#include <string>

#include "wren/wren.h"
#include "wren_module.h"

namespace {

class WrenExports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(WrenModule(), nullptr);
    date = WrenExport<FormatDateStringFn>("FormatDateString");
    time = WrenExport<FormatTimeStringFn>("FormatTimeString");
    name = WrenExport<FormatNameStringFn>("FormatNameString");
    font = WrenExport<GetFontInfoFn>("GetFontInfo");
    bold = WrenExport<IsFontBoldFn>("IsFontBold");
    constant = WrenExport<GetConstProcFn>("GetConstProc");
    ASSERT_TRUE(date && time && name && font && bold && constant);
  }

  std::u16string Time(int hour, int minute) {
    WCHAR buf[64];
    const int n = time(buf, hour, minute);
    EXPECT_EQ(static_cast<std::size_t>(n), std::u16string(buf).size());
    return buf;
  }

  FormatDateStringFn date;
  FormatTimeStringFn time;
  FormatNameStringFn name;
  GetFontInfoFn font;
  IsFontBoldFn bold;
  GetConstProcFn constant;
};

TEST_F(WrenExports, OnlyTheSixFunctionsAndTheTableAreExported) {
  // Internal helpers must stay hidden so a replacement library cannot clash with them.
  EXPECT_EQ(GetProcAddress(WrenModule(), "Put"), nullptr);
  EXPECT_NE(GetProcAddress(WrenModule(), "TesseraResourceTable"), nullptr);
}

TEST_F(WrenExports, DateHasFourDigitYearAndPlainMonthAndDay) {
  WCHAR buf[64];
  EXPECT_EQ(date(buf, 2004, 1, 20), 9);
  EXPECT_EQ(std::u16string(buf), u"2004/1/20");
  EXPECT_EQ(date(buf, 7, 12, 31), 10);
  EXPECT_EQ(std::u16string(buf), u"0007/12/31");
  // Extreme values still fit the 260-character buffer the program passes.
  EXPECT_EQ(date(buf, INT32_MIN, INT32_MIN, INT32_MIN), 35);
  EXPECT_EQ(date(nullptr, 2004, 1, 20), 0);
}

TEST_F(WrenExports, TimeAroundMidnightNoonAndAfternoon) {
  EXPECT_EQ(Time(0, 5), u"0:05 AM");
  EXPECT_EQ(Time(11, 59), u"11:59 AM");
  EXPECT_EQ(Time(12, 5), u"12:05 PM");
  EXPECT_EQ(Time(13, 5), u"1:05 PM");
  EXPECT_EQ(Time(23, 0), u"11:00 PM");
  EXPECT_EQ(time(nullptr, 13, 5), 0);
}

TEST_F(WrenExports, NameJoinsWithCommaOnlyWhenBothPresent) {
  WCHAR buf[64];
  EXPECT_EQ(name(buf, u"Ada", u"ignored", u"Lovelace"), 13);
  EXPECT_EQ(std::u16string(buf), u"Lovelace, Ada");
  EXPECT_EQ(name(buf, u"", nullptr, u"Lovelace"), 8);
  EXPECT_EQ(std::u16string(buf), u"Lovelace");
  EXPECT_EQ(name(buf, u"Ada", nullptr, u""), 3);
  EXPECT_EQ(std::u16string(buf), u"Ada");
  EXPECT_EQ(name(buf, u"", nullptr, u""), 0);
  EXPECT_EQ(buf[0], 0);

  buf[0] = u'x';
  EXPECT_EQ(name(nullptr, u"A", nullptr, u"B"), 0);
  EXPECT_EQ(name(buf, nullptr, nullptr, u"B"), 0);
  EXPECT_EQ(name(buf, u"A", nullptr, nullptr), 0);
  EXPECT_EQ(buf[0], u'x');
}

TEST_F(WrenExports, FontInfoForKnownKindsOnly) {
  for (int kind : {0, 1}) {
    WCHAR face[32] = {};
    int32_t height = 0;
    EXPECT_EQ(font(kind, face, &height), 1);
    EXPECT_EQ(std::u16string(face), u"Nina");
    EXPECT_EQ(height, 12);
  }
  for (int kind : {-1, 2, 1000}) {
    WCHAR face[32] = {u'z', 0};
    int32_t height = 77;
    EXPECT_EQ(font(kind, face, &height), 0);
    EXPECT_EQ(face[0], u'z');
    EXPECT_EQ(height, 77);
  }
  int32_t height = 0;
  WCHAR face[32];
  EXPECT_EQ(font(0, nullptr, &height), 0);
  EXPECT_EQ(font(0, face, nullptr), 0);
  EXPECT_EQ(bold(12, -12), 0);
}

TEST_F(WrenExports, ConstantTableAndItsBounds) {
  const int32_t expected[] = {
      80,         132,        100, 100,        132,        0x00C6CFDE, 0x003FC68D, 0x00C6CFDE, 0x00008080,
      36,         8,          83,  84,         36,         100,        120,        0x00C56A31, 0x00D8E9EC,
      0x0080FF80, 0x00808080, 0,   0x00E76D08, 0x00C0C0C0, 0x00848484, 110};
  for (int i = 1; i <= 25; ++i) EXPECT_EQ(constant(i), expected[i - 1]) << "index " << i;
  for (int i : {0, 21, 26, -1, INT32_MIN, INT32_MAX}) EXPECT_EQ(constant(i), 0) << "index " << i;
}

}  // namespace
