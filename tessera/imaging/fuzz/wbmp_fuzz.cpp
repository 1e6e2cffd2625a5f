#include <cstdint>
#include <vector>

#include "imaging/wbmp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto stream = mms::ByteStream::OpenMemory(data, static_cast<std::int64_t>(size));
  std::unique_ptr<imaging::WbmpReader> reader;
  if (imaging::WbmpReader::Open(stream.get(), &reader) != imaging::kWbmpOk) return 0;
  const auto& h = reader->header();
  std::vector<std::uint8_t> row(static_cast<std::size_t>(imaging::DibStride(h.biWidth, 1)));
  for (int y = 0; y < h.biHeight; ++y) {
    int first = 0, got = 0;
    if (reader->ReadRows(row.data(), 1, &first, &got) != imaging::kWbmpOk || got != 1) break;
  }
  return 0;
}
