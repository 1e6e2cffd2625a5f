// Index files against hand-written bytes, and the options file.
#include <gtest/gtest.h>

#include "store/message_store.h"

namespace store {
namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string out;
  for (unsigned v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string U32(std::uint32_t v) {
  return Bytes({v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, v >> 24});
}

TEST(IndexFile, LayoutMatchesHandWrittenBytes) {
  MessageEntry entry(17, u"/r/");
  MessageSummary& s = entry.Summary();
  s.SetMessageType(kTypeNotification);
  s.SetStateFlags(0x1010002);
  s.SetExtraFlags(4);
  s.SetSize(300);
  s.SetDate(0x01020304);
  s.SetFrom(u"AB");
  s.SetSubject(u"x");
  s.SetTransactionId(u"T");
  std::string expected = U32(1) + U32(0) + U32(1) + U32(16)     // version, Inbox, one record, first at 16
                         + U32(60 + 6 + 4 + 4)                  // record length
                         + U32(17) + U32(3)                     // message ID, notification
                         + U32(0x10002)                         // transfer bits not kept outside the Outbox
                         + U32(4) + U32(300) + U32(0x01020304)  // ExtraFlags, size, date
                         + U32(6) + U32(0) + U32(4) + U32(0)    // From, To, Subject, Content-Location
                         + U32(0) + U32(0)                      // reserved
                         + U32(4) + U32(0)                      // Transaction-ID, Message-ID
                         + Bytes({'A', 0, 'B', 0, 0, 0, 'x', 0, 0, 0, 'T', 0, 0, 0});
  EXPECT_EQ(BuildIndex(FolderId::Inbox, {&s}), expected);

  // The Outbox keeps the state as held in memory.
  std::string outbox = BuildIndex(FolderId::Outbox, {&s});
  EXPECT_EQ(outbox.substr(4, 4), U32(1));
  EXPECT_EQ(outbox.substr(16 + 12, 4), U32(0x1010002));

  std::vector<std::unique_ptr<MessageEntry>> read;
  std::uint32_t maxId = 5;
  ASSERT_TRUE(ParseIndex(expected, u"/r/", read, maxId));
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(maxId, 17u);
  const MessageSummary& r = read[0]->Summary();
  EXPECT_EQ(r.MessageId(), 17u);
  EXPECT_EQ(r.MessageType(), kTypeNotification);
  EXPECT_EQ(r.StateFlags(), 0x10002u);
  EXPECT_EQ(r.ExtraFlags(), 4u);
  EXPECT_EQ(r.Size(), 300u);
  EXPECT_EQ(r.Date(), 0x01020304u);
  EXPECT_EQ(r.From(), u"AB");
  EXPECT_EQ(r.To(), u"");
  EXPECT_EQ(r.Subject(), u"x");
  EXPECT_EQ(r.TransactionId(), u"T");
  EXPECT_EQ(read[0]->StoreDirectory(), u"/r/");
}

TEST(IndexFile, EmptyFolderIsHeaderOnly) {
  EXPECT_EQ(BuildIndex(FolderId::Sent, {}), U32(1) + U32(3) + U32(0) + U32(16));
}

TEST(IndexFile, BadFilesAreRefusedWithoutOverrun) {
  std::vector<std::unique_ptr<MessageEntry>> read;
  std::uint32_t maxId = 0;
  EXPECT_FALSE(ParseIndex(U32(2) + U32(0) + U32(0) + U32(16), u"/", read, maxId));  // version
  EXPECT_FALSE(ParseIndex(U32(1) + U32(0), u"/", read, maxId));                     // short header
  EXPECT_FALSE(ParseIndex(U32(1) + U32(0) + U32(1) + U32(16), u"/", read, maxId));  // record missing
  EXPECT_FALSE(ParseIndex(U32(1) + U32(0) + U32(0) + U32(99), u"/", read, maxId));  // offset past end

  MessageEntry entry(3, u"/");
  entry.Summary().SetSubject(u"hello");
  std::string good = BuildIndex(FolderId::Draft, {&entry.Summary()});
  std::string longString = good;
  longString.replace(16 + 36, 4, U32(400));  // Subject longer than the string area
  EXPECT_FALSE(ParseIndex(longString, u"/", read, maxId));
  std::string shortRecord = good;
  shortRecord.replace(16, 4, U32(12));  // record length below the fixed part
  EXPECT_FALSE(ParseIndex(shortRecord, u"/", read, maxId));
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(maxId, 0u);
  EXPECT_TRUE(ParseIndex(good, u"/", read, maxId));
}

TEST(IndexFile, LongSummariesAreCutToTheRecordBuffer) {
  MessageEntry entry(1, u"/");
  entry.Summary().SetFrom(std::u16string(4000, u'f'));
  entry.Summary().SetSubject(std::u16string(4000, u's'));
  entry.Summary().SetMmsMessageId(u"id");
  std::string bytes = BuildIndex(FolderId::Inbox, {&entry.Summary()});
  EXPECT_LE(bytes.size(), 16 + 60 + kRecordStringBytes);
  std::vector<std::unique_ptr<MessageEntry>> read;
  std::uint32_t maxId = 0;
  ASSERT_TRUE(ParseIndex(bytes, u"/", read, maxId));
  EXPECT_EQ(read[0]->Summary().From().size(), 4000u);
  EXPECT_EQ(read[0]->Summary().Subject().size() + 4000 + 6, kRecordStringBytes / 2);
}

TEST(OptionsFile, ExactlyThirtySevenBytesWithMarker) {
  SendOptionsRecord record;
  record.status = 1;
  record.deliveryReport = 1;
  record.date = 0xAABBCCDD;
  std::string bytes = EncodeOptionsFile(record);
  ASSERT_EQ(bytes.size(), kOptionsFileSize);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x99);
  EXPECT_EQ(bytes.substr(1, 4), Bytes({1, 128, 129, 129}));
  EXPECT_EQ(bytes.substr(33), U32(37));
  EXPECT_EQ(DecodeOptionsFile(bytes), record);

  EXPECT_FALSE(DecodeOptionsFile(bytes + Bytes({0})));  // one byte more, length still 37
  std::string badMarker = bytes;
  badMarker[0] = 0x98;
  EXPECT_FALSE(DecodeOptionsFile(badMarker));
  EXPECT_FALSE(DecodeOptionsFile(Bytes({0x99, 5, 0, 0, 0})));  // consistent but no record
  EXPECT_FALSE(DecodeOptionsFile(""));
}

TEST(StateRules, SendFailuresFollowTheRetryLimit) {
  RetrySettings three;
  three.tryDefault = 3;
  SendFailure first = AfterSendFailure(0, 0, three);
  EXPECT_EQ(first.priority, 1u);
  EXPECT_EQ(first.minute, 60u);
  EXPECT_FALSE(first.final);
  SendFailure second = AfterSendFailure(1, 60, three);
  EXPECT_EQ(second.minute, 60u);
  EXPECT_FALSE(second.final);
  EXPECT_TRUE(AfterSendFailure(2, 60, three).final);

  three.intervals = {5, 10, 15};
  EXPECT_EQ(AfterSendFailure(1, 5, three).minute, 10u);

  RetrySettings none;
  SendFailure only = AfterSendFailure(0, 0, none);
  EXPECT_TRUE(only.final);
  EXPECT_EQ(only.priority, 1u);
  EXPECT_EQ(only.minute, 0u);
}

TEST(StateRules, TableOfEvents) {
  EXPECT_EQ(StateAfter(StateEvent::QueuedSend), 0x20000u);
  EXPECT_EQ(StateAfter(StateEvent::QueuedFetch), 0x1020000u);
  EXPECT_EQ(StateAfter(StateEvent::StartedSend), 0x40000u);
  EXPECT_EQ(StateAfter(StateEvent::StartedFetch), 0x1040000u);
  EXPECT_EQ(StateAfter(StateEvent::SendFailedRetry), 0x100000u);
  EXPECT_EQ(StateAfter(StateEvent::SendFailedFinal), 0x80000u);
  EXPECT_EQ(StateAfter(StateEvent::FetchFailed), 0x1010000u);
  EXPECT_EQ(StateAfter(StateEvent::NotifyResponseFinished), 0x1010000u);
  EXPECT_EQ(StateAfter(StateEvent::BackToDraft), 0u);
}

TEST(StateRules, OutboxPassInBothModes) {
  // AutoResend on: in progress or complete start afresh; failed ones get one more attempt.
  OutboxAction a = OutboxPassAction(0x40002, true, 3);
  EXPECT_TRUE(a.queue);
  EXPECT_FALSE(a.keepState);
  a = OutboxPassAction(0x80002, true, 3);
  EXPECT_TRUE(a.queue && a.keepState);
  EXPECT_EQ(a.priority, 3u);
  EXPECT_EQ(a.minute, 0u);
  EXPECT_EQ(a.plainState, 0x20002u);
  EXPECT_TRUE(AfterSendFailure(*a.priority, 0, RetrySettings{3, {}}).final);
  a = OutboxPassAction(0x100002, true, 3);
  EXPECT_TRUE(a.queue && a.keepState);
  EXPECT_FALSE(a.plainState);

  // AutoResend off: failed ones stay; the rest wait one minute.
  EXPECT_FALSE(OutboxPassAction(0x80002, false, 3).queue);
  a = OutboxPassAction(0x40001, false, 3);
  EXPECT_TRUE(a.queue && a.keepState);
  EXPECT_EQ(a.plainState, 0x100001u);
  EXPECT_EQ(a.minute, 1u);
}

}  // namespace
}  // namespace store
