#pragma once
/// WBMP (type 0) reader and writer.

#include <cstdint>
#include <memory>

#include "imaging/packed_dib.h"
#include "mms/byte_stream.h"

namespace imaging {

enum WbmpResult : int {
  kWbmpOk = 0,
  kWbmpBadArgument = 399,
  kWbmpNoMemory = 398,
  kWbmpBadHeader = 397,  // type or fixed header not 0
  kWbmpShortRead = 396,
  kWbmpZeroSize = 393,
};

class WbmpReader {
 public:
  static int Open(mms::ByteStream* stream, std::unique_ptr<WbmpReader>* out);
  /// 1 bit per pixel, 2 colours, 300 pixels per metre.
  const BITMAPINFOHEADER& header() const { return header_; }
  /// Entry 0 black, entry 1 white.
  void Palette(RGBQUAD out[2]) const;
  /// Reads up to count rows of (width + 7) / 8 bytes, top first, into consecutive rows of
  /// stride DibStride(width, 1).
  int ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead);

 private:
  mms::ByteStream* stream_ = nullptr;
  BITMAPINFOHEADER header_;
  int rowsDone_ = 0;
};

class WbmpWriter {
 public:
  /// The bitmap must have 1 bit per pixel.
  static int Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header, std::unique_ptr<WbmpWriter>* out);
  /// Writes count rows, top first; each source row packed most significant bit first.
  int WriteRows(const std::uint8_t* const* rows, int count);
  int Close();

 private:
  mms::ByteStream* stream_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int rowsDone_ = 0;
};

/// Reduces a 24-bit bitmap to 1 bit and writes it as WBMP.
int WriteWbmp(mms::ByteStream* stream, const PackedDib& dib24);

}  // namespace imaging
