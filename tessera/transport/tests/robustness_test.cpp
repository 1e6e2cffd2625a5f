// Lossy gateway: 10% of datagrams dropped, duplicated and reordered in both directions. Every
// method ends either with the exact bytes or with a documented failure code, within a
// bounded number of waits; time is virtual, so nothing here sleeps.

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "platform_testing/device_root.h"
#include "transport/results.h"
#include "transport/wsp_session.h"

using namespace transport;
using namespace transport_test;

namespace {

bool Documented(int r) {
  return r == kTimedOut || (r >= kProviderAbortBase && r < kProviderAbortBase + 256);
}

}  // namespace

TEST(LossyGateway, GetsAndPostsArriveExactlyOrFailCleanly) {
  platform_testing::ScopedDeviceRoot root;
  const std::size_t sizes[] = {100, 1400, 2000, 4300, 8500, 30000, 100000, 250000, 300000};
  int completed = 0, failed = 0;
  for (std::uint32_t seed = 1; seed <= 3; ++seed) {
    for (std::size_t size : sizes) {
      for (bool post : {false, true}) {
        if (post && size > 255000) continue;  // more than 256 packets: see the test below
        SCOPED_TRACE((post ? "POST " : "GET ") + std::to_string(size) + " seed " + std::to_string(seed));
        FakeGateway::Options go;
        go.drop = go.duplicate = go.reorder = 0.10;
        go.seed = seed * 7919 + static_cast<std::uint32_t>(size) + (post ? 1 : 0);
        auto gw = std::make_unique<FakeGateway>(go);
        FakeGateway* gateway = gw.get();
        WspSessionOptions o;
        o.gateway = "127.0.0.1";
        o.port = std::move(gw);
        o.maxRetries = 8;
        std::unique_ptr<WspSession> session;
        int r = WspSession::Open(std::move(o), &session);
        if (r != kOk) {
          EXPECT_TRUE(Documented(r)) << r;
          ++failed;
          continue;
        }
        ByteBuffer message = Pattern(size, seed);
        auto body = mms::ByteStream::OpenMemory(message.data(), message.length());
        const std::string uri = "http://mmsc/get/" + std::to_string(size);
        r = post ? session->Post(uri, "application/vnd.wap.mms-message", false, ByteBuffer(), body.get())
                 : session->Get(uri);
        ByteBuffer data;
        std::string type;
        if (r == kOk) r = session->ReadReply(&type, &data);
        // Never hangs: every wait is bounded by the budget of the methods run.
        EXPECT_LT(gateway->clientTimeouts, 3 * 9);
        if (r != kOk) {
          EXPECT_TRUE(Documented(r)) << r;
          ++failed;
          continue;
        }
        ++completed;
        if (post) {
          ASSERT_FALSE(gateway->posts.empty());
          const ByteBuffer& got = gateway->posts.back();
          ASSERT_GE(got.length(), message.length());
          EXPECT_EQ(got.view().substr(static_cast<std::size_t>(got.length() - message.length())),
                    message.view());
          EXPECT_EQ(data.view(), "OK");
        } else {
          EXPECT_EQ(type, "application/vnd.wap.mms-message");
          ASSERT_EQ(data.length(), static_cast<std::int32_t>(size));
          EXPECT_EQ(data.view(), Pattern(size, static_cast<unsigned>(size)).view());
        }
      }
    }
  }
  // Loss is recovered, not merely survived.
  EXPECT_GT(completed, 3 * failed) << completed << " completed, " << failed << " failed";
  std::printf("lossy gateway: %d methods completed, %d ended with a failure code\n", completed, failed);
}

TEST(LossyGateway, PostOverTheWtpLimitIsRefusedUpFront) {
  platform_testing::ScopedDeviceRoot root;
  auto gw = std::make_unique<FakeGateway>(FakeGateway::Options{});
  FakeGateway* gateway = gw.get();
  WspSessionOptions o;
  o.gateway = "127.0.0.1";
  o.port = std::move(gw);
  std::unique_ptr<WspSession> session;
  ASSERT_EQ(WspSession::Open(std::move(o), &session), kOk);
  ByteBuffer message = Pattern(300000);
  auto body = mms::ByteStream::OpenMemory(message.data(), message.length());
  const int sentBefore = gateway->clientSent;
  EXPECT_EQ(
      session->Post("http://mmsc/p", "application/vnd.wap.mms-message", false, ByteBuffer(), body.get()),
      kSendFailed);
  EXPECT_EQ(gateway->clientSent, sentBefore);
  EXPECT_TRUE(gateway->posts.empty());
}
