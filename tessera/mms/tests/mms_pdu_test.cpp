#include "mms/mms_pdu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Test vectors are laid out field by field; keep them as written.
// clang-format off
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const mms::ByteBuffer& b) { return Bytes(b.data(), b.data() + b.length()); }

// Builds test vectors from octets and texts; a text piece is copied without a terminator.
struct Vec {
  Bytes bytes;
  Vec& operator()(std::initializer_list<int> octets) {
    for (int o : octets) bytes.push_back(static_cast<std::uint8_t>(o));
    return *this;
  }
  Vec& operator()(std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
  }
};

// An m-notification-ind as an MMSC sends it, field by field.
Bytes NotificationPdu() {
  Vec v;
  v({0x8C, 0x82})                                     // X-Mms-Message-Type: notification-ind
      ({0x98})("T-42")({0x00})                        // X-Mms-Transaction-Id
      ({0x8D, 0x90})                                  // X-Mms-MMS-Version 1.0
      ({0x89, 0x10, 0x80})("+123/TYPE=PLMN")({0x00})  // From: Value-length 16, address-present
      ({0x96})("Hello")({0x00})                       // Subject (us-ascii)
      ({0x8A, 0x80})                                  // X-Mms-Message-Class: personal
      ({0x8E, 0x02, 0x0B, 0xB8})                      // X-Mms-Message-Size: 3000
      ({0x88, 0x05, 0x81, 0x03, 0x03, 0xF4, 0x80})    // X-Mms-Expiry: relative 259200 s
      ({0x83})("http://mmsc.example/m1")({0x00});     // X-Mms-Content-Location
  return v.bytes;
}

TEST(MmsAddress, ParsesTypesAndWritesSuffixes) {
  using T = mms::AddressType;
  EXPECT_EQ(mms::ParseAddress("+4912345"), (mms::AddressNode{"+4912345", T::Plmn}));
  EXPECT_EQ(mms::ParseAddress(""), (mms::AddressNode{"", T::Plmn}));
  EXPECT_EQ(mms::ParseAddress("a@b.example"), (mms::AddressNode{"a@b.example", T::Email}));
  EXPECT_EQ(mms::ParseAddress("10.0.0.1/TYPE=IPv4"), (mms::AddressNode{"10.0.0.1", T::Ipv4}));
  EXPECT_EQ(mms::ParseAddress("fe80::1/TYPE=IPv6"), (mms::AddressNode{"fe80::1", T::Ipv6}));
  EXPECT_EQ(mms::ParseAddress("123/TYPE=PLMN"), (mms::AddressNode{"123", T::Plmn}));
  EXPECT_EQ(mms::ParseAddress("x/TYPE=foo"), (mms::AddressNode{"x", T::Other}));
  EXPECT_EQ(mms::ParseAddress("shortcode1"), (mms::AddressNode{"shortcode1", T::Other}));

  EXPECT_EQ(mms::WriteAddress(mms::ParseAddress("a@b.example")), "a@b.example");
  EXPECT_EQ(mms::WriteAddress(mms::ParseAddress("10.0.0.1/TYPE=IPv4")), "10.0.0.1/TYPE=IPv4");
  EXPECT_EQ(mms::WriteAddress(mms::ParseAddress("abc123")), "abc123");
  EXPECT_EQ(mms::WriteAddress(mms::ParseAddress("+1")), "+1/TYPE=PLMN");

  const auto list = mms::ParseAddressList("1;;a@b;");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1], (mms::AddressNode{"", T::Plmn}));
  EXPECT_EQ(list[2].type, T::Email);
  EXPECT_TRUE(mms::ParseAddressList("").empty());
}

TEST(MmsEncode, SendRequestWithDefaults) {
  mms::SendRequest req;
  req.to = "+4915112345678";
  mms::MmsHeaders h;
  mms::ClearHeaders(h);
  ASSERT_TRUE(mms::LoadSendRequest(h, req));
  ASSERT_TRUE(mms::GenerateTransactionId(h));
  ASSERT_EQ(h.transactionId.size(), 20u);
  for (char c : h.transactionId.view()) EXPECT_TRUE(c >= '0' && c <= '9');
  h.contentType = mms::kMultipartMixed;
  const auto pdu = mms::EncodePdu(h);
  ASSERT_TRUE(pdu);
  Vec want;
  want({0x8C, 0x80})({0x98})(h.transactionId.view())({0x00})({0x8D, 0x90})
      ({0x89, 0x01, 0x81})                              // From: insert-address
      ({0x97})("+4915112345678/TYPE=PLMN")({0x00})      // To
      ({0x86, 0x81})({0x94, 0x81})({0x90, 0x81})({0x8A, 0x80})({0x8F, 0x81})
      ({0x84, 0xA3});                                   // Content-Type last
  EXPECT_EQ(Of(*pdu), want.bytes);
}

TEST(MmsEncode, SendRequestWithEveryField) {
  mms::SendRequest req;
  req.from = "+111";
  req.to = "+222;a@b.example";
  req.cc = "10.1.2.3/TYPE=IPv4";
  req.bcc = "x1";
  req.date = 0x12345678;
  req.expiry = 200;
  req.deliveryTime = 0x5F000000;
  req.deliveryTimeAbsolute = true;
  req.subject = mms::StringValue{"Gr\xC3\xBC\xC3\x9F" "e", 106};
  req.deliveryReport = true;
  req.readReply = true;
  req.priority = 0x82;
  req.messageClass = 0x81;
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::LoadSendRequest(h, req));
  h.transactionId = "tid-1";
  h.contentType = mms::kMultipartRelated;
  h.typeParam = "application/smil";
  h.startParam = "<smil>";
  const auto pdu = mms::EncodePdu(h);
  ASSERT_TRUE(pdu);
  Vec want;
  want({0x8C, 0x80})({0x98})("tid-1")({0x00})({0x8D, 0x90})
      ({0x85, 0x04, 0x12, 0x34, 0x56, 0x78})                 // Date
      ({0x89, 0x10, 0x80})("+111/TYPE=PLMN")({0x00})         // From: 14 + 2
      ({0x97})("+222/TYPE=PLMN")({0x00})({0x97})("a@b.example")({0x00})
      ({0x82})("10.1.2.3/TYPE=IPv4")({0x00})({0x81})("x1")({0x00})
      ({0x96, 0x09, 0xEA})("Gr\xC3\xBC\xC3\x9F" "e")({0x00})  // Subject, UTF-8
      ({0x86, 0x80})({0x94, 0x81})({0x90, 0x80})({0x8A, 0x81})
      ({0x88, 0x03, 0x81, 0x01, 0xC8})                       // Expiry: relative 200
      ({0x87, 0x06, 0x80, 0x04, 0x5F, 0x00, 0x00, 0x00})     // Delivery-Time: absolute
      ({0x8F, 0x82})
      ({0x84, 0x1B, 0xB3, 0x89})("application/smil")({0x00, 0x8A})("<smil>")({0x00});
  EXPECT_EQ(Of(*pdu), want.bytes);

  // And back: every field comes out as it went in, suffixes removed.
  mms::MmsHeaders d;
  std::optional<mms::ByteBuffer> body;
  ASSERT_TRUE(mms::DecodePdu(*pdu, d, &body));
  EXPECT_EQ(d.messageType, mms::kSendReq);
  EXPECT_EQ(d.transactionId.view(), "tid-1");
  EXPECT_EQ(d.date, 0x12345678u);
  EXPECT_EQ(d.from.view(), "+111");
  EXPECT_EQ(d.to.view(), "+222;a@b.example");
  EXPECT_EQ(d.cc.view(), "10.1.2.3");
  EXPECT_EQ(d.bcc.view(), "x1");
  ASSERT_TRUE(d.subject);
  EXPECT_EQ(*d.subject, *req.subject);
  EXPECT_TRUE(d.deliveryReport);
  EXPECT_TRUE(d.readReply);
  EXPECT_EQ(d.expiry, 200u);  // a one-octet Long-integer after the relative token
  EXPECT_FALSE(d.expiryAbsolute);
  EXPECT_EQ(d.deliveryTime, 0x5F000000u);
  EXPECT_TRUE(d.deliveryTimeAbsolute);
  EXPECT_EQ(d.priority, 0x82);
  EXPECT_EQ(d.messageClass, 0x81);
  EXPECT_EQ(d.senderVisibility, 0x81);
  EXPECT_EQ(d.contentType.view(), mms::kMultipartRelated);
  EXPECT_EQ(d.typeParam.view(), "application/smil");
  EXPECT_EQ(d.startParam.view(), "<smil>");
  ASSERT_TRUE(body);
  EXPECT_EQ(body->length(), 0);
}

TEST(MmsEncode, ShortPdusAndRefusals) {
  mms::MmsHeaders h;
  mms::ClearHeaders(h);
  EXPECT_TRUE(h.reportAllowed);
  h.messageType = mms::kNotifyRespInd;
  h.transactionId = "T";
  h.status = mms::kStatusDeferred;
  EXPECT_EQ(Of(*mms::EncodePdu(h)), (Bytes{0x8C, 0x83, 0x98, 'T', 0x00, 0x8D, 0x90, 0x95, 0x83, 0x91, 0x80}));
  h.status = mms::kStatusRetrieved;
  EXPECT_EQ(Of(*mms::EncodePdu(h)), (Bytes{0x8C, 0x83, 0x98, 'T', 0x00, 0x8D, 0x90, 0x95, 0x81, 0x91, 0x80}));
  h.status = 0;
  EXPECT_FALSE(mms::EncodePdu(h));  // never sent without a status

  h.messageType = mms::kAcknowledgeInd;
  EXPECT_EQ(Of(*mms::EncodePdu(h)), (Bytes{0x8C, 0x85, 0x98, 'T', 0x00, 0x8D, 0x90, 0x91, 0x80}));
  h.reportAllowed = false;
  EXPECT_EQ(Of(*mms::EncodePdu(h)).back(), 0x81);

  h.transactionId.Clear();
  EXPECT_FALSE(mms::EncodePdu(h));
  h.transactionId = "T";
  for (std::uint8_t type : {0, 0x81, 0x82, 0x84, 0x86, 0x87}) {
    h.messageType = type;
    EXPECT_FALSE(mms::EncodePdu(h)) << int(type);
  }
  h.messageType = mms::kSendReq;
  h.to = "1";
  EXPECT_FALSE(mms::EncodePdu(h));  // no content type

  mms::SendRequest none;
  EXPECT_FALSE(mms::LoadSendRequest(h, none));
  mms::SendRequest tooMany;
  for (int i = 0; i < 200; ++i) tooMany.to += "+4915112345678;";
  EXPECT_FALSE(mms::LoadSendRequest(h, tooMany));  // never sent to fewer recipients than asked
}

TEST(MmsDecode, NotificationFieldByField) {
  const Bytes pdu = NotificationPdu();
  mms::MmsHeaders h;
  std::optional<mms::ByteBuffer> body;
  ASSERT_TRUE(mms::DecodePdu(pdu.data(), pdu.size(), h, &body));
  EXPECT_FALSE(body);  // only send-req and retrieve-conf carry a body
  EXPECT_EQ(h.messageType, mms::kNotificationInd);
  EXPECT_EQ(h.transactionId.view(), "T-42");
  EXPECT_EQ(h.mmsVersion, 0x90);
  EXPECT_EQ(h.from.view(), "+123");
  EXPECT_EQ(h.subject->text, "Hello");
  EXPECT_EQ(h.messageClass, 0x80);
  EXPECT_EQ(h.messageSize, 3000u);
  EXPECT_EQ(h.expiry, 259200u);
  EXPECT_FALSE(h.expiryAbsolute);
  EXPECT_EQ(h.contentLocation.view(), "http://mmsc.example/m1");
  EXPECT_TRUE(h.Decoded(mms::MmsField::Expiry));
  EXPECT_FALSE(h.Decoded(mms::MmsField::Date));

  mms::NotificationInfo info;
  ASSERT_TRUE(mms::DecodeNotification(h, pdu.data(), pdu.size(), info));
  EXPECT_EQ(info.from, "+123");
  EXPECT_EQ(info.contentLocation, "http://mmsc.example/m1");
  EXPECT_EQ(info.transactionId, "T-42");
  EXPECT_EQ(info.messageSize, 3000u);
  mms::DeliveryInfo delivery;
  EXPECT_FALSE(mms::DecodeDeliveryReport(h, pdu.data(), pdu.size(), delivery));
}

TEST(MmsDecode, DeliveryReportAndRetrieveConf) {
  Vec report;
  report({0x8C, 0x86})({0x8D, 0x90})({0x8B})("msg-7")({0x00})
      ({0x97})("+1/TYPE=PLMN")({0x00})({0x97})("+2/TYPE=PLMN")({0x00})  // two To values
      ({0x85, 0x04, 0x40, 0x00, 0x00, 0x01})({0x95, 0x81});
  mms::MmsHeaders h;
  mms::DeliveryInfo info;
  ASSERT_TRUE(mms::DecodeDeliveryReport(h, report.bytes.data(), report.bytes.size(), info));
  EXPECT_EQ(info.messageId, "msg-7");
  EXPECT_EQ(info.to, "+1;+2");
  EXPECT_EQ(info.date, 0x40000001u);
  EXPECT_EQ(info.status, 0x81);

  Vec conf;
  conf({0x8C, 0x84})({0x98})("r1")({0x00})({0x8D, 0x90})({0x8B})("id")({0x00})
      ({0x89, 0x01, 0x81})                           // From: insert-address leaves it empty
      ({0x84, 0xA3})({0x02, 0x05, 0x07, 0x9E, 0x85, 'a', 0x00});
  mms::MmsHeaders r;
  std::optional<mms::ByteBuffer> body;
  ASSERT_TRUE(mms::DecodePdu(conf.bytes.data(), conf.bytes.size(), r, &body));
  EXPECT_TRUE(r.from.empty());
  EXPECT_TRUE(r.Decoded(mms::MmsField::From));
  EXPECT_EQ(r.contentType.view(), mms::kMultipartMixed);
  const mms::RetrieveResult result = mms::MakeRetrieveResult(r);
  EXPECT_EQ(result.messageId, "id");
  EXPECT_FALSE(result.from);  // empty texts are absent
  EXPECT_FALSE(result.to);
  ASSERT_TRUE(body);
  EXPECT_EQ(Of(*body), (Bytes{0x02, 0x05, 0x07, 0x9E, 0x85, 'a', 0x00}));
}

TEST(MmsDecode, UnknownFieldsArePassedOverByTheShapeOfTheirValue) {
  Vec v;
  v({0x8C, 0x84})                                     // m-retrieve-conf
      ({0x98})("T")({0x00})
      ({0xBC, 0x81})                                  // unknown code, Short-integer
      ({0xB5, 0x03, 0x82, 0x01, 0x02})                // unknown code, Value-length
      ({0xB7, 0x02, 0x01, 0x05})                      // unknown code, Long-integer
      ({0xB8})("app-id")({0x00})                      // unknown code, text
      ({0xB9, 0x22})("quoted")({0x00})                // unknown code, quoted text
      ({0xBA, 0x1F, 0x20})(std::string(32, 'z'))      // unknown code, long Value-length
      ("X-Mms-Unrecognised-Header-Field")({0x00})("Value")({0x00})  // application header
      ("Return-Path")({0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05})    // ... with a Value-length
      ({0x96})("after")({0x00})                       // fields after them still decode
      ({0x84, 0xA3, 0xAA});                           // Content-Type, then the body
  mms::MmsHeaders h;
  std::optional<mms::ByteBuffer> body;
  ASSERT_TRUE(mms::DecodePdu(v.bytes.data(), v.bytes.size(), h, &body));
  EXPECT_EQ(h.transactionId.view(), "T");
  ASSERT_TRUE(h.subject);
  EXPECT_EQ(h.subject->text, "after");
  EXPECT_EQ(h.contentType.view(), mms::kMultipartMixed);
  ASSERT_TRUE(body);
  EXPECT_EQ(Of(*body), Bytes{0xAA});

  // Only a value that cannot be delimited refuses the PDU.
  const std::vector<Bytes> refused = {
      {0x8C, 0x81, 0xBF, 'a', 'b'},                   // text with no end
      {0x8C, 0x81, 0xBF, 0x05, 0x01},                 // Value-length past the end
      {0x8C, 0x81, 'X', '-', 'a'},                    // application header name with no end
      {0x8C, 0x81, 'X', 0x00, 'v'},                   // ... its value with no end
      {0x8C, 0x81, 0x05, 0x00},                       // a control octet is no field name
      {0x8C, 0x81, 0x80},                             // a field code with no value
      {0x8C, 0x81, 0x00, 0x92, 0x80},                 // a 0 octet between fields
  };
  for (const Bytes& b : refused) EXPECT_FALSE(mms::DecodePdu(b.data(), b.size(), h)) << int(b[2]);
}

TEST(MmsDecode, NewerFieldsAUserNeeds) {
  Vec v;
  v({0x8C, 0x84})({0x8D, 0x92})
      ({0x99, 0xE0})                                  // X-Mms-Retrieve-Status: error-permanent-failure
      ({0x9A, 0x07, 0xEA})("Gone!")({0x00})           // X-Mms-Retrieve-Text, UTF-8
      ({0xA0, 0x11, 0x80})("+4670/TYPE=PLMN")({0x00})  // Previously-Sent-By: count 0, address
      ({0xA0, 0x0D, 0x81})("a@b.example")({0x00})           // Previously-Sent-By: count 1
      ({0xA1, 0x06, 0x80, 0x04, 0x53, 0x56, 0x8C, 0xFC})    // Previously-Sent-Date: count 0
      ({0x8A})("informational")({0x00})               // X-Mms-Message-Class as text
      ({0x84, 0xA3});
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::DecodePdu(v.bytes.data(), v.bytes.size(), h));
  EXPECT_EQ(h.retrieveStatus, 0xE0);
  ASSERT_TRUE(h.retrieveText);
  EXPECT_EQ(h.retrieveText->text, "Gone!");
  EXPECT_EQ(h.previouslySentBy.view(), "+4670;a@b.example");
  EXPECT_EQ(h.previouslySentDate, 0x53568CFCu);
  EXPECT_EQ(h.messageClass, 0x82);
  EXPECT_TRUE(h.Decoded(mms::MmsField::PreviouslySentDate));

  Vec c;
  c({0x8C, 0x82})({0x8A})("NewMessageClass")({0x00});  // a class that names no token
  ASSERT_TRUE(mms::DecodePdu(c.bytes.data(), c.bytes.size(), h = {}));
  EXPECT_EQ(h.messageClass, 0);
  EXPECT_EQ(h.messageClassText.view(), "NewMessageClass");

  Vec read;  // m-read-orig-ind: the recipient +2 read message "mid"
  read({0x8C, 0x88})({0x8D, 0x91})({0x85, 0x04, 0x52, 0xB4, 0x7F, 0x97})
      ({0x89, 0x0E, 0x80})("+2/TYPE=PLMN")({0x00})({0x8B})("mid")({0x00})
      ({0x97})("+1/TYPE=PLMN")({0x00})({0x9B, 0x81});
  EXPECT_EQ(mms::ClassifyPush(read.bytes.data(), read.bytes.size()), mms::PushKind::ReadReport);
  mms::ReadReportInfo info;
  ASSERT_TRUE(mms::DecodeReadReport(h, read.bytes.data(), read.bytes.size(), info));
  EXPECT_EQ(info.from, "+2");
  EXPECT_EQ(info.to, "+1");
  EXPECT_EQ(info.messageId, "mid");
  EXPECT_EQ(info.date, 0x52B47F97u);
  EXPECT_EQ(info.readStatus, mms::kReadStatusDeleted);
  mms::DeliveryInfo notADelivery;
  EXPECT_FALSE(mms::DecodeDeliveryReport(h, read.bytes.data(), read.bytes.size(), notADelivery));
}

TEST(MmsDecode, LeniencesRealCentresNeed) {
  Vec v;
  v({0x8C, 0x82})({0x98})("T")({0x00})
      ({0x96, 0x0D, 0xEA, 0x7F})("\xD0\x9F\xD0\xB8\xD1\x82\xD0\xB5\xD1\x80")({0x00})  // quoted Cyrillic
      ({0x93, 0x7F})("\xC3\xA9t\xC3\xA9")({0x00})         // quoted Text-string form
      ({0x83})("http://x/\xC3\xA9")({0x00})                // high octets belong to the text
      ({0x81, 0x00})                                       // empty Bcc
      ({0x00});                                            // stray 0 after the last header
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::DecodePdu(v.bytes.data(), v.bytes.size(), h));
  ASSERT_TRUE(h.subject);
  EXPECT_EQ(h.subject->text, "\xD0\x9F\xD0\xB8\xD1\x82\xD0\xB5\xD1\x80");
  ASSERT_TRUE(h.responseText);
  EXPECT_EQ(h.responseText->text, "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(h.contentLocation.view(), "http://x/\xC3\xA9");

  Vec latin;  // a charset the system does not write is kept as declared
  latin({0x8C, 0x82})({0x96, 0x07, 0x84})("Gr\xFC\xDF" "e")({0x00});
  ASSERT_TRUE(mms::DecodePdu(latin.bytes.data(), latin.bytes.size(), h = {}));
  EXPECT_EQ(h.subject->charset, 4);

  // Sending keeps its bytes: Report-Allowed goes out, and reads back by its own name.
  h = {};
  h.messageType = mms::kAcknowledgeInd;
  h.transactionId = "T1";
  h.reportAllowed = false;
  const auto ack = mms::EncodePdu(h);
  ASSERT_TRUE(ack);
  mms::MmsHeaders back;
  ASSERT_TRUE(mms::DecodePdu(*ack, back));
  EXPECT_TRUE(back.Decoded(mms::MmsField::ReportAllowed));
  EXPECT_FALSE(back.reportAllowed);
}

TEST(MmsDecode, ACutPduFails) {
  Vec v;
  v({0x8C, 0x84})({0x98})("0123456789")({0x00})({0x8D, 0x90})({0x84, 0xA3});
  const Bytes& pdu = v.bytes;
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::DecodePdu(pdu.data(), pdu.size(), h));
  EXPECT_FALSE(mms::DecodePdu(pdu.data(), 0, h)) << "an empty file is no PDU";
  EXPECT_FALSE(mms::DecodePdu(nullptr, 0, h));
  for (std::size_t n = 1; n < pdu.size(); ++n)
    EXPECT_FALSE(mms::DecodePdu(pdu.data(), n, h)) << "a retrieve-conf cut to " << n << " octets";
  // A PDU without a body may end at any field boundary.
  const Bytes conf = {0x8C, 0x81, 0x92, 0x80};
  EXPECT_TRUE(mms::DecodePdu(conf.data(), conf.size(), h));
  // A short relative expiry; an unknown token reads nothing more but stays inside its value.
  const Bytes times = {0x8C, 0x82, 0x88, 0x02, 0x81, 0x85, 0x87, 0x03, 0x82, 0x01, 0x02, 0x8A, 0x83};
  ASSERT_TRUE(mms::DecodePdu(times.data(), times.size(), h = {}));
  EXPECT_EQ(h.expiry, 5u);
  EXPECT_EQ(h.deliveryTime, 0u);
  EXPECT_EQ(h.messageClass, 0x83);
}

TEST(MmsDecode, TruncatedAndOverlongValuesFail) {
  const Bytes good = NotificationPdu();
  // Every cut inside a value must fail or stop cleanly; under the sanitizers this also proves
  // no read goes past the data.
  int failures = 0;
  for (std::size_t n = 0; n < good.size(); ++n) {
    mms::MmsHeaders h;
    if (!mms::DecodePdu(good.data(), n, h)) ++failures;
  }
  EXPECT_GT(failures, 10);

  const std::vector<Bytes> bad = {
      {0x8C, 0x82, 0x88, 0x1F, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01},  // uintvar of 6 octets
      {0x8C, 0x82, 0x88, 0x10, 0x80, 0x04},                          // Value-length past the end
      {0x8C, 0x82, 0x88, 0x03, 0x80, 0x04, 0x01},                    // Long-integer past its value
      {0x8C, 0x82, 0x89, 0x1F, 0x90, 0x80, 0x80, 0x80, 0x00, 0x80},  // From length past the end
      {0x8C, 0x82, 0x96, 0x1E, 0xEA, 'a'},                           // Subject past the end
      {0x8C, 0x82, 0x85, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},           // Date wider than 32 bits
      {0x8C, 0x82, 0x8E, 0x1F, 0x01},                                // Message-Size length 31
      {0x8C, 0x82, 0x84, 0x1F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00},  // Content-Type past the end
      {0x8C},                                                        // message type cut
  };
  for (const Bytes& b : bad) {
    mms::MmsHeaders h;
    EXPECT_FALSE(mms::DecodePdu(b.data(), b.size(), h)) << "case starting " << int(b[2 % b.size()]);
  }
}

TEST(MmsDecode, LongTextsAreBoundedToTheirFields) {
  Vec v;
  v({0x8C, 0x84})({0x98})(std::string(500, '7'))({0x00});
  for (int i = 0; i < 200; ++i) v({0x97})("+49151123456" + std::to_string(i) + "/TYPE=PLMN")({0x00});
  v({0x96, 0x1F, 0x82, 0x2E, 0xEA})(std::string(300, 's'))({0x00});
  v({0x84})(std::string(300, 'c'))({0x00});
  mms::MmsHeaders h;
  ASSERT_TRUE(mms::DecodePdu(v.bytes.data(), v.bytes.size(), h));
  EXPECT_EQ(h.transactionId.view(), std::string(127, '7'));
  EXPECT_LE(h.to.size(), 2047u);
  // Only whole addresses are kept, in the order received.
  const auto kept = mms::ParseAddressList(h.to.view());
  ASSERT_GT(kept.size(), 100u);
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].text, "+49151123456" + std::to_string(i));
  EXPECT_EQ(h.subject->text.size(), 300u);  // subjects are heap values, kept whole
  EXPECT_EQ(h.contentType.size(), 127u);
}

TEST(MmsPush, Classification) {
  const Bytes bare = NotificationPdu();
  EXPECT_EQ(mms::ClassifyPush(bare.data(), bare.size()), mms::PushKind::Notification);
  Bytes push = {0x01, 0x06, 0x03, 0xBE, 0xAF, 0x84};  // TID, Push, headers: type, application id
  push.insert(push.end(), bare.begin(), bare.end());
  EXPECT_EQ(mms::ClassifyPush(push.data(), push.size()), mms::PushKind::Notification);
  mms::MmsHeaders h;
  mms::NotificationInfo info;
  EXPECT_TRUE(mms::DecodeNotification(h, push.data(), push.size(), info));
  EXPECT_EQ(info.transactionId, "T-42");

  Vec textType;  // the content type as text, with a parameter in the Value-length form
  textType({0x07, 0x06, 0x23, 0x22})(mms::kMmsMessageType)({0x00, 0x81, 0xEA});
  textType.bytes.push_back(0x8C);
  textType.bytes.push_back(0x86);
  EXPECT_EQ(mms::ClassifyPush(textType.bytes.data(), textType.bytes.size()), mms::PushKind::DeliveryReport);

  const Bytes otherType = {0x01, 0x06, 0x01, 0xAE, 0x8C, 0x82};
  EXPECT_EQ(mms::ClassifyPush(otherType.data(), otherType.size()), mms::PushKind::Unknown);
  const Bytes headersPast = {0x01, 0x06, 0x40, 0xBE, 0x8C, 0x82};
  EXPECT_EQ(mms::ClassifyPush(headersPast.data(), headersPast.size()), mms::PushKind::Unknown);
  const Bytes sendConf = {0x8C, 0x81};
  EXPECT_EQ(mms::ClassifyPush(sendConf.data(), sendConf.size()), mms::PushKind::Unknown);
  const Bytes notMms = {0x8B, 0x82};
  EXPECT_EQ(mms::ClassifyPush(notMms.data(), notMms.size()), mms::PushKind::Unknown);
  const Bytes pushOnly = {0x01, 0x06, 0x01, 0xBE, 0x8C};
  EXPECT_EQ(mms::ClassifyPush(pushOnly.data(), pushOnly.size()), mms::PushKind::Unknown);
  EXPECT_EQ(mms::ClassifyPush(bare.data(), 1), mms::PushKind::Error);
  EXPECT_EQ(mms::ClassifyPush(nullptr, 0), mms::PushKind::Error);
}

}  // namespace
// clang-format on
