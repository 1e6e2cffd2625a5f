// MM1 over HTTP: the engine against a scripted HTTP server on loopback (directly and as a
// proxy), the status mapping, the profile's transport values, and cancelling a transfer.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "fake_gateway.h"
#include "http_test_server.h"
#include "kannel_harness.h"
#include "mms/mms_pdu.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "transport/http_session.h"
#include "transport/mm1_engine.h"
#include "transport/results.h"

using namespace transport;
using namespace transport_test;

namespace {

constexpr char16_t kWspHeaderKey[] = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader";

void SetValue(const char16_t* path, const char16_t* name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueEx(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}
void SetDword(const char16_t* path, const char16_t* name, DWORD v) {
  SetValue(path, name, REG_DWORD, &v, sizeof v);
}
void SetText(const char16_t* path, const char16_t* name, const std::u16string& text) {
  SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}
void SetLimits(DWORD send, DWORD recv) {
  SetDword(kSizeLimitKey, u"SendDefault", send);
  SetDword(kSizeLimitKey, u"RecvDefault", recv);
  SetDword(kTryLimitKey, u"TryDefault", 1);
}

std::string Text(const ByteBuffer& b) {
  return std::string(reinterpret_cast<const char*>(b.data()), static_cast<std::size_t>(b.length()));
}
std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// 0x84, the content type (multipart/mixed, well-known 0x23), `n` octets of body.
ByteBuffer Package(std::size_t n) {
  ByteBuffer b = Bytes({0x84, 0xA3});
  b.AppendBuffer(Pattern(n, 3));
  return b;
}

// m-send-conf: type, transaction id, version, response status, message id "MID-H".
std::string SendConf(int status) {
  return Text(Bytes({0x8C, 0x81, 0x98, 'T', 0x00, 0x8D, 0x90, 0x92, status, 0x8B, 'M', 'I', 'D', '-', 'H', 0x00}));
}

// m-retrieve-conf: type, transaction id, version, message id, then the package.
std::string RetrieveConf(const ByteBuffer& package) {
  ByteBuffer b = Bytes({0x8C, 0x84, 0x98, '7', 0x00, 0x8D, 0x90, 0x8B, 'M', 0x00});
  b.AppendBuffer(package);
  return Text(b);
}

// A TCP port that is bound but never listens: connecting to it is refused at once.
struct RefusingPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  RefusingPort() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~RefusingPort() { ::close(fd); }
};

struct Mm1OverHttp : ::testing::Test {
  platform_testing::ScopedDeviceRoot root;
  TestHttpServer server;
  std::unique_ptr<Mm1Engine> engine;
  std::string dir;

  void SetUp() override {
    dir = std::getenv("TESSERA_ROOT");
    SetLimits(400000, 400000);
    Mm1Profile p;
    p.name.Assign("Web");
    p.mmscUri.Assign(server.Url("/mms"));
    p.transport = Mm1Transport::Http;
    ASSERT_EQ(Mm1AddProfile(p, true), 1);
    engine = Mm1CreateEngine();
    ASSERT_TRUE(engine);
    engine->timeoutMs = 200;
    engine->maxRetries = 1;
  }

  void UseMmsc(const std::string& uri, const std::string& proxy = {}) {
    Mm1Profile p;
    ASSERT_TRUE(Mm1ReadProfileEntry(1, &p));
    p.mmscUri.Assign(uri);
    p.proxy.Assign(proxy);
    ASSERT_EQ(Mm1UpdateProfile(1, p, true), 1);
  }

  std::u16string Path(const std::string& name) { return platform::Utf8ToUtf16(dir + "/" + name); }

  int Send(const ByteBuffer& package, std::string* id = nullptr) {
    std::ofstream(dir + "/out.pkg", std::ios::binary).write(reinterpret_cast<const char*>(package.data()),
                                                            package.length());
    mms::SendRequest request;
    request.to = "+4420/TYPE=PLMN";
    std::string ignored;
    return Mm1Send(engine.get(), Path("out.pkg"), &request, id ? id : &ignored);
  }

  int Retrieve(const std::string& location, const std::string* msisdn = nullptr) {
    return Mm1Retrieve(engine.get(), location, "TX-1", msisdn, Path("in.pkg"), nullptr);
  }
  bool OutputExists() { return std::ifstream(dir + "/in.pkg").good(); }

  static HttpAnswer Status(int status, std::string body = {}) {
    HttpAnswer a;
    a.status = status;
    a.body = std::move(body);
    return a;
  }
};

}  // namespace

TEST(HttpStatusMapping, EveryClassReadsAsTheGatewayWouldAnswer) {
  const std::pair<long, int> cases[] = {
      {100, 0x10}, {200, 0x20}, {204, 0x24}, {206, 0x26}, {207, 0x20}, {302, 0x32}, {305, 0x35},
      {307, 0x30}, {400, 0x40}, {404, 0x44}, {413, 0x4D}, {415, 0x4F}, {416, 0x40}, {429, 0x40},
      {500, 0x60}, {503, 0x63}, {505, 0x65}, {599, 0x60}, {0, 0x60},   {700, 0x60},
  };
  for (const auto& [http, octet] : cases) EXPECT_EQ(HttpStatusToWspStatus(http), octet) << http;
}

TEST(HttpProxyText, OnlyHostColonPortIsAProxy) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseProxy("10.0.0.8:8080", &host, &port));
  EXPECT_EQ(host, "10.0.0.8");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(ParseProxy("proxy.operator-net.example:3128", &host, &port));
  EXPECT_TRUE(ParseProxy("[::1]:8888", &host, &port));
  EXPECT_EQ(host, "[::1]");
  for (const char* bad : {"", "host", ":80", "host:", "host:0", "host:65536", "host:80x", "ho st:80",
                          "user@host:80", "host:80\r\nX: y", "[::1:80", "http://host:80"})
    EXPECT_FALSE(ParseProxy(bad, nullptr, nullptr)) << bad;
}

TEST(HttpProfileValues, TransportAndProxySitBesideTheOldValues) {
  platform_testing::ScopedDeviceRoot root;
  SetLimits(1000, 1000);
  Mm1Profile web;
  web.name.Assign("Web");
  web.mmscUri.Assign("http://mmsc.example/mms");
  web.transport = Mm1Transport::Http;
  web.proxy.Assign("10.1.1.1:8080");
  ASSERT_EQ(Mm1AddProfile(web, true), 1);
  Mm1Profile p;
  ASSERT_TRUE(Mm1LoadProfile(1, &p, kLoadDefault));
  EXPECT_EQ(p.transport, Mm1Transport::Http);
  EXPECT_EQ(p.proxy.view(), "10.1.1.1:8080");

  // A profile as earlier versions wrote it: four values, no transport, no proxy.
  SetText(kMm1ProfileKey, u"2", u"4242");
  SetDword(kMm1ProfileKey, u"TotalSettings", 2);
  const std::u16string old = std::u16string(kMm1ProfileKey) + u"\\4242";
  SetText(old.c_str(), u"Name", u"Old");
  SetText(old.c_str(), u"Gateway", u"10.0.0.1");
  SetText(old.c_str(), u"MmscURI", u"http://mmsc/");
  SetDword(old.c_str(), u"GatewayPort", 9201);
  ASSERT_TRUE(Mm1LoadProfile(2, &p));
  EXPECT_EQ(p.transport, Mm1Transport::Wsp);
  EXPECT_TRUE(p.proxy.empty());
  EXPECT_EQ(p.gateway.view(), "10.0.0.1");

  // A number of no known transport uses the gateway; a proxy too long for its field is not cut
  // into another one.
  SetDword(old.c_str(), u"Transport", 7);
  SetText(old.c_str(), u"Proxy", std::u16string(60, u'p') + u":8080");
  ASSERT_TRUE(Mm1LoadProfile(2, &p));
  EXPECT_EQ(p.transport, Mm1Transport::Wsp);
  EXPECT_FALSE(ParseProxy(p.proxy.str(), nullptr, nullptr));
}

TEST_F(Mm1OverHttp, SendPostsThePduAndA300KBodyWithTheHeaders) {
  // Two Accept items in one value, a device profile, and a value that would break the request.
  SetText(kWspHeaderKey, u"User-Agent", u"Phone/2.0");
  SetText(kWspHeaderKey, u"Accept", u"application/vnd.wap.mms-message;*/*");
  SetText(kWspHeaderKey, u"x-wap-profile", u"http://uaprof.example/phone.xml");
  SetText(kWspHeaderKey, u"X-Note", u"a\r\nInjected: yes");
  server.handler = [](const HttpRequest&) { return Status(200, SendConf(0x80)); };
  std::string id;
  ASSERT_EQ(Send(Package(300000), &id), kMm1Ok);
  EXPECT_EQ(id, "MID-H");

  const std::vector<HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const HttpRequest& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/mms");
  EXPECT_EQ(r.headers.at("content-type"), "application/vnd.wap.mms-message");
  EXPECT_EQ(r.headers.at("accept"), "application/vnd.wap.mms-message, */*");
  EXPECT_EQ(r.headers.at("user-agent"), "Phone/2.0");
  EXPECT_EQ(r.headers.at("x-wap-profile"), "http://uaprof.example/phone.xml");
  EXPECT_EQ(r.headers.count("expect"), 0u);
  EXPECT_EQ(r.headers.count("injected"), 0u);
  EXPECT_EQ(r.headers.count("x-note"), 0u);

  mms::MmsHeaders h;
  std::optional<ByteBuffer> body;
  ASSERT_TRUE(mms::DecodePdu(reinterpret_cast<const std::uint8_t*>(r.body.data()), r.body.size(), h, &body));
  EXPECT_EQ(h.messageType, mms::kSendReq);
  EXPECT_EQ(h.to.view(), "+4420");
  ASSERT_TRUE(body);
  EXPECT_EQ(Text(*body), Text(Pattern(300000, 3)));  // past the WAP gateway's 254000-octet cap

  // The profile's own limit still holds.
  SetLimits(1000, 1000);
  EXPECT_EQ(Send(Package(1001)), kMm1TooLarge);
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(Mm1OverHttp, WithoutConfiguredHeadersTheDefaultsGo) {
  server.handler = [](const HttpRequest&) { return Status(200, SendConf(0x80)); };
  ASSERT_EQ(Send(Package(10)), kMm1Ok);
  const HttpRequest r = server.Requests().at(0);
  EXPECT_EQ(r.headers.at("user-agent"), kHttpDefaultUserAgent);
  EXPECT_EQ(r.headers.at("accept"), kHttpDefaultAccept);
  EXPECT_EQ(r.headers.count("x-wap-profile"), 0u);
}

TEST_F(Mm1OverHttp, RetrieveGetsTheLocationAndAnswersWithANotifyResponse) {
  const ByteBuffer package = Package(300000);
  server.handler = [&](const HttpRequest& r) {
    return r.method == "GET" ? Status(200, RetrieveConf(package)) : Status(204);
  };
  const std::string msisdn = "+4499";
  ASSERT_EQ(Retrieve(server.Url("/m/7"), &msisdn), kMm1Ok);
  EXPECT_EQ(ReadFileText(dir + "/in.pkg"), Text(package));

  const std::vector<HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/m/7");
  EXPECT_EQ(requests[0].headers.at("x-msisdn"), "+4499");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/mms");
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::DecodePdu(reinterpret_cast<const std::uint8_t*>(requests[1].body.data()),
                             requests[1].body.size(), h, nullptr));
  EXPECT_EQ(h.messageType, mms::kNotifyRespInd);
  EXPECT_EQ(h.status, mms::kStatusRetrieved);
  EXPECT_EQ(h.transactionId.view(), "TX-1");
}

TEST_F(Mm1OverHttp, AnsweringANotificationAgainSaysRetrievedInEitherMode) {
  server.handler = [](const HttpRequest&) { return Status(204); };
  SetDword(kMm1ProfileKey, u"SendDelayedNotifyResp", 1);
  ASSERT_EQ(Mm1AcknowledgeAgain(engine.get(), "TX-8"), kMm1Ok);
  SetDword(kMm1ProfileKey, u"SendDelayedNotifyResp", 0);
  ASSERT_EQ(Mm1AcknowledgeAgain(engine.get(), "TX-9"), kMm1Ok);
  EXPECT_EQ(Mm1AcknowledgeAgain(engine.get(), ""), kMm1InvalidArgument);
  const std::vector<HttpRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const char* ids[] = {"TX-8", "TX-9"};
  for (int i = 0; i < 2; ++i) {
    mms::MmsHeaders h;
    ASSERT_TRUE(mms::DecodePdu(reinterpret_cast<const std::uint8_t*>(requests[i].body.data()),
                               requests[i].body.size(), h, nullptr));
    EXPECT_EQ(h.messageType, mms::kNotifyRespInd);
    EXPECT_EQ(h.status, mms::kStatusRetrieved);
    EXPECT_EQ(h.transactionId.view(), ids[i]);
  }
}

TEST_F(Mm1OverHttp, FailuresGiveTheSameCodesAsThroughTheGateway) {
  const std::pair<int, int> statuses[] = {{404, 314}, {403, 313}, {500, 342}, {503, 345}, {429, 310}};
  for (const auto& [http, code] : statuses) {
    server.handler = [http = http](const HttpRequest&) { return Status(http); };
    EXPECT_EQ(Send(Package(100)), code) << http;
    EXPECT_EQ(Retrieve(server.Url("/m/1")), code) << http;
    EXPECT_FALSE(OutputExists()) << http;
  }
  server.handler = [](const HttpRequest&) {
    HttpAnswer a = Status(200, RetrieveConf(Package(10)));
    a.contentType = "text/html";
    return a;
  };
  EXPECT_EQ(Retrieve(server.Url("/m/1")), kMm1BadContentType);
  server.handler = [](const HttpRequest&) { return Status(200, SendConf(0x84)); };
  EXPECT_EQ(Send(Package(100)), 454);

  // A reply above the receive limit is refused as a gateway refuses it (413).
  SetLimits(400000, 1000);
  server.handler = [](const HttpRequest&) { return Status(200, RetrieveConf(Package(3000))); };
  EXPECT_EQ(Retrieve(server.Url("/m/1")), kStatusBase + 0x4D);
  EXPECT_FALSE(OutputExists());
  SetLimits(400000, 400000);

  // Nobody listening, a location that is not on the web, a proxy that is not host:port: no
  // session. A peer that takes the request and never answers: timed out.
  RefusingPort refusing;
  const std::string refused = "http://127.0.0.1:" + std::to_string(refusing.port);
  EXPECT_EQ(Retrieve(refused + "/m/1"), kMm1NoSessionOpened);
  EXPECT_EQ(Retrieve("file:///etc/passwd"), kMm1NoSessionOpened);
  EXPECT_FALSE(OutputExists());
  UseMmsc(refused + "/mms");
  EXPECT_EQ(Send(Package(100)), kMm1NoSessionOpened);
  UseMmsc(server.Url("/mms"), "no-port");
  EXPECT_EQ(Send(Package(100)), kMm1NoSessionOpened);
  UseMmsc(server.Url("/mms"));
  server.handler = [](const HttpRequest&) {
    HttpAnswer a;
    a.hold = true;
    return a;
  };
  EXPECT_EQ(Send(Package(100)), kTimedOut);
  EXPECT_EQ(Retrieve(server.Url("/m/1")), kTimedOut);
  EXPECT_FALSE(OutputExists());
}

TEST_F(Mm1OverHttp, ThroughAProxyTheRequestNamesTheMmsc) {
  UseMmsc("http://mmsc.operator.invalid/mms", "127.0.0.1:" + std::to_string(server.port()));
  server.handler = [](const HttpRequest&) { return Status(200, SendConf(0x80)); };
  ASSERT_EQ(Send(Package(100)), kMm1Ok);
  const HttpRequest r = server.Requests().at(0);
  EXPECT_EQ(r.target, "http://mmsc.operator.invalid/mms");  // absolute form: asked of a proxy
  EXPECT_EQ(r.headers.at("host"), "mmsc.operator.invalid");

  // A proxy that refuses connections leaves no session, even for a reachable MMSC.
  RefusingPort refusing;
  UseMmsc(server.Url("/mms"), "127.0.0.1:" + std::to_string(refusing.port));
  EXPECT_EQ(Send(Package(100)), kMm1NoSessionOpened);
}

TEST_F(Mm1OverHttp, ACancelEndsATransferThatWouldOtherwiseWaitAMinute) {
  engine->timeoutMs = 60000;
  server.handler = [](const HttpRequest&) {
    HttpAnswer a;
    a.hold = true;
    a.readBody = false;  // the upload stops part-way once the socket buffers are full
    return a;
  };
  static std::atomic<int> cancel{0};
  cancel = 0;
  Mm1SetCancelHook(
      engine.get(), [](int, void*) { return cancel.load() ? 0 : 1; }, nullptr);
  std::atomic<bool> done{false};
  int result = 0;
  std::thread sender([&] {
    result = Send(Package(250000));
    done = true;
  });
  while (server.Seen() == 0 && !done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto start = std::chrono::steady_clock::now();
  cancel = 1;
  sender.join();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, kCancelled);
  // Far below the minute the stall limit would take; bench/transport measures the figure.
  EXPECT_LT(waited, std::chrono::seconds(5));
  Mm1ClearCancelHook(engine.get());
}

TEST(HttpsSession, TheMmscMustProveWhoItIs) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is not installed";
  platform_testing::ScopedDeviceRoot root;
  const std::string dir = root.path();
  const int made = std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                                dir + "/key.pem -out " + dir + "/cert.pem >/dev/null 2>&1")
                                   .c_str());
  ASSERT_EQ(made, 0);
  const std::string script = std::string(TESSERA_SOURCE_DIR) + "/tessera/transport/tests/http_server.py";
  const pid_t origin = kannel_harness::Spawn(
      {"python3", script, dir, "--tls", dir + "/cert.pem", dir + "/key.pem"}, dir + "/origin.log");
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } reaper{origin};
  ASSERT_TRUE(kannel_harness::WaitFor(
      [&] { return kannel_harness::ReadText(dir + "/origin.log").rfind("ready ", 0) == 0; }, 10000));
  const std::string url =
      "https://127.0.0.1:" + std::to_string(std::atoi(kannel_harness::ReadText(dir + "/origin.log").substr(6).c_str())) +
      "/post/sealed";
  const ByteBuffer body = Pattern(5000, 9);
  auto post = [&](const std::string& caFile, ByteBuffer* reply) {
    HttpSessionOptions o;
    o.caFile = caFile;
    o.timeoutMs = 5000;
    o.maxRetries = 1;
    std::unique_ptr<HttpSession> session;
    int r = HttpSession::Open(std::move(o), &session);
    if (r == kOk) r = session->Post(url, kMmsContentType, body, nullptr);
    if (r == kOk) r = session->ReadReply(reply);
    return r;
  };
  ByteBuffer reply;
  // An MMSC whose certificate nobody vouches for is never sent the message.
  EXPECT_EQ(post("", &reply), kUnreachable);
  EXPECT_FALSE(std::ifstream(dir + "/sealed").good());
  ASSERT_EQ(post(dir + "/cert.pem", &reply), kOk);
  EXPECT_EQ(Text(reply), "\x8c\x81stored");
  EXPECT_EQ(ReadFileText(dir + "/sealed"), Text(body));
}
