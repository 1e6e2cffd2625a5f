// Every tool as a user first meets it: bare, with --help, with --version, with a bad
// number and with an output folder that does not exist yet.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform_testing/device_root.h"
#include "toolargs/toolargs.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ToolsCli : public ::testing::Test {
 protected:
  // Runs bin/TOOL with `args` (shell words) in this test's device root, headless; a tool
  // that does not end within 60 s counts as hanging.
  Result Run(const std::string& tool, const std::string& args = "") {
    const std::string out = root_.path() + "/out.txt", err = root_.path() + "/err.txt";
    const std::string command = "cd " + root_.path() +
                                " && TESSERA_DISPLAY=headless TESSERA_PUSHROUTER_AUTOSTART=0 timeout 60 " +
                                std::string(TESSERA_BINARY_DIR) + "/bin/" + tool + " " + args + " >" + out +
                                " 2>" + err + " </dev/null";
    const int status = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }

  platform_testing::ScopedDeviceRoot root_;
};

const char* const kTools[] = {"brindle-decode", "cliptool",      "gannet-info", "imgtool",     "marlin-play",
                              "mm1tool",        "mmsc-lite",     "mmstool",     "osprey-decode", "tessera-cli",
                              "tessera-reg",    "uidemo",        "wrendump",    "wsptool",     "tessera-rc"};

TEST_F(ToolsCli, EveryToolShowsItsUsageWhenCalledBareOrWithHelp) {
  for (const char* tool : kTools) {
    SCOPED_TRACE(tool);
    Result bare = Run(tool);
    // tessera-reg keeps its own convention of status 1 for every mistake.
    EXPECT_EQ(bare.status, std::string(tool) == "tessera-reg" ? 1 : 2) << bare.out << bare.err;
    EXPECT_NE(bare.err.find("usage"), std::string::npos) << bare.err;
    EXPECT_EQ(bare.out, "");

    Result help = Run(tool, "--help");
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_NE(help.out.find("usage"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    Result version = Run(tool, "--version");
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, std::string(tool) + " " + toolargs::Version() + "\n");
  }
  // The one-shot programs the system starts bare answer --help and --version too, and
  // refuse arguments they do not know.
  for (const char* tool : {"petrel", "pushrouter"}) {
    SCOPED_TRACE(tool);
    EXPECT_EQ(Run(tool, "--help").status, 0);
    EXPECT_EQ(Run(tool, "--version").out, std::string(tool) + " " + toolargs::Version() + "\n");
    Result odd = Run(tool, "--frobnicate");
    EXPECT_EQ(odd.status, 2);
    EXPECT_NE(odd.err.find("usage"), std::string::npos) << odd.err;
  }
  EXPECT_NE(::access((root_.path() + "/MMS_reglog.txt").c_str(), F_OK), 0) << "petrel registered on --help";
}

TEST_F(ToolsCli, ABadNumberIsNamedWithItsArgument) {
  struct Case {
    const char* tool;
    const char* args;
    const char* named;
  } cases[] = {
      {"gannet-info", "--samples seven clip.mp4", "TRACK"},
      {"gannet-info", "--time 1 -5 clip.mp4", "MS"},
      {"marlin-play", "clip.mp4 --seek soon", "--seek"},
      {"marlin-play", "clip.mp4 --ff 0", "--ff"},
      {"osprey-decode", "--channels 3 in.aac out.raw", "--channels"},
      {"imgtool", "load in.png 12x out.bmp 10", "W"},
      {"imgtool", "load in.png 10 0 out.bmp", "H"},
      {"pushrouter", "--port 70000", "--port"},
  };
  for (const Case& c : cases) {
    Result r = Run(c.tool, c.args);
    EXPECT_EQ(r.status, 2) << c.tool << " " << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(std::string(c.named) + " wants"), std::string::npos) << c.tool << " " << c.args << ": " << r.err;
  }
}

TEST_F(ToolsCli, AMissingOutputFolderIsMade) {
  Result r = Run("mmstool", "encode acknowledge-ind --transaction-id T1 new/deeper/ack.pdu");
  EXPECT_EQ(r.status, 0) << r.err;
  struct stat st{};
  EXPECT_EQ(::stat((root_.path() + "/new/deeper/ack.pdu").c_str(), &st), 0);

  // A file in the way is named.
  std::ofstream(root_.path() + "/plain") << "x";
  r = Run("mmstool", "encode acknowledge-ind --transaction-id T1 plain/ack.pdu");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("plain is not a folder"), std::string::npos) << r.err;
}

TEST(ToolArgs, NumbersAreTakenWholeAndInRange) {
  std::uint64_t v = 0;
  EXPECT_TRUE(toolargs::ParseUnsigned("0x10", 0, 16, &v));
  EXPECT_EQ(v, 16u);
  EXPECT_FALSE(toolargs::ParseUnsigned("17", 0, 16, &v));
  EXPECT_FALSE(toolargs::ParseUnsigned("-1", 0, 16, &v));
  EXPECT_FALSE(toolargs::ParseUnsigned("1 ", 0, 16, &v));
  EXPECT_FALSE(toolargs::ParseUnsigned("", 0, 16, &v));
  EXPECT_FALSE(toolargs::ParseUnsigned("99999999999999999999999", 0, UINT64_MAX, &v));
  double d = 0;
  EXPECT_TRUE(toolargs::ParseDecimal("1.5", 0, 2, &d));
  EXPECT_FALSE(toolargs::ParseDecimal("nan", 0, 2, &d));
  EXPECT_FALSE(toolargs::ParseDecimal("1.5s", 0, 2, &d));
}

}  // namespace
