#pragma once
// Helpers of the audio tests: PCM WAV files built in memory, file access, the program
// directory that holds the decoder libraries, and reference tools.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/text.h"

namespace audio_test {

inline std::string ProgramDir() {
  return TESSERA_BINARY_DIR "/bin";
}

inline void Le16(std::vector<std::uint8_t>& v, unsigned x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
inline void Le32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
inline void Tag(std::vector<std::uint8_t>& v, const char* t) {
  v.insert(v.end(), t, t + 4);
}

/// A RIFF/WAVE file: `fmtSize` 16 or 18, `extraChunk` inserts a "LIST" chunk before
/// the data.
inline std::vector<std::uint8_t> MakeWav(const std::vector<std::uint8_t>& pcm, int rate, int channels,
                                         int bits, int formatTag = 1, int fmtSize = 16,
                                         bool extraChunk = false) {
  std::vector<std::uint8_t> v;
  Tag(v, "RIFF");
  Le32(v, 0);
  Tag(v, "WAVE");
  Tag(v, "fmt ");
  Le32(v, static_cast<std::uint32_t>(fmtSize));
  Le16(v, static_cast<unsigned>(formatTag));
  Le16(v, static_cast<unsigned>(channels));
  Le32(v, static_cast<std::uint32_t>(rate));
  Le32(v, static_cast<std::uint32_t>(rate * channels * bits / 8));
  Le16(v, static_cast<unsigned>(channels * bits / 8));
  Le16(v, static_cast<unsigned>(bits));
  for (int i = 16; i < fmtSize; ++i) v.push_back(0);
  if (extraChunk) {
    Tag(v, "LIST");
    Le32(v, 5);
    v.insert(v.end(), {'a', 'b', 'c', 'd', 'e', 0});  // odd size, padded
  }
  Tag(v, "data");
  Le32(v, static_cast<std::uint32_t>(pcm.size()));
  v.insert(v.end(), pcm.begin(), pcm.end());
  std::uint32_t riff = static_cast<std::uint32_t>(v.size() - 8);
  for (int i = 0; i < 4; ++i) v[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return v;
}

/// 16-bit mono samples: a sweep of two tones plus a little deterministic noise, so that
/// any shift or repeat of a block shows.
inline std::vector<std::uint8_t> TestPcm16(int rate, int samples) {
  std::vector<std::uint8_t> v;
  std::uint32_t seed = 12345;
  for (int i = 0; i < samples; ++i) {
    seed = seed * 1103515245 + 12345;
    double t = double(i) / rate;
    double s = 8000 * std::sin(2 * M_PI * 440 * t) + 4000 * std::sin(2 * M_PI * 1250 * t * (1 + t));
    int x = static_cast<int>(s) + static_cast<int>((seed >> 16) % 201) - 100;
    Le16(v, static_cast<unsigned>(static_cast<std::uint16_t>(static_cast<std::int16_t>(x))));
  }
  return v;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

/// The data chunk of a canonical 44-byte-header WAV file (as the file backend writes).
inline std::vector<std::uint8_t> WavData44(const std::vector<std::uint8_t>& file) {
  if (file.size() < 44) return {};
  return std::vector<std::uint8_t>(file.begin() + 44, file.end());
}

inline bool HaveTool(const char* name) {
  std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

inline bool RunTool(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> s(bytes.size() / 2);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return s;
}

}  // namespace audio_test
