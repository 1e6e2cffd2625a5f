#pragma once
/// The data bearer: a connection to a destination network chosen by name, obtained from the
/// platform's connection manager and watched on a thread of its own. Status changes reach
/// the main window as message 1237; the transfer queue decides there what to do.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/connmgr.h"
#include "platform/types.h"
#include "platform/window.h"

namespace engine {

inline constexpr UINT kMsgBearerState = 0x400 + 213;  ///< 1237

class BearerConnection {
 public:
  BearerConnection(HWND notifyWindow, UINT notifyMessage);
  /// Stops the watching threads and waits for them (running messages sent to this thread
  /// meanwhile, so a watcher blocked on the notify message cannot deadlock the wait).
  virtual ~BearerConnection();
  BearerConnection(const BearerConnection&) = delete;
  BearerConnection& operator=(const BearerConnection&) = delete;

  /// Finds the destination by description and (re)starts the watching thread. S_OK,
  /// E_INVALIDARG without a stop event, E_FAIL without any destination or thread.
  HRESULT Connect(std::u16string_view destinationName);
  /// Ends the current watching thread, which releases its connection.
  void Stop();
  /// The last status read, 0 before any.
  DWORD Status() const;
  bool Disconnected() const;
  const GUID& Destination() const { return destination_; }

  /// Dispatches a status code to the handlers below; their answer, non-zero to stop watching.
  virtual int OnStatus(DWORD status);
  virtual int OnStarted() { return 0; }
  virtual int OnFailed(DWORD /*status*/) { return -1; }
  virtual int OnConnected() { return 0; }
  virtual int OnDisconnected() { return -1; }
  virtual int OnWaiting() { return 0; }
  virtual int OnThreadEnd() { return 0; }

  /// Stops the watching thread, waits for it to end; for tests and shutdown.
  void StopAndWait();

 protected:
  HWND notifyWindow_;
  UINT notifyMessage_;

 private:
  struct Watch;
  static DWORD ThreadMain(void* parameter);
  void Watching(Watch& watch);
  void StoreStatus(DWORD status);

  GUID destination_{};
  mutable std::mutex lock_;
  DWORD status_ = 0;
  bool disconnected_ = false;
  std::shared_ptr<Watch> current_;
  std::vector<std::shared_ptr<Watch>> watches_;  ///< every thread started and not yet reaped
};

/// The application's bearer: reports connected, disconnected and failed states to the main
/// window, and shows the platform's network error for a failure.
class NotifyingBearer : public BearerConnection {
 public:
  using BearerConnection::BearerConnection;
  ~NotifyingBearer() override { StopAndWait(); }
  int OnFailed(DWORD status) override;
  int OnConnected() override;
  int OnDisconnected() override;
};

/// The 64-octet request record of a connection to `destination`.
CONNMGR_CONNECTIONINFO MakeConnectionRequest(const GUID& destination);
/// The connection-manager status as the shell's error display wants it: "-CMERROR 0x%x -report".
std::u16string NetworkErrorParameters(DWORD status);

}  // namespace engine
