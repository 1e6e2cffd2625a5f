// pushrouter: the push router daemon of a device root, and its injection client.
//
//   pushrouter [--port P] [--bind ADDR]          serve (UDP WAP push on ADDR:P, 127.0.0.1:2948)
//   pushrouter --inject FILE [--type TYPE]       hand one body to the running router

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/push.h"
#include "router.h"
#include "toolargs/toolargs.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: pushrouter [--port P] [--bind ADDR]\n"
               "       pushrouter --inject FILE [--type CONTENT-TYPE]\n");
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "pushrouter: %s\n", problem);
  PrintUsage(stderr);
  return 2;
}

bool ParsePort(const char* text, int* port) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || !end || *end || end == text || v < 0 || v > 65535) return false;
  *port = static_cast<int>(v);
  return true;
}

int Inject(const std::string& file, const std::string& type) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "pushrouter: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
    return 1;
  }
  std::string body;
  char buf[8192];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && body.size() < platform::push::kMaxFrame)
    body.append(buf, n);
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    std::fprintf(stderr, "pushrouter: cannot read %s\n", file.c_str());
    return 1;
  }
  if (body.size() + type.size() + 16 > platform::push::kMaxFrame) {
    std::fprintf(stderr, "pushrouter: %s is too large to inject\n", file.c_str());
    return 1;
  }
  std::string root = platform::NativePath(platform::DeviceRoot());
  int fd = platform::push::Connect();
  if (fd < 0) {
    std::fprintf(stderr, "pushrouter: no push router is running for the device root %s\n", root.c_str());
    return 1;
  }
  std::string payload(1, static_cast<char>(platform::push::WireOp::Inject));
  platform::push::PutText(payload, type);
  platform::push::PutText(payload, body);
  std::string reply;
  bool ok = platform::push::WriteAll(fd, platform::push::Frame(payload)) &&
            platform::push::ReadFrame(fd, &reply, 5000);
  ::close(fd);
  if (!ok) {
    std::fprintf(stderr, "pushrouter: the push router of %s did not answer\n", root.c_str());
    return 1;
  }
  platform::push::WireReader r{reinterpret_cast<const std::uint8_t*>(reply.data()),
                               reinterpret_cast<const std::uint8_t*>(reply.data()) + reply.size()};
  auto op = static_cast<platform::push::WireOp>(r.U8());
  auto result = static_cast<LONG>(r.U32());
  if (r.bad || op != platform::push::WireOp::Injected || result < 0) {
    std::fprintf(stderr, "pushrouter: the push router refused the body (0x%08X)\n",
                 static_cast<unsigned>(result));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Without arguments the router runs: clients start it that way.
  if (argc > 1)
    if (int rc = toolargs::HandleCommon(argc, argv, "pushrouter", &PrintUsage); rc >= 0) return rc;
  pushrouter::Options options;
  std::string injectFile;
  std::string type = "application/vnd.wap.mms-message";
  bool inject = false;
  bool typeGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--port") {
      const char* v = value();
      if (!v) return Usage("--port needs a number 0..65535");
      if (!ParsePort(v, &options.port)) return toolargs::BadNumber("pushrouter", "--port", v, "a number 0..65535");
    } else if (a == "--bind") {
      const char* v = value();
      if (!v) return Usage("--bind needs an IPv4 address");
      options.bindAddress = v;
    } else if (a == "--inject") {
      const char* v = value();
      if (!v) return Usage("--inject needs a file");
      injectFile = v;
      inject = true;
    } else if (a == "--type") {
      const char* v = value();
      if (!v || !*v) return Usage("--type needs a content type");
      type = v;
      typeGiven = true;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }
  if (typeGiven && !inject) return Usage("--type goes with --inject");
  if (inject) return Inject(injectFile, type);

  pushrouter::Router router;
  std::string error;
  if (!router.Init(options, &error)) {
    std::fprintf(stderr, "pushrouter: %s\n", error.c_str());
    return 1;
  }
  return router.Run();
}
