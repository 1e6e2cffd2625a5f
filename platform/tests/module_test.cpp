#include "platform/module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace {

// Path of the C math library, an ELF shared object every machine has.
std::u16string MathLibraryPath() {
  Dl_info info{};
  double (*fn)(double) = &::cos;
  if (!::dladdr(reinterpret_cast<void*>(fn), &info) || !info.dli_fname) return {};
  return platform::Utf8ToUtf16(info.dli_fname);
}

TEST(Modules, LoadsAnyNameFromAPathAndCountsReferences) {
  platform_testing::ScopedDeviceRoot root;
  std::u16string libm = MathLibraryPath();
  ASSERT_FALSE(libm.empty());
  // The decoders carry names like "Amr.dec"; the name does not matter to the loader.
  std::u16string copy = platform::JoinPath(platform::DeviceRoot(), u"Sample.dec");
  ASSERT_TRUE(platform::CopyFile(libm, copy, true));

  HMODULE a = LoadLibrary(copy.c_str());
  ASSERT_NE(a, nullptr);
  HMODULE b = LoadLibraryW(copy.c_str());
  EXPECT_EQ(a, b);
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(a, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_NE(GetProcAddressW(a, u"sin"), nullptr);
  EXPECT_EQ(GetProcAddress(a, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetModuleHandle(u"SAMPLE.DEC"), a);

  WCHAR name[1024];
  EXPECT_EQ(GetModuleFileName(a, name, 1024), copy.size());
  EXPECT_EQ(std::u16string(name), copy);
  WCHAR tiny[4];
  EXPECT_EQ(GetModuleFileName(a, tiny, 4), 3u);
  EXPECT_EQ(tiny[3], 0);

  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddress(b, "cos"), nullptr);  // one reference left
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_FALSE(FreeLibrary(b));
  EXPECT_EQ(GetProcAddress(b, "cos"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Modules, BareNamesAreLookedUpInTheProgramDirectoryFirst) {
  std::u16string libm = MathLibraryPath();
  std::u16string name = platform::Utf8ToUtf16("module-test-" + std::to_string(::getpid()) + ".dll");
  std::u16string inProgramDir = platform::JoinPath(platform::ProgramDirectory(), name);
  if (!platform::CopyFile(libm, inProgramDir, true)) GTEST_SKIP() << "program directory not writable";
  HMODULE m = LoadLibrary(name.c_str());
  platform::DeleteFile(inProgramDir);
  ASSERT_NE(m, nullptr);
  WCHAR path[1024];
  ASSERT_GT(GetModuleFileName(m, path, 1024), 0u);
  EXPECT_EQ(std::u16string(path), inProgramDir);
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(Modules, FailuresAreReported) {
  EXPECT_EQ(LoadLibrary(u"coredll.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibrary(u"/nonexistent/Wren.dll"), nullptr);
  EXPECT_EQ(LoadLibrary(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandle(u"never-loaded.dll"), nullptr);

  // A file that is not a shared object.
  platform_testing::ScopedDeviceRoot root;
  std::u16string junk = platform::JoinPath(platform::DeviceRoot(), u"junk.dll");
  ASSERT_TRUE(platform::WriteFile(junk, "not an ELF file"));
  EXPECT_EQ(LoadLibrary(junk.c_str()), nullptr);
}

TEST(Modules, TheRunningProgram) {
  HMODULE self = GetModuleHandle(nullptr);
  ASSERT_NE(self, nullptr);
  WCHAR path[1024];
  ASSERT_GT(GetModuleFileName(nullptr, path, 1024), 0u);
  EXPECT_EQ(std::u16string(path), platform::ProgramPath());
  EXPECT_TRUE(FreeLibrary(self));  // not counted: stays valid
  EXPECT_EQ(GetModuleHandle(nullptr), self);
}

}  // namespace
