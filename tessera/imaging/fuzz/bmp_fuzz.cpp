#include <cstdint>
#include <vector>

#include "imaging/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
  std::unique_ptr<imaging::BmpReader> reader;
  if (imaging::BmpReader::Open(stream.get(), &reader) != imaging::kBmpOk) return 0;
  const auto& h = reader->header();
  imaging::RGBQUAD table[256];
  int count = 256;
  reader->Palette(table, &count);
  std::uint32_t masks[3];
  reader->Masks(masks);
  // Narrow the rows on odd inputs so the column map is exercised too.
  if (size & 1) reader->SetOutputWidth(h.biWidth > 3 ? h.biWidth / 3 : 1);
  const int bits = h.biBitCount > 32 ? 32 : h.biBitCount;
  // Keep each run short and small: very wide rows are the reader's budget, not the fuzzer's.
  if (imaging::DibStride(h.biWidth, bits < 1 ? 1 : bits) > (1 << 20)) return 0;
  std::vector<std::uint8_t> rows(
      static_cast<std::size_t>(imaging::DibStride(reader->outputWidth(), bits < 1 ? 1 : bits)) * 2);
  for (int y = 0; y < h.biHeight; y += 2) {
    int first = 0, got = 0;
    if (reader->ReadRows(rows.data(), 2, &first, &got) != imaging::kBmpOk || got == 0) break;
  }
  return 0;
}
