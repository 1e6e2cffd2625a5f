// The store window's messages: the compose request, the start-up pass and close.
#include "store/store_window.h"

#include <algorithm>
#include <cstring>

namespace store {
namespace {

std::u16string ReadField(const std::uint8_t* bytes, std::size_t offset) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < kImportFieldBytes; i += 2) {
    char16_t c = static_cast<char16_t>(bytes[offset + i] | (bytes[offset + i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

void WriteField(std::string& bytes, std::size_t offset, std::u16string_view text) {
  std::size_t n = std::min(text.size(), kImportFieldBytes / 2 - 1);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[offset + 2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[offset + 2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
}

}  // namespace

void WindowStoreListener::StoreOpened() {
  PostMessage(window_, kMsgStoreStarted, 0, 0);
}
void WindowStoreListener::NotificationStored(MessageEntry* entry) {
  PostMessage(window_, kMsgNotificationStored, 0, reinterpret_cast<LPARAM>(entry));
}
void WindowStoreListener::DeliveryReportStored(MessageEntry* entry) {
  PostMessage(window_, kMsgDeliveryReportStored, 0, reinterpret_cast<LPARAM>(entry));
}
void WindowStoreListener::FetchWanted(std::uint32_t messageId) {
  PostMessage(window_, kMsgNavigate, kNavigateQueueFetch, static_cast<LPARAM>(messageId));
}
void WindowStoreListener::CancelJobWanted(std::uint32_t messageId) {
  PostMessage(window_, kMsgNavigate, kNavigateCancelJob, static_cast<LPARAM>(messageId));
}
void WindowStoreListener::ComposedStored(std::uint32_t messageId) {
  PostMessage(window_, kMsgNavigate, kNavigateOpen, static_cast<LPARAM>(messageId));
}

void MessageStore::SetFrameWindow(HWND frame) {
  frameListener_.reset();
  listener_ = nullptr;
  if (!frame) return;
  frameListener_ = std::make_unique<WindowStoreListener>(frame);
  listener_ = frameListener_.get();
}

bool DecodeImportRecord(const void* data, std::size_t size, ComposeRequest* out) {
  if (!data || size < kImportRecordSize || !out) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t mode = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
  out->useAlphaTag = mode != 0;
  out->recipients = ReadField(bytes, kImportRecipientsOffset);
  out->moreRecipients = ReadField(bytes, kImportMoreRecipientsOffset);
  out->image = ReadField(bytes, kImportImageOffset);
  out->audio = ReadField(bytes, kImportAudioOffset);
  out->video = ReadField(bytes, kImportVideoOffset);
  out->text = ReadField(bytes, kImportTextOffset);
  return true;
}

std::string EncodeImportRecord(const ComposeRequest& request) {
  std::string bytes(kImportRecordSize, '\0');
  bytes[0] = request.useAlphaTag ? 1 : 0;
  WriteField(bytes, kImportRecipientsOffset, request.recipients);
  WriteField(bytes, kImportMoreRecipientsOffset, request.moreRecipients);
  WriteField(bytes, kImportImageOffset, request.image);
  WriteField(bytes, kImportAudioOffset, request.audio);
  WriteField(bytes, kImportVideoOffset, request.video);
  WriteField(bytes, kImportTextOffset, request.text);
  return bytes;
}

bool HandleStoreMessage(MessageStore& store, HWND window, UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
  *result = 0;
  switch (message) {
    case WM_COPYDATA: {
      const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      ComposeRequest request;
      if (!copy || copy->dwData != 0 || copy->cbData == 0 || !DecodeImportRecord(copy->lpData, copy->cbData, &request))
        return true;
      RECT client{};
      GetClientRect(window, &client);
      auto width = static_cast<std::uint32_t>(std::max(client.right - client.left, 0));
      auto height = static_cast<std::uint32_t>(std::max(client.bottom - client.top, 0));
      *result = static_cast<LRESULT>(store.NewComposedMessage(request, width, height));
      return true;
    }
    case kMsgStoreStarted:
      store.OutboxPass();
      return true;
    case WM_CLOSE:
      if (store.Close()) PostQuitMessage(0);
      return true;
    default:
      return false;
  }
}

}  // namespace store
