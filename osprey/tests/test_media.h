// Helpers of the decoder tests: reference tools, ADTS decoding and comparison.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace osprey::test {

// Runs a shell command; returns true when it exits with status 0.
bool Run(const std::string& command);
bool HaveTool(const char* name);

// A fresh temporary directory, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
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
