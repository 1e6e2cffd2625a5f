// Folders over a real store directory and registry: loading, backups, IDs, locks, sort.
#include <gtest/gtest.h>

#include <thread>

#include "platform/files.h"
#include "platform/sync.h"
#include "store_test_util.h"

namespace store {
namespace {

using FolderTest = StoreTest;

TEST_F(FolderTest, FirstStartGivesEmptyFoldersAndIdOne) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  for (int i = 0; i < kFolderCount; ++i) EXPECT_EQ(store.Folder(static_cast<FolderId>(i))->Count(), 0);
  EXPECT_EQ(store.Folder(static_cast<FolderId>(4)), nullptr);
  EXPECT_EQ(store.AllocateMessageId(), 1u);
  EXPECT_EQ(store.AllocateMessageId(), 2u);
  EXPECT_EQ(Dword(kStoreKey, kMaxIdValue), 2u);
  EXPECT_FALSE(MessageStore().Open(u""));
}

TEST_F(FolderTest, IdsAreNotReusedAfterTheRegistryValueIsLost) {
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    for (int i = 0; i < 3; ++i) store.Folder(FolderId::Sent)->Add(MakeEntry(store, 0x10001, u"s"));
    ASSERT_TRUE(store.Folder(FolderId::Sent)->Save());
  }
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, kStoreKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValue(key, kMaxIdValue), ERROR_SUCCESS);
  RegCloseKey(key);
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_EQ(store.AllocateMessageId(), 4u);
}

TEST_F(FolderTest, StateRoundTripsPerFolderRule) {
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    auto inbox = MakeEntry(store, 0x1010002, u"n");
    inbox->Summary().SetMessageType(kTypeNotification);
    store.Folder(FolderId::Inbox)->Add(std::move(inbox));
    store.Folder(FolderId::Outbox)->Add(MakeEntry(store, 0x1010002, u"o"));
    ASSERT_TRUE(store.SaveAll());
  }
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageSummary s(nullptr);
  ASSERT_TRUE(store.Folder(FolderId::Inbox)->CopySummary(1, s));
  EXPECT_EQ(s.StateFlags(), 0x10002u);
  EXPECT_EQ(s.MessageType(), kTypeNotification);
  ASSERT_TRUE(store.Folder(FolderId::Outbox)->CopySummary(2, s));
  EXPECT_EQ(s.StateFlags(), 0x1010002u);
  EXPECT_FALSE(store.Folder(FolderId::Outbox)->CopySummary(1, s));
}

TEST_F(FolderTest, CorruptIndexIsRestoredFromBackup) {
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    store.Folder(FolderId::Inbox)->Add(MakeEntry(store, 0x10001, u"kept"));
    ASSERT_TRUE(store.Folder(FolderId::Inbox)->Save());
  }
  std::u16string index = Root() + u"Inbox.inf";
  std::string bytes;
  ASSERT_TRUE(platform::ReadFile(index + u".bak", bytes));
  ASSERT_TRUE(platform::WriteFile(index, std::string("\x02\0\0\0", 4) + bytes.substr(4)));
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageSummary s(nullptr);
  ASSERT_TRUE(store.Folder(FolderId::Inbox)->CopySummary(1, s));
  EXPECT_EQ(s.Subject(), u"kept");
  std::string restored;
  ASSERT_TRUE(platform::ReadFile(index, restored));
  EXPECT_EQ(restored, bytes);
}

TEST_F(FolderTest, CorruptIndexWithoutBackupGivesEmptyFolder) {
  platform::CreateDirectories(Root());
  ASSERT_TRUE(platform::WriteFile(Root() + u"Draft.inf", "junk"));
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_EQ(store.Folder(FolderId::Draft)->Count(), 0);
}

TEST_F(FolderTest, UnreadCountFollowsStateAndPublishesInbox) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  inbox->Add(MakeEntry(store, 0x10002, u"a"));
  inbox->Add(MakeEntry(store, 0x10002, u"b"));
  inbox->Add(MakeEntry(store, 0x10001, u"c"));
  EXPECT_EQ(inbox->UnreadCount(), 2);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 2u);
  MessageEntry* entry = inbox->CheckOut(1);
  ASSERT_NE(entry, nullptr);
  entry->Summary().SetStateFlags((entry->Summary().StateFlags() & 0xFFFF0000) | kStateRead);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 1u);
  entry->Summary().SetStateFlagsNew(0x20001);
  EXPECT_EQ(entry->Summary().StateFlags(), 0x20002u);
  EXPECT_EQ(inbox->UnreadCount(), 2);
  inbox->Release(entry);
  auto removed = inbox->Remove(2);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->Folder(), nullptr);
  EXPECT_EQ(inbox->UnreadCount(), 1);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 1u);

  // Other folders only count in memory.
  store.Folder(FolderId::Sent)->Add(std::move(removed));
  EXPECT_EQ(store.Folder(FolderId::Sent)->UnreadCount(), 1);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 1u);
  ASSERT_TRUE(store.SaveAll());
}

TEST_F(FolderTest, ClosingKeepsThePublishedUnreadCount) {
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    store.Folder(FolderId::Inbox)->Add(MakeEntry(store, 0x10002, u"a"));
  }
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 1u);
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_EQ(store.Folder(FolderId::Inbox)->UnreadCount(), 1);
  EXPECT_EQ(Dword(kUaKey, kNotificationCountValue), 1u);
}

TEST_F(FolderTest, CheckOutIsExclusiveUntilRelease) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* draft = store.Folder(FolderId::Draft);
  draft->Add(MakeEntry(store, 0x10001, u"d"));
  MessageEntry* first = draft->CheckOut(1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(draft->CheckOut(1), nullptr);
  EXPECT_EQ(draft->CheckOut(99), nullptr);
  std::u16string parts = first->PartsDirectory();
  EXPECT_TRUE(platform::DirectoryExists(parts));
  EXPECT_TRUE(draft->Release(first));
  EXPECT_FALSE(platform::DirectoryExists(parts));
  EXPECT_EQ(draft->CheckOut(1), first);
}

TEST_F(FolderTest, AMessageDeletedOrMovedWhileCheckedOutIsHandedBackSafely) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  inbox->Add(MakeEntry(store, 0x10001, u"a"));
  inbox->Add(MakeEntry(store, 0x10001, u"b"));
  // Deleted while a screen holds it: handing it back touches nothing (the entry is gone).
  MessageEntry* held = inbox->CheckOut(1);
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(store.Delete(FolderId::Inbox, 1));
  EXPECT_FALSE(inbox->Release(held));
  // Moved while held: handed back through the old folder, it can be checked out again.
  held = inbox->CheckOut(2);
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(store.Move(2, FolderId::Inbox, FolderId::Sent));
  EXPECT_TRUE(inbox->Release(held));
  MessageEntry* again = store.Folder(FolderId::Sent)->CheckOut(2);
  EXPECT_EQ(again, held);
  if (again) store.Folder(FolderId::Sent)->Release(again);
}

TEST_F(FolderTest, LockHeldElsewhereTimesOut) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* sent = store.Folder(FolderId::Sent);
  sent->Add(MakeEntry(store, 0x10001, u"x"));
  std::atomic<bool> holding{false}, done{false};
  std::thread holder([&] {
    sent->ForEach([&](MessageEntry&) {
      holding = true;
      while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    });
  });
  while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  DWORD start = GetTickCount();
  EXPECT_EQ(sent->Count(), -1);
  EXPECT_GE(GetTickCount() - start, 1900u);
  EXPECT_EQ(sent->CheckOut(1), nullptr);
  done = true;
  holder.join();
  EXPECT_EQ(sent->Count(), 1);
}

TEST_F(FolderTest, SortByEachKey) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  const struct {
    const char16_t* from;
    std::uint32_t size, date;
  } rows[] = {{u"bob", 30, 100}, {u"Alice", 10, 300}, {u"carol", 20, 200}};
  for (auto& row : rows) {
    auto entry = MakeEntry(store, 0x10001, u"");
    entry->Summary().SetFrom(row.from);
    entry->Summary().SetSize(row.size);
    entry->Summary().SetDate(row.date);
    inbox->Add(std::move(entry));
  }
  auto order = [&] {
    std::vector<std::uint32_t> ids;
    inbox->ForEach([&](MessageEntry& e) {
      ids.push_back(e.Id());
      return true;
    });
    return ids;
  };
  ASSERT_TRUE(inbox->Sort(kSortFrom, true));
  EXPECT_EQ(order(), (std::vector<std::uint32_t>{2, 1, 3}));
  ASSERT_TRUE(inbox->Sort(kSortSize, true));
  EXPECT_EQ(order(), (std::vector<std::uint32_t>{2, 3, 1}));
  ASSERT_TRUE(inbox->Sort(kSortDate, true));
  EXPECT_EQ(order(), (std::vector<std::uint32_t>{2, 3, 1}));  // newest first
  ASSERT_TRUE(inbox->Sort(kSortSize, false));
  EXPECT_EQ(order(), (std::vector<std::uint32_t>{1, 3, 2}));
  EXPECT_FALSE(inbox->Sort(9, true));
}

// Entries with equal keys keep the order they had (the swap sort this replaced moved the first of
// two equal sizes behind the second when a larger one came after them).
TEST_F(FolderTest, SortKeepsTheOrderOfEqualKeys) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  MessageFolder* inbox = store.Folder(FolderId::Inbox);
  for (std::uint32_t size : {10u, 10u, 20u}) {
    auto entry = MakeEntry(store, 0x10001, u"");
    entry->Summary().SetSize(size);
    inbox->Add(std::move(entry));
  }
  ASSERT_TRUE(inbox->Sort(kSortSize, false));
  std::vector<std::uint32_t> ids;
  inbox->ForEach([&](MessageEntry& e) {
    ids.push_back(e.Id());
    return true;
  });
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{3, 1, 2}));
}

}  // namespace
}  // namespace store
