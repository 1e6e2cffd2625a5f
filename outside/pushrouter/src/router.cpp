#include "router.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"
#include "push_pdu.h"

namespace pushrouter {

using platform::push::WireOp;

namespace {

int gSignalPipe[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
  errno = saved;
}

constexpr char kQueueMagic[4] = {'T', 'P', 'Q', '1'};
constexpr int kTickMs = 500;
constexpr std::size_t kMaxDatagram = 65536;
// A queue nobody takes from stops growing here, so a flood of pushes cannot fill the disk.
constexpr std::size_t kMaxQueued = 1000;

std::string Errno() {
  return std::strerror(errno);
}

int RegistryPort() {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, platform::push::kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return -1;
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  LONG r = RegQueryValueEx(key, u"Port", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || value == 0 || value > 65535) return -1;
  return static_cast<int>(value);
}

std::vector<std::string> SplitParameters(const std::string& text) {
  std::vector<std::string> out;
  std::string word;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      if (!word.empty()) out.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) out.push_back(std::move(word));
  return out;
}

}  // namespace

Router::~Router() {
  for (auto& c : conns_) ::close(c->fd);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    struct stat st {};
    // Remove the socket only when it is still ours.
    if (::stat(socketPath_.c_str(), &st) == 0 && st.st_ino == socketInode_) ::unlink(socketPath_.c_str());
  }
  if (udpFd_ >= 0) ::close(udpFd_);
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool Router::Init(const Options& options, std::string* error) {
  root_ = platform::NativePath(platform::DeviceRoot());
  // Programs started for a registration share this device root.
  ::setenv("TESSERA_ROOT", root_.c_str(), 1);
  std::string run = root_ + "/run";
  ::mkdir(run.c_str(), 0700);
  queueDir_ = root_ + "/push";
  ::mkdir(queueDir_.c_str(), 0700);

  std::string lockPath = run + "/pushrouter.lock";
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    *error = "cannot open " + lockPath + ": " + Errno();
    return false;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    *error = "a push router already runs for the device root " + root_;
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }

  LoadQueued();

  int port = options.port >= 0 ? options.port : RegistryPort();
  if (port < 0) port = platform::push::kDefaultPort;
  udpFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, options.bindAddress.c_str(), &addr.sin_addr) != 1) {
    *error = "bad address " + options.bindAddress;
    return false;
  }
  if (udpFd_ < 0 || ::bind(udpFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::string problem =
        "cannot listen on " + options.bindAddress + ":" + std::to_string(port) + ": " + Errno();
    if (options.port >= 0) {
      *error = problem;
      return false;
    }
    // The default port may belong to the router of another device root. Without a port
    // of its own this router still queues injected bodies and starts programs.
    std::fprintf(stderr, "pushrouter: %s; serving without a push port\n", problem.c_str());
    if (udpFd_ >= 0) ::close(udpFd_);
    udpFd_ = -1;
  } else {
    socklen_t len = sizeof addr;
    ::getsockname(udpFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }

  socketPath_ = platform::push::SocketPath();
  sockaddr_un un{};
  if (socketPath_.size() >= sizeof un.sun_path) {
    *error = "socket path too long: " + socketPath_;
    return false;
  }
  un.sun_family = AF_UNIX;
  std::memcpy(un.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  ::unlink(socketPath_.c_str());  // a leftover of a router that died; we hold the lock
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&un), sizeof un) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    *error = "cannot listen on " + socketPath_ + ": " + Errno();
    return false;
  }
  struct stat st {};
  if (::stat(socketPath_.c_str(), &st) == 0) socketInode_ = st.st_ino;

  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = "pipe: " + Errno();
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  // Messages kept from an earlier run wait for their program too.
  for (auto& [type, q] : queues_) {
    if (!q.items.empty()) Launch(type, q);
  }
  return true;
}

std::string Router::QueueFile(std::uint32_t seq) const {
  char name[32];
  std::snprintf(name, sizeof name, "/%010u.msg", seq);
  return queueDir_ + name;
}

bool Router::Persist(const std::string& type, const Message& m) {
  std::string path = QueueFile(m.seq);
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string data(kQueueMagic, 4);
  platform::push::PutText(data, type);
  data += m.body;
  bool ok = true;
  for (std::size_t done = 0; ok && done < data.size();) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

void Router::Unpersist(std::uint32_t seq) {
  ::unlink(QueueFile(seq).c_str());
}

void Router::LoadQueued() {
  DIR* dir = ::opendir(queueDir_.c_str());
  if (!dir) return;
  std::vector<std::uint32_t> seqs;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    unsigned seq = 0;
    char tail[8] = {};
    if (name.size() == 14 && std::sscanf(name.c_str(), "%10u%7s", &seq, tail) == 2 &&
        std::strcmp(tail, ".msg") == 0 && seq != 0)
      seqs.push_back(seq);
    else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
      ::unlink((queueDir_ + "/" + name).c_str());  // a write that never finished
  }
  ::closedir(dir);
  std::sort(seqs.begin(), seqs.end());
  // Numbers of damaged files are not reused either: a new body never overwrites one.
  if (!seqs.empty()) nextSeq_ = std::max(nextSeq_, seqs.back() + 1);
  for (std::uint32_t seq : seqs) {
    std::string path = QueueFile(seq);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) continue;
    std::string data;
    char buf[8192];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    std::fclose(f);
    platform::push::WireReader r{reinterpret_cast<const std::uint8_t*>(data.data()),
                                 reinterpret_cast<const std::uint8_t*>(data.data()) + data.size()};
    bool magic = data.size() >= 4 && std::memcmp(data.data(), kQueueMagic, 4) == 0;
    r.p += magic ? 4 : 0;
    std::string type = r.Text();
    if (!magic || r.bad || type.empty()) {
      std::fprintf(stderr, "pushrouter: skipping damaged queue file %s\n", path.c_str());
      continue;
    }
    Message m;
    m.seq = seq;
    m.body.assign(reinterpret_cast<const char*>(r.p), static_cast<std::size_t>(r.end - r.p));
    queues_[type].items.push_back(std::move(m));
    nextSeq_ = std::max(nextSeq_, seq + 1);
  }
}

bool Router::Enqueue(const std::string& rawType, std::string body) {
  std::string type = NormaliseContentType(rawType);
  Queue& q = queues_[type];
  if (q.items.size() >= kMaxQueued) {
    std::fprintf(stderr, "pushrouter: the queue of %s is full, dropping a body of %zu octets\n", type.c_str(),
                 body.size());
    return false;
  }
  Message m;
  m.seq = nextSeq_++;
  if (nextSeq_ == 0) nextSeq_ = 1;
  m.body = std::move(body);
  if (!Persist(type, m))
    std::fprintf(stderr, "pushrouter: cannot keep message %u on disk: %s\n", m.seq, Errno().c_str());
  q.items.push_back(std::move(m));
  if (q.owner)
    Offer(q);
  else
    Launch(type, q);
  return true;
}

void Router::Offer(Queue& q) {
  if (!q.owner || q.offered || q.items.empty()) return;
  const Message& m = q.items.front();
  std::string payload(1, static_cast<char>(WireOp::Offer));
  platform::push::PutU32(payload, m.seq);
  platform::push::PutText(payload, m.body);
  q.owner->out += platform::push::Frame(payload);
  q.offered = true;
  FlushConn(*q.owner);
}

void Router::Launch(const std::string& type, Queue& q) {
  if (q.launched > 0) return;  // started already and still starting up
  std::u16string wideType(type.begin(), type.end());
  platform::push::Registration reg;
  if (!platform::push::LookUpRegistration(wideType, &reg)) return;
  std::string path = platform::NativePath(reg.path);
  std::vector<std::string> args = SplitParameters(platform::Utf16ToUtf8(reg.parameters));
  std::vector<char*> argv;
  argv.push_back(path.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) {
    std::fprintf(stderr, "pushrouter: cannot start %s: %s\n", path.c_str(), Errno().c_str());
    return;
  }
  if (pid == 0) {
    ::setsid();
    ::close_range(3, ~0u, 0);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  q.launched = pid;
  std::fprintf(stderr, "pushrouter: started %s for %s (pid %d)\n", path.c_str(), type.c_str(),
               static_cast<int>(pid));
}

void Router::Reap() {
  for (;;) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) return;
    for (auto& [type, q] : queues_) {
      if (q.launched == pid) q.launched = 0;
    }
  }
}

void Router::ReceiveDatagrams() {
  std::vector<std::uint8_t> buf(kMaxDatagram);
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n =
        ::recvfrom(udpFd_, buf.data(), buf.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    char who[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, who, sizeof who);
    if (static_cast<std::size_t>(n) > buf.size()) {
      std::fprintf(stderr, "pushrouter: dropped an oversized datagram from %s\n", who);
      continue;
    }
    PushPdu pdu;
    PduResult r = ParsePushPdu(buf.data(), static_cast<std::size_t>(n), &pdu);
    if (r != PduResult::Ok) {
      std::fprintf(stderr, "pushrouter: dropped a malformed push from %s:%u (error %d)\n", who,
                   ntohs(from.sin_port), static_cast<int>(r));
      continue;
    }
    Enqueue(pdu.contentType, std::string(reinterpret_cast<const char*>(pdu.body), pdu.bodySize));
  }
}

void Router::Accept() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    conns_.push_back(std::move(c));
  }
}

void Router::ReadConn(Conn& c) {
  char buf[65536];
  bool ended = false;
  for (;;) {
    ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      ended = true;
      break;
    }
    c.in.append(buf, static_cast<std::size_t>(n));
  }
  // Frames that came before the end still count (an acknowledgement just before closing).
  while (!c.dead && c.in.size() >= 4) {
    std::uint32_t len = 0;
    for (int i = 0; i < 4; ++i)
      len |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(c.in[i])) << (8 * i);
    if (len == 0 || len > platform::push::kMaxFrame) {
      c.dead = true;
      break;
    }
    if (c.in.size() < 4 + static_cast<std::size_t>(len)) break;
    std::string payload = c.in.substr(4, len);
    c.in.erase(0, 4 + static_cast<std::size_t>(len));
    HandleFrame(c, payload);
  }
  if (ended) c.dead = true;
}

void Router::HandleFrame(Conn& c, const std::string& payload) {
  platform::push::WireReader r{reinterpret_cast<const std::uint8_t*>(payload.data()),
                               reinterpret_cast<const std::uint8_t*>(payload.data()) + payload.size()};
  auto op = static_cast<WireOp>(r.U8());
  auto reply = [&](WireOp what, LONG result) {
    std::string out(1, static_cast<char>(what));
    platform::push::PutU32(out, static_cast<std::uint32_t>(result));
    c.out += platform::push::Frame(out);
    FlushConn(c);
  };
  switch (op) {
    case WireOp::Open: {
      std::string type = NormaliseContentType(r.Text());
      r.Text();  // application id: queues are kept per content type
      if (r.bad || type.empty() || !c.openType.empty()) {
        reply(WireOp::Opened, PUSH_E_INVALIDARG);
        return;
      }
      Queue& q = queues_[type];
      if (q.owner) {
        reply(WireOp::Opened, PUSH_E_BUSY);
        return;
      }
      q.owner = &c;
      q.offered = false;
      c.openType = type;
      reply(WireOp::Opened, PUSH_S_OK);
      Offer(q);
      return;
    }
    case WireOp::Ack: {
      std::uint32_t seq = r.U32();
      if (r.bad || c.openType.empty()) return;
      Queue& q = queues_[c.openType];
      if (q.owner != &c || !q.offered || q.items.empty() || q.items.front().seq != seq) return;
      Unpersist(seq);
      q.items.pop_front();
      q.offered = false;
      Offer(q);
      return;
    }
    case WireOp::Inject: {
      std::string type = r.Text();
      std::string body = r.Text();
      if (r.bad || NormaliseContentType(type).empty()) {
        reply(WireOp::Injected, PUSH_E_INVALIDARG);
        return;
      }
      bool queued = Enqueue(type, std::move(body));
      reply(WireOp::Injected, queued ? PUSH_S_OK : PUSH_E_OUTOFMEMORY);
      return;
    }
    case WireOp::Opened:
    case WireOp::Offer:
    case WireOp::Injected:
      break;
  }
  c.dead = true;  // not something a client sends
}

void Router::FlushConn(Conn& c) {
  while (!c.dead && !c.out.empty()) {
    ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      c.dead = true;
      return;
    }
    c.out.erase(0, static_cast<std::size_t>(n));
  }
}

void Router::DropConn(Conn& c) {
  if (!c.openType.empty()) {
    Queue& q = queues_[c.openType];
    if (q.owner == &c) {
      // Whatever was offered and not taken stays at the head for the next client.
      q.owner = nullptr;
      q.offered = false;
    }
  }
  ::close(c.fd);
  c.fd = -1;
}

int Router::Run() {
  if (udpFd_ >= 0)
    std::printf("pushrouter: listening on port %d for the device root %s\n", port_, root_.c_str());
  else
    std::printf("pushrouter: serving the device root %s\n", root_.c_str());
  std::fflush(stdout);
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({gSignalPipe[0], POLLIN, 0});
    fds.push_back({udpFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (auto& c : conns_)
      fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
    int r = ::poll(fds.data(), fds.size(), kTickMs);
    if (r < 0 && errno != EINTR) {
      std::fprintf(stderr, "pushrouter: poll: %s\n", Errno().c_str());
      return 1;
    }
    if (fds[0].revents) {
      std::fprintf(stderr, "pushrouter: stopping\n");
      return 0;
    }
    if (fds[1].revents) ReceiveDatagrams();
    if (fds[2].revents) Accept();
    std::size_t known = fds.size() - 3;
    for (std::size_t i = 0; i < known && i < conns_.size(); ++i) {
      short ev = fds[3 + i].revents;
      Conn& c = *conns_[i];
      if (ev & (POLLIN | POLLHUP | POLLERR)) ReadConn(c);
      if (ev & POLLOUT) FlushConn(c);
    }
    for (auto it = conns_.begin(); it != conns_.end();) {
      if ((*it)->dead) {
        DropConn(**it);
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
    Reap();
    // When the device root went away (a test removed it), so does its router.
    struct stat st {};
    if (::stat(socketPath_.c_str(), &st) != 0 || st.st_ino != socketInode_) {
      std::fprintf(stderr, "pushrouter: the socket %s is gone, stopping\n", socketPath_.c_str());
      return 0;
    }
  }
}

}  // namespace pushrouter
