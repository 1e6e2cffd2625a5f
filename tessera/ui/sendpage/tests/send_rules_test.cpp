#include "sendpage/send_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "sendpage/ids.h"

namespace ui {
namespace {

class SendRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(),
                                    "BEGIN:VCARD\r\nFN:Ann\r\nTEL:+15550100\r\nEMAIL:ann@example.com\r\nEND:VCARD\r\n"
                                    "BEGIN:VCARD\r\nFN:Tom\r\nTEL:12\r\nEMAIL:tom@x\r\nEND:VCARD\r\n"));
    ASSERT_TRUE(contacts.Open());
  }
  platform_testing::ScopedDeviceRoot root;
  ContactsSession contacts;
};

TEST_F(SendRulesTest, SendingChecksThePhoneListFirstThenTheEmailListThenTheLengths) {
  RecipientCheck r = CheckRecipients(&contacts, u"Ann;(555) 010-1", u"ann;b@cd.ef");
  EXPECT_EQ(r.message, 0u);
  // Numbers are stored the way they are dialled.
  EXPECT_EQ(r.recipients, u"+15550100;5550101;ann@example.com;b@cd.ef;");

  r = CheckRecipients(&contacts, u"x1", u"also bad");
  EXPECT_EQ(r.message, ids::kStrPhoneInvalid);
  EXPECT_EQ(r.focus, AddressKind::Phone);
  r = CheckRecipients(&contacts, u"", u"abc@");
  EXPECT_EQ(r.message, ids::kStrEmailInvalid);
  EXPECT_EQ(r.focus, AddressKind::Email);

  r = CheckRecipients(&contacts, u"", u"");
  EXPECT_EQ(r.message, 0u);
  EXPECT_EQ(r.recipients, u"");

  // 511 + 511: each fits alone, together they are refused.
  std::u16string phones, emails;
  for (int i = 0; i < 63; ++i) phones += u"5550100;";
  phones += u"555010;";
  std::u16string email = u"someone@example.com;";
  while (emails.size() + email.size() <= 511) emails += email;
  emails.insert(0, std::u16string(511 - emails.size(), u'x'));
  ASSERT_EQ(phones.size(), 511u);
  ASSERT_EQ(emails.size(), 511u);
  EXPECT_EQ(CheckRecipients(&contacts, phones, u"").message, 0u);
  EXPECT_EQ(CheckRecipients(&contacts, u"", emails).message, 0u);
  r = CheckRecipients(&contacts, phones, emails);
  EXPECT_EQ(r.message, ids::kStrListTooLong);
  EXPECT_EQ(LengthMessage(phones, emails), ids::kStrListTooLong);
  EXPECT_EQ(LengthMessage(phones, u""), 0u);
}

TEST_F(SendRulesTest, NamesCanGrowAListPastItsLimitWhenResolved) {
  // 60 names of three characters fit the edit; their numbers do not fit the list.
  std::u16string names;
  for (int i = 0; i < 60; ++i) names += u"Ann;";
  RecipientCheck r = CheckRecipients(&contacts, names, u"");
  EXPECT_EQ(r.message, ids::kStrListTooLong);
}

TEST_F(SendRulesTest, TypingASeparatorTestsTheTextBeforeTheCaret) {
  EXPECT_EQ(CheckTypedSeparator(&contacts, AddressKind::Phone, u"5550100;Ann;", u"5550100;Ann;zz", u""), 0u);
  EXPECT_EQ(CheckTypedSeparator(&contacts, AddressKind::Phone, u"5550100;Nobody;", u"5550100;Nobody;", u""),
            ids::kStrPhoneInvalid);
  EXPECT_EQ(CheckTypedSeparator(&contacts, AddressKind::Email, u"ab@c;", u"", u"ab@c;"), ids::kStrEmailInvalid);
  EXPECT_EQ(CheckTypedSeparator(&contacts, AddressKind::Phone, u"5550100;", std::u16string(512, u'1'), u""),
            ids::kStrListTooLong);
}

TEST_F(SendRulesTest, LeavingAnAddressEditNormalisesItsText) {
  EXPECT_EQ(NormaliseAddressText(&contacts, AddressKind::Phone, u" ;5550100 ;; Nobody ;Ann"),
            u"5550100;Nobody;Ann;");
  EXPECT_EQ(NormaliseAddressText(&contacts, AddressKind::Email, u""), u"");
}

TEST_F(SendRulesTest, InsertingAContactChecksItsAddressAndTheRoomLeft) {
  std::u16string text;
  ContactEntry ann{u"Ann", u"+15550100", u"ann@example.com"};
  ASSERT_EQ(AppendContactAddress(AddressKind::Phone, u"", u"", ann, &text), 0u);
  EXPECT_EQ(text, u"+15550100;");
  ASSERT_EQ(AppendContactAddress(AddressKind::Phone, u"5550101", u"", ann, &text), 0u);
  EXPECT_EQ(text, u"5550101;+15550100;");
  ASSERT_EQ(AppendContactAddress(AddressKind::Email, u"b@cd.ef;", u"", ann, &text), 0u);
  EXPECT_EQ(text, u"b@cd.ef;ann@example.com;");

  ContactEntry tom{u"Tom", u"12", u"tom@x"};
  EXPECT_EQ(AppendContactAddress(AddressKind::Phone, u"", u"", tom, &text), ids::kStrContactPhoneInvalid);
  EXPECT_EQ(AppendContactAddress(AddressKind::Email, u"", u"", tom, &text), ids::kStrContactEmailInvalid);

  std::u16string nearlyFull(501, u'1');  // + ";" + 9 digits + ";" = 512: too long
  EXPECT_EQ(AppendContactAddress(AddressKind::Phone, nearlyFull, u"", ann, &text), ids::kStrCannotAdd);
  nearlyFull.pop_back();
  EXPECT_EQ(AppendContactAddress(AddressKind::Phone, nearlyFull, u"", ann, &text), 0u);
  EXPECT_EQ(text.size(), 511u);
  EXPECT_EQ(AppendContactAddress(AddressKind::Phone, nearlyFull, std::u16string(511, u'e'), ann, &text),
            ids::kStrCannotAdd);
}

TEST_F(SendRulesTest, EditTextsOfAStoredRecipientListShowContactNames) {
  std::u16string phones, emails;
  RecipientEditTexts(&contacts, u"+15550100;ann@example.com;5550199;", &phones, &emails);
  EXPECT_EQ(phones, u"Ann(+15550100);5550199;");
  EXPECT_EQ(emails, u"Ann(ann@example.com);");
  // What the page shows reads back as the same recipients.
  EXPECT_EQ(CheckRecipients(&contacts, phones, emails).recipients, u"+15550100;5550199;ann@example.com;");

  // A list longer than the edit is cut after its last whole entry.
  std::u16string many;
  for (int i = 0; i < 80; ++i) many += u"5550100;";  // 640 characters
  RecipientEditTexts(&contacts, many, &phones, &emails);
  EXPECT_LE(phones.size(), 511u);
  EXPECT_EQ(phones.size() % 8, 0u);
  EXPECT_EQ(phones.back(), u';');
}

TEST_F(SendRulesTest, MixedRecipientTextsOfTools) {
  std::u16string bad;
  RecipientCheck r = CheckMixedRecipients(&contacts, u"ann@example.com; Ann ;5550101;x@yz.org;+4420/TYPE=PLMN", &bad);
  EXPECT_EQ(r.message, 0u);
  EXPECT_EQ(r.recipients, u"+15550100;5550101;+4420/TYPE=PLMN;ann@example.com;x@yz.org;");
  EXPECT_NE(CheckMixedRecipients(&contacts, u"+1/TYPE=PLMN", &bad).message, 0u);
  for (const char16_t* text : {u"abc@", u"not a number", u"5550101;12a"}) {
    r = CheckMixedRecipients(&contacts, text, &bad);
    EXPECT_NE(r.message, 0u) << platform::Utf16ToUtf8(text);
  }
  r = CheckMixedRecipients(&contacts, u"5550101;abc@", &bad);
  EXPECT_EQ(r.message, ids::kStrEmailInvalid);
  EXPECT_EQ(bad, u"abc@");
  r = CheckMixedRecipients(&contacts, u";;;", &bad);
  EXPECT_EQ(r.message, 0u);
  EXPECT_EQ(r.recipients, u"");
}

TEST(MessageSize, KilobytesRoundUpAndMegabytesAboveOneThousandTwentyFour) {
  EXPECT_EQ(FormatMessageSize(0, u"KB", u"MB"), u"0KB");
  EXPECT_EQ(FormatMessageSize(1, u"KB", u"MB"), u"1KB");
  EXPECT_EQ(FormatMessageSize(1024, u"KB", u"MB"), u"1KB");
  EXPECT_EQ(FormatMessageSize(1025, u"KB", u"MB"), u"2KB");
  EXPECT_EQ(FormatMessageSize(1024 * 1024, u"KB", u"MB"), u"1024KB");
  EXPECT_EQ(FormatMessageSize(1024 * 1024 + 1, u"KB", u"MB"), u"1.0MB");
  EXPECT_EQ(FormatMessageSize(0xFFFFFFFFu, u"KB", u"MB"), u"4096.0MB");
}

TEST(Resolution, PicturesAreScaledOnlyWhenWiderOrHigherThanTheBox) {
  EXPECT_TRUE(PictureNeedsScaling(0, 161, 10));
  EXPECT_TRUE(PictureNeedsScaling(0, 100, 121));
  EXPECT_FALSE(PictureNeedsScaling(0, 160, 120));
  EXPECT_FALSE(PictureNeedsScaling(1, 320, 240));
  EXPECT_TRUE(PictureNeedsScaling(2, 641, 480));
  EXPECT_FALSE(PictureNeedsScaling(3, 4000, 3000));
}

TEST(SendingOptions, StoredValuesSelectTheirEntries) {
  EXPECT_EQ(ValidityEntry(0), 0);
  EXPECT_EQ(ValidityEntry(1), 1);
  EXPECT_EQ(ValidityEntry(43200), 1);
  EXPECT_EQ(ValidityEntry(43201), 2);
  EXPECT_EQ(ValidityEntry(2592000), 5);
  EXPECT_EQ(ValidityEntry(2592001), 0);
  EXPECT_EQ(DeliveryEntry(0), 0);
  EXPECT_EQ(DeliveryEntry(1800), 1);
  EXPECT_EQ(DeliveryEntry(100000), 5);
  EXPECT_EQ(DeliveryEntry(604800), 6);
  EXPECT_EQ(DeliveryEntry(604801), 6);
  EXPECT_EQ(PriorityEntry(128), 0);
  EXPECT_EQ(PriorityEntry(130), 2);
  EXPECT_EQ(PriorityEntry(0), 1);
}

TEST(SendingOptions, DoneStoresTheTableValuesAndResetsTheForms) {
  store::SendOptionsRecord r;
  r.expiryForm = 1;
  r.deliveryTimeForm = 1;
  r.senderVisibility = 128;
  r.expiry = 100;
  r.deliveryTime = 100000;
  r.priority = 130;
  SendOptionChoice c = ChoiceFromOptions(r, 1);
  EXPECT_EQ(c.validity, 1);
  EXPECT_EQ(c.delivery, 5);
  EXPECT_EQ(c.priority, 2);
  EXPECT_EQ(c.resolution, 1);
  StoreChoice(c, &r);
  EXPECT_EQ(r.expiryForm, 0u);
  EXPECT_EQ(r.deliveryTimeForm, 0u);
  EXPECT_EQ(r.senderVisibility, 129);
  EXPECT_EQ(r.expiry, 43200u);
  EXPECT_EQ(r.deliveryTime, 172800u);
  EXPECT_EQ(r.priority, 130);
  c = SendOptionChoice{-1, 99, 7, 3};
  StoreChoice(c, &r);
  EXPECT_EQ(r.expiry, 0u);
  EXPECT_EQ(r.deliveryTime, 0u);
  EXPECT_EQ(r.priority, 129);
}

}  // namespace
}  // namespace ui
