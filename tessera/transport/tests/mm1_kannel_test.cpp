// The whole MM1 chain on loopback: mm1tool talks WSP to Debian's WAP gateway, which talks HTTP
// to mmsc-lite; the notification comes back as a WAP push over UDP.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>

#include "kannel_harness.h"
#include "mms/mms_pdu.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"

namespace fs = std::filesystem;
using namespace kannel_harness;

namespace {

std::string g_self;

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

}  // namespace

TEST(Mm1Chain, SendNotifyRetrieveThroughTheGateway) {
  if (!KannelInstalled()) GTEST_SKIP() << "Kannel (bearerbox, wapbox) is not installed: chain test skipped";
  if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  if (!InNamespace()) {
    const int status = RunInNamespace({g_self, "--gtest_filter=Mm1Chain.*"});
    EXPECT_EQ(status, 0) << "the test inside the network namespace failed (its output is above)";
    return;
  }
  platform_testing::ScopedDeviceRoot root;
  const fs::path dir = root.path() + "/chain";
  fs::create_directories(dir);
  Gateway gateway;
  std::string error;
  ASSERT_TRUE(gateway.Start(dir.string(), false, &error)) << error;

  // The push listener stands where the push router would be.
  const int push = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(2948);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(push, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval tv{10, 0};
  ::setsockopt(push, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  const pid_t mmsc = Spawn({Bin("mmsc-lite"), "--port", "8002", "--dir", (dir / "store").string()},
                           (dir / "mmsc.log").string());
  ASSERT_TRUE(WaitFor([&] { return ReadText((dir / "mmsc.log").string()).rfind("ready", 0) == 0; }, 10000));

  // The size and try limits are provisioned; the profile points at this set-up.
  ASSERT_EQ(
      Shell(Bin("tessera-reg") +
            " set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\SizeLimit' SendDefault dword 300000")
          .status,
      0);
  Shell(Bin("tessera-reg") +
        " set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\SizeLimit' RecvDefault dword 300000");
  Shell(Bin("tessera-reg") +
        " set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\TryLimit' TryDefault dword 1");
  // The gateway answers 406 unless the client accepts the MMS type.
  Shell(Bin("tessera-reg") +
        " set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader' Accept sz "
        "'application/vnd.wap.mms-message'");
  ShellRun add = Shell(Bin("mm1tool") +
                       " profile add --name Local --gateway 127.0.0.1 --port 9201 --mmsc "
                       "http://127.0.0.1:8002/mms --default");
  ASSERT_EQ(add.status, 0) << add.out;

  ASSERT_EQ(Shell("convert -size 64x48 gradient:red-blue " + (dir / "pic.jpg").string()).status, 0);
  std::ofstream(dir / "note.txt") << "hello through the gateway";
  ShellRun build =
      Shell(Bin("mmstool") + " package build " + (dir / "out.pkg").string() + " " +
            (dir / "pic.jpg").string() + ":image/jpeg " + (dir / "note.txt").string() + ":text/plain");
  ASSERT_EQ(build.status, 0) << build.out;

  ShellRun send = Shell(Bin("mm1tool") + " send " + (dir / "out.pkg").string() +
                        " --to +4420/TYPE=PLMN --from +4411/TYPE=PLMN --subject Hi --delivery-report");
  ASSERT_EQ(send.status, 0) << send.out << ReadText((dir / "wapbox.log").string());
  EXPECT_NE(send.out.find("message-id msg-1"), std::string::npos) << send.out;

  std::uint8_t datagram[4096];
  const ssize_t n = ::recv(push, datagram, sizeof datagram, 0);
  ASSERT_GT(n, 0) << "no notification was pushed";
  mms::MmsHeaders headers;
  mms::NotificationInfo info;
  ASSERT_EQ(mms::ClassifyPush(datagram, static_cast<std::size_t>(n)), mms::PushKind::Notification);
  ASSERT_TRUE(mms::DecodeNotification(headers, datagram, static_cast<std::size_t>(n), info));
  EXPECT_EQ(info.contentLocation, "http://127.0.0.1:8002/m/" + info.transactionId);

  ShellRun get = Shell(Bin("mm1tool") + " retrieve " + info.contentLocation + " " + info.transactionId + " " +
                       (dir / "in.pkg").string() + " --msisdn +4420");
  ASSERT_EQ(get.status, 0) << get.out << ReadText((dir / "wapbox.log").string());
  EXPECT_EQ(ReadText((dir / "in.pkg").string()), ReadText((dir / "out.pkg").string()));

  // Immediate mode ("SendDelayedNotifyResp" absent): the retrieval ends with a notify-response
  // Retrieved, which completes the delivery report to the sender.
  const ssize_t m = ::recv(push, datagram, sizeof datagram, 0);
  ASSERT_GT(m, 0) << "no delivery report was pushed";
  EXPECT_EQ(mms::ClassifyPush(datagram, static_cast<std::size_t>(m)), mms::PushKind::DeliveryReport);

  ShellRun missing =
      Shell(Bin("mm1tool") + " retrieve http://127.0.0.1:8002/m/none T " + (dir / "x.pkg").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("result 314"), std::string::npos) << missing.out;
  EXPECT_FALSE(fs::exists(dir / "x.pkg"));

  // A second MMSC that refuses the next send with "sending address unresolved".
  const pid_t failing = Spawn({Bin("mmsc-lite"), "--port", "8003", "--fail-status", "0x84", "--fail-count",
                               "1", "--dir", (dir / "store2").string()},
                              (dir / "mmsc2.log").string());
  ASSERT_TRUE(WaitFor([&] { return ReadText((dir / "mmsc2.log").string()).rfind("ready", 0) == 0; }, 10000));
  ASSERT_EQ(Shell(Bin("mm1tool") + " profile update 1 --mmsc http://127.0.0.1:8003/mms").status, 0);
  const std::string again = Bin("mm1tool") + " send " + (dir / "out.pkg").string() + " --to +4421";
  ShellRun refused = Shell(again);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("result 454"), std::string::npos) << refused.out;
  ShellRun accepted = Shell(again);
  EXPECT_EQ(accepted.status, 0) << accepted.out;
  ::kill(failing, SIGTERM);
  ::waitpid(failing, nullptr, 0);

  ::kill(mmsc, SIGTERM);
  ::waitpid(mmsc, nullptr, 0);
  ::close(push);
  const std::string log = ReadText((dir / "mmsc.log").string());
  EXPECT_NE(log.find("received message-type 0x80"), std::string::npos) << log;
  EXPECT_NE(log.find("x-msisdn +4420"), std::string::npos) << log;
  EXPECT_NE(log.find("received message-type 0x83"), std::string::npos) << log;
  gateway.Stop();
}

TEST(Mm1tool, ProfileCommandsAndFailures) {
  platform_testing::ScopedDeviceRoot root;
  const std::string tool = Bin("mm1tool");
  ShellRun r = Shell(tool + " profile add --name A --gateway 10.0.0.1 --port 9201 --mmsc http://a/");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Shell(tool + " profile add --name B --gateway 10.0.0.2 --port 9202 --mmsc http://b/ --default");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Shell(tool + " profile update 1 --port 7000");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Shell(tool + " profile list");
  EXPECT_NE(r.out.find("1  name=\"A\" gateway=10.0.0.1 port=7000 mmsc=http://a/"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2* name=\"B\""), std::string::npos) << r.out;
  r = Shell(tool + " profile delete 2");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(Shell(tool + " profile list").out.find("1* name=\"A\""), std::string::npos);

  EXPECT_EQ(Shell(tool + " profile delete 5").status, 1);
  EXPECT_EQ(Shell(tool + " profile use 9").status, 1);
  EXPECT_EQ(Shell(tool + " profile add --gateway 1.2.3.4 --port 99999 --mmsc http://x/").status, 2);
  EXPECT_EQ(
      Shell(tool + " profile add --name " + std::string(64, 'n') + " --gateway 1.2.3.4 --port 1 --mmsc u")
          .status,
      2);
  EXPECT_EQ(Shell(tool + " send").status, 2);
  EXPECT_EQ(Shell(tool + " send x.pkg --cc").status, 2);
  EXPECT_EQ(Shell(tool + " frobnicate").status, 2);
  r = Shell(tool + " send " + root.path() + "/missing.pkg --to +1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("result -2"), std::string::npos) << r.out;

  // mmsc-lite refuses bad options before it binds anything.
  EXPECT_EQ(Shell(Bin("mmsc-lite")).status, 2);
  EXPECT_EQ(Shell(Bin("mmsc-lite") + " --port 8002 --fail-status 0x90").status, 2);
  EXPECT_EQ(Shell(Bin("mmsc-lite") + " --port 8002 --push nowhere").status, 2);
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
