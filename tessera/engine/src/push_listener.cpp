#include "engine/push_listener.h"

#include <cstdio>

#include "platform/paths.h"

namespace engine {

PushListener::~PushListener() {
  Stop();
}

bool PushListener::Init(PushHandler* handler) {
  if (!handler) return false;
  running_ = 0;
  thread_ = nullptr;
  handler_ = handler;
  return true;
}

bool PushListener::Register(std::u16string_view programPath, std::u16string_view parameters) {
  Unregister();
  std::u16string path(programPath);
  std::u16string params(parameters);
  return PushRouter_RegisterClient(kMmsPushContentType, nullptr, path.c_str(), params.c_str()) >= 0;
}

void PushListener::Unregister() {
  PushRouter_UnRegisterClient(kMmsPushContentType, nullptr);
}

bool PushListener::Open() {
  if (router_) return true;
  HANDLE event = nullptr;
  HPUSHROUTER router = nullptr;
  if (PushRouter_Open(kMmsPushContentType, nullptr, &event, &router) < 0) return false;
  router_ = router;
  routerEvent_ = event;
  return true;
}

void PushListener::Close() {
  if (!router_) return;
  // Closing the client signals its event once, so a receive still waiting returns at once.
  PushRouter_Close(router_);
  router_ = nullptr;
  routerEvent_ = nullptr;
}

bool PushListener::Receive(std::vector<std::uint8_t>* body) {
  if (!router_ || !routerEvent_) return false;
  if (WaitForSingleObject(routerEvent_, kReceiveWaitMs) != WAIT_OBJECT_0) return false;
  return FetchMessage(body);
}

bool PushListener::FetchMessage(std::vector<std::uint8_t>* body) {
  if (!router_ || !body) return false;
  PUSHMSG message{};
  message.cbSize = sizeof message;
  if (PushRouter_GetMessage(router_, &message) < 0) return false;
  body->assign(message.pbBody, message.pbBody + message.cbBody);
  PushRouter_FreeMessage(&message);
  return true;
}

bool PushListener::Start() {
  if (!handler_) return false;
  InterlockedExchange(&running_, 1);
  if (!Open()) {
    InterlockedExchange(&running_, 0);
    return false;
  }
  if (!thread_) {
    thread_ = CreateThread(nullptr, 0, &PushListener::ThreadMain, this, CREATE_SUSPENDED, nullptr);
    if (!thread_) {
      InterlockedExchange(&running_, 0);
      Close();
      return false;
    }
    ResumeThread(thread_);
  }
  return true;
}

void PushListener::Stop() {
  InterlockedExchange(&running_, 0);
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  Close();
}

std::u16string PushListener::NotificationPath() const {
  std::u16string dir = directory_.empty() ? platform::ProgramDataDirectory() : directory_;
  return platform::JoinPath(dir, kNotificationFileName);
}

DWORD PushListener::ThreadMain(LPVOID self) {
  static_cast<PushListener*>(self)->Loop();
  return 0;
}

void PushListener::Loop() {
  std::vector<std::uint8_t> body;
  while (InterlockedCompareExchange(&running_, 0, 0) == 1) {
    body.clear();
    if (!Receive(&body)) continue;
    WriteNotificationFile(body);
    handler_->PushArrived(body.data(), body.size());
  }
}

void PushListener::WriteNotificationFile(const std::vector<std::uint8_t>& body) const {
  // The copy is a convenience for looking at the latest push; a write that fails is
  // skipped and the body still reaches the handler.
  std::string path = platform::NativePath(NotificationPath());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!body.empty()) std::fwrite(body.data(), 1, body.size(), f);
  std::fflush(f);
  std::fclose(f);
}

}  // namespace engine
