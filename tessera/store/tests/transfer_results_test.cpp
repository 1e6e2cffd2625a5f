// The store's side of transfers: results of send and fetch jobs and the Outbox pass.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files.h"
#include "store_test_util.h"

namespace store {
namespace {

constexpr const char16_t* kUiKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI";
constexpr const char16_t* kTryKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\TryLimit";

// Records what the store hands to the engine.
struct RecordingSink : TransferSink {
  bool Queue(MessageEntry* entry, int kind, bool keepState) override {
    jobs.push_back({entry->Id(), kind, keepState});
    return true;
  }
  void JobDone() override { ++done; }
  bool Busy() const override { return busy; }
  bool busy = false;
  struct Job {
    std::uint32_t id;
    int kind;
    bool keepState;
  };
  std::vector<Job> jobs;
  int done = 0;
};

class TransferResultsTest : public StoreTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.Open(Root()));
    store_.SetTransferSink(&sink_);
  }
  std::uint32_t State(FolderId folder, std::uint32_t id) {
    MessageSummary s(nullptr);
    return store_.Folder(folder)->CopySummary(id, s) ? s.StateFlags() : 0xFFFFFFFFu;
  }
  MessageStore store_;
  RecordingSink sink_;
};

TEST_F(TransferResultsTest, DraftToOutboxToSent) {
  auto entry = MakeEntry(store_, 0x10001, u"hello");
  entry->Summary().SetTo(u"+1");
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
  store_.Folder(FolderId::Draft)->Add(std::move(entry));
  ASSERT_TRUE(store_.SendFromDraft(1));
  EXPECT_EQ(store_.Folder(FolderId::Draft)->Count(), 0);
  EXPECT_EQ(State(FolderId::Outbox, 1), 0x20002u);
  ASSERT_EQ(sink_.jobs.size(), 1u);
  EXPECT_EQ(sink_.jobs[0].kind, kJobSend);

  MessageFolder* outbox = store_.Folder(FolderId::Outbox);
  MessageEntry* job = outbox->CheckOut(1);
  EXPECT_EQ(job, nullptr);  // still checked out for the engine
  outbox->ForEach([&](MessageEntry& e) {
    job = &e;
    return false;
  });
  auto request = store_.SendParameters(*job);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->to, "+1");
  EXPECT_EQ(request->subject->text, "hello");
  EXPECT_EQ(request->priority, 129);

  store_.SendFinished(job, true);
  EXPECT_EQ(outbox->Count(), 0);
  EXPECT_EQ(State(FolderId::Sent, 1), 0x10002u);
  EXPECT_EQ(sink_.done, 1);
  EXPECT_TRUE(platform::FileExists(Root() + u"1.DAT"));
}

TEST_F(TransferResultsTest, AProgramStoppedBetweenSentAndOutboxSavesFindsTheMessageOnceInSent) {
  auto entry = MakeEntry(store_, 0x20002, u"sent once");
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
  store_.Folder(FolderId::Outbox)->Add(std::move(entry));
  ASSERT_TRUE(store_.Folder(FolderId::Outbox)->Save());
  std::string outboxBefore;
  ASSERT_TRUE(platform::ReadFile(Root() + u"Outbox.inf", outboxBefore));
  MessageEntry* job = nullptr;
  store_.Folder(FolderId::Outbox)->ForEach([&](MessageEntry& e) {
    job = &e;
    return false;
  });
  store_.SendFinished(job, true);
  // Killed after Sent was written, before the Outbox was: its old index is still there.
  ASSERT_TRUE(platform::WriteFile(Root() + u"Outbox.inf", outboxBefore));
  const timespec old[2] = {{1, 0}, {1, 0}};
  ::utimensat(AT_FDCWD, platform::Utf16ToUtf8(Root() + u"Outbox.inf").c_str(), old, 0);

  MessageStore again;
  ASSERT_TRUE(again.Open(Root()));
  EXPECT_EQ(again.Folder(FolderId::Outbox)->Count(), 0);
  EXPECT_EQ(again.Folder(FolderId::Sent)->Count(), 1);
  EXPECT_TRUE(platform::FileExists(Root() + u"1.DAT"));
  // And so it stays.
  MessageStore third;
  ASSERT_TRUE(third.Open(Root()));
  EXPECT_EQ(third.Folder(FolderId::Outbox)->Count(), 0);
  EXPECT_EQ(third.Folder(FolderId::Sent)->Count(), 1);
}

TEST_F(TransferResultsTest, CloseWaitsForTheWorker) {
  store_.Folder(FolderId::Draft)->Add(MakeEntry(store_, 0x10001, u""));
  sink_.busy = true;
  EXPECT_FALSE(store_.Close());
  EXPECT_FALSE(platform::FileExists(Root() + u"Draft.inf"));
  sink_.busy = false;
  EXPECT_TRUE(store_.Close());
  EXPECT_TRUE(platform::FileExists(Root() + u"Draft.inf"));
  EXPECT_FALSE(store_.QueueTransfer(nullptr, kJobSend));
  EXPECT_FALSE(store_.QueueTransfer(store_.Folder(FolderId::Draft)->CheckOut(1), 7));
}

TEST_F(TransferResultsTest, SentMessagesAreDroppedWhenNotKept) {
  internal::WriteDword(kUiKey, u"SaveSentMessage", 0);
  auto entry = MakeEntry(store_, 0x40002, u"");
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
  store_.Folder(FolderId::Outbox)->Add(std::move(entry));
  store_.SendFinished(store_.Folder(FolderId::Outbox)->CheckOut(1), true);
  EXPECT_EQ(store_.Folder(FolderId::Sent)->Count(), 0);
  EXPECT_FALSE(platform::FileExists(Root() + u"1.DAT"));
}

TEST_F(TransferResultsTest, FailuresRetryUntilTheLimit) {
  internal::WriteDword(kTryKey, u"TryDefault", 3);
  internal::WriteDword(kTryKey, u"Interval2", 15);
  store_.Folder(FolderId::Outbox)->Add(MakeEntry(store_, 0x40002, u""));
  MessageFolder* outbox = store_.Folder(FolderId::Outbox);
  const struct {
    std::uint32_t state;
    DWORD minute;
    std::size_t jobs;
  } expected[] = {{0x100002, 60, 1}, {0x100002, 15, 2}, {0x80002, 60, 2}};
  for (DWORD attempt = 1; attempt <= 3; ++attempt) {
    MessageEntry* entry = outbox->CheckOut(1);
    ASSERT_NE(entry, nullptr);
    store_.SendFinished(entry, false);
    EXPECT_EQ(State(FolderId::Outbox, 1), expected[attempt - 1].state) << attempt;
    EXPECT_EQ(entry->Summary().Priority(), attempt);
    EXPECT_EQ(entry->Summary().Minute(), expected[attempt - 1].minute) << attempt;
    EXPECT_EQ(sink_.jobs.size(), expected[attempt - 1].jobs);
  }
}

TEST_F(TransferResultsTest, FetchAndNotifyResponseResults) {
  auto entry = MakeEntry(store_, 0x1040002, u"");
  entry->Summary().SetMessageType(kTypeNotification);
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), std::string(700, 'x')));
  store_.Folder(FolderId::Inbox)->Add(std::move(entry));
  store_.Folder(FolderId::Inbox)->Add(MakeEntry(store_, 0x1040002, u""));
  MessageFolder* inbox = store_.Folder(FolderId::Inbox);

  MessageEntry* fetched = inbox->CheckOut(1);
  store_.FetchFinished(fetched, true);
  EXPECT_EQ(State(FolderId::Inbox, 1), 0x10002u);
  EXPECT_EQ(fetched->Summary().Size(), 700u);
  store_.FetchFinished(inbox->CheckOut(2), false);
  EXPECT_EQ(State(FolderId::Inbox, 2), 0x1010002u);
  store_.NotifyResponseFinished(inbox->CheckOut(2));
  EXPECT_EQ(State(FolderId::Inbox, 2), 0x1010002u);
  EXPECT_NE(inbox->CheckOut(2), nullptr);  // released again
}

TEST_F(TransferResultsTest, OutboxPassWithAutoResend) {
  internal::WriteDword(kUiKey, u"AutoResend", 1);
  internal::WriteDword(kTryKey, u"TryDefault", 2);
  MessageFolder* outbox = store_.Folder(FolderId::Outbox);
  outbox->Add(MakeEntry(store_, 0x40001, u"in progress"));
  outbox->Add(MakeEntry(store_, 0x80001, u"failed"));
  outbox->Add(MakeEntry(store_, 0x100002, u"waiting"));
  store_.OutboxPass();
  ASSERT_EQ(sink_.jobs.size(), 3u);
  EXPECT_EQ(State(FolderId::Outbox, 1), 0x20002u);
  EXPECT_EQ(State(FolderId::Outbox, 2), 0x20001u);
  EXPECT_EQ(State(FolderId::Outbox, 3), 0x100002u);
  MessageEntry* failed = outbox->CheckOut(2);
  EXPECT_EQ(failed->Summary().Priority(), 2u);
  store_.SendFinished(failed, false);
  EXPECT_EQ(State(FolderId::Outbox, 2), 0x80002u);  // exactly one more attempt
}

TEST_F(TransferResultsTest, OutboxPassWithoutAutoResend) {
  MessageFolder* outbox = store_.Folder(FolderId::Outbox);
  outbox->Add(MakeEntry(store_, 0x40001, u"in progress"));
  outbox->Add(MakeEntry(store_, 0x80001, u"failed"));
  store_.OutboxPass();
  ASSERT_EQ(sink_.jobs.size(), 1u);
  EXPECT_EQ(sink_.jobs[0].id, 1u);
  EXPECT_EQ(State(FolderId::Outbox, 1), 0x100001u);
  EXPECT_EQ(State(FolderId::Outbox, 2), 0x80001u);
  MessageEntry* waiting = outbox->CheckOut(1);
  EXPECT_EQ(waiting->Summary().Minute(), 1u);
}

}  // namespace
}  // namespace store

namespace store {
namespace {

using ComposeTest = StoreTest;

TEST_F(ComposeTest, ComposedMessageLandsInDraftAndOpensAgain) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  std::u16string text = Root() + u"note.txt";
  ASSERT_TRUE(platform::WriteFile(text, "hello there"));
  ComposeRequest request;
  request.recipients = u"+491";
  request.moreRecipients = u"+492";
  request.text = text;
  request.image = Root() + u"missing.jpg";  // absent files are skipped
  std::uint32_t id = store.NewComposedMessage(request, 176, 180);
  ASSERT_NE(id, 0u);
  MessageFolder* draft = store.Folder(FolderId::Draft);
  MessageEntry* entry = draft->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  const MessageSummary& s = entry->Summary();
  EXPECT_EQ(s.To(), u"+491;+492");
  EXPECT_EQ(s.StateFlags(), 0x10002u);
  EXPECT_EQ(s.ExtraFlags(), kExtraComposed);
  EXPECT_EQ(s.MessageType(), kTypeMultimedia);
  EXPECT_EQ(static_cast<std::int64_t>(s.Size()), platform::FileSize(entry->BodyPath()));
  EXPECT_FALSE(entry->HasProtectedContent());
  ASSERT_NE(entry->OpenDocument(), nullptr);
  EXPECT_TRUE(platform::DirectoryExists(entry->PartsDirectoryName()));
  draft->Release(entry);
  EXPECT_FALSE(platform::DirectoryExists(entry->PartsDirectoryName()));

  // The alpha tag replaces the recipients when asked for and configured.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kUiKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t tag[] = u"Me";
  RegSetValueEx(key, u"AlphaTag", 0, REG_SZ, reinterpret_cast<const BYTE*>(tag), sizeof tag);
  RegCloseKey(key);
  request.useAlphaTag = true;
  request.moreRecipients.clear();
  std::uint32_t tagged = store.NewComposedMessage(request, 176, 180);
  MessageSummary summary(nullptr);
  ASSERT_TRUE(draft->CopySummary(tagged, summary));
  EXPECT_EQ(summary.To(), u"Me");
  EXPECT_EQ(summary.ExtraFlags(), kExtraComposed | kExtraAlphaTag);
}

TEST_F(ComposeTest, NotificationsHaveNoDocument) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  auto entry = store.NewEntry();
  entry->Summary().SetMessageType(kTypeNotification);
  EXPECT_EQ(entry->OpenDocument(), nullptr);
  entry->Summary().SetMessageType(kTypeMultimedia);
  EXPECT_EQ(entry->OpenDocument(), nullptr);  // no body file
  EXPECT_FALSE(platform::DirectoryExists(entry->PartsDirectoryName()));
}

}  // namespace
}  // namespace store
