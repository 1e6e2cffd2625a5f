#pragma once
// Runs Debian's WAP gateway (bearerbox + wapbox) and a loopback HTTP origin inside a private
// network namespace, for the integration test and the benchmark. The caller re-executes
// itself under `unshare -rn` (RunInNamespace); inside, Gateway starts and stops everything.

#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kannel_harness {

inline constexpr char kBearerbox[] = "/usr/sbin/bearerbox";
inline constexpr char kWapbox[] = "/usr/sbin/wapbox";

inline bool KannelInstalled() {
  return ::access(kBearerbox, X_OK) == 0 && ::access(kWapbox, X_OK) == 0;
}
inline bool InNamespace() {
  return std::getenv("TESSERA_NETNS") != nullptr;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Re-runs this program with `args` inside a fresh user and network namespace; the exit status.
inline int RunInNamespace(const std::vector<std::string>& args) {
  std::string command = "unshare -rn env TESSERA_NETNS=1";
  for (const auto& a : args) command += " '" + a + "'";
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
}

inline pid_t Spawn(const std::vector<std::string>& args, const std::string& stdoutPath) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (!stdoutPath.empty()) {
    FILE* f = std::freopen(stdoutPath.c_str(), "w", stdout);
    (void)f;
    ::dup2(::fileno(stdout), 2);
  }
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

// True once a socket of the kind is bound to the port (from /proc/net/{udp,tcp}).
inline bool PortBound(const char* table, int port) {
  std::ifstream in(std::string("/proc/net/") + table);
  std::string line;
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local.size() > 5 && local.substr(local.size() - 5) == hex) return true;
  }
  return false;
}

// Brings up the loopback interface of a fresh network namespace (no `ip` tool needed).
inline bool LoopbackUp() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  ::close(fd);
  return ok;
}

template <typename F>
bool WaitFor(F ready, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ready();
}

class Gateway {
 public:
  ~Gateway() { Stop(); }

  // Starts the origin, bearerbox, wapbox and (when present and wanted) a capture of UDP 9201.
  bool Start(const std::string& dir, bool capture, std::string* error) {
    dir_ = dir;
    if (!LoopbackUp()) return Fail(error, "cannot bring up lo in the namespace");
    const std::string script = std::string(TESSERA_SOURCE_DIR) + "/tessera/transport/tests/http_server.py";
    ::mkdir((dir + "/posts").c_str(), 0755);
    origin_ = Spawn({"python3", script, dir + "/posts"}, dir + "/origin.log");
    if (!WaitFor([&] { return ReadText(dir + "/origin.log").rfind("ready ", 0) == 0; }, 10000))
      return Fail(error, "HTTP origin did not start: " + ReadText(dir + "/origin.log"));
    originPort_ = std::atoi(ReadText(dir + "/origin.log").substr(6).c_str());

    std::ofstream conf(dir + "/kannel.conf");
    conf << "group = core\n"
            "admin-port = 13000\n"
            "admin-interface = \"127.0.0.1\"\n"
            "admin-password = tessera\n"
            "admin-allow-ip = \"127.0.0.1\"\n"
            "wapbox-port = 13002\n"
            "box-allow-ip = \"127.0.0.1\"\n"
            "wdp-interface-name = \"127.0.0.1\"\n"
            "log-file = \""
         << dir << "/bearerbox.log\"\n"
         << "log-level = 0\n\n"
            "group = wapbox\n"
            "bearerbox-host = 127.0.0.1\n"
            "log-file = \""
         << dir << "/wapbox.log\"\n"
         << "syslog-level = none\n"
            "http-timeout = 30\n"
            "map-url = \"http://mmsc/* http://127.0.0.1:"
         << originPort_ << "/*\"\n";
    conf.close();

    if (capture && std::system("command -v tshark >/dev/null 2>&1") == 0) {
      pcap_ = dir + "/wsp.pcap";
      tshark_ = Spawn({"tshark", "-q", "-i", "lo", "-f", "udp port 9201", "-w", pcap_}, dir + "/tshark.log");
      WaitFor([&] { return ReadText(dir + "/tshark.log").find("Capturing") != std::string::npos; }, 10000);
    }
    bearerbox_ = Spawn({kBearerbox, dir + "/kannel.conf"}, dir + "/bearerbox.out");
    if (!WaitFor([] { return PortBound("tcp", 13002) && PortBound("udp", 9201); }, 15000))
      return Fail(error, "bearerbox did not bind its ports: " + ReadText(dir + "/bearerbox.log"));
    wapbox_ = Spawn({kWapbox, dir + "/kannel.conf"}, dir + "/wapbox.out");
    if (!WaitFor(
            [&] { return ReadText(dir + "/wapbox.log").find("Connected to bearerbox") != std::string::npos; },
            15000))
      return Fail(error, "wapbox did not connect: " + ReadText(dir + "/wapbox.log"));
    return true;
  }

  // Stops the gateway (bearerbox takes wapbox with it), the origin and the capture.
  void Stop() {
    if (bearerbox_ > 0) {
      ::kill(bearerbox_, SIGTERM);
      Reap(bearerbox_, 10000);
      bearerbox_ = -1;
    }
    if (wapbox_ > 0) {
      if (!Reap(wapbox_, 5000)) {
        ::kill(wapbox_, SIGKILL);
        Reap(wapbox_, 2000);
      }
      wapbox_ = -1;
    }
    StopCapture();
    if (origin_ > 0) {
      ::kill(origin_, SIGTERM);
      Reap(origin_, 5000);
      origin_ = -1;
    }
  }

  void StopCapture() {
    if (tshark_ > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      ::kill(tshark_, SIGINT);
      if (!Reap(tshark_, 10000)) {
        ::kill(tshark_, SIGKILL);
        Reap(tshark_, 2000);
      }
      tshark_ = -1;
    }
  }

  int originPort() const { return originPort_; }
  const std::string& pcap() const { return pcap_; }

 private:
  static bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
  }

  static bool Reap(pid_t pid, int ms) {
    return WaitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, ms);
  }

  std::string dir_;
  std::string pcap_;
  pid_t origin_ = -1, bearerbox_ = -1, wapbox_ = -1, tshark_ = -1;
  int originPort_ = 0;
};

}  // namespace kannel_harness
