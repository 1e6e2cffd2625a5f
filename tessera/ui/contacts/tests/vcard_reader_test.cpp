#include "contacts/vcard_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace ui {
namespace {

VCardFile Read(std::string_view text) {
  return ReadVCards(text);
}

// An older phone's export: 2.1, quoted-printable names in UTF-8 with a soft break in the
// middle of a character, bare parameters, several numbers.
TEST(VCardReader, OldPhoneExportWithQuotedPrintableAndSoftBreaks) {
  VCardFile f = Read(
      "BEGIN:VCARD\r\n"
      "VERSION:2.1\r\n"
      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=\r\n"
      "=BCrgen;;;\r\n"
      "TEL;HOME:030 123456\r\n"
      "TEL;CELL;PREF:+49 170 1234567\r\n"
      "TEL;WORK:030 999\r\n"
      "EMAIL;INTERNET:jm@example.de\r\n"
      "END:VCARD\r\n");
  ASSERT_EQ(f.contacts.size(), 1u);
  const VCardContact& c = f.contacts[0];
  EXPECT_EQ(c.name, u"J\u00fcrgen M\u00fcller");
  ASSERT_EQ(c.phones.size(), 3u);
  EXPECT_EQ(c.phones[0], u"030 123456");
  EXPECT_EQ(c.Phone(), u"+49 170 1234567");
  EXPECT_EQ(c.Email(), u"jm@example.de");
  EXPECT_EQ(f.skipped, 0u);
}

// 2.1 in Latin-1 and in a multi-byte Japanese set, named by CHARSET; folding keeps the
// blank in 2.1.
TEST(VCardReader, CharsetParametersAndOldStyleFolding) {
  VCardFile f = Read(
      "BEGIN:VCARD\n"
      "VERSION:2.1\n"
      "FN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Jos=E9\n"
      " Garc=EDa\n"
      "TEL:1\n"
      "END:VCARD\n"
      "BEGIN:VCARD\n"
      "VERSION:2.1\n"
      "FN;CHARSET=SHIFT_JIS:\x8e\x52\x93\x63\n"
      "TEL:2\n"
      "END:VCARD\n"
      "BEGIN:VCARD\n"
      "VERSION:2.1\n"
      "FN:Fran\xe7ois\n"  // no charset, not UTF-8: read as Windows-1252
      "END:VCARD\n");
  ASSERT_EQ(f.contacts.size(), 3u);
  EXPECT_EQ(f.contacts[0].name, u"Jos\u00e9 Garc\u00eda");
  EXPECT_EQ(f.contacts[1].name, u"\u5c71\u7530");
  EXPECT_EQ(f.contacts[2].name, u"Fran\u00e7ois");
}

// A desktop address book's 3.0: LF line ends, folding that removes one blank, grouped
// properties, TYPE lists, escapes, a folded base64 photo, a preferred second address.
TEST(VCardReader, DesktopExportVersion3) {
  VCardFile f = Read(
      "BEGIN:VCARD\n"
      "VERSION:3.0\n"
      "N:Smith;Anna;Maria;Dr.;\n"
      "FN:Anna \n"
      " Smith\\, PhD\n"
      "ORG:Acme\\, Inc.;Sales\n"
      "EMAIL;TYPE=WORK:a.smith@work.example\n"
      "item1.EMAIL;type=INTERNET;type=pref:anna@example.com\n"
      "item1.X-ABLabel:_$!<Other>!$_\n"
      "TEL;TYPE=HOME,VOICE:555 0101\n"
      "TEL;TYPE=CELL,VOICE:(555) 010-0200\n"
      "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\n"
      " SkZJRgABAQ==\n"
      "NOTE:line one\\nline two\n"
      "END:VCARD\n");
  ASSERT_EQ(f.contacts.size(), 1u);
  const VCardContact& c = f.contacts[0];
  EXPECT_EQ(c.name, u"Anna Smith, PhD");
  EXPECT_EQ(c.emails.size(), 2u);
  EXPECT_EQ(c.Email(), u"anna@example.com");
  EXPECT_EQ(c.Phone(), u"(555) 010-0200");  // the mobile number wins without a preference
}

// 4.0: tel: URIs with parameters, PREF=1, quoted parameter values holding ":" and ";".
TEST(VCardReader, Version4UrisAndQuotedParameters) {
  VCardFile f = Read(
      "BEGIN:VCARD\r\n"
      "VERSION:4.0\r\n"
      "FN:Zo\xc3\xab Durand\r\n"
      "TEL;VALUE=uri;TYPE=\"voice,home\":tel:+33-1-23-45-67-89\r\n"
      "TEL;VALUE=uri;PREF=1;TYPE=\"voice,cell\":tel:+33-6-12-34-56-78;ext=12\r\n"
      "EMAIL;PID=\"1.1;a:b\":zoe@example.fr\r\n"
      "END:VCARD\r\n");
  ASSERT_EQ(f.contacts.size(), 1u);
  EXPECT_EQ(f.contacts[0].name, u"Zo\u00eb Durand");
  EXPECT_EQ(f.contacts[0].Phone(), u"+33-6-12-34-56-78");
  EXPECT_EQ(f.contacts[0].phones[0], u"+33-1-23-45-67-89");
  EXPECT_EQ(f.contacts[0].Email(), u"zoe@example.fr");
}

TEST(VCardReader, NameFallsBackFromFormattedToStructuredToOrganisation) {
  VCardFile f = Read(
      "BEGIN:VCARD\nVERSION:3.0\nN:Doe;John;;;\nTEL:1\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nORG:Pizza Place;Delivery\nTEL:2\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nTEL:3\nEND:VCARD\n");
  ASSERT_EQ(f.contacts.size(), 3u);
  EXPECT_EQ(f.contacts[0].name, u"John Doe");
  EXPECT_EQ(f.contacts[1].name, u"Pizza Place");
  EXPECT_EQ(f.contacts[2].name, u"");
  EXPECT_EQ(f.contacts[2].Phone(), u"3");
}

// Unindented 2.1 base64 lines up to a blank line, and a card embedded in AGENT, belong to
// their property and not to the card.
TEST(VCardReader, EmbeddedAgentAndUnindentedBase64StayInsideTheirProperty) {
  VCardFile f = Read(
      "BEGIN:VCARD\r\n"
      "VERSION:2.1\r\n"
      "N:Boss;Big\r\n"
      "AGENT:\r\n"
      "BEGIN:VCARD\r\n"
      "VERSION:2.1\r\n"
      "N:Helper;Little\r\n"
      "TEL:111\r\n"
      "END:VCARD\r\n"
      "TEL;WORK:+1 555 0100\r\n"
      "PHOTO;ENCODING=BASE64;TYPE=GIF:\r\n"
      "R0lGODdhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs=\r\n"
      "AAAA\r\n"
      "\r\n"
      "EMAIL:big@example.com\r\n"
      "END:VCARD\r\n");
  ASSERT_EQ(f.contacts.size(), 1u);
  EXPECT_EQ(f.contacts[0].name, u"Big Boss");
  ASSERT_EQ(f.contacts[0].phones.size(), 1u);
  EXPECT_EQ(f.contacts[0].Phone(), u"+1 555 0100");
  EXPECT_EQ(f.contacts[0].Email(), u"big@example.com");
  EXPECT_EQ(f.skipped, 0u);
}

TEST(VCardReader, MalformedCardsAreSkippedAndTheRestIsRead) {
  VCardFile f = Read(
      "junk before the first card\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Good One\nTEL:1\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:No Colon\nthis line is broken\nTEL:2\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Never Ended\nTEL:3\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN:Good Two\nTEL:4\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:3.0\nFN;X-P=\"unterminated:Bad\nEND:VCARD\n"
      "BEGIN:VCARD\nFN:Cut Off At The End\nTEL:5\n");
  ASSERT_EQ(f.contacts.size(), 2u);
  EXPECT_EQ(f.contacts[0].name, u"Good One");
  EXPECT_EQ(f.contacts[1].name, u"Good Two");
  EXPECT_EQ(f.skipped, 4u);
}

TEST(VCardReader, ByteOrderMarksAndUtf16Files) {
  VCardFile utf8 = Read("\xEF\xBB\xBF" "BEGIN:VCARD\r\nFN:A\r\nTEL:1\r\nEND:VCARD\r\n");
  ASSERT_EQ(utf8.contacts.size(), 1u);
  EXPECT_EQ(utf8.contacts[0].name, u"A");

  std::u16string text = u"BEGIN:VCARD\r\nVERSION:2.1\r\nFN:\u00c5sa\r\nTEL:123\r\nEND:VCARD\r\n";
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t c : text) {
    le.push_back(static_cast<char>(c & 0xFF));
    le.push_back(static_cast<char>(c >> 8));
    be.push_back(static_cast<char>(c >> 8));
    be.push_back(static_cast<char>(c & 0xFF));
  }
  for (const std::string& bytes : {le, be}) {
    VCardFile f = Read(bytes);
    ASSERT_EQ(f.contacts.size(), 1u);
    EXPECT_EQ(f.contacts[0].name, u"\u00c5sa");
    EXPECT_EQ(f.contacts[0].Phone(), u"123");
  }
}

TEST(VCardReader, QuotedPrintableAndCharsetDecoding) {
  EXPECT_EQ(DecodeQuotedPrintable("a=3Db=3d"), "a=b=");
  EXPECT_EQ(DecodeQuotedPrintable("soft=\r\nbreak"), "softbreak");
  EXPECT_EQ(DecodeQuotedPrintable("bad=zz=4"), "bad=zz=4");  // kept as written
  EXPECT_EQ(DecodeQuotedPrintable("end="), "end");
  EXPECT_EQ(DecodeCharset("\xe9t\xe9", ""), u"\u00e9t\u00e9");
  EXPECT_EQ(DecodeCharset("\x80", "windows-1252"), u"\u20ac");
  EXPECT_EQ(DecodeCharset("\xc3\xa9", "no-such-charset"), u"\u00e9");
  // A truncated multi-byte sequence becomes a replacement character, the rest survives.
  EXPECT_EQ(DecodeCharset("\x8e\x52\x93", "SHIFT_JIS"), u"\u5c71\ufffd");
}

}  // namespace
}  // namespace ui
