// MM1 operations: each loads the default profile, opens one WSP session to the profile's
// gateway, exchanges the MMS PDUs and closes the session.

#include "transport/mm1_engine.h"

#include <cstdio>
#include <new>

#include "mms/byte_stream.h"
#include "mms/wsp.h"
#include "platform/text.h"
#include "transport/http_session.h"
#include "transport/results.h"

namespace transport {
namespace {

bool IsMmsContentType(std::string_view type) {
  const std::size_t semi = type.find(';');
  if (semi != std::string_view::npos) type = type.substr(0, semi);
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  return type == kMmsContentType;
}

// One operation's link to the MMSC: a WSP session through the gateway, or HTTP straight to
// the MMSC (or through the profile's proxy). Both hand up the same result codes.
class Channel {
 public:
  virtual ~Channel() = default;
  virtual int Get(std::string_view uri, const WspHeaderList* extra) = 0;
  virtual int Post(std::string_view uri, std::string_view contentType, bool withHeaders,
                   const mms::ByteBuffer& data, mms::ByteStream* body) = 0;
  virtual int ReadReply(std::string* contentType, mms::ByteBuffer* data) = 0;
  int ReadReply(mms::ByteBuffer* data) { return ReadReply(nullptr, data); }
  virtual void Close() = 0;
};

class WspChannel final : public Channel {
 public:
  explicit WspChannel(std::unique_ptr<WspSession> s) : s_(std::move(s)) {}
  int Get(std::string_view uri, const WspHeaderList* extra) override { return s_->Get(uri, extra); }
  int Post(std::string_view uri, std::string_view contentType, bool withHeaders, const mms::ByteBuffer& data,
           mms::ByteStream* body) override {
    return s_->Post(uri, contentType, withHeaders, data, body);
  }
  int ReadReply(std::string* contentType, mms::ByteBuffer* data) override {
    return s_->ReadReply(contentType, data);
  }
  void Close() override { s_->Close(); }

 private:
  std::unique_ptr<WspSession> s_;
};

class HttpChannel final : public Channel {
 public:
  explicit HttpChannel(std::unique_ptr<HttpSession> s) : s_(std::move(s)) {}
  int Get(std::string_view uri, const WspHeaderList* extra) override { return s_->Get(uri, extra); }
  // Every HTTP request carries the configured headers, so withHeaders has nothing to add.
  int Post(std::string_view uri, std::string_view contentType, bool, const mms::ByteBuffer& data,
           mms::ByteStream* body) override {
    return s_->Post(uri, contentType, data, body);
  }
  int ReadReply(std::string* contentType, mms::ByteBuffer* data) override {
    return s_->ReadReply(contentType, data);
  }
  void Close() override { s_->Close(); }

 private:
  std::unique_ptr<HttpSession> s_;
};

int OpenHttp(Mm1Engine* e, std::unique_ptr<Channel>* channel) {
  HttpSessionOptions o;
  o.proxy = e->proxy.str();
  o.cancelHook = e->cancelHook;
  o.headers = e->headerList;
  o.timeoutMs = e->timeoutMs;
  o.maxRetries = e->maxRetries;
  o.replyLimit = e->recvLimit;
  o.caFile = e->caFile;
  std::unique_ptr<HttpSession> session;
  if (HttpSession::Open(std::move(o), &session) != kOk) return kMm1NoSessionOpened;
  channel->reset(new (std::nothrow) HttpChannel(std::move(session)));
  return *channel ? kMm1Ok : kMm1NoSessionOpened;
}

int OpenSession(Mm1Engine* e, std::unique_ptr<Channel>* channel) {
  if (e->transport == Mm1Transport::Http) return OpenHttp(e, channel);
  WspSessionOptions o;
  o.gateway = e->gateway.str();
  o.gatewayPort = static_cast<int>(e->gatewayPort);
  o.clientSduSize = e->recvLimit;
  o.serverSduSize = e->sendLimit;
  o.cancelHook = e->cancelHook;
  o.headers = e->headerList;
  o.timeoutMs = e->timeoutMs;
  o.maxRetries = e->maxRetries;
  if (e->portFactory) o.port = e->portFactory();
  std::unique_ptr<WspSession> session;
  if (WspSession::Open(std::move(o), &session) != kOk) return kMm1NoSessionOpened;
  channel->reset(new (std::nothrow) WspChannel(std::move(session)));
  return *channel ? kMm1Ok : kMm1NoSessionOpened;
}

// m-notifyresp-ind (0x83) or m-acknowledge-ind (0x85) inside an open session. The reply's data
// is read and dropped.
// `status` 0 takes the mode's: Retrieved in immediate mode, Deferred in deferred mode.
int SendNotifyOrAck(Mm1Engine* e, Channel* session, std::uint8_t messageType, std::uint8_t status = 0) {
  if (!session) return kMm1NoSession;
  if (messageType == mms::kAcknowledgeInd && e->notifyRespAfterRetrieval) return kMm1MissingTarget;
  mms::MmsHeaders& h = e->headers;
  h.messageType = messageType;
  if (messageType == mms::kNotifyRespInd)
    h.status = status ? status : e->notifyRespAfterRetrieval ? mms::kStatusRetrieved : mms::kStatusDeferred;
  const std::optional<mms::ByteBuffer> pdu = mms::EncodePdu(h);
  if (!pdu) return kMm1EncodeFailed;
  if (e->mmscUri.empty()) return kMm1MissingTarget;
  int r = session->Post(e->mmscUri.view(), kMmsContentType, false, *pdu, nullptr);
  if (r != kOk) return r;
  mms::ByteBuffer discard;
  return session->ReadReply(&discard);
}

void CopyProfile(Mm1Engine* e, const Mm1Profile& p) {
  e->gateway.Assign(p.gateway.view());
  e->gatewayPort = p.gatewayPort;
  e->mmscUri.Assign(p.mmscUri.view());
  e->transport = p.transport;
  e->proxy.Assign(p.proxy.view());
  e->sendLimit = p.sendLimit;
  e->recvLimit = p.recvLimit;
  e->tryCount = p.tryCount;
  e->notifyRespAfterRetrieval = p.notifyRespAfterRetrieval;
}

Mm1Profile BuiltInProfile() {
  Mm1Profile p;
  p.sendLimit = 60000;
  p.recvLimit = 60000;
  p.tryCount = 1;
  p.notifyRespAfterRetrieval = 0;
  p.gatewayPort = kBuiltInGatewayPort;
  p.gateway.Assign(kBuiltInGateway);
  p.mmscUri.Assign(kBuiltInMmscUri);
  return p;
}

void Prepare(Mm1Engine* e) {
  mms::ClearHeaders(e->headers);
  Mm1LoadEngineProfile(e);
  e->headerList = LoadWspHeaderList();
}

// Deletes the output package unless the retrieval completed.
class OutputGuard {
 public:
  explicit OutputGuard(std::u16string_view path) : path_(platform::Utf16ToUtf8(path)) {}
  ~OutputGuard() {
    stream.reset();
    if (!keep) std::remove(path_.c_str());
  }
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;
  std::unique_ptr<mms::ByteStream> stream;
  bool keep = false;

 private:
  std::string path_;
};

}  // namespace

void Mm1LoadEngineProfile(Mm1Engine* e) {
  Mm1Profile p;
  if (Mm1LoadProfile(1, &p, kLoadDefault)) {
    CopyProfile(e, p);
    return;
  }
  p = BuiltInProfile();
  CopyProfile(e, p);
  // The list keeps one copy: while the default stays unreadable (say the size limits are
  // missing), every operation lands here, and each would otherwise append another profile.
  const int total = Mm1ProfileCount();
  for (int i = 1; i <= total; ++i) {
    Mm1Profile q;
    if (Mm1ReadProfileEntry(i, &q) && q.name.empty() && q.gateway == p.gateway.view() &&
        q.mmscUri == p.mmscUri.view() && q.gatewayPort == p.gatewayPort)
      return;
  }
  Mm1AddProfile(p, false);
}

std::unique_ptr<Mm1Engine> Mm1CreateEngine() {
  std::unique_ptr<Mm1Engine> e(new (std::nothrow) Mm1Engine());
  if (!e) return nullptr;
  Mm1LoadEngineProfile(e.get());
  e->headers.reportAllowed = true;
  return e;
}

void Mm1FreeEngine(std::unique_ptr<Mm1Engine>& engine) {
  engine.reset();
}

bool Mm1UseProfile(Mm1Engine* engine, int index) {
  Mm1Profile p;
  if (!engine || !Mm1LoadProfile(index, &p, kLoadByIndex)) return false;
  if (Mm1UpdateProfile(index, p, true) < 0) return false;
  CopyProfile(engine, p);
  return true;
}

int Mm1Send(Mm1Engine* e, std::u16string_view packagePath, const mms::SendRequest* request,
            std::string* messageId) {
  if (!e) return kMm1InvalidArgument;
  Prepare(e);
  if (!request || packagePath.empty() || !messageId ||
      (request->to.empty() && request->cc.empty() && request->bcc.empty()))
    return kMm1InvalidArgument;

  std::unique_ptr<mms::ByteStream> file = mms::ByteStream::OpenFile(packagePath, mms::ByteStream::kRead);
  if (!file) return kMm1FileError;
  const std::int64_t fileSize = file->Size();
  if (fileSize <= 0) return kMm1FileError;
  file->ReadOctet();  // the 0x84 that opens every package
  mms::ContentTypeValue ct;
  if (!mms::StreamDecodeContentType(*file, ct)) return kMm1FileError;
  const bool related = ct.mediaType == mms::kMultipartRelated || ct.mediaType == "multipart/related";
  const bool mixed =
      ct.mediaType == "application/vnd.wap.multipart.mixed" || ct.mediaType == "multipart/mixed";
  if (!related && !mixed) return kMm1NotMultipart;
  const std::int64_t bodyLength = fileSize - file->Tell();
  if (bodyLength <= 0) return kMm1FileError;
  if (bodyLength > static_cast<std::int64_t>(e->sendLimit)) return kMm1TooLarge;
  if (e->transport == Mm1Transport::Wsp && bodyLength >= kMm1BodyCap) return kMm1TooLarge;

  mms::MmsHeaders& h = e->headers;
  h.contentType.Assign(ct.mediaType);
  if (related) {
    h.typeParam.Assign(ct.typeParam);
    h.startParam.Assign(ct.startParam);
  }
  if (!mms::LoadSendRequest(h, *request)) return kMm1InvalidArgument;

  std::unique_ptr<Channel> session;
  if (OpenSession(e, &session) != kMm1Ok) return kMm1NoSessionOpened;

  h.messageType = mms::kSendReq;
  mms::GenerateTransactionId(h);
  const std::optional<mms::ByteBuffer> pdu = mms::EncodePdu(h);
  if (!pdu) return kMm1EncodeFailed;
  if (e->mmscUri.empty()) return kMm1MissingTarget;
  int r = session->Post(e->mmscUri.view(), kMmsContentType, true, *pdu, file.get());
  file.reset();
  if (r != kOk) return r;

  mms::ByteBuffer reply;
  r = session->ReadReply(&reply);
  if (r != kOk) return r;
  if (reply.length() == 0) return kMm1BadReplyType;
  mms::ClearHeaders(h);
  if (!mms::DecodePdu(reply, h)) return kMm1DecodeFailed;
  if (h.messageType != mms::kSendConf) return kMm1BadReplyType;
  if (h.responseStatus != 0x80) return kMm1ResponseStatusBase + h.responseStatus;
  *messageId = h.messageId.str();
  return kMm1Ok;
}

int Mm1Retrieve(Mm1Engine* e, std::string_view contentLocation, std::string_view transactionId,
                const std::string* msisdn, std::u16string_view outputPath, mms::RetrieveResult* result) {
  if (!e) return kMm1InvalidArgument;
  Prepare(e);
  if (contentLocation.empty() || transactionId.empty() || outputPath.empty()) return kMm1InvalidArgument;
  mms::MmsHeaders& h = e->headers;
  if (msisdn) h.from.Assign(*msisdn);

  OutputGuard out(outputPath);
  out.stream = mms::ByteStream::OpenFile(outputPath, mms::ByteStream::kWrite);
  if (!out.stream) return kMm1FileError;
  // A location or id that does not fit its field would address another message.
  if (!h.contentLocation.Assign(contentLocation) || !h.transactionId.Assign(transactionId))
    return kMm1InvalidArgument;

  std::unique_ptr<Channel> session;
  if (OpenSession(e, &session) != kMm1Ok) return kMm1NoSessionOpened;
  if (h.contentLocation.empty()) return kMm1MissingTarget;
  WspHeaderList extra;
  if (!h.from.empty()) extra.push_back({"X-MSISDN", h.from.str()});
  h.from.Assign("");
  int r = session->Get(h.contentLocation.view(), extra.empty() ? nullptr : &extra);
  if (r != kOk) return r;

  std::string replyType;
  mms::ByteBuffer reply;
  r = session->ReadReply(&replyType, &reply);
  if (r != kOk) return r;
  if (reply.length() == 0) return kMm1BadReplyType;
  if (replyType.empty() || !IsMmsContentType(replyType)) return kMm1BadContentType;
  const std::string savedTransactionId = h.transactionId.str();
  mms::ClearHeaders(h);
  std::optional<mms::ByteBuffer> body;
  if (!mms::DecodePdu(reply, h, &body)) return kMm1DecodeFailed;
  if (h.messageType != mms::kRetrieveConf) return kMm1BadReplyType;

  mms::ByteBuffer head;
  head.AppendOctet(mms::kRetrieveConf);
  if (!mms::EncodeContentType(head, h.contentType.view(), h.typeParam.view(), h.startParam.view()))
    return kMm1FileError;
  if (out.stream->Write(head.data(), head.length()) != head.length()) return kMm1FileError;
  if (body && body->length() > 0 && out.stream->Write(body->data(), body->length()) != body->length())
    return kMm1FileError;
  if (!out.stream->Flush()) return kMm1FileError;
  out.stream.reset();
  out.keep = true;

  const mms::RetrieveResult record = mms::MakeRetrieveResult(h);
  // The confirmation goes out under the notification's transaction id.
  h.transactionId.Assign(savedTransactionId);
  SendNotifyOrAck(e, session.get(), e->notifyRespAfterRetrieval ? mms::kNotifyRespInd : mms::kAcknowledgeInd);
  session->Close();
  if (result) *result = record;
  return kMm1Ok;
}

int Mm1SendDeferredNotifyResp(Mm1Engine* e, std::string_view transactionId) {
  if (!e) return kMm1InvalidArgument;
  Prepare(e);
  if (e->notifyRespAfterRetrieval || transactionId.empty()) return kMm1InvalidArgument;
  if (!e->headers.transactionId.Assign(transactionId)) return kMm1InvalidArgument;
  std::unique_ptr<Channel> session;
  if (OpenSession(e, &session) != kMm1Ok) return kMm1NoSessionOpened;
  const int r = SendNotifyOrAck(e, session.get(), mms::kNotifyRespInd);
  session->Close();
  return r;
}

int Mm1AcknowledgeAgain(Mm1Engine* e, std::string_view transactionId) {
  if (!e) return kMm1InvalidArgument;
  Prepare(e);
  if (transactionId.empty() || !e->headers.transactionId.Assign(transactionId)) return kMm1InvalidArgument;
  std::unique_ptr<Channel> session;
  if (OpenSession(e, &session) != kMm1Ok) return kMm1NoSessionOpened;
  const int r = SendNotifyOrAck(e, session.get(), mms::kNotifyRespInd, mms::kStatusRetrieved);
  session->Close();
  return r;
}

bool Mm1DecodeNotification(Mm1Engine* e, const std::uint8_t* data, std::size_t size,
                           mms::NotificationInfo* info) {
  if (!e || !data || !info) return false;
  mms::ClearHeaders(e->headers);
  return mms::DecodeNotification(e->headers, data, size, *info);
}

bool Mm1DecodeDeliveryReport(Mm1Engine* e, const std::uint8_t* data, std::size_t size,
                             mms::DeliveryInfo* info) {
  if (!e || !data || !info) return false;
  mms::ClearHeaders(e->headers);
  return mms::DecodeDeliveryReport(e->headers, data, size, *info);
}

mms::PushKind Mm1ClassifyPush(Mm1Engine* e, const std::uint8_t* data, std::size_t size) {
  if (!e || !data) return mms::PushKind::Error;
  mms::ClearHeaders(e->headers);
  return mms::ClassifyPush(data, size);
}

void Mm1SetCancelHook(Mm1Engine* e, int (*function)(int, void*), void* value) {
  if (!e) return;
  e->cancelHook.function = function;
  e->cancelHook.value = value;
}

void Mm1ClearCancelHook(Mm1Engine* e) {
  if (e) e->cancelHook = CancelHook{};
}

}  // namespace transport
