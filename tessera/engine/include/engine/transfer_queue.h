#pragma once
/// The transfer queue and its worker thread. The queue lives on the main window's thread,
/// owns the bearer, hands one job at a time to the worker and counts retry delays down
/// with timer 200; the worker runs the MM1 operation, writes the transfer log and posts the
/// result (1229-1231) back to the main window.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/bearer_connection.h"
#include "mms/mms_pdu.h"
#include "platform/sync.h"
#include "platform/window.h"
#include "store/message_store.h"
#include "transport/mm1_engine.h"

namespace engine {

inline constexpr UINT_PTR kRetryTimerId = 200;
inline constexpr UINT kRetryTimerMs = 60000;
/// How long Cancel waits for the worker's acknowledgement.
inline constexpr DWORD kCancelWaitMs = 180000;

/// A notification that came again for a message fetched already is answered once more
/// (m-notifyresp-ind, Retrieved) by a job of its own; the message keeps its state.
inline constexpr int kJobAcknowledgeAgain = 4;

/// Transfer states given to the message (high words of `StateFlags`).
inline constexpr std::uint32_t kStateQueuedSend = 0x20000;
inline constexpr std::uint32_t kStateQueuedFetch = 0x1020000;
inline constexpr std::uint32_t kStateSending = 0x40000;
inline constexpr std::uint32_t kStateFetching = 0x1040000;

/// One queued send (1), fetch (2) or deferred notify-response (3). The queue fills in what
/// the worker needs before handing it over, so the worker never touches the message itself;
/// the worker fills in the results, which the main window applies.
struct TransferJob {
  int kind = 0;
  store::MessageEntry* entry = nullptr;
  std::uint32_t messageId = 0;

  std::u16string packagePath;
  std::optional<mms::SendRequest> sendRequest;  ///< none: the message has no send parameters
  std::u16string subject, to;                   ///< for the send log
  std::string contentLocation, transactionId;

  /// The state a kJobAcknowledgeAgain message had when it was queued, given back at the end.
  std::uint32_t stateBefore = 0;

  int result = -1;
  std::string receivedMessageId;
  mms::RetrieveResult retrieved;
};

/// The engine calls a worker makes; tests replace them.
struct TransferOperations {
  std::function<int(transport::Mm1Engine*, std::u16string_view, const mms::SendRequest*, std::string*)> send =
      transport::Mm1Send;
  std::function<int(transport::Mm1Engine*, std::string_view, std::string_view, const std::string*,
                    std::u16string_view, mms::RetrieveResult*)>
      retrieve = transport::Mm1Retrieve;
  std::function<int(transport::Mm1Engine*, std::string_view)> notifyResponse = transport::Mm1SendDeferredNotifyResp;
  std::function<int(transport::Mm1Engine*, std::string_view)> acknowledgeAgain = transport::Mm1AcknowledgeAgain;
};

class TransferWorker {
 public:
  TransferWorker() = default;
  ~TransferWorker();
  TransferWorker(const TransferWorker&) = delete;
  TransferWorker& operator=(const TransferWorker&) = delete;

  /// Creates the events and the thread and installs the cancel hook on `engine`.
  bool Start(HWND window, transport::Mm1Engine* engine);
  /// Hands a job to the thread.
  bool Post(std::shared_ptr<TransferJob> job);
  /// Asks the running job to stop and waits (up to kCancelWaitMs) for its end; a cancelled
  /// job posts no finished message.
  void Cancel();
  /// Ends the thread after its current job and removes the cancel hook.
  void Stop();
  bool Started() const { return thread_ != nullptr; }

  /// Where "Send.txt" and "Recv.txt" go; the program's data folder of the device when empty.
  void SetLogDirectory(std::u16string directory) { logDirectory_ = std::move(directory); }
  TransferOperations operations;

  /// The cancel hook's answer: 0 (cancel) once Cancel was called for the running job.
  static int CancelHookFunction(int methodKind, void* worker);

 private:
  static DWORD ThreadMain(void* parameter);
  void Loop();
  void Run(TransferJob& job);
  bool RunSend(TransferJob& job);
  bool RunFetch(TransferJob& job);
  bool RunNotifyResponse(TransferJob& job);
  bool RunAcknowledgeAgain(TransferJob& job);

  HANDLE requestEvent_ = nullptr;
  HANDLE doneEvent_ = nullptr;
  volatile LONG cancelFlag_ = 0;
  volatile LONG stopFlag_ = 0;
  std::mutex jobLock_;
  std::shared_ptr<TransferJob> job_;
  int kind_ = -1;
  HWND window_ = nullptr;
  HANDLE thread_ = nullptr;
  transport::Mm1Engine* engine_ = nullptr;
  std::u16string logDirectory_;
};

class TransferQueue : public store::TransferSink {
 public:
  /// `window` receives the bearer's 1237 and timer 200; `store` makes the send parameters.
  TransferQueue(HWND window, store::MessageStore* store, TransferWorker* worker);
  ~TransferQueue() override;
  TransferQueue(const TransferQueue&) = delete;
  TransferQueue& operator=(const TransferQueue&) = delete;

  /// Enqueue: the running message is ignored (false); a pending one becomes due at once;
  /// anything else is appended. Then Start next.
  bool Queue(store::MessageEntry* entry, int kind, bool keepState) override;
  /// Only the queuing rules, without Start next.
  bool Enqueue(store::MessageEntry* entry, int kind, bool keepState);
  void JobDone() override { StartNext(); }
  bool Busy() const override { return running_ != nullptr; }
  void Withdraw(std::uint32_t messageId) override;

  /// Brings up the bearer for the first due job, or runs it when the bearer is up already.
  bool StartNext();
  /// Hands the first due job to the worker.
  bool RunNext();
  /// Timer 200: every waiting job's delay goes down a minute, then Start next.
  void TimerTick(UINT_PTR timerId);
  /// Message 1237: a connected bearer runs the next job.
  void BearerStatus();
  /// The running job when `entry` is its message (the finished message 1229-1231 arrived),
  /// which leaves the queue; none for a stale message.
  std::shared_ptr<TransferJob> TakeFinished(store::MessageEntry* entry);

  /// The application's say before a job runs (may refuse), and its note afterwards.
  std::function<bool(const TransferJob&)> mayRun;
  std::function<void(const TransferJob&)> handedOver;
  /// Makes the bearer on first need; tests put their own here.
  std::function<std::unique_ptr<BearerConnection>(HWND, UINT)> bearerFactory;

  BearerConnection* Bearer() const { return bearer_.get(); }
  std::size_t PendingCount() const { return pending_.size(); }
  bool IsPending(std::uint32_t messageId) const;
  const TransferJob* Running() const { return running_.get(); }
  bool TimerRunning() const { return timer_ != 0; }

 private:
  HWND window_;
  store::MessageStore* store_;
  TransferWorker* worker_;
  std::deque<std::shared_ptr<TransferJob>> pending_;
  std::shared_ptr<TransferJob> running_;
  std::unique_ptr<BearerConnection> bearer_;
  UINT_PTR timer_ = 0;
};

/// Puts the default request headers (a User-Agent and the Accept of the MMS content type,
/// without which a WAP gateway refuses the methods) under mm1's "WspHeader" key, unless the
/// key exists already.
void ProvisionDefaultWspHeaders();

}  // namespace engine
