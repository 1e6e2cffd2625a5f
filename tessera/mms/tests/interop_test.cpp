// PDUs that real message centres, phones and a conformance suite sent: every one must decode
// and every body must list its parts. They are read from beside the source tree when present.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "mms/mms_pdu.h"
#include "mms/multipart.h"

namespace {

namespace fs = std::filesystem;

fs::path Corpus() {
  if (const char* env = std::getenv("TESSERA_INTEROP_DIR")) return env;
  for (const char* up : {"/../shared/interop", "/../../shared/interop"}) {
    const fs::path p = std::string(TESSERA_SOURCE_DIR) + up;
    if (fs::is_directory(p)) return p;
  }
  return {};
}

TEST(Interop, EveryReceivedPduDecodesAndListsItsParts) {
  const fs::path corpus = Corpus();
  if (corpus.empty()) GTEST_SKIP() << "no interoperability corpus beside the source tree";
  int pdus = 0, bodies = 0;
  for (const auto& e : fs::directory_iterator(corpus)) {
    if (e.path().extension() != ".pdu") continue;
    ++pdus;
    std::ifstream in(e.path(), std::ios::binary);
    const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    const std::string name = e.path().filename().string();
    mms::MmsHeaders h;
    std::optional<mms::ByteBuffer> body;
    ASSERT_TRUE(mms::DecodePdu(data.data(), data.size(), h, &body)) << name;
    if (h.messageType != mms::kRetrieveConf && h.messageType != mms::kSendReq) continue;
    ++bodies;
    ASSERT_TRUE(body) << name;
    const std::size_t at = h.contentTypeOffset;
    auto package = mms::MultipartPackage::Parse(
        mms::ByteStream::OpenMemory(data.data() + at, static_cast<std::int64_t>(data.size() - at)));
    ASSERT_TRUE(package) << name;
    EXPECT_GT(package->partCount(), 0) << name;
    for (const mms::PackagePart& part : package->parts()) {
      EXPECT_FALSE(part.contentType.empty() || part.contentType[0] == ';')
          << name << " part at " << part.dataOffset;
      EXPECT_LE(part.dataOffset + part.dataLength, static_cast<std::int64_t>(data.size() - at)) << name;
    }
  }
  EXPECT_EQ(pdus, 72);
  EXPECT_GT(bodies, 30);
}

}  // namespace
