// mm1tool: runs one MM1 engine operation against the default MMSC profile and prints its
// result code; also lists and edits the profile list.
//
//   mm1tool send PACKAGE --to LIST [--cc LIST] [--bcc LIST] [--from ADDR] [--subject TEXT]
//           [--subject-charset N] [--date N] [--expiry N [--absolute]] [--delivery-report]
//           [--read-reply] [--priority 0x80..0x82] [--class 0x80..0x83]
//   mm1tool retrieve URL TRANSACTION-ID OUT [--msisdn N]
//   mm1tool notifyresp TRANSACTION-ID
//   mm1tool profile list | add OPTIONS | update INDEX OPTIONS | delete INDEX | use INDEX
//     OPTIONS: --name N --gateway IPV4 --port P --mmsc URL [--transport wsp|http]
//              [--proxy HOST:PORT] [--default]
//   An http profile needs only --mmsc; --proxy "" goes straight to the MMSC again.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/text.h"
#include "toolargs/toolargs.h"
#include "transport/http_session.h"
#include "transport/mm1_engine.h"

using namespace transport;

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage:\n"
               "  mm1tool send PACKAGE --to LIST [--cc LIST] [--bcc LIST] [--from ADDR] [--subject TEXT]\n"
               "          [--subject-charset N] [--date N] [--expiry N [--absolute]] [--delivery-report]\n"
               "          [--read-reply] [--priority 0x80..0x82] [--class 0x80..0x83]\n"
               "  mm1tool retrieve URL TRANSACTION-ID OUT [--msisdn N]\n"
               "  mm1tool notifyresp TRANSACTION-ID\n"
               "  mm1tool profile list\n"
               "  mm1tool profile add --name N --gateway IPV4 --port P --mmsc URL [--default]\n"
               "          [--transport wsp|http] [--proxy HOST:PORT]   (http needs only --mmsc)\n"
               "  mm1tool profile update INDEX [same options]\n"
               "  mm1tool profile delete INDEX\n"
               "  mm1tool profile use INDEX\n");
}

int Usage(const char* why) {
  if (why) std::fprintf(stderr, "mm1tool: %s\n", why);
  PrintUsage(stderr);
  return 2;
}

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool Has(const std::string& k) const { return options.count(k) != 0; }
};

const std::map<std::string, bool> kTakesValue = {
    {"to", true},          {"cc", true},
    {"bcc", true},         {"from", true},
    {"subject", true},     {"subject-charset", true},
    {"date", true},        {"expiry", true},
    {"absolute", false},   {"delivery-report", false},
    {"read-reply", false}, {"priority", true},
    {"class", true},       {"msisdn", true},
    {"name", true},        {"gateway", true},
    {"port", true},        {"mmsc", true},
    {"default", false},    {"transport", true},
    {"proxy", true},
};

bool ParseArgs(int argc, char** argv, int first, Args* out, std::string* error) {
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      out->positional.push_back(a);
      continue;
    }
    const std::string key = a.substr(2);
    auto it = kTakesValue.find(key);
    if (it == kTakesValue.end()) {
      *error = "unknown option " + a;
      return false;
    }
    if (it->second) {
      if (i + 1 >= argc) {
        *error = "option " + a + " needs a value";
        return false;
      }
      out->options[key] = argv[++i];
    } else {
      out->options[key] = "1";
    }
  }
  return true;
}

bool Number(const std::string& text, std::uint32_t max, std::uint32_t* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != 0 || v > max || text[0] == '-') return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

int Report(int code) {
  std::printf("result %d\n", code);
  return code == 0 ? 0 : 1;
}

int Send(const Args& a) {
  if (a.positional.size() != 1) return Usage("send needs one PACKAGE");
  if (!a.Has("to") && !a.Has("cc") && !a.Has("bcc")) return Usage("send needs --to, --cc or --bcc");
  mms::SendRequest r;
  auto get = [&](const char* k) { return a.Has(k) ? a.options.at(k) : std::string(); };
  r.to = get("to");
  r.cc = get("cc");
  r.bcc = get("bcc");
  r.from = get("from");
  std::uint32_t v = 0;
  if (a.Has("subject")) {
    mms::StringValue s;
    s.text = get("subject");
    if (a.Has("subject-charset")) {
      if (!Number(get("subject-charset"), 0x7FFFFFFF, &v) || v == 0)
        return Usage("--subject-charset must be a MIBenum number");
      s.charset = static_cast<std::int32_t>(v);
    }
    r.subject = s;
  }
  if (a.Has("date")) {
    if (!Number(get("date"), 0xFFFFFFFF, &v)) return Usage("--date must be a number");
    r.date = v;
  }
  if (a.Has("expiry")) {
    if (!Number(get("expiry"), 0xFFFFFFFF, &v)) return Usage("--expiry must be a number");
    r.expiry = v;
    r.expiryAbsolute = a.Has("absolute");
  }
  if (a.Has("priority")) {
    if (!Number(get("priority"), 0x82, &v) || v < 0x80) return Usage("--priority must be 0x80..0x82");
    r.priority = static_cast<std::uint8_t>(v);
  }
  if (a.Has("class")) {
    if (!Number(get("class"), 0x83, &v) || v < 0x80) return Usage("--class must be 0x80..0x83");
    r.messageClass = static_cast<std::uint8_t>(v);
  }
  r.deliveryReport = a.Has("delivery-report");
  r.readReply = a.Has("read-reply");
  auto engine = Mm1CreateEngine();
  if (!engine) return Report(kMm1FileError);
  std::string messageId;
  const int code = Mm1Send(engine.get(), platform::Utf8ToUtf16(a.positional[0]), &r, &messageId);
  if (code == 0) std::printf("message-id %s\n", messageId.c_str());
  return Report(code);
}

int Retrieve(const Args& a) {
  if (a.positional.size() != 3) return Usage("retrieve needs URL TRANSACTION-ID OUT");
  if (std::string error; !toolargs::MakeOutputFolder(a.positional[2], &error)) {
    std::fprintf(stderr, "mm1tool: %s\n", error.c_str());
    return 1;
  }
  auto engine = Mm1CreateEngine();
  if (!engine) return Report(kMm1FileError);
  std::string msisdn;
  if (a.Has("msisdn")) msisdn = a.options.at("msisdn");
  mms::RetrieveResult result;
  const int code =
      Mm1Retrieve(engine.get(), a.positional[0], a.positional[1], a.Has("msisdn") ? &msisdn : nullptr,
                  platform::Utf8ToUtf16(a.positional[2]), &result);
  if (code == 0) {
    if (result.messageId) std::printf("message-id %s\n", result.messageId->c_str());
    if (result.from) std::printf("from %s\n", result.from->c_str());
    if (result.subject) std::printf("subject %s\n", result.subject->text.c_str());
  }
  return Report(code);
}

int NotifyResp(const Args& a) {
  if (a.positional.size() != 1) return Usage("notifyresp needs TRANSACTION-ID");
  auto engine = Mm1CreateEngine();
  if (!engine) return Report(kMm1FileError);
  return Report(Mm1SendDeferredNotifyResp(engine.get(), a.positional[0]));
}

int ProfileCommand(const Args& a) {
  if (a.positional.empty()) return Usage("profile needs a command");
  const std::string& cmd = a.positional[0];
  std::uint32_t index = 0;
  if (cmd == "list") {
    const int total = Mm1ProfileCount();
    const int def = Mm1DefaultProfileIndex();
    for (int i = 1; i <= total; ++i) {
      Mm1Profile p;
      if (!Mm1ReadProfileEntry(i, &p)) {
        std::printf("%d  (unreadable)\n", i);
        continue;
      }
      std::printf("%d%s name=\"%s\" gateway=%s port=%u mmsc=%s transport=%s", i, i == def ? "*" : " ",
                  p.name.c_str(), p.gateway.c_str(), p.gatewayPort, p.mmscUri.c_str(),
                  p.transport == Mm1Transport::Http ? "http" : "wsp");
      if (!p.proxy.empty()) std::printf(" proxy=%s", p.proxy.c_str());
      std::printf("\n");
    }
    return 0;
  }
  if (cmd == "add" || cmd == "update") {
    const bool update = cmd == "update";
    if (update && (a.positional.size() != 2 || !Number(a.positional[1], 255, &index) || index == 0))
      return Usage("profile update needs an INDEX");
    Mm1Profile p;
    if (update && !Mm1ReadProfileEntry(static_cast<int>(index), &p)) {
      std::fprintf(stderr, "mm1tool: profile %u cannot be read\n", index);
      return 1;
    }
    if (a.Has("transport")) {
      const std::string& t = a.options.at("transport");
      if (t != "wsp" && t != "http") return Usage("--transport must be wsp or http");
      p.transport = t == "http" ? Mm1Transport::Http : Mm1Transport::Wsp;
    }
    // Over HTTP the gateway is not used; a WSP profile needs it.
    if (!update && !a.Has("mmsc")) return Usage("profile add needs --mmsc");
    if (!update && p.transport == Mm1Transport::Wsp && (!a.Has("gateway") || !a.Has("port")))
      return Usage("profile add needs --gateway and --port (or --transport http)");
    if (a.Has("proxy")) {
      const std::string& proxy = a.options.at("proxy");
      if (!proxy.empty() && !ParseProxy(proxy, nullptr, nullptr)) return Usage("--proxy must be HOST:PORT");
      if (!p.proxy.Assign(proxy)) return Usage("--proxy is longer than 63 octets");
    }
    if (a.Has("name") && !p.name.Assign(a.options.at("name")))
      return Usage("--name is longer than 63 octets");
    if (a.Has("gateway") && !p.gateway.Assign(a.options.at("gateway")))
      return Usage("--gateway is longer than 63 octets");
    if (a.Has("mmsc") && !p.mmscUri.Assign(a.options.at("mmsc")))
      return Usage("--mmsc is longer than 63 octets");
    if (a.Has("port")) {
      std::uint32_t port = 0;
      if (!Number(a.options.at("port"), 65535, &port) || port == 0) return Usage("--port must be 1..65535");
      p.gatewayPort = port;
    }
    const int r = update ? Mm1UpdateProfile(static_cast<int>(index), p, a.Has("default"))
                         : Mm1AddProfile(p, a.Has("default"));
    if (r < 0) {
      std::fprintf(stderr, "mm1tool: the profile could not be written\n");
      return 1;
    }
    std::printf("profile %d of %d\n", update ? static_cast<int>(index) : r, r);
    return 0;
  }
  if (cmd == "delete" || cmd == "use") {
    if (a.positional.size() != 2 || !Number(a.positional[1], 255, &index) || index == 0)
      return Usage("profile delete/use needs an INDEX");
    if (cmd == "delete") {
      const int r = Mm1DeleteProfile(static_cast<int>(index));
      if (r < 0) {
        std::fprintf(stderr, "mm1tool: no profile %u\n", index);
        return 1;
      }
      std::printf("%d profiles left\n", r);
      return 0;
    }
    auto engine = Mm1CreateEngine();
    if (!engine || !Mm1UseProfile(engine.get(), static_cast<int>(index))) {
      std::fprintf(stderr, "mm1tool: profile %u cannot be used\n", index);
      return 1;
    }
    return 0;
  }
  return Usage("unknown profile command");
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "mm1tool", &PrintUsage); rc >= 0) return rc;
  const std::string cmd = argv[1];
  Args a;
  std::string error;
  if (!ParseArgs(argc, argv, 2, &a, &error)) return Usage(error.c_str());
  if (cmd == "send") return Send(a);
  if (cmd == "retrieve") return Retrieve(a);
  if (cmd == "notifyresp") return NotifyResp(a);
  if (cmd == "profile") return ProfileCommand(a);
  return Usage("unknown command");
}
