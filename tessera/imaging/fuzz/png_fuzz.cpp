#include <cstdint>
#include <vector>

#include "imaging/png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
  imaging::PngReader* reader = nullptr;
  if (imaging::PngOpenReader(stream.get(), &reader) != imaging::kPngOk) return 0;
  imaging::BITMAPINFOHEADER h;
  imaging::PngLayout layout;
  int paletteSize = 0;
  std::uint8_t palette[1024];
  imaging::PngGetHeader(reader, &h);
  imaging::PngGetPalette(reader, nullptr, &paletteSize);
  paletteSize = sizeof palette;
  imaging::PngGetPalette(reader, palette, &paletteSize);
  imaging::PngGetLayout(reader, &layout);
  // Keep each run short: the decoders accept far larger pictures than a fuzz run needs.
  if (static_cast<std::int64_t>(layout.width) * layout.height <= (1 << 20)) {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(layout.rowBytes) * layout.height);
    for (int pass = 0; pass < layout.passes; ++pass) {
      if (imaging::PngReadRows(reader, rows.data(), layout.height, nullptr, nullptr) != imaging::kPngOk)
        break;
    }
  }
  imaging::PngCloseReader(reader);
  return 0;
}
