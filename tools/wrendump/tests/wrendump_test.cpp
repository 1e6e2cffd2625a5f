// wrendump over the built "Wren.dll": the whole inventory, one resource per line.
#include <gtest/gtest.h>

#include <cstdio>
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
  EXPECT_EQ(kinds["string"], 130);
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
  EXPECT_NE(out.find("cannot load /nonexistent/Wren.dll"), std::string::npos);
  out.clear();
  // A shared object without a resource table.
  EXPECT_EQ(RunDump("libc.so.6", &out), 1);
  EXPECT_NE(out.find("no valid resource table"), std::string::npos);
  out.clear();
  EXPECT_EQ(RunDump("a b", &out), 2);
}

}  // namespace
