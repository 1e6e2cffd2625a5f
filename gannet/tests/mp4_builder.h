// Test helper: writes small ISO media files box by box, so each test states exactly the layout it
// exercises.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gannet_testing {

using Bytes = std::vector<uint8_t>;

/// Appends big-endian fields and nested boxes whose sizes are patched on Close.
class BoxWriter {
 public:
  BoxWriter& U8(uint32_t v);
  BoxWriter& U16(uint32_t v);
  BoxWriter& U32(uint32_t v);
  BoxWriter& Type(const char* fourcc);
  BoxWriter& Zeros(size_t n);
  BoxWriter& Raw(const Bytes& bytes);
  BoxWriter& Text(const std::string& s);
  BoxWriter& Open(const char* type);
  BoxWriter& OpenFull(const char* type, uint8_t version, uint32_t flags);
  BoxWriter& Close();
  size_t size() const { return buf_.size(); }
  const Bytes& bytes() const { return buf_; }
  Bytes Take() { return std::move(buf_); }

 private:
  Bytes buf_;
  std::vector<size_t> open_;
};

struct TrackLayout {
  uint32_t id = 1;
  std::string handler = "vide";
  uint32_t timescale = 1000;
  uint32_t duration = 0;
  std::vector<uint32_t> sizes;    // one per sample
  std::vector<Bytes> sampleData;  // explicit sample bytes (sizes then follow them)
  uint32_t constantSize = 0;      // non-zero: stsz with one size for `constantCount` samples
  uint32_t constantCount = 0;
  std::vector<std::array<uint32_t, 3>> stsc;        // first chunk, samples per chunk, description index
  std::vector<std::pair<uint32_t, uint32_t>> stts;  // empty: every sample lasts `defaultDelta`
  uint32_t defaultDelta = 100;
  std::optional<std::vector<std::pair<uint32_t, uint32_t>>> ctts;
  std::optional<std::vector<uint32_t>> stss;
  Bytes sampleEntry;                                  // empty: an 'mp4v' entry with a small esds
  std::vector<Bytes> moreSampleEntries;               // further entries of the stsd
  Bytes trakExtra;                                    // boxes appended inside 'trak' (tref, udta, ...)
  Bytes minfExtra;                                    // boxes appended inside 'minf'
  Bytes stblExtra;                                    // boxes appended inside 'stbl'
  std::optional<std::vector<uint32_t>> chunkOffsets;  // overrides the computed stco
  bool noDinf = false;
};

struct MovieLayout {
  std::vector<TrackLayout> tracks;
  uint32_t timescale = 1000;
  uint32_t duration = 0;
  Bytes moovExtra;  // boxes appended inside 'moov'
};

/// Byte k of sample n (1-based) of track t: the pattern that BuildMovie stores in 'mdat'.
uint8_t SampleByte(uint32_t trackId, uint32_t n, uint32_t k);

/// ftyp, mdat (samples of every track, chunk by chunk), moov.
Bytes BuildMovie(const MovieLayout& layout);

/// Sample entries.
Bytes Mp4vEntry(uint16_t esId = 1, uint16_t width = 176, uint16_t height = 144, const Bytes& dsi = {1, 2, 3});
Bytes Mp4aEntry(uint16_t esId = 2, uint16_t channels = 1, uint16_t rate = 16000,
                const Bytes& dsi = {0x14, 0x08});
Bytes SamrEntry(uint16_t modeSet = 0x81FF, uint8_t framesPerSample = 1);
Bytes S263Entry(uint8_t level = 10, uint8_t profile = 0);
Bytes RtpEntry(uint32_t maxPacketSize, uint32_t tims);

uint32_t Be32At(const Bytes& b, size_t at);
void PutBe32(Bytes* b, size_t at, uint32_t v);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
/// Offset of the first box of `type` found walking containers from the top, or npos.
size_t FindBox(const Bytes& file, const char* type, size_t from = 0);

}  // namespace gannet_testing
