#include "transport/wsp_session.h"

#include <strings.h>

#include <cstdio>
#include <new>

#include "mms/wsp.h"
#include "transport/results.h"

namespace transport {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool EncodeWspHeaderList(const WspHeaderList& list, mms::ByteBuffer* out) {
  for (const auto& e : list) {
    if (e.name.empty()) break;
    bool ok;
    if (SameName(e.name, "User-Agent"))
      ok = mms::EncodeHeaderField(*out, 0x29, {}, e.value);
    else if (SameName(e.name, "Accept"))
      ok = mms::EncodeHeaderField(*out, 0x00, {}, e.value);
    else
      ok = mms::EncodeHeaderField(*out, -1, e.name, e.value);
    if (!ok) return false;
  }
  return true;
}

bool EncodeCapabilities(std::uint32_t clientSduSize, std::uint32_t serverSduSize, mms::ByteBuffer* out) {
  bool ok = true;
  if (clientSduSize != 0)
    ok = ok && mms::EncodeUintvar(*out, static_cast<std::uint32_t>(1 + mms::UintvarSize(clientSduSize))) &&
         out->AppendOctet(0x80) && mms::EncodeUintvar(*out, clientSduSize);
  if (serverSduSize != 0)
    ok = ok && mms::EncodeUintvar(*out, static_cast<std::uint32_t>(1 + mms::UintvarSize(serverSduSize))) &&
         out->AppendOctet(0x81) && mms::EncodeUintvar(*out, serverSduSize);
  if (clientSduSize != 0 || serverSduSize != 0) {
    // Protocol Options (Push, Confirmed Push), Method MOR 8, Push MOR 1.
    static constexpr std::uint8_t kFixed[] = {0x02, 0x82, 0xC0, 0x02, 0x83, 0x08, 0x02, 0x84, 0x01};
    ok = ok && out->Append(kFixed, sizeof kFixed);
  }
  return ok;
}

bool BuildConnect(std::uint32_t clientSduSize, std::uint32_t serverSduSize, const mms::ByteBuffer& headers,
                  mms::ByteBuffer* out) {
  mms::ByteBuffer caps;
  if (!EncodeCapabilities(clientSduSize, serverSduSize, &caps)) return false;
  out->Clear();
  return out->AppendOctet(0x01) && out->AppendOctet(0x10) &&
         mms::EncodeUintvar(*out, static_cast<std::uint32_t>(caps.length())) &&
         mms::EncodeUintvar(*out, static_cast<std::uint32_t>(headers.length())) && out->AppendBuffer(caps) &&
         out->AppendBuffer(headers);
}

bool BuildGet(std::string_view uri, const mms::ByteBuffer& headers, mms::ByteBuffer* out) {
  out->Clear();
  return out->AppendOctet(0x40) && mms::EncodeUintvar(*out, static_cast<std::uint32_t>(uri.size())) &&
         out->AppendString(uri) && out->AppendBuffer(headers);
}

bool BuildPost(std::string_view uri, std::string_view contentType, const mms::ByteBuffer& headers,
               const mms::ByteBuffer& data, mms::ByteBuffer* out) {
  mms::ByteBuffer type;
  if (!mms::EncodeContentType(type, contentType)) return false;
  out->Clear();
  return out->AppendOctet(0x60) && mms::EncodeUintvar(*out, static_cast<std::uint32_t>(uri.size())) &&
         mms::EncodeUintvar(*out, static_cast<std::uint32_t>(type.length() + headers.length())) &&
         out->AppendString(uri) && out->AppendBuffer(type) && out->AppendBuffer(headers) &&
         out->AppendBuffer(data);
}

bool BuildDisconnect(std::uint32_t sessionId, mms::ByteBuffer* out) {
  out->Clear();
  return out->AppendOctet(0x05) && mms::EncodeUintvar(*out, sessionId);
}

int ParseReply(const mms::ByteBuffer& pdu, WspReply* out) {
  if (pdu.length() < 1) return kNoPdu;
  if (pdu.At(0) != static_cast<int>(WspPduType::Reply)) return kUnexpectedPdu;
  mms::WspReader r(pdu);
  r.Skip(1);
  const std::uint8_t status = r.ReadOctet();
  const std::uint32_t headersLength = mms::DecodeUintvar(r);
  if (r.failed()) return kNoPdu;
  mms::WspReader headers = r.Sub(headersLength);
  if (r.failed()) return kNoPdu;
  WspReply reply;
  reply.status = status;
  if (!headers.AtEnd()) {
    mms::ContentTypeValue type;
    mms::DecodeContentType(headers, type);
    if (headers.failed()) return kNoPdu;
    reply.contentType = type.mediaType;
  }
  reply.data = mms::ByteBuffer(r.here(), static_cast<std::int32_t>(r.remaining()));
  if (reply.data.length() != static_cast<std::int32_t>(r.remaining())) return kOutOfMemory;
  *out = std::move(reply);
  return kOk;
}

int ParseRedirect(const mms::ByteBuffer& pdu, WspRedirect* out) {
  if (pdu.length() < 1) return kNoPdu;
  if (pdu.At(0) != static_cast<int>(WspPduType::Redirect)) return kUnexpectedPdu;
  mms::WspReader r(pdu);
  r.Skip(1);
  WspRedirect redirect;
  redirect.flags = r.ReadOctet();
  const std::uint8_t a = r.ReadOctet();
  redirect.bearerPresent = (a & 0x80) != 0;
  redirect.portPresent = (a & 0x40) != 0;
  const std::size_t length = a & 0x3F;
  if (redirect.bearerPresent) redirect.bearerType = r.ReadOctet();
  if (redirect.portPresent) {
    const std::uint8_t hi = r.ReadOctet();
    redirect.port = static_cast<std::uint16_t>((hi << 8) | r.ReadOctet());
  }
  // Only the first four octets (an IPv4 address) are used; a longer address is read past
  // within its own length and never copied whole.
  mms::WspReader address = r.Sub(length);
  if (r.failed() || length < 4) return kNoPdu;
  std::uint8_t q[4];
  for (auto& octet : q) octet = address.ReadOctet();
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", q[0], q[1], q[2], q[3]);
  redirect.address = text;
  *out = std::move(redirect);
  return kOk;
}

int ParseConnectReply(const mms::ByteBuffer& pdu, std::uint32_t* sessionId) {
  if (pdu.length() < 1) return kNoPdu;
  if (pdu.At(0) != static_cast<int>(WspPduType::ConnectReply)) return kUnexpectedPdu;
  mms::WspReader r(pdu);
  r.Skip(1);
  const std::uint32_t id = mms::DecodeUintvar(r);
  if (r.failed()) return kNoPdu;
  *sessionId = id;
  return kOk;
}

int WspSession::Open(WspSessionOptions options, std::unique_ptr<WspSession>* out) {
  out->reset();
  const std::uint32_t timeout =
      options.timeoutMs >= 0 ? static_cast<std::uint32_t>(options.timeoutMs) : ReadSendAndRecvTimeOut();
  std::unique_ptr<WspSession> session(new (std::nothrow) WspSession);
  if (!session) return kOutOfMemory;
  if (options.port) {
    session->transaction_.reset(
        new (std::nothrow) WtpTransaction(std::move(options.port), options.gateway, options.gatewayPort));
  } else {
    session->transaction_ = WtpTransaction::Create(options.gateway, options.gatewayPort, timeout);
  }
  if (!session->transaction_) return kNoSession;
  session->transaction_->SetCancelHook(options.cancelHook);
  session->transaction_->SetMaxRetriesOverride(options.maxRetries);
  session->clientSduSize_ = options.clientSduSize;
  session->serverSduSize_ = options.serverSduSize;
  session->headers_ = std::move(options.headers);
  if (session->headers_.size() > kMaxWspHeaders) session->headers_.resize(kMaxWspHeaders);
  const int r = session->Connect();
  if (r != kOk) return r;  // the session is destroyed without a Disconnect: none was made
  session->open_ = true;
  *out = std::move(session);
  return kOk;
}

int WspSession::Connect() {
  mms::ByteBuffer headers;
  if (!EncodeWspHeaderList(headers_, &headers)) return kOutOfMemory;
  // A gateway that keeps redirecting would hold the session forever; after kMaxRedirects
  // the chain is treated as an unexpected answer.
  for (int redirects = 0;; ++redirects) {
    mms::ByteBuffer connect;
    if (!BuildConnect(clientSduSize_, serverSduSize_, headers, &connect)) return kOutOfMemory;
    int r = transaction_->Invoke(connect, nullptr);
    if (r != kOk) return r;
    mms::ByteBuffer reply;
    r = transaction_->CollectResult(&reply);
    if (r != kOk) return r;
    if (reply.length() == 0) return kNoPdu;
    if (reply.At(0) == static_cast<int>(WspPduType::ConnectReply))
      return ParseConnectReply(reply, &sessionId_);
    if (reply.At(0) != static_cast<int>(WspPduType::Redirect)) return kUnexpectedPdu;
    if (redirects >= kMaxRedirects) return kUnexpectedPdu;
    WspRedirect redirect;
    r = ParseRedirect(reply, &redirect);
    if (r != kOk) return r;
    transaction_->SetPeer(redirect.address, redirect.portPresent ? redirect.port : 0);
  }
}

int WspSession::Get(std::string_view uri, const WspHeaderList* extra) {
  if (!open_) return kNoSession;
  mms::ByteBuffer headers;
  if (!EncodeWspHeaderList(headers_, &headers)) return kOutOfMemory;
  if (extra && !EncodeWspHeaderList(*extra, &headers)) return kOutOfMemory;
  if (!BuildGet(uri, headers, &pending_)) return kOutOfMemory;
  return transaction_->Invoke(pending_, nullptr);
}

int WspSession::Post(std::string_view uri, std::string_view contentType, bool withHeaders,
                     const mms::ByteBuffer& data, mms::ByteStream* body) {
  if (!open_) return kNoSession;
  mms::ByteBuffer headers;
  if (withHeaders && !EncodeWspHeaderList(headers_, &headers)) return kOutOfMemory;
  if (!BuildPost(uri, contentType, headers, data, &pending_)) return kOutOfMemory;
  return transaction_->Invoke(pending_, body);
}

int WspSession::ReadReply(std::string* contentType, mms::ByteBuffer* data) {
  if (!open_) return kNoSession;
  mms::ByteBuffer result;
  int r = transaction_->CollectResult(&result);
  if (r != kOk) return r;
  WspReply reply;
  r = ParseReply(result, &reply);
  if (r != kOk) return r;
  lastStatus_ = reply.status;
  if (reply.status >= 0x30) return kStatusBase + reply.status;
  if (contentType) *contentType = std::move(reply.contentType);
  if (data) *data = std::move(reply.data);
  return kOk;
}

void WspSession::Close() {
  if (!open_) return;
  open_ = false;
  mms::ByteBuffer disconnect;
  if (BuildDisconnect(sessionId_, &disconnect)) transaction_->Invoke(disconnect, nullptr);
}

WspSession::~WspSession() {
  Close();
}

}  // namespace transport
