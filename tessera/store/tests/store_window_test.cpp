// The store window: the compose request record, WM_COPYDATA, the start-up pass and close.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/window.h"
#include "store/store_window.h"
#include "store_test_util.h"

namespace store {
namespace {

// Records every job the store hands over.
class RecordingSink : public TransferSink {
 public:
  bool Queue(MessageEntry* entry, int kind, bool keepState) override {
    queued.push_back({entry->Id(), kind, keepState});
    return true;
  }
  void Withdraw(std::uint32_t id) override { withdrawn.push_back(id); }
  bool Busy() const override { return busy; }
  struct Job {
    std::uint32_t id;
    int kind;
    bool keepState;
  };
  std::vector<Job> queued;
  std::vector<std::uint32_t> withdrawn;
  bool busy = false;
};

MessageStore* g_store = nullptr;

LRESULT StoreProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_store && HandleStoreMessage(*g_store, hwnd, message, wParam, lParam, &result)) return result;
  return DefWindowProc(hwnd, message, wParam, lParam);
}

class StoreWindowTest : public StoreTest {
 protected:
  void SetUp() override {
    WNDCLASS wc{};
    wc.lpfnWndProc = &StoreProc;
    wc.lpszClassName = u"StoreWindowTest";
    RegisterClass(&wc);
    window_ = CreateWindowEx(0, u"StoreWindowTest", u"", WS_POPUP, 0, 0, 176, 180, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    g_store = nullptr;
    DestroyWindow(window_);
  }
  // Runs what is queued for this thread.
  static void Pump() {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  }
  HWND window_ = nullptr;
};

TEST(ImportRecord, LayoutAndBounds) {
  ComposeRequest request;
  request.useAlphaTag = true;
  request.recipients = u"+491";
  request.moreRecipients = u"+492";
  request.image = u"/a/pic.jpg";
  request.audio = u"/a/snd.amr";
  request.video = u"/a/clip.3gp";
  request.text = u"/a/note.txt";
  std::string bytes = EncodeImportRecord(request);
  ASSERT_EQ(bytes.size(), 3124u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes.substr(4, 10), std::string("+\0004\0009\0001\0\0\0", 10));
  EXPECT_EQ(bytes.substr(524, 2), std::string("+\0", 2));
  EXPECT_EQ(bytes.substr(1044, 2), std::string("/\0", 2));
  EXPECT_EQ(bytes.substr(2084 + 2 * 8, 4), std::string("3\0g\0", 4));
  EXPECT_EQ(bytes.substr(2604 + 2 * 3, 2), std::string("n\0", 2));

  ComposeRequest back;
  ASSERT_TRUE(DecodeImportRecord(bytes.data(), bytes.size(), &back));
  EXPECT_TRUE(back.useAlphaTag);
  EXPECT_EQ(back.recipients, u"+491");
  EXPECT_EQ(back.moreRecipients, u"+492");
  EXPECT_EQ(back.image, u"/a/pic.jpg");
  EXPECT_EQ(back.audio, u"/a/snd.amr");
  EXPECT_EQ(back.video, u"/a/clip.3gp");
  EXPECT_EQ(back.text, u"/a/note.txt");

  // A short block is refused rather than read past its end.
  EXPECT_FALSE(DecodeImportRecord(bytes.data(), 3123, &back));
  EXPECT_FALSE(DecodeImportRecord(nullptr, 3124, &back));

  // A field filled to its last byte without a NUL ends at the field's end.
  std::string full(3124, '\0');
  for (std::size_t i = 4; i < 524; i += 2) full[i] = 'x';
  ASSERT_TRUE(DecodeImportRecord(full.data(), full.size(), &back));
  EXPECT_EQ(back.recipients.size(), 260u);
  EXPECT_TRUE(back.moreRecipients.empty());
  EXPECT_FALSE(back.useAlphaTag);

  // Over-long texts are cut so the terminator still fits.
  request.recipients = std::u16string(400, u'7');
  bytes = EncodeImportRecord(request);
  ASSERT_TRUE(DecodeImportRecord(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.recipients, std::u16string(259, u'7'));
}

TEST_F(StoreWindowTest, CopyDataComposesADraft) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  g_store = &store;
  const std::u16string text = Root() + u"note.txt";
  std::ofstream(platform::NativePath(text)) << "hello";
  ComposeRequest request;
  request.recipients = u"+491;";
  request.moreRecipients = u"+492";
  request.text = text;
  request.image = Root() + u"missing.jpg";
  std::string bytes = EncodeImportRecord(request);
  COPYDATASTRUCT copy{0, static_cast<DWORD>(bytes.size()), bytes.data()};
  auto id = static_cast<std::uint32_t>(SendMessage(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)));
  ASSERT_NE(id, 0u);
  MessageSummary summary(nullptr);
  ASSERT_TRUE(store.Folder(FolderId::Draft)->CopySummary(id, summary));
  EXPECT_EQ(summary.To(), u"+491;+492");
  EXPECT_EQ(summary.StateFlags(), 0x10002u);
  EXPECT_TRUE(platform::FileExists(Root() + platform::Utf8ToUtf16(std::to_string(id)) + u".DAT"));

  // Another data identifier, no data or a short block change nothing.
  const int before = store.Folder(FolderId::Draft)->Count();
  COPYDATASTRUCT other{47000, static_cast<DWORD>(bytes.size()), bytes.data()};
  EXPECT_EQ(SendMessage(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other)), 0);
  COPYDATASTRUCT empty{0, 0, nullptr};
  EXPECT_EQ(SendMessage(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty)), 0);
  COPYDATASTRUCT shortBlock{0, 100, bytes.data()};
  EXPECT_EQ(SendMessage(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&shortBlock)), 0);
  EXPECT_EQ(store.Folder(FolderId::Draft)->Count(), before);
}

TEST_F(StoreWindowTest, OpenPostsTheStartUpPassAndCloseWaitsForTheEngine) {
  {
    MessageStore first;
    ASSERT_TRUE(first.Open(Root()));
    auto entry = MakeEntry(first, kStateInProgress | kStateUnread, u"interrupted");
    ASSERT_TRUE(first.Folder(FolderId::Outbox)->Add(std::move(entry)));
    ASSERT_TRUE(first.Folder(FolderId::Outbox)->Save());
  }
  MessageStore store;
  RecordingSink sink;
  store.SetTransferSink(&sink);
  store.SetFrameWindow(window_);
  g_store = &store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_TRUE(sink.queued.empty());  // the pass runs from the message loop
  Pump();
  ASSERT_EQ(sink.queued.size(), 1u);
  EXPECT_EQ(sink.queued[0].kind, kJobSend);

  // Deleting a message withdraws its job from the engine at once.
  const std::uint32_t id = sink.queued[0].id;
  ASSERT_TRUE(store.Delete(FolderId::Outbox, id));
  ASSERT_EQ(sink.withdrawn.size(), 1u);
  EXPECT_EQ(sink.withdrawn[0], id);
  Pump();  // the navigation request to the frame

  sink.busy = true;
  SendMessage(window_, WM_CLOSE, 0, 0);
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
  sink.busy = false;
  SendMessage(window_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  Pump();
}

}  // namespace
}  // namespace store
