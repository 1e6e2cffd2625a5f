// Times a 250 KB POST through Debian's WAP gateway on loopback (inside a private network
// namespace) and counts the datagrams, against the protocol's minimum and against a reference
// run in the same process: the same packets and group round trips over a bare loopback UDP
// echo, which is what the exchange would cost with a gateway that did no work.
//
// Then the same POST, and a 300 KB one, over HTTP straight to the same origin, with the wall
// time and this process's CPU time of each way; a WTP message holds at most 256 packets of
// 1000 octets, so 300 KB goes only over HTTP. Last, how long a cancel takes to end an HTTP
// transfer that the peer holds.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "http_test_server.h"
#include "kannel_harness.h"
#include "mms/byte_stream.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"
#include "transport/http_session.h"
#include "transport/results.h"
#include "transport/wsp_session.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kBodySize = 250000;
constexpr int kRuns = 3;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// User and system CPU time of this process so far, in seconds.
double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Cost {
  double wall = 1e9;
  double cpu = 1e9;
};

// Best of kRuns HTTP POSTs of `size` octets to the origin; false when one failed.
bool HttpPost(int originPort, std::size_t size, Cost* best) {
  std::vector<std::uint8_t> body(size);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7);
  const std::string url = "http://127.0.0.1:" + std::to_string(originPort) + "/post/bench-http";
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    transport::HttpSessionOptions o;
    o.headers = {{"Accept", "application/vnd.wap.mms-message"}, {"User-Agent", "Tessera-bench/1.0"}};
    std::unique_ptr<transport::HttpSession> session;
    int r = transport::HttpSession::Open(std::move(o), &session);
    auto stream = mms::ByteStream::OpenMemory(body.data(), static_cast<std::int64_t>(body.size()));
    if (r == transport::kOk) r = session->Post(url, "application/vnd.wap.mms-message", mms::ByteBuffer(), stream.get());
    mms::ByteBuffer reply;
    if (r == transport::kOk) r = session->ReadReply(&reply);
    session.reset();
    if (r != transport::kOk) {
      std::fprintf(stderr, "transport_bench: HTTP POST failed with %d\n", r);
      return false;
    }
    best->wall = std::min(best->wall, Seconds(Clock::now() - start));
    best->cpu = std::min(best->cpu, CpuSeconds() - cpu);
  }
  return true;
}

// From the cancel hook turning to "stop" until the POST returns, against a peer that took
// the request and never answers; the worst of kRuns.
double CancelLatency() {
  transport_test::TestHttpServer server;
  server.handler = [](const transport_test::HttpRequest&) {
    transport_test::HttpAnswer a;
    a.hold = true;
    a.readBody = false;
    return a;
  };
  static std::atomic<int> cancel{0};
  double worst = 0;
  std::vector<std::uint8_t> body(300000, 0x55);
  for (int run = 0; run < kRuns; ++run) {
    cancel = 0;
    transport::HttpSessionOptions o;
    o.timeoutMs = 60000;
    o.cancelHook.function = [](int, void*) { return cancel.load() ? 0 : 1; };
    std::unique_ptr<transport::HttpSession> session;
    if (transport::HttpSession::Open(std::move(o), &session) != transport::kOk) return -1;
    Clock::time_point asked;
    std::thread canceller([&] {
      while (server.Seen() <= run) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      asked = Clock::now();
      cancel = 1;
    });
    auto stream = mms::ByteStream::OpenMemory(body.data(), static_cast<std::int64_t>(body.size()));
    const int r = session->Post(server.Url("/mms"), "application/vnd.wap.mms-message", mms::ByteBuffer(), stream.get());
    const auto returned = Clock::now();
    canceller.join();
    if (r != transport::kCancelled) return -1;
    worst = std::max(worst, Seconds(returned - asked));
  }
  return worst;
}

// `packets` datagrams of 1000 octets in groups of four, each group answered by the echo.
double ReferenceRun(int packets) {
  int echo = ::socket(AF_INET, SOCK_DGRAM, 0), client = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(echo, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(echo, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread responder([&] {
    char buf[2048];
    for (int i = 0; i < packets; ++i) {
      sockaddr_in from{};
      socklen_t flen = sizeof from;
      if (::recvfrom(echo, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen) < 0) return;
      if (i % 4 == 3 || i + 1 == packets) ::sendto(echo, buf, 4, 0, reinterpret_cast<sockaddr*>(&from), flen);
    }
  });
  char data[1004] = {};
  char ack[16];
  const auto start = Clock::now();
  for (int i = 0; i < packets; ++i) {
    ::sendto(client, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (i % 4 == 3 || i + 1 == packets) ::recv(client, ack, sizeof ack, 0);
  }
  const double t = Seconds(Clock::now() - start);
  responder.join();
  ::close(echo);
  ::close(client);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (!kannel_harness::KannelInstalled()) {
    std::printf("transport_bench: Kannel is not installed; nothing measured\n");
    return 0;
  }
  if (!kannel_harness::InNamespace()) {
    return kannel_harness::RunInNamespace({std::filesystem::canonical("/proc/self/exe").string()});
  }
  platform_testing::ScopedDeviceRoot root;
  const std::string dir = root.path() + "/gw";
  std::filesystem::create_directories(dir);
  kannel_harness::Gateway gateway;
  std::string error;
  if (!gateway.Start(dir, false, &error)) {
    std::fprintf(stderr, "transport_bench: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::uint8_t> body(kBodySize);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 7);

  double best = 1e9;
  double bestCpu = 1e9;
  transport::WtpStats stats;
  int pduLength = 0;
  for (int run = 0; run < kRuns; ++run) {
    transport::WspSessionOptions o;
    o.gateway = "127.0.0.1";
    o.clientSduSize = 300000;
    o.serverSduSize = 300000;
    o.headers = {{"Accept", "application/vnd.wap.mms-message"}, {"User-Agent", "Tessera-bench/1.0"}};
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    std::unique_ptr<transport::WspSession> session;
    int r = transport::WspSession::Open(std::move(o), &session);
    auto stream = mms::ByteStream::OpenMemory(body.data(), static_cast<std::int64_t>(body.size()));
    if (r == transport::kOk)
      r = session->Post("http://mmsc/post/bench", "application/vnd.wap.mms-message", true, mms::ByteBuffer(),
                        stream.get());
    mms::ByteBuffer reply;
    if (r == transport::kOk) r = session->ReadReply(&reply);
    if (r != transport::kOk) {
      std::fprintf(stderr, "transport_bench: POST failed with %d\n", r);
      return 1;
    }
    stats = session->transaction().stats();
    session.reset();
    best = std::min(best, Seconds(Clock::now() - start));
    bestCpu = std::min(bestCpu, CpuSeconds() - cpu);
    mms::ByteBuffer headers, pdu;
    transport::EncodeWspHeaderList(
        {{"Accept", "application/vnd.wap.mms-message"}, {"User-Agent", "Tessera-bench/1.0"}}, &headers);
    transport::BuildPost("http://mmsc/post/bench", "application/vnd.wap.mms-message", headers,
                         mms::ByteBuffer(), &pdu);
    pduLength = pdu.length();
  }
  Cost http250, http300;
  const bool httpOk = HttpPost(gateway.originPort(), kBodySize, &http250) && HttpPost(gateway.originPort(), 300000, &http300);
  gateway.Stop();
  const double cancel = CancelLatency();

  // The protocol's minimum: every invoke packet once, one Ack per full group but the last,
  // one Result per method, the final Acks, Connect and Disconnect.
  const int packets = static_cast<int>((static_cast<std::size_t>(pduLength) + kBodySize) / 1000 + 1);
  const int groupTrips = (packets + 3) / 4 - 1;
  const int minSent = 1 + 1 + packets + 1 + 1;  // Connect, its Ack, the POST, its Ack, Disconnect
  const int minReceived = 1 + groupTrips + 1;   // ConnectReply, group Acks, Reply
  const double reference = ReferenceRun(packets);
  std::printf("250 KB POST through the gateway: %.1f ms (best of %d)\n", best * 1000, kRuns);
  std::printf("  datagrams sent     %u (minimum %d, ratio %.2f)\n", stats.datagramsSent + 1, minSent,
              (stats.datagramsSent + 1.0) / minSent);
  std::printf("  datagrams received %u (minimum %d, ratio %.2f)\n", stats.datagramsReceived, minReceived,
              static_cast<double>(stats.datagramsReceived) / minReceived);
  std::printf("  retransmissions %u, time-outs %u\n", stats.retransmissions, stats.timeouts);
  std::printf("  packets %d, group round trips %d\n", packets, groupTrips);
  std::printf("reference (same packets and round trips over a bare loopback echo): %.2f ms\n",
              reference * 1000);
  std::printf("ratio gateway / reference: %.1f\n", best / reference);
  std::printf("\nwall and CPU of this process, best of %d:\n", kRuns);
  std::printf("  250 KB POST, WSP through the gateway: %8.1f ms wall %7.1f ms CPU\n", best * 1000, bestCpu * 1000);
  if (httpOk) {
    std::printf("  250 KB POST, HTTP to the origin:      %8.1f ms wall %7.1f ms CPU (%.1fx faster)\n",
                http250.wall * 1000, http250.cpu * 1000, best / http250.wall);
    std::printf("  300 KB POST, HTTP to the origin:      %8.1f ms wall %7.1f ms CPU\n", http300.wall * 1000,
                http300.cpu * 1000);
  }
  std::printf("  300 KB POST, WSP: not possible (a WTP message holds at most 256 packets of 1000 octets)\n");
  if (cancel >= 0)
    std::printf("HTTP cancel of a held 300 KB POST: returns %.1f ms after the hook says stop (worst of %d)\n",
                cancel * 1000, kRuns);
  return 0;
}
