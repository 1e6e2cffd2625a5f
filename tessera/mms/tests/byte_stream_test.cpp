#include "mms/byte_stream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/text.h"

namespace {

TEST(ByteStream, MemoryStreamNeverGrowsAndClampsSeeks) {
  std::uint8_t block[4] = {1, 2, 3, 4};
  auto s = mms::ByteStream::OpenMemory(block, 4);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->Seek(2, mms::ByteStream::kFromStart), 0);
  const std::uint8_t more[3] = {9, 9, 9};
  EXPECT_EQ(s->Write(more, 3), 2);  // only what fits
  EXPECT_EQ(block[3], 9);
  EXPECT_EQ(s->Seek(-100, mms::ByteStream::kFromCurrent), 0);
  EXPECT_EQ(s->Tell(), 0);
  EXPECT_EQ(s->Seek(100, mms::ByteStream::kFromStart), 0);
  EXPECT_EQ(s->Tell(), 4);
  EXPECT_EQ(s->ReadOctet(), 0);  // past the end reads as 0
  EXPECT_TRUE(s->AtEnd());
  EXPECT_EQ(s->Seek(-1, mms::ByteStream::kFromEnd), 0);
  EXPECT_EQ(s->ReadOctet(), 9);
}

TEST(ByteStream, ReadOnlyMemoryRefusesWrites) {
  const std::uint8_t block[2] = {5, 6};
  auto s = mms::ByteStream::OpenMemory(block, 2);
  EXPECT_EQ(s->Write(block, 1), 0);
  EXPECT_EQ(s->ReadOctet(), 5);
}

TEST(ByteStream, FileModesAndSystemOrigins) {
  const auto dir = std::filesystem::temp_directory_path() / ("bs-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::u16string path = platform::Utf8ToUtf16((dir / "f\xC3\xA9.bin").string());
  {
    auto w = mms::ByteStream::OpenFile(path, mms::ByteStream::kWrite);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->Write("abcdef", 6), 6);
  }
  {
    auto a = mms::ByteStream::OpenFile(path, mms::ByteStream::kAppend);
    EXPECT_EQ(a->Write("gh", 2), 2);
  }
  auto r = mms::ByteStream::OpenFile(path, 99);  // unknown mode opens for reading
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Size(), 8);
  EXPECT_EQ(r->Seek(-2, mms::ByteStream::kFromEnd), 0);
  EXPECT_EQ(r->ReadOctet(), 'g');
  EXPECT_EQ(r->Seek(-2, mms::ByteStream::kFromCurrent), 0);
  EXPECT_EQ(r->ReadOctet(), 'f');
  EXPECT_EQ(r->Tell(), 6);
  EXPECT_FALSE(mms::ByteStream::OpenFile(u"/nonexistent/dir/x", mms::ByteStream::kRead));
  std::filesystem::remove_all(dir);
}

}  // namespace
