#pragma once
/// Test helper: runs the push router daemon of the current device root on a free loopback
/// port for the lifetime of the object.

#include <sys/types.h>

#include <string>

namespace platform_testing {

/// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

/// Path of the pushrouter program beside the test binaries, or "" when it was not built.
std::string PushRouterProgram();

class ScopedPushRouter {
 public:
  /// Starts `pushrouter --port <free port>` and waits (up to 5 s) until its socket answers.
  /// Without `passPort` no --port is given (the router takes the registry's or its default).
  explicit ScopedPushRouter(bool passPort = true);
  /// Stops it with SIGTERM and waits for it.
  ~ScopedPushRouter();
  ScopedPushRouter(const ScopedPushRouter&) = delete;
  ScopedPushRouter& operator=(const ScopedPushRouter&) = delete;

  bool running() const { return ready_; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  /// Sends SIGTERM and waits; the exit status as waitpid reports it, or -1.
  int Stop();
  /// Sends one datagram to the router's port.
  bool SendDatagram(const void* data, std::size_t size) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace platform_testing
