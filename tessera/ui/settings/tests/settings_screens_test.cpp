// The general settings page and the profile editor driven with keys on the headless screen.
#include "settings/settings_screens.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config.h"
#include "config/keys.h"
#include "config/registry.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "platform_testing/dialog_script.h"
#include "sendpage/ids.h"

namespace ui {
namespace {

using Script = platform_testing::DialogScript;

class SettingsScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
  }
  platform_testing::ScopedDeviceRoot root;
  ResourceLibrary resources;
};

TEST_F(SettingsScreenTest, SavingUnchangedSettingsStoresOneAttemptAndAnUnmatchedNetworkAsEmpty) {
  config::Config c;
  ASSERT_TRUE(config::reg::SetDword(HKEY_LOCAL_MACHINE, config::kTryLimitKey, u"TryDefault", 0, true));
  ASSERT_TRUE(c.SetConnectionVia(u"Office VPN"));
  ASSERT_TRUE(c.SetSort(2));
  Script script;
  std::string screen;
  script.Describe(&screen);
  script.Key("SoftLeft");
  script.Start();
  EXPECT_EQ(RunSettings(resources, script.owner()), 1);
  EXPECT_NE(screen.find("Sending tries"), std::string::npos) << screen;
  EXPECT_EQ(c.GetTryDefault(), 1u);
  EXPECT_EQ(c.GetConnectionVia(), u"");
  EXPECT_EQ(c.GetSort(), 2u);
}

TEST_F(SettingsScreenTest, ProfileEditorRefusesAnEmptyNameThenSavesWithTheFixedPort) {
  transport::Mm1Profile profile;
  profile.gatewayPort = 1234;
  Script script;
  std::string refused;
  script.Key("SoftLeft");  // save with an empty name
  script.Describe(&refused);
  script.Key("SoftLeft");  // OK
  script.Then([] {
    HWND dlg = GetForegroundWindow();
    SetDlgItemText(dlg, ids::kProfileNameEdit, u"Home");
    SetDlgItemText(dlg, ids::kProfileUrlEdit, u"http://mmsc.example/mms");
    SetDlgItemText(dlg, ids::kProfileGatewayEdit, u"10.0.0.1");
  });
  script.Key("SoftLeft");
  script.Start();
  EXPECT_EQ(EditProfile(resources, script.owner(), &profile, true, 0), 1);
  EXPECT_NE(refused.find("Please enter a name."), std::string::npos) << refused;
  EXPECT_EQ(profile.name.view(), "Home");
  EXPECT_EQ(profile.mmscUri.view(), "http://mmsc.example/mms");
  EXPECT_EQ(profile.gateway.view(), "10.0.0.1");
  EXPECT_EQ(profile.gatewayPort, 9201u);
}

TEST_F(SettingsScreenTest, EditingFromTheListKeepsEachProfilesTransportAndProxy) {
  transport::Mm1Profile p;
  p.gatewayPort = 9201;
  p.mmscUri.Assign("http://mmsc/");
  p.gateway.Assign("10.0.0.1");  // passes either transport's check: a lost choice shows as WSP, not as a refusal
  p.name.Assign("Operator");
  p.transport = transport::Mm1Transport::Http;
  p.proxy.Assign("proxy.op:8080");
  ASSERT_GT(transport::Mm1AddProfile(p, true), 0);
  p.name.Assign("Lab");
  p.transport = transport::Mm1Transport::Wsp;
  p.proxy.Assign("");
  ASSERT_GT(transport::Mm1AddProfile(p, false), 0);

  std::string editor;
  for (const char16_t* rename : {u"Operator 2", u"Lab 2"}) {
    Script script;
    if (rename[0] == u'L') script.Key("Down");
    script.Then([] { PostMessage(GetForegroundWindow(), WM_COMMAND, ids::kCmdProfileEdit, 0); });
    if (rename[0] == u'O') script.Describe(&editor);
    script.Then([rename] { SetDlgItemText(GetForegroundWindow(), ids::kProfileNameEdit, rename); });
    script.Key("SoftLeft");
    script.Then([] { PostMessage(GetForegroundWindow(), WM_COMMAND, IDCANCEL, 0); });
    script.Start();
    EXPECT_EQ(RunProfiles(resources, script.owner()), 1);
  }
  EXPECT_NE(editor.find("proxy.op:8080"), std::string::npos) << editor;

  transport::Mm1Profile http, wsp;
  ASSERT_TRUE(transport::Mm1ReadProfileEntry(1, &http));
  ASSERT_TRUE(transport::Mm1ReadProfileEntry(2, &wsp));
  EXPECT_EQ(http.name.view(), "Operator 2");  // the edits were saved...
  EXPECT_EQ(http.transport, transport::Mm1Transport::Http);  // ...without losing the transport
  EXPECT_EQ(http.proxy.view(), "proxy.op:8080");
  EXPECT_EQ(wsp.name.view(), "Lab 2");
  EXPECT_EQ(wsp.transport, transport::Mm1Transport::Wsp);
  EXPECT_EQ(wsp.proxy.view(), "");
  EXPECT_EQ(wsp.gateway.view(), "10.0.0.1");
}

TEST_F(SettingsScreenTest, DownMovesTheSelectionAfterComingBackFromTheEditor) {
  transport::Mm1Profile p;
  p.gatewayPort = 9201;
  p.mmscUri.Assign("http://mmsc/");
  p.gateway.Assign("10.0.0.1");
  for (const char* name : {"Home", "Work"}) {
    p.name.Assign(name);
    ASSERT_GT(transport::Mm1AddProfile(p, std::string(name) == "Home"), 0);
  }
  Script script;
  std::string after;
  script.Key("Enter");     // edit "Home"
  script.Key("SoftLeft");  // save it unchanged
  script.Key("Down");
  script.Describe(&after);
  script.Command(IDCANCEL);
  script.Start();
  EXPECT_EQ(RunProfiles(resources, script.owner()), 1);
  EXPECT_NE(after.find("profile 2 \"Work\" selected"), std::string::npos) << after;
}

TEST_F(SettingsScreenTest, ProfileEditorRefusesABadProxyThenSavesAnHttpProfileWithoutGateway) {
  transport::Mm1Profile profile;
  Script script;
  std::string refused;
  script.Then([] {
    HWND dlg = GetForegroundWindow();
    SetDlgItemText(dlg, ids::kProfileNameEdit, u"Operator");
    SetDlgItemText(dlg, ids::kProfileUrlEdit, u"http://mmsc.op/mms");
    SendDlgItemMessage(dlg, ids::kProfileTransportList, LB_SETCURSEL, 1, 0);
    SetDlgItemText(dlg, ids::kProfileProxyEdit, u"proxy.op:99999");
  });
  script.Key("SoftLeft");
  script.Describe(&refused);
  script.Key("SoftLeft");  // OK
  script.Then([] { SetDlgItemText(GetForegroundWindow(), ids::kProfileProxyEdit, u"10.1.2.3:3128"); });
  script.Key("SoftLeft");
  script.Start();
  EXPECT_EQ(EditProfile(resources, script.owner(), &profile, true, 0), 1);
  EXPECT_NE(refused.find("Please enter the proxy"), std::string::npos) << refused;
  EXPECT_EQ(profile.transport, transport::Mm1Transport::Http);
  EXPECT_EQ(profile.proxy.view(), "10.1.2.3:3128");
  EXPECT_EQ(profile.gateway.view(), "");
}

TEST_F(SettingsScreenTest, TheActiveProfileCannotBeDeletedAnotherOneCanAfterConfirming) {
  transport::Mm1Profile p;
  p.gatewayPort = 9201;
  for (const char* name : {"Home", "Work", "Travel"}) {
    p.name.Assign(name);
    p.gateway.Assign("10.0.0.1");
    p.mmscUri.Assign("http://mmsc/");
    ASSERT_GT(transport::Mm1AddProfile(p, std::string(name) == "Home"), 0);
  }
  ASSERT_EQ(transport::Mm1DefaultProfileIndex(), 1);
  Script script;
  std::string first, after;
  script.Describe(&first);
  script.Then([] { PostMessage(GetForegroundWindow(), WM_COMMAND, ids::kCmdProfileDelete, 0); });  // refused
  script.Key("Down");
  script.Then([] { PostMessage(GetForegroundWindow(), WM_COMMAND, ids::kCmdProfileDelete, 0); });
  script.Key("SoftLeft");  // Yes
  script.Describe(&after);
  script.Then([] { PostMessage(GetForegroundWindow(), WM_COMMAND, IDCANCEL, 0); });
  script.Start();
  EXPECT_EQ(RunProfiles(resources, script.owner()), 1);
  EXPECT_NE(first.find("profile 1 \"Home\" active selected"), std::string::npos) << first;
  EXPECT_EQ(transport::Mm1ProfileCount(), 2);
  EXPECT_NE(after.find("profile 1 \"Home\" active"), std::string::npos) << after;
  EXPECT_NE(after.find("\"Travel\""), std::string::npos) << after;
  EXPECT_EQ(after.find("\"Work\""), std::string::npos) << after;
}

}  // namespace
}  // namespace ui
