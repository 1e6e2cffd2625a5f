// Two phones in the local world of scripts/world, through the WAP gateway: a message composed on
// phone A beforehand (with tessera-cli) is sent by phone A's running program when its main frame
// is told to send it (navigation code 5); phone B's program shows the new-message notice and the
// message lands in B's Inbox, fetched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace fs = std::filesystem;

namespace {

const std::string kBin = std::string(TESSERA_BINARY_DIR) + "/bin";
const std::string kWorld = std::string(TESSERA_SOURCE_DIR) + "/scripts/world";
constexpr UINT kMsgNavigate = 1239;  // the main frame's navigation message
constexpr WPARAM kNavigateSend = 5;  // send the Outbox message named by lParam
std::string g_self;

struct Outcome {
  int code = -1;
  std::string text;
};

Outcome Run(const std::string& command) {
  Outcome o;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char chunk[1024];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) o.text.append(chunk, n);
    const int status = ::pclose(pipe);
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return o;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

Outcome OnPhone(const std::string& root, const std::string& tool, const std::string& arguments) {
  return Run("TESSERA_ROOT=" + Quote(root) + " TESSERA_PUSHROUTER_AUTOSTART=0 " + Quote(kBin + "/" + tool) + " " +
             arguments);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

template <typename F>
bool WaitFor(F ready, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ready();
}

// Why the program cannot take part yet, or "" when it can.
std::string ProgramMissing() {
  if (::access("/usr/sbin/bearerbox", X_OK) != 0 || ::access("/usr/sbin/wapbox", X_OK) != 0)
    return "Kannel (bearerbox, wapbox) is not installed";
  if (::access((kBin + "/tessera-drive").c_str(), X_OK) != 0) return "tessera-drive is not built yet";
  Outcome probe = Run("bash -c 'source " + Quote(kWorld) + "; world_defaults; WORLD_BIN=" + Quote(kBin) +
                      "; world_program_has_screens'");
  if (probe.code != 0) return "this build's tessera has no screens yet (tessera --headless --describe shows no main list)";
  return "";
}

// The world of scripts/world, up with both phones headless, stopped however the test ends.
class World {
 public:
  explicit World(std::string dir) : dir_(std::move(dir)) {}
  ~World() { Stop(); }
  std::string RootA() const { return dir_ + "/phone-a"; }
  std::string RootB() const { return dir_ + "/phone-b"; }
  std::string Logs() const { return dir_ + "/logs"; }
  std::vector<std::string> Options() const {
    return {"--bin", kBin, "--dir", dir_, "--media", std::string(TESSERA_BINARY_DIR) + "/demo-media"};
  }
  Outcome SetUp() {
    std::string command = Quote(kWorld) + " setup --fresh";
    for (const auto& o : Options()) command += " " + Quote(o);
    return Run(command);
  }
  bool Up() {
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string out = dir_ + "/world.out";
      std::freopen(out.c_str(), "w", stdout);
      ::dup2(::fileno(stdout), 2);
      // The script itself, not a shell around it: the stop signal must reach its trap.
      std::vector<std::string> args{kWorld, "up", "--phones", "headless"};
      for (const auto& o : Options()) args.push_back(o);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return WaitFor([&] { return ReadText(dir_ + "/world.env").find("READY=1") != std::string::npos; }, 180);
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string Output() const { return ReadText(dir_ + "/world.out"); }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

}  // namespace

TEST(World, MessageFromPhoneAReachesPhoneBsInboxThroughTheGateway) {
  if (const std::string missing = ProgramMissing(); !missing.empty()) GTEST_SKIP() << missing;
  if (!std::getenv("TESSERA_NETNS")) {
    // A network of its own: the gateway's fixed UDP ports never meet another test's.
    const int status = std::system(("unshare -rn env TESSERA_NETNS=1 " + Quote(g_self) +
                                    " --gtest_filter=World.MessageFromPhoneAReachesPhoneBsInboxThroughTheGateway")
                                       .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the test inside the network namespace failed";
    return;
  }
  char pattern[] = "/tmp/tessera-world-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  struct Cleanup {
    std::string dir;
    ~Cleanup() { fs::remove_all(dir); }
  } cleanup{dir};

  World world(dir + "/world");
  Outcome setUp = world.SetUp();
  ASSERT_EQ(setUp.code, 0) << setUp.text;

  // Composed on A before its program starts, and left in A's Outbox for the program to send.
  std::ofstream(dir + "/note.txt") << "Hello B, from A's program.";
  Outcome composed = OnPhone(world.RootA(), "tessera-cli",
                             "compose --to +15550101/TYPE=PLMN --subject 'From A' " +
                                 Quote(world.RootA() + "/My Documents/My Pictures/Harbour.jpg") + " " +
                                 Quote(dir + "/note.txt"));
  ASSERT_EQ(composed.code, 0) << composed.text;
  const std::string id = composed.text.substr(0, composed.text.find('\n'));
  ASSERT_EQ(OnPhone(world.RootA(), "tessera-cli", "queue " + id).code, 0);

  ASSERT_TRUE(world.Up()) << world.Output();
  // Both programs run: tessera-cli refuses to share their roots.
  EXPECT_EQ(OnPhone(world.RootA(), "tessera-cli", "send " + id).code, 1);

  // A's main frame is told to send the Outbox message.
  ::setenv("TESSERA_ROOT", world.RootA().c_str(), 1);
  HWND frameA = FindWindow(u"RIR_WndCls_MainFrme", nullptr);
  ASSERT_NE(frameA, nullptr) << "phone A's program has no main frame";
  ASSERT_TRUE(PostMessage(frameA, kMsgNavigate, kNavigateSend, static_cast<LPARAM>(std::stoul(id))));

  Outcome notice = OnPhone(world.RootB(), "tessera-drive",
                           "wait-text 'You have a new multimedia message.' --timeout 60");
  EXPECT_EQ(notice.code, 0) << notice.text << ReadText(world.Logs() + "/mmsc.log") << ReadText(world.Logs() + "/wapbox.log");
  Outcome unread = OnPhone(world.RootB(), "tessera-drive", "wait-text 'Inbox(1)' --timeout 60");
  EXPECT_EQ(unread.code, 0) << unread.text;
  // The notice comes with the notification; the fetch that follows ends with its log line.
  const std::string recvLog = world.RootB() + "/Program Files/Tessera/Recv.txt";
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
       ReadText(recvLog).find("Recv Result : ") == std::string::npos && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  OnPhone(world.RootB(), "tessera-drive", "wait-idle");  // the fetch's result is filed
  world.Stop();

  // With the programs stopped, the stores say where the message went.
  Outcome sentA = OnPhone(world.RootA(), "tessera-cli", "list sent");
  EXPECT_NE(sentA.text.find(id + "\t1\t"), std::string::npos) << sentA.text;
  EXPECT_EQ(OnPhone(world.RootA(), "tessera-cli", "list outbox").text, "");
  Outcome inboxB = OnPhone(world.RootB(), "tessera-cli", "list inbox");
  EXPECT_NE(inboxB.text.find("\t1\t0x0001"), std::string::npos) << "not fetched: " << inboxB.text;  // a retrieved message
  EXPECT_NE(inboxB.text.find("+15550100"), std::string::npos) << inboxB.text;
  EXPECT_NE(inboxB.text.find("\tFrom A\n"), std::string::npos) << inboxB.text;
  const std::string mmsc = ReadText(world.Logs() + "/mmsc.log");
  EXPECT_NE(mmsc.find("x-msisdn"), std::string::npos) << "the send did not pass the gateway:\n" << mmsc;
  // Each phone keeps its own logs.
  EXPECT_NE(ReadText(world.RootA() + "/Program Files/Tessera/Send.txt").find("Send Result : 0"), std::string::npos);
  EXPECT_NE(ReadText(world.RootB() + "/Program Files/Tessera/Recv.txt").find("Recv Result : 0"), std::string::npos);
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
