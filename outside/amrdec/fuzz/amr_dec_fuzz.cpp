// Arbitrary bytes through the AMR decoder object: open, read everything, seek, read.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/clip_decoder.h"

extern "C" audio::ClipDecoder* VC_GetDecoder();

namespace {
class MemoryClip final : public audio::ClipStream {
 public:
  MemoryClip(const std::uint8_t* d, std::size_t n) : d_(d), n_(static_cast<std::int64_t>(n)) {}
  std::int64_t Read(void* dst, std::int64_t n) override {
    n = std::min(n, n_ - pos_);
    if (n <= 0) return 0;
    std::memcpy(dst, d_ + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  int Seek(std::int64_t off, int origin) override {
    std::int64_t base = origin == kFromStart ? 0 : origin == kFromEnd ? n_ : pos_;
    if (base + off < 0 || base + off > n_) return -1;
    pos_ = base + off;
    return 0;
  }
  std::int64_t Tell() override { return pos_; }
  std::int64_t Size() override { return n_; }

 private:
  const std::uint8_t* d_;
  std::int64_t n_;
  std::int64_t pos_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryClip clip(data, size);
  std::unique_ptr<audio::ClipDecoder> d(VC_GetDecoder());
  if (d->Open(&clip, 0) != 0) return 0;
  std::vector<std::uint8_t> buf(6400);
  int ms = 0;
  for (int i = 0; i < 200 && d->Read(buf.data(), static_cast<int>(buf.size()), &ms) > 0; ++i) {
  }
  d->Seek(d->Duration() / 2);
  d->Read(buf.data(), 319, &ms);
  d->Read(buf.data(), static_cast<int>(buf.size()), &ms);
  return 0;
}
