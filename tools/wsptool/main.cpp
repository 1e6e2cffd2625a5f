// wsptool get URL [--gateway HOST:PORT] [--header NAME:VALUE]... [-o OUT]
// wsptool post URL FILE [--content-type T] [--gateway HOST:PORT] [--header NAME:VALUE]... [-o OUT]
// Common: --timeout MS, --retries N, --client-sdu N, --server-sdu N.
//
// Runs one WSP session: Connect, the method, Disconnect. Prints the reply status and content
// type, writes the reply body to OUT; exits 0 on a 2xx reply, 1 otherwise with the result code
// on stderr. The request headers of the mm1 key's "WspHeader" subkey are sent first.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mms/byte_stream.h"
#include "toolargs/toolargs.h"
#include "transport/results.h"
#include "transport/wsp_session.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(
      to,
      "usage: wsptool get URL [--gateway HOST:PORT] [--header NAME:VALUE]... [-o OUT]\n"
      "       wsptool post URL FILE [--content-type T] [--gateway HOST:PORT] [--header NAME:VALUE]... "
      "[-o OUT]\n"
      "       common options: --timeout MS  --retries N  --client-sdu N  --server-sdu N\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

bool ParseNumber(const char* text, long long max, long long* out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || v < 0 || v > max) return false;
  *out = v;
  return true;
}

const char* Describe(int code) {
  switch (code) {
    case transport::kSendFailed:
      return "a datagram could not be sent";
    case transport::kTimedOut:
      return "no answer from the gateway (retransmission budget spent)";
    case transport::kCancelled:
      return "cancelled";
    case transport::kNoPdu:
      return "the gateway's answer could not be decoded";
    case transport::kUnexpectedPdu:
      return "the gateway answered with an unexpected PDU";
    case transport::kOutOfMemory:
      return "out of memory";
    case transport::kNoSession:
      return "no session (the socket could not be created)";
    default:
      break;
  }
  if (code >= transport::kProviderAbortBase && code < transport::kProviderAbortBase + 256)
    return "the gateway aborted the transaction";
  if (code >= transport::kStatusBase + 0x30 && code < transport::kStatusBase + 0x80)
    return "error status in the reply";
  if (code >= transport::kUserAbortBase && code < transport::kUserAbortBase + 256)
    return "the peer aborted the method";
  return "failed";
}

int Fail(int code, const char* step) {
  std::fprintf(stderr, "wsptool: %s failed: result %d (%s)\n", step, code, Describe(code));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "wsptool", &PrintUsage); rc >= 0) return rc;
  if (argc < 3) return Usage();
  const std::string method = argv[1];
  if (method != "get" && method != "post") return Usage();
  const std::string url = argv[2];
  int next = 3;
  std::string file;
  if (method == "post") {
    if (argc < 4) return Usage();
    file = argv[3];
    next = 4;
  }
  std::string gateway = "127.0.0.1";
  int gatewayPort = 9201;
  std::string contentType = "application/vnd.wap.mms-message";
  std::string out;
  transport::WspHeaderList extra;
  long long timeout = -1, retries = -1, clientSdu = 300000, serverSdu = 300000;
  for (int i = next; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (!hasValue) {
      std::fprintf(stderr, "wsptool: %s needs a value\n", arg.c_str());
      return Usage();
    }
    const char* value = argv[++i];
    if (arg == "--gateway") {
      std::string v = value;
      const auto colon = v.rfind(':');
      long long port = 9201;
      if (colon != std::string::npos && !ParseNumber(v.c_str() + colon + 1, 65535, &port)) {
        std::fprintf(stderr, "wsptool: bad gateway port in '%s'\n", value);
        return 2;
      }
      gateway = v.substr(0, colon);
      gatewayPort = static_cast<int>(port);
    } else if (arg == "--header") {
      std::string v = value;
      const auto colon = v.find(':');
      if (colon == std::string::npos || colon == 0) {
        std::fprintf(stderr, "wsptool: header '%s' is not NAME:VALUE\n", value);
        return 2;
      }
      std::size_t start = colon + 1;
      while (start < v.size() && v[start] == ' ') ++start;
      extra.push_back({v.substr(0, colon), v.substr(start)});
    } else if (arg == "-o") {
      out = value;
      if (std::string error; !toolargs::MakeOutputFolder(out, &error)) {
        std::fprintf(stderr, "wsptool: %s\n", error.c_str());
        return 1;
      }
    } else if (arg == "--content-type") {
      contentType = value;
    } else if (arg == "--timeout" || arg == "--retries" || arg == "--client-sdu" || arg == "--server-sdu") {
      long long* target = arg == "--timeout"      ? &timeout
                          : arg == "--retries"    ? &retries
                          : arg == "--client-sdu" ? &clientSdu
                                                  : &serverSdu;
      const long long max = arg == "--retries" ? 255 : 0xFFFFFFFFll;
      if (!ParseNumber(value, max, target)) {
        std::fprintf(stderr, "wsptool: bad number '%s' for %s\n", value, arg.c_str());
        return 2;
      }
    } else {
      std::fprintf(stderr, "wsptool: unknown option %s\n", arg.c_str());
      return Usage();
    }
  }

  std::unique_ptr<mms::ByteStream> body;
  if (method == "post") {
    body = mms::ByteStream::OpenFileUtf8(file.c_str(), mms::ByteStream::kRead);
    if (!body) {
      std::fprintf(stderr, "wsptool: cannot open %s\n", file.c_str());
      return 1;
    }
  }

  transport::WspSessionOptions options;
  options.gateway = gateway;
  options.gatewayPort = gatewayPort;
  options.clientSduSize = static_cast<std::uint32_t>(clientSdu);
  options.serverSduSize = static_cast<std::uint32_t>(serverSdu);
  options.headers = transport::LoadWspHeaderList();
  options.timeoutMs = timeout;
  options.maxRetries = static_cast<int>(retries);
  std::unique_ptr<transport::WspSession> session;
  int r = transport::WspSession::Open(std::move(options), &session);
  if (r != transport::kOk) return Fail(r, "connect");

  if (method == "get")
    r = session->Get(url, &extra);
  else
    r = session->Post(url, contentType, true, mms::ByteBuffer(), body.get());
  if (r != transport::kOk) return Fail(r, method == "get" ? "GET" : "POST");

  std::string type;
  mms::ByteBuffer data;
  r = session->ReadReply(&type, &data);
  const int status = session->lastStatus();
  if (status != 0) std::printf("status: 0x%02X\n", status);
  if (r == transport::kOk) {
    std::printf("content-type: %s\n", type.c_str());
    std::printf("length: %d\n", data.length());
    if (!out.empty()) {
      std::FILE* f = std::fopen(out.c_str(), "wb");
      const bool written = f && std::fwrite(data.data(), 1, static_cast<std::size_t>(data.length()), f) ==
                                    static_cast<std::size_t>(data.length());
      if (f && std::fclose(f) != 0) std::fprintf(stderr, "wsptool: cannot write %s\n", out.c_str());
      if (!written) {
        std::fprintf(stderr, "wsptool: cannot write %s\n", out.c_str());
        return 1;
      }
    }
  }
  std::fflush(stdout);
  session.reset();  // Disconnect
  if (r != transport::kOk) return Fail(r, "reply");
  if (status < 0x20 || status >= 0x30) {
    std::fprintf(stderr, "wsptool: reply status 0x%02X is not 2xx\n", status);
    return 1;
  }
  return 0;
}
