// brindle-decode: decodes a raw MPEG-4 Simple Profile (.m4v) or H.263 (.263) elementary stream, or
// the first such video track of an MP4/3GP file, into raw I420 frames, or prints one MD5 per frame
// in the framemd5 layout.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decoder.h"
#include "gannet/gannet.h"
#include "md5.h"
#include "toolargs/toolargs.h"

namespace {

void Usage(std::FILE* to = stderr) {
  std::fprintf(to,
               "usage: brindle-decode [--framemd5] IN.(m4v|263|mp4|3gp) [OUT.yuv]\n"
               "  writes every decoded frame as raw I420 to OUT.yuv, or with --framemd5 prints\n"
               "  one MD5 per frame (to OUT when given, else to standard output)\n");
}

// A run of bytes in memory.
struct Span {
  const std::uint8_t* data;
  std::size_t size;
};

// The input file's bytes: mapped when it is a regular file (a long stream is neither copied nor
// zero-filled first), else read into memory.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() {
    if (map_ != nullptr) munmap(map_, size_);
  }

  bool Open(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* map = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (map != MAP_FAILED) {
        map_ = map;
        size_ = static_cast<std::size_t>(st.st_size);
        close(fd);
        return true;
      }
    }
    std::uint8_t buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) copy_.insert(copy_.end(), buf, buf + n);
    close(fd);
    size_ = copy_.size();
    return n == 0;
  }
  const std::uint8_t* data() const { return map_ != nullptr ? static_cast<const std::uint8_t*>(map_) : copy_.data(); }
  std::size_t size() const { return size_; }

 private:
  void* map_ = nullptr;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> copy_;
};

// The visible picture as I420 with chroma of ceil(w/2) x ceil(h/2), as spans of the decoder's
// picture in output order; rows that follow each other in memory form one span, so a picture
// whose width is a multiple of 16 goes out without a copy.
void FrameSpans(const brindle::Decoder& d, std::vector<Span>& spans, std::size_t* total) {
  const brindle::Picture& p = d.Current();
  int w = d.Width(), h = d.Height(), cw = (w + 1) / 2, ch = (h + 1) / 2;
  spans.clear();
  *total = 0;
  auto add = [&](const std::uint8_t* row, int bytes) {
    std::size_t n = static_cast<std::size_t>(bytes);
    *total += n;
    if (!spans.empty() && spans.back().data + spans.back().size == row)
      spans.back().size += n;
    else
      spans.push_back(Span{row, n});
  };
  for (int r = 0; r < h; ++r) add(p.y + r * p.stride, w);
  for (int r = 0; r < ch; ++r) add(p.u + r * p.chromaStride, cw);
  for (int r = 0; r < ch; ++r) add(p.v + r * p.chromaStride, cw);
}

bool IsMp4(const FileBytes& data) {
  if (data.size() < 8) return false;
  const char* t = reinterpret_cast<const char*>(data.data() + 4);
  for (const char* box : {"ftyp", "moov", "mdat", "free", "skip", "wide"})
    if (std::memcmp(t, box, 4) == 0) return true;
  return false;
}

// The coded pictures to decode: one unit for a raw stream, one per sample for a movie track.
struct Input {
  std::vector<std::uint8_t> header;                // decoder configuration (MPEG-4 VOL), or empty
  std::vector<std::vector<std::uint8_t>> samples;  // coded data in decoding order
};

// Reads the first MPEG-4 Visual (object type 32) or H.263 ('s263') track of a movie.
bool ReadMovie(const std::string& path, Input& in) {
  MovieFile* movie = nullptr;
  if (gOpenMP4File(&movie, path.c_str(), nullptr) != 0) {
    std::fprintf(stderr, "brindle-decode: %s: not a readable MP4/3GP file\n", path.c_str());
    return false;
  }
  TrackCounts counts{};
  std::vector<std::uint32_t> ids;
  std::uint32_t count = 0;
  if (gGetNumTraks(movie, &counts) == 0 && counts.total > 0) {
    ids.resize(counts.total);
    if (gGetTrakIds(movie, kGannetTrackVideo, ids.data(), &count) != 0) count = 0;
  }
  std::uint32_t trackId = 0;
  for (std::uint32_t i = 0; i < count && i < ids.size() && trackId == 0; ++i) {
    DecoderConfig* cfg = nullptr;
    if (gGetDecoderCfg(movie, ids[i], &cfg) != 0 || cfg == nullptr) continue;
    if (cfg->kind == 1 && cfg->objectType == 32) {
      trackId = ids[i];
      if (cfg->decoderSpecificInfo != nullptr)
        in.header.assign(cfg->decoderSpecificInfo, cfg->decoderSpecificInfo + cfg->decoderSpecificInfoSize);
    } else if (cfg->kind == 2 && cfg->objectType == 194) {
      trackId = ids[i];
    }
    cfg->release(cfg);
  }
  bool ok = trackId != 0;
  if (!ok) std::fprintf(stderr, "brindle-decode: %s: no MPEG-4 Visual or H.263 video track\n", path.c_str());
  TrakSession* session = nullptr;
  std::uint32_t samples = 0, maxSize = 0;
  if (ok && (gOpenTrakSession(movie, &session, trackId) != 0 || gGetTotalSamplesInTrak(session, &samples) != 0 ||
             gGetMaxSampleSize(session, &maxSize) != 0)) {
    std::fprintf(stderr, "brindle-decode: %s: cannot read the sample table of track %u\n", path.c_str(), trackId);
    ok = false;
  }
  std::vector<std::uint8_t> buffer(maxSize > 0 ? maxSize : 1);
  for (std::uint32_t n = 1; ok && n <= samples; ++n) {
    SampleRequest request{};
    request.sampleNumber = n;
    request.buffer = buffer.data();
    if (gReadSample(session, &request) != 0 || request.size > buffer.size()) {
      std::fprintf(stderr, "brindle-decode: %s: cannot read sample %u\n", path.c_str(), n);
      ok = false;
      break;
    }
    in.samples.emplace_back(buffer.begin(), buffer.begin() + request.size);
  }
  if (session != nullptr) gCloseTrakSession(session);
  gCloseMP4File(movie);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "brindle-decode", [](std::FILE* to) { Usage(to); }); rc >= 0)
    return rc;
  bool md5 = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--framemd5")
      md5 = true;
    else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else
      files.push_back(a);
  }
  if (files.empty() || files.size() > 2 || (!md5 && files.size() != 2)) {
    Usage();
    return 2;
  }
  const std::string& in = files[0];
  FileBytes data;
  if (!data.Open(in)) {
    std::fprintf(stderr, "brindle-decode: cannot read %s\n", in.c_str());
    return 1;
  }
  Input input;
  std::vector<Span> units;  // coded data in decoding order
  if (IsMp4(data)) {
    if (!ReadMovie(in, input)) return 1;
    for (const std::vector<std::uint8_t>& sample : input.samples) units.push_back(Span{sample.data(), sample.size()});
  } else {
    units.push_back(Span{data.data(), data.size()});
  }
  // The layer headers come from the decoder configuration (MPEG-4 in a movie), else from the
  // start of the stream (raw streams, and H.263 whose picture header carries the format).
  brindle::LayerInfo layer;
  std::size_t pos = 0;
  bool found = false;
  if (!input.header.empty()) {
    std::size_t used = 0;
    found = brindle::ParseLayerHeaders(input.header.data(), input.header.size(), layer, &used) ==
            brindle::ParseResult::kOk;
  } else if (!units.empty()) {
    found = brindle::ParseLayerHeaders(units[0].data, units[0].size, layer, &pos) ==
            brindle::ParseResult::kOk;
  }
  if (!found) {
    std::fprintf(stderr, "brindle-decode: %s: no supported MPEG-4 Simple Profile or H.263 header\n",
                 in.c_str());
    return 1;
  }
  brindle::Decoder decoder;
  if (decoder.Configure(layer) != 0) {
    std::fprintf(stderr, "brindle-decode: out of memory\n");
    return 1;
  }
  std::FILE* out = stdout;
  if (files.size() == 2) {
    std::string error;
    if (!toolargs::MakeOutputFolder(files[1], &error)) {
      std::fprintf(stderr, "brindle-decode: %s\n", error.c_str());
      return 1;
    }
    out = std::fopen(files[1].c_str(), "wb");
    if (!out) {
      std::fprintf(stderr, "brindle-decode: cannot create %s\n", files[1].c_str());
      return 1;
    }
  }
  if (md5) {
    std::fprintf(out,
                 "#format: frame checksums\n#version: 2\n#hash: MD5\n#tb 0: 1/25\n#media_type 0: video\n"
                 "#codec_id 0: rawvideo\n#dimensions 0: %dx%d\n#sar 0: 1/1\n"
                 "#stream#, dts,        pts, duration,     size, hash\n",
                 decoder.Width(), decoder.Height());
  }
  std::vector<Span> spans;
  int frames = 0, failures = 0;
  for (const Span& unit : units) {
    while (pos < unit.size) {
      std::size_t used = 0;
      int r = decoder.Decode(unit.data + pos, unit.size - pos, &used);
      if (used == 0) break;
      pos += used;
      if (r == 1) continue;  // not coded: nothing new to show
      if (r < 0) {
        ++failures;
        std::fprintf(stderr, "brindle-decode: picture %d is broken; skipped\n", frames + failures);
        continue;
      }
      std::size_t frameSize = 0;
      FrameSpans(decoder, spans, &frameSize);
      if (md5) {
        Md5 h;
        for (const Span& s : spans) h.Update(s.data, s.size);
        std::fprintf(out, "0, %10d, %10d, %8d, %8zu, %s\n", frames, frames, 1, frameSize, h.FinishHex().c_str());
      } else {
        bool written = true;
        for (const Span& s : spans) written = written && std::fwrite(s.data, 1, s.size, out) == s.size;
        if (!written) {
          std::fprintf(stderr, "brindle-decode: write failed\n");
          if (out != stdout) std::fclose(out);
          return 1;
        }
      }
      ++frames;
    }
    pos = 0;
  }
  if (out != stdout && std::fclose(out) != 0) {
    std::fprintf(stderr, "brindle-decode: write failed\n");
    return 1;
  }
  if (frames == 0) {
    std::fprintf(stderr, "brindle-decode: %s: no picture could be decoded\n", in.c_str());
    return 1;
  }
  return failures > 0 ? 1 : 0;
}
