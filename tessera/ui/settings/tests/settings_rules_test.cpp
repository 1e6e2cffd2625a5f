#include "settings/settings_rules.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "sendpage/ids.h"

namespace ui {
namespace {

const std::vector<std::u16string> kDestinations = {u"The Internet", u"WAP Network"};

TEST(GeneralSettings, FillShowsTheStoredValues) {
  GeneralSettings v;
  v.saveSentMessage = false;
  v.sendDelayedNotifyResp = 0;
  v.sort = 2;
  v.sendDefault = 300 * 1024;
  v.tryDefault = 3;
  v.connectionVia = u"wap network";
  GeneralSettingsPage p = FillGeneralSettings(v, {100 * 1024, 300 * 1024, 600 * 1024}, kDestinations, u"K");
  EXPECT_FALSE(p.saveSentBox);
  EXPECT_TRUE(p.receiveNowBox);
  EXPECT_EQ(p.sortEntry, 1);
  EXPECT_EQ(p.sizeEntries, (std::vector<std::u16string>{u"100K", u"300K", u"600K"}));
  EXPECT_EQ(p.sizeEntry, 1);
  EXPECT_EQ(p.attemptEntries.size(), 5u);
  EXPECT_EQ(p.attemptEntry, 2);
  EXPECT_EQ(p.networkEntry, 1);  // matched ignoring case
}

TEST(GeneralSettings, RoundTripWithoutChangesKeepsEveryValue) {
  GeneralSettings v{true, 1, 4, 600 * 1024, 5, u"The Internet"};
  GeneralSettingsPage p = FillGeneralSettings(v, {300 * 1024, 600 * 1024}, kDestinations, u"KB");
  GeneralSettings saved = SaveGeneralSettings(p, v);
  EXPECT_EQ(saved.saveSentMessage, v.saveSentMessage);
  EXPECT_EQ(saved.sendDelayedNotifyResp, 1u);
  EXPECT_EQ(saved.sort, 4u);
  EXPECT_EQ(saved.sendDefault, 600u * 1024);
  EXPECT_EQ(saved.tryDefault, 5u);
  EXPECT_EQ(saved.connectionVia, u"The Internet");
}

TEST(GeneralSettings, ZeroAttemptsShowTheFirstEntryAndSaveOne) {
  GeneralSettings v;
  v.tryDefault = 0;
  GeneralSettingsPage p = FillGeneralSettings(v, {}, kDestinations, u"K");
  EXPECT_EQ(p.attemptEntry, 0);
  EXPECT_EQ(SaveGeneralSettings(p, v).tryDefault, 1u);
}

TEST(GeneralSettings, UnmatchedValuesLeaveListsWithoutSelection) {
  GeneralSettings v;
  v.connectionVia = u"Office VPN";
  v.sendDefault = 123;
  GeneralSettingsPage p = FillGeneralSettings(v, {100 * 1024}, kDestinations, u"K");
  EXPECT_EQ(p.networkEntry, -1);
  EXPECT_EQ(p.sizeEntry, -1);
  GeneralSettings saved = SaveGeneralSettings(p, v);
  EXPECT_EQ(saved.connectionVia, u"");
  // No size chosen: the stored limit stays rather than becoming 0 (which would refuse
  // every message).
  EXPECT_EQ(saved.sendDefault, 123u);
  p.sizeEntry = 0;
  EXPECT_EQ(SaveGeneralSettings(p, v).sendDefault, 100u * 1024);
}

TEST(ProfileList, TheActiveProfileCannotBeSelectedOrDeleted) {
  EXPECT_FALSE(ProfileCanBeSelectedOrDeleted(0, 0, 1));
  EXPECT_FALSE(ProfileCanBeSelectedOrDeleted(3, 2, 2));
  EXPECT_TRUE(ProfileCanBeSelectedOrDeleted(3, 1, 2));
  EXPECT_FALSE(ProfileCanBeSelectedOrDeleted(3, 0, 2));  // nothing selected
}

TEST(ProfileList, ANewProfileStartsFromTheActiveOneWithoutItsNames) {
  transport::Mm1Profile active;
  active.name.Assign("Home");
  active.gateway.Assign("10.0.0.1");
  active.mmscUri.Assign("http://mmsc/");
  active.gatewayPort = 9201;
  active.sendLimit = 300 * 1024;
  transport::Mm1Profile fresh = NewProfileFrom(active);
  EXPECT_EQ(fresh.name.view(), "");
  EXPECT_EQ(fresh.gateway.view(), "");
  EXPECT_EQ(fresh.mmscUri.view(), "");
  EXPECT_EQ(fresh.gatewayPort, 9201u);
  EXPECT_EQ(fresh.sendLimit, 300u * 1024);
}

TEST(ProfileEditor, ChecksRunInOrderAndTheFirstFailureIsShown) {
  const std::vector<std::u16string> others = {u"Home", u"Work"};
  EXPECT_EQ(CheckProfile(u"", u"", u"", others, u"http://"), ids::kStrNeedName);
  EXPECT_EQ(CheckProfile(u"Work", u"", u"", others, u"http://"), ids::kStrNameTaken);
  EXPECT_EQ(CheckProfile(u"work", u"http://", u"", others, u"http://"), ids::kStrNeedUrl);  // exact compare
  EXPECT_EQ(CheckProfile(u"New", u"mmsc.example/mms", u"10.0.0.1", others, u"http://"), ids::kStrNeedUrl);
  EXPECT_EQ(CheckProfile(u"New", u"http://mmsc/mms", u"localhost", others, u"http://"), ids::kStrNeedGateway);
  EXPECT_EQ(CheckProfile(u"New", u"http://mmsc/mms", u"10.0.0.1", others, u"http://"), 0u);
}

TEST(ProfileEditor, HttpProfilesMayGoWithoutGatewayAndAProxyMustBeHostAndPort) {
  const std::vector<std::u16string> none;
  const auto http = transport::Mm1Transport::Http, wsp = transport::Mm1Transport::Wsp;
  const char16_t* url = u"http://mmsc/mms";
  EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", http, u""), 0u);
  EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", wsp, u""), ids::kStrNeedGateway);
  EXPECT_EQ(CheckProfile(u"A", url, u"localhost", none, u"http://", http, u""), ids::kStrNeedGateway);
  EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", http, u"proxy.op:8080"), 0u);
  EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", http, u"[::1]:3128"), 0u);
  for (const char16_t* bad : {u"proxy.op", u"proxy.op:", u":80", u"proxy.op:0", u"proxy.op:65536",
                              u"pr oxy:80", u"pr\u00f6xy:80", u"http://proxy:80"}) {
    SCOPED_TRACE(platform::Utf16ToUtf8(bad));
    EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", http, bad), ids::kStrBadProxy);
  }
  // Longer than the stored field: refused rather than cut into another address.
  std::u16string longProxy = std::u16string(70, u'a') + u":80";
  EXPECT_EQ(CheckProfile(u"A", url, u"", none, u"http://", http, longProxy), ids::kStrBadProxy);
}

TEST(ProfileEditor, AWapGatewayProfileNeitherChecksNorOverwritesTheProxy) {
  const std::vector<std::u16string> none;
  const auto http = transport::Mm1Transport::Http, wsp = transport::Mm1Transport::Wsp;
  const char16_t* url = u"http://mmsc/mms";
  EXPECT_EQ(CheckProfile(u"A", url, u"10.0.0.1", none, u"http://", wsp, u"proxy.op"), 0u);
  EXPECT_EQ(CheckProfile(u"A", url, u"10.0.0.1", none, u"http://", http, u"proxy.op"), ids::kStrBadProxy);
  transport::Mm1Profile p;
  p.transport = http;
  p.proxy.Assign("proxy.op:8080");
  StoreProfileTransport(wsp, u"proxy.op", &p);  // switched to the gateway with a half-typed field
  EXPECT_EQ(p.transport, wsp);
  EXPECT_EQ(p.proxy.view(), "proxy.op:8080");
  StoreProfileTransport(http, u"10.1.2.3:3128", &p);
  EXPECT_EQ(p.transport, http);
  EXPECT_EQ(p.proxy.view(), "10.1.2.3:3128");
}

TEST(ProfileEditor, TextsLongerThanTheirFieldsAreCutOnCharacterBoundaries) {
  transport::Mm1Profile p;
  std::u16string name(25, u'\u00e9');  // 50 octets: fits
  std::u16string url = u"http://" + std::u16string(56, u'\u20ac');  // 175 octets: cut
  StoreProfileTexts(name, url, u"10.0.0.1", &p);
  EXPECT_EQ(p.name.view().size(), 50u);
  EXPECT_LE(p.mmscUri.view().size(), 63u);
  EXPECT_EQ((p.mmscUri.view().size() - 7) % 3, 0u);  // whole euro signs only
  EXPECT_EQ(p.gateway.view(), "10.0.0.1");
}

}  // namespace
}  // namespace ui
