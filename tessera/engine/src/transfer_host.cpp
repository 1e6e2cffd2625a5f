// The main window's handling of the engine's messages.
#include "engine/transfer_host.h"

#include "platform/text.h"
#include "config/config.h"

namespace engine {

TransferHost::TransferHost(store::MessageStore* store) : store_(store) {}

TransferHost::~TransferHost() {
  Shutdown();
}

bool TransferHost::Start(HWND window) {
  if (queue_) return true;
  window_ = window;
  ProvisionDefaultWspHeaders();
  engine_ = transport::Mm1CreateEngine();
  if (!engine_) return false;
  if (!worker_.Start(window, engine_.get())) {
    transport::Mm1FreeEngine(engine_);
    return false;
  }
  queue_ = std::make_unique<TransferQueue>(window, store_, &worker_);
  if (store_) store_->SetTransferSink(queue_.get());
  return true;
}

void TransferHost::Shutdown() {
  if (!queue_) return;
  if (store_) store_->SetTransferSink(nullptr);
  if (const TransferJob* running = queue_->Running()) queue_->Withdraw(running->messageId);
  worker_.Stop();
  queue_.reset();
  if (engine_) transport::Mm1FreeEngine(engine_);
}

store::MessageEntry* TransferHost::FindEntry(store::FolderId folder, std::uint32_t messageId, const void* address) {
  store::MessageFolder* f = store_ ? store_->Folder(folder) : nullptr;
  if (!f) return nullptr;
  store::MessageEntry* found = nullptr;
  // A posted entry pointer is only compared, never followed, until it is found in the folder.
  f->ForEach([&](store::MessageEntry& e) {
    if (address ? static_cast<const void*>(&e) == address : e.Id() == messageId) {
      found = &e;
      return false;
    }
    return true;
  });
  return found;
}

bool TransferHost::QueueMessage(store::FolderId folder, std::uint32_t messageId, int kind) {
  if (!queue_ || !store_) return false;
  store::MessageEntry* entry = FindEntry(folder, messageId, nullptr);
  if (!entry) return false;
  const TransferJob* running = queue_->Running();
  if ((running && running->entry == entry) || queue_->IsPending(messageId))
    return queue_->Queue(entry, kind, false);
  store::MessageFolder* f = store_->Folder(folder);
  if (f->CheckOut(messageId) != entry) return false;
  if (!store_->QueueTransfer(entry, kind, false)) {
    f->Release(entry);
    return false;
  }
  f->Save();
  return true;
}

void TransferHost::Finished(UINT message, bool success, store::MessageEntry* entry) {
  std::shared_ptr<TransferJob> job = queue_ ? queue_->TakeFinished(entry) : nullptr;
  if (!job) return;  // withdrawn meanwhile
  TransferEvent event{TransferEvent::Kind::JobFinished, job->kind, job->messageId, success, job->result};
  switch (message) {
    case store::kMsgSendFinished:
      if (success && !job->receivedMessageId.empty())
        entry->Summary().SetMmsMessageId(platform::AnsiToWide(job->receivedMessageId));
      store_->SendFinished(entry, success);
      break;
    case store::kMsgFetchFinished:
      if (success) success = entry->StoreFetchedMessage(job->retrieved, store::LocalNow());
      event.success = success;
      store_->FetchFinished(entry, success);
      break;
    default:
      if (job->kind == kJobAcknowledgeAgain) {
        // The message was fetched before and stays so, whatever became of the answer.
        entry->Summary().SetStateFlags(job->stateBefore);
        store::MessageFolder* inbox = store_->Folder(store::FolderId::Inbox);
        inbox->Release(entry);
        inbox->Save();
        queue_->JobDone();
        break;
      }
      store_->NotifyResponseFinished(entry);
      break;
  }
  Report(event);
}

void TransferHost::NotificationStored(store::MessageEntry* posted) {
  store::MessageEntry* entry = FindEntry(store::FolderId::Inbox, 0, posted);
  if (!entry) return;
  std::uint32_t id = entry->Id();
  Report({TransferEvent::Kind::NotificationStored, 0, id, true, 0});
  int kind = config::Config().GetSendDelayedNotifyResp() == 0 ? store::kJobFetch : store::kJobNotifyResponse;
  QueueMessage(store::FolderId::Inbox, id, kind);
}

bool TransferHost::HandleMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (!queue_) return false;
  *result = 0;
  auto* entry = reinterpret_cast<store::MessageEntry*>(lParam);
  switch (message) {
    case store::kMsgSendFinished:
    case store::kMsgFetchFinished:
    case store::kMsgNotifyRespFinished:
      Finished(message, wParam != 0, entry);
      return true;
    case store::kMsgSendStarts:
    case store::kMsgFetchStarts:
    case store::kMsgNotifyRespStarts: {
      const TransferJob* running = queue_->Running();
      Report({TransferEvent::Kind::JobStarted, static_cast<int>(message - store::kMsgSendStarts + 1),
              running ? running->messageId : 0, true, 0});
      return true;
    }
    case store::kMsgNotificationStored:
      NotificationStored(entry);
      return true;
    case store::kMsgDeliveryReportStored:
      if (store::MessageEntry* found = FindEntry(store::FolderId::Inbox, 0, entry))
        Report({TransferEvent::Kind::DeliveryReportStored, 0, found->Id(), true, 0});
      return true;
    case kMsgBearerState:
      queue_->BearerStatus();
      return true;
    case WM_TIMER:
      if (wParam != kRetryTimerId) return false;
      queue_->TimerTick(wParam);
      return true;
    case store::kMsgNavigate: {
      auto id = static_cast<std::uint32_t>(lParam);
      switch (wParam) {
        case 5:
          QueueMessage(store::FolderId::Outbox, id, store::kJobSend);
          return true;
        case store::kNavigateQueueFetch:
          QueueMessage(store::FolderId::Inbox, id, store::kJobFetch);
          return true;
        case 7:
          QueueMessage(store::FolderId::Inbox, id, store::kJobNotifyResponse);
          return true;
        case store::kNavigateCancelJob:
        case 9:
          queue_->Withdraw(id);
          return true;
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

}  // namespace engine
