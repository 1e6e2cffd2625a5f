#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

extern char** environ;

namespace platform {

bool StartProgram(std::u16string_view path, std::u16string_view commandLine) {
  const std::string program = Utf16ToUtf8(path);
  if (program.empty() || ::access(program.c_str(), X_OK) != 0) return false;
  std::vector<std::string> args{program};
  std::string current;
  for (char c : Utf16ToUtf8(commandLine)) {
    if (c == ' ') {
      if (!current.empty()) args.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The program runs in its own session, so it outlives this process and its signals.
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  // Reaped when it ends, so a finished program leaves no zombie behind.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace platform
