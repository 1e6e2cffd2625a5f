#include <ctime>

#include "mms/byte_stream.h"
#include "mms/charset.h"
#include "mms/multipart.h"
#include "platform/files.h"
#include "platform/text.h"
#include "presentation/message_document.h"
#include "store/message_store.h"
#include "store_internal.h"

namespace store {
namespace {

std::u16string Decimal(std::uint32_t n) {
  std::u16string text;
  for (char c : std::to_string(n)) text.push_back(static_cast<char16_t>(c));
  return text;
}

// Text of an encoded-string value, converted by its charset.
std::u16string DecodeText(const mms::StringValue& value) {
  return platform::Utf8ToUtf16(mms::ReceivedTextToUtf8(value));
}

std::uint32_t BodySize(const std::u16string& path, std::uint32_t missing) {
  std::int64_t size = platform::FileSize(path);
  if (size < 0) return missing;
  return size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

}  // namespace

std::uint32_t LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<std::uint32_t>(now + local.tm_gmtoff);
}

// ---- MessageSummary ------------------------------------------------------------------------

void MessageSummary::SetStateFlags(std::uint32_t v) {
  bool wasUnread = (state_ & 0xFFFF) == kStateUnread;
  bool isUnread = (v & 0xFFFF) == kStateUnread;
  state_ = v;
  if (wasUnread == isUnread || !owner_ || !owner_->Folder()) return;
  owner_->Folder()->AdjustUnread(isUnread ? 1 : -1);
}

void MessageSummary::CopyFieldsFrom(const MessageSummary& other) {
  MessageEntry* owner = owner_;
  std::uint32_t oldState = state_;
  *this = other;
  owner_ = owner;
  state_ = oldState;
  SetStateFlags(other.state_);
}

DWORD MessageSummary::Priority() const {
  return owner_ ? internal::ReadDword(owner_->RetryKey().c_str(), u"Priority", 0) : 0;
}
bool MessageSummary::SetPriority(DWORD v) const {
  return owner_ && internal::WriteDword(owner_->RetryKey().c_str(), u"Priority", v);
}
DWORD MessageSummary::Minute() const {
  return owner_ ? internal::ReadDword(owner_->RetryKey().c_str(), u"Minute", 0) : 0;
}
bool MessageSummary::SetMinute(DWORD v) const {
  return owner_ && internal::WriteDword(owner_->RetryKey().c_str(), u"Minute", v);
}

// ---- MessageEntry --------------------------------------------------------------------------

MessageEntry::MessageEntry(std::uint32_t messageId, std::u16string storeDirectory)
    : storeDirectory_(std::move(storeDirectory)), summary_(this) {
  summary_.SetMessageId(messageId);
}

MessageEntry::~MessageEntry() = default;

std::u16string MessageEntry::BodyPath() const {
  return storeDirectory_ + Decimal(Id()) + u".DAT";
}
std::u16string MessageEntry::OptionsPath() const {
  return storeDirectory_ + Decimal(Id()) + u".TAG";
}
std::u16string MessageEntry::PartsDirectoryName() const {
  return storeDirectory_ + Decimal(Id()) + platform::kPathSeparator;
}
std::u16string MessageEntry::PartsDirectory() const {
  std::u16string dir = PartsDirectoryName();
  platform::CreateDirectories(dir);
  return dir;
}
std::u16string MessageEntry::RetryKey() const {
  return std::u16string(kRetryKey) + u"\\" + Decimal(Id());
}

SendOptionsRecord* MessageEntry::Options() {
  if (optionsLoaded_) return options_.get();
  optionsLoaded_ = true;
  options_.reset();
  std::u16string path = OptionsPath();
  if (!platform::FileExists(path)) {
    SendOptionsRecord defaults;
    DWORD report = internal::ReadDword(config::kUiKey, u"DeliverReport", 0);
    defaults.deliveryReport = static_cast<std::int32_t>(report) > 0 ? 1 : 0;
    options_ = std::make_unique<SendOptionsRecord>(defaults);
    return options_.get();
  }
  std::string bytes;
  if (!platform::ReadFile(path, bytes)) return nullptr;
  if (auto record = DecodeOptionsFile(bytes)) options_ = std::make_unique<SendOptionsRecord>(*record);
  return options_.get();
}

void MessageEntry::SetOptions(const SendOptionsRecord& record) {
  options_ = std::make_unique<SendOptionsRecord>(record);
  optionsLoaded_ = true;
}

bool MessageEntry::SaveOptions() {
  if (!Options()) return false;
  std::u16string target = OptionsPath();
  // A read-only options file is replaced as well; rename over it needs no write bit on the
  // file itself, but the attribute must not survive into the new file.
  return internal::WriteReplace(target, storeDirectory_ + u"UA_Detail.tmp", EncodeOptionsFile(*options_));
}

void MessageEntry::DropDocument() {
  document_.reset();
  platform::RemoveTree(PartsDirectoryName());
}

presentation::MessageDocument* MessageEntry::OpenDocument() {
  if (document_) return document_.get();
  if (summary_.MessageType() != kTypeMultimedia) return nullptr;
  auto document = std::make_unique<presentation::MessageDocument>();
  if (document->Load(BodyPath(), PartsDirectory()) < 0) {
    platform::RemoveTree(PartsDirectoryName());
    return nullptr;
  }
  document_ = std::move(document);
  return document_.get();
}

presentation::MessageDocument* MessageEntry::NewDocument() {
  DropDocument();
  document_ = std::make_unique<presentation::MessageDocument>();
  return document_.get();
}

bool MessageEntry::SaveDocument() {
  return document_ && document_->Save(PartsDirectory(), BodyPath()) == 1;
}

bool MessageEntry::HasProtectedContent() const {
  auto stream = mms::ByteStream::OpenFile(BodyPath(), mms::ByteStream::kRead);
  if (!stream) return false;
  auto package = mms::MultipartPackage::Parse(std::move(stream));
  return package && package->HasDrmContent();
}

bool MessageEntry::DeleteFiles() {
  DropDocument();
  DropOptions();
  for (const std::u16string& path : {BodyPath(), OptionsPath()})
    if (platform::PathExists(path)) platform::DeleteFile(path);
  internal::DeleteKey(RetryKey().c_str());
  return true;
}

bool MessageEntry::StoreNotification(const mms::NotificationInfo& info, std::uint32_t now) {
  summary_.SetMessageType(kTypeNotification);
  summary_.SetSize(info.messageSize);
  summary_.SetDate(now);
  if (info.from) summary_.SetFrom(platform::Utf8ToUtf16(*info.from));
  if (info.subject) summary_.SetSubject(DecodeText(*info.subject));
  summary_.SetContentLocation(platform::Utf8ToUtf16(info.contentLocation));
  summary_.SetTransactionId(platform::Utf8ToUtf16(info.transactionId));
  SendOptionsRecord options;
  options.status = info.status;
  options.messageClass = info.messageClass;
  options.expiry = info.expiry;
  options.expiryForm = info.expiryAbsolute ? 128 : 129;
  SetOptions(options);
  bool ok = SaveOptions();
  DropOptions();
  return ok;
}

bool MessageEntry::StoreReport(std::uint32_t type, const std::string& address, const std::string& messageId,
                               std::uint32_t date, std::uint8_t status, std::uint32_t now) {
  summary_.SetMessageType(type);
  summary_.SetDate(now);
  summary_.SetTo(platform::Utf8ToUtf16(address));
  summary_.SetMmsMessageId(platform::Utf8ToUtf16(messageId));
  SendOptionsRecord options;
  options.date = date;
  options.status = status;
  SetOptions(options);
  bool ok = SaveOptions();
  DropOptions();
  return ok;
}

bool MessageEntry::StoreDeliveryReport(const mms::DeliveryInfo& info, std::uint32_t now) {
  return StoreReport(kTypeDeliveryReport, info.to, info.messageId, info.date, info.status, now);
}

bool MessageEntry::StoreReadReport(const mms::ReadReportInfo& info, std::uint32_t now) {
  return StoreReport(kTypeReadReport, info.from, info.messageId, info.date, info.readStatus, now);
}

bool MessageEntry::StoreFetchedMessage(const mms::RetrieveResult& result, std::uint32_t now) {
  summary_.SetMessageType(kTypeMultimedia);
  summary_.SetSize(BodySize(BodyPath(), 1024));
  summary_.SetDate(now);
  if (result.subject) summary_.SetSubject(DecodeText(*result.subject));
  if (result.from) summary_.SetFrom(platform::Utf8ToUtf16(*result.from));
  if (result.to) summary_.SetTo(platform::Utf8ToUtf16(*result.to));
  if (result.messageId) summary_.SetMmsMessageId(platform::Utf8ToUtf16(*result.messageId));
  SendOptionsRecord options;
  if (SendOptionsRecord* old = Options()) options = *old;
  options.date = result.date;
  if (result.messageClass) options.messageClass = result.messageClass;
  if (result.priority) options.priority = result.priority;
  options.deliveryReport = result.deliveryReport ? 1 : 0;
  options.readReply = result.readReply ? 1 : 0;
  SetOptions(options);
  bool ok = SaveOptions();
  DropOptions();
  return ok;
}

}  // namespace store
