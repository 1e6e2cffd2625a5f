// Consistency of the standard tables: Huffman codebooks, band layouts, windows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "aac_tables.h"
#include "bitstream/bit_reader.h"
#include "cached_bit_reader.h"
#include "filterbank.h"
#include "huffman.h"

namespace osprey {
namespace {

// A typo in any code or length breaks completeness or the prefix property.
TEST(OspreyTables, HuffmanCodebooksAreCompletePrefixCodes) {
  EXPECT_TRUE(CodebookIsCompletePrefixCode(kScaleFactorCodes, kScaleFactorBits, 121));
  for (int cb = 0; cb < 11; ++cb) {
    std::vector<uint32_t> codes(kSpectralCodes[cb], kSpectralCodes[cb] + kSpectralSizes[cb]);
    EXPECT_TRUE(CodebookIsCompletePrefixCode(codes.data(), kSpectralBits[cb], kSpectralSizes[cb]))
        << "codebook " << cb + 1;
  }
}

// Every codeword, written out and read back, decodes to its own index.
TEST(OspreyTables, EveryCodewordDecodesToItsIndex) {
  auto check = [](int cb, uint32_t code, int bits, int index) {
    uint8_t buf[8] = {};
    const uint64_t v = uint64_t{code} << (64 - bits);
    for (int i = 0; i < 8; ++i) buf[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
    BitReader br(buf, sizeof buf);
    if (cb == 0) {
      bool ok = true;
      EXPECT_EQ(DecodeScaleFactorDelta(br, ok), index - 60);
      EXPECT_TRUE(ok);
    } else {
      EXPECT_EQ(DecodeSpectralIndex(br, cb), index) << "codebook " << cb;
    }
    EXPECT_EQ(br.Position(), static_cast<size_t>(bits));
  };
  for (int i = 0; i < 121; ++i) check(0, kScaleFactorCodes[i], kScaleFactorBits[i], i);
  for (int cb = 1; cb <= 11; ++cb)
    for (int i = 0; i < kSpectralSizes[cb - 1]; ++i)
      check(cb, kSpectralCodes[cb - 1][i], kSpectralBits[cb - 1][i], i);
}

TEST(OspreyTables, BandOffsetsRiseToTheFrameLength) {
  for (int sf = 0; sf < kNumSampleRates; ++sf) {
    const uint16_t* l = kSwbOffsetLong[sf];
    const uint16_t* s = kSwbOffsetShort[sf];
    EXPECT_EQ(l[0], 0);
    EXPECT_EQ(l[kNumSwbLong[sf]], 1024) << sf;
    EXPECT_EQ(s[kNumSwbShort[sf]], 128) << sf;
    for (int b = 0; b < kNumSwbLong[sf]; ++b) {
      EXPECT_LT(l[b], l[b + 1]);
      EXPECT_EQ((l[b + 1] - l[b]) % 4, 0);  // quadruple codebooks need multiples of 4
    }
    for (int b = 0; b < kNumSwbShort[sf]; ++b) EXPECT_LT(s[b], s[b + 1]);
    EXPECT_LE(kTnsMaxBandsLong[sf], kNumSwbLong[sf]);
    EXPECT_LE(kTnsMaxBandsShort[sf], kNumSwbShort[sf]);
  }
}

// Perfect reconstruction needs w[n]^2 + w[N/2 - 1 - n]^2 = 1 on each half.
TEST(OspreyTables, WindowsSatisfyPrincenBradley) {
  for (int shape = 0; shape < 2; ++shape) {
    for (int len : {1024, 128}) {
      const uint32_t* w = len == 1024 ? LongWindow(shape) : ShortWindow(shape);
      double worst = 0;
      for (int n = 0; n < len; ++n) {
        const double a = w[n] / 1073741824.0, b = w[len - 1 - n] / 1073741824.0;
        worst = std::max(worst, std::fabs(a * a + b * b - 1.0));
        if (n > 0) {
          ASSERT_GE(w[n], w[n - 1]);
        }
      }
      EXPECT_LT(worst, 1e-8) << "shape " << shape << " length " << len;
    }
  }
  // The two shapes really differ.
  EXPECT_NE(LongWindow(0)[100], LongWindow(1)[100]);
}

TEST(OspreyBitReader, StickyOverrunAndSignedReads) {
  const uint8_t data[] = {0xA5, 0xF0};
  BitReader br(data, sizeof data);
  EXPECT_EQ(br.Read(4), 0xAu);
  EXPECT_EQ(br.ReadSigned(4), 5);
  EXPECT_EQ(br.ReadSigned(4), -1);
  EXPECT_FALSE(br.Overrun());
  EXPECT_EQ(br.Read(8), 0u);  // 4 real zero bits, then past the end
  EXPECT_TRUE(br.Overrun());
  EXPECT_EQ(br.Read(32), 0u);
  EXPECT_TRUE(br.Overrun());
  EXPECT_EQ(br.BytesConsumed(), 2u);
}

// The cached reader hands back exactly what the plain one reads: values, positions and
// overrun, also for reads that run past the end of the buffer.
TEST(OspreyBitReader, CachedReaderMatchesPlainReader) {
  std::mt19937 rng(11);
  for (int size : {0, 1, 5, 8, 9, 40}) {
    std::vector<uint8_t> data(static_cast<size_t>(size));
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    for (int start : {0, 3, 13}) {
      BitReader plain(data.data(), data.size());
      plain.Skip(start);
      CachedBitReader cached(plain);
      for (int i = 0; i < 200; ++i) {
        const int n = static_cast<int>(rng() % 33);
        if (n == 0) {
          cached.Skip(0);
        } else {
          ASSERT_EQ(cached.Peek(n), plain.Peek(n)) << "size " << size << " read " << i;
          ASSERT_EQ(cached.Read(n), plain.Read(n));
        }
        ASSERT_EQ(cached.Position(), plain.Position());
        ASSERT_EQ(cached.Overrun(), plain.Overrun());
      }
    }
  }
}

}  // namespace
}  // namespace osprey
