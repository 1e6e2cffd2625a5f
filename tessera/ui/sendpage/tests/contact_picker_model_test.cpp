#include "sendpage/contact_picker_model.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform_testing/device_root.h"
#include "sendpage/ids.h"

namespace ui {
namespace {

std::string Card(const std::string& name, const std::string& tel, const std::string& email) {
  std::string s = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
  if (!tel.empty()) s += "TEL:" + tel + "\r\n";
  if (!email.empty()) s += "EMAIL:" + email + "\r\n";
  return s + "END:VCARD\r\n";
}

class PickerModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ContactPickerModel::ResetRemembered();
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(),
                                    Card("Zed", "5550109", "") + Card("Amy", "", "amy@example.com") +
                                        Card("Bea", "5550102", "bea@example.com") + Card("Bea", "5550103", "")));
    ASSERT_TRUE(contacts.Open());
    ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
    ASSERT_TRUE(platform::WriteFile(SimPhonebook::DefaultPath(),
                                    Card("Voicemail", "+15550999", "") + Card("Home", "5550100", "")));
    ASSERT_TRUE(sim.Open());
  }
  platform_testing::ScopedDeviceRoot root;
  ContactsSession contacts;
  SimPhonebook sim;
};

TEST_F(PickerModelTest, RowsOfTheKindSortedByNameWithTheirSecondLine) {
  ContactPickerModel phone(&contacts, &sim, AddressKind::Phone);
  phone.Fill();
  ASSERT_EQ(phone.Rows().size(), 3u);
  EXPECT_EQ(phone.Rows()[0].name, u"Bea");
  EXPECT_EQ(phone.SecondLine(0), u"5550102");  // equal names keep the file's order
  EXPECT_EQ(phone.SecondLine(1), u"5550103");
  EXPECT_EQ(phone.Rows()[2].name, u"Zed");

  ContactPickerModel email(&contacts, &sim, AddressKind::Email);
  email.Fill();
  ASSERT_EQ(email.Rows().size(), 2u);
  EXPECT_EQ(email.Rows()[0].name, u"Amy");
  EXPECT_EQ(email.SecondLine(1), u"bea@example.com");
}

TEST_F(PickerModelTest, SourceSwitchingAndThePopupOfEachKind) {
  ContactPickerModel phone(&contacts, &sim, AddressKind::Phone);
  phone.Fill();
  EXPECT_EQ(phone.PopupItems(), (std::vector<UINT>{ids::kCmdPickerSelect, 0, ids::kCmdPickerSim, 0, ids::kCmdCancel}));
  phone.SwitchTo(ContactPickerModel::Source::Sim);
  ASSERT_EQ(phone.Rows().size(), 2u);
  EXPECT_EQ(phone.Rows()[0].name, u"Home");
  EXPECT_EQ(phone.PopupItems(),
            (std::vector<UINT>{ids::kCmdPickerSelect, 0, ids::kCmdPickerContacts, 0, ids::kCmdCancel}));
  phone.SwitchTo(ContactPickerModel::Source::Contacts);
  EXPECT_EQ(phone.Rows().size(), 3u);

  ContactPickerModel email(&contacts, &sim, AddressKind::Email);
  email.Fill();
  EXPECT_EQ(email.PopupItems(), (std::vector<UINT>{ids::kCmdPickerSelect, 0, ids::kCmdCancel}));

  // Without a SIM the SIM source is simply empty.
  ContactPickerModel noSim(&contacts, nullptr, AddressKind::Phone);
  noSim.SwitchTo(ContactPickerModel::Source::Sim);
  EXPECT_TRUE(noSim.empty());
  EXPECT_FALSE(noSim.CanSelect());
}

TEST_F(PickerModelTest, TheChosenRowIsRememberedPerKindAndClampedNextTime) {
  ContactPickerModel phone(&contacts, &sim, AddressKind::Phone);
  phone.Fill();
  EXPECT_EQ(phone.InitialRow(), 0);
  ContactEntry e;
  ASSERT_TRUE(phone.Choose(2, &e));
  EXPECT_EQ(e, (ContactEntry{u"Zed", u"5550109", u""}));
  EXPECT_FALSE(phone.Choose(3, &e));

  ContactPickerModel email(&contacts, &sim, AddressKind::Email);
  email.Fill();
  EXPECT_EQ(email.InitialRow(), 0);  // the e-mail picker keeps its own

  ContactPickerModel again(&contacts, &sim, AddressKind::Phone);
  again.Fill();
  EXPECT_EQ(again.InitialRow(), 2);
  again.SwitchTo(ContactPickerModel::Source::Sim);  // two rows: clamped to the last
  EXPECT_EQ(again.InitialRow(), 1);

  // The contacts file shrinks while the program runs.
  ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(), Card("Solo", "5550100", "")));
  ContactPickerModel shrunk(&contacts, &sim, AddressKind::Phone);
  shrunk.Fill();
  ASSERT_EQ(shrunk.Rows().size(), 1u);
  EXPECT_EQ(shrunk.InitialRow(), 0);
}

}  // namespace
}  // namespace ui
