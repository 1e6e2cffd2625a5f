// wrendump over the built "Wren.dll": the whole inventory, one resource per line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

namespace {

int RunDump(const std::string& args, std::string* out) {
  const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/wrendump " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out->append(buf, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Wrendump, ListsTheWholeInventory) {
  std::string out;
  ASSERT_EQ(RunDump(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll", &out), 0) << out;
  std::map<std::string, int> kinds;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != ' ') ++kinds[line.substr(0, line.find(' '))];
  EXPECT_EQ(kinds["string"], 138);
  EXPECT_EQ(kinds["menu"], 18);
  EXPECT_EQ(kinds["dialog"], 14);
  EXPECT_EQ(kinds["icon"], 23);
  EXPECT_EQ(kinds["bitmap"], 2);
  EXPECT_EQ(kinds["version"], 1);
  EXPECT_NE(out.find("string 1043 \"QQVGA(160x120)\"\n"), std::string::npos);
  EXPECT_NE(out.find("icon 163 32x32\n"), std::string::npos);
  EXPECT_NE(out.find("menu 191 bar: left 40185 label 40184"), std::string::npos);
  EXPECT_EQ(out.find("damaged"), std::string::npos);
}

TEST(Wrendump, FailsClearlyOnMissingOrForeignFiles) {
  std::string out;
  EXPECT_EQ(RunDump("/nonexistent/Wren.dll", &out), 1);
  EXPECT_NE(out.find("cannot read /nonexistent/Wren.dll"), std::string::npos);
  out.clear();
  // A name from the system's library path is not looked for there.
  EXPECT_EQ(RunDump("libc.so.6", &out), 1);
  EXPECT_NE(out.find("cannot read libc.so.6"), std::string::npos) << out;
  out.clear();
  // A program without a resource table.
  EXPECT_EQ(RunDump(std::string(TESSERA_BINARY_DIR) + "/bin/wrendump", &out), 1);
  EXPECT_NE(out.find("no valid resource table"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunDump("a b", &out), 2);
}

TEST(Wrendump, ReadsTheFileAsDataWithoutRunningIt) {
  const std::string dir = ::testing::TempDir() + "/wrendump_cwd";
  const std::string mark = dir + "/mark";
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
  std::string out;
  const std::string command = "cd " + dir + " && WRENDUMP_TEST_MARK=" + mark + " " +
                              std::string(TESSERA_BINARY_DIR) + "/bin/wrendump ";
  auto run = [&](const std::string& args) {
    out.clear();
    FILE* pipe = ::popen((command + args + " 2>&1").c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // A library with a constructor and a table symbol that is no table.
  EXPECT_EQ(run(WRENDUMP_CONSTRUCTOR_LIB), 1);
  EXPECT_NE(out.find("no valid resource table"), std::string::npos) << out;
  EXPECT_EQ(out.find("constructor ran"), std::string::npos) << out;
  EXPECT_NE(::access(mark.c_str(), F_OK), 0) << "the library's constructor ran";

  // A bare name is taken from the current folder before the program directory.
  ASSERT_EQ(std::system(("cp " + std::string(WRENDUMP_CONSTRUCTOR_LIB) + " " + dir + "/Wren.dll").c_str()), 0);
  EXPECT_EQ(run("Wren.dll"), 1);
  EXPECT_NE(out.find("Wren.dll has no valid resource table"), std::string::npos) << out;
  EXPECT_NE(::access(mark.c_str(), F_OK), 0);
  // Without one there, the program directory's serves.
  ASSERT_EQ(std::system(("rm " + dir + "/Wren.dll").c_str()), 0);
  EXPECT_EQ(run("Wren.dll"), 0) << out;
  EXPECT_NE(out.find("string 1043"), std::string::npos);
}

}  // namespace
