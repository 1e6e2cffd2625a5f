#include "mms/multipart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mms/wsp.h"
#include "platform/text.h"
#include "platform_testing/device_root.h"

// Test vectors are laid out field by field; keep them as written.
// clang-format off
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

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
  Vec& operator()(const Bytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
  }
};

class Package : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(root_.path()) / "msg";
    fs::create_directories(dir_);
  }

  std::u16string Dir() const { return platform::Utf8ToUtf16(dir_.string() + "/"); }
  std::u16string Path(const std::string& name) const { return platform::Utf8ToUtf16((dir_ / name).string()); }

  void Put(const std::string& name, const Bytes& data) const {
    std::ofstream(dir_ / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
  }
  void Put(const std::string& name, std::string_view data) const {
    Put(name, Bytes(data.begin(), data.end()));
  }
  Bytes Get(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::unique_ptr<mms::MultipartPackage> OpenBytes(const Bytes& data) const {
    Put("pkg.bin", data);
    return mms::MultipartPackage::Open(Path("pkg.bin"));
  }

  platform_testing::ScopedDeviceRoot root_;
  fs::path dir_;
};

// An entry with the given headers and data.
Bytes Entry(const Bytes& headers, std::string_view data) {
  mms::ByteBuffer b;
  mms::EncodeUintvar(b, static_cast<std::uint32_t>(headers.size()));
  mms::EncodeUintvar(b, static_cast<std::uint32_t>(data.size()));
  Bytes out(b.data(), b.data() + b.length());
  out.insert(out.end(), headers.begin(), headers.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST_F(Package, BuildsAJpegAndThePresentationByteForByte) {
  Put("x.jpg", std::string_view("\xFF\xD8\xFF\xD9", 4));
  Put("mms.smil", "<smil/>");
  auto pkg = mms::MultipartPackage::Create();
  ASSERT_TRUE(pkg->AddPart({"image/jpeg", Dir(), u"x.jpg", std::nullopt}));
  ASSERT_TRUE(pkg->AddRoot(Dir(), u"mms.smil"));
  ASSERT_TRUE(pkg->Write(Path("out.pkg")));
  EXPECT_EQ(pkg->contentType(), mms::kMultipartRelated);

  Vec want;
  want({0x84, 0x1B, 0xB3, 0x89})("application/smil")({0x00, 0x8A})("<smil>")({0x00})  // Content-Type
      ({0x02})                                                                      // two entries
      ({0x10, 0x04})                                   // HeadersLen 9 + 7, DataLen 4
      ({0x08, 0x9E, 0x85})("x.jpg")({0x00})            // image/jpeg; Name
      ({0x8E})("x.jpg")({0x00})                        // Content-Location
      ({0xFF, 0xD8, 0xFF, 0xD9})
      ({0x31, 0x07})                                   // HeadersLen 30 + 9 + 10, DataLen 7
      ({0x1D})("application/smil")({0x00, 0x81, 0x83, 0x85})("mms.smil")({0x00})
      ({0xC0, 0x22})("<smil>")({0x00})                 // Content-ID
      ({0x8E})("mms.smil")({0x00})("<smil/>");
  EXPECT_EQ(Get("out.pkg"), want.bytes);
}

TEST_F(Package, TextPartsCarryTheirCharset) {
  Put("t.txt", "hi");
  struct Case {
    const char* type;
    Bytes charset;
  } cases[] = {{"text/plain;charset=utf_8", {0xEA}},
               {"text/plain;charset=iso-10646-ucs-2", {0x02, 0x03, 0xE8}},
               {"text/plain", {0x83}},
               {"text/plain;charset=klingon", {0x83}}};
  for (const Case& c : cases) {
    auto pkg = mms::MultipartPackage::Create();
    ASSERT_TRUE(pkg->AddPart({c.type, Dir(), u"t.txt", std::nullopt}));
    ASSERT_TRUE(pkg->Write(Path("t.pkg")));
    Vec value;
    value({0x83, 0x81})(c.charset)({0x85})("t.txt")({0x00});
    Vec want;
    want({0x84, 0xA3, 0x01})({static_cast<int>(1 + value.bytes.size() + 7), 0x02})
        ({static_cast<int>(value.bytes.size())})(value.bytes)({0x8E})("t.txt")({0x00})("hi");
    EXPECT_EQ(Get("t.pkg"), want.bytes) << c.type;

    auto parsed = mms::MultipartPackage::Open(Path("t.pkg"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->contentType(), mms::kMultipartMixed);
    ASSERT_EQ(parsed->partCount(), 1);
    const std::string expected = c.charset == Bytes{0x83} ? "text/plain;charset=us-ascii"
                                 : c.charset == Bytes{0xEA} ? "text/plain;charset=utf_8"
                                                             : "text/plain;charset=iso-10646-ucs-2";
    EXPECT_EQ(parsed->parts()[0].contentType, expected);
  }
}

TEST_F(Package, RoundTripThroughExtraction) {
  std::string big(5000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  Put("clip.3gp", big);
  Put("a.txt", "text");
  Put("p.png", "PNG!");
  Put("mms.smil", "<smil></smil>");
  auto pkg = mms::MultipartPackage::Create();
  ASSERT_TRUE(pkg->AddPart({"video/3gpp", Dir(), u"clip.3gp", std::string("<c1>")}));
  ASSERT_TRUE(pkg->AddPart({"text/plain;charset=utf_8", Dir(), u"a.txt", std::nullopt}));
  ASSERT_TRUE(pkg->AddPart({"image/png", Dir(), u"p.png", std::nullopt}));
  ASSERT_TRUE(pkg->AddRoot(Dir(), u"mms.smil"));
  ASSERT_TRUE(pkg->Write(Path("m.pkg")));

  auto parsed = mms::MultipartPackage::Open(Path("m.pkg"));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->mode(), mms::MultipartPackage::Mode::Parsed);
  EXPECT_EQ(parsed->startParam(), "<smil>");
  ASSERT_EQ(parsed->partCount(), 4);
  EXPECT_EQ(parsed->rootIndex(), 3);
  EXPECT_EQ(parsed->ExtractableCount(), 3);
  EXPECT_FALSE(parsed->HasDrmContent());
  EXPECT_EQ(parsed->parts()[0].contentType, "video/3gpp");
  EXPECT_EQ(parsed->parts()[0].contentId, "<c1>");
  EXPECT_EQ(parsed->parts()[0].name, "clip.3gp");
  EXPECT_EQ(parsed->parts()[0].dataLength, 5000);

  fs::create_directories(dir_ / "out");
  const std::u16string out = Path("out");
  ASSERT_TRUE(parsed->ExtractRoot(out, u"mms.smil"));
  EXPECT_EQ(Get("out/mms.smil"), Get("mms.smil"));
  const char* names[] = {"clip.3gp", "a.txt", "p.png"};
  for (int i = 0; i < 3; ++i) {
    mms::ExtractedPart part;
    part.directory = out;
    ASSERT_TRUE(parsed->ExtractPart(i, part));
    EXPECT_EQ(platform::Utf16ToUtf8(part.name), names[i]);
    EXPECT_EQ(Get(std::string("out/") + names[i]), Get(names[i]));
  }
  mms::ExtractedPart none;
  none.directory = out;
  EXPECT_FALSE(parsed->ExtractPart(3, none));
  EXPECT_FALSE(parsed->ExtractPart(-1, none));
}

TEST_F(Package, RootFallsBackToTheSmilPart) {
  // The SMIL part: media type as text, Content-ID "<p>".
  Vec smilHeaders;
  smilHeaders("application/smil")({0x00, 0xC0, 0x22})("<p>")({0x00});
  Vec whole;
  whole({0x84, 0x09, 0xB3, 0x8A})("<none>")({0x00})({0x02})(Entry({0x9E, 0x8E, 'i', 0x00}, "img"))
      (Entry(smilHeaders.bytes, "<smil/>"));
  auto parsed = OpenBytes(whole.bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->rootIndex(), 1);
  EXPECT_EQ(parsed->root()->contentId, "<p>");

  // A Start that names a part wins over an earlier SMIL part.
  Vec byStart;
  byStart({0x84, 0x06, 0xB3, 0x8A})("<q>")({0x00})({0x02})(Entry(smilHeaders.bytes, "first"))
      (Entry({0x83, 0xC0, 0x22, '<', 'q', '>', 0x00}, "second"));
  parsed = OpenBytes(byStart.bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->rootIndex(), 1);
}

TEST_F(Package, RelatedBodyWithoutStartOrSmilTakesItsFirstPart) {
  Vec v;
  v({0x84, 0xB3, 0x02})(Entry({0x83, 0x8E, 't', 0x00}, "hi"))(Entry({0x9E, 0x8E, 'i', 0x00}, "img"));
  auto parsed = OpenBytes(v.bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->rootIndex(), 0);
  // A root that is no presentation is still a part to show.
  EXPECT_FALSE(parsed->RootIsPresentation());
  ASSERT_EQ(parsed->ExtractableCount(), 2);
  mms::ExtractedPart part;
  part.directory = Dir();
  ASSERT_TRUE(parsed->ExtractPart(0, part));
  EXPECT_EQ(part.name, u"t");

  // A Start that names no part leaves the body without a root.
  Vec named;
  named({0x84, 0x06, 0xB3, 0x8A})("<x>")({0x00})({0x01})(Entry({0x83}, "hi"));
  parsed = OpenBytes(named.bytes);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->rootIndex(), -1);
  EXPECT_EQ(parsed->ExtractableCount(), 1);
}

TEST_F(Package, EmptyPartsAndNamesBeyondAsciiAreExtractedWhole) {
  Vec utf8Name, latinName, latinCyrillic;
  utf8Name({0x9E, 0x8E})("Gr\xC3\xBC\xC3\x9F" "e.jpg")({0x00});
  latinName({0x9D, 0x8E})("\xE9t\xE9.gif")({0x00});
  latinCyrillic({0x03, 0x83, 0x81, 0x88, 0x8E})("\xBF.txt")({0x00});  // text/plain, ISO-8859-5
  Vec v;
  v({0x84, 0xA3, 0x04})
      (Entry({0x83, 0x8E, 'e', '.', 't', 'x', 't', 0x00}, ""))  // an empty text part
      (Entry(utf8Name.bytes, "jpg"))
      (Entry(latinName.bytes, "gif"))
      (Entry(latinCyrillic.bytes, "txt"));
  auto parsed = OpenBytes(v.bytes);
  ASSERT_TRUE(parsed) << "an empty part is a valid part";
  EXPECT_EQ(parsed->parts()[3].contentType, "text/plain;charset=iso-8859-5");
  const char* expected[] = {"e.txt", "Gr\xC3\xBC\xC3\x9F" "e.jpg", "\xC3\xA9t\xC3\xA9.gif", "\xD0\x9F.txt"};
  for (int i = 0; i < 4; ++i) {
    mms::ExtractedPart part;
    part.directory = Dir();
    ASSERT_TRUE(parsed->ExtractPart(i, part)) << i;
    EXPECT_EQ(platform::Utf16ToUtf8(part.name), expected[i]);
  }
  EXPECT_TRUE(fs::exists(dir_ / "e.txt"));
  EXPECT_EQ(fs::file_size(dir_ / "e.txt"), 0u);
  EXPECT_EQ(Get("Gr\xC3\xBC\xC3\x9F" "e.jpg"), (Bytes{'j', 'p', 'g'}));
}

TEST_F(Package, ExtractedNamesFromIdsOffsetsAndUnsafeLocations) {
  // A part with neither Content-Location, Name nor Content-ID is named by its data offset.
  Vec third;
  third({0x9E, 0x8E})("a/b:c*?.jpg")({0x00});
  Vec fourth;
  fourth({0x9E, 0xC0, 0x22})("<part7>")({0x00});
  Vec whole;
  whole({0x84, 0xA3, 0x04})
      (Entry({0x9E}, std::string(1224, 'a')))  // data at offset 7
      (Entry({0x9E}, "anon"))                  // data at offset 1234
      (Entry(third.bytes, "unsafe"))
      (Entry(fourth.bytes, "byid"));
  auto parsed = OpenBytes(whole.bytes);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->partCount(), 4);
  EXPECT_EQ(parsed->parts()[1].dataOffset, 1234);
  const char* expected[] = {"7", "1234", "a_b_c__.jpg", "part7"};
  for (int i = 0; i < 4; ++i) {
    mms::ExtractedPart part;
    part.directory = Dir();
    ASSERT_TRUE(parsed->ExtractPart(i, part));
    EXPECT_EQ(platform::Utf16ToUtf8(part.name), expected[i]);
  }
  EXPECT_EQ(Get("1234"), (Bytes{'a', 'n', 'o', 'n'}));

  // The store's callback may rename; separators it brings in are replaced as well.
  parsed->SetNameCallback([](std::u16string& name) { name = u"../x/" + name; });
  mms::ExtractedPart part;
  part.directory = Dir();
  ASSERT_TRUE(parsed->ExtractPart(1, part));
  EXPECT_EQ(part.name, u".._x_1234");
  EXPECT_TRUE(fs::exists(dir_ / ".._x_1234"));
}

TEST_F(Package, ForwardLockedContentIsUnwrapped) {
  const std::string jpeg = "\xFF\xD8jpegdata\xFF\xD9";
  for (const std::string closing : {"\r\n--boundary-1--\r\n", "\r\n--boundary-1--"}) {
    const std::string dm = "--boundary-1\r\nContent-type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n" +
                           jpeg + closing;
    Vec headers;
    headers({0x1F, 0x25})(mms::kDrmMessageType)({0x00, 0x85})("pic.dm")({0x00});
    headers.bytes[1] = static_cast<std::uint8_t>(headers.bytes.size() - 2);
    Vec pkg;
    pkg({0x84, 0xA3, 0x01})(Entry(headers.bytes, dm));
    auto parsed = OpenBytes(pkg.bytes);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->partCount(), 1);
    const mms::PackagePart& p = parsed->parts()[0];
    EXPECT_TRUE(p.drm);
    EXPECT_TRUE(parsed->HasDrmContent());
    EXPECT_EQ(p.contentType, "image/jpeg");
    EXPECT_EQ(p.name, "pic.dm");
    mms::ExtractedPart part;
    part.directory = Dir();
    ASSERT_TRUE(parsed->ExtractPart(0, part));
    EXPECT_TRUE(part.drm);
    const Bytes got = Get("pic.dm");
    EXPECT_EQ(std::string(got.begin(), got.end()), jpeg);
  }

  // Without an empty line in the first 512 octets the whole package is refused.
  const std::string endless = "--b\r\nContent-Type: image/jpeg\r\n" + std::string(600, 'x');
  Vec headers;
  headers(mms::kDrmMessageType)({0x00});
  Vec pkg;
  pkg({0x84, 0xA3, 0x01})(Entry(headers.bytes, endless));
  EXPECT_FALSE(OpenBytes(pkg.bytes));
}

TEST_F(Package, DrmMessagePackagesDropTheirRights) {
  Vec rights;
  rights(mms::kDrmRightsXmlType)({0x00});
  Vec pkg;
  pkg({0x84})(mms::kDrmMessageType)({0x00, 0x02})(Entry(rights.bytes, "<rights/>"))(Entry({0x9D}, "GIF89a"));
  auto parsed = OpenBytes(pkg.bytes);
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->partCount(), 1);
  EXPECT_EQ(parsed->parts()[0].contentType, "image/gif");
  EXPECT_TRUE(parsed->parts()[0].drm);
}

TEST_F(Package, SinglePartBodies) {
  auto parsed = OpenBytes({0x84, 0x9E, 0xFF, 0xD8});
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->partCount(), 1);
  EXPECT_EQ(parsed->parts()[0].contentType, "image/jpeg");
  EXPECT_EQ(parsed->parts()[0].dataOffset, 2);
  EXPECT_EQ(parsed->parts()[0].dataLength, 2);
  parsed = OpenBytes({0x04, 0x9E});
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->partCount(), 0);
}

TEST_F(Package, MalformedFilesAreRefused) {
  const Bytes good = [] {
    Vec v;
    v({0x84, 0xA3, 0x02})(Entry({0x9E}, "abc"))(Entry({0x83}, "de"));
    return v.bytes;
  }();
  ASSERT_TRUE(OpenBytes(good));
  const std::vector<Bytes> bad = {
      {},
      {0x85, 0xA3, 0x01, 0x01, 0x01, 0x9E, 'x'},                   // not a Content-Type first
      {0x84, 0xA3, 0x00},                                          // no entries
      {0x84, 0xA3, 0x03, 0x01, 0x01, 0x9E, 'x'},                   // count promises 3, file holds 1
      {0x84, 0xA3, 0x01, 0x01, 0x09, 0x9E, 'x'},                   // DataLen past the end of the file
      {0x84, 0xA3, 0x01, 0x30, 0x01, 0x9E, 'x'},                   // HeadersLen past the end
      {0x84, 0xA3, 0x01, 0x00, 0x01, 'x'},                         // HeadersLen 0
      {0x84, 0xA3, 0x01, 0x01, 0x00},                              // DataLen 0, headers missing
      {0x84, 0xA3, 0x01, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 0x01},  // uintvar of 6 octets
      {0x84, 0x1F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xB3},            // Content-Type past the end
      {0x84, 0xA3, 0x01, 0x02, 0x01, 0x10, 0x9E, 'x'},             // inner Value-length past headers
  };
  for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(OpenBytes(bad[i])) << "case " << i;
  // Every shorter file is refused or yields parts inside the file.
  for (std::size_t n = 0; n < good.size(); ++n) {
    auto p = OpenBytes(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    if (!p) continue;
    for (const auto& part : p->parts()) EXPECT_LE(part.dataOffset + part.dataLength, static_cast<std::int64_t>(n));
  }
}

TEST_F(Package, FailuresLeaveNothingBehind) {
  auto pkg = mms::MultipartPackage::Create();
  EXPECT_FALSE(pkg->AddPart({"", Dir(), u"x", std::nullopt}));
  EXPECT_FALSE(pkg->AddPart({"image/gif", u"", u"x", std::nullopt}));
  EXPECT_FALSE(pkg->AddPart({"image/gif", Dir(), u"", std::nullopt}));
  EXPECT_EQ(pkg->partCount(), 0);
  ASSERT_TRUE(pkg->AddPart({"image/gif", Dir(), u"missing.gif", std::nullopt}));
  EXPECT_FALSE(pkg->Write(Path("never.pkg")));
  mms::ExtractedPart part;
  part.directory = Dir();
  EXPECT_FALSE(pkg->ExtractPart(0, part));  // built packages do not extract
  EXPECT_FALSE(pkg->ExtractRoot(Dir(), u"mms.smil"));
  EXPECT_FALSE(mms::MultipartPackage::Open(Path("no-such.pkg")));

  // An extraction into a directory that does not exist fails without a stray file.
  auto parsed = OpenBytes({0x84, 0xA3, 0x01, 0x03, 0x01, 0x9E, 0x8E, 0x00, 'x'});
  ASSERT_TRUE(parsed);
  part.directory = Path("absent");
  EXPECT_FALSE(parsed->ExtractPart(0, part));
}

TEST_F(Package, MoreThan127PartsCountAsAUintvar) {
  auto pkg = mms::MultipartPackage::Create();
  for (int i = 0; i < 130; ++i) {
    const std::string name = "p" + std::to_string(i) + ".txt";
    Put(name, name);
    ASSERT_TRUE(pkg->AddPart({"text/plain", Dir(), platform::Utf8ToUtf16(name), std::nullopt}));
  }
  ASSERT_TRUE(pkg->Write(Path("many.pkg")));
  const Bytes written = Get("many.pkg");
  ASSERT_GT(written.size(), 3u);
  EXPECT_EQ(written[2], 0x81);  // 130 = 0x81 0x02
  EXPECT_EQ(written[3], 0x02);
  auto parsed = mms::MultipartPackage::Open(Path("many.pkg"));
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->partCount(), 130);
  EXPECT_EQ(parsed->parts()[129].name, "p129.txt");

  auto empty = mms::MultipartPackage::Create();
  EXPECT_FALSE(empty->Write(Path("empty.pkg")));  // it could never be read back
}

TEST(CopyStream, CopiesInChunksAndStopsAtTheEnd) {
  std::vector<std::uint8_t> src(5000), dst(5000);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 13);
  auto in = mms::ByteStream::OpenMemory(src.data(), 5000);
  auto out = mms::ByteStream::OpenMemory(dst.data(), 5000);
  EXPECT_TRUE(mms::CopyStream(*in, 5000, *out));
  EXPECT_EQ(src, dst);
  in->Seek(4000, mms::ByteStream::kFromStart);
  out->Seek(0, mms::ByteStream::kFromStart);
  EXPECT_FALSE(mms::CopyStream(*in, 2000, *out));  // only 1000 remain
  EXPECT_EQ(mms::FileSize(u"/no/such/file"), 0);
}

}  // namespace
// clang-format on
