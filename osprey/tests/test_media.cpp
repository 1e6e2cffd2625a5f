#include "test_media.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "osprey/adts.h"
#include "osprey/osprey.h"

namespace osprey::test {

std::vector<int16_t> ReadPcm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  std::vector<int16_t> pcm(bytes.size() / 2);
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return pcm;
}

bool LoadAdts(const std::string& path, AdtsStream& stream) {
  const std::vector<uint8_t> data = ReadBytes(path);
  size_t pos = 0;
  while (pos < data.size()) {
    AdtsFrame frame;
    if (!ParseAdtsHeader(data.data() + pos, data.size() - pos, frame)) return false;
    if (stream.blocks.empty()) AdtsToAudioSpecificConfig(frame, stream.asc);
    stream.blocks.emplace_back(data.begin() + static_cast<long>(pos + frame.headerSize),
                               data.begin() + static_cast<long>(pos + frame.frameSize));
    pos += frame.frameSize;
  }
  return !stream.blocks.empty();
}

std::vector<int16_t> DecodeAll(const AdtsStream& stream, int channels, int* outChannels) {
  std::vector<int16_t> out;
  AacConfig config{};
  config.channels = static_cast<uint8_t>(channels);
  AudioDecoder* d = nullptr;
  if (gCreateAACDecoder(&d, &config, stream.asc, 2) != 0) return out;
  *outChannels = config.channels;
  std::vector<int16_t> pcm(2048);
  for (const auto& block : stream.blocks) {
    uint32_t length = static_cast<uint32_t>(block.size());
    uint32_t size = static_cast<uint32_t>(pcm.size() * 2);
    if (d->decode(d, block.data(), &length, pcm.data(), &size) != 0) break;
    out.insert(out.end(), pcm.begin(), pcm.begin() + size / 2);
  }
  d->destroy(d);
  return out;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& pcm, int channels, int which) {
  std::vector<int16_t> out;
  out.reserve(pcm.size() / static_cast<size_t>(channels));
  for (size_t i = static_cast<size_t>(which); i < pcm.size(); i += static_cast<size_t>(channels))
    out.push_back(pcm[i]);
  return out;
}

Comparison Compare(const std::vector<int16_t>& test, const std::vector<int16_t>& reference, long offset) {
  Comparison c;
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    const long j = static_cast<long>(i) + offset;
    if (j < 0 || j >= static_cast<long>(test.size())) continue;
    const int d = test[static_cast<size_t>(j)] - reference[i];
    signal += double(reference[i]) * reference[i];
    noise += double(d) * d;
    c.maxDiff = std::max(c.maxDiff, std::abs(d));
    ++c.samples;
  }
  c.snrDb = noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
  return c;
}

}  // namespace osprey::test
