#pragma once
/// The store's records: the folder and state numbers, a message's send options, its index
/// summary and its entry with the per-message files (".DAT" body, ".TAG" options, the parts
/// directory) and the retry record in the registry.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/keys.h"
#include "mms/mms_pdu.h"
#include "platform/types.h"

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

/// Lock time-out of both folder locks.
inline constexpr DWORD kLockTimeoutMs = 2000;
/// The strings of one index record (with their six terminators) fit in this many bytes.
inline constexpr std::size_t kRecordStringBytes = 10400;

inline constexpr const char16_t* kStoreKey = config::kStoreKey;
inline constexpr const char16_t* kMaxIdValue = u"MSG_MAX_ID";
inline constexpr const char16_t* kUaKey = config::kRootKey;
inline constexpr const char16_t* kNotificationCountValue = u"NotificationCount";
inline constexpr const char16_t* kRetryKey = config::kRetryKey;

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
  /// A report filed as `type`: To = `address`, the report's message ID, and its date and
  /// status in the options (saved, then dropped).
  bool StoreReport(std::uint32_t type, const std::string& address, const std::string& messageId,
                   std::uint32_t date, std::uint8_t status, std::uint32_t now);

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

}  // namespace store
