// mmsc-lite as a program: each recipient's notification reaches the push port of its own
// phone, numbers without a port of their own go to the plain push address, and the delivery
// report finds the sender's phone.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "mms/mms_pdu.h"

namespace fs = std::filesystem;

namespace {

// A UDP socket on a free loopback port, bound before mmsc-lite is told about it.
class UdpListener {
 public:
  UdpListener() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t size = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size);
    port_ = ntohs(addr.sin_port);
  }
  ~UdpListener() { ::close(fd_); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // One datagram, or "" when none comes within `seconds`.
  std::string Receive(int seconds = 10) {
    timeval tv{seconds, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
  }

 private:
  int fd_;
  int port_ = 0;
};

struct NotificationSeen {
  bool ok = false;
  std::string location, transactionId, from;
};

NotificationSeen DecodePushed(const std::string& datagram) {
  NotificationSeen seen;
  mms::MmsHeaders h;
  mms::NotificationInfo info;
  const auto* data = reinterpret_cast<const std::uint8_t*>(datagram.data());
  if (!datagram.empty() && mms::DecodeNotification(h, data, datagram.size(), info)) {
    seen.ok = true;
    seen.location = info.contentLocation;
    seen.transactionId = info.transactionId;
    seen.from = info.from.value_or("");
  }
  return seen;
}

class MmscLite : public ::testing::Test {
 protected:
  void TearDown() override { Stop(); }

  // Starts mmsc-lite on a free port with the arguments; false when it does not say "ready".
  bool Start(const std::vector<std::string>& arguments) {
    dir_ = fs::temp_directory_path() / ("mmsc-lite-test." + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<std::string> all{std::string(TESSERA_BINARY_DIR) + "/bin/mmsc-lite", "--port", "0", "--dir",
                                   (dir_ / "store").string()};
      all.insert(all.end(), arguments.begin(), arguments.end());
      std::vector<char*> argv;
      for (auto& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = ::fdopen(out[0], "r");
    char line[512];
    if (!std::fgets(line, sizeof line, output_)) return false;
    return std::sscanf(line, "ready %d", &port_) == 1 && port_ > 0;
  }

  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (output_) std::fclose(output_);
    output_ = nullptr;
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // POSTs a PDU; the HTTP status and the body of the answer.
  int Post(const mms::ByteBuffer& pdu, std::string* answer = nullptr, const std::string& target = "/mms") {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/vnd.wap.mms-message\r\n"
                          "Content-Length: " +
                          std::to_string(pdu.length()) + "\r\n\r\n";
    request.append(reinterpret_cast<const char*>(pdu.data()), static_cast<std::size_t>(pdu.length()));
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    int status = 0;
    std::sscanf(reply.c_str(), "HTTP/1.1 %d", &status);
    if (answer) {
      const std::size_t end = reply.find("\r\n\r\n");
      *answer = end == std::string::npos ? std::string() : reply.substr(end + 4);
    }
    return status;
  }

  static mms::ByteBuffer SendReq(const std::string& from, const std::string& to, bool deliveryReport) {
    mms::MmsHeaders h;
    h.messageType = mms::kSendReq;
    h.transactionId = "t1";
    h.mmsVersion = mms::kMmsVersion10;
    h.from = from;
    h.to = to;
    h.contentType = "text/plain";
    h.deliveryReport = deliveryReport;
    h.messageClass = 0x80;
    h.priority = 0x81;
    h.senderVisibility = 0x81;
    mms::ByteBuffer pdu = *mms::EncodePdu(h);
    pdu.AppendString("hi");
    return pdu;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  int port_ = 0;
};

}  // namespace

TEST_F(MmscLite, EachNumberIsPushedToItsOwnPhone) {
  UdpListener phoneA, phoneB, others;
  ASSERT_TRUE(Start({"--push", "+15550100=" + phoneA.address(), "--push", "+15550101/TYPE=PLMN=" + phoneB.address(),
                     "--push", others.address()}));
  ASSERT_EQ(Post(SendReq("+15550100/TYPE=PLMN", "+15550101/TYPE=PLMN;+15550999/TYPE=PLMN", true)), 200);

  const NotificationSeen b = DecodePushed(phoneB.Receive());
  ASSERT_TRUE(b.ok) << "phone B got no notification";
  EXPECT_NE(b.location.find("/m/msg-1-1"), std::string::npos) << b.location;
  const NotificationSeen other = DecodePushed(others.Receive());
  ASSERT_TRUE(other.ok) << "the unmapped number's notification did not reach the plain push address";
  EXPECT_NE(other.location.find("/m/msg-1-2"), std::string::npos) << other.location;

  // B reports the message retrieved: the delivery report goes to the sender's phone, A.
  mms::MmsHeaders done;
  done.messageType = mms::kNotifyRespInd;
  done.transactionId = b.transactionId;
  done.mmsVersion = mms::kMmsVersion10;
  done.status = mms::kStatusRetrieved;
  ASSERT_EQ(Post(*mms::EncodePdu(done)), 204);
  const std::string report = phoneA.Receive();
  mms::MmsHeaders h;
  mms::DeliveryInfo info;
  ASSERT_TRUE(mms::DecodeDeliveryReport(h, reinterpret_cast<const std::uint8_t*>(report.data()), report.size(), info))
      << "phone A got no delivery report";
  EXPECT_EQ(info.messageId, "msg-1");
  EXPECT_EQ(info.to, "+15550101");
  EXPECT_EQ(info.status, mms::kStatusRetrieved);

  // Nothing strayed: phone A saw no notification, and the others no report.
  EXPECT_EQ(phoneA.Receive(1), "");
  EXPECT_EQ(others.Receive(1), "");
}

// A phone that leaves its address to the centre is known by the address it posts to.
TEST_F(MmscLite, TheSubscribersAddressIsInsertedFromThePostTarget) {
  UdpListener phoneB;
  ASSERT_TRUE(Start({"--push", "+15550101=" + phoneB.address()}));
  ASSERT_EQ(Post(SendReq("", "+15550101/TYPE=PLMN", false), nullptr, "/mms/+15550100"), 200);
  NotificationSeen seen = DecodePushed(phoneB.Receive());
  ASSERT_TRUE(seen.ok);
  EXPECT_EQ(seen.from, "+15550100");
  // An address the phone gave is kept; a target that is no number inserts nothing.
  ASSERT_EQ(Post(SendReq("+15550199/TYPE=PLMN", "+15550101/TYPE=PLMN", false), nullptr, "/mms/+15550100"), 200);
  EXPECT_EQ(DecodePushed(phoneB.Receive()).from, "+15550199");
  ASSERT_EQ(Post(SendReq("", "+15550101/TYPE=PLMN", false), nullptr, "/mms/1;rm"), 200);
  EXPECT_EQ(DecodePushed(phoneB.Receive()).from, "");
}

TEST_F(MmscLite, RefusesAPushTargetItCannotUse) {
  for (const char* bad : {"=127.0.0.1:9", "+1=127.0.0.1", "+1=localhost:9", "+1=127.0.0.1:0", "127.0.0.1:70000"}) {
    const std::string command = std::string(TESSERA_BINARY_DIR) + "/bin/mmsc-lite --port 0 --push '" + bad +
                                "' >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
  }
}
