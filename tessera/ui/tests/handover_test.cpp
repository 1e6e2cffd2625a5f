// Handing a file to the program: the command line, the record and where it lands.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/window.h"
#include "platform_testing/device_root.h"
#include "store/store_window.h"
#include "ui/shell/application.h"

namespace {

// Keeps the last record a window was sent.
std::string gReceived;
int gCopies = 0;

LRESULT Receiver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    ++gCopies;
    gReceived.assign(static_cast<const char*>(copy->lpData), copy->cbData);
    return 1;
  }
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class HandOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_DISPLAY", "headless", 1);
    WNDCLASS wc{};
    wc.lpfnWndProc = &Receiver;
    wc.lpszClassName = u"HandOverReceiver";
    RegisterClass(&wc);
    target = CreateWindowEx(0, u"HandOverReceiver", u"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(target, nullptr);
    gReceived.clear();
    gCopies = 0;
    folder = platform::Utf8ToUtf16(root.path()) + u"/in put/";
    ASSERT_TRUE(platform::CreateDirectories(folder));
  }
  void TearDown() override { DestroyWindow(target); }

  std::u16string Make(const std::u16string& name) {
    const std::u16string path = folder + name;
    EXPECT_TRUE(platform::WriteFile(path, "data"));
    return path;
  }
  std::u16string Field(std::size_t offset) {
    std::u16string text;
    for (std::size_t i = offset; i + 1 < offset + 520; i += 2) {
      const char16_t c = static_cast<char16_t>(static_cast<std::uint8_t>(gReceived[i]) |
                                               (static_cast<std::uint8_t>(gReceived[i + 1]) << 8));
      if (!c) break;
      text.push_back(c);
    }
    return text;
  }

  platform_testing::ScopedDeviceRoot root;
  HWND target = nullptr;
  std::u16string folder;
  ui::Application app;
};

TEST_F(HandOverTest, EachMediaKindFillsOnlyItsOwnSlot) {
  struct Case {
    const char16_t* name;
    std::size_t offset;
  } cases[] = {{u"clip.3gp", store::kImportVideoOffset},
               {u"Photo.JPG", store::kImportImageOffset},
               {u"tune.amr", store::kImportAudioOffset},
               {u"note.txt", store::kImportTextOffset}};
  for (const Case& c : cases) {
    const std::u16string path = Make(c.name);
    ASSERT_EQ(app.ForwardCommandLine(target, u"  /rade  \"" + path + u"\"\t "), 1) << platform::Utf16ToUtf8(c.name);
    ASSERT_EQ(gReceived.size(), store::kImportRecordSize);
    for (std::size_t slot : {store::kImportRecipientsOffset, store::kImportMoreRecipientsOffset,
                             store::kImportImageOffset, store::kImportAudioOffset, store::kImportVideoOffset,
                             store::kImportTextOffset})
      EXPECT_EQ(Field(slot), slot == c.offset ? path : u"") << platform::Utf16ToUtf8(c.name) << " slot " << slot;
    EXPECT_EQ(gReceived.substr(0, 4), std::string(4, '\0'));
  }
}

TEST_F(HandOverTest, AnythingButAnExistingMediaFileIsNotHandedOver) {
  const std::u16string doc = Make(u"letter.doc");
  const std::u16string clip = Make(u"clip.3gp");
  for (const std::u16string& line :
       {std::u16string(u""), std::u16string(u"/rade"), std::u16string(u"/rade \"\""), u"/rad \"" + clip + u"\"",
        u"rade \"" + clip + u"\"", u"/rade \"" + doc + u"\"", u"/rade \"" + folder + u"missing.3gp\"",
        u"/rade \"" + folder + u"\""})
    EXPECT_EQ(app.ForwardCommandLine(target, line), 0) << platform::Utf16ToUtf8(line);
  EXPECT_EQ(gCopies, 0);
}

}  // namespace
