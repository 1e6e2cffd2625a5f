#include "mp4_builder.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace gannet_testing {

BoxWriter& BoxWriter::U8(uint32_t v) {
  buf_.push_back(uint8_t(v));
  return *this;
}
BoxWriter& BoxWriter::U16(uint32_t v) {
  return U8(v >> 8).U8(v);
}
BoxWriter& BoxWriter::U32(uint32_t v) {
  return U16(v >> 16).U16(v);
}
BoxWriter& BoxWriter::Type(const char* t) {
  buf_.insert(buf_.end(), t, t + 4);
  return *this;
}
BoxWriter& BoxWriter::Zeros(size_t n) {
  buf_.insert(buf_.end(), n, 0);
  return *this;
}
BoxWriter& BoxWriter::Raw(const Bytes& b) {
  buf_.insert(buf_.end(), b.begin(), b.end());
  return *this;
}
BoxWriter& BoxWriter::Text(const std::string& s) {
  buf_.insert(buf_.end(), s.begin(), s.end());
  return *this;
}
BoxWriter& BoxWriter::Open(const char* type) {
  open_.push_back(buf_.size());
  return U32(0).Type(type);
}
BoxWriter& BoxWriter::OpenFull(const char* type, uint8_t version, uint32_t flags) {
  return Open(type).U8(version).U8(flags >> 16).U16(flags);
}
BoxWriter& BoxWriter::Close() {
  size_t at = open_.back();
  open_.pop_back();
  uint32_t size = uint32_t(buf_.size() - at);
  buf_[at] = uint8_t(size >> 24);
  buf_[at + 1] = uint8_t(size >> 16);
  buf_[at + 2] = uint8_t(size >> 8);
  buf_[at + 3] = uint8_t(size);
  return *this;
}

uint8_t SampleByte(uint32_t trackId, uint32_t n, uint32_t k) {
  return uint8_t(trackId * 53 + n * 7 + k * 3);
}

namespace {

void Esds(BoxWriter& w, uint16_t esId, uint8_t objectType, uint8_t streamType, const Bytes& dsi) {
  w.OpenFull("esds", 0, 0);
  uint8_t dcdLen = uint8_t(13 + 2 + dsi.size());
  w.U8(3).U8(uint8_t(3 + 2 + dcdLen + 3)).U16(esId).U8(0);
  w.U8(4).U8(dcdLen).U8(objectType).U8((streamType << 2) | 1).U8(0).U16(0x1000).U32(64000).U32(48000);
  w.U8(5).U8(uint8_t(dsi.size())).Raw(dsi);
  w.U8(6).U8(1).U8(2);
  w.Close();
}

void VisualEntryHead(BoxWriter& w, const char* type, uint16_t width, uint16_t height) {
  w.Open(type).Zeros(6).U16(1);  // reserved, data_reference_index
  w.Zeros(16)
      .U16(width)
      .U16(height)
      .U32(0x00480000)
      .U32(0x00480000)
      .U32(0)
      .U16(1)
      .Zeros(32)
      .U16(24)
      .U16(0xFFFF);
}

void AudioEntryHead(BoxWriter& w, const char* type, uint16_t channels, uint16_t rate) {
  w.Open(type).Zeros(6).U16(1);
  w.Zeros(8).U16(channels).U16(16).U32(0).U16(rate).U16(0);
}

}  // namespace

Bytes Mp4vEntry(uint16_t esId, uint16_t width, uint16_t height, const Bytes& dsi) {
  BoxWriter w;
  VisualEntryHead(w, "mp4v", width, height);
  Esds(w, esId, 32, 4, dsi);
  w.Close();
  return w.Take();
}

Bytes Mp4aEntry(uint16_t esId, uint16_t channels, uint16_t rate, const Bytes& dsi) {
  BoxWriter w;
  AudioEntryHead(w, "mp4a", channels, rate);
  Esds(w, esId, 64, 5, dsi);
  w.Close();
  return w.Take();
}

Bytes SamrEntry(uint16_t modeSet, uint8_t framesPerSample) {
  BoxWriter w;
  AudioEntryHead(w, "samr", 1, 8000);
  w.Open("damr").Type("abcd").U8(3).U16(modeSet).U8(2).U8(framesPerSample).Close();
  w.Close();
  return w.Take();
}

Bytes S263Entry(uint8_t level, uint8_t profile) {
  BoxWriter w;
  VisualEntryHead(w, "s263", 176, 144);
  w.Open("d263").Type("wxyz").U8(5).U8(level).U8(profile).Close();
  w.Close();
  return w.Take();
}

Bytes RtpEntry(uint32_t maxPacketSize, uint32_t tims) {
  BoxWriter w;
  w.Open("rtp ").Zeros(6).U16(1).U16(1).U16(1).U32(maxPacketSize);
  w.Open("tims").U32(tims).Close();
  w.Close();
  return w.Take();
}

namespace {

struct Chunk {
  uint32_t first;  // 1-based first sample
  uint32_t count;
};

std::vector<Chunk> Chunks(const TrackLayout& t, uint32_t samples) {
  std::vector<Chunk> chunks;
  if (t.stsc.empty()) {
    for (uint32_t n = 1; n <= samples; ++n) chunks.push_back({n, 1});
    return chunks;
  }
  uint32_t next = 1;
  for (size_t i = 0; i < t.stsc.size(); ++i) {
    uint32_t end = i + 1 < t.stsc.size() ? t.stsc[i + 1][0] : UINT32_MAX;
    for (uint32_t c = t.stsc[i][0]; c < end && next <= samples; ++c) {
      chunks.push_back({next, t.stsc[i][1]});
      next += t.stsc[i][1];
    }
  }
  return chunks;
}

}  // namespace

Bytes BuildMovie(const MovieLayout& input) {
  MovieLayout layout = input;
  for (TrackLayout& t : layout.tracks) {
    if (t.sampleData.empty()) continue;
    t.sizes.clear();
    for (const Bytes& b : t.sampleData) t.sizes.push_back(uint32_t(b.size()));
  }
  BoxWriter w;
  w.Open("ftyp").Type("isom").U32(0).Type("isom").Type("mp41").Close();

  // mdat first, so chunk offsets are known when the tables are written.
  std::vector<std::vector<Chunk>> chunks;
  std::vector<std::vector<uint32_t>> offsets;
  w.Open("mdat");
  for (const TrackLayout& t : layout.tracks) {
    uint32_t samples = t.constantSize ? t.constantCount : uint32_t(t.sizes.size());
    chunks.push_back(Chunks(t, samples));
    offsets.emplace_back();
    for (const Chunk& c : chunks.back()) {
      offsets.back().push_back(uint32_t(w.size()));
      for (uint32_t n = c.first; n < c.first + c.count && n <= samples; ++n) {
        uint32_t size = t.constantSize ? t.constantSize : t.sizes[n - 1];
        if (!t.sampleData.empty()) {
          w.Raw(t.sampleData[n - 1]);
          continue;
        }
        for (uint32_t k = 0; k < size; ++k) w.U8(SampleByte(t.id, n, k));
      }
    }
  }
  w.Close();

  w.Open("moov");
  w.OpenFull("mvhd", 0, 0)
      .U32(0)
      .U32(0)
      .U32(layout.timescale)
      .U32(layout.duration)
      .U32(0x00010000)
      .U16(0x0100);
  w.Zeros(10).Zeros(36).Zeros(24).U32(uint32_t(layout.tracks.size() + 1)).Close();
  for (size_t ti = 0; ti < layout.tracks.size(); ++ti) {
    const TrackLayout& t = layout.tracks[ti];
    uint32_t samples = t.constantSize ? t.constantCount : uint32_t(t.sizes.size());
    w.Open("trak");
    w.OpenFull("tkhd", 0, 7)
        .U32(0)
        .U32(0)
        .U32(t.id)
        .U32(0)
        .U32(t.duration)
        .Zeros(8)
        .U16(0)
        .U16(0)
        .U16(0)
        .U16(0);
    w.Zeros(36).U32(176 << 16).U32(144 << 16).Close();
    w.Raw(t.trakExtra);
    w.Open("mdia");
    w.OpenFull("mdhd", 0, 0).U32(0).U32(0).U32(t.timescale).U32(t.duration).U16(0x55C4).U16(0).Close();
    w.OpenFull("hdlr", 0, 0).U32(0).Type(t.handler.c_str()).Zeros(12).Text("x").U8(0).Close();
    w.Open("minf");
    w.OpenFull(t.handler == "soun" ? "smhd" : "vmhd", 0, 1).Zeros(t.handler == "soun" ? 4 : 8).Close();
    if (!t.noDinf) {
      w.Open("dinf").OpenFull("dref", 0, 0).U32(1).OpenFull("url ", 0, 1).Close().Close().Close();
    }
    w.Raw(t.minfExtra);
    w.Open("stbl");
    w.OpenFull("stsd", 0, 0).U32(uint32_t(1 + t.moreSampleEntries.size()));
    w.Raw(t.sampleEntry.empty() ? Mp4vEntry() : t.sampleEntry);
    for (const Bytes& e : t.moreSampleEntries) w.Raw(e);
    w.Close();
    w.OpenFull("stts", 0, 0);
    if (t.stts.empty()) {
      w.U32(1).U32(samples).U32(t.defaultDelta);
    } else {
      w.U32(uint32_t(t.stts.size()));
      for (auto& e : t.stts) w.U32(e.first).U32(e.second);
    }
    w.Close();
    if (t.ctts) {
      w.OpenFull("ctts", 0, 0).U32(uint32_t(t.ctts->size()));
      for (auto& e : *t.ctts) w.U32(e.first).U32(e.second);
      w.Close();
    }
    if (t.stss) {
      w.OpenFull("stss", 0, 0).U32(uint32_t(t.stss->size()));
      for (uint32_t v : *t.stss) w.U32(v);
      w.Close();
    }
    w.OpenFull("stsc", 0, 0);
    if (t.stsc.empty()) {
      w.U32(1).U32(1).U32(1).U32(1);
    } else {
      w.U32(uint32_t(t.stsc.size()));
      for (auto& e : t.stsc) w.U32(e[0]).U32(e[1]).U32(e[2]);
    }
    w.Close();
    w.OpenFull("stsz", 0, 0).U32(t.constantSize).U32(samples);
    if (!t.constantSize)
      for (uint32_t s : t.sizes) w.U32(s);
    w.Close();
    const std::vector<uint32_t>& co = t.chunkOffsets ? *t.chunkOffsets : offsets[ti];
    w.OpenFull("stco", 0, 0).U32(uint32_t(co.size()));
    for (uint32_t o : co) w.U32(o);
    w.Close();
    w.Raw(t.stblExtra);
    w.Close().Close().Close().Close();  // stbl, minf, mdia, trak
  }
  w.Raw(layout.moovExtra);
  w.Close();
  return w.Take();
}

uint32_t Be32At(const Bytes& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

void PutBe32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t FindBox(const Bytes& file, const char* type, size_t from) {
  for (size_t i = from + 4; i + 4 <= file.size(); ++i)
    if (memcmp(file.data() + i, type, 4) == 0) return i - 4;
  return std::string::npos;
}

}  // namespace gannet_testing
