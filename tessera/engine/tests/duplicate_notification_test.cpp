// Notifications that come again (the network resends one whose answer it did not get): the
// Inbox keeps one entry per message, the message is fetched once, and the repeat is answered.
#include "engine_test_util.h"

namespace engine::testing {
namespace {

using store::FolderId;

class DuplicateTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    host_.Worker()->operations.retrieve = [this](transport::Mm1Engine*, std::string_view location,
                                                 std::string_view, const std::string*,
                                                 std::u16string_view output, mms::RetrieveResult* result) {
      fetched_.push_back(std::string(location));
      std::ofstream(platform::NativePath(output), std::ios::binary) << std::string(300, 'p');
      result->subject = mms::StringValue{"fetched", 106};
      return 0;
    };
    host_.Worker()->operations.notifyResponse = [this](transport::Mm1Engine*, std::string_view tid) {
      deferred_.push_back(std::string(tid));
      return 0;
    };
    host_.Worker()->operations.acknowledgeAgain = [this](transport::Mm1Engine*, std::string_view tid) {
      answeredAgain_.push_back(std::string(tid));
      return 0;
    };
  }

  std::uint32_t Push(std::string_view tid, std::string_view location, bool* repeated = nullptr) {
    std::vector<std::uint8_t> body = Notification(tid, location);
    return store_.PushReceived(body.data(), body.size(), repeated);
  }
  int InboxCount() {
    int n = 0;
    store_.Folder(FolderId::Inbox)->ForEach([&](store::MessageEntry&) {
      ++n;
      return true;
    });
    return n;
  }
  // Every posted message handled and no job left.
  bool Idle() {
    return PumpUntil(
        [&] { return host_.Queue()->Running() == nullptr && host_.Queue()->PendingCount() == 0; });
  }

  std::vector<std::string> fetched_, deferred_, answeredAgain_;
};

TEST_F(DuplicateTest, APushDeliveredTwiceIsFiledAndFetchedOnce) {
  bool repeated = true;
  const std::uint32_t id = Push("T1", "http://mmsc/m/1", &repeated);
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(repeated);
  // The same notification again before anything ran, then one with a new transaction id for
  // the same location: both are the message already filed.
  EXPECT_EQ(Push("T1", "http://mmsc/m/1", &repeated), id);
  EXPECT_TRUE(repeated);
  EXPECT_EQ(Push("T1-resent", "http://mmsc/m/1", &repeated), id);
  EXPECT_TRUE(repeated);
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobFetch) == 1; }));
  ASSERT_TRUE(Idle());
  EXPECT_EQ(InboxCount(), 1);
  EXPECT_EQ(fetched_.size(), 1u);
  EXPECT_EQ(Summary(FolderId::Inbox, id).MessageType(), store::kTypeMultimedia);

  // A different message is still filed.
  const std::uint32_t other = Push("T2", "http://mmsc/m/2", &repeated);
  EXPECT_FALSE(repeated);
  EXPECT_NE(other, id);
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobFetch) == 2; }));
  EXPECT_EQ(InboxCount(), 2);
}

TEST_F(DuplicateTest, APushResentAfterTheFetchIsAnsweredAgainAndNotFiled) {
  const std::uint32_t id = Push("T3", "http://mmsc/m/3");
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobFetch) == 1; }));
  // The user has read it meanwhile.
  store::MessageEntry* entry = store_.Folder(FolderId::Inbox)->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  entry->Summary().SetStateFlags((entry->Summary().StateFlags() & 0xFFFF0000u) | 1);
  store_.Folder(FolderId::Inbox)->Release(entry);
  const std::uint32_t readState = Summary(FolderId::Inbox, id).StateFlags();

  bool repeated = false;
  EXPECT_EQ(Push("T3", "http://mmsc/m/3", &repeated), id);
  EXPECT_TRUE(repeated);
  ASSERT_TRUE(PumpUntil([&] { return Finished(kJobAcknowledgeAgain) == 1; }));
  ASSERT_TRUE(Idle());
  ASSERT_EQ(answeredAgain_.size(), 1u);
  EXPECT_EQ(answeredAgain_[0], "T3");
  EXPECT_EQ(fetched_.size(), 1u);  // never fetched (or filed) a second time
  EXPECT_EQ(InboxCount(), 1);
  store::MessageSummary s = Summary(FolderId::Inbox, id);
  EXPECT_EQ(s.MessageType(), store::kTypeMultimedia);
  EXPECT_EQ(s.StateFlags(), readState);
  EXPECT_EQ(s.Subject(), u"fetched");
  EXPECT_EQ(s.Size(), 300u);
}

TEST_F(DuplicateTest, InDeferredModeARepeatIsAnsweredDeferredUntilTheFetch) {
  SetDword(kMm1Key, u"SendDelayedNotifyResp", 1);
  const std::uint32_t id = Push("T4", "http://mmsc/m/4");
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobNotifyResponse) == 1; }));
  bool repeated = false;
  EXPECT_EQ(Push("T4", "http://mmsc/m/4", &repeated), id);
  EXPECT_TRUE(repeated);
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobNotifyResponse) == 2; }));
  ASSERT_TRUE(Idle());
  EXPECT_EQ(deferred_, (std::vector<std::string>{"T4", "T4"}));
  EXPECT_TRUE(fetched_.empty());
  EXPECT_EQ(Summary(FolderId::Inbox, id).MessageType(), store::kTypeNotification);
  EXPECT_EQ(Summary(FolderId::Inbox, id).StateFlags(), 0x1010002u);

  PostMessage(window_, store::kMsgNavigate, store::kNavigateQueueFetch, id);
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobFetch) == 1; }));
  EXPECT_EQ(Push("T4", "http://mmsc/m/4", &repeated), id);
  ASSERT_TRUE(PumpUntil([&] { return Finished(kJobAcknowledgeAgain) == 1; }));
  EXPECT_EQ(answeredAgain_, std::vector<std::string>{"T4"});
  EXPECT_EQ(InboxCount(), 1);
}

TEST_F(DuplicateTest, DeletingAMessageWhoseAnswerIsQueuedWithdrawsTheAnswer) {
  const std::uint32_t id = Push("T5", "http://mmsc/m/5");
  ASSERT_TRUE(PumpUntil([&] { return Finished(store::kJobFetch) == 1; }));
  // Hold the answer back: the bearer is down and never comes up.
  host_.Queue()->mayRun = [](const TransferJob&) { return false; };
  Push("T5", "http://mmsc/m/5");
  ASSERT_TRUE(PumpUntil([&] { return host_.Queue()->IsPending(id); }));
  ASSERT_TRUE(store_.Delete(FolderId::Inbox, id));
  ASSERT_TRUE(PumpUntil([&] { return !host_.Queue()->IsPending(id); }));
  EXPECT_EQ(InboxCount(), 0);
  EXPECT_TRUE(answeredAgain_.empty());
}

}  // namespace
}  // namespace engine::testing
