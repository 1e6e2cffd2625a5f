// Every resource id the program uses resolves to a resource of the right kind in the
// built library, and the records hold what the screens rely on.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "wren_module.h"

namespace {

platform::ResourceTable Table() {
  EXPECT_NE(WrenModule(), nullptr);
  return platform::ResourceTable::FromModule(WrenModule());
}

std::vector<UINT> StringIds() {
  std::vector<UINT> ids = {105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116};
  for (UINT id = 1002; id <= 1071; ++id) ids.push_back(id);
  for (UINT id : {40003, 40043, 40045, 40047, 40049, 40061, 40063, 40064, 40082, 40085, 40096, 40109, 40121,
                  40123, 40125, 40127, 40131, 40132, 40134, 40136, 40138, 40139, 40140, 40142, 40144, 40146,
                  40148, 40150, 40153, 40156, 40158, 40160, 40162, 40165, 40166, 40168, 40170, 40172, 40174,
                  40175, 40177, 40178, 40179, 40180, 40181, 40182, 40184, 40188, 40189, 40190, 40191,
                  40192})
    ids.push_back(id);
  // The program's own texts for screens still to come.
  for (UINT id = 40900; id <= 40906; ++id) ids.push_back(id);
  return ids;
}

std::u16string Text(UINT id) {
  std::u16string text;
  EXPECT_TRUE(platform::LoadStringText(Table(), id, &text)) << "string " << id;
  return text;
}

int Count(const std::u16string& text, std::u16string_view what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(WrenInventory, AllStringsPresentNonEmptyAndNoOthers) {
  const platform::ResourceTable table = Table();
  ASSERT_TRUE(table.valid());
  const std::vector<UINT> ids = StringIds();
  ASSERT_EQ(ids.size(), 141u);
  for (UINT id : ids) EXPECT_FALSE(Text(id).empty()) << "string " << id;
  std::size_t strings = 0;
  for (std::size_t i = 0; i < table.size(); ++i) strings += table.At(i).type == RT_STRING;
  EXPECT_EQ(strings, 141u);
}

TEST(WrenInventory, QuotedTextsAndPlaceholders) {
  EXPECT_EQ(Text(1043), u"QQVGA(160x120)");
  EXPECT_EQ(Text(1044), u"QVGA(320x240)");
  EXPECT_EQ(Text(1045), u"VGA(640x480)");
  EXPECT_EQ(Text(40180), u"Nina");
  // Exactly one placeholder where the program formats a value into the text.
  EXPECT_EQ(Count(Text(1020), u"%d"), 1);
  EXPECT_EQ(Count(Text(1060), u"%s"), 1);
  EXPECT_EQ(Count(Text(1061), u"%d"), 1);
  EXPECT_EQ(Count(Text(40179), u"%d"), 1);
  EXPECT_EQ(Count(Text(40900), u"%s"), 1);
  for (UINT id : StringIds()) {
    if (id == 1020 || id == 1060 || id == 1061 || id == 40179 || id == 40900) continue;
    EXPECT_EQ(Count(Text(id), u"%"), 0) << "string " << id << " must not hold a placeholder";
  }
  // The profile editor's checks depend on these.
  const std::u16string scheme = Text(108);
  EXPECT_NE(Text(112).find(scheme), std::u16string::npos);
  EXPECT_NE(Text(112), scheme);
  EXPECT_NE(Text(113).find(u'.'), std::u16string::npos);
}

struct ExpectedMenu {
  UINT id;
  WORD leftCommand, leftLabel;
  int rightKind;  // 0 none, 1 plain command, 2 popup
  WORD rightCommand, rightLabel;
  std::vector<UINT> popup;  // commands in the popup, sub-menus flattened
};

const std::vector<ExpectedMenu>& Menus() {
  static const std::vector<ExpectedMenu> menus = {
      {101,
       40001,
       40003,
       2,
       40004,
       40150,
       {40001, 40006, 40072, 40062, 40074, 40075, 40076, 40077, 40078, 40079, 40018, 40008}},
      {103,
       40014,
       40127,
       2,
       40011,
       40150,
       {40014, 40019, 40022, 40037, 40024, 40025, 40010, 40023, 40044, 40046, 40159, 40042, 40020, 40191}},
      {120, 40028, 40148, 0, 0, 0, {}},
      {121, 40028, 40148, 1, 40036, 40146, {}},
      {122, 40040, 1007, 1, 40041, 40047, {}},
      {126, 40028, 40148, 2, 40052, 40150, {40055, 40056, 40036}},
      {130, 40057, 40049, 1, 2, 40146, {}},
      {141, 40086, 1007, 2, 40089, 40150, {40124, 40092, 40133, 40135}},
      {146, 40094, 40096, 2, 40097, 40150, {40094, 40100, 40126, 40101, 40102}},
      {149, 40104, 1046, 1, 40110, 40061, {}},
      {151, 40113, 1046, 2, 40116, 40150, {40113, 40110, 40117}},
      {157, 40163, 40148, 1, 40027, 40146, {}},
      {158, 40002, 40148, 2, 40004, 40150, {40007, 40009}},
      {159, 40012, 40174, 2, 40015, 40150, {40171, 40012, 40161, 40173}},
      {179, 40128, 40127, 1, 40164, 40168, {}},
      {180,
       40143,
       1046,
       2,
       40141,
       40150,
       {40137, 40143, 40147, 40149, 40151, 40152, 40154, 40155, 40167, 40157, 40169}},
      {190, 40110, 40061, 0, 0, 0, {}},
      {191, 40185, 40184, 2, 40186, 40188, {40185, 40189, 40190, 40036}},
  };
  return menus;
}

void Flatten(const std::vector<platform::MenuItem>& items, std::vector<UINT>* out) {
  for (const platform::MenuItem& item : items) {
    if (item.flags & MF_POPUP)
      Flatten(item.items, out);
    else if (!(item.flags & MF_SEPARATOR))
      out->push_back(item.id);
  }
}

TEST(WrenInventory, MenusAndSoftKeyBars) {
  const platform::ResourceTable table = Table();
  for (const ExpectedMenu& want : Menus()) {
    SCOPED_TRACE("menu " + std::to_string(want.id));
    platform::MenuTemplate menu;
    platform::MenuBarRecord bar;
    ASSERT_TRUE(platform::LoadMenuTemplate(table, want.id, &menu));
    ASSERT_TRUE(platform::LoadMenuBarRecord(table, want.id, &bar));
    EXPECT_EQ(bar.menuId, want.id);
    ASSERT_EQ(bar.buttons.size(), want.rightKind ? 2u : 1u);
    EXPECT_EQ(bar.buttons[0].command, want.leftCommand);
    EXPECT_EQ(bar.buttons[0].labelId, want.leftLabel);
    EXPECT_EQ(bar.buttons[0].popupIndex, NOMENU);
    std::u16string label;
    for (const platform::MenuBarButton& b : bar.buttons) {
      EXPECT_EQ(b.image, I_IMAGENONE);
      EXPECT_EQ(b.state, TBSTATE_ENABLED);
      EXPECT_TRUE(platform::LoadStringText(table, b.labelId, &label)) << "label " << b.labelId;
    }
    std::vector<UINT> commands;
    if (want.rightKind) {
      const platform::MenuBarButton& right = bar.buttons[1];
      EXPECT_EQ(right.command, want.rightCommand);
      EXPECT_EQ(right.labelId, want.rightLabel);
      if (want.rightKind == 2) {
        EXPECT_TRUE(right.style & TBSTYLE_DROPDOWN);
        ASSERT_LT(right.popupIndex, menu.items.size());
        ASSERT_TRUE(menu.items[right.popupIndex].flags & MF_POPUP);
        Flatten(menu.items[right.popupIndex].items, &commands);
      } else {
        EXPECT_EQ(right.popupIndex, NOMENU);
        EXPECT_FALSE(right.style & TBSTYLE_DROPDOWN);
      }
    }
    EXPECT_EQ(commands, want.popup);
  }
}

struct ExpectedDialog {
  UINT id;
  std::map<WORD, std::u16string> controls;  // id -> window class
};

TEST(WrenInventory, DialogTemplatesHoldTheirControlsAndFitTheScreen) {
  const std::u16string S = u"STATIC", E = u"EDIT", L = u"LISTBOX", U = u"msctls_updown32", B = u"BUTTON";
  const std::vector<ExpectedDialog> dialogs = {
      {102, {}},
      {123, {{1001, E}, {1002, S}, {1003, S}, {1004, S}, {1005, S}, {1006, S}}},
      {125, {{1007, E}, {1008, S}, {1074, S}, {1010, S}, {1075, S}, {1012, S}}},
      {127, {{1014, E}}},
      {128, {{1077, E}, {1015, S}, {1016, S}, {1017, S}, {1018, S}}},
      {131, {}},
      {145,
       {{1078, E}, {1082, E}, {1085, E}, {1019, S}, {1020, S}, {1021, S}, {1022, S}, {1023, S}, {1024, S}}},
      {152,
       {{1028, L},
        {1092, U},
        {1029, L},
        {1025, U},
        {1030, L},
        {1026, U},
        {1031, L},
        {1027, U},
        {1033, S},
        {1034, S},
        {1035, S},
        {1036, S}}},
      {153,
       {{1090, E}, {1091, E}, {1093, E}, {1118, L}, {1119, U}, {1121, E}, {1033, S}, {1034, S}, {1035, S}}},
      {154, {{1106, B}, {1072, B}, {1010, L}, {1009, L}, {1013, L}, {1083, L}}},
      {155, {}},
      {162, {{1094, S}, {1081, E}}},
      {165, {{1096, S}}},
      {166, {{1098, S}, {1080, E}, {1084, E}, {1023, S}, {1102, S}, {1024, S}}},
  };
  const platform::ResourceTable table = Table();
  for (const ExpectedDialog& want : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(want.id));
    platform::DialogTemplate d;
    ASSERT_TRUE(platform::LoadDialogTemplate(table, want.id, &d));
    EXPECT_EQ(d.face, u"Nina");
    EXPECT_EQ(d.pointSize, 9);
    EXPECT_LE(d.x + d.cx, 176);
    EXPECT_LE(d.y + d.cy, 220);
    std::map<WORD, std::u16string> found;
    int spins = 0;
    for (const platform::DialogControl& c : d.controls) {
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_LE(c.x + c.cx, d.cx) << "control " << c.id;
      EXPECT_LE(c.y + c.cy, d.cy) << "control " << c.id;
      if (c.className == U) ++spins;
      found[c.id] = c.className;
    }
    for (const auto& [id, cls] : want.controls) {
      ASSERT_TRUE(found.count(id)) << "control " << id;
      EXPECT_EQ(found[id], cls) << "control " << id;
    }
    if (want.id == 154) {
      EXPECT_EQ(spins, 4);
    }
    if (want.id == 162) {
      bool icon = false;
      for (const platform::DialogControl& c : d.controls) icon = icon || c.ordinal == 163;
      EXPECT_TRUE(icon);
    }
  }
  // One formatting field each where the program fills in a value.
  platform::DialogTemplate d;
  auto text = [&](UINT dialog, WORD control) {
    EXPECT_TRUE(platform::LoadDialogTemplate(table, dialog, &d));
    for (const platform::DialogControl& c : d.controls)
      if (c.id == control) return c.text;
    return std::u16string();
  };
  EXPECT_EQ(Count(text(145, 1023), u"%d"), 1);
  EXPECT_EQ(Count(text(145, 1024), u"%d"), 1);
  EXPECT_EQ(Count(text(162, 1094), u"%s"), 1);
  EXPECT_EQ(Count(text(166, 1023), u"%d"), 1);
  EXPECT_EQ(Count(text(166, 1102), u"%s"), 1);
  EXPECT_EQ(Count(text(166, 1024), u"%d"), 1);
}

TEST(WrenInventory, IconsBitmapsAndVersion) {
  const platform::ResourceTable table = Table();
  std::vector<UINT> icons = {116, 117, 118, 119, 124, 156, 163};
  for (UINT id = 170; id <= 177; ++id) icons.push_back(id);
  for (UINT id = 182; id <= 189; ++id) icons.push_back(id);
  for (UINT id : icons) {
    platform::ResourceImage image;
    ASSERT_TRUE(platform::LoadIconImage(table, id, &image)) << "icon " << id;
    EXPECT_GE(image.width, 8);
    EXPECT_LE(image.width, 32);
    EXPECT_EQ(image.pixels.size(), static_cast<std::size_t>(image.width * image.height));
    // Not a blank picture.
    std::set<std::uint32_t> colours(image.pixels.begin(), image.pixels.end());
    EXPECT_GE(colours.size(), 2u) << "icon " << id;
  }
  for (UINT id : {115u, 161u}) {
    platform::ResourceImage image;
    ASSERT_TRUE(platform::LoadBitmapImage(table, id, &image)) << "bitmap " << id;
    EXPECT_GT(image.width, 0);
    // Bitmaps and icons are separate kinds.
    EXPECT_FALSE(platform::LoadIconImage(table, id, &image));
  }
  platform::VersionRecord version;
  ASSERT_TRUE(platform::QueryVersion(WrenModule(), &version));
  EXPECT_EQ(version.FileVersionText(), u"1.0.0.1");
}

}  // namespace

namespace {

TEST(WrenInventory, LoadStringCopiesTruncatesAndLendsLikeThePhone) {
  const std::u16string title = Text(40063);
  WCHAR buf[256];
  EXPECT_EQ(LoadString(WrenModule(), 40063, buf, 256), static_cast<int>(title.size()));
  EXPECT_EQ(std::u16string(buf), title);
  // A short buffer gets what fits and a terminator.
  EXPECT_EQ(LoadString(WrenModule(), 40063, buf, 4), 3);
  EXPECT_EQ(std::u16string(buf), title.substr(0, 3));
  EXPECT_EQ(LoadString(WrenModule(), 40063, buf, 1), 0);
  EXPECT_EQ(buf[0], 0);
  // With no buffer size the caller borrows the read-only text.
  const WCHAR* lent = nullptr;
  EXPECT_EQ(LoadString(WrenModule(), 40063, reinterpret_cast<WCHAR*>(&lent), 0),
            static_cast<int>(title.size()));
  ASSERT_NE(lent, nullptr);
  EXPECT_EQ(std::u16string(lent, title.size()), title);
  // Absent ids, foreign modules and null buffers.
  buf[0] = u'x';
  EXPECT_EQ(LoadString(WrenModule(), 4, buf, 256), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(LoadString(nullptr, 40063, buf, 256), 0);
  EXPECT_EQ(LoadString(WrenModule(), 40063, nullptr, 256), 0);
}

}  // namespace
