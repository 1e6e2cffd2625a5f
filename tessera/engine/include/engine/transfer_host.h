#pragma once
/// The main window's side of the engine: it owns the MM1 engine, the worker and the queue,
/// and turns the window messages of the engine and the store into the store's handlers —
/// 1229-1231 into send/fetch/notify-response finished, 1235 into a fetch or a deferred
/// notify-response as "SendDelayedNotifyResp" says, 1237 into the bearer check, timer 200
/// into the retry countdown, and the navigation codes 5-9 into queue operations.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/transfer_queue.h"
#include "store/message_store.h"
#include "transport/mm1_engine.h"

namespace engine {

/// What happened, for a front end that reports progress.
struct TransferEvent {
  enum class Kind {
    JobStarted = 1,
    JobFinished = 2,
    NotificationStored = 3,
    DeliveryReportStored = 4,
    NotificationRepeated = 5,  ///< a notification came again for a message the Inbox holds
  };
  Kind kind = Kind::JobStarted;
  int jobKind = 0;          ///< 1 send, 2 fetch, 3 deferred notify-response, 4 answer again
  std::uint32_t messageId = 0;
  bool success = false;
  int result = 0;           ///< the engine's result code of a finished job
};

class TransferHost {
 public:
  explicit TransferHost(store::MessageStore* store);
  ~TransferHost();
  TransferHost(const TransferHost&) = delete;
  TransferHost& operator=(const TransferHost&) = delete;

  /// Creates the engine, starts the worker and hands the queue to the store; `window` is
  /// the main window that receives every message below.
  bool Start(HWND window);
  /// Cancels a running job, stops the worker and the bearer, detaches from the store.
  void Shutdown();

  /// Handles the engine's and store's messages; false for any other.
  bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  /// Queues the message `messageId` of `folder` (kind 1, 2 or 3), as navigation codes 5-7 do.
  bool QueueMessage(store::FolderId folder, std::uint32_t messageId, int kind);

  TransferQueue* Queue() const { return queue_.get(); }
  TransferWorker* Worker() { return &worker_; }
  transport::Mm1Engine* Engine() const { return engine_.get(); }

  std::function<void(const TransferEvent&)> onEvent;

 private:
  void Finished(UINT message, bool success, store::MessageEntry* entry);
  void NotificationStored(store::MessageEntry* entry);
  void NotificationRepeated(store::MessageEntry* entry);
  store::MessageEntry* FindEntry(store::FolderId folder, std::uint32_t messageId, const void* address);
  void Report(const TransferEvent& event) {
    if (onEvent) onEvent(event);
  }

  store::MessageStore* store_;
  HWND window_ = nullptr;
  std::unique_ptr<transport::Mm1Engine> engine_;
  TransferWorker worker_;
  std::unique_ptr<TransferQueue> queue_;
  int lastStartedKind_ = 0;
};

}  // namespace engine
