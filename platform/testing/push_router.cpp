#include "platform_testing/push_router.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/paths.h"
#include "platform/push.h"

namespace platform_testing {

int FreeUdpPort() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

std::string PushRouterProgram() {
  std::string path = platform::NativePath(platform::JoinPath(platform::ProgramDirectory(), u"pushrouter"));
  return ::access(path.c_str(), X_OK) == 0 ? path : std::string();
}

ScopedPushRouter::ScopedPushRouter(bool passPort) {
  std::string program = PushRouterProgram();
  if (program.empty()) return;
  port_ = FreeUdpPort();
  std::string portText = std::to_string(port_);
  char* argv[] = {program.data(), passPort ? const_cast<char*>("--port") : nullptr, portText.data(), nullptr};
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execv(program.c_str(), argv);
    ::_exit(127);
  }
  if (pid_ < 0) return;
  for (int i = 0; i < 250; ++i) {
    int fd = platform::push::Connect();
    if (fd >= 0) {
      ::close(fd);
      ready_ = true;
      return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int ScopedPushRouter::Stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = -1;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  ready_ = false;
  return status;
}

ScopedPushRouter::~ScopedPushRouter() {
  Stop();
}

bool ScopedPushRouter::SendDatagram(const void* data, std::size_t size) const {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port_));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok =
      ::sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == static_cast<ssize_t>(size);
  ::close(fd);
  return ok;
}

}  // namespace platform_testing
