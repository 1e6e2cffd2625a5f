#include "sendpage/address_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform_testing/device_root.h"

namespace ui {
namespace {

TEST(PhoneNumberRules, LengthsPlusSignAndCharacters) {
  EXPECT_FALSE(IsValidPhoneNumber(u"+1"));        // too short
  EXPECT_FALSE(IsValidPhoneNumber(u"+123"));      // a "+" number needs five characters
  EXPECT_TRUE(IsValidPhoneNumber(u"+1234"));
  EXPECT_TRUE(IsValidPhoneNumber(u"+12 345"));    // spaces go before counting
  EXPECT_FALSE(IsValidPhoneNumber(u"12a"));
  EXPECT_TRUE(IsValidPhoneNumber(u"112"));
  EXPECT_FALSE(IsValidPhoneNumber(u"1 2"));
  EXPECT_TRUE(IsValidPhoneNumber(u"(555) 010-0100"));
  EXPECT_FALSE(IsValidPhoneNumber(u"+(55)5010"));  // the "+" must be followed by a digit
  EXPECT_FALSE(IsValidPhoneNumber(u"555+0100"));   // a "+" anywhere else is not allowed
  EXPECT_FALSE(IsValidPhoneNumber(u"555\t0100"));
  EXPECT_FALSE(IsValidPhoneNumber(u"---"));        // no digit at all
  EXPECT_FALSE(IsValidPhoneNumber(u""));
  EXPECT_FALSE(IsValidPhoneNumber(u"not a number"));
  EXPECT_TRUE(IsValidPhoneNumber(std::u16string(100, u'5')));
  EXPECT_FALSE(IsValidPhoneNumber(std::u16string(101, u'5')));
  EXPECT_FALSE(IsValidPhoneNumber(std::u16string(99, u'5') + u"  "));  // the limit counts spaces
}

TEST(EmailAddressRules, AtSignAndTheDomainsFirstDot) {
  EXPECT_FALSE(IsValidEmailAddress(u"a@b.cd"));  // one character between "@" and "."
  EXPECT_TRUE(IsValidEmailAddress(u"a@bc.d"));   // two, and one after the "."
  EXPECT_FALSE(IsValidEmailAddress(u"a@bc."));   // the "." is the last character
  EXPECT_FALSE(IsValidEmailAddress(u"@bc.de"));
  EXPECT_FALSE(IsValidEmailAddress(u"abc@"));
  EXPECT_FALSE(IsValidEmailAddress(u"abc@example"));
  EXPECT_FALSE(IsValidEmailAddress(u"not an address"));
  // A dot in the name before the "@" is an ordinary address.
  EXPECT_TRUE(IsValidEmailAddress(u"first.last@example.com"));
  EXPECT_FALSE(IsValidEmailAddress(u"first.last@e.com"));
  std::u16string longName(100 - 12, u'x');
  EXPECT_TRUE(IsValidEmailAddress(longName + u"@example.com"));
  EXPECT_FALSE(IsValidEmailAddress(longName + u"x@example.com"));
}

TEST(ListLengthRules, SingleListsAndBothTogether) {
  EXPECT_FALSE(ListsTooLong(511, 0));
  EXPECT_TRUE(ListsTooLong(512, 0));
  EXPECT_TRUE(ListsTooLong(0, 512));
  EXPECT_TRUE(ListsTooLong(511, 511));  // 1023 characters plus one reach 1024
  EXPECT_FALSE(ListsTooLong(511, 510));
  EXPECT_TRUE(CanAppendAddress(500, 0, 10));   // 511 characters afterwards
  EXPECT_FALSE(CanAppendAddress(501, 0, 10));  // 512
  EXPECT_FALSE(CanAppendAddress(500, 511, 10));
  EXPECT_TRUE(CanAppendAddress(500, 510, 10));
}

class AddressListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string vcf;
    auto card = [&](const char* name, const char* tel, const char* email) {
      vcf += std::string("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:") + name + "\r\n";
      if (*tel) vcf += std::string("TEL:") + tel + "\r\n";
      if (*email) vcf += std::string("EMAIL:") + email + "\r\n";
      vcf += "END:VCARD\r\n";
    };
    card("Ann", "+1 555 0100", "ann@example.com");
    card("Bob", "", "bob@example.com");
    card("ann", "5550111", "");
    card("Dad", "(555) 010-0199", "");
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(), vcf));
    ASSERT_TRUE(contacts.Open());
    ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
    ASSERT_TRUE(platform::WriteFile(SimPhonebook::DefaultPath(),
                                    "BEGIN:VCARD\r\nFN:Bob\r\nTEL:5550122\r\nEND:VCARD\r\n"
                                    "BEGIN:VCARD\r\nFN:Ann\r\nTEL:5550133\r\nEND:VCARD\r\n"));
    ASSERT_TRUE(sim.Open());
  }
  platform_testing::ScopedDeviceRoot root;
  ContactsSession contacts;
  SimPhonebook sim;
};

TEST_F(AddressListTest, SplittingKeepsValidEntriesAsTypedAndDropsEmptyOnes) {
  AddressList list(&contacts, nullptr, AddressKind::Phone);
  std::u16string bad = u"unchanged";
  EXPECT_TRUE(list.Parse(u";+1 555 0123; 5550100 ;;  ", &bad));
  EXPECT_EQ(bad, u"unchanged");
  ASSERT_EQ(list.Entries().size(), 2u);
  EXPECT_EQ(list.TypedText(), u"+1 555 0123;5550100;");
  EXPECT_EQ(list.AddressText(), u"+1 555 0123;5550100;");
  EXPECT_TRUE(list.Parse(u";;;"));
  EXPECT_TRUE(list.empty());
}

TEST_F(AddressListTest, NamesResolveFromTheLastContactOfTheKindThenTheSim) {
  AddressList phones(&contacts, &sim, AddressKind::Phone);
  ASSERT_TRUE(phones.Parse(u"ANN;Bob"));
  // "ann" (the later card) wins over "Ann"; Bob has no number among the contacts, so the SIM
  // answers.
  EXPECT_EQ(phones.AddressText(), u"5550111;5550122;");
  EXPECT_EQ(phones.TypedText(), u"ANN;Bob;");

  AddressList emails(&contacts, &sim, AddressKind::Email);
  ASSERT_TRUE(emails.Parse(u"ann"));
  EXPECT_EQ(emails.AddressText(), u"ann@example.com;");

  AddressList noSim(&contacts, nullptr, AddressKind::Phone);
  std::u16string bad;
  EXPECT_FALSE(noSim.Parse(u"Dad;Bob;Nobody", &bad));
  EXPECT_EQ(bad, u"Bob");
  // Unresolved entries stay in the text written back, but out of the recipients.
  EXPECT_EQ(noSim.TypedText(), u"Dad;Bob;Nobody;");
  EXPECT_EQ(noSim.AddressText(), u"(555) 010-0199;");
}

TEST_F(AddressListTest, DisplayFormsNameMatchingContactsAndParseBack) {
  EXPECT_EQ(DisplayAddress(&contacts, AddressKind::Phone, u"+15550100"), u"Ann(+15550100)");
  // A "+" number ending in the contact's (reduced) number.
  EXPECT_EQ(DisplayAddress(&contacts, AddressKind::Phone, u"+1 555 010 0199"), u"Dad(+1 555 010 0199)");
  EXPECT_EQ(DisplayAddress(&contacts, AddressKind::Phone, u"5550100"), u"5550100");
  EXPECT_EQ(DisplayAddress(&contacts, AddressKind::Phone, u"555-0100-199"), u"Dad(555-0100-199)");
  EXPECT_EQ(DisplayAddress(&contacts, AddressKind::Email, u"BOB@example.com"), u"Bob(BOB@example.com)");
  EXPECT_EQ(DisplayAddress(nullptr, AddressKind::Email, u"bob@example.com"), u"bob@example.com");

  AddressList phones(&contacts, nullptr, AddressKind::Phone);
  ASSERT_TRUE(phones.Parse(u"Ann(+15550100);Somebody(+1 (555) 999);555(123)"));
  EXPECT_EQ(phones.AddressText(), u"+15550100;+1 (555) 999;555(123);");
  EXPECT_EQ(phones.DisplayText(), u"Ann(+15550100);Somebody(+1 (555) 999);555(123);");

  AddressList emails(&contacts, nullptr, AddressKind::Email);
  ASSERT_TRUE(emails.Parse(u"Bob(bob@example.com);x@yz.org"));
  EXPECT_EQ(emails.AddressText(), u"bob@example.com;x@yz.org;");

  // A SIM name has no contact to show it; the typed name is kept in view.
  AddressList simOnly(&contacts, &sim, AddressKind::Phone);
  ASSERT_TRUE(simOnly.Parse(u"Bob"));
  EXPECT_EQ(simOnly.DisplayText(), u"Bob(5550122);");
}

TEST(RecipientText, SplitByKindAndJoined) {
  std::u16string phones, emails;
  SplitRecipientText(u"+15550100;a@bc.de;;5550101; x@yz.org ;", &phones, &emails);
  EXPECT_EQ(phones, u"+15550100;5550101;");
  EXPECT_EQ(emails, u"a@bc.de;x@yz.org;");
  EXPECT_EQ(JoinRecipientText(u"1;2", u"a@bc.de;"), u"1;2;a@bc.de;");
  EXPECT_EQ(JoinRecipientText(u"", u"a@bc.de"), u"a@bc.de;");
  EXPECT_EQ(JoinRecipientText(u"", u""), u"");
}

}  // namespace
}  // namespace ui
