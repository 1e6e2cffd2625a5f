#pragma once
/// The push listener: a thread that takes each MMS push body from the push router, keeps a
/// copy of the latest one in "Notification.dat" and hands the body to the store's handler.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/push.h"
#include "platform/sync.h"

namespace engine {

/// Content type the listener opens and registers.
inline constexpr const char16_t* kMmsPushContentType = u"application/vnd.wap.mms-message";
/// File that holds the latest push body, in the program's data folder of the device.
inline constexpr const char16_t* kNotificationFileName = u"Notification.dat";
/// Longest wait of one receive; Stop returns within about this long.
inline constexpr DWORD kReceiveWaitMs = 3000;

/// Receives push bodies; called on the listener thread, so it must hand any work to the
/// user-interface thread by posting window messages.
class PushHandler {
 public:
  virtual ~PushHandler() = default;
  virtual void PushArrived(const std::uint8_t* body, std::size_t size) = 0;
};

class PushListener {
 public:
  PushListener() = default;
  virtual ~PushListener();
  PushListener(const PushListener&) = delete;
  PushListener& operator=(const PushListener&) = delete;

  /// running = 0, no thread; false without a handler.
  virtual bool Init(PushHandler* handler);
  /// Unregisters, then registers `programPath` with `parameters` for the MMS content type;
  /// true when the router accepted it.
  virtual bool Register(std::u16string_view programPath, std::u16string_view parameters);
  virtual void Unregister();
  /// Opens the router client (and its event); true on success or when already open.
  virtual bool Open();
  /// Signals the router event (waking a receive) and closes the client.
  virtual void Close();
  /// Waits up to kReceiveWaitMs for the router event, then fetches. True with the body in
  /// *body when one came.
  virtual bool Receive(std::vector<std::uint8_t>* body);
  /// Gets the waiting message, copies its body into *body and frees the router's message.
  virtual bool FetchMessage(std::vector<std::uint8_t>* body);

  /// running = 1, opens the client and starts the thread; false (client closed again) when
  /// either fails.
  bool Start();
  /// running = 0, waits for the thread (at most one receive wait), closes the client.
  void Stop();

  bool running() const { return running_ != 0; }
  /// Directory of "Notification.dat"; the program's data folder of the device
  /// (platform::ProgramDataDirectory) unless set (tests set it).
  void SetNotificationDirectory(std::u16string directory) { directory_ = std::move(directory); }
  std::u16string NotificationPath() const;

 private:
  static DWORD ThreadMain(LPVOID self);
  void Loop();
  void WriteNotificationFile(const std::vector<std::uint8_t>& body) const;

  volatile LONG running_ = 0;
  HANDLE thread_ = nullptr;
  PushHandler* handler_ = nullptr;
  HPUSHROUTER router_ = nullptr;
  HANDLE routerEvent_ = nullptr;
  std::u16string directory_;
};

}  // namespace engine
