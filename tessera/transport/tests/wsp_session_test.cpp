// WSP session: PDUs, capabilities, header list from the registry, Reply and Redirect parsing,
// and whole sessions against the scripted and the fake gateway.

#include "transport/wsp_session.h"

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"
#include "transport/results.h"

using namespace transport;
using namespace transport_test;

namespace {

std::vector<int> All(const ByteBuffer& b) {
  std::vector<int> v;
  for (int i = 0; i < b.length(); ++i) v.push_back(b.At(i));
  return v;
}

HKEY OpenKey(const char16_t* path) {
  HKEY key = nullptr;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

void SetText(HKEY key, const char16_t* name, const std::u16string& text) {
  RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                static_cast<DWORD>((text.size() + 1) * 2));
}

constexpr char16_t kHeaderKey[] = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader";
constexpr char16_t kMm1Key[] = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1";

// A scripted gateway that answers every Invoke with the next of `replies` as one Result.
struct Session {
  platform_testing::ScopedDeviceRoot root;
  ScriptedPort* port = nullptr;
  std::vector<ByteBuffer> replies;
  std::size_t next = 0;
  std::vector<ByteBuffer> log;  // outlives the port, which the session owns
  std::unique_ptr<WspSession> session;

  int Open(WspSessionOptions o = {}) {
    auto p = std::make_unique<ScriptedPort>();
    port = p.get();
    port->onSend = [this](const ByteBuffer& sent, ScriptedPort& gw) {
      log.push_back(sent);
      WtpPdu pdu = Decode(sent);
      if (pdu.type == WtpPduType::Invoke && next < replies.size())
        gw.Queue(ResultPdu(pdu.tid, replies[next++], false, true));
    };
    if (o.gateway.empty()) o.gateway = "10.1.2.3";
    o.port = std::move(p);
    return WspSession::Open(std::move(o), &session);
  }
};

}  // namespace

TEST(WspPdus, CapabilitiesConnectGetPostDisconnect) {
  ByteBuffer caps;
  ASSERT_TRUE(EncodeCapabilities(60000, 60000, &caps));
  EXPECT_EQ(All(caps), (std::vector<int>{0x04, 0x80, 0x83, 0xD4, 0x60,  // Client-SDU-Size 60000
                                         0x04, 0x81, 0x83, 0xD4, 0x60,  // Server-SDU-Size 60000
                                         0x02, 0x82, 0xC0, 0x02, 0x83, 0x08, 0x02, 0x84, 0x01}));
  caps.Clear();
  ASSERT_TRUE(EncodeCapabilities(0, 0, &caps));
  EXPECT_EQ(caps.length(), 0);
  ASSERT_TRUE(EncodeCapabilities(100, 0, &caps));
  EXPECT_EQ(All(caps),
            (std::vector<int>{0x02, 0x80, 0x64, 0x02, 0x82, 0xC0, 0x02, 0x83, 0x08, 0x02, 0x84, 0x01}));

  ByteBuffer pdu;
  ASSERT_TRUE(BuildConnect(0, 0, ByteBuffer(), &pdu));
  EXPECT_EQ(All(pdu), (std::vector<int>{0x01, 0x10, 0x00, 0x00}));

  WspHeaderList list = {{"Accept", "application/vnd.wap.mms-message"},
                        {"User-Agent", "T"},
                        {"X-Id", "7"},
                        {"", "after an empty name nothing"},
                        {"Accept", "x"}};
  ByteBuffer headers;
  ASSERT_TRUE(EncodeWspHeaderList(list, &headers));
  ByteBuffer expected = Bytes({0x80});
  expected.AppendString("application/vnd.wap.mms-message");
  expected.AppendOctet(0);
  expected.AppendBuffer(Bytes({0xA9, 'T', 0, 'X', '-', 'I', 'd', 0, '7', 0}));
  EXPECT_EQ(headers.view(), expected.view());

  ASSERT_TRUE(BuildGet("http://m/1", Bytes({0xA9, 'T', 0}), &pdu));
  EXPECT_EQ(All(pdu),
            (std::vector<int>{0x40, 10, 'h', 't', 't', 'p', ':', '/', '/', 'm', '/', '1', 0xA9, 'T', 0}));

  ASSERT_TRUE(BuildPost("u", "application/vnd.wap.mms-message", Bytes({0xA9, 'T', 0}), Bytes({1, 2}), &pdu));
  ByteBuffer post = Bytes({0x60, 1, 32 + 3, 'u'});
  post.AppendString("application/vnd.wap.mms-message");
  post.AppendBuffer(Bytes({0, 0xA9, 'T', 0, 1, 2}));
  EXPECT_EQ(pdu.view(), post.view());

  ASSERT_TRUE(BuildDisconnect(300, &pdu));
  EXPECT_EQ(All(pdu), (std::vector<int>{0x05, 0x82, 0x2C}));
}

TEST(WspPdus, ReplyRedirectAndConnectReplyParsing) {
  WspReply reply;
  ByteBuffer ok = Bytes({0x04, 0x20, 0x05, 0x83, 0x80 | 0x29, 'T', 0, 0xAA, 'd', 'a', 't', 'a'});
  ASSERT_EQ(ParseReply(ok, &reply), kOk);
  EXPECT_EQ(reply.status, 0x20);
  EXPECT_EQ(reply.contentType, "text/plain");
  EXPECT_EQ(reply.data.view(), "data");
  ByteBuffer text = Bytes({0x04, 0x44, 0x02, 'a', 0});
  ASSERT_EQ(ParseReply(text, &reply), kOk);
  EXPECT_EQ(reply.contentType, "a");
  EXPECT_EQ(reply.data.length(), 0);
  EXPECT_EQ(ParseReply(Bytes({0x04, 0x20, 0x09, 0x83}), &reply), kNoPdu);  // headers past the end
  EXPECT_EQ(ParseReply(Bytes({0x04}), &reply), kNoPdu);
  EXPECT_EQ(ParseReply(ByteBuffer(), &reply), kNoPdu);
  EXPECT_EQ(ParseReply(Bytes({0x02, 0x01}), &reply), kUnexpectedPdu);

  WspRedirect r;
  // Flags, bearer and port present, 4 address octets: bearer 0, port 9202, 127.0.0.2.
  ASSERT_EQ(ParseRedirect(Bytes({0x03, 0x80, 0xC4, 0x00, 0x23, 0xF2, 127, 0, 0, 2}), &r), kOk);
  EXPECT_EQ(r.address, "127.0.0.2");
  EXPECT_TRUE(r.portPresent);
  EXPECT_EQ(r.port, 9202);
  // A 16-octet address: only the first four are used, the rest is read over.
  ByteBuffer longAddress = Bytes({0x03, 0x00, 0x10});
  for (int i = 0; i < 16; ++i) longAddress.AppendOctet(static_cast<std::uint8_t>(10 + i));
  ASSERT_EQ(ParseRedirect(longAddress, &r), kOk);
  EXPECT_EQ(r.address, "10.11.12.13");
  EXPECT_FALSE(r.portPresent);
  EXPECT_EQ(ParseRedirect(Bytes({0x03, 0x00, 0x03, 1, 2, 3}), &r), kNoPdu);     // too short for IPv4
  EXPECT_EQ(ParseRedirect(Bytes({0x03, 0x00, 0x3F, 1, 2, 3, 4}), &r), kNoPdu);  // past the end

  std::uint32_t id = 0;
  ASSERT_EQ(ParseConnectReply(Bytes({0x02, 0x81, 0x00, 0x00, 0x00}), &id), kOk);
  EXPECT_EQ(id, 128u);
  EXPECT_EQ(ParseConnectReply(Bytes({0x02, 0x81}), &id), kNoPdu);
}

TEST(WspHeaders, LoadedFromTheRegistryInOrder) {
  platform_testing::ScopedDeviceRoot root;
  EXPECT_TRUE(LoadWspHeaderList().empty());  // no key
  HKEY key = OpenKey(kHeaderKey);
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(LoadWspHeaderList().empty());  // empty key
  SetText(key, u"Accept", u"application/vnd.wap.mms-message;;text/plain;");
  DWORD number = 5;
  RegSetValueEx(key, u"Skipped", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  SetText(key, u"User-Agent", u"Tessera/1");
  WspHeaderList list = LoadWspHeaderList();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "Accept");
  EXPECT_EQ(list[0].value, "application/vnd.wap.mms-message");
  EXPECT_EQ(list[1].value, "text/plain");
  EXPECT_EQ(list[2].name, "User-Agent");

  // At most 32 entries; names cut to 31 and items to 127 characters.
  SetText(key, u"A-Very-Long-Header-Name-That-Goes-On-And-On", std::u16string(300, u'v'));
  std::u16string many;
  for (int i = 0; i < 40; ++i) many += u"x;";
  SetText(key, u"Many", many);
  list = LoadWspHeaderList();
  ASSERT_EQ(list.size(), 32u);
  EXPECT_EQ(list[3].name.size(), 31u);
  EXPECT_EQ(list[3].value.size(), 127u);
  RegCloseKey(key);
}

TEST(WspHeaders, TimeOutValue) {
  platform_testing::ScopedDeviceRoot root;
  EXPECT_EQ(ReadSendAndRecvTimeOut(), 5000u);
  HKEY key = OpenKey(kMm1Key);
  DWORD v = 1500;
  RegSetValueEx(key, u"SendAndRecvTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
  EXPECT_EQ(ReadSendAndRecvTimeOut(), 1500u);
  v = 0xFFFFFFFFu;
  RegSetValueEx(key, u"SendAndRecvTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
  EXPECT_EQ(ReadSendAndRecvTimeOut(), 5000u);
  SetText(key, u"SendAndRecvTimeOut", u"1500");
  EXPECT_EQ(ReadSendAndRecvTimeOut(), 5000u);
  RegCloseKey(key);
}

TEST(WspSession, ConnectGetReplyAndDisconnect) {
  Session s;
  s.replies = {Bytes({0x02, 0x2A, 0x00, 0x00}),
               Bytes({0x04, 0x20, 0x05, 0x83, 0xA9, 'T', 0, 0xAA, 'b', 'o', 'd', 'y'}),
               Bytes({0x04, 0x30, 0x00}), Bytes({0x04, 0x44, 0x00})};
  WspSessionOptions o;
  o.clientSduSize = 60000;
  o.serverSduSize = 60000;
  ASSERT_EQ(s.Open(std::move(o)), kOk);
  EXPECT_EQ(s.session->sessionId(), 42u);
  // Connect with an empty header list: headers length 0.
  WtpPdu connect = Decode(s.port->sent[0]);
  EXPECT_EQ(All(connect.data).size(), 4u + 19u);
  EXPECT_EQ(connect.data.At(2), 19);
  EXPECT_EQ(connect.data.At(3), 0);

  ASSERT_EQ(s.session->Get("http://mmsc/x"), kOk);
  std::string type;
  ByteBuffer data;
  ASSERT_EQ(s.session->ReadReply(&type, &data), kOk);
  EXPECT_EQ(type, "text/plain");
  EXPECT_EQ(data.view(), "body");
  // 0x30 fails with 294, 0x44 (Not Found) with 314.
  ASSERT_EQ(s.session->Get("http://mmsc/y"), kOk);
  EXPECT_EQ(s.session->ReadReply(&data), 294);
  ASSERT_EQ(s.session->Get("http://mmsc/z"), kOk);
  EXPECT_EQ(s.session->ReadReply(&data), 314);
  EXPECT_EQ(s.session->lastStatus(), 0x44);

  EXPECT_EQ(s.port->waits, 0);
  const std::size_t before = s.log.size();
  s.session.reset();  // Disconnect without waiting
  ASSERT_EQ(s.log.size(), before + 1);
  WtpPdu disconnect = Decode(s.log.back());
  EXPECT_EQ(All(disconnect.data), (std::vector<int>{0x05, 0x2A}));
}

TEST(WspSession, RedirectsAreFollowedAndBounded) {
  {
    Session s;
    s.replies = {Bytes({0x03, 0x00, 0x44, 0x00, 0x00, 10, 9, 8, 7}),  // port 0: keep 9201
                 Bytes({0x03, 0x00, 0x44, 0x24, 0x10, 10, 9, 8, 6}),  // port 9232
                 Bytes({0x02, 0x01})};
    ASSERT_EQ(s.Open(), kOk);
    // Connect, Ack, Connect, Ack, Connect, Ack: each Ack to the peer that sent the Result.
    ASSERT_EQ(s.port->peers.size(), 6u);
    EXPECT_EQ(s.port->peers[0], "10.1.2.3:9201");
    EXPECT_EQ(s.port->peers[1], "10.1.2.3:9201");
    EXPECT_EQ(s.port->peers[2], "10.9.8.7:9201");
    EXPECT_EQ(s.port->peers[4], "10.9.8.6:9232");
    // Each Connect goes out with the next TID.
    EXPECT_EQ(Decode(s.port->sent[4]).tid, 3);
  }
  {
    // An endless chain: eight redirects are followed, the ninth gives 301.
    Session s;
    for (int i = 0; i < 20; ++i) s.replies.push_back(Bytes({0x03, 0x00, 0x04, 10, 0, 0, 1}));
    EXPECT_EQ(s.Open(), kUnexpectedPdu);
    EXPECT_EQ(s.session, nullptr);
    EXPECT_EQ(s.next, 9u);
  }
  {
    Session s;
    s.replies = {Bytes({0x04, 0x20, 0x00})};
    EXPECT_EQ(s.Open(), kUnexpectedPdu);
    Session t;
    t.replies = {Bytes({0x03, 0x00, 0x02, 1, 2})};
    EXPECT_EQ(t.Open(), kNoPdu);
  }
}

TEST(WspSession, PostStreamsTheBodyThroughTheFakeGateway) {
  platform_testing::ScopedDeviceRoot root;
  FakeGateway::Options go;
  auto gw = std::make_unique<FakeGateway>(go);
  FakeGateway* gateway = gw.get();
  WspSessionOptions o;
  o.gateway = "127.0.0.1";
  o.port = std::move(gw);
  o.headers = {{"Accept", "application/vnd.wap.mms-message"}};
  std::unique_ptr<WspSession> session;
  ASSERT_EQ(WspSession::Open(std::move(o), &session), kOk);
  ByteBuffer message = Pattern(20000, 3);
  auto body = mms::ByteStream::OpenMemory(message.data(), message.length());
  ASSERT_EQ(
      session->Post("http://mmsc/post", "application/vnd.wap.mms-message", true, ByteBuffer(), body.get()),
      kOk);
  std::string type;
  ByteBuffer data;
  ASSERT_EQ(session->ReadReply(&type, &data), kOk);
  EXPECT_EQ(type, "text/plain");
  EXPECT_EQ(data.view(), "OK");
  ASSERT_EQ(gateway->posts.size(), 1u);
  const ByteBuffer& post = gateway->posts[0];
  ASSERT_GE(post.length(), message.length());
  EXPECT_EQ(post.view().substr(static_cast<std::size_t>(post.length() - message.length())), message.view());
  EXPECT_EQ(gateway->connects, 1);
}
