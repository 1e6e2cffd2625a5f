// Helpers of the decoder tests: reference tools, ADTS decoding and comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform_testing/temp_dir.h"

namespace osprey::test {

using platform_testing::HaveTool;
using platform_testing::TempDir;
inline bool Run(const std::string& command) { return platform_testing::RunShell(command); }
inline std::vector<uint8_t> ReadBytes(const std::string& path) { return platform_testing::ReadFileBytes(path); }
std::vector<int16_t> ReadPcm(const std::string& path);

struct AdtsStream {
  uint8_t asc[2] = {};
  std::vector<std::vector<uint8_t>> blocks;  // raw data blocks
};
bool LoadAdts(const std::string& path, AdtsStream& stream);

// Decodes every block; `channels` is the AacConfig request (0: stream decides).
// Returns the interleaved output and its channel count.
std::vector<int16_t> DecodeAll(const AdtsStream& stream, int channels, int* outChannels);

// One channel of interleaved samples.
std::vector<int16_t> Channel(const std::vector<int16_t>& pcm, int channels, int which);

struct Comparison {
  double snrDb = 0;
  int maxDiff = 0;
  size_t samples = 0;
};
// Compares test[i + offset] with reference[i] over their common range.
Comparison Compare(const std::vector<int16_t>& test, const std::vector<int16_t>& reference, long offset);

}  // namespace osprey::test
