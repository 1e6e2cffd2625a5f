#pragma once
// The push router daemon of one device root: takes WAP push from UDP and injected bodies
// from its socket, queues them per content type (kept on disk until taken, so a restart
// loses nothing), offers each queue's messages one at a time, in order, to the client that
// has the type open, and starts the registered program when nobody has it open.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pushrouter {

struct Options {
  std::string bindAddress = "127.0.0.1";
  int port = -1;  // -1: the registry value "Port", else 2948
};

class Router {
 public:
  /// Takes the device root's lock, loads the queued messages, binds the push port and the
  /// client socket. False with a message in *error.
  bool Init(const Options& options, std::string* error);
  /// Serves until SIGTERM/SIGINT or until the client socket file disappears (the device
  /// root was removed). Returns the exit code.
  int Run();
  int port() const { return port_; }
  ~Router();

 private:
  struct Message {
    std::uint32_t seq = 0;
    std::string body;
  };
  struct Conn;
  struct Queue {
    std::deque<Message> items;
    Conn* owner = nullptr;
    bool offered = false;
    pid_t launched = 0;  // the registered program started for this queue, while it runs
  };
  struct Conn {
    int fd = -1;
    std::string in;
    std::string out;
    std::string openType;
    bool dead = false;
  };

  bool Enqueue(const std::string& type, std::string body);
  void Offer(Queue& q);
  void Launch(const std::string& type, Queue& q);
  void ReceiveDatagrams();
  void Accept();
  void ReadConn(Conn& c);
  void HandleFrame(Conn& c, const std::string& payload);
  void FlushConn(Conn& c);
  void DropConn(Conn& c);
  void Reap();
  bool Persist(const std::string& type, const Message& m);
  void Unpersist(std::uint32_t seq);
  void LoadQueued();
  std::string QueueFile(std::uint32_t seq) const;

  int lockFd_ = -1;
  int udpFd_ = -1;
  int listenFd_ = -1;
  int port_ = 0;
  std::string socketPath_;
  std::string queueDir_;
  std::string root_;
  ino_t socketInode_ = 0;
  std::uint32_t nextSeq_ = 1;
  std::map<std::string, Queue> queues_;
  std::vector<std::unique_ptr<Conn>> conns_;
};

}  // namespace pushrouter
