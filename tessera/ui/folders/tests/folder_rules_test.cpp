// What the folder view shows and allows, without a window.
#include "folders/folder_rules.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "folders/details_dialog.h"
#include "folders/folder_ids.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform_testing/device_root.h"

namespace folders {
namespace {

using store::FolderId;

bool Has(const std::vector<UINT>& ids, UINT id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); }

TEST(FolderRulesTest, SortSettingFromMeansToOutsideTheInboxAndToMeansFromInsideIt) {
  EXPECT_EQ(SortOrderFor(FolderId::Outbox, store::kSortFrom), store::kSortTo);
  EXPECT_EQ(SortOrderFor(FolderId::Sent, store::kSortFrom), store::kSortTo);
  EXPECT_EQ(SortOrderFor(FolderId::Inbox, store::kSortFrom), store::kSortFrom);
  EXPECT_EQ(SortOrderFor(FolderId::Inbox, store::kSortTo), store::kSortFrom);
  EXPECT_EQ(SortOrderFor(FolderId::Draft, store::kSortTo), store::kSortTo);
  for (int key : {store::kSortSize, store::kSortDate, store::kSortSubject})
    for (FolderId f : {FolderId::Inbox, FolderId::Outbox, FolderId::Draft, FolderId::Sent}) EXPECT_EQ(SortOrderFor(f, key), key);
}

TEST(FolderRulesTest, IconsFollowTypeThenTheFirstTransferBitThenReadState) {
  EXPECT_EQ(IconFor(store::kTypeNotification, store::kStateComplete | store::kStateRead), kIconNotification);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateNotFetched | store::kStateQueued), kIconNotification);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateQueued | store::kStateInProgress), kIconQueued);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateInProgress | store::kStateFailed), kIconInProgress);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateFailed | store::kStateWaitRetry), kIconFailed);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateWaitRetry | store::kStateRead), kIconWaitRetry);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateComplete | store::kStateUnread), kIconUnread);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateComplete), kIconUnread);
  EXPECT_EQ(IconFor(store::kTypeMultimedia, store::kStateComplete | store::kStateRead), kIconRead);
  EXPECT_EQ(IconFor(store::kTypeDeliveryReport, store::kStateComplete | store::kStateRead), kIconRead);
}

TEST(FolderRulesTest, LeftKeyIsDownloadForANotificationAndGreyWhileItsTransferIsBusy) {
  const LeftKey idle = LeftKeyFor(store::kTypeNotification, 0x1010002);
  EXPECT_EQ(idle.command, kCmdDownload);
  EXPECT_EQ(idle.label, kStrDownload);
  EXPECT_TRUE(idle.enabled);
  for (std::uint32_t busy : {0x1020002u, 0x1040002u, 0x1100002u}) EXPECT_FALSE(LeftKeyFor(store::kTypeNotification, busy).enabled);
  EXPECT_TRUE(LeftKeyFor(store::kTypeNotification, 0x1080002).enabled);  // failed for good: may try again
  const LeftKey message = LeftKeyFor(store::kTypeMultimedia, store::kStateInProgress);
  EXPECT_EQ(message.command, kCmdOpen);
  EXPECT_EQ(message.label, kStrOpen);
  EXPECT_TRUE(message.enabled);
}

TEST(FolderRulesTest, MenuRemovesPerFolderAndDisablesPerMessage) {
  struct Case {
    FolderId folder;
    std::vector<UINT> removed;
  } cases[] = {
      {FolderId::Inbox, {kCmdSend}},
      {FolderId::Outbox, {kCmdDownload, kCmdReply, kCmdReplyAll, kCmdForward}},
      {FolderId::Draft, {kCmdDownload, kCmdReply, kCmdReplyAll, kCmdForward}},
      {FolderId::Sent, {kCmdSend, kCmdDownload}},
  };
  for (const Case& c : cases) {
    const MenuChanges none = MenuChangesFor(c.folder, false, 0, 0);
    EXPECT_EQ(none.removed, c.removed);
    EXPECT_TRUE(none.disabled.empty());
  }
  const MenuChanges message = MenuChangesFor(FolderId::Inbox, true, store::kTypeMultimedia, 0x10001);
  EXPECT_EQ(message.disabled, std::vector<UINT>{kCmdDownload});
  const MenuChanges note = MenuChangesFor(FolderId::Inbox, true, store::kTypeNotification, 0x1010002);
  for (UINT id : {kCmdForward, kCmdSend, kCmdReply, kCmdOpen, kCmdReplyAll, kCmdContents}) EXPECT_TRUE(Has(note.disabled, id)) << id;
  EXPECT_FALSE(Has(note.disabled, kCmdDownload));
  EXPECT_FALSE(Has(note.disabled, kCmdProperties));
  const MenuChanges queued = MenuChangesFor(FolderId::Inbox, true, store::kTypeNotification, 0x1020002);
  EXPECT_TRUE(Has(queued.disabled, kCmdDownload));
  EXPECT_FALSE(Has(queued.disabled, kCmdProperties));
  // A message in transfer: nothing that needs its files.
  const MenuChanges running = MenuChangesFor(FolderId::Outbox, true, store::kTypeMultimedia, store::kStateInProgress);
  for (UINT id : {kCmdDownload, kCmdForward, kCmdSend, kCmdReply, kCmdReplyAll, kCmdProperties, kCmdContents})
    EXPECT_TRUE(Has(running.disabled, id)) << id;
  EXPECT_FALSE(Has(running.disabled, kCmdDelete));
  EXPECT_FALSE(Has(running.disabled, kCmdOpen));
}

TEST(FolderRulesTest, TitlesCountUnreadAndRowsInTheInboxAndRowsElsewhere) {
  EXPECT_EQ(TitleFor(FolderId::Inbox, u"Inbox", 1, 3), u"Inbox(1/3)");
  EXPECT_EQ(TitleFor(FolderId::Inbox, u"Inbox", 0, 2), u"Inbox(0/2)");
  EXPECT_EQ(TitleFor(FolderId::Inbox, u"Inbox", 0, 0), u"Inbox");
  EXPECT_EQ(TitleFor(FolderId::Outbox, u"Outbox", 4, 12), u"Outbox(12)");
  EXPECT_EQ(TitleFor(FolderId::Draft, u"Drafts", 1, 0), u"Drafts");
}

class AddressLineTest : public ::testing::Test {
 protected:
  static std::string Card(const std::string& name, const std::string& tel, const std::string& email = "") {
    std::string s = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\n";
    if (!tel.empty()) s += "TEL;TYPE=CELL:" + tel + "\r\n";
    if (!email.empty()) s += "EMAIL:" + email + "\r\n";
    return s + "END:VCARD\r\n";
  }
  platform_testing::ScopedDeviceRoot root;
};

TEST_F(AddressLineTest, AddressesShowContactNamesTheOwnNameTextOrTheEmptyText) {
  ASSERT_TRUE(platform::WriteFile(ui::ContactsSession::DefaultPath(),
                                  Card("Ann", "+1 555 0100") + Card("Bob", "", "bob@example.com")));
  ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
  ASSERT_TRUE(platform::WriteFile(ui::SimPhonebook::DefaultPath(), Card("Sim Sue", "5550177")));
  ui::ContactsSession contacts;
  ASSERT_TRUE(contacts.Open());
  store::MessageSummary s(nullptr);
  s.SetFrom(u"+15550100");
  s.SetTo(u"bob@example.com; +15550199;;+15550177;");
  EXPECT_EQ(AddressLine(FolderId::Inbox, s, &contacts, nullptr, u"Me", u"?"), u"Ann(+15550100)");
  EXPECT_EQ(AddressLine(FolderId::Sent, s, &contacts, nullptr, u"Me", u"?"),
            u"Bob(bob@example.com);+15550199;+15550177");
  ui::SimPhonebook sim;
  ASSERT_TRUE(sim.Open());
  EXPECT_EQ(AddressLine(FolderId::Sent, s, &contacts, &sim, u"Me", u"?"),
            u"Bob(bob@example.com);+15550199;Sim Sue(+15550177)");
  // Addressed by the own name: its text, when there is an address and a text.
  s.SetExtraFlags(store::kExtraAlphaTag);
  EXPECT_EQ(AddressLine(FolderId::Sent, s, &contacts, nullptr, u"Me", u"?"), u"Me");
  EXPECT_EQ(AddressLine(FolderId::Sent, s, &contacts, nullptr, u"", u"?"), u"Bob(bob@example.com);+15550199;+15550177");
  s.SetTo(u"");
  EXPECT_EQ(AddressLine(FolderId::Outbox, s, &contacts, nullptr, u"Me", u"(none)"), u"(none)");
  s.SetTo(u" ; ;");
  EXPECT_EQ(AddressLine(FolderId::Outbox, s, nullptr, nullptr, u"", u"(none)"), u"(none)");
}

TEST(DetailsTextTest, SizeIsRoundedUpToWholeKilobytesWithoutWrapping) {
  EXPECT_EQ(DetailsDialog::SizeText(u"Size: %d KB", 0), u"Size: 0 KB");
  EXPECT_EQ(DetailsDialog::SizeText(u"Size: %d KB", 1), u"Size: 1 KB");
  EXPECT_EQ(DetailsDialog::SizeText(u"Size: %d KB", 1024), u"Size: 1 KB");
  EXPECT_EQ(DetailsDialog::SizeText(u"Size: %d KB", 1025), u"Size: 2 KB");
  // The largest size does not wrap round to 0.
  EXPECT_EQ(DetailsDialog::SizeText(u"%d", 0xFFFFFFFFu), u"4194304");
  EXPECT_EQ(DetailsDialog::Fill(u"Date: %s", u"2004/1/20"), u"Date: 2004/1/20");
  EXPECT_EQ(DetailsDialog::Fill(u"Date:", u"x"), u"Date:x");
}

}  // namespace
}  // namespace folders
