#include "rc/compiler.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/resources.h"

namespace {

// A 1x1 opaque red PNG.
const std::vector<std::uint8_t> kRedPixel = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A,                                // signature
    0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,                                // IHDR, 13 octets
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00,  // 1x1, 8-bit RGB
    0x90, 0x77, 0x53, 0xDE,                                                        // CRC
    0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54,                                // IDAT, 12 octets
    0x08, 0xD7, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00,        // zlib: 00 FF 00 00
    0x18, 0xDD, 0x8D, 0xB0,                                                        // CRC
    0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82,        // IEND
};

struct Compiled {
  rc::CompileResult result;
  platform::ResourceTable table;
};

Compiled Build(const std::string& script, std::map<std::string, std::vector<std::uint8_t>> files = {}) {
  Compiled c;
  c.result = rc::Compile(script, "test.rc", [&](const std::string& path, std::vector<std::uint8_t>* out) {
    auto it = files.find(path);
    if (it == files.end()) return false;
    *out = it->second;
    return true;
  });
  if (c.result.ok) c.table = platform::ResourceTable::FromBytes(c.result.table.data(), c.result.table.size());
  return c;
}

std::string Error(const std::string& script) {
  const Compiled c = Build(script);
  EXPECT_FALSE(c.result.ok) << script;
  return c.result.error;
}

TEST(RcCompiler, StringTableWithEscapesJoinedLiteralsAndNonAscii) {
  const Compiled c = Build(
      "// comment\n"
      "#define IDS_HELLO 7\n"
      "STRINGTABLE DISCARDABLE\nBEGIN\n"
      "  IDS_HELLO, \"Say \"\"hi\"\"\\n\" \"twice\"\n"
      "  0x10 \"caf\xC3\xA9 \\x263A\"\n"
      "  IDS_HELLO + 1, L\"\"\n"
      "END\n");
  ASSERT_TRUE(c.result.ok) << c.result.error;
  std::u16string text;
  ASSERT_TRUE(platform::LoadStringText(c.table, 7, &text));
  EXPECT_EQ(text, u"Say \"hi\"\ntwice");
  ASSERT_TRUE(platform::LoadStringText(c.table, 16, &text));
  EXPECT_EQ(text, u"caf\u00E9 \u263A");
  ASSERT_TRUE(platform::LoadStringText(c.table, 8, &text));
  EXPECT_EQ(text, u"");
  EXPECT_FALSE(platform::LoadStringText(c.table, 9, &text));
}

TEST(RcCompiler, MenuWithNestedPopupAndItsSoftKeyBar) {
  const Compiled c = Build(
      "5 MENU BEGIN POPUP \"Menu\" BEGIN\n"
      "  MENUITEM \"Open\", 100\n"
      "  MENUITEM SEPARATOR\n"
      "  POPUP \"More\" BEGIN MENUITEM \"Deep\", 101, GRAYED END\n"
      "END END\n"
      "5 SHMENUBAR BEGIN 5, 2,\n"
      "  I_IMAGENONE, 100, TBSTATE_ENABLED, TBSTYLE_BUTTON | TBSTYLE_AUTOSIZE, 200, 0, NOMENU,\n"
      "  I_IMAGENONE, 102, TBSTATE_ENABLED, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE, 201, 0, 0\n"
      "END\n");
  ASSERT_TRUE(c.result.ok) << c.result.error;
  platform::MenuTemplate menu;
  ASSERT_TRUE(platform::LoadMenuTemplate(c.table, 5, &menu));
  ASSERT_EQ(menu.items.size(), 1u);
  const auto& popup = menu.items[0].items;
  ASSERT_EQ(popup.size(), 3u);
  EXPECT_EQ(popup[0].text, u"Open");
  EXPECT_EQ(popup[1].flags, MF_SEPARATOR);
  EXPECT_EQ(popup[2].items[0].flags, MF_GRAYED);
  EXPECT_EQ(popup[2].items[0].id, 101u);

  platform::MenuBarRecord bar;
  ASSERT_TRUE(platform::LoadMenuBarRecord(c.table, 5, &bar));
  ASSERT_EQ(bar.buttons.size(), 2u);
  EXPECT_EQ(bar.buttons[0].image, I_IMAGENONE);
  EXPECT_EQ(bar.buttons[0].style, TBSTYLE_AUTOSIZE);
  EXPECT_EQ(bar.buttons[0].popupIndex, NOMENU);
  EXPECT_EQ(bar.buttons[1].style, TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE);
  EXPECT_EQ(bar.buttons[1].labelId, 201);
}

TEST(RcCompiler, DialogControlsGetDefaultStylesAndNotClearsThem) {
  const Compiled c = Build(
      "#define RO ES_READONLY | NOT WS_BORDER\n"
      "9 DIALOG 0, 0, 176, 172\nSTYLE WS_POPUP\nCAPTION \"Cap\"\nFONT 9, \"Nina\"\nBEGIN\n"
      "  LTEXT \"Label\", IDC_STATIC, 1, 2, 3, 4\n"
      "  EDITTEXT 10, 5, 6, 7, 8, RO\n"
      "  CONTROL \"\", 11, \"msctls_updown32\", UDS_WRAP, 1, 1, 1, 1, WS_EX_CLIENTEDGE\n"
      "  ICON 163, -1, 4, 4, 32, 32\n"
      "  AUTOCHECKBOX \"Check\", 12, 0, 0, 10, 10\n"
      "END\n");
  ASSERT_TRUE(c.result.ok) << c.result.error;
  platform::DialogTemplate d;
  ASSERT_TRUE(platform::LoadDialogTemplate(c.table, 9, &d));
  EXPECT_EQ(d.style, 0x80000000u | 0x40u);  // WS_POPUP | DS_SETFONT
  EXPECT_EQ(d.caption, u"Cap");
  ASSERT_EQ(d.controls.size(), 5u);
  EXPECT_EQ(d.controls[0].className, u"STATIC");
  EXPECT_EQ(d.controls[0].id, 0xFFFF);
  EXPECT_EQ(d.controls[0].style, 0x40000000u | 0x10000000u | 0x20000u);
  EXPECT_EQ(d.controls[1].className, u"EDIT");
  EXPECT_EQ(d.controls[1].style,
            0x40000000u | 0x10000000u | 0x10000u | 0x800u);  // tab stop kept, border cleared
  EXPECT_EQ(d.controls[2].className, u"msctls_updown32");
  EXPECT_EQ(d.controls[2].exStyle, 0x200u);
  EXPECT_EQ(d.controls[3].ordinal, 163);
  EXPECT_EQ(d.controls[3].cx, 32);
  EXPECT_EQ(d.controls[4].style & 0xF, 3u);
}

TEST(RcCompiler, ImagesAndVersion) {
  const Compiled c = Build(
      "1 BITMAP \"a.png\"\n2 ICON \"a.png\"\n"
      "VS_VERSION_INFO VERSIONINFO FILEVERSION 1,0,0,1 PRODUCTVERSION 1,0,0,2 FILEOS VOS_WINDOWSCE\n"
      "BEGIN BLOCK \"StringFileInfo\" BEGIN BLOCK \"040904b0\" BEGIN VALUE \"FileVersion\", \"1.0.0.1\"\n"
      "END END BLOCK \"VarFileInfo\" BEGIN VALUE \"Translation\", 0x409, 1200 END END\n",
      {{"a.png", kRedPixel}});
  ASSERT_TRUE(c.result.ok) << c.result.error;
  platform::ResourceImage image;
  ASSERT_TRUE(platform::LoadBitmapImage(c.table, 1, &image));
  ASSERT_EQ(image.pixels.size(), 1u);
  EXPECT_EQ(image.pixels[0], 0xFFFF0000u);
  EXPECT_TRUE(platform::LoadIconImage(c.table, 2, &image));
  platform::VersionRecord v;
  ASSERT_TRUE(platform::QueryVersion(c.table, &v));
  EXPECT_EQ(v.FileVersionText(), u"1.0.0.1");
  EXPECT_EQ(v.productVersion[3], 2);
  ASSERT_EQ(v.values.size(), 1u);
  EXPECT_EQ(v.values[0].second, u"1.0.0.1");
}

TEST(RcCompiler, ErrorsNameTheLine) {
  EXPECT_EQ(Error("STRINGTABLE BEGIN\n1 \"a\"\n1 \"b\"\nEND\n"), "test.rc:3: duplicate resource id 1");
  EXPECT_EQ(Error("\n\n7 WIDGET BEGIN END"), "test.rc:3: unsupported resource type WIDGET");
  EXPECT_EQ(Error("STRINGTABLE BEGIN 1 \"open\nEND"), "test.rc:1: unterminated string");
  EXPECT_EQ(Error("STRINGTABLE BEGIN 70000 \"x\" END"), "test.rc:1: id 70000 is not a 16-bit number");
  EXPECT_EQ(Error("1 BITMAP \"missing.png\""), "test.rc:1: cannot read missing.png");
  EXPECT_EQ(Error("#include \"x.h\""), "test.rc:1: unsupported directive #include");
  EXPECT_EQ(Error("STRINGTABLE BEGIN FOO \"x\" END"), "test.rc:1: unknown name FOO");
  EXPECT_EQ(Error("/* never closed"), "test.rc:1: unterminated comment");
}

TEST(RcCompiler, RejectsMalformedRecordsAndHostileNesting) {
  // A soft-key bar with a word missing from its second button.
  EXPECT_NE(Error("1 SHMENUBAR BEGIN 1, 2, 0,0,0,0,0,0,0, 0,0,0,0,0,0 END").find("soft-key bar"),
            std::string::npos);
  EXPECT_NE(Error("1 SHMENUBAR BEGIN 1, 3 END").find("soft-key bar"), std::string::npos);
  // Duplicate control ids in one dialog would make GetDlgItem ambiguous.
  EXPECT_NE(
      Error("1 DIALOG 0,0,1,1 BEGIN EDITTEXT 5,0,0,1,1 EDITTEXT 5,0,0,1,1 END").find("duplicate control"),
      std::string::npos);
  std::string deep = "1 MENU BEGIN";
  for (int i = 0; i < 20; ++i) deep += " POPUP \"p\" BEGIN";
  EXPECT_NE(Error(deep).find("nested too deeply"), std::string::npos);
  EXPECT_NE(Error("STRINGTABLE BEGIN " + std::string(5000, '(') + "1").find("nested too deeply"),
            std::string::npos);
  EXPECT_NE(Error("1 BITMAP \"a.png\"").find("cannot read"), std::string::npos);
  // A file that is not a PNG is refused at build time, not at run time.
  const Compiled c = Build("1 ICON \"a.png\"", {{"a.png", {1, 2, 3}}});
  EXPECT_FALSE(c.result.ok);
  // A self-referencing definition stays a plain (unknown) name instead of looping.
  EXPECT_EQ(Error("#define A A\nSTRINGTABLE BEGIN A \"x\" END"), "test.rc:2: unknown name A");
}

TEST(RcCompiler, EmittedSourceCarriesEveryOctet) {
  const std::string source = rc::EmitCpp({1, 255, 0}, "x.rc");
  EXPECT_NE(source.find("TesseraResourceTable[3]"), std::string::npos);
  EXPECT_NE(source.find(" 1, 255, 0,"), std::string::npos);
  EXPECT_NE(source.find("visibility(\"default\")"), std::string::npos);
}

}  // namespace
