// osprey-decode: decodes AAC LC in ADTS framing (.aac) to raw 16-bit PCM.
//
//   osprey-decode [--channels 1|2] IN.aac OUT.raw   s16le interleaved samples
//   osprey-decode --info IN.aac                      stream summary
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "osprey/adts.h"
#include "osprey/osprey.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: osprey-decode [--channels 1|2] IN.aac OUT.raw\n"
               "       osprey-decode --info IN.aac\n"
               "IN is AAC LC in ADTS framing; OUT receives s16le interleaved samples.\n");
  return 2;
}

bool ReadFile(const char* path, std::vector<uint8_t>& data) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

const char* ErrorText(int rc) {
  switch (rc) {
    case kAacBadArgument:
      return "bad configuration";
    case kAacOutOfMemory:
      return "out of memory";
    case kAacFrameLength960:
      return "960-sample frames are not supported";
    case kAacTooManyChannels:
      return "more than two channels";
    case kAacNotLowComplexity:
      return "not AAC LC";
    default:
      return "decoder error";
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool info = false;
  int channels = 0;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--info") == 0) {
      info = true;
    } else if (std::strcmp(argv[i], "--channels") == 0 && i + 1 < argc) {
      channels = std::atoi(argv[++i]);
      if (channels != 1 && channels != 2) return Usage();
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != (info ? 1u : 2u)) return Usage();

  std::vector<uint8_t> data;
  if (!ReadFile(paths[0], data)) {
    std::fprintf(stderr, "osprey-decode: cannot read %s\n", paths[0]);
    return 1;
  }
  // FIXME: MP4/3GP input goes through the Gannet reader once it exists; until
  // then such files are refused with a clear message.
  if (data.size() >= 8 && std::memcmp(data.data() + 4, "ftyp", 4) == 0) {
    std::fprintf(stderr, "osprey-decode: %s: MP4/3GP input is not supported yet; give an ADTS (.aac) file\n",
                 paths[0]);
    return 1;
  }
  osprey::AdtsFrame first;
  size_t start = 0;
  while (start + 7 <= data.size() &&
         !osprey::ParseAdtsHeader(data.data() + start, data.size() - start, first))
    ++start;
  if (start + 7 > data.size()) {
    std::fprintf(stderr, "osprey-decode: %s: no ADTS frame found\n", paths[0]);
    return 1;
  }
  uint8_t asc[2];
  osprey::AdtsToAudioSpecificConfig(first, asc);
  AacConfig config{};
  config.channels = static_cast<uint8_t>(channels);
  AudioDecoder* decoder = nullptr;
  const int rc = gCreateAACDecoder(&decoder, &config, asc, sizeof asc);
  if (rc != 0) {
    std::fprintf(stderr, "osprey-decode: %s: %s (%d)\n", paths[0], ErrorText(rc), rc);
    return 1;
  }

  FILE* out = nullptr;
  if (!info) {
    out = std::fopen(paths[1], "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "osprey-decode: cannot write %s\n", paths[1]);
      decoder->destroy(decoder);
      return 1;
    }
  }
  std::vector<int16_t> pcm(2 * 1024);
  size_t pos = start, frames = 0, skipped = 0, payload = 0;
  while (pos + 7 <= data.size()) {
    osprey::AdtsFrame frame;
    if (!osprey::ParseAdtsHeader(data.data() + pos, data.size() - pos, frame)) {
      ++pos;  // resynchronise on the next syncword
      ++skipped;
      continue;
    }
    if (frame.rawBlocks == 1) {
      uint32_t length = static_cast<uint32_t>(frame.frameSize - frame.headerSize);
      uint32_t size = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
      payload += length;
      decoder->decode(decoder, data.data() + pos + frame.headerSize, &length, pcm.data(), &size);
      if (out != nullptr && std::fwrite(pcm.data(), 1, size, out) != size) {
        std::fprintf(stderr, "osprey-decode: write error on %s\n", paths[1]);
        std::fclose(out);
        decoder->destroy(decoder);
        return 1;
      }
      ++frames;
    }
    pos += frame.frameSize;
  }
  decoder->destroy(decoder);
  if (info) {
    const double seconds = frames * 1024.0 / config.sampleRate;
    std::printf("format: AAC LC (ADTS)\nsample rate: %u Hz\nchannels: %u\nframes: %zu\nduration: %.3f s\n",
                config.sampleRate, config.channels, frames, seconds);
    if (seconds > 0) std::printf("bitrate: %.0f bit/s\n", payload * 8.0 / seconds);
    return 0;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "osprey-decode: write error on %s\n", paths[1]);
    return 1;
  }
  if (skipped > 0) std::fprintf(stderr, "osprey-decode: skipped %zu bytes of damaged framing\n", skipped);
  return 0;
}
