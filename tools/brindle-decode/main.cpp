// brindle-decode: decodes a raw MPEG-4 Part 2 (.m4v) or H.263 (.263) elementary stream into raw
// I420 frames, or prints one MD5 per frame in the framemd5 layout.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decoder.h"
#include "md5.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: brindle-decode [--framemd5] IN.(m4v|263|mp4|3gp) [OUT.yuv]\n"
               "  writes every decoded frame as raw I420 to OUT.yuv, or with --framemd5 prints\n"
               "  one MD5 per frame (to OUT when given, else to standard output)\n");
}

bool EndsWith(const std::string& s, const char* suffix) {
  std::size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
  return true;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The visible picture as I420 with chroma of ceil(w/2) x ceil(h/2).
void ExtractFrame(const brindle::Decoder& d, std::vector<std::uint8_t>& out) {
  const brindle::Picture& p = d.Current();
  int w = d.Width(), h = d.Height(), cw = (w + 1) / 2, ch = (h + 1) / 2;
  out.clear();
  for (int r = 0; r < h; ++r) out.insert(out.end(), p.y + r * p.stride, p.y + r * p.stride + w);
  for (int r = 0; r < ch; ++r) out.insert(out.end(), p.u + r * p.chromaStride, p.u + r * p.chromaStride + cw);
  for (int r = 0; r < ch; ++r) out.insert(out.end(), p.v + r * p.chromaStride, p.v + r * p.chromaStride + cw);
}

}  // namespace

int main(int argc, char** argv) {
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
  if (EndsWith(in, ".mp4") || EndsWith(in, ".3gp")) {
    std::fprintf(stderr,
                 "brindle-decode: %s: MP4/3GP input needs the MP4 reader, which is not built yet; "
                 "give a raw .m4v or .263 stream\n",
                 in.c_str());
    return 2;
  }
  std::vector<std::uint8_t> data;
  if (!ReadFile(in, data)) {
    std::fprintf(stderr, "brindle-decode: cannot read %s\n", in.c_str());
    return 1;
  }
  brindle::LayerInfo layer;
  std::size_t pos = 0;
  if (brindle::ParseLayerHeaders(data.data(), data.size(), layer, &pos) != brindle::ParseResult::kOk) {
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
  std::vector<std::uint8_t> frame;
  int frames = 0, failures = 0;
  while (pos < data.size()) {
    std::size_t used = 0;
    int r = decoder.Decode(data.data() + pos, data.size() - pos, &used);
    if (used == 0) break;
    pos += used;
    if (r == 1) continue;  // not coded: nothing new to show
    if (r < 0) {
      ++failures;
      std::fprintf(stderr, "brindle-decode: picture %d is broken; skipped\n", frames + failures);
      continue;
    }
    ExtractFrame(decoder, frame);
    if (md5) {
      Md5 h;
      h.Update(frame.data(), frame.size());
      std::fprintf(out, "0, %10d, %10d, %8d, %8zu, %s\n", frames, frames, 1, frame.size(),
                   h.FinishHex().c_str());
    } else if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
      std::fprintf(stderr, "brindle-decode: write failed\n");
      return 1;
    }
    ++frames;
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
