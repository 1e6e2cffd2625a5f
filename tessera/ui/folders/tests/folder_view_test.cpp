// The folder views driven as a user drives them: headless, against the real "Wren.dll" and
// hand-made stores in a fresh device root.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "config/config.h"
#include "contacts/contacts_session.h"
#include "folders/folder_frame.h"
#include "folders/folder_ids.h"
#include "mms/wsp.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/test_driver.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "store/message_store.h"
#include "ui/common/app_context.h"
#include "ui/common/ui_ids.h"
#include "ui/shell/application.h"
#include "ui/shell/driver.h"
#include "ui/shell/main_frame.h"

namespace {

using store::FolderId;

struct Message {
  FolderId folder = FolderId::Inbox;
  std::u16string from, to, subject;
  std::uint32_t date = 1000;
  std::uint32_t state = store::kStateComplete | store::kStateRead;
  std::uint32_t type = store::kTypeMultimedia;
  std::uint32_t size = 100;
};

class FolderViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TESSERA_DISPLAY", "headless", 1);
    setenv("TESSERA_PUSHROUTER_AUTOSTART", "0", 1);
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

  std::uint32_t Add(const Message& m) {
    store::MessageStore& s = frame->Store();
    auto entry = s.NewEntry();
    EXPECT_TRUE(platform::WriteFile(entry->BodyPath(), "body"));
    store::MessageSummary& summary = entry->Summary();
    summary.SetMessageType(m.type);
    summary.SetStateFlags(m.state);
    summary.SetFrom(m.from);
    summary.SetTo(m.to);
    summary.SetSubject(m.subject);
    summary.SetDate(m.date);
    summary.SetSize(m.size);
    const std::uint32_t id = entry->Id();
    EXPECT_TRUE(s.Folder(m.folder)->Add(std::move(entry)));
    EXPECT_TRUE(s.Folder(m.folder)->Save());
    return id;
  }

  // Steps run inside one pass of the message loop, so modal boxes and dialogs stay up
  // between them; Go() runs them.
  void Keys(const std::string& keys) {
    driver.Submit("keys " + keys, [](bool ok, std::string out) { EXPECT_TRUE(ok) << out; });
  }
  void Check(std::function<void(const std::string&)> check) {
    driver.Submit("describe", [check = std::move(check)](bool, std::string out) { check(out); });
  }
  void Go() {
    driver.Submit("wait-idle", [](bool, std::string) {
      HWND top = GetForegroundWindow();
      WCHAR name[32] = {};
      if (top && GetClassName(top, name, 32) > 0 && std::u16string(name) == WC_DIALOG) EndDialog(top, IDCANCEL);
      PostQuitMessage(0);
    });
    app.Run();
  }
  std::string Drive(const std::string& keys) {
    std::string screen;
    if (!keys.empty()) Keys(keys);
    Check([&](const std::string& out) { screen = out; });
    Go();
    return screen;
  }

  folders::FolderFrame* View() { return frame->FolderView(); }
  int Count(FolderId folder) { return frame->Store().Folder(folder)->Count(); }
  bool Summary(FolderId folder, std::uint32_t id, store::MessageSummary* out) {
    return frame->Store().Folder(folder)->CopySummary(id, *out);
  }
  static bool Has(const std::string& screen, const std::string& text) { return screen.find(text) != std::string::npos; }

  platform_testing::ScopedDeviceRoot root;
  ui::Application app;
  ui::MainFrame* frame = nullptr;
  ui::Driver driver;
};

TEST_F(FolderViewTest, InboxShowsTwoLineRowsNewestFirstWithIconsAndTheUnreadTitle) {
  Add({FolderId::Inbox, u"+15550100", u"", u"Oldest", 1000});
  Add({FolderId::Inbox, u"", u"", u"Newest", 3000, store::kStateComplete | store::kStateUnread});
  Add({FolderId::Inbox, u"ann@example.com", u"", u"Middle", 2000});
  const std::string screen = Drive("Enter");
  EXPECT_EQ(frame->ViewState(), ui::kViewFolder);
  EXPECT_TRUE(Has(screen, "foreground class=Corvane_WndCls_MsgBoxFrame title=\"Inbox(1/3)\"")) << screen;
  EXPECT_TRUE(Has(screen, "focus class=TesseraListControl id=2003")) << screen;
  EXPECT_TRUE(Has(screen, "listview count=3 sel=0 ")) << screen;
  EXPECT_TRUE(Has(screen, "row 0 \"Unknown sender | Newest\" image=182 selected")) << screen;
  EXPECT_TRUE(Has(screen, "row 1 \"ann@example.com | Middle\" image=183")) << screen;
  EXPECT_TRUE(Has(screen, "row 2 \"+15550100 | Oldest\" image=183")) << screen;
  EXPECT_TRUE(Has(screen, "softkeys left=\"Open\" right=\"Menu\"(menu)")) << screen;
  // Back leaves for the main list and hides the view.
  const std::string back = Drive("Back");
  EXPECT_EQ(frame->ViewState(), ui::kViewMainList);
  EXPECT_TRUE(Has(back, "foreground class=RIR_WndCls_MainFrme")) << back;
  EXPECT_FALSE(Has(back, "Corvane_WndCls_MsgBoxFrame")) << back;
}

TEST_F(FolderViewTest, SortSettingFromSortsTheOutboxByRecipientAndTheInboxBySender) {
  ASSERT_TRUE(config::Config().SetSort(store::kSortFrom));
  Add({FolderId::Outbox, u"zed", u"+15550102", u"B", 1});
  Add({FolderId::Outbox, u"amy", u"+15550101", u"A", 2});
  Add({FolderId::Inbox, u"+15550109", u"+15550100", u"Y", 1});
  Add({FolderId::Inbox, u"+15550108", u"+15550101", u"X", 2});
  std::string screen = Drive("4");
  EXPECT_TRUE(Has(screen, "title=\"Outbox(2)\"")) << screen;
  EXPECT_LT(screen.find("+15550101 | A"), screen.find("+15550102 | B")) << screen;
  Drive("Back");
  screen = Drive("2");
  EXPECT_LT(screen.find("+15550108 | X"), screen.find("+15550109 | Y")) << screen;
}

TEST_F(FolderViewTest, AnEmptyFolderOffersANewMessageOnTheLeftKey) {
  std::string screen = Drive("3");
  EXPECT_TRUE(Has(screen, "title=\"Drafts\"")) << screen;
  EXPECT_TRUE(Has(screen, "listview count=0")) << screen;
  EXPECT_TRUE(Has(screen, "softkeys left=\"New\" right=none")) << screen;
  EXPECT_EQ(View()->LeftCommand(), folders::kCmdNew);
  const int drafts = Count(FolderId::Draft);
  Drive("SoftLeft");
  EXPECT_EQ(Count(FolderId::Draft), drafts + 1);
  EXPECT_EQ(frame->ViewState(), ui::kViewComposer);
}

TEST_F(FolderViewTest, NotificationsDownloadFromTheLeftKeyWhichGreysWhileTheirTransferRuns) {
  struct Case {
    std::uint32_t state;
    const char* left;
  } cases[] = {
      {0x1010002, "left=\"Download\" "},
      {0x1020002, "left=\"Download\"(grayed)"},
      {0x1040002, "left=\"Download\"(grayed)"},
      {0x1100002, "left=\"Download\"(grayed)"},
      {0x1080002, "left=\"Download\" "},
  };
  for (const Case& c : cases) {
    Message m{FolderId::Inbox, u"+15550100", u"", u"Note", 10, c.state, store::kTypeNotification};
    const std::uint32_t id = Add(m);
    const std::string screen = Drive("Enter");
    EXPECT_TRUE(Has(screen, "\"+15550100 | Note\" image=188")) << screen;
    EXPECT_TRUE(Has(screen, c.left)) << std::hex << c.state << "\n" << screen;
    Drive("Back");
    ASSERT_TRUE(frame->Store().Delete(FolderId::Inbox, id));
  }
  // The menu: Send is gone from the Inbox; what needs a message's body is grey.
  Add({FolderId::Inbox, u"+15550100", u"", u"Note", 10, 0x1040002, store::kTypeNotification});
  Keys("Enter SoftRight");
  Check([&](const std::string& screen) {
    EXPECT_FALSE(Has(screen, "\"Send\" id=40151")) << screen;
    for (const char* grey : {"\"Open\" id=40143 grayed", "\"Download\" id=40152 grayed", "\"Reply\" id=40154 grayed",
                             "\"Forward\" id=40167 grayed", "\"Properties\" id=40157 grayed",
                             "\"Message contents\" id=40169 grayed"})
      EXPECT_TRUE(Has(screen, grey)) << grey << "\n" << screen;
    EXPECT_FALSE(Has(screen, "\"Delete\" id=40147 grayed")) << screen;
  });
  Go();
}

TEST_F(FolderViewTest, DeletingAsksFirstAndNoKeepsTheMessage) {
  Add({FolderId::Sent, u"", u"+15550101", u"One", 3});
  Add({FolderId::Sent, u"", u"+15550102", u"Two", 2});
  const std::uint32_t last = Add({FolderId::Sent, u"", u"+15550103", u"Three", 1});
  Drive("5");
  // Delete is the third entry of the Sent menu (no Send, no Download).
  Keys("Up SoftRight 3");
  Check([&](const std::string& screen) { EXPECT_TRUE(Has(screen, "Delete this message?")) << screen; });
  Keys("SoftRight");  // No
  Go();
  EXPECT_EQ(Count(FolderId::Sent), 3);
  Keys("SoftRight 3");
  Keys("SoftLeft");  // Yes
  Check([&](const std::string& screen) {
    // The last row went: the new last row is selected and the list has the focus.
    EXPECT_TRUE(Has(screen, "title=\"Sent(2)\"")) << screen;
    EXPECT_TRUE(Has(screen, "row 1 \"+15550102 | Two\" image=183 selected")) << screen;
    EXPECT_TRUE(Has(screen, "focus class=TesseraListControl id=2003")) << screen;
  });
  Go();
  store::MessageSummary gone(nullptr);
  EXPECT_FALSE(Summary(FolderId::Sent, last, &gone));
  EXPECT_FALSE(platform::FileExists(frame->Store().Root() + std::u16string(u"") + platform::Utf8ToUtf16(std::to_string(last)) + u".DAT"));
  // Delete all, No then Yes.
  Keys("SoftRight 4 SoftRight");
  Go();
  EXPECT_EQ(Count(FolderId::Sent), 2);
  const std::string screen = Drive("SoftRight 4 SoftLeft");
  EXPECT_EQ(Count(FolderId::Sent), 0);
  EXPECT_TRUE(Has(screen, "title=\"Sent\"")) << screen;
  EXPECT_TRUE(Has(screen, "softkeys left=\"New\" right=none")) << screen;
}

TEST_F(FolderViewTest, ReplyReplyAllAndForwardMakeTheirDraftsFromTheSelectedMessage) {
  // A message with a real body, so that the forwarded copy opens in the composer.
  const std::u16string textFile = platform::Utf8ToUtf16(root.path() + "/hi.txt");
  ASSERT_TRUE(platform::WriteFile(textFile, "Hi there"));
  store::ComposeRequest request;
  request.text = textFile;
  request.recipients = u"a@example.com;+15550105";
  request.subject = u"Hi";
  const std::uint32_t id = frame->Store().NewComposedMessage(request, 176, 180);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(frame->Store().Move(id, FolderId::Draft, FolderId::Inbox));
  store::MessageEntry* entry = frame->Store().Folder(FolderId::Inbox)->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  entry->Summary().SetFrom(u"+15550100");
  entry->Summary().SetTo(u"a@example.com;+15550105");
  entry->Summary().SetStateFlags(store::kStateComplete | store::kStateRead);
  frame->Store().Folder(FolderId::Inbox)->Release(entry);
  struct Case {
    const char* keys;  // menu entry: Reply 6, Reply to all 7, Forward 8
    const char16_t* to;
    const char16_t* subject;
  } cases[] = {
      {"6", u"+15550100", u"Re: Hi"},
      {"7", u"+15550100;a@example.com;+15550105;", u"Re: Hi"},
      {"8", u"", u"Fw: Hi"},
  };
  Drive("Enter");
  for (const Case& c : cases) {
    std::uint32_t before = 0;
    frame->Store().Folder(FolderId::Draft)->ForEach([&](store::MessageEntry&) { return ++before > 0; });
    Drive(std::string("SoftRight ") + c.keys);
    EXPECT_EQ(frame->ViewState(), ui::kViewComposer) << c.keys;
    std::u16string to, subject;
    int drafts = 0;
    frame->Store().Folder(FolderId::Draft)->ForEach([&](store::MessageEntry& e) {
      ++drafts;
      to = e.Summary().To();
      subject = e.Summary().Subject();
      return true;
    });
    EXPECT_EQ(drafts, static_cast<int>(before) + 1) << c.keys;
    EXPECT_EQ(to, c.to) << c.keys;
    EXPECT_EQ(subject, c.subject) << c.keys;
    // Leaving the composer unchanged comes back to the folder.
    const std::string back = Drive("Back");
    EXPECT_TRUE(Has(back, "foreground class=Corvane_WndCls_MsgBoxFrame title=\"Inbox(0/1)\"")) << back;
  }
}

TEST_F(FolderViewTest, DetailsShowAddressSubjectSizeDateAndLength) {
  // 2004-01-20 12:00 as stored (local time).
  Add({FolderId::Outbox, u"", u"+15550101;bob@example.com", u"Plans", 1074600000u, store::kStateComplete | store::kStateRead,
       store::kTypeMultimedia, 2049});
  Keys("4 SoftRight");
  Check([&](const std::string& screen) { EXPECT_TRUE(Has(screen, "\"Properties\" id=40157")) << screen; });
  Keys("6");  // Outbox menu: New message, Open, Delete, Delete all, Send, Properties, Message contents
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Dialog title=\"Details\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"To:\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"+15550101;bob@example.com\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Plans\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Size: 3 KB\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Date: 2004/1/20\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Length: 0 seconds\"")) << screen;
  });
  Keys("SoftLeft");
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Corvane_WndCls_MsgBoxFrame")) << screen;
    EXPECT_TRUE(Has(screen, "focus class=TesseraListControl id=2003")) << screen;
  });
  Go();

  // In the Inbox: the sender under the dialog's own label, named from the SIM; a
  // notification has no presentation to measure.
  ASSERT_TRUE(platform::CreateDirectories(platform::JoinPath(platform::DeviceRoot(), u"SIM")));
  ASSERT_TRUE(platform::WriteFile(ui::SimPhonebook::DefaultPath(),
                                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Sim Sue\r\nTEL:5550177\r\nEND:VCARD\r\n"));
  Add({FolderId::Inbox, u"+15550177", u"", u"Note", 1074600000u, 0x1010002, store::kTypeNotification, 40000});
  Drive("Back");
  Keys("2 SoftRight 9");  // Inbox menu: ..., Forward 8, Properties 9
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "text=\"From:\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Sim Sue(+15550177)\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Size: 40 KB\"")) << screen;
    EXPECT_TRUE(Has(screen, "text=\"Length: 0 seconds\"")) << screen;
  });
  Go();
}

TEST_F(FolderViewTest, AFetchFinishingWhileTheInboxIsShownUpdatesItsRowAndKeepsTheSelection) {
  Add({FolderId::Inbox, u"+15550101", u"", u"Older", 1});
  const std::uint32_t note = Add({FolderId::Inbox, u"+15550100", u"", u"Pending", 9, 0x1040002, store::kTypeNotification});
  Drive("Enter Down");
  const std::uint32_t selected = View()->SelectedId();
  // The store turns the notification into a message as the worker's fetch finishes.
  store::MessageFolder* inbox = frame->Store().Folder(FolderId::Inbox);
  store::MessageEntry* entry = inbox->CheckOut(note);
  ASSERT_NE(entry, nullptr);
  entry->Summary().SetMessageType(store::kTypeMultimedia);
  entry->Summary().SetFrom(u"+15550177");
  frame->Store().FetchFinished(entry, true);
  PostMessage(frame->Handle(), store::kMsgFetchFinished, 1, reinterpret_cast<LPARAM>(entry));
  const std::string screen = Drive("");
  EXPECT_TRUE(Has(screen, "\"+15550177 | Pending\" image=182")) << screen;
  EXPECT_TRUE(Has(screen, "title=\"Inbox(1/2)\"")) << screen;
  EXPECT_EQ(View()->SelectedId(), selected);
}

TEST_F(FolderViewTest, OpeningAnInboxMessageMarksItReadAndDropsTheCounter) {
  const std::uint32_t id = Add({FolderId::Inbox, u"+15550100", u"", u"Hello", 1, store::kStateComplete | store::kStateUnread});
  Keys("Enter Enter");
  Check([&](const std::string& screen) { EXPECT_TRUE(Has(screen, "foreground class=Dialog")) << screen; });
  Keys("Back");
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "title=\"Inbox(0/1)\"")) << screen;
    EXPECT_TRUE(Has(screen, "\"+15550100 | Hello\" image=183")) << screen;
    EXPECT_TRUE(Has(screen, "row 1 \"2 Inbox\"")) << screen;  // the main list's counter is gone
  });
  Go();
  store::MessageSummary s(nullptr);
  ASSERT_TRUE(Summary(FolderId::Inbox, id, &s));
  EXPECT_EQ(s.StateFlags() & 0xFFFF, store::kStateRead);
  // A draft opens in the composer through the edit code.
  Drive("Back");
  const std::u16string textFile = platform::Utf8ToUtf16(root.path() + "/draft.txt");
  ASSERT_TRUE(platform::WriteFile(textFile, "Draft text"));
  store::ComposeRequest request;
  request.text = textFile;
  request.recipients = u"+15550101";
  ASSERT_NE(frame->Store().NewComposedMessage(request, 176, 180), 0u);
  const std::string screen = Drive("3 SoftLeft");
  EXPECT_EQ(frame->ViewState(), ui::kViewComposer);
  EXPECT_TRUE(Has(screen, "window class=Rir_WndCls_ComposerFrame")) << screen;
}

}  // namespace

namespace {

TEST_F(FolderViewTest, ANewMessageArrivingWhileTheInboxIsShownAppearsOnceTheNoticeIsGone) {
  Add({FolderId::Inbox, u"+15550101", u"", u"Old", 1});
  Drive("Enter");
  const std::uint32_t selected = View()->SelectedId();
  Add({FolderId::Inbox, u"+15550100", u"", u"New", 9, 0x1010002, store::kTypeNotification});
  PostMessage(frame->Handle(), store::kMsgNotificationStored, 0, 0);
  Check([&](const std::string& screen) { EXPECT_TRUE(Has(screen, "You have a new multimedia message.")) << screen; });
  Keys("SoftLeft");
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Corvane_WndCls_MsgBoxFrame title=\"Inbox(1/2)\"")) << screen;
    EXPECT_TRUE(Has(screen, "row 0 \"+15550100 | New\" image=188")) << screen;
    EXPECT_TRUE(Has(screen, "focus class=TesseraListControl id=2003")) << screen;
  });
  Go();
  EXPECT_EQ(View()->SelectedId(), selected);
}

TEST_F(FolderViewTest, ChangesWhileTheViewIsHiddenWaitForItsNextActivation) {
  Add({FolderId::Sent, u"", u"+15550101", u"One", 1});
  Drive("5 Back");
  Add({FolderId::Sent, u"", u"+15550102", u"Two", 2});
  PostMessage(frame->Handle(), store::kMsgSendFinished, 1, 0);
  Drive("");
  EXPECT_TRUE(View()->ReloadPending());
  EXPECT_EQ(View()->List().Count(), 1);
  ShowWindow(View()->Handle(), SW_SHOW);
  SetForegroundWindow(View()->Handle());
  const std::string screen = Drive("");
  EXPECT_FALSE(View()->ReloadPending());
  EXPECT_TRUE(Has(screen, "title=\"Sent(2)\"")) << screen;
  EXPECT_TRUE(Has(screen, "row 0 \"+15550102 | Two\"")) << screen;
}

TEST_F(FolderViewTest, SendInDraftsRunsTheSendPageAndCancellingKeepsTheDraft) {
  const std::uint32_t id = Add({FolderId::Draft, u"", u"+15550101", u"Draft", 1});
  Keys("3 SoftRight 5");  // Drafts menu: New message, Open, Delete, Delete all, Send, ...
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "To (phone numbers):")) << screen;
    EXPECT_TRUE(View()->Busy());
  });
  Keys("SoftRight 5");  // the page's Close
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Corvane_WndCls_MsgBoxFrame title=\"Drafts(1)\"")) << screen;
    EXPECT_FALSE(View()->Busy());
  });
  Go();
  store::MessageSummary s(nullptr);
  EXPECT_TRUE(Summary(FolderId::Draft, id, &s));
}

// The row's state icon is drawn 7 pixels in, whatever the row's colours.
TEST_F(FolderViewTest, RowsDrawTheirStateIconBesideTheTexts) {
  Add({FolderId::Inbox, u"+15550100", u"", u"Note", 2, 0x1010002, store::kTypeNotification});
  Add({FolderId::Inbox, u"+15550101", u"", u"Read", 1});
  Drive("Enter");
  RECT list{};
  ASSERT_TRUE(GetWindowRect(View()->List().Handle(), &list));
  RECT client{};
  GetClientRect(View()->List().Handle(), &client);
  const int rowHeight = (client.bottom - client.top) / folders::kRowsPerPage - 1;
  const ui::ResourceLibrary* library = ui::Context().resources;
  ASSERT_NE(library, nullptr);
  const int icons[] = {folders::kIconNotification, folders::kIconRead};
  for (int row = 0; row < 2; ++row) {
    platform::ResourceImage icon;
    ASSERT_TRUE(library->LoadIcon(static_cast<UINT>(icons[row]), &icon));
    const int top = list.top + row * rowHeight + std::max(0, (rowHeight - 16) / 2);
    int opaque = 0, matching = 0;
    for (int y = 0; y < icon.height; ++y)
      for (int x = 0; x < icon.width; ++x) {
        const std::uint32_t want = icon.pixels[static_cast<std::size_t>(y) * icon.width + x];
        if ((want >> 24) != 0xFF || (want & 0xFFFFFF) == 0xFFFFFF) continue;
        ++opaque;
        const std::uint32_t got = platform::testdriver::ScreenPixel(list.left + folders::kIconLeft + x, top + y);
        bool close = true;
        for (int shift : {0, 8, 16})
          close = close && std::abs(static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((got >> shift) & 0xFF)) <= 8;
        matching += close ? 1 : 0;
      }
    ASSERT_GT(opaque, 0) << row;
    EXPECT_GE(matching * 10, opaque * 9) << "row " << row << ": " << matching << " of " << opaque;
  }
}

}  // namespace

namespace {

TEST_F(FolderViewTest, MessageContentsListTheSelectedMessagesParts) {
  const std::u16string textFile = platform::Utf8ToUtf16(root.path() + "/note.txt");
  ASSERT_TRUE(platform::WriteFile(textFile, "Hello from the folder"));
  store::ComposeRequest request;
  request.text = textFile;
  request.recipients = u"+15550102";
  request.subject = u"Parts";
  const std::uint32_t id = frame->Store().NewComposedMessage(request, 176, 180);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(frame->Store().Move(id, FolderId::Draft, FolderId::Inbox));
  Keys("Enter SoftRight Up SoftLeft");  // the last entry of the menu
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Dialog")) << screen;
    EXPECT_TRUE(Has(screen, "title=\"Message contents\"")) << screen;
    EXPECT_TRUE(Has(screen, "listview count=1 ")) << screen;
    EXPECT_TRUE(View()->Busy());
  });
  Go();
  EXPECT_FALSE(View()->Busy());
  // The entry was handed back.
  store::MessageFolder* inbox = frame->Store().Folder(FolderId::Inbox);
  store::MessageEntry* entry = inbox->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  inbox->Release(entry);
}

}  // namespace

namespace {

// A body whose one part is forward-locked: a DRM message wrapping a picture.
std::string ForwardLockedBody() {
  const std::string dm = "--b\r\nContent-type: image/jpeg\r\n\r\n\xFF\xD8jpeg\xFF\xD9\r\n--b--\r\n";
  std::string headers = std::string("\x1F") + '\0' + std::string(mms::kDrmMessageType) + '\0' + "\x85" + "pic.dm" + '\0';
  headers[1] = static_cast<char>(headers.size() - 2);
  std::string body = "\x84\xA3\x01";
  body += static_cast<char>(headers.size());
  body += static_cast<char>(dm.size());
  return body + headers + dm;
}

TEST_F(FolderViewTest, AForwardLockedMessageIsNotForwarded) {
  const std::uint32_t id = Add({FolderId::Inbox, u"+15550100", u"", u"Locked", 1});
  store::MessageEntry* entry = frame->Store().Folder(FolderId::Inbox)->CheckOut(id);
  ASSERT_NE(entry, nullptr);
  ASSERT_TRUE(platform::WriteFile(entry->BodyPath(), ForwardLockedBody()));
  ASSERT_TRUE(entry->HasProtectedContent());
  frame->Store().Folder(FolderId::Inbox)->Release(entry);
  const int drafts = Count(FolderId::Draft);
  Keys("Enter SoftRight 8");  // Forward
  Check([&](const std::string& screen) { EXPECT_TRUE(Has(screen, "This message cannot be forwarded.")) << screen; });
  Keys("SoftLeft");
  Check([&](const std::string& screen) {
    EXPECT_TRUE(Has(screen, "foreground class=Corvane_WndCls_MsgBoxFrame title=\"Inbox(0/1)\"")) << screen;
  });
  Go();
  EXPECT_EQ(Count(FolderId::Draft), drafts);
  EXPECT_EQ(frame->ViewState(), ui::kViewFolder);
}

}  // namespace
