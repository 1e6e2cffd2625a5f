// The transfer queue, the worker and the logs, driven through the main window's messages
// with scripted MM1 operations.
#include "engine_test_util.h"

namespace engine::testing {
namespace {

using store::FolderId;

class TransferTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    host_.Worker()->operations.send = [this](transport::Mm1Engine*, std::u16string_view path,
                                              const mms::SendRequest* request, std::string* id) {
      sentTo_.push_back(request->to);
      sentPaths_.push_back(std::u16string(path));
      if (gate_) WaitForSingleObject(gate_, 10000);
      *id = "mid-" + std::to_string(sentTo_.size());
      return sendResult_.load();
    };
  }
  void TearDown() override {
    if (gate_) {
      SetEvent(gate_);
      EngineFixture::TearDown();
      CloseHandle(gate_);
      return;
    }
    EngineFixture::TearDown();
  }
  std::vector<std::string> sentTo_;
  std::vector<std::u16string> sentPaths_;
  std::atomic<int> sendResult_{0};
  std::atomic<int> cancelled_{0};
  HANDLE gate_ = nullptr;
};

TEST_F(TransferTest, SendReachesSentAndLogsTheAttempt) {
  const std::uint32_t id = ComposeAndSend(u"Hi", u"+4420");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, id); }));
  store::MessageSummary s = Summary(FolderId::Sent, id);
  EXPECT_EQ(s.StateFlags(), 0x10002u);
  EXPECT_EQ(s.MmsMessageId(), u"mid-1");
  EXPECT_FALSE(Holds(FolderId::Outbox, id));
  ASSERT_EQ(sentTo_.size(), 1u);
  EXPECT_EQ(sentTo_[0], "+4420");
  EXPECT_EQ(connects_.load(), 1);
  ASSERT_GE(events_.size(), 2u);
  EXPECT_EQ(events_[0].kind, TransferEvent::Kind::JobStarted);
  EXPECT_EQ(events_[0].jobKind, 1);
  EXPECT_EQ(events_[0].messageId, id);

  const std::string package = platform::Utf16ToUtf8(sentPaths_[0]);
  EXPECT_EQ(ReadAll(logDir_ + u"/Send.txt"),
            "Start Sending MMS\r\nSubject is : Hi\r\nFrom is : NULL\r\nTo is : +4420\r\nSend Result : 0\r\n"
            "Mime Package : " + package + "\r\nMsg ID : mid-1\r\n");
}

TEST_F(TransferTest, EachSendLeavesOnlyItsOwnLog) {
  const std::uint32_t first = ComposeAndSend(u"First", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, first); }));
  sendResult_ = 454;
  const std::uint32_t second = ComposeAndSend(u"Second", u"+2");
  ASSERT_TRUE(PumpUntil([&] { return Finished(1) == 2; }));
  const std::string log = ReadAll(logDir_ + u"/Send.txt");
  EXPECT_EQ(log.find("First"), std::string::npos) << log;
  EXPECT_EQ(log.rfind("Start Sending MMS\r\nSubject is : Second\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("Send Result : 454\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Msg ID"), std::string::npos) << log;
  // With AutoDisconnect off the bearer that is up serves the second job as well.
  EXPECT_EQ(connects_.load(), 1);
  EXPECT_TRUE(Holds(FolderId::Outbox, second));
}

TEST_F(TransferTest, FailedSendWaitsForItsRetryThenFailsForGood) {
  SetDword(kTryKey, u"TryDefault", 2);
  sendResult_ = 454;
  const std::uint32_t id = ComposeAndSend(u"Retry", u"+3");
  ASSERT_TRUE(PumpUntil([&] { return Finished(1) == 1; }));
  store::MessageEntry* entry = Entry(FolderId::Outbox, id);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->Summary().StateFlags(), 0x100002u);  // waiting for retry
  EXPECT_EQ(entry->Summary().Priority(), 1u);
  EXPECT_EQ(entry->Summary().Minute(), 60u);
  EXPECT_TRUE(host_.Queue()->IsPending(id));
  EXPECT_TRUE(host_.Queue()->TimerRunning());
  PumpFor(100);
  EXPECT_EQ(sentTo_.size(), 1u);  // not due yet

  // A minute passes: the delay counts down by one.
  host_.Queue()->TimerTick(kRetryTimerId + 1);  // not the queue's timer
  EXPECT_EQ(entry->Summary().Minute(), 60u);
  SendMessage(window_, WM_TIMER, kRetryTimerId, 0);
  EXPECT_EQ(entry->Summary().Minute(), 59u);

  // Queuing it again makes it due at once; the second failure is final.
  ASSERT_TRUE(host_.QueueMessage(FolderId::Outbox, id, store::kJobSend));
  ASSERT_TRUE(PumpUntil([&] { return Finished(1) == 2; }));
  EXPECT_EQ(entry->Summary().StateFlags(), 0x80002u);
  EXPECT_EQ(entry->Summary().Priority(), 2u);
  EXPECT_FALSE(host_.Queue()->IsPending(id));
}

TEST_F(TransferTest, QueueRules) {
  gate_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  const std::uint32_t a = ComposeAndSend(u"A", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return host_.Queue()->Running() != nullptr; }));
  store::MessageEntry* running = host_.Queue()->Running()->entry;
  EXPECT_EQ(running->Summary().StateFlags(), 0x40002u);

  // The message being sent is left alone.
  EXPECT_FALSE(host_.Queue()->Queue(running, store::kJobSend, false));
  EXPECT_EQ(host_.Queue()->PendingCount(), 0u);

  // A second message waits five minutes; queuing it again makes it due.
  const std::uint32_t b = ComposeAndSend(u"B", u"+2");
  store::MessageEntry* waiting = nullptr;
  store_.Folder(FolderId::Outbox)->ForEach([&](store::MessageEntry& e) {
    if (e.Id() == b) waiting = &e;
    return true;
  });
  ASSERT_NE(waiting, nullptr);
  waiting->Summary().SetMinute(5);
  waiting->Summary().SetStateFlags(0x100002);
  EXPECT_TRUE(host_.Queue()->IsPending(b));
  SetEvent(gate_);
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, a); }));
  PumpFor(100);
  EXPECT_EQ(sentTo_.size(), 1u);  // b still waits
  EXPECT_TRUE(host_.Queue()->Enqueue(waiting, store::kJobSend, true));
  EXPECT_EQ(waiting->Summary().Minute(), 0u);
  EXPECT_EQ(waiting->Summary().StateFlags(), 0x20002u);
  EXPECT_EQ(host_.Queue()->PendingCount(), 1u);
  host_.Queue()->StartNext();
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, b); }));
  EXPECT_EQ(connects_.load(), 1);
}

TEST_F(TransferTest, AutoDisconnectAsksForAConnectionPerJob) {
  SetDword(kUiKey, u"AutoDisconnect", 1);
  const std::uint32_t a = ComposeAndSend(u"A", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, a); }));
  const std::uint32_t b = ComposeAndSend(u"B", u"+2");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, b); }));
  EXPECT_EQ(connects_.load(), 2);
}

TEST_F(TransferTest, ConnectedBearerStartsTheJobWithoutAConnectionRequest) {
  const std::uint32_t a = ComposeAndSend(u"A", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, a); }));
  ASSERT_EQ(host_.Queue()->Bearer()->Status(), CONNMGR_STATUS_CONNECTED);
  gate_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ComposeAndSend(u"B", u"+2");
  // Handed to the worker inside the queuing call, before any message ran.
  ASSERT_NE(host_.Queue()->Running(), nullptr);
  EXPECT_EQ(connects_.load(), 1);
  SetEvent(gate_);
  ASSERT_TRUE(PumpUntil([&] { return Finished(1) == 2; }));
}

TEST_F(TransferTest, DeletingTheRunningMessageCancelsItsJob) {
  // The first send runs until the engine's cancel hook says stop; later ones succeed.
  host_.Worker()->operations.send = [this](transport::Mm1Engine* engine, std::u16string_view,
                                           const mms::SendRequest*, std::string* mid) {
    if (cancelled_.load() == 0) {
      while (engine->cancelHook.function(1, engine->cancelHook.value) != 0) Sleep(1);
      cancelled_ = 1;
      return 1;
    }
    *mid = "m";
    return 0;
  };
  const std::uint32_t id = ComposeAndSend(u"Gone", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return host_.Queue()->Running() != nullptr; }));
  ASSERT_TRUE(store_.Delete(FolderId::Outbox, id));
  EXPECT_EQ(cancelled_.load(), 1);
  EXPECT_EQ(host_.Queue()->Running(), nullptr);
  PumpFor(200);
  EXPECT_EQ(Finished(1), 0);  // a cancelled job posts nothing
  EXPECT_FALSE(Holds(FolderId::Outbox, id));

  // The worker still takes the next job.
  const std::uint32_t next = ComposeAndSend(u"Next", u"+2");
  ASSERT_TRUE(PumpUntil([&] { return Holds(FolderId::Sent, next); }));
}

TEST_F(TransferTest, WithdrawingAPendingJobAndStoppingAnIdleWorker) {
  gate_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  ComposeAndSend(u"A", u"+1");
  ASSERT_TRUE(PumpUntil([&] { return host_.Queue()->Running() != nullptr; }));
  const std::uint32_t b = ComposeAndSend(u"B", u"+2");
  EXPECT_TRUE(host_.Queue()->IsPending(b));
  ASSERT_TRUE(store_.Delete(FolderId::Outbox, b));
  EXPECT_FALSE(host_.Queue()->IsPending(b));
  SetEvent(gate_);
  ASSERT_TRUE(PumpUntil([&] { return Finished(1) == 1; }));
  PumpFor(100);
  EXPECT_EQ(sentTo_.size(), 1u);

  TransferWorker idle;
  ASSERT_TRUE(idle.Start(nullptr, nullptr));
  idle.Cancel();  // nothing running: returns at once
  const DWORD start = GetTickCount();
  idle.Stop();
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_FALSE(idle.Started());
}

class ReceiveTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    host_.Worker()->operations.retrieve = [this](transport::Mm1Engine*, std::string_view location,
                                                 std::string_view tid, const std::string* msisdn,
                                                 std::u16string_view output, mms::RetrieveResult* result) {
      locations_.push_back(std::string(location) + " " + std::string(tid) + " " + (msisdn ? *msisdn : "-"));
      std::ofstream(platform::NativePath(output), std::ios::binary) << std::string(300, 'p');
      result->subject = mms::StringValue{"fetched", 106};
      result->from = "+4411/TYPE=PLMN";
      result->messageId = "remote-1";
      return retrieveResult_.load();
    };
    host_.Worker()->operations.notifyResponse = [this](transport::Mm1Engine*, std::string_view tid) {
      responses_.push_back(std::string(tid));
      return 0;
    };
  }
  std::uint32_t Push(std::string_view tid) {
    std::vector<std::uint8_t> body = Notification(tid, "http://mmsc/m/" + std::string(tid));
    return store_.PushReceived(body.data(), body.size());
  }
  std::vector<std::string> locations_;
  std::vector<std::string> responses_;
  std::atomic<int> retrieveResult_{0};
};

TEST_F(ReceiveTest, NotificationIsFetchedAtOnce) {
  SetText(kPhoneKey, u"OwnNumber", u"+4420");
  const std::uint32_t id = Push("T1");
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(PumpUntil([&] { return Finished(2) == 1; }));
  store::MessageSummary s = Summary(FolderId::Inbox, id);
  EXPECT_EQ(s.MessageType(), store::kTypeMultimedia);
  EXPECT_EQ(s.StateFlags(), 0x10002u);
  EXPECT_EQ(s.Subject(), u"fetched");
  EXPECT_EQ(s.Size(), 300u);
  ASSERT_EQ(locations_.size(), 1u);
  EXPECT_EQ(locations_[0], "http://mmsc/m/T1 T1 +4420");
  const std::string log = ReadAll(logDir_ + u"/Recv.txt");
  EXPECT_EQ(log.rfind("Start Receiving\r\nMsg Url : http://mmsc/m/T1\r\nTrans ID : T1\r\nMime Package : ", 0), 0u)
      << log;
  EXPECT_NE(log.find(".DAT\r\nRecv Result : 0\r\n"), std::string::npos) << log;
  EXPECT_TRUE(responses_.empty());
}

TEST_F(ReceiveTest, FailedFetchLeavesTheNotification) {
  retrieveResult_ = 314;
  const std::uint32_t id = Push("T2");
  ASSERT_TRUE(PumpUntil([&] { return Finished(2) == 1; }));
  store::MessageSummary s = Summary(FolderId::Inbox, id);
  EXPECT_EQ(s.MessageType(), store::kTypeNotification);
  EXPECT_EQ(s.StateFlags(), 0x1010002u);
  EXPECT_NE(ReadAll(logDir_ + u"/Recv.txt").find("Recv Result : 314\r\n"), std::string::npos);
}

TEST_F(ReceiveTest, DeferredModeAnswersFirstAndFetchesOnRequest) {
  SetDword(kMm1Key, u"SendDelayedNotifyResp", 1);
  const std::uint32_t id = Push("T3");
  ASSERT_TRUE(PumpUntil([&] { return Finished(3) == 1; }));
  ASSERT_EQ(responses_.size(), 1u);
  EXPECT_EQ(responses_[0], "T3");
  EXPECT_TRUE(locations_.empty());
  EXPECT_EQ(Summary(FolderId::Inbox, id).StateFlags(), 0x1010002u);
  EXPECT_EQ(Summary(FolderId::Inbox, id).MessageType(), store::kTypeNotification);

  // The user asks for it (navigation code 6).
  PostMessage(window_, store::kMsgNavigate, store::kNavigateQueueFetch, id);
  ASSERT_TRUE(PumpUntil([&] { return Finished(2) == 1; }));
  EXPECT_EQ(Summary(FolderId::Inbox, id).MessageType(), store::kTypeMultimedia);
}

TEST_F(ReceiveTest, DeliveryReportIsFiledWithoutAJob) {
  std::vector<std::uint8_t> pdu = {0x8C, 0x86, 0x8D, 0x90, 0x8B};  // m-delivery-ind, Message-ID
  AppendText(pdu, "mid-7");
  pdu.push_back(0x97);  // To
  AppendText(pdu, "+4455/TYPE=PLMN");
  pdu.insert(pdu.end(), {0x85, 0x01, 0x05, 0x95, 0x81});  // Date 5; status retrieved
  const std::uint32_t id = store_.PushReceived(pdu.data(), pdu.size());
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& e : events_)
      if (e.kind == TransferEvent::Kind::DeliveryReportStored && e.messageId == id) return true;
    return false;
  }));
  EXPECT_EQ(host_.Queue()->PendingCount(), 0u);
  EXPECT_EQ(host_.Queue()->Running(), nullptr);
}

}  // namespace
}  // namespace engine::testing
