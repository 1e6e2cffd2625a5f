// MM1 over HTTP with libcurl's multi interface. The transfer runs in short polls so the cancel
// hook is looked at every kHttpCancelPollMs whatever the peer does, and a stall is measured
// here, not by the client library, so that "never connected" and "stopped moving" stay apart.

#include "transport/http_session.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "transport/results.h"

namespace transport {
namespace {

using Clock = std::chrono::steady_clock;

// Method kinds handed to the cancel hook, as WTP numbers them.
constexpr int kHookPost = 1;
constexpr int kHookGet = 2;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

void ReleaseThreadState() {
  OPENSSL_thread_stop();
}

namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != 0;
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsTokenChar(c)) return false;
  return true;
}

// A header value may not break the request: no CR, LF or other controls but tab.
bool IsSafeValue(std::string_view s) {
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && u != '\t') || u == 0x7F) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

// One header line per name: repeated entries (two Accept items from one registry value) are
// joined with ", " as HTTP lists are. Entries that would break the request are left out.
class HeaderLines {
 public:
  void Add(std::string_view name, std::string_view value) {
    if (!IsToken(name) || !IsSafeValue(value)) return;
    for (auto& [n, v] : lines_)
      if (SameName(n, name)) {
        if (!value.empty()) v += v.empty() ? std::string(value) : ", " + std::string(value);
        return;
      }
    lines_.push_back({std::string(name), std::string(value)});
  }
  void AddAll(const WspHeaderList* list) {
    if (!list) return;
    for (const auto& e : *list) {
      if (e.name.empty()) break;  // the list ends at its first empty name
      Add(e.name, e.value);
    }
  }
  bool Has(std::string_view name) const {
    for (const auto& line : lines_)
      if (SameName(line.first, name)) return true;
    return false;
  }
  // Null and false when a line could not be added.
  bool Build(curl_slist** out) const {
    curl_slist* list = nullptr;
    for (const auto& [n, v] : lines_) {
      // "Name;" is libcurl's way of sending a header with an empty value.
      const std::string line = v.empty() ? n + ";" : n + ": " + v;
      curl_slist* next = curl_slist_append(list, line.c_str());
      if (!next) {
        curl_slist_free_all(list);
        return false;
      }
      list = next;
    }
    *out = list;
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> lines_;
};

struct SlistGuard {
  curl_slist* list = nullptr;
  ~SlistGuard() { curl_slist_free_all(list); }
};

}  // namespace

struct HttpSession::Transfer {
  // Request body: the PDU, then the rest of the stream.
  const mms::ByteBuffer* data = nullptr;
  std::int32_t dataPos = 0;
  mms::ByteStream* body = nullptr;
  std::int64_t bodyLeft = 0;
  bool readFailed = false;

  mms::ByteBuffer* reply = nullptr;
  std::uint32_t replyLimit = 0;
  bool tooLarge = false;

  CancelHook hook;
  int hookKind = 0;
  bool cancelled = false;

  Clock::time_point lastMove = Clock::now();
  curl_off_t lastUp = 0, lastDown = 0;

  bool CancelAsked() {
    if (!cancelled && hook.function && hook.function(hookKind, hook.value) == 0) cancelled = true;
    return cancelled;
  }

  static size_t Read(char* buffer, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t room = size * count;
    size_t n = 0;
    if (t->data && t->dataPos < t->data->length()) {
      const size_t take = std::min<size_t>(room, static_cast<size_t>(t->data->length() - t->dataPos));
      std::memcpy(buffer, t->data->data() + t->dataPos, take);
      t->dataPos += static_cast<std::int32_t>(take);
      n = take;
    }
    if (n < room && t->body && t->bodyLeft > 0) {
      const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(room - n), t->bodyLeft);
      const std::int64_t got = t->body->Read(buffer + n, want);
      if (got <= 0) {
        // The announced length can no longer be met: the file shrank or failed.
        t->readFailed = true;
        return CURL_READFUNC_ABORT;
      }
      t->bodyLeft -= got;
      n += static_cast<size_t>(got);
    }
    return n;
  }

  static size_t Write(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const size_t n = size * count;
    if (static_cast<std::uint64_t>(t->reply->length()) + n > t->replyLimit) {
      t->tooLarge = true;
      return 0;
    }
    if (!t->reply->Append(data, static_cast<std::int32_t>(n))) return 0;
    return n;
  }

  static int Progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto* t = static_cast<Transfer*>(self);
    if (down != t->lastDown || up != t->lastUp) {
      t->lastDown = down;
      t->lastUp = up;
      t->lastMove = Clock::now();
    }
    return t->CancelAsked() ? 1 : 0;
  }
};

std::uint8_t HttpStatusToWspStatus(long s) {
  // Each class's statuses with an octet of their own (the WSP status code assignments).
  struct Range {
    long first, last;
    std::uint8_t octet;
  };
  static constexpr Range kRanges[] = {
      {100, 101, 0x10}, {200, 206, 0x20}, {300, 305, 0x30}, {400, 415, 0x40}, {500, 505, 0x60},
  };
  for (const Range& r : kRanges)
    if (s >= r.first && s <= r.last) return static_cast<std::uint8_t>(r.octet + (s - r.first));
  for (const Range& r : kRanges)
    if (s / 100 == r.first / 100) return r.octet;
  return 0x60;
}

bool ParseProxy(std::string_view text, std::string* host, int* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view h = text.substr(0, colon), p = text.substr(colon + 1);
  if (p.empty() || p.size() > 5) return false;
  int value = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  if (h.front() == '[') {
    if (h.size() < 3 || h.back() != ']') return false;
    for (char c : h.substr(1, h.size() - 2))
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
  } else {
    for (char c : h)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
  }
  if (host) host->assign(h);
  if (port) *port = value;
  return true;
}

int HttpSession::Open(HttpSessionOptions options, std::unique_ptr<HttpSession>* out) {
  if (!out) return kNoSession;
  out->reset();
  if (!options.proxy.empty() && !ParseProxy(options.proxy, nullptr, nullptr)) return kUnreachable;
  GlobalInit();
  std::unique_ptr<HttpSession> s(new (std::nothrow) HttpSession());
  if (!s) return kOutOfMemory;
  const std::int64_t timeout = options.timeoutMs >= 0 ? options.timeoutMs : ReadSendAndRecvTimeOut();
  const int retries = options.maxRetries >= 0 ? options.maxRetries : ReadWtpMaxRetryTimes();
  s->stallMs_ = timeout * (retries + 1);
  s->options_ = std::move(options);
  s->multi_ = curl_multi_init();
  s->easy_ = curl_easy_init();
  if (!s->multi_ || !s->easy_) return kOutOfMemory;
  *out = std::move(s);
  return kOk;
}

HttpSession::~HttpSession() {
  Close();
}

void HttpSession::Close() {
  if (easy_) curl_easy_cleanup(static_cast<CURL*>(easy_));
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
  easy_ = multi_ = nullptr;
}

int HttpSession::Get(std::string_view url, const WspHeaderList* extra) {
  return Perform(url, false, {}, extra, nullptr, nullptr);
}

int HttpSession::Post(std::string_view url, std::string_view contentType, const mms::ByteBuffer& data,
                      mms::ByteStream* body) {
  return Perform(url, true, contentType, nullptr, &data, body);
}

int HttpSession::ReadReply(std::string* contentType, mms::ByteBuffer* data) {
  if (status_ == 0) return kNoPdu;
  if (contentType) *contentType = contentType_;
  if (data) *data = reply_;
  const std::uint8_t octet = HttpStatusToWspStatus(status_);
  return octet < 0x30 ? kOk : kStatusBase + octet;
}

int HttpSession::Perform(std::string_view url, bool post, std::string_view contentType,
                         const WspHeaderList* extra, const mms::ByteBuffer* data, mms::ByteStream* body) {
  if (!easy_ || !multi_) return kNoSession;
  auto* easy = static_cast<CURL*>(easy_);
  auto* multi = static_cast<CURLM*>(multi_);
  status_ = 0;
  contentType_.clear();
  reply_.Clear();
  uploaded_ = 0;

  HeaderLines lines;
  if (post) lines.Add("Content-Type", contentType);
  lines.AddAll(&options_.headers);
  lines.AddAll(extra);
  if (!lines.Has("User-Agent")) lines.Add("User-Agent", kHttpDefaultUserAgent);
  if (!lines.Has("Accept")) lines.Add("Accept", kHttpDefaultAccept);
  SlistGuard headers;
  if (!lines.Build(&headers.list)) return kOutOfMemory;
  // No "Expect: 100-continue": MMSCs and proxies that never answer it would hold each POST
  // for a second.
  curl_slist* withExpect = curl_slist_append(headers.list, "Expect:");
  if (!withExpect) return kOutOfMemory;
  headers.list = withExpect;

  Transfer t;
  t.data = data;
  t.body = body;
  if (body) t.bodyLeft = std::max<std::int64_t>(0, body->Size() - body->Tell());
  t.reply = &reply_;
  t.replyLimit = options_.replyLimit ? options_.replyLimit : kHttpReplyCap;
  t.hook = options_.cancelHook;
  t.hookKind = post ? kHookPost : kHookGet;
  if (t.CancelAsked()) return kCancelled;

  const std::string target(url);
  const std::string proxy = options_.proxy.empty() ? std::string() : "http://" + options_.proxy;
  curl_easy_reset(easy);
  CURLcode set = CURLE_OK;
  auto opt = [&](CURLoption o, auto v) {
    if (set == CURLE_OK) set = curl_easy_setopt(easy, o, v);
  };
  opt(CURLOPT_URL, target.c_str());
  // A location comes from a push: only the web's own schemes are ever fetched.
  opt(CURLOPT_PROTOCOLS_STR, "http,https");
  opt(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  opt(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  opt(CURLOPT_NOSIGNAL, 1L);
  // An empty proxy turns off the environment's too; an empty no-proxy list sends every host,
  // loopback included, through the profile's proxy.
  opt(CURLOPT_PROXY, proxy.c_str());
  opt(CURLOPT_NOPROXY, "");
  opt(CURLOPT_HTTPHEADER, headers.list);
  opt(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<std::int64_t>(stallMs_, 1)));
  opt(CURLOPT_WRITEFUNCTION, &Transfer::Write);
  opt(CURLOPT_WRITEDATA, &t);
  opt(CURLOPT_XFERINFOFUNCTION, &Transfer::Progress);
  opt(CURLOPT_XFERINFODATA, &t);
  opt(CURLOPT_NOPROGRESS, 0L);
  if (!options_.caFile.empty()) opt(CURLOPT_CAINFO, options_.caFile.c_str());
  if (post) {
    opt(CURLOPT_POST, 1L);
    opt(CURLOPT_READFUNCTION, &Transfer::Read);
    opt(CURLOPT_READDATA, &t);
    opt(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>((data ? data->length() : 0) + t.bodyLeft));
  } else {
    // A message may have moved; the m-send-req is never sent on to another place.
    opt(CURLOPT_HTTPGET, 1L);
    opt(CURLOPT_FOLLOWLOCATION, 1L);
    opt(CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  }
  if (set != CURLE_OK) return set == CURLE_OUT_OF_MEMORY ? kOutOfMemory : kUnreachable;

  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return kOutOfMemory;
  CURLcode code = CURLE_OK;
  bool stalled = false;
  for (;;) {
    if (t.CancelAsked()) break;
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      code = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (running == 0) {
      int left = 0;
      code = CURLE_GOT_NOTHING;
      while (CURLMsg* m = curl_multi_info_read(multi, &left))
        if (m->msg == CURLMSG_DONE && m->easy_handle == easy) code = m->data.result;
      break;
    }
    if (Clock::now() - t.lastMove > std::chrono::milliseconds(stallMs_)) {
      stalled = true;
      break;
    }
    curl_multi_poll(multi, nullptr, 0, kHttpCancelPollMs, nullptr);
  }
  curl_off_t connectTime = 0;
  curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
  curl_off_t sent = 0;
  curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &sent);
  uploaded_ = sent;
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  char* type = nullptr;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
  if (type) contentType_ = type;
  curl_multi_remove_handle(multi, easy);

  if (t.cancelled) return kCancelled;
  const bool connected = connectTime > 0 || t.lastUp > 0 || t.lastDown > 0;
  if (stalled) return connected ? kTimedOut : kUnreachable;
  if (t.tooLarge) {
    // Taken as the refusal a gateway gives for a reply above the client's SDU size.
    status_ = kHttpEntityTooLarge;
    reply_.Clear();
    contentType_.clear();
    return kOk;
  }
  if (t.readFailed) return kOutOfMemory;
  switch (code) {
    case CURLE_OK:
      status_ = status;
      return status > 0 ? kOk : kNoPdu;
    case CURLE_ABORTED_BY_CALLBACK:
      return kCancelled;
    case CURLE_OPERATION_TIMEDOUT:
      return connected ? kTimedOut : kUnreachable;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
      return kUnreachable;
    case CURLE_TOO_MANY_REDIRECTS:
      return kUnexpectedPdu;
    case CURLE_OUT_OF_MEMORY:
      return kOutOfMemory;
    case CURLE_SEND_ERROR:
      return kSendFailed;
    default:
      return kNoPdu;
  }
}

}  // namespace transport
