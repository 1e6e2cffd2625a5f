#include "platform/resources.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

namespace {

using platform::ResourceTable;
using platform::ResourceTableWriter;

std::vector<std::uint8_t> SampleTable() {
  ResourceTableWriter w;
  EXPECT_TRUE(w.Add(RT_STRING, 7, ResourceTableWriter::EncodeString(u"seven")));
  EXPECT_TRUE(w.Add(RT_STRING, 3, ResourceTableWriter::EncodeString(u"three")));
  platform::MenuTemplate menu;
  platform::MenuItem popup{MF_POPUP, 0, u"Menu", {}};
  popup.items.push_back({0, 40001, u"Add", {}});
  popup.items.push_back({MF_SEPARATOR, 0, u"", {}});
  menu.items.push_back(popup);
  EXPECT_TRUE(w.Add(RT_MENU, 101, ResourceTableWriter::EncodeMenu(menu)));
  platform::MenuBarRecord bar{101, {{I_IMAGENONE, 40001, TBSTATE_ENABLED, 0, 40003, NOMENU}}};
  EXPECT_TRUE(w.Add(RT_RCDATA, 101, ResourceTableWriter::EncodeMenuBar(bar)));
  platform::DialogTemplate dialog;
  dialog.cx = 176;
  dialog.cy = 172;
  dialog.face = u"Nina";
  dialog.pointSize = 9;
  dialog.controls.push_back({u"EDIT", 1014, 0x50000004u, 0, 0, 0, 176, 172, u"", 0});
  EXPECT_TRUE(w.Add(RT_DIALOG, 127, ResourceTableWriter::EncodeDialog(dialog)));
  platform::VersionRecord version;
  version.fileVersion[0] = 1;
  version.fileVersion[3] = 1;
  version.values.push_back({u"FileVersion", u"1.0.0.1"});
  EXPECT_TRUE(w.Add(RT_VERSION, 1, ResourceTableWriter::EncodeVersion(version)));
  EXPECT_FALSE(w.Add(RT_STRING, 7, {}));  // duplicates are refused
  return w.Finish();
}

void PutU32(std::vector<std::uint8_t>& t, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) t[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(ResourceTable, RoundTripsEveryKind) {
  const auto bytes = SampleTable();
  const ResourceTable table = ResourceTable::FromBytes(bytes.data(), bytes.size());
  ASSERT_TRUE(table.valid());
  EXPECT_EQ(table.size(), 6u);
  // The directory is sorted by type, then id, whatever the order of adding.
  EXPECT_EQ(table.At(0).type, RT_MENU);
  EXPECT_EQ(table.At(2).id, 3);
  EXPECT_EQ(table.At(3).id, 7);

  std::u16string text;
  ASSERT_TRUE(platform::LoadStringText(table, 7, &text));
  EXPECT_EQ(text, u"seven");
  EXPECT_FALSE(platform::LoadStringText(table, 70000, &text));
  platform::MenuTemplate menu;
  ASSERT_TRUE(platform::LoadMenuTemplate(table, 101, &menu));
  ASSERT_EQ(menu.items.at(0).items.size(), 2u);
  EXPECT_EQ(menu.items[0].items[0].id, 40001u);
  platform::MenuBarRecord bar;
  ASSERT_TRUE(platform::LoadMenuBarRecord(table, 101, &bar));
  EXPECT_EQ(bar.buttons.at(0).labelId, 40003);
  platform::DialogTemplate dialog;
  ASSERT_TRUE(platform::LoadDialogTemplate(table, 127, &dialog));
  EXPECT_EQ(dialog.controls.at(0).style, 0x50000004u);
  EXPECT_EQ(dialog.face, u"Nina");
  platform::VersionRecord version;
  ASSERT_TRUE(platform::QueryVersion(table, &version));
  EXPECT_EQ(version.FileVersionText(), u"1.0.0.1");
  // Asking for the wrong kind finds nothing.
  EXPECT_FALSE(platform::LoadDialogTemplate(table, 101, &dialog));
  EXPECT_FALSE(platform::LoadBitmapImage(table, 127, nullptr));
}

TEST(ResourceTable, RejectsDamagedHeadersAndDirectories) {
  const auto good = SampleTable();
  // Every truncation fails as a whole rather than yielding part of a table.
  for (std::size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(ResourceTable::FromBytes(good.data(), n).valid()) << n;
  EXPECT_FALSE(ResourceTable::FromBytes(nullptr, 100).valid());

  auto bad = good;
  bad[0] = 'X';
  EXPECT_FALSE(ResourceTable::FromBytes(bad.data(), bad.size()).valid());
  bad = good;
  PutU32(bad, 12, 0x20000000);  // more entries than the table can hold
  EXPECT_FALSE(ResourceTable::FromBytes(bad.data(), bad.size()).valid());
  bad = good;
  PutU32(bad, 16 + 4, 8);  // payload inside the header
  EXPECT_FALSE(ResourceTable::FromBytes(bad.data(), bad.size()).valid());
  bad = good;
  PutU32(bad, 16 + 8, 0xFFFFFFF0u);  // payload running past the end (offset + size wraps)
  EXPECT_FALSE(ResourceTable::FromBytes(bad.data(), bad.size()).valid());
  bad = good;
  std::memcpy(&bad[16 + 12], &bad[16], 4);  // second entry repeats the first's key
  EXPECT_FALSE(ResourceTable::FromBytes(bad.data(), bad.size()).valid());
}

TEST(ResourceTable, PayloadParsersRefuseShortLongAndDeepRecords) {
  platform::MenuTemplate menu;
  // A popup whose text claims more units than there are.
  EXPECT_FALSE(platform::ParseMenu(std::vector<std::uint8_t>{1, 0, 0x10, 0, 0, 0, 9, 0, 'a', 0}, &menu));
  // Trailing octets after a complete item list.
  EXPECT_FALSE(platform::ParseMenu(std::vector<std::uint8_t>{0, 0, 0}, &menu));
  // Popups nested past the limit: each level is count 1, flags MF_POPUP, id 0, empty text.
  std::vector<std::uint8_t> deep;
  for (int i = 0; i < platform::kMaxMenuDepth + 2; ++i) deep.insert(deep.end(), {1, 0, 0x10, 0, 0, 0, 0, 0});
  deep.insert(deep.end(), {0, 0});
  EXPECT_FALSE(platform::ParseMenu(deep, &menu));

  platform::MenuBarRecord bar;
  EXPECT_FALSE(platform::ParseMenuBar(std::vector<std::uint8_t>{1, 0, 3, 0}, &bar));  // 3 buttons
  EXPECT_FALSE(platform::ParseMenuBar(std::vector<std::uint8_t>{1, 0, 1, 0, 0, 0}, &bar));
  platform::DialogTemplate dialog;
  EXPECT_FALSE(platform::ParseDialog(std::vector<std::uint8_t>(20, 0), &dialog));
  EXPECT_FALSE(platform::ParseDialog(std::vector<std::uint8_t>(25, 0), &dialog));
  EXPECT_TRUE(platform::ParseDialog(std::vector<std::uint8_t>(24, 0), &dialog));
  platform::VersionRecord version;
  EXPECT_FALSE(platform::ParseVersion(std::vector<std::uint8_t>(17, 0), &version));
  EXPECT_TRUE(platform::ParseVersion(std::vector<std::uint8_t>(18, 0), &version));
}

std::vector<std::uint8_t> PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                   0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  for (std::uint32_t v : {width, height})
    for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  png.insert(png.end(), {8, 6, 0, 0, 0});
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
  for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  return png;
}

TEST(ResourceTable, ImagesMustBeSmallCompletePngs) {
  platform::ResourceImage image;
  EXPECT_FALSE(platform::DecodeImage(std::vector<std::uint8_t>{'B', 'M', 0, 0, 0, 0, 0, 0, 0}, &image));
  // Huge dimensions are refused before any pixel memory is asked for.
  EXPECT_FALSE(platform::DecodeImage(PngHeaderOnly(60000, 60000), &image));
  // A valid header with no image data fails cleanly.
  EXPECT_FALSE(platform::DecodeImage(PngHeaderOnly(4, 4), &image));
}

}  // namespace
