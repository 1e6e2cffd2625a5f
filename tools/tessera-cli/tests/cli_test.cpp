// tessera-cli end to end: compose, send to Sent, and notification, fetch to Inbox, against
// mmsc-lite behind Debian's WAP gateway on loopback; the single-instance rule; the errors.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "kannel_harness.h"
#include "platform/window.h"
#include "platform_testing/device_root.h"
#include "platform_testing/push_router.h"

namespace fs = std::filesystem;
using namespace kannel_harness;

namespace {

std::string g_self;

struct Outcome {
  int code = -1;
  std::string text;  // standard output and error together
};

Outcome Cli(const std::string& arguments) {
  Outcome o;
  const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/tessera-cli " + arguments + " 2>&1";
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) o.text.append(chunk, n);
    const int status = ::pclose(pipe);
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return o;
}

int Tool(const std::string& name, const std::string& arguments) {
  const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/" + name + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Provision(const std::string& key, const std::string& value, const std::string& typeAndData) {
  ASSERT_EQ(Tool("tessera-reg", "set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\" + key + "' " + value + " " +
                                    typeAndData),
            0);
}

// A UDP socket on a loopback port; receives whole datagrams.
class UdpListener {
 public:
  explicit UdpListener(int port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    timeval tv{15, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~UdpListener() { ::close(fd_); }
  bool bound() const { return bound_; }
  int port() const {
    sockaddr_in addr{};
    socklen_t size = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size);
    return ntohs(addr.sin_port);
  }
  std::string Receive() {
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  int fd_;
  bool bound_ = false;
};

// The first number on the line that starts with `word`.
std::string After(const std::string& text, const std::string& word) {
  const std::size_t at = text.find(word + " ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + word.size() + 1;
  return text.substr(start, text.find_first_not_of("0123456789", start) - start);
}

}  // namespace

TEST(TesseraCli, SendToSentAndFetchToInboxThroughTheGateway) {
  if (!KannelInstalled()) GTEST_SKIP() << "Kannel (bearerbox, wapbox) is not installed";
  if (std::system("command -v convert >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  if (!InNamespace()) {
    EXPECT_EQ(RunInNamespace({g_self, "--gtest_filter=TesseraCli.SendToSentAndFetchToInboxThroughTheGateway"}), 0)
        << "the test inside the network namespace failed (its output is above)";
    return;
  }
  platform_testing::ScopedDeviceRoot root;
  const fs::path dir = root.path() + "/loop";
  fs::create_directories(dir);
  Gateway gateway;
  std::string error;
  ASSERT_TRUE(gateway.Start(dir.string(), false, &error)) << error;
  UdpListener push(2948);  // where the push router would listen
  ASSERT_TRUE(push.bound());
  const pid_t mmsc = Spawn({std::string(TESSERA_BINARY_DIR) + "/bin/mmsc-lite", "--port", "8002", "--dir",
                            (dir / "mmsc").string()},
                           (dir / "mmsc.log").string());
  // Stopped however the test ends, so a failed assertion leaves nothing running.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
  } reaper{mmsc};
  ASSERT_TRUE(WaitFor([&] { return ReadText((dir / "mmsc.log").string()).rfind("ready", 0) == 0; }, 10000));

  // Limits and the profile; the request headers are left to the engine's defaults.
  Provision("UI\\SizeLimit", "SendDefault", "dword 300000");
  Provision("UI\\SizeLimit", "RecvDefault", "dword 300000");
  Provision("UI\\TryLimit", "TryDefault", "dword 1");
  ASSERT_EQ(Tool("tessera-reg", "set '\\Platform\\Phone' OwnNumber sz +4420"), 0);
  ASSERT_EQ(Tool("mm1tool", "profile add --name Local --gateway 127.0.0.1 --port 9201 --mmsc "
                            "http://127.0.0.1:8002/mms --default"),
            0);
  ASSERT_EQ(std::system(("convert -size 64x48 gradient:red-blue " + (dir / "pic.jpg").string()).c_str()), 0);
  std::ofstream(dir / "note.txt") << "hello through the gateway";

  // Compose, then send: the message ends in Sent.
  Outcome composed = Cli("compose --to +4420/TYPE=PLMN --subject Hello " + (dir / "pic.jpg").string() + " " +
                         (dir / "note.txt").string());
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  EXPECT_NE(Cli("list draft").text.find(id + "\t1\t0x00010002\t"), std::string::npos);
  Outcome sent = Cli("send " + id);
  ASSERT_EQ(sent.code, 0) << sent.text << ReadText((dir / "wapbox.log").string());
  // What it waits for goes to standard error, the outcome to standard output.
  EXPECT_NE(sent.text.find("sending " + id + " through the WAP gateway 127.0.0.1:"), std::string::npos) << sent.text;
  EXPECT_EQ(sent.text.substr(sent.text.find('\n') + 1), "sent " + id + "\n");
  Outcome sentList = Cli("list sent");
  EXPECT_NE(sentList.text.find(id + "\t1\t0x00010002\t"), std::string::npos) << sentList.text;
  // Stored as the send page stores recipients: each followed by ";".
  EXPECT_NE(sentList.text.find("\t+4420/TYPE=PLMN;\tHello\n"), std::string::npos) << sentList.text;
  EXPECT_EQ(Cli("list outbox").text, "");
  EXPECT_NE(Cli("show " + id).text.find("message-id: msg-1\n"), std::string::npos);
  // The logs belong to the device root, not to the build's program folder.
  const std::string programData = root.path() + "/Program Files/Tessera";
  EXPECT_FALSE(fs::exists(std::string(TESSERA_BINARY_DIR) + "/bin/Send.txt"));
  const std::string sendLog = ReadText(programData + "/Send.txt");
  EXPECT_NE(sendLog.find("Send Result : 0\r\n"), std::string::npos) << sendLog;

  // The notification is fetched at once into the Inbox.
  const std::string notification = push.Receive();
  ASSERT_FALSE(notification.empty()) << "no notification was pushed";
  std::ofstream(dir / "notification.bin", std::ios::binary) << notification;
  Outcome fetched = Cli("push " + (dir / "notification.bin").string());
  ASSERT_EQ(fetched.code, 0) << fetched.text << ReadText((dir / "wapbox.log").string());
  const std::string inboxId = After(fetched.text, "notification");
  ASSERT_FALSE(inboxId.empty()) << fetched.text;
  EXPECT_NE(fetched.text.find("fetched " + inboxId + "\n"), std::string::npos) << fetched.text;
  Outcome inbox = Cli("list inbox");
  EXPECT_NE(inbox.text.find(inboxId + "\t1\t0x00010002\t"), std::string::npos) << inbox.text;
  EXPECT_NE(inbox.text.find("\tHello\n"), std::string::npos) << inbox.text;
  Outcome shown = Cli("show " + inboxId);
  EXPECT_NE(shown.text.find("folder: inbox\n"), std::string::npos) << shown.text;
  EXPECT_NE(shown.text.find("type: 1\n"), std::string::npos) << shown.text;
  EXPECT_NE(shown.text.find("options: status"), std::string::npos) << shown.text;
  const std::string recvLog = ReadText(programData + "/Recv.txt");
  EXPECT_NE(recvLog.find("Recv Result : 0\r\n"), std::string::npos) << recvLog;

  // Deferred mode: the notification is answered first and stays until fetched on request.
  Provision("mm1", "SendDelayedNotifyResp", "dword 1");
  composed = Cli("compose --to +4420/TYPE=PLMN --subject Later " + (dir / "note.txt").string());
  ASSERT_EQ(composed.code, 0) << composed.text;
  ASSERT_EQ(Cli("send " + composed.text.substr(0, composed.text.find('\n'))).code, 0);
  const std::string second = push.Receive();
  ASSERT_FALSE(second.empty());
  std::ofstream(dir / "second.bin", std::ios::binary) << second;
  Outcome deferred = Cli("push " + (dir / "second.bin").string());
  ASSERT_EQ(deferred.code, 0) << deferred.text;
  const std::string laterId = After(deferred.text, "notification");
  EXPECT_NE(deferred.text.find("deferred " + laterId + "\n"), std::string::npos) << deferred.text;
  EXPECT_NE(Cli("list inbox").text.find(laterId + "\t3\t0x00010002\t"), std::string::npos);
  Outcome later = Cli("fetch " + laterId);
  EXPECT_EQ(later.code, 0) << later.text;
  EXPECT_NE(Cli("list inbox").text.find(laterId + "\t1\t0x00010002\t"), std::string::npos);

  // As the push client: a notification injected into the push router is fetched at once.
  Provision("mm1", "SendDelayedNotifyResp", "dword 0");
  composed = Cli("compose --to +4420/TYPE=PLMN --subject Pushed " + (dir / "note.txt").string());
  ASSERT_EQ(composed.code, 0) << composed.text;
  ASSERT_EQ(Cli("send " + composed.text.substr(0, composed.text.find('\n'))).code, 0);
  const std::string third = push.Receive();
  ASSERT_FALSE(third.empty());
  std::ofstream(dir / "third.bin", std::ios::binary) << third;
  {
    platform_testing::ScopedPushRouter router;
    ASSERT_TRUE(router.running());
    const std::string runLog = (dir / "run.log").string();
    const pid_t run = Spawn({std::string(TESSERA_BINARY_DIR) + "/bin/tessera-cli", "run"}, runLog);
    Reaper runReaper{run};
    ASSERT_TRUE(WaitFor([&] { return ReadText(runLog).find("running\n") != std::string::npos; }, 10000))
        << ReadText(runLog);
    // The running push client holds the main window: reading works beside it, changing does not.
    EXPECT_EQ(Cli("list inbox").code, 0);
    Outcome refused = Cli("delete inbox 1");
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.text.find("(another tessera-cli, process "), std::string::npos) << refused.text;
    ASSERT_EQ(Tool("pushrouter", "--inject " + (dir / "third.bin").string()), 0);
    EXPECT_TRUE(WaitFor([&] { return ReadText(runLog).find("fetched ") != std::string::npos; }, 30000))
        << ReadText(runLog) << ReadText((dir / "wapbox.log").string());
    ::kill(run, SIGTERM);
    int status = -1;
    ::waitpid(run, &status, 0);
    runReaper.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(runLog);
    const std::string log = ReadText(runLog);
    const std::string pushedId = After(log, "notification");
    ASSERT_FALSE(pushedId.empty()) << log;
    EXPECT_NE(log.find("fetched " + pushedId + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("stopped\n"), std::string::npos) << log;
    Outcome inboxNow = Cli("list inbox");
    EXPECT_NE(inboxNow.text.find(pushedId + "\t1\t0x00010002\t"), std::string::npos) << inboxNow.text;
    EXPECT_NE(inboxNow.text.find("\tPushed\n"), std::string::npos) << inboxNow.text;
  }

  // Delete removes the entry and its files.
  EXPECT_EQ(Cli("delete inbox " + laterId).code, 0);
  EXPECT_EQ(("\n" + Cli("list inbox").text).find("\n" + laterId + "\t"), std::string::npos);  // no row of its own
  EXPECT_EQ(Cli("delete inbox " + laterId).code, 1);

  ::kill(mmsc, SIGTERM);
  ::waitpid(mmsc, nullptr, 0);
  reaper.pid = -1;
  const std::string log = ReadText((dir / "mmsc.log").string());
  EXPECT_NE(log.find("x-msisdn +4420"), std::string::npos) << log;
  EXPECT_NE(log.find("received message-type 0x85"), std::string::npos) << log;  // m-acknowledge-ind
  gateway.Stop();
}

TEST(TesseraCli, OneMainProgramPerDeviceRoot) {
  platform_testing::ScopedDeviceRoot root;
  WNDCLASS wc{};
  wc.lpfnWndProc = &DefWindowProc;
  wc.lpszClassName = u"RIR_WndCls_MainFrme";
  RegisterClass(&wc);
  HWND running = CreateWindowEx(0, u"RIR_WndCls_MainFrme", u"Tessera", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(running, nullptr);
  Outcome refused = Cli("delete inbox 1");
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.text.find("already running"), std::string::npos) << refused.text;
  EXPECT_NE(refused.text.find("only list and show run beside it"), std::string::npos) << refused.text;
  EXPECT_EQ(Cli("list inbox").code, 0);
  EXPECT_EQ(Tool("tessera", ""), 1);
  DestroyWindow(running);
  EXPECT_EQ(Cli("list inbox").code, 0);
  EXPECT_EQ(Tool("tessera", ""), 0);

  // The reverse: while a tessera-cli waits on a transfer, `tessera` does not start. The
  // gateway here takes the datagrams and never answers.
  UdpListener silent(0);
  Provision("UI\\SizeLimit", "SendDefault", "dword 300000");
  Provision("UI\\SizeLimit", "RecvDefault", "dword 300000");
  Provision("UI\\TryLimit", "TryDefault", "dword 1");
  ASSERT_EQ(Tool("mm1tool", "profile add --name Silent --gateway 127.0.0.1 --port " + std::to_string(silent.port()) +
                            " --mmsc http://127.0.0.1:1/mms --default"),
            0);
  std::ofstream(root.path() + "/note.txt") << "x";
  Outcome composed = Cli("compose --to +15550100 " + root.path() + "/note.txt");
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  const pid_t cli = Spawn({std::string(TESSERA_BINARY_DIR) + "/bin/tessera-cli", "send", id},
                          root.path() + "/cli.log");
  const bool seen = WaitFor([] { return FindWindow(u"RIR_WndCls_MainFrme", nullptr) != nullptr; }, 10000);
  EXPECT_TRUE(seen);
  if (seen) {
    EXPECT_EQ(Tool("tessera", ""), 1);
    // A second tessera-cli is told who holds the root; reading runs beside the send.
    Outcome second = Cli("compose --to +15550100 " + root.path() + "/note.txt");
    EXPECT_EQ(second.code, 1);
    EXPECT_NE(second.text.find("(another tessera-cli, process "), std::string::npos) << second.text;
    Outcome listed = Cli("list outbox");
    EXPECT_EQ(listed.code, 0) << listed.text;
    EXPECT_NE(listed.text.find(id + "\t1\t"), std::string::npos) << listed.text;
    Outcome shown = Cli("show " + id);
    EXPECT_EQ(shown.code, 0) << shown.text;
    EXPECT_NE(shown.text.find("folder: outbox\n"), std::string::npos) << shown.text;
  }
  ::kill(cli, SIGTERM);
  ::waitpid(cli, nullptr, 0);
}

// A kill in the middle of a send loses nothing: the message stays in the Outbox, queued or
// sending, and a later run sends it again.
TEST(TesseraCli, KillDuringASendLeavesTheMessageInTheOutbox) {
  platform_testing::ScopedDeviceRoot root;
  UdpListener gateway(0);  // takes the datagrams and never answers
  ASSERT_TRUE(gateway.bound());
  Provision("UI\\SizeLimit", "SendDefault", "dword 300000");
  Provision("UI\\SizeLimit", "RecvDefault", "dword 300000");  // the profile is read only with both limits
  Provision("UI\\TryLimit", "TryDefault", "dword 1");
  ASSERT_EQ(Tool("mm1tool", "profile add --name Silent --gateway 127.0.0.1 --port " + std::to_string(gateway.port()) +
                            " --mmsc http://127.0.0.1:1/mms --default"),
            0);
  std::ofstream(root.path() + "/note.txt") << "kept";
  Outcome composed = Cli("compose --to +15550100 --subject Kept " + root.path() + "/note.txt");
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));

  for (int attempt = 0; attempt < 2; ++attempt) {
    const pid_t cli = Spawn({std::string(TESSERA_BINARY_DIR) + "/bin/tessera-cli", "send", id},
                            root.path() + "/cli.log");
    const bool reached = !gateway.Receive().empty();  // the transfer is under way
    ::kill(cli, SIGKILL);
    ::waitpid(cli, nullptr, 0);
    ASSERT_TRUE(reached) << "attempt " << attempt << ": nothing reached the gateway; tessera-cli said: "
                         << ReadText(root.path() + "/cli.log");
    Outcome outbox = Cli("list outbox");
    // Queued (0x0002....) or sending (0x0004....), whichever was saved last.
    const bool queued = outbox.text.find(id + "\t1\t0x0002") != std::string::npos;
    const bool sending = outbox.text.find(id + "\t1\t0x0004") != std::string::npos;
    EXPECT_TRUE(queued || sending) << outbox.text;
    EXPECT_NE(outbox.text.find("\tKept\n"), std::string::npos) << outbox.text;
    EXPECT_EQ(Cli("list draft").text, "");
    EXPECT_EQ(Cli("list sent").text, "");
  }
}

// With a gateway that never answers, a send says what it is waiting for and, at the end,
// why it failed in words.
TEST(TesseraCli, ASendWithoutAGatewaySaysWhatItWaitsForAndWhyItFailed) {
  platform_testing::ScopedDeviceRoot root;
  UdpListener gateway(0);
  ASSERT_TRUE(gateway.bound());
  Provision("UI\\SizeLimit", "SendDefault", "dword 300000");
  Provision("UI\\SizeLimit", "RecvDefault", "dword 300000");
  Provision("UI\\TryLimit", "TryDefault", "dword 1");
  Provision("mm1", "WTPMaxRetryTimes", "dword 1");
  Provision("mm1", "SendAndRecvTimeOut", "dword 300");
  const std::string port = std::to_string(gateway.port());
  ASSERT_EQ(Tool("mm1tool", "profile add --name Silent --gateway 127.0.0.1 --port " + port +
                            " --mmsc http://127.0.0.1:1/mms --default"),
            0);
  std::ofstream(root.path() + "/note.txt") << "x";
  Outcome composed = Cli("compose --to +15550100 " + root.path() + "/note.txt");
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  Outcome sent = Cli("send " + id);
  EXPECT_EQ(sent.code, 1);
  EXPECT_NE(sent.text.find("sending " + id + " through the WAP gateway 127.0.0.1:" + port + "; waiting"),
            std::string::npos)
      << sent.text;
  EXPECT_NE(sent.text.find("send failed " + id + ": could not open a session with the WAP gateway 127.0.0.1:" + port +
                           " (result 302"),
            std::string::npos)
      << sent.text;
}

// Queued for the program: the draft waits in the Outbox, queued, and nothing is sent.
TEST(TesseraCli, QueueMovesADraftToTheOutboxWithoutSending) {
  platform_testing::ScopedDeviceRoot root;
  std::ofstream(root.path() + "/note.txt") << "later";
  Outcome composed = Cli("compose --to +15550101 --subject Later " + root.path() + "/note.txt");
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  Outcome queued = Cli("queue " + id);
  ASSERT_EQ(queued.code, 0) << queued.text;
  EXPECT_EQ(queued.text, "queued " + id + "\n");
  EXPECT_EQ(Cli("list draft").text, "");
  Outcome outbox = Cli("list outbox");
  EXPECT_NE(outbox.text.find(id + "\t1\t0x0002"), std::string::npos) << outbox.text;
  EXPECT_NE(outbox.text.find("\tLater\n"), std::string::npos) << outbox.text;
  EXPECT_FALSE(fs::exists(root.path() + "/Program Files/Tessera/Send.txt"));  // no transfer was tried
  EXPECT_EQ(Cli("queue " + id).code, 1);  // not a draft any more
  EXPECT_EQ(Cli("queue 999").code, 1);
}

// What compose stores is the whole message: every file, byte for byte, and the subject; a
// store whose Draft index and backup are both damaged is rebuilt from the message files.
TEST(TesseraCli, ComposedMessagesKeepTheirMediaAndADamagedIndexIsRebuilt) {
  platform_testing::ScopedDeviceRoot root;
  const std::string store = root.path() + "/My Documents/UAContents/MMS UA/";
  std::string picture(2000, '\0');
  for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7);
  std::ofstream(root.path() + "/p.jpg", std::ios::binary) << picture;
  std::ofstream(root.path() + "/t.txt") << "hello";
  Outcome composed = Cli("compose --to +15550100 --subject Hi " + root.path() + "/p.jpg " + root.path() + "/t.txt");
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  const std::string body = store + id + ".DAT";
  Outcome listed = Cli("list draft");
  EXPECT_NE(listed.text.find("\tHi\n"), std::string::npos) << listed.text;

  const std::string mmstool = std::string(TESSERA_BINARY_DIR) + "/bin/mmstool";
  Outcome parts;
  if (FILE* pipe = ::popen((mmstool + " package list '" + body + "' 2>&1").c_str(), "r")) {
    char chunk[1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) parts.text.append(chunk, n);
    ::pclose(pipe);
  }
  EXPECT_NE(parts.text.find("application/smil"), std::string::npos) << parts.text;
  EXPECT_NE(parts.text.find("image/jpeg"), std::string::npos) << parts.text;
  EXPECT_NE(parts.text.find("text/plain"), std::string::npos) << parts.text;
  ASSERT_EQ(Tool("mmstool", "package extract '" + body + "' '" + root.path() + "/out'"), 0);
  bool same = false;
  for (const auto& file : fs::directory_iterator(root.path() + "/out"))
    if (file.path().extension() == ".jpg") {
      std::ifstream in(file.path(), std::ios::binary);
      same = std::string(std::istreambuf_iterator<char>(in), {}) == picture;
    }
  EXPECT_TRUE(same) << "the picture did not come back byte for byte";

  std::ofstream(store + "Draft.inf", std::ios::binary) << "damaged";
  std::ofstream(store + "Draft.inf.bak", std::ios::binary) << "damaged too";
  Outcome rebuilt = Cli("list draft");
  EXPECT_EQ(rebuilt.code, 0) << rebuilt.text;
  EXPECT_NE(rebuilt.text.find("Draft index and its backup could not be read"), std::string::npos) << rebuilt.text;
  EXPECT_NE(rebuilt.text.find(id + "\t1\t"), std::string::npos) << rebuilt.text;
  EXPECT_TRUE(fs::exists(store + "Draft.inf.damaged"));
  Outcome again = Cli("list draft");
  EXPECT_EQ(again.text.find("could not be read"), std::string::npos) << again.text;
  EXPECT_NE(again.text.find(id + "\t1\t"), std::string::npos) << again.text;
}

TEST(TesseraCli, ClearErrors) {
  platform_testing::ScopedDeviceRoot root;
  EXPECT_EQ(Cli("").code, 2);
  EXPECT_EQ(Cli("frobnicate").code, 2);
  EXPECT_EQ(Cli("list attic").code, 2);
  EXPECT_EQ(Cli("show x").code, 2);
  EXPECT_EQ(Cli("show 0").code, 2);
  EXPECT_EQ(Cli("compose note.txt").code, 2);  // no --to
  Outcome missing = Cli("compose --to +15550100 " + root.path() + "/none.txt");
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.text.find("no such file"), std::string::npos) << missing.text;
  std::ofstream(root.path() + "/note.txt") << "x";
  for (const char* to : {"''", "';;;'", "abc@", "'not a number'", "'+15550100;12a'", "'a@bc.de;x@y.zz'"}) {
    Outcome refused = Cli(std::string("compose --to ") + to + " " + root.path() + "/note.txt");
    EXPECT_EQ(refused.code, 1) << to;
    EXPECT_TRUE(refused.text.find("not a valid") != std::string::npos ||
                refused.text.find("no recipient") != std::string::npos)
        << to << ": " << refused.text;
  }
  EXPECT_EQ(Cli("list draft").text, "");
  std::ofstream(root.path() + "/a.xyz") << "?";
  EXPECT_EQ(Cli("compose --to +15550100 " + root.path() + "/a.xyz").code, 1);
  EXPECT_EQ(Cli("show 12345").code, 1);
  EXPECT_EQ(Cli("send 12345").code, 1);
  EXPECT_EQ(Cli("fetch 12345").code, 1);
  EXPECT_EQ(Cli("delete sent 12345").code, 1);
  std::ofstream(root.path() + "/junk.bin") << "\x01\x02\x03";
  EXPECT_EQ(Cli("push " + root.path() + "/junk.bin").code, 1);
  EXPECT_EQ(Cli("list inbox").text, "");
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
