// osprey-decode: decodes AAC LC in ADTS framing (.aac) or from an MP4/3GP file (.mp4, .m4a,
// .3gp: the first AAC track) to raw 16-bit PCM.
//
//   osprey-decode [--channels 1|2] IN OUT.raw   s16le interleaved samples
//   osprey-decode --info IN                      stream summary
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gannet/gannet.h"
#include "osprey/adts.h"
#include "osprey/osprey.h"
#include "toolargs/toolargs.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: osprey-decode [--channels 1|2] IN OUT.raw\n"
               "       osprey-decode --info IN\n"
               "IN is AAC LC in ADTS framing (.aac) or an MP4/3GP file with an AAC track;\n"
               "OUT receives s16le interleaved samples.\n");
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

// A window on the input that slides forward as frames are consumed, so that a
// long stream needs neither a buffer of its size nor copies of it.
class InputWindow {
 public:
  // Larger than any ADTS frame (13-bit length): a frame that fits in the file
  // always fits in the window.
  static constexpr size_t kMaxFrame = 8191;

  explicit InputWindow(FILE* file) : file_(file), buffer_(size_t{1} << 20) {}

  // The bytes from absolute offset `pos` (never behind an earlier call's, never past
  // the end of the bytes it returned): at least `want` of them unless the file ends
  // first; *available tells how many.
  const uint8_t* At(size_t pos, size_t want, size_t* available) {
    if (pos + want > base_ + length_ && !ended_) {
      const size_t keep = base_ + length_ - pos;
      std::memmove(buffer_.data(), buffer_.data() + (pos - base_), keep);
      base_ = pos;
      length_ = keep;
      while (length_ < buffer_.size()) {
        const size_t n = std::fread(buffer_.data() + length_, 1, buffer_.size() - length_, file_);
        if (n == 0) {
          ended_ = true;
          failed_ = std::ferror(file_) != 0;
          break;
        }
        length_ += n;
      }
    }
    *available = base_ + length_ - pos;
    return buffer_.data() + (pos - base_);
  }
  bool Failed() const { return failed_; }

 private:
  FILE* file_;
  std::vector<uint8_t> buffer_;
  size_t base_ = 0;    // file offset of buffer_[0]
  size_t length_ = 0;  // bytes held
  bool ended_ = false;
  bool failed_ = false;
};

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

// Where decoded PCM goes: a file, or nowhere (--info).
struct Output {
  FILE* file = nullptr;
  const char* path = nullptr;
  bool Write(const int16_t* pcm, uint32_t bytes) {
    if (file == nullptr || bytes == 0) return true;
    if (std::fwrite(pcm, 1, bytes, file) == bytes) return true;
    std::fprintf(stderr, "osprey-decode: write error on %s\n", path);
    return false;
  }
};

void PrintInfo(const char* format, const AacConfig& config, size_t frames, size_t payload) {
  const double seconds = config.sampleRate > 0 ? frames * 1024.0 / config.sampleRate : 0.0;
  std::printf("format: %s\nsample rate: %u Hz\nchannels: %u\nframes: %zu\nduration: %.3f s\n", format,
              config.sampleRate, config.channels, frames, seconds);
  if (seconds > 0) std::printf("bitrate: %.0f bit/s\n", payload * 8.0 / seconds);
}

// Decodes the first AAC audio track of an MP4/3GP file: the AudioSpecificConfig comes from the
// track's decoder configuration, every sample is one raw AAC frame. Returns the exit status.
int DecodeMp4(const char* path, int channels, Output& out, bool info) {
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, path, nullptr) != 0) {
    std::fprintf(stderr, "osprey-decode: %s: not a readable MP4/3GP file\n", path);
    return 1;
  }
  TrackCounts counts{};
  std::vector<uint32_t> ids;
  uint32_t count = 0;
  if (gGetNumTraks(movie, &counts) == 0 && counts.total > 0) {
    ids.resize(counts.total);
    if (gGetTrakIds(movie, kGannetTrackAudio, ids.data(), &count) != 0) count = 0;
  }
  DecoderConfig* cfg = nullptr;
  uint32_t trackId = 0;
  for (uint32_t i = 0; i < count && i < ids.size(); ++i) {
    DecoderConfig* c = nullptr;
    if (gGetDecoderCfg(movie, ids[i], &c) != 0 || c == nullptr) continue;
    if (c->kind == 1 && c->objectType == 0x40 && c->decoderSpecificInfo != nullptr &&
        c->decoderSpecificInfoSize > 0) {
      cfg = c;
      trackId = ids[i];
      break;
    }
    c->release(c);
  }
  if (cfg == nullptr) {
    std::fprintf(stderr, "osprey-decode: %s: no AAC audio track with a decoder configuration\n", path);
    gCloseMP4File(movie);
    return 1;
  }
  AacConfig config{};
  config.channels = static_cast<uint8_t>(channels);
  AudioDecoder* decoder = nullptr;
  const int rc = gCreateAACDecoder(&decoder, &config, cfg->decoderSpecificInfo, cfg->decoderSpecificInfoSize);
  cfg->release(cfg);
  if (rc != 0) {
    std::fprintf(stderr, "osprey-decode: %s: %s (%d)\n", path, ErrorText(rc), rc);
    gCloseMP4File(movie);
    return 1;
  }
  TrakSession* session = nullptr;
  uint32_t samples = 0, maxSize = 0;
  if (gOpenTrakSession(movie, &session, trackId) != 0 || gGetTotalSamplesInTrak(session, &samples) != 0 ||
      gGetMaxSampleSize(session, &maxSize) != 0) {
    std::fprintf(stderr, "osprey-decode: %s: cannot read the sample table of track %u\n", path, trackId);
    if (session != nullptr) gCloseTrakSession(session);
    decoder->destroy(decoder);
    gCloseMP4File(movie);
    return 1;
  }
  std::vector<uint8_t> buffer(maxSize > 0 ? maxSize : 1);
  std::vector<int16_t> pcm(2 * 1024);
  size_t frames = 0, payload = 0, broken = 0;
  int status = 0;
  for (uint32_t n = 1; n <= samples; ++n) {
    SampleRequest request{};
    request.sampleNumber = n;
    request.buffer = buffer.data();
    if (gReadSample(session, &request) != 0) {
      std::fprintf(stderr, "osprey-decode: %s: cannot read sample %u\n", path, n);
      status = 1;
      break;
    }
    uint32_t length = request.size;
    uint32_t size = static_cast<uint32_t>(pcm.size() * sizeof(int16_t));
    payload += request.size;
    if (decoder->decode(decoder, buffer.data(), &length, pcm.data(), &size) != 0) ++broken;
    if (!out.Write(pcm.data(), size)) {
      status = 1;
      break;
    }
    ++frames;
  }
  gCloseTrakSession(session);
  decoder->destroy(decoder);
  gCloseMP4File(movie);
  if (status == 0 && info) PrintInfo("AAC LC (MP4)", config, frames, payload);
  if (broken > 0) std::fprintf(stderr, "osprey-decode: %zu damaged frames concealed\n", broken);
  return status;
}

bool IsMp4(const uint8_t* data, size_t size) {
  if (size < 8) return false;
  const uint8_t* t = data + 4;
  return std::memcmp(t, "ftyp", 4) == 0 || std::memcmp(t, "moov", 4) == 0 || std::memcmp(t, "mdat", 4) == 0 ||
         std::memcmp(t, "free", 4) == 0 || std::memcmp(t, "skip", 4) == 0 || std::memcmp(t, "wide", 4) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "osprey-decode", &PrintUsage); rc >= 0) return rc;
  bool info = false;
  int channels = 0;
  std::vector<const char*> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--info") == 0) {
      info = true;
    } else if (std::strcmp(argv[i], "--channels") == 0 && i + 1 < argc) {
      std::uint64_t n = 0;
      if (!toolargs::ParseUnsigned(argv[++i], 1, 2, &n))
        return toolargs::BadNumber("osprey-decode", "--channels", argv[i], "1 or 2");
      channels = static_cast<int>(n);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != (info ? 1u : 2u)) return Usage();
  if (std::string error; !info && !toolargs::MakeOutputFolder(paths[1], &error)) {
    std::fprintf(stderr, "osprey-decode: %s\n", error.c_str());
    return 1;
  }

  FILE* in = std::fopen(paths[0], "rb");
  InputWindow input(in);
  size_t available = 0;
  const uint8_t* head = in != nullptr ? input.At(0, InputWindow::kMaxFrame, &available) : nullptr;
  if (in == nullptr || input.Failed()) {
    std::fprintf(stderr, "osprey-decode: cannot read %s\n", paths[0]);
    if (in != nullptr) std::fclose(in);
    return 1;
  }
  if (IsMp4(head, available)) {
    std::fclose(in);
    Output mp4Out;
    mp4Out.path = info ? nullptr : paths[1];
    if (!info && (mp4Out.file = std::fopen(paths[1], "wb")) == nullptr) {
      std::fprintf(stderr, "osprey-decode: cannot write %s\n", paths[1]);
      return 1;
    }
    int status = DecodeMp4(paths[0], channels, mp4Out, info);
    if (mp4Out.file != nullptr && std::fclose(mp4Out.file) != 0 && status == 0) {
      std::fprintf(stderr, "osprey-decode: write error on %s\n", paths[1]);
      status = 1;
    }
    return status;
  }
  osprey::AdtsFrame first;
  size_t start = 0;
  for (;; ++start) {
    const uint8_t* at = input.At(start, InputWindow::kMaxFrame, &available);
    if (available < 7 || osprey::ParseAdtsHeader(at, available, first)) break;
  }
  if (available < 7) {
    std::fprintf(stderr, "osprey-decode: %s: %s\n", paths[0],
                 input.Failed() ? "read error" : "no ADTS frame found");
    std::fclose(in);
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
    std::fclose(in);
    return 1;
  }

  FILE* out = nullptr;
  if (!info) {
    out = std::fopen(paths[1], "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "osprey-decode: cannot write %s\n", paths[1]);
      decoder->destroy(decoder);
      std::fclose(in);
      return 1;
    }
  }
  // Frames are decoded into one buffer of 64 and written together: a write per
  // frame costs more than the decoding of a quiet one.
  constexpr size_t kFrameSamples = 2 * 1024;
  std::vector<int16_t> pcm(64 * kFrameSamples);
  size_t filled = 0;  // samples waiting in pcm
  auto flush = [&] {
    const size_t bytes = filled * sizeof(int16_t);
    filled = 0;
    return out == nullptr || std::fwrite(pcm.data(), 1, bytes, out) == bytes;
  };
  size_t pos = start, frames = 0, skipped = 0, payload = 0;
  bool written = true;
  while (written) {
    const uint8_t* at = input.At(pos, InputWindow::kMaxFrame, &available);
    if (available < 7) break;
    osprey::AdtsFrame frame;
    if (!osprey::ParseAdtsHeader(at, available, frame)) {
      ++pos;  // resynchronise on the next syncword
      ++skipped;
      continue;
    }
    if (frame.rawBlocks == 1) {
      uint32_t length = static_cast<uint32_t>(frame.frameSize - frame.headerSize);
      uint32_t size = static_cast<uint32_t>(kFrameSamples * sizeof(int16_t));
      payload += length;
      decoder->decode(decoder, at + frame.headerSize, &length, pcm.data() + filled, &size);
      filled += size / sizeof(int16_t);
      if (filled + kFrameSamples > pcm.size()) written = flush();
      ++frames;
    }
    pos += frame.frameSize;
  }
  if (written) written = flush();
  decoder->destroy(decoder);
  const bool readError = input.Failed();
  std::fclose(in);
  if (!written || readError) {
    if (readError) {
      std::fprintf(stderr, "osprey-decode: cannot read %s\n", paths[0]);
    } else {
      std::fprintf(stderr, "osprey-decode: write error on %s\n", paths[1]);
    }
    if (out != nullptr) {
      std::fclose(out);
      std::remove(paths[1]);  // no partial output
    }
    return 1;
  }
  if (info) {
    PrintInfo("AAC LC (ADTS)", config, frames, payload);
    return 0;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "osprey-decode: write error on %s\n", paths[1]);
    return 1;
  }
  if (skipped > 0) std::fprintf(stderr, "osprey-decode: skipped %zu bytes of damaged framing\n", skipped);
  return 0;
}
