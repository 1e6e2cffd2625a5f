// The store when things go wrong: media that must be attached, full and read-only disks,
// damaged indexes, texts too long for a record.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "mms/multipart.h"
#include "platform/files.h"
#include "store_test_util.h"

namespace store {
namespace {

class StoreFaults : public StoreTest {
 protected:
  void TearDown() override {
    test_hooks::SetFailAfter(0);
    test_hooks::SetFailError(EIO);
  }
  std::u16string File(const std::u16string& name, const std::string& bytes) {
    platform::CreateDirectories(Root());
    std::u16string path = Root() + name;
    EXPECT_TRUE(platform::WriteFile(path, bytes));
    return path;
  }
  static std::string Bytes(const std::u16string& path) {
    std::string bytes;
    platform::ReadFile(path, bytes);
    return bytes;
  }
  // IDs listed by the folder, in order.
  static std::vector<std::uint32_t> Ids(MessageStore& store, FolderId id) {
    std::vector<std::uint32_t> ids;
    store.Folder(id)->ForEach([&](MessageEntry& e) {
      ids.push_back(e.Id());
      return true;
    });
    return ids;
  }
  ComposeRequest Request() {
    ComposeRequest request;
    request.recipients = u"+4917012345";
    request.subject = u"Gr\u00fc\u00dfe";
    request.image = File(u"p.jpg", std::string("\xFF\xD8\xFF\xE0 not really a picture \x00\x01\xFF\xD9", 30));
    request.text = File(u"t.txt", "hello");
    return request;
  }
};

TEST_F(StoreFaults, AComposedMessageCarriesEveryFileByteForByte) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  ComposeRequest request = Request();
  std::uint32_t id = store.NewComposedMessage(request, 176, 180);
  ASSERT_NE(id, 0u) << DescribeLastFailure();
  MessageSummary s(nullptr);
  ASSERT_TRUE(store.Folder(FolderId::Draft)->CopySummary(id, s));
  EXPECT_EQ(s.Subject(), u"Gr\u00fc\u00dfe");

  const std::u16string body = Root() + platform::Utf8ToUtf16(std::to_string(id)) + u".DAT";
  auto package = mms::MultipartPackage::Open(body);
  ASSERT_NE(package, nullptr);
  ASSERT_EQ(package->partCount(), 3);  // the presentation, the picture and the text
  const std::string bytes = Bytes(body);
  const std::string picture = Bytes(request.image);
  bool pictureFound = false, textFound = false;
  for (const mms::PackagePart& part : package->parts()) {
    const std::string data = bytes.substr(static_cast<std::size_t>(part.dataOffset),
                                          static_cast<std::size_t>(part.dataLength));
    if (part.contentType == "image/jpeg") pictureFound = data == picture;
    if (part.contentType.rfind("text/plain", 0) == 0) textFound = !data.empty();
  }
  EXPECT_TRUE(pictureFound) << "the picture is missing or changed";
  EXPECT_TRUE(textFound);
  // Nothing of the composing is left behind but the body.
  EXPECT_FALSE(platform::DirectoryExists(Root() + platform::Utf8ToUtf16(std::to_string(id)) + u"/"));
}

TEST_F(StoreFaults, AFileThatCannotBeAttachedFailsTheWholeMessage) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  ComposeRequest request = Request();
  request.image = File(u"strange.xyz", "?");
  EXPECT_EQ(store.NewComposedMessage(request, 176, 180), 0u);
  EXPECT_NE(DescribeLastFailure().find("cannot attach"), std::string::npos) << DescribeLastFailure();
  EXPECT_TRUE(Ids(store, FolderId::Draft).empty());
  std::vector<platform::DirectoryEntry> files;
  platform::ListDirectory(Root(), files, u"*.DAT");
  EXPECT_TRUE(files.empty());
}

// Every write of a compose made to fail in turn, as on a disk that fills up: the message
// is stored whole (with its subject) or not at all, and the failure names the disk.
TEST_F(StoreFaults, OnAFullDiskAComposedMessageIsStoredWholeOrNotAtAll) {
  test_hooks::SetFailError(ENOSPC);
  for (int n = 1;; ++n) {
    ClearLastFailure();
    std::uint32_t id = 0;
    {
      MessageStore store;
      ASSERT_TRUE(store.Open(Root()));
      ComposeRequest request = Request();
      test_hooks::SetFailAfter(n);
      id = store.NewComposedMessage(request, 176, 180);
      if (id == 0) {
        EXPECT_NE(DescribeLastFailure().find("the disk is full"), std::string::npos) << n;
      }
      test_hooks::SetFailAfter(0);
    }
    MessageStore reloaded;
    ASSERT_TRUE(reloaded.Open(Root()));
    std::vector<std::uint32_t> ids = Ids(reloaded, FolderId::Draft);
    if (id == 0) {
      EXPECT_TRUE(ids.empty()) << "write " << n;
      continue;
    }
    ASSERT_EQ(ids.size(), 1u);
    MessageSummary s(nullptr);
    ASSERT_TRUE(reloaded.Folder(FolderId::Draft)->CopySummary(id, s));
    EXPECT_EQ(s.Subject(), u"Gr\u00fc\u00dfe");
    EXPECT_TRUE(platform::FileExists(Root() + platform::Utf8ToUtf16(std::to_string(id)) + u".DAT"));
    break;
  }
}

TEST_F(StoreFaults, ADeleteThatCannotWriteTheIndexKeepsTheMessageWhole) {
  std::uint32_t id = 0;
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    ComposeRequest request = Request();
    id = store.NewComposedMessage(request, 176, 180);
    ASSERT_NE(id, 0u);
  }
  const std::u16string body = Root() + platform::Utf8ToUtf16(std::to_string(id)) + u".DAT";
  for (int error : {EROFS, ENOSPC}) {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    test_hooks::SetFailError(error);
    test_hooks::SetFailAfter(1);
    EXPECT_FALSE(store.Delete(FolderId::Draft, id));
    test_hooks::SetFailAfter(0);
    EXPECT_NE(DescribeLastFailure().find(error == EROFS ? "read-only" : "the disk is full"), std::string::npos)
        << DescribeLastFailure();
    EXPECT_EQ(Ids(store, FolderId::Draft), std::vector<std::uint32_t>{id});
    EXPECT_TRUE(platform::FileExists(body));
  }
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  EXPECT_EQ(Ids(store, FolderId::Draft), std::vector<std::uint32_t>{id});
  EXPECT_TRUE(store.Delete(FolderId::Draft, id));
  EXPECT_FALSE(platform::FileExists(body));
  MessageStore reloaded;
  ASSERT_TRUE(reloaded.Open(Root()));
  EXPECT_TRUE(Ids(reloaded, FolderId::Draft).empty());
}

TEST_F(StoreFaults, AnIndexAndBackupBothDamagedAreRebuiltFromTheMessageFiles) {
  std::uint32_t first = 0, second = 0;
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    ComposeRequest request = Request();
    first = store.NewComposedMessage(request, 176, 180);
    second = store.NewComposedMessage(request, 176, 180);
    ASSERT_NE(second, 0u);
  }
  ASSERT_TRUE(platform::WriteFile(Root() + u"Draft.inf", "damaged"));
  ASSERT_TRUE(platform::WriteFile(Root() + u"Draft.inf.bak", std::string(40, '\x07')));

  // A store that only looks rebuilds in memory and touches nothing.
  {
    MessageStore looking;
    looking.SetReadOnly(true);
    ASSERT_TRUE(looking.Open(Root()));
    EXPECT_EQ(Ids(looking, FolderId::Draft).size(), 2u);
    ASSERT_EQ(looking.Recoveries().size(), 1u);
    EXPECT_TRUE(looking.Recoveries()[0].damagedAside.empty());
    EXPECT_EQ(Bytes(Root() + u"Draft.inf"), "damaged");
  }
  {
    MessageStore store;
    ASSERT_TRUE(store.Open(Root()));
    ASSERT_EQ(store.Recoveries().size(), 1u);
    const IndexRecovery& r = store.Recoveries()[0];
    EXPECT_EQ(r.folder, FolderId::Draft);
    EXPECT_EQ(r.recovered, 2u);
    EXPECT_EQ(r.damagedAside, Root() + u"Draft.inf.damaged");
    EXPECT_EQ(Bytes(r.damagedAside), "damaged");
    std::vector<std::uint32_t> ids = Ids(store, FolderId::Draft);
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{first, second}));
    MessageEntry* entry = store.Folder(FolderId::Draft)->CheckOut(first);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Summary().MessageType(), kTypeMultimedia);
    EXPECT_EQ(static_cast<std::int64_t>(entry->Summary().Size()), platform::FileSize(entry->BodyPath()));
    EXPECT_NE(entry->OpenDocument(), nullptr);
    store.Folder(FolderId::Draft)->Release(entry);
    // New IDs stay above the recovered ones.
    EXPECT_GT(store.AllocateMessageId(), second);
  }
  // The rebuilt index is a good one: the next start reads it as it is.
  MessageStore again;
  ASSERT_TRUE(again.Open(Root()));
  EXPECT_TRUE(again.Recoveries().empty());
  EXPECT_EQ(Ids(again, FolderId::Draft).size(), 2u);
}

TEST_F(StoreFaults, TextsTooLongForARecordAreRefusedAndNeverCutInsideAnAddressOrACharacter) {
  MessageStore store;
  ASSERT_TRUE(store.Open(Root()));
  ComposeRequest request = Request();
  std::u16string many;
  for (int i = 0; i < 400; ++i) many += (i ? u";" : u"") + platform::Utf8ToUtf16("+4917012345" + std::to_string(100 + i));
  request.recipients = many;
  EXPECT_EQ(store.NewComposedMessage(request, 176, 180), 0u);
  EXPECT_NE(DescribeLastFailure().find("too long"), std::string::npos) << DescribeLastFailure();
  EXPECT_TRUE(Ids(store, FolderId::Draft).empty());

  // Just fitting: stored whole.
  const std::size_t room = kRecordStringBytes / 2 - 6;
  request.recipients = std::u16string(room - request.subject.size(), u'1');
  std::uint32_t id = store.NewComposedMessage(request, 176, 180);
  ASSERT_NE(id, 0u) << DescribeLastFailure();
  MessageStore reloaded;
  ASSERT_TRUE(reloaded.Open(Root()));
  MessageSummary s(nullptr);
  ASSERT_TRUE(reloaded.Folder(FolderId::Draft)->CopySummary(id, s));
  EXPECT_EQ(s.To(), request.recipients);

  // Texts that arrive from elsewhere are cut at whole addresses and whole characters.
  MessageSummary received(nullptr);
  received.SetMessageId(7);
  received.SetTo(many);
  MessageSummary emoji(nullptr);
  emoji.SetMessageId(8);
  emoji.SetSubject(std::u16string(room - 1, u'x') + u"\U0001F600");  // the pair straddles the end
  std::vector<const MessageSummary*> list{&received, &emoji};
  std::vector<std::unique_ptr<MessageEntry>> parsed;
  std::uint32_t maxId = 0;
  ASSERT_TRUE(ParseIndex(BuildIndex(FolderId::Inbox, list), Root(), parsed, maxId));
  ASSERT_EQ(parsed.size(), 2u);
  const std::u16string& to = parsed[0]->Summary().To();
  ASSERT_FALSE(to.empty());
  EXPECT_EQ(many.compare(0, to.size(), to), 0);
  EXPECT_EQ(many[to.size()], u';') << "an address was cut";
  EXPECT_EQ(parsed[1]->Summary().Subject(), std::u16string(room - 1, u'x')) << "a character was cut in half";
}

}  // namespace
}  // namespace store
