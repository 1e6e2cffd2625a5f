#include <cstdint>
#include <vector>

#include "imaging/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
  std::unique_ptr<imaging::JpegReader> reader;
  if (imaging::JpegReader::Open(stream.get(), &reader) != imaging::kJpegOk) return 0;
  int w = 0, h = 0;
  reader->Size(&w, &h);
  // Keep each run short: decode at most about a megapixel after scaling.
  if (static_cast<std::int64_t>(w) * h > (1 << 22)) return 0;
  int rw = (size & 1) ? 64 : 0, rh = rw;
  reader->Size(&rw, &rh);
  imaging::BITMAPINFOHEADER header;
  if (reader->Start(&header) != imaging::kJpegOk) return 0;
  std::vector<std::uint8_t> row(
      static_cast<std::size_t>(imaging::DibStride(header.biWidth, header.biBitCount)));
  for (int y = 0; y < header.biHeight; ++y) {
    int first = 0, got = 0;
    if (reader->ReadRows(row.data(), 1, &first, &got) != imaging::kJpegOk || got != 1) break;
  }
  return 0;
}
