// What the store does with the engine's results and after a restart.
#include <cerrno>
#include <string>

#include "config/keys.h"
#include "platform/files.h"
#include "platform/text.h"
#include "presentation/message_document.h"
#include "store/message_store.h"
#include "store_internal.h"

namespace store {

using config::kMm1Key;
using config::kUiKey;

std::optional<mms::SendRequest> MessageStore::SendParameters(MessageEntry& entry) {
  SendOptionsRecord* options = entry.Options();
  if (!options) return std::nullopt;
  const MessageSummary& s = entry.Summary();
  mms::SendRequest request;
  std::u16string subject = s.Subject();
  if (internal::ReadDword(kUiKey, u"AppendSpaceToSubject", 0) != 0) subject.insert(subject.begin(), u' ');
  if (!subject.empty()) request.subject = mms::StringValue{platform::Utf16ToUtf8(subject), 106};
  request.to = platform::WideToAnsi(s.To());
  request.messageClass = options->messageClass;
  request.priority = options->priority;
  request.senderVisibility = options->senderVisibility;
  request.deliveryReport = options->deliveryReport != 0;
  request.readReply = options->readReply != 0;
  request.expiry = options->expiry;
  request.expiryAbsolute = options->expiryForm == 128;
  request.deliveryTime = options->deliveryTime;
  request.deliveryTimeAbsolute = options->deliveryTimeForm == 128;
  request.date = options->date;
  return request;
}

void MessageStore::SendFinished(MessageEntry* entry, bool success) {
  MessageFolder* outbox = Folder(FolderId::Outbox);
  if (!entry || !outbox) return;
  if (success) {
    entry->Summary().SetStateFlagsNew(StateAfter(StateEvent::Sent));
    outbox->Release(entry);
    std::uint32_t id = entry->Id();
    auto removed = outbox->Remove(id);
    MessageFolder* sent = Folder(FolderId::Sent);
    if (removed) {
      if (sent && internal::ReadDword(kUiKey, u"SaveSentMessage", 1) != 0) {
        sent->Add(std::move(removed));
        sent->Save();
      } else {
        removed->DeleteFiles();
      }
    }
    outbox->Save();
    if (sink_) sink_->JobDone();
    return;
  }
  RetrySettings settings = RetrySettings::Read();
  MessageSummary& s = entry->Summary();
  SendFailure failure = AfterSendFailure(s.Priority(), s.Minute(), settings);
  s.SetMinute(failure.minute);
  s.SetPriority(failure.priority);
  if (failure.final) {
    s.SetStateFlagsNew(StateAfter(StateEvent::SendFailedFinal));
  } else {
    s.SetStateFlagsNew(StateAfter(StateEvent::SendFailedRetry));
    if (sink_) sink_->Queue(entry, kJobSend, true);
  }
  outbox->Release(entry);
  outbox->Save();
  if (sink_) sink_->JobDone();
}

void MessageStore::FetchFinished(MessageEntry* entry, bool success) {
  MessageFolder* inbox = Folder(FolderId::Inbox);
  if (!entry || !inbox) return;
  if (success) {
    std::int64_t size = platform::FileSize(entry->BodyPath());
    entry->Summary().SetSize(size < 0 ? 1024 : static_cast<std::uint32_t>(size));
    entry->Summary().SetStateFlagsNew(StateAfter(StateEvent::Fetched));
  } else {
    entry->Summary().SetStateFlagsNew(StateAfter(StateEvent::FetchFailed));
  }
  inbox->Release(entry);
  inbox->Save();
  if (sink_) sink_->JobDone();
}

void MessageStore::NotifyResponseFinished(MessageEntry* entry) {
  MessageFolder* inbox = Folder(FolderId::Inbox);
  if (!entry || !inbox) return;
  entry->Summary().SetStateFlagsNew(StateAfter(StateEvent::NotifyResponseFinished));
  inbox->Release(entry);
  inbox->Save();
  if (internal::ReadDword(kMm1Key, u"SendDelayedNotifyResp", 0) == 0 && listener_)
    listener_->FetchWanted(entry->Id());
  if (sink_) sink_->JobDone();
}

void MessageStore::OutboxPass() {
  MessageFolder* outbox = Folder(FolderId::Outbox);
  if (!outbox) return;
  bool autoResend = internal::ReadDword(kUiKey, u"AutoResend", 0) != 0;
  DWORD tryDefault = RetrySettings::Read().tryDefault;
  std::vector<std::uint32_t> ids;
  outbox->ForEach([&](MessageEntry& e) {
    ids.push_back(e.Id());
    return true;
  });
  for (std::uint32_t id : ids) {
    MessageEntry* entry = outbox->CheckOut(id);
    if (!entry) continue;
    outbox->Release(entry);
    MessageSummary& s = entry->Summary();
    OutboxAction action = OutboxPassAction(s.StateFlags(), autoResend, tryDefault);
    if (!action.queue) continue;
    if (action.priority) s.SetPriority(*action.priority);
    if (action.minute) s.SetMinute(*action.minute);
    if (action.plainState) s.SetStateFlags(*action.plainState);
    if (!action.keepState) {
      s.SetPriority(0);
      s.SetMinute(0);
      s.SetStateFlagsNew(StateAfter(StateEvent::QueuedSend));
    }
    if (sink_) sink_->Queue(entry, kJobSend, true);
  }
  outbox->Save();
}

bool MessageStore::QueueTransfer(MessageEntry* entry, int kind, bool keepState) {
  return entry && sink_ && (kind == kJobSend || kind == kJobFetch || kind == kJobNotifyResponse || kind == kJobAcknowledgeAgain) &&
         sink_->Queue(entry, kind, keepState);
}

bool MessageStore::Close() {
  if (sink_ && sink_->Busy()) return false;
  return SaveAll();
}

bool MessageStore::SendFromDraft(std::uint32_t messageId) {
  MessageFolder* draft = Folder(FolderId::Draft);
  MessageFolder* outbox = Folder(FolderId::Outbox);
  if (!draft || !outbox) return false;
  MessageSummary summary(nullptr);
  if (!draft->CopySummary(messageId, summary)) return false;
  auto entry = draft->Remove(messageId);
  if (!entry) return false;
  entry->Summary().SetInUse(0);
  entry->Summary().SetStateFlagsNew(StateAfter(StateEvent::StoredComposed));
  outbox->Add(std::move(entry));
  bool ok = outbox->Save();
  ok = draft->Save() && ok;
  MessageEntry* queued = outbox->CheckOut(messageId);
  if (!queued) return false;
  queued->Summary().SetPriority(0);
  queued->Summary().SetMinute(0);
  queued->Summary().SetStateFlagsNew(StateAfter(StateEvent::QueuedSend));
  outbox->Save();
  if (sink_) return QueueTransfer(queued, kJobSend, true) && ok;
  return ok;
}

std::uint32_t MessageStore::NewComposedMessage(const ComposeRequest& request, std::uint32_t width,
                                               std::uint32_t height) {
  MessageFolder* draft = Folder(FolderId::Draft);
  if (!draft) return 0;
  ClearLastFailure();
  if (readOnly_) {
    internal::Refused("the message store is open for reading only");
    return 0;
  }
  auto entry = NewEntry();
  presentation::MessageDocument* document = entry->NewDocument();
  // The media are copied into the message's parts directory and packed from there.
  document->SetPartsDirectory(entry->PartsDirectory());
  document->ComposeRequestLayout(width, height);
  document->InsertSlide(0);
  // Every file that exists is attached; one that cannot be fails the whole message.
  auto add = [&](const std::u16string& path) {
    if (path.empty() || !platform::FileExists(path)) return true;
    errno = 0;
    if (document->AddMediaFile(0, path)) return true;
    const std::string what = "cannot attach " + platform::Utf16ToUtf8(path);
    if (errno != 0 && errno != ENOENT)
      internal::Failed(entry->PartsDirectoryName(), errno, what);
    else
      internal::Refused(what);
    return false;
  };
  bool attached = true;
  if (!request.video.empty()) {
    attached = add(request.video);
  } else {
    attached = add(request.image) && add(request.audio);
  }
  attached = attached && add(request.text);
  if (!attached) {
    entry->DeleteFiles();
    return 0;
  }
  document->SlideDuration(0);

  MessageSummary& s = entry->Summary();
  std::u16string alphaTag = request.useAlphaTag ? internal::ReadString(kUiKey, u"AlphaTag", 64) : u"";
  if (!alphaTag.empty()) {
    s.SetTo(alphaTag);
    s.SetExtraFlags(s.ExtraFlags() | kExtraAlphaTag);
  } else {
    std::u16string to = request.recipients;
    if (!request.moreRecipients.empty()) {
      if (!to.empty() && to.back() != u';') to.push_back(u';');
      to += request.moreRecipients;
    }
    s.SetTo(to);
  }
  s.SetSubject(request.subject);
  // What an index record cannot hold whole is refused, never cut.
  if (!SummaryFits(s)) {
    internal::Refused("the recipients and subject are too long to store (" +
                      std::to_string(s.To().size() + s.Subject().size()) + " characters; at most " +
                      std::to_string(kRecordStringBytes / 2 - 6) + " together)");
    entry->DeleteFiles();
    return 0;
  }
  errno = 0;
  if (!entry->SaveDocument()) {
    internal::Failed(entry->BodyPath(), errno, "the message body could not be written");
    entry->DeleteFiles();
    return 0;
  }
  s.SetMessageType(kTypeMultimedia);
  s.SetStateFlagsNew(StateAfter(StateEvent::StoredComposed));
  s.SetExtraFlags(s.ExtraFlags() | kExtraComposed);
  std::int64_t size = platform::FileSize(entry->BodyPath());
  s.SetSize(size < 0 ? 1 : static_cast<std::uint32_t>(size));
  s.SetDate(LocalNow());
  entry->DropDocument();
  std::uint32_t id = entry->Id();
  if (!draft->Add(std::move(entry)) || !draft->Save()) {
    if (auto back = draft->Remove(id)) back->DeleteFiles();
    return 0;
  }
  if (listener_) listener_->ComposedStored(id);
  return id;
}

}  // namespace store
