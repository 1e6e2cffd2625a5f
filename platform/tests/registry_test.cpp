#include "platform/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace {

using platform::Utf16ToUtf8;

constexpr const WCHAR* kConfig = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config";

class RegistryTest : public ::testing::Test {
 protected:
  platform_testing::ScopedDeviceRoot root_;
};

HKEY Create(const WCHAR* path, DWORD* disposition = nullptr) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, disposition),
            ERROR_SUCCESS);
  return k;
}

LONG SetDword(HKEY k, const WCHAR* name, DWORD v) {
  return RegSetValueEx(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

LONG SetString(HKEY k, const WCHAR* name, std::u16string_view text) {
  std::u16string s(text);
  return RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                       static_cast<DWORD>((s.size() + 1) * sizeof(WCHAR)));
}

LONG GetDword(HKEY k, const WCHAR* name, DWORD& v) {
  DWORD type = 0, size = sizeof v;
  LONG e = RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
  if (e == ERROR_SUCCESS && (type != REG_DWORD || size != 4)) return -1;
  return e;
}

std::u16string GetString(HKEY k, const WCHAR* name) {
  WCHAR buf[256] = {};
  DWORD type = 0, size = sizeof buf;
  if (RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
    return u"<missing>";
  if (type != REG_SZ) return u"<type>";
  return std::u16string(buf);
}

std::vector<std::string> ValueNames(HKEY k) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD len = 64;
    LONG e = RegEnumValue(k, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(e, ERROR_SUCCESS);
    if (e != ERROR_SUCCESS) break;
    names.push_back(Utf16ToUtf8(std::u16string_view(name, len)));
  }
  return names;
}

TEST_F(RegistryTest, ValueTypesRoundTripWithTheSizeProtocol) {
  HKEY k = Create(kConfig);
  ASSERT_EQ(SetDword(k, u"SendDefault", 30 * 1024), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k, u"ConnectionVia", u"The Internet"), ERROR_SUCCESS);
  const BYTE blob[] = {0x00, 0xFF, 0x10, 0x00, 0x7F};
  ASSERT_EQ(RegSetValueEx(k, u"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k, u"Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

  DWORD v = 0;
  EXPECT_EQ(GetDword(k, u"SendDefault", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 30u * 1024);
  EXPECT_EQ(GetString(k, u"ConnectionVia"), u"The Internet");

  // Size only, then a buffer too small, then exactly right.
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueEx(k, u"Blob", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, sizeof blob);
  BYTE out[8] = {};
  size = 2;
  EXPECT_EQ(RegQueryValueEx(k, u"Blob", nullptr, &type, out, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof blob);
  EXPECT_EQ(out[0], 0);  // nothing copied on ERROR_MORE_DATA
  size = sizeof blob;
  EXPECT_EQ(RegQueryValueEx(k, u"Blob", nullptr, &type, out, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);

  size = 99;
  EXPECT_EQ(RegQueryValueEx(k, u"Empty", nullptr, &type, out, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(type, REG_BINARY);

  // The string's stored size includes its terminating zero.
  size = 0;
  EXPECT_EQ(RegQueryValueEx(k, u"ConnectionVia", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, (12u + 1) * 2);

  // Overwriting changes type and data.
  ASSERT_EQ(SetString(k, u"SendDefault", u"x"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(k, u"SendDefault"), u"x");

  // The default value (null or empty name).
  ASSERT_EQ(SetDword(k, nullptr, 7), ERROR_SUCCESS);
  EXPECT_EQ(GetDword(k, u"", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 7u);

  EXPECT_EQ(RegQueryValueEx(k, u"Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueEx(k, u"Blob", nullptr, &type, out, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueEx(k, u"Bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(RegistryTest, StringsStoredWithoutTheirZeroAreStillTerminatedForTheReader) {
  HKEY k = Create(u"Unterminated");
  const char16_t abc[] = {u'a', u'b', u'c'};
  ASSERT_EQ(RegSetValueEx(k, u"s", 0, REG_SZ, reinterpret_cast<const BYTE*>(abc), sizeof abc), ERROR_SUCCESS);
  WCHAR buf[8];
  std::fill(std::begin(buf), std::end(buf), u'x');
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(RegQueryValueEx(k, u"s", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);  // the stored size, unchanged
  EXPECT_EQ(std::u16string(buf), u"abc");
  // Without room for the zero the data alone is copied; nothing is written past it.
  std::fill(std::begin(buf), std::end(buf), u'x');
  size = 6;
  ASSERT_EQ(RegQueryValueEx(k, u"s", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(buf[3], u'x');
  // Binary data is never touched beyond its size.
  ASSERT_EQ(RegSetValueEx(k, u"b", 0, REG_BINARY, reinterpret_cast<const BYTE*>(abc), sizeof abc),
            ERROR_SUCCESS);
  std::fill(std::begin(buf), std::end(buf), u'x');
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueEx(k, u"b", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(buf[3], u'x');
  RegCloseKey(k);
}

TEST_F(RegistryTest, EnumerationFollowsCreationOrder) {
  HKEY k = Create(u"Order");
  for (const WCHAR* n : {u"zeta", u"Alpha", u"mid", u"Beta"}) ASSERT_EQ(SetDword(k, n, 1), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(k), (std::vector<std::string>{"zeta", "Alpha", "mid", "Beta"}));

  // Rewriting keeps the place (and the stored spelling); deleting and re-adding moves it last.
  ASSERT_EQ(SetDword(k, u"ALPHA", 2), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValue(k, u"zeta"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(k, u"zeta", 3), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(k), (std::vector<std::string>{"Alpha", "mid", "Beta", "zeta"}));

  // Data comes with the enumeration, and a short name buffer is refused.
  WCHAR name[3];
  DWORD len = 3, type = 0, data = 0, size = sizeof data;
  EXPECT_EQ(RegEnumValue(k, 0, name, &len, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
            ERROR_MORE_DATA);
  WCHAR big[16];
  len = 16;
  EXPECT_EQ(RegEnumValue(k, 0, big, &len, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, 2u);
  len = 16;
  EXPECT_EQ(RegEnumValue(k, 4, big, &len, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  // Subkeys enumerate in creation order too.
  for (const WCHAR* n : {u"Order\\b", u"Order\\A", u"Order\\c"}) RegCloseKey(Create(n));
  std::vector<std::string> keys;
  for (DWORD i = 0;; ++i) {
    len = 16;
    if (RegEnumKeyEx(k, i, big, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    keys.push_back(Utf16ToUtf8(big));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"b", "A", "c"}));

  DWORD subKeys = 0, values = 0, maxName = 0, maxData = 0;
  EXPECT_EQ(RegQueryInfoKey(k, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, &maxName,
                            &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(maxName, 5u);
  EXPECT_EQ(maxData, 4u);
  RegCloseKey(k);
}

TEST_F(RegistryTest, KeysAndValueNamesAreCaseInsensitive) {
  DWORD disp = 0;
  HKEY k = Create(u"\\SOFTWARE\\Corvane\\Corvane MMS UA", &disp);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetString(k, u"Corvanemms", u"/opt/tessera"), ERROR_SUCCESS);
  RegCloseKey(k);

  // Another spelling, without the leading separator and with a doubled one.
  HKEY again = Create(u"\\SoftWare\\corvane\\\\CORVANE mms ua", &disp);
  EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetString(again, u"CORVANEMMS"), u"/opt/tessera");
  RegCloseKey(again);

  HKEY opened = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"software\\CORVANE\\Corvane MMS UA", 0, KEY_READ, &opened),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(opened, u"corvanemms"), u"/opt/tessera");
  RegCloseKey(opened);

  // Non-ASCII letters fold as well, and the first spelling is kept.
  HKEY u = Create(u"Ünïcode\\ΑΒΓ");
  RegCloseKey(u);
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"ünÏcode\\αβγ", 0, 0, &opened), ERROR_SUCCESS);
  RegCloseKey(opened);
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Ünïcode", 0, 0, &opened), ERROR_SUCCESS);
  WCHAR name[16];
  DWORD len = 16;
  ASSERT_EQ(RegEnumKeyEx(opened, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"ΑΒΓ");
  RegCloseKey(opened);

  // Roots are separate trees.
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Corvane", 0, 0, &opened), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(opened, nullptr);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheSubtreeAndInvalidatesHandles) {
  HKEY leaf = Create(u"Root\\Mid\\Leaf");
  ASSERT_EQ(SetDword(leaf, u"v", 1), ERROR_SUCCESS);
  HKEY mid = Create(u"Root\\Mid");
  ASSERT_EQ(SetDword(mid, u"w", 2), ERROR_SUCCESS);
  HKEY keep = Create(u"Root\\Keep");
  ASSERT_EQ(SetDword(keep, u"k", 3), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, u"root\\MID"), ERROR_SUCCESS);
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Root\\Mid", 0, 0, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Root\\Mid\\Leaf", 0, 0, &k), ERROR_FILE_NOT_FOUND);
  DWORD v = 0;
  EXPECT_EQ(GetDword(leaf, u"v", v), ERROR_KEY_DELETED);
  EXPECT_EQ(SetDword(mid, u"w", 5), ERROR_KEY_DELETED);
  EXPECT_EQ(GetDword(keep, u"k", v), ERROR_SUCCESS);

  // A re-created key of the same name is a new key: the old handle stays dead.
  HKEY fresh = Create(u"Root\\Mid\\Leaf");
  EXPECT_EQ(GetDword(leaf, u"v", v), ERROR_KEY_DELETED);
  EXPECT_EQ(GetDword(fresh, u"v", v), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, u"Root\\Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(keep, u"absent"), ERROR_FILE_NOT_FOUND);
  for (HKEY h : {leaf, mid, keep, fresh}) EXPECT_EQ(RegCloseKey(h), ERROR_SUCCESS);
}

// Many short writers (each compose is one) must not grow the write-ahead log without end.
TEST_F(RegistryTest, TheWriteAheadLogStaysSmall) {
  HKEY k = Create(u"\\SOFTWARE\\Corvane\\RU15");
  const std::string wal = root_.path() + "/registry.db-wal";
  off_t largest = 0;
  for (DWORD i = 0; i < 3000; ++i) {
    ASSERT_EQ(SetDword(k, u"MSG_MAX_ID", i), ERROR_SUCCESS);
    struct stat st{};
    if (::stat(wal.c_str(), &st) == 0) largest = std::max(largest, st.st_size);
  }
  RegCloseKey(k);
  EXPECT_LT(largest, 1024 * 1024) << "the log reached " << largest << " bytes";
}

TEST_F(RegistryTest, BadHandlesAndArgumentsAreRefused) {
  HKEY k = Create(u"Handles");
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(nullptr, u"x", 1), ERROR_INVALID_HANDLE);
  DWORD v;
  EXPECT_EQ(GetDword(reinterpret_cast<HKEY>(std::uintptr_t{0x1234}), u"x", v), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegFlushKey(nullptr), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"x", 0, nullptr, 0, 0, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);

  std::u16string longName(256, u'a');
  HKEY out = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, longName.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr),
            ERROR_INVALID_PARAMETER);
  longName.pop_back();
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, longName.c_str(), 0, nullptr, 0, 0, nullptr, &out, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(out), ERROR_SUCCESS);
  RegCloseKey(out);
}

TEST(RegistryRoots, HandlesOfAnotherDeviceRootAreStale) {
  HKEY k = nullptr;
  {
    platform_testing::ScopedDeviceRoot first;
    k = Create(u"A");
    ASSERT_EQ(SetDword(k, u"x", 1), ERROR_SUCCESS);
  }
  platform_testing::ScopedDeviceRoot second;
  DWORD v;
  EXPECT_EQ(GetDword(k, u"x", v), ERROR_INVALID_HANDLE);
  HKEY other = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"A", 0, 0, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

// Other processes are this test program started again with a filter that picks one of
// the child bodies below and an environment variable that tells it what to do. A fresh
// exec (not a bare fork) gives the child its own database connection and locks, as
// separate programs have.
pid_t SpawnChild(const std::string& test, const std::string& role) {
  std::string exe = Utf16ToUtf8(platform::ProgramPath());
  std::string filter = "--gtest_filter=RegistryChild." + test;
  std::string roleVar = "TESSERA_TEST_ROLE=" + role;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "TESSERA_TEST_ROLE=", 18) != 0) env.push_back(*e);
  }
  env.push_back(roleVar);
  std::vector<char*> envp, argv{exe.data(), filter.data(), nullptr};
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  // The child's test report stays out of the parent's; its failures still show on stderr.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

const char* Role() {
  return std::getenv("TESSERA_TEST_ROLE");
}

constexpr int kPerProcess = 150;

TEST(RegistryChild, Writer) {
  if (!Role()) GTEST_SKIP() << "runs as a child process only";
  std::string who = Role();
  HKEY k = Create(u"Shared");
  for (int i = 0; i < kPerProcess; ++i) {
    std::u16string name = platform::Utf8ToUtf16("p" + who + "_" + std::to_string(i));
    ASSERT_EQ(SetDword(k, name.c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
    // Every write also creates a key of its own.
    std::u16string sub = u"Shared\\" + name;
    RegCloseKey(Create(sub.c_str()));
  }
  RegCloseKey(k);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  HKEY shared = Create(u"Shared");  // the parent holds a handle across the children's writes
  pid_t a = SpawnChild("Writer", "1");
  pid_t b = SpawnChild("Writer", "2");
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  // The parent writes to the same key meanwhile.
  for (int i = 0; i < 50; ++i) {
    std::u16string name = platform::Utf8ToUtf16("parent_" + std::to_string(i));
    ASSERT_EQ(SetDword(shared, name.c_str(), 1), ERROR_SUCCESS);
  }
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);

  DWORD values = 0, subKeys = 0;
  ASSERT_EQ(RegQueryInfoKey(shared, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2u * kPerProcess + 50);
  EXPECT_EQ(subKeys, 2u * kPerProcess);
  for (int who = 1; who <= 2; ++who) {
    for (int i = 0; i < kPerProcess; i += 7) {
      std::u16string name = platform::Utf8ToUtf16("p" + std::to_string(who) + "_" + std::to_string(i));
      DWORD v = 0;
      EXPECT_EQ(GetDword(shared, name.c_str(), v), ERROR_SUCCESS);
      EXPECT_EQ(v, static_cast<DWORD>(i));
    }
  }
  RegCloseKey(shared);
}

TEST_F(RegistryTest, ThreadsSharingTheRegistry) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      HKEY k = Create(u"Threads");
      for (int i = 0; i < 50; ++i) {
        std::u16string name = platform::Utf8ToUtf16(std::to_string(t) + "/" + std::to_string(i));
        EXPECT_EQ(SetDword(k, name.c_str(), static_cast<DWORD>(i)), ERROR_SUCCESS);
      }
      RegCloseKey(k);
    });
  }
  for (auto& t : threads) t.join();
  HKEY k = Create(u"Threads");
  EXPECT_EQ(ValueNames(k).size(), 200u);
  RegCloseKey(k);
}

// Writes until killed; role "ROUND:FD": after every completed step the step's number is
// written to descriptor FD.
TEST(RegistryChild, CrashingWriter) {
  if (!Role()) GTEST_SKIP() << "runs as a child process only";
  std::string role = Role();
  std::string round = role.substr(0, role.find(':'));
  int fd = std::atoi(role.c_str() + role.find(':') + 1);
  for (int i = 0;; ++i) {
    std::u16string key = platform::Utf8ToUtf16("Crash\\R" + round + "\\K" + std::to_string(i));
    HKEY k = Create(key.c_str());
    for (int j = 0; j < 3; ++j) {
      std::u16string sub = platform::Utf8ToUtf16("s" + std::to_string(j));
      HKEY s = nullptr;
      ASSERT_EQ(RegCreateKeyEx(k, sub.c_str(), 0, nullptr, 0, 0, nullptr, &s, nullptr), ERROR_SUCCESS);
      ASSERT_EQ(SetDword(s, u"v", static_cast<DWORD>(j)), ERROR_SUCCESS);
      RegCloseKey(s);
    }
    ASSERT_EQ(SetDword(k, u"n", static_cast<DWORD>(i)), ERROR_SUCCESS);
    if (i % 2 == 1) {
      ASSERT_EQ(RegDeleteKey(k, u"s1"), ERROR_SUCCESS);
    }
    RegCloseKey(k);
    ASSERT_EQ(::write(fd, &i, sizeof i), static_cast<ssize_t>(sizeof i));
  }
}

TEST_F(RegistryTest, ACrashBetweenWritesLeavesTheDatabaseConsistent) {
  // A child writes as fast as it can and reports every completed step through a pipe;
  // it is killed mid-stream. Every reported write must survive, a subtree delete in
  // flight must be whole or absent, and the database must pass SQLite's own check.
  for (int round = 0; round < 3; ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = SpawnChild("CrashingWriter", std::to_string(round) + ":" + std::to_string(fds[1]));
    ASSERT_GT(child, 0);
    ::close(fds[1]);
    int last = -1, got;
    while (last < 10 + round * 7 && ::read(fds[0], &got, sizeof got) == sizeof got) last = got;
    ::kill(child, SIGKILL);
    while (::read(fds[0], &got, sizeof got) == sizeof got) last = got;
    ::close(fds[0]);
    EXPECT_EQ(Wait(child), 128 + SIGKILL);
    ASSERT_GE(last, 10 + round * 7);

    for (int i = 0; i <= last + 1; ++i) {
      std::u16string key =
          platform::Utf8ToUtf16("Crash\\R" + std::to_string(round) + "\\K" + std::to_string(i));
      HKEY k = nullptr;
      LONG e = RegOpenKeyEx(HKEY_LOCAL_MACHINE, key.c_str(), 0, 0, &k);
      if (i > last) {  // the step in flight: partly done is fine, damaged is not
        if (e == ERROR_SUCCESS) RegCloseKey(k);
        continue;
      }
      ASSERT_EQ(e, ERROR_SUCCESS) << i;
      DWORD v = 99;
      EXPECT_EQ(GetDword(k, u"n", v), ERROR_SUCCESS);
      EXPECT_EQ(v, static_cast<DWORD>(i));
      HKEY s1 = nullptr;
      EXPECT_EQ(RegOpenKeyEx(k, u"s1", 0, 0, &s1), i % 2 == 1 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
      if (s1) RegCloseKey(s1);
      RegCloseKey(k);
    }
  }
  // Values are never left without their key.
  sqlite3* db = nullptr;
  std::string path = root_.path() + "/registry.db";
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  auto scalar = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), SQLITE_OK);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW) out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
  };
  EXPECT_EQ(scalar("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(scalar("SELECT count(*) FROM vals WHERE key NOT IN (SELECT id FROM keys)"), "0");
  EXPECT_EQ(scalar("SELECT count(*) FROM keys WHERE parent<>0 AND parent NOT IN (SELECT id FROM keys)"), "0");
  sqlite3_close(db);
}

TEST(RegistryChild, Reader) {
  if (!Role()) GTEST_SKIP() << "runs as a child process only";
  HKEY c = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kConfig, 0, 0, &c), ERROR_SUCCESS);
  DWORD v = 0;
  ASSERT_EQ(GetDword(c, u"sort", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);
  EXPECT_EQ(SetDword(c, u"FromChild", 5), ERROR_SUCCESS);
  RegCloseKey(c);
}

TEST_F(RegistryTest, AnotherProcessSeesFlushedValues) {
  HKEY k = Create(kConfig);
  ASSERT_EQ(SetDword(k, u"Sort", 2), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(k), ERROR_SUCCESS);
  EXPECT_EQ(Wait(SpawnChild("Reader", "read")), 0);
  DWORD v = 0;
  EXPECT_EQ(GetDword(k, u"FromChild", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 5u);
  RegCloseKey(k);
}

}  // namespace
