#pragma once
/// The message store: four folders (Inbox, Outbox, Draft, Sent) in one directory, each an
/// ordered list of entries whose summaries live in one index file per folder, plus the
/// per-message files (".DAT" body, ".TAG" options, the parts directory) and the retry record
/// in the registry. Message IDs are unique across folders, so moving a message only touches
/// the two index files.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mms/mms_pdu.h"
#include "platform/types.h"
#include "platform/window.h"

namespace presentation {
class MessageDocument;
}

namespace store {

enum class FolderId : std::uint32_t { Inbox = 0, Outbox = 1, Draft = 2, Sent = 3 };
inline constexpr int kFolderCount = 4;

/// `MessageType` values.
inline constexpr std::uint32_t kTypeMultimedia = 1;
inline constexpr std::uint32_t kTypeNotification = 3;
inline constexpr std::uint32_t kTypeDeliveryReport = 4;
/// A read report: filed like a delivery report; its status is the X-Mms-Read-Status.
inline constexpr std::uint32_t kTypeReadReport = 5;

/// `StateFlags`: low word read/unread, high word transfer state.
inline constexpr std::uint32_t kStateRead = 1;
inline constexpr std::uint32_t kStateUnread = 2;
inline constexpr std::uint32_t kStateComplete = 0x10000;
inline constexpr std::uint32_t kStateQueued = 0x20000;
inline constexpr std::uint32_t kStateInProgress = 0x40000;
inline constexpr std::uint32_t kStateFailed = 0x80000;
inline constexpr std::uint32_t kStateWaitRetry = 0x100000;
inline constexpr std::uint32_t kStateNotFetched = 0x1000000;

/// `ExtraFlags` bits.
inline constexpr std::uint32_t kExtraComposed = 1;
inline constexpr std::uint32_t kExtraAlphaTag = 4;

/// Sort keys.
inline constexpr int kSortFrom = 1, kSortSize = 2, kSortDate = 3, kSortSubject = 4, kSortTo = 5;

/// Window messages the store exchanges with the UI frame and the engine.
inline constexpr unsigned kMsgSendFinished = 0x400 + 205;        ///< 1229, wParam 1/0, lParam entry
inline constexpr unsigned kMsgFetchFinished = 0x400 + 206;       ///< 1230
inline constexpr unsigned kMsgNotifyRespFinished = 0x400 + 207;  ///< 1231
inline constexpr unsigned kMsgSendStarts = 0x400 + 208;          ///< 1232
inline constexpr unsigned kMsgFetchStarts = 0x400 + 209;         ///< 1233
inline constexpr unsigned kMsgNotifyRespStarts = 0x400 + 210;    ///< 1234
inline constexpr unsigned kMsgBearerState = 0x400 + 213;         ///< 1237
inline constexpr unsigned kMsgNotificationStored = 0x400 + 211;
inline constexpr unsigned kMsgDeliveryReportStored = 0x400 + 212;
inline constexpr unsigned kMsgStoreStarted = 0x400 + 214;
inline constexpr unsigned kMsgNavigate = 0x400 + 215;
inline constexpr unsigned kNavigateQueueFetch = 6;
inline constexpr unsigned kNavigateCancelJob = 8;
inline constexpr unsigned kNavigateOpen = 10;

/// Lock time-out of both folder locks.
inline constexpr DWORD kLockTimeoutMs = 2000;
/// The strings of one index record (with their six terminators) fit in this many bytes.
inline constexpr std::size_t kRecordStringBytes = 10400;

inline constexpr const char16_t* kStoreKey = u"\\SOFTWARE\\Corvane\\RU15";
inline constexpr const char16_t* kMaxIdValue = u"MSG_MAX_ID";
inline constexpr const char16_t* kUaKey = u"\\SOFTWARE\\Corvane\\Corvane MMS UA";
inline constexpr const char16_t* kNotificationCountValue = u"NotificationCount";
inline constexpr const char16_t* kRetryKey = u"\\SOFTWARE\\Corvane\\RU15\\MSG_SR_STATE";

class MessageEntry;
class MessageFolder;
class MessageStore;

/// The 32-byte send options of a message; byte values are MMS header tokens.
struct SendOptionsRecord {
  std::uint8_t status = 0;
  std::uint8_t messageClass = 128;
  std::uint8_t priority = 129;
  std::uint8_t senderVisibility = 129;
  std::uint32_t deliveryReport = 0;
  std::uint32_t readReply = 0;
  std::uint32_t expiryForm = 0;
  std::uint32_t deliveryTimeForm = 0;
  std::uint32_t date = 0;
  std::uint32_t expiry = 0;
  std::uint32_t deliveryTime = 0;
  bool operator==(const SendOptionsRecord&) const = default;
};
inline constexpr std::size_t kOptionsRecordSize = 32;
inline constexpr std::size_t kOptionsFileSize = 37;
inline constexpr std::uint8_t kOptionsMarker = 0x99;

/// The 37-byte options file: marker, record, total length.
std::string EncodeOptionsFile(const SendOptionsRecord& record);
/// None unless the size is at least 5, the marker is 0x99, the last four bytes equal the
/// size and the record fits after the marker.
std::optional<SendOptionsRecord> DecodeOptionsFile(std::string_view bytes);

class MessageSummary {
 public:
  explicit MessageSummary(MessageEntry* owner) : owner_(owner) {}
  MessageSummary(const MessageSummary&) = default;
  MessageSummary& operator=(const MessageSummary&) = default;

  std::uint32_t InUse() const { return inUse_; }
  void SetInUse(std::uint32_t v) { inUse_ = v; }
  std::uint32_t MessageId() const { return messageId_; }
  void SetMessageId(std::uint32_t v) { messageId_ = v; }
  std::uint32_t Size() const { return size_; }
  void SetSize(std::uint32_t v) { size_ = v; }
  std::uint32_t MessageType() const { return messageType_; }
  void SetMessageType(std::uint32_t v) { messageType_ = v; }
  std::uint32_t StateFlags() const { return state_; }
  /// Stores the state as given and keeps the owning folder's unread counter right.
  void SetStateFlags(std::uint32_t v);
  /// The "new" form: keeps the high word of `v` and marks the message unread.
  void SetStateFlagsNew(std::uint32_t v) { SetStateFlags((v & 0xFFFF0000u) | kStateUnread); }
  std::uint32_t Date() const { return date_; }
  void SetDate(std::uint32_t v) { date_ = v; }
  std::uint32_t ExtraFlags() const { return extraFlags_; }
  void SetExtraFlags(std::uint32_t v) { extraFlags_ = v; }
  const std::u16string& From() const { return from_; }
  void SetFrom(std::u16string v) { from_ = std::move(v); }
  const std::u16string& To() const { return to_; }
  void SetTo(std::u16string v) { to_ = std::move(v); }
  const std::u16string& Subject() const { return subject_; }
  void SetSubject(std::u16string v) { subject_ = std::move(v); }
  const std::u16string& ContentLocation() const { return contentLocation_; }
  void SetContentLocation(std::u16string v) { contentLocation_ = std::move(v); }
  const std::u16string& TransactionId() const { return transactionId_; }
  void SetTransactionId(std::u16string v) { transactionId_ = std::move(v); }
  const std::u16string& MmsMessageId() const { return mmsMessageId_; }
  void SetMmsMessageId(std::u16string v) { mmsMessageId_ = std::move(v); }
  MessageEntry* Owner() const { return owner_; }
  void SetOwner(MessageEntry* owner) { owner_ = owner; }

  /// Failed send attempts so far, kept in the entry's retry record.
  DWORD Priority() const;
  bool SetPriority(DWORD v) const;
  /// Minutes until the next automatic attempt, kept in the retry record.
  DWORD Minute() const;
  bool SetMinute(DWORD v) const;

  /// Copies every field but the owner.
  void CopyFieldsFrom(const MessageSummary& other);

 private:
  std::uint32_t inUse_ = 0;
  std::uint32_t messageId_ = 0xFFFFFFFFu;
  std::uint32_t size_ = 0;
  std::uint32_t messageType_ = kTypeMultimedia;
  std::uint32_t state_ = 0;
  std::uint32_t date_ = 0;
  std::u16string from_, to_, subject_, contentLocation_, transactionId_, mmsMessageId_;
  std::uint32_t extraFlags_ = 0;
  MessageEntry* owner_ = nullptr;
};

class MessageEntry {
 public:
  /// `storeDirectory` ends with the path separator.
  MessageEntry(std::uint32_t messageId, std::u16string storeDirectory);
  ~MessageEntry();
  MessageEntry(const MessageEntry&) = delete;
  MessageEntry& operator=(const MessageEntry&) = delete;

  MessageSummary& Summary() { return summary_; }
  const MessageSummary& Summary() const { return summary_; }
  std::uint32_t Id() const { return summary_.MessageId(); }
  const std::u16string& StoreDirectory() const { return storeDirectory_; }
  MessageFolder* Folder() const { return folder_; }
  void SetFolder(MessageFolder* folder) { folder_ = folder; }

  std::u16string BodyPath() const;
  std::u16string OptionsPath() const;
  /// The parts directory, made (with missing parents) when its name is built.
  std::u16string PartsDirectory() const;
  /// The parts directory's name without making it.
  std::u16string PartsDirectoryName() const;
  std::u16string RetryKey() const;

  /// The options, read from the options file on first use; none when the file is invalid.
  SendOptionsRecord* Options();
  void DropOptions() {
    options_.reset();
    optionsLoaded_ = false;
  }
  /// Replaces the options in memory (used by the records made from PDUs and by copy).
  void SetOptions(const SendOptionsRecord& record);
  /// Writes the options through "UA_Detail.tmp"; the old file stays on any failure.
  bool SaveOptions();
  /// The message's document, loaded from the body file into the parts directory on first
  /// use; only for multimedia messages, none otherwise or when the body cannot be read.
  presentation::MessageDocument* OpenDocument();
  /// Makes an empty document for a message being composed (replacing any open one).
  presentation::MessageDocument* NewDocument();
  /// Writes "mms.smil" and the body file from the open document.
  bool SaveDocument();
  /// True when the body file holds a DRM-protected part (false when it cannot be read).
  bool HasProtectedContent() const;
  /// Destroys the document and deletes the parts directory with everything in it.
  void DropDocument();
  /// Deletes the parts directory, the body and options files and the retry record.
  bool DeleteFiles();

  /// Records made from the PDUs the engine hands over; each saves and drops the options.
  bool StoreNotification(const mms::NotificationInfo& info, std::uint32_t now);
  bool StoreDeliveryReport(const mms::DeliveryInfo& info, std::uint32_t now);
  /// To = the recipient who read (or deleted unread) the message, Message-ID, and in the
  /// options the report's Date and Read-Status.
  bool StoreReadReport(const mms::ReadReportInfo& info, std::uint32_t now);
  bool StoreFetchedMessage(const mms::RetrieveResult& result, std::uint32_t now);

 private:
  std::u16string storeDirectory_;
  MessageSummary summary_;
  std::unique_ptr<SendOptionsRecord> options_;
  bool optionsLoaded_ = false;
  std::unique_ptr<presentation::MessageDocument> document_;
  MessageFolder* folder_ = nullptr;
};

/// Reads an index file's bytes into entries for `storeDirectory`; false for a bad file.
/// `maxId` is raised to the largest message ID read.
bool ParseIndex(std::string_view bytes, const std::u16string& storeDirectory,
                std::vector<std::unique_ptr<MessageEntry>>& entries, std::uint32_t& maxId);
/// The bytes of an index file for `entries` of folder `folderId`.
std::string BuildIndex(FolderId folderId, const std::vector<const MessageSummary*>& entries);

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
  bool Release(MessageEntry* entry);
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

/// Retry settings of the UI configuration.
struct RetrySettings {
  DWORD tryDefault = 0;  ///< maximum attempts, at most 5
  /// Wait in minutes after failure `n` (1-based), 60 when not configured.
  DWORD Interval(DWORD n) const;
  std::vector<DWORD> intervals;
  static RetrySettings Read();
};

/// Events that change a stored message's transfer state.
enum class StateEvent {
  StoredComposed = 1,
  QueuedSend = 2,
  RequeuedSend = 3,
  RequeuedFetch = 4,
  QueuedFetch = 5,
  StartedSend = 6,
  StartedFetch = 7,
  Sent = 8,
  SendFailedRetry = 9,
  SendFailedFinal = 10,
  Fetched = 11,
  FetchFailed = 12,
  NotifyResponseFinished = 13,
  BackToDraft = 14,
};
/// The high word an event gives; every event writes the state in the new (unread) form.
std::uint32_t StateAfter(StateEvent event);

/// What a failed send does to the retry record.
struct SendFailure {
  DWORD priority = 0;  ///< failed attempts, including this one
  DWORD minute = 0;    ///< wait before the next attempt
  bool final = false;  ///< no attempts left
};
SendFailure AfterSendFailure(DWORD priority, DWORD minute, const RetrySettings& settings);

/// What the Outbox pass does with one entry after a restart.
struct OutboxAction {
  bool queue = false;      ///< hand it to the engine
  bool keepState = false;  ///< queue keeping the state below (else queued afresh)
  std::optional<std::uint32_t> plainState;
  std::optional<DWORD> priority;
  std::optional<DWORD> minute;
};
OutboxAction OutboxPassAction(std::uint32_t state, bool autoResend, DWORD tryDefault);

/// A request to compose a message from files handed over by another program.
struct ComposeRequest {
  bool useAlphaTag = false;
  std::u16string recipients, moreRecipients;
  std::u16string image, audio, video, text;  ///< paths; empty when not given
};

/// Transfer job kinds.
inline constexpr int kJobSend = 1, kJobFetch = 2, kJobNotifyResponse = 3;

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

class MessageStore {
 public:
  MessageStore();
  ~MessageStore();
  MessageStore(const MessageStore&) = delete;
  MessageStore& operator=(const MessageStore&) = delete;

  /// `root` ends with the separator (one is added otherwise). False for an empty root.
  bool Open(const std::u16string& root);
  const std::u16string& Root() const { return root_; }
  MessageFolder* Folder(FolderId id);
  std::uint32_t AllocateMessageId();
  std::unique_ptr<MessageEntry> NewEntry();
  /// Saves Draft, Inbox, Outbox and Sent in that order.
  bool SaveAll();
  /// Raised by every index load.
  void RaiseMaxId(std::uint32_t id);
  std::uint32_t MaxId() const { return maxId_; }

  /// The UI frame that receives the navigation requests (cancel job, open); may be null.
  void SetFrameWindow(HWND frame) { frame_ = frame; }

  /// A copy of `entry` with a new ID, state complete-unread, its options and body copied.
  std::unique_ptr<MessageEntry> Copy(MessageEntry& entry);
  bool Delete(FolderId folder, std::uint32_t messageId);
  bool DeleteSelected(FolderId folder, const std::vector<std::uint32_t>& ids);

  /// Applies a push body: a notification, delivery report or read report becomes an unread
  /// Inbox entry.
  /// Returns the new message ID, 0 when the body is refused.
  std::uint32_t PushReceived(const std::uint8_t* data, std::size_t size);

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
  /// Hands a checked-out entry to the engine: kind kJobSend, kJobFetch or kJobNotifyResponse.
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
  std::u16string root_;
  std::array<std::unique_ptr<MessageFolder>, kFolderCount> folders_;
  std::uint32_t maxId_ = 0;
  HANDLE idLock_ = nullptr;
  HWND frame_ = nullptr;
  TransferSink* sink_ = nullptr;
};

/// Seconds since 1970 of the local clock and time zone, as stored dates are kept.
std::uint32_t LocalNow();

namespace testing {
/// Makes the `n`-th file write or rename of the store from now on fail (1-based), and every
/// one after it, as if the process had been killed there; 0 turns the hook off. Returns how many operations
/// ran since the last call.
int SetFailAfter(int n);
}  // namespace testing

}  // namespace store
