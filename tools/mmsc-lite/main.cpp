// mmsc-lite: a store-and-forward test MMSC. It takes m-send-req POSTs over HTTP, stores each
// message once per recipient, pushes m-notification-ind to telephone-number recipients as WSP
// connectionless Push PDUs over UDP, serves the m-retrieve-conf on GET of its location, logs
// notify-responses and acknowledgements, and sends the sender an m-delivery-ind when asked.
//
//   mmsc-lite --port P [--push [NUMBER=]HOST:PORT]... [--fail-status 0x81..0x88 [--fail-count N]]
//             [--dir DIR]
//
// A send POSTed to /mms/NUMBER comes from NUMBER when the phone leaves its address for the
// centre to insert (as an operator knows its subscriber); on /mms the sender stays unknown.
//
// `--push NUMBER=HOST:PORT` (repeatable) sends what is meant for that telephone number to the
// push port of that phone; every other number goes to the plain `--push HOST:PORT`
// (127.0.0.1:2948 when not given).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "mms/byte_buffer.h"
#include "mms/mms_pdu.h"
#include "mms/wsp.h"
#include "platform/files.h"
#include "platform/text.h"
#include "toolargs/toolargs.h"

namespace {

struct PushTarget {
  std::string host = "127.0.0.1";
  int port = 2948;
};

struct Options {
  int port = 0;
  PushTarget push;                            // numbers without a target of their own
  std::map<std::string, PushTarget> pushFor;  // number (without "/TYPE=PLMN") -> its phone
  int failStatus = 0;
  long failCount = 1;
  std::string dir;
};

struct Stored {
  std::string messageId;
  std::string sender;     // without the type suffix
  std::string recipient;  // as addressed
  bool deliveryReport = false;
};

Options gOptions;
int gPushSocket = -1;
long gNextId = 1;
std::map<std::string, Stored> gByTransaction;  // notification transaction id -> message

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: mmsc-lite --port P [--push [NUMBER=]HOST:PORT]... "
               "[--fail-status 0x81..0x88 [--fail-count N]] [--dir DIR]\n");
}

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "mmsc-lite: %s\n", why);
  PrintUsage(stderr);
  return 2;
}

bool Number(const char* text, long min, long max, long* out) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != 0 || v < min || v > max) return false;
  *out = v;
  return true;
}

void AppendText(mms::ByteBuffer& b, int field, const std::string& text) {
  b.AppendOctet(static_cast<std::uint8_t>(field));
  mms::EncodeTextString(b, text);
}

// From: Value-length, Address-present-token, address.
void AppendFrom(mms::ByteBuffer& b, const std::string& from) {
  b.AppendOctet(0x89);
  if (from.empty()) {
    b.AppendOctet(0x01);
    b.AppendOctet(0x81);  // insert-address token
    return;
  }
  mms::ByteBuffer a;
  a.AppendOctet(0x80);
  mms::EncodeTextString(a, from);
  mms::EncodeValueLength(b, static_cast<std::uint32_t>(a.length()));
  b.AppendBuffer(a);
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n && i < 64; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", p[i]);
    s += buf;
  }
  if (n > 64) s += "...";
  return s;
}

// One line per PDU with its decoded fields, as the decoder sees them.
void LogPdu(const char* direction, const std::uint8_t* data, std::size_t size) {
  mms::MmsHeaders h;
  std::optional<mms::ByteBuffer> body;
  if (!mms::DecodePdu(data, size, h, &body)) {
    std::printf("%s undecodable PDU (%zu octets): %s\n", direction, size, Hex(data, size).c_str());
    std::fflush(stdout);
    return;
  }
  std::printf("%s message-type 0x%02x", direction, h.messageType);
  if (!h.transactionId.empty()) std::printf(" transaction-id %s", h.transactionId.c_str());
  if (!h.messageId.empty()) std::printf(" message-id %s", h.messageId.c_str());
  if (!h.from.empty()) std::printf(" from %s", h.from.c_str());
  if (!h.to.empty()) std::printf(" to %s", h.to.c_str());
  if (!h.cc.empty()) std::printf(" cc %s", h.cc.c_str());
  if (!h.bcc.empty()) std::printf(" bcc %s", h.bcc.c_str());
  if (h.subject) std::printf(" subject \"%s\"", h.subject->text.c_str());
  if (!h.contentType.empty()) std::printf(" content-type %s", h.contentType.c_str());
  if (!h.contentLocation.empty()) std::printf(" content-location %s", h.contentLocation.c_str());
  if (h.status) std::printf(" status 0x%02x", h.status);
  if (h.responseStatus) std::printf(" response-status 0x%02x", h.responseStatus);
  if (h.deliveryReport) std::printf(" delivery-report yes");
  if (body) std::printf(" body %d octets", body->length());
  std::printf("\n");
  std::fflush(stdout);
}

// The push port of the phone with that number (an address with or without its type suffix).
const PushTarget& TargetFor(const std::string& number) {
  const auto it = gOptions.pushFor.find(mms::ParseAddress(number).text);
  return it == gOptions.pushFor.end() ? gOptions.push : it->second;
}

// WSP connectionless Push: TID, type 0x06, header length, content type
// application/vnd.wap.mms-message (0x3E), X-Wap-Application-Id x-wap-application:mms.ua (4).
void Push(const mms::ByteBuffer& pdu, const PushTarget& target) {
  mms::ByteBuffer b;
  static std::uint8_t tid = 0;
  b.AppendOctet(tid++);
  b.AppendOctet(0x06);
  b.AppendOctet(0x03);
  b.AppendOctet(0xBE);
  b.AppendOctet(0xAF);
  b.AppendOctet(0x84);
  b.AppendBuffer(pdu);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(target.port));
  inet_pton(AF_INET, target.host.c_str(), &to.sin_addr);
  std::printf("push to %s:%d\n", target.host.c_str(), target.port);
  LogPdu("push", pdu.data(), static_cast<std::size_t>(pdu.length()));
  if (sendto(gPushSocket, b.data(), static_cast<std::size_t>(b.length()), 0, reinterpret_cast<sockaddr*>(&to),
             sizeof to) < 0)
    std::fprintf(stderr, "mmsc-lite: push to %s:%d failed: %s\n", target.host.c_str(), target.port,
                 std::strerror(errno));
}

std::string Location(const std::string& id) {
  return "http://127.0.0.1:" + std::to_string(gOptions.port) + "/m/" + id;
}

bool SafeId(const std::string& id) {
  if (id.empty() || id.size() > 32) return false;
  for (char c : id)
    if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') && c != '-') return false;
  return true;
}

// The number in a POST target "/mms/NUMBER", or "" for any other target.
std::string Subscriber(const std::string& target) {
  if (target.rfind("/mms/", 0) != 0) return {};
  const std::string number = target.substr(5);
  if (number.empty() || number.size() > 20) return {};
  for (std::size_t i = 0; i < number.size(); ++i)
    if (!(number[i] >= '0' && number[i] <= '9') && !(i == 0 && number[i] == '+')) return {};
  return number == "+" ? std::string() : number;
}

mms::ByteBuffer SendConf(const std::string& tid, int status, const std::string& messageId) {
  mms::ByteBuffer b;
  b.AppendOctet(0x8C);
  b.AppendOctet(0x81);
  AppendText(b, 0x98, tid);
  b.AppendOctet(0x8D);
  b.AppendOctet(0x90);
  b.AppendOctet(0x92);
  b.AppendOctet(static_cast<std::uint8_t>(status));
  if (!messageId.empty()) AppendText(b, 0x8B, messageId);
  return b;
}

mms::ByteBuffer HandleSend(mms::MmsHeaders& h, const mms::ByteBuffer& body, const std::string& subscriber) {
  if (h.from.empty() && !subscriber.empty()) h.from = subscriber + "/TYPE=PLMN";
  if (gOptions.failStatus && gOptions.failCount > 0) {
    --gOptions.failCount;
    return SendConf(h.transactionId.str(), gOptions.failStatus, "");
  }
  const std::string messageId = "msg-" + std::to_string(gNextId++);
  std::vector<mms::AddressNode> recipients;
  for (const auto* list : {&h.to, &h.cc, &h.bcc})
    for (auto& a : mms::ParseAddressList(list->view())) recipients.push_back(a);
  if (recipients.empty()) return SendConf(h.transactionId.str(), 0x81, "");

  const std::uint32_t now = static_cast<std::uint32_t>(std::time(nullptr));
  int n = 0;
  for (const auto& r : recipients) {
    const std::string id = messageId + "-" + std::to_string(++n);
    mms::ByteBuffer conf;
    conf.AppendOctet(0x8C);
    conf.AppendOctet(0x84);
    AppendText(conf, 0x98, id);
    conf.AppendOctet(0x8D);
    conf.AppendOctet(0x90);
    AppendText(conf, 0x8B, messageId);
    conf.AppendOctet(0x85);
    mms::EncodeLongInteger(conf, now);
    AppendFrom(conf, h.from.empty() ? std::string() : mms::WriteAddress(mms::ParseAddress(h.from.view())));
    for (const auto& a : mms::ParseAddressList(h.to.view())) AppendText(conf, 0x97, mms::WriteAddress(a));
    if (h.subject) {
      conf.AppendOctet(0x96);
      mms::EncodeEncodedString(conf, *h.subject);
    }
    conf.AppendOctet(0x84);
    mms::EncodeContentType(conf, h.contentType.view(), h.typeParam.view(), h.startParam.view());
    conf.AppendBuffer(body);
    const std::string path = gOptions.dir + "/" + id;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(conf.data()), conf.length());
    if (!out) {
      std::fprintf(stderr, "mmsc-lite: cannot store %s\n", path.c_str());
      return SendConf(h.transactionId.str(), 0x81, "");
    }
    std::printf("stored %s for %s (%d octets)\n", id.c_str(), r.text.c_str(), conf.length());
    if (r.type != mms::AddressType::Plmn) continue;

    Stored s{messageId, std::string(mms::ParseAddress(h.from.view()).text), mms::WriteAddress(r),
             h.deliveryReport};
    gByTransaction[id] = s;
    mms::ByteBuffer ind;
    ind.AppendOctet(0x8C);
    ind.AppendOctet(0x82);
    AppendText(ind, 0x98, id);
    ind.AppendOctet(0x8D);
    ind.AppendOctet(0x90);
    AppendFrom(ind, h.from.empty() ? std::string() : mms::WriteAddress(mms::ParseAddress(h.from.view())));
    if (h.subject) {
      ind.AppendOctet(0x96);
      mms::EncodeEncodedString(ind, *h.subject);
    }
    ind.AppendOctet(0x8A);
    ind.AppendOctet(0x80);  // personal
    ind.AppendOctet(0x8E);
    mms::EncodeLongInteger(ind, static_cast<std::uint32_t>(conf.length()));
    ind.AppendOctet(0x88);  // expiry: relative, one week
    mms::ByteBuffer rel;
    rel.AppendOctet(0x81);
    mms::EncodeLongInteger(rel, 604800);
    mms::EncodeValueLength(ind, static_cast<std::uint32_t>(rel.length()));
    ind.AppendBuffer(rel);
    AppendText(ind, 0x83, Location(id));
    Push(ind, TargetFor(r.text));
  }
  return SendConf(h.transactionId.str(), 0x80, messageId);
}

// A notify-response with status Retrieved, or an acknowledgement, completes the delivery.
void HandleDone(const mms::MmsHeaders& h) {
  auto it = gByTransaction.find(h.transactionId.str());
  if (it == gByTransaction.end()) return;
  const Stored s = it->second;
  gByTransaction.erase(it);
  if (!s.deliveryReport || s.sender.empty()) return;
  const mms::AddressNode sender = mms::ParseAddress(s.sender);
  if (sender.type != mms::AddressType::Plmn) return;
  mms::ByteBuffer d;
  d.AppendOctet(0x8C);
  d.AppendOctet(0x86);
  d.AppendOctet(0x8D);
  d.AppendOctet(0x90);
  AppendText(d, 0x8B, s.messageId);
  AppendText(d, 0x97, s.recipient);
  d.AppendOctet(0x85);
  mms::EncodeLongInteger(d, static_cast<std::uint32_t>(std::time(nullptr)));
  d.AppendOctet(0x95);
  d.AppendOctet(0x81);  // Retrieved
  Push(d, TargetFor(sender.text));
}

void Respond(int fd, int code, const char* reason, const mms::ByteBuffer* body) {
  std::string head = "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n";
  head += "Content-Type: application/vnd.wap.mms-message\r\n";
  head += "Content-Length: " + std::to_string(body ? body->length() : 0) + "\r\nConnection: close\r\n\r\n";
  std::string all = head;
  if (body) all.append(reinterpret_cast<const char*>(body->data()), static_cast<std::size_t>(body->length()));
  std::size_t off = 0;
  while (off < all.size()) {
    const ssize_t w = send(fd, all.data() + off, all.size() - off, MSG_NOSIGNAL);
    if (w <= 0) return;
    off += static_cast<std::size_t>(w);
  }
}

/// The largest request taken: room for a message of a few megabytes (phones accept up to about
/// 4 MB), still a bound on what one connection can make the centre hold.
constexpr std::size_t kMaxRequest = 8 << 20;

void Serve(int fd) {
  std::string buf;
  char chunk[4096];
  std::size_t headerEnd = std::string::npos;
  while (headerEnd == std::string::npos) {
    const ssize_t r = recv(fd, chunk, sizeof chunk, 0);
    if (r <= 0) return;
    buf.append(chunk, static_cast<std::size_t>(r));
    if (buf.size() > 65536 && buf.find("\r\n\r\n") == std::string::npos)
      return Respond(fd, 431, "Too Large", nullptr);
    headerEnd = buf.find("\r\n\r\n");
  }
  const std::string head = buf.substr(0, headerEnd);
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::size_t contentLength = 0;
  const std::size_t cl = lower.find("\r\ncontent-length:");
  if (cl != std::string::npos) {
    long v = 0;
    std::string text = head.substr(cl + 17, head.find("\r\n", cl + 2) - (cl + 17));
    while (!text.empty() && text.front() == ' ') text.erase(0, 1);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (!Number(text.c_str(), 0, static_cast<long>(kMaxRequest), &v))
      return Respond(fd, 413, "Too Large", nullptr);
    contentLength = static_cast<std::size_t>(v);
  }
  std::string body = buf.substr(headerEnd + 4);
  while (body.size() < contentLength) {
    const ssize_t r = recv(fd, chunk, sizeof chunk, 0);
    if (r <= 0) return;
    body.append(chunk, static_cast<std::size_t>(r));
  }
  body.resize(contentLength);

  const std::string requestLine = head.substr(0, head.find("\r\n"));
  std::printf("http %s\n", requestLine.c_str());
  const std::size_t sp1 = requestLine.find(' ');
  const std::size_t sp2 = requestLine.find(' ', sp1 + 1);
  if (sp1 == std::string::npos) return Respond(fd, 400, "Bad Request", nullptr);
  const std::string method = requestLine.substr(0, sp1);
  std::string target =
      requestLine.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
  // Absolute-form targets come from proxies such as the WAP gateway.
  if (target.rfind("http://", 0) == 0) {
    const std::size_t slash = target.find('/', 7);
    target = slash == std::string::npos ? "/" : target.substr(slash);
  }
  const std::size_t msisdn = lower.find("\r\nx-msisdn:");
  if (msisdn != std::string::npos) {
    std::string value = head.substr(msisdn + 11, head.find("\r\n", msisdn + 2) - (msisdn + 11));
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    std::printf("x-msisdn %s\n", value.c_str());
  }

  if (method == "GET") {
    const std::string id = target.rfind("/m/", 0) == 0 ? target.substr(3) : std::string();
    if (!SafeId(id)) return Respond(fd, 404, "Not Found", nullptr);
    std::string data;
    if (!platform::ReadFile(platform::Utf8ToUtf16(gOptions.dir + "/" + id), data))
      return Respond(fd, 404, "Not Found", nullptr);
    mms::ByteBuffer out(data.data(), static_cast<std::int32_t>(data.size()));
    LogPdu("sent", out.data(), static_cast<std::size_t>(out.length()));
    return Respond(fd, 200, "OK", &out);
  }
  if (method != "POST") return Respond(fd, 405, "Method Not Allowed", nullptr);

  const auto* data = reinterpret_cast<const std::uint8_t*>(body.data());
  LogPdu("received", data, body.size());
  mms::MmsHeaders h;
  std::optional<mms::ByteBuffer> mmsBody;
  if (!mms::DecodePdu(data, body.size(), h, &mmsBody)) return Respond(fd, 400, "Bad Request", nullptr);
  switch (h.messageType) {
    case mms::kSendReq: {
      const mms::ByteBuffer conf = HandleSend(h, mmsBody ? *mmsBody : mms::ByteBuffer(), Subscriber(target));
      LogPdu("sent", conf.data(), static_cast<std::size_t>(conf.length()));
      return Respond(fd, 200, "OK", &conf);
    }
    case mms::kNotifyRespInd:
      if (h.status == mms::kStatusRetrieved) HandleDone(h);
      return Respond(fd, 204, "No Content", nullptr);
    case mms::kAcknowledgeInd:
      HandleDone(h);
      return Respond(fd, 204, "No Content", nullptr);
    default:
      return Respond(fd, 400, "Bad Request", nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "mmsc-lite", &PrintUsage); rc >= 0) return rc;
  bool portGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage(("option " + a + " needs a value").c_str());
    const char* v = argv[++i];
    long n = 0;
    if (a == "--port") {
      if (!Number(v, 0, 65535, &n)) return Usage("--port must be 0..65535 (0: any free port)");
      gOptions.port = static_cast<int>(n);
      portGiven = true;
    } else if (a == "--push") {
      std::string s = v;
      std::string number;
      const std::size_t equals = s.rfind('=');  // a number may carry "/TYPE=PLMN"
      if (equals != std::string::npos) {
        number = mms::ParseAddress(s.substr(0, equals)).text;
        s.erase(0, equals + 1);
        if (number.empty()) return Usage("--push NUMBER=IPV4:PORT needs a number");
      }
      const std::size_t colon = s.rfind(':');
      in_addr probe{};
      if (colon == std::string::npos || !Number(s.c_str() + colon + 1, 1, 65535, &n) ||
          inet_pton(AF_INET, s.substr(0, colon).c_str(), &probe) != 1)
        return Usage("--push must be [NUMBER=]IPV4:PORT");
      const PushTarget target{s.substr(0, colon), static_cast<int>(n)};
      if (number.empty())
        gOptions.push = target;
      else
        gOptions.pushFor[number] = target;
    } else if (a == "--fail-status") {
      if (!Number(v, 0x81, 0x88, &n)) return Usage("--fail-status must be 0x81..0x88");
      gOptions.failStatus = static_cast<int>(n);
    } else if (a == "--fail-count") {
      if (!Number(v, 0, LONG_MAX, &n)) return Usage("--fail-count must be a count");
      gOptions.failCount = n;
    } else if (a == "--dir") {
      gOptions.dir = v;
      if (std::string error; !toolargs::MakeOutputFolder(gOptions.dir + "/m", &error)) {
        std::fprintf(stderr, "mmsc-lite: %s\n", error.c_str());
        return 1;
      }
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (!portGiven) return Usage("--port is required");
  if (gOptions.dir.empty()) {
    char tmpl[] = "/tmp/mmsc-lite.XXXXXX";
    if (!mkdtemp(tmpl)) {
      std::fprintf(stderr, "mmsc-lite: cannot create a store directory: %s\n", std::strerror(errno));
      return 1;
    }
    gOptions.dir = tmpl;
  } else if (mkdir(gOptions.dir.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "mmsc-lite: cannot create %s: %s\n", gOptions.dir.c_str(), std::strerror(errno));
    return 1;
  }
  signal(SIGPIPE, SIG_IGN);
  gPushSocket = socket(AF_INET, SOCK_DGRAM, 0);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  if (gPushSocket < 0 || listener < 0) {
    std::fprintf(stderr, "mmsc-lite: socket: %s\n", std::strerror(errno));
    return 1;
  }
  const int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(gOptions.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 16) != 0) {
    std::fprintf(stderr, "mmsc-lite: cannot listen on 127.0.0.1:%d: %s\n", gOptions.port,
                 std::strerror(errno));
    return 1;
  }
  socklen_t size = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &size);
  gOptions.port = ntohs(addr.sin_port);  // the one chosen for --port 0
  std::printf("ready %d store %s\n", gOptions.port, gOptions.dir.c_str());
  std::fflush(stdout);
  for (;;) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "mmsc-lite: accept: %s\n", std::strerror(errno));
      return 1;
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Serve(fd);
    std::fflush(stdout);
    close(fd);
  }
}
