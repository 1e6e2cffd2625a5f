#pragma once
/// Windows bitmap reader (uncompressed 1/4/8/16/24/32 bits, bit fields, RLE8, RLE4, OS/2
/// core headers, top-down files) and writer (uncompressed, 40-byte header).

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/packed_dib.h"
#include "mms/byte_stream.h"

namespace imaging {

enum BmpResult : int {
  kBmpOk = 0,
  kBmpZeroSize = 390,
  kBmpUnsupportedDepth = 391,  // writing
  kBmpWriteError = 392,
  kBmpRle4Error = 393,
  kBmpRle8Error = 394,
  kBmpNoMasks = 395,
  kBmpShortRead = 396,
  kBmpNotBmp = 397,  // "BM" missing or a header size other than 12 or 40
  kBmpNoMemory = 398,
  kBmpBadArgument = 399,
};

class BmpReader {
 public:
  static int Open(mms::ByteStream* stream, std::unique_ptr<BmpReader>* out);
  ~BmpReader();

  /// The info header as read (height made positive, OS/2 headers widened to 40 bytes).
  const BITMAPINFOHEADER& header() const { return info_; }
  bool topDown() const { return topDown_; }
  /// Copies up to *count entries (blue, green, red, 0); *count receives the number copied.
  /// With no buffer, *count receives the table size.
  int Palette(RGBQUAD* entries, int* count) const;
  /// The bit-field masks (red, green, blue); kBmpNoMasks when the file has none.
  int Masks(std::uint32_t masks[3]) const;
  /// Rows are delivered narrowed to width pixels (nearest neighbour) from now on.
  int SetOutputWidth(int width);
  int outputWidth() const { return outWidth_; }
  /// Delivers up to count rows, top of the picture first, each DibStride(output width, bits)
  /// bytes, into consecutive rows of buffer.
  int ReadRows(std::uint8_t* buffer, int count, int* firstRow, int* rowsRead);
  /// Passes over up to count rows without reading them (every row is addressable on its own).
  int SkipRows(int count);

 private:
  BmpReader() = default;
  int Fill(std::int64_t offset);
  int ReadAt(std::int64_t offset, void* dst, int n);
  int ReadByte(std::int64_t* pos, std::uint8_t* b);
  int BuildRleOffsets();
  int ExpandRleRow(int fileRow, std::uint8_t* row);

  mms::ByteStream* stream_ = nullptr;
  std::unique_ptr<std::uint8_t[]> window_;
  std::int64_t windowOffset_ = 0;
  int windowFill_ = 0;

  std::uint32_t dataOffset_ = 0;
  BITMAPINFOHEADER info_;
  bool topDown_ = false;
  bool hasMasks_ = false;
  std::uint32_t masks_[3] = {0, 0, 0};
  std::vector<RGBQUAD> palette_;
  // RLE: where the codes of each file row start and the column they start at, in row
  // order. Rows that deltas jump over have no entry and stay blank; the table never holds
  // more entries than the file has code pairs, whatever height the header claims.
  struct RowStart {
    int row;
    int x;
    std::int64_t offset;
  };
  std::vector<RowStart> rowStarts_;
  bool offsetsBuilt_ = false;
  std::vector<int> columnMap_;
  int outWidth_ = 0;
  int rowsDone_ = 0;
  std::vector<std::uint8_t> rowBuffer_;
};

class BmpWriter {
 public:
  /// Bits 1, 4, 8, 16, 24 or 32, else kBmpUnsupportedDepth.
  static int Open(mms::ByteStream* stream, const BITMAPINFOHEADER& header, std::unique_ptr<BmpWriter>* out);
  ~BmpWriter();
  /// Writes the colour table (2^bits entries unless the header states a count). Refused for
  /// bitmaps above 8 bits.
  int Palette(const RGBQUAD* entries);
  /// Writes count rows in file order (bottom row first), each stride bytes apart in rows.
  int WriteRows(int firstRow, int count, const std::uint8_t* rows, std::int64_t stride);
  /// Flushes and rewrites both headers with the final sizes.
  int Close();

 private:
  BmpWriter() = default;
  int WriteHeaders();
  int Put(const void* data, std::int64_t n);
  int FlushBuffer();

  mms::ByteStream* stream_ = nullptr;
  BITMAPINFOHEADER info_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  int bufferFill_ = 0;
  bool headerWritten_ = false;
  std::uint32_t dataOffset_ = 0;
  std::uint32_t colorCount_ = 0;
  std::int64_t pixelBytes_ = 0;
  std::int64_t start_ = 0;
};

/// Writes a whole bitmap as an uncompressed BMP file.
int WriteBmp(mms::ByteStream* stream, const PackedDib& dib);

}  // namespace imaging
