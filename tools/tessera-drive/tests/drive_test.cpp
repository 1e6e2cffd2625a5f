// tessera-drive against a real headless tessera on a fresh device root.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform_testing/device_root.h"

extern char** environ;

namespace {

const std::string kBin = TESSERA_BINARY_DIR "/bin/";

struct Result {
  int code = -1;
  std::string out;
};

/// Runs a command line to its end; stdout and stderr together.
Result RunCommand(const std::string& command) {
  Result result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

Result Drive(const std::string& args) {
  return RunCommand(kBin + "tessera-drive " + args);
}

class DriveTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (instance > 0) {
      kill(instance, SIGKILL);
      waitpid(instance, nullptr, 0);
    }
  }
  /// Starts `tessera --headless` and waits until it answers.
  void StartInstance() {
    setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);  // no pushes here
    const std::string program = kBin + "tessera";
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("--headless"), nullptr};
    ASSERT_EQ(posix_spawn(&instance, program.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    Result ready = Drive("wait-text Inbox --timeout 60");
    ASSERT_EQ(ready.code, 0) << ready.out;
  }
  int Stop() {
    kill(instance, SIGTERM);
    int status = 0;
    waitpid(instance, &status, 0);
    instance = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  platform_testing::ScopedDeviceRoot root;
  pid_t instance = -1;
};

TEST_F(DriveTest, WithoutAnInstanceItSaysSoAndExitsTwo) {
  const Result r = Drive("describe");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.out.find("tessera-drive: no running tessera on " + root.path()), std::string::npos) << r.out;
  EXPECT_EQ(Drive("--root " + root.path() + "/elsewhere wait-idle").code, 2);
}

TEST_F(DriveTest, DrivesARunningInstanceUntilItIsTerminated) {
  StartInstance();
  EXPECT_EQ(Drive("keys \"Down Down\"").code, 0);
  Result screen = Drive("describe");
  EXPECT_EQ(screen.code, 0);
  const std::size_t outbox = screen.out.find("row 3 \"4 Outbox");
  ASSERT_NE(outbox, std::string::npos) << screen.out;
  EXPECT_NE(screen.out.substr(outbox, screen.out.find('\n', outbox) - outbox).find(" selected"), std::string::npos)
      << screen.out;
  EXPECT_EQ(Drive("keys Enter").code, 0);
  EXPECT_EQ(Drive("wait-text \"class=Corvane_WndCls_MsgBoxFrame\" --timeout 20").code, 0);
  EXPECT_EQ(Drive("keys \"Back\"").code, 0);

  const std::string png = root.path() + "/shot.png";
  EXPECT_EQ(Drive("screenshot " + png).code, 0);
  std::ifstream file(png, std::ios::binary);
  std::string magic(8, '\0');
  file.read(magic.data(), 8);
  EXPECT_EQ(magic, "\x89PNG\r\n\x1a\n");

  const Result missing = Drive("wait-text \"No such text\" --timeout 0.3");
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.out.find("1 New message"), std::string::npos) << missing.out;  // the screen it saw
  EXPECT_EQ(Drive("keys \"Down Sideways\"").code, 1);

  // One instance per device root: a second start ends at once, so does tessera-cli's engine.
  const Result second = RunCommand(kBin + "tessera --headless --describe");
  EXPECT_EQ(second.code, 1);
  EXPECT_EQ(second.out.find("Inbox"), std::string::npos) << second.out;
  const Result cli = RunCommand(kBin + "tessera-cli run");
  EXPECT_NE(cli.code, 0) << cli.out;

  EXPECT_EQ(Stop(), 0);
  EXPECT_EQ(Drive("wait-idle").code, 2);
}

}  // namespace
