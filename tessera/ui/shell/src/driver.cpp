#include "ui/shell/driver.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/test_driver.h"
#include "platform/text.h"

namespace ui {
namespace {

constexpr UINT kMsgDriverStep = WM_USER + 300;
constexpr UINT kMsgDriverSubmitted = WM_USER + 301;
// Steps that find the queue busy before giving up on idleness (a window that repaints forever).
constexpr int kMaxBusySpins = 2000;

// True when nothing but paints and timers is waiting; pending paints are done here, since
// posted messages (the driver's next step among them) always come before them.
bool QueueIdle() {
  for (int i = 0; i < 64; ++i) {
    MSG msg;
    if (!PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE) || msg.message == WM_TIMER) return true;
    if (msg.message != WM_PAINT) return false;
    UpdateWindow(msg.hwnd);
    MSG again;
    if (PeekMessage(&again, nullptr, 0, 0, PM_NOREMOVE) && again.message == WM_PAINT && again.hwnd == msg.hwnd)
      ValidateRect(msg.hwnd, nullptr);  // a window that does not validate its paint
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string DriverSocketPath(const std::u16string& deviceRoot) {
  std::string root = platform::Utf16ToUtf8(deviceRoot);
  if (!root.empty() && root.back() != '/') root.push_back('/');
  return root + "run/tessera-drive.sock";
}

struct Driver::Job {
  std::vector<UINT> keys;
  std::size_t next = 0;
  std::string command;
  std::string argument;
  std::function<void(bool, std::string)> done;
  int busySpins = 0;
};

struct Driver::Shared {
  std::mutex mutex;
  std::deque<std::pair<std::string, std::function<void(bool, std::string)>>> incoming;
  HWND window = nullptr;
  int listenFd = -1;
  std::atomic<bool> stop{false};
  std::thread thread;
  std::string path;
};

const MessageMapEntry Driver::kEntries[] = {
    {kEntryMessage, kMsgDriverStep, Bind(&Driver::OnStep)},
    {kEntryMessage, kMsgDriverSubmitted, Bind(&Driver::OnSubmitted)},
    {kEntryEnd, 0, nullptr},
};
const MessageTable Driver::kTable = {&WindowBase::kTable, Driver::kEntries};

Driver::Driver() : shared_(std::make_shared<Shared>()) {}

Driver::~Driver() {
  StopListening();
}

bool Driver::Open() {
  if (!Create(u"TesseraDriver", u"", WS_POPUP, 0, 0, 0, 0, nullptr)) return false;
  std::lock_guard lock(shared_->mutex);
  shared_->window = hwnd_;
  return true;
}

void Driver::Submit(std::string request, std::function<void(bool, std::string)> done) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->incoming.emplace_back(std::move(request), std::move(done));
  }
  PostMessage(kMsgDriverSubmitted, 0, 0);
}

LRESULT Driver::OnSubmitted(WPARAM, LPARAM) {
  for (;;) {
    std::pair<std::string, std::function<void(bool, std::string)>> item;
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->incoming.empty()) break;
      item = std::move(shared_->incoming.front());
      shared_->incoming.pop_front();
    }
    auto job = std::make_unique<Job>();
    job->done = std::move(item.second);
    std::istringstream in(item.first);
    in >> job->command;
    std::getline(in, job->argument);
    const std::size_t start = job->argument.find_first_not_of(' ');
    job->argument = start == std::string::npos ? "" : job->argument.substr(start);
    if (job->command == "keys") {
      std::istringstream names(job->argument);
      for (std::string name; names >> name;) {
        const UINT vk = platform::testdriver::KeyFromName(name);
        if (!vk) {
          job->done(false, "unknown key: " + name + "\n");
          job.reset();
          break;
        }
        job->keys.push_back(vk);
      }
      if (!job) continue;
    } else if (job->command != "describe" && job->command != "screenshot" && job->command != "wait-idle" &&
               job->command != "advance") {
      job->done(false, "unknown request: " + job->command + "\n");
      continue;
    }
    jobs_.push_back(std::move(job));
  }
  PostStep();
  return 0;
}

void Driver::Finish(Job& job, bool ok, std::string output) {
  auto done = std::move(job.done);
  jobs_.erase(jobs_.begin());
  if (done) done(ok, std::move(output));
}

void Driver::PostStep() {
  if (stepPending_) return;
  stepPending_ = true;
  PostMessage(kMsgDriverStep, 0, 0);
}

LRESULT Driver::OnStep(WPARAM, LPARAM) {
  stepPending_ = false;
  if (jobs_.empty()) return 0;
  Job& job = *jobs_.front();
  // Each step waits until everything the last one caused has been handled.
  if (!QueueIdle() && ++job.busySpins < kMaxBusySpins) {
    PostStep();
    return 0;
  }
  job.busySpins = 0;
  if (job.next < job.keys.size()) {
    platform::testdriver::PressKey(job.keys[job.next++]);
    PostStep();
    return 0;
  }
  if (job.command == "describe") {
    Finish(job, true, platform::testdriver::DescribeScreen());
  } else if (job.command == "advance") {
    // Moves the virtual clock; the timers that fall due run here, inside any modal loop.
    const long ms = std::strtol(job.argument.c_str(), nullptr, 10);
    if (ms > 0) platform::testdriver::RunFor(static_cast<DWORD>(std::min(ms, 3600000L)));
    Finish(job, true, std::string());
  } else if (job.command == "screenshot") {
    const bool saved = !job.argument.empty() && platform::testdriver::SaveScreenshot(job.argument);
    Finish(job, saved, saved ? std::string() : "cannot write " + job.argument + "\n");
  } else {
    Finish(job, true, std::string());
  }
  if (!jobs_.empty()) PostStep();
  return 0;
}

bool Driver::Listen(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::unlink(path.c_str());  // a socket left by a killed instance
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return false;
  }
  shared_->listenFd = fd;
  shared_->path = path;
  shared_->thread = std::thread([this] { ServeConnections(); });
  return true;
}

void Driver::StopListening() {
  if (shared_->listenFd < 0) return;
  shared_->stop = true;
  ::shutdown(shared_->listenFd, SHUT_RDWR);
  if (shared_->thread.joinable()) shared_->thread.join();
  ::close(shared_->listenFd);
  ::unlink(shared_->path.c_str());
  shared_->listenFd = -1;
}

void Driver::ServeConnections() {
  std::shared_ptr<Shared> shared = shared_;
  while (!shared->stop) {
    const int client = ::accept4(shared->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (shared->stop) break;
      continue;
    }
    // One request line per connection, at most 64 KiB.
    std::string line;
    char c = 0;
    while (line.size() < 65536 && ::recv(client, &c, 1, 0) == 1 && c != '\n') line.push_back(c);
    auto answered = std::make_shared<std::promise<std::pair<bool, std::string>>>();
    auto future = answered->get_future();
    {
      std::lock_guard lock(shared->mutex);
      shared->incoming.emplace_back(line, [answered](bool ok, std::string output) {
        answered->set_value({ok, std::move(output)});
      });
    }
    ::PostMessage(shared->window, kMsgDriverSubmitted, 0, 0);
    while (future.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready)
      if (shared->stop) break;
    if (future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      try {
        auto [ok, output] = future.get();
        WriteAll(client, (ok ? std::string("ok\n") : std::string("error\n")) + output);
      } catch (const std::future_error&) {
        // The instance closed before answering.
      }
    }
    ::close(client);
  }
}

}  // namespace ui
