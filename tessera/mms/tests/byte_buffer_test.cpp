#include "mms/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using mms::ByteBuffer;

TEST(ByteBuffer, GrowsInStepsOf32AndKeepsATerminatingZero) {
  ByteBuffer b;
  EXPECT_EQ(b.length(), 0);
  EXPECT_EQ(b.data()[0], 0);
  ASSERT_TRUE(b.AppendString("abc"));
  EXPECT_EQ(b.capacity(), 32);  // (0 + 3 + 31) rounded down to a multiple of 32
  EXPECT_EQ(b.data()[3], 0);
  const std::string forty(40, 'x');
  ASSERT_TRUE(b.AppendString(forty));
  EXPECT_EQ(b.capacity(), 64);
  EXPECT_EQ(b.length(), 43);
  EXPECT_EQ(b.data()[43], 0);  // the octet after the last valid one reads as 0
  ByteBuffer exact(std::string(32, 'y').data(), 32);
  EXPECT_EQ(exact.capacity(), 32);
  ASSERT_TRUE(exact.AppendOctet('z'));
  EXPECT_EQ(exact.capacity(), 64);
}

TEST(ByteBuffer, InsertMovesTheTailAndRejectsBadPositions) {
  ByteBuffer b("held", 4);
  ASSERT_TRUE(b.Insert(2, "ll", 2));
  EXPECT_EQ(b.view(), "hellld");
  ASSERT_TRUE(b.Insert(0, ">", 1));
  EXPECT_EQ(b.view(), ">hellld");
  EXPECT_FALSE(b.Insert(-1, "x", 1));
  EXPECT_FALSE(b.Insert(8, "x", 1));
  EXPECT_FALSE(b.Insert(0, nullptr, 1));
  EXPECT_EQ(b.view(), ">hellld");
}

TEST(ByteBuffer, ElementReadsAndTailsAreBounded) {
  ByteBuffer b("\x01\xFF", 2);
  EXPECT_EQ(b.At(0), 1);
  EXPECT_EQ(b.At(1), 0xFF);
  EXPECT_EQ(b.At(2), -1);
  EXPECT_EQ(b.At(-1), -1);
  std::int32_t rest = -5;
  EXPECT_EQ(b.Tail(1, &rest), b.data() + 1);
  EXPECT_EQ(rest, 1);
  EXPECT_NE(b.Tail(2, &rest), nullptr);
  EXPECT_EQ(rest, 0);
  EXPECT_EQ(b.Tail(3, &rest), nullptr);
  EXPECT_EQ(rest, 0);
}

TEST(ByteBuffer, AppendingItselfSurvivesReallocation) {
  ByteBuffer b("0123456789abcdef0123456789abcde", 31);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(b.AppendBuffer(b));
  EXPECT_EQ(b.length(), 31 * 16);
  EXPECT_EQ(std::memcmp(b.data() + 31 * 15, "0123456789abcdef", 16), 0);
}

TEST(ByteBuffer, CopiesAreDeepAndMovesLeaveAnEmptyBuffer) {
  ByteBuffer a("abc", 3);
  ByteBuffer copy = a;
  ASSERT_TRUE(copy.AppendOctet('d'));
  EXPECT_EQ(a.view(), "abc");
  ByteBuffer moved = std::move(copy);
  EXPECT_EQ(moved.view(), "abcd");
  EXPECT_EQ(copy.length(), 0);         // NOLINT(bugprone-use-after-move): moved-from stays usable
  EXPECT_EQ(copy.data()[0], 0);        // NOLINT
  ASSERT_TRUE(copy.AppendOctet('q'));  // NOLINT
  EXPECT_EQ(copy.view(), "q");         // NOLINT
  moved.Clear();
  EXPECT_EQ(moved.length(), 0);
  EXPECT_EQ(moved.data()[0], 0);
}

}  // namespace
