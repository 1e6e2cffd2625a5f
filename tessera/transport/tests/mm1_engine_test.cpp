// MM1 engine: the profile store in the registry and every operation against a scripted MMSC.

#include "transport/mm1_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "mm1_scripted_mmsc.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"
#include "transport/results.h"

using namespace transport;
using namespace transport_test;

namespace {

constexpr std::string_view kMixed = "application/vnd.wap.multipart.mixed";

HKEY CreateKey(const char16_t* path) {
  HKEY key = nullptr;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return key;
}

void SetDword(const char16_t* path, const char16_t* name, DWORD value) {
  HKEY key = CreateKey(path);
  RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  RegCloseKey(key);
}

std::u16string ReadText(const char16_t* path, const std::u16string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
  char16_t buf[128] = {};
  DWORD size = sizeof(buf);
  DWORD type = 0;
  const LONG e = RegQueryValueEx(key, name.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
  RegCloseKey(key);
  return e == ERROR_SUCCESS ? std::u16string(buf) : u"<absent>";
}

void SetLimits(DWORD send, DWORD recv, DWORD tries) {
  SetDword(kSizeLimitKey, u"SendDefault", send);
  SetDword(kSizeLimitKey, u"RecvDefault", recv);
  SetDword(kTryLimitKey, u"TryDefault", tries);
}

Mm1Profile MakeProfile(const char* name, const char* gateway, std::uint32_t port, const char* uri) {
  Mm1Profile p;
  p.name.Assign(name);
  p.gateway.Assign(gateway);
  p.gatewayPort = port;
  p.mmscUri.Assign(uri);
  return p;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const ByteBuffer& b) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), b.length());
}

// 0x84, the content type, then `bodyLength` octets of body.
ByteBuffer Package(std::string_view type, std::size_t bodyLength, std::string_view typeParam = {},
                   std::string_view start = {}) {
  ByteBuffer b;
  b.AppendOctet(0x84);
  mms::EncodeContentType(b, type, typeParam, start);
  b.AppendBuffer(Pattern(bodyLength, 7));
  return b;
}

// m-send-conf: type, transaction id, version, response status, message id.
ByteBuffer SendConf(int status, const char* messageId = "MID-1") {
  ByteBuffer b = Bytes({0x8C, 0x81, 0x98, '4', '2', 0x00, 0x8D, 0x90, 0x92, status});
  b.AppendOctet(0x8B);
  b.AppendString(messageId);
  b.AppendOctet(0);
  return b;
}

// m-retrieve-conf carrying a package: the package's leading 0x84 is the Content-Type field.
ByteBuffer RetrieveConf(const ByteBuffer& package) {
  ByteBuffer b = Bytes({0x8C, 0x84, 0x98, '7', 0x00, 0x8D, 0x90, 0x8B, 'M', 0x00});
  b.AppendOctet(0x89);  // From: length, address-present, "+4411/TYPE=PLMN"
  const std::string from = "+4411/TYPE=PLMN";
  b.AppendOctet(static_cast<std::uint8_t>(from.size() + 2));
  b.AppendOctet(0x80);
  b.AppendString(from);
  b.AppendOctet(0);
  b.AppendBuffer(package);
  return b;
}

struct Fixture : ::testing::Test {
  platform_testing::ScopedDeviceRoot root;
  std::shared_ptr<MmscScript> mmsc = std::make_shared<MmscScript>();
  std::unique_ptr<Mm1Engine> engine;
  std::string dir;

  void SetUp() override {
    dir = std::getenv("TESSERA_ROOT");
    SetLimits(60000, 60000, 3);
    ASSERT_EQ(Mm1AddProfile(MakeProfile("Test", "10.0.0.1", 9201, "http://mmsc.test/mms"), true), 1);
    engine = Mm1CreateEngine();
    ASSERT_TRUE(engine);
    engine->portFactory = [s = mmsc] { return std::make_unique<ScriptedMmscPort>(s); };
    engine->timeoutMs = 50;
    engine->maxRetries = 1;
  }

  std::u16string Path(const std::string& name) { return platform::Utf8ToUtf16(dir + "/" + name); }

  int Send(const ByteBuffer& package, std::string* messageId) {
    WriteAll(dir + "/out.pkg", package);
    mms::SendRequest request;
    request.to = "+4420/TYPE=PLMN";
    return Mm1Send(engine.get(), Path("out.pkg"), &request, messageId);
  }
};

using ProfileStore = Fixture;
using Mm1Sending = Fixture;
using Mm1Retrieval = Fixture;

}  // namespace

TEST_F(ProfileStore, AddLoadUpdateAndTheIndexRecord) {
  EXPECT_EQ(Mm1ProfileCount(), 1);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 1);
  EXPECT_EQ(Mm1AddProfile(MakeProfile("Two", "10.0.0.2", 9202, "http://two/"), false), 2);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 1);
  EXPECT_EQ(Mm1AddProfile(MakeProfile("Three", "10.0.0.3", 9203, "http://three/"), true), 3);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 3);

  Mm1Profile p;
  ASSERT_TRUE(Mm1LoadProfile(1, &p, kLoadDefault));
  EXPECT_EQ(p.name.view(), "Three");
  EXPECT_EQ(p.gatewayPort, 9203u);
  EXPECT_EQ(p.sendLimit, 60000u);
  EXPECT_EQ(p.tryCount, 3u);
  EXPECT_EQ(p.notifyRespAfterRetrieval, 1u);  // "SendDelayedNotifyResp" absent
  ASSERT_TRUE(Mm1LoadProfile(2, &p));
  EXPECT_EQ(p.mmscUri.view(), "http://two/");
  EXPECT_FALSE(Mm1LoadProfile(4, &p));
  EXPECT_FALSE(Mm1LoadProfile(0, &p));

  // Every profile lives in its own numbered subkey.
  std::u16string a = ReadText(kMm1ProfileKey, u"1"), b = ReadText(kMm1ProfileKey, u"2");
  EXPECT_NE(a, b);
  EXPECT_LT(std::stoul(platform::Utf16ToUtf8(a)), 100000u);

  EXPECT_EQ(Mm1UpdateProfile(2, MakeProfile("Two'", "10.9.9.9", 1, "http://new/"), true), 3);
  ASSERT_TRUE(Mm1LoadProfile(2, &p));
  EXPECT_EQ(p.name.view(), "Two'");
  EXPECT_EQ(p.gateway.view(), "10.9.9.9");
  EXPECT_EQ(Mm1DefaultProfileIndex(), 2);
  EXPECT_EQ(Mm1UpdateProfile(4, p, false), -1);
  EXPECT_EQ(Mm1UpdateProfile(0, p, false), -1);

  // A required limit missing makes the profile unreadable.
  HKEY tries = CreateKey(kTryLimitKey);
  RegDeleteValue(tries, u"TryDefault");
  RegCloseKey(tries);
  EXPECT_FALSE(Mm1LoadProfile(1, &p));
}

TEST_F(ProfileStore, DeletingRenumbersAndMovesTheDefault) {
  ASSERT_EQ(Mm1AddProfile(MakeProfile("Two", "10.0.0.2", 9202, "http://two/"), false), 2);
  ASSERT_EQ(Mm1AddProfile(MakeProfile("Three", "10.0.0.3", 9203, "http://three/"), true), 3);
  const std::u16string third = ReadText(kMm1ProfileKey, u"3");

  EXPECT_EQ(Mm1DeleteProfile(2), 2);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 2);
  EXPECT_EQ(ReadText(kMm1ProfileKey, u"2"), third);
  EXPECT_EQ(ReadText(kMm1ProfileKey, u"3"), u"<absent>");
  Mm1Profile p;
  ASSERT_TRUE(Mm1LoadProfile(1, &p, kLoadDefault));
  EXPECT_EQ(p.name.view(), "Three");

  // Deleting the default hands the mark to profile 1; deleting the last leaves 0 and 0.
  EXPECT_EQ(Mm1DeleteProfile(2), 1);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 1);
  EXPECT_EQ(Mm1DeleteProfile(2), -1);
  EXPECT_EQ(Mm1DeleteProfile(1), 0);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 0);
  EXPECT_EQ(Mm1ProfileCount(), 0);
  EXPECT_FALSE(Mm1LoadProfile(1, &p, kLoadDefault));

  // Adding after that starts again at 1 and makes it the default.
  EXPECT_EQ(Mm1AddProfile(MakeProfile("New", "1.2.3.4", 1, "http://n/"), false), 1);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 1);
}

TEST(ProfileStoreBuiltIn, AnUnreadableDefaultFallsBackAndIsAdded) {
  platform_testing::ScopedDeviceRoot root;
  auto engine = Mm1CreateEngine();
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->sendLimit, 60000u);
  EXPECT_EQ(engine->recvLimit, 60000u);
  EXPECT_EQ(engine->tryCount, 1u);
  EXPECT_EQ(engine->notifyRespAfterRetrieval, 0u);
  EXPECT_EQ(engine->gatewayPort, kBuiltInGatewayPort);
  EXPECT_EQ(engine->gateway.view(), kBuiltInGateway);
  EXPECT_EQ(engine->mmscUri.view(), kBuiltInMmscUri);
  EXPECT_TRUE(engine->headers.reportAllowed);
  EXPECT_EQ(Mm1ProfileCount(), 1);
  // Still unreadable (no limits): the built-in profile is not added a second time.
  Mm1LoadEngineProfile(engine.get());
  EXPECT_EQ(Mm1ProfileCount(), 1);
  Mm1Profile entry;
  ASSERT_TRUE(Mm1ReadProfileEntry(1, &entry));
  EXPECT_EQ(entry.mmscUri.view(), kBuiltInMmscUri);

  // Use profile copies the chosen one in and marks it default.
  SetLimits(1000, 2000, 2);
  ASSERT_EQ(Mm1AddProfile(MakeProfile("Mine", "10.1.1.1", 9999, "http://mine/"), false), 2);
  EXPECT_EQ(Mm1DefaultProfileIndex(), 1);
  ASSERT_TRUE(Mm1UseProfile(engine.get(), 2));
  EXPECT_EQ(Mm1DefaultProfileIndex(), 2);
  EXPECT_EQ(engine->gatewayPort, 9999u);
  EXPECT_EQ(engine->sendLimit, 1000u);
  EXPECT_FALSE(Mm1UseProfile(engine.get(), 3));
}

TEST_F(Mm1Sending, SuccessCarriesTheRequestAndTheBody) {
  mmsc->handler = [](const MmscRequest&) { return MmsReply(SendConf(0x80, "MID-77")); };
  const ByteBuffer package = Package(std::string(mms::kMultipartRelated), 2500, "application/smil", "<smil>");
  std::string id;
  ASSERT_EQ(Send(package, &id), kMm1Ok);
  EXPECT_EQ(id, "MID-77");
  ASSERT_EQ(mmsc->requests.size(), 1u);
  const MmscRequest& req = mmsc->requests[0];
  EXPECT_TRUE(req.post);
  EXPECT_EQ(req.uri, "http://mmsc.test/mms");
  EXPECT_EQ(req.contentType, "application/vnd.wap.mms-message");
  EXPECT_EQ(req.headers.messageType, mms::kSendReq);
  EXPECT_EQ(req.headers.to.view(), "+4420");
  EXPECT_EQ(req.headers.contentType.view(), std::string(mms::kMultipartRelated));
  EXPECT_EQ(req.headers.typeParam.view(), "application/smil");
  EXPECT_EQ(req.headers.startParam.view(), "<smil>");
  EXPECT_EQ(req.headers.transactionId.view().size(), 20u);
  ASSERT_TRUE(req.body);
  const ByteBuffer expected = Pattern(2500, 7);
  ASSERT_EQ(req.body->length(), expected.length());
  EXPECT_EQ(std::memcmp(req.body->data(), expected.data(), 2500), 0);
  EXPECT_EQ(mmsc->connects, 1);
  EXPECT_EQ(mmsc->disconnects, 1);
}

TEST_F(Mm1Sending, ResponseStatusesAndReplyFaults) {
  std::string id;
  const ByteBuffer package = Package(kMixed, 100);
  for (int status = 0x81; status <= 0x88; ++status) {
    mmsc->handler = [status](const MmscRequest&) { return MmsReply(SendConf(status)); };
    EXPECT_EQ(Send(package, &id), 322 + status) << status;
  }
  mmsc->handler = [](const MmscRequest&) { return MmsReply(SendConf(0x84)); };
  EXPECT_EQ(Send(package, &id), 454);

  mmsc->handler = [](const MmscRequest&) { return MmscReply{}; };  // no data
  EXPECT_EQ(Send(package, &id), kMm1BadReplyType);
  mmsc->handler = [](const MmscRequest&) { return MmsReply(Bytes({0x8C, 0x84, 0x98, '1', 0, 0x84, 0xA3})); };
  EXPECT_EQ(Send(package, &id), kMm1BadReplyType);  // a retrieve-conf is not a send-conf
  mmsc->handler = [](const MmscRequest&) { return MmsReply(Bytes({0x8C, 0x81, 0xFF, 'a'})); };
  EXPECT_EQ(Send(package, &id), kMm1DecodeFailed);  // a value with no end
  mmsc->handler = [](const MmscRequest&) {
    MmscReply r;
    r.status = 0x44;
    return r;
  };
  EXPECT_EQ(Send(package, &id), 314);
}

TEST_F(Mm1Sending, PackageChecksAndSizeLimits) {
  mmsc->handler = [](const MmscRequest&) { return MmsReply(SendConf(0x80)); };
  std::string id;
  EXPECT_EQ(Send(Package("image/jpeg", 100), &id), kMm1NotMultipart);
  EXPECT_EQ(Send(Package("multipart/mixed", 100), &id), kMm1Ok);  // the textual form is accepted too
  EXPECT_EQ(Send(Bytes({0x84, 0x1F}), &id), kMm1FileError);       // content type cut short
  EXPECT_EQ(Send(Package(kMixed, 0), &id), kMm1FileError);
  EXPECT_EQ(Send(ByteBuffer(), &id), kMm1FileError);
  mms::SendRequest request;
  request.to = "+1";
  EXPECT_EQ(Mm1Send(engine.get(), Path("missing.pkg"), &request, &id), kMm1FileError);
  request.to.clear();
  EXPECT_EQ(Mm1Send(engine.get(), Path("out.pkg"), &request, &id), kMm1InvalidArgument);
  EXPECT_EQ(Mm1Send(nullptr, Path("out.pkg"), &request, &id), kMm1InvalidArgument);
  EXPECT_EQ(mmsc->requests.size(), 1u);  // only the textual multipart went out

  // Exactly sendLimit goes out, one more does not.
  SetLimits(3000, 60000, 1);
  EXPECT_EQ(Send(Package(kMixed, 3000), &id), kMm1Ok);
  EXPECT_EQ(Send(Package(kMixed, 3001), &id), kMm1TooLarge);
  EXPECT_EQ(mmsc->requests.size(), 2u);

  // The fixed cap holds whatever the profile allows.
  SetLimits(300000, 60000, 1);
  EXPECT_EQ(Send(Package(kMixed, kMm1BodyCap), &id), kMm1TooLarge);
  EXPECT_EQ(mmsc->requests.size(), 2u);
}

TEST_F(Mm1Sending, NoSessionGives302) {
  engine->portFactory = [] {
    auto p = std::make_unique<ScriptedPort>();
    return p;
  };
  std::string id;
  EXPECT_EQ(Send(Package(kMixed, 10), &id), kMm1NoSessionOpened);
}

TEST_F(Mm1Retrieval, ImmediateModeWritesThePackageAndSendsNotifyResp) {
  const ByteBuffer package = Package(std::string(mms::kMultipartRelated), 3000, "application/smil", "<smil>");
  mmsc->handler = [&](const MmscRequest& req) {
    return req.post ? MmscReply{} : MmsReply(RetrieveConf(package));
  };
  const std::string msisdn = "+4499";
  mms::RetrieveResult result;
  ASSERT_EQ(Mm1Retrieve(engine.get(), "http://mmsc.test/m/1", "TX-9", &msisdn, Path("in.pkg"), &result),
            kMm1Ok);
  const std::vector<std::uint8_t> got = ReadAll(dir + "/in.pkg");
  ASSERT_EQ(got.size(), static_cast<std::size_t>(package.length()));
  EXPECT_EQ(std::memcmp(got.data(), package.data(), got.size()), 0);
  ASSERT_TRUE(result.from);
  EXPECT_EQ(*result.from, "+4411");
  EXPECT_FALSE(result.to);

  ASSERT_EQ(mmsc->requests.size(), 2u);
  EXPECT_FALSE(mmsc->requests[0].post);
  EXPECT_EQ(mmsc->requests[0].uri, "http://mmsc.test/m/1");
  bool sawMsisdn = false;
  for (std::size_t i = 0; i + 1 < mmsc->requests[0].headerTexts.size(); ++i)
    if (mmsc->requests[0].headerTexts[i] == "X-MSISDN" && mmsc->requests[0].headerTexts[i + 1] == "+4499")
      sawMsisdn = true;
  EXPECT_TRUE(sawMsisdn);
  const MmscRequest& resp = mmsc->requests[1];
  EXPECT_EQ(resp.uri, "http://mmsc.test/mms");
  EXPECT_EQ(resp.headers.messageType, mms::kNotifyRespInd);
  EXPECT_EQ(resp.headers.status, mms::kStatusRetrieved);
  EXPECT_EQ(resp.headers.transactionId.view(), "TX-9");

  // No deferred notify-response in immediate mode.
  EXPECT_EQ(Mm1SendDeferredNotifyResp(engine.get(), "TX-9"), kMm1InvalidArgument);
  EXPECT_EQ(mmsc->requests.size(), 2u);
}

TEST_F(Mm1Retrieval, DeferredModeAnswersAtNotificationAndAcknowledgesAfter) {
  SetDword(kMm1ProfileKey, u"SendDelayedNotifyResp", 1);
  const ByteBuffer package = Package(kMixed, 50);
  mmsc->handler = [&](const MmscRequest& req) {
    return req.post ? MmscReply{} : MmsReply(RetrieveConf(package));
  };
  ASSERT_EQ(Mm1SendDeferredNotifyResp(engine.get(), "TX-5"), kMm1Ok);
  ASSERT_EQ(Mm1Retrieve(engine.get(), "http://mmsc.test/m/5", "TX-5", nullptr, Path("in.pkg"), nullptr),
            kMm1Ok);
  ASSERT_EQ(mmsc->requests.size(), 3u);
  EXPECT_EQ(mmsc->requests[0].headers.messageType, mms::kNotifyRespInd);
  EXPECT_EQ(mmsc->requests[0].headers.status, mms::kStatusDeferred);
  EXPECT_EQ(mmsc->requests[0].headers.transactionId.view(), "TX-5");
  EXPECT_FALSE(mmsc->requests[1].post);
  for (const auto& t : mmsc->requests[1].headerTexts) EXPECT_NE(t, "X-MSISDN");
  EXPECT_EQ(mmsc->requests[2].headers.messageType, mms::kAcknowledgeInd);
  EXPECT_EQ(mmsc->requests[2].headers.transactionId.view(), "TX-5");

  // The value 0 means immediate mode again.
  SetDword(kMm1ProfileKey, u"SendDelayedNotifyResp", 0);
  EXPECT_EQ(Mm1SendDeferredNotifyResp(engine.get(), "TX-6"), kMm1InvalidArgument);
}

TEST_F(Mm1Retrieval, FailuresLeaveNoOutputFile) {
  const std::string out = dir + "/in.pkg";
  auto expectFails = [&](int code, const char* what) {
    EXPECT_EQ(Mm1Retrieve(engine.get(), "http://mmsc.test/m/1", "T", nullptr, Path("in.pkg"), nullptr), code)
        << what;
    EXPECT_FALSE(std::ifstream(out).good()) << what;
  };
  mmsc->handler = [](const MmscRequest&) {
    MmscReply r;
    r.status = 0x44;
    return r;
  };
  expectFails(314, "not found");
  mmsc->handler = [](const MmscRequest&) {
    MmscReply r = MmsReply(RetrieveConf(Package(kMixed, 5)));
    r.contentType = "text/html";
    return r;
  };
  expectFails(kMm1BadContentType, "wrong type");
  mmsc->handler = [](const MmscRequest&) {
    MmscReply r = MmsReply(RetrieveConf(Package(kMixed, 5)));
    r.contentType.clear();
    return r;
  };
  expectFails(kMm1BadContentType, "no type");
  mmsc->handler = [](const MmscRequest&) { return MmscReply{}; };
  expectFails(kMm1BadReplyType, "no data");
  mmsc->handler = [](const MmscRequest&) { return MmsReply(SendConf(0x80)); };
  expectFails(kMm1BadReplyType, "send-conf");
  mmsc->handler = [](const MmscRequest&) { return MmsReply(Bytes({0x8C, 0x84, 0xFF})); };
  expectFails(kMm1DecodeFailed, "garbage");
  engine->portFactory = [] { return std::make_unique<ScriptedPort>(); };
  expectFails(kMm1NoSessionOpened, "no gateway");

  EXPECT_EQ(Mm1Retrieve(engine.get(), "", "T", nullptr, Path("in.pkg"), nullptr), kMm1InvalidArgument);
  EXPECT_EQ(Mm1Retrieve(engine.get(), "u", "", nullptr, Path("in.pkg"), nullptr), kMm1InvalidArgument);
  EXPECT_EQ(Mm1Retrieve(engine.get(), "u", "T", nullptr, u"", nullptr), kMm1InvalidArgument);
  EXPECT_EQ(Mm1Retrieve(engine.get(), "u", "T", nullptr, Path("no/such/dir/x"), nullptr), kMm1FileError);
}

TEST_F(Mm1Retrieval, PushDecodingClearsTheHeaders) {
  // m-notification-ind: type, transaction id, version, class personal, size, expiry, location.
  const ByteBuffer ind =
      Bytes({0x8C, 0x82, 0x98, 'N',  '1',  0,    0x8D, 0x90, 0x8A, 0x80, 0x8E, 0x02, 0x01, 0x00, 0x88, 0x05,
             0x81, 0x03, 0x01, 0x51, 0x80, 0x83, 'h',  't',  't',  'p',  ':',  '/',  '/',  'x',  0});
  engine->headers.subject = mms::StringValue{"stale", 106};
  EXPECT_EQ(Mm1ClassifyPush(engine.get(), ind.data(), static_cast<std::size_t>(ind.length())),
            mms::PushKind::Notification);
  EXPECT_FALSE(engine->headers.subject);
  mms::NotificationInfo info;
  ASSERT_TRUE(Mm1DecodeNotification(engine.get(), ind.data(), static_cast<std::size_t>(ind.length()), &info));
  EXPECT_EQ(info.transactionId, "N1");
  EXPECT_EQ(info.contentLocation, "http://x");
  EXPECT_EQ(info.messageSize, 256u);
  mms::DeliveryInfo delivery;
  EXPECT_FALSE(
      Mm1DecodeDeliveryReport(engine.get(), ind.data(), static_cast<std::size_t>(ind.length()), &delivery));
  EXPECT_FALSE(Mm1DecodeNotification(engine.get(), nullptr, 0, &info));
}
