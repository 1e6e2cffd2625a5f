#pragma once
// A scripted HTTP/1.1 server on a free loopback port, one connection at a time, each closed
// after its answer. The test's handler decides the answer; it can also hold the request open
// without answering (until the client goes or the server stops) to test stalls and cancels.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace transport_test {

struct HttpRequest {
  std::string method;
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::vector<std::string> headerNames;        // as sent, in order
  std::string body;
};

struct HttpAnswer {
  int status = 200;
  std::string contentType = "application/vnd.wap.mms-message";
  std::string body;
  bool hold = false;          // never answer
  bool readBody = true;       // false: stop reading after the headers
};

class TestHttpServer {
 public:
  TestHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (::pipe(stop_) != 0) stop_[0] = stop_[1] = -1;
    thread_ = std::thread([this] { Loop(); });
  }
  ~TestHttpServer() {
    [[maybe_unused]] const ssize_t w = ::write(stop_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(stop_[0]);
    ::close(stop_[1]);
  }
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<HttpRequest> Requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  /// Requests whose headers have arrived (also those being held).
  int Seen() const { return seen_.load(); }

  std::function<HttpAnswer(const HttpRequest&)> handler;

 private:
  bool Stopping(int fd, int ms) {
    pollfd p[2] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
    ::poll(p, 2, ms);
    return (p[0].revents & POLLIN) != 0;
  }

  void Loop() {
    for (;;) {
      if (Stopping(listener_, -1)) return;
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      const bool stop = Serve(fd);
      ::close(fd);
      if (stop) return;
    }
  }

  // True when the server was stopped meanwhile.
  bool Serve(int fd) {
    std::string buf;
    char chunk[16384];
    std::size_t end = std::string::npos;
    while (end == std::string::npos) {
      if (Stopping(fd, -1)) return true;
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return false;
      buf.append(chunk, static_cast<std::size_t>(n));
      end = buf.find("\r\n\r\n");
    }
    HttpRequest r;
    std::size_t lineEnd = buf.find("\r\n");
    const std::string line = buf.substr(0, lineEnd);
    const std::size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    r.method = line.substr(0, sp1);
    r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::size_t length = 0;
    for (std::size_t at = lineEnd + 2; at < end;) {
      const std::size_t next = buf.find("\r\n", at);
      const std::string h = buf.substr(at, next - at);
      const std::size_t colon = h.find(':');
      std::string name = h.substr(0, colon), value = colon == std::string::npos ? "" : h.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      r.headerNames.push_back(name);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (name == "content-length") length = std::stoul(value);
      r.headers[name] = value;
      at = next + 2;
    }
    ++seen_;
    const HttpAnswer answer = handler ? handler(r) : HttpAnswer{};
    r.body = buf.substr(end + 4);
    while (answer.readBody && r.body.size() < length) {
      if (Stopping(fd, -1)) return true;
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      r.body.append(chunk, static_cast<std::size_t>(n));
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      requests_.push_back(r);
    }
    if (answer.hold) {
      // Until the client gives up (its end closes) or the server stops.
      for (;;) {
        if (Stopping(fd, -1)) return true;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
      }
    }
    std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " Status\r\n";
    if (!answer.contentType.empty()) out += "Content-Type: " + answer.contentType + "\r\n";
    out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n" + answer.body;
    for (std::size_t off = 0; off < out.size();) {
      const ssize_t w = ::send(fd, out.data() + off, out.size() - off, MSG_NOSIGNAL);
      if (w <= 0) break;
      off += static_cast<std::size_t>(w);
    }
    return false;
  }

  int listener_ = -1;
  int port_ = 0;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  std::mutex lock_;
  std::vector<HttpRequest> requests_;
  std::atomic<int> seen_{0};
};

}  // namespace transport_test
