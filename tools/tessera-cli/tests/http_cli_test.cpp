// tessera-cli over HTTP with no WAP gateway: compose, send, the pushed notification fetched into
// the Inbox; the same push delivered again, before and after the fetch, files nothing new and is
// answered again. mmsc-lite runs in a private network namespace.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>

#include "kannel_harness.h"
#include "platform_testing/device_root.h"

namespace fs = std::filesystem;
using namespace kannel_harness;

namespace {

std::string g_self;

struct Outcome {
  int code = -1;
  std::string text;
};

Outcome Program(const std::string& program, const std::string& arguments) {
  Outcome o;
  const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/" + program + " " + arguments + " 2>&1";
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) o.text.append(chunk, n);
    const int status = ::pclose(pipe);
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return o;
}

Outcome Cli(const std::string& arguments) {
  return Program("tessera-cli", arguments);
}

std::string After(const std::string& text, const std::string& word) {
  const std::size_t at = text.find(word + " ");
  if (at == std::string::npos) return {};
  const std::size_t start = at + word.size() + 1;
  return text.substr(start, text.find_first_not_of("0123456789", start) - start);
}

int Rows(const std::string& list) {
  int n = 0;
  for (char c : list) n += c == '\n';
  return n;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(TesseraCliHttp, APushDeliveredAgainIsAnsweredButNotFiledTwice) {
  if (!InNamespace()) {
    EXPECT_EQ(RunInNamespace({g_self, "--gtest_filter=TesseraCliHttp.*"}), 0)
        << "the test inside the network namespace failed (its output is above)";
    return;
  }
  platform_testing::ScopedDeviceRoot root;
  const fs::path dir = root.path() + "/web";
  fs::create_directories(dir);
  ASSERT_TRUE(LoopbackUp());
  const int push = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(2948);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(push, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval tv{15, 0};
  ::setsockopt(push, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  } mmsc{Spawn({std::string(TESSERA_BINARY_DIR) + "/bin/mmsc-lite", "--port", "8002", "--dir",
                (dir / "mmsc").string()},
               (dir / "mmsc.log").string())};
  ASSERT_TRUE(WaitFor([&] { return ReadText((dir / "mmsc.log").string()).rfind("ready", 0) == 0; }, 10000));

  const std::string ui = "set '\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI\\";
  ASSERT_EQ(Program("tessera-reg", ui + "SizeLimit' SendDefault dword 300000").code, 0);
  ASSERT_EQ(Program("tessera-reg", ui + "SizeLimit' RecvDefault dword 300000").code, 0);
  ASSERT_EQ(Program("tessera-reg", ui + "TryLimit' TryDefault dword 1").code, 0);
  ASSERT_EQ(
      Program("mm1tool", "profile add --name Web --transport http --mmsc http://127.0.0.1:8002/mms --default")
          .code,
      0);
  std::ofstream(dir / "note.txt") << "hello over the web";

  Outcome composed = Cli("compose --to +4420/TYPE=PLMN --subject Web " + (dir / "note.txt").string());
  ASSERT_EQ(composed.code, 0) << composed.text;
  Outcome sent = Cli("send " + composed.text.substr(0, composed.text.find('\n')));
  ASSERT_EQ(sent.code, 0) << sent.text << ReadText((dir / "mmsc.log").string());
  char datagram[4096];
  const ssize_t n = ::recv(push, datagram, sizeof datagram, 0);
  ASSERT_GT(n, 0) << "no notification was pushed";
  std::ofstream(dir / "n.bin", std::ios::binary).write(datagram, n);

  Outcome first = Cli("push " + (dir / "n.bin").string());
  ASSERT_EQ(first.code, 0) << first.text;
  const std::string id = After(first.text, "notification");
  ASSERT_FALSE(id.empty()) << first.text;
  EXPECT_NE(first.text.find("fetched " + id + "\n"), std::string::npos) << first.text;

  // The network did not hear the answer and sends the notification again.
  Outcome again = Cli("push " + (dir / "n.bin").string());
  EXPECT_EQ(again.code, 0) << again.text;
  EXPECT_NE(again.text.find("notification again " + id + "\n"), std::string::npos) << again.text;
  EXPECT_NE(again.text.find("answered again " + id + "\n"), std::string::npos) << again.text;
  EXPECT_EQ(again.text.find("fetched"), std::string::npos) << again.text;
  Outcome inbox = Cli("list inbox");
  EXPECT_EQ(Rows(inbox.text), 1) << inbox.text;
  EXPECT_NE(inbox.text.find(id + "\t1\t0x00010002\t"), std::string::npos) << inbox.text;
  const std::string log = ReadText((dir / "mmsc.log").string());
  EXPECT_EQ(Count(log, "http GET /m/"), 1u) << log;  // fetched once
  EXPECT_EQ(Count(log, "received message-type 0x83"), 2u) << log;
  EXPECT_EQ(Count(log, "status 0x81"), 2u) << log;
  ::close(push);
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
