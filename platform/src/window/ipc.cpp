// Cross-process windows. Each process with top-level windows listens on a Unix-domain
// socket <root>/run/win-<pid>.sock; other processes of the same device root connect to it
// to find windows, bring one to the foreground or send it a message (WM_COPYDATA carries
// its data block along). One request per connection: a 4-byte length (little-endian) and
// the request, answered the same way. Sockets of dead processes are skipped and removed.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/unix_socket.h"
#include "internal.h"
#include "platform/display.h"

namespace platform::win {
namespace {

enum class Op : std::uint8_t { Find = 1, Send = 2, Post = 3, Foreground = 4 };

constexpr std::uint32_t kMaxRequest = 16u << 20;
constexpr int kIoTimeoutMs = 10000;

const std::uint64_t kSelf = static_cast<std::uint64_t>(getpid());

struct Writer {
  std::vector<std::uint8_t> data;
  void U8(std::uint8_t v) { data.push_back(v); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Bytes(const void* p, std::size_t n) {
    U32(static_cast<std::uint32_t>(n));
    auto* b = static_cast<const std::uint8_t*>(p);
    data.insert(data.end(), b, b + n);
  }
  void Text(const std::u16string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    for (char16_t c : s) {
      data.push_back(static_cast<std::uint8_t>(c));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
};

/// Bounded reader with a sticky error flag.
struct Reader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool bad = false;
  bool Need(std::size_t n) {
    if (bad || static_cast<std::size_t>(end - p) < n) bad = true;
    return !bad;
  }
  std::uint8_t U8() { return Need(1) ? *p++ : 0; }
  std::uint32_t U32() {
    if (!Need(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(*p++) << (8 * i);
    return v;
  }
  std::uint64_t U64() {
    if (!Need(8)) return 0;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(*p++) << (8 * i);
    return v;
  }
  std::vector<std::uint8_t> Bytes() {
    std::uint32_t n = U32();
    if (!Need(n)) return {};
    std::vector<std::uint8_t> v(p, p + n);
    p += n;
    return v;
  }
  std::u16string Text() {
    std::uint32_t n = U32();
    if (n > (1u << 20) || !Need(static_cast<std::size_t>(n) * 2)) return {};
    std::u16string s;
    for (std::uint32_t i = 0; i < n; ++i, p += 2) s.push_back(static_cast<char16_t>(p[0] | (p[1] << 8)));
    return s;
  }
};

bool WaitFd(int fd, short events, int timeoutMs, bool pumpSent) {
  // A thread waiting for another process keeps running messages sent to it, so two
  // processes sending to each other do not deadlock.
  int waited = 0;
  for (;;) {
    pollfd p{fd, events, 0};
    int slice = pumpSent ? 10 : timeoutMs;
    int r = ::poll(&p, 1, slice);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
    waited += slice;
    if (waited >= timeoutMs) return false;
    if (pumpSent) {
      MSG m;
      // PM_NOREMOVE of an empty filter still runs pending sent messages.
      PeekMessage(&m, nullptr, WM_NULL, WM_NULL, PM_NOREMOVE);
    }
  }
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n, bool pump) {
  while (n > 0) {
    if (!WaitFd(fd, POLLOUT, kIoTimeoutMs, pump)) return false;
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool ReadAll(int fd, std::uint8_t* p, std::size_t n, bool pump) {
  while (n > 0) {
    if (!WaitFd(fd, POLLIN, kIoTimeoutMs, pump)) return false;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool SendFrame(int fd, const std::vector<std::uint8_t>& body, bool pump) {
  Writer w;
  w.U32(static_cast<std::uint32_t>(body.size()));
  return WriteAll(fd, w.data.data(), 4, pump) && WriteAll(fd, body.data(), body.size(), pump);
}

bool ReadFrame(int fd, std::vector<std::uint8_t>* body, bool pump) {
  std::uint8_t len[4];
  if (!ReadAll(fd, len, 4, pump)) return false;
  std::uint32_t n = len[0] | (len[1] << 8) | (len[2] << 16) | (static_cast<std::uint32_t>(len[3]) << 24);
  if (n > kMaxRequest) return false;
  body->resize(n);
  return ReadAll(fd, body->data(), n, pump);
}

std::string RunDir() {
  std::string dir = WindowDeviceRoot() + "/run";
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

std::string SocketPath(const std::string& dir, std::uint64_t pid) {
  return dir + "/win-" + std::to_string(pid) + ".sock";
}

/// Connects to the process `pid` of the current device root; -1 when it is gone.
int ConnectTo(std::uint64_t pid) {
  std::string path = SocketPath(RunDir(), pid);
  if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
    ::unlink(path.c_str());
    return -1;
  }
  return platform::core::ConnectUnixSocket(path);
}

bool Exchange(std::uint64_t pid, const Writer& request, std::vector<std::uint8_t>* reply) {
  int fd = ConnectTo(pid);
  if (fd < 0) return false;
  bool ok = SendFrame(fd, request.data, true) && ReadFrame(fd, reply, true);
  ::close(fd);
  return ok;
}

std::vector<std::uint64_t> OtherProcesses() {
  std::vector<std::uint64_t> pids;
  std::string dir = RunDir();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return pids;
  while (dirent* e = ::readdir(d)) {
    unsigned long long pid = 0;
    char tail[8] = {};
    if (std::sscanf(e->d_name, "win-%llu.%5s", &pid, tail) == 2 && std::strcmp(tail, "sock") == 0 &&
        pid != kSelf)
      pids.push_back(pid);
  }
  ::closedir(d);
  std::sort(pids.begin(), pids.end());
  return pids;
}

std::uint64_t PidOf(HWND h) {
  return reinterpret_cast<std::uintptr_t>(h) >> 32;
}

}  // namespace

/// Handles one request of another process.
std::vector<std::uint8_t> ServeIpcRequest(const std::vector<std::uint8_t>& body) {
  Reader r{body.data(), body.data() + body.size()};
  Writer out;
  auto op = static_cast<Op>(r.U8());
  switch (op) {
    case Op::Find: {
      std::uint8_t flags = r.U8();
      std::u16string cls = r.Text(), title = r.Text();
      if (r.bad) break;
      HWND h = FindLocalWindow((flags & 1) ? cls.c_str() : nullptr, (flags & 2) ? title.c_str() : nullptr);
      out.U64(reinterpret_cast<std::uintptr_t>(h));
      break;
    }
    case Op::Send:
    case Op::Post: {
      auto h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(r.U64()));
      UINT msg = r.U32();
      WPARAM wParam = static_cast<WPARAM>(r.U64());
      LPARAM lParam = static_cast<LPARAM>(r.U64());
      std::uint64_t dwData = 0;
      std::vector<std::uint8_t> data;
      if (msg == WM_COPYDATA) {
        dwData = r.U64();
        data = r.Bytes();
      }
      if (r.bad || PidOf(h) != kSelf || !IsWindow(h)) {
        out.U8(0);
        out.U64(0);
        break;
      }
      if (op == Op::Post) {
        out.U8(msg != WM_COPYDATA && PostMessage(h, msg, wParam, lParam) ? 1 : 0);
        out.U64(0);
        break;
      }
      COPYDATASTRUCT cds{static_cast<ULONG_PTR>(dwData), static_cast<DWORD>(data.size()),
                         data.empty() ? nullptr : data.data()};
      if (msg == WM_COPYDATA) lParam = reinterpret_cast<LPARAM>(&cds);
      DWORD result = 0;
      LRESULT ok = SendMessageTimeout(h, msg, wParam, lParam, SMTO_NORMAL, kIoTimeoutMs, &result);
      out.U8(ok ? 1 : 0);
      out.U64(static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(result))));
      break;
    }
    case Op::Foreground: {
      auto h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(r.U64()));
      bool ok = !r.bad && PidOf(h) == kSelf && SetForegroundWindow(h);
      if (ok) DisplayRaise();
      out.U8(ok ? 1 : 0);
      break;
    }
  }
  return out.data;
}

namespace {

class Listener {
 public:
  ~Listener() { Stop(); }

  void EnsureFor(const std::string& dir) {
    std::lock_guard lock(mu_);
    if (running_ && dir == dir_) return;
    StopLocked();
    std::string path = SocketPath(dir, kSelf);
    sockaddr_un addr;
    if (!platform::core::MakeUnixAddress(path, &addr)) return;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
      ::close(fd);
      return;
    }
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
      ::close(fd);
      ::unlink(path.c_str());
      return;
    }
    fd_ = fd;
    dir_ = dir;
    path_ = path;
    running_ = true;
    thread_ = std::thread([fd, wake = wake_[0]] { Loop(fd, wake); });
  }

  void Stop() {
    std::lock_guard lock(mu_);
    StopLocked();
  }

 private:
  void StopLocked() {
    if (!running_) return;
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &c, 1);
    thread_.join();
    ::close(fd_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    ::unlink(path_.c_str());
    running_ = false;
  }

  static void Loop(int fd, int wake) {
    for (;;) {
      pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (p[1].revents) return;
      if (!(p[0].revents & POLLIN)) continue;
      int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::vector<std::uint8_t> body;
      if (ReadFrame(c, &body, false)) SendFrame(c, ServeIpcRequest(body), false);
      ::close(c);
    }
  }

  std::mutex mu_;
  bool running_ = false;
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  std::string dir_;
  std::string path_;
  std::thread thread_;
};

Listener& TheListener() {
  static Listener listener;
  return listener;
}

}  // namespace

bool IsRemote(HWND hwnd) {
  auto v = reinterpret_cast<std::uintptr_t>(hwnd);
  return hwnd && (v >> 32) != 0 && (v >> 32) != kSelf;
}

void EnsureIpcListener() {
  TheListener().EnsureFor(RunDir());
}

HWND RemoteFind(LPCWSTR className, LPCWSTR windowName) {
  Writer w;
  w.U8(static_cast<std::uint8_t>(Op::Find));
  w.U8(static_cast<std::uint8_t>((className ? 1 : 0) | (windowName ? 2 : 0)));
  w.Text(className ? className : u"");
  w.Text(windowName ? windowName : u"");
  for (std::uint64_t pid : OtherProcesses()) {
    std::vector<std::uint8_t> reply;
    if (!Exchange(pid, w, &reply)) continue;
    Reader r{reply.data(), reply.data() + reply.size()};
    std::uint64_t h = r.U64();
    // A reply must name a window of the process that answered.
    if (!r.bad && h && (h >> 32) == pid) return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(h));
  }
  return nullptr;
}

bool RemoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  Writer w;
  w.U8(static_cast<std::uint8_t>(result ? Op::Send : Op::Post));
  w.U64(reinterpret_cast<std::uintptr_t>(hwnd));
  w.U32(msg);
  w.U64(wParam);
  w.U64(static_cast<std::uint64_t>(lParam));
  if (msg == WM_COPYDATA) {
    if (!result) return false;  // the data block must outlive the call: send only
    auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!cds || (cds->cbData && !cds->lpData) || cds->cbData > kMaxRequest - 64) return false;
    w.U64(cds->dwData);
    w.Bytes(cds->lpData, cds->cbData);
  }
  std::vector<std::uint8_t> reply;
  if (!Exchange(PidOf(hwnd), w, &reply)) return false;
  Reader r{reply.data(), reply.data() + reply.size()};
  bool ok = r.U8() != 0;
  auto value = static_cast<LRESULT>(r.U64());
  if (r.bad) return false;
  if (result) *result = value;
  return ok;
}

bool RemoteSetForeground(HWND hwnd) {
  Writer w;
  w.U8(static_cast<std::uint8_t>(Op::Foreground));
  w.U64(reinterpret_cast<std::uintptr_t>(hwnd));
  std::vector<std::uint8_t> reply;
  if (!Exchange(PidOf(hwnd), w, &reply)) return false;
  Reader r{reply.data(), reply.data() + reply.size()};
  return r.U8() != 0 && !r.bad;
}

}  // namespace platform::win
