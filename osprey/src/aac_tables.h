// Constant tables of the AAC LC syntax (ISO/IEC 14496-3, subpart 4).
#pragma once

#include <cstdint>

namespace osprey {

inline constexpr int kNumSampleRates = 12;
extern const uint32_t kSampleRates[kNumSampleRates];

// Scale-factor band layout per sampling frequency index.
extern const uint8_t kNumSwbLong[kNumSampleRates];
extern const uint8_t kNumSwbShort[kNumSampleRates];
extern const uint16_t* const kSwbOffsetLong[kNumSampleRates];
extern const uint16_t* const kSwbOffsetShort[kNumSampleRates];
extern const uint8_t kTnsMaxBandsLong[kNumSampleRates];
extern const uint8_t kTnsMaxBandsShort[kNumSampleRates];

// Huffman codebooks: scale factors (121 codes, index - 60 is the delta) and
// the eleven spectral codebooks (index = packed tuple).
extern const uint32_t kScaleFactorCodes[121];
extern const uint8_t kScaleFactorBits[121];
extern const uint16_t* const kSpectralCodes[11];
extern const uint8_t* const kSpectralBits[11];
extern const uint16_t kSpectralSizes[11];

}  // namespace osprey
