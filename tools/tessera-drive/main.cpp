// tessera-drive: drives a running tessera through its driver socket.
//
//   tessera-drive [--root DIR] keys "K1 K2 ..." | describe | screenshot FILE
//                 | wait-text TEXT [--timeout S] | wait-idle
//
// DIR defaults to TESSERA_ROOT (else the platform's device root). Exit 0 on success, 1 when
// wait-text times out or the instance reports an error, 2 when no tessera runs there
// (wait-text waits for one to start until its time-out).

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "platform/text.h"
#include "ui/shell/driver.h"

namespace {

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "tessera-drive: %s\n", problem);
  std::fprintf(stderr,
               "usage: tessera-drive [--root DIR] keys \"K1 K2 ...\" | describe | screenshot FILE |\n"
               "                     wait-text TEXT [--timeout S] | wait-idle\n");
  return 2;
}

enum class Outcome { Ok, Error, NoInstance };

/// Sends one request line and reads the answer: "ok" or "error", then the output.
Outcome Ask(const std::string& socketPath, const std::string& request, std::string* output) {
  sockaddr_un addr{};
  if (socketPath.size() >= sizeof addr.sun_path) return Outcome::NoInstance;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Outcome::NoInstance;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return Outcome::NoInstance;
  }
  const std::string line = request + "\n";
  bool sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  std::string answer;
  char buffer[4096];
  for (ssize_t n; sent && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  const std::size_t eol = answer.find('\n');
  if (eol == std::string::npos) return Outcome::NoInstance;  // it went away while answering
  *output = answer.substr(eol + 1);
  return answer.compare(0, eol, "ok") == 0 ? Outcome::Ok : Outcome::Error;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  if (const char* env = std::getenv("TESSERA_ROOT"); env && *env) root = env;
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--root") {
    root = argv[i + 1];
    i += 2;
  }
  if (i >= argc) return Usage("no command");
  if (root.empty()) root = platform::Utf16ToUtf8(platform::DeviceRoot());
  const std::string socketPath = ui::DriverSocketPath(platform::Utf8ToUtf16(root));
  const std::string command = argv[i++];
  auto noInstance = [&] {
    std::fprintf(stderr, "tessera-drive: no running tessera on %s\n", root.c_str());
    return 2;
  };
  std::string output;
  if (command == "wait-text") {
    if (i >= argc) return Usage("wait-text needs a text");
    const std::string text = argv[i++];
    double timeout = 10;
    if (i + 1 < argc && std::string(argv[i]) == "--timeout") timeout = std::atof(argv[i + 1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(timeout * 1000));
    for (;;) {
      // An instance that is still starting is waited for as well.
      const Outcome outcome = Ask(socketPath, "describe", &output);
      if (outcome == Outcome::Ok && output.find(text) != std::string::npos) return 0;
      if (std::chrono::steady_clock::now() >= deadline) {
        if (outcome == Outcome::NoInstance) return noInstance();
        std::fprintf(stderr, "tessera-drive: \"%s\" did not appear; the screen is:\n%s", text.c_str(), output.c_str());
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  std::string request;
  if (command == "keys" && i < argc) {
    request = "keys " + std::string(argv[i]);
  } else if (command == "describe" || command == "wait-idle") {
    request = command;
  } else if (command == "screenshot" && i < argc) {
    // The instance writes the file: give it an absolute path.
    std::string file = argv[i];
    if (!file.empty() && file[0] != '/') {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd)) file = std::string(cwd) + "/" + file;
    }
    request = "screenshot " + file;
  } else {
    return Usage(("unknown command or missing argument: " + command).c_str());
  }
  const Outcome outcome = Ask(socketPath, request, &output);
  if (outcome == Outcome::NoInstance) return noInstance();
  std::fputs(output.c_str(), outcome == Outcome::Ok ? stdout : stderr);
  return outcome == Outcome::Ok ? 0 : 1;
}
