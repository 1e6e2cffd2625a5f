// The send page, the contact picker and the sending options driven with keys on the
// headless screen, with the real resource library.
#include "sendpage/send_page.h"

#include <gtest/gtest.h>

#include <string>

#include "imaging/image.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "platform_testing/dialog_script.h"
#include "presentation/message_document.h"
#include "sendpage/contact_picker_model.h"
#include "sendpage/ids.h"

namespace ui {
namespace {

using platform::testdriver::DescribeScreen;
using platform::testdriver::PressKey;

using Script = platform_testing::DialogScript;

std::string Card(const std::string& name, const std::string& tel, const std::string& email) {
  std::string s = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
  if (!tel.empty()) s += "TEL:" + tel + "\r\n";
  if (!email.empty()) s += "EMAIL:" + email + "\r\n";
  return s + "END:VCARD\r\n";
}

class SendPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ContactPickerModel::ResetRemembered();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(),
                                    Card("Bob", "5550101", "bob@example.com") + Card("Ann", "+15550100", "")));
    ASSERT_TRUE(contacts.Open());
    context.resources = &resources;
    context.contacts = &contacts;
    context.sendLimit = 300 * 1024;
  }
  std::string Bytes(const std::u16string& path) {
    std::string s;
    platform::ReadFile(path, s);
    return s;
  }

  platform_testing::ScopedDeviceRoot root;
  ResourceLibrary resources;
  ContactsSession contacts;
  SendPageContext context;
};

TEST_F(SendPageTest, OptionsShowStoredValuesAndDoneStoresTheTables) {
  store::SendOptionsRecord options;
  options.deliveryTime = 100000;  // shows entry 5, stored back as its table value
  options.expiry = 100;
  options.priority = 130;
  options.expiryForm = 1;
  options.senderVisibility = 128;
  int resolution = 2;
  Script script;
  std::string screen;
  script.Describe(&screen);
  script.Key("SoftLeft");
  script.Start();
  EXPECT_EQ(RunSendingOptions(context, script.owner(), &options, &resolution, false), 1);
  EXPECT_NE(screen.find("Deliver"), std::string::npos) << screen;
  EXPECT_EQ(options.deliveryTime, 172800u);
  EXPECT_EQ(options.expiry, 43200u);
  EXPECT_EQ(options.priority, 130);
  EXPECT_EQ(options.expiryForm, 0u);
  EXPECT_EQ(options.senderVisibility, 129);
  EXPECT_EQ(resolution, 2);

  // Cancelled: nothing changes.
  options.deliveryTime = 100000;
  Script again;
  again.Key("SoftRight");
  again.Start();
  EXPECT_EQ(RunSendingOptions(context, again.owner(), &options, &resolution, true), 0);
  EXPECT_EQ(options.deliveryTime, 100000u);
}

TEST_F(SendPageTest, PickerChoosesSwitchesToTheSimAndRemembersItsRow) {
  ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
  ASSERT_TRUE(platform::WriteFile(SimPhonebook::DefaultPath(), Card("Home", "5550199", "")));
  ContactEntry chosen;
  {
    Script script;
    std::string screen;
    script.Describe(&screen);
    script.Key("Down");
    script.Key("SoftLeft");
    script.Start();
    ASSERT_TRUE(RunContactPicker(context, script.owner(), AddressKind::Phone, &chosen));
    EXPECT_NE(screen.find("title=\"Contacts\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("contact 0 \"Ann\" \"+15550100\" selected"), std::string::npos) << screen;
    EXPECT_EQ(chosen, (ContactEntry{u"Bob", u"5550101", u"bob@example.com"}));
  }
  {
    Script script;
    std::string first, sim;
    script.Describe(&first);
    script.Command(ids::kCmdPickerSim);
    script.Describe(&sim);
    script.Key("Enter");
    script.Start();
    ASSERT_TRUE(RunContactPicker(context, script.owner(), AddressKind::Phone, &chosen));
    EXPECT_NE(first.find("contact 1 \"Bob\" \"5550101\" selected"), std::string::npos) << first;
    EXPECT_NE(sim.find("contact 0 \"Home\" \"5550199\" selected"), std::string::npos) << sim;
    EXPECT_EQ(chosen.number, u"5550199");
  }
  {
    // No e-mail contact left: select is greyed, and the action key ends like a cancel.
    ASSERT_TRUE(platform::WriteFile(ContactsSession::DefaultPath(), Card("Ann", "+15550100", "")));
    Script script;
    std::string screen;
    script.Describe(&screen);
    script.Key("Enter");
    script.Start();
    EXPECT_FALSE(RunContactPicker(context, script.owner(), AddressKind::Email, &chosen));
    EXPECT_NE(screen.find("empty text=\"No contacts.\""), std::string::npos) << screen;
  }
}

class SendPageMessageTest : public SendPageTest {
 protected:
  void SetUp() override {
    SendPageTest::SetUp();
    std::u16string dir = platform::JoinPath(platform::DeviceRoot(), u"store/");
    ASSERT_TRUE(platform::CreateDirectories(dir));
    entry = std::make_unique<store::MessageEntry>(7, dir);
    presentation::MessageDocument* doc = entry->NewDocument();
    ASSERT_NE(doc, nullptr);
    doc->SetPartsDirectory(entry->PartsDirectory());
    doc->SetDefaultLayout();
    ASSERT_EQ(doc->InsertSlide(-1), 1);
    auto dib = imaging::PackedDib::Create(400, 300, 24);
    dib->Fill(0x80);
    std::u16string source = platform::JoinPath(platform::DeviceRoot(), u"photo.jpg");
    ASSERT_EQ(imaging::SaveImage(*dib, source, imaging::kTypeByExtension), 1);
    ASSERT_EQ(doc->AddMediaFile(0, source), 1);
    picture = platform::JoinPath(doc->partsDirectory(), doc->slide(0)->image->item->fileName);
    original = Bytes(picture);
    entry->Summary().SetSize(40000);
    entry->Summary().SetTo(u"+15550100;x@yz.org;");
    entry->Summary().SetSubject(u"Hi");
    context.defaultResolution = 0;
  }
  std::unique_ptr<store::MessageEntry> entry;
  std::u16string picture;
  std::string original;
};

TEST_F(SendPageMessageTest, ACancelledPageLeavesThePicturesAsTheyWere) {
  Script script;
  std::string screen;
  imaging::Box shrunk{};
  script.Describe(&screen);
  script.Then([&] {
    int depth;
    imaging::GetImageInfo(picture, &shrunk, &depth, imaging::kTypeByExtension);
  });
  script.Command(ids::kCmdClose);
  script.Start();
  bool changed = false;
  EXPECT_EQ(RunSendPage(context, entry.get(), script.owner(), &changed, false), 0);
  EXPECT_NE(screen.find("Ann(+15550100);"), std::string::npos) << screen;
  EXPECT_NE(screen.find("x@yz.org;"), std::string::npos) << screen;
  EXPECT_EQ(shrunk.width, 160);  // at the page's resolution while it was open
  EXPECT_EQ(Bytes(picture), original);
  EXPECT_EQ(entry->Summary().Size(), 40000u);
  EXPECT_FALSE(changed);
  EXPECT_FALSE(platform::PathExists(platform::JoinPath(entry->StoreDirectory(), u"Temp1")));
}

TEST_F(SendPageMessageTest, SendingRefusesABadListThenStoresTheRecipients) {
  Script script;
  std::string refused;
  script.Then([] { SetDlgItemText(GetForegroundWindow(), ids::kPhoneEdit, u"12a"); });
  script.Key("SoftLeft");  // send
  script.Describe(&refused);
  script.Key("SoftLeft");  // OK on the message box
  script.Then([] {
    SetDlgItemText(GetForegroundWindow(), ids::kPhoneEdit, u"Ann;(555) 010-2");
    SetDlgItemText(GetForegroundWindow(), ids::kSubjectEdit, u"Dinner");
  });
  script.Key("SoftLeft");
  script.Start();
  bool changed = false;
  EXPECT_EQ(RunSendPage(context, entry.get(), script.owner(), &changed, false), 1);
  EXPECT_TRUE(script.done());
  EXPECT_NE(refused.find("A phone number is not valid."), std::string::npos) << refused;
  EXPECT_EQ(entry->Summary().To(), u"+15550100;5550102;x@yz.org;");
  EXPECT_EQ(entry->Summary().Subject(), u"Dinner");
  EXPECT_NE(Bytes(picture), original);  // sent at the chosen resolution
}

TEST_F(SendPageMessageTest, AMessageOverTheLimitIsNotSent) {
  entry->Summary().SetSize(0);
  context.sendLimit = 1000;
  context.defaultResolution = 3;
  Script script;
  std::string refused;
  script.Key("SoftLeft");
  script.Describe(&refused);
  script.Key("SoftLeft");
  script.Command(ids::kCmdClose);
  script.Start();
  entry->Summary().SetSize(5000);
  bool changed = false;
  EXPECT_EQ(RunSendPage(context, entry.get(), script.owner(), &changed, false), 0);
  EXPECT_NE(refused.find("The message is too large."), std::string::npos) << refused;
  EXPECT_EQ(entry->Summary().To(), u"+15550100;x@yz.org;");
  EXPECT_EQ(Bytes(picture), original);
}

TEST_F(SendPageMessageTest, ATypedSeparatorTestsTheListSoFarAndLabelsUseTheFontOfKindOne) {
  Script script;
  std::string email, phone, fine;
  LOGFONT label{};
  HFONT sizeFont = nullptr;
  script.Then([&] {
    HWND dlg = GetForegroundWindow();
    GetObject(reinterpret_cast<HGDIOBJ>(SendDlgItemMessage(dlg, ids::kPhoneLabel, WM_GETFONT, 0, 0)), sizeof label,
              &label);
    sizeFont = reinterpret_cast<HFONT>(SendDlgItemMessage(dlg, ids::kSizeLine, WM_GETFONT, 0, 0));
    HWND edit = GetDlgItem(dlg, ids::kEmailEdit);
    SetFocus(edit);
    SendMessage(edit, EM_SETSEL, 0, -1);
  });
  script.Type(u"a@b;");  // "a@b" is no address: 1050 as the ";" is typed
  script.Describe(&email);
  script.Key("SoftLeft");
  script.Then([] { SendDlgItemMessage(GetForegroundWindow(), ids::kEmailEdit, EM_SETSEL, 0, -1); });
  script.Type(u"a@bc.de;");  // a good list: nothing is said
  script.Describe(&fine);
  script.Then([] { SetFocus(GetDlgItem(GetForegroundWindow(), ids::kPhoneEdit)); });
  script.Type(u"12");
  // The phone edit takes digits only from the keypad; ";" comes from the symbol table.
  script.Then([] { PostMessage(GetFocus(), EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u";")); });
  script.Describe(&phone);
  script.Key("SoftLeft");
  script.Command(ids::kCmdClose);
  script.Start();
  bool changed = false;
  EXPECT_EQ(RunSendPage(context, entry.get(), script.owner(), &changed, false), 0);
  EXPECT_TRUE(script.done());
  EXPECT_NE(email.find("An e-mail address is not valid."), std::string::npos) << email;
  EXPECT_EQ(fine.find("messagebox"), std::string::npos) << fine;
  EXPECT_NE(fine.find("a@bc.de;"), std::string::npos) << fine;
  EXPECT_NE(phone.find("A phone number is not valid."), std::string::npos) << phone;
  // The labels' font comes from the resource library (kind 1); the size line keeps the system's.
  EXPECT_EQ(std::u16string(label.lfFaceName), u"Nina");
  EXPECT_EQ(label.lfHeight, -12);
  EXPECT_EQ(sizeFont, nullptr);
}

TEST_F(SendPageMessageTest, BackDeletesInTheFocusedEditThenLeavesThePage) {
  Script script;
  std::string subject;
  script.Then([] { SetFocus(GetDlgItem(GetForegroundWindow(), ids::kSubjectEdit)); });  // "Hi"
  script.Key("Back");
  script.Then([&] {
    WCHAR text[8] = {};
    GetDlgItemText(GetForegroundWindow(), ids::kSubjectEdit, text, 8);
    subject = platform::Utf16ToUtf8(text);
  });
  script.Key("Back");
  script.Key("Back");  // the edit is empty: the page closes
  script.Start();
  bool changed = false;
  EXPECT_EQ(RunSendPage(context, entry.get(), script.owner(), &changed, false), 0);
  EXPECT_TRUE(script.done());
  EXPECT_EQ(subject, "H");
  EXPECT_EQ(entry->Summary().Subject(), u"Hi");  // closing stores nothing
  EXPECT_EQ(Bytes(picture), original);
}

}  // namespace
}  // namespace ui
