// The transfer queue: queuing rules, start and run of the next job, retry countdown.
#include "engine/transfer_queue.h"

#include "platform/registry.h"
#include "platform/text.h"
#include "config/config.h"

namespace engine {

namespace {

std::uint32_t QueuedState(int kind) {
  return kind == store::kJobSend ? kStateQueuedSend : kStateQueuedFetch;
}

}  // namespace

TransferQueue::TransferQueue(HWND window, store::MessageStore* store, TransferWorker* worker)
    : window_(window), store_(store), worker_(worker) {}

TransferQueue::~TransferQueue() {
  if (timer_ != 0) KillTimer(window_, timer_);
}

bool TransferQueue::IsPending(std::uint32_t messageId) const {
  for (const auto& job : pending_)
    if (job->messageId == messageId) return true;
  return false;
}

bool TransferQueue::Enqueue(store::MessageEntry* entry, int kind, bool keepState) {
  if (!entry || kind < store::kJobSend || kind > kJobAcknowledgeAgain) return false;
  if (running_ && running_->entry == entry) return false;
  store::MessageSummary& s = entry->Summary();
  for (const auto& job : pending_) {
    if (job->entry != entry) continue;
    s.SetMinute(0);
    s.SetStateFlagsNew(QueuedState(job->kind));
    return true;
  }
  auto job = std::make_shared<TransferJob>();
  job->kind = kind;
  job->entry = entry;
  job->messageId = entry->Id();
  // The queued state also marks the message as busy, so deleting it withdraws the job.
  if (kind == kJobAcknowledgeAgain) job->stateBefore = s.StateFlags();
  if (kind == store::kJobSend) {
    if (!keepState) {
      s.SetPriority(0);
      s.SetMinute(0);
      s.SetStateFlagsNew(kStateQueuedSend);
    }
  } else {
    s.SetStateFlagsNew(kStateQueuedFetch);
  }
  pending_.push_back(std::move(job));
  return true;
}

bool TransferQueue::Queue(store::MessageEntry* entry, int kind, bool keepState) {
  if (!Enqueue(entry, kind, keepState)) return false;
  StartNext();
  return true;
}

bool TransferQueue::StartNext() {
  if (running_) return false;
  if (!bearer_) {
    bearer_ = bearerFactory ? bearerFactory(window_, kMsgBearerState)
                            : std::make_unique<NotifyingBearer>(window_, kMsgBearerState);
    if (!bearer_) return false;
  }
  bool due = false;
  for (const auto& job : pending_) due = due || job->entry->Summary().Minute() < 1;
  bool started = false;
  if (due) {
    config::Config config;
    std::u16string via = config.GetConnectionVia();
    if (config.GetAutoDisconnect()) {
      started = SUCCEEDED(bearer_->Connect(via));
    } else if (bearer_->Status() != CONNMGR_STATUS_CONNECTED) {
      started = SUCCEEDED(bearer_->Connect(via));
    } else {
      started = RunNext();
    }
  }
  // The countdown runs while anything waits, due or not.
  if (timer_ == 0 && !pending_.empty()) timer_ = SetTimer(window_, kRetryTimerId, kRetryTimerMs, nullptr);
  return started;
}

bool TransferQueue::RunNext() {
  if (running_) return false;
  auto it = pending_.begin();
  while (it != pending_.end() && (*it)->entry->Summary().Minute() >= 1) ++it;
  if (it == pending_.end()) return false;
  std::shared_ptr<TransferJob> job = *it;
  if (!worker_ || !worker_->Started() || (mayRun && !mayRun(*job))) return false;
  pending_.erase(it);
  running_ = job;

  // What the worker needs is read here, on the thread that owns the message.
  store::MessageEntry* entry = job->entry;
  const store::MessageSummary& s = entry->Summary();
  job->packagePath = entry->BodyPath();
  UINT starts = 0;
  std::uint32_t state = kStateFetching;
  switch (job->kind) {
    case store::kJobSend:
      if (store_) job->sendRequest = store_->SendParameters(*entry);
      entry->DropOptions();
      job->subject = s.Subject();
      job->to = s.To();
      starts = store::kMsgSendStarts;
      state = kStateSending;
      break;
    case store::kJobFetch:
      starts = store::kMsgFetchStarts;
      job->contentLocation = platform::WideToAnsi(s.ContentLocation());
      job->transactionId = platform::WideToAnsi(s.TransactionId());
      break;
    case store::kJobNotifyResponse:
    case kJobAcknowledgeAgain:
      starts = store::kMsgNotifyRespStarts;
      job->transactionId = platform::WideToAnsi(s.TransactionId());
      break;
  }
  if (window_) SendMessage(window_, starts, 0, 0);
  entry->Summary().SetStateFlagsNew(state);
  worker_->Post(job);
  if (handedOver) handedOver(*job);
  return true;
}

void TransferQueue::Withdraw(std::uint32_t messageId) {
  if (running_ && running_->messageId == messageId) {
    if (worker_) worker_->Cancel();
    running_.reset();
    if (bearer_ && config::Config().GetAutoDisconnect()) bearer_->Stop();
    StartNext();
    return;
  }
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if ((*it)->messageId == messageId) {
      pending_.erase(it);
      return;
    }
  }
}

void TransferQueue::TimerTick(UINT_PTR timerId) {
  if (timerId != timer_ || timer_ == 0) return;
  for (const auto& job : pending_) {
    store::MessageSummary& s = job->entry->Summary();
    DWORD minute = s.Minute();
    if (minute > 0) s.SetMinute(minute - 1);
  }
  StartNext();
}

void TransferQueue::BearerStatus() {
  if (bearer_ && bearer_->Status() == CONNMGR_STATUS_CONNECTED) RunNext();
}

std::shared_ptr<TransferJob> TransferQueue::TakeFinished(store::MessageEntry* entry) {
  if (!running_ || running_->entry != entry) return nullptr;
  std::shared_ptr<TransferJob> job = std::move(running_);
  running_.reset();
  if (bearer_ && config::Config().GetAutoDisconnect()) bearer_->Stop();
  return job;
}

void ProvisionDefaultWspHeaders() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, config::kWspHeaderKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
    return;
  }
  if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, config::kWspHeaderKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  config::reg::SetStringValue(key, u"User-Agent", u"Tessera/1.0");
  config::reg::SetStringValue(key, u"Accept", u"application/vnd.wap.mms-message");
  RegCloseKey(key);
}

}  // namespace engine
