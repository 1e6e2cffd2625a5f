// Code tables: prefix freedom, escape limits against the standards' LMAX/RMAX tables, scans.

#include "tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace brindle {
namespace {

TEST(Tables, EveryTableIsPrefixFree) {
  EXPECT_TRUE(TablesArePrefixFree());
}

// The coefficient reader dequantises the levels of table codes without clipping: at the largest
// quantiser (31) they must stay within 12 bits.
TEST(Tables, CodedLevelsDequantiseWithinTwelveBits) {
  const Tables& t = GetTables();
  for (const CoefTable* table : {&t.intraCoef, &t.interCoef, &t.rvlcIntra, &t.rvlcInter})
    for (std::size_t i = 0; i < (std::size_t{1} << table->bits); ++i)
      EXPECT_LE(table->entries[i].level * 62 + 31, 2047) << i;
}

TEST(Tables, EscapeLimitsMatchTheStandardTables) {
  const Tables& t = GetTables();
  // ISO/IEC 14496-2 Table B-19 (intra LMAX) and B-20 (inter LMAX).
  const int intraLast0[15] = {27, 10, 5, 4, 3, 3, 3, 3, 2, 2, 1, 1, 1, 1, 1};
  for (int run = 0; run < 15; ++run) EXPECT_EQ(t.intraCoef.maxLevel[0][run], intraLast0[run]) << run;
  EXPECT_EQ(t.intraCoef.maxLevel[0][15], 0);
  const int intraLast1[21] = {8, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (int run = 0; run < 21; ++run) EXPECT_EQ(t.intraCoef.maxLevel[1][run], intraLast1[run]) << run;
  const int interLast0[27] = {12, 6, 4, 3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1,
                              1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (int run = 0; run < 27; ++run) EXPECT_EQ(t.interCoef.maxLevel[0][run], interLast0[run]) << run;
  EXPECT_EQ(t.interCoef.maxLevel[1][0], 3);
  EXPECT_EQ(t.interCoef.maxLevel[1][1], 2);
  EXPECT_EQ(t.interCoef.maxLevel[1][40], 1);
  EXPECT_EQ(t.interCoef.maxLevel[1][41], 0);
  // Tables B-21 and B-22 (RMAX).
  EXPECT_EQ(t.intraCoef.maxRun[0][1], 14);
  EXPECT_EQ(t.intraCoef.maxRun[0][2], 9);
  EXPECT_EQ(t.intraCoef.maxRun[0][3], 7);
  EXPECT_EQ(t.intraCoef.maxRun[0][4], 3);
  EXPECT_EQ(t.intraCoef.maxRun[0][10], 1);
  EXPECT_EQ(t.intraCoef.maxRun[0][11], 0);
  EXPECT_EQ(t.intraCoef.maxRun[1][1], 20);
  EXPECT_EQ(t.intraCoef.maxRun[1][2], 6);
  EXPECT_EQ(t.intraCoef.maxRun[1][3], 1);
  EXPECT_EQ(t.interCoef.maxRun[0][1], 26);
  EXPECT_EQ(t.interCoef.maxRun[0][2], 10);
  EXPECT_EQ(t.interCoef.maxRun[0][3], 6);
  EXPECT_EQ(t.interCoef.maxRun[0][4], 2);
  EXPECT_EQ(t.interCoef.maxRun[0][5], 1);
  EXPECT_EQ(t.interCoef.maxRun[1][1], 40);
  EXPECT_EQ(t.interCoef.maxRun[1][2], 1);
  EXPECT_EQ(t.interCoef.maxRun[1][3], 0);
}

// Within one (last, run) the levels of a table run 1, 2, ... without gaps: every level up to the
// maximum decodes from some code.
void ExpectContiguousLevels(const CoefTable& table) {
  std::set<int> seen[2][64];
  for (std::uint32_t i = 0; i < (1u << table.bits); ++i) {
    const CoefEntry& e = table.entries[i];
    if (e.length != 0 && e.level != 0) seen[e.last][e.run].insert(e.level);
  }
  for (int last = 0; last < 2; ++last)
    for (int run = 0; run < 64; ++run) {
      int max = table.maxLevel[last][run];
      EXPECT_EQ(static_cast<int>(seen[last][run].size()), max) << last << " " << run;
      if (max > 0) {
        EXPECT_EQ(*seen[last][run].begin(), 1);
        EXPECT_EQ(*seen[last][run].rbegin(), max);
      }
    }
}

TEST(Tables, CoefficientTablesHaveContiguousLevels) {
  const Tables& t = GetTables();
  ExpectContiguousLevels(t.intraCoef);
  ExpectContiguousLevels(t.interCoef);
  ExpectContiguousLevels(t.rvlcIntra);
  ExpectContiguousLevels(t.rvlcInter);
}

TEST(Tables, ReversibleTablesShareOneCodeSet) {
  // The intra and inter reversible tables use the same 169 codes plus the escape, reordered.
  const Tables& t = GetTables();
  int usedIntra = 0, usedInter = 0;
  for (std::uint32_t i = 0; i < (1u << 15); ++i) {
    usedIntra += t.rvlcIntra.entries[i].length != 0;
    usedInter += t.rvlcInter.entries[i].length != 0;
    EXPECT_EQ(t.rvlcIntra.entries[i].length, t.rvlcInter.entries[i].length) << i;
  }
  EXPECT_EQ(usedIntra, usedInter);
  EXPECT_EQ(t.rvlcIntra.maxLevel[0][0], 27);
  EXPECT_EQ(t.rvlcInter.maxLevel[0][0], 19);
  EXPECT_EQ(t.rvlcInter.maxLevel[1][44], 1);
}

TEST(Tables, ScansArePermutationsStartingAtDc) {
  for (const std::uint8_t* scan : {kZigzagScan, kAlternateHorizontalScan, kAlternateVerticalScan}) {
    std::set<int> s(scan, scan + 64);
    EXPECT_EQ(s.size(), 64u);
    EXPECT_EQ(scan[0], 0);
    EXPECT_EQ(*s.rbegin(), 63);
    EXPECT_EQ(scan[63], 63);
  }
  EXPECT_EQ(kAlternateVerticalScan[1], 8);    // first column first
  EXPECT_EQ(kAlternateHorizontalScan[1], 1);  // first row first
}

TEST(Tables, DcScalersFollowTheQuantiserBands) {
  EXPECT_EQ(LumaDcScaler(1), 8);
  EXPECT_EQ(LumaDcScaler(4), 8);
  EXPECT_EQ(LumaDcScaler(5), 10);
  EXPECT_EQ(LumaDcScaler(8), 16);
  EXPECT_EQ(LumaDcScaler(9), 17);
  EXPECT_EQ(LumaDcScaler(24), 32);
  EXPECT_EQ(LumaDcScaler(25), 34);
  EXPECT_EQ(LumaDcScaler(31), 46);
  EXPECT_EQ(ChromaDcScaler(4), 8);
  EXPECT_EQ(ChromaDcScaler(5), 9);
  EXPECT_EQ(ChromaDcScaler(24), 18);
  EXPECT_EQ(ChromaDcScaler(25), 19);
  EXPECT_EQ(ChromaDcScaler(31), 25);
}

}  // namespace
}  // namespace brindle
