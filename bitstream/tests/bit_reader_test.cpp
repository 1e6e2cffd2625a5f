#include "bitstream/bit_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace bitstream {
namespace {

// Reads the same bits through the eight-byte fast path and the byte-by-byte tail.
TEST(BitReader, FastPathAndTailAgreeAtEveryOffset) {
  std::vector<std::uint8_t> data(20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  auto bit = [&](std::size_t at) { return at < data.size() * 8 ? (data[at / 8] >> (7 - at % 8)) & 1u : 0u; };
  for (std::size_t start = 0; start < data.size() * 8; start += 5) {
    for (int n : {1, 7, 13, 24, 32}) {
      BitReader br(data.data(), data.size());
      br.SetPosition(start);
      std::uint32_t expected = 0;
      for (int i = 0; i < n; ++i) expected = (expected << 1) | bit(start + static_cast<std::size_t>(i));
      ASSERT_EQ(br.Read(n), expected) << start << " " << n;
      EXPECT_EQ(br.Overrun(), start + static_cast<std::size_t>(n) > data.size() * 8);
    }
  }
}

TEST(BitReader, SignedFieldsAlignmentAndRewind) {
  const std::uint8_t data[] = {0x80, 0x00, 0x00, 0x01, 0xFF};
  BitReader br(data, sizeof data);
  EXPECT_EQ(br.ReadSigned(32), INT32_MIN + 1);
  EXPECT_EQ(br.ReadSigned(1), -1);
  br.AlignToByte();
  EXPECT_EQ(br.Position(), 40u);
  br.AlignToByte();  // already aligned: stays
  EXPECT_EQ(br.Position(), 40u);
  br.Skip(1);
  EXPECT_TRUE(br.Overrun());
  EXPECT_EQ(br.BitsLeft(), 0u);
  EXPECT_EQ(br.BytesConsumed(), 5u);
  br.SetPosition(36);  // moving back inside the input clears the overrun
  EXPECT_FALSE(br.Overrun());
  EXPECT_EQ(br.Read(4), 0xFu);
}

TEST(BitReaderDeathTest, FieldWidthOutsideOneTo32) {
  const std::uint8_t data[] = {0xFF};
  BitReader br(data, sizeof data);
  EXPECT_DEBUG_DEATH(br.ReadSigned(0), "");
  EXPECT_DEBUG_DEATH(br.Peek(33), "");
}

}  // namespace
}  // namespace bitstream
