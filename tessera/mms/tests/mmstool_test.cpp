// mmstool as a user runs it: output formats, exit codes and files.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/device_root.h"
#include "tool_runner.h"

// Test vectors are laid out field by field; keep them as written.
// clang-format off
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using mms_test::Quote;
using mms_test::Shell;

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

class MmsTool : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = root_.path(); }

  mms_test::Run Tool(const std::string& args) {
    return Shell(Quote(mms_test::MmsTool()) + " " + args + " 2>" + Quote((dir_ / "stderr.txt").string()));
  }
  std::string Stderr() const {
    const auto b = mms_test::ReadBytes(dir_ / "stderr.txt");
    return std::string(b.begin(), b.end());
  }
  std::string File(const Bytes& data, const std::string& name = "in.bin") const {
    mms_test::WriteBytes(dir_ / name, data);
    return Quote((dir_ / name).string());
  }

  platform_testing::ScopedDeviceRoot root_;
  fs::path dir_;
};

Bytes Notification() {
  Vec v;
  v({0x8C, 0x82})({0x98})("T-42")({0x00})({0x8D, 0x90})
      ({0x89, 0x10, 0x80})("+123/TYPE=PLMN")({0x00})
      ({0x96, 0x07, 0xEA})("Caf\xC3\xA9")({0x00})       // Subject, UTF-8
      ({0x8A, 0x80})({0x8E, 0x02, 0x0B, 0xB8})
      ({0x88, 0x06, 0x80, 0x04, 0x65, 0x53, 0xF1, 0x00})  // Expiry: absolute date
      ({0x83})("http://mmsc.example/m1")({0x00});
  return v.bytes;
}

TEST_F(MmsTool, DecodesANotificationBareAndInAPushPdu) {
  const std::string expected =
      "message-type: 0x82\n"
      "transaction-id: T-42\n"
      "mms-version: 0x90\n"
      "from: +123\n"
      "subject: Caf\xC3\xA9 (charset 106)\n"
      "content-location: http://mmsc.example/m1\n"
      "message-size: 3000\n"
      "expiry: 1700000000 (absolute)\n"
      "message-class: 0x80\n";
  auto r = Tool("decode " + File(Notification()));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);

  Bytes push = {0x2A, 0x06, 0x03, 0xBE, 0xAF, 0x84};
  const Bytes n = Notification();
  push.insert(push.end(), n.begin(), n.end());
  r = Tool("decode " + File(push));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(Tool("classify " + File(push)).out, "notification\n");
}

TEST_F(MmsTool, DecodesConfirmationsWithBodiesAndReports) {
  Vec conf;
  conf({0x8C, 0x81})({0x98})("abc")({0x00})({0x8D, 0x90})({0x92, 0x80})
      ({0x93, 0x04, 0xEA, 'O', 'K', 0x00})({0x8B})("mid-1")({0x00});
  auto r = Tool("decode " + File(conf.bytes));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "message-type: 0x81\ntransaction-id: abc\nmms-version: 0x90\nmessage-id: mid-1\n"
            "response-status: 0x80\nresponse-text: OK\n");

  Vec retrieve;
  retrieve({0x8C, 0x84})({0x8D, 0x90})({0x85, 0x01, 0x07})({0x97})("+1/TYPE=PLMN")({0x00})
      ({0x82})("a@b")({0x00})({0x84, 0xA3})({0x01, 0x01, 0x02, 0x83, 'x', 'y'});
  r = Tool("decode " + File(retrieve.bytes));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "message-type: 0x84\nmms-version: 0x90\ndate: 7\nto: +1\ncc: a@b\n"
            "content-type: application/vnd.wap.multipart.mixed\nbody-length: 6\n");

  Vec report;
  report({0x8C, 0x86})({0x8D, 0x90})({0x8B})("m")({0x00})({0x97})("+1/TYPE=PLMN")({0x00})({0x95, 0x81});
  EXPECT_EQ(Tool("classify " + File(report.bytes)).out, "delivery-report\n");
}

TEST_F(MmsTool, FailuresExitNonZeroWithAMessage) {
  auto r = Tool("decode " + File({0x8C, 0x82, 0xBF, 'a', 'b'}));  // a value with no end
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(Stderr().find("not a valid MMS PDU"), std::string::npos);
  r = Tool("decode " + File({0x01, 0x06, 0x01, 0xAE, 0x8C, 0x82}));  // a push of another type
  EXPECT_EQ(r.status, 1);
  r = Tool("decode " + Quote((dir_ / "missing").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(Stderr().find("cannot read"), std::string::npos);
  EXPECT_NE(Tool("encode send-req " + Quote((dir_ / "o").string())).status, 0);  // no --to
  EXPECT_NE(Tool("encode notifyresp-ind --transaction-id T --status 0x90 o").status, 0);
  EXPECT_NE(Tool("encode send-req --to 1 --priority 0x83 o").status, 0);
  EXPECT_NE(Tool("frobnicate").status, 0);
  EXPECT_NE(Tool("package list " + File({0x84, 0xA3, 0x05})).status, 0);

  EXPECT_EQ(Tool("classify " + File({0x8C, 0x81})).out, "unknown\n");
}

TEST_F(MmsTool, EncodesTheShortPdusExactly) {
  const fs::path out = dir_ / "out.pdu";
  ASSERT_EQ(Tool("encode notifyresp-ind --transaction-id T1 --status 0x83 " + Quote(out.string())).status, 0);
  EXPECT_EQ(mms_test::ReadBytes(out), (Bytes{0x8C, 0x83, 0x98, 'T', '1', 0x00, 0x8D, 0x90, 0x95, 0x83, 0x91, 0x80}));
  ASSERT_EQ(Tool("encode acknowledge-ind --transaction-id T1 " + Quote(out.string())).status, 0);
  EXPECT_EQ(mms_test::ReadBytes(out), (Bytes{0x8C, 0x85, 0x98, 'T', '1', 0x00, 0x8D, 0x90, 0x91, 0x80}));
  ASSERT_EQ(Tool("encode send-req --to 12 --transaction-id X " + Quote(out.string())).status, 0);
  Vec want;
  want({0x8C, 0x80, 0x98, 'X', 0x00, 0x8D, 0x90, 0x89, 0x01, 0x81})({0x97})("12/TYPE=PLMN")({0x00})
      ({0x86, 0x81, 0x94, 0x81, 0x90, 0x81, 0x8A, 0x80, 0x8F, 0x81, 0x84, 0xA3});
  EXPECT_EQ(mms_test::ReadBytes(out), want.bytes);
}

TEST_F(MmsTool, BuildsListsAndExtractsPackages) {
  mms_test::WriteBytes(dir_ / "photo.jpg", {0xFF, 0xD8, 0xFF, 0xD9});
  mms_test::WriteBytes(dir_ / "note.txt", {'h', 'i'});
  mms_test::WriteBytes(dir_ / "show.smil", {'<', 's', 'm', 'i', 'l', '/', '>'});
  const std::string pkg = Quote((dir_ / "m.pkg").string());
  ASSERT_EQ(Tool("package build " + pkg + " --root " + Quote((dir_ / "show.smil").string()) + " " +
                 Quote((dir_ / "photo.jpg").string()) + " " +
                 Quote((dir_ / "note.txt").string() + ":text/plain;charset=utf_8:<n:1>"))
                .status,
            0)
      << Stderr();
  auto r = Tool("package list " + pkg);
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(r.out,
            "content-type: application/vnd.wap.multipart.related\n"
            "0\timage/jpeg\t-\tphoto.jpg\t56\t4\t0\n"
            "1\ttext/plain;charset=utf_8\t<n:1>\tnote.txt\t94\t2\t0\n"
            "2\tapplication/smil;charset=us-ascii\t<smil>\tshow.smil\t150\t7\t0\troot\n");
  r = Tool("package extract " + pkg + " " + Quote((dir_ / "out").string()));
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(r.out, "mms.smil\tapplication/smil;charset=us-ascii\nphoto.jpg\timage/jpeg\nnote.txt\ttext/plain;charset=utf_8\n");
  EXPECT_EQ(mms_test::ReadBytes(dir_ / "out" / "mms.smil"), mms_test::ReadBytes(dir_ / "show.smil"));
  EXPECT_EQ(mms_test::ReadBytes(dir_ / "out" / "photo.jpg"), mms_test::ReadBytes(dir_ / "photo.jpg"));
  EXPECT_EQ(mms_test::ReadBytes(dir_ / "out" / "note.txt"), mms_test::ReadBytes(dir_ / "note.txt"));

  EXPECT_NE(Tool("package build " + Quote((dir_ / "n.pkg").string()) + " " + Quote((dir_ / "absent.gif").string()))
                .status,
            0);
  EXPECT_NE(Stderr().find("absent.gif"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "n.pkg")) << "a failed build leaves no package behind";
}

TEST_F(MmsTool, CharsetOptionsSayWhatTheyWrite) {
  const std::string out = Quote((dir_ / "s.pdu").string());
  auto r = Tool("encode send-req --to 1 --subject 'Gr\xC3\xBC\xC3\x9F" "e' --subject-charset 3 " + out);
  EXPECT_EQ(r.status, 1) << "us-ascii cannot carry the text";
  EXPECT_NE(Stderr().find("cannot be written in charset 3"), std::string::npos);
  EXPECT_EQ(Tool("encode send-req --to 1 --subject x --subject-charset 9999 " + out).status, 1);
  ASSERT_EQ(Tool("encode send-req --to 1 --subject 'Gr\xC3\xBC\xC3\x9F" "e' --subject-charset 4 " + out).status, 0)
      << Stderr();
  r = Tool("decode " + out);
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(mms_test::Fields(r.out)["subject"], "Gr\xC3\xBC\xC3\x9F" "e (charset 4)");

  // A text part without a charset is labelled by what it holds.
  mms_test::WriteBytes(dir_ / "u.txt", {'G', 'r', 0xC3, 0xBC});
  mms_test::WriteBytes(dir_ / "a.txt", {'h', 'i'});
  mms_test::WriteBytes(dir_ / "l.txt", {'G', 'r', 0xFC});
  const std::string pkg = Quote((dir_ / "t.pkg").string());
  ASSERT_EQ(Tool("package build " + pkg + " " + Quote((dir_ / "u.txt").string() + ":text/plain") + " " +
                 Quote((dir_ / "a.txt").string() + ":text/plain") + " " +
                 Quote((dir_ / "l.txt").string() + ":text/plain;charset=iso-8859-1"))
                .status,
            0)
      << Stderr();
  r = Tool("package list " + pkg);
  EXPECT_NE(r.out.find("0\ttext/plain;charset=utf_8\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1\ttext/plain;charset=us-ascii\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2\ttext/plain;charset=iso-8859-1\t"), std::string::npos) << r.out;
  EXPECT_EQ(Tool("package build " + pkg + " " + Quote((dir_ / "l.txt").string() + ":text/plain")).status, 1);
  EXPECT_NE(Stderr().find("not ASCII or UTF-8"), std::string::npos);
  EXPECT_EQ(Tool("package build " + pkg + " " + Quote((dir_ / "a.txt").string() + ":text/plain;charset=klingon")).status, 1);

  // Two parts of one name both survive extraction.
  ASSERT_EQ(Tool("package build " + pkg + " " + Quote((dir_ / "a.txt").string()) + " " +
                 Quote((dir_ / "a.txt").string()))
                .status,
            0);
  r = Tool("package extract " + pkg + " " + Quote((dir_ / "x").string()));
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(r.out, "a.txt\ttext/plain;charset=utf_8\n1.txt\ttext/plain;charset=utf_8\n");
  EXPECT_EQ(mms_test::ReadBytes(dir_ / "x" / "1.txt"), (Bytes{'h', 'i'}));
}

// An m-retrieve-conf with a Latin-1 subject, the centre's retrieve status, and a related body:
// the presentation, a text part named beyond ASCII, and an empty text part.
Bytes RetrieveConf() {
  const std::string smil = "<smil><body><par><text src=\"Gr\xC3\xBC\xC3\x9F" "e.txt\"/></par></body></smil>";
  Vec v;
  v({0x8C, 0x84})({0x98})("R1")({0x00})({0x8D, 0x92})
      ({0x96, 0x07, 0x84})("Gr\xFC\xDF" "e")({0x00})     // Subject, ISO-8859-1
      ({0x99, 0x80})({0x9A})("Ok")({0x00})                 // Retrieve-Status and -Text
      ({0x84, 0x18, 0xB3, 0x89})("application/smil")({0x00, 0x8A})("<s>")({0x00})
      ({0x03})
      ({0x17, static_cast<int>(smil.size())})("application/smil")({0x00, 0xC0, 0x22})("<s>")({0x00})(smil)
      ({0x11, 0x05, 0x03, 0x83, 0x81, 0xEA, 0x8E})("Gr\xC3\xBC\xC3\x9F" "e.txt")({0x00})("hallo")
      ({0x08, 0x00, 0x83, 0x8E})("e.txt")({0x00});
  return v.bytes;
}

TEST_F(MmsTool, ReadsAWholeRetrievedMessage) {
  const std::string pdu = File(RetrieveConf(), "m.pdu");
  auto r = Tool("decode " + pdu);
  ASSERT_EQ(r.status, 0) << Stderr();
  auto fields = mms_test::Fields(r.out);
  EXPECT_EQ(fields["subject"], "Gr\xC3\xBC\xC3\x9F" "e (charset 4)");
  EXPECT_EQ(fields["retrieve-status"], "0x80");
  EXPECT_EQ(fields["retrieve-text"], "Ok");

  r = Tool("parts " + pdu);
  ASSERT_EQ(r.status, 0) << Stderr();
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < r.out.size();) {
    const std::size_t nl = r.out.find('\n', at);
    lines.push_back(r.out.substr(at, nl - at));
    at = nl + 1;
  }
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[0], "content-type: application/vnd.wap.multipart.related");
  EXPECT_EQ(lines[1].rfind("0\tapplication/smil\t<s>\t-\t", 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 5), "\troot");
  EXPECT_EQ(lines[2].rfind("1\ttext/plain;charset=utf_8\t-\tGr\xC3\xBC\xC3\x9F" "e.txt\t", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].substr(lines[3].size() - 4), "\t0\t0");

  const fs::path out = dir_ / "parts";
  r = Tool("extract " + pdu + " " + Quote(out.string()));
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(r.out, "mms.smil\tapplication/smil\nGr\xC3\xBC\xC3\x9F" "e.txt\ttext/plain;charset=utf_8\ne.txt\ttext/plain\n");
  EXPECT_EQ(mms_test::ReadBytes(out / "Gr\xC3\xBC\xC3\x9F" "e.txt"), (Bytes{'h', 'a', 'l', 'l', 'o'}));
  ASSERT_TRUE(fs::exists(out / "e.txt")) << "an empty part is an empty file";
  EXPECT_EQ(fs::file_size(out / "e.txt"), 0u);

  // A second extraction into the same folder overwrites nothing.
  mms_test::WriteBytes(out / "e.txt", {'k', 'e', 'e', 'p'});
  r = Tool("extract " + pdu + " " + Quote(out.string()));
  ASSERT_EQ(r.status, 0) << Stderr();
  EXPECT_EQ(r.out, "1.smil\tapplication/smil\n1.txt\ttext/plain;charset=utf_8\n2.txt\ttext/plain\n");
  EXPECT_EQ(mms_test::ReadBytes(out / "e.txt"), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(mms_test::ReadBytes(out / "1.txt"), (Bytes{'h', 'a', 'l', 'l', 'o'}));

  EXPECT_EQ(Tool("parts " + File(Notification())).status, 1) << "a notification has no parts";
  EXPECT_NE(Stderr().find("not an m-retrieve-conf or m-send-req"), std::string::npos);
}

TEST_F(MmsTool, PrintsTextsReadablyByTheirCharset) {
  Vec v;
  v({0x8C, 0x81})({0x98})("t")({0x00})
      ({0x96, 0x06, 0x02, 0x27, 0x0F, 'a', 0xE9, 0x00})    // Subject in an unknown charset (9999)
      ({0x93, 0x06, 0xEA, 0x7F})("\xD0\x9F\x01")({0x00})   // Response-Text: quoted, a control
      ({0x97, 0x0A, 0xEA})("\xC3\xA9@x.fi\xC3")({0x00});     // To with a cut UTF-8 character
  auto r = Tool("decode " + File(v.bytes));
  ASSERT_EQ(r.status, 0) << Stderr();
  const auto fields = mms_test::Fields(r.out);
  EXPECT_EQ(fields.at("subject"), "a\\xE9 (charset 9999)");
  EXPECT_EQ(fields.at("response-text"), "\xD0\x9F\\x01");
  EXPECT_EQ(fields.at("to"), "\xC3\xA9@x.fi\\xC3");
}

TEST_F(MmsTool, UnreadableInputFailsWithoutACrash) {
  for (const char* command : {"decode", "classify", "parts", "package list"}) {
    const auto r = Tool(std::string(command) + " " + Quote(dir_.string()));
    EXPECT_EQ(r.status, 1) << command << " on a folder";
    EXPECT_NE(Stderr().find("cannot read"), std::string::npos) << command;
  }
  EXPECT_EQ(Tool("extract " + Quote(dir_.string()) + " " + Quote((dir_ / "o").string())).status, 1);
  auto r = Tool("decode " + File({}, "empty.pdu"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(Stderr().find("empty"), std::string::npos);
  const Bytes whole = RetrieveConf();
  r = Tool("decode " + File(Bytes(whole.begin(), whole.begin() + 4)));  // cut inside the transaction id
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  r = Tool("classify " + File({0x8C}));
  EXPECT_EQ(r.out, "error\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
// clang-format on
