#include <cstdint>
#include <vector>

#include "imaging/gif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
    imaging::Box box{64, 48};
    auto player = imaging::GifPlayer::Open(stream.get(), &box);
    if (player) {
      for (int n = 0; n < 16; ++n) {
        bool end = false;
        int delay = 0;
        if (!player->Render(n, &end, &delay)) break;
      }
    }
  }
  {
    auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
    std::unique_ptr<imaging::GifDecoder> decoder;
    if (imaging::GifDecoder::Open(stream.get(), &decoder) == imaging::kGifOk) {
      imaging::GifPrescan scan;
      decoder->Prescan(&scan);
    }
  }
  {
    // Shrinking re-encodes what it decodes; the output block is small on purpose.
    auto in = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
    std::vector<std::uint8_t> out(8192);
    auto sink = mms::ByteStream::OpenMemory(out.data(), static_cast<std::int64_t>(out.size()));
    bool written = false;
    imaging::ShrinkGif(in.get(), sink.get(), imaging::Box{16, 16}, &written);
  }
  return 0;
}
