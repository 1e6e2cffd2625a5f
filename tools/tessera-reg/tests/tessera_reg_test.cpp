#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform_testing/device_root.h"

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

class TesseraRegTest : public ::testing::Test {
 protected:
  // Runs the tool against this test's device root; `input` goes to its standard input.
  Result Run(std::vector<std::string> args, const std::string& input = "") {
    std::string in = root_.path() + "/stdin", out = root_.path() + "/stdout", err = root_.path() + "/stderr";
    std::ofstream(in, std::ios::binary) << input;
    std::string tool = std::string(TESSERA_BINARY_DIR) + "/bin/tessera-reg";
    args.insert(args.begin(), tool);
    pid_t pid = ::fork();
    if (pid == 0) {
      int i = ::open(in.c_str(), O_RDONLY), o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
          e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(i, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(tool.c_str(), argv.data());
      ::_exit(127);
    }
    Result r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  std::string File(const std::string& name) { return root_.path() + "/" + name; }

  platform_testing::ScopedDeviceRoot root_;
};

const std::string kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI";

TEST_F(TesseraRegTest, SetExportDeleteImportQueryRoundTrip) {
  ASSERT_EQ(Run({"set", kKey, "Sort", "dword", "30"}).status, 0);
  ASSERT_EQ(Run({"set", kKey, "ConnectionVia", "sz", "The Internet"}).status, 0);
  ASSERT_EQ(Run({"set", kKey, "Blob", "binary", "00ff10"}).status, 0);
  ASSERT_EQ(Run({"export", File("saved.reg")}).status, 0);
  std::string saved = Slurp(File("saved.reg"));
  EXPECT_NE(saved.find("\"Sort\"=dword:0000001e"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"ConnectionVia\"=\"The Internet\""), std::string::npos);

  ASSERT_EQ(Run({"delete", "HKLM\\SOFTWARE\\Corvane"}).status, 0);
  Result gone = Run({"query", kKey, "Sort"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("not found"), std::string::npos) << gone.err;

  ASSERT_EQ(Run({"import", File("saved.reg")}).status, 0);
  Result sort = Run({"query", kKey, "Sort"});
  EXPECT_EQ(sort.status, 0);
  EXPECT_EQ(sort.out, "30\n");
  EXPECT_EQ(Run({"query", kKey, "connectionvia"}).out, "The Internet\n");
  EXPECT_EQ(Run({"query", kKey, "Blob"}).out, "00ff10\n");

  Result whole = Run({"query", "\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config"});
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.out,
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI]\n");

  // The program's own view agrees.
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI", 0, 0, &k),
            ERROR_SUCCESS);
  DWORD v = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueEx(k, u"Sort", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 30u);
  RegCloseKey(k);
}

TEST_F(TesseraRegTest, ValuesAndKeysCanBeDeletedAndStandardStreamsWork) {
  ASSERT_EQ(Run({"import", "-"}, "REGEDIT4\n[HKLM\\A]\n\"x\"=dword:0x\n").status, 1);
  ASSERT_EQ(Run({"import", "-"}, "REGEDIT4\n[HKLM\\A]\n\"x\"=dword:00000005\n@=\"d\"\n").status, 0);
  EXPECT_EQ(Run({"query", "HKLM\\A", "@"}).out, "d\n");
  Result exported = Run({"export", "-", "HKLM\\A"});
  EXPECT_EQ(exported.status, 0);
  EXPECT_EQ(exported.out, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:00000005\n@=\"d\"\n");
  EXPECT_EQ(Run({"delete", "HKLM\\A", "x"}).status, 0);
  EXPECT_EQ(Run({"query", "HKLM\\A", "x"}).status, 1);
  EXPECT_EQ(Run({"delete", "HKLM\\A", "x"}).status, 1);
  EXPECT_EQ(Run({"delete", "HKLM\\A"}).status, 0);
  EXPECT_EQ(Run({"delete", "HKLM\\A"}).status, 1);
  EXPECT_EQ(Run({"delete", "HKEY_LOCAL_MACHINE"}).status, 1);
}

TEST_F(TesseraRegTest, MistakesGiveAMessageAndStatusOne) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "usage"},
      {{"frobnicate"}, "unknown command"},
      {{"query"}, "query needs"},
      {{"query", "HKLM\\Missing"}, "not found"},
      {{"query", "HKLM\\Missing", "v"}, "not found"},
      {{"set", "HKLM\\A", "v", "dword"}, "set needs"},
      {{"set", "HKLM\\A", "v", "dword", "4294967296"}, "not a 32-bit number"},
      {{"set", "HKLM\\A", "v", "dword", "-1"}, "not a 32-bit number"},
      {{"set", "HKLM\\A", "v", "dword", "12abc"}, "not a 32-bit number"},
      {{"set", "HKLM\\A", "v", "binary", "0g"}, "not a hex byte string"},
      {{"set", "HKLM\\A", "v", "qword", "1"}, "unknown type"},
      {{"import", "/nonexistent/file.reg"}, "cannot read"},
      {{"export", "/nonexistent/dir/out.reg"}, "cannot write"},
      {{"export", "-", "HKLM\\Missing"}, "not found"},
      {{"--root"}, "--root needs"},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.status, 1) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  std::ofstream(File("bad.reg")) << "REGEDIT4\n\n[HKLM\\A]\n\"x\"=\"open\n";
  Result bad = Run({"import", File("bad.reg")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.reg:4: unterminated"), std::string::npos) << bad.err;
  // Nothing of a file that fails to parse is applied.
  EXPECT_EQ(Run({"query", "HKLM\\A"}).status, 1);

  Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage"), std::string::npos);
}

TEST_F(TesseraRegTest, ALostRegistryIsReportedOnce) {
  ASSERT_EQ(Run({"set", kKey, "Sort", "dword", "2"}).status, 0);
  Result quiet = Run({"query", kKey, "Sort"});
  EXPECT_EQ(quiet.err, "");

  // Deleted: the next program says so, the one after is quiet again.
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink(File(std::string("registry.db") + suffix).c_str());
  Result lost = Run({"query", kKey, "Sort"});
  EXPECT_EQ(lost.status, 1);
  EXPECT_NE(lost.err.find("registry of this device"), std::string::npos) << lost.err;
  EXPECT_NE(lost.err.find("set up anew"), std::string::npos) << lost.err;
  EXPECT_EQ(Run({"query", "HKLM"}).err, "");

  // Emptied to no bytes at all: said as well.
  ASSERT_EQ(Run({"set", kKey, "Sort", "dword", "2"}).status, 0);
  for (const char* suffix : {"-wal", "-shm"}) ::unlink(File(std::string("registry.db") + suffix).c_str());
  ASSERT_EQ(::truncate(File("registry.db").c_str(), 0), 0);
  EXPECT_NE(Run({"query", "HKLM"}).err.find("set up anew"), std::string::npos);
}

TEST_F(TesseraRegTest, NamesAndValuesWithLineBreaksSurviveExportAndImport) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"A\\line\nbreak", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  std::u16string text = u"one\ntwo";
  ASSERT_EQ(RegSetValueEx(k, u"name\nwith break", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(k);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(Run({"export", File("saved.reg"), "HKLM\\A"}).status, 0);
  ASSERT_EQ(Run({"delete", "HKLM\\A"}).status, 0);
  Result imported = Run({"import", File("saved.reg")});
  ASSERT_EQ(imported.status, 0) << imported.err << Slurp(File("saved.reg"));
  EXPECT_EQ(Run({"query", "HKLM\\A\\line\nbreak", "name\nwith break"}).out, "one\ntwo\n");
}

TEST_F(TesseraRegTest, RootOptionPicksTheDevice) {
  std::string other = File("other-device");
  ASSERT_EQ(Run({"--root", other, "set", "HKLM\\A", "v", "dword", "0x10"}).status, 0);
  EXPECT_EQ(Run({"--root", other, "query", "HKLM\\A", "v"}).out, "16\n");
  EXPECT_EQ(Run({"query", "HKLM\\A", "v"}).status, 1);  // not in this test's own root
}

}  // namespace
