#pragma once
/// Push bodies handed from the listener thread to a main window: the body is posted as a
/// heap copy with kMsgPushBody and filed by the store on the window's thread.
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/push_listener.h"
#include "platform/window.h"
#include "store/message_store.h"

namespace engine {

/// lParam: a std::vector<std::uint8_t>* the receiver owns.
inline constexpr UINT kMsgPushBody = WM_USER + 400;

class WindowPushHandler final : public PushHandler {
 public:
  explicit WindowPushHandler(HWND window) : window_(window) {}
  void PushArrived(const std::uint8_t* body, std::size_t size) override {
    auto* copy = new std::vector<std::uint8_t>(body, body + size);
    if (!PostMessage(window_, kMsgPushBody, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
  }

 private:
  HWND window_;
};

/// Takes the body of a kMsgPushBody and files it; the new message ID, 0 when refused.
inline std::uint32_t FilePushBody(store::MessageStore& store, LPARAM lParam) {
  const std::unique_ptr<std::vector<std::uint8_t>> body(reinterpret_cast<std::vector<std::uint8_t>*>(lParam));
  return body ? store.PushReceived(body->data(), body->size()) : 0;
}

}  // namespace engine
