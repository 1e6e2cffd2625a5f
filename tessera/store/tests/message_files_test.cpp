// Per-message files, copy, delete, push classification and crash safety of every write.
#include <gtest/gtest.h>

#include <set>

#include "platform/files.h"
#include "store_test_util.h"

namespace store {
namespace {

using MessageFilesTest = StoreTest;

void Append(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

std::vector<std::uint8_t> NotificationPdu() {
  std::vector<std::uint8_t> pdu = {0x8C, 0x82, 0x98};  // m-notification-ind, Transaction-ID
  Append(pdu, "T1");
  pdu.insert(pdu.end(), {0x8D, 0x90, 0x89, 0x0A, 0x80});  // version 1.0; From, address present
  Append(pdu, "+4912345");
  pdu.insert(pdu.end(), {0x96});  // Subject
  Append(pdu, "hi");
  pdu.insert(pdu.end(), {0x8A, 0x80, 0x8E, 0x02, 0x01, 0x00});  // personal; size 256
  pdu.insert(pdu.end(), {0x88, 0x03, 0x81, 0x01, 0x10, 0x83});  // expiry +16 s; Content-Location
  Append(pdu, "http://mmsc/1");
  return pdu;
}

std::vector<std::uint8_t> DeliveryPdu() {
  std::vector<std::uint8_t> pdu = {0x8C, 0x86, 0x8D, 0x90, 0x8B};  // m-delivery-ind, Message-ID
  Append(pdu, "mid-7");
  pdu.insert(pdu.end(), {0x97});  // To
  Append(pdu, "+4955/TYPE=PLMN");
  pdu.insert(pdu.end(), {0x85, 0x01, 0x05, 0x95, 0x81});  // Date 5; status retrieved
  return pdu;
}

TEST_F(MessageFilesTest, NamesAndOptionsFile) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  auto entry = store.NewEntry();
  EXPECT_EQ(entry->BodyPath(), Root() + u"1.DAT");
  EXPECT_EQ(entry->OptionsPath(), Root() + u"1.TAG");
  EXPECT_EQ(entry->PartsDirectoryName(), Root() + u"1/");

  // Defaults when no file exists; DeliverReport above 0 asks for a report.
  internal::WriteDword(u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI", u"DeliverReport", 1);
  ASSERT_NE(entry->Options(), nullptr);
  EXPECT_EQ(*entry->Options(), (SendOptionsRecord{.deliveryReport = 1}));
  entry->Options()->priority = 130;
  ASSERT_TRUE(entry->SaveOptions());
  EXPECT_FALSE(platform::PathExists(Root() + u"UA_Detail.tmp"));
  EXPECT_EQ(platform::FileSize(entry->OptionsPath()), 37);
  entry->DropOptions();
  EXPECT_EQ(entry->Options()->priority, 130);

  // A failed write leaves the old file as it was.
  entry->Options()->priority = 128;
  test_hooks::SetFailAfter(1);
  EXPECT_FALSE(entry->SaveOptions());
  test_hooks::SetFailAfter(0);
  EXPECT_FALSE(platform::PathExists(Root() + u"UA_Detail.tmp"));
  entry->DropOptions();
  EXPECT_EQ(entry->Options()->priority, 130);

  ASSERT_TRUE(platform::WriteFile(entry->OptionsPath(), EncodeOptionsFile({}) + "x"));
  entry->DropOptions();
  EXPECT_EQ(entry->Options(), nullptr);
}

TEST_F(MessageFilesTest, DeleteRemovesEveryFileAndTheRetryRecord) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  auto entry = MakeEntry(store, 0x100002, u"gone");
  std::uint32_t id = entry->Id();
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
  ASSERT_TRUE(entry->SaveOptions());
  platform::SetReadOnly(entry->BodyPath(), true);
  std::u16string parts = entry->PartsDirectory();
  ASSERT_TRUE(platform::WriteFile(parts + u"a.jpg", "x"));
  ASSERT_TRUE(entry->Summary().SetPriority(2));
  ASSERT_TRUE(entry->Summary().SetMinute(60));
  EXPECT_EQ(entry->Summary().Priority(), 2u);
  std::u16string body = entry->BodyPath(), options = entry->OptionsPath(), key = entry->RetryKey();
  store.Folder(FolderId::Outbox)->Add(std::move(entry));
  ASSERT_TRUE(store.Delete(FolderId::Outbox, id));
  EXPECT_EQ(store.Folder(FolderId::Outbox)->Count(), 0);
  EXPECT_FALSE(platform::PathExists(body));
  EXPECT_FALSE(platform::PathExists(options));
  EXPECT_FALSE(platform::PathExists(parts));
  HKEY handle = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(store.Delete(FolderId::Outbox, id));
}

TEST_F(MessageFilesTest, DeleteSelectedAndCopy) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* sent = store.Folder(FolderId::Sent);
  for (int i = 0; i < 4; ++i) {
    auto entry = MakeEntry(store, 0x10001, u"s");
    entry->Summary().SetTo(u"+1");
    entry->Summary().SetSize(4);
    ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
    sent->Add(std::move(entry));
  }
  MessageEntry* original = sent->CheckOut(1);
  ASSERT_NE(original, nullptr);
  original->Options()->priority = 130;
  auto copy = store.Copy(*original);
  sent->Release(original);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Id(), 5u);
  EXPECT_EQ(copy->Summary().StateFlags(), 0x10002u);
  EXPECT_EQ(copy->Summary().To(), u"+1");
  EXPECT_EQ(copy->Summary().InUse(), 0u);
  std::string body;
  ASSERT_TRUE(platform::ReadFile(copy->BodyPath(), body));
  EXPECT_EQ(body, "body");
  copy->DropOptions();
  EXPECT_EQ(copy->Options()->priority, 130);

  // The index cannot be written: every message stays, with its files.
  store::test_hooks::SetFailAfter(1);
  EXPECT_FALSE(store.DeleteSelected(FolderId::Sent, {2, 3}));
  store::test_hooks::SetFailAfter(0);
  EXPECT_EQ(sent->Count(), 4);
  EXPECT_TRUE(platform::FileExists(Root() + u"2.DAT"));
  EXPECT_TRUE(platform::FileExists(Root() + u"3.DAT"));

  // The index (and its backup) is written once for all the messages, not once each.
  store::test_hooks::SetFailAfter(0);
  ASSERT_TRUE(store.DeleteSelected(FolderId::Sent, {2, 3, 4}));
  EXPECT_LE(store::test_hooks::SetFailAfter(0), 4);
  EXPECT_EQ(sent->Count(), 1);
  EXPECT_TRUE(platform::FileExists(Root() + u"1.DAT"));
  EXPECT_FALSE(platform::FileExists(Root() + u"3.DAT"));
  // An ID that is not there fails the call but not the others.
  const std::uint32_t kept = 1;
  EXPECT_FALSE(store.DeleteSelected(FolderId::Sent, {99, kept}));
  EXPECT_EQ(sent->Count(), 0);
}

// A program stopped after a delete wrote the index but before the files went leaves them
// behind; the journal the delete wrote first has the next open remove them, and nothing else.
TEST_F(MessageFilesTest, ADeleteStoppedBeforeItsFilesWentIsFinishedAtTheNextOpen) {
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    for (int i = 0; i < 3; ++i) {
      auto entry = MakeEntry(store, 0x10001, u"s");
      ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
      store.Folder(FolderId::Inbox)->Add(std::move(entry));
    }
    ASSERT_TRUE(store.Folder(FolderId::Inbox)->Save());
    ASSERT_TRUE(store.DeleteSelected(FolderId::Inbox, {1}));
    std::vector<platform::DirectoryEntry> journals;
    ASSERT_TRUE(platform::ListDirectory(Root(), journals, u"*.deleting"));
    EXPECT_TRUE(journals.empty()) << "a finished delete leaves no journal";
    // As if stopped there: message 1's file is back; 2 is still listed though its journal
    // names it; the journal naming 3 was cut short, so its index was never written.
    ASSERT_TRUE(platform::WriteFile(Root() + u"1.DAT", "body"));
    ASSERT_TRUE(platform::WriteFile(Root() + u"77-1.deleting", "1\n2\nend\n"));
    ASSERT_TRUE(platform::WriteFile(Root() + u"77-2.deleting", "3\n"));
  }
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_EQ(store.Folder(FolderId::Inbox)->Count(), 2);
  EXPECT_FALSE(platform::PathExists(Root() + u"1.DAT"));
  EXPECT_TRUE(platform::FileExists(Root() + u"2.DAT"));
  EXPECT_TRUE(platform::FileExists(Root() + u"3.DAT"));
  EXPECT_FALSE(platform::PathExists(Root() + u"77-1.deleting"));
  EXPECT_FALSE(platform::PathExists(Root() + u"77-2.deleting"));
}

TEST_F(MessageFilesTest, PushBodiesAreClassifiedIntoTheInbox) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  auto note = NotificationPdu();
  std::uint32_t id = store.PushReceived(note.data(), note.size());
  ASSERT_NE(id, 0u);
  MessageSummary s(nullptr);
  ASSERT_TRUE(inbox->CopySummary(id, s));
  EXPECT_EQ(s.MessageType(), kTypeNotification);
  EXPECT_EQ(s.StateFlags(), 0x1010002u);
  EXPECT_EQ(s.Size(), 256u);
  EXPECT_EQ(s.Subject(), u"hi");
  EXPECT_EQ(s.ContentLocation(), u"http://mmsc/1");
  EXPECT_EQ(s.TransactionId(), u"T1");
  EXPECT_EQ(platform::FileSize(Root() + u"1.TAG"), 37);

  auto report = DeliveryPdu();
  std::uint32_t reportId = store.PushReceived(report.data(), report.size());
  ASSERT_NE(reportId, 0u);
  ASSERT_TRUE(inbox->CopySummary(reportId, s));
  EXPECT_EQ(s.MessageType(), kTypeDeliveryReport);
  EXPECT_EQ(s.MmsMessageId(), u"mid-7");
  EXPECT_EQ(inbox->UnreadCount(), 2);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 2u);

  std::vector<std::uint8_t> refused[] = {{0x8C}, {0x8C, 0x84, 0x8D, 0x90}, {0x01, 0x02, 0x03}};
  for (auto& body : refused) EXPECT_EQ(store.PushReceived(body.data(), body.size()), 0u);
  EXPECT_EQ(inbox->Count(), 2);
}

TEST_F(MessageFilesTest, ReadReportsAreFiledAndSubjectsReadByTheirCharset) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  // m-read-orig-ind: +4977 deleted message "mid-9" without reading it.
  std::vector<std::uint8_t> read = {0x8C, 0x88, 0x8D, 0x91, 0x85, 0x01, 0x09, 0x89, 0x11, 0x80};
  Append(read, "+4977/TYPE=PLMN");
  read.insert(read.end(), {0x8B});
  Append(read, "mid-9");
  read.insert(read.end(), {0x97});
  Append(read, "+4911/TYPE=PLMN");
  read.insert(read.end(), {0x9B, 0x81});
  const std::uint32_t id = store.PushReceived(read.data(), read.size());
  ASSERT_NE(id, 0u);
  MessageSummary s(nullptr);
  ASSERT_TRUE(inbox->CopySummary(id, s));
  EXPECT_EQ(s.MessageType(), kTypeReadReport);
  EXPECT_EQ(s.To(), u"+4977");
  EXPECT_EQ(s.MmsMessageId(), u"mid-9");
  EXPECT_EQ(inbox->UnreadCount(), 1);
  MessageEntry* entry = inbox->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->Options(), nullptr);
  EXPECT_EQ(entry->Options()->status, 0x81);
  EXPECT_EQ(entry->Options()->date, 9u);
  inbox->Release(entry);

  // A notification whose subject an old phone wrote in ISO-8859-1, quoted.
  std::vector<std::uint8_t> note = {0x8C, 0x82, 0x98};
  Append(note, "T2");
  note.insert(note.end(), {0x96, 0x08, 0x84, 0x7F, 'G', 'r', 0xFC, 0xDF, 'e', 0x00, 0x83});
  Append(note, "http://mmsc/2");
  const std::uint32_t noteId = store.PushReceived(note.data(), note.size());
  ASSERT_NE(noteId, 0u);
  ASSERT_TRUE(inbox->CopySummary(noteId, s));
  EXPECT_EQ(s.Subject(), u"Gr\u00FC\u00DFe");
}

// Every write and rename of a save can fail; whatever fails, each folder must load again
// with all its messages, old or new, and never fewer.
TEST_F(MessageFilesTest, FailedWritesNeverLoseMessages) {
  auto ids = [](MessageFolder* folder) {
    std::set<std::uint32_t> out;
    folder->ForEach([&](MessageEntry& e) {
      out.insert(e.Id());
      return true;
    });
    return out;
  };
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    for (int f = 0; f < kFolderCount; ++f)
      for (int i = 0; i < 2; ++i)
        store.Folder(static_cast<FolderId>(f))->Add(MakeEntry(store, 0x10001, u"kept"));
    ASSERT_TRUE(store.SaveAll());
  }
  for (int n = 1;; ++n) {
    std::array<std::set<std::uint32_t>, kFolderCount> before, after;
    int operations = 0;
    {
      MessageStore store;
      ASSERT_TRUE(store.Open(Root()));
      for (int f = 0; f < kFolderCount; ++f) before[f] = ids(store.Folder(static_cast<FolderId>(f)));
      store.Folder(FolderId::Draft)->Add(MakeEntry(store, 0x10002, u"new"));
      test_hooks::SetFailAfter(n);
      store.Move(*before[2].begin(), FolderId::Draft, FolderId::Outbox);
      store.SaveAll();
      // The destructor's saves fail as well: the process is dead from the n-th operation on.
    }
    operations = test_hooks::SetFailAfter(0);
    MessageStore reopened;
    ASSERT_TRUE(reopened.Open(Root()));
    std::set<std::uint32_t> all;
    for (int f = 0; f < kFolderCount; ++f) {
      after[f] = ids(reopened.Folder(static_cast<FolderId>(f)));
      all.insert(after[f].begin(), after[f].end());
    }
    for (int f = 0; f < kFolderCount; ++f)
      for (std::uint32_t id : before[f])
        EXPECT_TRUE(all.count(id)) << "fault " << n << " lost message " << id;
    if (operations < n) {
      // Two index saves per folder and a move: well over a dozen writes and renames.
      EXPECT_GT(n, 16);
      break;
    }
    ASSERT_LT(n, 200);
  }
}

}  // namespace
}  // namespace store
