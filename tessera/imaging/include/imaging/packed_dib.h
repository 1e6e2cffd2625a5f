#pragma once
/// PackedDib: the in-memory bitmap every image operation produces or consumes. One heap
/// block holds a 40-byte BITMAPINFOHEADER, the colour table (bits <= 8) and the pixel rows,
/// stored bottom-up with 24-bit pixels as blue, green, red.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace imaging {

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
  DWORD biSize = 40;
  LONG biWidth = 0;
  LONG biHeight = 0;
  WORD biPlanes = 1;
  WORD biBitCount = 0;
  DWORD biCompression = 0;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};

/// Colour table entry: blue, green, red, reserved.
struct RGBQUAD {
  BYTE rgbBlue = 0;
  BYTE rgbGreen = 0;
  BYTE rgbRed = 0;
  BYTE rgbReserved = 0;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);

/// Largest picture any decoder accepts, in pixels (width x height). Anything bigger is
/// refused from its header, before a single row or canvas is allocated.
inline constexpr std::int64_t kMaxImagePixels = 16 * 1024 * 1024;

/// Resolution written into every bitmap the front creates (96 dpi).
inline constexpr LONG kDefaultPelsPerMeter = 3780;

/// Bytes per row, padded to 32 bits.
inline constexpr std::int64_t DibStride(std::int64_t width, int bits) {
  return ((width * bits + 31) / 32) * 4;
}

/// True when a picture of this size may be decoded (positive and within the budget).
inline constexpr bool WithinPixelBudget(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= 0xFFFFF && height <= 0xFFFFF &&
         width * height <= kMaxImagePixels;
}

class PackedDib {
 public:
  /// A zeroed bitmap of width x height at bits per pixel (1, 4, 8, 16, 24 or 32); null when
  /// the size is outside the pixel budget or memory runs out. Colour count is 2^bits for
  /// bits <= 8.
  static std::unique_ptr<PackedDib> Create(int width, int height, int bits);

  BITMAPINFOHEADER& header() { return *reinterpret_cast<BITMAPINFOHEADER*>(block_.get()); }
  const BITMAPINFOHEADER& header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(block_.get()); }
  int width() const { return header().biWidth; }
  int height() const { return header().biHeight; }
  int bits() const { return header().biBitCount; }
  int colorCount() const { return colorCount_; }
  std::int64_t stride() const { return DibStride(width(), bits()); }

  RGBQUAD* palette() { return reinterpret_cast<RGBQUAD*>(block_.get() + sizeof(BITMAPINFOHEADER)); }
  const RGBQUAD* palette() const {
    return reinterpret_cast<const RGBQUAD*>(block_.get() + sizeof(BITMAPINFOHEADER));
  }
  std::uint8_t* bits_data() { return block_.get() + pixelOffset_; }
  const std::uint8_t* bits_data() const { return block_.get() + pixelOffset_; }
  /// Row y counted from the top of the picture (rows are stored bottom-up).
  std::uint8_t* TopRow(int y) { return bits_data() + stride() * (height() - 1 - y); }
  const std::uint8_t* TopRow(int y) const { return bits_data() + stride() * (height() - 1 - y); }

  /// The whole block: header, table, rows.
  const std::uint8_t* data() const { return block_.get(); }
  std::size_t size() const { return size_; }

  /// Sets every byte of the pixel rows to value (0xFF gives white in a 24-bit bitmap).
  void Fill(std::uint8_t value);

 private:
  PackedDib() = default;
  std::unique_ptr<std::uint8_t[]> block_;
  std::size_t size_ = 0;
  std::size_t pixelOffset_ = 0;
  int colorCount_ = 0;
};

/// Width and height; the input of a fit (largest size allowed) and its output.
struct Box {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

}  // namespace imaging
