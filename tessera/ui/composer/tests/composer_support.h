#pragma once
// A composer on the headless screen over a fresh store, with the real resource library; the
// media picker and the sound recorder hand out files the test queued.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "../../texteditor/tests/key_script.h"
#include "composer/composer_frame.h"
#include "composer/composer_ids.h"
#include "imaging/image.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/menubar.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "store/message_store.h"
#include "texteditor/text_editor.h"
#include "ui/common/app_context.h"

namespace composer {

inline std::string WavBytes(std::uint32_t dataBytes) {
  std::string s = "RIFF";
  auto le32 = [&s](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto le16 = [&s](std::uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
  };
  le32(36 + dataBytes);
  s += "WAVEfmt ";
  le32(16);
  le16(1);
  le16(1);
  le32(8000);
  le32(16000);
  le16(2);
  le16(16);
  s += "data";
  le32(dataBytes);
  for (std::uint32_t i = 0; i < dataBytes; ++i) s.push_back(static_cast<char>((i * 37) & 0xFF));
  return s;
}

class ComposerTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::testdriver::Enable();
    platform::RegisterControlClasses();
    ASSERT_TRUE(resources.Load(platform::Utf8ToUtf16(std::string(TESSERA_BINARY_DIR) + "/bin/Wren.dll")));
    ui::Context().resources = &resources;
    ASSERT_TRUE(store.Open(platform::JoinPath(platform::DeviceRoot(), u"store/")));
    media = platform::JoinPath(platform::DeviceRoot(), u"media/");
    ASSERT_TRUE(platform::CreateDirectories(media));
    host.store = &store;
    host.leave = [this](int view, int folder) { left.push_back({view, folder}); };
    host.sendFromDrafts = [this](std::uint32_t id) {
      sentIds.push_back(id);
      return store.Move(id, store::FolderId::Draft, store::FolderId::Outbox);
    };
    host.preview = [this](HWND, store::MessageEntry*) { ++previews; };
    host.sendPage = [this](HWND, store::MessageEntry*, bool* changed, bool direct) {
      pageCalls.push_back(direct);
      *changed = false;
      return pageResult;
    };
    host.picker = [this](HWND, std::uint32_t* mask) -> std::optional<std::u16string> {
      masks.push_back(*mask);
      if (picks.empty()) return std::nullopt;
      std::optional<std::u16string> next = picks.front();
      picks.pop_front();
      return next;
    };
    host.recorder = [this](HWND, const std::u16string& folder) -> std::optional<std::u16string> {
      recordFolder = folder;
      return recording;
    };
    host.cannedTextsFile = platform::JoinPath(platform::DeviceRoot(), u"CannedText.txt");
    texteditor::SetCannedTextPicker(
        [this](HWND, std::uint32_t*) -> std::optional<std::u16string> { return cannedText; });
  }
  void TearDown() override {
    texteditor::SetCannedTextPicker(nullptr);
    if (ComposerFrame* frame = ComposerFrame::Current(); frame && frame->Handle()) DestroyWindow(frame->Handle());
    ui::Context().resources = nullptr;
  }

  /// A picture of w x h in the media folder.
  std::u16string Picture(const std::u16string& name, int w = 64, int h = 48) {
    auto dib = imaging::PackedDib::Create(w, h, 24);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 3; ++x) dib->TopRow(y)[x] = static_cast<std::uint8_t>((x + y) & 0xFF);
    const std::u16string path = media + name;
    EXPECT_EQ(imaging::SaveImage(*dib, path, imaging::kTypeByExtension), 1);
    return path;
  }
  std::u16string File(const std::u16string& name, const std::string& bytes) {
    const std::u16string path = media + name;
    EXPECT_TRUE(platform::WriteFile(path, bytes));
    return path;
  }

  /// A new Drafts message, empty or with slides of (picture, text) made through a document.
  std::uint32_t Draft(const std::vector<std::pair<std::u16string, std::u16string>>& slides = {}) {
    auto entry = store.NewEntry();
    entry->Summary().SetMessageType(store::kTypeMultimedia);
    if (!slides.empty()) {
      presentation::MessageDocument* doc = entry->NewDocument();
      doc->SetPartsDirectory(entry->PartsDirectory());
      doc->SetDefaultLayout();
      for (std::size_t i = 0; i < slides.size(); ++i) {
        doc->InsertSlide(static_cast<int>(i));
        if (!slides[i].first.empty()) doc->AddMediaFile(static_cast<int>(i), slides[i].first);
        if (!slides[i].second.empty()) {
          std::string bytes("\xFF\xFE", 2);
          for (char16_t c : slides[i].second) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
          }
          doc->AddMediaFile(static_cast<int>(i), File(u"t" + platform::Utf8ToUtf16(std::to_string(i)) + u".txt", bytes));
        }
      }
      EXPECT_TRUE(entry->SaveDocument());
      entry->DropDocument();
    }
    const std::uint32_t id = entry->Id();
    EXPECT_TRUE(store.Folder(store::FolderId::Draft)->Add(std::move(entry)));
    EXPECT_TRUE(store.Folder(store::FolderId::Draft)->Save());
    return id;
  }

  ComposerFrame* Open(std::uint32_t id, int mode = ids::kModeEdit, int previous = 7) {
    EXPECT_TRUE(OpenComposer(owner.owner(), host, id, mode, previous));
    return ComposerFrame::Current();
  }

  /// Runs the script's steps in the message loop, then returns.
  void Run() {
    script.Then([] { PostQuitMessage(0); });
    script.Start();
    MSG msg;
    while (GetMessage(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }

  static bool Has(const std::string& screen, const std::string& text) {
    return screen.find(text) != std::string::npos;
  }

  platform_testing::ScopedDeviceRoot root;
  ui::ResourceLibrary resources;
  store::MessageStore store;
  std::u16string media;
  ComposerHost host;
  uitest::KeyScript owner;
  uitest::KeyScript& script = owner;
  std::deque<std::optional<std::u16string>> picks;
  std::vector<std::uint32_t> masks;
  std::optional<std::u16string> recording;
  std::u16string recordFolder;
  std::optional<std::u16string> cannedText;
  std::vector<std::pair<int, int>> left;
  std::vector<std::uint32_t> sentIds;
  std::vector<bool> pageCalls;
  int pageResult = 0;
  int previews = 0;
};

}  // namespace composer
