#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "gannet/gannet.h"

extern "C" void GannetCLayout(std::size_t out[10]);
extern "C" const char* GannetCResultName(int result);

namespace {

TEST(GannetCHeader, RecordsHaveTheSameLayoutInC) {
  std::size_t c[10] = {};
  GannetCLayout(c);
  EXPECT_EQ(c[0], sizeof(MediaTrackInfo));
  EXPECT_EQ(c[1], sizeof(DecoderConfig));
  EXPECT_EQ(c[2], offsetof(DecoderConfig, decoderSpecificInfoSize));
  EXPECT_EQ(c[3], sizeof(MovieInfo));
  EXPECT_EQ(c[4], sizeof(ReferenceTrackIds));
  EXPECT_EQ(c[5], sizeof(HintPacket));
  EXPECT_EQ(c[6], sizeof(TrackCounts));
  EXPECT_EQ(c[7], sizeof(HintRequest));
  EXPECT_EQ(c[8], sizeof(EditEntry));
  EXPECT_EQ(c[9], std::size_t{kGannetTrackOther});
}

TEST(GannetCHeader, ResultsHaveNames) {
  EXPECT_EQ(std::string(GannetCResultName(kGannetError)), "kGannetError");
  EXPECT_EQ(std::string(GannetResultName(kGannetOk)), "kGannetOk");
  EXPECT_EQ(std::string(GannetResultName(7)), "unknown result");
}

}  // namespace
