// The text editor driven with keys on the headless screen, with the real resource library.
#include "texteditor/text_editor.h"

#include <gtest/gtest.h>

#include "key_script.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "texteditor/canned_texts.h"
#include "texteditor/texteditor_ids.h"
#include "ui/common/app_context.h"

namespace texteditor {
namespace {

using uitest::KeyScript;

bool Has(const std::string& screen, const std::string& text) {
  return screen.find(text) != std::string::npos;
}

class TextEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    ui::Context().resources = &resources;
    SetCannedTextPicker(nullptr);
  }
  void TearDown() override {
    SetCannedTextPicker(nullptr);
    ui::Context().resources = nullptr;
  }
  platform_testing::ScopedDeviceRoot root;
  ui::ResourceLibrary resources;
  std::u16string canned = platform::JoinPath(platform::DeviceRoot(), u"CannedText.txt");
};

TEST_F(TextEditorTest, BackErasesCancelStaysAndConfirmHandsTheTextBack) {
  std::u16string text = u"abc";
  KeyScript script;
  std::string screen;
  script.Key("Back");
  script.Command(IDCANCEL);  // the Back key's command does not close an editable editor
  script.Describe(&screen);
  script.Key("SoftLeft");
  script.Start();
  EXPECT_EQ(RunTextEditor(script.owner(), TextEditorMode::CannedText, &text, canned), IDOK);
  EXPECT_EQ(text, u"ab");
  EXPECT_TRUE(Has(screen, "ab")) << screen;

  // The close command leaves without touching the text.
  KeyScript close;
  close.Key("Back");
  close.Command(ids::kCmdClose);
  close.Start();
  EXPECT_EQ(RunTextEditor(close.owner(), TextEditorMode::CannedText, &text, canned), IDCANCEL);
  EXPECT_EQ(text, u"ab");
}

TEST_F(TextEditorTest, TextsAreCutTo999AndInsertedCannedTextsStayWithinTheLimit) {
  std::u16string text(1200, u'x');
  KeyScript script;
  script.Key("SoftLeft");
  script.Start();
  ASSERT_EQ(RunTextEditor(script.owner(), TextEditorMode::CannedText, &text, canned), IDOK);
  EXPECT_EQ(text.size(), 999u);

  text = std::u16string(997, u'y');
  SetCannedTextPicker([](HWND, std::uint32_t* mask) -> std::optional<std::u16string> {
    EXPECT_EQ(*mask, 0x3FFFFu);
    return u"abc";
  });
  KeyScript insert;
  insert.Command(ids::kCmdInsertCanned);
  insert.Key("SoftLeft");
  insert.Start();
  ASSERT_EQ(RunTextEditor(insert.owner(), TextEditorMode::CannedText, &text, canned), IDOK);
  EXPECT_EQ(text, std::u16string(997, u'y') + u"ab");
}

TEST_F(TextEditorTest, SaveAsCannedTextAppendsRefusesDuplicatesAndReportsFailures) {
  ASSERT_TRUE(SaveCannedTexts(canned, {u"first"}));
  std::u16string text = u"second";
  KeyScript script;
  std::string duplicate;
  script.Command(ids::kCmdSaveCanned);
  script.Command(ids::kCmdSaveCanned);
  script.Describe(&duplicate);
  script.Key("Enter");
  script.Key("SoftLeft");
  script.Start();
  ASSERT_EQ(RunTextEditor(script.owner(), TextEditorMode::CannedText, &text, canned), IDOK);
  EXPECT_TRUE(Has(duplicate, "This text is already in the list.")) << duplicate;
  std::vector<std::u16string> texts;
  ASSERT_TRUE(LoadCannedTexts(canned, &texts));
  EXPECT_EQ(texts, (std::vector<std::u16string>{u"first", u"second"}));

  // A file that cannot be written, and a foreign file that must not be replaced.
  for (const std::u16string& path :
       {platform::JoinPath(platform::DeviceRoot(), u"missing/CannedText.txt"), std::u16string(canned)}) {
    if (path == canned) {
      ASSERT_TRUE(platform::WriteFile(canned, "not canned texts"));
    }
    KeyScript failing;
    std::string screen;
    failing.Command(ids::kCmdSaveCanned);
    failing.Describe(&screen);
    failing.Key("Enter");
    failing.Key("SoftLeft");
    failing.Start();
    ASSERT_EQ(RunTextEditor(failing.owner(), TextEditorMode::CannedText, &text, path), IDOK);
    EXPECT_TRUE(Has(screen, "This could not be done.")) << screen;
  }
  std::string bytes;
  ASSERT_TRUE(platform::ReadFile(canned, bytes));
  EXPECT_EQ(bytes, "not canned texts");
}

TEST_F(TextEditorTest, PlainModeRefusesEmptyTextsAndAsksItsOwner) {
  SetCannedTextPicker([](HWND, std::uint32_t*) -> std::optional<std::u16string> { return u"See you"; });
  std::u16string text;
  KeyScript script;
  int asked = 0;
  LPARAM wasNew = -1;
  script.Answer(ids::kMsgConfirmCanned, [&](WPARAM, LPARAM lParam) -> LRESULT {
    wasNew = lParam;
    return ++asked >= 2 ? 1 : 0;  // refused once, then accepted
  });
  std::string empty, first;
  script.Command(ids::kCmdConfirm);
  script.Describe(&empty);
  script.Key("Enter");
  script.Command(ids::kCmdInsertCanned);
  script.Key("SoftLeft");
  script.Describe(&first);
  script.Key("SoftLeft");
  script.Start();
  ASSERT_EQ(RunTextEditor(script.owner(), TextEditorMode::Plain, &text, canned), IDOK);
  EXPECT_TRUE(Has(empty, "This could not be done.")) << empty;
  EXPECT_TRUE(Has(first, "Save")) << first;  // the confirm key's label in plain mode
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(wasNew, 1);
  EXPECT_EQ(text, u"See you");
}

TEST_F(TextEditorTest, ReadOnlyModeShowsTheTitleAndBackCloses) {
  std::u16string text = u"Read me";
  KeyScript script;
  std::string screen;
  script.Describe(&screen);
  script.Key("Back");
  script.Start();
  EXPECT_EQ(RunTextEditor(script.owner(), TextEditorMode::ReadOnly, &text, canned), IDCANCEL);
  EXPECT_EQ(text, u"Read me");
  EXPECT_TRUE(Has(screen, "Canned texts")) << screen;
}

}  // namespace
}  // namespace texteditor
