// The push router daemon: its PDU parser, and the daemon driven through the client calls,
// UDP datagrams and `pushrouter --inject`.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"
#include "platform_testing/push_router.h"
#include "push_pdu.h"

using platform_testing::ScopedDeviceRoot;
using platform_testing::ScopedPushRouter;
using pushrouter::ParsePushPdu;
using pushrouter::PduResult;
using pushrouter::PushPdu;

namespace {

constexpr const char16_t* kMms = u"application/vnd.wap.mms-message";

// The push a message centre sends: TID 0x11, Push, headers 3 octets: content type
// application/vnd.wap.mms-message (0x3E | 0x80), X-Wap-Application-Id (0x2F | 0x80) mms.ua (4).
std::vector<std::uint8_t> MmsPush(const std::string& body, std::uint8_t tid = 0x11) {
  std::vector<std::uint8_t> pdu = {tid, 0x06, 0x03, 0xBE, 0xAF, 0x84};
  pdu.insert(pdu.end(), body.begin(), body.end());
  return pdu;
}

struct Command {
  int status;
  std::string output;
};

Command RunCommand(const std::string& command) {
  Command c{-1, {}};
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return c;
  char buf[512];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) c.output.append(buf, n);
  int st = ::pclose(p);
  c.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return c;
}

// An open client of the MMS content type.
struct Client {
  HPUSHROUTER router = nullptr;
  HANDLE event = nullptr;
  LONG result = 0;
  Client() { result = PushRouter_Open(kMms, nullptr, &event, &router); }
  ~Client() {
    if (router) PushRouter_Close(router);
  }
  // Waits for one message and takes it; "" on time-out.
  std::string Take(DWORD waitMs = 5000, bool free = true) {
    if (WaitForSingleObject(event, waitMs) != WAIT_OBJECT_0) return "<timeout>";
    PUSHMSG m{};
    m.cbSize = sizeof m;
    if (PushRouter_GetMessage(router, &m) < 0) return "<get failed>";
    std::string body(reinterpret_cast<char*>(m.pbBody), m.cbBody);
    if (free) {
      EXPECT_EQ(PushRouter_FreeMessage(&m), PUSH_S_OK);
    }
    return body;
  }
};

std::string WriteFile(const std::string& dir, const std::string& name, const std::string& data) {
  std::string path = dir + "/" + name;
  platform::WriteFile(platform::Utf8ToUtf16(path), data);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::string contents;
  platform::ReadFile(platform::Utf8ToUtf16(path), contents);
  return contents;
}

class PushRouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
    program_ = platform_testing::PushRouterProgram();
    if (program_.empty()) GTEST_SKIP() << "pushrouter was not built";
  }
  std::string Inject(const std::string& file, const std::string& type = "") {
    std::string cmd = program_ + " --inject '" + file + "'";
    if (!type.empty()) cmd += " --type '" + type + "'";
    Command c = RunCommand(cmd);
    return c.status == 0 ? "" : c.output.empty() ? "failed" : c.output;
  }
  ScopedDeviceRoot root_;
  std::string program_;
};

}  // namespace

TEST(PushPduTest, ParsesTheMessageCentresPush) {
  auto pdu = MmsPush(
      "\x8C\x82\x98"
      "abc");
  PushPdu out;
  ASSERT_EQ(ParsePushPdu(pdu.data(), pdu.size(), &out), PduResult::Ok);
  EXPECT_EQ(out.tid, 0x11);
  EXPECT_EQ(out.contentType, "application/vnd.wap.mms-message");
  EXPECT_EQ(out.headersSize, 2u);  // the application id header
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.body), out.bodySize),
            "\x8C\x82\x98"
            "abc");
}

TEST(PushPduTest, TextContentTypeIsNormalised) {
  std::string ct = "Application/Vnd.Wap.Mms-Message";
  std::vector<std::uint8_t> pdu = {0x01, 0x06, static_cast<std::uint8_t>(ct.size() + 1)};
  pdu.insert(pdu.end(), ct.begin(), ct.end());
  pdu.push_back(0);
  pdu.push_back(0x8C);
  PushPdu out;
  ASSERT_EQ(ParsePushPdu(pdu.data(), pdu.size(), &out), PduResult::Ok);
  EXPECT_EQ(out.contentType, "application/vnd.wap.mms-message");
  EXPECT_EQ(out.bodySize, 1u);
  EXPECT_EQ(pushrouter::NormaliseContentType("Text/Plain; charset=utf-8"), "text/plain");
}

TEST(PushPduTest, RejectsMalformedPdus) {
  const std::vector<std::pair<std::vector<std::uint8_t>, PduResult>> cases = {
      {{}, PduResult::TooShort},
      {{0x01, 0x06}, PduResult::TooShort},
      {{0x01, 0x07, 0x01, 0xBE}, PduResult::NotPush},          // confirmed push
      {{0x01, 0x40, 0x01, 0xBE}, PduResult::NotPush},          // a Get
      {{0x01, 0x06, 0x05, 0xBE}, PduResult::BadHeaderLength},  // 5 header octets, 1 present
      {{0x01, 0x06, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, PduResult::BadHeaderLength},
      {{0x01, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, PduResult::TooShort},  // uintvar too long
      {{0x01, 0x06, 0x00, 0x8C}, PduResult::BadContentType},                    // no content type at all
      {{0x01, 0x06, 0x01, 0x1F}, PduResult::BadContentType},                    // value length past its unit
      {{0x01, 0x06, 0x02, 0x05, 0xBE}, PduResult::BadContentType},
  };
  for (const auto& [bytes, expected] : cases) {
    PushPdu out;
    EXPECT_EQ(ParsePushPdu(bytes.data(), bytes.size(), &out), expected)
        << "case of " << bytes.size() << " octets";
  }
  EXPECT_EQ(ParsePushPdu(nullptr, 0, nullptr), PduResult::TooShort);
}

TEST_F(PushRouterTest, UdpPushReachesTheOpenClient) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  auto pdu = MmsPush("\x8C\x82 first");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  EXPECT_EQ(client.Take(), "\x8C\x82 first");
  // Nothing else waits: the event is reset and get message says so.
  EXPECT_EQ(WaitForSingleObject(client.event, 100), WAIT_TIMEOUT);
  PUSHMSG m{};
  m.cbSize = sizeof m;
  EXPECT_EQ(PushRouter_GetMessage(client.router, &m), PUSH_E_NOMESSAGE);
}

TEST_F(PushRouterTest, MalformedDatagramsAreDroppedAndTheRouterGoesOn) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  const std::vector<std::vector<std::uint8_t>> junk = {{0x00},
                                                       {0x01, 0x06, 0x7F},
                                                       {0x01, 0x06, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},
                                                       {0x01, 0x06, 0x02, 0x1F, 0x20}};
  for (const auto& j : junk) ASSERT_TRUE(router.SendDatagram(j.data(), j.size()));
  auto pdu = MmsPush("good");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  EXPECT_EQ(client.Take(), "good");
  EXPECT_EQ(::kill(router.pid(), 0), 0);
}

TEST_F(PushRouterTest, BodiesQueuedWhileNoClientIsOpenArriveInOrder) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "one")), "");
  auto pdu = MmsPush("two");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  // A datagram is queued asynchronously; the injection after it is answered only once the
  // router has taken both, in the order they came.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Inject(WriteFile(root_.path(), "c.bin", std::string("th\0ree", 6))), "");
  EXPECT_EQ(Inject(WriteFile(root_.path(), "d.bin", "other"), "text/plain"), "");
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  EXPECT_EQ(client.Take(), "one");
  EXPECT_EQ(client.Take(), "two");
  EXPECT_EQ(client.Take(), std::string("th\0ree", 6));
  // The text/plain body waits in its own queue.
  EXPECT_EQ(client.Take(300), "<timeout>");
}

TEST_F(PushRouterTest, AMessageNotFreedIsHandedOutAgainAndOneClientPerType) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "kept")), "");
  {
    Client first;
    ASSERT_EQ(first.result, PUSH_S_OK);
    Client second;
    EXPECT_EQ(second.result, PUSH_E_BUSY);
    EXPECT_EQ(first.Take(5000, /*free=*/false), "kept");
  }
  Client again;
  ASSERT_EQ(again.result, PUSH_S_OK);
  EXPECT_EQ(again.Take(), "kept");
  EXPECT_EQ(again.Take(300), "<timeout>");
}

TEST_F(PushRouterTest, QueuedBodiesSurviveARestart) {
  {
    ScopedPushRouter router;
    ASSERT_TRUE(router.running());
    EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "before restart")), "");
    int status = router.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  EXPECT_EQ(client.Take(), "before restart");
}

TEST_F(PushRouterTest, OneRouterPerDeviceRoot) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  Command c = RunCommand(program_ + " --port " + std::to_string(platform_testing::FreeUdpPort()));
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("already runs"), std::string::npos) << c.output;
  EXPECT_EQ(::kill(router.pid(), 0), 0);
}

TEST_F(PushRouterTest, CommandLineErrorsAreClear) {
  Command c = RunCommand(program_ + " --inject '" + WriteFile(root_.path(), "a.bin", "x") + "'");
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("no push router is running"), std::string::npos) << c.output;
  c = RunCommand(program_ + " --inject '" + root_.path() + "/missing.bin'");
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("cannot read"), std::string::npos) << c.output;
  c = RunCommand(program_ + " --port 70000");
  EXPECT_EQ(c.status, 2);
  c = RunCommand(program_ + " --frobnicate");
  EXPECT_EQ(c.status, 2);
  // A port that is taken.
  ScopedPushRouter other;
  ASSERT_TRUE(other.running());
  ScopedDeviceRoot second;  // a different device root, the same port
  c = RunCommand(program_ + " --port " + std::to_string(other.port()));
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("cannot listen"), std::string::npos) << c.output;
}

TEST_F(PushRouterTest, StartsTheRegisteredProgramWhenNoClientIsOpen) {
  std::string out = root_.path() + "/started.txt";
  std::string script = WriteFile(root_.path(), "fake-tessera.sh",
                                 "#!/bin/sh\necho \"$# $1 $TESSERA_ROOT\" >> '" + out + "'\n");
  ::chmod(script.c_str(), 0755);
  std::u16string wide = platform::Utf8ToUtf16(script);
  ASSERT_EQ(PushRouter_RegisterClient(kMms, nullptr, wide.c_str(), u"/notify"), PUSH_S_OK);
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  auto pdu = MmsPush("wake up");
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  std::string got;
  for (int i = 0; i < 250 && got.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    got = ReadFile(out);
  }
  EXPECT_EQ(got, "1 /notify " + root_.path() + "\n");
  // The body waits for the program's client.
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  EXPECT_EQ(client.Take(), "wake up");
  // With a client open, nothing is started.
  ASSERT_TRUE(router.SendDatagram(pdu.data(), pdu.size()));
  EXPECT_EQ(client.Take(), "wake up");
  EXPECT_EQ(ReadFile(out), got);
}

TEST_F(PushRouterTest, RegistrationsLiveInTheRegistry) {
  EXPECT_EQ(PushRouter_RegisterClient(kMms, nullptr, u"", u"/notify"), PUSH_E_INVALIDARG);
  EXPECT_EQ(PushRouter_RegisterClient(nullptr, nullptr, u"/x", u"/notify"), PUSH_E_INVALIDARG);
  platform::push::Registration reg;
  EXPECT_FALSE(platform::push::LookUpRegistration(kMms, &reg));
  ASSERT_EQ(PushRouter_RegisterClient(kMms, nullptr, u"/opt/a", u"/notify"), PUSH_S_OK);
  ASSERT_EQ(PushRouter_RegisterClient(kMms, nullptr, u"/opt/b", u"/notify x"), PUSH_S_OK);
  ASSERT_TRUE(platform::push::LookUpRegistration(kMms, &reg));
  EXPECT_EQ(reg.path, u"/opt/b");
  EXPECT_EQ(reg.parameters, u"/notify x");
  EXPECT_EQ(PushRouter_UnRegisterClient(kMms, nullptr), PUSH_S_OK);
  EXPECT_FALSE(platform::push::LookUpRegistration(kMms, &reg));
  EXPECT_EQ(PushRouter_UnRegisterClient(kMms, nullptr), PUSH_S_OK);
}

TEST_F(PushRouterTest, ClientCallsCheckTheirArguments) {
  HANDLE event = nullptr;
  HPUSHROUTER router = nullptr;
  EXPECT_EQ(PushRouter_Open(kMms, nullptr, &event, &router), PUSH_E_NOROUTER);
  EXPECT_EQ(router, nullptr);
  EXPECT_EQ(PushRouter_Open(u"", nullptr, &event, &router), PUSH_E_INVALIDARG);
  PUSHMSG m{};
  m.cbSize = 20;
  EXPECT_EQ(PushRouter_GetMessage(nullptr, &m), PUSH_E_INVALIDARG);
  m.cbSize = sizeof m;
  EXPECT_EQ(PushRouter_GetMessage(nullptr, &m), PUSH_E_HANDLE);
  EXPECT_EQ(PushRouter_FreeMessage(&m), PUSH_E_INVALIDARG);
  EXPECT_EQ(PushRouter_Close(nullptr), PUSH_E_HANDLE);
}

TEST_F(PushRouterTest, TheClientStartsARouterAndItEndsWithItsDeviceRoot) {
  int port = platform_testing::FreeUdpPort();
  {
    ScopedDeviceRoot root;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, platform::push::kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD value = static_cast<DWORD>(port);
    RegSetValueEx(key, u"Port", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    ::setenv("TESSERA_PUSHROUTER_AUTOSTART", "1", 1);
    Client client;
    ::setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
    ASSERT_EQ(client.result, PUSH_S_OK);
    auto pdu = MmsPush("via autostart");
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, pdu.data(), pdu.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
    EXPECT_EQ(client.Take(), "via autostart");
  }
  // The root is gone; its router notices within a tick and frees the port.
  bool freed = false;
  for (int i = 0; i < 100 && !freed; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    freed = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
  }
  EXPECT_TRUE(freed);
}

TEST_F(PushRouterTest, AQueueNobodyTakesFromStopsGrowing) {
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  int fd = platform::push::Connect();
  ASSERT_GE(fd, 0);
  auto inject = [&](const std::string& body) {
    std::string payload(1, static_cast<char>(platform::push::WireOp::Inject));
    platform::push::PutText(payload, "text/plain");
    platform::push::PutText(payload, body);
    std::string reply;
    EXPECT_TRUE(platform::push::WriteAll(fd, platform::push::Frame(payload)));
    EXPECT_TRUE(platform::push::ReadFrame(fd, &reply, 5000));
    platform::push::WireReader r{reinterpret_cast<const std::uint8_t*>(reply.data()),
                                 reinterpret_cast<const std::uint8_t*>(reply.data()) + reply.size()};
    r.U8();
    return static_cast<LONG>(r.U32());
  };
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(inject(std::to_string(i)), PUSH_S_OK) << i;
  EXPECT_EQ(inject("one too many"), PUSH_E_OUTOFMEMORY);
  // A frame that no client sends ends the connection.
  std::string bogus(1, static_cast<char>(platform::push::WireOp::Offer));
  ASSERT_TRUE(platform::push::WriteAll(fd, platform::push::Frame(bogus)));
  std::string reply;
  EXPECT_FALSE(platform::push::ReadFrame(fd, &reply, 2000));
  ::close(fd);
  HANDLE event = nullptr;
  HPUSHROUTER client = nullptr;
  ASSERT_EQ(PushRouter_Open(u"Text/Plain", nullptr, &event, &client), PUSH_S_OK);
  ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  PUSHMSG m{};
  m.cbSize = sizeof m;
  ASSERT_EQ(PushRouter_GetMessage(client, &m), PUSH_S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(m.pbBody), m.cbBody), "0");
  EXPECT_EQ(PushRouter_FreeMessage(&m), PUSH_S_OK);
  EXPECT_EQ(PushRouter_FreeMessage(&m), PUSH_E_INVALIDARG);  // freed already
  EXPECT_EQ(PushRouter_Close(client), PUSH_S_OK);
}

TEST_F(PushRouterTest, DamagedQueueFilesAreSkipped) {
  std::string dir = root_.path() + "/push";
  ::mkdir(dir.c_str(), 0700);
  WriteFile(dir, "0000000003.msg", "XXXX garbage");                          // wrong magic
  WriteFile(dir, "0000000004.msg", std::string("TPQ1\xFF\xFF\xFF\x7F", 8));  // type length past the end
  WriteFile(dir, "0000000005.msg.tmp", "half written");
  std::string good("TPQ1", 4);
  platform::push::PutText(good, "application/vnd.wap.mms-message");
  good += "kept body";
  WriteFile(dir, "0000000002.msg", good);
  ScopedPushRouter router;
  ASSERT_TRUE(router.running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  EXPECT_EQ(client.Take(), "kept body");
  EXPECT_NE(::access((dir + "/0000000005.msg.tmp").c_str(), F_OK), 0);
  // New bodies are numbered after every file found and still come in order.
  EXPECT_EQ(Inject(WriteFile(root_.path(), "n.bin", "next")), "");
  EXPECT_EQ(client.Take(), "next");
  EXPECT_EQ(ReadFile(dir + "/0000000004.msg"), std::string("TPQ1\xFF\xFF\xFF\x7F", 8));
}

TEST_F(PushRouterTest, AnOpenClientFollowsARestartedRouter) {
  auto router = std::make_unique<ScopedPushRouter>();
  ASSERT_TRUE(router->running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  router.reset();
  PUSHMSG m{};
  m.cbSize = sizeof m;
  EXPECT_LT(PushRouter_GetMessage(client.router, &m), 0);
  router = std::make_unique<ScopedPushRouter>();
  ASSERT_TRUE(router->running());
  // The client opens again on its own; a body injected meanwhile waits for it.
  EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "after restart")), "");
  EXPECT_EQ(client.Take(), "after restart");
}

TEST_F(PushRouterTest, ARouterKilledOutrightIsReplacedWithoutLoss) {
  auto router = std::make_unique<ScopedPushRouter>();
  ASSERT_TRUE(router->running());
  EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "survives a kill")), "");
  ::kill(router->pid(), SIGKILL);
  router->Stop();
  // The dead router's socket file is still there; the next one takes its place.
  ASSERT_EQ(::access(platform::push::SocketPath().c_str(), F_OK), 0);
  router = std::make_unique<ScopedPushRouter>();
  ASSERT_TRUE(router->running());
  Client client;
  ASSERT_EQ(client.result, PUSH_S_OK);
  EXPECT_EQ(client.Take(), "survives a kill");
}

TEST_F(PushRouterTest, ATakenDefaultPortLeavesTheRouterServingItsClients) {
  // Another program holds the port the registry names.
  int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, platform::push::kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD value = ntohs(a.sin_port);
  RegSetValueEx(key, u"Port", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  {
    ScopedPushRouter router(/*passPort=*/false);
    ASSERT_TRUE(router.running());
    Client client;
    ASSERT_EQ(client.result, PUSH_S_OK);
    EXPECT_EQ(Inject(WriteFile(root_.path(), "a.bin", "local")), "");
    EXPECT_EQ(client.Take(), "local");
  }
  ::close(holder);
}
