#include "contacts/contacts_session.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_testing/device_root.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace ui {
namespace {

std::string Card(const std::string& name, const std::string& tel, const std::string& email = "") {
  std::string s = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
  if (!tel.empty()) s += "TEL;TYPE=CELL:" + tel + "\r\n";
  if (!email.empty()) s += "EMAIL:" + email + "\r\n";
  return s + "END:VCARD\r\n";
}

class ContactsSessionTest : public ::testing::Test {
 protected:
  void WriteContacts(const std::string& text) {
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(), text));
  }
  void WriteSim(const std::string& text) {
    ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
    ASSERT_TRUE(platform::WriteFile(SimPhonebook::DefaultPath(), text));
  }
  platform_testing::ScopedDeviceRoot root;
};

TEST_F(ContactsSessionTest, MissingFileIsAnEmptyBookAndAnUnreadableOneFailsTheOpen) {
  ContactsSession s;
  EXPECT_EQ(s.Count(), -1);
  ASSERT_TRUE(s.Open());
  EXPECT_EQ(s.Count(), 0);
  ContactEntry e;
  EXPECT_FALSE(s.GetItem(1, &e));
  s.Close();

  ASSERT_TRUE(platform::CreateDirectories(ContactsSession::DefaultPath()));  // a directory in its place
  ContactsSession broken;
  EXPECT_FALSE(broken.Open());
}

TEST_F(ContactsSessionTest, ItemsAreNumberedFromOneAndTheFileIsReadAgainWhenItChanges) {
  WriteContacts(Card("Ann", "+15550100", "ann@example.com") + Card("Bob", "", "bob@example.com"));
  ContactsSession s;
  ASSERT_TRUE(s.Open());
  ASSERT_EQ(s.Count(), 2);
  ContactEntry e;
  ASSERT_TRUE(s.GetItem(1, &e));
  EXPECT_EQ(e, (ContactEntry{u"Ann", u"+15550100", u"ann@example.com"}));
  ASSERT_TRUE(s.GetItem(2, &e));
  EXPECT_EQ(e, (ContactEntry{u"Bob", u"", u"bob@example.com"}));
  EXPECT_FALSE(s.GetItem(0, &e));
  EXPECT_FALSE(s.GetItem(3, &e));

  // A longer file (so the size differs whatever the clock's resolution).
  WriteContacts(Card("Ann", "+15550100") + Card("Bob", "", "bob@example.com") + Card("Cyd", "5550102") +
                "BEGIN:VCARD\r\nFN:broken\r\n");
  EXPECT_EQ(s.Count(), 3);
  EXPECT_EQ(s.SkippedCards(), 1u);
  platform::DeleteFile(ContactsSession::DefaultPath());
  EXPECT_EQ(s.Count(), 0);
}

TEST_F(ContactsSessionTest, NameLookupRunsLastToFirstIgnoresCaseAndNeedsTheKindsAddress) {
  WriteContacts(Card("Ann", "111") + Card("ANN", "", "ann@old.example") + Card("ann", "222") +
                Card("\xc3\x89lodie", "333") + Card("Bob", "", "bob@example.com"));
  ContactsSession s;
  ASSERT_TRUE(s.Open());
  ContactEntry e;
  ASSERT_TRUE(s.FindByName(u"aNN", true, &e));
  EXPECT_EQ(e.number, u"222");
  ASSERT_TRUE(s.FindByName(u"ann", false, &e));
  EXPECT_EQ(e.email, u"ann@old.example");
  ASSERT_TRUE(s.FindByName(u"\u00e9LODIE", true, &e));
  EXPECT_EQ(e.number, u"333");
  EXPECT_FALSE(s.FindByName(u"Bob", true, &e));  // Bob has no number
  EXPECT_FALSE(s.FindByName(u"An", true, &e));
}

TEST_F(ContactsSessionTest, NumberAndAddressLookups) {
  WriteContacts(Card("Home", "(555) 010-0100") + Card("Intl", "5550199") + Card("Mail", "", "Mia@Example.com"));
  ContactsSession s;
  ASSERT_TRUE(s.Open());
  ContactEntry e;
  ASSERT_TRUE(s.FindByNumber(u"5550100100", &e));
  EXPECT_EQ(e.name, u"Home");
  ASSERT_TRUE(s.FindByNumber(u"+1 555 0199", &e));  // a "+" number ending in the contact's
  EXPECT_EQ(e.name, u"Intl");
  EXPECT_FALSE(s.FindByNumber(u"15550199", &e));  // without "+" the numbers must be equal
  ASSERT_TRUE(s.FindByEmail(u"mia@example.COM", &e));
  EXPECT_EQ(e.name, u"Mail");
  EXPECT_FALSE(s.FindByEmail(u"", &e));
}

TEST(PhoneNumberMatching, SeparatorsAndLatePlusSignsAreIgnored) {
  EXPECT_TRUE(PhoneNumbersMatch(u"+1 (555) 010-0100", u"+15550100100"));
  EXPECT_TRUE(PhoneNumbersMatch(u"555+0100", u"5550100"));
  EXPECT_FALSE(PhoneNumbersMatch(u"5550100", u"+5550100"));
  EXPECT_FALSE(PhoneNumbersMatch(u"+4917012345", u"017012345"));
  EXPECT_TRUE(PhoneNumbersMatch(u"+4917012345", u"17012345"));
  // A contact without a number matches nothing, not every "+" number.
  EXPECT_FALSE(PhoneNumbersMatch(u"+15550100", u""));
  EXPECT_FALSE(PhoneNumbersMatch(u"+15550100", u" - "));
}

TEST_F(ContactsSessionTest, SimIsAbsentWithoutItsFile) {
  SimPhonebook sim;
  EXPECT_FALSE(sim.Open());
  EXPECT_TRUE(sim.Entries().empty());
  std::uint32_t first, last, used;
  EXPECT_FALSE(sim.GetStatus(&first, &last, &used));
}

TEST_F(ContactsSessionTest, SimSlotsAreReadUpToTheUsedCountAndEntriesWithoutNumberLeftOut) {
  WriteSim(Card("Voicemail", "+15550999") + "BEGIN:VCARD\r\nEND:VCARD\r\n" + Card("No Number", "") +
           Card("Mum", "5550123") + Card("mum", "5550124"));
  SimPhonebook sim;
  ASSERT_TRUE(sim.Open());
  std::uint32_t first, last, used;
  ASSERT_TRUE(sim.GetStatus(&first, &last, &used));
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(last, 5u);
  EXPECT_EQ(used, 4u);
  std::u16string text, address;
  EXPECT_FALSE(sim.ReadEntry(2, &text, &address));  // an empty slot
  std::vector<ContactEntry> entries = sim.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (ContactEntry{u"Voicemail", u"+15550999", u""}));
  EXPECT_EQ(entries[2].number, u"5550124");
  ContactEntry e;
  ASSERT_TRUE(sim.FindByName(u"MUM", &e));
  EXPECT_EQ(e.number, u"5550124");
  // The SIM taken out while the program runs.
  platform::DeleteFile(SimPhonebook::DefaultPath());
  EXPECT_FALSE(sim.GetStatus(&first, &last, &used));
  EXPECT_TRUE(sim.Entries().empty());
}

}  // namespace
}  // namespace ui
