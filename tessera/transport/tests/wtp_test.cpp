// WTP initiator: PDU codec and the transaction engine against a scripted gateway.

#include "transport/wtp.h"

#include <gtest/gtest.h>

#include "fake_gateway.h"
#include "platform/registry.h"
#include "platform_testing/device_root.h"
#include "transport/results.h"

using namespace transport;
using namespace transport_test;

namespace {

struct Fixture {
  platform_testing::ScopedDeviceRoot root;
  ScriptedPort* port = nullptr;
  std::unique_ptr<WtpTransaction> tx;
  Fixture() {
    auto p = std::make_unique<ScriptedPort>();
    port = p.get();
    tx = std::make_unique<WtpTransaction>(std::move(p), "10.0.0.1", 9201);
  }
};

ByteBuffer Get(std::size_t total) {
  ByteBuffer b = Bytes({0x40});
  while (b.length() < static_cast<std::int32_t>(total)) b.AppendOctet('a');
  return b;
}

ByteBuffer Post(std::size_t total) {
  ByteBuffer b = Bytes({0x60});
  b.AppendBuffer(Pattern(total - 1));
  return b;
}

std::vector<int> Head(const ByteBuffer& b, int n) {
  std::vector<int> v;
  for (int i = 0; i < n && i < b.length(); ++i) v.push_back(b.At(i));
  return v;
}

// Answers each group trailer of an invoke with the group Ack.
void AckGroups(const ByteBuffer& sent, ScriptedPort& port) {
  WtpPdu p = Decode(sent);
  if (p.type == WtpPduType::SegmentedInvoke && p.gtr) port.Queue(AckPdu(p.tid, p.psn));
}

void SetDword(const char16_t* name, DWORD value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1", 0,
                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  RegCloseKey(key);
}

void SetText(const char16_t* name, const std::u16string& text) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1", 0,
                           nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                static_cast<DWORD>((text.size() + 1) * 2));
  RegCloseKey(key);
}

}  // namespace

TEST(WtpPdu, DecodesHeadersTpisAndRejectsTruncation) {
  // Ack, CON, TID 0x8005 (direction bit set), TPIs: Info long form (3 octets), then PSN 7.
  ByteBuffer ack = Bytes({0x98, 0x80, 0x05, 0x8C, 0x03, 'x', 'y', 'z', 0x19, 0x07});
  WtpPdu p;
  ASSERT_TRUE(DecodeWtpPdu(ack.data(), static_cast<std::size_t>(ack.length()), &p));
  EXPECT_EQ(p.type, WtpPduType::Ack);
  EXPECT_EQ(p.tid, 5);
  EXPECT_TRUE(p.responder);
  EXPECT_TRUE(p.hasPsnTpi);
  EXPECT_EQ(p.psnTpi, 7);
  EXPECT_EQ(p.data.length(), 0);

  // TPI length running past the end; NAck count past the end; too short; concatenated; type 9.
  for (const ByteBuffer& bad :
       {Bytes({0x98, 0x00, 0x05, 0x0C, 0x09, 'x'}), Bytes({0x38, 0x00, 0x01, 0x03, 0x01}),
        Bytes({0x10, 0x00}), Bytes({0x00, 0x00, 0x01, 0x02}), Bytes({0x48, 0x00, 0x01}),
        Bytes({0x98, 0x00, 0x05, 0x99})}) {
    EXPECT_FALSE(DecodeWtpPdu(bad.data(), static_cast<std::size_t>(bad.length()), &p)) << bad.length();
  }

  // Round trip of a Segmented Result and a Negative Ack.
  WtpPdu seg;
  seg.type = WtpPduType::SegmentedResult;
  seg.tid = 0x1234;
  seg.psn = 9;
  seg.gtr = true;
  seg.rid = true;
  seg.data = Bytes({1, 2, 3});
  WtpPdu back = Decode(Encode(seg));
  EXPECT_EQ(Head(Encode(seg), 4), (std::vector<int>{0x35, 0x12, 0x34, 9}));
  EXPECT_EQ(back.type, WtpPduType::SegmentedResult);
  EXPECT_TRUE(back.gtr && back.rid && !back.ttr);
  EXPECT_EQ(back.data.view(), std::string_view("\x01\x02\x03", 3));
  WtpPdu nack = Decode(NackPdu(3, {2, 5}));
  EXPECT_EQ(nack.missing, (std::vector<std::uint8_t>{2, 5}));
}

TEST(WtpTransaction, SinglePacketInvokeAndResult) {
  Fixture f;
  ByteBuffer get = Get(300);
  f.port->onSend = [](const ByteBuffer& sent, ScriptedPort& port) {
    if (sent.At(0) == 0x0A) port.Queue(ResultPdu(1, Bytes({0x04, 0x20, 0x00, 'h', 'i'}), false, true));
  };
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ASSERT_EQ(f.port->sent.size(), 1u);
  // Invoke, TTR; TID 1; version 0, TIDnew 0, U/P 0, class 2.
  EXPECT_EQ(Head(f.port->sent[0], 4), (std::vector<int>{0x0A, 0x00, 0x01, 0x02}));
  EXPECT_EQ(f.port->sent[0].length(), 304);
  EXPECT_EQ(f.port->peers[0], "10.0.0.1:9201");

  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  EXPECT_EQ(result.length(), 5);
  // Final Ack: CON, type 3, TID 1, PSN TPI 0.
  ASSERT_EQ(f.port->sent.size(), 2u);
  EXPECT_EQ(Head(f.port->sent[1], 5), (std::vector<int>{0x98, 0x00, 0x01, 0x19, 0x00}));

  // The next method uses the next TID.
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  EXPECT_EQ(Head(f.port->sent.back(), 3), (std::vector<int>{0x0A, 0x00, 0x02}));
}

TEST(WtpTransaction, SegmentedPostsInGroupsOfFour) {
  {
    // 2000 octets: three packets, the third an empty Segmented Invoke with TTR; no wait.
    Fixture f;
    ByteBuffer post = Post(2000);
    ASSERT_EQ(f.tx->Invoke(post, nullptr), kOk);
    ASSERT_EQ(f.port->sent.size(), 3u);
    EXPECT_EQ(Head(f.port->sent[0], 4), (std::vector<int>{0x08, 0x00, 0x01, 0x02}));
    EXPECT_EQ(f.port->sent[0].length(), 1004);
    EXPECT_EQ(Head(f.port->sent[1], 4), (std::vector<int>{0x28, 0x00, 0x01, 0x01}));
    EXPECT_EQ(f.port->sent[1].length(), 1004);
    EXPECT_EQ(Head(f.port->sent[2], 4), (std::vector<int>{0x2A, 0x00, 0x01, 0x02}));
    EXPECT_EQ(f.port->sent[2].length(), 4);
    EXPECT_EQ(f.port->waits, 0);
  }
  {
    // 8500 octets, the last 8000 from a body stream: 0-3, Ack 3, 4-7, Ack 7, 8 with TTR.
    Fixture f;
    ByteBuffer whole = Post(8500);
    ByteBuffer head(whole.data(), 500);
    auto body = mms::ByteStream::OpenMemory(whole.data() + 500, 8000);
    std::vector<int> receivesAtSend;
    f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
      receivesAtSend.push_back(port.receives);
      AckGroups(sent, port);
    };
    ASSERT_EQ(f.tx->Invoke(head, body.get()), kOk);
    ASSERT_EQ(f.port->sent.size(), 9u);
    EXPECT_EQ(receivesAtSend, (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 1, 2}));
    EXPECT_EQ(f.port->sent[3].At(0), 0x2C);  // GTR
    EXPECT_EQ(f.port->sent[7].At(0), 0x2C);
    EXPECT_EQ(f.port->sent[8].At(0), 0x2A);  // TTR
    EXPECT_EQ(f.port->sent[8].length(), 504);
    ByteBuffer joined;
    for (auto& s : f.port->sent) joined.AppendBuffer(Decode(s).data);
    EXPECT_EQ(joined.view(), whole.view());
  }
}

TEST(WtpTransaction, IgnoresForeignAcksAndResendsOnNegativeAck) {
  Fixture f;
  ByteBuffer post = Post(5000);
  int nackStep = 0;
  f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::SegmentedInvoke && p.gtr && !p.rid) {
      port.Queue(AckPdu(p.tid, 2));      // names another PSN: ignored
      port.Queue(AckPdu(p.tid + 5, 3));  // another TID: ignored
      port.Queue(NackPdu(p.tid, {}));    // no PSNs: the whole group again
      nackStep = 1;
    } else if (p.gtr && p.rid && nackStep == 1) {
      port.Queue(AckPdu(p.tid, 3));
      nackStep = 2;
    }
  };
  ASSERT_EQ(f.tx->Invoke(post, nullptr), kOk);
  // 0-3, then 0-3 again with RID, then 4 and 5 (TTR).
  ASSERT_EQ(f.port->sent.size(), 10u);
  for (int i = 4; i < 8; ++i) {
    WtpPdu p = Decode(f.port->sent[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(p.rid) << i;
    EXPECT_EQ(p.type == WtpPduType::Invoke ? 0 : p.psn, i - 4);
  }
  EXPECT_FALSE(Decode(f.port->sent[8]).rid);
  EXPECT_EQ(Decode(f.port->sent[9]).psn, 5);
  EXPECT_TRUE(Decode(f.port->sent[9]).ttr);
}

TEST(WtpTransaction, NegativeAckNamingPacketsOutsideTheGroupIsSafe) {
  Fixture f;
  ByteBuffer post = Post(3500);
  bool once = false;
  f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::SegmentedInvoke && p.ttr && !once) {
      once = true;
      port.Queue(NackPdu(p.tid, {200, 1, 1, 9}));
      port.Queue(ResultPdu(p.tid, Bytes({0x04, 0x20, 0x00}), false, true));
    }
  };
  ASSERT_EQ(f.tx->Invoke(post, nullptr), kOk);
  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  // Only packet 1 was resent, once.
  int resent = 0;
  for (auto& s : f.port->sent) {
    WtpPdu p = Decode(s);
    if (p.rid) {
      ++resent;
      EXPECT_EQ(p.psn, 1);
    }
  }
  EXPECT_EQ(resent, 1);
}

TEST(WtpTransaction, ForeignResultWithRidIsAcknowledgedWithItsTid) {
  Fixture f;
  ByteBuffer get = Get(20);
  f.port->onSend = [](const ByteBuffer& sent, ScriptedPort& port) {
    if (sent.At(0) == 0x0A) {
      port.Queue(ResultPdu(0x77, Bytes({9}), false, true, /*rid=*/true));
      port.Queue(ResultPdu(0x78, Bytes({9}), false, true));  // no RID: ignored
      port.Queue(ResultPdu(1, Bytes({0x04, 0x20, 0x00}), false, true));
    }
  };
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  EXPECT_EQ(result.length(), 3);
  ASSERT_EQ(f.port->sent.size(), 3u);
  EXPECT_EQ(Head(f.port->sent[1], 3), (std::vector<int>{0x19, 0x00, 0x77}));  // Ack, RID, no TPI
  EXPECT_EQ(f.port->sent[1].length(), 3);
  EXPECT_EQ(Head(f.port->sent[2], 5), (std::vector<int>{0x98, 0x00, 0x01, 0x19, 0x00}));
}

TEST(WtpTransaction, SegmentedResultWithLostPacketIsRecovered) {
  Fixture f;
  ByteBuffer get = Get(40);
  ByteBuffer s0 = Pattern(1400, 1), s1 = Pattern(1400, 2), s2 = Pattern(1400, 3), s3 = Pattern(1400, 4),
             s4 = Pattern(10, 5);
  f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::Invoke) {
      port.Queue(ResultPdu(1, s0, false, false));
      port.Queue(SegResultPdu(1, 1, s1, false, false));
      port.Queue(SegResultPdu(1, 3, s3, true, false));  // packet 2 lost
    } else if (p.type == WtpPduType::NegativeAck) {
      EXPECT_EQ(p.missing, (std::vector<std::uint8_t>{2}));
      port.Queue(SegResultPdu(1, 0, s0, false, false, true));  // a duplicate fills nothing
      port.Queue(SegResultPdu(1, 2, s2, false, false, true));
    } else if (p.type == WtpPduType::Ack && p.psnTpi == 3) {
      port.Queue(SegResultPdu(1, 4, s4, false, true));
    }
  };
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  ByteBuffer expected;
  for (auto* s : {&s0, &s1, &s2, &s3, &s4}) expected.AppendBuffer(*s);
  EXPECT_EQ(result.view(), expected.view());
  // Invoke, NAck(2), Ack(3), Ack(4).
  ASSERT_EQ(f.port->sent.size(), 4u);
  EXPECT_EQ(Decode(f.port->sent[1]).type, WtpPduType::NegativeAck);
  EXPECT_EQ(Decode(f.port->sent[2]).psnTpi, 3);
  EXPECT_EQ(Decode(f.port->sent[3]).psnTpi, 4);
}

TEST(WtpTransaction, DuplicateOfAnotherPacketDoesNotCompleteAGroup) {
  Fixture f;
  ByteBuffer get = Get(40);
  ByteBuffer s0 = Pattern(100, 1), s1 = Pattern(100, 2), s2 = Pattern(100, 3);
  f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::Invoke) {
      port.Queue(ResultPdu(1, s0, false, false));
      port.Queue(SegResultPdu(1, 2, s2, false, true));  // 1 lost
    } else if (p.type == WtpPduType::NegativeAck) {
      port.Queue(ResultPdu(1, s0, false, false, true));  // duplicate of 0, no flags
      port.Queue(SegResultPdu(1, 1, s1, false, false, true));
    }
  };
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  ByteBuffer expected;
  for (auto* s : {&s0, &s1, &s2}) expected.AppendBuffer(*s);
  EXPECT_EQ(result.view(), expected.view());
}

TEST(WtpTransaction, PacketBeyondTheWindowIsNotStored) {
  // A gateway with groups of eight: packets 6 and 7 fall outside the six buffers. They are
  // never stored, the group can never be acknowledged, and the method ends with 101 rather
  // than deliver a result with holes.
  Fixture f;
  ByteBuffer get = Get(40);
  f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::Invoke) {
      port.Queue(ResultPdu(1, Pattern(50), false, false));
      for (int k = 1; k < 8; ++k) port.Queue(SegResultPdu(1, k, Pattern(50), k == 7, false));
    }
    if (p.type == WtpPduType::NegativeAck) {
      EXPECT_EQ(p.missing, (std::vector<std::uint8_t>{6, 7}));
      for (std::uint8_t q : p.missing) port.Queue(SegResultPdu(1, q, Pattern(50), q == 7, false, true));
    }
  };
  f.tx->SetMaxRetriesOverride(2);
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ByteBuffer result = Bytes({0xEE});
  EXPECT_EQ(f.tx->CollectResult(&result), kTimedOut);
  EXPECT_EQ(result.length(), 1);  // untouched
  for (auto& s : f.port->sent) EXPECT_NE(Decode(s).type, WtpPduType::Ack);
}

TEST(WtpTransaction, SilentGatewayEndsWith101AfterNineWaits) {
  Fixture f;
  ByteBuffer get = Get(30);
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  EXPECT_EQ(f.tx->maxRetries(), 8);
  ByteBuffer result;
  EXPECT_EQ(f.tx->CollectResult(&result), kTimedOut);
  EXPECT_EQ(f.port->waits, 9);
  ASSERT_EQ(f.port->sent.size(), 9u);  // the invoke and eight retransmissions with RID
  for (std::size_t i = 1; i < 9; ++i) EXPECT_EQ(f.port->sent[i].At(0), 0x0B);

  // The budget comes from "WTPMaxRetryTimes": a DWORD as its low octet, text digits, else 8.
  SetDword(u"WTPMaxRetryTimes", 0x102);
  EXPECT_EQ(ReadWtpMaxRetryTimes(), 2);
  SetText(u"WTPMaxRetryTimes", u"5");
  EXPECT_EQ(ReadWtpMaxRetryTimes(), 5);
  SetText(u"WTPMaxRetryTimes", u"five");
  EXPECT_EQ(ReadWtpMaxRetryTimes(), 8);
  SetDword(u"WTPMaxRetryTimes", 3);
  f.port->waits = 0;
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  EXPECT_EQ(f.tx->CollectResult(&result), kTimedOut);
  EXPECT_EQ(f.port->waits, 4);
}

TEST(WtpTransaction, AbortsFromTheGateway) {
  struct Case {
    int type, reason, expected;
  };
  for (Case c : {Case{0, 1, 211}, Case{1, 0xE0, 0xE6}, Case{0, 0, 210}}) {
    Fixture f;
    ByteBuffer get = Get(10);
    f.port->onSend = [&](const ByteBuffer& sent, ScriptedPort& port) {
      if (sent.At(0) == 0x0A) {
        port.Queue(AbortPdu(9, 0, 5));  // another transaction's: ignored
        port.Queue(AbortPdu(1, c.type, c.reason));
      }
    };
    ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
    ByteBuffer result;
    EXPECT_EQ(f.tx->CollectResult(&result), c.expected);
    EXPECT_EQ(f.port->sent.size(), 1u);  // nothing acknowledged
  }
}

TEST(WtpTransaction, CancelSendsOneAbort) {
  struct Hook {
    static int Cancel(int, void* value) { return --*static_cast<int*>(value) > 0 ? 1 : 0; }
  };
  {
    Fixture f;
    int polls = 0;  // cancels at once: nothing is sent
    f.tx->SetCancelHook({&Hook::Cancel, &polls});
    ByteBuffer get = Get(10);
    EXPECT_EQ(f.tx->Invoke(get, nullptr), kCancelled);
    EXPECT_TRUE(f.port->sent.empty());
  }
  {
    Fixture f;
    int polls = 3;  // after two packets of a segmented POST
    f.tx->SetCancelHook({&Hook::Cancel, &polls});
    ByteBuffer post = Post(3000);
    EXPECT_EQ(f.tx->Invoke(post, nullptr), kCancelled);
    ASSERT_EQ(f.port->sent.size(), 3u);
    EXPECT_EQ(Head(f.port->sent[2], 4), (std::vector<int>{0x20, 0x00, 0x01, 0x00}));
  }
  {
    Fixture f;
    ByteBuffer get = Get(10);
    ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
    int polls = 1;  // during the result phase
    f.tx->SetCancelHook({&Hook::Cancel, &polls});
    ByteBuffer result;
    EXPECT_EQ(f.tx->CollectResult(&result), kCancelled);
    EXPECT_EQ(Decode(f.port->sent.back()).type, WtpPduType::Abort);
  }
}

TEST(WtpTransaction, TidVerificationIsAnsweredWithTok) {
  Fixture f;
  ByteBuffer get = Get(10);
  f.port->onSend = [](const ByteBuffer& sent, ScriptedPort& port) {
    WtpPdu p = Decode(sent);
    if (p.type == WtpPduType::Invoke) port.Queue(AckPdu(1, -1, /*tve=*/true));
    if (p.type == WtpPduType::Ack && p.tveTok)
      port.Queue(ResultPdu(1, Bytes({0x04, 0x20, 0x00}), false, true));
  };
  ASSERT_EQ(f.tx->Invoke(get, nullptr), kOk);
  ByteBuffer result;
  ASSERT_EQ(f.tx->CollectResult(&result), kOk);
  ASSERT_EQ(f.port->sent.size(), 3u);
  EXPECT_EQ(Head(f.port->sent[1], 3), (std::vector<int>{0x1C, 0x00, 0x01}));  // Ack with Tok
  EXPECT_EQ(f.port->sent[1].length(), 3);
  EXPECT_EQ(Head(f.port->sent[2], 5), (std::vector<int>{0x98, 0x00, 0x01, 0x19, 0x00}));  // plain final Ack
}

TEST(WtpTransaction, FailuresOfTheSendSide) {
  {
    // Over 256 packets cannot be numbered: refused before anything is sent.
    Fixture f;
    ByteBuffer head = Bytes({0x60});
    std::vector<std::uint8_t> big(256000);
    auto body = mms::ByteStream::OpenMemory(big.data(), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(f.tx->Invoke(head, body.get()), kSendFailed);
    EXPECT_TRUE(f.port->sent.empty());
    auto fits = mms::ByteStream::OpenMemory(big.data(), 255998);
    f.port->onSend = AckGroups;
    EXPECT_EQ(f.tx->Invoke(head, fits.get()), kOk);
    EXPECT_EQ(f.port->sent.size(), 256u);
  }
  {
    Fixture f;
    f.port->failSends = true;
    ByteBuffer get = Get(10);
    EXPECT_EQ(f.tx->Invoke(get, nullptr), kSendFailed);
  }
}
