// The program's shell, driven as a user drives it: headless, on the virtual clock, against
// the real "Wren.dll" and a fresh device root.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "platform_testing/dialog_script.h"
#include "store/message_store.h"
#include "store/store_window.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/driver.h"
#include "ui/shell/main_frame.h"
#include "ui/shell/placeholder_screen.h"
#include "ui/shell/shell_dialogs.h"

namespace {

using ui::Application;
using ui::MainFrame;

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_DISPLAY", "headless", 1);
    setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);  // these tests get no pushes
    platform::testdriver::Enable();
    ASSERT_TRUE(app.Start(nullptr, u"", SW_SHOW));
    frame = app.Frame();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(driver.Open());
  }
  void TearDown() override {
    app.Shutdown();
    platform::testdriver::RunUntilIdle();
  }

  /// Presses `keys` (through the message loop, so modal dialogs get them), then optionally
  /// moves the clock by `advanceMs` and returns the screen description.
  /// Queues steps that all run inside one pass of the message loop (a modal dialog stays up
  /// between them); Go() runs them.
  void Keys(const std::string& keys) {
    driver.Submit("keys " + keys, [](bool ok, std::string out) { EXPECT_TRUE(ok) << out; });
  }
  void Advance(long ms) { driver.Submit("advance " + std::to_string(ms), [](bool, std::string) {}); }
  void Check(std::function<void(const std::string&)> check) {
    driver.Submit("describe", [check = std::move(check)](bool, std::string out) { check(out); });
  }
  void Go() {
    driver.Submit("wait-idle", [](bool, std::string) {
      // Leaves any modal dialog the steps left up, then the loop.
      HWND top = GetForegroundWindow();
      WCHAR name[32] = {};
      if (top && GetClassName(top, name, 32) > 0 && std::u16string(name) == WC_DIALOG) EndDialog(top, IDCANCEL);
      PostQuitMessage(0);
    });
    app.Run();
  }

  std::string Drive(const std::string& keys, long advanceMs = 0) {
    std::string description;
    driver.Submit(keys.empty() ? "wait-idle" : "keys " + keys, [](bool ok, std::string out) { EXPECT_TRUE(ok) << out; });
    if (advanceMs > 0) driver.Submit("advance " + std::to_string(advanceMs), [](bool, std::string) {});
    driver.Submit("describe", [&](bool, std::string out) { description = std::move(out); });
    driver.Submit("wait-idle", [](bool, std::string) { PostQuitMessage(0); });
    app.Run();
    return description;
  }

  /// Adds a message to `folder` directly through the store.
  std::uint32_t AddMessage(store::FolderId folder, bool unread, std::u16string from = u"",
                           std::u16string to = u"", std::u16string subject = u"") {
    store::MessageStore& s = frame->Store();
    auto entry = s.NewEntry();
    EXPECT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
    entry->Summary().SetStateFlags(store::kStateComplete | (unread ? store::kStateUnread : store::kStateRead));
    entry->Summary().SetFrom(std::move(from));
    entry->Summary().SetTo(std::move(to));
    entry->Summary().SetSubject(std::move(subject));
    const std::uint32_t id = entry->Id();
    EXPECT_TRUE(s.Folder(folder)->Add(std::move(entry)));
    EXPECT_TRUE(s.Folder(folder)->Save());
    return id;
  }

  /// Adds a message with a real body (one text slide) to `folder`.
  std::uint32_t AddComposed(store::FolderId folder, std::u16string from, std::u16string to, std::u16string subject) {
    const std::u16string textFile = platform::Utf8ToUtf16(root.path() + "/body.txt");
    EXPECT_TRUE(platform::WriteFile(textFile, "Body text"));
    store::ComposeRequest request;
    request.text = textFile;
    request.recipients = to;
    request.subject = subject;
    store::MessageStore& s = frame->Store();
    const std::uint32_t id = s.NewComposedMessage(request, 176, 180);
    EXPECT_NE(id, 0u);
    if (folder != store::FolderId::Draft) {
      EXPECT_TRUE(s.Move(id, store::FolderId::Draft, folder));
    }
    store::MessageFolder* f = s.Folder(folder);
    if (store::MessageEntry* entry = f->CheckOut(id)) {
      entry->Summary().SetFrom(std::move(from));
      entry->Summary().SetTo(std::move(to));
      f->Release(entry);
      f->Save();
    }
    return id;
  }

  int Count(store::FolderId folder) { return frame->Store().Folder(folder)->Count(); }

  bool Summary(store::FolderId folder, std::uint32_t id, store::MessageSummary* out) {
    return frame->Store().Folder(folder)->CopySummary(id, *out);
  }

  platform_testing::ScopedDeviceRoot root;
  Application app;
  MainFrame* frame = nullptr;
  ui::Driver driver;
};

TEST_F(ShellTest, MainListShowsSixRowsWithUnreadCountsOnTheCountedFolders) {
  AddMessage(store::FolderId::Inbox, true);
  AddMessage(store::FolderId::Inbox, true);
  AddMessage(store::FolderId::Inbox, false);
  AddMessage(store::FolderId::Outbox, true);
  AddMessage(store::FolderId::Sent, true);  // Sent has no counter
  for (int folder : {0, 1, 2, 3, 7, -1}) SendMessage(frame->Handle(), ui::kMsgFolderLabel, static_cast<WPARAM>(folder), 0);
  const std::string screen = Drive("");
  // Rows in the list view's format: a reader counts and finds them as on every list screen.
  EXPECT_NE(screen.find("listview count=6 sel=1 "), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 0 \"1 New message\" image="), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 1 \"2 Inbox(2)\" image="), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 2 \"3 Drafts\""), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 3 \"4 Outbox(1)\""), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 4 \"5 Sent\""), std::string::npos) << screen;
  EXPECT_NE(screen.find("row 5 \"6 Settings\""), std::string::npos) << screen;
  const std::size_t inbox = screen.find("row 1 ");
  EXPECT_NE(screen.find("selected focused visible\n", inbox), std::string::npos) << screen;
  EXPECT_LT(screen.find("selected", inbox), screen.find("row 2 ")) << screen;
  EXPECT_EQ(MainFrame::FolderLabel(u"Inbox", 0), u"Inbox");
  EXPECT_EQ(MainFrame::FolderLabel(u"Inbox", -3), u"Inbox");
  EXPECT_EQ(MainFrame::FolderLabel(u"Inbox", 12), u"Inbox(12)");
}

// Each row shows its own icon 15 pixels in and 3 down, on the plain and the selected row alike.
TEST_F(ShellTest, EveryRowShowsItsIconBesideTheKeyNumber) {
  Drive("");
  RECT list{};
  ASSERT_TRUE(GetWindowRect(frame->List().Handle(), &list));
  const int rowHeight = std::max<int>(1, (list.bottom - list.top) / 8);
  const ui::ResourceLibrary* library = ui::Context().resources;
  ASSERT_NE(library, nullptr);
  for (int row = 0; row < 6; ++row) {
    platform::ResourceImage icon;
    ASSERT_TRUE(library->LoadIcon(static_cast<UINT>(ui::kMainRows[row].icon), &icon)) << row;
    int opaque = 0, matching = 0;
    for (int y = 0; y < icon.height; ++y)
      for (int x = 0; x < icon.width; ++x) {
        const std::uint32_t want = icon.pixels[static_cast<std::size_t>(y) * icon.width + x];
        // Only opaque pixels that stand out from the white or highlighted row count.
        if ((want >> 24) != 0xFF || (want & 0xFFFFFF) == 0xFFFFFF) continue;
        ++opaque;
        const std::uint32_t got =
            platform::testdriver::ScreenPixel(list.left + 15 + x, list.top + row * rowHeight + 3 + y);
        bool close = true;
        for (int shift : {0, 8, 16})
          close = close && std::abs(static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((got >> shift) & 0xFF)) <= 8;
        matching += close ? 1 : 0;
      }
    ASSERT_GT(opaque, 0) << row;
    // The key number may overlap the icon's left edge.
    EXPECT_GE(matching * 10, opaque * 9) << "row " << row << ": " << matching << " of " << opaque;
  }
}

// The background picture fills the list behind its rows; a missing or broken file gives none.
TEST_F(ShellTest, BackgroundPictureFillsTheListBehindItsRowsAndBadFilesGiveNone) {
  const std::u16string programDirectory = ui::Context().programDirectory;
  EXPECT_EQ(app.Background() != nullptr, platform::FileExists(programDirectory + u"mmsbkimg.jpg"));
  EXPECT_EQ(Application::LoadBackground(programDirectory + u"no-such-picture.jpg"), nullptr);
  const std::u16string broken = platform::Utf8ToUtf16(root.path() + "/broken-background.jpg");
  ASSERT_TRUE(platform::WriteFile(broken, "\xFF\xD8\xFF\xE0 not a picture"));
  EXPECT_EQ(Application::LoadBackground(broken), nullptr);
  platform::DeleteFile(broken);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, 4, 4);
  HGDIOBJ old = SelectObject(memory, picture);
  RECT all{0, 0, 4, 4};
  HBRUSH brush = CreateSolidBrush(RGB(0x20, 0x80, 0xF0));
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  frame->List().SetBackground(picture);
  frame->List().Refresh();
  Drive("");
  RECT list{};
  ASSERT_TRUE(GetWindowRect(frame->List().Handle(), &list));
  // Below the sixth row, and in the gap between an unselected row's texts.
  const std::uint32_t below = platform::testdriver::ScreenPixel(list.left + 5, list.bottom - 5);
  EXPECT_NEAR(static_cast<int>(below >> 16), 0x20, 8);
  EXPECT_NEAR(static_cast<int>((below >> 8) & 0xFF), 0x80, 8);
  EXPECT_NEAR(static_cast<int>(below & 0xFF), 0xF0, 8);
  frame->List().SetBackground(nullptr);
  frame->List().Refresh();
  Drive("");
  EXPECT_EQ(platform::testdriver::ScreenPixel(list.left + 5, list.bottom - 5), 0xFFFFFFu);
  DeleteObject(picture);
}

TEST_F(ShellTest, ArrowsWrapAtBothEndsAndDigitsChooseTheirRow) {
  EXPECT_EQ(frame->List().Selected(), 1);
  Drive("Up Up");
  EXPECT_EQ(frame->List().Selected(), 5);  // wrapped from the first row to the last
  Drive("Down");
  EXPECT_EQ(frame->List().Selected(), 0);  // and back from the last to the first
  const std::string screen = Drive("4");   // row 3, Outbox, acts at once
  EXPECT_EQ(frame->List().Selected(), 3);
  EXPECT_EQ(frame->ViewState(), ui::kViewFolder);
  EXPECT_NE(screen.find("foreground class=Corvane_WndCls_MsgBoxFrame title=\"Outbox\""), std::string::npos) << screen;
  Drive("Back");
  Drive("9");  // no ninth row: nothing happens
  EXPECT_EQ(frame->List().Selected(), 3);
  EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
}

TEST_F(ShellTest, ANewMessageOpensTheComposerAndLeavingItUnchangedReturnsToTheMainList) {
  const std::string screen = Drive("Up Enter");
  EXPECT_NE(screen.find("foreground class=Rir_WndCls_ComposerFrame title=\"Slide (1/1)\""), std::string::npos)
      << screen;
  const std::string back = Drive("Back");
  EXPECT_NE(back.find("foreground class=RIR_WndCls_MainFrme"), std::string::npos) << back;
  EXPECT_NE(back.find("focus class=TesseraListControl id=2003"), std::string::npos) << back;
  EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
}

TEST_F(ShellTest, ANewMessageThatCannotBeStoredSaysWhyAndStaysOnTheMainList) {
  const int drafts = Count(store::FolderId::Draft);
  struct Case {
    int error;
    const char* text;
  } cases[] = {{ENOSPC, "There is not enough storage space."}, {EIO, "This could not be done."}};
  for (const Case& c : cases) {
    store::test_hooks::SetFailError(c.error);
    store::test_hooks::SetFailAfter(1);
    std::string screen, back;
    Keys("Up Enter");
    Check([&](const std::string& out) { screen = out; });
    Keys("SoftLeft");
    Check([&](const std::string& out) { back = out; });
    Go();
    store::test_hooks::SetFailAfter(0);
    EXPECT_NE(screen.find(c.text), std::string::npos) << screen;
    EXPECT_NE(back.find("foreground class=RIR_WndCls_MainFrme"), std::string::npos) << back;
    EXPECT_NE(frame->ViewState(), ui::kViewComposer);
    EXPECT_EQ(Count(store::FolderId::Draft), drafts);
    Drive("Down");
  }
  store::test_hooks::SetFailError(0);
}

TEST_F(ShellTest, SettingsOpenFromTheMainListAndBackReturnsToIt) {
  Keys("6");
  Check([&](const std::string& screen) {
    EXPECT_NE(screen.find("foreground class=Dialog"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Sending tries"), std::string::npos) << screen;
    EXPECT_TRUE(frame->Busy());
  });
  Keys("Back");
  Check([&](const std::string& screen) {
    EXPECT_NE(screen.find("foreground class=RIR_WndCls_MainFrme"), std::string::npos) << screen;
    EXPECT_NE(screen.find("focus class=TesseraListControl id=2003"), std::string::npos) << screen;
    EXPECT_FALSE(frame->Busy());
    EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
  });
  Go();
}

/// Opens a message from inside the message loop, as the folder view does; the viewer's own
/// loop then runs the driver's later steps.
class Opener {
 public:
  explicit Opener(MainFrame* frame) : frame_(frame) {
    static const bool registered = [] {
      WNDCLASS wc{};
      wc.lpfnWndProc = &Opener::Proc;
      wc.lpszClassName = u"ShellTestOpener";
      return RegisterClass(&wc) != 0;
    }();
    (void)registered;
    hwnd_ = CreateWindowEx(0, u"ShellTestOpener", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetWindowLong(hwnd_, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Opener() { DestroyWindow(hwnd_); }
  void Open(std::uint32_t id) { PostMessage(hwnd_, kOpen, id, 0); }
  bool opened = false;

 private:
  static constexpr UINT kOpen = WM_USER + 41;
  static LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<Opener*>(GetWindowLong(h, GWL_USERDATA));
    if (!self || m != kOpen) return DefWindowProc(h, m, w, l);
    self->opened = self->frame_->SwitchView(ui::kViewComposer, static_cast<std::uintptr_t>(w));
    return 0;
  }
  MainFrame* frame_;
  HWND hwnd_ = nullptr;
};

TEST_F(ShellTest, ReceivedAndSentMessagesPlayInTheViewerAndBackReturnsToTheMainList) {
  const std::u16string textFile = platform::Utf8ToUtf16(root.path() + "/note.txt");
  ASSERT_TRUE(platform::WriteFile(textFile, "Hello from the viewer"));
  store::ComposeRequest request;
  request.text = textFile;
  request.recipients = u"+15550102";
  request.subject = u"Note";
  for (store::FolderId folder : {store::FolderId::Inbox, store::FolderId::Sent}) {
    SCOPED_TRACE(static_cast<int>(folder));
    const std::uint32_t id = frame->Store().NewComposedMessage(request, 176, 180);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(frame->Store().Move(id, store::FolderId::Draft, folder));
    Opener opener(frame);
    opener.Open(id);
    Check([&](const std::string& screen) {
      EXPECT_NE(screen.find("foreground class=Dialog"), std::string::npos) << screen;
      EXPECT_NE(screen.find("slide 1/1"), std::string::npos) << screen;
      EXPECT_EQ(frame->ViewState(), ui::kViewComposer);
    });
    Keys("Back");
    Check([&](const std::string& screen) {
      EXPECT_NE(screen.find("foreground class=RIR_WndCls_MainFrme"), std::string::npos) << screen;
      EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
    });
    Go();
    EXPECT_TRUE(opener.opened);
    // The entry was handed back: it can be checked out again.
    store::MessageFolder* f = frame->Store().Folder(folder);
    store::MessageEntry* entry = f->CheckOut(id);
    EXPECT_NE(entry, nullptr);
    if (entry) {
      EXPECT_TRUE(f->Release(entry));
    }
  }
}

TEST_F(ShellTest, AboutBoxShowsTheVersionAndReturnsToTheMainList) {
  Keys("SoftRight");
  Check([&](const std::string& screen) {
    EXPECT_NE(screen.find("foreground class=Dialog title=\"About\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("text=\"Version " + platform::Utf16ToUtf8(ui::AboutDialog::VersionText()) + "\""),
              std::string::npos)
        << screen;
    EXPECT_TRUE(frame->Busy());
  });
  Keys("SoftLeft");
  Check([&](const std::string& screen) {
    EXPECT_NE(screen.find("foreground class=RIR_WndCls_MainFrme"), std::string::npos) << screen;
    EXPECT_FALSE(frame->Busy());
    EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
  });
  Go();
}

TEST_F(ShellTest, NoticeStaysForTheConfiguredTimeOnTheVirtualClock) {
  ASSERT_TRUE(config::reg::SetDword(HKEY_LOCAL_MACHINE, config::kMiscKey, u"NotificationDisplayTime", 2, false));
  PostMessage(frame->Handle(), store::kMsgNotificationStored, 0, 0);
  Check([&](const std::string& screen) {
    EXPECT_NE(screen.find("You have a new multimedia message."), std::string::npos) << screen;
    EXPECT_TRUE(frame->NoticeShowing());
  });
  Advance(2000);  // 2000 ms counted: not more than the two seconds yet
  Check([&](const std::string& screen) { EXPECT_TRUE(frame->NoticeShowing()) << screen; });
  Advance(500);
  Check([&](const std::string& screen) {
    EXPECT_FALSE(frame->NoticeShowing()) << screen;
    EXPECT_EQ(screen.find("You have a new multimedia message."), std::string::npos) << screen;
  });
  Go();
}

TEST_F(ShellTest, NoticeCanBeDismissedBeforeItsTime) {
  PostMessage(frame->Handle(), store::kMsgNotificationStored, 0, 0);
  Check([&](const std::string&) { EXPECT_TRUE(frame->NoticeShowing()); });
  Keys("SoftLeft");
  Check([&](const std::string& screen) { EXPECT_FALSE(frame->NoticeShowing()) << screen; });
  Go();
}

TEST_F(ShellTest, NavigationCodesMakeTheirDraftsAndOpenThem) {
  const std::uint32_t inboxId = AddComposed(store::FolderId::Inbox, u"+15550100", u"a@x;b@y", u"Hi");
  const int drafts = Count(store::FolderId::Draft);
  struct Case {
    WPARAM code;
    const char16_t* to;
    const char16_t* subject;
  } cases[] = {
      {ui::kNavReply, u"+15550100", u"Re: Hi"},
      {ui::kNavReplyAll, u"+15550100;a@x;b@y;", u"Re: Hi"},
      {ui::kNavForward, u"", u"Fw: Hi"},
  };
  int made = 0;
  for (const Case& c : cases) {
    const auto id = static_cast<std::uint32_t>(SendMessage(frame->Handle(), ui::kMsgNavigate, c.code, inboxId));
    ASSERT_NE(id, 0u) << c.code;
    store::MessageSummary summary(nullptr);
    ASSERT_TRUE(Summary(store::FolderId::Draft, id, &summary)) << c.code;
    EXPECT_EQ(summary.To(), c.to) << c.code;
    EXPECT_EQ(summary.Subject(), c.subject) << c.code;
    EXPECT_EQ(frame->ViewState(), ui::kViewComposer);
    EXPECT_EQ(Count(store::FolderId::Draft), drafts + ++made);
    Drive("Back");
  }
  // The message replied to stays where it was.
  store::MessageSummary original(nullptr);
  EXPECT_TRUE(Summary(store::FolderId::Inbox, inboxId, &original));
  // A new message is an empty draft; an unknown message ID makes nothing.
  EXPECT_NE(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavNew, 0), 0);
  EXPECT_EQ(Count(store::FolderId::Draft), drafts + made + 1);
  Drive("Back");
  EXPECT_EQ(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavReply, 987654), 0);
  EXPECT_EQ(SendMessage(frame->Handle(), ui::kMsgNavigate, 11, inboxId), 0);
  EXPECT_EQ(Count(store::FolderId::Draft), drafts + made + 1);
}

TEST_F(ShellTest, TheSendPageSendsADraftThroughTheOutboxQueue) {
  const std::uint32_t id = AddMessage(store::FolderId::Draft, false, u"", u"+15550101", u"Hi");
  platform_testing::DialogScript script;
  std::string page;
  script.Describe(&page);
  script.Key("SoftLeft");  // Send
  script.Start();
  bool left = false;
  ASSERT_TRUE(ui::RunSendPage(frame->Handle(), id, [&] { left = true; }));
  EXPECT_TRUE(left);
  EXPECT_TRUE(script.done());
  EXPECT_NE(page.find("+15550101;"), std::string::npos) << page;
  EXPECT_EQ(Count(store::FolderId::Draft), 0);
  store::MessageSummary summary(nullptr);
  ASSERT_TRUE(Summary(store::FolderId::Outbox, id, &summary));
  EXPECT_EQ(summary.To(), u"+15550101;");
  // Handed to the transfer queue as navigation code 5 does: no longer merely composed.
  EXPECT_NE(summary.StateFlags() & 0xFFFF0000u, store::kStateComplete);
  EXPECT_FALSE(ui::RunSendPage(frame->Handle(), 999999, nullptr));  // no such message
}

TEST_F(ShellTest, EditMovesAnOutboxMessageToDraftsAndCopiesAnInboxOne) {
  const std::uint32_t outboxId = AddComposed(store::FolderId::Outbox, u"", u"+15550101", u"Out");
  const std::uint32_t inboxId = AddComposed(store::FolderId::Inbox, u"+15550101", u"", u"In");
  EXPECT_EQ(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavEdit, outboxId), static_cast<LRESULT>(outboxId));
  store::MessageSummary summary(nullptr);
  EXPECT_FALSE(Summary(store::FolderId::Outbox, outboxId, &summary));
  EXPECT_TRUE(Summary(store::FolderId::Draft, outboxId, &summary));
  Drive("Back");
  const auto copy = static_cast<std::uint32_t>(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavEdit, inboxId));
  EXPECT_NE(copy, inboxId);
  EXPECT_TRUE(Summary(store::FolderId::Inbox, inboxId, &summary));
  // Opening is for drafts only.
  Drive("Back");
  EXPECT_EQ(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavOpenDraft, inboxId), 0);
  EXPECT_EQ(SendMessage(frame->Handle(), ui::kMsgNavigate, ui::kNavOpenDraft, outboxId), static_cast<LRESULT>(outboxId));
  EXPECT_EQ(frame->ViewState(), ui::kViewComposer);
}

TEST_F(ShellTest, TitlesOfFifteenCharactersOrMoreAreCut) {
  EXPECT_EQ(Application::CutTitle(u"12345678901234"), u"12345678901234");
  EXPECT_EQ(Application::CutTitle(u"123456789012345"), u"12345678901234...");
  EXPECT_EQ(Application::CutTitle(u""), u"");
  Application::SetTitle(frame->Handle(), u"A rather long window title");
  WCHAR text[64] = {};
  GetWindowText(frame->Handle(), text, 64);
  EXPECT_EQ(std::u16string(text), u"A rather long ...");
}

TEST_F(ShellTest, ASecondStartLeavesTheRunningInstanceAlone) {
  Application second;
  EXPECT_EQ(second.Start(nullptr, u"", SW_SHOW), 0);
  EXPECT_EQ(second.Frame(), nullptr);
  EXPECT_EQ(ui::Context().mainFrame, frame);
}

TEST(ShellStartTest, AMainWindowOfTheCommandLineToolKeepsTheProgramFromStarting) {
  platform_testing::ScopedDeviceRoot root;
  setenv("TESSERA_DISPLAY", "headless", 1);
  // tessera-cli holds a window of the main frame's class while it works on the store.
  WNDCLASS wc{};
  wc.lpfnWndProc = &DefWindowProc;
  wc.lpszClassName = ui::kMainFrameClass;
  RegisterClass(&wc);
  HWND holder = CreateWindowEx(0, ui::kMainFrameClass, u"Tessera", WS_POPUP, 0, 0, 176, 180, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(holder, nullptr);
  Application app;
  EXPECT_EQ(app.Start(nullptr, u"", SW_SHOW), 0);
  EXPECT_EQ(app.Frame(), nullptr);
  DestroyWindow(holder);
  UnregisterClass(ui::kMainFrameClass, nullptr);
}

}  // namespace
