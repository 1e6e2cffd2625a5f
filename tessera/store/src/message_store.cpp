#include "store/message_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/window.h"
#include "store_internal.h"

namespace store {
namespace {

constexpr const char16_t* kIndexNames[kFolderCount] = {u"Inbox.inf", u"Outbox.inf", u"Draft.inf",
                                                       u"Sent.inf"};

bool Acquire(HANDLE mutex) {
  DWORD rc = WaitForSingleObject(mutex, kLockTimeoutMs);
  return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

int CompareText(const std::u16string& a, const std::u16string& b) {
  auto lower = [](char16_t c) -> char16_t { return (c >= u'A' && c <= u'Z') ? c + 32 : c; };
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int d = int{lower(a[i])} - int{lower(b[i])};
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::u16string DirectoryOf(const std::u16string& path) {
  auto cut = path.find_last_of(platform::kPathSeparator);
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

}  // namespace

// ---- MessageFolder -------------------------------------------------------------------------

MessageFolder::MessageFolder(FolderId id, MessageStore* store)
    : id_(id),
      store_(store),
      listLock_(CreateMutex(nullptr, FALSE, nullptr)),
      entryLock_(CreateMutex(nullptr, FALSE, nullptr)) {}

MessageFolder::~MessageFolder() {
  if (!indexPath_.empty()) Save();
  // The published unread count stays as it was: the messages are still stored.
  for (auto& entry : entries_) entry->SetFolder(nullptr);
  entries_.clear();
  CloseHandle(listLock_);
  CloseHandle(entryLock_);
}

bool MessageFolder::LockList() {
  return listLock_ && Acquire(listLock_);
}
void MessageFolder::UnlockList() {
  ReleaseMutex(listLock_);
}

void MessageFolder::ClearEntries() {
  for (auto& entry : entries_) entry->SetFolder(nullptr);
  entries_.clear();
  if (unread_ != 0) AdjustUnread(-unread_);
}

void MessageFolder::AdjustUnread(int delta) {
  unread_ += delta;
  if (id_ == FolderId::Inbox)
    internal::WriteDword(kUaKey, kNotificationCountValue, static_cast<DWORD>(std::max(unread_, 0)));
}

bool MessageFolder::ReadIndex(const std::u16string& path) {
  std::string bytes;
  if (!platform::ReadFile(path, bytes)) return false;
  std::vector<std::unique_ptr<MessageEntry>> read;
  std::uint32_t maxId = store_ ? store_->MaxId() : 0;
  if (!ParseIndex(bytes, DirectoryOf(path), read, maxId)) return false;
  if (store_) store_->RaiseMaxId(maxId);
  for (auto& entry : read) Add(std::move(entry));
  return true;
}

bool MessageFolder::Load(const std::u16string& indexPath) {
  if (!LockList()) return false;
  indexPath_ = indexPath;
  damaged_ = false;
  ClearEntries();
  bool ok = true;
  const bool hasIndex = platform::PathExists(indexPath);
  if (!(hasIndex && ReadIndex(indexPath))) {
    ClearEntries();
    std::u16string backup = indexPath + u".bak";
    const bool hasBackup = platform::PathExists(backup);
    if (hasBackup && ReadIndex(backup)) {
      // The damaged index is replaced by the last good one, which is read already. A store
      // that only looks leaves the files as they are.
      std::string bytes;
      if (!(store_ && store_->ReadOnly()) && platform::ReadFile(backup, bytes))
        internal::WriteReplace(indexPath, indexPath + u".tmp", bytes);
    } else if (hasIndex || hasBackup) {
      // Neither can be read: the store rebuilds the folder from the message files.
      ClearEntries();
      damaged_ = true;
      ok = false;
    }
  }
  UnlockList();
  return ok;
}

bool MessageFolder::Save() {
  if (indexPath_.empty()) return false;
  if (store_ && store_->ReadOnly()) return internal::Refused("the message store is open for reading only");
  if (!LockList()) return internal::Refused("the folder is busy");
  std::vector<const MessageSummary*> summaries;
  summaries.reserve(entries_.size());
  for (auto& entry : entries_) summaries.push_back(&entry->Summary());
  std::string bytes = BuildIndex(id_, summaries);
  bool ok = internal::WriteReplace(indexPath_, indexPath_ + u".tmp", bytes);
  UnlockList();
  if (!ok) return false;
  // The backup is always the last index that was written completely. When it cannot be
  // refreshed an older one must not stand in for the index later: it goes, and a damaged
  // index is then rebuilt from the message files instead.
  if (!internal::WriteReplace(indexPath_ + u".bak", indexPath_ + u".bak.tmp", bytes))
    platform::DeleteFile(indexPath_ + u".bak");
  return true;
}

bool MessageFolder::Add(std::unique_ptr<MessageEntry> entry) {
  if (!entry || !LockList()) return false;
  entry->SetFolder(this);
  if ((entry->Summary().StateFlags() & 0xFFFF) == kStateUnread) AdjustUnread(1);
  entries_.push_back(std::move(entry));
  UnlockList();
  return true;
}

std::unique_ptr<MessageEntry> MessageFolder::Remove(std::uint32_t messageId) {
  if (!LockList()) return nullptr;
  std::unique_ptr<MessageEntry> removed;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->Id() != messageId) {
      ++it;
      continue;
    }
    if (((*it)->Summary().StateFlags() & 0xFFFF) == kStateUnread) AdjustUnread(-1);
    (*it)->SetFolder(nullptr);
    // Duplicates of an ID are unlinked too; the first one goes back to the caller.
    if (!removed) removed = std::move(*it);
    it = entries_.erase(it);
  }
  UnlockList();
  return removed;
}

MessageEntry* MessageFolder::CheckOut(std::uint32_t messageId) {
  if (!LockList()) return nullptr;
  MessageEntry* found = nullptr;
  for (auto& entry : entries_)
    if (entry->Id() == messageId) {
      found = entry.get();
      break;
    }
  UnlockList();
  if (!found || !Acquire(entryLock_)) return nullptr;
  MessageEntry* result = nullptr;
  if (!found->Summary().InUse()) {
    found->Summary().SetInUse(1);
    result = found;
  }
  ReleaseMutex(entryLock_);
  return result;
}

bool MessageFolder::Release(MessageEntry* entry) {
  if (!entry) return false;
  // A message deleted while it was checked out is gone with its entry: only an entry still
  // listed (here, or in the folder it was moved to) is touched.
  if (!Lists(entry) && !(store_ && store_->Lists(entry))) return false;
  if (!Acquire(entryLock_)) return false;
  entry->Summary().SetInUse(0);
  entry->DropDocument();
  ReleaseMutex(entryLock_);
  return true;
}

bool MessageFolder::Lists(const MessageEntry* entry) {
  if (!LockList()) return false;
  bool found = false;
  for (const auto& e : entries_) found = found || e.get() == entry;
  UnlockList();
  return found;
}

int MessageFolder::Count() {
  if (!LockList()) return -1;
  int count = static_cast<int>(entries_.size());
  UnlockList();
  return count;
}

bool MessageFolder::CopySummary(std::uint32_t messageId, MessageSummary& destination) {
  if (!LockList()) return false;
  bool found = false;
  for (auto& entry : entries_)
    if (entry->Id() == messageId) {
      MessageEntry* owner = destination.Owner();
      destination = entry->Summary();
      destination.SetOwner(owner);
      found = true;
      break;
    }
  UnlockList();
  return found;
}

bool MessageFolder::Sort(int key, bool reverse) {
  if (key < kSortFrom || key > kSortTo || !LockList()) return false;
  auto compare = [key](const MessageSummary& a, const MessageSummary& b) -> long long {
    switch (key) {
      case kSortFrom:
        return CompareText(a.From(), b.From());
      case kSortSize:
        return static_cast<long long>(a.Size()) - b.Size();
      case kSortDate:
        return static_cast<long long>(b.Date()) - a.Date();
      case kSortSubject:
        return CompareText(a.Subject(), b.Subject());
      default:
        return CompareText(a.To(), b.To());
    }
  };
  // An entry goes before another when the comparison of the two is positive (so dates run
  // oldest first and the rest descending, and `reverse` turns that round); entries that
  // compare equal keep the order they had.
  std::stable_sort(entries_.begin(), entries_.end(), [&](const auto& a, const auto& b) {
    const long long c = compare(a->Summary(), b->Summary());
    return reverse ? c < 0 : c > 0;
  });
  UnlockList();
  return true;
}

// ---- MessageStore --------------------------------------------------------------------------

MessageStore::MessageStore() : idLock_(CreateMutex(nullptr, FALSE, nullptr)) {}

MessageStore::~MessageStore() {
  for (auto& folder : folders_) folder.reset();
  CloseHandle(idLock_);
}

bool MessageStore::Open(const std::u16string& root) {
  if (root.empty()) return false;
  root_ = root;
  if (root_.back() != platform::kPathSeparator) root_.push_back(platform::kPathSeparator);
  if (!readOnly_) platform::CreateDirectories(root_);
  if (folders_[0]) return true;
  bool ok = true;
  std::vector<FolderId> damaged;
  for (int i = 0; i < kFolderCount; ++i) {
    folders_[i] = std::make_unique<MessageFolder>(static_cast<FolderId>(i), this);
    if (!folders_[i]->Load(root_ + kIndexNames[i])) {
      if (folders_[i]->damaged_)
        damaged.push_back(static_cast<FolderId>(i));
      else
        ok = false;
    }
  }
  if (!damaged.empty()) RebuildDamaged(damaged);
  ResolveListedTwice();
  FinishInterruptedDeletes();
  // The engine is attached (SetTransferSink) before opening; the store window runs the
  // Outbox pass when this arrives.
  if (listener_) listener_->StoreOpened();
  return ok;
}

namespace {

// Modification time of an index file in nanoseconds, 0 when it is missing.
std::int64_t IndexWritten(const std::u16string& path) {
  struct stat st{};
  if (::stat(platform::NativePath(path).c_str(), &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

// A move saves the target folder before the source, so a program stopped in between leaves
// the message listed in both, its files shared. Left so, the Outbox pass would send it again
// and a second record of it would land in Sent; a delete in one folder would take the files
// of the other. The folder whose index was written last is where the message went: the
// record in the other is dropped (the files stay).
void MessageStore::ResolveListedTwice() {
  std::array<std::int64_t, kFolderCount> written{};
  for (int i = 0; i < kFolderCount; ++i) written[i] = IndexWritten(root_ + kIndexNames[i]);
  std::array<bool, kFolderCount> changed{};
  for (int i = 0; i < kFolderCount; ++i) {
    std::vector<std::uint32_t> ids;
    folders_[i]->ForEach([&](MessageEntry& e) {
      ids.push_back(e.Id());
      return true;
    });
    for (std::uint32_t id : ids) {
      for (int j = i + 1; j < kFolderCount; ++j) {
        MessageSummary probe(nullptr);
        if (!folders_[j]->CopySummary(id, probe)) continue;
        // Ties go to the folder later in the order Inbox, Outbox, Draft, Sent.
        const int stale = written[i] > written[j] ? j : i;
        folders_[stale]->Remove(id);
        changed[stale] = true;
        if (stale == i) break;
      }
    }
  }
  if (readOnly_) return;
  for (int i = 0; i < kFolderCount; ++i)
    if (changed[i]) folders_[i]->Save();
}

namespace {

// A delete journal: "<pid>-<n>.deleting", one message ID per line, then "end".
constexpr char16_t kDeleteJournalPattern[] = u"*.deleting";
constexpr std::string_view kDeleteJournalEnd = "end\n";

// The IDs of a whole journal; an unfinished one (no end line) names nothing, since its
// index was never written.
std::vector<std::uint32_t> ReadDeleteJournal(const std::u16string& path) {
  std::vector<std::uint32_t> ids;
  std::string text;
  if (!platform::ReadFile(path, text) || text.size() < kDeleteJournalEnd.size() ||
      text.compare(text.size() - kDeleteJournalEnd.size(), kDeleteJournalEnd.size(), kDeleteJournalEnd) != 0)
    return ids;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    std::uint64_t id = 0;
    bool digits = end > at && end - at <= 10;
    for (std::size_t i = at; digits && i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') digits = false;
      id = id * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (digits && id > 0 && id < 0xFFFFFFFFu) ids.push_back(static_cast<std::uint32_t>(id));
    at = end + 1;
  }
  return ids;
}

}  // namespace

// A delete writes the index first and removes the files after, so a program stopped in
// between leaves files of messages no folder lists. The journal it wrote first names them:
// their files go now. A message some folder lists again keeps its files, and a journal of a
// delete still running in another program costs it nothing (it removes what is left).
std::u16string MessageStore::WriteDeleteJournal(const std::vector<std::uint32_t>& ids) {
  if (readOnly_ || ids.empty()) return {};
  static std::uint32_t serial = 0;
  std::string text;
  for (std::uint32_t id : ids) text += std::to_string(id) + "\n";
  text += kDeleteJournalEnd;
  const std::u16string path = root_ + platform::Utf8ToUtf16(std::to_string(::getpid()) + "-" +
                                                            std::to_string(++serial) + ".deleting");
  if (platform::WriteFile(path, text)) return path;
  platform::DeleteFile(path);
  return {};
}

void MessageStore::FinishInterruptedDeletes() {
  if (readOnly_) return;
  std::vector<platform::DirectoryEntry> files;
  if (!platform::ListDirectory(root_, files, kDeleteJournalPattern)) return;
  std::set<std::uint32_t> listed;
  for (auto& folder : folders_)
    for (auto& entry : folder->entries_) listed.insert(entry->Id());
  for (const auto& file : files) {
    if (file.isDirectory) continue;
    const std::u16string path = root_ + file.name;
    for (std::uint32_t id : ReadDeleteJournal(path))
      if (!listed.count(id)) MessageEntry(id, root_).DeleteFiles();
    platform::DeleteFile(path);
  }
}

namespace {

// "17.DAT" or "17.TAG" (any case): the message ID, else 0.
std::uint32_t MessageFileId(const std::u16string& name) {
  std::size_t dot = name.find(u'.');
  if (dot == 0 || dot == std::u16string::npos || dot > 9 || name.size() != dot + 4) return 0;
  std::u16string ext = name.substr(dot + 1);
  for (char16_t& c : ext)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  if (ext != u"DAT" && ext != u"TAG") return 0;
  std::uint64_t id = 0;
  for (std::size_t i = 0; i < dot; ++i) {
    if (name[i] < u'0' || name[i] > u'9') return 0;
    id = id * 10 + static_cast<std::uint64_t>(name[i] - u'0');
  }
  return id > 0 && id < 0xFFFFFFFFu ? static_cast<std::uint32_t>(id) : 0;
}

// Modification time of a file in the stored date form (seconds of the local clock).
std::uint32_t FileDate(const std::u16string& path) {
  struct stat st{};
  if (::stat(platform::NativePath(path).c_str(), &st) != 0) return LocalNow();
  std::time_t t = st.st_mtime;
  std::tm local{};
  localtime_r(&t, &local);
  return static_cast<std::uint32_t>(t + local.tm_gmtoff);
}

}  // namespace

// Rebuilds folders whose index and backup are both unreadable from the message files that
// no readable folder lists: a body (".DAT") makes a multimedia message, an options file
// alone a notification (it has an expiry) or a delivery report. The damaged files are kept
// beside, with ".damaged" appended. The messages go to the first damaged folder; ones that
// would land in the Outbox go to Draft, so that nothing is sent again unasked.
void MessageStore::RebuildDamaged(const std::vector<FolderId>& damaged) {
  std::set<std::uint32_t> listed;
  for (auto& folder : folders_)
    for (auto& entry : folder->entries_) listed.insert(entry->Id());
  std::set<std::uint32_t> found;
  std::vector<platform::DirectoryEntry> files;
  if (platform::ListDirectory(root_, files, u"*"))
    for (const auto& file : files)
      if (!file.isDirectory)
        if (std::uint32_t id = MessageFileId(file.name); id && !listed.count(id)) found.insert(id);

  FolderId home = damaged.front();
  for (FolderId id : damaged)
    if (id != FolderId::Outbox) {
      home = id;
      break;
    }
  if (home == FolderId::Outbox) home = FolderId::Draft;
  MessageFolder* target = Folder(home);
  std::size_t recovered = 0;
  for (std::uint32_t id : found) {
    auto entry = std::make_unique<MessageEntry>(id, root_);
    RaiseMaxId(id);
    MessageSummary& s = entry->Summary();
    const std::u16string body = entry->BodyPath();
    if (platform::FileExists(body)) {
      s.SetMessageType(kTypeMultimedia);
      std::int64_t size = platform::FileSize(body);
      s.SetSize(size < 0 ? 1 : static_cast<std::uint32_t>(std::min<std::int64_t>(size, 0xFFFFFFFF)));
      s.SetDate(FileDate(body));
    } else {
      const SendOptionsRecord* options = entry->Options();
      if (!options) continue;  // a damaged options file alone says nothing
      s.SetMessageType(options->expiryForm != 0 ? kTypeNotification : kTypeDeliveryReport);
      s.SetDate(FileDate(entry->OptionsPath()));
      entry->DropOptions();
    }
    s.SetStateFlags(kStateComplete | kStateUnread);
    target->Add(std::move(entry));
    ++recovered;
  }
  for (FolderId id : damaged) {
    MessageFolder* folder = Folder(id);
    IndexRecovery report;
    report.folder = id;
    report.recovered = id == home ? recovered : 0;
    const std::u16string index = folder->IndexPath();
    if (!readOnly_) {
      // A ".damaged" copy of an earlier rebuild is kept too: the newer one takes a number.
      std::u16string aside = index + u".damaged";
      for (int n = 2; platform::PathExists(aside) && n < 1000; ++n)
        aside = index + u".damaged" + platform::Utf8ToUtf16(std::to_string(n));
      if (platform::PathExists(index) && platform::MoveFile(index, aside, false)) report.damagedAside = aside;
      if (platform::PathExists(index + u".bak")) platform::MoveFile(index + u".bak", aside + u".bak", false);
    }
    recoveries_.push_back(report);
  }
  if (!readOnly_) {
    for (FolderId id : damaged) Folder(id)->Save();
    if (std::find(damaged.begin(), damaged.end(), home) == damaged.end()) target->Save();
  }
}

MessageFolder* MessageStore::Folder(FolderId id) {
  auto index = static_cast<std::uint32_t>(id);
  return index < kFolderCount ? folders_[index].get() : nullptr;
}

void MessageStore::RaiseMaxId(std::uint32_t id) {
  if (id != 0xFFFFFFFFu && id > maxId_) maxId_ = id;
}

std::uint32_t MessageStore::AllocateMessageId() {
  bool locked = Acquire(idLock_);
  DWORD stored = internal::ReadDword(kStoreKey, kMaxIdValue, 0);
  if (stored > maxId_) maxId_ = stored;
  std::uint32_t id = ++maxId_;
  internal::WriteDword(kStoreKey, kMaxIdValue, id);
  if (locked) ReleaseMutex(idLock_);
  return id;
}

bool MessageStore::Lists(const MessageEntry* entry) {
  for (auto& folder : folders_)
    if (folder && folder->Lists(entry)) return true;
  return false;
}

std::unique_ptr<MessageEntry> MessageStore::NewEntry() {
  return std::make_unique<MessageEntry>(AllocateMessageId(), root_);
}

bool MessageStore::SaveAll() {
  bool ok = true;
  for (FolderId id : {FolderId::Draft, FolderId::Inbox, FolderId::Outbox, FolderId::Sent})
    if (MessageFolder* folder = Folder(id)) ok = folder->Save() && ok;
  return ok;
}

bool MessageStore::Move(std::uint32_t messageId, FolderId from, FolderId to) {
  MessageFolder* source = Folder(from);
  MessageFolder* target = Folder(to);
  if (!source || !target) return false;
  auto entry = source->Remove(messageId);
  if (!entry) return false;
  target->Add(std::move(entry));
  // The target is saved first: a failure in between leaves the message listed twice, never
  // in no folder at all.
  bool ok = target->Save();
  return source->Save() && ok;
}

std::unique_ptr<MessageEntry> MessageStore::Copy(MessageEntry& entry) {
  SendOptionsRecord* options = entry.Options();
  if (!options) return nullptr;
  auto copy = NewEntry();
  MessageSummary& s = copy->Summary();
  const MessageSummary& from = entry.Summary();
  s.SetStateFlagsNew(kStateComplete);
  s.SetSize(from.Size());
  s.SetFrom(from.From());
  s.SetTo(from.To());
  s.SetSubject(from.Subject());
  s.SetDate(from.Date());
  s.SetMessageType(from.MessageType());
  s.SetPriority(0);
  s.SetMinute(0);
  copy->SetOptions(*options);
  // A body file already under the new ID is never overwritten or removed: it belongs to
  // some other message.
  if (!platform::CopyFile(entry.BodyPath(), copy->BodyPath(), true)) {
    internal::DeleteKey(copy->RetryKey().c_str());
    return nullptr;
  }
  if (!copy->SaveOptions()) {
    copy->DeleteFiles();
    return nullptr;
  }
  return copy;
}

bool MessageStore::Delete(FolderId folderId, std::uint32_t messageId) {
  MessageFolder* folder = Folder(folderId);
  if (!folder) return false;
  MessageSummary summary(nullptr);
  if (!folder->CopySummary(messageId, summary)) return false;
  if ((summary.StateFlags() & (kStateInProgress | kStateQueued | kStateWaitRetry)) && listener_)
    listener_->CancelJobWanted(messageId);
  // The engine lets go of the message now: a job left in its list would outlive the entry.
  if (sink_) sink_->Withdraw(messageId);
  auto entry = folder->Remove(messageId);
  if (!entry) return internal::Refused("no such message in that folder");
  // The index is written first: a message whose index still lists it keeps its files. Only
  // then go the files; a file that cannot go is left over, never a listed message without
  // them, and the journal has the next open remove it.
  const std::u16string journal = WriteDeleteJournal({messageId});
  if (!folder->Save()) {
    folder->Add(std::move(entry));
    if (!journal.empty()) platform::DeleteFile(journal);
    return false;
  }
  entry->DeleteFiles();
  if (!journal.empty()) platform::DeleteFile(journal);
  return true;
}

bool MessageStore::DeleteSelected(FolderId folderId, const std::vector<std::uint32_t>& ids) {
  MessageFolder* folder = Folder(folderId);
  if (!folder) return false;
  // The message whose transfer is in progress is cancelled and deleted last.
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> last;
  for (std::uint32_t id : ids) {
    MessageSummary summary(nullptr);
    if (folder->CopySummary(id, summary) && (summary.StateFlags() & kStateInProgress))
      last.push_back(id);
    else
      order.push_back(id);
  }
  order.insert(order.end(), last.begin(), last.end());
  // As Delete, but the index is written once for all of them: a save per message made
  // deleting a large folder take minutes.
  bool ok = true;
  std::vector<std::unique_ptr<MessageEntry>> removed;
  for (std::uint32_t id : order) {
    MessageSummary summary(nullptr);
    if (!folder->CopySummary(id, summary)) {
      ok = false;
      continue;
    }
    if ((summary.StateFlags() & (kStateInProgress | kStateQueued | kStateWaitRetry)) && listener_)
      listener_->CancelJobWanted(id);
    if (sink_) sink_->Withdraw(id);
    auto entry = folder->Remove(id);
    if (!entry) {
      ok = false;
      continue;
    }
    removed.push_back(std::move(entry));
  }
  if (removed.empty()) return ok;
  std::vector<std::uint32_t> removedIds;
  for (auto& entry : removed) removedIds.push_back(entry->Id());
  const std::u16string journal = WriteDeleteJournal(removedIds);
  if (!folder->Save()) {
    for (auto& entry : removed) folder->Add(std::move(entry));
    if (!journal.empty()) platform::DeleteFile(journal);
    return false;
  }
  for (auto& entry : removed) entry->DeleteFiles();
  if (!journal.empty()) platform::DeleteFile(journal);
  return ok;
}

MessageEntry* MessageStore::FindAnnounced(std::u16string_view transactionId, std::u16string_view location) {
  MessageEntry* found = nullptr;
  Folder(FolderId::Inbox)->ForEach([&](MessageEntry& e) {
    const MessageSummary& s = e.Summary();
    if (s.MessageType() != kTypeNotification && s.MessageType() != kTypeMultimedia) return true;
    if ((!transactionId.empty() && s.TransactionId() == transactionId) ||
        (!location.empty() && s.ContentLocation() == location))
      found = &e;
    return found == nullptr;
  });
  return found;
}

std::uint32_t MessageStore::PushReceived(const std::uint8_t* data, std::size_t size, bool* repeated) {
  if (repeated) *repeated = false;
  MessageFolder* inbox = Folder(FolderId::Inbox);
  if (!inbox || !data || size < 2) return 0;
  mms::PushKind kind = mms::ClassifyPush(data, size);
  if (kind != mms::PushKind::Notification && kind != mms::PushKind::DeliveryReport &&
      kind != mms::PushKind::ReadReport)
    return 0;
  std::size_t offset = 0;
  if (!mms::LocateMmsPdu(data, size, &offset) || offset >= size) return 0;
  const std::uint8_t* pdu = data + offset;
  std::size_t length = size - offset;
  auto entry = NewEntry();
  mms::MmsHeaders headers;
  bool ok = false;
  mms::NotificationInfo notification;
  mms::DeliveryInfo report;
  mms::ReadReportInfo readReport;
  mms::ClearHeaders(headers);
  if (kind == mms::PushKind::Notification) {
    if (!mms::DecodeNotification(headers, pdu, length, notification)) return 0;
    // The network sends a notification again when it did not hear the answer: the message
    // it announces is answered again, never filed (or fetched) twice.
    if (MessageEntry* known = FindAnnounced(platform::Utf8ToUtf16(notification.transactionId),
                                            platform::Utf8ToUtf16(notification.contentLocation))) {
      if (repeated) *repeated = true;
      if (listener_) listener_->NotificationRepeated(known);
      return known->Id();
    }
    ok = entry->StoreNotification(notification, LocalNow());
  } else if (kind == mms::PushKind::DeliveryReport) {
    if (!mms::DecodeDeliveryReport(headers, pdu, length, report)) return 0;
    ok = entry->StoreDeliveryReport(report, LocalNow());
  } else {
    if (!mms::DecodeReadReport(headers, pdu, length, readReport)) return 0;
    ok = entry->StoreReadReport(readReport, LocalNow());
  }
  if (!ok) {
    entry->DeleteFiles();
    return 0;
  }
  entry->Summary().SetStateFlagsNew(kStateNotFetched | kStateComplete);
  std::uint32_t id = entry->Id();
  MessageEntry* raw = entry.get();
  if (!inbox->Add(std::move(entry)) || !inbox->Save()) {
    if (auto back = inbox->Remove(id)) back->DeleteFiles();
    return 0;
  }
  if (listener_) {
    if (kind == mms::PushKind::Notification)
      listener_->NotificationStored(raw);
    else
      listener_->DeliveryReportStored(raw);
  }
  return id;
}

}  // namespace store
