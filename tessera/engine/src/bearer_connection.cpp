// The bearer connection and its watching thread.
#include "engine/bearer_connection.h"

#include <cstdio>

#include "platform/sync.h"
#include "platform/text.h"

namespace engine {

// One watching thread: its own stop event, so restarting can never swallow the stop meant
// for the thread being replaced, and its own handle, reaped by the owner.
struct BearerConnection::Watch {
  BearerConnection* owner = nullptr;
  HANDLE stopEvent = nullptr;
  HANDLE thread = nullptr;
  GUID destination{};
  ~Watch() {
    if (thread) CloseHandle(thread);
    if (stopEvent) CloseHandle(stopEvent);
  }
};

CONNMGR_CONNECTIONINFO MakeConnectionRequest(const GUID& destination) {
  CONNMGR_CONNECTIONINFO request{};
  request.cbSize = sizeof request;
  request.dwParams = CONNMGR_PARAM_GUIDDESTNET;
  request.dwFlags = CONNMGR_FLAG_PROXY_WAP | CONNMGR_FLAG_PROXY_SOCKS4;
  request.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
  request.guidDestNet = destination;
  return request;
}

std::u16string NetworkErrorParameters(DWORD status) {
  char text[64];
  std::snprintf(text, sizeof text, "-CMERROR 0x%x -report", static_cast<unsigned>(status));
  return platform::Utf8ToUtf16(text);
}

BearerConnection::BearerConnection(HWND notifyWindow, UINT notifyMessage)
    : notifyWindow_(notifyWindow), notifyMessage_(notifyMessage) {}

BearerConnection::~BearerConnection() {
  StopAndWait();
}

DWORD BearerConnection::Status() const {
  std::lock_guard<std::mutex> guard(lock_);
  return status_;
}

bool BearerConnection::Disconnected() const {
  std::lock_guard<std::mutex> guard(lock_);
  return disconnected_;
}

void BearerConnection::StoreStatus(DWORD status) {
  std::lock_guard<std::mutex> guard(lock_);
  status_ = status;
}

HRESULT BearerConnection::Connect(std::u16string_view destinationName) {
  // Index 0 is the fallback; the first exact description match wins.
  CONNMGR_DESTINATION_INFO info{};
  if (FAILED(ConnMgrEnumDestinations(0, &info))) return E_FAIL;
  GUID chosen = info.guid;
  for (int index = 0; SUCCEEDED(ConnMgrEnumDestinations(index, &info)); ++index) {
    if (std::u16string_view(info.szDescription) == destinationName) {
      chosen = info.guid;
      break;
    }
  }
  destination_ = chosen;

  auto watch = std::make_shared<Watch>();
  watch->owner = this;
  watch->destination = chosen;
  watch->stopEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  if (!watch->stopEvent) return E_INVALIDARG;

  std::lock_guard<std::mutex> guard(lock_);
  // Threads that ended are reaped here; the running one is told to stop, not waited for.
  for (auto it = watches_.begin(); it != watches_.end();) {
    if (WaitForSingleObject((*it)->thread, 0) == WAIT_OBJECT_0)
      it = watches_.erase(it);
    else
      ++it;
  }
  if (current_) SetEvent(current_->stopEvent);
  current_.reset();
  auto* heldRef = new std::shared_ptr<Watch>(watch);
  watch->thread = CreateThread(nullptr, 0, &BearerConnection::ThreadMain, heldRef, CREATE_SUSPENDED, nullptr);
  if (!watch->thread) {
    delete heldRef;
    return E_FAIL;
  }
  current_ = watch;
  watches_.push_back(watch);
  ResumeThread(watch->thread);
  return S_OK;
}

void BearerConnection::Stop() {
  std::lock_guard<std::mutex> guard(lock_);
  if (current_) SetEvent(current_->stopEvent);
  current_.reset();
}

void BearerConnection::StopAndWait() {
  std::vector<std::shared_ptr<Watch>> watches;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& w : watches_) SetEvent(w->stopEvent);
    watches.swap(watches_);
    current_.reset();
  }
  for (auto& w : watches) {
    while (WaitForSingleObject(w->thread, 10) == WAIT_TIMEOUT) {
      MSG msg;
      PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
  }
}

DWORD BearerConnection::ThreadMain(void* parameter) {
  auto* heldRef = static_cast<std::shared_ptr<Watch>*>(parameter);
  std::shared_ptr<Watch> watch = *heldRef;
  delete heldRef;
  watch->owner->Watching(*watch);
  return 0;
}

void BearerConnection::Watching(Watch& watch) {
  CONNMGR_CONNECTIONINFO request = MakeConnectionRequest(watch.destination);
  HANDLE connection = nullptr;
  HRESULT hr = ConnMgrEstablishConnection(&request, &connection);
  if (FAILED(hr) || !connection) {
    OnFailed(static_cast<DWORD>(hr));
  } else {
    OnStarted();
    for (;;) {
      HANDLE objects[2] = {connection, watch.stopEvent};
      DWORD which = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
      if (which != WAIT_OBJECT_0) break;  // stop event, or a failed wait
      DWORD status = 0;
      hr = ConnMgrConnectionStatus(connection, &status);
      if (FAILED(hr)) {
        StoreStatus(static_cast<DWORD>(hr));
        break;
      }
      StoreStatus(status);
      if (OnStatus(status) != 0) break;
    }
  }
  OnThreadEnd();
  if (connection) ConnMgrReleaseConnection(connection, 0);
}

int BearerConnection::OnStatus(DWORD status) {
  if (status == CONNMGR_STATUS_DISCONNECTED) {
    int answer = OnDisconnected();
    std::lock_guard<std::mutex> guard(lock_);
    disconnected_ = true;
    return answer;
  }
  if (status & CONNMGR_STATUS_DISCONNECTED) {
    int answer = OnFailed(status);
    std::lock_guard<std::mutex> guard(lock_);
    disconnected_ = false;
    return answer;
  }
  if (status == CONNMGR_STATUS_CONNECTED) return OnConnected();
  if (status & CONNMGR_STATUS_WAITINGCONNECTION) return OnWaiting();
  return 0;
}

int NotifyingBearer::OnFailed(DWORD status) {
  std::u16string parameters = NetworkErrorParameters(status);
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpFile = u":MSREMNET";
  info.lpParameters = parameters.c_str();
  info.nShow = 1;
  ShellExecuteEx(&info);
  if (notifyWindow_) SendMessage(notifyWindow_, notifyMessage_, 0, 0);
  return -1;
}

int NotifyingBearer::OnConnected() {
  if (notifyWindow_) SendMessage(notifyWindow_, notifyMessage_, 0, 0);
  return 0;
}

int NotifyingBearer::OnDisconnected() {
  if (notifyWindow_) SendMessage(notifyWindow_, notifyMessage_, 0, 0);
  return -1;
}

}  // namespace engine
