// Wireshark's MMSE dissector must read every PDU that mmstool writes without a malformed
// mark and with the values our own decoder reads back.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform_testing/device_root.h"
#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using mms_test::Quote;
using mms_test::Shell;

void Put16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x >> 8));
  v.push_back(static_cast<std::uint8_t>(x));
}
void Put32le(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

// One raw-IPv4 pcap record: UDP to the WSP connectionless push port carrying a Push PDU whose
// content type is application/vnd.wap.mms-message (0xBE) and whose body is the MMS PDU.
std::vector<std::uint8_t> PushCapture(const std::vector<std::uint8_t>& pdu) {
  std::vector<std::uint8_t> wsp = {0x01, 0x06, 0x01, 0xBE};
  wsp.insert(wsp.end(), pdu.begin(), pdu.end());
  std::vector<std::uint8_t> ip = {0x45, 0x00};
  Put16(ip, static_cast<unsigned>(20 + 8 + wsp.size()));
  ip.insert(ip.end(), {0x00, 0x01, 0x00, 0x00, 64, 17, 0x00, 0x00, 127, 0, 0, 1, 127, 0, 0, 1});
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 20; i += 2) sum += static_cast<std::uint32_t>(ip[i] << 8 | ip[i + 1]);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<std::uint8_t>(~sum >> 8);
  ip[11] = static_cast<std::uint8_t>(~sum);
  Put16(ip, 2948);
  Put16(ip, 2948);
  Put16(ip, static_cast<unsigned>(8 + wsp.size()));
  Put16(ip, 0);  // no UDP checksum
  ip.insert(ip.end(), wsp.begin(), wsp.end());

  std::vector<std::uint8_t> file;
  Put32le(file, 0xA1B2C3D4);
  file.insert(file.end(), {2, 0, 4, 0});
  Put32le(file, 0);
  Put32le(file, 0);
  Put32le(file, 65535);
  Put32le(file, 101);  // LINKTYPE_RAW
  Put32le(file, 0);
  Put32le(file, 0);
  Put32le(file, static_cast<std::uint32_t>(ip.size()));
  Put32le(file, static_cast<std::uint32_t>(ip.size()));
  file.insert(file.end(), ip.begin(), ip.end());
  return file;
}

class Tshark : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!mms_test::HaveTool("tshark"))
      GTEST_SKIP() << "tshark is not installed; MMSE conformance not checked";
    dir_ = root_.path();
  }

  // Encodes with mmstool, wraps the PDU in a capture and returns tshark's values of `fields`
  // (several occurrences joined with ';'), after checking that nothing was marked malformed.
  std::vector<std::string> Dissect(const std::string& encodeArgs, const std::vector<std::string>& fields,
                                   std::string* decoded) {
    const fs::path pdu = dir_ / "pdu.bin";
    const fs::path cap = dir_ / "pdu.pcap";
    EXPECT_EQ(Shell(Quote(mms_test::MmsTool()) + " encode " + encodeArgs + " " + Quote(pdu.string())).status,
              0);
    const auto bytes = mms_test::ReadBytes(pdu);
    EXPECT_FALSE(bytes.empty());
    mms_test::WriteBytes(cap, PushCapture(bytes));
    *decoded = Shell(Quote(mms_test::MmsTool()) + " decode " + Quote(pdu.string())).out;

    const std::string tshark = "TZ=UTC tshark -n -r " + Quote(cap.string()) + " ";
    const Run verbose = Shell(tshark + "-V 2>/dev/null");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_NE(verbose.out.find("MMS Message Encapsulation"), std::string::npos) << verbose.out;
    EXPECT_EQ(verbose.out.find("Malformed"), std::string::npos) << verbose.out;
    EXPECT_EQ(verbose.out.find("Expert Info (Error"), std::string::npos) << verbose.out;

    std::string cmd = tshark + "-T fields -E separator=/t -E occurrence=a -E aggregator=';'";
    for (const auto& f : fields) cmd += " -e " + f;
    const Run r = Shell(cmd + " 2>/dev/null");
    std::vector<std::string> values;
    std::string line = r.out.substr(0, r.out.find('\n'));
    std::istringstream in(line);
    std::string v;
    while (std::getline(in, v, '\t')) values.push_back(v);
    values.resize(fields.size());
    return values;
  }

  using Run = mms_test::Run;
  platform_testing::ScopedDeviceRoot root_;
  fs::path dir_;
};

TEST_F(Tshark, SendRequestWithEveryHeaderAndABody) {
  // The body is a real package: a text part and the presentation.
  mms_test::WriteBytes(dir_ / "a.txt", {'h', 'e', 'l', 'l', 'o'});
  mms_test::WriteBytes(dir_ / "mms.smil", {'<', 's', 'm', 'i', 'l', '/', '>'});
  ASSERT_EQ(Shell(Quote(mms_test::MmsTool()) + " package build " + Quote((dir_ / "p.pkg").string()) +
                  " --root " + Quote((dir_ / "mms.smil").string()) + " " + Quote((dir_ / "a.txt").string()))
                .status,
            0);
  std::string decoded;
  const auto v = Dissect(
      "send-req --to '+4915112345678;a@b.example' --cc 10.0.0.1/TYPE=IPv4 --bcc '+9' --from +111 "
      "--subject 'Holiday pictures' --date 1700000000 --expiry 200 --delivery-report --read-reply "
      "--priority 0x82 --class 0x81 --transaction-id T123 --body " +
          Quote((dir_ / "p.pkg").string()),
      {"mmse.message_type", "mmse.transaction_id", "mmse.mms_version", "mmse.date", "mmse.from", "mmse.to",
       "mmse.cc", "mmse.bcc", "mmse.subject", "mmse.delivery_report", "mmse.read_report",
       "mmse.sender_visibility", "mmse.message_class.id", "mmse.expiry.rel", "mmse.priority"},
      &decoded);
  const auto ours = mms_test::Fields(decoded);
  EXPECT_EQ(v[0], "0x80");
  EXPECT_EQ(ours.at("message-type"), "0x80");
  EXPECT_EQ(v[1], ours.at("transaction-id"));
  EXPECT_EQ(v[2], "1.0");
  EXPECT_EQ(ours.at("mms-version"), "0x90");
  EXPECT_EQ(v[3], "Nov 14, 2023 22:13:20.000000000 UTC");
  EXPECT_EQ(ours.at("date"), "1700000000");
  EXPECT_EQ(v[4], "+111/TYPE=PLMN");
  EXPECT_EQ(ours.at("from"), "+111");
  EXPECT_EQ(v[5], "+4915112345678/TYPE=PLMN;a@b.example");
  EXPECT_EQ(ours.at("to"), "+4915112345678;a@b.example");
  EXPECT_EQ(v[6], "10.0.0.1/TYPE=IPv4");
  EXPECT_EQ(v[7], "+9/TYPE=PLMN");
  EXPECT_EQ(v[8], "Holiday pictures");
  EXPECT_EQ(ours.at("subject"), "Holiday pictures (charset 3)");
  EXPECT_EQ(v[9], "0x80");
  EXPECT_EQ(ours.at("delivery-report"), "1");
  EXPECT_EQ(v[10], "0x80");
  EXPECT_EQ(ours.at("read-reply"), "1");
  EXPECT_EQ(v[11], ours.at("sender-visibility"));
  EXPECT_EQ(v[12], ours.at("message-class"));
  EXPECT_EQ(v[13].substr(0, 4), "200.");
  EXPECT_EQ(ours.at("expiry"), "200 (relative)");
  EXPECT_EQ(v[14], ours.at("priority"));
  EXPECT_EQ(ours.at("content-type"), "application/vnd.wap.multipart.related");
  EXPECT_EQ(ours.at("start"), "<smil>");
}

TEST_F(Tshark, SendRequestWithDefaultsAndAbsoluteExpiry) {
  mms_test::WriteBytes(dir_ / "i.gif", {'G', 'I', 'F', '8', '9', 'a'});
  ASSERT_EQ(Shell(Quote(mms_test::MmsTool()) + " package build " + Quote((dir_ / "q.pkg").string()) + " " +
                  Quote((dir_ / "i.gif").string()))
                .status,
            0);
  std::string decoded;
  const auto v = Dissect(
      "send-req --to user@example.com --subject 'Gr\xC3\xBC\xC3\x9F"
      "e' --expiry 1800000000 "
      "--absolute --body " +
          Quote((dir_ / "q.pkg").string()),
      {"mmse.message_type", "mmse.transaction_id", "mmse.to", "mmse.expiry.abs", "mmse.delivery_report",
       "mmse.priority", "mmse.message_class.id"},
      &decoded);
  const auto ours = mms_test::Fields(decoded);
  EXPECT_EQ(v[0], "0x80");
  EXPECT_EQ(v[1].size(), 20u);  // generated transaction id
  EXPECT_EQ(v[1], ours.at("transaction-id"));
  EXPECT_EQ(v[2], "user@example.com");
  EXPECT_EQ(v[3], "Jan 15, 2027 08:00:00.000000000 UTC");
  EXPECT_EQ(ours.at("expiry"), "1800000000 (absolute)");
  EXPECT_EQ(v[4], "0x81");
  EXPECT_EQ(v[5], "0x81");
  EXPECT_EQ(v[6], "0x80");
  EXPECT_EQ(ours.at("subject"), "Gr\xC3\xBC\xC3\x9F" "e (charset 106)");
  EXPECT_EQ(ours.at("content-type"), "application/vnd.wap.multipart.mixed");
}

TEST_F(Tshark, NotifyResponseAndAcknowledge) {
  std::string decoded;
  auto v = Dissect(
      "notifyresp-ind --transaction-id TX-9 --status 0x83",
      {"mmse.message_type", "mmse.transaction_id", "mmse.mms_version", "mmse.status", "mmse.report_allowed"},
      &decoded);
  auto ours = mms_test::Fields(decoded);
  EXPECT_EQ(v[0], "0x83");
  EXPECT_EQ(v[1], "TX-9");
  EXPECT_EQ(v[2], "1.0");
  EXPECT_EQ(v[3], "0x83");
  EXPECT_EQ(ours.at("status"), "0x83");
  EXPECT_EQ(v[4], "0x80");
  EXPECT_EQ(ours.at("report-allowed"), "1");

  v = Dissect("acknowledge-ind --transaction-id TX-10",
              {"mmse.message_type", "mmse.transaction_id", "mmse.mms_version", "mmse.report_allowed"},
              &decoded);
  ours = mms_test::Fields(decoded);
  EXPECT_EQ(v[0], "0x85");
  EXPECT_EQ(v[1], "TX-10");
  EXPECT_EQ(ours.at("transaction-id"), "TX-10");
  EXPECT_EQ(v[2], "1.0");
  EXPECT_EQ(v[3], "0x80");
}

}  // namespace
