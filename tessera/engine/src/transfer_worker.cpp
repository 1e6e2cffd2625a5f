// The worker thread: one MM1 operation at a time, its log, and its finished message.
#include "engine/transfer_log.h"
#include "engine/transfer_queue.h"
#include "platform/connmgr.h"
#include "platform/text.h"
#include "transport/http_session.h"

namespace engine {

TransferWorker::~TransferWorker() {
  Stop();
}

int TransferWorker::CancelHookFunction(int /*methodKind*/, void* worker) {
  auto* self = static_cast<TransferWorker*>(worker);
  return InterlockedCompareExchange(&self->cancelFlag_, 0, 0) == 1 ? 0 : 1;
}

bool TransferWorker::Start(HWND window, transport::Mm1Engine* engine) {
  if (thread_) return true;
  window_ = window;
  engine_ = engine;
  requestEvent_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  doneEvent_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  if (!requestEvent_ || !doneEvent_) {
    Stop();
    return false;
  }
  InterlockedExchange(&stopFlag_, 0);
  thread_ = CreateThread(nullptr, 0, &TransferWorker::ThreadMain, this, CREATE_SUSPENDED, nullptr);
  if (!thread_) {
    Stop();
    return false;
  }
  ResumeThread(thread_);
  if (engine_) transport::Mm1SetCancelHook(engine_, &TransferWorker::CancelHookFunction, this);
  return true;
}

bool TransferWorker::Post(std::shared_ptr<TransferJob> job) {
  if (!thread_ || !job) return false;
  {
    // The flag is cleared at the hand-over rather than when the thread takes the job, so a
    // Cancel that comes before the thread wakes is not lost.
    std::lock_guard<std::mutex> guard(jobLock_);
    InterlockedExchange(&cancelFlag_, 0);
    kind_ = job->kind;
    job_ = std::move(job);
  }
  return SetEvent(requestEvent_) != FALSE;
}

void TransferWorker::Cancel() {
  if (!thread_) return;
  ResetEvent(doneEvent_);
  {
    // Nothing handed over or already finished: there is no acknowledgement to wait for.
    std::lock_guard<std::mutex> guard(jobLock_);
    InterlockedExchange(&cancelFlag_, 1);
    if (!job_) return;
  }
  // The acknowledgement is the job's end, which the worker marks by letting go of it; the
  // done event only cuts the waits short, so a stray signal cannot end the wait early.
  // Messages sent to this thread keep running meanwhile (the bearer's, for one).
  const DWORD start = GetTickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(jobLock_);
      if (!job_) return;
    }
    if (GetTickCount() - start >= kCancelWaitMs) return;
    if (WaitForSingleObject(doneEvent_, 10) == WAIT_FAILED) Sleep(10);
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
}

void TransferWorker::Stop() {
  if (thread_) {
    InterlockedExchange(&stopFlag_, 1);
    SetEvent(requestEvent_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (requestEvent_) CloseHandle(requestEvent_);
  if (doneEvent_) CloseHandle(doneEvent_);
  requestEvent_ = doneEvent_ = nullptr;
  if (engine_) transport::Mm1ClearCancelHook(engine_);
  engine_ = nullptr;
}

DWORD TransferWorker::ThreadMain(void* parameter) {
  static_cast<TransferWorker*>(parameter)->Loop();
  // Before the thread counts as finished: the program may exit as soon as it has.
  transport::ReleaseThreadState();
  return 0;
}

void TransferWorker::Loop() {
  if (InterlockedExchange(&stopFlag_, 0) != 0) return;
  for (;;) {
    WaitForSingleObject(requestEvent_, INFINITE);
    std::shared_ptr<TransferJob> job;
    {
      std::lock_guard<std::mutex> guard(jobLock_);
      job = job_;
    }
    if (job) {
      Run(*job);
      std::lock_guard<std::mutex> guard(jobLock_);
      if (job_ == job) job_.reset();
      kind_ = -1;
    }
    if (InterlockedExchange(&stopFlag_, 0) != 0) return;
  }
}

void TransferWorker::Run(TransferJob& job) {
  bool success = false;
  UINT finished = store::kMsgSendFinished;
  switch (job.kind) {
    case store::kJobSend:
      success = RunSend(job);
      break;
    case store::kJobFetch:
      success = RunFetch(job);
      finished = store::kMsgFetchFinished;
      break;
    case kJobAcknowledgeAgain:
      success = RunAcknowledgeAgain(job);
      finished = store::kMsgNotifyRespFinished;
      break;
    default:
      success = RunNotifyResponse(job);
      finished = store::kMsgNotifyRespFinished;
      break;
  }
  SetEvent(doneEvent_);
  if (InterlockedCompareExchange(&cancelFlag_, 0, 0) != 1 && window_)
    PostMessage(window_, finished, success ? 1 : 0, reinterpret_cast<LPARAM>(job.entry));
}

bool TransferWorker::RunSend(TransferJob& job) {
  if (!job.sendRequest) return false;
  TransferLog log(kSendLogName, logDirectory_);
  log.First(u"Start Sending MMS");
  log.Text(u"Subject is : ", job.subject);
  log.Text(u"From is : ", u"NULL");
  log.Text(u"To is : ", job.to);
  std::string messageId;
  job.result = operations.send(engine_, job.packagePath, &*job.sendRequest, &messageId);
  log.Number(u"Send Result : ", job.result);
  log.Text(u"Mime Package : ", job.packagePath);
  if (job.result != 0) return false;
  log.Text(u"Msg ID : ", std::string_view(messageId));
  job.receivedMessageId = messageId;
  return true;
}

bool TransferWorker::RunFetch(TransferJob& job) {
  if (job.contentLocation.empty() || job.transactionId.empty()) return false;
  SMS_ADDRESS own{};
  std::string msisdn;
  if (SUCCEEDED(SmsGetPhoneNumber(&own))) msisdn = platform::WideToAnsi(own.ptsAddress);
  TransferLog log(kRecvLogName, logDirectory_);
  log.First(u"Start Receiving");
  log.Text(u"Msg Url : ", std::string_view(job.contentLocation));
  log.Text(u"Trans ID : ", std::string_view(job.transactionId));
  job.result = operations.retrieve(engine_, job.contentLocation, job.transactionId, msisdn.empty() ? nullptr : &msisdn, job.packagePath,
                                   &job.retrieved);
  log.Text(u"Mime Package : ", job.packagePath);
  log.Number(u"Recv Result : ", job.result);
  return job.result == 0;
}

bool TransferWorker::RunNotifyResponse(TransferJob& job) {
  if (job.transactionId.empty()) return false;
  job.result = operations.notifyResponse(engine_, job.transactionId);
  return job.result == 0;
}

bool TransferWorker::RunAcknowledgeAgain(TransferJob& job) {
  if (job.transactionId.empty()) return false;
  job.result = operations.acknowledgeAgain(engine_, job.transactionId);
  return job.result == 0;
}

}  // namespace engine
