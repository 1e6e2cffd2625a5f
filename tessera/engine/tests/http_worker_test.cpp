// The worker with the real MM1 engine on a profile that speaks HTTP: the same logs, result
// codes and cancel as through the WAP gateway, against a scripted HTTP server on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "engine/transfer_log.h"
#include "engine/transfer_queue.h"
#include "fake_gateway.h"
#include "http_test_server.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "transport/results.h"

namespace engine::testing {
namespace {

using transport_test::HttpAnswer;
using transport_test::HttpRequest;
using transport_test::TestHttpServer;

void SetDword(const char16_t* path, const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

class HttpWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::getenv("TESSERA_ROOT");
    SetDword(transport::kSizeLimitKey, u"SendDefault", 300000);
    SetDword(transport::kSizeLimitKey, u"RecvDefault", 300000);
    SetDword(transport::kTryLimitKey, u"TryDefault", 1);
    transport::Mm1Profile p;
    p.mmscUri.Assign(server_.Url("/mms"));
    p.transport = transport::Mm1Transport::Http;
    ASSERT_EQ(transport::Mm1AddProfile(p, true), 1);
    engine_ = transport::Mm1CreateEngine();
    ASSERT_TRUE(engine_);
    engine_->timeoutMs = 60000;  // only a cancel ends a held transfer in time
    worker_.SetLogDirectory(platform::Utf8ToUtf16(dir_));
    ASSERT_TRUE(worker_.Start(nullptr, engine_.get()));

    // 0x84, multipart/mixed (well-known 0x23), then the body.
    mms::ByteBuffer package = transport_test::Bytes({0x84, 0xA3});
    package.AppendBuffer(transport_test::Pattern(200000, 5));
    std::ofstream(dir_ + "/out.pkg", std::ios::binary)
        .write(reinterpret_cast<const char*>(package.data()), package.length());
  }
  void TearDown() override { worker_.Stop(); }

  std::shared_ptr<TransferJob> SendJob() {
    auto job = std::make_shared<TransferJob>();
    job->kind = store::kJobSend;
    job->packagePath = platform::Utf8ToUtf16(dir_ + "/out.pkg");
    job->sendRequest = mms::SendRequest{};
    job->sendRequest->to = "+4420/TYPE=PLMN";
    job->subject = u"Over the web";
    job->to = u"+4420";
    return job;
  }
  std::string Log(const char16_t* name) {
    std::string text;
    platform::ReadFile(platform::Utf8ToUtf16(dir_) + u"/" + name, text);
    return text;
  }

  platform_testing::ScopedDeviceRoot root_;
  TestHttpServer server_;
  std::string dir_;
  std::unique_ptr<transport::Mm1Engine> engine_;
  TransferWorker worker_;
};

TEST_F(HttpWorkerTest, SendAndFetchWriteTheLogsWithTheEngineCodes) {
  server_.handler = [](const HttpRequest& r) {
    HttpAnswer a;
    if (r.method == "GET") {
      a.status = 404;
      return a;
    }
    // m-send-conf: type, transaction id, version, status Ok, message id "MID-W".
    const char conf[] = {'\x8C', '\x81', '\x98', 'T', 0, '\x8D', '\x90', '\x92', '\x80', '\x8B', 'M', 'I', 'D', '-', 'W', 0};
    a.body.assign(conf, sizeof conf);
    return a;
  };
  auto send = SendJob();
  ASSERT_TRUE(worker_.Post(send));
  auto fetch = std::make_shared<TransferJob>();
  fetch->kind = store::kJobFetch;
  fetch->contentLocation = server_.Url("/m/gone");
  fetch->transactionId = "TX-2";
  fetch->packagePath = platform::Utf8ToUtf16(dir_ + "/in.pkg");
  // Once the server has the request the job is running, and Stop waits for its end.
  auto stopAfter = [&](std::size_t requests) {
    while (server_.Requests().size() < requests) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    worker_.Stop();
  };
  stopAfter(1);
  ASSERT_TRUE(worker_.Start(nullptr, engine_.get()));
  ASSERT_TRUE(worker_.Post(fetch));
  stopAfter(2);

  EXPECT_EQ(send->result, 0);
  EXPECT_EQ(send->receivedMessageId, "MID-W");
  const std::string sendLog = Log(kSendLogName);
  EXPECT_NE(sendLog.find("Start Sending MMS\r\nSubject is : Over the web\r\n"), std::string::npos) << sendLog;
  EXPECT_NE(sendLog.find("Send Result : 0\r\n"), std::string::npos) << sendLog;
  EXPECT_NE(sendLog.find("Msg ID : MID-W\r\n"), std::string::npos) << sendLog;

  EXPECT_EQ(fetch->result, 314);  // 404, as a gateway's Reply status 0x44
  const std::string recvLog = Log(kRecvLogName);
  EXPECT_NE(recvLog.find("Msg Url : " + server_.Url("/m/gone") + "\r\nTrans ID : TX-2\r\n"), std::string::npos)
      << recvLog;
  EXPECT_NE(recvLog.find("Recv Result : 314\r\n"), std::string::npos) << recvLog;
  EXPECT_FALSE(platform::FileExists(fetch->packagePath));
}

TEST_F(HttpWorkerTest, CancelEndsAHeldUploadAtOnceAndTheLogSaysSo) {
  server_.handler = [](const HttpRequest&) {
    HttpAnswer a;
    a.hold = true;
    a.readBody = false;
    return a;
  };
  auto job = SendJob();
  ASSERT_TRUE(worker_.Post(job));
  while (server_.Seen() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto start = std::chrono::steady_clock::now();
  worker_.Cancel();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(job->result, transport::kCancelled);
  // Cancel returns once the job has ended: long before the minute of the stall limit.
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_NE(Log(kSendLogName).find("Send Result : -3\r\n"), std::string::npos);
}

}  // namespace
}  // namespace engine::testing
