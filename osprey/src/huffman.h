// Huffman decoding of scale factors and spectral data (two-level lookup tables
// built once from the codebooks of aac_tables.cpp).
#pragma once

#include <cstdint>

#include "bitstream/bit_reader.h"

namespace osprey {

using bitstream::BitReader;

// Decodes one scale-factor codeword; returns the delta (-60..60), or 0 with
// `ok` cleared when no codeword matches.
int DecodeScaleFactorDelta(BitReader& br, bool& ok);

// Decodes one spectral codeword of codebook `cb` (1..11) and returns its index
// into the codebook, or -1 when no codeword matches.
int DecodeSpectralIndex(BitReader& br, int cb);

// Checks that a code table is a complete prefix code (tests only).
bool CodebookIsCompletePrefixCode(const uint32_t* codes, const uint8_t* bits, int count);

}  // namespace osprey
