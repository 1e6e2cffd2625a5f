#pragma once
/// The message store: four folders (Inbox, Outbox, Draft, Sent) in one directory, each an
/// ordered list of entries whose summaries live in one index file per folder. Message IDs are
/// unique across folders, so moving a message only touches the two index files.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mms/mms_pdu.h"
#include "platform/types.h"
#include "platform/window.h"
#include "store/records.h"
#include "store/store_messages.h"
#include "store/transfer_rules.h"

namespace store {

class MessageFolder {
 public:
  MessageFolder(FolderId id, MessageStore* store);
  ~MessageFolder();
  MessageFolder(const MessageFolder&) = delete;
  MessageFolder& operator=(const MessageFolder&) = delete;

  FolderId Id() const { return id_; }
  const std::u16string& IndexPath() const { return indexPath_; }
  bool Load(const std::u16string& indexPath);
  bool Save();
  bool Add(std::unique_ptr<MessageEntry> entry);
  std::unique_ptr<MessageEntry> Remove(std::uint32_t messageId);
  MessageEntry* CheckOut(std::uint32_t messageId);
  /// Hands a checked-out entry back; false (and nothing touched) when it is no longer listed
  /// in the store, e.g. deleted while it was out.
  bool Release(MessageEntry* entry);
  /// Whether `entry` is one of this folder's entries.
  bool Lists(const MessageEntry* entry);
  int Count();
  /// Calls `callback` for every entry in order; a result of false stops the walk.
  template <typename F>
  bool ForEach(F&& callback);
  bool CopySummary(std::uint32_t messageId, MessageSummary& destination);
  bool Sort(int key, bool reverse);
  int UnreadCount() const { return unread_; }
  /// Applied by the summaries' state setter.
  void AdjustUnread(int delta);

 private:
  friend class MessageStore;
  bool LockList();
  void UnlockList();
  bool ReadIndex(const std::u16string& path);
  /// Set by Load when the index and its backup exist but neither can be read.
  bool damaged_ = false;
  void ClearEntries();

  FolderId id_;
  MessageStore* store_;
  std::u16string indexPath_;
  std::vector<std::unique_ptr<MessageEntry>> entries_;
  HANDLE listLock_ = nullptr;
  HANDLE entryLock_ = nullptr;
  int unread_ = 0;
};

template <typename F>
bool MessageFolder::ForEach(F&& callback) {
  if (!LockList()) return false;
  for (auto& entry : entries_)
    if (!callback(*entry)) break;
  UnlockList();
  return true;
}

/// A request to compose a message from files handed over by another program.
struct ComposeRequest {
  bool useAlphaTag = false;
  std::u16string recipients, moreRecipients;
  std::u16string image, audio, video, text;  ///< paths; empty when not given
  std::u16string subject;                    ///< stored with the message in the same save
};

/// Why the last failed store operation of the calling thread failed: the file that could
/// not be written (with the system's reason), or what was refused.
struct StoreFailure {
  std::u16string path;  ///< empty when no file is to blame
  int error = 0;        ///< errno of the failed call (ENOSPC, EROFS, ...), 0 when none
  std::string what;     ///< a refusal in words when no file is to blame
};
const StoreFailure& LastFailure();
/// "cannot write /.../Draft.inf: the disk is full"; "" when nothing failed.
std::string DescribeLastFailure();
void ClearLastFailure();

/// A folder whose index and backup were both unreadable, rebuilt from the message files.
struct IndexRecovery {
  FolderId folder = FolderId::Inbox;
  std::size_t recovered = 0;   ///< messages found again
  std::u16string damagedAside;  ///< where the damaged index went (".damaged" appended)
};

/// True when the summary's six texts fit an index record whole; longer ones cannot be
/// stored (see kRecordStringBytes).
bool SummaryFits(const MessageSummary& summary);

/// The engine's job queue as the store sees it. `Queue` applies the queuing rules: a message
/// in transfer is left alone, one already listed only gets Minute 0 and its queued state, any
/// other gets a new job (sends with Priority 0, Minute 0 and the queued state unless
/// `keepState`; fetches with 0x1020000, new form).
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  virtual bool Queue(MessageEntry* entry, int kind, bool keepState) = 0;
  /// Lets the engine start its next job after a finished one.
  virtual void JobDone() {}
  /// True while a worker runs a transfer; the store then refuses to close.
  virtual bool Busy() const { return false; }
  /// Forgets every job of the message (cancelling it when it runs); called before the
  /// message is deleted, so no job outlives its message.
  virtual void Withdraw(std::uint32_t /*messageId*/) {}
};

/// What the store tells its front end. Every call comes on the thread that changed the
/// store; a front end with a window turns them into posted messages (see `WindowStoreListener`
/// in "store/store_window.h") so they are handled from its message loop.
class StoreListener {
 public:
  virtual ~StoreListener() = default;
  /// The folders are loaded: the Outbox pass is due.
  virtual void StoreOpened() {}
  /// A notification or delivery report was added to the Inbox; `entry` stays the Inbox's.
  virtual void NotificationStored(MessageEntry* /*entry*/) {}
  virtual void DeliveryReportStored(MessageEntry* /*entry*/) {}
  /// A notification came again for `entry` (a notification or a message fetched already),
  /// which stays as it is: its answer must go out again.
  virtual void NotificationRepeated(MessageEntry* /*entry*/) {}
  /// A deferred notify-response went out and messages are retrieved at once: fetch it now.
  virtual void FetchWanted(std::uint32_t /*messageId*/) {}
  /// A message with a queued or running job is being deleted: drop the job.
  virtual void CancelJobWanted(std::uint32_t /*messageId*/) {}
  /// A message composed from a hand-over request was stored in Draft: open it.
  virtual void ComposedStored(std::uint32_t /*messageId*/) {}
};

class MessageStore {
 public:
  MessageStore();
  ~MessageStore();
  MessageStore(const MessageStore&) = delete;
  MessageStore& operator=(const MessageStore&) = delete;

  /// `root` ends with the separator (one is added otherwise). False for an empty root.
  bool Open(const std::u16string& root);
  /// Before Open: read the store without writing anything (a program that only looks while
  /// another one owns the store). Saves then fail.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ReadOnly() const { return readOnly_; }
  /// Folders that Open had to rebuild from the message files.
  const std::vector<IndexRecovery>& Recoveries() const { return recoveries_; }
  const std::u16string& Root() const { return root_; }
  MessageFolder* Folder(FolderId id);
  std::uint32_t AllocateMessageId();
  std::unique_ptr<MessageEntry> NewEntry();
  /// Whether `entry` is listed in one of the folders.
  bool Lists(const MessageEntry* entry);
  /// Saves Draft, Inbox, Outbox and Sent in that order.
  bool SaveAll();
  /// Raised by every index load.
  void RaiseMaxId(std::uint32_t id);
  std::uint32_t MaxId() const { return maxId_; }

  /// The front end told of what the store does; may be null. Not owned.
  void SetListener(StoreListener* listener) { listener_ = listener; }
  StoreListener* Listener() const { return listener_; }
  /// Makes a `WindowStoreListener` posting to `frame` the listener (null detaches it).
  void SetFrameWindow(HWND frame);

  /// A copy of `entry` with a new ID, state complete-unread, its options and body copied.
  std::unique_ptr<MessageEntry> Copy(MessageEntry& entry);
  bool Delete(FolderId folder, std::uint32_t messageId);
  bool DeleteSelected(FolderId folder, const std::vector<std::uint32_t>& ids);

  /// Applies a push body: a notification, delivery report or read report becomes an unread
  /// Inbox entry. Returns the new message ID, 0 when the body is refused. A notification whose
  /// transaction id or location is that of a notification or fetched message in the Inbox
  /// is not filed again: the result is that message's ID, with *repeated set.
  std::uint32_t PushReceived(const std::uint8_t* data, std::size_t size, bool* repeated = nullptr);

  /// The engine that takes the store's jobs; may be null (then nothing is queued).
  void SetTransferSink(TransferSink* sink) { sink_ = sink; }
  /// The parameters of an m-send-req for the entry; none without options.
  std::optional<mms::SendRequest> SendParameters(MessageEntry& entry);
  /// Result handlers of the engine (messages 1229-1231); `entry` is checked out.
  void SendFinished(MessageEntry* entry, bool success);
  void FetchFinished(MessageEntry* entry, bool success);
  void NotifyResponseFinished(MessageEntry* entry);
  /// Run once after opening (message 1238): requeues what the Outbox still holds.
  void OutboxPass();
  /// Hands a checked-out entry to the engine: kind kJobSend, kJobFetch, kJobNotifyResponse or
  /// kJobAcknowledgeAgain.
  bool QueueTransfer(MessageEntry* entry, int kind, bool keepState = false);
  /// The store window's WM_CLOSE: refused (false) while a transfer runs, else saves Draft,
  /// Inbox, Outbox and Sent; the caller then ends the message loop.
  bool Close();
  /// Draft to Outbox, then queued for sending.
  bool SendFromDraft(std::uint32_t messageId);

  /// Stores a composed message in Draft with one slide of the given media sized for a
  /// `width` × `height` client area; returns its message ID, 0 on failure (nothing is left).
  std::uint32_t NewComposedMessage(const ComposeRequest& request, std::uint32_t width, std::uint32_t height);

  /// Moves an entry (remove, add, save both folders).
  bool Move(std::uint32_t messageId, FolderId from, FolderId to);

 private:
  /// The Inbox notification or fetched message with this transaction id or location.
  MessageEntry* FindAnnounced(std::u16string_view transactionId, std::u16string_view location);

  std::u16string root_;
  std::array<std::unique_ptr<MessageFolder>, kFolderCount> folders_;
  std::uint32_t maxId_ = 0;
  HANDLE idLock_ = nullptr;
  StoreListener* listener_ = nullptr;
  std::unique_ptr<StoreListener> frameListener_;
  TransferSink* sink_ = nullptr;
  bool readOnly_ = false;
  std::vector<IndexRecovery> recoveries_;

  void RebuildDamaged(const std::vector<FolderId>& damaged);
  void ResolveListedTwice();
  /// Names the messages a delete is about to drop in a journal beside the indexes; empty
  /// when it cannot be written (the delete goes on: deleting is how a full disk is freed).
  std::u16string WriteDeleteJournal(const std::vector<std::uint32_t>& ids);
  /// Finishes the deletes a stopped program left half done.
  void FinishInterruptedDeletes();
};

/// Seconds since 1970 of the local clock and time zone, as stored dates are kept.
std::uint32_t LocalNow();

namespace test_hooks {
/// Makes the `n`-th file write or rename of the store from now on fail (1-based), and every
/// one after it, as if the process had been killed there; 0 turns the hook off. Returns how many operations
/// ran since the last call.
int SetFailAfter(int n);
/// The errno the failing operation reports (EIO unless set: ENOSPC for a full disk, EROFS
/// for a read-only one).
void SetFailError(int error);
}  // namespace test_hooks

}  // namespace store
