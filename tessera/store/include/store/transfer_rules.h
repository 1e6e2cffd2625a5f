#pragma once
/// The transfer-state rules: what each transfer event makes of a message's state, what a
/// failed send does to its retry record and what the Outbox pass does after a restart.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/types.h"

namespace store {

/// Transfer job kinds.
inline constexpr int kJobSend = 1, kJobFetch = 2, kJobNotifyResponse = 3;

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

}  // namespace store
