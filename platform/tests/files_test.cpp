#include "platform/files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace {

using platform::Utf8ToUtf16;

class FilesTest : public ::testing::Test {
 protected:
  std::u16string P(const std::string& rel) { return Utf8ToUtf16(root_.path() + "/" + rel); }
  void Write(const std::string& rel, const std::string& text) {
    ASSERT_TRUE(platform::WriteFile(P(rel), text));
  }
  std::string Read(const std::string& rel) {
    std::string s;
    EXPECT_TRUE(platform::ReadFile(P(rel), s));
    return s;
  }
  std::vector<std::string> Names(const std::string& rel) {
    std::vector<std::string> out;
    DIR* d = ::opendir((root_.path() + "/" + rel).c_str());
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    ::closedir(d);
    return out;
  }
  platform_testing::ScopedDeviceRoot root_;
};

TEST_F(FilesTest, DeviceRootDocumentsAndProgramDirectory) {
  EXPECT_EQ(platform::DeviceRoot(), Utf8ToUtf16(root_.path()));
  std::u16string docs = platform::DocumentsFolder();
  EXPECT_EQ(docs, P("My Documents"));
  EXPECT_TRUE(platform::DirectoryExists(docs));

  // Phone path texts land below the root, and ".." cannot climb out of it.
  EXPECT_EQ(platform::DevicePath(u"\\Temp\\Temp.txt"), P("Temp/Temp.txt"));
  EXPECT_EQ(platform::DevicePath(u"UAContents\\MMS UA\\"), P("UAContents/MMS UA/"));
  EXPECT_EQ(platform::DevicePath(u"\\..\\..\\etc\\passwd"), P("etc/passwd"));

  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = 0;
  std::string exePath = exe;
  EXPECT_EQ(platform::ProgramPath(), Utf8ToUtf16(exePath));
  EXPECT_EQ(platform::ProgramDirectory(), Utf8ToUtf16(exePath.substr(0, exePath.rfind('/'))));
}

// The files a program writes beside itself follow the device root; the read-only program
// files stay where the program is installed.
TEST_F(FilesTest, ProgramWrittenFilesBelongToTheDevice) {
  const std::u16string data = platform::ProgramDataDirectory();
  EXPECT_EQ(data, P("Program Files/Tessera"));
  EXPECT_TRUE(platform::DirectoryExists(data));
  EXPECT_NE(data, platform::ProgramDirectory());

  // A second device root gets a folder of its own.
  {
    platform_testing::ScopedDeviceRoot other;
    EXPECT_EQ(platform::ProgramDataDirectory(), Utf8ToUtf16(other.path() + "/Program Files/Tessera"));
  }

  // A program installed on the device writes beside itself; a bare name means the root.
  EXPECT_EQ(platform::ProgramDataDirectoryOf(P("Apps/Mms/tessera")), P("Apps/Mms"));
  EXPECT_EQ(platform::ProgramDataDirectoryOf(u"tessera"), Utf8ToUtf16(root_.path()));
  EXPECT_EQ(platform::ProgramDataDirectoryOf(u"/opt/elsewhere/tessera"), data);
  // A folder that merely starts with the root's name is not on the device.
  EXPECT_EQ(platform::ProgramDataDirectoryOf(Utf8ToUtf16(root_.path() + "-twin/tessera")), data);

  // Reached through a link, the root is still recognised.
  const std::string link = root_.path() + "-link";
  ASSERT_EQ(::symlink(root_.path().c_str(), link.c_str()), 0);
  ::setenv("TESSERA_ROOT", link.c_str(), 1);
  EXPECT_EQ(platform::ProgramDataDirectoryOf(P("Apps/tessera")), P("Apps"));
  ::setenv("TESSERA_ROOT", root_.path().c_str(), 1);
  ::unlink(link.c_str());
}

TEST(DeviceRootFallbacks, XdgDataHomeThenHome) {
  platform_testing::ScopedDeviceRoot scratch;  // restores TESSERA_ROOT afterwards
  std::string xdgOld = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
  std::string homeOld = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("TESSERA_ROOT", "", 1);  // empty counts as unset
  ::setenv("XDG_DATA_HOME", (scratch.path() + "/xdg").c_str(), 1);
  EXPECT_EQ(platform::DeviceRoot(), Utf8ToUtf16(scratch.path() + "/xdg/tessera/device"));
  EXPECT_TRUE(platform::DirectoryExists(Utf8ToUtf16(scratch.path() + "/xdg/tessera/device")));
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", (scratch.path() + "/home/").c_str(), 1);
  EXPECT_EQ(platform::DeviceRoot(), Utf8ToUtf16(scratch.path() + "/home//.local/share/tessera/device"));
  EXPECT_TRUE(platform::DirectoryExists(Utf8ToUtf16(scratch.path() + "/home/.local/share/tessera/device")));
  if (xdgOld.empty())
    ::unsetenv("XDG_DATA_HOME");
  else
    ::setenv("XDG_DATA_HOME", xdgOld.c_str(), 1);
  ::setenv("HOME", homeOld.c_str(), 1);
}

TEST_F(FilesTest, PathPieces) {
  EXPECT_EQ(platform::JoinPath(u"/a/", u"/b"), u"/a/b");
  EXPECT_EQ(platform::JoinPath(u"/a", u"b.jpg"), u"/a/b.jpg");
  EXPECT_EQ(platform::DirectoryPart(u"/a/b/c.txt"), u"/a/b/");
  EXPECT_EQ(platform::DirectoryPart(u"c.txt"), u"");
  EXPECT_EQ(platform::FileNamePart(u"/a/b/c.txt"), u"c.txt");
  EXPECT_EQ(platform::ExtensionPart(u"/a.b/c"), u"");
  EXPECT_EQ(platform::ExtensionPart(u"/a/1.JPG"), u".JPG");
}

TEST_F(FilesTest, CopyNeverOverwritesWhenAskedAndClearsReadOnly) {
  Write("src.jpg", "picture");
  Write("dst.jpg", "precious");
  EXPECT_FALSE(platform::CopyFile(P("src.jpg"), P("dst.jpg"), true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(Read("dst.jpg"), "precious");

  ASSERT_TRUE(platform::SetReadOnly(P("src.jpg"), true));
  EXPECT_TRUE(platform::IsReadOnly(P("src.jpg")));
  ASSERT_TRUE(platform::CopyFile(P("src.jpg"), P("new.jpg"), true));
  EXPECT_EQ(Read("new.jpg"), "picture");
  EXPECT_FALSE(platform::IsReadOnly(P("new.jpg")));
  EXPECT_EQ(platform::GetFileAttributes(P("new.jpg")), FILE_ATTRIBUTE_NORMAL);

  ASSERT_TRUE(platform::CopyFile(P("src.jpg"), P("dst.jpg"), false));
  EXPECT_EQ(Read("dst.jpg"), "picture");

  EXPECT_FALSE(platform::CopyFile(P("missing"), P("x"), true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(platform::CopyFile(P("src.jpg"), P("no/such/dir/x"), true));
  // No temporary files are left behind by any of this.
  std::vector<std::string> names = Names("");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dst.jpg", "new.jpg", "src.jpg"}));
}

TEST_F(FilesTest, LargeCopyIsExact) {
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  Write("big.bin", big);
  ASSERT_TRUE(platform::CopyFile(P("big.bin"), P("big2.bin"), true));
  EXPECT_EQ(Read("big2.bin"), big);
  EXPECT_EQ(platform::FileSize(P("big2.bin")), 300000);
}

TEST_F(FilesTest, DeleteClearsReadOnlyAndReportsMissingFiles) {
  Write("ro.dat", "x");
  ASSERT_TRUE(platform::SetFileAttributes(P("ro.dat"), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(platform::GetFileAttributes(P("ro.dat")), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(platform::DeleteFile(P("ro.dat")));
  EXPECT_FALSE(platform::PathExists(P("ro.dat")));
  EXPECT_FALSE(platform::DeleteFile(P("ro.dat")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(platform::GetFileAttributes(P("ro.dat")), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(platform::CreateDirectory(P("dir")));
  EXPECT_FALSE(platform::DeleteFile(P("dir")));
  EXPECT_EQ(platform::FileSize(P("dir")), -1);
}

TEST_F(FilesTest, RenameRefusesToReplaceUnlessAsked) {
  Write("a", "A");
  Write("b", "B");
  EXPECT_FALSE(platform::MoveFile(P("a"), P("b")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Read("b"), "B");
  EXPECT_TRUE(platform::MoveFile(P("a"), P("c")));
  EXPECT_FALSE(platform::FileExists(P("a")));
  EXPECT_TRUE(platform::MoveFile(P("c"), P("b"), true));
  EXPECT_EQ(Read("b"), "A");
}

TEST_F(FilesTest, MovingBetweenFileSystemsCopiesAndDeletes) {
  std::string other = "/dev/shm/tessera-files-test-" + std::to_string(::getpid());
  if (::mkdir(other.c_str(), 0700) != 0) GTEST_SKIP() << "no second file system at /dev/shm";
  struct stat a, b;
  ::stat(other.c_str(), &a);
  ::stat(root_.path().c_str(), &b);
  if (a.st_dev == b.st_dev) {
    ::rmdir(other.c_str());
    GTEST_SKIP() << "/dev/shm is on the same file system";
  }
  std::u16string src = Utf8ToUtf16(other + "/clip.amr");
  ASSERT_TRUE(platform::WriteFile(src, "#!AMR\n"));
  Write("taken.amr", "keep");
  EXPECT_FALSE(platform::MoveFile(src, P("taken.amr")));
  EXPECT_EQ(Read("taken.amr"), "keep");
  EXPECT_TRUE(platform::FileExists(src));
  EXPECT_TRUE(platform::MoveFile(src, P("clip.amr")));
  EXPECT_EQ(Read("clip.amr"), "#!AMR\n");
  EXPECT_FALSE(platform::FileExists(src));
  ASSERT_TRUE(platform::MoveFile(P("clip.amr"), src));
  EXPECT_TRUE(platform::MoveFile(src, P("taken.amr"), true));
  EXPECT_EQ(Read("taken.amr"), "#!AMR\n");
  platform::RemoveTree(Utf8ToUtf16(other));
}

TEST_F(FilesTest, DirectoriesLevelByLevelAndWholeTrees) {
  std::u16string deep = P("UAContents/MMS UA/parts/");
  EXPECT_TRUE(platform::CreateDirectories(deep));
  EXPECT_TRUE(platform::CreateDirectories(deep));  // already there: fine
  EXPECT_TRUE(platform::DirectoryExists(P("UAContents/MMS UA/parts")));
  EXPECT_FALSE(platform::CreateDirectory(P("UAContents")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(platform::CreateDirectory(P("x/y")));
  Write("file", "f");
  EXPECT_FALSE(platform::CreateDirectories(P("file/sub")));
  EXPECT_FALSE(platform::CreateDirectories(P("file")));

  Write("UAContents/MMS UA/parts/1.jpg", "j");
  Write("UAContents/MMS UA/5.DAT", "d");
  ASSERT_TRUE(platform::SetReadOnly(P("UAContents/MMS UA/5.DAT"), true));
  ASSERT_EQ(::chmod((root_.path() + "/UAContents/MMS UA/parts").c_str(), 0555), 0);
  EXPECT_FALSE(platform::RemoveDirectory(P("UAContents")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(platform::RemoveTree(P("UAContents/")));
  EXPECT_FALSE(platform::PathExists(P("UAContents")));
  EXPECT_TRUE(platform::RemoveTree(P("UAContents")));  // missing counts as removed
  EXPECT_FALSE(platform::RemoveTree(u"/"));
}

TEST_F(FilesTest, ListingKeepsFileSystemOrderAndFiltersByPattern) {
  for (const char* n : {"b.JPG", "a.jpg", "c.gif", "d.jpeg", "e.Jpg.txt"}) Write(n, n);
  ASSERT_TRUE(platform::CreateDirectory(P("sub.jpg")));
  std::vector<platform::DirectoryEntry> all;
  ASSERT_TRUE(platform::ListDirectory(platform::DeviceRoot(), all));
  std::vector<std::string> listed;
  for (const auto& e : all) listed.push_back(platform::Utf16ToUtf8(e.name));
  EXPECT_EQ(listed, Names(""));

  std::vector<platform::DirectoryEntry> jpgs;
  ASSERT_TRUE(platform::ListDirectory(platform::DeviceRoot(), jpgs, u"*.jpg"));
  std::vector<std::string> names;
  for (const auto& e : jpgs) {
    names.push_back(platform::Utf16ToUtf8(e.name));
    if (e.name == u"sub.jpg") {
      EXPECT_TRUE(e.isDirectory);
      EXPECT_EQ(e.attributes, FILE_ATTRIBUTE_DIRECTORY);
    } else {
      EXPECT_EQ(e.size, 5u);
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.JPG", "sub.jpg"}));

  EXPECT_FALSE(platform::ListDirectory(P("missing"), all));
  EXPECT_TRUE(all.empty());
}

TEST(Patterns, WildcardsMatchCaseInsensitively) {
  EXPECT_TRUE(platform::MatchesPattern(u"Photo.JPG", u"*.jpg"));
  EXPECT_TRUE(platform::MatchesPattern(u"1.jpg", u"?.jpg"));
  EXPECT_FALSE(platform::MatchesPattern(u"12.jpg", u"?.jpg"));
  EXPECT_TRUE(platform::MatchesPattern(u"abc", u"a*b*c*"));
  EXPECT_FALSE(platform::MatchesPattern(u"abd", u"a*c"));
  EXPECT_TRUE(platform::MatchesPattern(u"", u"*"));
  EXPECT_FALSE(platform::MatchesPattern(u"x", u""));
  // Many stars against a long non-matching name must finish at once.
  std::u16string name(5000, u'a');
  EXPECT_FALSE(platform::MatchesPattern(name, u"*a*a*a*a*a*a*a*a*a*a*b"));
}

TEST_F(FilesTest, BadPathTextsAreRefused) {
  std::u16string withNul = P("a");
  withNul.push_back(u'\0');
  withNul += u"b";
  EXPECT_FALSE(platform::WriteFile(withNul, "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(platform::PathExists(P("a")));
  EXPECT_FALSE(platform::FileExists(u""));
  EXPECT_EQ(platform::OpenFile(P("none"), u"rb"), nullptr);
  std::FILE* f = platform::OpenFile(P("w.txt"), u"w");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  std::fclose(f);
  EXPECT_EQ(Read("w.txt"), "line\n");
}

}  // namespace
