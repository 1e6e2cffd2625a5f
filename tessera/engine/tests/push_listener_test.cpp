// The push listener over a real push router daemon of a temporary device root.

#include "engine/push_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/push.h"
#include "platform_testing/device_root.h"
#include "platform_testing/push_router.h"
#include "store/message_store.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::string contents;
  platform::ReadFile(platform::Utf8ToUtf16(path), contents);
  return contents;
}

// Records every body, and what "Notification.dat" held when the body arrived.
class RecordingHandler : public engine::PushHandler {
 public:
  explicit RecordingHandler(std::string file) : file_(std::move(file)) {}
  void PushArrived(const std::uint8_t* body, std::size_t size) override {
    std::lock_guard lk(m_);
    bodies.emplace_back(reinterpret_cast<const char*>(body), size);
    fileAtArrival.push_back(ReadFile(file_));
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count, int ms = 5000) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] { return bodies.size() >= count; });
  }
  std::vector<std::string> bodies;
  std::vector<std::string> fileAtArrival;

 private:
  std::string file_;
  std::mutex m_;
  std::condition_variable cv_;
};

std::vector<std::uint8_t> MmsPush(const std::string& body) {
  // TID, Push, 3 header octets: application/vnd.wap.mms-message, X-Wap-Application-Id mms.ua.
  std::vector<std::uint8_t> pdu = {0x2A, 0x06, 0x03, 0xBE, 0xAF, 0x84};
  pdu.insert(pdu.end(), body.begin(), body.end());
  return pdu;
}

class PushListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
    if (platform_testing::PushRouterProgram().empty()) GTEST_SKIP() << "pushrouter was not built";
    listener_.SetNotificationDirectory(platform::Utf8ToUtf16(root_.path()));
  }
  platform_testing::ScopedDeviceRoot root_;
  engine::PushListener listener_;
  std::string datFile_ = root_.path() + "/Notification.dat";
  RecordingHandler handler_{datFile_};
};

}  // namespace

TEST_F(PushListenerTest, TwoPushesInQuickSuccessionArriveInOrder) {
  platform_testing::ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  ASSERT_TRUE(listener_.Init(&handler_));
  ASSERT_TRUE(listener_.Start());
  auto first = MmsPush(
      "\x8C\x82\x98"
      "first, the longer one");
  auto second = MmsPush(
      "\x8C\x82\x98"
      "second");
  ASSERT_TRUE(router.SendDatagram(first.data(), first.size()));
  ASSERT_TRUE(router.SendDatagram(second.data(), second.size()));
  ASSERT_TRUE(handler_.WaitFor(2));
  listener_.Stop();
  ASSERT_EQ(handler_.bodies.size(), 2u);
  EXPECT_EQ(handler_.bodies[0],
            "\x8C\x82\x98"
            "first, the longer one");
  EXPECT_EQ(handler_.bodies[1],
            "\x8C\x82\x98"
            "second");
  // The file was written and flushed before each call, and replaced, not appended to.
  EXPECT_EQ(handler_.fileAtArrival[0], handler_.bodies[0]);
  EXPECT_EQ(handler_.fileAtArrival[1], handler_.bodies[1]);
  EXPECT_EQ(ReadFile(datFile_),
            "\x8C\x82\x98"
            "second");
}

TEST_F(PushListenerTest, StopWithoutPushReturnsWithinOneWait) {
  platform_testing::ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  ASSERT_TRUE(listener_.Init(&handler_));
  ASSERT_TRUE(listener_.Start());
  EXPECT_TRUE(listener_.running());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto t0 = std::chrono::steady_clock::now();
  listener_.Stop();
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, std::chrono::milliseconds(2 * engine::kReceiveWaitMs));  // one wait, with room for a loaded machine
  EXPECT_FALSE(listener_.running());
  EXPECT_TRUE(handler_.bodies.empty());
  // Started again, it takes what came while it was stopped.
  auto pdu = MmsPush("while stopped");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(listener_.Start());
  ASSERT_TRUE(handler_.WaitFor(1));
  listener_.Stop();
  EXPECT_EQ(handler_.bodies[0], "while stopped");
}

TEST_F(PushListenerTest, StartFailsWithoutARouterAndWithoutAHandler) {
  EXPECT_FALSE(listener_.Init(nullptr));
  EXPECT_FALSE(listener_.Start());
  ASSERT_TRUE(listener_.Init(&handler_));
  EXPECT_FALSE(listener_.Start());
  EXPECT_FALSE(listener_.running());
  listener_.Stop();  // harmless
}

TEST_F(PushListenerTest, ReceiveAndFetchWithoutTheThread) {
  platform_testing::ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  ASSERT_TRUE(listener_.Init(&handler_));
  std::vector<std::uint8_t> body;
  EXPECT_FALSE(listener_.FetchMessage(&body));  // not open
  ASSERT_TRUE(listener_.Open());
  EXPECT_FALSE(listener_.FetchMessage(&body));  // nothing waits
  auto pdu = MmsPush("direct");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  ASSERT_TRUE(listener_.Receive(&body));
  EXPECT_EQ(std::string(body.begin(), body.end()), "direct");
  listener_.Close();
  EXPECT_FALSE(listener_.Receive(&body));
}

TEST_F(PushListenerTest, RegisterReplacesTheRegistration) {
  ASSERT_TRUE(listener_.Init(&handler_));
  EXPECT_FALSE(listener_.Register(u"", u"/notify"));
  ASSERT_TRUE(listener_.Register(u"/opt/tessera/first", u"/notify"));
  ASSERT_TRUE(listener_.Register(u"/opt/tessera/tessera", u"/notify"));
  platform::push::Registration reg;
  ASSERT_TRUE(platform::push::LookUpRegistration(engine::kMmsPushContentType, &reg));
  EXPECT_EQ(reg.path, u"/opt/tessera/tessera");
  EXPECT_EQ(reg.parameters, u"/notify");
  listener_.Unregister();
  EXPECT_FALSE(platform::push::LookUpRegistration(engine::kMmsPushContentType, &reg));
}

namespace {

// Hands each body to the message store, as the main program's handler does.
class StoreHandler : public engine::PushHandler {
 public:
  explicit StoreHandler(store::MessageStore* s) : store_(s) {}
  void PushArrived(const std::uint8_t* body, std::size_t size) override {
    std::uint32_t id = store_->PushReceived(body, size);
    std::lock_guard lk(m_);
    ids.push_back(id);
    cv_.notify_all();
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, std::chrono::seconds(5), [&] { return ids.size() >= count; });
  }
  std::vector<std::uint32_t> ids;

 private:
  store::MessageStore* store_;
  std::mutex m_;
  std::condition_variable cv_;
};

void Append(std::string& out, std::string_view text) {
  out.append(text);
  out.push_back('\0');
}

}  // namespace

TEST_F(PushListenerTest, ANotificationPushLandsInTheInbox) {
  platform_testing::ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  store::MessageStore messages;
  ASSERT_TRUE(messages.Open(platform::Utf8ToUtf16(root_.path()) + u"/store/"));
  StoreHandler handler(&messages);
  ASSERT_TRUE(listener_.Init(&handler));
  ASSERT_TRUE(listener_.Start());

  std::string note = "\x8C\x82\x98";  // m-notification-ind, Transaction-ID
  Append(note, "T9");
  note += "\x8D\x90\x89\x0A\x80";  // version 1.0; From, address present
  Append(note, "+4912345");
  note += "\x96";  // Subject
  Append(note, "pushed");
  note += std::string("\x8A\x80\x8E\x02\x01\x00", 6);  // personal; size 256
  note += "\x88\x03\x81\x01\x10\x83";                  // expiry +16 s; Content-Location
  Append(note, "http://127.0.0.1/m/9");
  auto pdu = MmsPush(note);
  auto junk = MmsPush("\x01\x02\x03");  // not an MMS PDU: dropped by the store
  ASSERT_TRUE(router.SendDatagram(junk.data(), junk.size()));
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  ASSERT_TRUE(handler.WaitFor(2));
  listener_.Stop();
  EXPECT_EQ(handler.ids[0], 0u);
  ASSERT_NE(handler.ids[1], 0u);
  store::MessageSummary summary(nullptr);
  ASSERT_TRUE(messages.Folder(store::FolderId::Inbox)->CopySummary(handler.ids[1], summary));
  EXPECT_EQ(summary.Subject(), u"pushed");
  EXPECT_EQ(summary.ContentLocation(), u"http://127.0.0.1/m/9");
  EXPECT_EQ(ReadFile(datFile_), note);
}
