// Integration against Debian's WAP gateway: bearerbox + wapbox on loopback in a private
// network namespace, a loopback HTTP origin, and wsptool doing GET and POST through them.

#include <gtest/gtest.h>

#include <filesystem>

#include "fake_gateway.h"
#include "kannel_harness.h"
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
  const bool quiet = command.find("2>") != std::string::npos;
  FILE* p = ::popen((quiet ? command : command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int raw = ::pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

void WriteFile(const fs::path& p, const mms::ByteBuffer& data) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.length());
}

void SetHeaders() {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader",
                           0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string accept = u"application/vnd.wap.mms-message";
  const std::u16string agent = u"Tessera-test/1.0";
  RegSetValueEx(key, u"Accept", 0, REG_SZ, reinterpret_cast<const BYTE*>(accept.c_str()),
                static_cast<DWORD>((accept.size() + 1) * 2));
  RegSetValueEx(key, u"User-Agent", 0, REG_SZ, reinterpret_cast<const BYTE*>(agent.c_str()),
                static_cast<DWORD>((agent.size() + 1) * 2));
  RegCloseKey(key);
}

}  // namespace

TEST(Kannel, GetAndPostThroughTheGateway) {
  if (!KannelInstalled()) GTEST_SKIP() << "Kannel (bearerbox, wapbox) is not installed: gateway test skipped";
  if (!InNamespace()) {
    const int status = RunInNamespace({g_self, "--gtest_filter=Kannel.GetAndPostThroughTheGateway"});
    EXPECT_EQ(status, 0) << "the test inside the network namespace failed (its output is above)";
    return;
  }
  platform_testing::ScopedDeviceRoot root;
  SetHeaders();
  const fs::path dir = root.path() + "/gw";
  fs::create_directories(dir);
  Gateway gateway;
  std::string error;
  ASSERT_TRUE(gateway.Start(dir.string(), true, &error)) << error;

  const std::string tool = std::string(TESSERA_BINARY_DIR) + "/bin/wsptool";
  for (std::size_t size : {100u, 2000u, 8500u, 60000u, 250000u}) {
    SCOPED_TRACE("POST " + std::to_string(size));
    const mms::ByteBuffer body = transport_test::Pattern(size, static_cast<unsigned>(size) + 1);
    const fs::path file = dir / ("body-" + std::to_string(size));
    WriteFile(file, body);
    const std::string name = "p" + std::to_string(size);
    ShellRun r = Shell(tool + " post http://mmsc/post/" + name + " " + file.string() +
                       " --gateway 127.0.0.1:9201 -o " + (dir / (name + ".reply")).string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("status: 0x20"), std::string::npos) << r.out;
    EXPECT_EQ(ReadText((dir / "posts" / name).string()), std::string(body.view()))
        << "origin got other octets";
  }
  for (std::size_t size : {5000u, 60000u}) {
    SCOPED_TRACE("GET " + std::to_string(size));
    const fs::path out = dir / ("get-" + std::to_string(size));
    ShellRun r = Shell(tool + " get http://mmsc/size/" + std::to_string(size) +
                       " --gateway 127.0.0.1:9201 -o " + out.string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("content-type: application/vnd.wap.mms-message"), std::string::npos) << r.out;
    EXPECT_EQ(ReadText(out.string()),
              std::string(transport_test::Pattern(size, static_cast<unsigned>(size)).view()));
  }
  {
    // A missing page: a non-2xx status, exit 1 and the result code on stderr.
    ShellRun r = Shell(tool + " get http://mmsc/nothing --gateway 127.0.0.1:9201 --header X-Test:1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("result 314"), std::string::npos) << r.out;
  }

  gateway.StopCapture();
  if (!gateway.pcap().empty()) {
    // The test bodies are patterns typed as MMS messages: the MMSE dissector is left out so
    // that only the WTP and WSP layers are judged.
    ShellRun count = Shell("tshark -r " + gateway.pcap() + " -Y wtp 2>/dev/null | wc -l");
    EXPECT_GT(std::atoi(count.out.c_str()), 400) << count.out;
    ShellRun bad = Shell("tshark --disable-protocol mmse -r " + gateway.pcap() +
                         " -Y '_ws.malformed || _ws.expert.severity >= \"Warning\"' 2>/dev/null");
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.out, "") << "tshark flags packets of the capture";
  }
  gateway.Stop();
}

TEST(Wsptool, ReportsFailuresClearly) {
  platform_testing::ScopedDeviceRoot root;
  const std::string tool = std::string(TESSERA_BINARY_DIR) + "/bin/wsptool";
  ShellRun usage = Shell(tool + " fetch http://x");
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.out.find("usage:"), std::string::npos);
  ShellRun badPort = Shell(tool + " get http://x --gateway 127.0.0.1:70000");
  EXPECT_EQ(badPort.status, 2);
  EXPECT_NE(badPort.out.find("bad gateway port"), std::string::npos) << badPort.out;
  ShellRun noFile = Shell(tool + " post http://x " + root.path() + "/missing");
  EXPECT_EQ(noFile.status, 1);
  EXPECT_NE(noFile.out.find("cannot open"), std::string::npos) << noFile.out;
  // Nobody answers on this port: two waits of 200 ms, then 101.
  ShellRun silent = Shell(tool + " get http://x --gateway 127.0.0.1:9 --timeout 200 --retries 1");
  EXPECT_EQ(silent.status, 1);
  EXPECT_NE(silent.out.find("connect failed: result 101"), std::string::npos) << silent.out;
}

int main(int argc, char** argv) {
  g_self = fs::canonical("/proc/self/exe").string();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
