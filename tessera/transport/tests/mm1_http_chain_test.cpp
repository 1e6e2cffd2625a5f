// The MM1 chain over HTTP with no WAP gateway: mm1tool posts to mmsc-lite (directly, or through
// Debian's tinyproxy), the notification comes back as a push over UDP, and mm1tool fetches the
// message. Each test runs in a private network namespace, so its fixed loopback ports are free.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <random>

#include "kannel_harness.h"
#include "mms/mms_pdu.h"
#include "platform_testing/device_root.h"

namespace fs = std::filesystem;
using namespace kannel_harness;

namespace {

std::string g_self;
constexpr int kMmscPort = 8002;
constexpr int kPushPort = 2948;
constexpr int kProxyPort = 8888;

struct ShellRun {
  int status = -1;
  std::string out;
};

ShellRun Shell(const std::string& command) {
  ShellRun r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int raw = ::pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

std::string Bin(const char* name) {
  return std::string(TESSERA_BINARY_DIR) + "/bin/" + name;
}

// Stops a spawned program however the test ends.
struct Child {
  pid_t pid = -1;
  ~Child() { Stop(); }
  void Stop() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
  }
};

class HttpChain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InNamespace()) return;  // the test re-runs itself inside one
    dir_ = root_.path() + "/chain";
    fs::create_directories(dir_);
    ASSERT_TRUE(LoopbackUp());
    push_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kPushPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(push_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval tv{15, 0};
    ::setsockopt(push_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    mmsc_.pid = Spawn({Bin("mmsc-lite"), "--port", std::to_string(kMmscPort), "--dir", dir_ + "/store"},
                      dir_ + "/mmsc.log");
    ASSERT_TRUE(WaitFor([&] { return ReadText(dir_ + "/mmsc.log").rfind("ready", 0) == 0; }, 10000));
    const std::string reg = Bin("tessera-reg") + " set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\";
    ASSERT_EQ(Shell(reg + "SizeLimit' SendDefault dword 400000").status, 0);
    ASSERT_EQ(Shell(reg + "SizeLimit' RecvDefault dword 400000").status, 0);
    ASSERT_EQ(Shell(reg + "TryLimit' TryDefault dword 1").status, 0);
    ShellRun add = Shell(Bin("mm1tool") + " profile add --name Web --transport http --mmsc http://127.0.0.1:" +
                         std::to_string(kMmscPort) + "/mms --default");
    ASSERT_EQ(add.status, 0) << add.out;

    // A 300 KB picture of noise (no compression shrinks it on the way) and a text.
    std::vector<char> noise(300000);
    std::mt19937 random(26);
    for (char& c : noise) c = static_cast<char>(random());
    std::ofstream(dir_ + "/noise.bin", std::ios::binary).write(noise.data(), static_cast<long>(noise.size()));
    std::ofstream(dir_ + "/note.txt") << "hello over HTTP";
    ShellRun build = Shell(Bin("mmstool") + " package build " + dir_ + "/out.pkg " + dir_ +
                           "/noise.bin:image/jpeg " + dir_ + "/note.txt:text/plain");
    ASSERT_EQ(build.status, 0) << build.out;
  }

  void TearDown() override {
    mmsc_.Stop();
    if (push_ >= 0) ::close(push_);
  }

  // Send, take the pushed notification, fetch; the fetched package must equal the sent one.
  void RoundTrip(const std::string& tag) {
    ShellRun send = Shell(Bin("mm1tool") + " send " + dir_ + "/out.pkg --to +4420/TYPE=PLMN --from +4411/TYPE=PLMN");
    ASSERT_EQ(send.status, 0) << send.out << ReadText(dir_ + "/mmsc.log");
    std::uint8_t datagram[4096];
    const ssize_t n = ::recv(push_, datagram, sizeof datagram, 0);
    ASSERT_GT(n, 0) << "no notification was pushed";
    mms::MmsHeaders headers;
    mms::NotificationInfo info;
    ASSERT_TRUE(mms::DecodeNotification(headers, datagram, static_cast<std::size_t>(n), info));
    const std::string in = dir_ + "/in-" + tag + ".pkg";
    ShellRun get =
        Shell(Bin("mm1tool") + " retrieve " + info.contentLocation + " " + info.transactionId + " " + in +
              " --msisdn +4420");
    ASSERT_EQ(get.status, 0) << get.out << ReadText(dir_ + "/mmsc.log");
    const std::string sent = ReadText(dir_ + "/out.pkg");
    EXPECT_GT(sent.size(), 300000u);
    EXPECT_TRUE(ReadText(in) == sent) << "the fetched package differs from the sent one";
  }

  platform_testing::ScopedDeviceRoot root_;
  std::string dir_;
  int push_ = -1;
  Child mmsc_;
};

bool Reexecute(const char* filter) {
  if (InNamespace()) return false;
  EXPECT_EQ(RunInNamespace({g_self, std::string("--gtest_filter=") + filter}), 0)
      << "the test inside the network namespace failed (its output is above)";
  return true;
}

}  // namespace

TEST_F(HttpChain, SendPushRetrieveWithNoGateway) {
  if (Reexecute("HttpChain.SendPushRetrieveWithNoGateway")) return;
  RoundTrip("direct");
  const std::string log = ReadText(dir_ + "/mmsc.log");
  EXPECT_NE(log.find("http POST /mms HTTP/1.1"), std::string::npos) << log;
  EXPECT_NE(log.find("x-msisdn +4420"), std::string::npos) << log;
  EXPECT_NE(log.find("received message-type 0x83 transaction-id"), std::string::npos) << log;
}

TEST_F(HttpChain, SendPushRetrieveThroughAProxy) {
  if (::access("/usr/bin/tinyproxy", X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed: proxy path skipped";
  if (Reexecute("HttpChain.SendPushRetrieveThroughAProxy")) return;
  std::ofstream(dir_ + "/tinyproxy.conf") << "Port " << kProxyPort
                                          << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\nAllow 127.0.0.1\n"
                                             "LogLevel Connect\nLogFile \""
                                          << dir_ << "/tinyproxy.log\"\n";
  Child proxy;
  proxy.pid = Spawn({"/usr/bin/tinyproxy", "-d", "-c", dir_ + "/tinyproxy.conf"}, dir_ + "/tinyproxy.out");
  ASSERT_TRUE(WaitFor([] { return PortBound("tcp", kProxyPort); }, 10000)) << ReadText(dir_ + "/tinyproxy.out");
  ShellRun update = Shell(Bin("mm1tool") + " profile update 1 --proxy 127.0.0.1:" + std::to_string(kProxyPort));
  ASSERT_EQ(update.status, 0) << update.out;
  EXPECT_NE(Shell(Bin("mm1tool") + " profile list").out.find("transport=http proxy=127.0.0.1:8888"),
            std::string::npos);

  RoundTrip("proxied");
  const std::string mmsc = "http://127.0.0.1:" + std::to_string(kMmscPort);
  const std::string log = ReadText(dir_ + "/tinyproxy.log");
  EXPECT_NE(log.find("POST " + mmsc + "/mms"), std::string::npos) << log;
  EXPECT_NE(log.find("GET " + mmsc + "/m/"), std::string::npos) << log;

  // With the proxy gone the profile does not fall back to a direct connection.
  proxy.Stop();
  ShellRun refused = Shell(Bin("mm1tool") + " send " + dir_ + "/out.pkg --to +4421");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("result 302"), std::string::npos) << refused.out;
}

TEST(Mm1toolTransport, HttpProfilesNeedOnlyTheMmscAndAProxyMustBeHostPort) {
  platform_testing::ScopedDeviceRoot root;
  const std::string tool = Bin("mm1tool") + " profile ";
  ShellRun r = Shell(tool + "add --name W --transport http --mmsc http://mmsc.example/mms");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Shell(tool + "add --name G --mmsc http://g/").status, 2);  // a gateway profile needs its gateway
  EXPECT_EQ(Shell(tool + "add --transport ftp --mmsc http://x/").status, 2);
  EXPECT_EQ(Shell(tool + "update 1 --proxy proxy.example").status, 2);
  EXPECT_EQ(Shell(tool + "update 1 --proxy 'p:80\r\nX: y'").status, 2);
  EXPECT_EQ(Shell(tool + "update 1 --proxy " + std::string(60, 'p') + ":8080").status, 2);
  EXPECT_EQ(Shell(tool + "update 1 --proxy proxy.example:3128").status, 0);
  EXPECT_NE(Shell(tool + "list").out.find("1* name=\"W\" gateway= port=0 mmsc=http://mmsc.example/mms transport=http "
                                          "proxy=proxy.example:3128\n"),
            std::string::npos);
  // Back to direct, then back to the gateway: the rest of the profile is kept.
  EXPECT_EQ(Shell(tool + "update 1 --proxy ''").status, 0);
  EXPECT_EQ(Shell(tool + "update 1 --transport wsp --gateway 10.0.0.9 --port 9201").status, 0);
  EXPECT_NE(Shell(tool + "list").out.find("1* name=\"W\" gateway=10.0.0.9 port=9201 mmsc=http://mmsc.example/mms "
                                          "transport=wsp\n"),
            std::string::npos)
      << Shell(tool + "list").out;
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
