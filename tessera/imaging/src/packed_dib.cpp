#include "imaging/packed_dib.h"

#include <cstring>
#include <new>

namespace imaging {

std::unique_ptr<PackedDib> PackedDib::Create(int width, int height, int bits) {
  if (!WithinPixelBudget(width, height)) return nullptr;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  const int colors = bits <= 8 ? (1 << bits) : 0;
  const std::int64_t stride = DibStride(width, bits);
  // Header (10 quads) and colour table ahead of the rows, all in one zeroed block.
  const std::size_t size = static_cast<std::size_t>(stride * height + (colors + 10) * 4);
  std::unique_ptr<PackedDib> dib(new (std::nothrow) PackedDib());
  if (!dib) return nullptr;
  dib->block_.reset(new (std::nothrow) std::uint8_t[size]);
  if (!dib->block_) return nullptr;
  std::memset(dib->block_.get(), 0, size);
  dib->size_ = size;
  dib->pixelOffset_ = sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(colors) * 4;
  dib->colorCount_ = colors;
  BITMAPINFOHEADER h;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<WORD>(bits);
  h.biSizeImage = static_cast<DWORD>(stride * height);
  h.biXPelsPerMeter = kDefaultPelsPerMeter;
  h.biYPelsPerMeter = kDefaultPelsPerMeter;
  h.biClrUsed = static_cast<DWORD>(colors);
  std::memcpy(dib->block_.get(), &h, sizeof h);
  return dib;
}

void PackedDib::Fill(std::uint8_t value) {
  std::memset(bits_data(), value, static_cast<std::size_t>(stride() * height()));
}

}  // namespace imaging
