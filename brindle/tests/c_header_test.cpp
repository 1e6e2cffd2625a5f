#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "brindle/brindle.h"

extern "C" void BrindleCLayout(std::size_t out[8]);
extern "C" const char* BrindleCResultName(std::int32_t result);

namespace {

TEST(BrindleCHeader, RecordsHaveTheSameLayoutInC) {
  std::size_t c[8] = {};
  BrindleCLayout(c);
  EXPECT_EQ(c[0], sizeof(StreamInfo));
  EXPECT_EQ(c[1], sizeof(CreationRecord));
  EXPECT_EQ(c[2], sizeof(PictureSummary));
  EXPECT_EQ(c[3], offsetof(PictureSummary, width));
  EXPECT_EQ(c[4], sizeof(PlanarFrame));
  EXPECT_EQ(c[5], sizeof(VideoDecoder));
  EXPECT_EQ(c[6], offsetof(VideoDecoder, destroy));
  EXPECT_EQ(c[7], sizeof(std::int32_t));
}

TEST(BrindleCHeader, ResultsHaveNames) {
  EXPECT_EQ(std::string(BrindleCResultName(kBrindleNoMemory)), "kBrindleNoMemory");
  EXPECT_EQ(std::string(BrindleResultName(kBrindleOk)), "kBrindleOk");
  EXPECT_EQ(std::string(BrindleResultName(kBrindleError)), "kBrindleError");
  EXPECT_EQ(std::string(BrindleResultName(-77)), "unknown result");
}

}  // namespace
