#include "ui/resource_library.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

std::u16string WrenPath() {
  return platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll");
}

int longDateCalls = 0;

int32_t LongDate(WCHAR* buffer, int32_t, int32_t, int32_t) {
  // A localisation whose date text is longer than the first buffer: it reports the
  // length it needs first and writes the text when asked again.
  if (!buffer) return 0;
  if (longDateCalls++ == 0) {
    buffer[0] = 0;
    return 300;
  }
  for (int i = 0; i < 300; ++i) buffer[i] = u'd';
  buffer[300] = 0;
  return 300;
}

int32_t DottedTime(WCHAR* buffer, int32_t hour, int32_t minute) {
  const std::u16string text = u"t" + std::u16string(1, static_cast<char16_t>(u'0' + hour % 10));
  for (std::size_t i = 0; i <= text.size(); ++i) buffer[i] = i < text.size() ? text[i] : 0;
  return static_cast<int32_t>(text.size());
}

TEST(ResourceLibrary, LoadsTextsImagesAndEntryPoints) {
  ui::ResourceLibrary library;
  EXPECT_FALSE(library.Unload());
  ASSERT_TRUE(library.Load(WrenPath()));
  EXPECT_EQ(library.LoadText(1043), u"QQVGA(160x120)");
  // The licence text is longer than one buffer step only if the localisation makes it
  // so; either way it comes back whole.
  const std::u16string licence = library.LoadText(1068);
  EXPECT_GT(licence.size(), 100u);
  std::u16string text = u"stale";
  EXPECT_FALSE(library.LoadText(4242, &text));
  EXPECT_EQ(text, u"");

  platform::ResourceImage image;
  EXPECT_TRUE(library.LoadBitmap(161, &image));
  EXPECT_TRUE(library.LoadIcon(170, &image));
  EXPECT_FALSE(library.LoadIcon(161, &image));

  EXPECT_EQ(library.FormatDate(&text, 2004, 1, 20), 9);
  EXPECT_EQ(text, u"2004/1/20");
  EXPECT_EQ(library.FormatTime(&text, 13, 5), 7);
  EXPECT_EQ(text, u"1:05 PM");
  EXPECT_EQ(library.FormatName(&text, u"Ada", u"Lovelace"), 13);
  EXPECT_EQ(text, u"Lovelace, Ada");
  // Long names get a buffer that holds them.
  const std::u16string longName(5000, u'n');
  EXPECT_EQ(library.FormatName(&text, longName, longName), 10002);
  EXPECT_EQ(library.GetConst(17), 0x00C56A31);
  EXPECT_EQ(library.GetConst(26), 0);

  EXPECT_TRUE(library.Unload());
  EXPECT_FALSE(library.Unload());
  EXPECT_EQ(library.FormatDate(&text, 2004, 1, 20), 0);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(library.LoadText(1043), u"");
  EXPECT_EQ(library.GetConst(17), 0);
}

TEST(ResourceLibrary, GivenFormattersReplaceTheLibrarysAndLongTextsGetRoom) {
  ui::ResourceLibrary library;
  ASSERT_TRUE(library.Load(WrenPath(), &LongDate, &DottedTime));
  std::u16string text;
  EXPECT_EQ(library.FormatDate(&text, 2004, 1, 20), 300);
  EXPECT_EQ(text, std::u16string(300, u'd'));
  EXPECT_EQ(library.FormatTime(&text, 13, 5), 2);
  EXPECT_EQ(text, u"t3");
}

TEST(ResourceLibrary, MissingLibraryAndFontRequests) {
  ui::ResourceLibrary library;
  EXPECT_FALSE(library.Load(u"/nonexistent/Wren.dll"));
  EXPECT_FALSE(library.loaded());
  ui::FontRequest request;
  EXPECT_FALSE(library.MakeFontRequest(1, true, &request));

  ASSERT_TRUE(library.Load(WrenPath()));
  ASSERT_TRUE(library.MakeFontRequest(0, true, &request));
  EXPECT_EQ(request.lfHeight, -12);
  // The library exports IsFontBold and says no, so the bold wish is overruled.
  EXPECT_EQ(request.lfWeight, 400);
  EXPECT_EQ(request.lfCharSet, 1);
  EXPECT_EQ(request.lfItalic, 0);
  EXPECT_EQ(request.lfFaceName, u"Nina");
  EXPECT_FALSE(library.MakeFontRequest(2, true, &request));
  // Loading again replaces the module cleanly.
  EXPECT_TRUE(library.Load(WrenPath()));
  EXPECT_EQ(library.LoadText(40063), u"Tessera MMS");
}

}  // namespace
