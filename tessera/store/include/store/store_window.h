#pragma once
/// The store's side of the main window: the compose request that another program hands over
/// with WM_COPYDATA (an `ImportRecord`), the start-up notification 1238 that runs the Outbox
/// pass, and WM_CLOSE.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/window.h"
#include "store/message_store.h"

namespace store {

/// The `ImportRecord`: 3124 bytes, zero-filled; a mode word, then six text fields of 520
/// bytes each (UTF-16LE, NUL-terminated): two address lists, image, audio, video and text
/// file paths.
inline constexpr std::size_t kImportRecordSize = 3124;
inline constexpr std::size_t kImportFieldBytes = 520;
inline constexpr std::size_t kImportRecipientsOffset = 4;
inline constexpr std::size_t kImportMoreRecipientsOffset = 524;
inline constexpr std::size_t kImportImageOffset = 1044;
inline constexpr std::size_t kImportAudioOffset = 1564;
inline constexpr std::size_t kImportVideoOffset = 2084;
inline constexpr std::size_t kImportTextOffset = 2604;
inline constexpr unsigned kMsgStoreOpened = kMsgStoreStarted;  ///< 1238

/// The listener of a front end with a window: every call becomes a message posted to the
/// window — 1235/1236 with the entry, 1238, and navigation codes 6 (fetch), 8 (cancel job)
/// and 10 (open) with the message ID.
class WindowStoreListener final : public StoreListener {
 public:
  explicit WindowStoreListener(HWND window) : window_(window) {}
  void StoreOpened() override;
  void NotificationStored(MessageEntry* entry) override;
  void DeliveryReportStored(MessageEntry* entry) override;
  void FetchWanted(std::uint32_t messageId) override;
  void CancelJobWanted(std::uint32_t messageId) override;
  void ComposedStored(std::uint32_t messageId) override;
  HWND Window() const { return window_; }

 private:
  HWND window_;
};

/// Decodes a record. False when `data` is null or shorter than the record: a short block is
/// never read past its end. A field without its NUL ends at the field's end.
bool DecodeImportRecord(const void* data, std::size_t size, ComposeRequest* out);
/// The record's bytes for a request; texts longer than a field are cut to 259 characters.
std::string EncodeImportRecord(const ComposeRequest& request);

/// Handles WM_COPYDATA (data identifier 0: a new composed message in Draft sized to the
/// window's client area; the result is its message ID, 0 when refused), 1238 (the Outbox
/// pass) and WM_CLOSE (refused while a transfer runs; otherwise the folders are saved and
/// the message loop ends). False for any other message.
bool HandleStoreMessage(MessageStore& store, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT* result);

}  // namespace store
