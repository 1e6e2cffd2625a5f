#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "platform_testing/device_root.h"

namespace platform::core {
// Test hook of the registry: the Nth write from now fails (negative: never).
void FailRegistryWriteAfter(int n);
}  // namespace platform::core

namespace {

using platform::RegFileError;
using platform::RegFileKey;

std::string Sz(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out + std::string(2, '\0');
}

std::string Dw(DWORD v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}

TEST(RegFile, ParsesTheUsualForms) {
  const char* text =
      "\xEF\xBB\xBFREGEDIT4\r\n"
      "\r\n"
      "; provisioning\r\n"
      "[hklm\\SOFTWARE\\\\Corvane\\Corvane MMS UA\\Config\\mm1\\]\r\n"
      "\"SendDelayedNotifyResp\"=dword:00000001\r\n"
      "\"WTPMaxRetryTimes\" = dword:1e\r\n"
      "\"Path\"=\"C:\\\\My \\\"Docs\\\"\"\r\n"
      "@=\"default\"\r\n"
      "\"Bytes\"=hex:00,0a,\\\r\n"
      "    FF\r\n"
      "\"Expand\"=hex(2):41,00,00,00\r\n"
      "\"Old\"=-\r\n"
      "[-HKEY_CURRENT_USER\\Gone]\r\n";
  std::vector<RegFileKey> keys;
  RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(text, keys, error)) << error.line << ": " << error.message;
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1");
  const auto& v = keys[0].values;
  ASSERT_EQ(v.size(), 7u);
  EXPECT_EQ(v[0].name, u"SendDelayedNotifyResp");
  EXPECT_EQ(v[0].type, REG_DWORD);
  EXPECT_EQ(v[0].data, Dw(1));
  EXPECT_EQ(v[1].data, Dw(30));
  EXPECT_EQ(v[2].type, REG_SZ);
  EXPECT_EQ(v[2].data, Sz(u"C:\\My \"Docs\""));
  EXPECT_EQ(v[3].name, u"");
  EXPECT_EQ(v[4].type, REG_BINARY);
  EXPECT_EQ(v[4].data, std::string("\x00\x0a\xff", 3));
  EXPECT_EQ(v[5].type, REG_EXPAND_SZ);
  EXPECT_TRUE(v[6].remove);
  EXPECT_TRUE(keys[1].remove);
  EXPECT_EQ(keys[1].path, u"HKEY_CURRENT_USER\\Gone");
}

TEST(RegFile, RejectsMalformedTextWithTheLine) {
  struct Case {
    const char* text;
    int line;
  } cases[] = {
      {"\"x\"=dword:1\n", 1},                     // value before any key
      {"[Nowhere\\x]\n", 1},                      // no root
      {"[HKLM\\a]\n\"x\"=dword:123456789\n", 2},  // too many digits
      {"[HKLM\\a]\n\"x\"=dword:\n", 2},
      {"[HKLM\\a]\n\"x\"=dword:12g\n", 2},
      {"[HKLM\\a]\n\n\"x\"=\"open\n", 3},  // unterminated text
      {"[HKLM\\a]\n\"x\"=\"a\\q\"\n", 2},  // unknown escape
      {"[HKLM\\a]\n\"x\"=\"a\" junk\n", 2},
      {"[HKLM\\a]\n\"x\"=hex:0g\n", 2},
      {"[HKLM\\a]\n\"x\"=hex:00 01\n", 2},
      {"[HKLM\\a]\n\"x\"=hex(zz):00\n", 2},
      {"[HKLM\\a]\n\"x\"=hex:00,\\\n", 2},  // continuation at the end
      {"[HKLM\\a]\n\"x\"=text\n", 2},
      {"[HKLM\\a]\n\"\"=dword:1\n", 2},  // empty name: @ is the default value
      {"[HKLM\\a]\nname=dword:1\n", 2},
      {"[HKLM\\a\n", 1},
      {"[-HKLM]\n", 1},  // roots cannot go
      {"[-HKLM\\a]\n\"x\"=dword:1\n", 2},
  };
  for (const auto& c : cases) {
    std::vector<RegFileKey> keys;
    RegFileError error;
    EXPECT_FALSE(platform::ParseRegFile(c.text, keys, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text << " -> " << error.message;
    EXPECT_FALSE(error.message.empty());
    EXPECT_TRUE(keys.empty());
  }
}

TEST(RegFile, FormattingRoundTripsEveryValueExactly) {
  RegFileKey key;
  key.path = u"HKEY_LOCAL_MACHINE\\Round";
  key.values.push_back({u"Text", REG_SZ, Sz(u"back\\slash \"quoted\" ünï €😀"), false});
  key.values.push_back({u"Dword", REG_DWORD, Dw(0xDEADBEEF), false});
  key.values.push_back({u"", REG_SZ, Sz(u""), false});
  // Strings that "text" could not carry: no terminator, embedded zero, line break,
  // unpaired surrogate; a DWORD of the wrong size; a long binary that wraps.
  key.values.push_back({u"NoZero", REG_SZ, std::string("a\0b", 3), false});
  key.values.push_back({u"Embedded", REG_SZ, Sz(std::u16string(u"a\0b", 3)), false});
  key.values.push_back({u"Lines", REG_SZ, Sz(u"one\r\ntwo"), false});
  key.values.push_back({u"Lone", REG_SZ, Sz(std::u16string(1, char16_t{0xD800})), false});
  key.values.push_back({u"ShortDword", REG_DWORD, std::string("\x01\x02", 2), false});
  std::string big;
  for (int i = 0; i < 300; ++i) big.push_back(static_cast<char>(i));
  key.values.push_back({u"Big", REG_BINARY, big, false});
  key.values.push_back({u"Empty", REG_BINARY, std::string(), false});
  key.values.push_back({u"Weird", 0x1234, std::string("xy"), false});
  std::string text = platform::FormatRegFile({key});
  EXPECT_NE(text.find("\"Dword\"=dword:deadbeef\n"), std::string::npos) << text;
  EXPECT_NE(text.find("@=\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"Text\"=\"back\\\\slash \\\"quoted\\\""), std::string::npos);
  EXPECT_NE(text.find("\"Weird\"=hex(1234):78,79\n"), std::string::npos);
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u);

  std::vector<RegFileKey> back;
  RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(text, back, error)) << error.message << "\n" << text;
  ASSERT_EQ(back.size(), 1u);
  ASSERT_EQ(back[0].values.size(), key.values.size());
  for (std::size_t i = 0; i < key.values.size(); ++i) {
    EXPECT_EQ(back[0].values[i].name, key.values[i].name);
    EXPECT_EQ(back[0].values[i].type, key.values[i].type) << i;
    EXPECT_EQ(back[0].values[i].data, key.values[i].data) << i;
  }
}

TEST(RegFile, Utf16TextWithByteOrderMark) {
  std::u16string wide = u"\uFEFF[HKEY_LOCAL_MACHINE\\W]\r\n\"é\"=\"中\"\r\n";
  std::string bytes;
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  std::vector<RegFileKey> keys;
  RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(bytes, keys, error)) << error.message;
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].values[0].name, u"é");
  EXPECT_EQ(keys[0].values[0].data, Sz(u"中"));
  bytes.pop_back();
  EXPECT_FALSE(platform::ParseRegFile(bytes, keys, error));
}

TEST(RegFile, ExportAndImportThroughTheRegistry) {
  platform_testing::ScopedDeviceRoot root;
  const char* text =
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA]\n"
      "\"Corvanemms\"=\"/opt/tessera/tessera\"\n"
      "\"NotificationCount\"=dword:00000002\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI]\n"
      "\"Sort\"=dword:00000003\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\Empty]\n";
  std::vector<RegFileKey> keys;
  RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(text, keys, error));
  ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);

  std::vector<RegFileKey> exported;
  ASSERT_EQ(platform::ExportRegistry(u"HKLM\\software\\corvane", exported), ERROR_SUCCESS);
  // Every key comes out (empty and intermediate ones too), depth first in creation order.
  ASSERT_EQ(exported.size(), 5u);
  EXPECT_EQ(exported[0].path, u"HKEY_LOCAL_MACHINE\\software\\corvane");
  EXPECT_EQ(exported[1].path, u"HKEY_LOCAL_MACHINE\\software\\corvane\\Corvane MMS UA");
  EXPECT_EQ(exported[2].path, u"HKEY_LOCAL_MACHINE\\software\\corvane\\Corvane MMS UA\\Config");
  EXPECT_EQ(exported[3].path, u"HKEY_LOCAL_MACHINE\\software\\corvane\\Corvane MMS UA\\Config\\UI");
  EXPECT_EQ(exported[4].path, u"HKEY_LOCAL_MACHINE\\software\\corvane\\Corvane MMS UA\\Config\\Empty");
  ASSERT_EQ(exported[1].values.size(), 2u);
  EXPECT_EQ(exported[1].values[0].name, u"Corvanemms");
  EXPECT_EQ(exported[1].values[1].data, Dw(2));

  // Delete and re-import the exported text: the same tree comes back.
  std::string saved = platform::FormatRegFile(exported);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane"), ERROR_SUCCESS);
  ASSERT_EQ(platform::ExportRegistry(u"HKLM\\software\\corvane", exported), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(platform::ParseRegFile(saved, keys, error));
  ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);
  ASSERT_EQ(platform::ExportRegistry(u"HKLM\\software\\corvane", exported), ERROR_SUCCESS);
  EXPECT_EQ(platform::FormatRegFile(exported), saved);

  // Deletions in a file: a key and a value, missing ones are fine.
  ASSERT_TRUE(
      platform::ParseRegFile("[-HKLM\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config]\n[-HKLM\\Nope]\n"
                             "[HKLM\\SOFTWARE\\Corvane\\Corvane MMS UA]\n\"NotificationCount\"=-\n"
                             "\"Absent\"=-\n",
                             keys, error));
  ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);
  ASSERT_EQ(platform::ExportRegistry(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane", exported), ERROR_SUCCESS);
  ASSERT_EQ(exported.size(), 2u);
  EXPECT_EQ(exported[1].values.size(), 1u);
}

TEST(RegFile, NamesAndValuesWithLineBreaksComeBackWhole) {
  platform_testing::ScopedDeviceRoot root;
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"T\\two\nline key\\cr\rkey", 0, nullptr, 0, 0, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  const std::string text = Sz(u"first\nsecond\r\nthird");
  const std::string dword = Dw(7);
  ASSERT_EQ(RegSetValueEx(k, u"multi\nline", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size())),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k, u"ends with\r", 0, REG_DWORD, reinterpret_cast<const BYTE*>(dword.data()), 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(k, u"quote\" and \\n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(dword.data()), 4),
            ERROR_SUCCESS);
  RegCloseKey(k);

  std::vector<RegFileKey> exported;
  ASSERT_EQ(platform::ExportRegistry(u"HKLM\\T", exported), ERROR_SUCCESS);
  const std::string saved = platform::FormatRegFile(exported);
  ASSERT_EQ(RegDeleteKey(HKEY_LOCAL_MACHINE, u"T"), ERROR_SUCCESS);
  std::vector<RegFileKey> keys;
  RegFileError error;
  ASSERT_TRUE(platform::ParseRegFile(saved, keys, error)) << error.line << ": " << error.message << "\n" << saved;
  ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);

  ASSERT_EQ(platform::ExportRegistry(u"HKLM\\T", exported), ERROR_SUCCESS);
  EXPECT_EQ(platform::FormatRegFile(exported), saved);
  ASSERT_EQ(exported.size(), 3u);
  EXPECT_EQ(exported[2].path, u"HKEY_LOCAL_MACHINE\\T\\two\nline key\\cr\rkey");
  ASSERT_EQ(exported[2].values.size(), 3u);
  EXPECT_EQ(exported[2].values[0].name, u"multi\nline");
  EXPECT_EQ(exported[2].values[0].data, text);
  EXPECT_EQ(exported[2].values[1].name, u"ends with\r");
  EXPECT_EQ(exported[2].values[2].name, u"quote\" and \\n");
}

TEST(RegFile, EveryKeyDepthTheRegistryTakesCanBeExported) {
  platform_testing::ScopedDeviceRoot root;
  std::u16string path = u"Deep";
  for (int level = 2; level <= 512; ++level) path += u"\\k";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  // One level more is refused, whether asked for in one path or from the deepest key.
  HKEY deeper = nullptr;
  EXPECT_EQ(RegCreateKeyEx(k, u"one more", 0, nullptr, 0, 0, nullptr, &deeper, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, (path + u"\\x").c_str(), 0, nullptr, 0, 0, nullptr, &deeper, nullptr),
            ERROR_INVALID_PARAMETER);
  // Opening what exists at the limit still works.
  HKEY again = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &again, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(again);
  RegCloseKey(k);

  std::vector<RegFileKey> exported;
  ASSERT_EQ(platform::ExportRegistry(u"HKEY_LOCAL_MACHINE", exported), ERROR_SUCCESS);
  ASSERT_EQ(exported.size(), 513u);
  EXPECT_EQ(exported.back().path, u"HKEY_LOCAL_MACHINE\\" + path);
}

TEST(RegFile, RootNames) {
  HKEY root;
  std::u16string rest;
  EXPECT_TRUE(platform::SplitRootPath(u"hkey_current_user\\a\\b", root, rest));
  EXPECT_EQ(root, HKEY_CURRENT_USER);
  EXPECT_EQ(rest, u"a\\b");
  EXPECT_FALSE(platform::SplitRootPath(u"\\SOFTWARE\\x", root, rest));
  EXPECT_TRUE(platform::SplitRootPath(u"\\SOFTWARE\\x", root, rest, true));
  EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(platform::FullKeyName(HKEY_USERS, u"\\a\\\\b\\"), u"HKEY_USERS\\a\\b");
  EXPECT_EQ(platform::FullKeyName(HKEY_LOCAL_MACHINE, u""), u"HKEY_LOCAL_MACHINE");
}

std::string Snapshot() {
  std::vector<RegFileKey> keys;
  LONG e = platform::ExportRegistry(u"HKEY_LOCAL_MACHINE", keys);
  return e == ERROR_SUCCESS ? platform::FormatRegFile(keys) : "export failed: " + std::to_string(e);
}

// Every write of an operation is made to fail in turn; each time the registry must hold
// either the old state (and the call report the failure) or the new one (and report
// success), and keep working afterwards.
TEST(RegistryFaults, AFailedWriteLeavesTheOldStateWhole) {
  const char* base =
      "[HKLM\\SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE\\7]\n\"Priority\"=dword:00000001\n\"Minute\"=dword:"
      "0000000a\n"
      "[HKLM\\SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE\\8]\n\"Priority\"=dword:00000002\n"
      "[HKLM\\SOFTWARE\\Corvane\\RU15]\n\"MSG_MAX_ID\"=dword:00000008\n";
  struct Op {
    const char* name;
    LONG (*run)();
  } ops[] = {
      {"overwrite",
       [] {
         HKEY k = nullptr;
         if (LONG e = RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\RU15", 0, 0, &k)) return e;
         DWORD v = 9;
         LONG e = RegSetValueEx(k, u"MSG_MAX_ID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
         RegCloseKey(k);
         return e;
       }},
      {"create nested",
       [] {
         HKEY k = nullptr;
         LONG e = RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\UI", 0,
                                 nullptr, 0, 0, nullptr, &k, nullptr);
         if (k) RegCloseKey(k);
         return e;
       }},
      {"delete subtree",
       [] { return RegDeleteKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE"); }},
      {"import",
       [] {
         std::vector<RegFileKey> keys;
         RegFileError error;
         platform::ParseRegFile(
             "[HKLM\\A\\B]\n\"x\"=\"y\"\n[-HKLM\\SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE\\8]\n", keys, error);
         return platform::ImportRegistry(keys);
       }},
  };
  for (const Op& op : ops) {
    std::string after;
    {
      platform_testing::ScopedDeviceRoot root;
      std::vector<RegFileKey> keys;
      RegFileError error;
      ASSERT_TRUE(platform::ParseRegFile(base, keys, error));
      ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);
      ASSERT_EQ(op.run(), ERROR_SUCCESS) << op.name;
      after = Snapshot();
    }
    bool sawFailure = false;
    for (int n = 0; n < 12; ++n) {
      platform_testing::ScopedDeviceRoot root;
      std::vector<RegFileKey> keys;
      RegFileError error;
      ASSERT_TRUE(platform::ParseRegFile(base, keys, error));
      ASSERT_EQ(platform::ImportRegistry(keys), ERROR_SUCCESS);
      std::string before = Snapshot();
      platform::core::FailRegistryWriteAfter(n);
      LONG e = op.run();
      platform::core::FailRegistryWriteAfter(-1);
      std::string state = Snapshot();
      // Import is several calls: a failure part-way keeps the calls already made, but
      // never a half-made one.
      if (e == ERROR_SUCCESS) {
        EXPECT_EQ(state, after) << op.name << " n=" << n;
      } else if (std::string(op.name) != "import") {
        sawFailure = true;
        EXPECT_EQ(e, ERROR_REGISTRY_IO_FAILED) << op.name;
        EXPECT_EQ(state, before) << op.name << " n=" << n;
      } else {
        sawFailure = true;
        EXPECT_TRUE(state == before || state.find("[HKEY_LOCAL_MACHINE\\A\\B]\n") != std::string::npos)
            << state;
      }
      // And the registry goes on working.
      HKEY k = nullptr;
      ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"After", 0, nullptr, 0, 0, nullptr, &k, nullptr),
                ERROR_SUCCESS);
      DWORD v = 1;
      EXPECT_EQ(RegSetValueEx(k, u"ok", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
      RegCloseKey(k);
    }
    EXPECT_TRUE(sawFailure) << op.name;
  }
}

}  // namespace
