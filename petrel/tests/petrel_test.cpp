// Petrel run as a program against a fresh device root.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"

namespace {

constexpr const char16_t* kMms = u"application/vnd.wap.mms-message";

class PetrelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = platform::NativePath(platform::JoinPath(platform::ProgramDirectory(), u"petrel"));
    if (::access(program_.c_str(), X_OK) != 0) GTEST_SKIP() << "petrel was not built";
  }
  int RunPetrel() {
    int st = std::system(program_.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  void SetProgramPath(const std::u16string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Corvane\\Corvane MMS UA", 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, u"Corvanemms", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                            static_cast<DWORD>((path.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static std::string Read(const std::string& path) {
    std::string contents;
    platform::ReadFile(platform::Utf8ToUtf16(path), contents);
    return contents;
  }
  static int CountRegistrations() {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, platform::push::kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
      return 0;
    int n = 0;
    for (;;) {
      WCHAR name[256];
      DWORD len = 256;
      if (RegEnumKeyEx(key, static_cast<DWORD>(n), name, &len, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      ++n;
    }
    RegCloseKey(key);
    return n;
  }
  platform_testing::ScopedDeviceRoot root_;
  std::string program_;
};

}  // namespace

TEST_F(PetrelTest, TwiceLeavesOneRegistrationAndAOneLineLog) {
  std::string dir = root_.path() + "/Program Files/Tessera";
  std::filesystem::create_directories(dir);
  std::u16string tessera = platform::Utf8ToUtf16(dir + "/tessera");
  SetProgramPath(tessera);
  ASSERT_EQ(RunPetrel(), 0);
  ASSERT_EQ(RunPetrel(), 0);
  EXPECT_EQ(Read(dir + "/MMS_reglog.txt"), "Register OK in App initialize.\n");
  EXPECT_EQ(CountRegistrations(), 1);
  platform::push::Registration reg;
  ASSERT_TRUE(platform::push::LookUpRegistration(kMms, &reg));
  EXPECT_EQ(reg.path, tessera);
  EXPECT_EQ(reg.parameters, u"/notify");
}

TEST_F(PetrelTest, MissingPathIsRefusedAndLoggedAtTheDeviceRoot) {
  ASSERT_EQ(PushRouter_RegisterClient(kMms, nullptr, u"/old/tessera", u"/notify"), PUSH_S_OK);
  ASSERT_EQ(RunPetrel(), 0);
  EXPECT_EQ(Read(root_.path() + "/MMS_reglog.txt"), "Register Failed in App initialize.\n");
  // The old registration was removed first.
  EXPECT_FALSE(platform::push::LookUpRegistration(kMms, nullptr));
}

// Installed outside the device (as a build's bin folder is), the log goes to the device's
// program-data folder: two device roots never share it.
TEST_F(PetrelTest, ProgramOutsideTheDeviceLogsIntoTheDevicesProgramFolder) {
  const std::string outside = root_.path() + "-install";
  std::filesystem::create_directories(outside);
  SetProgramPath(platform::Utf8ToUtf16(outside + "/tessera"));
  ASSERT_EQ(RunPetrel(), 0);
  EXPECT_FALSE(std::filesystem::exists(outside + "/MMS_reglog.txt"));
  EXPECT_EQ(Read(root_.path() + "/Program Files/Tessera/MMS_reglog.txt"), "Register OK in App initialize.\n");
  std::filesystem::remove_all(outside);
}

TEST_F(PetrelTest, LongPathsAreKeptWhole) {
  std::string dir = root_.path() + "/" + std::string(200, 'd') + "/" + std::string(100, 'e');
  std::filesystem::create_directories(dir);
  SetProgramPath(platform::Utf8ToUtf16(dir + "/tessera"));
  ASSERT_EQ(RunPetrel(), 0);
  EXPECT_EQ(Read(dir + "/MMS_reglog.txt"), "Register OK in App initialize.\n");
  platform::push::Registration reg;
  ASSERT_TRUE(platform::push::LookUpRegistration(kMms, &reg));
  EXPECT_EQ(platform::NativePath(reg.path), dir + "/tessera");
}
