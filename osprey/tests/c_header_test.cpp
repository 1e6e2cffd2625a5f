#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "osprey/osprey.h"

extern "C" void OspreyCLayout(std::size_t out[5]);
extern "C" const char* OspreyCResultName(int result);

namespace {

TEST(OspreyCHeader, RecordsHaveTheSameLayoutInC) {
  std::size_t c[5] = {};
  OspreyCLayout(c);
  EXPECT_EQ(c[0], sizeof(AacConfig));
  EXPECT_EQ(c[1], offsetof(AacConfig, sampleRate));
  EXPECT_EQ(c[2], sizeof(AudioDecoder));
  EXPECT_EQ(c[3], offsetof(AudioDecoder, reset));
  EXPECT_EQ(c[4], sizeof(int));
}

TEST(OspreyCHeader, ResultsHaveNames) {
  EXPECT_EQ(std::string(OspreyCResultName(kAacOutputTooSmall)), "kAacOutputTooSmall");
  EXPECT_EQ(std::string(OspreyResultName(kAacOk)), "kAacOk");
  EXPECT_EQ(std::string(OspreyResultName(kAacNotLowComplexity)), "kAacNotLowComplexity");
  EXPECT_EQ(std::string(OspreyResultName(-4)), "unknown result");
}

}  // namespace
